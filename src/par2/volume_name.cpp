#include "par2/volume_name.h"

#include <strings.h>

#include <cctype>
#include <cstring>

namespace vantrove {
namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

char Lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

}  // namespace

std::string Par2VolumeSetName(const std::string& fileName) {
    static constexpr char kExtension[] = ".par2";
    const size_t extensionLength = std::strlen(kExtension);
    if (fileName.size() < extensionLength ||
        strcasecmp(fileName.c_str() + fileName.size() - extensionLength, kExtension) != 0) {
        return {};
    }
    const std::string base = fileName.substr(0, fileName.size() - extensionLength);

    // Reading leftwards: digits, a sign, digits, "vol", then '.' or '_'.
    // Reaching the first character while the pattern is still open leaves
    // nothing that could be a set name.
    size_t i = base.size();
    while (i > 0 && IsDigit(base[i - 1])) --i;
    if (i == 0) return {};
    char sign = base[i - 1];
    if (sign != '+' && sign != '-' && sign != '_') return base;
    --i;
    if (i == 0) return {};
    while (i > 0 && IsDigit(base[i - 1])) --i;
    if (i == 0) return {};
    for (const char expected : {'l', 'o', 'v'}) {
        if (i == 0) return {};
        if (Lower(base[i - 1]) != expected) return base;
        --i;
    }
    if (i == 0) return {};
    char separator = base[i - 1];
    if (separator == '.' || separator == '_') return base.substr(0, i - 1);
    return base;
}

}  // namespace vantrove
