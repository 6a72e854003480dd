#pragma once
// SetFile: a file on disk as a loaded set sees it.
//
// Every file a set looks at (its targets, the other data files in which it
// found blocks, its volumes and checksum files) is a SetFile: the DiskFile
// through which it is read and written, plus what the set learned of it.
// The set's lists share these objects; the data blocks of the set-wide block
// tables point at them as plain DiskFiles (SetFileOf gives the record back).
// Used by the verification worker only.

#include <cstdint>
#include <memory>

#include "core/disk_file.h"

namespace vantrove {

struct SourceFileEntry;

// What a file is to the set that found it. The numbers are stored in saved
// states; keep them.
enum class FileKind : uint8_t {
    None = 0,
    Target = 1,     // target of a source file
    OtherData = 2,  // other data file
    Volume = 3,     // recovery volume or checksum file
};

// Outcome of verifying a file. Stored in saved states; keep the numbers.
enum class VerifyResult : uint8_t {
    NotVerified = 0,
    Missing = 1,
    NotIntact = 2,
    IntactCopy = 3,
};

struct SetFileFlags {
    bool misnamed = false;
    bool damaged = false;
    bool outOfVolumeList = false;  // kept out of the volume list
    bool repaired = false;
    bool formatFlag = false;  // one further flag a format may use
    bool unused = false;

    bool operator==(const SetFileFlags&) const = default;
};

class SetFile : public DiskFile {
  public:
    using DiskFile::DiskFile;

    FileKind kind = FileKind::None;
    // Follows the file's existence on its own: NotVerified once it is
    // created anew, Missing when an open or a removal finds no file.
    VerifyResult result = VerifyResult::NotVerified;
    SetFileFlags flags;
    uint32_t blocksTaken = 0;       // found blocks of the set that lie in this file
    // Packets of a volume that were first read from it by its last reading
    // (recovery slices included); copies of packets read before count not.
    uint32_t packetsAdded = 0;
    uint32_t sourceBlockCount = 0;  // block count of the source file it is the target of
    SourceFileEntry* sourceFile = nullptr;  // the entry it is the target of; not owned
    // The errno of a read that failed when the file was last verified, else
    // 0. Such a file is damaged: the blocks that could be read count, the
    // others are missing. Not kept in saved states, so that the file is read
    // again (and the error seen again) by the next verification.
    int readError = 0;

  protected:
    void PresenceChanged(Presence presence) override;
};

using SetFileRef = std::shared_ptr<SetFile>;

// The set's record of a file held by one of its data blocks. REQUIRES: the
// file is one the set created (every file the set hands to its block tables).
inline SetFile& SetFileOf(const DiskFile& file) {
    return static_cast<SetFile&>(const_cast<DiskFile&>(file));
}
inline SetFileRef SetFileOf(const DiskFileRef& file) {
    return std::static_pointer_cast<SetFile>(file);
}

}  // namespace vantrove
