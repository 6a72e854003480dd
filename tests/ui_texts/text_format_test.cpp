#include "ui/texts/text_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "core/string_ids.h"
#include "core/string_table.h"

namespace vantrove {
namespace {

TEST(FormatText, FillsSpecifiersInOrder) {
    EXPECT_EQ(FormatText("%d ore, %d minuti", {1, 2}), "1 ore, 2 minuti");
    EXPECT_EQ(FormatText("a \"%s\" b", {"x.par2"}), "a \"x.par2\" b");
    EXPECT_EQ(FormatText("%d.%1d%%", {33, 3}), "33.3%");
    EXPECT_EQ(FormatText("%d.%d %%", {100, 0}), "100.0 %");
    EXPECT_EQ(FormatText("%d.%02d MB/s", {3, 5}), "3.05 MB/s");
    EXPECT_EQ(FormatText("%0.0f|%0.1f|%5.2f", {12.3, 5.26, 3.14159}), "12|5.3| 3.14");
    EXPECT_EQ(FormatText("%x %X %o %c", {255, 255, 8, 'Z'}), "ff FF 10 Z");
    EXPECT_EQ(FormatText("[%-4s][%4s][%.2s]", {"ab", "ab", "abcdef"}), "[ab  ][  ab][ab]");
}

TEST(FormatText, SixtyFourBitValuesWhateverTheLengthModifier) {
    uint64_t big = 12345678901234ULL;
    EXPECT_EQ(FormatText("%s.#%I64d-%I64d#", {"f", big, int64_t{-5}}), "f.#12345678901234--5#");
    EXPECT_EQ(FormatText("%d", {big}), "12345678901234");
    EXPECT_EQ(FormatText("%d", {UINT64_MAX}), "18446744073709551615");
    EXPECT_EQ(FormatText("%lld %ld %hd %zu %I32d", {INT64_MIN, 7, 8, 9u, 10}),
              "-9223372036854775808 7 8 9 10");
}

TEST(FormatText, MismatchedOrMissingValuesAreHarmless) {
    EXPECT_EQ(FormatText("%s and %s", {"one"}), "one and ");
    EXPECT_EQ(FormatText("%d", {"text"}), "text");
    EXPECT_EQ(FormatText("%s", {42}), "42");
    EXPECT_EQ(FormatText("%d", {2.7}), "3");
    EXPECT_EQ(FormatText("%f", {"x"}), "x");
    EXPECT_EQ(FormatText("%.1f", {7}), "7.0");
    EXPECT_EQ(FormatText("100%", {}), "100%");              // trailing percent kept
    EXPECT_EQ(FormatText("%q %n %y", {1}), "%q %n %y");     // unknown conversions copied
    EXPECT_EQ(FormatText("%99999999d", {1}).size(), 512u);  // width capped
}

TEST(FormatText, ValueTextIsNeverReadAsAFormat) {
    EXPECT_EQ(FormatText("\"%s\"", {"%s%n%d 100%"}), "\"%s%n%d 100%\"");
    std::string name = "a%sb";
    EXPECT_EQ(FormatString(kStrTitleLoading, {name}), "Vantrove - Caricamento di \"a%sb\"");
}

TEST(FormatText, EveryTableTextFillsWithoutLeftoverSpecifiers) {
    // Every text of the table, given plenty of values, leaves no '%' that
    // was meant as a specifier: a check that each specifier in the table is
    // one the formatter understands.
    for (const StringEntry& entry : StringTableEntries()) {
        std::string out = FormatText(entry.text, {1, 2, 3, 4});
        std::string text = entry.text;
        size_t literal = 0;
        for (size_t i = 0; i + 1 < text.size(); ++i) {
            if (text[i] == '%' && text[i + 1] == '%') {
                ++literal;
                ++i;
            }
        }
        size_t percents = 0;
        for (char c : out) percents += c == '%';
        EXPECT_EQ(percents, literal) << entry.id << ": " << entry.text << " -> " << out;
    }
}

}  // namespace
}  // namespace vantrove
