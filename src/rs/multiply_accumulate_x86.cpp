// Vector multiply-accumulate kernels for x86. Each group of functions is
// compiled for its instruction set through a target pragma (GCC's, or clang's
// attribute pragma), so the rest of the program needs no special compiler
// flags; the dispatcher calls a group only after the CPU has reported the
// features it needs.
//
// GF(2^16) data are little-endian 16-bit elements. The shuffle kernels split
// a run of elements into a vector of low bytes and a vector of high bytes,
// look up the products of each of the four nibbles (low and high result byte
// separately) and interleave the two result vectors again. The affine kernel
// does the same split with a byte permutation and multiplies each byte plane
// by the 8x8 bit matrices of the factor.
//
// Only intrinsics and plain code live inside the target regions: an inline
// library template instantiated there could be merged with the baseline copy
// and run on a CPU without the features. The GF(2^16) shuffle kernel is
// written once (shuffle_kernels.inc) and included in each region in an
// unnamed namespace of its own, over that region's vector type, so each copy
// stays local.

#include "rs/multiply_accumulate_x86.h"

#include <immintrin.h>

#include "core/machine.h"

// GCC 12 reports the deliberately undefined pass-through operand inside some
// AVX-512 intrinsics as maybe-uninitialized.
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// A target region: the functions between VANTROVE_TARGET_BEGIN("features")
// and VANTROVE_TARGET_END() are compiled for those features.
#define VANTROVE_PRAGMA(text) _Pragma(#text)
#if defined(__clang__)
#define VANTROVE_TARGET_BEGIN(features) \
    VANTROVE_PRAGMA(clang attribute push(__attribute__((target(features))), apply_to = function))
#define VANTROVE_TARGET_END() VANTROVE_PRAGMA(clang attribute pop)
#else
#define VANTROVE_TARGET_BEGIN(features) \
    VANTROVE_PRAGMA(GCC push_options) VANTROVE_PRAGMA(GCC target(features))
#define VANTROVE_TARGET_END() VANTROVE_PRAGMA(GCC pop_options)
#endif

namespace vantrove::kernels {

using vantrove::ProcessorFeature;
using vantrove::ProcessorHas;

bool HasSsse3() {
    return ProcessorHas(ProcessorFeature::Ssse3);
}
bool HasAvx2() {
    return ProcessorHas(ProcessorFeature::Avx2);
}
bool HasAvx512bw() {
    return ProcessorHas(ProcessorFeature::Avx512f) && ProcessorHas(ProcessorFeature::Avx512bw);
}
bool HasGfni512() {
#if defined(__clang__)
    // Built by clang 14 the affine kernels give wrong products (found by the
    // kernel tests); such a build keeps to the AVX-512BW kernels.
    return false;
#else
    return HasAvx512bw() && ProcessorHas(ProcessorFeature::Avx512vbmi) &&
           ProcessorHas(ProcessorFeature::Gfni);
#endif
}

// ---------------------------------------------------------------- SSSE3
VANTROVE_TARGET_BEGIN("ssse3")

namespace {
namespace ssse3 {
struct Vec {
    using V = __m128i;
    static constexpr size_t kBytes = 16;
    static V Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const V*>(p)); }
    static void Store(uint8_t* p, V v) { _mm_storeu_si128(reinterpret_cast<V*>(p), v); }
    static V Table(const uint8_t* p) { return _mm_load_si128(reinterpret_cast<const V*>(p)); }
    static V Words(short w) { return _mm_set1_epi16(w); }
    static V Bytes(char b) { return _mm_set1_epi8(b); }
    static V And(V a, V b) { return _mm_and_si128(a, b); }
    static V Xor(V a, V b) { return _mm_xor_si128(a, b); }
    static V Xor3(V a, V b, V c) { return _mm_xor_si128(a, _mm_xor_si128(b, c)); }
    template <int N>
    static V ShiftWords(V a) { return _mm_srli_epi16(a, N); }
    static V Shuffle(V table, V index) { return _mm_shuffle_epi8(table, index); }
    static V PackWords(V a, V b) { return _mm_packus_epi16(a, b); }
    static V InterleaveLow(V a, V b) { return _mm_unpacklo_epi8(a, b); }
    static V InterleaveHigh(V a, V b) { return _mm_unpackhi_epi8(a, b); }
};
#include "rs/shuffle_kernels.inc"
}  // namespace ssse3
}  // namespace

void ApplySsse3(const FactorTable& table, const uint8_t* in, uint8_t* out, size_t length) {
    ssse3::Apply16(table, in, out, length);
}

void ApplySsse3x8(const Factor8Table& table, const uint8_t* in, uint8_t* out, size_t length) {
    if (table.factor == 0) return;
    const __m128i tl = _mm_load_si128(reinterpret_cast<const __m128i*>(table.bytes));
    const __m128i th = _mm_load_si128(reinterpret_cast<const __m128i*>(table.bytes + 16));
    const __m128i nibble = _mm_set1_epi8(0x0F);
    size_t i = 0;
    for (; i + 16 <= length; i += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        const __m128i p =
            _mm_xor_si128(_mm_shuffle_epi8(tl, _mm_and_si128(x, nibble)),
                          _mm_shuffle_epi8(th, _mm_and_si128(_mm_srli_epi16(x, 4), nibble)));
        auto* o = reinterpret_cast<__m128i*>(out + i);
        _mm_storeu_si128(o, _mm_xor_si128(_mm_loadu_si128(o), p));
    }
    Tail8(table.factor, in + i, out + i, length - i);
}

VANTROVE_TARGET_END()

// ---------------------------------------------------------------- AVX2
VANTROVE_TARGET_BEGIN("avx2")

namespace {
namespace avx2 {
struct Vec {
    using V = __m256i;
    static constexpr size_t kBytes = 32;
    static V Load(const uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const V*>(p)); }
    static void Store(uint8_t* p, V v) { _mm256_storeu_si256(reinterpret_cast<V*>(p), v); }
    static V Table(const uint8_t* p) {
        return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(p)));
    }
    static V Words(short w) { return _mm256_set1_epi16(w); }
    static V Bytes(char b) { return _mm256_set1_epi8(b); }
    static V And(V a, V b) { return _mm256_and_si256(a, b); }
    static V Xor(V a, V b) { return _mm256_xor_si256(a, b); }
    static V Xor3(V a, V b, V c) { return _mm256_xor_si256(a, _mm256_xor_si256(b, c)); }
    template <int N>
    static V ShiftWords(V a) { return _mm256_srli_epi16(a, N); }
    static V Shuffle(V table, V index) { return _mm256_shuffle_epi8(table, index); }
    static V PackWords(V a, V b) { return _mm256_packus_epi16(a, b); }
    static V InterleaveLow(V a, V b) { return _mm256_unpacklo_epi8(a, b); }
    static V InterleaveHigh(V a, V b) { return _mm256_unpackhi_epi8(a, b); }
};
#include "rs/shuffle_kernels.inc"
}  // namespace avx2
}  // namespace

