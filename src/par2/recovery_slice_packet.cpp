#include "par2/recovery_slice_packet.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/disk_file.h"
#include "par2/packet_coding.h"
#include "par2/packet_header.h"

namespace vantrove {

using namespace packet_coding;

bool RecoverySlicePacket::BuildHead(const Md5Digest& setId, uint32_t exponent, uint64_t sliceSize) {
    if (sliceSize == 0 || sliceSize % 4 != 0 || sliceSize > UINT64_MAX - kRecoveryDataOffset) {
        return false;
    }
    head_.fill(0);
    PacketHeader header;
    header.length = kRecoveryDataOffset + sliceSize;
    header.setId = setId;
    header.typeBytes = kRecoverySlicePacketType;
    EncodePacketHeader(header, head_.data());
    StoreLe32(head_.data() + kRecoveryExponentOffset, exponent);
    exponent_ = exponent;
    data_ = DataBlock{};
    running_.Reset();
    running_.Update(head_.data() + kPacketHashedFrom, kRecoveryDataOffset - kPacketHashedFrom);
    fed_ = 0;
    return true;
}

void RecoverySlicePacket::FeedData(const void* data, size_t length) {
    running_.Update(data, length);
    fed_ += length;
}

void RecoverySlicePacket::FeedDataMany(RecoverySlicePacket* const* packets,
                                       const uint8_t* const* data, size_t count, size_t length) {
    if (count == 0) return;
    // The hashes start with the head's last 36 bytes: the first bytes of
    // data complete their 64-byte block one by one, and from that boundary
    // on the hashes run side by side.
    auto leadOf = [&](const RecoverySlicePacket& packet) {
        return std::min<size_t>(length, (64 - packet.running_.totalBytes() % 64) % 64);
    };
    const size_t lead = leadOf(*packets[0]);
    std::vector<Md5Context*> contexts;
    std::vector<const uint8_t*> rest;
    for (size_t i = 0; i < count; ++i) {
        RecoverySlicePacket& packet = *packets[i];
        if (leadOf(packet) != lead) {
            packet.FeedData(data[i], length);
            continue;
        }
        packet.FeedData(data[i], lead);
        contexts.push_back(&packet.running_);
        rest.push_back(data[i] + lead);
        packet.fed_ += length - lead;
    }
    Md5Context::UpdateMany(contexts.data(), rest.data(), contexts.size(), length - lead);
}

bool RecoverySlicePacket::Finish() {
    if (fed_ != length() - kRecoveryDataOffset) return false;
    StoreDigest(head_.data() + kPacketHashOffset, running_.Final());
    return true;
}

bool RecoverySlicePacket::Read(const DiskFileRef& file, uint64_t offset, const uint8_t* header) {
    const uint64_t length = LoadLe64(header + kPacketLengthOffset);
    if (!file || length <= kRecoveryDataOffset || offset > file->size ||
        length > file->size - offset) {
        return false;
    }
    uint8_t exponentBytes[4];
    if (!file->read(offset + kRecoveryExponentOffset, exponentBytes, 4)) return false;
    std::memcpy(head_.data(), header, kPacketHeaderSize);
    std::memcpy(head_.data() + kRecoveryExponentOffset, exponentBytes, 4);
    exponent_ = LoadLe32(exponentBytes);
    data_.file = file;
    data_.offset = offset + kRecoveryDataOffset;
    data_.length = length - kRecoveryDataOffset;
    fed_ = 0;
    return true;
}

void RecoverySlicePacket::SetFromState(const uint8_t* head, const DiskFileRef& file,
                                       uint64_t dataOffset, uint64_t dataLength) {
    std::memcpy(head_.data(), head, kRecoveryDataOffset);
    exponent_ = LoadLe32(head + kRecoveryExponentOffset);
    data_.file = file;
    data_.offset = dataOffset;
    data_.length = dataLength;
    fed_ = 0;
}

uint64_t RecoverySlicePacket::length() const {
    return LoadLe64(head_.data() + kPacketLengthOffset);
}

Md5Digest RecoverySlicePacket::setId() const {
    return LoadDigest(head_.data() + kPacketSetIdOffset);
}

Md5Digest RecoverySlicePacket::packetHash() const {
    return LoadDigest(head_.data() + kPacketHashOffset);
}

}  // namespace vantrove
