#include "engine/source_file_entry.h"

#include <algorithm>

namespace vantrove {

FoundPlace* SourceFileEntry::FindPlace(const DiskFile* file) {
    for (FoundPlace& place : foundIn) {
        if (place.file.get() == file) return &place;
    }
    return nullptr;
}

void SourceFileEntry::AddToPlace(const SetFileRef& file, uint32_t blocks) {
    if (!file) return;
    if (FoundPlace* place = FindPlace(file.get())) {
        place->blocks += blocks;
    } else {
        foundIn.push_back({file, blocks});
    }
}

bool SourceFileEntry::RemovePlace(const DiskFile* file) {
    auto it = std::find_if(foundIn.begin(), foundIn.end(),
                           [file](const FoundPlace& p) { return p.file.get() == file; });
    if (it == foundIn.end()) return false;
    foundIn.erase(it);
    return true;
}

uint32_t SourceFileEntry::MissingBlockCount() const {
    uint32_t missing = 0;
    for (const DataBlock& block : foundBlocks) {
        if (!block.file) ++missing;
    }
    return missing;
}

}  // namespace vantrove
