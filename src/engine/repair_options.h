#pragma once
// RepairOptions: what the driver of a set tells it about a repair.
//
// A copy of the clean-up options of the user's settings and of the machine's
// memory size and cores, handed to a set by whoever drives it (the
// verification worker, the command line; both make it with RepairOptionsFrom
// in app/set_session.h), so that the engine does not depend on the settings
// store or the application object. Plain value.

#include <cstdint>
#include <string>
#include <vector>

namespace vantrove {

struct RepairOptions {
    // Delete the damaged data files that the repair no longer needs.
    bool deleteDamagedFiles = true;
    // Delete the recovery volumes after a successful repair.
    bool deleteRecoveryFiles = false;
    // Deleted files go to the user's trash rather than away for good.
    bool useRecycleBin = true;
    // Physical memory of the machine, of which a rebuild uses a third; 0
    // asks the system (128 MiB when it does not say).
    uint64_t physicalMemoryBytes = 0;
    // Threads of the rebuild's multiply-accumulate; 0 takes one per core.
    uint32_t threads = 0;
    // Files found under names that neither the set nor the driver gave are
    // only read: an intact copy among them is copied to its file's name
    // rather than moved there, and none of them is renamed or deleted.
    bool moveOnlyNamedFiles = false;
    // With moveOnlyNamedFiles, the further files the driver was given
    // (absolute paths): these may be moved like the set's own.
    std::vector<std::string> namedFiles{};
};

}  // namespace vantrove
