// RecoverySet: renaming, discarding of rebuild targets and clean-up after a
// repair. These steps need no arithmetic and serve every format.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <set>
#include <vector>

#include "core/disk_file.h"

#include "core/file_trash.h"
#include "core/string_ids.h"
#include "core/string_table.h"
#include "engine/recovery_set.h"
#include "engine/set_format.h"

namespace vantrove {
namespace {

// Whether a repair under `options` may rename, move or delete `file`: any
// file, unless only named ones may move; then a file at a name of the set,
// or one the driver was given.
bool MayMove(const RepairOptions& options, const std::vector<SourceFileEntryRef>& entries,
             const SetFile& file) {
    if (!options.moveOnlyNamedFiles) return true;
    for (const SourceFileEntryRef& entry : entries)
        if (entry->targetPath == file.path) return true;
    return std::find(options.namedFiles.begin(), options.namedFiles.end(), file.path) !=
           options.namedFiles.end();
}

// Copies the bytes of the file at `from` to a new file at `to`, written under
// its work name and put in place once whole; never over an existing file.
// 0, or the system's error code.
int CopyFileData(const std::string& from, const std::string& to, bool (*stopped)(const void*),
                 const void* context) {
    DiskFile source(from);
    if (!source.open()) return source.lastError();
    DiskFile copy;
    if (!copy.create(PartPathOf(to))) return copy.lastError();
    std::vector<uint8_t> buffer(size_t{1} << 20);
    int error = 0;
    for (uint64_t offset = 0; offset < source.size && error == 0;) {
        if (stopped(context)) {
            error = ECANCELED;
            break;
        }
        const size_t length =
            static_cast<size_t>(std::min<uint64_t>(buffer.size(), source.size - offset));
        if (!source.read(offset, buffer.data(), length)) {
            error = source.lastError();
        } else if (!copy.write(offset, buffer.data(), length)) {
            error = copy.lastError();
        }
        offset += length;
    }
    if (error == 0 && !copy.moveIntoPlace(to)) error = copy.lastError();
    if (error != 0) copy.remove();
    copy.close();
    return error;
}

}  // namespace

bool RecoverySet::RenameFiles() {
    SetActivity(Activity::Renaming, GetString(kStrActivityRenamingFiles));
    const uint64_t count = entries_.size();
    SetProgress(0, 4 * count);
    uint64_t position = 0;
    auto step = [this, &position]() {
        status_.progressPosition = ++position;
        NotifyStatus();
    };
    bool failed = false;
    refusedTargets_.clear();
    steppedAside_.clear();
    unmovable_.clear();

    // 1. Damaged targets (and targets holding another file's intact copy)
    // step aside, so that the name is free for the intact file.
    for (const SourceFileEntryRef& ref : entries_) {
        step();
        SourceFileEntry& entry = *ref;
        SetFileRef target = entry.targetFile;
        if (!target || target->result == VerifyResult::Missing) continue;
        if (target->result == VerifyResult::IntactCopy && !target->flags.misnamed) continue;
        // A file under a name the set may not use is never moved.
        if (entry.unusableName || !IsWritablePlace(target->path)) continue;
        const bool wanted = status_.state == RecoveryState::RepairPossible ||
                            entry.completeCopy != nullptr || entry.joinable ||
                            target->flags.misnamed;
        if (!wanted) continue;
        const std::string oldPath = target->path;
        const bool misnamed = target->flags.misnamed;
        if (!target->rename()) {
            // Left as it is (a read-only folder): never written in place
            // either, while the other files are still repaired.
            if (status_.errorKind == ErrorKind::None) {
                RecordError(ErrorKind::Rename, target->lastError(), oldPath);
            }
            unmovable_.push_back(&entry);
            failed = true;
            continue;
        }
        steppedAside_.push_back({target, &entry, oldPath, misnamed});
        // The file stepped aside is still one of the set's own.
        if (repairOptions_.moveOnlyNamedFiles) repairOptions_.namedFiles.push_back(target->path);
        {
            // Still filed under the old path.
            auto it = knownFiles_.find(oldPath);
            if (it != knownFiles_.end() && it->second == target) knownFiles_.erase(it);
        }
        for (const std::string& key : {oldPath, entry.targetPath}) {
            auto it = expectedNames_.find(key);
            if (it != expectedNames_.end() && it->second == target) expectedNames_.erase(it);
        }
        target->kind = FileKind::OtherData;
        target->sourceBlockCount = 0;
        target->flags.misnamed = false;
        knownFiles_[target->path] = target;
        entry.targetFile.reset();
        SetEntryState(entry, entry.completeCopy ? FileState::Misnamed : FileState::Missing);
        entry.dirty = true;
    }

    // 2. A missing target of a file whose intact copy lies elsewhere is
    // forgotten; pass 3 puts the copy in its place.
    for (const SourceFileEntryRef& ref : entries_) {
        step();
        SourceFileEntry& entry = *ref;
        SetFileRef target = entry.targetFile;
        if (!target || target->result != VerifyResult::Missing || !entry.completeCopy) continue;
        RemoveKnownFile(*target);
        auto it = expectedNames_.find(entry.targetPath);
        if (it != expectedNames_.end() && it->second == target) expectedNames_.erase(it);
        entry.targetFile.reset();
    }

    // 3. Intact copies under other names move to their entry's name (or, if
    // something unknown holds it, to the first free "<name>.N").
    for (const SourceFileEntryRef& ref : entries_) {
        step();
        SourceFileEntry& entry = *ref;
        if (entry.targetFile || !entry.completeCopy) continue;
        SetFileRef copy = entry.completeCopy;
        const std::string oldPath = copy->path;
        int placeError = 0;
        if (entry.unusableName || !MakeWritablePlace(entry.targetPath, placeError)) {
            // A name that would lead out of the set's folder, through a
            // symbolic link or onto a recovery file is never used; the copy
            // stays where it is and the refusal is reported at the end.
            refusedTargets_.push_back(&entry);
            continue;
        }
        if (!MayMove(repairOptions_, entries_, *copy)) {
            // A file nobody named stays where it is, as it is: its data goes
            // to the entry's name.
            const auto stopped = [](const void* set) {
                return static_cast<const RecoverySet*>(set)->StopRequested();
            };
            const int error = CopyFileData(copy->path, entry.targetPath, stopped, this);
            if (error != 0) {
                RecordError(error == ECANCELED ? ErrorKind::Cancelled : ErrorKind::CreateTarget,
                            error == ECANCELED ? 0 : error, entry.targetPath);
                failed = true;
                continue;
            }
            auto target = std::make_shared<SetFile>(entry.targetPath);
            target->kind = FileKind::Target;
            target->sourceFile = &entry;
            target->sourceBlockCount = entry.blockCount;
            entry.targetFile = target;
            expectedNames_[entry.targetPath] = target;
            knownFiles_[target->path] = target;
            // The entry's blocks are now to be found in the new file.
            for (uint32_t i = 0; i < entry.foundBlocks.size(); ++i) ClearFoundBlock(entry, i);
            entry.completeCopy.reset();
            entry.dirty = true;
            VerifyFile(&entry, target, false, true);
            if (entry.completeCopy == target && target->result == VerifyResult::IntactCopy) {
                target->flags.repaired = true;
            } else {
                RecordError(ErrorKind::VerifyFailed, 0, target->path);
                failed = true;
            }
            UpdateEntryState(entry);
            ReportSourceFile(entry);
            continue;
        }
        if (!copy->rename(entry.targetPath)) {
            RecordError(ErrorKind::Rename, copy->lastError(), oldPath);
            failed = true;
            continue;
        }
        auto it = knownFiles_.find(oldPath);
        if (it != knownFiles_.end() && it->second == copy) knownFiles_.erase(it);
        knownFiles_[copy->path] = copy;
        copy->kind = FileKind::Target;
        copy->sourceBlockCount = entry.blockCount;
        copy->sourceFile = &entry;
        copy->flags.misnamed = false;
        entry.targetFile = copy;
        expectedNames_[entry.targetPath] = copy;
        UpdateEntryState(entry);
        ReportSourceFile(entry);
    }

    // 4. Every entry still without a target gets a fresh record of its
    // (missing) file under its own name.
    for (const SourceFileEntryRef& ref : entries_) {
        step();
        SourceFileEntry& entry = *ref;
        if (entry.targetFile) continue;
        auto target = std::make_shared<SetFile>(entry.targetPath);
        target->kind = FileKind::Target;
        target->result = VerifyResult::Missing;
        target->sourceFile = &entry;
        target->sourceBlockCount = entry.blockCount;
        entry.targetFile = target;
        expectedNames_[entry.targetPath] = target;
        if (!FindKnownFile(target->path)) knownFiles_[target->path] = target;
        // Missing, unless a copy that could not be renamed is still there.
        UpdateEntryState(entry);
        ReportSourceFile(entry);
    }

    SetProgress(4 * count, 4 * count);
    NotifyStatus();
    ReportChangedSourceFiles();
    return !failed;
}

bool RecoverySet::VerifyRebuiltFilesOrDiscard(std::vector<SourceFileEntry*>& list) {
    std::vector<SourceFileEntry*> written = list;
    RecordRefusedTargets();
    VerifyRebuiltFiles(list);
    if (status_.errorKind == ErrorKind::None) return true;
    std::vector<SourceFileEntry*> failed;
    for (SourceFileEntry* entry : written) {
        if (!entry->targetFile || !entry->targetFile->flags.repaired) failed.push_back(entry);
    }
    DiscardTargets(failed);
    return false;
}

void RecoverySet::VerifyRebuiltFiles(std::vector<SourceFileEntry*>& list) {
    ReportChangedSourceFiles();
    std::sort(list.begin(), list.end(), [](const SourceFileEntry* a, const SourceFileEntry* b) {
        return a->firstBlock < b->firstBlock;
    });
    list.erase(std::unique(list.begin(), list.end()), list.end());
    // The format may check several of the files at once.
    std::vector<SetFileRef> rebuilt;
    for (SourceFileEntry* entry : list) {
        if (entry->targetFile) rebuilt.push_back(entry->targetFile);
    }
    const ExpectedDataFiles expected(*format_, rebuilt, true);
    for (SourceFileEntry* entry : list) {
        // The blocks found elsewhere (in the damaged file moved aside) are
        // found again should the rebuilt file fail.
        const std::vector<DataBlock> foundBefore(entry->foundBlocks.begin(),
                                                 entry->foundBlocks.end());
        for (uint32_t i = 0; i < entry->foundBlocks.size(); ++i) ClearFoundBlock(*entry, i);
        SetFileRef target = entry->targetFile;
        if (entry->completeCopy == target) entry->completeCopy.reset();
        SetEntryState(*entry, FileState::Unverified);
        entry->dirty = true;
        bool intact = false;
        if (target) {
            target->result = VerifyResult::NotVerified;
            target->flags.repaired = false;
            SetActivity(Activity::Reverifying, target->path);
            VerifyFile(entry, target, false, true);
            intact = target->result == VerifyResult::IntactCopy && !target->flags.misnamed &&
                     entry->completeCopy == target;
        }
        if (intact && FinalPathOfPart(target->path) != target->path) {
            // Rebuilt under its work name: now it takes its own name. Something
            // that took the name meanwhile is never replaced.
            const std::string finalPath = FinalPathOfPart(target->path);
            if (!target->moveIntoPlace(finalPath)) {
                RecordError(ErrorKind::CreateTarget, target->lastError(), finalPath);
                intact = false;
            }
        }
        if (intact) {
            target->flags.repaired = true;
        } else {
            if (status_.errorKind == ErrorKind::None && target && target->readError != 0) {
                // What was written cannot be read back: a read error of that file.
                RecordError(ErrorKind::Read, target->readError, FinalPathOfPart(target->path));
            } else if (status_.errorKind == ErrorKind::None) {
                RecordError(StopRequested() ? ErrorKind::Cancelled : ErrorKind::VerifyFailed, 0,
                            {});
            }
            for (uint32_t i = 0; i < foundBefore.size(); ++i) {
                const DataBlock& before = foundBefore[i];
                if (!before.file || before.file == target || entry->foundBlocks[i].file) continue;
                LocateBlock(*entry, i, SetFileOf(before.file), before.offset);
            }
        }
        if (target && target->result == VerifyResult::NotVerified) {
            // The file could not even be opened (or the stop flag was set):
            // what lies there is unknown, so it counts as damaged.
            target->result = VerifyResult::NotIntact;
            target->flags.damaged = true;
        }
        UpdateEntryState(*entry);
        ReportChangedSourceFiles();
    }
    list.clear();
    MarkRepairedUnlessFailed(false);
    NotifyStatus();
}

void RecoverySet::DiscardTargets(std::vector<SourceFileEntry*>& list) {
    for (SourceFileEntry* entry : list) {
        SetFileRef target = entry->targetFile;
        ClearTargetBlocks(*entry);
        if (target) {
            if (target->blocksTaken > 0) ForgetDataFile(*target);
            if (entry->completeCopy == target) entry->completeCopy.reset();
            target->close();
            if (!entry->unusableName && IsInsideSetFolder(target->path)) target->remove();
            target->path = FinalPathOfPart(target->path);  // a work file had its own name
            // Whether or not the file could be deleted, what lies there is
            // no verified copy.
            target->result = VerifyResult::Missing;
            target->flags.repaired = false;
            target->flags.damaged = false;
        }
        SetEntryState(*entry, FileState::Missing);
        entry->dirty = true;
    }
    list.clear();
    ReportChangedSourceFiles();
}

void RecoverySet::CleanUp(const std::vector<SetFileRef>& files) {
    if (status_.state != RecoveryState::Repaired && status_.state != RecoveryState::AllVerified) {
        return;
    }
    const RepairOptions& settings = repairOptions_;
    if (!settings.deleteDamagedFiles && !settings.deleteRecoveryFiles) return;

    std::set<const SetFile*> seen;
    std::vector<std::string> doomed;
    for (const SetFileRef& file : files) {
        if (!file || !seen.insert(file.get()).second) continue;
        if (file->kind == FileKind::OtherData) {
            if (!settings.deleteDamagedFiles) continue;
            // An intact copy that an entry still counts on stays.
            bool needed = false;
            for (const SourceFileEntryRef& entry : entries_) {
                if (entry->completeCopy == file || entry->targetFile == file) needed = true;
            }
            if (needed || !MayMove(settings, entries_, *file)) continue;
            ForgetDataFile(*file);
        } else if (file->kind == FileKind::Volume) {
            if (!settings.deleteRecoveryFiles) continue;
            format_->ForgetVolume(*file);
            if (observer_) observer_->RemoveVolumeFile(*file);
        } else {
            continue;  // targets are never deleted
        }
        RemoveKnownFile(*file);
        for (SourceFileEntry* entry : sortedEntries_) {
            if (entry->RemovePlace(file.get())) entry->dirty = true;
        }
        file->close();
        // Only files below the set's folder are ever deleted.
        if (IsInsideSetFolder(file->path)) doomed.push_back(file->path);
    }
    if (!doomed.empty()) DeleteFiles(doomed, settings.useRecycleBin);
    ReportChangedSourceFiles();
}

bool RecoverySet::CreateEmptyFiles() {
    bool ok = true, made = false;
    for (const SourceFileEntryRef& ref : entries_) {
        SourceFileEntry& entry = *ref;
        SetFileRef target = entry.targetFile;
        if (entry.blockCount != 0 || entry.size != 0 || entry.completeCopy || !target ||
            target->result != VerifyResult::Missing) {
            continue;
        }
        int placeError = 0;
        if (entry.unusableName || !MakeWritablePlace(target->path, placeError)) {
            refusedTargets_.push_back(&entry);
            continue;
        }
        // Never over something that appeared meanwhile.
        if (access(target->path.c_str(), F_OK) == 0) {
            RecordError(ErrorKind::CreateTarget, EEXIST, target->path);
            ok = false;
            continue;
        }
        if (!target->create()) {
            RecordError(ErrorKind::CreateTarget, target->lastError(), target->path);
            ok = false;
            continue;
        }
        target->close();
        made = true;
        target->kind = FileKind::Target;
        target->result = VerifyResult::NotVerified;
        VerifyFile(&entry, target, false, true);
        if (entry.completeCopy == target) target->flags.repaired = true;
        UpdateEntryState(entry);
        ReportSourceFile(entry);
    }
    if (made) NotifyStatus();
    return ok;
}

void RecoverySet::RepairByRenaming() {
    if (status_.state != RecoveryState::PartlyJoinable &&
        status_.state != RecoveryState::RepairPossible) {
        return;
    }
    ClearError();
    if (RenameFiles() && CreateEmptyFiles() && !RecordRefusedTargets()) {
        MarkRepairedUnlessFailed(false);
    }
    if (StopRequested() && status_.state != RecoveryState::Repaired) {
        RecordError(ErrorKind::Cancelled, 0, {});
    }
    if (status_.errorKind != ErrorKind::None) RestoreSteppedAside();
    NotifyStatus();
}

void RecoverySet::RestoreSteppedAside() {
    for (const SteppedAside& aside : steppedAside_) {
        const SetFileRef& file = aside.file;
        SourceFileEntry& entry = *aside.entry;
        // Not when the entry is whole now, nor when the file has become
        // another entry's copy or something holds the name.
        if (entry.state == FileState::Complete ||
            (entry.targetFile && entry.targetFile->flags.repaired)) {
            continue;
        }
        if (file->kind != FileKind::OtherData || file->path == aside.path) continue;
        if (entry.targetFile && entry.targetFile != file &&
            entry.targetFile->result != VerifyResult::Missing) {
            continue;
        }
        struct stat st;
        if (lstat(aside.path.c_str(), &st) == 0 || errno != ENOENT) continue;
        const std::string asidePath = file->path;
        file->close();
        if (!file->moveIntoPlace(aside.path)) continue;  // it stays aside, under its new name
        {
            auto it = knownFiles_.find(asidePath);
            if (it != knownFiles_.end() && it->second == file) knownFiles_.erase(it);
        }
        if (entry.targetFile && entry.targetFile != file) RemoveKnownFile(*entry.targetFile);
        file->kind = FileKind::Target;
        file->sourceFile = &entry;
        file->sourceBlockCount = entry.blockCount;
        file->flags.misnamed = aside.misnamed;
        entry.targetFile = file;
        expectedNames_[entry.targetPath] = file;
        knownFiles_[file->path] = file;
        UpdateEntryState(entry);
        entry.dirty = true;
    }
    steppedAside_.clear();
    ReportChangedSourceFiles();
}

}  // namespace vantrove
