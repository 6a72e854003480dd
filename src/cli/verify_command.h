#pragma once
// `vantrove-cli verify FILE [--json]`: opens the set that FILE belongs to,
// scans its folder and reports what is intact, damaged, misnamed or missing.

#include <string>

#include "engine/stop_flag.h"

namespace vantrove::cli {

// Exit codes of the verify command.
enum ExitCode : int {
    kAllVerified = 0,       // set state 5 or 6
    kRepairPossible = 1,    // set state 3 or 4
    kRepairImpossible = 2,  // set state 1 or 2
    kError = 3,             // bad arguments, unreadable file, unknown name
    kStopped = 8,           // stopped by SIGINT or SIGTERM (also for repair and create)
};

struct VerifyOptions {
    std::string path;
    bool json = false;
    bool progress = false;  // draw a progress line on stderr
    // Take files whose size and times are unchanged from the verification
    // cache instead of reading them again.
    bool cached = false;
};

// Runs the command; prints the report on stdout and problems on stderr.
int RunVerify(const VerifyOptions& options, const StopFlag* stop);

}  // namespace vantrove::cli
