#include "formats/md5_checksum_set.h"

#include <strings.h>

#include "core/stored_name.h"
#include "engine/verification_cache.h"
#include "formats/checksum_list.h"

namespace vantrove {
namespace {

constexpr const char* kStateTag = "VT5";
constexpr const char* kListExtension = ".md5";

FileDescriptionRef ReadMd5Description(DescriptionSlot slot, StateReader& reader) {
    if (slot != DescriptionSlot::Md5ListEntry) return nullptr;
    auto description = std::make_shared<Md5ListEntryDescription>();
    if (!reader.ReadBytes(description->digest.bytes.data(), 16)) return nullptr;
    if (!reader.ReadString(description->name)) return nullptr;
    return description;
}

}  // namespace

void Md5ListEntryDescription::WriteState(StateWriter& writer) const {
    writer.WriteBytes(digest.bytes.data(), digest.bytes.size());
    writer.WriteString(name);
}

std::unique_ptr<RecoverySet> NewMd5Set(SetObserver* observer, const StopFlag* stopFlag) {
    return MakeRecoverySet<Md5ChecksumSet>(FormatKind::Md5, observer, stopFlag);
}

const Md5ListEntryDescription* Md5ChecksumSet::DescriptionOf(const SourceFileEntry& entry) {
    return dynamic_cast<const Md5ListEntryDescription*>(
        entry.Description(DescriptionSlot::Md5ListEntry).get());
}

std::string Md5ChecksumSet::VolumeSetName(const std::string& fileName) const {
    return ListSetName(fileName, kListExtension);
}

std::string Md5ChecksumSet::CreatorText() const {
    return Md5StyleCreator(md5LineStyle_);
}

bool Md5ChecksumSet::ParseListLine(std::string_view line,
                                   std::vector<SourceFileEntryRef>& entries) {
    auto description = std::make_shared<Md5ListEntryDescription>();
    const int32_t style = ParseMd5Line(line, description->name, description->digest);
    if (style == kMd5StyleNone) return false;
    md5LineStyle_ = style;
    auto entry = std::make_shared<SourceFileEntry>();
    description->name = StoredName(description->name);
    entry->name = description->name;
    // The hash of nothing lists an empty file: it has no data to find,
    // and a missing one is made again.
    entry->blockCount = description->digest == Md5Of(nullptr, 0) ? 0 : 1;
    entry->Description(DescriptionSlot::Md5ListEntry) = std::move(description);
    entries.push_back(std::move(entry));
    return true;
}

void Md5ChecksumSet::HashUpdate(ChecksumOfFile& hash, const void* data, size_t length) const {
    hash.md5Context.Update(data, length);
}

void Md5ChecksumSet::HashFinish(ChecksumOfFile& hash) const {
    hash.md5 = hash.md5Context.Final();
}

bool Md5ChecksumSet::HashMatches(const SourceFileEntry& entry, const ChecksumOfFile& hash) const {
    const Md5ListEntryDescription* description = DescriptionOf(entry);
    return description && description->digest == hash.md5;
}

std::unique_ptr<SetFormat> Md5ChecksumSet::NewFormatFor(RecoverySet& set) const {
    return std::make_unique<Md5ChecksumSet>(set);
}

bool Md5ChecksumSet::SameEntry(const SourceFileEntry& a, const SourceFileEntry& b) const {
    const Md5ListEntryDescription* da = DescriptionOf(a);
    const Md5ListEntryDescription* db = DescriptionOf(b);
    return da && db && da->digest == db->digest && da->name == db->name && a.name == b.name;
}

bool Md5ChecksumSet::SaveState(const std::string& setPath) {
    if (set_.entries().empty()) return false;
    return set_.SaveStateFile(setPath + kStateExtensionMd5, kStateTag, 0, [this](StateWriter& writer) {
        writer.WriteI32(md5LineStyle_);
        writer.WriteU32(static_cast<uint32_t>(set_.entries().size()));
        for (const SourceFileEntryRef& entry : set_.entries()) WriteEntryReference(writer, entry.get());
    });
}

bool Md5ChecksumSet::LoadState(const std::string& setPath) {
    uint64_t secondValue = 0;
    auto readPart = [this](StateReader& reader) -> bool {
        md5LineStyle_ = reader.ReadI32();
        return ReadStateEntries(reader, [](const SourceFileEntry& entry) {
            const Md5ListEntryDescription* description = DescriptionOf(entry);
            return description != nullptr && description->name == entry.name;
        });
    };
    if (!set_.LoadStateFile(setPath + kStateExtensionMd5, kStateTag, secondValue, ReadMd5Description,
                       readPart)) {
        return false;
    }
    StateLoaded();
    return true;
}

}  // namespace vantrove
