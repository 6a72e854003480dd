#include "engine/recovery_set.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>
#include <unordered_map>

#include "core/folder_walk.h"
#include "core/path.h"
#include "core/stored_name.h"
#include "engine/verification_cache.h"

namespace vantrove {

// ---------------------------------------------------------------------------
// Construction and the default operations

RecoverySet::RecoverySet(FormatKind formatKind, SetObserver* observer, const StopFlag* stopFlag)
    : observer_(observer), stopFlag_(stopFlag) {
    status_.formatKind = formatKind;
    status_.progressTotal = 1;
    status_.timeStamp = TickCountMs();
}

namespace {

// Deletes `path` only while it is still the file of that identity.
void DeleteIfSameFile(const std::string& path, uint64_t device, uint64_t inode) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    if (static_cast<uint64_t>(st.st_dev) != device || static_cast<uint64_t>(st.st_ino) != inode)
        return;
    ::unlink(path.c_str());
}

}  // namespace

RecoverySet::~RecoverySet() {
    // The files the set wrote for itself never outlive it.
    for (const MadeFile& made : madeFiles_) {
        made.file->close();
        DeleteIfSameFile(made.file->path, made.device, made.inode);
    }
}

void RecoverySet::ReportProgress(uint64_t done) {
    status_.progressPosition = done;
    status_.timeStamp = TickCountMs();
    if (observer_) observer_->StatusChanged(status_);
}

void RecoverySet::SetBlockProgress(uint32_t done, uint32_t total) {
    SetProgress(done, total);
    NotifyStatus();
}

bool RecoverySet::SaveState(const std::string& setPath) {
    return format_->SaveState(setPath);
}

// ---------------------------------------------------------------------------
// Opening

std::unique_ptr<RecoverySet> RecoverySet::Open(const std::string& path) {
    const std::string name = FileNameOfPath(path);
    const std::string setName = format_->VolumeSetName(name);

    if (status_.state != RecoveryState::NothingLoaded) {
        if (!setName.empty() && format_->TakesMoreVolumes()) {
            // One more volume for an open set.
            const bool wasDescribed = format_->Described();
            SetFileRef file = KnownOrNewVolume(path);
            if (file->result == VerifyResult::NotVerified ||
                file->result == VerifyResult::Missing) {
                format_->LoadVolume(file, false);
            }
            NotifyStatus();
            if (!wasDescribed && format_->Described()) return CompleteOpen();
        } else if (status_.state == RecoveryState::Incomplete ||
                   status_.state == RecoveryState::PartlyJoinable ||
                   status_.state == RecoveryState::RepairPossible) {
            // A data file added by the user, once the files are known.
            ScanFile(MatchName(path), path, false);
            NotifyStatus();
        }
        return nullptr;
    }

    SetFolderAndBaseName(FolderOfPath(path), setName.empty() ? name : setName);
    BeginLoading(baseName_);
    format_->LoadVolume(KnownOrNewVolume(path), false);
    if (!format_->Described() && !setName.empty() && !StopRequested()) {
        format_->LoadFolderVolumes(setName);
    }
    NotifyStatus();
    if (!format_->Described()) return nullptr;
    return CompleteOpen();
}

std::vector<std::string> RecoverySet::VolumesNamed(const std::string& setName) const {
    std::vector<std::string> paths;
    const std::string folder = folder_.empty() ? std::string("./") : folder_;
    DIR* dir = opendir(folder.c_str());
    if (!dir) return paths;
    while (struct dirent* entry = readdir(dir)) {
        if (entry->d_type == DT_DIR) continue;
        const std::string found = entry->d_name;
        if (!EqualNoCase(format_->VolumeSetName(found), setName)) continue;
        const std::string path = folder_ + found;
        struct stat st;
        if (stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) continue;
        paths.push_back(path);
    }
    closedir(dir);
    return paths;
}

