#include "formats/checksum_set.h"

#include <strings.h>

#include <algorithm>
#include <set>
#include <vector>

#include "formats/checksum_list.h"
#include "core/stored_name.h"

namespace vantrove {
namespace {

constexpr size_t kHashBuffer = 1048576;

}  // namespace

std::unique_ptr<RecoverySet> ChecksumSet::Open(const std::string& path) {
    if (status().state != RecoveryState::NothingLoaded) {
        // A data file added by the user, once the list is known.
        if (status().state == RecoveryState::Incomplete ||
            status().state == RecoveryState::PartlyJoinable ||
            status().state == RecoveryState::RepairPossible) {
            ScanFile(MatchName(path), path, false);
            NotifyStatus();
        }
        return nullptr;
    }
    const std::string name = FileNameOfPath(path);
    const std::string setName = VolumeSetName(name);
    SetFolderAndBaseName(FolderOfPath(path), setName.empty() ? name : setName);
    BeginLoading(baseName_);

    LoadVolume(KnownOrNewVolume(path), false);
    if (status().state == RecoveryState::NeedMoreVolumes) {
        NotifyStatus();
        return nullptr;
    }
    if (std::unique_ptr<RecoverySet> replacement = TrySavedState()) return replacement;
    Scan();
    return nullptr;
}

std::unique_ptr<RecoverySet> ChecksumSet::TrySavedState() {
    std::unique_ptr<ChecksumSet> fresh = NewEmptySet();
    fresh->SetVerificationCache(&cache());
    fresh->SetRepairOptions(repairOptions());
    if (!fresh->LoadState(folder_ + baseName_) || !SameSetAs(*fresh)) return nullptr;
    return fresh;
}

bool ChecksumSet::SameSetAs(const ChecksumSet& other) const {
    if (other.formatKind() != formatKind() || other.folder_ != folder_ ||
        other.baseName_ != baseName_ || other.entries_.size() != entries_.size()) {
        return false;
    }
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (!SameEntry(*entries_[i], *other.entries_[i])) return false;
    }
    return true;
}

void ChecksumSet::Repair() {
    RepairByRenaming();
}

bool ChecksumSet::LoadVolume(const SetFileRef& file, bool ignore) {
    if (ignore || !file) return false;
    if (status().state != RecoveryState::NeedMoreVolumes) {
        // The list is read once. The file that gave it stays the set's own
        // when a scan looks at it again (after a re-verification, or when it
        // changed on disk); any other list is of no use now.
        if (file->kind != FileKind::Volume || file->blocksTaken == 0) return false;
        file->result = VerifyResult::NotIntact;
        if (observer()) observer()->ReportVolumeFile(*file);
        return true;
    }
    file->kind = FileKind::Volume;
    if (!file->open()) {
        file->result = VerifyResult::Missing;
        if (observer()) observer()->ReportVolumeFile(*file);
        return false;
    }
    SetActivity(Activity::LoadingVolume, file->path);
    SetProgress(0, std::max<uint64_t>(file->size, 1));
    NotifyStatus();

    std::vector<SourceFileEntryRef> entries;
    ChecksumListRead outcome = ReadChecksumList(
        *file, [this, &entries](std::string_view line) { return ParseListLine(line, entries); },
        [this](uint64_t position) {
            ReportProgress(position);
            return !StopRequested();
        });
    file->close();

    if (outcome != ChecksumListRead::Complete) {
        // What was read of an unfinished list is not used. A stopped read
        // leaves the list unread, so that the next scan reads it again.
        entries.clear();
        if (outcome == ChecksumListRead::Stopped) {
            file->result = VerifyResult::NotVerified;
            if (observer()) observer()->ReportVolumeFile(*file);
            return false;
        }
        file->flags.damaged = true;
    }
    file->result = VerifyResult::NotIntact;
    file->blocksTaken = static_cast<uint32_t>(entries.size());
    file->flags.unused = entries.empty();
    if (observer()) observer()->ReportVolumeFile(*file);
    if (entries.empty()) {
        NotifyStatus();
        return false;
    }
    if (!TakeEntries(std::move(entries))) return false;
    ListLoaded();
    MarkDescribed();
    ReportAll();
    NotifyStatus();
    return true;
}

bool ChecksumSet::TakeEntries(std::vector<SourceFileEntryRef> entries) {
    SetEntries(std::move(entries));
    SetBlockSize(0);
    return FinishLoading();
}

void ChecksumSet::StateLoaded() {
    SetSetName(baseName_);
    MarkDescribed();
    UpdateState();
}

