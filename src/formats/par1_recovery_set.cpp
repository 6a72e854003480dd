#include "formats/par1_recovery_set.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <set>

#include "core/machine.h"
#include "core/path.h"
#include "core/stored_name.h"
#include "core/string_ids.h"
#include "core/string_table.h"
#include "engine/set_data_pass_reporter.h"
#include "engine/verification_cache.h"
#include "formats/par1_computation.h"
#include "formats/par1_format.h"
#include "rs/reed_solomon_matrix.h"

namespace vantrove {
namespace {

constexpr const char* kStateTag = "VT1";
constexpr size_t kHashBuffer = 1048576;
// A recovery block as an object of the saved state.
constexpr StateObjectType kRecoveryBlockObject =
    static_cast<StateObjectType>(static_cast<int32_t>(StateObjectType::FormatBase) + 1);

FileDescriptionRef ReadPar1Description(DescriptionSlot slot, StateReader& reader) {
    if (slot != DescriptionSlot::Par1FileEntry) return nullptr;
    auto description = std::make_shared<Par1EntryDescription>();
    reader.ReadBytes(description->hash.bytes.data(), 16);
    reader.ReadBytes(description->hash16k.bytes.data(), 16);
    description->size = reader.ReadU64();
    if (!reader.ReadString(description->name) || reader.failed()) return nullptr;
    return description;
}

// The set order of the entries whose sizes, hashes and names a list gives.
std::vector<SourceFileEntryRef> EntriesOf(const Par1FileList& list) {
    std::vector<SourceFileEntryRef> entries;
    for (const Par1FileEntry& parsed : list.entries) {
        auto description = std::make_shared<Par1EntryDescription>();
        description->hash = parsed.hash;
        description->hash16k = parsed.hash16k;
        description->size = parsed.size;
        description->name = StoredName(parsed.name);
        auto entry = std::make_shared<SourceFileEntry>();
        entry->name = description->name;
        entry->size = parsed.size;
        entry->blockCount = 1;
        entry->Description(DescriptionSlot::Par1FileEntry) = std::move(description);
        entries.push_back(std::move(entry));
    }
    return entries;
}

}  // namespace

void Par1EntryDescription::WriteState(StateWriter& writer) const {
    writer.WriteBytes(hash.bytes.data(), 16);
    writer.WriteBytes(hash16k.bytes.data(), 16);
    writer.WriteU64(size);
    writer.WriteString(name);
}

std::unique_ptr<RecoverySet> NewPar1Set(SetObserver* observer, const StopFlag* stopFlag) {
    return MakeRecoverySet<Par1RecoverySet>(FormatKind::Par1, observer, stopFlag);
}

Par1RecoverySet::Par1RecoverySet(RecoverySet& set) : set_(set) {}

const Par1EntryDescription* Par1RecoverySet::DescriptionOf(const SourceFileEntry& entry) {
    return dynamic_cast<const Par1EntryDescription*>(
        entry.Description(DescriptionSlot::Par1FileEntry).get());
}

std::string Par1RecoverySet::VolumeSetName(const std::string& fileName) const {
    return Par1VolumeSetName(fileName);
}

std::string Par1RecoverySet::CreatorText() const {
    return hasFileList_ ? Par1CreatorText(generator_) : std::string();
}

// ---------------------------------------------------------------------------
// Opening

void Par1RecoverySet::LoadFolderVolumes(const std::string& setName) {
    for (const std::string& path : set_.VolumesNamed(setName)) {
        if (hasFileList_ || set_.StopRequested()) break;
        SetFileRef file = set_.KnownOrNewVolume(path);
        if (file->result != VerifyResult::NotVerified) continue;  // read already
        LoadVolume(file, false);
    }
}

std::unique_ptr<SetFormat> Par1RecoverySet::NewFormatFor(RecoverySet& set) const {
    return std::make_unique<Par1RecoverySet>(set);
}

bool Par1RecoverySet::SameSetAs(const SetFormat& format) const {
    const auto* theirs = dynamic_cast<const Par1RecoverySet*>(&format);
    if (theirs == nullptr) return false;
    const RecoverySet& other = theirs->set_;
    return other.formatKind() == FormatKind::Par1 && other.folder() == set_.folder() &&
           other.baseName() == set_.baseName() && other.entries().size() == set_.entries().size() &&
           other.status().blockSize == set_.status().blockSize &&
           other.status().totalSourceSize == set_.status().totalSourceSize &&
           theirs->protectedEntries_ == protectedEntries_;
}

// ---------------------------------------------------------------------------
// Reading a PAR 1.0 file

Par1RecoverySet::ControlHash Par1RecoverySet::CheckControlHash(SetFile& file,
                                                               const Md5Digest& expected) {
    const uint64_t size = file.size;
    set_.SetProgress(0, size);
    Md5Context md5;
    std::vector<uint8_t> buffer(static_cast<size_t>(std::min<uint64_t>(size, kHashBuffer)));
    uint64_t position = kPar1ControlHashStart;
    while (position < size) {
        const size_t length = static_cast<size_t>(std::min<uint64_t>(size - position, kHashBuffer));
        if (!file.read(position, buffer.data(), length)) return ControlHash::Interrupted;
        md5.Update(buffer.data(), length);
        position += length;
        set_.ReportProgress(position);
        if (set_.StopRequested() && position < size) return ControlHash::Interrupted;
    }
    return md5.Final() == expected ? ControlHash::Matches : ControlHash::Differs;
}

bool Par1RecoverySet::LoadVolume(const SetFileRef& file, bool deferHashCheck) {
    if (!file || !set_.BeginReadingVolume(file)) return false;

    // How the file ends: used, read but of no use, damaged, or not read.
    enum class Outcome { Used, Unused, Damaged, Interrupted };
    auto finish = [this, &file](Outcome outcome) {
        file->close();
        if (outcome == Outcome::Interrupted) {
            file->result = VerifyResult::NotVerified;
        } else {
            file->result = VerifyResult::NotIntact;
            file->flags.damaged = outcome == Outcome::Damaged;
            file->flags.unused = outcome != Outcome::Used;
        }
        if (set_.observer()) set_.observer()->ReportVolumeFile(*file);
        set_.NotifyStatus();
        return outcome == Outcome::Used;
    };

    uint8_t head[kPar1HeaderSize];
    Par1Header header;
    if (file->size < kPar1HeaderSize || !file->read(0, head, sizeof head) ||
        !ParsePar1Header(head, header)) {
        return finish(Outcome::Unused);
    }
    if (!deferHashCheck) {
        const ControlHash check = CheckControlHash(*file, header.controlHash);
        if (check == ControlHash::Interrupted) return finish(Outcome::Interrupted);
        if (check == ControlHash::Differs) return finish(Outcome::Damaged);
    }
    if (!Par1HeaderUsable(header, file->size)) return finish(Outcome::Unused);

    std::vector<uint8_t> listBytes(static_cast<size_t>(header.fileListSize));
    if (!file->read(header.fileListOffset, listBytes.data(), listBytes.size())) {
        return finish(Outcome::Unused);
    }
    Par1FileList list;
    if (!ParsePar1FileList(listBytes.data(), listBytes.size(), header.fileCount, list)) {
        return finish(Outcome::Unused);
    }

    const bool firstList = !hasFileList_;
    if (firstList) {
        if (list.entries.empty()) return finish(Outcome::Unused);
    } else if (list.protectedBytes != protectedEntries_) {
        return finish(Outcome::Unused);  // a file of another set
    }

    bool brought = false;
    if (header.volumeNumber != 0 && header.dataOffset != 0 &&
        header.dataSize == (firstList ? list.blockSize : set_.status().blockSize)) {
        if (deferHashCheck) {
            const ControlHash check = CheckControlHash(*file, header.controlHash);
            if (check == ControlHash::Interrupted) return finish(Outcome::Interrupted);
            if (check == ControlHash::Differs) return finish(Outcome::Damaged);
        }
        brought = true;
    }

    // The file belongs to this set: its generator names the creator.
    generator_ = header.generator;
    hash16kUntrusted_ = header.generator == kPar1UntrustedHashGenerator;
    if (firstList) {
        protectedEntries_ = std::move(list.protectedBytes);
        set_.SetEntries(EntriesOf(list));
        set_.SetBlockSize(list.blockSize);
        if (!set_.FinishLoading()) {
            set_.ForgetEntries();
            protectedEntries_.clear();
            return finish(Outcome::Unused);
        }
        hasFileList_ = true;
        set_.MarkDescribed();
    }
    if (brought) {
        const uint32_t exponent = static_cast<uint32_t>(header.volumeNumber - 1);
        if (!volumes_.count(exponent)) {
            volumes_[exponent] = DataBlock{file, header.dataOffset, set_.status().blockSize};
            ++file->blocksTaken;
        }
        set_.SetRecoveryBlocksAvailable(static_cast<int32_t>(volumes_.size()));
    }
    const bool used = finish(Outcome::Used);
    if (firstList) set_.ReportAll();
    return used;
}

void Par1RecoverySet::ForgetVolume(SetFile& file) {
    for (auto it = volumes_.begin(); it != volumes_.end();) {
        if (it->second.file.get() == &file) {
            it = volumes_.erase(it);
        } else {
            ++it;
        }
    }
    file.blocksTaken = 0;
    set_.SetRecoveryBlocksAvailable(static_cast<int32_t>(volumes_.size()));
}

// ---------------------------------------------------------------------------
// Matching data files

bool Par1RecoverySet::TargetOutsideFolder(const SetFile& file) const {
    return file.kind == FileKind::Target && PathLeavesFolder(file.path, set_.folder());
}

void Par1RecoverySet::VerifyDataFile(const SetFileRef& file, SourceFileEntry*& entryOut,
                                     DataFileOutcome& outcome, bool checkOnly) {
    SourceFileEntry* expected = entryOut;
    outcome = DataFileOutcome::NothingFound;
    auto recordAgainstExpected = [&]() {
        if (expected && !expected->FindPlace(file.get())) {
            expected->AddToPlace(file, 0);
            expected->dirty = true;
        }
    };
    if (TargetOutsideFolder(*file)) {
        file->result = VerifyResult::Missing;  // its name leads out of the folder
        return;
    }
    // A whole-file comparison is all there is: the check is always full.
    file->flags.formatFlag = false;
    const uint64_t size = file->size;
    set_.SetProgress(0, std::max<uint64_t>(size, 1));
    auto firstFrom = [this, size](size_t from, auto&& wanted) -> size_t {
        for (size_t i = from; i < set_.entries().size(); ++i) {
            if (set_.entries()[i]->size == size && wanted(*set_.entries()[i])) return i;
        }
        return set_.entries().size();
    };
    if (size == 0) {
        // An empty file is the listed empty file of its own name and no
        // other: every empty file would match every listed one.
        const Par1EntryDescription* d = expected ? DescriptionOf(*expected) : nullptr;
        if (d && expected->size == 0 && !expected->foundBlocks[0].file &&
            d->hash == Md5Of(nullptr, 0)) {
            entryOut = expected;
            outcome = DataFileOutcome::IntactCopy;
            file->result = VerifyResult::NotIntact;
            set_.LocateBlock(*expected, 0, file, 0);
            expected->foundBlocks[0].length = 0;
            return;
        }
        file->result = VerifyResult::NotIntact;
        recordAgainstExpected();
        return;
    }
    size_t start = firstFrom(0, [](const SourceFileEntry&) { return true; });
    if (start == set_.entries().size()) {
        file->result = VerifyResult::NotIntact;
        recordAgainstExpected();
        return;
    }

    const size_t headLength = static_cast<size_t>(std::min<uint64_t>(size, kPar1Hash16kLength));
    std::vector<uint8_t> buffer(static_cast<size_t>(std::min<uint64_t>(size, kHashBuffer)));
    // Data that cannot be read make a damaged file, with the reason kept.
    auto unreadable = [&]() {
        file->readError = file->lastError() != 0 ? file->lastError() : EIO;
        file->result = VerifyResult::NotIntact;
        recordAgainstExpected();
    };
    if (!file->read(0, buffer.data(), headLength)) return unreadable();
    Md5Context md5;
    md5.Update(buffer.data(), headLength);
    const Md5Digest head = md5.Final();
    const bool trustHead = !hash16kUntrusted_;
    auto headMatches = [&](const SourceFileEntry& e) {
        const Par1EntryDescription* d = DescriptionOf(e);
        return d && (!trustHead || d->hash16k == head);
    };
    if (trustHead) {
        start = firstFrom(start, headMatches);
        if (start == set_.entries().size()) {
            file->result = VerifyResult::NotIntact;
            recordAgainstExpected();
            return;
        }
    }

    uint64_t position = headLength;
    set_.ReportProgress(position);
    while (position < size) {
        const size_t length = static_cast<size_t>(std::min<uint64_t>(size - position, kHashBuffer));
        if (!file->read(position, buffer.data(), length)) return unreadable();
        md5.Update(buffer.data(), length);
        position += length;
        set_.ReportProgress(position);
        if (set_.StopRequested() && position < size) {
            file->result = VerifyResult::NotVerified;
            return;
        }
    }
    const Md5Digest whole = md5.Final();
    auto matches = [&](const SourceFileEntry& e) {
        const Par1EntryDescription* d = DescriptionOf(e);
        return e.size == size && headMatches(e) && d->hash == whole && !e.foundBlocks[0].file;
    };
    const size_t found = firstFrom(start, matches);
    file->result = VerifyResult::NotIntact;
    SourceFileEntry* match = found < set_.entries().size() ? set_.entries()[found].get() : nullptr;
    if (match && expected && expected != match && matches(*expected)) match = expected;
    if (!match) {
        recordAgainstExpected();
        return;
    }
    entryOut = match;
    outcome = DataFileOutcome::IntactCopy;
    set_.LocateBlock(*match, 0, file, 0);
    match->foundBlocks[0].length = size;
}

bool Par1RecoverySet::CheckWholeFile(SetFile& file, const SourceFileEntry& entry, bool& stopped) {
    stopped = false;
    const Par1EntryDescription* description = DescriptionOf(entry);
    if (!description || file.size != entry.size || file.size == 0 || TargetOutsideFolder(file)) {
        return false;
    }
    const uint64_t headLength = std::min<uint64_t>(file.size, kPar1Hash16kLength);
    Md5Context md5;
    std::vector<uint8_t> buffer(static_cast<size_t>(std::min<uint64_t>(file.size, kHashBuffer)));
    uint64_t position = 0;
    while (position < file.size) {
        // The first read ends at 16 KiB, so that the head can be compared
        // before the rest is read.
        const uint64_t end = position < headLength ? headLength : file.size;
        const size_t length = static_cast<size_t>(std::min<uint64_t>(end - position, kHashBuffer));
        if (!file.read(position, buffer.data(), length)) return false;
        md5.Update(buffer.data(), length);
        position += length;
        if (position == headLength && !hash16kUntrusted_ &&
            !(md5.Final() == description->hash16k)) {
            return false;
        }
        set_.ReportProgress(position);
        if (set_.StopRequested() && position < file.size) {
            stopped = true;
            return false;
        }
    }
    return md5.Final() == description->hash;
}

// ---------------------------------------------------------------------------
// Saved state

bool Par1RecoverySet::SaveState(const std::string& setPath) {
    if (!hasFileList_) return false;
    return set_.SaveStateFile(
        setPath + kStateExtensionPar1, kStateTag, set_.status().totalSourceSize,
        [this](StateWriter& writer) {
            writer.WriteU32(static_cast<uint32_t>(protectedEntries_.size()));
            writer.WriteBytes(protectedEntries_.data(), protectedEntries_.size());
            writer.WriteU32(static_cast<uint32_t>(set_.entries().size()));
            for (const SourceFileEntryRef& entry : set_.entries()) {
                WriteEntryReference(writer, entry.get());
            }
            writer.WriteU32(static_cast<uint32_t>(volumes_.size()));
            for (const auto& [exponent, volumeBlock] : volumes_) {
                writer.WriteU32(exponent);
                const auto& block = volumeBlock;  // clang 14 captures no bindings
                writer.WriteReference(&block, [&writer, &block] {
                    WriteDiskFileReference(writer, block.file.get());
                    writer.WriteU64(block.offset);
                    writer.WriteU64(block.length);
                });
            }
            writer.WriteU32(hash16kUntrusted_ ? 1 : 0);
            writer.WriteU32(generator_);
        });
}

bool Par1RecoverySet::LoadState(const std::string& setPath) {
    const std::string key = setPath + kStateExtensionPar1;
    uint64_t secondValue = 0;
    std::map<uint32_t, DataBlock> volumes;
    std::vector<uint8_t> protectedEntries;
    uint32_t untrusted = 0, generator = 0;
    auto readPart = [&](StateReader& reader) -> bool {
        const uint32_t length = reader.ReadU32();
        if (reader.failed() || length == 0 || length > kPar1MaxFileListSize ||
            length > reader.remaining()) {
            return false;
        }
        protectedEntries.resize(length);
        if (!reader.ReadBytes(protectedEntries.data(), length)) return false;
        const uint32_t count = reader.ReadU32();
        if (reader.failed() || count == 0 || count > reader.remaining() / 4) return false;
        std::vector<SourceFileEntryRef> entries;
        for (uint32_t i = 0; i < count; ++i) {
            SourceFileEntryRef entry;
            if (!ReadEntryReference(reader, entry) || !entry) return false;
            const Par1EntryDescription* description = DescriptionOf(*entry);
            if (!description || description->name != entry->name) return false;
            entry->size = description->size;
            entry->blockCount = 1;
            entries.push_back(std::move(entry));
        }
        const uint32_t volumeCount = reader.ReadU32();
        if (reader.failed() || volumeCount > reader.remaining() / 8) return false;
        for (uint32_t i = 0; i < volumeCount; ++i) {
            const uint32_t exponent = reader.ReadU32();
            std::shared_ptr<DataBlock> block;
            const bool ok = reader.ReadReference(
                kRecoveryBlockObject, block, [] { return std::make_shared<DataBlock>(); },
                [&reader](DataBlock& b) {
                    if (!ReadDiskFileReference(reader, b.file) || !b.file) return false;
                    b.offset = reader.ReadU64();
                    b.length = reader.ReadU64();
                    return !reader.failed();
                });
            if (!ok || !block || exponent >= kPar1MaxVolumeNumber || volumes.count(exponent)) {
                return false;
            }
            volumes[exponent] = *block;
        }
        untrusted = reader.ReadU32();
        generator = reader.ReadU32();
        set_.SetEntries(std::move(entries));
        return !reader.failed();
    };
    if (!set_.LoadStateFile(key, kStateTag, secondValue, ReadPar1Description, readPart))
        return false;

    // The saved list must describe the saved entries.
    Par1FileList list;
    if (!ParsePar1FileList(protectedEntries.data(), protectedEntries.size(), set_.entries().size(),
                           list) ||
        list.protectedBytes.size() != protectedEntries.size() ||
        list.entries.size() != set_.entries().size() || list.blockSize != set_.status().blockSize ||
        list.totalSize != set_.status().totalSourceSize ||
        secondValue != set_.status().totalSourceSize) {
        return false;
    }
    for (size_t i = 0; i < set_.entries().size(); ++i) {
        const Par1EntryDescription* d = DescriptionOf(*set_.entries()[i]);
        if (d->size != list.entries[i].size || !(d->hash == list.entries[i].hash) ||
            !(d->hash16k == list.entries[i].hash16k) || d->name != list.entries[i].name) {
            return false;
        }
    }
    for (const auto& [exponent, block] : volumes) {
        if (block.length != set_.status().blockSize) return false;
    }
    protectedEntries_ = std::move(protectedEntries);
    volumes_ = std::move(volumes);
    hash16kUntrusted_ = untrusted != 0;
    generator_ = generator;
    hasFileList_ = true;
    set_.SetRecoveryBlocksAvailable(static_cast<int32_t>(volumes_.size()));
    set_.SetSetName(set_.baseName());
    set_.MarkDescribed();
    set_.UpdateState();
    return true;
}

// ---------------------------------------------------------------------------
// Repair

uint64_t Par1RecoverySet::PhysicalMemory() const {
    if (set_.repairOptions().physicalMemoryBytes != 0)
        return set_.repairOptions().physicalMemoryBytes;
    return PhysicalMemoryBytes();
}

std::vector<SetFileRef> Par1RecoverySet::CleanUpCandidates(RecoveryState, SubState) const {
    // The damaged targets (the renaming moves them aside as other data
    // files) and the volumes whose recovery blocks the set holds. Nothing
    // else of the folder is ever on this list.
    std::vector<SetFileRef> list;
    for (const SourceFileEntryRef& entry : set_.entries()) {
        if (entry->targetFile && entry->targetFile->result == VerifyResult::NotIntact) {
            list.push_back(entry->targetFile);
        }
    }
    for (const auto& [exponent, block] : volumes_) {
        if (std::find(list.begin(), list.end(), block.file) == list.end()) {
            list.push_back(SetFileOf(block.file));
        }
    }
    return list;
}

bool Par1RecoverySet::RebuildTargets(RecoveryState, const std::vector<SourceFileEntry*>&,
                                     bool& cancelled) {
    cancelled = false;
    if (static_cast<uint32_t>(set_.status().dataBlocksAvailable) >= set_.status().totalDataBlocks)
        return true;
    set_.SetActivity(Activity::ComputingMatrix, GetString(kStrActivityComputingMatrix));
    set_.NotifyStatus();

    Par1ComputationJob job;
    std::vector<bool> present;
    bool openFailed = false;
    // The inputs opened here are closed again whatever happens.
    struct Opened {
        std::vector<DiskFileRef> files;
        ~Opened() {
            for (const DiskFileRef& file : files) file->close();
        }
    } opened;
    auto openInput = [this, &openFailed, &opened](const DataBlock& block) {
        if (openFailed || block.file->isOpen()) return;
        if (!block.file->open()) {
            set_.RecordError(ErrorKind::Open, block.file->lastError(), block.file->path);
            openFailed = true;
            return;
        }
        opened.files.push_back(block.file);
    };
    for (const SourceFileEntryRef& entry : set_.entries()) {
        const DataBlock& found = entry->foundBlocks[0];
        if (found.file) {
            openInput(found);
            job.inputs.push_back(found);
            present.push_back(true);
        } else {
            job.outputs.push_back(entry->targetBlocks[0]);
            present.push_back(false);
        }
    }
    ReedSolomonMatrix8 matrix;
    const size_t missing = job.outputs.size();
    for (const auto& [exponent, block] : volumes_) {
        if (job.inputs.size() >= set_.entries().size()) break;
        openInput(block);
        job.inputs.push_back(block);
        matrix.AddOutput(true, static_cast<uint16_t>(exponent));
    }
    if (openFailed) return false;
    for (const DataBlock& output : job.outputs) {
        // A block without a file is one the repair may not write (its name
        // was refused): it is computed with the others and dropped.
        if (!output.file && output.length == 0) continue;
        if (!output.file || !output.file->isOpen()) {
            set_.RecordError(ErrorKind::Open, output.file ? output.file->lastError() : EBADF,
                             output.file ? output.file->path : std::string());
            return false;
        }
    }
    if (!matrix.SetInput(present) || missing > volumes_.size() || !matrix.Compute(&set_)) {
        set_.RecordError(ErrorKind::ReedSolomon, 0, {});
        return false;
    }
    job.blockSize = set_.status().blockSize;
    job.matrix = &matrix;
    job.physicalMemoryBytes = PhysicalMemory();
    SetDataPassReporter reporter(set_);
    return RunPar1Computation(job, reporter, cancelled);
}

}  // namespace vantrove
