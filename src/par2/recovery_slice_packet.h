#pragma once
// The recovery slice packet: one recovery block of the set with its
// exponent. It is never held whole in memory. When built, only its 68-byte
// head is kept while the recovery data streams past its running hash; when
// read, only its header, exponent and the location of its data in the
// volume file. Owned by the creation job or by the packet group that filed
// it; one thread at a time.

#include <array>
#include <cstdint>

#include "core/data_block.h"
#include "core/md5.h"
#include "par2/packet_format.h"

namespace vantrove {

class RecoverySlicePacket {
  public:
    // Building: prepares the head for `exponent` of the set `setId` with
    // `sliceSize` bytes of data (a multiple of 4, at least 4) and starts the
    // packet hash over head bytes 32..67.
    bool BuildHead(const Md5Digest& setId, uint32_t exponent, uint64_t sliceSize);
    // Appends recovery data to the packet hash, in order.
    void FeedData(const void* data, size_t length);
    // The same as FeedData(data[i], length) on *packets[i] for i < count,
    // the packet hashes side by side.
    static void FeedDataMany(RecoverySlicePacket* const* packets, const uint8_t* const* data,
                             size_t count, size_t length);
    // Writes the packet hash into the head; false unless exactly the slice
    // size was fed.
    bool Finish();
    // The 68 head bytes, to be written before the data.
    const uint8_t* head() const { return head_.data(); }

    // Reading: takes the packet at `offset` of `file` whose checked header is
    // `header`; false rejects it. Accepted: length above 68 and within the
    // file. Reads the exponent; the data stays in the file.
    bool Read(const DiskFileRef& file, uint64_t offset, const uint8_t* header);

    // Takes a slice remembered in a saved state: its 68 head bytes and the
    // location of its data, without reading the volume file.
    void SetFromState(const uint8_t* head, const DiskFileRef& file, uint64_t dataOffset,
                      uint64_t dataLength);

    uint64_t length() const;
    uint32_t exponent() const { return exponent_; }
    Md5Digest setId() const;
    Md5Digest packetHash() const;
    // The recovery data: the volume file, offset + 68, length - 68.
    const DataBlock& data() const { return data_; }
    DataBlock& data() { return data_; }

  private:
    std::array<uint8_t, kRecoveryDataOffset> head_{};
    uint32_t exponent_ = 0;
    DataBlock data_;
    Md5Context running_;
    uint64_t fed_ = 0;
};

}  // namespace vantrove