bool ChecksumSet::TargetOutsideFolder(const SetFile& file) const {
    return file.kind == FileKind::Target && PathLeavesFolder(file.path, folder_);
}

ChecksumSet::Hashing ChecksumSet::HashWholeFile(SetFile& file, ChecksumOfFile& hash) {
    const uint64_t size = file.size;
    std::vector<uint8_t> buffer(static_cast<size_t>(std::min<uint64_t>(size, kHashBuffer)));
    SetProgress(0, size);
    uint64_t position = 0;
    while (position < size) {
        const size_t length = static_cast<size_t>(std::min<uint64_t>(size - position, kHashBuffer));
        if (!file.read(position, buffer.data(), length)) return Hashing::ReadFailed;
        HashUpdate(hash, buffer.data(), length);
        position += length;
        ReportProgress(position);
        if (StopRequested() && position < size) return Hashing::Stopped;
    }
    HashFinish(hash);
    return Hashing::Done;
}

void ChecksumSet::VerifyDataFile(const SetFileRef& file, SourceFileEntry*& entryOut,
                                 DataFileOutcome& outcome, bool checkOnly) {
    SourceFileEntry* expected = entryOut;
    outcome = DataFileOutcome::NothingFound;
    if (checkOnly) return;  // no whole-file check of its own
    auto recordAgainstExpected = [&]() {
        if (expected && !expected->FindPlace(file.get())) {
            expected->AddToPlace(file, 0);
            expected->dirty = true;
        }
    };
    if (TargetOutsideFolder(*file)) {
        // Its name leads out of the set's folder: never read there.
        file->result = VerifyResult::Missing;
        return;
    }
    ChecksumOfFile hash;
    if (HashWholeFile(*file, hash) != Hashing::Done) {
        // Not read to its end: not verified.
        file->result = VerifyResult::NotVerified;
        return;
    }
    file->result = VerifyResult::NotIntact;

    if (file->size == 0) {
        // An empty file is the listed empty file of its own name and no
        // other: every empty file would match every listed one. Empty files
        // have no block to locate.
        if (expected && expected->blockCount == 0 && !expected->completeCopy &&
            HashMatches(*expected, hash)) {
            entryOut = expected;
            outcome = DataFileOutcome::IntactCopy;
        } else {
            recordAgainstExpected();
        }
        return;
    }
    SourceFileEntry* match = nullptr;
    for (const SourceFileEntryRef& entry : entries_) {
        if (entry->blockCount == 1 && !entry->foundBlocks[0].file && HashMatches(*entry, hash)) {
            match = entry.get();
            break;
        }
    }
    if (match && expected && expected != match && expected->blockCount == 1 &&
        !expected->foundBlocks[0].file && HashMatches(*expected, hash)) {
        match = expected;
    }
    if (!match) {
        recordAgainstExpected();
        return;
    }
    entryOut = match;
    outcome = DataFileOutcome::IntactCopy;
    LocateBlock(*match, 0, file, 0);
    match->foundBlocks[0].length = file->size;
    match->dirty = true;
}

bool ChecksumSet::CheckWholeFile(SetFile& file, const SourceFileEntry& entry, bool& stopped) {
    stopped = false;
    if (TargetOutsideFolder(file)) return false;
    ChecksumOfFile hash;
    const Hashing outcome = file.size == 0 ? Hashing::Done : HashWholeFile(file, hash);
    if (file.size == 0) HashFinish(hash);
    stopped = outcome == Hashing::Stopped;
    return outcome == Hashing::Done && file.size != 0 && HashMatches(entry, hash);
}

std::string ListSetName(const std::string& fileName, const char* extension) {
    const size_t n = std::char_traits<char>::length(extension);
    if (fileName.size() < n ||
        strcasecmp(fileName.c_str() + fileName.size() - n, extension) != 0) {
        return {};
    }
    return fileName.substr(0, fileName.size() - n);
}

bool ChecksumSet::ReadStateEntries(StateReader& reader,
                                   bool (*named)(const SourceFileEntry& entry)) {
    const uint32_t count = reader.ReadU32();
    if (reader.failed() || count == 0 || count > reader.remaining() / 4) return false;
    std::vector<SourceFileEntryRef> entries;
    for (uint32_t i = 0; i < count; ++i) {
        SourceFileEntryRef entry;
        if (!ReadEntryReference(reader, entry) || !entry) return false;
        if (entry->blockCount > 1 || !named(*entry)) return false;
        entries.push_back(std::move(entry));
    }
    SetEntries(std::move(entries));
    return !reader.failed();
}

}  // namespace vantrove
