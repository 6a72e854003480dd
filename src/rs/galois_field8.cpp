#include "rs/galois_field8.h"

#include <array>
#include <cstring>

#include "rs/log_tables.h"

namespace vantrove {
namespace {

struct Gf8Tables : LogTables<uint8_t, kGf8Order, kGf8Polynomial> {
    std::array<std::array<uint8_t, 256>, 256> product{};
    // checksum[k - 1][b] = b · 0x1D^k for k = 1 … 4
    std::array<std::array<uint8_t, 256>, 4> checksum{};
};

constexpr uint8_t MultiplyWith(const Gf8Tables& t, uint32_t a, uint32_t b) {
    if (a == 0 || b == 0) return 0;
    uint32_t s = uint32_t{t.log[a]} + t.log[b];
    if (s >= kGf8Order) s -= kGf8Order;
    return t.antilog[s];
}

constexpr Gf8Tables BuildGf8Tables() {
    Gf8Tables t;
    for (uint32_t a = 0; a < 256; ++a)
        for (uint32_t b = 0; b < 256; ++b) t.product[a][b] = MultiplyWith(t, a, b);
    uint32_t power = 1;
    for (uint32_t k = 0; k < 4; ++k) {
        power = MultiplyWith(t, power, 0x1D);
        for (uint32_t b = 0; b < 256; ++b) t.checksum[k][b] = MultiplyWith(t, b, power);
    }
    return t;
}

constinit const Gf8Tables kTables = BuildGf8Tables();

}  // namespace

uint8_t Gf8Log(uint8_t value) {
    return kTables.log[value];
}
uint8_t Gf8Antilog(uint8_t exponent) {
    return kTables.antilog[exponent];
}

uint8_t Gf8Multiply(uint8_t a, uint8_t b) {
    return kTables.product[a][b];
}

uint8_t Gf8Divide(uint8_t a, uint8_t b) {
    if (a == 0 || b == 0) return 0;
    int32_t d = int32_t{kTables.log[a]} - kTables.log[b];
    if (d < 0) d += kGf8Order;
    return kTables.antilog[d];
}

uint8_t Gf8Power(uint8_t base, uint16_t exponent) {
    if (base == 0) return 0;
    uint32_t x = uint32_t{exponent} * kTables.log[base];
    // Fold modulo 255 twice: x < 2^24 here.
    x = (x & 0xFF) + ((x >> 8) & 0xFF) + (x >> 16);
    x = (x & 0xFF) + (x >> 8);
    if (x >= kGf8Order) x -= kGf8Order;
    return kTables.antilog[x];
}

uint8_t Gf8Inverse(uint8_t a) {
    return Gf8Divide(1, a);
}

const uint8_t* Gf8ProductRow(uint8_t factor) {
    return kTables.product[factor].data();
}

uint8_t BlockChecksum8(const uint8_t* data, size_t length, uint8_t state) {
    const auto& t = kTables.checksum;
    uint32_t h = state;
    size_t i = 0;
    for (; i + 4 <= length; i += 4) {
        uint32_t w;
        std::memcpy(&w, data + i, 4);
        w ^= h;
        h = t[3][w & 0xFF] ^ t[2][(w >> 8) & 0xFF] ^ t[1][(w >> 16) & 0xFF] ^ t[0][w >> 24];
    }
    for (; i < length; ++i) h = t[0][(h ^ data[i]) & 0xFF];
    return static_cast<uint8_t>(h);
}

}  // namespace vantrove
