#include "par2/sanitised_name.h"

#include <array>
#include <string_view>

namespace vantrove {
namespace {

constexpr std::array<std::string_view, 23> kReservedNames = {
    "CON",  "PRN",  "AUX",  "CLOCK$", "NUL",  "COM1", "COM2", "COM3",
    "COM4", "COM5", "COM6", "COM7",   "COM8", "COM9", "LPT1", "LPT2",
    "LPT3", "LPT4", "LPT5", "LPT6",   "LPT7", "LPT8", "LPT9"};

bool IsForbidden(unsigned char c) {
    if (c < 32) return true;
    switch (c) {
        case '"':
        case '*':
        case '/':
        case ':':
        case '<':
        case '>':
        case '?':
        case '\\':
        case '|':
            return true;
        default:
            return false;
    }
}

bool IsReservedStem(const std::string& name) {
    const std::string_view stem = std::string_view(name).substr(0, name.find('.'));
    if (stem.size() > 6) return false;
    std::string upper(stem);
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    for (std::string_view reserved : kReservedNames) {
        if (upper == reserved) return true;
    }
    return false;
}

}  // namespace

std::string SanitisedName(const std::string& name) {
    size_t cut = name.rfind(':');
    if (cut == std::string::npos) cut = name.rfind('/');
    if (cut == std::string::npos) cut = name.rfind('\\');
    std::string result = cut == std::string::npos ? name : name.substr(cut + 1);

    for (char& c : result) {
        if (IsForbidden(static_cast<unsigned char>(c))) c = '_';
    }

    // An empty name, "." or ".." would stand for the set's folder or its
    // parent; they are treated like device names.
    if (result.empty() || result == "." || result == ".." || IsReservedStem(result)) {
        result.insert(result.begin(), '_');
    }
    return result;
}

}  // namespace vantrove
