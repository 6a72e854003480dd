#include "rs/block_signature.h"

#include <array>
#include <cstring>

#include "rs/galois_field.h"
#include "rs/multiply_accumulate.h"
#include "rs/multiply_accumulate_x86.h"

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

// 2^(-16·e): the weight of a word e words before the end.
uint16_t WordWeight(uint32_t e) {
    const uint32_t shift = (16 * (e % kGf16Order)) % kGf16Order;
    return Gf16Antilog(static_cast<uint16_t>((kGf16Order - shift) % kGf16Order));
}

// With the affine instructions the signature runs as eight vector chains of
// 32 words each: a chain steps over 256 words at a time, so its factor is
// the weight of 256 words, and at the end word l of chain k still lacks the
// weight of the 256 - 32k - l words that followed it in its round.
struct VectorSignature {
    bool usable = false;
    uint64_t matrices[4] = {};
    uint16_t finish[8][32] = {};
};

const VectorSignature& Vector() {
    static const VectorSignature v = [] {
        VectorSignature s;
        s.usable = !ReferenceKernelsForced() && kernels::HasGfni512();
        kernels::FactorMatrices16(WordWeight(256), s.matrices);
        for (uint32_t k = 0; k < 8; ++k)
            for (uint32_t l = 0; l < 32; ++l) s.finish[k][l] = WordWeight(256 - 32 * k - l);
        return s;
    }();
    return v;
}

constexpr size_t kVectorSignatureMinBytes = 4096;

uint16_t SignatureChains(const uint8_t* data, size_t length) {
    const VectorSignature& v = Vector();
    alignas(64) uint8_t chains[512];
    kernels::SignatureChainsGfni512(data, length, v.matrices, chains);
    uint16_t sum = 0;
    for (uint32_t k = 0; k < 8; ++k) {
        for (uint32_t l = 0; l < 32; ++l) {
            const auto w =
                static_cast<uint16_t>(chains[64 * k + 2 * l] | (chains[64 * k + 2 * l + 1] << 8));
            sum ^= Gf16Multiply(w, v.finish[k][l]);
        }
    }
    return sum;
}

}  // namespace

uint16_t BlockSignature(const uint8_t* data, size_t length, uint16_t state) {
    if (length >= kVectorSignatureMinBytes && Vector().usable) {
        const size_t whole = length & ~size_t{511};
        const size_t rest = length - whole;
        return static_cast<uint16_t>(BlockSignatureAppendZeros(state, length) ^
                                     BlockSignatureAppendZeros(SignatureChains(data, whole), rest) ^
                                     SignatureSerial(data + whole, rest, 0));
    }
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
