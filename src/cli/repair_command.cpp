#include "cli/repair_command.h"

#include <unistd.h>

#include <cstdio>
#include <memory>

#include "app/settings.h"
#include "cli/cli_observer.h"
#include "cli/english_texts.h"
#include "cli/flag_arguments.h"
#include "cli/set_report.h"
#include "cli/terminal_name.h"

namespace vantrove::cli {
namespace {

bool Repairable(RecoveryState state) {
    return state == RecoveryState::PartlyJoinable || state == RecoveryState::RepairPossible;
}

bool Whole(RecoveryState state) {
    return state == RecoveryState::Repaired || state == RecoveryState::AllVerified;
}

}  // namespace

bool ParseRepairArguments(const std::vector<std::string>& args, RepairCommandOptions& options) {
    if (!ReadFlagsAndFile(args,
                          {{"--json", &options.json},
                           {"--keep-damaged", &options.keepDamaged},
                           {"--delete-recovery", &options.deleteRecovery},
                           {"--no-trash", &options.noTrash},
                           {"--cached", &options.cached},
                           {"--wait", &options.wait}},
                          options.path)) {
        return false;
    }
    if (options.path.empty()) {
        std::fprintf(stderr, "vantrove-cli: repair needs a FILE\n");
        return false;
    }
    return true;
}

int RunRepair(const RepairCommandOptions& options, const StopFlag* stop) {
    const std::string path = AbsolutePath(options.path);
    if (!CheckSetFile(options.path, path)) return kRepairError;
    CliObserver observer(options.progress);
    SetSession session(&observer, stop);
    if (!LockTaken(session.LockFolderOf(path, options.wait), session.lockError(), options.path))
        return kRepairError;

    Settings settings;
    settings.Load();
    RepairOptions repairOptions = RepairOptionsFrom(settings);
    repairOptions.deleteDamagedFiles = repairOptions.deleteDamagedFiles && !options.keepDamaged;
    repairOptions.deleteRecoveryFiles = repairOptions.deleteRecoveryFiles || options.deleteRecovery;
    repairOptions.useRecycleBin = repairOptions.useRecycleBin && !options.noTrash;

    if (!session.Open(path, ScanModeFor(options.cached))) return kRepairError;
    session.FinishActivity();
    const RecoverySet* set = session.set();
    const RecoveryState before = set->status().state;
    const bool stoppedEarly = stop && stop->load() != 0;
    bool attempted = false;
    if (!stoppedEarly && Repairable(before)) {
        attempted = true;
        session.Repair(repairOptions);
        // Keep the outcome: the end of the activity recounts the state but
        // leaves the error of the repair in place.
        session.FinishActivity();
    }
    session.Save();
    observer.EndProgress();

    const RecoverySetStatus& status = set->status();
    std::string message =
        EnglishRepairError(status.errorKind, status.systemErrorCode, status.errorFile);
    // A stop is reported as one, whether it came before the repair or ended
    // it; a repair that finished before the stop was seen stands.
    const bool stopped = stoppedEarly || status.errorKind == ErrorKind::Cancelled ||
                         (stop && stop->load() != 0 && !Whole(status.state));
    if (stopped && status.errorKind != ErrorKind::Cancelled) {
        message = "stopped: interrupted before the repair; nothing was changed";
    }
    int code;
    if (stopped) {
        code = kRepairStopped;
    } else if (status.errorKind != ErrorKind::None) {
        code = kRepairError;
    } else if (Whole(status.state)) {
        code = kRepairedOrIntact;
    } else {
        code = kNotEnoughData;
    }

    std::vector<std::string> lines;
    for (const SourceFileEntry* entry : set->refusedTargets()) {
        lines.push_back("Not restored: \"" + TerminalName(entry->name) +
                        "\": " + UnusableNameReason(*set, *entry));
    }
    if (stopped) {
        lines.push_back("Stopped: " + message);
    } else if (!message.empty()) {
        lines.push_back("Repair failed: " + message);
    } else if (attempted && Whole(status.state)) {
        // The status line of a repaired set says so already.
        if (status.state != RecoveryState::Repaired) lines.push_back("Repair complete.");
    } else if (attempted) {
        lines.push_back("Repaired what could be repaired; more data is needed for the rest.");
    }
    PrintSetReport(
        *set, options.json,
        [&](JsonWriter& json) {
            json.Key("repairAttempted").Bool(attempted);
            json.Key("message").String(message);
            json.Key("exitCode").Number(static_cast<int64_t>(code));
        },
        lines);
    std::fflush(stdout);
    if (!message.empty()) std::fprintf(stderr, "vantrove-cli: %s\n", message.c_str());
    return code;
}

int RunRepairCommand(const std::vector<std::string>& args, const StopFlag* stop) {
    RepairCommandOptions options;
    if (!ParseRepairArguments(args, options)) {
        std::fprintf(stderr,
                     "usage: vantrove-cli repair FILE [--json] [--cached] [--keep-damaged] "
                     "[--delete-recovery] [--no-trash] [--wait]\n");
        return kRepairError;
    }
    options.progress = isatty(STDERR_FILENO) != 0;
    return RunRepair(options, stop);
}

}  // namespace vantrove::cli
