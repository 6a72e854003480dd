#include "cli/verify_command.h"

#include <cstdio>
#include <memory>
#include <string>

#include "cli/cli_observer.h"
#include "cli/set_report.h"

namespace vantrove::cli {
namespace {

int ExitCodeFor(RecoveryState state) {
    switch (state) {
        case RecoveryState::Repaired:
        case RecoveryState::AllVerified:
            return kAllVerified;
        case RecoveryState::PartlyJoinable:
        case RecoveryState::RepairPossible:
            return kRepairPossible;
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
    std::unique_ptr<RecoverySet> set = OpenAndScanSet(path, observer, stop);
    set->SaveIfLoaded();
    observer.EndProgress();

    // Work files of an interrupted repair or creation stay visible until
    // the next job in the folder removes them.
    std::vector<std::string> lines;
    for (const std::string& name : ListPartFiles(FolderOf(path)))
        lines.push_back("leftover  " + name +
                        "  (of an interrupted job; the next repair removes it)");
    PrintSetReport(*set, options.json, {}, lines);
    std::fflush(stdout);
    if (stop && stop->load() != 0) return kError;
    return ExitCodeFor(set->status().state);
}

}  // namespace vantrove::cli