bool RecoverySet::BeginReadingVolume(const SetFileRef& file) {
    file->kind = FileKind::Volume;
    if (!file->open()) {
        file->result = VerifyResult::Missing;
        if (observer_) observer_->ReportVolumeFile(*file);
        return false;
    }
    SetActivity(Activity::LoadingVolume, file->path);
    SetProgress(0, std::max<uint64_t>(file->size, 1));
    NotifyStatus();
    return true;
}

std::unique_ptr<RecoverySet> RecoverySet::CompleteOpen() {
    if (std::unique_ptr<RecoverySet> replacement = TrySavedState()) return replacement;
    Scan();
    return nullptr;
}

std::unique_ptr<RecoverySet> RecoverySet::TrySavedState() {
    if (baseName_.empty()) return nullptr;
    auto fresh = std::make_unique<RecoverySet>(formatKind(), observer_, stopFlag_);
    fresh->BindFormat(format_->NewFormatFor(*fresh));
    fresh->SetVerificationCache(&cache());
    fresh->SetRepairOptions(repairOptions_);
    if (!fresh->format_->LoadState(folder_ + baseName_)) return nullptr;
    if (!format_->SameSetAs(*fresh->format_)) return nullptr;
    return fresh;
}

void RecoverySet::MapBlocksToTarget(SourceFileEntry& entry) {
    const uint64_t blockSize = status_.blockSize;
    for (size_t i = 0; i < entry.targetBlocks.size(); ++i) {
        DataBlock& block = entry.targetBlocks[i];
        block.file = entry.targetFile;
        if (entry.targetBlocks.size() == 1) {
            // A whole-file block (checksum formats and PAR1, small PAR2 files).
            block.offset = 0;
            block.length = entry.size;
            continue;
        }
        uint64_t offset = static_cast<uint64_t>(i) * blockSize;
        block.offset = offset;
        block.length = offset < entry.size ? std::min(blockSize, entry.size - offset) : 0;
    }
}

void RecoverySet::ClearTargetBlocks(SourceFileEntry& entry) {
    for (DataBlock& block : entry.targetBlocks) block = DataBlock{};
}

VerificationCache& RecoverySet::cache() const {
    return cache_ ? *cache_ : VerificationCache::Default();
}

void RecoverySet::SetFolderAndBaseName(std::string folder, std::string baseName) {
    folder_ = std::move(folder);
    baseName_ = std::move(baseName);
}

// ---------------------------------------------------------------------------
// Loading

bool RecoverySet::NamesOwnVolume(const std::string& name) const {
    if (name.find('/') != std::string::npos) return false;
    const std::string setName = format_->VolumeSetName(name);
    return !setName.empty() && EqualNoCase(setName, baseName_);
}

void RecoverySet::CreateTargets() {
    std::set<std::string> used;
    for (const SourceFileEntryRef& entry : entries_) {
        if (entry->targetFile) used.insert(entry->targetFile->path);
    }
    for (const SourceFileEntryRef& entry : entries_) {
        const bool safe = IsSafeStoredName(entry->name);
        entry->unusableName = !safe || NamesOwnVolume(entry->name);
        if (entry->targetFile) continue;
        std::string path = safe ? folder_ + entry->name : ResolvedEntryPath(folder_, entry->name);
        if (used.count(path)) {
            // A second entry of the same name: "name(1).ext" beside it.
            const size_t slash = path.rfind('/');
            const size_t dot = path.rfind('.');
            const bool hasExtension =
                dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
            const std::string stem = hasExtension ? path.substr(0, dot) : path;
            const std::string extension = hasExtension ? path.substr(dot) : std::string();
            for (uint32_t n = 1; used.count(path); ++n) {
                path = stem + "(" + std::to_string(n) + ")" + extension;
            }
        }
        used.insert(path);
        auto target = std::make_shared<SetFile>(path);
        target->kind = FileKind::Target;
        target->sourceFile = entry.get();
        target->sourceBlockCount = entry->blockCount;
        entry->targetPath = path;
        entry->targetFile = target;
        expectedNames_[path] = target;
    }
}

