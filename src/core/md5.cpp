#include "core/md5.h"

#include <bit>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "core/machine.h"

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
// Sixteen streams, one per 32-bit lane. `states` holds a, b, c, d of lane
// i at [4i .. 4i+3]; lane i reads `blocks` 64-byte blocks from data[i].
__attribute__((target("avx512f"))) void Compress16(uint32_t* states,
                                                   const uint8_t* const* data, size_t blocks) {
    alignas(64) uint32_t lanes[4][16];
    for (int l = 0; l < 16; ++l)
        for (int j = 0; j < 4; ++j) lanes[j][l] = states[4 * l + j];
    __m512i a0 = _mm512_load_si512(lanes[0]), b0 = _mm512_load_si512(lanes[1]);
    __m512i c0 = _mm512_load_si512(lanes[2]), d0 = _mm512_load_si512(lanes[3]);
    // Addresses relative to lane 0, for the gathers.
    alignas(64) int64_t offsets[16];
    for (int l = 0; l < 16; ++l) offsets[l] = data[l] - data[0];
    const __m512i offLo = _mm512_load_si512(offsets), offHi = _mm512_load_si512(offsets + 8);
    const uint8_t* base = data[0];
    for (size_t blk = 0; blk < blocks; ++blk, base += 64) {
        __m512i x[16];
        for (int w = 0; w < 16; ++w) {
            const __m256i lo = _mm512_i64gather_epi32(offLo, base + 4 * w, 1);
            const __m256i hi = _mm512_i64gather_epi32(offHi, base + 4 * w, 1);
            x[w] = _mm512_inserti64x4(_mm512_castsi256_si512(lo), hi, 1);
        }
        __m512i a = a0, b = b0, c = c0, d = d0;
#pragma GCC unroll 64
        for (int i = 0; i < 64; ++i) {
            const int round = i / 16;
            __m512i f;
            int g;
            if (round == 0) {
                f = _mm512_ternarylogic_epi32(b, c, d, 0xCA);
                g = i;
            } else if (round == 1) {
                f = _mm512_ternarylogic_epi32(d, b, c, 0xCA);
                g = (5 * i + 1) % 16;
            } else if (round == 2) {
                f = _mm512_ternarylogic_epi32(b, c, d, 0x96);
                g = (3 * i + 5) % 16;
            } else {
                f = _mm512_ternarylogic_epi32(b, c, d, 0x39);
                g = (7 * i) % 16;
            }
            __m512i sum = _mm512_add_epi32(_mm512_add_epi32(a, f),
                                           _mm512_add_epi32(x[g], _mm512_set1_epi32(
                                                                      static_cast<int>(kMd5K[i]))));
            sum = _mm512_rolv_epi32(sum, _mm512_set1_epi32(kMd5S[round][i % 4]));
            const __m512i next = _mm512_add_epi32(b, sum);
            a = d;
            d = c;
            c = b;
            b = next;
        }
        a0 = _mm512_add_epi32(a0, a);
        b0 = _mm512_add_epi32(b0, b);
        c0 = _mm512_add_epi32(c0, c);
        d0 = _mm512_add_epi32(d0, d);
    }
    _mm512_store_si512(lanes[0], a0);
    _mm512_store_si512(lanes[1], b0);
    _mm512_store_si512(lanes[2], c0);
    _mm512_store_si512(lanes[3], d0);
    for (int l = 0; l < 16; ++l)
        for (int j = 0; j < 4; ++j) states[4 * l + j] = lanes[j][l];
}

#pragma GCC diagnostic pop

bool HaveAvx512() {
    static const bool have = ProcessorHas(ProcessorFeature::Avx512f);
    return have;
}
#else
bool HaveAvx512() { return false; }
void Compress16(uint32_t*, const uint8_t* const*, size_t) {}
#endif

}  // namespace

constexpr size_t kMinVectorStreams = 4;

void Md5Context::UpdateMany(Md5Context* const* contexts, const uint8_t* const* data, size_t count,
                            size_t length) {
    size_t i = 0;
    const size_t blocks = length / 64;
    // The vector unit always runs sixteen lanes; for a few streams one at a
    // time is cheaper.
    if (HaveAvx512() && blocks > 0 && count >= kMinVectorStreams) {
        // Streams on a block boundary go to the vector unit in sixteens.
        Md5Context* lane[16];
        const uint8_t* laneData[16];
        size_t filled = 0;
        auto flush = [&] {
            if (filled == 0) return;
            alignas(64) uint32_t states[64];
            for (size_t l = 0; l < 16; ++l) {
                const size_t src = l < filled ? l : 0;
                std::memcpy(states + 4 * l, lane[src]->state_, 16);
                if (l >= filled) laneData[l] = laneData[0];
            }
            Compress16(states, laneData, blocks);
            for (size_t l = 0; l < filled; ++l) {
                std::memcpy(lane[l]->state_, states + 4 * l, 16);
                lane[l]->totalBytes_ += blocks * 64;
                lane[l]->Update(laneData[l] + blocks * 64, length - blocks * 64);
            }
            filled = 0;
        };
        for (; i < count; ++i) {
            if (contexts[i]->buffered_ != 0) {
                contexts[i]->Update(data[i], length);
                continue;
            }
            lane[filled] = contexts[i];
            laneData[filled] = data[i];
            if (++filled == 16) flush();
        }
        flush();
        return;
    }
    for (; i < count; ++i) contexts[i]->Update(data[i], length);
}

}  // namespace vantrove
