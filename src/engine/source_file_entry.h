#pragma once
// SourceFileEntry: one file that a set protects.
//
// It holds the format's descriptions of the file, where each of its blocks was
// found, where each block is to be written during a rebuild, the file on disk
// under its own name (the target), an intact copy if one was found, the files
// in which its blocks were found (its places), and its state. Entries belong to
// their RecoverySet and are touched by the verification worker only. The
// block tables are slices of the set's set-wide arrays, handed out by
// RecoverySet::FinishLoading; they stay valid as long as the set keeps them.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/data_block.h"
#include "core/disk_file.h"
#include "engine/set_file.h"
#include "engine/file_description.h"
#include "engine/recovery_set_status.h"

namespace vantrove {

// One file holding blocks of an entry, with the number of such blocks.
struct FoundPlace {
    SetFileRef file;
    uint32_t blocks = 0;
};

struct SourceFileEntry {
    // The format's descriptions, by DescriptionSlot; only the set's own format
    // fills its slots.
    std::array<FileDescriptionRef, kDescriptionSlotCount> descriptions;

    std::string name;        // stored name, a path relative to the set's folder
    std::string targetPath;  // the set's folder + name, made unique in the set
    uint64_t size = 0;       // file size from the description
    uint32_t blockCount = 0;
    uint32_t firstBlock = 0;  // index of block 0 in the set-wide arrays

    std::span<DataBlock> foundBlocks;   // where an intact copy of each block lies
    std::span<DataBlock> targetBlocks;  // where each block goes during a rebuild

    SetFileRef targetFile;           // the file under the entry's own name, existing or not
    SetFileRef completeCopy;         // a file holding an intact copy of the whole file
    std::vector<FoundPlace> foundIn;  // files in which blocks were found

    bool joinable = false;  // not complete, not misnamed, no block missing
    // The name may not be written to: it is not a safe path below the set's
    // folder, or it names one of the set's own recovery files. Such a file
    // is verified where it lies inside the folder, but never created,
    // renamed or rebuilt.
    bool unusableName = false;
    bool dirty = false;     // changed since last reported
    FileState state = FileState::Unverified;

    const FileDescriptionRef& Description(DescriptionSlot slot) const {
        return descriptions[static_cast<int>(slot)];
    }
    FileDescriptionRef& Description(DescriptionSlot slot) {
        return descriptions[static_cast<int>(slot)];
    }

    // The place entry for `file`, or nullptr.
    FoundPlace* FindPlace(const DiskFile* file);
    // Adds `blocks` to the count of `file`, listing it first if needed.
    void AddToPlace(const SetFileRef& file, uint32_t blocks);
    // Drops `file` from the places; true if it was listed.
    bool RemovePlace(const DiskFile* file);
    // Number of blocks without a found location.
    uint32_t MissingBlockCount() const;
};

}  // namespace vantrove