bool RecoverySet::IsInsideSetFolder(const std::string& path) const {
    if (folder_.empty() || folder_.back() != '/') return false;
    if (path.size() <= folder_.size() || path.compare(0, folder_.size(), folder_) != 0) {
        return false;
    }
    const std::string relative = path.substr(folder_.size());
    if (!IsSafeStoredName(relative)) return false;
    return PrepareFoldersOf(folder_, relative, false) || errno == ENOENT;
}

bool RecoverySet::IsWritablePlace(const std::string& path) const {
    if (!IsInsideSetFolder(path)) return false;
    if (NamesOwnVolume(path.substr(folder_.size()))) return false;
    if (SetFileRef known = FindKnownFile(path); known && known->kind == FileKind::Volume) {
        return false;
    }
    return true;
}

bool RecoverySet::MakeWritablePlace(const std::string& path, int& error) {
    if (!IsWritablePlace(path)) {
        error = errno == ELOOP || errno == ENOTDIR ? errno : EINVAL;
        return false;
    }
    if (!PrepareFoldersOf(folder_, path.substr(folder_.size()), true)) {
        error = errno;
        return false;
    }
    return true;
}

bool RecoverySet::TargetReadable(const SourceFileEntry& entry) const {
    const SetFileRef& target = entry.targetFile;
    if (!target || PathLeavesFolder(target->path, folder_)) return false;
    if (folder_.empty() || target->path.compare(0, folder_.size(), folder_) != 0) return false;
    const std::string relative = target->path.substr(folder_.size());
    if (relative.find('/') == std::string::npos) return true;
    // A subfolder is looked into only when it is a real folder all the way.
    return IsSafeStoredName(relative) && PrepareFoldersOf(folder_, relative, false);
}

bool RecoverySet::RecordRefusedTargets() {
    if (refusedTargets_.empty()) return false;
    if (status_.errorKind == ErrorKind::None) {
        const SourceFileEntry& entry = *refusedTargets_.front();
        RecordError(ErrorKind::CreateTarget, entry.unusableName ? EINVAL : ELOOP,
                    folder_ + entry.name);
    }
    return true;
}

bool RecoverySet::FinishLoading() {
    CreateTargets();

    sortedEntries_.clear();
    for (const SourceFileEntryRef& entry : entries_) sortedEntries_.push_back(entry.get());
    std::stable_sort(sortedEntries_.begin(), sortedEntries_.end(),
                     [](const SourceFileEntry* a, const SourceFileEntry* b) {
                         return PathLess()(a->name, b->name);
                     });

    uint64_t totalBlocks = 0;
    uint64_t totalSize = 0;
    for (const SourceFileEntryRef& entry : entries_) {
        totalBlocks += entry->blockCount;
        totalSize += entry->size;
    }
    if (totalBlocks > UINT32_MAX) return false;
    if (foundBlocks_.empty()) {
        // The format described no blocks of its own: one per block of each
        // entry, no location yet.
        foundBlocks_.resize(totalBlocks);
        size_t next = 0;
        for (const SourceFileEntryRef& entry : entries_) {
            for (uint32_t i = 0; i < entry->blockCount; ++i, ++next) {
                uint64_t offset = static_cast<uint64_t>(i) * status_.blockSize;
                uint64_t length = entry->size;
                if (entry->blockCount > 1) {
                    length = offset < entry->size
                                 ? std::min(status_.blockSize, entry->size - offset)
                                 : 0;
                }
                foundBlocks_[next].offset = 0;
                foundBlocks_[next].length = length;
            }
        }
    } else if (foundBlocks_.size() != totalBlocks) {
        return false;
    }
    targetBlocks_.assign(foundBlocks_.size(), DataBlock{});

    status_.totalDataBlocks = static_cast<uint32_t>(totalBlocks);
    status_.totalSourceSize = totalSize;
    status_.sourceFileCount = static_cast<int32_t>(entries_.size());
    status_.damagedFiles = status_.misnamedFiles = status_.missingFiles = 0;
    status_.completeFiles = 0;
    status_.unverifiedFiles = static_cast<int32_t>(entries_.size());

    uint32_t first = 0;
    for (const SourceFileEntryRef& entry : entries_) {
        SourceFileEntry& e = *entry;
        e.firstBlock = first;
        e.foundBlocks = std::span<DataBlock>(foundBlocks_.data() + first, e.blockCount);
        e.targetBlocks = std::span<DataBlock>(targetBlocks_.data() + first, e.blockCount);
        first += e.blockCount;
        if (e.unusableName && IsSafeStoredName(e.name)) {
            // The name of one of the set's own recovery files: that file is
            // read as a volume, never as this entry's data.
            e.targetFile->result = VerifyResult::Missing;
            auto it = expectedNames_.find(e.targetFile->path);
            if (it != expectedNames_.end() && it->second == e.targetFile) expectedNames_.erase(it);
        } else {
            knownFiles_[e.targetFile->path] = e.targetFile;
            expectedNames_[e.targetFile->path] = e.targetFile;
        }
        // The block counts of the places follow from where the blocks lie
        // (looked up by file when there are many places, so that an entry
        // of many blocks found in many files costs no more than linear time).
        for (FoundPlace& place : e.foundIn) place.blocks = 0;
        std::unordered_map<const DiskFile*, FoundPlace*> places;
        if (e.foundIn.size() > 8) {
            for (FoundPlace& place : e.foundIn) places.emplace(place.file.get(), &place);
        }
        for (const DataBlock& block : e.foundBlocks) {
            if (!block.file) continue;
            FoundPlace* place = nullptr;
            if (places.empty()) {
                place = e.FindPlace(block.file.get());
            } else if (auto it = places.find(block.file.get()); it != places.end()) {
                place = it->second;
            }
            if (place != nullptr) ++place->blocks;
        }
        e.state = FileState::Unverified;
        UpdateEntryState(e);
    }

    int32_t available = 0;
    for (const DataBlock& block : foundBlocks_) {
        if (block.file) ++available;
    }
    status_.dataBlocksAvailable = available;
    return true;
}

