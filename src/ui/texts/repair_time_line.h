#pragma once
// RepairTimeLine: the verify/repair dialog's time and speed line.
//
// Fed with the status of every refresh tick and the status of the tick
// before, it times a repair from its first busy status after an idle one,
// keeps an exponentially weighted average of the data speed while recovery
// blocks are computed, and words the line: "remaining / whole @ speed" while
// recovering, "Riparazione riuscita in <time> @ <speed>" once the set is
// repaired. Owned by the dialog and used on its thread only.

#include <cstdint>
#include <string>

#include "engine/recovery_set_status.h"

namespace vantrove {

class RepairTimeLine {
  public:
    // Whether the line is shown: during the repair's own activities (renaming
    // to writing) and while idle in the repaired state.
    static bool Shown(const RecoverySetStatus& status);

    // The user asked for a repair at `now` (the clock of the status time
    // stamps): the job is timed from here, so that a repair over before the
    // first tick sampled it busy still has its time.
    void Start(uint32_t now);

    // Takes one tick's status and the previous tick's. Returns true when the
    // text changed.
    bool Update(const RecoverySetStatus& current, const RecoverySetStatus& previous);

    const std::string& text() const { return text_; }
    // The average speed so far in MiB per second; 0 before the first sample.
    double averageSpeed() const;

  private:
    bool timing_ = false;     // a repair was asked for or seen to start
    uint32_t startTime_ = 0;  // its status time stamp
    double numerator_ = 0;    // weighted sum of momentary speeds
    double denominator_ = 0;  // sum of their weights
    std::string text_;
};

}  // namespace vantrove
