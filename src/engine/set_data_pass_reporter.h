#pragma once
// SetDataPassReporter: the data pass of a rebuild, reporting into a set.
//
// The repair of a parity set creates one for the length of a rebuild and
// hands it to RunDataPass: activities, progress and errors of the pass land in
// the set's status record and reach the observer like every other status
// change; the pass polls the set's stop flag. Kept apart from the set classes
// so that the names of the reporter's operations do not mix with the set's
// own. Used on the verification worker; only StopFlag() is read by the pass's
// helper threads.

#include <atomic>
#include <cstdint>
#include <string>

#include "rs/data_pass_reporter.h"

namespace vantrove {

class RecoverySet;

class SetDataPassReporter : public DataPassReporter {
  public:
    explicit SetDataPassReporter(RecoverySet& set) : set_(set) {}

    // Activity of the status record; a non-zero `textId` makes that string
    // the current-file text. Then NotifyStatus.
    void SetActivity(int32_t activity, uint32_t textId) override;
    // Progress of the status record, then NotifyStatus.
    void SetProgress(uint64_t position, uint64_t total) override;
    // Error kind, system error code and file of the status record.
    void RecordError(int32_t kind, uint32_t systemErrorCode, const std::string& filePath) override;
    const std::atomic<uint32_t>* StopFlag() const override;

  private:
    RecoverySet& set_;
};

}  // namespace vantrove
