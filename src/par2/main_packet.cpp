#include "par2/main_packet.h"

#include <algorithm>

#include "core/disk_file.h"
#include "par2/packet_coding.h"

namespace vantrove {

using namespace packet_coding;

bool FileIdLess(const Md5Digest& a, const Md5Digest& b) {
    for (int i = 15; i >= 0; --i) {
        if (a.bytes[i] != b.bytes[i]) return a.bytes[i] < b.bytes[i];
    }
    return false;
}

bool MainPacket::Build(uint64_t sliceSize, std::vector<Md5Digest> fileIds) {
    return Build(sliceSize, std::move(fileIds), {});
}

bool MainPacket::Build(uint64_t sliceSize, std::vector<Md5Digest> fileIds,
                       std::vector<Md5Digest> otherIds) {
    if (fileIds.size() + otherIds.size() > UINT32_MAX / 16) return false;
    std::stable_sort(fileIds.begin(), fileIds.end(), FileIdLess);
    std::stable_sort(otherIds.begin(), otherIds.end(), FileIdLess);
    const uint64_t length =
        kMainFileIdsOffset + 16 * uint64_t{fileIds.size() + otherIds.size()};
    if (!Allocate(length, PacketType::Main)) return false;
    StoreLe64(data() + kMainSliceSizeOffset, sliceSize);
    StoreLe32(data() + kMainFileCountOffset, static_cast<uint32_t>(fileIds.size()));
    for (size_t i = 0; i < fileIds.size(); ++i) {
        StoreDigest(data() + kMainFileIdsOffset + 16 * i, fileIds[i]);
    }
    for (size_t i = 0; i < otherIds.size(); ++i) {
        StoreDigest(data() + kMainFileIdsOffset + 16 * (fileIds.size() + i), otherIds[i]);
    }
    Seal(ComputeSetId());
    return true;
}

bool MainPacket::Read(DiskFile& file, uint64_t offset, const uint8_t* header) {
    bytes_.clear();
    const uint64_t length = LoadLe64(header + kPacketLengthOffset);
    if (length >= kMaxInMemoryPacketLength || length < kMainFileIdsOffset ||
        (length + 4) % 16 != 0) {
        return false;
    }
    if (!ReadWhole(file, offset, header)) return false;
    const uint64_t count = LoadLe32(data() + kMainFileCountOffset);
    if (length - kMainFileIdsOffset < 16 * count) {
        bytes_.clear();
        return false;
    }
    return true;
}

uint64_t MainPacket::sliceSize() const {
    return empty() ? 0 : LoadLe64(data() + kMainSliceSizeOffset);
}

uint32_t MainPacket::recoverableFileCount() const {
    return empty() ? 0 : LoadLe32(data() + kMainFileCountOffset);
}

Md5Digest MainPacket::fileId(uint32_t index) const {
    return LoadDigest(data() + kMainFileIdsOffset + 16 * size_t{index});
}

std::vector<Md5Digest> MainPacket::recoverableFileIds() const {
    std::vector<Md5Digest> ids(recoverableFileCount());
    for (uint32_t i = 0; i < ids.size(); ++i) ids[i] = fileId(i);
    return ids;
}

std::vector<Md5Digest> MainPacket::otherFileIds() const {
    std::vector<Md5Digest> ids;
    if (bytes_.size() < kMainFileIdsOffset) return ids;
    const size_t all = (bytes_.size() - kMainFileIdsOffset) / 16;
    for (size_t i = recoverableFileCount(); i < all; ++i) {
        ids.push_back(LoadDigest(data() + kMainFileIdsOffset + 16 * i));
    }
    return ids;
}

Md5Digest MainPacket::ComputeSetId() const {
    if (bytes_.size() < kMainFileIdsOffset) return Md5Digest{};
    return Md5Of(data() + kMainSliceSizeOffset, bytes_.size() - kMainSliceSizeOffset);
}

}  // namespace vantrove
