#pragma once
// ParityRecoverySet: the common base of the two parity formats (PAR1, PAR2).
//
// Besides being a RecoverySet it is the BlockProgressSink of the
// Reed-Solomon computation: block progress becomes the status record's
// progress and is handed to the observer like any other status change. Used
// on the verification worker only.

#include <cstdint>

#include "engine/recovery_set.h"
#include "rs/block_progress_sink.h"

namespace vantrove {

class ParityRecoverySet : public RecoverySet, public BlockProgressSink {
  public:
    using RecoverySet::RecoverySet;

    // Progress position `done` of `total` blocks, then NotifyStatus.
    void SetBlockProgress(uint32_t done, uint32_t total) override;
};

}  // namespace vantrove
