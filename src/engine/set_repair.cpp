// RecoverySet: the repair of a set with recovery data (rename, prepare the
// targets, let the format rebuild them, verify, clean up), and the
// preparation of the targets it writes.

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "core/path.h"
#include "engine/recovery_set.h"

namespace vantrove {
namespace {

void CloseTargets(const std::vector<SourceFileEntry*>& list) {
    for (SourceFileEntry* entry : list) {
        if (entry->targetFile) entry->targetFile->close();
    }
}

}  // namespace

void RecoverySet::Repair() {
    if (!format_->HasRecoveryData()) {
        RepairByRenaming();
        return;
    }
    if (status().state != RecoveryState::PartlyJoinable &&
        status().state != RecoveryState::RepairPossible) {
        return;
    }
    ClearError();
    const RecoveryState state = status().state;
    const SubState subState = status().subState;
    const std::vector<SetFileRef> cleanUp = format_->CleanUpCandidates(state, subState);

    // Whatever ended the repair early, the files moved aside go back, and a
    // stop is reported as one (a read or the matrix ended by the stop fails
    // for that reason alone).
    auto fail = [this]() {
        if (StopRequested()) RecordError(ErrorKind::Cancelled, 0, {});
        RestoreSteppedAside();
        NotifyStatus();
    };
    // A file that could not be renamed (its error recorded) leaves the
    // others to be repaired.
    RenameFiles();
    if (StopRequested()) {
        fail();
        return;
    }
    if (subState == SubState::RenameOnly) {
        UpdateState();
        RecordRefusedTargets();
        MarkRepairedUnlessFailed(true);
        if (status().errorKind != ErrorKind::None) {
            fail();
            return;
        }
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
    const bool ok = PrepareTargets(targets) && format_->RebuildTargets(state, targets, cancelled);
    CloseTargets(targets);
    if (!ok || cancelled || StopRequested()) {
        if (cancelled && status().errorKind == ErrorKind::None) {
            RecordError(ErrorKind::Cancelled, 0, {});
        }
        DiscardTargets(targets);
        fail();
        return;
    }

    if (!VerifyRebuiltFilesOrDiscard(targets)) {
        fail();
        return;
    }
    // The blocks put together across pieces served the rebuild only.
    RemoveMadeFiles();
    CleanUp(cleanUp);
    NotifyStatus();
}

// ---------------------------------------------------------------------------
// Preparing the targets

bool RecoverySet::PrepareTargets(std::vector<SourceFileEntry*>& list) {
    const bool rebuildAll = status_.state == RecoveryState::RepairPossible;
    for (const SourceFileEntryRef& ref : entries_) {
        SourceFileEntry& entry = *ref;
        if (entry.state == FileState::Complete || entry.state == FileState::Misnamed) continue;
        if (!rebuildAll && !entry.joinable) continue;
        if (std::find(list.begin(), list.end(), &entry) != list.end()) continue;
        if (std::find(unmovable_.begin(), unmovable_.end(), &entry) != unmovable_.end()) continue;

        SetFileRef target = entry.targetFile;
        int placeError = 0;
        if (!target || entry.unusableName || !MakeWritablePlace(target->path, placeError)) {
            // Only a safe name below the set's folder is ever written; the
            // rest of the set is still repaired, and the refusal reported.
            if (std::find(refusedTargets_.begin(), refusedTargets_.end(), &entry) ==
                refusedTargets_.end()) {
                refusedTargets_.push_back(&entry);
            }
            continue;
        }
        // A target that cannot be made is reported by name (the first one),
        // and the other files are still rebuilt.
        auto leaveOut = [this](ErrorKind kind, int error, const std::string& path) {
            if (status_.errorKind == ErrorKind::None) RecordError(kind, error, path);
        };
        struct stat st;
        bool exists = lstat(target->path.c_str(), &st) == 0;
        if (exists && (!S_ISREG(st.st_mode) || target->result == VerifyResult::Missing ||
                       target->result == VerifyResult::NotVerified)) {
            // Whatever lies there now is not the damaged copy the scan saw
            // (or is no plain file): never overwrite it.
            leaveOut(ErrorKind::CreateTarget, S_ISLNK(st.st_mode) ? ELOOP : EEXIST, target->path);
            continue;
        }
        if (exists) {
            if (!target->openForWrite()) {
                leaveOut(ErrorKind::Open, target->lastError(), target->path);
                continue;
            }
        } else if (const std::string finalPath = target->path;
                   !(finalPath == entry.targetPath ? target->createWorkFile(finalPath)
                                                   : target->create(finalPath))) {
            // A missing file is rebuilt under a work name beside it and takes
            // its name only once verified (see VerifyRebuiltFiles).
            target->path = finalPath;
            leaveOut(ErrorKind::CreateTarget, target->lastError(), target->path);
            continue;
        }
        target->kind = FileKind::Target;
        list.push_back(&entry);
        if (!target->setSize(entry.size)) {
            RecordError(ErrorKind::CreateTarget, target->lastError(), entry.targetPath);
            return false;
        }
        MapBlocksToTarget(entry);
    }
    // Nothing left to write when every target failed.
    return !list.empty() || status_.errorKind == ErrorKind::None;
}

}  // namespace vantrove