void ApplyAvx2(const FactorTable& table, const uint8_t* in, uint8_t* out, size_t length) {
    avx2::Apply16(table, in, out, length);
}

void ApplyAvx2x8(const Factor8Table& table, const uint8_t* in, uint8_t* out, size_t length) {
    if (table.factor == 0) return;
    const __m256i tl =
        _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(table.bytes)));
    const __m256i th = _mm256_broadcastsi128_si256(
        _mm_load_si128(reinterpret_cast<const __m128i*>(table.bytes + 16)));
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    size_t i = 0;
    for (; i + 32 <= length; i += 32) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
        const __m256i p = _mm256_xor_si256(
            _mm256_shuffle_epi8(tl, _mm256_and_si256(x, nibble)),
            _mm256_shuffle_epi8(th, _mm256_and_si256(_mm256_srli_epi16(x, 4), nibble)));
        auto* o = reinterpret_cast<__m256i*>(out + i);
        _mm256_storeu_si256(o, _mm256_xor_si256(_mm256_loadu_si256(o), p));
    }
    Tail8(table.factor, in + i, out + i, length - i);
}

// ---- The AVX2 kernel of the degree-two form ("avx2-tower")
//
// Working layout: each 128-byte block (64 elements) holds the coordinates
// a0 of its elements (see TowerTables) in its first 64 bytes and their
// coordinates a1 in the last 64, in the order the lane-wise pack leaves
// them (the same for every buffer, and undone exactly by the lane-wise
// interleave). A product then takes three multiplications in the
// 256-element subfield, six nibble look-ups instead of the eight of the
// plain form, and the look-ups are what bounds these loops. In this layout
// they apply directly, with no split and interleave per product, and the
// nibbles of an input are taken once for every output it goes to. The
// changes of layout are products by fixed linear maps on byte planes
// ("Plain" below), paid once per input and output of a chunk.

namespace {
namespace planes {

// Data of one 128-byte block: low bytes of the two halves, then high bytes.
struct Block {
    __m256i lo0, lo1, hi0, hi1;
};

inline Block LoadBlock(const uint8_t* p) {
    return {_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)),
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32)),
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 64)),
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 96))};
}

inline void StoreBlock(uint8_t* p, const Block& b) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), b.lo0);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p + 32), b.lo1);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p + 64), b.hi0);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p + 96), b.hi1);
}

// The planes of the 64 elements at p (plain layout).
inline Block Pack(const uint8_t* p) {
    const Block x = LoadBlock(p);  // four runs of 16 elements, not planes yet
    const __m256i lowMask = _mm256_set1_epi16(0x00FF);
    return {_mm256_packus_epi16(_mm256_and_si256(x.lo0, lowMask), _mm256_and_si256(x.lo1, lowMask)),
            _mm256_packus_epi16(_mm256_and_si256(x.hi0, lowMask), _mm256_and_si256(x.hi1, lowMask)),
            _mm256_packus_epi16(_mm256_srli_epi16(x.lo0, 8), _mm256_srli_epi16(x.lo1, 8)),
            _mm256_packus_epi16(_mm256_srli_epi16(x.hi0, 8), _mm256_srli_epi16(x.hi1, 8))};
}

// Planes back to the plain layout at p.
inline void Unpack(uint8_t* p, const Block& x) {
    StoreBlock(p, {_mm256_unpacklo_epi8(x.lo0, x.hi0), _mm256_unpackhi_epi8(x.lo0, x.hi0),
                   _mm256_unpacklo_epi8(x.lo1, x.hi1), _mm256_unpackhi_epi8(x.lo1, x.hi1)});
}

inline __m256i Table(const uint8_t* t) {
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t)));
}

inline __m256i Look(const uint8_t* t, __m256i index) {
    return _mm256_shuffle_epi8(Table(t), index);
}

inline __m256i LowNibbles(__m256i x) {
    return _mm256_and_si256(x, _mm256_set1_epi8(0x0F));
}

inline __m256i HighNibbles(__m256i x) {
    return _mm256_and_si256(_mm256_srli_epi16(x, 4), _mm256_set1_epi8(0x0F));
}

// Products by a 16-bit linear map given by nibble tables (PrepareNibbles16:
// per nibble 16 low then 16 high result bytes), on low and high planes.
struct Plain {
    struct Nibbles {
        __m256i n0, n1, n2, n3;
    };
    static Nibbles Split(__m256i lo, __m256i hi) {
        return {LowNibbles(lo), HighNibbles(lo), LowNibbles(hi), HighNibbles(hi)};
    }
    // lo ⊕= low bytes and hi ⊕= high bytes of the images of the 32
    // elements whose nibbles are x.
    static void Accumulate(const uint8_t* t, const Nibbles& x, __m256i& lo, __m256i& hi) {
        lo = _mm256_xor_si256(lo, _mm256_xor_si256(Look(t, x.n0), Look(t + 32, x.n1)));
        hi = _mm256_xor_si256(hi, _mm256_xor_si256(Look(t + 16, x.n0), Look(t + 48, x.n1)));
        lo = _mm256_xor_si256(lo, _mm256_xor_si256(Look(t + 64, x.n2), Look(t + 96, x.n3)));
        hi = _mm256_xor_si256(hi, _mm256_xor_si256(Look(t + 80, x.n2), Look(t + 112, x.n3)));
    }
};

// Products in coordinates, by the three subfield tables of
// PrepareTowerNibbles16: lo ⊕= f0·a0 ⊕ λf1·a1, hi ⊕= f0·a0 ⊕ (f0 + f1)(a0 + a1).
struct Tower {
    struct Nibbles {
        __m256i a0l, a0h, a1l, a1h, sl, sh;
    };
    // The nibbles of a0 + a1 are the sums of those of a0 and a1.
    static Nibbles Split(__m256i a0, __m256i a1) {
        const __m256i a0l = LowNibbles(a0), a0h = HighNibbles(a0);
        const __m256i a1l = LowNibbles(a1), a1h = HighNibbles(a1);
        return {a0l, a0h, a1l, a1h, _mm256_xor_si256(a0l, a1l), _mm256_xor_si256(a0h, a1h)};
    }
    static void Accumulate(const uint8_t* t, const Nibbles& x, __m256i& lo, __m256i& hi) {
        const __m256i p = _mm256_xor_si256(Look(t, x.a0l), Look(t + 16, x.a0h));
        lo = _mm256_xor_si256(
            lo, _mm256_xor_si256(p, _mm256_xor_si256(Look(t + 32, x.a1l), Look(t + 48, x.a1h))));
        hi = _mm256_xor_si256(
            hi, _mm256_xor_si256(p, _mm256_xor_si256(Look(t + 64, x.sl), Look(t + 80, x.sh))));
    }
};

