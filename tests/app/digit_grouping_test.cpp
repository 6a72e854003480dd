#include "app/digit_grouping.h"

#include <gtest/gtest.h>
#include <locale.h>

namespace vantrove {
namespace {

std::string Grouped(std::string text, std::string_view separator = ",") {
    GroupDigits(text, separator);
    return text;
}

TEST(DigitGrouping, SeparatorsEveryThreeDigitsFromTheRight) {
    EXPECT_EQ(Grouped("1234567"), "1,234,567");
    EXPECT_EQ(Grouped("123"), "123");
    EXPECT_EQ(Grouped(""), "");
    EXPECT_EQ(Grouped("0"), "0");
    EXPECT_EQ(Grouped("1234"), "1,234");
    EXPECT_EQ(Grouped("123456"), "123,456");
    EXPECT_EQ(Grouped("1234567", "."), "1.234.567");
    for (size_t n = 1; n <= 20; ++n) {
        std::string text = Grouped(std::string(n, '9'), "'");
        EXPECT_EQ(text.size(), n + (n - 1) / 3) << n;
    }
}

TEST(DigitGrouping, SignStaysInFront) {
    EXPECT_EQ(Grouped("-123456"), "-123,456");
    EXPECT_EQ(Grouped("-1234567"), "-1,234,567");
    EXPECT_EQ(Grouped("-123"), "-123");
}

TEST(DigitGrouping, MultiByteSeparatorIsKeptWhole) {
    const std::string narrowSpace = "\xe2\x80\xaf";
    EXPECT_EQ(ThousandsSeparatorFrom(narrowSpace), narrowSpace);
    EXPECT_EQ(Grouped("1234567", narrowSpace), "1" + narrowSpace + "234" + narrowSpace + "567");
    EXPECT_EQ(ThousandsSeparatorFrom(""), ".") << "the interface's Italian separator";
    EXPECT_EQ(ThousandsSeparatorFrom(".x"), ".");
    EXPECT_EQ(ThousandsSeparatorFrom("\xe2\x80"), ".") << "a cut-off character is not used";
    EXPECT_EQ(ThousandsSeparatorFrom(","), ",");
    EXPECT_FALSE(UserThousandsSeparator().empty());
}

// The C and POSIX locales have no separator: the interface is Italian, so
// its "." stands in, never the English ",".
TEST(DigitGrouping, LocalesWithoutASeparatorGroupWithADot) {
    EXPECT_EQ(LocaleThousandsSeparator("C"), ".");
    EXPECT_EQ(LocaleThousandsSeparator("POSIX"), ".");
    EXPECT_EQ(LocaleThousandsSeparator("xx_NOWHERE.UTF-8"), ".");
    // An installed locale with its own separator keeps it.
    if (locale_t en = newlocale(LC_NUMERIC_MASK, "en_US.UTF-8", static_cast<locale_t>(0))) {
        freelocale(en);
        EXPECT_EQ(LocaleThousandsSeparator("en_US.UTF-8"), ",");
    }
}

TEST(DigitGrouping, FormatGroupedUsesTheUserSeparator) {
    const std::string& sep = UserThousandsSeparator();
    EXPECT_EQ(FormatGrouped(int64_t{1234567}), "1" + sep + "234" + sep + "567");
    EXPECT_EQ(FormatGrouped(int32_t{-1000}), "-1" + sep + "000");
    EXPECT_EQ(FormatGrouped(uint32_t{999}), "999");
    EXPECT_EQ(FormatGrouped(UINT64_MAX), "18" + sep + "446" + sep + "744" + sep + "073" + sep +
                                             "709" + sep + "551" + sep + "615");
    EXPECT_EQ(FormatGrouped(INT64_MIN), "-9" + sep + "223" + sep + "372" + sep + "036" + sep +
                                            "854" + sep + "775" + sep + "808");
}

}  // namespace
}  // namespace vantrove
