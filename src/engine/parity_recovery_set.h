#pragma once
// ParityRecoverySet: the common base of the two parity formats (PAR1, PAR2).
//
// It holds the repair that both formats share: rename, prepare the targets,
// let the format compute the missing data, verify what was written and clean
// up. The format supplies the two steps that differ: which files a successful
// repair may delete, and the rebuild itself.
//
// It is also the BlockProgressSink of the Reed-Solomon computation: block
// progress becomes the status record's progress and is handed to the
// observer like any other status change. Used on the verification worker
// only.

#include <cstdint>
#include <vector>

#include "engine/recovery_set.h"
#include "rs/block_progress_sink.h"

namespace vantrove {

class ParityRecoverySet : public RecoverySet, public BlockProgressSink {
  public:
    using RecoverySet::RecoverySet;

    // In a partly joinable or repairable set: renames what only needs a new
    // name; unless renaming was all that was needed, prepares the targets,
    // rebuilds them (RebuildTargets), verifies them again and, on success,
    // deletes what the repair options allow among CleanUpCandidates. A
    // failed or cancelled rebuild leaves no target behind.
    void Repair() override;

    // Progress position `done` of `total` blocks, then NotifyStatus.
    void SetBlockProgress(uint32_t done, uint32_t total) override;

  protected:
    // The files that a successful repair may delete, gathered before
    // anything is renamed, by the state the repair began in. The clean-up
    // itself keeps targets and intact copies.
    virtual std::vector<SetFileRef> CleanUpCandidates(RecoveryState state,
                                                       SubState subState) const = 0;
    // Writes the missing data into the prepared `targets` (opened and sized,
    // their target blocks mapped). False on a failure (recorded); `cancelled`
    // when the stop flag ended it.
    virtual bool RebuildTargets(RecoveryState state, const std::vector<SourceFileEntry*>& targets,
                                bool& cancelled) = 0;
};

}  // namespace vantrove
