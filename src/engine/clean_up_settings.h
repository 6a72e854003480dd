#pragma once
// CleanUpSettings: what a successful repair removes afterwards.
//
// A copy of the three clean-up options of the user's settings, handed to a
// set by whoever drives it (the verification worker, the command line), so
// that the engine does not depend on the settings store. Plain value.

namespace vantrove {

struct CleanUpSettings {
    // Delete the damaged data files that the repair no longer needs.
    bool deleteDamagedFiles = true;
    // Delete the recovery volumes after a successful repair.
    bool deleteRecoveryFiles = false;
    // Deleted files go to the user's trash rather than away for good.
    bool useRecycleBin = true;
};

}  // namespace vantrove
