#include "engine/parity_recovery_set.h"

namespace vantrove {
namespace {

void CloseTargets(const std::vector<SourceFileEntry*>& list) {
    for (SourceFileEntry* entry : list) {
        if (entry->targetFile) entry->targetFile->close();
    }
}

}  // namespace

void ParityRecoverySet::Repair() {
    if (status().state != RecoveryState::PartlyJoinable &&
        status().state != RecoveryState::RepairPossible) {
        return;
    }
    ClearError();
    const RecoveryState state = status().state;
    const SubState subState = status().subState;
    const std::vector<SetFileRef> cleanUp = CleanUpCandidates(state, subState);

    if (!RenameFiles()) {
        NotifyStatus();
        return;
    }
    if (subState == SubState::RenameOnly) {
        UpdateState();
        RecordRefusedTargets();
        MarkRepairedUnlessFailed(true);
        NotifyStatus();
        CleanUp(cleanUp);
        NotifyStatus();
        return;
    }

    // The kind of repair is the one the set was in when it began (renaming
    // moves files, not blocks). Target blocks of an earlier repair must not
    // become copy targets again.
    SetSetState(state);
    for (const SourceFileEntryRef& entry : entries_) ClearTargetBlocks(*entry);
    std::vector<SourceFileEntry*> targets;
    bool cancelled = false;
    const bool ok = PrepareTargets(targets) && RebuildTargets(state, targets, cancelled);
    CloseTargets(targets);
    if (!ok || cancelled) {
        if (cancelled && status().errorKind == ErrorKind::None) {
            RecordError(ErrorKind::Cancelled, 0, {});
        }
        DiscardTargets(targets);
        NotifyStatus();
        return;
    }

    if (!VerifyRebuiltFilesOrDiscard(targets)) {
        NotifyStatus();
        return;
    }
    CleanUp(cleanUp);
    NotifyStatus();
}

void ParityRecoverySet::SetBlockProgress(uint32_t done, uint32_t total) {
    SetProgress(done, total);
    NotifyStatus();
}

}  // namespace vantrove
