#include "core/md5.h"

#include <atomic>
#include <bit>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "core/machine.h"
#include "core/md5_kernels.h"

namespace vantrove {
namespace {

static_assert(std::endian::native == std::endian::little ||
              std::endian::native == std::endian::big);

inline uint32_t LoadLe32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
    return v;
}

inline void StoreLe32(uint8_t* p, uint32_t v) {
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
    std::memcpy(p, &v, 4);
}

// The four auxiliary functions, written in the forms that put the fewest
// operations on the chain through `b` (the word produced by the previous
// step). In G the two terms have no bit in common, so their sum equals their
// OR and the half that does not involve `b` can be added early.
//
// A step then costs 5, 4, 4 and 5 dependent operations in the four rounds,
// 4.5 cycles a byte, and one stream cannot go faster than that chain. Kept
// in vector registers, each function is one three-input logic operation
// (AVX-512) and the chain 4 operations long, but the vector rotate and add
// are slower to hand on their result: that form measured 6.4 cycles a byte
// on an AMD Zen 4, this one 4.5.
#define VT_MD5_F(b, c, d) ((d) ^ ((b) & ((c) ^ (d))))
#define VT_MD5_H(b, c, d) ((b) ^ ((c) ^ (d)))
#define VT_MD5_I(b, c, d) ((c) ^ ((b) | ~(d)))

#define VT_MD5_STEP(f, a, b, c, d, k, t, s) \
    a += Word(k) + (t);                     \
    a += f(b, c, d);                        \
    a = std::rotl(a, s) + (b);

#define VT_MD5_STEP_G(a, b, c, d, k, t, s) \
    a += Word(k) + (t) + ((c) & ~(d));     \
    a += (b) & (d);                        \
    a = std::rotl(a, s) + (b);

// Runs the compression function over `blocks` consecutive 64-byte blocks.
// With kZeros every message word is the constant 0 and `data` is never read
// (it may be null): that is the path for runs of zero bytes.
template <bool kZeros>
void Compress(uint32_t state[4], const uint8_t* data, size_t blocks) {
    uint32_t a0 = state[0], b0 = state[1], c0 = state[2], d0 = state[3];
    while (blocks-- > 0) {
        uint32_t x[16];
        if constexpr (!kZeros) {
            for (int i = 0; i < 16; ++i) x[i] = LoadLe32(data + 4 * i);
            data += 64;
        }
        auto Word = [&x](int k) -> uint32_t {
            if constexpr (kZeros) {
                (void)x;
                (void)k;
                return 0;
            } else {
                return x[k];
            }
        };
        uint32_t a = a0, b = b0, c = c0, d = d0;

        VT_MD5_STEP(VT_MD5_F, a, b, c, d, 0, 0xd76aa478u, 7)
        VT_MD5_STEP(VT_MD5_F, d, a, b, c, 1, 0xe8c7b756u, 12)
        VT_MD5_STEP(VT_MD5_F, c, d, a, b, 2, 0x242070dbu, 17)
        VT_MD5_STEP(VT_MD5_F, b, c, d, a, 3, 0xc1bdceeeu, 22)
        VT_MD5_STEP(VT_MD5_F, a, b, c, d, 4, 0xf57c0fafu, 7)
        VT_MD5_STEP(VT_MD5_F, d, a, b, c, 5, 0x4787c62au, 12)
        VT_MD5_STEP(VT_MD5_F, c, d, a, b, 6, 0xa8304613u, 17)
        VT_MD5_STEP(VT_MD5_F, b, c, d, a, 7, 0xfd469501u, 22)
        VT_MD5_STEP(VT_MD5_F, a, b, c, d, 8, 0x698098d8u, 7)
        VT_MD5_STEP(VT_MD5_F, d, a, b, c, 9, 0x8b44f7afu, 12)
        VT_MD5_STEP(VT_MD5_F, c, d, a, b, 10, 0xffff5bb1u, 17)
        VT_MD5_STEP(VT_MD5_F, b, c, d, a, 11, 0x895cd7beu, 22)
        VT_MD5_STEP(VT_MD5_F, a, b, c, d, 12, 0x6b901122u, 7)
        VT_MD5_STEP(VT_MD5_F, d, a, b, c, 13, 0xfd987193u, 12)
        VT_MD5_STEP(VT_MD5_F, c, d, a, b, 14, 0xa679438eu, 17)
        VT_MD5_STEP(VT_MD5_F, b, c, d, a, 15, 0x49b40821u, 22)

        VT_MD5_STEP_G(a, b, c, d, 1, 0xf61e2562u, 5)
        VT_MD5_STEP_G(d, a, b, c, 6, 0xc040b340u, 9)
        VT_MD5_STEP_G(c, d, a, b, 11, 0x265e5a51u, 14)
        VT_MD5_STEP_G(b, c, d, a, 0, 0xe9b6c7aau, 20)
        VT_MD5_STEP_G(a, b, c, d, 5, 0xd62f105du, 5)
        VT_MD5_STEP_G(d, a, b, c, 10, 0x02441453u, 9)
        VT_MD5_STEP_G(c, d, a, b, 15, 0xd8a1e681u, 14)
        VT_MD5_STEP_G(b, c, d, a, 4, 0xe7d3fbc8u, 20)
        VT_MD5_STEP_G(a, b, c, d, 9, 0x21e1cde6u, 5)
        VT_MD5_STEP_G(d, a, b, c, 14, 0xc33707d6u, 9)
        VT_MD5_STEP_G(c, d, a, b, 3, 0xf4d50d87u, 14)
        VT_MD5_STEP_G(b, c, d, a, 8, 0x455a14edu, 20)
        VT_MD5_STEP_G(a, b, c, d, 13, 0xa9e3e905u, 5)
        VT_MD5_STEP_G(d, a, b, c, 2, 0xfcefa3f8u, 9)
        VT_MD5_STEP_G(c, d, a, b, 7, 0x676f02d9u, 14)
        VT_MD5_STEP_G(b, c, d, a, 12, 0x8d2a4c8au, 20)

        VT_MD5_STEP(VT_MD5_H, a, b, c, d, 5, 0xfffa3942u, 4)
        VT_MD5_STEP(VT_MD5_H, d, a, b, c, 8, 0x8771f681u, 11)
        VT_MD5_STEP(VT_MD5_H, c, d, a, b, 11, 0x6d9d6122u, 16)
        VT_MD5_STEP(VT_MD5_H, b, c, d, a, 14, 0xfde5380cu, 23)
        VT_MD5_STEP(VT_MD5_H, a, b, c, d, 1, 0xa4beea44u, 4)
        VT_MD5_STEP(VT_MD5_H, d, a, b, c, 4, 0x4bdecfa9u, 11)
        VT_MD5_STEP(VT_MD5_H, c, d, a, b, 7, 0xf6bb4b60u, 16)
        VT_MD5_STEP(VT_MD5_H, b, c, d, a, 10, 0xbebfbc70u, 23)
        VT_MD5_STEP(VT_MD5_H, a, b, c, d, 13, 0x289b7ec6u, 4)
        VT_MD5_STEP(VT_MD5_H, d, a, b, c, 0, 0xeaa127fau, 11)
        VT_MD5_STEP(VT_MD5_H, c, d, a, b, 3, 0xd4ef3085u, 16)
        VT_MD5_STEP(VT_MD5_H, b, c, d, a, 6, 0x04881d05u, 23)
        VT_MD5_STEP(VT_MD5_H, a, b, c, d, 9, 0xd9d4d039u, 4)
        VT_MD5_STEP(VT_MD5_H, d, a, b, c, 12, 0xe6db99e5u, 11)
        VT_MD5_STEP(VT_MD5_H, c, d, a, b, 15, 0x1fa27cf8u, 16)
        VT_MD5_STEP(VT_MD5_H, b, c, d, a, 2, 0xc4ac5665u, 23)

        VT_MD5_STEP(VT_MD5_I, a, b, c, d, 0, 0xf4292244u, 6)
        VT_MD5_STEP(VT_MD5_I, d, a, b, c, 7, 0x432aff97u, 10)
        VT_MD5_STEP(VT_MD5_I, c, d, a, b, 14, 0xab9423a7u, 15)
        VT_MD5_STEP(VT_MD5_I, b, c, d, a, 5, 0xfc93a039u, 21)
        VT_MD5_STEP(VT_MD5_I, a, b, c, d, 12, 0x655b59c3u, 6)
        VT_MD5_STEP(VT_MD5_I, d, a, b, c, 3, 0x8f0ccc92u, 10)
        VT_MD5_STEP(VT_MD5_I, c, d, a, b, 10, 0xffeff47du, 15)
        VT_MD5_STEP(VT_MD5_I, b, c, d, a, 1, 0x85845dd1u, 21)
        VT_MD5_STEP(VT_MD5_I, a, b, c, d, 8, 0x6fa87e4fu, 6)
        VT_MD5_STEP(VT_MD5_I, d, a, b, c, 15, 0xfe2ce6e0u, 10)
        VT_MD5_STEP(VT_MD5_I, c, d, a, b, 6, 0xa3014314u, 15)
        VT_MD5_STEP(VT_MD5_I, b, c, d, a, 13, 0x4e0811a1u, 21)
        VT_MD5_STEP(VT_MD5_I, a, b, c, d, 4, 0xf7537e82u, 6)
        VT_MD5_STEP(VT_MD5_I, d, a, b, c, 11, 0xbd3af235u, 10)
        VT_MD5_STEP(VT_MD5_I, c, d, a, b, 2, 0x2ad7d2bbu, 15)
        VT_MD5_STEP(VT_MD5_I, b, c, d, a, 9, 0xeb86d391u, 21)

        a0 += a;
        b0 += b;
        c0 += c;
        d0 += d;
    }
    state[0] = a0;
    state[1] = b0;
    state[2] = c0;
    state[3] = d0;
}

#undef VT_MD5_F
#undef VT_MD5_H
#undef VT_MD5_I
#undef VT_MD5_STEP
#undef VT_MD5_STEP_G

constexpr char kHexDigits[] = "0123456789abcdef";

}  // namespace

