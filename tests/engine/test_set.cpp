#include "engine/test_set.h"

#include <algorithm>

namespace vantrove::test {

void TestDescription::WriteState(StateWriter& writer) const {
    writer.WriteU32(crc);
    writer.WriteU64(size);
    writer.WriteString(name);
}

FileDescriptionRef TestDescription::Read(DescriptionSlot slot, StateReader& reader) {
    if (slot != DescriptionSlot::SfvEntry) return nullptr;
    auto d = std::make_shared<TestDescription>();
    d->crc = reader.ReadU32();
    d->size = reader.ReadU64();
    if (!reader.ReadString(d->name)) return nullptr;
    return d;
}

TestSet::TestSet(SetObserver* observer, const StopFlag* stop)
    : RecoverySet(FormatKind::Sfv, observer, stop) {
    BindFormat(std::make_unique<TestFormat>(*this));
}

SourceFileEntry& TestSet::AddEntry(const std::string& name, uint64_t size) {
    auto entry = std::make_shared<SourceFileEntry>();
    auto d = std::make_shared<TestDescription>();
    d->crc = static_cast<uint32_t>(size * 2654435761u);
    d->name = name;
    d->size = size;
    entry->Description(DescriptionSlot::SfvEntry) = d;
    entry->name = name;
    entry->size = size;
    std::vector<SourceFileEntryRef> list = entries();
    list.push_back(entry);
    SetEntries(std::move(list));
    return *entry;
}

bool TestSet::Finish(const std::string& folder, uint64_t blockSize) {
    SetFolderAndBaseName(folder, "set");
    SetBlockSize(blockSize);
    for (const SourceFileEntryRef& e : entries()) {
        e->blockCount =
            blockSize == 0 ? 1 : static_cast<uint32_t>((e->size + blockSize - 1) / blockSize);
    }
    SetSetState(RecoveryState::Incomplete);
    return FinishLoading();
}

SetFileRef TestSet::AddOtherFile(const std::string& name, uint64_t size) {
    auto file = std::make_shared<SetFile>(folder() + name);
    file->kind = FileKind::OtherData;
    file->size = size;
    file->result = VerifyResult::NotIntact;
    AddKnownFile(file);
    return file;
}

void TestSet::SetTargetResult(SourceFileEntry& entry, VerifyResult result) {
    entry.targetFile->result = result;
    if (result == VerifyResult::IntactCopy) {
        entry.completeCopy = entry.targetFile;
        LocateAll(entry, entry.targetFile);
    }
    UpdateEntryState(entry);
}

void TestSet::LocateAll(SourceFileEntry& entry, const SetFileRef& file) {
    for (uint32_t i = 0; i < entry.blockCount; ++i) {
        LocateBlock(entry, i, file, static_cast<uint64_t>(i) * status().blockSize);
    }
}

bool TestSet::SaveAs(const std::string& key) {
    return SaveStateFile(key, "VT6", secondValue, [this](StateWriter& w) {
        size_t count =
            listOnlyFirstEntry ? std::min<size_t>(1, entries().size()) : entries().size();
        w.WriteU32(static_cast<uint32_t>(count));
        for (size_t i = 0; i < count; ++i) WriteEntryReference(w, entries()[i].get());
    });
}

bool TestSet::LoadFrom(const std::string& key) {
    return LoadStateFile(key, "VT6", secondValue, &TestDescription::Read, [this](StateReader& r) {
        uint32_t count = r.ReadU32();
        if (r.failed() || count > r.remaining() / 4) return false;
        std::vector<SourceFileEntryRef> list;
        for (uint32_t i = 0; i < count; ++i) {
            SourceFileEntryRef e;
            if (!ReadEntryReference(r, e) || !e) return false;
            auto d = std::dynamic_pointer_cast<TestDescription>(
                e->Description(DescriptionSlot::SfvEntry));
            if (!d) return false;
            e->size = d->size;
            list.push_back(e);
        }
        SetEntries(std::move(list));
        return true;
    });
}

void RecordingObserver::ReportVolumeFile(const SetFile& file) {
    volumes.push_back({file.path, VolumeDisplayCodeOf(file)});
}

void RecordingObserver::ReportSourceFileLine(SourceRowKind rowKind, FormatKind formatKind,
                                             const std::string& name, uint64_t size,
                                             uint32_t blockCount,
                                             const std::vector<SourcePlace>& places) {
    lines.push_back({rowKind, formatKind, name, size, blockCount, places});
}

}  // namespace vantrove::test
