#include "formats/par1_format.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/string_ids.h"
#include "core/string_table.h"

namespace vantrove {
namespace {

constexpr uint8_t kMagic[8] = {'P', 'A', 'R', 0, 0, 0, 0, 0};

uint32_t LoadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint64_t LoadLe64(const uint8_t* p) {
    return static_cast<uint64_t>(LoadLe32(p)) | static_cast<uint64_t>(LoadLe32(p + 4)) << 32;
}

Md5Digest LoadDigest(const uint8_t* p) {
    Md5Digest digest;
    std::memcpy(digest.bytes.data(), p, 16);
    return digest;
}

void AppendUtf8(std::string& out, uint32_t codePoint) {
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | codePoint >> 6);
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | codePoint >> 12);
        out += static_cast<char>(0x80 | (codePoint >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | codePoint >> 18);
        out += static_cast<char>(0x80 | (codePoint >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (codePoint >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string Format(int id, int a, int b = 0, int c = 0) {
    char text[128];
    std::snprintf(text, sizeof text, GetString(id).c_str(), a, b, c);
    return text;
}

}  // namespace

bool ParsePar1Header(const uint8_t* bytes, Par1Header& header) {
    if (std::memcmp(bytes, kMagic, sizeof kMagic) != 0) return false;
    header.version = LoadLe32(bytes + 8);
    if (header.version != kPar1Version) return false;
    header.generator = LoadLe32(bytes + 12);
    header.controlHash = LoadDigest(bytes + 16);
    header.setHash = LoadDigest(bytes + 32);
    header.volumeNumber = LoadLe64(bytes + 48);
    header.fileCount = LoadLe64(bytes + 56);
    header.fileListOffset = LoadLe64(bytes + 64);
    header.fileListSize = LoadLe64(bytes + 72);
    header.dataOffset = LoadLe64(bytes + 80);
    header.dataSize = LoadLe64(bytes + 88);
    return true;
}

bool Par1HeaderUsable(const Par1Header& h, uint64_t fileSize) {
    if (h.volumeNumber > kPar1MaxVolumeNumber) return false;
    if (h.fileCount == 0) return false;
    if (h.fileListOffset < kPar1HeaderSize) return false;
    if (h.fileListSize == 0 || h.fileListSize > kPar1MaxFileListSize) return false;
    if (h.fileListOffset > fileSize || h.fileListSize > fileSize - h.fileListOffset) return false;
    if (h.dataSize != 0) {
        if (h.dataOffset < kPar1HeaderSize) return false;
        if (h.dataOffset > fileSize || h.dataSize > fileSize - h.dataOffset) return false;
        const uint64_t listEnd = h.fileListOffset + h.fileListSize;
        const uint64_t dataEnd = h.dataOffset + h.dataSize;
        if (h.dataOffset < listEnd && h.fileListOffset < dataEnd) return false;
    }
    return true;
}

bool ParsePar1FileList(const uint8_t* data, size_t size, uint64_t announced, Par1FileList& out) {
    out = Par1FileList{};
    uint64_t read = 0;
    size_t position = 0;
    while (read < announced) {
        const size_t left = size - position;
        if (left < 8) break;
        const uint64_t entrySize = LoadLe64(data + position);
        if (entrySize < kPar1MinEntrySize || entrySize > left) break;
        const uint8_t* entry = data + position;
        const uint64_t status = LoadLe64(entry + 8);
        if (status & 1) {
            Par1FileEntry parsed;
            parsed.status = status;
            parsed.size = LoadLe64(entry + 16);
            parsed.hash = LoadDigest(entry + 24);
            parsed.hash16k = LoadDigest(entry + 40);
            parsed.name = Par1NameToString(entry + kPar1EntryHeadSize,
                                           static_cast<size_t>(entrySize - kPar1EntryHeadSize));
            out.protectedBytes.insert(out.protectedBytes.end(), entry, entry + entrySize);
            out.blockSize = std::max(out.blockSize, parsed.size);
            out.totalSize += parsed.size;
            out.entries.push_back(std::move(parsed));
        }
        position += static_cast<size_t>(entrySize);
        ++read;
    }
    return read == announced;
}

namespace {

bool IsValidUtf8(const std::string& text) {
    size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        size_t more;
        uint32_t least;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            more = 1, least = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            more = 2, least = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            more = 3, least = 0x10000;
        } else {
            return false;
        }
        if (i + more >= text.size()) return false;
        uint32_t codePoint = c & (0x3F >> more);
        for (size_t k = 1; k <= more; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            codePoint = codePoint << 6 | (next & 0x3F);
        }
        if (codePoint < least || codePoint > 0x10FFFF ||
            (codePoint >= 0xD800 && codePoint < 0xE000)) {
            return false;
        }
        i += more + 1;
    }
    return true;
}

}  // namespace

std::string Par1NameToString(const uint8_t* utf16le, size_t bytes) {
    std::vector<uint32_t> units;
    for (size_t i = 0; i + 1 < bytes; i += 2) {
        const uint32_t unit = utf16le[i] | static_cast<uint32_t>(utf16le[i + 1]) << 8;
        if (unit == 0) break;  // a zero unit ends the name
        units.push_back(unit);
    }

    // Some writers store the bytes of a UTF-8 name one per unit (widened
    // with or without sign extension). When every unit is such a byte and
    // the bytes form UTF-8 with at least one non-ASCII character, those
    // bytes are the name.
    std::string widened;
    bool allBytes = true, anyHigh = false;
    for (uint32_t unit : units) {
        if (unit < 0x80) {
            widened += static_cast<char>(unit);
        } else if (unit < 0x100 || unit >= 0xFF80) {
            widened += static_cast<char>(unit & 0xFF);
            anyHigh = true;
        } else {
            allBytes = false;
            break;
        }
    }
    if (allBytes && anyHigh && IsValidUtf8(widened)) return widened;

    // Otherwise the units are UTF-16: every one becomes its UTF-8 form
    // ("caf\u00e9" is "caf\xc3\xa9", never the byte 0xE9).
    std::string out;
    for (size_t i = 0; i < units.size(); ++i) {
        const uint32_t unit = units[i];
        if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] < 0xE000) {
            AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (units[i + 1] - 0xDC00));
            ++i;
        } else if (unit >= 0xD800 && unit < 0xE000) {
            out += '?';
        } else {
            AppendUtf8(out, unit);
        }
    }
    return out;
}