// Blocks [0, whole) of `Outputs` outputs: each gets Σ_b table(j, b) · input_b.
// A block is taken in its two halves of 32 elements (low bytes at 32 · h,
// high bytes at 64 + 32 · h); per half the outputs stay in registers while
// every input is added in, and each input's nibbles are taken once for all
// the outputs. Halves rather than whole blocks keep everything in the
// sixteen vector registers.
template <typename Form, int Outputs, typename TableAt>
inline void Blocks(TableAt tableAt, const uint8_t* const* inputs, size_t count,
                   uint8_t* const* outputs, size_t whole) {
    for (size_t i = 0; i < whole; i += 32) {
        // i runs over the low-byte parts: 0, 32, then 128, 160, ...
        if ((i & 64) != 0) continue;
        __m256i lo[Outputs], hi[Outputs];
        for (int j = 0; j < Outputs; ++j) {
            lo[j] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(outputs[j] + i));
            hi[j] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(outputs[j] + i + 64));
        }
        for (size_t b = 0; b < count; ++b) {
            const uint8_t* x = inputs[b] + i;
            const typename Form::Nibbles n =
                Form::Split(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(x)),
                            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x + 64)));
            for (int j = 0; j < Outputs; ++j) Form::Accumulate(tableAt(j, b), n, lo[j], hi[j]);
        }
        for (int j = 0; j < Outputs; ++j) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(outputs[j] + i), lo[j]);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(outputs[j] + i + 64), hi[j]);
        }
    }
}

// All outputs, three at a time: three share each input's loads and nibbles;
// more would not leave the outputs' sums in registers.
template <typename Form, typename TableAt>
inline void Outputs(TableAt tableAt, const uint8_t* const* inputs, size_t count,
                    uint8_t* const* outputs, size_t outputCount, size_t whole) {
    for (size_t j = 0; j < outputCount; j += 3) {
        auto at = [&tableAt, j](int k, size_t b) { return tableAt(j + k, b); };
        if (outputCount - j >= 3)
            Blocks<Form, 3>(at, inputs, count, outputs + j, whole);
        else if (outputCount - j == 2)
            Blocks<Form, 2>(at, inputs, count, outputs + j, whole);
        else
            Blocks<Form, 1>(at, inputs, count, outputs + j, whole);
    }
}

// The change of basis of one block between planes and coordinates.
inline Block Transform(const uint8_t* t, const Block& x) {
    Block y{_mm256_setzero_si256(), _mm256_setzero_si256(), _mm256_setzero_si256(),
            _mm256_setzero_si256()};
    Plain::Accumulate(t, Plain::Split(x.lo0, x.hi0), y.lo0, y.hi0);
    Plain::Accumulate(t, Plain::Split(x.lo1, x.hi1), y.lo1, y.hi1);
    return y;
}

}  // namespace planes
}  // namespace

void CopyToTowerAvx2(const uint8_t* from, uint8_t* to, size_t length) {
    const uint8_t* t = Tower().toTowerNibbles;
    const size_t whole = length & ~size_t{127};
    for (size_t at = 0; at < whole; at += 128)
        planes::StoreBlock(to + at, planes::Transform(t, planes::Pack(from + at)));
    if (from != to) __builtin_memcpy(to + whole, from + whole, length - whole);
}

void ToTowerAvx2(uint8_t* data, size_t length) { CopyToTowerAvx2(data, data, length); }

void FromTowerAvx2(uint8_t* data, size_t length) {
    const uint8_t* t = Tower().fromTowerNibbles;
    for (uint8_t* const end = data + (length & ~size_t{127}); data != end; data += 128)
        planes::Unpack(data, planes::Transform(t, planes::LoadBlock(data)));
}

namespace {

// The rest after the whole blocks of the degree-two kernel, shorter than a
// block and in the plain layout: copied into zero-filled blocks, converted,
// multiplied as whole blocks and converted back. The zero bytes past the
// end add nothing, and only bytes below the end are copied back.
template <typename TableAt>
void TowerRest(TableAt tableAt, const uint8_t* const* inputs, size_t count, uint8_t* const* outputs,
               size_t outputCount, size_t whole, size_t length) {
    const size_t rest = length - whole;
    if (rest == 0) return;
    constexpr size_t kGroup = 32;
    alignas(32) uint8_t in[kGroup][128];
    alignas(32) uint8_t out[128];
    const uint8_t* data[kGroup];
    uint8_t* const o = out;
    for (size_t first = 0; first < count; first += kGroup) {
        const size_t n = count - first < kGroup ? count - first : kGroup;
        for (size_t b = 0; b < n; ++b) {
            __builtin_memset(in[b], 0, 128);
            __builtin_memcpy(in[b], inputs[first + b] + whole, rest);
            ToTowerAvx2(in[b], 128);
            data[b] = in[b];
        }
        for (size_t j = 0; j < outputCount; ++j) {
            __builtin_memset(out, 0, 128);
            __builtin_memcpy(out, outputs[j] + whole, rest);
            ToTowerAvx2(out, 128);
            planes::Blocks<planes::Tower, 1>(
                [&tableAt, j, first](int, size_t b) { return tableAt(j, first + b); }, data, n, &o,
                128);
            FromTowerAvx2(out, 128);
            __builtin_memcpy(outputs[j] + whole, out, rest);
        }
    }
}

}  // namespace

void ApplyTowerPlainAvx2(const FactorTable& table, const uint8_t* in, uint8_t* out, size_t length) {
    avx2::Apply16(reinterpret_cast<const uint8_t*>(table.words) + kTowerPlainOffset, table.factor,
                  in, out, length);
}

void ApplyManyTowerAvx2(const FactorTable* const* tables, const uint8_t* const* inputs,
                        size_t count, uint8_t* out, size_t length) {
    const size_t whole = length & ~size_t{127};
    auto tableAt = [tables](size_t, size_t b) {
        return reinterpret_cast<const uint8_t*>(tables[b]->words);
    };
    planes::Outputs<planes::Tower>(tableAt, inputs, count, &out, 1, whole);
    TowerRest(tableAt, inputs, count, &out, 1, whole, length);
}

void ApplyManyPackedTowerAvx2(const uint64_t* const* packed, const uint8_t* const* inputs,
                              size_t count, uint8_t* const* outputs, size_t outputCount,
                              size_t length) {
    const size_t whole = length & ~size_t{127};
    auto tableAt = [packed](size_t j, size_t b) {
        return reinterpret_cast<const uint8_t*>(packed[j] + b * kTowerNibblesPackedWords);
    };
    planes::Outputs<planes::Tower>(tableAt, inputs, count, outputs, outputCount, whole);
    TowerRest(tableAt, inputs, count, outputs, outputCount, whole, length);
}

VANTROVE_TARGET_END()

