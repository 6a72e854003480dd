// The scan of a set's folder: which files are new, changed or gone, and the
// verification of each one (RecoverySet::Scan, Reverify, ScanFile,
// VerifyFile, MatchName).
//
// A data file's check-only flag (its last verification was the whole-file
// check only) is kept in DiskFile::flags.formatFlag, so that it survives in
// the saved state with the file's result.

#include <sys/stat.h>

#include <algorithm>
#include <set>
#include <unordered_map>

#include "core/path.h"
#include "core/stored_name.h"
#include "core/work_files.h"
#include "engine/folder_listing.h"
#include "engine/name_match.h"
#include "engine/recovery_set.h"

namespace vantrove {
namespace {

bool CheckOnlyFlag(const SetFile& file) {
    return file.flags.formatFlag;
}
void SetCheckOnlyFlag(SetFile& file, bool checkOnly) {
    file.flags.formatFlag = checkOnly;
}

// A work file that a job of ours made, the folder's work journal (see
// core/work_files.h), or a state file: the text after the last '.' is
// exactly one of the program's own state-file extensions. A file merely
// named like a work file is somebody else's and is scanned.
bool IsOwnWorkFile(const std::string& path) {
    if (IsPartFileName(FileNameOfPath(path))) return IsRecordedWorkFile(path);
    if (IsWorkJournal(path)) return true;
    const size_t slash = path.rfind('/');
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
    std::string extension = path.substr(dot + 1);
    return extension == "vt1" || extension == "vt2";
}

bool SameListing(const SetFile& file, const ListedFile& listed) {
    return file.size == listed.size && file.creationTime == listed.creationTime &&
           file.lastWriteTime == listed.lastWriteTime;
}

bool IsSpecialFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

}  // namespace

std::vector<std::string> RecoverySet::SubfoldersNamed() const {
    std::set<std::string> folders;
    for (const SourceFileEntryRef& entry : entries_) {
        const std::string& name = entry->name;
        if (!IsSafeStoredName(name)) continue;
        for (size_t slash = name.find('/'); slash != std::string::npos;
             slash = name.find('/', slash + 1)) {
            folders.insert(name.substr(0, slash));
        }
    }
    return {folders.begin(), folders.end()};
}

SourceFileEntry* RecoverySet::MatchName(const std::string& path, bool* exact) const {
    if (exact) *exact = false;
    std::vector<std::string> forms = CopyNameForms(path);
    for (size_t i = 0; i < forms.size(); ++i) {
        SetFileRef target = FindExpected(forms[i]);
        if (target && target->kind == FileKind::Target && target->sourceFile) {
            if (exact) *exact = i == 0;
            return target->sourceFile;
        }
    }
    return nullptr;
}

void RecoverySet::VerifyFile(SourceFileEntry* expected, const SetFileRef& file, bool checkOnly,
                             bool again) {
    if (!file) return;
    if (file->kind == FileKind::Target && file->sourceFile && !TargetReadable(*file->sourceFile)) {
        // Its name leads out of the set's folder or through a symbolic
        // link: never read there.
        file->result = VerifyResult::Missing;
        SetCheckOnlyFlag(*file, checkOnly);
        UpdateEntryState(*file->sourceFile);
        return;
    }
    if (StopRequested()) {
        SetCheckOnlyFlag(*file, checkOnly);
        return;
    }
    if (!file->open()) {
        SetCheckOnlyFlag(*file, checkOnly);
        // Something that is no file (a FIFO, a device, a socket) under a
        // data file's name holds none of its data: a damaged file, stepped
        // aside by the repair, not a file whose check is still to come.
        if (file->kind == FileKind::Target && expected && IsSpecialFile(file->path)) {
            file->result = VerifyResult::NotIntact;
            file->flags.damaged = true;
            file->flags.misnamed = false;
            UpdateEntryState(*expected);
        }
        return;
    }
    Activity activity;
    if (file->kind == FileKind::Target) {
        activity = again ? Activity::Reverifying : Activity::VerifyingDataFile;
    } else {
        activity = checkOnly ? Activity::CheckingFile : Activity::ScanningFile;
    }
    SetActivity(activity, file->path);

    SourceFileEntry* found = expected;
    DataFileOutcome result = DataFileOutcome::NothingFound;
    file->readError = 0;
    format_->VerifyDataFile(file, found, result, checkOnly);
    file->close();

    file->flags.damaged = result != DataFileOutcome::IntactCopy;
    file->flags.misnamed = false;
    if (result == DataFileOutcome::IntactCopy && found) {
        if (expected && expected != found) file->flags.misnamed = true;
        file->result = VerifyResult::IntactCopy;
        found->completeCopy = file;
        found->dirty = true;
    }
    if (found) UpdateEntryState(*found);
    if (expected && expected != found) UpdateEntryState(*expected);
}

void RecoverySet::ScanFile(SourceFileEntry* entry, const std::string& path, bool checkOnly) {
    if (status_.state == RecoveryState::NothingLoaded ||
        status_.state == RecoveryState::NeedMoreVolumes || StopRequested()) {
        return;
    }
    if (IsOwnWorkFile(path)) return;

    SetFileRef file = FindKnownFile(path);
    if (file) {
        if (file->result == VerifyResult::NotIntact && (checkOnly || !CheckOnlyFlag(*file))) return;
        if (file->result == VerifyResult::IntactCopy) return;
        if (file->kind == FileKind::Target && file->result == VerifyResult::NotVerified &&
            file->sourceFile) {
            file->sourceFile->dirty = true;
        }
    } else {
        file = std::make_shared<SetFile>(path);
        file->kind = FileKind::OtherData;
        file->sourceFile = entry;
        AddKnownFile(file);
    }

    VerifyFile(entry, file, checkOnly, false);

    if (file->result != VerifyResult::Missing || file->kind == FileKind::Target) {
        if (inScanPass_) {
            ReportChangedSourceFilesInPass();
        } else {
            ReportChangedSourceFiles();
        }
    } else {
        RemoveKnownFile(*file);
        if (file->sourceFile && file->sourceFile->RemovePlace(file.get())) {
            file->sourceFile->dirty = true;
        }
    }
}

void RecoverySet::Scan() {
    SetActivity(Activity::SearchingNewFiles, {});
    SetProgress(0, 1);
    NotifyStatus();
    const bool searchesOtherFiles = format_->SearchesOtherFiles();
    const bool triesForeignVolumes = format_->TriesForeignVolumes();

    // The set's folder, then every subfolder its names reach into, each
    // only through real folders.
    std::vector<ListedFile> listing;
    ListFolder(folder_, listing);
    std::set<std::string> listedFolders = {folder_};
    for (const std::string& sub : SubfoldersNamed()) {
        std::vector<ListedFile> more;
        if (!ListFolderBelow(folder_, sub, more)) continue;
        listedFolders.insert(folder_ + sub + "/");
        for (ListedFile& file : more) listing.push_back(std::move(file));
    }
    uint64_t total = std::max<uint64_t>(listing.size(), knownFiles_.size());
    SetProgress(0, std::max<uint64_t>(total, 1));

    std::vector<SetFileRef> vanished, changed;
    std::vector<const ListedFile*> newNames;
    bool stopped = false;
    uint64_t position = 0;
    auto step = [&]() {
        if ((position & 15) == 15) {
            status_.progressPosition = position;
            NotifyStatus();
            if (StopRequested()) stopped = true;
        }
        ++position;
    };
    auto isChanged = [](const SetFile& file, const ListedFile* listed) {
        if (file.kind == FileKind::None) return false;
        if (file.result == VerifyResult::Missing && file.kind == FileKind::Target) return true;
        return file.result == VerifyResult::NotVerified || !listed || !SameListing(file, *listed);
    };

    // Listed files, then the known files that the listing lacks.
    std::set<const SetFile*> listedKnown;
    for (const ListedFile& listed : listing) {
        if (stopped) break;
        auto it = knownFiles_.find(listed.path);
        if (it == knownFiles_.end()) {
            newNames.push_back(&listed);
        } else {
            listedKnown.insert(it->second.get());
            if (isChanged(*it->second, &listed)) changed.push_back(it->second);
        }
        step();
    }
    for (const auto& [path, file] : knownFiles_) {
        if (stopped) break;
        if (listedKnown.count(file.get())) continue;
        if (listedFolders.count(FolderOfPath(path))) {
            vanished.push_back(file);
        } else {
            // A file of another folder, added by the user.
            ListedFile listed;
            if (!StatFile(path, listed)) {
                vanished.push_back(file);
            } else if (isChanged(*file, &listed)) {
                changed.push_back(file);
            }
        }
        step();
    }
    SetProgress(total, std::max<uint64_t>(total, 1));
    NotifyStatus();

    // ScanFile's reports wait for the end of the pass (see
    // ReportChangedSourceFilesInPass), which reports every change left.
    struct PassGuard {
        bool& flag;
        explicit PassGuard(bool& f) : flag(f) { flag = true; }
        ~PassGuard() { flag = false; }
    } pass(inScanPass_);
    auto finish = [this]() {
        NotifyStatus();
        ReportChangedSourceFiles();
    };
    if (stopped) return finish();

    // The entries that name each file as their complete copy or as one of
    // their places, taken once for the whole pass: looking through every
    // entry for each file gone or changed would cost the set's size for
    // each. Only a file's own verification makes it an entry's complete
    // copy or adds it to places, and that comes after its look-up here.
    std::unordered_map<const DiskFile*, std::vector<SourceFileEntry*>> copiesOf, placesOf;
    for (SourceFileEntry* entry : sortedEntries_) {
        if (entry->completeCopy) copiesOf[entry->completeCopy.get()].push_back(entry);
        for (const FoundPlace& place : entry->foundIn) {
            if (place.file) placesOf[place.file.get()].push_back(entry);
        }
    }
    auto entriesOf = [](const auto& index, const DiskFile* file) {
        auto it = index.find(file);
        return it == index.end() ? std::vector<SourceFileEntry*>{} : it->second;
    };

    // Files that are gone.
    for (const SetFileRef& file : vanished) {
        SourceFileEntry* source = file->sourceFile;
        if (file->kind == FileKind::OtherData || file->kind == FileKind::Volume) {
            if (file->kind == FileKind::OtherData) {
                ForgetDataFile(*file);
                for (SourceFileEntry* entry : entriesOf(copiesOf, file.get())) {
                    if (entry->completeCopy == file) {
                        entry->completeCopy.reset();
                        entry->dirty = true;
                        UpdateEntryState(*entry);
                    }
                }
            } else {
                format_->ForgetVolume(*file);
                if (observer()) observer()->RemoveVolumeFile(*file);
            }
            RemoveKnownFile(*file);
            for (SourceFileEntry* entry : entriesOf(placesOf, file.get())) {
                if (entry->RemovePlace(file.get())) entry->dirty = true;
            }
        } else if (file->kind == FileKind::Target && file->result != VerifyResult::Missing) {
            if (file->blocksTaken > 0) ForgetDataFile(*file);
            file->flags.repaired = false;
            file->result = VerifyResult::Missing;
            if (source) {
                if (source->completeCopy == file) source->completeCopy.reset();
                source->dirty = true;
                UpdateEntryState(*source);
            }
        }
        NotifyStatus();
    }

    // Files that changed. The format may read several data files ahead;
    // what it read is dropped once this loop is over, however it ends.
    const ExpectedDataFiles expected(*format_, changed, false);
    for (const SetFileRef& file : changed) {
        if (StopRequested()) return finish();
        if (file->kind == FileKind::Target || file->kind == FileKind::OtherData) {
            ForgetDataFile(*file);
            for (SourceFileEntry* entry : entriesOf(copiesOf, file.get())) {
                if (entry->completeCopy == file) {
                    entry->completeCopy.reset();
                    entry->dirty = true;
                    UpdateEntryState(*entry);
                }
            }
            VerifyFile(file->sourceFile, file, CheckOnlyFlag(*file), false);
            ReportChangedSourceFilesInPass();
            if (file->kind == FileKind::OtherData && file->result == VerifyResult::Missing) {
                RemoveKnownFile(*file);
                for (SourceFileEntry* entry : entriesOf(placesOf, file.get())) {
                    if (entry->RemovePlace(file.get())) entry->dirty = true;
                }
            }
        } else if (file->kind == FileKind::Volume) {
            format_->ForgetVolume(*file);
            bool loaded = format_->LoadVolume(file, CheckOnlyFlag(*file));
            SetActivity(Activity::SearchingNewFiles, {});
            if (!loaded) {
                if (observer()) observer()->RemoveVolumeFile(*file);
                RemoveKnownFile(*file);
                for (SourceFileEntry* entry : entriesOf(placesOf, file.get())) {
                    if (entry->RemovePlace(file.get())) entry->dirty = true;
                }
            }
        }
        NotifyStatus();
    }
    format_->ExpectDataFiles({});

    // New names, by what they are called.
    struct Candidate {
        SourceFileEntry* entry;
        std::string path;
    };
    std::vector<Candidate> targetNames, candidates, deferred;
    std::vector<std::string> ownVolumes, foreignVolumes, otherFiles;
    for (const ListedFile* listed : newNames) {
        bool exact = false;
        if (SourceFileEntry* entry = MatchName(listed->path, &exact)) {
            (exact ? targetNames : candidates).push_back({entry, listed->path});
            continue;
        }
        std::string setName = format_->VolumeSetName(listed->name);
        if (setName.empty()) {
            otherFiles.push_back(listed->path);
        } else if (EqualNoCase(setName, baseName_)) {
            ownVolumes.push_back(listed->path);
        } else {
            foreignVolumes.push_back(listed->path);
        }
    }

    if (status_.totalDataBlocks == 0) return finish();

    for (const Candidate& c : targetNames) {
        ScanFile(c.entry, c.path, false);
        NotifyStatus();
        if (StopRequested()) return finish();
    }

    auto settled = [this](SubState atLeast) {
        UpdateState();
        const RecoveryState s = status_.state;
        return s == RecoveryState::Repaired || s == RecoveryState::AllVerified ||
               (s == RecoveryState::RepairPossible && status_.subState >= atLeast);
    };
    for (const Candidate& c : candidates) {
        if (settled(SubState::RenameOnly)) break;
        if (c.entry->state == FileState::Complete || c.entry->state == FileState::Misnamed) {
            deferred.push_back(c);
            continue;
        }
        ScanFile(c.entry, c.path, false);
        NotifyStatus();
        if (StopRequested()) return finish();
    }
    for (const Candidate& c : deferred) {
        if (settled(SubState::CanJoin)) break;
        ScanFile(c.entry, c.path, false);
        NotifyStatus();
        if (StopRequested()) return finish();
    }

    auto loadNewVolume = [this](const std::string& path) {
        SetFileRef file = FindKnownFile(path);
        if (!file) {
            file = std::make_shared<SetFile>(path);
            file->kind = FileKind::Volume;
            AddKnownFile(file);
        }
        format_->LoadVolume(file, false);
        SetActivity(Activity::SearchingNewFiles, {});
    };
    for (const std::string& path : ownVolumes) {
        loadNewVolume(path);
        NotifyStatus();
        if (StopRequested()) return finish();
    }

    auto blocksMissing = [this]() {
        return static_cast<uint64_t>(status_.totalDataBlocks) >
               static_cast<uint32_t>(status_.dataBlocksAvailable);
    };
    if (blocksMissing()) {
        format_->SearchGaps();
        NotifyStatus();
        if (searchesOtherFiles) {
            for (const std::string& path : otherFiles) {
                if (!blocksMissing()) break;
                ScanFile(nullptr, path, true);
                NotifyStatus();
                if (StopRequested()) return finish();
            }
        }
        if (triesForeignVolumes) {
            for (const std::string& path : foreignVolumes) {
                if (!blocksMissing()) break;
                loadNewVolume(path);
                NotifyStatus();
                if (StopRequested()) return finish();
            }
        }
    }
    finish();
}

void RecoverySet::Reverify() {
    std::vector<SetFileRef> files;
    for (const auto& [path, file] : knownFiles_) files.push_back(file);
    for (const SetFileRef& file : files) {
        file->creationTime = 0;
        file->lastWriteTime = 0;
        if (file->kind == FileKind::Target || file->kind == FileKind::OtherData) {
            ForgetDataFile(*file);
            // A target that was missing must be looked at again as well,
            // or its source file would stay unverified.
            if (file->kind == FileKind::Target) file->result = VerifyResult::NotVerified;
        } else if (file->kind == FileKind::Volume) {
            format_->ForgetVolume(*file);
            file->result = VerifyResult::NotVerified;
            if (observer() && !file->flags.outOfVolumeList) observer()->ReportVolumeFile(*file);
        }
    }
    for (const SourceFileEntryRef& entry : entries_) {
        entry->completeCopy.reset();
        SetEntryState(*entry, FileState::Unverified);
        ReportSourceFile(*entry);
    }
    Scan();
}

}  // namespace vantrove
