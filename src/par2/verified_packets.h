#pragma once
// VerifiedPackets: the packets of a set whose hash has been checked, kept
// by packet hash. Every volume repeats the set's main, description, IFSC
// and creator packets; a copy whose bytes (from the set id on, everything
// the packet hash covers) equal those of a packet checked before has that
// packet's MD5, so it is checked by comparing bytes, not by hashing them
// again. A copy that differs in any byte is hashed as any other packet.
//
// Recovery slices (each one distinct) and packets over kLimit bytes are
// hashed as they are read and not kept; the kept bytes stop growing at
// kBudget. One thread at a time.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "par2/packet_header.h"

namespace vantrove {

class DiskFile;

class VerifiedPackets {
  public:
    static constexpr uint64_t kLimit = 1u << 20;
    static constexpr uint64_t kBudget = 64u << 20;

    // The check of VerifyPacketHash for the packet at `offset` of `file`
    // whose header `header` was parsed as `parsed`, with the same answers.
    PacketHashCheck Check(DiskFile& file, uint64_t offset, const uint8_t* header,
                          const PacketHeader& parsed, std::vector<uint8_t>& buffer,
                          const PacketProgress& progress);

    // After a Check that answered Valid: the bytes the packet hash covers
    // (from the set id to the packet's end) when the packet was read whole
    // and repeats one checked before, else nullptr.
    const uint8_t* repeated() const { return repeated_ ? scratch_.data() : nullptr; }


  private:
    struct DigestHash {
        size_t operator()(const Md5Digest& digest) const {
            size_t word;
            std::memcpy(&word, digest.bytes.data(), sizeof word);
            return word;
        }
    };
    struct Known {
        Md5Digest packetHash;
        uint64_t at;    // where its hashed bytes start in arena_
        uint64_t size;  // how many there are
    };
    // The index of the kept packet with this hash, or SIZE_MAX. Volumes
    // repeat their packets in the same order, so the one after the last
    // match is tried first: the kept packets are then walked in the order
    // they lie in memory.
    size_t Find(const Md5Digest& packetHash) const;

    std::vector<Known> known_;
    std::vector<uint8_t> arena_;
    std::unordered_map<Md5Digest, size_t, DigestHash> index_;
    size_t next_ = 0;
    std::vector<uint8_t> scratch_;
    bool repeated_ = false;
};

}  // namespace vantrove
