#include "formats/checksum_set.h"

#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <set>
#include <vector>

#include "core/stored_name.h"
#include "formats/checksum_list.h"

namespace vantrove {
namespace {

constexpr size_t kHashBuffer = 1048576;

}  // namespace

bool ChecksumSet::Described() const {
    return set_.status().state != RecoveryState::NothingLoaded &&
           set_.status().state != RecoveryState::NeedMoreVolumes;
}

bool ChecksumSet::SameSetAs(const SetFormat& format) const {
    const auto* theirs = dynamic_cast<const ChecksumSet*>(&format);
    if (theirs == nullptr) return false;
    const RecoverySet& other = theirs->set_;
    if (other.formatKind() != set_.formatKind() || other.folder() != set_.folder() ||
        other.baseName() != set_.baseName() || other.entries().size() != set_.entries().size()) {
        return false;
    }
    for (size_t i = 0; i < set_.entries().size(); ++i) {
        if (!SameEntry(*set_.entries()[i], *other.entries()[i])) return false;
    }
    return true;
}

bool ChecksumSet::LoadVolume(const SetFileRef& file, bool ignore) {
    if (ignore || !file) return false;
    if (set_.status().state != RecoveryState::NeedMoreVolumes) {
        // The list is read once. The file that gave it stays the set's own
        // when a scan looks at it again (after a re-verification, or when it
        // changed on disk); any other list is of no use now.
        if (file->kind != FileKind::Volume || file->blocksTaken == 0) return false;
        file->result = VerifyResult::NotIntact;
        if (set_.observer()) set_.observer()->ReportVolumeFile(*file);
        return true;
    }
    if (!set_.BeginReadingVolume(file)) return false;

    std::vector<SourceFileEntryRef> entries;
    ChecksumListRead outcome = ReadChecksumList(
        *file, [this, &entries](std::string_view line) { return ParseListLine(line, entries); },
        [this](uint64_t position) {
            set_.ReportProgress(position);
            return !set_.StopRequested();
        });
    file->close();

    if (outcome != ChecksumListRead::Complete) {
        // What was read of an unfinished list is not used. A stopped read
        // leaves the list unread, so that the next scan reads it again.
        entries.clear();
        if (outcome == ChecksumListRead::Stopped) {
            file->result = VerifyResult::NotVerified;
            if (set_.observer()) set_.observer()->ReportVolumeFile(*file);
            return false;
        }
        file->flags.damaged = true;
    }
    file->result = VerifyResult::NotIntact;
    file->blocksTaken = static_cast<uint32_t>(entries.size());
    file->flags.unused = entries.empty();
    if (set_.observer()) set_.observer()->ReportVolumeFile(*file);
    if (entries.empty()) {
        set_.NotifyStatus();
        return false;
    }
    if (!TakeEntries(std::move(entries))) return false;
    ListLoaded();
    set_.MarkDescribed();
    set_.ReportAll();
    set_.NotifyStatus();
    return true;
}

bool ChecksumSet::TakeEntries(std::vector<SourceFileEntryRef> entries) {
    set_.SetEntries(std::move(entries));
    set_.SetBlockSize(0);
    return set_.FinishLoading();
}

void ChecksumSet::StateLoaded() {
    set_.SetSetName(set_.baseName());
    set_.MarkDescribed();
    set_.UpdateState();
}

bool ChecksumSet::TargetOutsideFolder(const SetFile& file) const {
    return file.kind == FileKind::Target && PathLeavesFolder(file.path, set_.folder());
}

ChecksumSet::Hashing ChecksumSet::HashWholeFile(SetFile& file, ChecksumOfFile& hash) {
    const uint64_t size = file.size;
    std::vector<uint8_t> buffer(static_cast<size_t>(std::min<uint64_t>(size, kHashBuffer)));
    set_.SetProgress(0, size);
    uint64_t position = 0;
    while (position < size) {
        const size_t length = static_cast<size_t>(std::min<uint64_t>(size - position, kHashBuffer));
        if (!file.read(position, buffer.data(), length)) return Hashing::ReadFailed;
        HashUpdate(hash, buffer.data(), length);
        position += length;
        set_.ReportProgress(position);
        if (set_.StopRequested() && position < size) return Hashing::Stopped;
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
    const Hashing hashing = HashWholeFile(*file, hash);
    if (hashing == Hashing::Stopped) {
        // Not read to its end: not verified.
        file->result = VerifyResult::NotVerified;
        return;
    }
    file->result = VerifyResult::NotIntact;
    if (hashing == Hashing::ReadFailed) {
        // Data that cannot be read: a damaged file, with the reason kept.
        file->readError = file->lastError() != 0 ? file->lastError() : EIO;
        recordAgainstExpected();
        return;
    }

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
    for (const SourceFileEntryRef& entry : set_.entries()) {
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
    set_.LocateBlock(*match, 0, file, 0);
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
    if (fileName.size() < n || strcasecmp(fileName.c_str() + fileName.size() - n, extension) != 0) {
        return {};
    }
    return fileName.substr(0, fileName.size() - n);
}

void ChecksumSet::AddListedEntry(std::vector<SourceFileEntryRef>& entries,
                                 std::shared_ptr<ListLineDescription> description,
                                 bool empty) const {
    auto entry = std::make_shared<SourceFileEntry>();
    description->name = StoredName(description->name);
    entry->name = description->name;
    entry->blockCount = empty ? 0 : 1;
    entry->Description(kind_.slot) = std::move(description);
    entries.push_back(std::move(entry));
}

std::string ChecksumSet::VolumeSetName(const std::string& fileName) const {
    return ListSetName(fileName, kind_.listExtension);
}

bool ChecksumSet::SaveState(const std::string& setPath) {
    if (set_.entries().empty()) return false;
    return set_.SaveStateFile(setPath + kind_.stateExtension, kind_.stateTag, 0,
                              [this](StateWriter& writer) {
                                  WriteListState(writer);
                                  writer.WriteU32(static_cast<uint32_t>(set_.entries().size()));
                                  for (const SourceFileEntryRef& entry : set_.entries()) {
                                      WriteEntryReference(writer, entry.get());
                                  }
                              });
}

bool ChecksumSet::LoadState(const std::string& setPath) {
    uint64_t secondValue = 0;
    auto readPart = [this](StateReader& reader) -> bool {
        ReadListState(reader);
        return ReadStateEntries(reader);
    };
    if (!set_.LoadStateFile(setPath + kind_.stateExtension, kind_.stateTag, secondValue,
                            kind_.readDescription, readPart)) {
        return false;
    }
    StateLoaded();
    return true;
}

bool ChecksumSet::ReadStateEntries(StateReader& reader) {
    const uint32_t count = reader.ReadU32();
    if (reader.failed() || count == 0 || count > reader.remaining() / 4) return false;
    std::vector<SourceFileEntryRef> entries;
    for (uint32_t i = 0; i < count; ++i) {
        SourceFileEntryRef entry;
        if (!ReadEntryReference(reader, entry) || !entry) return false;
        const ListLineDescription* line = LineOf<ListLineDescription>(*entry);
        if (entry->blockCount > 1 || line == nullptr || line->name != entry->name) return false;
        entries.push_back(std::move(entry));
    }
    set_.SetEntries(std::move(entries));
    return !reader.failed();
}

}  // namespace vantrove
