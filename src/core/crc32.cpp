#include "core/crc32.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "core/crc32_kernels.h"
#include "core/machine.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VANTROVE_CRC32_X86 1
#endif

namespace vantrove {
namespace {

constexpr uint32_t kPolynomial = 0xEDB88320u;  // reflected 0x04C11DB7

// The four tables are computed by the compiler: they exist before any code
// of the program runs, so every static initialiser may already use them.
constexpr Crc32Tables BuildTables() {
    Crc32Tables tables{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit) c = (c >> 1) ^ ((c & 1) ? kPolynomial : 0);
        tables.t[0][i] = c;
    }
    for (int k = 1; k < 4; ++k) {
        for (uint32_t i = 0; i < 256; ++i) {
            const uint32_t prev = tables.t[k - 1][i];
            tables.t[k][i] = (prev >> 8) ^ tables.t[0][prev & 0xFF];
        }
    }
    return tables;
}

constinit const Crc32Tables kTables = BuildTables();

inline uint32_t LoadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The register form (complement of the final form) of the four-table loop.
inline uint32_t RegisterUpdate(uint32_t c, const uint8_t* p, size_t length) {
    const auto& t = kTables.t;
    while (length >= 4) {
        c ^= LoadLe32(p);
        c = t[3][c & 0xFF] ^ t[2][(c >> 8) & 0xFF] ^ t[1][(c >> 16) & 0xFF] ^ t[0][c >> 24];
        p += 4;
        length -= 4;
    }
    while (length-- > 0) c = (c >> 8) ^ t[0][(c ^ *p++) & 0xFF];
    return c;
}

// Polynomials in the reflected 32-bit form (bit 31 - d holds x^d) multiplied
// modulo the CRC polynomial.
uint32_t MultiplyModulo(uint32_t a, uint32_t b) {
    uint32_t product = 0;
    for (uint32_t m = 1u << 31; m != 0; m >>= 1) {
        if (a & m) product ^= b;
        b = (b & 1) ? (b >> 1) ^ kPolynomial : b >> 1;
    }
    return product;
}

// x^(8 * 2^k) modulo the polynomial for k = 0..63, so that the effect of any
// run of zero bytes is a product of at most 64 of them.
struct ZeroPowers {
    uint32_t p[64];
};

constexpr ZeroPowers BuildZeroPowers() {
    ZeroPowers z{};
    uint32_t x8 = 1u << 31;  // x^0
    for (int i = 0; i < 8; ++i) x8 = (x8 & 1) ? (x8 >> 1) ^ kPolynomial : x8 >> 1;
    z.p[0] = x8;
    for (int k = 1; k < 64; ++k) {
        uint32_t a = z.p[k - 1], b = z.p[k - 1], product = 0;
        for (uint32_t m = 1u << 31; m != 0; m >>= 1) {
            if (a & m) product ^= b;
            b = (b & 1) ? (b >> 1) ^ kPolynomial : b >> 1;
        }
        z.p[k] = product;
    }
    return z;
}

constinit const ZeroPowers kZeroPowers = BuildZeroPowers();

#ifdef VANTROVE_CRC32_X86

// Folding. A 16-byte chunk of the message, loaded little-endian into a
// 128-bit register, is a polynomial whose bit i holds x^(127 - i) relative to
// the end of the chunk. Moving a chunk N bits further on means multiplying it
// by x^N; modulo the CRC polynomial that is a 64x32-bit carry-less product
// for each half. Because the product of two such reflected operands comes
// out one degree short, the constants are x^(N + 63) for the low half (the
// higher powers) and x^(N - 1) for the high half, reduced modulo the
// polynomial and placed as reflected 64-bit values.
constexpr uint64_t XPowerReflected64(uint32_t n) {
    uint32_t r = 1;  // normal form: bit d holds x^d
    for (uint32_t i = 0; i < n; ++i) r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
    uint64_t k = 0;
    for (int d = 0; d < 32; ++d) {
        if ((r >> d) & 1) k |= uint64_t{1} << (63 - d);
    }
    return k;
}

struct FoldPair {
    uint64_t low;   // multiplies the low 64 bits of a chunk
    uint64_t high;  // multiplies the high 64 bits
};

constexpr FoldPair FoldConstants(uint32_t distanceBits) {
    return {XPowerReflected64(distanceBits + 63), XPowerReflected64(distanceBits - 1)};
}

constexpr FoldPair kFold128 = FoldConstants(128);
constexpr FoldPair kFold256 = FoldConstants(256);
constexpr FoldPair kFold384 = FoldConstants(384);
constexpr FoldPair kFold512 = FoldConstants(512);
constexpr FoldPair kFold2048 = FoldConstants(2048);

// Turns a folded 128-bit remainder into the register and finishes the
// buffer's last 0-15 bytes with the table loop.
inline uint32_t FinishFolded(const uint8_t remainder[16], const uint8_t* tail, size_t length) {
    uint32_t c = RegisterUpdate(0, remainder, 16);
    return RegisterUpdate(c, tail, length);
}

__attribute__((target("pclmul,sse4.1"))) inline __m128i Fold128(__m128i x, __m128i k) {
    return _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11));
}