std::string Md5Digest::ToHex() const {
    std::string text(32, '0');
    for (size_t i = 0; i < bytes.size(); ++i) {
        text[2 * i] = kHexDigits[bytes[i] >> 4];
        text[2 * i + 1] = kHexDigits[bytes[i] & 0x0F];
    }
    return text;
}

void Md5Context::Reset() {
    state_[0] = 0x67452301u;
    state_[1] = 0xEFCDAB89u;
    state_[2] = 0x98BADCFEu;
    state_[3] = 0x10325476u;
    std::memset(buffer_, 0, sizeof buffer_);
    buffered_ = 0;
    totalBytes_ = 0;
}

void Md5Context::Update(const void* data, size_t length) {
    if (length == 0) return;
    const uint8_t* p = static_cast<const uint8_t*>(data);
    totalBytes_ += length;
    if (buffered_ + length < 64) {
        std::memcpy(buffer_ + buffered_, p, length);
        buffered_ += static_cast<uint32_t>(length);
        return;
    }
    if (buffered_ > 0) {
        const size_t fill = 64 - buffered_;
        std::memcpy(buffer_ + buffered_, p, fill);
        Compress<false>(state_, buffer_, 1);
        p += fill;
        length -= fill;
        buffered_ = 0;
    }
    const size_t blocks = length / 64;
    if (blocks > 0) {
        Compress<false>(state_, p, blocks);
        p += blocks * 64;
        length -= blocks * 64;
    }
    if (length > 0) std::memcpy(buffer_, p, length);
    buffered_ = static_cast<uint32_t>(length);
}

