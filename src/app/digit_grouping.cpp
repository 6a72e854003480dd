#include "app/digit_grouping.h"

#include <langinfo.h>
#include <locale.h>

namespace vantrove {
namespace {

// Where the locale gives no separator (the C and POSIX locales): the one of
// the interface's language, Italian.
constexpr const char* kFallbackSeparator = ".";

// Length in bytes of the UTF-8 character that starts with `lead`; a byte that
// cannot start one counts as a character of its own.
size_t Utf8Length(unsigned char lead) {
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    if (lead >= 0xE0) return 3;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    return 1;
}

}  // namespace

std::string LocaleThousandsSeparator(const char* localeName) {
    locale_t locale = newlocale(LC_NUMERIC_MASK, localeName, static_cast<locale_t>(0));
    if (locale == static_cast<locale_t>(0)) return kFallbackSeparator;
    const char* text = nl_langinfo_l(THOUSEP, locale);
    std::string separator = ThousandsSeparatorFrom(text != nullptr ? text : "");
    freelocale(locale);
    return separator;
}

std::string ThousandsSeparatorFrom(std::string_view localeSeparator) {
    if (localeSeparator.empty()) return kFallbackSeparator;
    size_t length = Utf8Length(static_cast<unsigned char>(localeSeparator[0]));
    if (length > localeSeparator.size()) return kFallbackSeparator;  // a cut-off character
    for (size_t i = 1; i < length; ++i) {
        if ((static_cast<unsigned char>(localeSeparator[i]) & 0xC0) != 0x80)
            return kFallbackSeparator;
    }
    return std::string(localeSeparator.substr(0, length));
}

const std::string& UserThousandsSeparator() {
    static const std::string separator = LocaleThousandsSeparator("");
    return separator;
}

void GroupDigits(std::string& text, std::string_view separator) {
    size_t start = (!text.empty() && text[0] == '-') ? 1 : 0;
    size_t digits = text.size() - start;
    if (digits < 4) return;
    std::string out = text.substr(0, start);
    out.reserve(text.size() + (digits - 1) / 3 * separator.size());
    for (size_t i = 0; i < digits; ++i) {
        if (i > 0 && (digits - i) % 3 == 0) out += separator;
        out += text[start + i];
    }
    text = std::move(out);
}

void GroupDigits(std::string& text) {
    GroupDigits(text, UserThousandsSeparator());
}

std::string FormatGrouped(int64_t value) {
    std::string text = std::to_string(value);
    GroupDigits(text);
    return text;
}

std::string FormatGrouped(uint64_t value) {
    std::string text = std::to_string(value);
    GroupDigits(text);
    return text;
}

std::string FormatGrouped(int32_t value) {
    return FormatGrouped(int64_t{value});
}

std::string FormatGrouped(uint32_t value) {
    return FormatGrouped(uint64_t{value});
}

}  // namespace vantrove