// ---------------------------------------------------------------- AVX-512BW
VANTROVE_TARGET_BEGIN("avx512f,avx512bw")

namespace {
namespace avx512bw {
struct Vec {
    using V = __m512i;
    static constexpr size_t kBytes = 64;
    static V Load(const uint8_t* p) { return _mm512_loadu_si512(p); }
    static void Store(uint8_t* p, V v) { _mm512_storeu_si512(p, v); }
    static V Table(const uint8_t* p) {
        return _mm512_broadcast_i32x4(_mm_load_si128(reinterpret_cast<const __m128i*>(p)));
    }
    static V Words(short w) { return _mm512_set1_epi16(w); }
    static V Bytes(char b) { return _mm512_set1_epi8(b); }
    static V And(V a, V b) { return _mm512_and_si512(a, b); }
    static V Xor(V a, V b) { return _mm512_xor_si512(a, b); }
    static V Xor3(V a, V b, V c) { return _mm512_ternarylogic_epi64(a, b, c, 0x96); }
    template <int N>
    static V ShiftWords(V a) { return _mm512_srli_epi16(a, N); }
    static V Shuffle(V table, V index) { return _mm512_shuffle_epi8(table, index); }
    static V PackWords(V a, V b) { return _mm512_packus_epi16(a, b); }
    static V InterleaveLow(V a, V b) { return _mm512_unpacklo_epi8(a, b); }
    static V InterleaveHigh(V a, V b) { return _mm512_unpackhi_epi8(a, b); }
};
#include "rs/shuffle_kernels.inc"
}  // namespace avx512bw
}  // namespace

void ApplyAvx512bw(const FactorTable& table, const uint8_t* in, uint8_t* out, size_t length) {
    avx512bw::Apply16(table, in, out, length);
}

void ApplyAvx512bwx8(const Factor8Table& table, const uint8_t* in, uint8_t* out, size_t length) {
    if (table.factor == 0) return;
    const __m512i tl =
        _mm512_broadcast_i32x4(_mm_load_si128(reinterpret_cast<const __m128i*>(table.bytes)));
    const __m512i th =
        _mm512_broadcast_i32x4(_mm_load_si128(reinterpret_cast<const __m128i*>(table.bytes + 16)));
    const __m512i nibble = _mm512_set1_epi8(0x0F);
    size_t i = 0;
    for (; i + 64 <= length; i += 64) {
        const __m512i x = _mm512_loadu_si512(in + i);
        const __m512i p = _mm512_ternarylogic_epi64(
            _mm512_loadu_si512(out + i), _mm512_shuffle_epi8(tl, _mm512_and_si512(x, nibble)),
            _mm512_shuffle_epi8(th, _mm512_and_si512(_mm512_srli_epi16(x, 4), nibble)), 0x96);
        _mm512_storeu_si512(out + i, p);
    }
    Tail8(table.factor, in + i, out + i, length - i);
}

VANTROVE_TARGET_END()

// ---------------------------------------------------------------- GFNI (AVX-512)
namespace {

struct GfniIndex {
    alignas(64) uint8_t planes[64];
    alignas(64) uint8_t swapped[64];
    alignas(64) uint8_t interleave[64];
    // Two-vector permutations between a 128-byte block and its planes.
    alignas(64) uint8_t lowPlane[64];
    alignas(64) uint8_t highPlane[64];
    alignas(64) uint8_t firstHalf[64];
    alignas(64) uint8_t secondHalf[64];
};

constexpr GfniIndex MakeGfniIndex() {
    GfniIndex x{};
    for (int j = 0; j < 32; ++j) {
        x.planes[j] = static_cast<uint8_t>(2 * j);
        x.planes[32 + j] = static_cast<uint8_t>(2 * j + 1);
        x.swapped[j] = static_cast<uint8_t>(2 * j + 1);
        x.swapped[32 + j] = static_cast<uint8_t>(2 * j);
        x.interleave[2 * j] = static_cast<uint8_t>(j);
        x.interleave[2 * j + 1] = static_cast<uint8_t>(32 + j);
        x.firstHalf[2 * j] = static_cast<uint8_t>(j);
        x.firstHalf[2 * j + 1] = static_cast<uint8_t>(64 + j);
        x.secondHalf[2 * j] = static_cast<uint8_t>(32 + j);
        x.secondHalf[2 * j + 1] = static_cast<uint8_t>(96 + j);
    }
    for (int i = 0; i < 64; ++i) {
        x.lowPlane[i] = static_cast<uint8_t>(2 * i);
        x.highPlane[i] = static_cast<uint8_t>(2 * i + 1);
    }
    return x;
}

constexpr GfniIndex kGfniIndex = MakeGfniIndex();

}  // namespace

VANTROVE_TARGET_BEGIN("avx512f,avx512bw,avx512vbmi,gfni")

namespace {

// ApplyGfni512 on the four plain matrices at `m`.
void ApplyGfni512Matrices(const long long* m, uint16_t factor, const uint8_t* in, uint8_t* out,
                          size_t length);

}  // namespace

void ApplyGfni512(const FactorTable& table, const uint8_t* in, uint8_t* out, size_t length) {
    if (table.factor == 0) return;
    ApplyGfni512Matrices(reinterpret_cast<const long long*>(table.words), table.factor, in, out,
                         length);
}

