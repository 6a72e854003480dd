#include "par2/ifsc_packet.h"

#include "core/disk_file.h"
#include "par2/packet_coding.h"

namespace vantrove {

using namespace packet_coding;

bool IfscPacket::Build(uint64_t sliceCount, const Md5Digest& setId, const Md5Digest& fileId) {
    bytes_.clear();
    // Beyond 2^32 slices the count does not fit; a packet of 2^32 bytes or
    // more would be refused by every reader.
    if (sliceCount > UINT32_MAX) return false;
    const uint64_t length = kIfscEntriesOffset + kIfscEntrySize * sliceCount;
    if (length >= kMaxInMemoryPacketLength || !Allocate(length, PacketType::Ifsc)) return false;
    StoreDigest(data() + kPacketSetIdOffset, setId);
    StoreDigest(data() + kIfscFileIdOffset, fileId);
    running_.Reset();
    running_.Update(data() + kPacketHashedFrom, kIfscEntriesOffset - kPacketHashedFrom);
    return true;
}

bool IfscPacket::SetEntry(uint32_t index, const Md5Digest& md5, uint32_t crc32) {
    if (index >= sliceCount()) return false;
    uint8_t* entry = data() + kIfscEntriesOffset + kIfscEntrySize * size_t{index};
    StoreDigest(entry, md5);
    StoreLe32(entry + 16, crc32);
    return true;
}

void IfscPacket::Finish() {
    if (empty()) return;
    Md5Context context = running_;
    context.Update(data() + kIfscEntriesOffset, bytes_.size() - kIfscEntriesOffset);
    StoreDigest(data() + kPacketHashOffset, context.Final());
}

bool IfscPacket::Read(DiskFile& file, uint64_t offset, const uint8_t* header) {
    bytes_.clear();
    const uint64_t length = LoadLe64(header + kPacketLengthOffset);
    if (length >= kMaxInMemoryPacketLength || length < kIfscEntriesOffset ||
        (length - kIfscEntriesOffset) % kIfscEntrySize != 0) {
        return false;
    }
    return ReadWhole(file, offset, header);
}

Md5Digest IfscPacket::fileId() const {
    return empty() ? Md5Digest{} : LoadDigest(data() + kIfscFileIdOffset);
}

uint32_t IfscPacket::sliceCount() const {
    if (bytes_.size() < kIfscEntriesOffset) return 0;
    return static_cast<uint32_t>((bytes_.size() - kIfscEntriesOffset) / kIfscEntrySize);
}

SliceChecksum IfscPacket::entry(uint32_t index) const {
    const uint8_t* p = data() + kIfscEntriesOffset + kIfscEntrySize * size_t{index};
    return {LoadDigest(p), LoadLe32(p + 16)};
}

}  // namespace vantrove
