#pragma once
// `vantrove-cli repair FILE [--json] [--keep-damaged] [--delete-recovery]
// [--no-trash]`: opens the set that FILE belongs to, scans its folder,
// repairs it as far as its state allows (renaming, joining, rebuilding),
// and reports the outcome. What the repair deletes afterwards follows the
// user's settings (DeleteDamagedFiles, DeleteRecoveryFiles, UseRecycleBin),
// which the three options override for one run.

#include <string>
#include <vector>

#include "engine/stop_flag.h"

namespace vantrove::cli {

// Exit codes of the repair command.
enum RepairExitCode : int {
    kRepairedOrIntact = 0,  // repaired, or nothing to repair
    kNotEnoughData = 2,     // the set cannot be (fully) repaired
    kRepairError = 3,       // bad arguments, unreadable file, or a failed repair
    kRepairStopped = 8,     // stopped by SIGINT or SIGTERM; files as they were
};

struct RepairCommandOptions {
    std::string path;
    bool json = false;
    bool progress = false;
    bool keepDamaged = false;     // never delete damaged files
    bool deleteRecovery = false;  // delete the recovery volumes after success
    bool noTrash = false;         // delete for good instead of into the trash
    bool cached = false;          // trust the verification cache for unchanged files
    bool wait = false;            // wait while another job works in the set's folder
};

// Reads the options after the command word; false (with a message on
// stderr) for an unknown option or a missing or second FILE.
bool ParseRepairArguments(const std::vector<std::string>& args, RepairCommandOptions& options);

// Runs the command; prints the report on stdout and problems on stderr.
int RunRepair(const RepairCommandOptions& options, const StopFlag* stop);

// Parses, then runs (progress on stderr when it is a terminal).
int RunRepairCommand(const std::vector<std::string>& args, const StopFlag* stop);

}  // namespace vantrove::cli