void Md5Context::UpdateZeros(uint64_t count) {
    if (count == 0) return;
    totalBytes_ += count;
    if (buffered_ + count < 64) {
        std::memset(buffer_ + buffered_, 0, static_cast<size_t>(count));
        buffered_ += static_cast<uint32_t>(count);
        return;
    }
    if (buffered_ > 0) {
        const uint32_t fill = 64 - buffered_;
        std::memset(buffer_ + buffered_, 0, fill);
        Compress<false>(state_, buffer_, 1);
        count -= fill;
        buffered_ = 0;
    }
    const uint64_t blocks = count / 64;
    if (blocks > 0) Compress<true>(state_, nullptr, static_cast<size_t>(blocks));
    const uint32_t rest = static_cast<uint32_t>(count % 64);
    if (rest > 0) std::memset(buffer_, 0, rest);
    buffered_ = rest;
}

Md5Digest Md5Context::Final() const {
    // Work on a copy so that this context stays exactly as it was.
    Md5Context tail = *this;
    const uint64_t bitCount = totalBytes_ * 8;
    const uint8_t marker = 0x80;
    const uint32_t b = buffered_;
    tail.Update(&marker, 1);
    tail.UpdateZeros(b < 56 ? 55 - b : 119 - b);
    uint8_t lengthBytes[8];
    for (int i = 0; i < 8; ++i) lengthBytes[i] = static_cast<uint8_t>(bitCount >> (8 * i));
    tail.Update(lengthBytes, 8);

    Md5Digest digest;
    for (int i = 0; i < 4; ++i) StoreLe32(digest.bytes.data() + 4 * i, tail.state_[i]);
    return digest;
}