__attribute__((target("pclmul,sse4.1"))) inline __m128i Pair128(FoldPair f) {
    return _mm_set_epi64x(static_cast<long long>(f.high), static_cast<long long>(f.low));
}

// Folds the buffer's remaining whole 16-byte blocks into the 128-bit
// remainder `x` and finishes its last 0-15 bytes.
__attribute__((target("pclmul,sse4.1"))) inline uint32_t FinishFrom128(__m128i x, const uint8_t* p,
                                                                       size_t length) {
    const __m128i k128 = Pair128(kFold128);
    while (length >= 16) {
        x = _mm_xor_si128(Fold128(x, k128), _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
        p += 16;
        length -= 16;
    }
    alignas(16) uint8_t remainder[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(remainder), x);
    return FinishFolded(remainder, p, length);
}

__attribute__((target("pclmul,sse4.1"))) uint32_t ClmulRegister(uint32_t c, const uint8_t* p,
                                                                size_t length) {
    // Four independent accumulators, 64 bytes a round.
    const __m128i k512 = Pair128(kFold512);
    const __m128i k128 = Pair128(kFold128);
    __m128i x0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i x1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    __m128i x2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
    __m128i x3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48));
    x0 = _mm_xor_si128(x0, _mm_cvtsi32_si128(static_cast<int>(c)));
    p += 64;
    length -= 64;
    while (length >= 64) {
        x0 = _mm_xor_si128(Fold128(x0, k512), _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
        x1 = _mm_xor_si128(Fold128(x1, k512),
                           _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)));
        x2 = _mm_xor_si128(Fold128(x2, k512),
                           _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32)));
        x3 = _mm_xor_si128(Fold128(x3, k512),
                           _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48)));
        p += 64;
        length -= 64;
    }
    __m128i x = _mm_xor_si128(Fold128(x0, k128), x1);
    x = _mm_xor_si128(Fold128(x, k128), x2);
    x = _mm_xor_si128(Fold128(x, k128), x3);
    return FinishFrom128(x, p, length);
}

#define VANTROVE_AVX512_TARGET "pclmul,sse4.1,avx2,avx512f,avx512bw,avx512vl,avx512dq,vpclmulqdq"

__attribute__((target(VANTROVE_AVX512_TARGET))) inline __m512i Fold512(__m512i x, __m512i k) {
    return _mm512_xor_si512(_mm512_clmulepi64_epi128(x, k, 0x00),
                            _mm512_clmulepi64_epi128(x, k, 0x11));
}

__attribute__((target(VANTROVE_AVX512_TARGET))) inline __m512i Fold512Xor(__m512i x, __m512i k,
                                                                          __m512i data) {
    // Three-way XOR in one instruction (truth table 0x96).
    return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(x, k, 0x00),
                                     _mm512_clmulepi64_epi128(x, k, 0x11), data, 0x96);
}

__attribute__((target(VANTROVE_AVX512_TARGET))) inline __m512i Pair512(FoldPair f) {
    const long long lo = static_cast<long long>(f.low), hi = static_cast<long long>(f.high);
    return _mm512_set_epi64(hi, lo, hi, lo, hi, lo, hi, lo);
}

__attribute__((target(VANTROVE_AVX512_TARGET))) uint32_t VpclmulRegister(uint32_t c,
                                                                         const uint8_t* p,
                                                                         size_t length) {
    // Four 512-bit accumulators, 256 bytes a round; each 128-bit lane is
    // folded 2048 bits on.
    const __m512i k2048 = Pair512(kFold2048);
    const __m512i k512 = Pair512(kFold512);
    __m512i x0 = _mm512_loadu_si512(p);
    __m512i x1 = _mm512_loadu_si512(p + 64);
    __m512i x2 = _mm512_loadu_si512(p + 128);
    __m512i x3 = _mm512_loadu_si512(p + 192);
    x0 = _mm512_xor_si512(x0, _mm512_zextsi128_si512(_mm_cvtsi32_si128(static_cast<int>(c))));
    p += 256;
    length -= 256;
    while (length >= 256) {
        x0 = Fold512Xor(x0, k2048, _mm512_loadu_si512(p));
        x1 = Fold512Xor(x1, k2048, _mm512_loadu_si512(p + 64));
        x2 = Fold512Xor(x2, k2048, _mm512_loadu_si512(p + 128));
        x3 = Fold512Xor(x3, k2048, _mm512_loadu_si512(p + 192));
        p += 256;
        length -= 256;
    }
    __m512i x = Fold512Xor(x0, k512, x1);
    x = Fold512Xor(x, k512, x2);
    x = Fold512Xor(x, k512, x3);
    while (length >= 64) {
        x = Fold512Xor(x, k512, _mm512_loadu_si512(p));
        p += 64;
        length -= 64;
    }
    // Lanes 0, 1 and 2 are followed by 384, 256 and 128 bits of lanes; lane 3
    // is already in place (its constants are zero and it is added back).
    const __m512i kLanes = _mm512_set_epi64(
        0, 0, static_cast<long long>(kFold128.high), static_cast<long long>(kFold128.low),
        static_cast<long long>(kFold256.high), static_cast<long long>(kFold256.low),
        static_cast<long long>(kFold384.high), static_cast<long long>(kFold384.low));
    alignas(64) uint8_t lanes[128];
    _mm512_store_si512(lanes, Fold512(x, kLanes));
    _mm512_store_si512(lanes + 64, x);
    auto lane = [&lanes](int i) {
        return _mm_load_si128(reinterpret_cast<const __m128i*>(lanes + 16 * i));
    };
    __m128i y = _mm_xor_si128(_mm_xor_si128(lane(0), lane(1)), _mm_xor_si128(lane(2), lane(7)));
    return FinishFrom128(y, p, length);
}

