#include "formats/md5_checksum_set.h"

#include <strings.h>

#include "core/stored_name.h"
#include "engine/verification_cache.h"
#include "formats/checksum_list.h"

namespace vantrove {
namespace {

FileDescriptionRef ReadMd5Description(DescriptionSlot slot, StateReader& reader) {
    if (slot != DescriptionSlot::Md5ListEntry) return nullptr;
    auto description = std::make_shared<Md5ListEntryDescription>();
    if (!reader.ReadBytes(description->digest.bytes.data(), 16)) return nullptr;
    if (!reader.ReadString(description->name)) return nullptr;
    return description;
}

const ChecksumListKind kMd5List = {".md5", kStateExtensionMd5, "VT5", DescriptionSlot::Md5ListEntry,
                                   ReadMd5Description};

}  // namespace

void Md5ListEntryDescription::WriteState(StateWriter& writer) const {
    writer.WriteBytes(digest.bytes.data(), digest.bytes.size());
    writer.WriteString(name);
}

std::unique_ptr<RecoverySet> NewMd5Set(SetObserver* observer, const StopFlag* stopFlag) {
    return MakeRecoverySet<Md5ChecksumSet>(FormatKind::Md5, observer, stopFlag);
}

Md5ChecksumSet::Md5ChecksumSet(RecoverySet& set) : ChecksumSet(set, kMd5List) {}

std::string Md5ChecksumSet::CreatorText() const {
    return Md5StyleCreator(md5LineStyle_);
}

bool Md5ChecksumSet::ParseListLine(std::string_view line,
                                   std::vector<SourceFileEntryRef>& entries) {
    auto description = std::make_shared<Md5ListEntryDescription>();
    const int32_t style = ParseMd5Line(line, description->name, description->digest);
    if (style == kMd5StyleNone) return false;
    md5LineStyle_ = style;
    // The hash of nothing lists an empty file.
    const bool empty = description->digest == Md5Of(nullptr, 0);
    AddListedEntry(entries, std::move(description), empty);
    return true;
}

void Md5ChecksumSet::HashUpdate(ChecksumOfFile& hash, const void* data, size_t length) const {
    hash.md5Context.Update(data, length);
}

void Md5ChecksumSet::HashFinish(ChecksumOfFile& hash) const {
    hash.md5 = hash.md5Context.Final();
}

void Md5ChecksumSet::WriteListState(StateWriter& writer) const {
    writer.WriteI32(md5LineStyle_);
}

void Md5ChecksumSet::ReadListState(StateReader& reader) {
    md5LineStyle_ = reader.ReadI32();
}

bool Md5ChecksumSet::HashMatches(const SourceFileEntry& entry, const ChecksumOfFile& hash) const {
    const Md5ListEntryDescription* description = LineOf<Md5ListEntryDescription>(entry);
    return description && description->digest == hash.md5;
}

std::unique_ptr<SetFormat> Md5ChecksumSet::NewFormatFor(RecoverySet& set) const {
    return std::make_unique<Md5ChecksumSet>(set);
}

bool Md5ChecksumSet::SameEntry(const SourceFileEntry& a, const SourceFileEntry& b) const {
    const Md5ListEntryDescription* da = LineOf<Md5ListEntryDescription>(a);
    const Md5ListEntryDescription* db = LineOf<Md5ListEntryDescription>(b);
    return da && db && da->digest == db->digest && da->name == db->name && a.name == b.name;
}

}  // namespace vantrove