void RecoverySet::ForgetEntries() {
    entries_.clear();
    foundBlocks_.clear();
}

// ---------------------------------------------------------------------------
// State

void RecoverySet::SetEntryState(SourceFileEntry& entry, FileState state) {
    if (entry.state == state) return;
    --status_.CounterFor(entry.state);
    ++status_.CounterFor(state);
    entry.state = state;
}

void RecoverySet::UpdateEntryState(SourceFileEntry& entry) {
    const SetFile* target = entry.targetFile.get();
    FileState state;
    if (entry.completeCopy && entry.completeCopy.get() != target) {
        state = FileState::Misnamed;
    } else if (target == nullptr) {
        state = FileState::Missing;
    } else {
        switch (target->result) {
            case VerifyResult::IntactCopy:
                // An intact copy of another source file under this name is no
                // copy of this one.
                state = target->flags.misnamed ? FileState::Damaged : FileState::Complete;
                break;
            case VerifyResult::Missing:
                state = FileState::Missing;
                break;
            case VerifyResult::NotIntact:
                state = FileState::Damaged;
                break;
            case VerifyResult::NotVerified:
            default:
                state = FileState::Unverified;
                break;
        }
    }
    SetEntryState(entry, state);
}

void RecoverySet::UpdateState() {
    RecoverySetStatus& s = status_;
    const uint64_t total = s.totalDataBlocks;
    const uint64_t available = static_cast<uint32_t>(s.dataBlocksAvailable);
    const uint64_t recovery = static_cast<uint32_t>(s.recoveryBlocksAvailable);
    const bool noneUnverified = s.unverifiedFiles == 0;

    if (total == 0 && s.sourceFileCount == 0) {
        // Nothing describes the source files yet. A set into which nothing
        // has been loaded keeps saying so.
        if (s.state != RecoveryState::NothingLoaded) s.state = RecoveryState::NeedMoreVolumes;
        s.subState = SubState::None;
    } else if (available == total && s.damagedFiles == 0 && s.misnamedFiles == 0 &&
               s.missingFiles == 0 && s.unverifiedFiles == 0) {
        if (s.state != RecoveryState::Repaired) s.state = RecoveryState::AllVerified;
        s.subState = SubState::None;
    } else if (recovery + available >= total && noneUnverified) {
        s.state = RecoveryState::RepairPossible;
        if (total > available) {
            s.subState = SubState::NeedRecoveryBlocks;
        } else if (s.damagedFiles == 0 && s.missingFiles == 0) {
            s.subState = SubState::RenameOnly;
        } else {
            s.subState = SubState::CanJoin;
        }
    } else if (s.joinableFiles > 0 && noneUnverified) {
        s.state = RecoveryState::PartlyJoinable;
        s.subState = SubState::CanJoin;
    } else if (s.misnamedFiles > 0 && noneUnverified) {
        s.state = RecoveryState::PartlyJoinable;
        s.subState = SubState::RenameOnly;
    } else {
        s.state = RecoveryState::Incomplete;
        s.subState = SubState::None;
    }
}

