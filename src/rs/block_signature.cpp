#include "rs/block_signature.h"

#include <array>
#include <cstring>

#include "rs/galois_field.h"

namespace vantrove {
namespace {

// t[0] = T (one byte, v · 2^-8); t[k] = v · 2^-(8k+8) for k = 1 … 3, each
// derived from the previous one as one further zero byte through T.
struct SignatureTables {
    std::array<std::array<uint16_t, 256>, 4> t{};
};

// v · 2^-1: with the low bit set, add the polynomial first so the shift is exact.
constexpr uint32_t HalveInField(uint32_t v) { return ((v & 1) ? (v ^ kGf16Polynomial) : v) >> 1; }

constexpr SignatureTables BuildSignatureTables() {
    SignatureTables s;
    for (uint32_t v = 0; v < 256; ++v) {
        uint32_t x = v;
        for (int bit = 0; bit < 8; ++bit) x = HalveInField(x);
        s.t[0][v] = static_cast<uint16_t>(x);
    }
    for (int k = 1; k < 4; ++k) {
        for (uint32_t v = 0; v < 256; ++v) {
            uint16_t prev = s.t[k - 1][v];
            s.t[k][v] = static_cast<uint16_t>((prev >> 8) ^ s.t[0][prev & 0xFF]);
        }
    }
    return s;
}

constinit const SignatureTables kSignature = BuildSignatureTables();

}  // namespace

uint16_t BlockSignature(const uint8_t* data, size_t length, uint16_t state) {
    const auto& t = kSignature.t;
    uint32_t h = state;
    size_t i = 0;
    for (; i + 4 <= length; i += 4) {
        uint32_t w;
        std::memcpy(&w, data + i, 4);
        w ^= h;
        h = t[3][w & 0xFF] ^ t[2][(w >> 8) & 0xFF] ^ t[1][(w >> 16) & 0xFF] ^ t[0][w >> 24];
    }
    for (; i < length; ++i) h = (h >> 8) ^ t[0][(h ^ data[i]) & 0xFF];
    return static_cast<uint16_t>(h);
}

uint16_t BlockSignatureAppendZeros(uint16_t state, uint64_t zeroBytes) {
    const auto shift = static_cast<uint32_t>((zeroBytes % kGf16Order) * 8 % kGf16Order);
    return Gf16Multiply(state, Gf16Antilog(static_cast<uint16_t>((kGf16Order - shift) % kGf16Order)));
}

uint16_t BlockSignatureBytewise(const uint8_t* data, size_t length, uint16_t state) {
    const auto& t0 = kSignature.t[0];
    uint32_t h = state;
    for (size_t i = 0; i < length; ++i) h = (h >> 8) ^ t0[(h ^ data[i]) & 0xFF];
    return static_cast<uint16_t>(h);
}

}  // namespace vantrove