namespace {

void ApplyGfni512Matrices(const long long* m, uint16_t factor, const uint8_t* in, uint8_t* out,
                          size_t length) {
    // One 64-byte vector holds 32 elements. `planes` gathers their low bytes
    // into the lower half and their high bytes into the upper half; `swapped`
    // the other way round. The first product multiplies the planes by
    // (low←low | high←high), the second the swapped planes by
    // (low←high | high←low); their sum is the product in planes, which
    // `interleave` puts back in element order.
    const __m512i planes = _mm512_load_si512(kGfniIndex.planes);
    const __m512i swapped = _mm512_load_si512(kGfniIndex.swapped);
    const __m512i interleave = _mm512_load_si512(kGfniIndex.interleave);
    const __m512i direct = _mm512_set_epi64(m[3], m[3], m[3], m[3], m[0], m[0], m[0], m[0]);
    const __m512i crossed = _mm512_set_epi64(m[2], m[2], m[2], m[2], m[1], m[1], m[1], m[1]);
    // Pointers rather than an index: an indexed memory operand of the
    // permutation would be split into extra micro-operations.
    const uint8_t* const end = in + (length & ~size_t{63});
    for (; in != end; in += 64, out += 64) {
        __m512i x = _mm512_loadu_si512(in);
        // Keep one load in a register instead of folding it into both
        // permutations, which measurably slows the loop down.
        __asm__("" : "+v"(x));
        const __m512i p = _mm512_xor_si512(
            _mm512_gf2p8affine_epi64_epi8(_mm512_permutexvar_epi8(planes, x), direct, 0),
            _mm512_gf2p8affine_epi64_epi8(_mm512_permutexvar_epi8(swapped, x), crossed, 0));
        _mm512_storeu_si512(
            out, _mm512_xor_si512(_mm512_loadu_si512(out), _mm512_permutexvar_epi8(interleave, p)));
    }
    // The rest, under a byte mask: bytes past it read as zero and are never
    // written, so a last odd byte is an element whose high byte is zero and
    // only the low byte of its product is added, as element by element.
    const size_t rest = length & 63;
    if (rest != 0) {
        const __mmask64 mask = (__mmask64{1} << rest) - 1;
        const __m512i x = _mm512_maskz_loadu_epi8(mask, in);
        const __m512i p = _mm512_xor_si512(
            _mm512_gf2p8affine_epi64_epi8(_mm512_permutexvar_epi8(planes, x), direct, 0),
            _mm512_gf2p8affine_epi64_epi8(_mm512_permutexvar_epi8(swapped, x), crossed, 0));
        _mm512_mask_storeu_epi8(out, mask,
                                _mm512_xor_si512(_mm512_maskz_loadu_epi8(mask, out),
                                                 _mm512_permutexvar_epi8(interleave, p)));
    }
}


// The last bytes of a block, shorter than one 128-byte block of the working
// layout, stay in the plain layout. Many inputs and outputs share them: each
// input's bytes are loaded and split into planes once, each output gathers
// its sum in planes and is read and written once, instead of one call per
// input and output. Bytes past `length` (at most 64) read as zero and are
// never written, so a last odd byte counts as an element with a zero high
// byte of which only the low byte of the product is added.
constexpr size_t kTailGroup = 32;

__mmask64 TailMask(size_t length) {
    return length >= 64 ? ~__mmask64{0} : (__mmask64{1} << length) - 1;
}

void TailPlanes(const uint8_t* const* inputs, size_t count, size_t offset, size_t length,
                __m512i* p, __m512i* q) {
    const __m512i planes = _mm512_load_si512(kGfniIndex.planes);
    const __m512i swapped = _mm512_load_si512(kGfniIndex.swapped);
    const __mmask64 mask = TailMask(length);
    for (size_t b = 0; b < count; ++b) {
        const __m512i x = _mm512_maskz_loadu_epi8(mask, inputs[b] + offset);
        p[b] = _mm512_permutexvar_epi8(planes, x);
        q[b] = _mm512_permutexvar_epi8(swapped, x);
    }
}

// out[0, length) ⊕= Σ_b factor_b · input_b for the inputs whose planes are
// p[b], q[b]; matrices[b] holds the factor's four plain-layout matrices, or
// is null for a zero factor.
void TailAccumulate(const __m512i* p, const __m512i* q, const long long* const* matrices,
                    size_t count, uint8_t* out, size_t length) {
    __m512i acc = _mm512_setzero_si512();
    bool any = false;
    for (size_t b = 0; b < count; ++b) {
        const long long* m = matrices[b];
        if (m == nullptr) continue;
        any = true;
        const __m512i direct = _mm512_set_epi64(m[3], m[3], m[3], m[3], m[0], m[0], m[0], m[0]);
        const __m512i crossed = _mm512_set_epi64(m[2], m[2], m[2], m[2], m[1], m[1], m[1], m[1]);
        acc = _mm512_xor_si512(acc, _mm512_xor_si512(_mm512_gf2p8affine_epi64_epi8(p[b], direct, 0),
                                                     _mm512_gf2p8affine_epi64_epi8(q[b], crossed, 0)));
    }
    if (!any) return;
    const __m512i interleave = _mm512_load_si512(kGfniIndex.interleave);
    const __mmask64 mask = TailMask(length);
    _mm512_mask_storeu_epi8(out, mask,
                            _mm512_xor_si512(_mm512_maskz_loadu_epi8(mask, out),
                                             _mm512_permutexvar_epi8(interleave, acc)));
}

}  // namespace

void CopyToPlanesGfni512(const uint8_t* from, uint8_t* to, size_t length) {
    const __m512i low = _mm512_load_si512(kGfniIndex.lowPlane);
    const __m512i high = _mm512_load_si512(kGfniIndex.highPlane);
    const size_t whole = length & ~size_t{127};
    for (size_t at = 0; at < whole; at += 128) {
        const __m512i a = _mm512_loadu_si512(from + at);
        const __m512i b = _mm512_loadu_si512(from + at + 64);
        _mm512_storeu_si512(to + at, _mm512_permutex2var_epi8(a, low, b));
        _mm512_storeu_si512(to + at + 64, _mm512_permutex2var_epi8(a, high, b));
    }
    if (from != to) __builtin_memcpy(to + whole, from + whole, length - whole);
}

void ToPlanesGfni512(uint8_t* data, size_t length) { CopyToPlanesGfni512(data, data, length); }

void FromPlanesGfni512(uint8_t* data, size_t length) {
    const __m512i first = _mm512_load_si512(kGfniIndex.firstHalf);
    const __m512i second = _mm512_load_si512(kGfniIndex.secondHalf);
    for (uint8_t* const end = data + (length & ~size_t{127}); data != end; data += 128) {
        const __m512i lo = _mm512_loadu_si512(data);
        const __m512i hi = _mm512_loadu_si512(data + 64);
        _mm512_storeu_si512(data, _mm512_permutex2var_epi8(lo, first, hi));
        _mm512_storeu_si512(data + 64, _mm512_permutex2var_epi8(lo, second, hi));
    }
}

