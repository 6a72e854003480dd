#pragma once
// The program's string table: Italian texts with ids 500 to 678, compiled
// into the program from resources/strings_it.inc.

#include <string>

namespace vantrove {

constexpr int kFirstStringId = 500;
constexpr int kLastStringId = 678;

// The text of `id`, or nullptr when the table has no such id.
const char* LoadStringResource(int id);

// The text of `id`, or an empty string when missing.
std::string GetString(int id);

}  // namespace vantrove
