#pragma once
// Numbers grouped in threes with the user's thousands separator, as the
// dialogs show byte and block counts ("1,234,567" under a locale whose
// separator is a comma).
//
// The separator is the first character of the thousands separator of the
// user's numeric locale (LC_ALL, LC_NUMERIC, LANG), taken once; where the
// locale gives none, as the C and POSIX locales do, the Italian "." of the
// interface's texts. All functions may be called
// from any thread.

#include <cstdint>
#include <string>
#include <string_view>

namespace vantrove {

// The user's thousands separator: one character, which may take several
// bytes in UTF-8. Never empty.
const std::string& UserThousandsSeparator();

// The separator of the named locale ("" for the user's, from the
// environment); "." also when the locale is not installed.
std::string LocaleThousandsSeparator(const char* localeName);

// The first character of a locale's separator text, or "." when it is empty
// or broken.
std::string ThousandsSeparatorFrom(std::string_view localeSeparator);

// Inserts `separator` after every third digit from the right into a string
// of decimal digits: n digits receive (n - 1) / 3 separators. A leading minus
// sign stays in front and is not counted as a digit.
void GroupDigits(std::string& text, std::string_view separator);
void GroupDigits(std::string& text);  // with UserThousandsSeparator()

// Formats a number in decimal and groups its digits with the user's separator.
std::string FormatGrouped(int64_t value);
std::string FormatGrouped(uint64_t value);
std::string FormatGrouped(int32_t value);
std::string FormatGrouped(uint32_t value);

}  // namespace vantrove