// In planes the four 8x8 blocks of a factor apply directly: low plane of the
// result = low←low · low plane ⊕ low←high · high plane, and so on. The
// output block stays in registers while every input is added to it.
void ApplyManyPlanesGfni512(const FactorTable* const* tables, const uint8_t* const* inputs,
                            size_t count, uint8_t* out, size_t length) {
    const size_t whole = length & ~size_t{127};
    // Inputs in groups: their matrices side by side and their data pointers,
    // leaving out zero factors, so the inner loop only loads and computes.
    constexpr size_t kGroup = 16;
    alignas(64) long long matrices[4 * kGroup];
    const uint8_t* data[kGroup];
    for (size_t first = 0; first < count; first += kGroup) {
        size_t n = 0;
        for (size_t b = first; b < count && b < first + kGroup; ++b) {
            if (tables[b]->factor == 0) continue;
            __builtin_memcpy(&matrices[4 * n], tables[b]->words, 4 * sizeof(long long));
            data[n++] = inputs[b];
        }
        if (n == 0) continue;
        // Two blocks at a time give the processor independent work while
        // each affine product is in flight.
        size_t i = 0;
        for (; i + 256 <= whole; i += 256) {
            __m512i lo = _mm512_loadu_si512(out + i);
            __m512i hi = _mm512_loadu_si512(out + i + 64);
            __m512i lo2 = _mm512_loadu_si512(out + i + 128);
            __m512i hi2 = _mm512_loadu_si512(out + i + 192);
            const long long* m = matrices;
            for (size_t b = 0; b < n; ++b, m += 4) {
                const __m512i m0 = _mm512_set1_epi64(m[0]), m1 = _mm512_set1_epi64(m[1]);
                const __m512i m2 = _mm512_set1_epi64(m[2]), m3 = _mm512_set1_epi64(m[3]);
                const __m512i inLo = _mm512_loadu_si512(data[b] + i);
                const __m512i inHi = _mm512_loadu_si512(data[b] + i + 64);
                const __m512i inLo2 = _mm512_loadu_si512(data[b] + i + 128);
                const __m512i inHi2 = _mm512_loadu_si512(data[b] + i + 192);
                lo = _mm512_ternarylogic_epi64(lo, _mm512_gf2p8affine_epi64_epi8(inLo, m0, 0),
                                               _mm512_gf2p8affine_epi64_epi8(inHi, m1, 0), 0x96);
                hi = _mm512_ternarylogic_epi64(hi, _mm512_gf2p8affine_epi64_epi8(inLo, m2, 0),
                                               _mm512_gf2p8affine_epi64_epi8(inHi, m3, 0), 0x96);
                lo2 = _mm512_ternarylogic_epi64(lo2, _mm512_gf2p8affine_epi64_epi8(inLo2, m0, 0),
                                                _mm512_gf2p8affine_epi64_epi8(inHi2, m1, 0), 0x96);
                hi2 = _mm512_ternarylogic_epi64(hi2, _mm512_gf2p8affine_epi64_epi8(inLo2, m2, 0),
                                                _mm512_gf2p8affine_epi64_epi8(inHi2, m3, 0), 0x96);
            }
            _mm512_storeu_si512(out + i, lo);
            _mm512_storeu_si512(out + i + 64, hi);
            _mm512_storeu_si512(out + i + 128, lo2);
            _mm512_storeu_si512(out + i + 192, hi2);
        }
        for (; i < whole; i += 128) {
            __m512i lo = _mm512_loadu_si512(out + i);
            __m512i hi = _mm512_loadu_si512(out + i + 64);
            const long long* m = matrices;
            for (size_t b = 0; b < n; ++b, m += 4) {
                const __m512i inLo = _mm512_loadu_si512(data[b] + i);
                const __m512i inHi = _mm512_loadu_si512(data[b] + i + 64);
                lo = _mm512_ternarylogic_epi64(
                    lo, _mm512_gf2p8affine_epi64_epi8(inLo, _mm512_set1_epi64(m[0]), 0),
                    _mm512_gf2p8affine_epi64_epi8(inHi, _mm512_set1_epi64(m[1]), 0), 0x96);
                hi = _mm512_ternarylogic_epi64(
                    hi, _mm512_gf2p8affine_epi64_epi8(inLo, _mm512_set1_epi64(m[2]), 0),
                    _mm512_gf2p8affine_epi64_epi8(inHi, _mm512_set1_epi64(m[3]), 0), 0x96);
            }
            _mm512_storeu_si512(out + i, lo);
            _mm512_storeu_si512(out + i + 64, hi);
        }
    }
    for (size_t piece = whole; piece < length; piece += 64) {
        const size_t n = length - piece < 64 ? length - piece : 64;
        __m512i p[kTailGroup], q[kTailGroup];
        const long long* m[kTailGroup];
        for (size_t first = 0; first < count; first += kTailGroup) {
            const size_t group = count - first < kTailGroup ? count - first : kTailGroup;
            TailPlanes(inputs + first, group, piece, n, p, q);
            for (size_t b = 0; b < group; ++b) {
                const FactorTable& table = *tables[first + b];
                m[b] = table.factor == 0 ? nullptr
                                         : reinterpret_cast<const long long*>(table.words);
            }
            TailAccumulate(p, q, m, group, out + piece, n);
        }
    }
}

// The same moves as the planes, with the change of basis on top: two
// affine products per plane and coordinate half.
void CopyToTowerGfni512(const uint8_t* from, uint8_t* to, size_t length) {
    const TowerTables& t = Tower();
    const __m512i low = _mm512_load_si512(kGfniIndex.lowPlane);
    const __m512i high = _mm512_load_si512(kGfniIndex.highPlane);
    const __m512i m0 = _mm512_set1_epi64(static_cast<long long>(t.toTower[0]));
    const __m512i m1 = _mm512_set1_epi64(static_cast<long long>(t.toTower[1]));
    const __m512i m2 = _mm512_set1_epi64(static_cast<long long>(t.toTower[2]));
    const __m512i m3 = _mm512_set1_epi64(static_cast<long long>(t.toTower[3]));
    const size_t whole = length & ~size_t{127};
    for (size_t at = 0; at < whole; at += 128) {
        const __m512i a = _mm512_loadu_si512(from + at);
        const __m512i b = _mm512_loadu_si512(from + at + 64);
        const __m512i lo = _mm512_permutex2var_epi8(a, low, b);
        const __m512i hi = _mm512_permutex2var_epi8(a, high, b);
        _mm512_storeu_si512(to + at, _mm512_xor_si512(_mm512_gf2p8affine_epi64_epi8(lo, m0, 0),
                                                      _mm512_gf2p8affine_epi64_epi8(hi, m1, 0)));
        _mm512_storeu_si512(to + at + 64,
                            _mm512_xor_si512(_mm512_gf2p8affine_epi64_epi8(lo, m2, 0),
                                             _mm512_gf2p8affine_epi64_epi8(hi, m3, 0)));
    }
    if (from != to) __builtin_memcpy(to + whole, from + whole, length - whole);
}

void ToTowerGfni512(uint8_t* data, size_t length) { CopyToTowerGfni512(data, data, length); }

void FromTowerGfni512(uint8_t* data, size_t length) {
    const TowerTables& t = Tower();
    const __m512i first = _mm512_load_si512(kGfniIndex.firstHalf);
    const __m512i second = _mm512_load_si512(kGfniIndex.secondHalf);
    const __m512i m0 = _mm512_set1_epi64(static_cast<long long>(t.fromTower[0]));
    const __m512i m1 = _mm512_set1_epi64(static_cast<long long>(t.fromTower[1]));
    const __m512i m2 = _mm512_set1_epi64(static_cast<long long>(t.fromTower[2]));
    const __m512i m3 = _mm512_set1_epi64(static_cast<long long>(t.fromTower[3]));
    for (uint8_t* const end = data + (length & ~size_t{127}); data != end; data += 128) {
        const __m512i a0 = _mm512_loadu_si512(data);
        const __m512i a1 = _mm512_loadu_si512(data + 64);
        const __m512i lo = _mm512_xor_si512(_mm512_gf2p8affine_epi64_epi8(a0, m0, 0),
                                            _mm512_gf2p8affine_epi64_epi8(a1, m1, 0));
        const __m512i hi = _mm512_xor_si512(_mm512_gf2p8affine_epi64_epi8(a0, m2, 0),
                                            _mm512_gf2p8affine_epi64_epi8(a1, m3, 0));
        _mm512_storeu_si512(data, _mm512_permutex2var_epi8(lo, first, hi));
        _mm512_storeu_si512(data + 64, _mm512_permutex2var_epi8(lo, second, hi));
    }
}