#endif  // VANTROVE_CRC32_X86

bool ForceReference() {
    const char* value = std::getenv("VANTROVE_FORCE_REFERENCE");
    return value != nullptr && value[0] != '\0' && std::strcmp(value, "0") != 0;
}

using UpdateKernel = uint32_t (*)(uint32_t, const void*, size_t);
using ZerosKernel = uint32_t (*)(uint32_t, uint64_t);

struct Dispatch {
    UpdateKernel update;
    ZerosKernel zeros;
    const char* name;
};

Dispatch ChooseKernels() {
    if (ForceReference()) return {Crc32Update_ref, Crc32UpdateZeros_ref, "ref"};
    if (Crc32HaveVpclmul()) return {Crc32Update_vpclmul, Crc32UpdateZeros_log, "vpclmul"};
    if (Crc32HaveClmul()) return {Crc32Update_clmul, Crc32UpdateZeros_log, "clmul"};
    return {Crc32Update_ref, Crc32UpdateZeros_log, "ref"};
}

const Dispatch& Kernels() {
    static const Dispatch chosen = ChooseKernels();
    return chosen;
}

}  // namespace

const Crc32Tables& Crc32TablesInstance() {
    return kTables;
}

uint32_t Crc32Update_ref(uint32_t crc, const void* data, size_t length) {
    return ~RegisterUpdate(~crc, static_cast<const uint8_t*>(data), length);
}

uint32_t Crc32UpdateZeros_ref(uint32_t crc, uint64_t count) {
    const auto& t = kTables.t;
    uint32_t c = ~crc;
    for (; count >= 4; count -= 4) {
        c = t[3][c & 0xFF] ^ t[2][(c >> 8) & 0xFF] ^ t[1][(c >> 16) & 0xFF] ^ t[0][c >> 24];
    }
    for (; count > 0; --count) c = (c >> 8) ^ t[0][c & 0xFF];
    return ~c;
}

uint32_t Crc32UpdateZeros_log(uint32_t crc, uint64_t count) {
    if (count < 64) return Crc32UpdateZeros_ref(crc, count);
    uint32_t c = ~crc;
    for (int k = 0; count != 0; ++k, count >>= 1) {
        if (count & 1) c = MultiplyModulo(c, kZeroPowers.p[k]);
    }
    return ~c;
}

#ifdef VANTROVE_CRC32_X86

bool Crc32HaveClmul() {
    return ProcessorHas(ProcessorFeature::Pclmul) && ProcessorHas(ProcessorFeature::Sse41);
}

bool Crc32HaveVpclmul() {
    return ProcessorHas(ProcessorFeature::Vpclmulqdq) && ProcessorHas(ProcessorFeature::Avx512f) &&
           ProcessorHas(ProcessorFeature::Avx512bw) && ProcessorHas(ProcessorFeature::Avx512vl) &&
           ProcessorHas(ProcessorFeature::Avx512dq) && ProcessorHas(ProcessorFeature::Pclmul);
}

uint32_t Crc32Update_clmul(uint32_t crc, const void* data, size_t length) {
    if (length < 64) return Crc32Update_ref(crc, data, length);
    return ~ClmulRegister(~crc, static_cast<const uint8_t*>(data), length);
}

uint32_t Crc32Update_vpclmul(uint32_t crc, const void* data, size_t length) {
    if (length < 256) return Crc32Update_clmul(crc, data, length);
    return ~VpclmulRegister(~crc, static_cast<const uint8_t*>(data), length);
}

#else

bool Crc32HaveClmul() {
    return false;
}
bool Crc32HaveVpclmul() {
    return false;
}
uint32_t Crc32Update_clmul(uint32_t crc, const void* data, size_t length) {
    return Crc32Update_ref(crc, data, length);
}
uint32_t Crc32Update_vpclmul(uint32_t crc, const void* data, size_t length) {
    return Crc32Update_ref(crc, data, length);
}

#endif

const char* Crc32KernelName() {
    return Kernels().name;
}

uint32_t Crc32Update(uint32_t crc, const void* data, size_t length) {
    if (length < 64) return Crc32Update_ref(crc, data, length);
    return Kernels().update(crc, data, length);
}

uint32_t Crc32UpdateZeros(uint32_t crc, uint64_t count) {
    return Kernels().zeros(crc, count);
}

}  // namespace vantrove
