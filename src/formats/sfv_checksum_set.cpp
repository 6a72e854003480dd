#include "formats/sfv_checksum_set.h"

#include <strings.h>

#include "core/stored_name.h"
#include "core/crc32.h"
#include "core/string_ids.h"
#include "core/string_table.h"
#include "engine/verification_cache.h"
#include "formats/checksum_list.h"

namespace vantrove {
namespace {

constexpr const char* kStateTag = "VT6";
constexpr const char* kListExtension = ".sfv";

FileDescriptionRef ReadSfvDescription(DescriptionSlot slot, StateReader& reader) {
    if (slot != DescriptionSlot::SfvEntry) return nullptr;
    auto description = std::make_shared<SfvEntryDescription>();
    description->crc = reader.ReadU32();
    if (!reader.ReadString(description->name)) return nullptr;
    return description;
}

}  // namespace

void SfvEntryDescription::WriteState(StateWriter& writer) const {
    writer.WriteU32(crc);
    writer.WriteString(name);
}

std::unique_ptr<RecoverySet> NewSfvSet(SetObserver* observer, const StopFlag* stopFlag) {
    return MakeRecoverySet<SfvChecksumSet>(FormatKind::Sfv, observer, stopFlag);
}

const SfvEntryDescription* SfvChecksumSet::DescriptionOf(const SourceFileEntry& entry) {
    return dynamic_cast<const SfvEntryDescription*>(
        entry.Description(DescriptionSlot::SfvEntry).get());
}

std::string SfvChecksumSet::VolumeSetName(const std::string& fileName) const {
    return ListSetName(fileName, kListExtension);
}

std::string SfvChecksumSet::CreatorText() const {
    return GetString(kStrUnknown);
}

bool SfvChecksumSet::ParseListLine(std::string_view line,
                                   std::vector<SourceFileEntryRef>& entries) {
    auto description = std::make_shared<SfvEntryDescription>();
    if (!ParseSfvLine(line, description->name, description->crc)) return false;
    auto entry = std::make_shared<SourceFileEntry>();
    description->name = StoredName(description->name);
    entry->name = description->name;
    // A CRC of 00000000 lists an empty file: it has no data to find, and
    // a missing one is made again.
    entry->blockCount = description->crc == 0 ? 0 : 1;
    entry->Description(DescriptionSlot::SfvEntry) = std::move(description);
    entries.push_back(std::move(entry));
    return true;
}

void SfvChecksumSet::HashUpdate(ChecksumOfFile& hash, const void* data, size_t length) const {
    hash.crc = Crc32Update(hash.crc, data, length);
}

bool SfvChecksumSet::HashMatches(const SourceFileEntry& entry, const ChecksumOfFile& hash) const {
    const SfvEntryDescription* description = DescriptionOf(entry);
    return description && description->crc == hash.crc;
}

std::unique_ptr<SetFormat> SfvChecksumSet::NewFormatFor(RecoverySet& set) const {
    return std::make_unique<SfvChecksumSet>(set);
}

bool SfvChecksumSet::SameEntry(const SourceFileEntry& a, const SourceFileEntry& b) const {
    const SfvEntryDescription* da = DescriptionOf(a);
    const SfvEntryDescription* db = DescriptionOf(b);
    return da && db && da->crc == db->crc && da->name == db->name && a.name == b.name;
}

bool SfvChecksumSet::SaveState(const std::string& setPath) {
    if (set_.entries().empty()) return false;
    return set_.SaveStateFile(setPath + kStateExtensionSfv, kStateTag, 0, [this](StateWriter& writer) {
        writer.WriteU32(static_cast<uint32_t>(set_.entries().size()));
        for (const SourceFileEntryRef& entry : set_.entries()) WriteEntryReference(writer, entry.get());
    });
}

bool SfvChecksumSet::LoadState(const std::string& setPath) {
    uint64_t secondValue = 0;
    auto readPart = [this](StateReader& reader) -> bool {
        return ReadStateEntries(reader, [](const SourceFileEntry& entry) {
            const SfvEntryDescription* description = DescriptionOf(entry);
            return description != nullptr && description->name == entry.name;
        });
    };
    if (!set_.LoadStateFile(setPath + kStateExtensionSfv, kStateTag, secondValue, ReadSfvDescription,
                       readPart)) {
        return false;
    }
    StateLoaded();
    return true;
}

}  // namespace vantrove
