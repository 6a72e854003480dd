#pragma once
// The input file slice checksum (IFSC) packet: for one source file, the MD5
// and the CRC-32 of each of its slices (the last one hashed as if padded
// with zeros to the slice size). Built by creation as the slices are hashed;
// read by the set loader, whose block lookup takes its entries. A plain
// value; one thread at a time.

#include <cstdint>

#include "core/md5.h"
#include "par2/packet_buffer.h"

namespace vantrove {

struct SliceChecksum {
    Md5Digest md5;
    uint32_t crc32 = 0;
};

class IfscPacket : public PacketBuffer {
  public:
    // Prepares a packet of `sliceCount` zero entries for the file `fileId`
    // of the set `setId` and starts its packet hash. Fails for 2^32 slices
    // or more (or a packet of 2^32 bytes or more, which no reader accepts),
    // or when memory is short.
    bool Build(uint64_t sliceCount, const Md5Digest& setId, const Md5Digest& fileId);
    // Fills entry `index`; false when the index is out of range.
    bool SetEntry(uint32_t index, const Md5Digest& md5, uint32_t crc32);
    // Completes the packet hash with the entries.
    void Finish();

    // Reads the packet at `offset` whose checked header is `header`; false
    // rejects it. Accepted: length below 2^32, at least 80, and (length - 80)
    // a multiple of 20.
    bool Read(DiskFile& file, uint64_t offset, const uint8_t* header);

    Md5Digest fileId() const;
    uint32_t sliceCount() const;
    // REQUIRES: index < sliceCount().
    SliceChecksum entry(uint32_t index) const;

  private:
    Md5Context running_;  // over bytes 32..79 until Finish
};

}  // namespace vantrove
