#include "par2/creator_packet.h"

#include <cstring>

#include "core/disk_file.h"
#include "core/string_ids.h"
#include "core/string_table.h"
#include "par2/packet_coding.h"

namespace vantrove {

using namespace packet_coding;

namespace {

constexpr char kCreatedByPrefix[] = "created by ";
constexpr size_t kCreatedByLength = sizeof(kCreatedByPrefix) - 1;

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool CreatorPacket::Build(const Md5Digest& setId) {
    const std::string text = GetString(kStrCreatorText);
    if (!Allocate(kCreatorTextOffset + PaddedTo4(text.size()), PacketType::Creator)) return false;
    std::memcpy(data() + kCreatorTextOffset, text.data(), text.size());
    Seal(setId);
    return true;
}

bool CreatorPacket::Read(DiskFile& file, uint64_t offset, const uint8_t* header) {
    bytes_.clear();
    const uint64_t length = LoadLe64(header + kPacketLengthOffset);
    if (length >= kMaxInMemoryPacketLength || length < kCreatorTextOffset) return false;
    return ReadWhole(file, offset, header);
}

std::string CreatorPacket::text() const {
    if (bytes_.size() <= kCreatorTextOffset) return {};
    const char* begin = reinterpret_cast<const char*>(data() + kCreatorTextOffset);
    return std::string(begin, strnlen(begin, bytes_.size() - kCreatorTextOffset));
}

std::string CreatorDisplayText(const CreatorPacket* creator) {
    if (creator == nullptr || creator->empty()) return GetString(kStrUnknown);
    std::string text = creator->text();
    if (text.size() >= kCreatedByLength) {
        bool prefixed = true;
        for (size_t i = 0; i < kCreatedByLength && prefixed; ++i) {
            prefixed = AsciiLower(text[i]) == kCreatedByPrefix[i];
        }
        if (prefixed) text.erase(0, kCreatedByLength);
    }
    return text;
}

}  // namespace vantrove