void RecoverySet::NotifyStatus() {
    UpdateState();
    status_.timeStamp = TickCountMs();
    if (observer_) observer_->StatusChanged(status_);
}

void RecoverySet::FinishActivity() {
    status_.activity = Activity::Idle;
    int32_t joinable = 0;
    for (const SourceFileEntryRef& entry : entries_) {
        SourceFileEntry& e = *entry;
        e.joinable = e.state != FileState::Complete && e.state != FileState::Misnamed &&
                     e.MissingBlockCount() == 0;
        if (e.joinable) ++joinable;
    }
    status_.joinableFiles = joinable;
    status_.currentFile.clear();
    status_.progressPosition = 1;
    status_.progressTotal = 1;
    NotifyStatus();
}

void RecoverySet::ClearFoundBlock(SourceFileEntry& entry, uint32_t index) {
    if (index >= entry.foundBlocks.size()) return;
    DataBlock& block = entry.foundBlocks[index];
    if (!block.file) return;
    if (SetFileOf(*block.file).blocksTaken > 0) --SetFileOf(*block.file).blocksTaken;
    if (FoundPlace* place = entry.FindPlace(block.file.get())) {
        if (place->blocks > 0) --place->blocks;
    }
    block.file.reset();
    block.offset = 0;
    --status_.dataBlocksAvailable;
    entry.dirty = true;
}

void RecoverySet::LocateBlock(SourceFileEntry& entry, uint32_t index, const SetFileRef& file,
                              uint64_t offset) {
    if (index >= entry.foundBlocks.size() || !file) return;
    DataBlock& block = entry.foundBlocks[index];
    if (block.file) {
        // The block moves: the old place gives it up.
        if (SetFileOf(*block.file).blocksTaken > 0) --SetFileOf(*block.file).blocksTaken;
        if (FoundPlace* place = entry.FindPlace(block.file.get())) {
            if (place->blocks > 0) --place->blocks;
        }
    } else {
        ++status_.dataBlocksAvailable;
    }
    block.file = file;
    block.offset = offset;
    ++file->blocksTaken;
    entry.AddToPlace(file, 1);
    entry.dirty = true;
}

void RecoverySet::ForgetDataFile(SetFile& file) {
    // A data file's blocksTaken counts the found blocks that lie in it, so
    // the entries are looked through only until that many are cleared, the
    // file's own entry first: forgetting every file of a large set costs each
    // file about its own blocks, not the whole set's. (A volume counts its
    // recovery blocks there; for one, every entry is looked at.)
    const bool counted = file.kind != FileKind::Volume;
    if (counted && file.blocksTaken == 0) return;
    auto forgetIn = [this, &file](SourceFileEntry& entry) {
        bool lost = false;
        for (uint32_t i = 0; i < entry.foundBlocks.size(); ++i) {
            if (entry.foundBlocks[i].file.get() == &file) {
                ClearFoundBlock(entry, i);
                lost = true;
            }
        }
        if (!lost) return;
        entry.dirty = true;
        if (entry.completeCopy) {
            entry.completeCopy.reset();
            FileState state = FileState::Missing;
            if (entry.targetFile) {
                switch (entry.targetFile->result) {
                    case VerifyResult::NotVerified:
                        state = FileState::Unverified;
                        break;
                    case VerifyResult::Missing:
                        state = FileState::Missing;
                        break;
                    default:
                        state = FileState::Damaged;
                        break;
                }
            }
            SetEntryState(entry, state);
        }
    };
    SourceFileEntry* own = file.sourceFile;
    if (own != nullptr) forgetIn(*own);
    for (SourceFileEntry* entry : sortedEntries_) {
        if (counted && file.blocksTaken == 0) break;
        if (entry != own) forgetIn(*entry);
    }
}

