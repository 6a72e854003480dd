#include "core/crc32_window.h"

#include "core/crc32.h"

namespace vantrove {
namespace {

// One zero byte through the register.
inline uint32_t Step(const uint32_t* t0, uint32_t x) {
    return (x >> 8) ^ t0[x & 0xFF];
}

}  // namespace

void Crc32Window::Build(uint32_t length) {
    const uint32_t* t0 = Crc32TablesInstance().t[0];
    step0_ = t0;
    length_ = length;

    // Halve the length until a base of 0..4 bytes remains, remembering the
    // lengths on the way: each level goes from s to 2s + 3 or 2s + 4.
    uint32_t lengths[40];
    int levels = 0;
    uint32_t base = length;
    if (length >= 5) {
        uint32_t d = length;
        for (;;) {
            lengths[levels++] = d;
            const uint32_t reduced = (d - 3) >> 1;
            const bool last = d >= 3 && d <= 12;
            d = reduced;
            if (last) break;
        }
        base = d;
    }

    // R[j]: the byte value j advanced through `base` zero bytes; m: the
    // all-ones register advanced likewise.
    uint32_t r[256];
    uint32_t m = 0xFFFFFFFFu;
    for (uint32_t j = 0; j < 256; ++j) {
        uint32_t x = j;
        for (uint32_t i = 0; i < base; ++i) x = Step(t0, x);
        r[j] = x;
    }
    for (uint32_t i = 0; i < base; ++i) m = Step(t0, m);

    // Each level advances every value by s + 3 bytes using the four bytes of
    // the value and the table of the level below (and one more step when the
    // level's length is 2s + 4).
    uint32_t s = base;
    for (int level = levels - 1; level >= 0; --level) {
        const uint32_t t = lengths[level];
        const bool extra = 2 * s + 3 < t;
        auto advance = [&](uint32_t e) {
            uint32_t f = r[e & 0xFF];
            uint32_t g = r[(e >> 8) & 0xFF] ^ Step(t0, f);
            uint32_t h = r[(e >> 16) & 0xFF] ^ Step(t0, g);
            uint32_t v = r[e >> 24] ^ Step(t0, h);
            return extra ? Step(t0, v) : v;
        };
        uint32_t next[256];
        for (uint32_t j = 0; j < 256; ++j) next[j] = advance(r[j]);
        m = advance(m);
        for (uint32_t j = 0; j < 256; ++j) r[j] = next[j];
        s = t;
    }

    for (uint32_t b = 0; b < 256; ++b) outgoing_[b] = Step(t0, r[b]);
    mask_ = ~m;
}

}  // namespace vantrove