Md5Digest Md5Of(const void* data, size_t length) {
    Md5Context context;
    context.Update(data, length);
    return context.Final();
}

namespace {

constexpr uint32_t kMd5K[64] = {
    0xd76aa478u, 0xe8c7b756u, 0x242070dbu, 0xc1bdceeeu, 0xf57c0fafu, 0x4787c62au, 0xa8304613u,
    0xfd469501u, 0x698098d8u, 0x8b44f7afu, 0xffff5bb1u, 0x895cd7beu, 0x6b901122u, 0xfd987193u,
    0xa679438eu, 0x49b40821u, 0xf61e2562u, 0xc040b340u, 0x265e5a51u, 0xe9b6c7aau, 0xd62f105du,
    0x02441453u, 0xd8a1e681u, 0xe7d3fbc8u, 0x21e1cde6u, 0xc33707d6u, 0xf4d50d87u, 0x455a14edu,
    0xa9e3e905u, 0xfcefa3f8u, 0x676f02d9u, 0x8d2a4c8au, 0xfffa3942u, 0x8771f681u, 0x6d9d6122u,
    0xfde5380cu, 0xa4beea44u, 0x4bdecfa9u, 0xf6bb4b60u, 0xbebfbc70u, 0x289b7ec6u, 0xeaa127fau,
    0xd4ef3085u, 0x04881d05u, 0xd9d4d039u, 0xe6db99e5u, 0x1fa27cf8u, 0xc4ac5665u, 0xf4292244u,
    0x432aff97u, 0xab9423a7u, 0xfc93a039u, 0x655b59c3u, 0x8f0ccc92u, 0xffeff47du, 0x85845dd1u,
    0x6fa87e4fu, 0xfe2ce6e0u, 0xa3014314u, 0x4e0811a1u, 0xf7537e82u, 0xbd3af235u, 0x2ad7d2bbu,
    0xeb86d391u};
constexpr int kMd5S[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

#if defined(__x86_64__)
// The intrinsics' headers start vectors from undefined values, which this
// compiler mistakes for uninitialised reads.
#pragma GCC diagnostic push
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
// Streams side by side, one per 32-bit lane: eight in 256-bit vectors, or
// sixteen in 512-bit vectors. The kernels are written with the compiler's
// vector types, so that one body serves AVX2 and AVX-512 (whose rotate and
// three-input logic instructions the compiler then uses). `states` holds a,
// b, c, d of lane i at [4i .. 4i+3]; lane i reads `blocks` 64-byte blocks
// from data[i]. The message words are loaded whole and transposed into
// lanes, which is much faster than gathering them.
typedef uint32_t U32x8 __attribute__((vector_size(32)));

// Lane l of x[w] gets word w of the 64-byte block at data[l] + offset.
__attribute__((target("avx2"), always_inline)) inline void LoadWords8(U32x8* x,
                                                                      const uint8_t* const* data,
                                                                      size_t offset) {
    for (int half = 0; half < 2; ++half) {
        __m256i r[8];
        for (int l = 0; l < 8; ++l) {
            r[l] =
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data[l] + offset + 32 * half));
        }
        // An 8 x 8 transpose of 32-bit words.
        __m256i t[8], u[8];
        for (int p = 0; p < 4; ++p) {
            t[2 * p] = _mm256_unpacklo_epi32(r[2 * p], r[2 * p + 1]);
            t[2 * p + 1] = _mm256_unpackhi_epi32(r[2 * p], r[2 * p + 1]);
        }
        for (int q = 0; q < 2; ++q) {
            u[4 * q + 0] = _mm256_unpacklo_epi64(t[4 * q], t[4 * q + 2]);
            u[4 * q + 1] = _mm256_unpackhi_epi64(t[4 * q], t[4 * q + 2]);
            u[4 * q + 2] = _mm256_unpacklo_epi64(t[4 * q + 1], t[4 * q + 3]);
            u[4 * q + 3] = _mm256_unpackhi_epi64(t[4 * q + 1], t[4 * q + 3]);
        }
        for (int w = 0; w < 4; ++w) {
            x[8 * half + w] =
                reinterpret_cast<U32x8>(_mm256_permute2x128_si256(u[w], u[4 + w], 0x20));
            x[8 * half + 4 + w] =
                reinterpret_cast<U32x8>(_mm256_permute2x128_si256(u[w], u[4 + w], 0x31));
        }
    }
}

