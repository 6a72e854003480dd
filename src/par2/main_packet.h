#pragma once
// The main packet of a PAR 2.0 set: the slice size and the ids of the
// recoverable files. The MD5 of its body is the recovery set id that every
// packet of the set carries. Built once per created set; read from volumes
// by the set loader. A plain value; one thread at a time.

#include <cstdint>
#include <vector>

#include "core/md5.h"
#include "par2/packet_buffer.h"

namespace vantrove {

// Order of file ids in a main packet: each id read as an unsigned 128-bit
// little-endian number (byte 15 most significant).
bool FileIdLess(const Md5Digest& a, const Md5Digest& b);

class MainPacket : public PacketBuffer {
  public:
    // Builds the packet for the given file ids (sorted here, equal ids keep
    // their order) and slice size, then computes the recovery set id from
    // the body and the packet hash. Fails only when memory is short.
    bool Build(uint64_t sliceSize, std::vector<Md5Digest> fileIds);
    // The same with further ids of files that are described but not
    // recoverable, listed (sorted too) after the recoverable ones.
    bool Build(uint64_t sliceSize, std::vector<Md5Digest> fileIds,
               std::vector<Md5Digest> otherIds);

    // Reads the packet at `offset` whose checked header is `header`; false
    // rejects it. Accepted: length below 2^32, at least 76, (length + 4) a
    // multiple of 16, and room for the n recoverable ids. Further ids (files
    // that are not recoverable) are kept in the bytes but not listed.
    bool Read(DiskFile& file, uint64_t offset, const uint8_t* header);

    uint64_t sliceSize() const;
    uint32_t recoverableFileCount() const;
    // REQUIRES: index < recoverableFileCount().
    Md5Digest fileId(uint32_t index) const;
    std::vector<Md5Digest> recoverableFileIds() const;
    // The ids after the recoverable ones: files that are described but not
    // recoverable.
    std::vector<Md5Digest> otherFileIds() const;

    // MD5 of the body (offset 64 to the end).
    Md5Digest ComputeSetId() const;
};

}  // namespace vantrove
