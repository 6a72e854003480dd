#include "ui/texts/repair_time_line.h"

#include <algorithm>
#include <cmath>

#include "core/string_ids.h"
#include "ui/texts/duration_texts.h"
#include "ui/texts/text_format.h"

namespace vantrove {

namespace {

constexpr double kMiB = 1024.0 * 1024.0;

bool StartsTiming(Activity activity) {
    return activity >= Activity::Renaming && activity <= Activity::Reverifying;
}

// Whole seconds from `start` to `now`, rounded up; the stamps wrap at 2^32.
uint64_t ElapsedSeconds(uint32_t start, uint32_t now) {
    return (static_cast<uint64_t>(static_cast<uint32_t>(now - start)) + 999) / 1000;
}

}  // namespace

bool RepairTimeLine::Shown(const RecoverySetStatus& status) {
    if (status.activity >= Activity::Renaming && status.activity <= Activity::Writing) return true;
    return status.activity == Activity::Idle && status.state == RecoveryState::Repaired;
}

double RepairTimeLine::averageSpeed() const {
    return denominator_ > 0 ? numerator_ / denominator_ : 0;
}

void RepairTimeLine::Start(uint32_t now) {
    timing_ = true;
    startTime_ = now;
    numerator_ = 0;
    denominator_ = 0;
    text_.clear();
}

bool RepairTimeLine::Update(const RecoverySetStatus& current, const RecoverySetStatus& previous) {
    std::string text = text_;
    if (StartsTiming(current.activity) && previous.activity == Activity::Idle && !timing_) {
        timing_ = true;
        startTime_ = current.timeStamp;
        numerator_ = 0;
        denominator_ = 0;
        text.clear();
    }

    if (current.activity == Activity::Recovering && previous.activity == Activity::Recovering) {
        // The same status sampled twice, or progress that went back (a new
        // pass), gives no speed sample.
        double dt = static_cast<uint32_t>(current.timeStamp - previous.timeStamp) / 1000.0;
        if (dt > 0 && current.progressPosition >= previous.progressPosition) {
            double momentary = (current.progressPosition - previous.progressPosition) / kMiB / dt;
            double w = std::pow(0.8, dt);
            numerator_ = w * numerator_ + (1 - w) * momentary;
            denominator_ = w * denominator_ + (1 - w);
        }
        double speed = averageSpeed();
        if (speed > 0) {
            uint64_t left = current.progressTotal > current.progressPosition
                                ? current.progressTotal - current.progressPosition
                                : 0;
            double remaining = left / kMiB / speed;
            uint64_t elapsed = timing_ ? ElapsedSeconds(startTime_, current.timeStamp) : 0;
            text =
                FormatText("%s / %s @ %s", {DurationText(remaining),
                                            DurationText(remaining + static_cast<double>(elapsed)),
                                            SpeedText(speed)});
        }
    }

    if (current.activity == Activity::Idle && current.state == RecoveryState::Repaired &&
        previous.state != RecoveryState::Repaired) {
        const uint32_t elapsedMs =
            timing_ ? static_cast<uint32_t>(current.timeStamp - startTime_) : 0;
        // Without samples of the recovering phase (a short repair, or one
        // that only renamed or joined files) the speed is the set's data
        // over the whole time of the job.
        double speed = averageSpeed();
        if (!(speed > 0) && timing_)
            speed = static_cast<double>(current.totalSourceSize) / kMiB /
                    (std::max<uint32_t>(elapsedMs, 1) / 1000.0);
        text = FormatString(kStrRepairSucceededIn,
                            {DurationText(ElapsedSeconds(0, elapsedMs)), SpeedText(speed)});
        timing_ = false;
    } else if (current.activity == Activity::Idle && StartsTiming(previous.activity) &&
               current.state != RecoveryState::Repaired) {
        timing_ = false;  // the repair ended without success: nothing to time
    }

    if (text == text_) return false;
    text_ = std::move(text);
    return true;
}

}  // namespace vantrove
