#include "rs/multiply_accumulate.h"

#include <array>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

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
    "ref", PrepareReference, ApplyReference, nullptr, nullptr, ApplyManyPlain<ApplyReference>,
    0,     nullptr,          nullptr, nullptr};
constexpr MultiplyAccumulateKernel kSsse3{"ssse3",
                                          kernels::PrepareNibbles16,
                                          kernels::ApplySsse3,
                                          nullptr,
                                          nullptr,
                                          ApplyManyPlain<kernels::ApplySsse3>,
                                          0,
                                          nullptr,
                                          nullptr, nullptr};
constexpr MultiplyAccumulateKernel kAvx2{"avx2",
                                         kernels::PrepareNibbles16,
                                         kernels::ApplyAvx2,
                                         nullptr,
                                         nullptr,
                                         ApplyManyPlain<kernels::ApplyAvx2>,
                                         0,
                                         nullptr,
                                         nullptr, nullptr};
constexpr MultiplyAccumulateKernel kAvx2Tower{"avx2-tower",
                                              kernels::PrepareTowerNibbles16,
                                              kernels::ApplyTowerPlainAvx2,
                                              kernels::ToTowerAvx2,
                                              kernels::FromTowerAvx2,
                                              kernels::ApplyManyTowerAvx2,
                                              kernels::kTowerNibblesPackedWords,
                                              kernels::ApplyManyPackedTowerAvx2,
                                              kernels::PreparePackedTowerNibbles16,
                                              kernels::CopyToTowerAvx2};
constexpr MultiplyAccumulateKernel kAvx512bw{"avx512bw",
                                             kernels::PrepareNibbles16,
                                             kernels::ApplyAvx512bw,
                                             nullptr,
                                             nullptr,
                                             ApplyManyPlain<kernels::ApplyAvx512bw>,
                                             0,
                                             nullptr,
                                             nullptr, nullptr};
constexpr MultiplyAccumulateKernel kGfni{"gfni",
                                         kernels::PrepareMatrices16,
                                         kernels::ApplyGfni512,
                                         kernels::ToPlanesGfni512,
                                         kernels::FromPlanesGfni512,
                                         kernels::ApplyManyPlanesGfni512,
                                         0,
                                         nullptr,
                                         nullptr,
                                         kernels::CopyToPlanesGfni512};

constexpr MultiplyAccumulateKernel kGfniTower{"gfni-tower",
                                              kernels::PrepareTower16,
                                              kernels::ApplyGfni512,
                                              kernels::ToTowerGfni512,
                                              kernels::FromTowerGfni512,
                                              kernels::ApplyManyTowerGfni512,
                                              kernels::kTowerPackedWords,
                                              kernels::ApplyManyPackedTowerGfni512,
                                              kernels::PreparePackedTower16,
                                              kernels::CopyToTowerGfni512};

constexpr MultiplyAccumulate8Kernel kReference8{"ref", PrepareReference8, ApplyReference8};
constexpr MultiplyAccumulate8Kernel kSsse3x8{"ssse3", kernels::PrepareNibbles8,
                                             kernels::ApplySsse3x8};
constexpr MultiplyAccumulate8Kernel kAvx2x8{"avx2", kernels::PrepareNibbles8, kernels::ApplyAvx2x8};
constexpr MultiplyAccumulate8Kernel kAvx512bwx8{"avx512bw", kernels::PrepareNibbles8,
                                                kernels::ApplyAvx512bwx8};
constexpr MultiplyAccumulate8Kernel kGfni8{"gfni", kernels::PrepareMatrix8,
                                           kernels::ApplyGfni512x8};

// The kernels of one field that this CPU can run, the fastest last.
template <typename Kernel, size_t Most>
struct KernelList {
    std::array<const Kernel*, Most> kernels{};
    size_t count = 0;