namespace {

// `Blocks` consecutive 128-byte blocks of one output, every input of the
// group added in: per block and input three affine products (f0·a0, λf1·a1
// and (f0 + f1)(a0 + a1)). The affine unit is the bottleneck, so the rest
// is kept small: the three kinds of product are summed apart, two inputs
// per three-way sum, and combined into the output once at the end
// (low ⊕= Σ f0·a0 ⊕ Σ λf1·a1, high ⊕= Σ f0·a0 ⊕ Σ (f0 + f1)(a0 + a1)).
template <int Blocks, size_t Stride>
inline void TowerBlocks(const long long* matrices, const uint8_t* const* data, size_t n,
                        size_t offset, uint8_t* out) {
    __m512i q0[Blocks], q1[Blocks], q2[Blocks];
    for (int k = 0; k < Blocks; ++k) {
        q0[k] = _mm512_setzero_si512();
        q1[k] = _mm512_loadu_si512(out + offset + 128 * k);
        q2[k] = _mm512_loadu_si512(out + offset + 128 * k + 64);
    }
    const long long* m = matrices;
    size_t b = 0;
    for (; b + 2 <= n; b += 2, m += 2 * Stride) {
        const __m512i m0 = _mm512_set1_epi64(m[0]), n0 = _mm512_set1_epi64(m[Stride]);
        const __m512i m1 = _mm512_set1_epi64(m[1]), n1 = _mm512_set1_epi64(m[Stride + 1]);
        const __m512i m2 = _mm512_set1_epi64(m[2]), n2 = _mm512_set1_epi64(m[Stride + 2]);
        const uint8_t* x = data[b] + offset;
        const uint8_t* y = data[b + 1] + offset;
        for (int k = 0; k < Blocks; ++k) {
            const __m512i x0 = _mm512_loadu_si512(x + 128 * k);
            const __m512i x1 = _mm512_loadu_si512(x + 128 * k + 64);
            const __m512i y0 = _mm512_loadu_si512(y + 128 * k);
            const __m512i y1 = _mm512_loadu_si512(y + 128 * k + 64);
            q0[k] = _mm512_ternarylogic_epi64(q0[k], _mm512_gf2p8affine_epi64_epi8(x0, m0, 0),
                                              _mm512_gf2p8affine_epi64_epi8(y0, n0, 0), 0x96);
            q1[k] = _mm512_ternarylogic_epi64(q1[k], _mm512_gf2p8affine_epi64_epi8(x1, m1, 0),
                                              _mm512_gf2p8affine_epi64_epi8(y1, n1, 0), 0x96);
            q2[k] = _mm512_ternarylogic_epi64(
                q2[k], _mm512_gf2p8affine_epi64_epi8(_mm512_xor_si512(x0, x1), m2, 0),
                _mm512_gf2p8affine_epi64_epi8(_mm512_xor_si512(y0, y1), n2, 0), 0x96);
        }
    }
    if (b < n) {
        const __m512i m0 = _mm512_set1_epi64(m[0]);
        const __m512i m1 = _mm512_set1_epi64(m[1]);
        const __m512i m2 = _mm512_set1_epi64(m[2]);
        const uint8_t* x = data[b] + offset;
        for (int k = 0; k < Blocks; ++k) {
            const __m512i x0 = _mm512_loadu_si512(x + 128 * k);
            const __m512i x1 = _mm512_loadu_si512(x + 128 * k + 64);
            q0[k] = _mm512_xor_si512(q0[k], _mm512_gf2p8affine_epi64_epi8(x0, m0, 0));
            q1[k] = _mm512_xor_si512(q1[k], _mm512_gf2p8affine_epi64_epi8(x1, m1, 0));
            q2[k] = _mm512_xor_si512(
                q2[k], _mm512_gf2p8affine_epi64_epi8(_mm512_xor_si512(x0, x1), m2, 0));
        }
    }
    for (int k = 0; k < Blocks; ++k) {
        _mm512_storeu_si512(out + offset + 128 * k, _mm512_xor_si512(q1[k], q0[k]));
        _mm512_storeu_si512(out + offset + 128 * k + 64, _mm512_xor_si512(q2[k], q0[k]));
    }
}

}  // namespace

void ApplyManyTowerGfni512(const FactorTable* const* tables, const uint8_t* const* inputs,
                           size_t count, uint8_t* out, size_t length) {
    const size_t whole = length & ~size_t{127};
    // Inputs in groups, zero factors left out: the three matrices of each
    // (padded to four) side by side, and the data pointers.
    constexpr size_t kGroup = 32;
    alignas(64) long long matrices[4 * kGroup];
    const uint8_t* data[kGroup];
    for (size_t first = 0; first < count; first += kGroup) {
        size_t n = 0;
        for (size_t b = first; b < count && b < first + kGroup; ++b) {
            if (tables[b]->factor == 0) continue;
            __builtin_memcpy(&matrices[4 * n], tables[b]->words + 8, 3 * sizeof(long long));
            data[n++] = inputs[b];
        }
        if (n == 0) continue;
        size_t i = 0;
        for (; i + 384 <= whole; i += 384) TowerBlocks<3, 4>(matrices, data, n, i, out);
        for (; i < whole; i += 128) TowerBlocks<1, 4>(matrices, data, n, i, out);
    }
    for (size_t piece = whole; piece < length; piece += 64) {
        const size_t n = length - piece < 64 ? length - piece : 64;
        __m512i p[kTailGroup], q[kTailGroup];
        const long long* m[kTailGroup];
        for (size_t first = 0; first < count; first += kTailGroup) {
            const size_t group = count - first < kTailGroup ? count - first : kTailGroup;
            TailPlanes(inputs + first, group, piece, n, p, q);
            for (size_t b = 0; b < group; ++b) {
                const FactorTable& table = *tables[first + b];
                m[b] = table.factor == 0 ? nullptr
                                         : reinterpret_cast<const long long*>(table.words);
            }
            TailAccumulate(p, q, m, group, out + piece, n);
        }
    }
}