// ---------------------------------------------------------------------------
// Reporting

void RecoverySet::ReportSourceFile(SourceFileEntry& entry) {
    entry.dirty = false;
    if (!observer_) return;
    const SetFile* target = entry.targetFile.get();
    SourceRowKind row;
    std::vector<SourcePlace> places;
    if (entry.completeCopy && entry.completeCopy.get() == target) {
        row = target->flags.repaired ? SourceRowKind::Repaired : SourceRowKind::Complete;
    } else if (entry.completeCopy) {
        row = SourceRowKind::Misnamed;
    } else {
        VerifyResult result = target ? target->result : VerifyResult::Missing;
        row = result == VerifyResult::NotVerified ? SourceRowKind::NotVerified
              : result == VerifyResult::Missing   ? SourceRowKind::Missing
                                                  : SourceRowKind::Damaged;
        // Every distinct file of the found blocks and of the places, once.
        std::vector<std::pair<const DiskFile*, uint32_t>> files;
        auto slot = [&files](const DiskFile* f) -> std::pair<const DiskFile*, uint32_t>* {
            for (auto& p : files) {
                if (p.first == f) return &p;
            }
            return nullptr;
        };
        for (const DataBlock& block : entry.foundBlocks) {
            if (!block.file) continue;
            if (auto* p = slot(block.file.get())) {
                ++p->second;
            } else {
                files.push_back({block.file.get(), 1});
            }
        }
        for (const FoundPlace& place : entry.foundIn) {
            if (place.file && !slot(place.file.get()))
                files.push_back({place.file.get(), place.blocks});
        }
        for (const auto& [file, blocks] : files)
            places.push_back({file->path, blocks, file->size, SetFileOf(*file).readError});
        std::sort(places.begin(), places.end(),
                  [](const SourcePlace& a, const SourcePlace& b) { return a.path < b.path; });
    }
    observer_->ReportSourceFileLine(row, status_.formatKind, entry.name, entry.size,
                                    entry.blockCount, places);
}

void RecoverySet::ReportChangedSourceFiles() {
    reportsPassed_ = 0;
    for (SourceFileEntry* entry : sortedEntries_) {
        if (entry->dirty) ReportSourceFile(*entry);
    }
}

void RecoverySet::ReportChangedSourceFilesInPass() {
    if (++reportsPassed_ * 64 < sortedEntries_.size()) return;
    ReportChangedSourceFiles();
}

void RecoverySet::ReportAll() {
    if (observer_) {
        for (const auto& [path, file] : knownFiles_) {
            if (file->kind == FileKind::Volume && !file->flags.outOfVolumeList) {
                observer_->ReportVolumeFile(*file);
            }
        }
    }
    for (SourceFileEntry* entry : sortedEntries_) ReportSourceFile(*entry);
}

bool RecoverySet::SaveIfLoaded() {
    if (baseName_.empty()) return false;
    return SaveState(folder_ + baseName_);
}

// ---------------------------------------------------------------------------
// Status helpers and files

void RecoverySet::SetActivity(Activity activity, const std::string& currentFile) {
    status_.activity = activity;
    status_.currentFile = currentFile;
}

void RecoverySet::SetProgress(uint64_t position, uint64_t total) {
    status_.progressPosition = position;
    status_.progressTotal = total;
}

void RecoverySet::SetProgressPosition(uint64_t position) {
    status_.progressPosition = position;
}

void RecoverySet::BeginLoading(const std::string& setName) {
    status_.setName = setName;
    status_.state = RecoveryState::NeedMoreVolumes;
}

