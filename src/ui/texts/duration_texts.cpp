#include "ui/texts/duration_texts.h"

#include <cmath>
#include <limits>

#include "core/string_ids.h"
#include "ui/texts/text_format.h"

namespace vantrove {

namespace {

// The longest duration shown: as many hours as a 32-bit count holds.
constexpr uint64_t kMaxSeconds =
    static_cast<uint64_t>(std::numeric_limits<int32_t>::max()) * 3600 + 3599;

}  // namespace

std::string DurationText(uint64_t seconds) {
    if (seconds > kMaxSeconds) seconds = kMaxSeconds;
    int hours = static_cast<int>(seconds / 3600);
    int minutes = static_cast<int>(seconds / 60 % 60);
    int secs = static_cast<int>(seconds % 60);
    if (hours > 0) return FormatString(kStrDurationHoursMinutes, {hours, minutes});
    if (minutes > 0) return FormatString(kStrDurationMinutesSeconds, {minutes, secs});
    return FormatString(kStrDurationSeconds, {secs});
}

std::string DurationText(double seconds) {
    if (!(seconds > 0)) return DurationText(uint64_t{0});  // also NaN
    if (seconds >= static_cast<double>(kMaxSeconds)) return DurationText(kMaxSeconds);
    return DurationText(static_cast<uint64_t>(seconds));
}

std::string SpeedText(double mibPerSecond) {
    if (!std::isfinite(mibPerSecond) || mibPerSecond < 0) mibPerSecond = 0;
    if (mibPerSecond > 10) return FormatString(kStrSpeedMBsWhole, {mibPerSecond});
    if (mibPerSecond >= 1) return FormatString(kStrSpeedMBsTenths, {mibPerSecond});
    return FormatString(kStrSpeedKBs, {mibPerSecond * 1024});
}

}  // namespace vantrove
