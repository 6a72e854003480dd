#include "par2/verified_packets.h"

#include "core/disk_file.h"
#include "par2/packet_format.h"

namespace vantrove {

PacketHashCheck VerifiedPackets::Check(DiskFile& file, uint64_t offset, const uint8_t* header,
                                       const PacketHeader& parsed, std::vector<uint8_t>& buffer,
                                       const PacketProgress& progress) {
    repeated_ = false;
    const uint64_t length = parsed.length;
    if (parsed.type() == PacketType::RecoverySlice || length > kLimit ||
        length < kPacketHeaderSize || offset > file.size || length > file.size - offset) {
        return VerifyPacketHash(file, offset, header, buffer, progress);
    }
    // The hashed bytes: the header from the set id on, then the body.
    const size_t hashed = static_cast<size_t>(length - kPacketHashedFrom);
    if (scratch_.size() < hashed) scratch_.resize(hashed);
    const size_t headerPart = kPacketHeaderSize - kPacketHashedFrom;
    std::memcpy(scratch_.data(), header + kPacketHashedFrom, headerPart);
    if (length > kPacketHeaderSize &&
        !file.read(offset + kPacketHeaderSize, scratch_.data() + headerPart,
                   static_cast<size_t>(length - kPacketHeaderSize))) {
        return PacketHashCheck::ReadError;
    }
    // Progress (and a stop request) is looked at once a MiB: these packets
    // are small and many.
    const bool newMiB = ((offset + length) >> 20) != (offset >> 20);
    if (progress && newMiB && !progress(offset + length)) return PacketHashCheck::Cancelled;

    const size_t i = Find(parsed.packetHash);
    if (i != SIZE_MAX && known_[i].size == hashed &&
        std::memcmp(arena_.data() + known_[i].at, scratch_.data(), hashed) == 0) {
        next_ = i + 1;
        repeated_ = true;
        return PacketHashCheck::Valid;
    }
    if (!(Md5Of(scratch_.data(), hashed) == parsed.packetHash)) return PacketHashCheck::Mismatch;
    if (i == SIZE_MAX && arena_.size() + hashed <= kBudget) {
        index_.emplace(parsed.packetHash, known_.size());
        known_.push_back({parsed.packetHash, arena_.size(), hashed});
        arena_.insert(arena_.end(), scratch_.begin(), scratch_.begin() + hashed);
        next_ = known_.size();
    }
    return PacketHashCheck::Valid;
}

size_t VerifiedPackets::Find(const Md5Digest& packetHash) const {
    if (next_ < known_.size() && known_[next_].packetHash == packetHash) return next_;
    auto it = index_.find(packetHash);
    return it == index_.end() ? SIZE_MAX : it->second;
}

}  // namespace vantrove
