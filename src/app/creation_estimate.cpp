#include "app/creation_estimate.h"

#include <cmath>
#include <cstdint>

namespace vantrove {
namespace {

constexpr double kMiB = 1048576.0;

// Whole seconds of a non-negative duration, saturated for absurd speeds.
uint64_t WholeSeconds(double seconds) {
    if (!(seconds > 0)) return 0;
    if (seconds >= 18446744073709549568.0) return UINT64_MAX;
    return static_cast<uint64_t>(seconds);
}

}  // namespace

double CreationEstimate::speed() const {
    return weights_ > 0 ? weightedSum_ / weights_ : 0;
}

bool CreationEstimate::Update(const CreationStatus& status) {
    const bool sample = havePrevious_ && status.phase == kPhaseComputing &&
                        previous_.phase == kPhaseComputing && status.tick > previous_.tick;
    const CreationStatus previous = previous_;
    previous_ = status;
    havePrevious_ = true;
    if (!sample) return false;
    const double d = static_cast<double>(status.tick - previous.tick) * 0.001;
    // Progress never runs backwards within a phase; a record that says so
    // counts as no progress rather than a negative speed.
    const uint64_t advanced = status.done > previous.done ? status.done - previous.done : 0;
    const double momentary = static_cast<double>(advanced) / kMiB / d;
    const double w = std::pow(0.9, d);
    weights_ = 1 - w + w * weights_;
    weightedSum_ = w * weightedSum_ + (1 - w) * momentary;
    const double s = speed();
    if (!(s > 0) || !std::isfinite(s)) return false;  // no estimate from a standstill
    const uint64_t left = status.total > status.done ? status.total - status.done : 0;
    remainingSeconds_ = WholeSeconds(static_cast<double>(left) / kMiB / s);
    const uint64_t elapsed = (status.tick > startTick_ ? status.tick - startTick_ : 0) / 1000;
    totalSeconds_ =
        remainingSeconds_ > UINT64_MAX - elapsed ? UINT64_MAX : remainingSeconds_ + elapsed;
    return true;
}

}  // namespace vantrove