template <typename V>
__attribute__((always_inline)) inline void Rounds(V* state, const V* x) {
    V a = state[0], b = state[1], c = state[2], d = state[3];
#pragma GCC unroll 64
    for (int i = 0; i < 64; ++i) {
        const int round = i / 16;
        V f;
        int g;
        if (round == 0) {
            f = d ^ (b & (c ^ d));
            g = i;
        } else if (round == 1) {
            f = c ^ (d & (b ^ c));
            g = (5 * i + 1) % 16;
        } else if (round == 2) {
            f = b ^ c ^ d;
            g = (3 * i + 5) % 16;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) % 16;
        }
        const int s = kMd5S[round][i % 4];
        V sum = (a + (x[g] + kMd5K[i])) + f;
        sum = (sum << s) | (sum >> (32 - s));
        a = d;
        d = c;
        c = b;
        b = b + sum;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

// `states` as for Compress16, for eight lanes; the same body compiled for
// each instruction set.
#define VT_MD5_COMPRESS8_BODY                                    \
    U32x8 v[4];                                                  \
    for (int j = 0; j < 4; ++j)                                  \
        for (int l = 0; l < 8; ++l) v[j][l] = states[4 * l + j]; \
    for (size_t blk = 0; blk < blocks; ++blk) {                  \
        U32x8 x[16];                                             \
        LoadWords8(x, data, 64 * blk);                           \
        Rounds(v, x);                                            \
    }                                                            \
    for (int j = 0; j < 4; ++j)                                  \
        for (int l = 0; l < 8; ++l) states[4 * l + j] = v[j][l];

__attribute__((target("avx2"))) void Compress8Avx2(uint32_t* states, const uint8_t* const* data,
                                                   size_t blocks) {
    VT_MD5_COMPRESS8_BODY
}

__attribute__((target("avx512f,avx512vl"))) void Compress8Avx512(uint32_t* states,
                                                                 const uint8_t* const* data,
                                                                 size_t blocks) {
    VT_MD5_COMPRESS8_BODY
}

#undef VT_MD5_COMPRESS8_BODY

typedef uint32_t U32x16 __attribute__((vector_size(64)));

// Sixteen lanes in 512-bit vectors.
__attribute__((target("avx512f,avx512vl"))) void Compress16(uint32_t* states,
                                                            const uint8_t* const* data,
                                                            size_t blocks) {
    U32x16 v[4];
    for (int j = 0; j < 4; ++j)
        for (int l = 0; l < 16; ++l) v[j][l] = states[4 * l + j];
    for (size_t blk = 0; blk < blocks; ++blk) {
        U32x8 lo[16], hi[16];
        LoadWords8(lo, data, 64 * blk);
        LoadWords8(hi, data + 8, 64 * blk);
        U32x16 x[16];
        for (int w = 0; w < 16; ++w) {
            x[w] = __builtin_shufflevector(lo[w], hi[w], 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12,
                                           13, 14, 15);
        }
        Rounds(v, x);
    }
    for (int j = 0; j < 4; ++j)
        for (int l = 0; l < 16; ++l) states[4 * l + j] = v[j][l];
}

#pragma GCC diagnostic pop

bool HaveAvx512() {
    static const bool have = ProcessorHas(ProcessorFeature::Avx512f);
    return have;
}
bool HaveAvx512Vl() {
    static const bool have = HaveAvx512() && ProcessorHas(ProcessorFeature::Avx512vl);
    return have;
}
bool HaveAvx2() {
    static const bool have = ProcessorHas(ProcessorFeature::Avx2);
    return have;
}
#else
bool HaveAvx512() {
    return false;
}
bool HaveAvx512Vl() {
    return false;
}
bool HaveAvx2() {
    return false;
}
void Compress16(uint32_t*, const uint8_t* const*, size_t) {}
void Compress8Avx2(uint32_t*, const uint8_t* const*, size_t) {}
void Compress8Avx512(uint32_t*, const uint8_t* const*, size_t) {}
#endif

std::atomic<Md5ManyKernel> manyKernel{Md5ManyKernel::Best};

}  // namespace

