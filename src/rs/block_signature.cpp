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
constexpr uint32_t HalveInField(uint32_t v) {
    return ((v & 1) ? (v ^ kGf16Polynomial) : v) >> 1;
}

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

// One chain of four-byte steps.
inline uint32_t SignatureWord(const SignatureTables& s, uint32_t h, const uint8_t* p) {
    uint32_t w;
    std::memcpy(&w, p, 4);
    w ^= h;
    return s.t[3][w & 0xFF] ^ s.t[2][(w >> 8) & 0xFF] ^ s.t[1][(w >> 16) & 0xFF] ^ s.t[0][w >> 24];
}

uint16_t SignatureSerial(const uint8_t* data, size_t length, uint32_t h) {
    size_t i = 0;
    for (; i + 4 <= length; i += 4) h = SignatureWord(kSignature, h, data + i);
    for (; i < length; ++i) h = (h >> 8) ^ kSignature.t[0][(h ^ data[i]) & 0xFF];
    return static_cast<uint16_t>(h);
}

}  // namespace

uint16_t BlockSignature(const uint8_t* data, size_t length, uint16_t state) {
    // Each step depends on the one before, so a long buffer is cut into four
    // quarters whose chains run side by side; the quarters' signatures are
    // then joined as if each were followed by the bytes after it.
    if (length < 1024) return SignatureSerial(data, length, state);
    const size_t q = (length / 4) & ~size_t{3};
    uint32_t h0 = state, h1 = 0, h2 = 0, h3 = 0;
    for (size_t i = 0; i < q; i += 4) {
        h0 = SignatureWord(kSignature, h0, data + i);
        h1 = SignatureWord(kSignature, h1, data + q + i);
        h2 = SignatureWord(kSignature, h2, data + 2 * q + i);
        h3 = SignatureWord(kSignature, h3, data + 3 * q + i);
    }
    const uint16_t last = SignatureSerial(data + 4 * q, length - 4 * q, h3);
    return static_cast<uint16_t>(
        BlockSignatureAppendZeros(static_cast<uint16_t>(h0), length - q) ^
        BlockSignatureAppendZeros(static_cast<uint16_t>(h1), length - 2 * q) ^
        BlockSignatureAppendZeros(static_cast<uint16_t>(h2), length - 3 * q) ^ last);
}

uint16_t BlockSignatureAppendZeros(uint16_t state, uint64_t zeroBytes) {
    const auto shift = static_cast<uint32_t>((zeroBytes % kGf16Order) * 8 % kGf16Order);
    return Gf16Multiply(state,
                        Gf16Antilog(static_cast<uint16_t>((kGf16Order - shift) % kGf16Order)));
}

uint16_t BlockSignatureBytewise(const uint8_t* data, size_t length, uint16_t state) {
    const auto& t0 = kSignature.t[0];
    uint32_t h = state;
    for (size_t i = 0; i < length; ++i) h = (h >> 8) ^ t0[(h ^ data[i]) & 0xFF];
    return static_cast<uint16_t>(h);
}

}  // namespace vantrove
