#pragma once
// The command line's own texts. The desktop program speaks Italian through
// the string table; the command line speaks English throughout, so the
// texts it shares with the dialogs (durations, speeds, the phases of a
// creation, failures) are worded here. Pure functions; any thread.

#include <cstdint>
#include <string>

#include "engine/recovery_set_status.h"

namespace vantrove::cli {

// "5 seconds", "2 minutes, 5 seconds", "1 hour, 3 minutes".
std::string EnglishDuration(uint64_t seconds);

// "134 MB/s" above 10 MiB/s, "2.5 MB/s" from 1, "300 KB/s" below.
std::string EnglishSpeed(double mibPerSecond);

// The speed of a whole job: its bytes over its milliseconds (at least one).
double JobSpeed(uint64_t bytes, uint64_t milliseconds);

// What a creation job is doing in phase `phase` (creation_status.h), or
// empty for a phase without a text of its own.
std::string EnglishCreationPhase(int phase);

// Why a creation failed, by its failure code.
std::string EnglishCreationFailure(int code);

// Why a repair failed, with the failing file's name and the system's reason
// where the kind names a file; empty for ErrorKind::None.
std::string EnglishRepairError(ErrorKind kind, uint32_t systemErrorCode,
                               const std::string& errorFile);

}  // namespace vantrove::cli