void RecoverySet::MarkDescribed() {
    UpdateCreatorText();
    status_.state = RecoveryState::Incomplete;
}

void RecoverySet::UpdateCreatorText() {
    status_.creatorText = format_->CreatorText();
}

void RecoverySet::SetSetName(const std::string& name) {
    status_.setName = name;
}

void RecoverySet::SetBlockSize(uint64_t blockSize) {
    status_.blockSize = blockSize;
}

void RecoverySet::SetRecoveryBlocksAvailable(int32_t count) {
    status_.recoveryBlocksAvailable = count;
}

void RecoverySet::SetLeftoverFiles(int32_t count, bool otherJobWorking) {
    status_.leftoverFiles = count;
    status_.otherJobWorking = otherJobWorking;
}

void RecoverySet::SetSetState(RecoveryState state) {
    status_.state = state;
}

void RecoverySet::MarkRepairedUnlessFailed(bool onlyIfAllVerified) {
    if (status_.errorKind != ErrorKind::None) return;
    if (onlyIfAllVerified && status_.state != RecoveryState::AllVerified) return;
    status_.state = RecoveryState::Repaired;
}

void RecoverySet::RecordError(ErrorKind kind, int systemError, const std::string& file) {
    status_.errorKind = kind;
    status_.systemErrorCode = static_cast<uint32_t>(systemError);
    status_.errorFile = file;
}

void RecoverySet::ClearError() {
    RecordError(ErrorKind::None, 0, {});
}

bool RecoverySet::StopRequested() const {
    return stopFlag_ != nullptr && stopFlag_->load(std::memory_order_relaxed) != 0;
}

void RecoverySet::AddKnownFile(const SetFileRef& file) {
    if (file) knownFiles_[file->path] = file;
}

SetFileRef RecoverySet::FindKnownFile(const std::string& path) const {
    auto it = knownFiles_.find(path);
    return it == knownFiles_.end() ? nullptr : it->second;
}

SetFileRef RecoverySet::KnownOrNewVolume(const std::string& path) {
    SetFileRef file = FindKnownFile(path);
    if (!file) {
        file = std::make_shared<SetFile>(path);
        file->kind = FileKind::Volume;
        AddKnownFile(file);
    }
    return file;
}

void RecoverySet::RemoveKnownFile(const SetFile& file) {
    auto it = knownFiles_.find(file.path);
    if (it != knownFiles_.end() && it->second.get() == &file) knownFiles_.erase(it);
}

void RecoverySet::AddMadeFile(const SetFileRef& file) {
    if (!file) return;
    struct stat st {};
    if (lstat(file->path.c_str(), &st) != 0) return;
    AddKnownFile(file);
    madeFiles_.push_back(
        {file, static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)});
}

void RecoverySet::RemoveMadeFiles() {
    std::vector<MadeFile> made;
    made.swap(madeFiles_);
    for (const MadeFile& m : made) {
        SetFile& file = *m.file;
        if (FindKnownFile(file.path) == m.file) {
            ForgetDataFile(file);
            RemoveKnownFile(file);
            for (SourceFileEntry* entry : sortedEntries_) {
                if (entry->RemovePlace(&file)) entry->dirty = true;
            }
        }
        file.close();
        DeleteIfSameFile(file.path, m.device, m.inode);
        // No longer a file of the set: a clean-up that still lists it leaves it be.
        file.kind = FileKind::None;
        file.result = VerifyResult::Missing;
    }
    if (!made.empty()) ReportChangedSourceFiles();
}

void RecoverySet::RekeyKnownFile(const SetFileRef& file, const std::string& oldPath) {
    if (!file) return;
    for (FileMap* map : {&knownFiles_, &expectedNames_}) {
        auto it = map->find(oldPath);
        if (it == map->end() || it->second != file) continue;
        map->erase(it);
        (*map)[file->path] = file;
    }
}

SetFileRef RecoverySet::FindExpected(const std::string& path) const {
    auto it = expectedNames_.find(path);
    return it == expectedNames_.end() ? nullptr : it->second;
}

}  // namespace vantrove
