#include "par2/par2_descriptions.h"

#include <cstring>

#include "par2/packet_coding.h"
#include "par2/packet_header.h"

namespace vantrove {

using namespace packet_coding;

namespace {

// The checks every packet of a saved state passes: a header whose length is
// the number of bytes, below the in-memory limit, of the expected type, with
// a matching packet hash.
bool ValidWholePacket(const std::vector<uint8_t>& bytes, PacketType type) {
    if (bytes.size() < kPacketHeaderSize || bytes.size() >= kMaxInMemoryPacketLength) return false;
    PacketHeader header;
    if (!ParsePacketHeader(bytes.data(), header) || header.length != bytes.size()) return false;
    if (header.type() != type) return false;
    return ComputePacketHash(bytes.data(), bytes.size()) == header.packetHash;
}

}  // namespace

bool ReadWholePacket(StateReader& reader, std::vector<uint8_t>& bytes) {
    uint8_t header[kPacketHeaderSize];
    if (!reader.ReadBytes(header, sizeof header)) return false;
    const uint64_t length = LoadLe64(header + kPacketLengthOffset);
    if (length < kPacketHeaderSize || length - kPacketHeaderSize > reader.remaining()) {
        reader.Fail();
        return false;
    }
    bytes.assign(header, header + kPacketHeaderSize);
    bytes.resize(static_cast<size_t>(length));
    return reader.ReadBytes(bytes.data() + kPacketHeaderSize,
                            static_cast<size_t>(length - kPacketHeaderSize));
}

void Par2FileDescription::WriteState(StateWriter& writer) const {
    writer.WriteBytes(bytes().data(), bytes().size());
}

bool Par2FileDescription::LoadBytes(std::vector<uint8_t> packet) {
    if (!ValidWholePacket(packet, PacketType::FileDescription) ||
        packet.size() < kFileDescNameOffset + 1) {
        return false;
    }
    bytes_ = std::move(packet);
    if (fileLength() <= kFileDescHead && !(hash16k() == fileHash())) {
        bytes_.clear();
        return false;
    }
    return true;
}

std::shared_ptr<Par2FileDescription> Par2FileDescription::CopyWithId(
    const Md5Digest& fileId) const {
    auto copy = std::make_shared<Par2FileDescription>();
    copy->bytes_ = bytes_;
    StoreDigest(copy->bytes_.data() + kFileDescFileIdOffset, fileId);
    copy->UpdatePacketHash();
    return copy;
}

void Par2BlockChecksums::WriteState(StateWriter& writer) const {
    writer.WriteBytes(bytes().data(), bytes().size());
}

bool Par2BlockChecksums::LoadBytes(std::vector<uint8_t> packet) {
    if (!ValidWholePacket(packet, PacketType::Ifsc) || packet.size() < kIfscEntriesOffset ||
        (packet.size() - kIfscEntriesOffset) % kIfscEntrySize != 0) {
        return false;
    }
    bytes_ = std::move(packet);
    return true;
}

std::shared_ptr<Par2BlockChecksums> Par2BlockChecksums::CopyWithId(const Md5Digest& fileId) const {
    auto copy = std::make_shared<Par2BlockChecksums>();
    copy->bytes_ = bytes_;
    StoreDigest(copy->bytes_.data() + kIfscFileIdOffset, fileId);
    copy->UpdatePacketHash();
    return copy;
}

bool Par2BlockChecksums::SameEntries(const Par2BlockChecksums& other) const {
    if (bytes_.size() != other.bytes_.size() || bytes_.size() < kIfscEntriesOffset) return false;
    return std::memcmp(bytes_.data() + kIfscEntriesOffset, other.bytes_.data() + kIfscEntriesOffset,
                       bytes_.size() - kIfscEntriesOffset) == 0;
}

bool Par2MainPacket::LoadBytes(std::vector<uint8_t> packet) {
    if (!ValidWholePacket(packet, PacketType::Main) || packet.size() < kMainFileIdsOffset ||
        (packet.size() + 4) % 16 != 0) {
        return false;
    }
    const uint64_t count = LoadLe32(packet.data() + kMainFileCountOffset);
    if (packet.size() - kMainFileIdsOffset < 16 * count) return false;
    bytes_ = std::move(packet);
    return true;
}

bool Par2CreatorPacket::LoadBytes(std::vector<uint8_t> packet) {
    if (!ValidWholePacket(packet, PacketType::Creator)) return false;
    bytes_ = std::move(packet);
    return true;
}

FileDescriptionRef ReadPar2Description(DescriptionSlot slot, StateReader& reader) {
    std::vector<uint8_t> bytes;
    if (!ReadWholePacket(reader, bytes)) return nullptr;
    if (slot == DescriptionSlot::Par2FileDescription) {
        auto description = std::make_shared<Par2FileDescription>();
        if (description->LoadBytes(std::move(bytes))) return description;
    } else if (slot == DescriptionSlot::Par2BlockChecksums) {
        auto checksums = std::make_shared<Par2BlockChecksums>();
        if (checksums->LoadBytes(std::move(bytes))) return checksums;
    }
    return nullptr;
}

}  // namespace vantrove
