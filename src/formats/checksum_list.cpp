#include "formats/checksum_list.h"

#include <strings.h>

#include <algorithm>
#include <vector>

namespace vantrove {
namespace {

constexpr size_t kMd5HexDigits = 32;
constexpr size_t kSfvHexDigits = 8;
constexpr size_t kByteGroups = 16;
constexpr size_t kByteGroupWidth = 3;  // a space and two digits
constexpr char kEndOfFileMark = 0x1A;
constexpr std::string_view kBsdPrefix = "md5 (";
constexpr std::string_view kBsdSeparator = ") = ";

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsHex(char c) {
    return HexValue(c) >= 0;
}

// Length of the run of hex digits that starts the line.
size_t HexRunAtStart(std::string_view line) {
    size_t n = 0;
    while (n < line.size() && IsHex(line[n])) ++n;
    return n;
}

// Length of the run of hex digits that ends the line.
size_t HexRunAtEnd(std::string_view line) {
    size_t n = 0;
    while (n < line.size() && IsHex(line[line.size() - 1 - n])) ++n;
    return n;
}

// 32 hex digits read pairwise, the first pair being the first byte.
Md5Digest DigestFromHex(std::string_view hex) {
    Md5Digest digest;
    for (size_t i = 0; i < digest.bytes.size(); ++i) {
        digest.bytes[i] =
            static_cast<uint8_t>(HexValue(hex[2 * i]) << 4 | HexValue(hex[2 * i + 1]));
    }
    return digest;
}

bool IsLineEnd(char c) {
    return c == '\r' || c == '\n' || c == kEndOfFileMark;
}

}  // namespace

bool ParseSfvLine(std::string_view line, std::string& name, uint32_t& crc) {
    // At least one character, the space, and the eight digits.
    if (line.size() < kSfvHexDigits + 2 || HexRunAtEnd(line) != kSfvHexDigits) return false;
    const size_t space = line.size() - kSfvHexDigits - 1;
    if (line[space] != ' ') return false;
    uint32_t value = 0;
    for (size_t i = space + 1; i < line.size(); ++i) {
        value = value << 4 | static_cast<uint32_t>(HexValue(line[i]));
    }
    name.assign(line.substr(0, space));
    crc = value;
    return true;
}

int32_t ParseMd5Line(std::string_view line, std::string& name, Md5Digest& digest) {
    const size_t size = line.size();
    const size_t startRun = HexRunAtStart(line);
    const size_t endRun = HexRunAtEnd(line);

    if (startRun == kMd5HexDigits && size > kMd5HexDigits && line[kMd5HexDigits] == '\t') {
        name.assign(line.substr(kMd5HexDigits + 1));
        digest = DigestFromHex(line);
        return kMd5StyleTab;
    }
    if (startRun == kMd5HexDigits && size >= kMd5HexDigits + 2 && line[kMd5HexDigits] == ' ' &&
        (line[kMd5HexDigits + 1] == '*' || line[kMd5HexDigits + 1] == ' ')) {
        name.assign(line.substr(kMd5HexDigits + 2));
        digest = DigestFromHex(line);
        return kMd5StyleStar;
    }
    if (endRun == kMd5HexDigits && size > kMd5HexDigits) {
        const size_t digits = size - kMd5HexDigits;
        const char before = line[digits - 1];
        if (before == '=') {
            name.assign(line.substr(0, digits - 1));
            digest = DigestFromHex(line.substr(digits));
            return kMd5StyleEquals;
        }
        if (before == ' ' && digits >= 2 && line[digits - 2] != '=') {
            name.assign(line.substr(0, digits - 1));
            digest = DigestFromHex(line.substr(digits));
            return kMd5StyleSpace;
        }
        if (digits >= kBsdPrefix.size() + kBsdSeparator.size() &&
            strncasecmp(line.data(), kBsdPrefix.data(), kBsdPrefix.size()) == 0 &&
            line.substr(digits - kBsdSeparator.size(), kBsdSeparator.size()) == kBsdSeparator) {
            name.assign(
                line.substr(kBsdPrefix.size(), digits - kBsdSeparator.size() - kBsdPrefix.size()));
            digest = DigestFromHex(line.substr(digits));
            return kMd5StyleBsd;
        }
    }
    const size_t groups = kByteGroups * kByteGroupWidth;
    if (size > groups && line[size - groups - 1] == ':') {
        Md5Digest parsed;
        for (size_t g = 0; g < kByteGroups; ++g) {
            const size_t at = size - groups + g * kByteGroupWidth;
            if (line[at] != ' ' || !IsHex(line[at + 1]) || !IsHex(line[at + 2])) {
                return kMd5StyleNone;
            }
            parsed.bytes[g] =
                static_cast<uint8_t>(HexValue(line[at + 1]) << 4 | HexValue(line[at + 2]));
        }
        name.assign(line.substr(0, size - groups - 1));
        digest = parsed;
        return kMd5StyleByteGroups;
    }
    return kMd5StyleNone;
}

const char* Md5StyleCreator(int32_t style) {
    switch (style) {
        case kMd5StyleTab:
            return "MD5Checker";
        case kMd5StyleStar:
            return "MD5Summer";
        case kMd5StyleEquals:
            return "MD5-it";
        case kMd5StyleSpace:
            return "Easy MD5 Creator";
        case kMd5StyleBsd:
            return "UNIX MD5 sum";
        case kMd5StyleByteGroups:
            return "GPG";
        default:
            return "unknown";
    }
}

ChecksumListRead ReadChecksumList(DiskFile& file,
                                  const std::function<bool(std::string_view line)>& parseLine,
                                  const std::function<bool(uint64_t position)>& progress,
                                  size_t portion) {
    const uint64_t size = file.size;
    if (size == 0) return ChecksumListRead::Complete;
    portion = std::max<size_t>(portion, 1);
    // One byte more for the line feed that closes the last line.
    std::vector<char> buffer(static_cast<size_t>(std::min<uint64_t>(size, portion)) + 1);
    char commentCharacter = '\0';
    bool commentLearned = false;
    uint64_t position = 0;

    while (position < size) {
        const size_t real = static_cast<size_t>(std::min<uint64_t>(size - position, portion));
        if (!file.read(position, buffer.data(), real)) return ChecksumListRead::Failed;
        const bool last = position + real == size;
        size_t length = real;
        if (last) buffer[length++] = '\n';

        size_t begin = 0;     // start of the line being cut
        size_t consumed = 0;  // bytes of the portion whose lines are done
        while (begin < length) {
            size_t end = begin;
            while (end < length && !IsLineEnd(buffer[end])) ++end;
            if (end == length) break;  // cut by the end of the portion
            std::string_view line(buffer.data() + begin, end - begin);
            // The line is a C string to the programs that write these lists:
            // it ends at a zero byte.
            line = line.substr(0, std::min(line.size(), line.find('\0')));
            const char first = line.empty() ? '\0' : line[0];
            if (first != commentCharacter) {
                if (!parseLine(line) && !commentLearned) {
                    commentCharacter = first;
                    commentLearned = true;
                }
            }
            while (end < length && IsLineEnd(buffer[end])) ++end;
            begin = consumed = end;
        }
        // A portion without any line end is passed over whole; otherwise the
        // line cut by its end is read again with the next portion.
        if (consumed == 0 || last) consumed = real;
        position += std::min(consumed, real);
        if (progress && !progress(position)) {
            return position < size ? ChecksumListRead::Stopped : ChecksumListRead::Complete;
        }
    }
    return ChecksumListRead::Complete;
}

}  // namespace vantrove
