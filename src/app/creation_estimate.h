#pragma once
// The speed and time estimate of a creation job, as its progress dialog and
// `vantrove-cli create` show them while recovery data are computed.
//
// Each record of the computing phase that follows another one of that phase
// with a later tick gives a momentary speed (MiB over the seconds between
// the two); the shown speed is their average weighted by 0.9 to the power of
// each sample's age in seconds, so a momentary stall or burst moves it only
// a little. The remaining time is the bytes still to compute at that speed,
// the total time that plus the time since the start, both in whole seconds.
//
// Owned by one progress display and used on its thread only.

#include <cstdint>

#include "create/creation_status.h"

namespace vantrove {

class CreationEstimate {
  public:
    // `startTick`: the steady-clock milliseconds when the job started.
    explicit CreationEstimate(uint64_t startTick) : startTick_(startTick) {}

    // Takes the record of one tick (of any phase). True when it gave a new
    // estimate: a sample of the computing phase with a speed above 0.
    bool Update(const CreationStatus& status);

    // Smoothed speed in MiB per second; 0 before the first sample.
    double speed() const;
    // Of the last new estimate: whole seconds still to go, and the whole
    // job's seconds (elapsed and remaining).
    uint64_t remainingSeconds() const { return remainingSeconds_; }
    uint64_t totalSeconds() const { return totalSeconds_; }

  private:
    uint64_t startTick_;
    CreationStatus previous_;  // the record taken last
    bool havePrevious_ = false;
    double weights_ = 0;      // weights seen so far (tends to 1)
    double weightedSum_ = 0;  // weighted sum of momentary speeds
    uint64_t remainingSeconds_ = 0;
    uint64_t totalSeconds_ = 0;
};

}  // namespace vantrove
