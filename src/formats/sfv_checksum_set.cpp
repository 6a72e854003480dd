#include "formats/sfv_checksum_set.h"

#include <strings.h>

#include "core/crc32.h"
#include "core/stored_name.h"
#include "core/string_ids.h"
#include "core/string_table.h"
#include "engine/verification_cache.h"
#include "formats/checksum_list.h"

namespace vantrove {
namespace {

FileDescriptionRef ReadSfvDescription(DescriptionSlot slot, StateReader& reader) {
    if (slot != DescriptionSlot::SfvEntry) return nullptr;
    auto description = std::make_shared<SfvEntryDescription>();
    description->crc = reader.ReadU32();
    if (!reader.ReadString(description->name)) return nullptr;
    return description;
}

const ChecksumListKind kSfvList = {".sfv", kStateExtensionSfv, "VT6", DescriptionSlot::SfvEntry,
                                   ReadSfvDescription};

}  // namespace

void SfvEntryDescription::WriteState(StateWriter& writer) const {
    writer.WriteU32(crc);
    writer.WriteString(name);
}

std::unique_ptr<RecoverySet> NewSfvSet(SetObserver* observer, const StopFlag* stopFlag) {
    return MakeRecoverySet<SfvChecksumSet>(FormatKind::Sfv, observer, stopFlag);
}

SfvChecksumSet::SfvChecksumSet(RecoverySet& set) : ChecksumSet(set, kSfvList) {}

std::string SfvChecksumSet::CreatorText() const {
    return GetString(kStrUnknown);
}

bool SfvChecksumSet::ParseListLine(std::string_view line,
                                   std::vector<SourceFileEntryRef>& entries) {
    auto description = std::make_shared<SfvEntryDescription>();
    if (!ParseSfvLine(line, description->name, description->crc)) return false;
    // A CRC of 00000000 lists an empty file.
    const bool empty = description->crc == 0;
    AddListedEntry(entries, std::move(description), empty);
    return true;
}

void SfvChecksumSet::HashUpdate(ChecksumOfFile& hash, const void* data, size_t length) const {
    hash.crc = Crc32Update(hash.crc, data, length);
}

bool SfvChecksumSet::HashMatches(const SourceFileEntry& entry, const ChecksumOfFile& hash) const {
    const SfvEntryDescription* description = LineOf<SfvEntryDescription>(entry);
    return description && description->crc == hash.crc;
}

std::unique_ptr<SetFormat> SfvChecksumSet::NewFormatFor(RecoverySet& set) const {
    return std::make_unique<SfvChecksumSet>(set);
}

bool SfvChecksumSet::SameEntry(const SourceFileEntry& a, const SourceFileEntry& b) const {
    const SfvEntryDescription* da = LineOf<SfvEntryDescription>(a);
    const SfvEntryDescription* db = LineOf<SfvEntryDescription>(b);
    return da && db && da->crc == db->crc && da->name == db->name && a.name == b.name;
}

}  // namespace vantrove
