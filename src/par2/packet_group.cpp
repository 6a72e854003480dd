#include "par2/packet_group.h"

#include "par2/packet_coding.h"

namespace vantrove {

namespace {
constexpr size_t kMaxRecordedLookups = 1u << 20;
}  // namespace

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
            lookups_.clear();
            replayAt_ = 0;
            lastValid_ = false;
            files.erase(it);
            complete = false;
        }
    }
    return complete;
}

Par2FileRecord* PacketGroup::FindFile(const Md5Digest& id) {
    if (lastValid_ && last_->first == id) return &last_->second;
    FileIterator it;
    if (replayAt_ < lookups_.size() && lookups_[replayAt_]->first == id) {
        it = lookups_[replayAt_++];
    } else {
        it = files.find(id);
        if (it == files.end()) return nullptr;
        const uint32_t at = it->second.lookupIndex;
        if (at < lookups_.size() && lookups_[at] == it) {
            replayAt_ = at + 1;
        } else if (lookups_.size() < kMaxRecordedLookups) {
            it->second.lookupIndex = static_cast<uint32_t>(lookups_.size());
            lookups_.push_back(it);
            replayAt_ = lookups_.size();
        }
    }
    last_ = it;
    lastValid_ = true;
    return &it->second;
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
