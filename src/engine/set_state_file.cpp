// RecoverySet: the format-independent part of the saved state (the known
// files, the entries and the found blocks), and the references through which
// the formats' own parts point at them.

#include <cstring>
#include <set>
#include <unordered_set>

#include "core/path.h"
#include "core/stored_name.h"
#include "engine/recovery_set.h"
#include "engine/verification_cache.h"

namespace vantrove {
namespace {

// The last byte is the layout's version: 4 stores file paths relative to the
// set's folder and names as paths below it (earlier states are stale).
constexpr uint8_t kStateMagicTail[5] = {0, 0, 0, 0x0A, 0x04};

// Bits of a SetFile record's flags word.
constexpr uint32_t kKindMask = 0x7;
constexpr uint32_t kMisnamedBit = 1u << 3;
constexpr uint32_t kDamagedBit = 1u << 4;
constexpr uint32_t kOutOfVolumeListBit = 1u << 5;
constexpr int kResultShift = 6;
constexpr uint32_t kRepairedBit = 1u << 8;
constexpr uint32_t kFormatFlagBit = 1u << 9;
constexpr uint32_t kUnusedBit = 1u << 10;

// Minimum bytes of one block record: reference, offset, length.
constexpr size_t kBlockRecordSize = 20;

void WriteDiskFileRecord(StateWriter& writer, const SetFile& file);
bool ReadDiskFileRecord(StateReader& reader, SetFile& file);
void WriteEntryRecord(StateWriter& writer, const SourceFileEntry& entry);
bool ReadEntryRecord(StateReader& reader, SourceFileEntry& entry);

void WriteDiskFileRecord(StateWriter& writer, const SetFile& file) {
    writer.WriteU64(file.size);
    writer.WriteU64(file.creationTime);
    writer.WriteU64(file.lastWriteTime);
    // Paths are kept relative to the set's folder; a file elsewhere (one
    // the user added from another folder) is not kept at all.
    const std::string& base = writer.baseFolder();
    if (base.empty() || file.path.size() <= base.size() ||
        file.path.compare(0, base.size(), base) != 0 ||
        !IsSafeStoredName(std::string_view(file.path).substr(base.size()))) {
        writer.Refuse();
        return;
    }
    writer.WriteString(std::string_view(file.path).substr(base.size()));
    writer.WriteU32(PackDiskFileFlags(file));
    writer.WriteU32(file.blocksTaken);
    writer.WriteU32(file.sourceBlockCount);
    WriteEntryReference(writer, file.sourceFile);
}

bool ReadDiskFileRecord(StateReader& reader, SetFile& file) {
    file.size = reader.ReadU64();
    file.creationTime = reader.ReadU64();
    file.lastWriteTime = reader.ReadU64();
    // A saved state is untrusted: a record that leaves the set's folder
    // refuses the whole state.
    std::string relative;
    reader.ReadString(relative);
    if (reader.baseFolder().empty() || !IsSafeStoredName(relative)) {
        reader.Fail();
        return false;
    }
    file.path = reader.baseFolder() + relative;
    UnpackDiskFileFlags(reader.ReadU32(), file);
    file.blocksTaken = reader.ReadU32();
    file.sourceBlockCount = reader.ReadU32();
    SourceFileEntryRef entry;
    if (!ReadEntryReference(reader, entry)) return false;
    file.sourceFile = entry.get();
    return !reader.failed();
}

void WriteEntryRecord(StateWriter& writer, const SourceFileEntry& entry) {
    for (const FileDescriptionRef& description : entry.descriptions) {
        WriteDescriptionReference(writer, description.get());
    }
    WriteDiskFileReference(writer, entry.targetFile.get());
    WriteDiskFileReference(writer, entry.completeCopy.get());
    writer.WriteString(entry.name);
    const std::string& base = writer.baseFolder();
    if (entry.targetPath.size() <= base.size() ||
        entry.targetPath.compare(0, base.size(), base) != 0) {
        writer.Refuse();
        return;
    }
    writer.WriteString(std::string_view(entry.targetPath).substr(base.size()));
    writer.WriteU32(static_cast<uint32_t>(entry.foundIn.size()));
    for (const FoundPlace& place : entry.foundIn) WriteDiskFileReference(writer, place.file.get());
}

bool ReadEntryRecord(StateReader& reader, SourceFileEntry& entry) {
    for (int slot = 0; slot < kDescriptionSlotCount; ++slot) {
        if (!ReadDescriptionReference(reader, static_cast<DescriptionSlot>(slot),
                                      entry.descriptions[slot])) {
            return false;
        }
    }
    if (!ReadDiskFileReference(reader, entry.targetFile)) return false;
    if (!ReadDiskFileReference(reader, entry.completeCopy)) return false;
    reader.ReadString(entry.name);
    std::string relative;
    reader.ReadString(relative);
    if (!IsSafeStoredName(relative)) return false;
    entry.targetPath = reader.baseFolder() + relative;
    uint32_t places = reader.ReadU32();
    if (reader.failed() || places > reader.remaining() / 4) return false;
    std::unordered_set<const DiskFile*> listed;  // each file is a place once
    for (uint32_t i = 0; i < places; ++i) {
        SetFileRef file;
        if (!ReadDiskFileReference(reader, file)) return false;
        if (!file || !listed.insert(file.get()).second) return false;
        entry.foundIn.push_back({file, 0});
    }
    if (entry.targetFile) entry.blockCount = entry.targetFile->sourceBlockCount;
    return !reader.failed();
}

}  // namespace

// ---------------------------------------------------------------------------
// Flags and references

uint32_t PackDiskFileFlags(const SetFile& file) {
    uint32_t bits = static_cast<uint32_t>(file.kind) & kKindMask;
    if (file.flags.misnamed) bits |= kMisnamedBit;
    if (file.flags.damaged) bits |= kDamagedBit;
    if (file.flags.outOfVolumeList) bits |= kOutOfVolumeListBit;
    // A file that could not be read throughout is saved as not verified:
    // the next run reads it again rather than trust a partial look.
    const VerifyResult result = file.readError != 0 ? VerifyResult::NotVerified : file.result;
    bits |= (static_cast<uint32_t>(result) & 3u) << kResultShift;
    if (file.flags.repaired) bits |= kRepairedBit;
    if (file.flags.formatFlag) bits |= kFormatFlagBit;
    if (file.flags.unused) bits |= kUnusedBit;
    return bits;
}

void UnpackDiskFileFlags(uint32_t bits, SetFile& file) {
    uint32_t kind = bits & kKindMask;
    file.kind = (kind >= 1 && kind <= 3) ? static_cast<FileKind>(kind) : FileKind::None;
    file.flags.misnamed = bits & kMisnamedBit;
    file.flags.damaged = bits & kDamagedBit;
    file.flags.outOfVolumeList = bits & kOutOfVolumeListBit;
    file.result = static_cast<VerifyResult>((bits >> kResultShift) & 3u);
    file.flags.repaired = bits & kRepairedBit;
    file.flags.formatFlag = bits & kFormatFlagBit;
    file.flags.unused = bits & kUnusedBit;
}

void WriteDiskFileReference(StateWriter& writer, const DiskFile* file) {
    writer.WriteReference(file, [&writer, file] { WriteDiskFileRecord(writer, SetFileOf(*file)); });
}

bool ReadDiskFileReference(StateReader& reader, SetFileRef& file) {
    return reader.ReadReference(
        StateObjectType::DiskFile, file, [] { return std::make_shared<SetFile>(); },
        [&reader](SetFile& f) { return ReadDiskFileRecord(reader, f); });
}

bool ReadDiskFileReference(StateReader& reader, DiskFileRef& file) {
    SetFileRef record;
    const bool ok = ReadDiskFileReference(reader, record);
    file = std::move(record);
    return ok;
}

void WriteEntryReference(StateWriter& writer, const SourceFileEntry* entry) {
    writer.WriteReference(entry, [&writer, entry] { WriteEntryRecord(writer, *entry); });
}

bool ReadEntryReference(StateReader& reader, SourceFileEntryRef& entry) {
    return reader.ReadReference(
        StateObjectType::SourceFileEntry, entry, [] { return std::make_shared<SourceFileEntry>(); },
        [&reader](SourceFileEntry& e) { return ReadEntryRecord(reader, e); });
}

void WriteDescriptionReference(StateWriter& writer, const FileDescription* description) {
    writer.WriteReference(description, [&writer, description] { description->WriteState(writer); });
}

bool ReadDescriptionReference(StateReader& reader, DescriptionSlot slot,
                              FileDescriptionRef& description) {
    description.reset();
    std::shared_ptr<void> existing;
    int32_t index = 0;
    if (!reader.ReadReferenceHeader(StateObjectType::Description, existing, index)) return false;
    if (index == 0) {
        description = std::static_pointer_cast<FileDescription>(existing);
        return true;
    }
    // Descriptions never refer back to themselves, so the object is made by
    // the format's reader from its bytes and registered afterwards.
    if (reader.descriptionReader()) description = reader.descriptionReader()(slot, reader);
    reader.EndObject();
    if (!description || reader.failed()) {
        description.reset();
        reader.Fail();
        return false;
    }
    reader.Register(index, StateObjectType::Description, description);
    return true;
}

void WriteStateMagic(StateWriter& writer, const char* tag) {
    writer.WriteBytes(tag, 3);
    writer.WriteBytes(kStateMagicTail, sizeof kStateMagicTail);
}

bool ReadStateMagic(StateReader& reader, const char* tag) {
    uint8_t magic[8];
    if (!reader.ReadBytes(magic, sizeof magic)) return false;
    if (std::memcmp(magic, tag, 3) != 0 ||
        std::memcmp(magic + 3, kStateMagicTail, sizeof kStateMagicTail) != 0) {
        reader.Fail();
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Saved state

void RecoverySet::WriteBaseState(StateWriter& writer, uint64_t secondValue) const {
    writer.WriteString(folder_);
    writer.WriteString(baseName_);
    writer.WriteU32(static_cast<uint32_t>(foundBlocks_.size()));
    writer.WriteU64(status_.blockSize);
    writer.WriteU64(secondValue);
    writer.WriteU32(static_cast<uint32_t>(knownFiles_.size()));
    for (const auto& [path, file] : knownFiles_) WriteDiskFileReference(writer, file.get());
    for (const DataBlock& block : foundBlocks_) {
        WriteDiskFileReference(writer, block.file.get());
        writer.WriteU64(block.offset);
        writer.WriteU64(block.length);
    }
}

bool RecoverySet::ReadBaseState(StateReader& reader, uint64_t& secondValue) {
    std::string folder, baseName;
    reader.ReadString(folder);
    reader.ReadString(baseName);
    if (folder.empty() || folder[0] != '/' || folder.back() != '/') {
        reader.Fail();
        return false;
    }
    reader.SetBaseFolder(folder);
    uint32_t totalBlocks = reader.ReadU32();
    uint64_t blockSize = reader.ReadU64();
    secondValue = reader.ReadU64();
    uint32_t fileCount = reader.ReadU32();
    if (reader.failed() || fileCount > reader.remaining() / 4) {
        reader.Fail();
        return false;
    }
    FileMap files;
    for (uint32_t i = 0; i < fileCount; ++i) {
        SetFileRef file;
        if (!ReadDiskFileReference(reader, file) || !file) {
            reader.Fail();
            return false;
        }
        files[file->path] = file;
    }
    if (totalBlocks > reader.remaining() / kBlockRecordSize) {
        reader.Fail();
        return false;
    }
    std::vector<DataBlock> blocks(totalBlocks);
    for (DataBlock& block : blocks) {
        if (!ReadDiskFileReference(reader, block.file)) return false;
        block.offset = reader.ReadU64();
        block.length = reader.ReadU64();
    }
    if (reader.failed()) return false;
    folder_ = std::move(folder);
    baseName_ = std::move(baseName);
    status_.blockSize = blockSize;
    status_.totalDataBlocks = totalBlocks;
    knownFiles_ = std::move(files);
    foundBlocks_ = std::move(blocks);
    return true;
}

bool RecoverySet::SaveStateFile(const std::string& key, const char* tag, uint64_t secondValue,
                                const std::function<void(StateWriter&)>& writeFormatPart) {
    StateWriter writer;
    if (!cache().OpenStateForWrite(key, writer)) return false;
    writer.SetBaseFolder(folder_);
    WriteStateMagic(writer, tag);
    WriteBaseState(writer, secondValue);
    if (writeFormatPart) writeFormatPart(writer);
    return writer.CloseStream();
}

bool RecoverySet::LoadStateFile(const std::string& key, const char* tag, uint64_t& secondValue,
                                StateReader::DescriptionReader readDescription,
                                const std::function<bool(StateReader&)>& readFormatPart) {
    StateReader reader;
    if (!cache().OpenStateForRead(key, reader)) return false;
    reader.SetDescriptionReader(std::move(readDescription));
    if (!ReadStateMagic(reader, tag) || !ReadBaseState(reader, secondValue)) return false;
    if (!readFormatPart || !readFormatPart(reader) || !reader.CheckDigest()) return false;

    // Every file that names a source file must name one of this set's
    // entries, and every entry's target must name the entry.
    std::set<const SourceFileEntry*> own;
    uint64_t blocks = 0;
    for (const SourceFileEntryRef& entry : entries_) {
        if (!entry || !own.insert(entry.get()).second) return false;
        if (!entry->targetFile || entry->targetFile->sourceFile != entry.get()) return false;
        blocks += entry->blockCount;
    }
    // The block records read are the whole truth: nothing is allocated for
    // counts that only the entries claim.
    if (blocks != foundBlocks_.size()) return false;
    for (const auto& [path, file] : knownFiles_) {
        if (file->sourceFile && !own.count(file->sourceFile)) return false;
    }
    for (const SourceFileEntryRef& entry : entries_) {
        for (const FoundPlace& place : entry->foundIn) {
            if (place.file->sourceFile && !own.count(place.file->sourceFile)) return false;
        }
        if (entry->completeCopy && entry->completeCopy->sourceFile &&
            !own.count(entry->completeCopy->sourceFile)) {
            return false;
        }
    }
    for (const DataBlock& block : foundBlocks_) {
        if (block.file && SetFileOf(*block.file).sourceFile &&
            !own.count(SetFileOf(*block.file).sourceFile)) {
            return false;
        }
    }
    // A data file's count of the blocks found in it follows from the block
    // records (ForgetDataFile relies on it); a volume's counts its recovery
    // blocks and stays as saved.
    for (const DataBlock& block : foundBlocks_) {
        if (block.file && SetFileOf(*block.file).kind != FileKind::Volume)
            SetFileOf(*block.file).blocksTaken = 0;
    }
    for (const auto& [path, file] : knownFiles_) {
        if (file->kind != FileKind::Volume) file->blocksTaken = 0;
    }
    for (const DataBlock& block : foundBlocks_) {
        if (block.file && SetFileOf(*block.file).kind != FileKind::Volume)
            ++SetFileOf(*block.file).blocksTaken;
    }
    return FinishLoading();
}

}  // namespace vantrove
