#include "par2/packet_group.h"

#include "par2/packet_coding.h"

namespace vantrove {

uint64_t SliceCountFor(uint64_t length, uint64_t sliceSize) {
    if (sliceSize == 0) return 0;
    return length / sliceSize + (length % sliceSize != 0 ? 1 : 0);
}

uint32_t PacketGroup::BucketOf(const Md5Digest& id) {
    return packet_coding::LoadLe32(id.bytes.data()) % 17;
}

bool PacketGroup::IsComplete() {
    if (!main || main->recoverableFileCount() == 0) return false;
    const uint64_t sliceSize = main->sliceSize();
    if (sliceSize == 0 || sliceSize % 4 != 0) return false;
    bool complete = true;
    for (uint32_t i = 0; i < main->recoverableFileCount(); ++i) {
        auto it = files.find(main->fileId(i));
        if (it == files.end() || !it->second.description || !it->second.checksums) {
            complete = false;
            continue;
        }
        const Par2FileRecord& record = it->second;
        if (record.checksums->sliceCount() !=
            SliceCountFor(record.description->fileLength(), sliceSize)) {
            files.erase(it);
            complete = false;
        }
    }
    return complete;
}

uint32_t PacketGroup::RemoveSlicesOf(const DiskFile* file) {
    uint32_t removed = 0;
    for (auto it = slices.begin(); it != slices.end();) {
        if (it->second->data().file.get() == file) {
            it = slices.erase(it);
            ++removed;
        } else {
            ++it;
        }
    }
    return removed;
}

bool PacketGroup::HasSlicesOf(const DiskFile* file) const {
    for (const auto& [exponent, slice] : slices) {
        if (slice->data().file.get() == file) return true;
    }
    return false;
}

}  // namespace vantrove