bool Md5ManyKernelAvailable(Md5ManyKernel kernel) {
    switch (kernel) {
        case Md5ManyKernel::Best:
        case Md5ManyKernel::Scalar:
            return true;
        case Md5ManyKernel::Avx2:
            return HaveAvx2();
    }
    return false;
}

void SetMd5ManyKernel(Md5ManyKernel kernel) {
    manyKernel.store(kernel, std::memory_order_relaxed);
}

void Md5Context::UpdateMany(Md5Context* const* contexts, const uint8_t* const* data, size_t count,
                            size_t length) {
    const size_t blocks = length / 64;
    const Md5ManyKernel kernel = manyKernel.load(std::memory_order_relaxed);
    const bool wide = kernel == Md5ManyKernel::Best && HaveAvx512Vl();
    const bool vector = kernel != Md5ManyKernel::Scalar && HaveAvx2();
    if (blocks == 0 || !vector) {
        for (size_t i = 0; i < count; ++i) contexts[i]->Update(data[i], length);
        return;
    }
    // Streams on a block boundary go to the vector unit, up to sixteen at
    // a time; the others (and the tails) one at a time.
    Md5Context* lane[16];
    const uint8_t* laneData[16];
    size_t filled = 0;
    auto flush = [&] {
        if (filled == 1) {
            lane[0]->Update(laneData[0], length);
        } else if (filled > 1) {
            alignas(64) uint32_t states[64];
            const uint8_t* inputs[16];
            for (size_t l = 0; l < 16; ++l) {
                const size_t src = l < filled ? l : 0;
                std::memcpy(states + 4 * l, lane[src]->state_, 16);
                inputs[l] = laneData[src];
            }
            if (filled > 8 && wide) {
                Compress16(states, inputs, blocks);
            } else {
                // Two sets of eight one after the other: with sixteen
                // 256-bit registers, interleaving them would spill.
                for (size_t first = 0; first < filled; first += 8) {
                    (wide ? Compress8Avx512 : Compress8Avx2)(states + 4 * first, inputs + first,
                                                             blocks);
                }
            }
            for (size_t l = 0; l < filled; ++l) {
                std::memcpy(lane[l]->state_, states + 4 * l, 16);
                lane[l]->totalBytes_ += blocks * 64;
                lane[l]->Update(laneData[l] + blocks * 64, length - blocks * 64);
            }
        }
        filled = 0;
    };
    for (size_t i = 0; i < count; ++i) {
        if (contexts[i]->buffered_ != 0) {
            contexts[i]->Update(data[i], length);
            continue;
        }
        lane[filled] = contexts[i];
        laneData[filled] = data[i];
        if (++filled == 16) flush();
    }
    flush();
}

}  // namespace vantrove
