#pragma once
// PacketBuffer: the bytes of one whole packet held in memory, header
// included, with the header's fields and the operations every in-memory
// packet shares (setting the recovery set id, sealing with the packet hash,
// identity). The main, file description, IFSC and creator packets derive
// from it; recovery slices are never held whole (recovery_slice_packet.h).
//
// A packet is a plain value owned by its builder or by the packet group that
// filed it; one thread at a time.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/md5.h"
#include "par2/packet_format.h"

namespace vantrove {

class DiskFile;

class PacketBuffer {
  public:
    bool empty() const { return bytes_.empty(); }
    const std::vector<uint8_t>& bytes() const { return bytes_; }
    uint64_t length() const { return bytes_.size(); }

    Md5Digest packetHash() const;
    Md5Digest setId() const;
    PacketType type() const;

    // Writes the recovery set id into the header (the packet hash is then
    // stale until Seal or UpdatePacketHash).
    void SetRecoverySetId(const Md5Digest& setId);
    // Computes the MD5 of bytes 32 .. end into the header.
    void UpdatePacketHash();
    // Both of the above, in order.
    void Seal(const Md5Digest& setId);
    // True when the stored packet hash matches the bytes.
    bool HasValidHash() const;

    // Packet identity: equal lengths and all bytes, header included, equal.
    bool SameAs(const PacketBuffer& other) const { return bytes_ == other.bytes_; }

  protected:
    // Allocates `length` zero bytes and writes magic, length and type.
    // Returns false when the memory cannot be had.
    bool Allocate(uint64_t length, PacketType type);
    // Reads the whole packet at `offset` of `file` whose 64-byte header is
    // `header`: refuses a length that runs past the end of the file before
    // allocating anything, then reads the rest at offset + 64.
    bool ReadWhole(DiskFile& file, uint64_t offset, const uint8_t* header);

    uint8_t* data() { return bytes_.data(); }
    const uint8_t* data() const { return bytes_.data(); }

    std::vector<uint8_t> bytes_;
};

}  // namespace vantrove
