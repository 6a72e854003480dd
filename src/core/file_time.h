#pragma once
// File times as 64-bit counts of 100 ns since 1601-01-01 UTC, the form in
// which the verification cache stores them.

#include <cstdint>
#include <ctime>

namespace vantrove {

using FileTime = uint64_t;

// 100-ns intervals between 1601-01-01 and 1970-01-01.
constexpr uint64_t kFileTimeUnixEpoch = 116444736000000000ULL;

inline FileTime FileTimeFromUnix(int64_t seconds, uint32_t nanoseconds) {
    return kFileTimeUnixEpoch + static_cast<uint64_t>(seconds) * 10000000ULL + nanoseconds / 100;
}

// The current time in the same form.
FileTime CurrentFileTime();

}  // namespace vantrove
