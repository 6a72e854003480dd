#pragma once
// Little-endian integers and 16-byte digests inside packet bytes, in their
// own namespace so that they never meet other helpers of the same name. Pure
// functions; any thread may use them.

#include <cstdint>
#include <cstring>

#include "core/md5.h"

namespace vantrove::packet_coding {

inline uint32_t LoadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline uint64_t LoadLe64(const uint8_t* p) {
    return static_cast<uint64_t>(LoadLe32(p)) | static_cast<uint64_t>(LoadLe32(p + 4)) << 32;
}

inline void StoreLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

inline void StoreLe64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

inline Md5Digest LoadDigest(const uint8_t* p) {
    Md5Digest d;
    std::memcpy(d.bytes.data(), p, 16);
    return d;
}

inline void StoreDigest(uint8_t* p, const Md5Digest& d) {
    std::memcpy(p, d.bytes.data(), 16);
}

// Rounds a byte count up to the next multiple of 4.
inline uint64_t PaddedTo4(uint64_t n) {
    return (n + 3) & ~uint64_t{3};
}

}  // namespace vantrove::packet_coding