namespace {

// `Outputs` outputs at once over one 128-byte block (two when `Blocks` is
// 2): each input block is loaded, and a0 + a1 formed, once for all of them.
// A zero factor has zero matrices and adds nothing, so every input simply
// takes part; the matrices are read in place (words 4–6 of each table).
template <int Outputs, int Blocks>
inline void TowerOutputs(const uint64_t* const* packed, const uint8_t* const* data, size_t n,
                         size_t offset, uint8_t* const* outputs) {
    constexpr size_t kStride = kTowerPackedWords;
    __m512i lo[Outputs][Blocks], hi[Outputs][Blocks];
    for (int j = 0; j < Outputs; ++j) {
        for (int k = 0; k < Blocks; ++k) {
            lo[j][k] = _mm512_loadu_si512(outputs[j] + offset + 128 * k);
            hi[j][k] = _mm512_loadu_si512(outputs[j] + offset + 128 * k + 64);
        }
    }
    for (size_t b = 0; b < n; ++b) {
        const uint8_t* in = data[b] + offset;
        __m512i a0[Blocks], a1[Blocks], sum[Blocks];
        for (int k = 0; k < Blocks; ++k) {
            a0[k] = _mm512_loadu_si512(in + 128 * k);
            a1[k] = _mm512_loadu_si512(in + 128 * k + 64);
            sum[k] = _mm512_xor_si512(a0[k], a1[k]);
        }
        for (int j = 0; j < Outputs; ++j) {
            const auto* m = reinterpret_cast<const long long*>(packed[j] + b * kStride + 4);
            const __m512i m0 = _mm512_set1_epi64(m[0]);
            const __m512i m1 = _mm512_set1_epi64(m[1]);
            const __m512i m2 = _mm512_set1_epi64(m[2]);
            for (int k = 0; k < Blocks; ++k) {
                const __m512i p0 = _mm512_gf2p8affine_epi64_epi8(a0[k], m0, 0);
                lo[j][k] = _mm512_ternarylogic_epi64(
                    lo[j][k], p0, _mm512_gf2p8affine_epi64_epi8(a1[k], m1, 0), 0x96);
                hi[j][k] = _mm512_ternarylogic_epi64(
                    hi[j][k], p0, _mm512_gf2p8affine_epi64_epi8(sum[k], m2, 0), 0x96);
            }
        }
    }
    for (int j = 0; j < Outputs; ++j) {
        for (int k = 0; k < Blocks; ++k) {
            _mm512_storeu_si512(outputs[j] + offset + 128 * k, lo[j][k]);
            _mm512_storeu_si512(outputs[j] + offset + 128 * k + 64, hi[j][k]);
        }
    }
}

template <int Outputs>
void TowerOutputsOverLength(const uint64_t* const* packed, const uint8_t* const* inputs,
                            size_t count, uint8_t* const* outputs, size_t whole) {
    size_t i = 0;
    for (; i + 256 <= whole; i += 256) TowerOutputs<Outputs, 2>(packed, inputs, count, i, outputs);
    for (; i < whole; i += 128) TowerOutputs<Outputs, 1>(packed, inputs, count, i, outputs);
}

}  // namespace

// Outputs three at a time: three share each input load and each a0 + a1,
// which pays more than longer runs of blocks of one output.
void ApplyManyPackedTowerGfni512(const uint64_t* const* packed, const uint8_t* const* inputs,
                                 size_t count, uint8_t* const* outputs, size_t outputCount,
                                 size_t length) {
    const size_t whole = length & ~size_t{127};
    size_t j = 0;
    for (; j + 3 <= outputCount; j += 3)
        TowerOutputsOverLength<3>(packed + j, inputs, count, outputs + j, whole);
    if (outputCount - j == 2)
        TowerOutputsOverLength<2>(packed + j, inputs, count, outputs + j, whole);
    if (outputCount - j == 1)
        TowerOutputsOverLength<1>(packed + j, inputs, count, outputs + j, whole);
    for (size_t piece = whole; piece < length; piece += 64) {
        const size_t n = length - piece < 64 ? length - piece : 64;
        __m512i p[kTailGroup], q[kTailGroup];
        const long long* m[kTailGroup];
        for (size_t first = 0; first < count; first += kTailGroup) {
            const size_t group = count - first < kTailGroup ? count - first : kTailGroup;
            TailPlanes(inputs + first, group, piece, n, p, q);
            for (j = 0; j < outputCount; ++j) {
                for (size_t b = 0; b < group; ++b) {
                    const uint64_t* table = packed[j] + (first + b) * kTowerPackedWords;
                    m[b] = static_cast<uint16_t>(table[7]) == 0
                               ? nullptr
                               : reinterpret_cast<const long long*>(table);
                }
                TailAccumulate(p, q, m, group, outputs[j] + piece, n);
            }
        }
    }
}

void SignatureChainsGfni512(const uint8_t* data, size_t length, const uint64_t matrices[4],
                            uint8_t chains[512]) {
    const auto* m = reinterpret_cast<const long long*>(matrices);
    const __m512i planes = _mm512_load_si512(kGfniIndex.planes);
    const __m512i swapped = _mm512_load_si512(kGfniIndex.swapped);
    const __m512i interleave = _mm512_load_si512(kGfniIndex.interleave);
    const __m512i direct = _mm512_set_epi64(m[3], m[3], m[3], m[3], m[0], m[0], m[0], m[0]);
    const __m512i crossed = _mm512_set_epi64(m[2], m[2], m[2], m[2], m[1], m[1], m[1], m[1]);
    __m512i acc[8];
    for (int k = 0; k < 8; ++k) acc[k] = _mm512_setzero_si512();
    for (const uint8_t* const end = data + (length & ~size_t{511}); data != end; data += 512) {
        for (int k = 0; k < 8; ++k) {
            const __m512i x = acc[k];
            const __m512i p = _mm512_xor_si512(
                _mm512_gf2p8affine_epi64_epi8(_mm512_permutexvar_epi8(planes, x), direct, 0),
                _mm512_gf2p8affine_epi64_epi8(_mm512_permutexvar_epi8(swapped, x), crossed, 0));
            acc[k] = _mm512_xor_si512(_mm512_permutexvar_epi8(interleave, p),
                                      _mm512_loadu_si512(data + 64 * k));
        }
    }
    for (int k = 0; k < 8; ++k) _mm512_storeu_si512(chains + 64 * k, acc[k]);
}

void ApplyGfni512x8(const Factor8Table& table, const uint8_t* in, uint8_t* out, size_t length) {
    if (table.factor == 0) return;
    long long bits;
    __builtin_memcpy(&bits, table.bytes, sizeof bits);
    const __m512i matrix = _mm512_set1_epi64(bits);
    size_t i = 0;
    for (; i + 64 <= length; i += 64) {
        const __m512i x = _mm512_loadu_si512(in + i);
        _mm512_storeu_si512(out + i, _mm512_xor_si512(_mm512_loadu_si512(out + i),
                                                      _mm512_gf2p8affine_epi64_epi8(x, matrix, 0)));
    }
    Tail8(table.factor, in + i, out + i, length - i);
}

VANTROVE_TARGET_END()

}  // namespace vantrove::kernels
