#include "core/string_table.h"

#include <array>

namespace vantrove {
namespace {

struct StringEntry {
    int id;
    const char* text;
};

constexpr StringEntry kStrings[] = {
#include "resources/strings_it.inc"
};

// Index by id, filled once.
const std::array<const char*, kLastStringId - kFirstStringId + 1>& Table() {
    static const auto table = [] {
        std::array<const char*, kLastStringId - kFirstStringId + 1> t{};
        for (const StringEntry& e : kStrings) {
            if (e.id >= kFirstStringId && e.id <= kLastStringId) t[e.id - kFirstStringId] = e.text;
        }
        return t;
    }();
    return table;
}

}  // namespace

const char* LoadStringResource(int id) {
    if (id < kFirstStringId || id > kLastStringId) return nullptr;
    return Table()[id - kFirstStringId];
}

std::string GetString(int id) {
    const char* text = LoadStringResource(id);
    return text ? std::string(text) : std::string();
}

}  // namespace vantrove
