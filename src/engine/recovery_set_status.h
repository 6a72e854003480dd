#pragma once
// RecoverySetStatus: the status record of a loaded set.
//
// Every RecoverySet keeps one and hands a copy of the whole record to its
// observer; the dialog derives every status text and progress bar from that
// copy. The set writes it on the verification worker only; readers on other
// threads see copies made by the observer under its own lock.

#include <cstdint>
#include <string>

namespace vantrove {

// Which format a set is. Fixed when the set is constructed.
enum class FormatKind : int32_t { None = 0, Par1 = 1, Par2 = 2, Md5 = 3, Sfv = 4 };

// What went wrong in the last repair. Any value not listed here means that
// the repair failed for another reason.
enum class ErrorKind : int32_t {
    None = 0,
    Rename = 1,        // a file could not be renamed
    CreateTarget = 2,  // a target file could not be created or extended
    Open = 3,          // a file could not be opened
    ReedSolomon = 4,   // the coefficient matrix could not be computed
    MemoryTest = 5,    // the memory test found an error
    Read = 6,          // a file could not be read
    Write = 7,         // a file could not be written
    Signature = 8,     // computed data failed its checksum (probable memory error)
    VerifyFailed = 9,  // a rebuilt file failed its verification
    Cancelled = 10,    // the user cancelled the repair
    Busy = 11,         // another job holds the lock on the set's folder
};

// The state of the whole set, recomputed from the counters by UpdateState.
enum class RecoveryState : int32_t {
    NothingLoaded = 0,
    NeedMoreVolumes = 1,
    Incomplete = 2,
    PartlyJoinable = 3,
    RepairPossible = 4,
    Repaired = 5,
    AllVerified = 6,
};

// Refines PartlyJoinable and RepairPossible; None in every other state.
enum class SubState : int32_t { None = 0, NeedRecoveryBlocks = 1, CanJoin = 2, RenameOnly = 3 };

// What the set is doing right now; the window title and the status line
// follow it.
enum class Activity : int32_t {
    Idle = 0,
    LoadingVolume = 1,
    VerifyingDataFile = 2,
    ScanningFile = 3,
    CheckingFile = 4,
    SearchingNewFiles = 5,
    Renaming = 6,
    ComputingMatrix = 7,
    MemoryTest = 8,
    Recovering = 9,
    Writing = 10,
    Reverifying = 11,
};

// The state of one source file, numbered from 0 in this order. The numbers
// are stored and shown; keep them.
enum class FileState : int32_t { Unverified, Missing, Complete, Misnamed, Damaged };

struct RecoverySetStatus {
    FormatKind formatKind = FormatKind::None;
    ErrorKind errorKind = ErrorKind::None;
    uint32_t systemErrorCode = 0;  // errno at the failure
    std::string errorFile;         // path of the file that failed
    RecoveryState state = RecoveryState::NothingLoaded;
    SubState subState = SubState::None;
    Activity activity = Activity::Idle;
    std::string creatorText;  // program that made the set, once its files tell
    std::string setName;      // name under which the set is shown
    std::string currentFile;  // path (or short text) the activity works on
    uint64_t progressPosition = 0;
    uint64_t progressTotal = 0;
    uint64_t blockSize = 0;
    uint32_t totalDataBlocks = 0;  // source blocks; 0 while no file is described
    uint64_t totalSourceSize = 0;
    int32_t sourceFileCount = 0;
    int32_t recoveryBlocksAvailable = 0;  // PAR1: one per recovery volume
    int32_t dataBlocksAvailable = 0;      // source blocks found intact on disk
    // File-state counters, one per FileState.
    int32_t damagedFiles = 0;
    int32_t misnamedFiles = 0;
    int32_t missingFiles = 0;
    int32_t completeFiles = 0;
    int32_t unverifiedFiles = 0;
    int32_t joinableFiles = 0;  // not complete, not misnamed, every block found
    uint32_t timeStamp = 0;     // milliseconds since system start at the last hand-over
    // Work files of an interrupted job in the set's folder; the next repair
    // there removes them.
    int32_t leftoverFiles = 0;
    // Another repair or creation holds the set's folder now: work files
    // there are its own, not leftovers.
    bool otherJobWorking = false;

    // The counter that belongs to `state`.
    int32_t& CounterFor(FileState state);
    int32_t CounterFor(FileState state) const;
};

// Milliseconds since an arbitrary fixed point (system start), wrapping at 2^32;
// the clock of RecoverySetStatus::timeStamp.
uint32_t TickCountMs();

}  // namespace vantrove
