#include "par2/packet_buffer.h"

#include <cstring>
#include <new>
#include <stdexcept>

#include "core/disk_file.h"
#include "par2/packet_coding.h"
#include "par2/packet_header.h"

namespace vantrove {

using namespace packet_coding;

namespace {

// Sizes the vector without letting an allocation failure escape.
bool TryResize(std::vector<uint8_t>& bytes, uint64_t length) {
    if (length > bytes.max_size()) return false;
    try {
        bytes.assign(static_cast<size_t>(length), 0);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    return true;
}

}  // namespace

Md5Digest PacketBuffer::packetHash() const {
    return bytes_.size() >= kPacketHeaderSize ? LoadDigest(data() + kPacketHashOffset)
                                              : Md5Digest{};
}

Md5Digest PacketBuffer::setId() const {
    return bytes_.size() >= kPacketHeaderSize ? LoadDigest(data() + kPacketSetIdOffset)
                                              : Md5Digest{};
}

PacketType PacketBuffer::type() const {
    if (bytes_.size() < kPacketHeaderSize) return PacketType::Other;
    PacketTypeBytes typeBytes;
    std::memcpy(typeBytes.data(), data() + kPacketTypeOffset, typeBytes.size());
    return PacketTypeOf(typeBytes);
}

void PacketBuffer::SetRecoverySetId(const Md5Digest& setId) {
    if (bytes_.size() >= kPacketHeaderSize) StoreDigest(data() + kPacketSetIdOffset, setId);
}

void PacketBuffer::UpdatePacketHash() {
    if (bytes_.size() < kPacketHeaderSize) return;
    StoreDigest(data() + kPacketHashOffset, ComputePacketHash(data(), bytes_.size()));
}

void PacketBuffer::Seal(const Md5Digest& setId) {
    SetRecoverySetId(setId);
    UpdatePacketHash();
}

bool PacketBuffer::HasValidHash() const {
    return bytes_.size() >= kPacketHeaderSize &&
           ComputePacketHash(data(), bytes_.size()) == packetHash();
}

bool PacketBuffer::Allocate(uint64_t length, PacketType type) {
    bytes_.clear();
    if (length < kPacketHeaderSize || !TryResize(bytes_, length)) return false;
    PacketHeader header;
    header.length = length;
    header.typeBytes = PacketTypeBytesOf(type);
    EncodePacketHeader(header, data());
    return true;
}

bool PacketBuffer::ReadWhole(DiskFile& file, uint64_t offset, const uint8_t* header) {
    bytes_.clear();
    const uint64_t length = LoadLe64(header + kPacketLengthOffset);
    if (length < kPacketHeaderSize || offset > file.size || length > file.size - offset) {
        return false;
    }
    if (!TryResize(bytes_, length)) return false;
    std::memcpy(data(), header, kPacketHeaderSize);
    if (length > kPacketHeaderSize &&
        !file.read(offset + kPacketHeaderSize, data() + kPacketHeaderSize,
                   static_cast<size_t>(length - kPacketHeaderSize))) {
        bytes_.clear();
        return false;
    }
    return true;
}

}  // namespace vantrove
