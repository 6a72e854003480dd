#pragma once
// SetObserver: how a loaded set reports to whoever shows it.
//
// The verify/repair dialog implements it; tests and the command line have
// their own. Every operation is called on the verification worker thread and
// must copy what it is given before handing it to another thread: the set and
// its files may change as soon as the call returns.

#include <cstdint>
#include <string>
#include <vector>

#include "engine/set_file.h"
#include "engine/recovery_set_status.h"

namespace vantrove {

// The kind of line shown for a source file.
// Numbered from 0 in this order.
enum class SourceRowKind : int32_t { Complete, Misnamed, Damaged, Missing, NotVerified, Repaired };

// The display code of a volume or checksum file line.
enum class VolumeDisplayCode : int32_t {
    Used = 0,     // read and used
    Damaged = 1,  // found damaged
    NotRead = 2,  // not read yet
    Unused = 3,   // nothing of it could be used for this set
};

// One file holding blocks of a source file, as shown under its line.
struct SourcePlace {
    std::string path;
    uint32_t blockCount = 0;
    uint64_t size = 0;  // the file's size
    int readError = 0;  // errno of a read of it that failed when it was verified, else 0
};

class SetObserver {
  public:
    virtual ~SetObserver() = default;
    // Adds or refreshes the line of a volume or checksum file: its path, size,
    // blocksTaken and VolumeDisplayCodeOf(file).
    virtual void ReportVolumeFile(const SetFile& file) = 0;
    // Removes the line of that file.
    virtual void RemoveVolumeFile(const SetFile& file) = 0;
    // Takes a copy of the whole status record.
    virtual void StatusChanged(const RecoverySetStatus& status) = 0;
    // Adds or refreshes the line of one source file; `places` is sorted by path.
    virtual void ReportSourceFileLine(SourceRowKind rowKind, FormatKind formatKind,
                                      const std::string& name, uint64_t size, uint32_t blockCount,
                                      const std::vector<SourcePlace>& places) = 0;
    // Forgets every line: a new set replaces the old one.
    virtual void ClearLists() = 0;
};

// The display code for a volume file. A volume's verification result is its
// read state: NotVerified not read yet, Missing could not be opened, NotIntact
// read. A file that was not read shows as such; otherwise its unused and
// damaged flags decide.
VolumeDisplayCode VolumeDisplayCodeOf(const SetFile& file);

}  // namespace vantrove
