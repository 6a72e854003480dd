#pragma once
// MD5 (RFC 1321) as a small value type.
//
// Md5Context is a plain value owned by whoever hashes; copying it forks the
// computation, so one pass over a file can yield the digest of its first
// 16 KiB and of the whole file. Final() does not disturb the context, so the
// digest of a prefix costs nothing extra. One thread at a time.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace vantrove {

struct Md5Digest {
    std::array<uint8_t, 16> bytes{};

    // As two 64-bit words: digests are compared by the million (file ids,
    // packet hashes), and a call to memcmp costs more than the compare.
    bool operator==(const Md5Digest& other) const {
        uint64_t a[2], b[2];
        std::memcpy(a, bytes.data(), sizeof a);
        std::memcpy(b, other.bytes.data(), sizeof b);
        return ((a[0] ^ b[0]) | (a[1] ^ b[1])) == 0;
    }
    // Lower-case hexadecimal, 32 characters.
    std::string ToHex() const;
};

class Md5Context {
public:
    Md5Context() { Reset(); }

    void Reset();
    // Appends `length` bytes.
    void Update(const void* data, size_t length);
    // Appends `count` zero bytes without reading any buffer of zeros.
    void UpdateZeros(uint64_t count);
    // The digest of everything appended so far; the context is unchanged.
    Md5Digest Final() const;

    uint64_t totalBytes() const { return totalBytes_; }

    // Appends `length` bytes of data[i] to *contexts[i] for i < count: the
    // same as calling Update on each, but streams that sit on a 64-byte
    // boundary are hashed side by side, up to 16 at a time, with the vector
    // unit where the CPU has one (AVX-512). MD5 is serial within a stream;
    // this is how many streams share one core.
    static void UpdateMany(Md5Context* const* contexts, const uint8_t* const* data, size_t count,
                           size_t length);

private:
    uint32_t state_[4];
    uint8_t buffer_[64];
    uint32_t buffered_;
    uint64_t totalBytes_;
};

// One-shot digest of a buffer.
Md5Digest Md5Of(const void* data, size_t length);

}  // namespace vantrove