std::string Par1VolumeSetName(const std::string& fileName) {
    const size_t dot = fileName.rfind('.');
    if (dot == std::string::npos) return {};
    const size_t slash = fileName.rfind('/');
    if (slash == std::string::npos ? dot == 0 : dot <= slash + 1) return {};
    if (fileName.size() - dot != 4) return {};
    const char p = fileName[dot + 1], x = fileName[dot + 2], y = fileName[dot + 3];
    if (p != 'p' && p != 'P') return {};
    const bool ar = (x == 'a' || x == 'A') && (y == 'r' || y == 'R');
    if (!ar && !(IsDigit(x) && IsDigit(y))) return {};
    return fileName.substr(0, dot);
}

std::string Par1CreatorText(uint32_t generator) {
    const int client = static_cast<int>(generator >> 24);
    const int major = static_cast<int>(generator >> 16 & 0xFF);
    const int minor = static_cast<int>(generator >> 8 & 0xFF);
    const int sub = static_cast<int>(generator & 0xFF);
    std::string text;
    switch (client) {
        case 1:
            text = "Mirror";
            break;
        case 2:
            text = "PAR";
            break;
        case 3:
            text = "SmartPar";
            break;
        case 170:
            text = "PowerPost 2000 A&A";
            break;
        case 254:
            text = "Newspost";
            break;
        case 255:
            text = "FSRaid";
            break;
        default:
            text = Format(kStrUnknownClient, client);
            break;
    }
    if (sub != 0) {
        text += Format(kStrClientVersionMajorMinorSub, major, minor, sub);
    } else if (minor != 0) {
        text += Format(kStrClientVersionMajorMinor, major, minor);
    } else if (major != 0) {
        text += Format(kStrClientVersionMajor, major);
    }
    return text;
}

}  // namespace vantrove
