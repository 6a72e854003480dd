#pragma once
// Durations and speeds as the progress and verify/repair dialogs word them:
// "%d ore, %d minuti", "%d minuti, %d secondi", "%d secondi"; "%0.0f MB/s",
// "%0.1f MB/s", "%0.0f KB/s". Pure functions over the string table; any
// thread.

#include <cstdint>
#include <string>

namespace vantrove {

// Hours and minutes when there is at least one hour, minutes and seconds
// when there is at least one minute, otherwise seconds. Negative or
// non-finite values count as 0; a duration too long to count in hours stops
// at the largest count of hours.
std::string DurationText(double seconds);
std::string DurationText(uint64_t seconds);

// A speed in MiB per second: whole MB/s above 10, tenths from 1 to 10, whole
// KB/s below 1. Negative or non-finite speeds count as 0.
std::string SpeedText(double mibPerSecond);

}  // namespace vantrove
