#include "rs/multiply_accumulate.h"

#include <array>
#include <bit>
#include <cstdlib>
#include <cstring>

#include "rs/galois_field.h"
#include "rs/galois_field8.h"
#include "rs/multiply_accumulate_x86.h"

static_assert(std::endian::native == std::endian::little,
              "the kernels read 16-bit field elements as little-endian words");

namespace vantrove {
namespace {

// Reference GF(2^16) kernel: A[i] = f·i, B[i] = f·(i·256), C = A << 16,
// D = B << 16, so one 32-bit input word gives both of its products at once.
void PrepareReference(const ProductTables& p, uint16_t factor, FactorTable& table) {
    table.factor = factor;
    const uint32_t fL = factor & 0xFF, fH = factor >> 8;
    for (uint32_t i = 0; i < 256; ++i) {
        const uint32_t a = p.lowLow[fL][i] ^ p.lowHigh[i][fH];
        const uint32_t b = p.lowHigh[fL][i] ^ p.highHigh[fH][i];
        table.words[i] = a;
        table.words[256 + i] = b;
        table.words[512 + i] = a << 16;
        table.words[768 + i] = b << 16;
    }
}

inline uint32_t ReferenceProduct(const uint32_t* t, uint32_t w) {
    return t[w & 0xFF] ^ t[256 + ((w >> 8) & 0xFF)] ^ t[512 + ((w >> 16) & 0xFF)] ^
           t[768 + (w >> 24)];
}

void ApplyReference(const FactorTable& table, const uint8_t* in, uint8_t* out, size_t length) {
    if (table.factor == 0) return;
    const uint32_t* t = table.words;
    const size_t words = length / 4;
    for (size_t k = 0; k < words; ++k) {
        uint32_t w, o;
        std::memcpy(&w, in + 4 * k, 4);
        std::memcpy(&o, out + 4 * k, 4);
        o ^= ReferenceProduct(t, w);
        std::memcpy(out + 4 * k, &o, 4);
    }
    const size_t rest = length & 3;
    if (rest != 0) {
        // Bytes beyond the end count as zero; only bytes within it change.
        uint32_t w = 0;
        std::memcpy(&w, in + 4 * words, rest);
        const uint32_t p = ReferenceProduct(t, w);
        for (size_t r = 0; r < rest; ++r) out[4 * words + r] ^= static_cast<uint8_t>(p >> (8 * r));
    }
}

void PrepareReference8(uint8_t factor, Factor8Table& table) {
    table.factor = factor;
    std::memcpy(table.bytes, Gf8ProductRow(factor), 256);
}

void ApplyReference8(const Factor8Table& table, const uint8_t* in, uint8_t* out, size_t length) {
    if (table.factor == 0) return;
    for (size_t i = 0; i < length; ++i) out[i] ^= table.bytes[in[i]];
}

// Bit matrix of the GF(2)-linear byte map `image` (given by the images of the
// eight basis bits) in the layout of the affine instruction: output bit i is
// the parity of (row i & x), and row i sits in byte 7 - i.
uint64_t AffineMatrix(const uint8_t image[8]) {
    uint64_t m = 0;
    for (int i = 0; i < 8; ++i) {
        uint64_t row = 0;
        for (int j = 0; j < 8; ++j) row |= uint64_t{(image[j] >> i) & 1u} << j;
        m |= row << (8 * (7 - i));
    }
    return m;
}

// applyMany for kernels without a working layout of their own.
template <void (*Apply)(const FactorTable&, const uint8_t*, uint8_t*, size_t)>
void ApplyManyPlain(const FactorTable* const* tables, const uint8_t* const* inputs, size_t count,
                    uint8_t* output, size_t length) {
    for (size_t b = 0; b < count; ++b) Apply(*tables[b], inputs[b], output, length);
}

constexpr MultiplyAccumulateKernel kReference{
    "ref", PrepareReference, ApplyReference, nullptr, nullptr, ApplyManyPlain<ApplyReference>};
constexpr MultiplyAccumulateKernel kSsse3{
    "ssse3", kernels::PrepareNibbles16,          kernels::ApplySsse3, nullptr,
    nullptr, ApplyManyPlain<kernels::ApplySsse3>};
constexpr MultiplyAccumulateKernel kAvx2{
    "avx2",  kernels::PrepareNibbles16,         kernels::ApplyAvx2, nullptr,
    nullptr, ApplyManyPlain<kernels::ApplyAvx2>};
constexpr MultiplyAccumulateKernel kAvx512bw{"avx512bw",
                                             kernels::PrepareNibbles16,
                                             kernels::ApplyAvx512bw,
                                             nullptr,
                                             nullptr,
                                             ApplyManyPlain<kernels::ApplyAvx512bw>};
constexpr MultiplyAccumulateKernel kGfni{"gfni",
                                         kernels::PrepareMatrices16,
                                         kernels::ApplyGfni512,
                                         kernels::ToPlanesGfni512,
                                         kernels::FromPlanesGfni512,
                                         kernels::ApplyManyPlanesGfni512};

constexpr MultiplyAccumulate8Kernel kReference8{"ref", PrepareReference8, ApplyReference8};
constexpr MultiplyAccumulate8Kernel kSsse3x8{"ssse3", kernels::PrepareNibbles8,
                                             kernels::ApplySsse3x8};
constexpr MultiplyAccumulate8Kernel kAvx2x8{"avx2", kernels::PrepareNibbles8, kernels::ApplyAvx2x8};
constexpr MultiplyAccumulate8Kernel kAvx512bwx8{"avx512bw", kernels::PrepareNibbles8,
                                                kernels::ApplyAvx512bwx8};
constexpr MultiplyAccumulate8Kernel kGfni8{"gfni", kernels::PrepareMatrix8,
                                           kernels::ApplyGfni512x8};

struct KernelLists {
    std::array<const MultiplyAccumulateKernel*, 5> wide{};
    size_t wideCount = 0;
    std::array<const MultiplyAccumulate8Kernel*, 5> narrow{};
    size_t narrowCount = 0;
};

const KernelLists& Lists() {
    static const KernelLists lists = [] {
        KernelLists l;
        auto add = [&l](const MultiplyAccumulateKernel& w, const MultiplyAccumulate8Kernel& n) {
            l.wide[l.wideCount++] = &w;
            l.narrow[l.narrowCount++] = &n;
        };
        add(kReference, kReference8);
        if (kernels::HasSsse3()) add(kSsse3, kSsse3x8);
        if (kernels::HasAvx2()) add(kAvx2, kAvx2x8);
        if (kernels::HasAvx512bw()) add(kAvx512bw, kAvx512bwx8);
        if (kernels::HasGfni512()) add(kGfni, kGfni8);
        return l;
    }();
    return lists;
}

}  // namespace

namespace kernels {

void Tail16(uint16_t factor, const uint8_t* in, uint8_t* out, size_t length) {
    if (factor == 0) return;
    size_t i = 0;
    for (; i + 2 <= length; i += 2) {
        const uint16_t p = Gf16Multiply(factor, static_cast<uint16_t>(in[i] | (in[i + 1] << 8)));
        out[i] ^= static_cast<uint8_t>(p);
        out[i + 1] ^= static_cast<uint8_t>(p >> 8);
    }
    if (i < length) out[i] ^= static_cast<uint8_t>(Gf16Multiply(factor, in[i]));
}

void Tail8(uint8_t factor, const uint8_t* in, uint8_t* out, size_t length) {
    const uint8_t* row = Gf8ProductRow(factor);
    for (size_t i = 0; i < length; ++i) out[i] ^= row[in[i]];
}

void PrepareNibbles16(const ProductTables& p, uint16_t factor, FactorTable& table) {
    table.factor = factor;
    auto* bytes = reinterpret_cast<uint8_t*>(table.words);
    for (uint32_t k = 0; k < 4; ++k) {
        for (uint32_t n = 0; n < 16; ++n) {
            const uint16_t product = p.Multiply(factor, static_cast<uint16_t>(n << (4 * k)));
            bytes[32 * k + n] = static_cast<uint8_t>(product);
            bytes[32 * k + 16 + n] = static_cast<uint8_t>(product >> 8);
        }
    }
}

void PrepareNibbles8(uint8_t factor, Factor8Table& table) {
    table.factor = factor;
    const uint8_t* row = Gf8ProductRow(factor);
    for (uint32_t n = 0; n < 16; ++n) {
        table.bytes[n] = row[n];
        table.bytes[16 + n] = row[n << 4];
    }
}

void FactorMatrices16(uint16_t factor, uint64_t matrices[4]) {
    uint8_t lowFromLow[8], lowFromHigh[8], highFromLow[8], highFromHigh[8];
    for (int j = 0; j < 8; ++j) {
        const uint16_t fromLow = Gf16Multiply(factor, static_cast<uint16_t>(1u << j));
        const uint16_t fromHigh = Gf16Multiply(factor, static_cast<uint16_t>(1u << (j + 8)));
        lowFromLow[j] = static_cast<uint8_t>(fromLow);
        highFromLow[j] = static_cast<uint8_t>(fromLow >> 8);
        lowFromHigh[j] = static_cast<uint8_t>(fromHigh);
        highFromHigh[j] = static_cast<uint8_t>(fromHigh >> 8);
    }
    matrices[0] = AffineMatrix(lowFromLow);
    matrices[1] = AffineMatrix(lowFromHigh);
    matrices[2] = AffineMatrix(highFromLow);
    matrices[3] = AffineMatrix(highFromHigh);
}

void PrepareMatrices16(const ProductTables&, uint16_t factor, FactorTable& table) {
    table.factor = factor;
    uint64_t m[4];
    FactorMatrices16(factor, m);
    std::memcpy(table.words, m, sizeof m);
}

void PrepareMatrix8(uint8_t factor, Factor8Table& table) {
    table.factor = factor;
    uint8_t image[8];
    for (int j = 0; j < 8; ++j) image[j] = Gf8Multiply(factor, static_cast<uint8_t>(1u << j));
    const uint64_t m = AffineMatrix(image);
    std::memcpy(table.bytes, &m, sizeof m);
}

}  // namespace kernels

bool ReferenceKernelsForced() {
    const char* value = std::getenv("VANTROVE_FORCE_REFERENCE");
    return value != nullptr && value[0] != '\0' && std::strcmp(value, "0") != 0;
}

const MultiplyAccumulateKernel& ReferenceMultiplyAccumulate() {
    return kReference;
}

const MultiplyAccumulateKernel& ActiveMultiplyAccumulate() {
    static const MultiplyAccumulateKernel* const active =
        ReferenceKernelsForced() ? &kReference : Lists().wide[Lists().wideCount - 1];
    return *active;
}

std::span<const MultiplyAccumulateKernel* const> AvailableMultiplyAccumulateKernels() {
    return {Lists().wide.data(), Lists().wideCount};
}

const MultiplyAccumulate8Kernel& ReferenceMultiplyAccumulate8() {
    return kReference8;
}

const MultiplyAccumulate8Kernel& ActiveMultiplyAccumulate8() {
    static const MultiplyAccumulate8Kernel* const active =
        ReferenceKernelsForced() ? &kReference8 : Lists().narrow[Lists().narrowCount - 1];
    return *active;
}

std::span<const MultiplyAccumulate8Kernel* const> AvailableMultiplyAccumulate8Kernels() {
    return {Lists().narrow.data(), Lists().narrowCount};
}

}  // namespace vantrove
