#include "core/string_table.h"

#include <array>
#include <cstddef>

namespace vantrove {
namespace {

constexpr StringEntry kStrings[] = {
#include "resources/strings_it.inc"
};
constexpr std::size_t kStringCount = sizeof(kStrings) / sizeof(kStrings[0]);

// The checks are written once, usable both at compile time on kStrings and at run time on
// any list. Each returns the offending id, or nullopt.
constexpr std::optional<int> DuplicateIdIn(const StringEntry* entries, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (entries[j].id == entries[i].id) return entries[i].id;
        }
    }
    return std::nullopt;
}

constexpr std::optional<int> OutOfRangeIdIn(const StringEntry* entries, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (entries[i].id < kFirstStringId || entries[i].id > kLastStringId) return entries[i].id;
    }
    return std::nullopt;
}

constexpr std::optional<int> UncoveredIdIn(const StringEntry* entries, std::size_t count) {
    for (int id = kFirstStringId; id <= kLastStringId; ++id) {
        bool covered = false;
        for (std::size_t i = 0; i < count && !covered; ++i) {
            covered =
                entries[i].id == id && entries[i].text != nullptr && entries[i].text[0] != '\0';
        }
        if (!covered) return id;
    }
    return std::nullopt;
}

// A broken table stops the build here rather than the program at start-up.
static_assert(!DuplicateIdIn(kStrings, kStringCount), "an id appears twice in the table");
static_assert(!OutOfRangeIdIn(kStrings, kStringCount), "an id lies outside 500..682");
static_assert(!UncoveredIdIn(kStrings, kStringCount), "an id has no text or an empty one");
static_assert(kStringCount == kStringIdCount, "the table must hold exactly one entry per id");

// Index by id, filled once.
const std::array<const char*, kStringIdCount>& Table() {
    static const auto table = [] {
        std::array<const char*, kStringIdCount> t{};
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

std::optional<int> FirstMissingStringId() {
    for (int id = kFirstStringId; id <= kLastStringId; ++id) {
        const char* text = LoadStringResource(id);
        if (text == nullptr || text[0] == '\0') return id;
    }
    return std::nullopt;
}

std::span<const StringEntry> StringTableEntries() {
    return std::span<const StringEntry>(kStrings);
}

std::optional<int> FindDuplicateStringId(std::span<const StringEntry> entries) {
    return DuplicateIdIn(entries.data(), entries.size());
}

std::optional<int> FindStringIdOutOfRange(std::span<const StringEntry> entries) {
    return OutOfRangeIdIn(entries.data(), entries.size());
}

std::optional<int> FindUncoveredStringId(std::span<const StringEntry> entries) {
    return UncoveredIdIn(entries.data(), entries.size());
}

}  // namespace vantrove
