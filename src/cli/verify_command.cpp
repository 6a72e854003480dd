#include "cli/verify_command.h"

#include <cstdio>
#include <memory>
#include <string>

#include "cli/cli_observer.h"
#include "cli/set_report.h"
#include "cli/terminal_name.h"

namespace vantrove::cli {
namespace {

int ExitCodeFor(RecoveryState state) {
    switch (state) {
        case RecoveryState::Repaired:
        case RecoveryState::AllVerified:
            return kAllVerified;
        case RecoveryState::RepairPossible:
            return kRepairPossible;
        // Some files can be joined or renamed, but the blocks are too few
        // for the rest: a repair cannot make the set whole.
        case RecoveryState::PartlyJoinable:
        case RecoveryState::NeedMoreVolumes:
        case RecoveryState::Incomplete:
            return kRepairImpossible;
        default:
            return kError;
    }
}

}  // namespace

int RunVerify(const VerifyOptions& options, const StopFlag* stop) {
    const std::string path = AbsolutePath(options.path);
    if (!CheckSetFile(options.path, path)) return kError;

    CliObserver observer(options.progress);
    SetSession session(&observer, stop);
    if (!session.Open(path, ScanModeFor(options.cached))) return kError;
    session.FinishActivity();
    session.Save();
    observer.EndProgress();
    const RecoverySet* set = session.set();

    // A file whose name the repair may not use is never restored: the set
    // cannot be made whole, whatever the blocks say.
    std::vector<std::string> lines;
    bool unrestorable = false;
    for (const SourceFileEntryRef& entry : set->entries()) {
        if (!entry->unusableName || entry->state == FileState::Complete) continue;
        unrestorable = true;
        lines.push_back("Cannot be restored: \"" + TerminalName(entry->name) +
                        "\": " + UnusableNameReason(*set, *entry));
    }
    // Work files of an interrupted repair or creation stay visible until
    // the next job in the folder removes them; those of a job working there
    // now are its own.
    if (set->status().otherJobWorking) {
        lines.push_back("busy  another repair or creation is working in this folder now");
    } else {
        for (const std::string& name : ListPartFiles(FolderOfPath(path)))
            lines.push_back("leftover  " + TerminalName(name) +
                            "  (of an interrupted job; the next repair removes it)");
    }
    PrintSetReport(*set, options.json, {}, lines);
    std::fflush(stdout);
    if (stop && stop->load() != 0) {
        // The report shows only what was read before the stop.
        std::fprintf(stderr, "vantrove-cli: stopped: the verification was interrupted\n");
        return kStopped;
    }
    const int code = ExitCodeFor(set->status().state);
    return unrestorable && code == kRepairPossible ? kRepairImpossible : code;
}

}  // namespace vantrove::cli
