#pragma once
// The status record of a creation job and the shared slot that carries it
// from the job's worker thread to whoever shows its progress.
//
// The job writes the record under the slot's lock (stamping the tick of the
// write); the progress dialog or the command line copies it out under the
// same lock and never touches the job's other data.

#include <cstdint>
#include <mutex>
#include <string>

namespace vantrove {

// What a creation job is doing; the numbers are those of the status record.
enum CreationPhase : int {
    kPhaseNone = 0,
    kPhaseHashing = 1,  // hashing a source file (name given)
    kPhaseMemoryTest = 2,
    kPhaseMatrix = 3,          // computing the coding matrix
    kPhaseComputing = 4,       // computing recovery data
    kPhaseWriting = 5,         // writing the recovery data of a pass
    kPhaseVerifySplit = 6,     // verifying a split piece (name given)
    kPhaseReverifySource = 7,  // re-verifying a source file (name given)
    kPhaseVerifyOutput = 8,    // verifying a written recovery file (name given)
    kPhaseFailed = 9,          // the failure given
    kPhaseFinished = 10,
};

// Why a creation job failed; the numbers are those of the status record.
enum CreationFailure : int {
    kFailNone = 0,
    kFailNoSourceFiles = 1,
    kFailNoSourceBlocks = 2,
    kFailMatrixMemory = 3,
    kFailDescriptionPacket = 4,
    kFailSliceCount = 5,
    kFailCreateOutput = 6,
    kFailSizeOutput = 7,
    kFailOutputBuffer = 8,
    kFailRsComputation = 9,
    kFailReadSource = 10,
    kFailWriteData = 11,
    kFailWriteHeader = 12,
    kFailWriteCritical = 13,
    kFailBlockSignature = 14,
    kFailMemoryError = 15,
    kFailPar2Verify = 16,
    kFailDataVerify = 17,
    // Another repair or creation holds the lock on the output folder; the
    // job did not start.
    kFailBusy = 18,
};

struct CreationStatus {
    CreationPhase phase = kPhaseNone;
    uint64_t tick = 0;  // milliseconds of the steady clock at the last write
    CreationFailure failureCode = kFailNone;  // with kPhaseFailed
    std::string fileName;
    uint64_t done = 0;
    uint64_t total = 0;
};

// Milliseconds of the steady clock.
uint64_t CreationTickCount();

class CreationStatusSlot {
  public:
    // Replaces the record, stamping the current tick.
    void Set(CreationStatus status);
    // Changes only the progress of the current phase.
    void SetProgress(uint64_t done, uint64_t total);
    CreationStatus Snapshot() const;

  private:
    mutable std::mutex mutex_;
    CreationStatus status_;
};

// The message shown for a failure ("Fallito" for an unknown one).
std::string CreationFailureMessage(CreationFailure failure);

}  // namespace vantrove