    void Add(const Kernel& kernel) { kernels[count++] = &kernel; }
    std::span<const Kernel* const> All() const { return {kernels.data(), count}; }
    // The fastest, or the first (the reference) when the reference is
    // forced, or the one ForcedKernelName names. In a list that lacks it, a
    // kernel whose name is the forced name's first part ("avx2" for
    // "avx2-tower") stands in for it.
    const Kernel& Active() const {
        if (ReferenceKernelsForced()) return *kernels[0];
        const Kernel* chosen = kernels[count - 1];
        if (const char* forced = ForcedKernelName()) {
            size_t longest = 0;
            for (size_t k = 0; k < count; ++k) {
                const size_t n = std::strlen(kernels[k]->name);
                if (n > longest && std::strncmp(forced, kernels[k]->name, n) == 0 &&
                    (forced[n] == '\0' || forced[n] == '-')) {
                    chosen = kernels[k];
                    longest = n;
                }
            }
        }
        return *chosen;
    }
};

struct KernelLists {
    KernelList<MultiplyAccumulateKernel, 7> wide;
    KernelList<MultiplyAccumulate8Kernel, 5> narrow;
};

const KernelLists& Lists() {
    static const KernelLists lists = [] {
        KernelLists l;
        auto add = [&l](const MultiplyAccumulateKernel& w, const MultiplyAccumulate8Kernel& n) {
            l.wide.Add(w);
            l.narrow.Add(n);
        };
        add(kReference, kReference8);
        if (kernels::HasSsse3()) add(kSsse3, kSsse3x8);
        if (kernels::HasAvx2()) {
            add(kAvx2, kAvx2x8);
            l.wide.Add(kAvx2Tower);
        }
        if (kernels::HasAvx512bw()) add(kAvx512bw, kAvx512bwx8);
        if (kernels::HasGfni512()) {
            add(kGfni, kGfni8);
            l.wide.Add(kGfniTower);
        }
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

namespace {

// PrepareNibbles16's tables of `factor` from the rows of its two bytes (the
// tables are linear in the factor) rather than from 64 products: the data
// pass prepares a table for every pair of input and output, millions of
// them when the blocks are many and small.
void PlainNibbles16(uint16_t factor, uint8_t bytes[128]) {
    const TowerTables& t = Tower();
    const uint8_t* low = t.plainNibblesOfLow[factor & 0xFF];
    const uint8_t* high = t.plainNibblesOfHigh[factor >> 8];
    for (size_t i = 0; i < 128; ++i) bytes[i] = low[i] ^ high[i];
}

}  // namespace

void PrepareNibbles16(const ProductTables&, uint16_t factor, FactorTable& table) {
    table.factor = factor;
    PlainNibbles16(factor, reinterpret_cast<uint8_t*>(table.words));
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

namespace {

// The image of byte x under the bit matrix m (AffineMatrix's layout).
uint8_t AffineImage(uint64_t m, uint8_t x) {
    uint8_t y = 0;
    for (int i = 0; i < 8; ++i) {
        const auto row = static_cast<uint8_t>(m >> (8 * (7 - i)));
        y |= static_cast<uint8_t>((std::popcount(static_cast<uint8_t>(row & x)) & 1) << i);
    }
    return y;
}

// The 16-bit linear map `image` as nibble tables (PrepareNibbles16's layout).
template <typename Map>
void LinearMapNibbles(Map image, uint8_t bytes[128]) {
    for (uint32_t k = 0; k < 4; ++k) {
        for (uint32_t n = 0; n < 16; ++n) {
            const uint16_t v = image(static_cast<uint16_t>(n << (4 * k)));
            bytes[32 * k + n] = static_cast<uint8_t>(v);
            bytes[32 * k + 16 + n] = static_cast<uint8_t>(v >> 8);
        }
    }
}

}  // namespace

const TowerTables& Tower() {
    static const std::unique_ptr<const TowerTables> tower = [] {
        auto t = std::make_unique<TowerTables>();
        // K: zero and the powers of 2 whose exponent is a multiple of 257
        // (65535 = 257 · 255).
        auto inSubfield = [](uint16_t x) { return x == 0 || Gf16Log(x) % 257 == 0; };
        // θ: any element outside K whose θ² + θ lies in K; that sum is λ.
        uint16_t theta = 2;
        while (inSubfield(theta) || !inSubfield(Gf16Multiply(theta, theta) ^ theta)) ++theta;
        const uint16_t lambda = Gf16Multiply(theta, theta) ^ theta;
        // Basis of the field over GF(2): β^i, then β^i·θ.
        const uint16_t beta = Gf16Antilog(257);
        uint16_t basis[16];
        basis[0] = 1;
        for (int i = 1; i < 8; ++i) basis[i] = Gf16Multiply(basis[i - 1], beta);
        for (int i = 0; i < 8; ++i) basis[8 + i] = Gf16Multiply(basis[i], theta);
        // Coordinates of every element, by running over all coordinate
        // vectors once.
        std::vector<uint16_t> coordinates(65536);
        std::vector<uint16_t> element(65536, 0);
        for (uint32_t c = 1; c < 65536; ++c) {
            element[c] = element[c & (c - 1)] ^ basis[std::countr_zero(c)];
            coordinates[element[c]] = static_cast<uint16_t>(c);
        }
        for (uint32_t v = 0; v < 256; ++v) {
            t->coordinatesOfLow[v] = coordinates[v];
            t->coordinatesOfHigh[v] = coordinates[v << 8];
        }
        auto low = [](uint16_t v) { return static_cast<uint8_t>(v); };
        auto high = [](uint16_t v) { return static_cast<uint8_t>(v >> 8); };
        uint8_t image[4][8];
        for (int j = 0; j < 8; ++j) {
            const uint16_t fromLow = coordinates[1u << j], fromHigh = coordinates[1u << (8 + j)];
            image[0][j] = low(fromLow);
            image[1][j] = low(fromHigh);
            image[2][j] = high(fromLow);
            image[3][j] = high(fromHigh);
        }
        for (int k = 0; k < 4; ++k) t->toTower[k] = AffineMatrix(image[k]);
        for (int j = 0; j < 8; ++j) {
            image[0][j] = low(basis[j]);
            image[1][j] = low(basis[8 + j]);
            image[2][j] = high(basis[j]);
            image[3][j] = high(basis[8 + j]);
        }
        for (int k = 0; k < 4; ++k) t->fromTower[k] = AffineMatrix(image[k]);
        // Products of elements of K stay in K: their coordinates are a0 only.
        for (uint32_t k = 0; k < 256; ++k) {
            for (int j = 0; j < 8; ++j) {
                const uint16_t product = Gf16Multiply(element[k], basis[j]);
                image[0][j] = low(coordinates[product]);
                image[1][j] = low(coordinates[Gf16Multiply(lambda, product)]);
            }
            t->times[k] = AffineMatrix(image[0]);
            t->timesLambda[k] = AffineMatrix(image[1]);
            FactorMatrices16(static_cast<uint16_t>(k), t->plainOfLow[k]);
            FactorMatrices16(static_cast<uint16_t>(k << 8), t->plainOfHigh[k]);
        }
        // The same maps as nibble tables for the shuffle kernels.
        LinearMapNibbles(
            [&t](uint16_t v) {
                return static_cast<uint16_t>(t->coordinatesOfLow[v & 0xFF] ^
                                             t->coordinatesOfHigh[v >> 8]);
            },
            t->toTowerNibbles);
        LinearMapNibbles(
            [&t](uint16_t c) {
                const auto a0 = static_cast<uint8_t>(c), a1 = static_cast<uint8_t>(c >> 8);
                const uint8_t low =
                    AffineImage(t->fromTower[0], a0) ^ AffineImage(t->fromTower[1], a1);
                const uint8_t high =
                    AffineImage(t->fromTower[2], a0) ^ AffineImage(t->fromTower[3], a1);
                return static_cast<uint16_t>(low | (high << 8));
            },
            t->fromTowerNibbles);
        for (uint32_t k = 0; k < 256; ++k) {
            for (uint32_t n = 0; n < 16; ++n) {
                const auto low = static_cast<uint8_t>(n), high = static_cast<uint8_t>(n << 4);
                t->timesNibbles[k][n] = AffineImage(t->times[k], low);
                t->timesNibbles[k][16 + n] = AffineImage(t->times[k], high);
                t->timesLambdaNibbles[k][n] = AffineImage(t->timesLambda[k], low);
                t->timesLambdaNibbles[k][16 + n] = AffineImage(t->timesLambda[k], high);
            }
            const auto low = static_cast<uint16_t>(k), high = static_cast<uint16_t>(k << 8);
            LinearMapNibbles([low](uint16_t v) { return Gf16Multiply(low, v); },
                             t->plainNibblesOfLow[k]);
            LinearMapNibbles([high](uint16_t v) { return Gf16Multiply(high, v); },
                             t->plainNibblesOfHigh[k]);
        }
        return t;
    }();
    return *tower;
}

void PreparePackedTower16(uint16_t factor, uint64_t* words) {
    const TowerTables& t = Tower();
    for (int k = 0; k < 4; ++k)
        words[k] = t.plainOfLow[factor & 0xFF][k] ^ t.plainOfHigh[factor >> 8][k];
    const uint16_t c = t.coordinatesOfLow[factor & 0xFF] ^ t.coordinatesOfHigh[factor >> 8];
    const uint32_t f0 = c & 0xFF, f1 = c >> 8;
    words[4] = t.times[f0];
    words[5] = t.timesLambda[f1];
    words[6] = t.times[f0 ^ f1];
    words[7] = factor;
}

void PrepareTower16(const ProductTables&, uint16_t factor, FactorTable& table) {
    table.factor = factor;
    uint64_t m[kTowerPackedWords];
    PreparePackedTower16(factor, m);
    std::memcpy(table.words, m, sizeof m);
}

void PreparePackedTowerNibbles16(uint16_t factor, uint64_t* words) {
    const TowerTables& t = Tower();
    auto* bytes = reinterpret_cast<uint8_t*>(words);
    const uint16_t c = t.coordinatesOfLow[factor & 0xFF] ^ t.coordinatesOfHigh[factor >> 8];
    const uint32_t f0 = c & 0xFF, f1 = c >> 8;
    std::memcpy(bytes, t.timesNibbles[f0], 32);
    std::memcpy(bytes + 32, t.timesLambdaNibbles[f1], 32);
    std::memcpy(bytes + 64, t.timesNibbles[f0 ^ f1], 32);
}

// From precomputed rows only, as PrepareNibbles16.
void PrepareTowerNibbles16(const ProductTables&, uint16_t factor, FactorTable& table) {
    table.factor = factor;
    uint64_t packed[kTowerNibblesPackedWords];
    PreparePackedTowerNibbles16(factor, packed);
    std::memcpy(table.words, packed, sizeof packed);
    PlainNibbles16(factor, reinterpret_cast<uint8_t*>(table.words) + kTowerPlainOffset);
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

const char* ForcedKernelName() {
    const char* value = std::getenv("VANTROVE_KERNEL");
    return value != nullptr && value[0] != '\0' ? value : nullptr;
}

const MultiplyAccumulateKernel& ReferenceMultiplyAccumulate() {
    return kReference;
}

const MultiplyAccumulateKernel& ActiveMultiplyAccumulate() {
    static const MultiplyAccumulateKernel& active = Lists().wide.Active();
    return active;
}

std::span<const MultiplyAccumulateKernel* const> AvailableMultiplyAccumulateKernels() {
    return Lists().wide.All();
}

const MultiplyAccumulate8Kernel& ReferenceMultiplyAccumulate8() {
    return kReference8;
}

const MultiplyAccumulate8Kernel& ActiveMultiplyAccumulate8() {
    static const MultiplyAccumulate8Kernel& active = Lists().narrow.Active();
    return active;
}

std::span<const MultiplyAccumulate8Kernel* const> AvailableMultiplyAccumulate8Kernels() {
    return Lists().narrow.All();
}

}  // namespace vantrove
