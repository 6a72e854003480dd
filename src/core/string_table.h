#pragma once
// The program's string table: Italian texts with ids 500 to 683, compiled into the program
// from resources/strings_it.inc (names for the ids: core/string_ids.h). The table is
// constant data, checked when it is compiled (every id present once with a non-empty text),
// so any thread may read it at any time.

#include <optional>
#include <span>
#include <string>

namespace vantrove {

constexpr int kFirstStringId = 500;
constexpr int kLastStringId = 683;
constexpr int kStringIdCount = kLastStringId - kFirstStringId + 1;

// One line of the table as written in the resource file.
struct StringEntry {
    int id;
    const char* text;
};

// The text of `id`, or nullptr when the table has no such id.
const char* LoadStringResource(int id);

// The text of `id`, or an empty string when missing.
std::string GetString(int id);

// The first id from kFirstStringId to kLastStringId that has no text or an empty one, in
// ascending order; nullopt when all are there. Start-up refuses to run when this finds one.
std::optional<int> FirstMissingStringId();

// The compiled entries, in the order of the resource file.
std::span<const StringEntry> StringTableEntries();

// Checks over a list of entries (the compiled table or any other), used by the compile-time
// check of the table and by its tests. Each returns the first offending id in list order, or
// nullopt when there is none.
std::optional<int> FindDuplicateStringId(std::span<const StringEntry> entries);
std::optional<int> FindStringIdOutOfRange(std::span<const StringEntry> entries);
// The first id of the range, ascending, without an entry whose text is non-empty.
std::optional<int> FindUncoveredStringId(std::span<const StringEntry> entries);

}  // namespace vantrove
