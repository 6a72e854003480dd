#include "ui/texts/create_dialog_texts.h"

#include <gtest/gtest.h>

#include <limits>

namespace vantrove {
namespace {

constexpr int64_t kMiB = 1024 * 1024;

TEST(CreateDialogTexts, TimeCaptionNamesTheSpeedByItsSize) {
    EXPECT_EQ(CalculationTimeCaption(250 * kMiB), "Tempo di calcolo @ 250 MB/s:");
    EXPECT_EQ(CalculationTimeCaption(100 * kMiB), "Tempo di calcolo @ 100 MB/s:");
    // Just below 100 MiB/s: tenths, cut rather than rounded.
    EXPECT_EQ(CalculationTimeCaption(100 * kMiB - 1), "Tempo di calcolo @ 99.9 MB/s:");
    EXPECT_EQ(CalculationTimeCaption(10 * kMiB), "Tempo di calcolo @ 10.0 MB/s:");
    // Hundredths keep their leading zero.
    EXPECT_EQ(CalculationTimeCaption(kMiB + kMiB / 16), "Tempo di calcolo @ 1.06 MB/s:");
    EXPECT_EQ(CalculationTimeCaption(kMiB - 1), "Tempo di calcolo @ 1023 KB/s:");
    EXPECT_EQ(CalculationTimeCaption(0), "Tempo di calcolo @ 0 KB/s:");
    EXPECT_EQ(CalculationTimeCaption(-5), "Tempo di calcolo @ 0 KB/s:");
}

TEST(CreateDialogTexts, EstimateInHoursMinutesOrSeconds) {
    EXPECT_EQ(EstimatedTimeText(3725), "1 ore, 2 minuti");
    EXPECT_EQ(EstimatedTimeText(3600), "1 ore, 0 minuti");
    EXPECT_EQ(EstimatedTimeText(3599), "59 minuti, 59 secondi");
    EXPECT_EQ(EstimatedTimeText(60), "1 minuti, 0 secondi");
    EXPECT_EQ(EstimatedTimeText(59), "59 secondi");
    EXPECT_EQ(EstimatedTimeText(0), "0 secondi");
}

TEST(CreateDialogTexts, FiguresAndLabels) {
    EXPECT_EQ(EfficiencyText(1000), "100.0%");
    EXPECT_EQ(EfficiencyText(987), "98.7%");
    EXPECT_EQ(EfficiencyText(5), "0.5%");
    EXPECT_EQ(RebuildableFilesText(0, 0), "0 - 0");
    EXPECT_EQ(RebuildableFilesText(2, 17), "2 - 17");
    EXPECT_EQ(RedundancyText(1000), "10.00%");
    EXPECT_EQ(RedundancyText(1), "0.01%");
    EXPECT_EQ(RedundancyText(10000), "100.00%");
    EXPECT_EQ(RedundancyText(1234), "12.34%");
}

TEST(CreateDialogTexts, TypedNumbersDropEveryNonDigit) {
    uint64_t v = 7;
    EXPECT_TRUE(ReadTypedNumber("1.000.000", v));
    EXPECT_EQ(v, 1000000u);
    EXPECT_TRUE(ReadTypedNumber(" 12a34 ", v));
    EXPECT_EQ(v, 1234u);
    EXPECT_TRUE(ReadTypedNumber("-5", v));  // a sign is not a digit
    EXPECT_EQ(v, 5u);
    EXPECT_FALSE(ReadTypedNumber("", v));
    EXPECT_FALSE(ReadTypedNumber("abc", v));
    EXPECT_EQ(v, 0u);
    // Far too many digits stop at the largest value instead of wrapping.
    EXPECT_TRUE(ReadTypedNumber("99999999999999999999999999", v));
    EXPECT_EQ(v, std::numeric_limits<uint64_t>::max());
}

TEST(CreateDialogTexts, TypedBlockSizeRoundsAwayFromTheCurrentSize) {
    // Granule 384000, current 768000, bounds 384000 … 3840000.
    EXPECT_EQ(TypedBlockSize(1000000, 768000, 384000, 384000, 3840000), 1152000u);
    EXPECT_EQ(TypedBlockSize(700000, 768000, 384000, 384000, 3840000), 384000u);
    EXPECT_EQ(TypedBlockSize(768000, 768000, 384000, 384000, 3840000), 768000u);
    EXPECT_EQ(TypedBlockSize(1, 768000, 384000, 384000, 3840000), 384000u);
    EXPECT_EQ(TypedBlockSize(99999999, 768000, 384000, 384000, 3840000), 3840000u);
    // Granule 4: a typed value is only brought to a multiple of 4.
    EXPECT_EQ(TypedBlockSize(1001, 500, 4, 4, 100000), 1004u);
    EXPECT_EQ(TypedBlockSize(499, 500, 4, 4, 100000), 496u);
    // Rounding up at the top of the range does not wrap around.
    const uint64_t top = std::numeric_limits<uint64_t>::max();
    EXPECT_EQ(TypedBlockSize(top, 8, 8, 8, top), top / 8 * 8);
}

TEST(CreateDialogTexts, BaseNameLosesTrailingDots) {
    EXPECT_EQ(CreationBaseName("movie...", "x", "y"), "movie");
    EXPECT_EQ(CreationBaseName("...", "x", "y"), "");
    EXPECT_EQ(CreationBaseName("", "movie", "folder"), "movie");
    EXPECT_EQ(CreationBaseName("", "", "folder"), "folder");
    EXPECT_EQ(CreationBaseName("", "", ""), "");
    EXPECT_EQ(CreationBaseName("a.b", "", ""), "a.b");
}

TEST(CreateDialogTexts, DestinationIsMadeAbsoluteBelowTheDefaultFolder) {
    EXPECT_EQ(DestinationFolder("out", "/data/"), "/data/out/");
    EXPECT_EQ(DestinationFolder("out/deeper/", "/data/"), "/data/out/deeper/");
    EXPECT_EQ(DestinationFolder("/out", "/data/"), "/out/");
    EXPECT_EQ(DestinationFolder("/", "/data/"), "/");
    EXPECT_EQ(DestinationFolder("", "/data/"), "/data/");
    EXPECT_EQ(DestinationFolder("", "/data"), "/data/");
    EXPECT_EQ(DestinationFolder("out", "/data"), "/data/out/");
    // A leading "~" is the home folder; "~name" and a "~" further on are
    // names like any other.
    EXPECT_EQ(DestinationFolder("~/backup", "/data/", "/home/ann"), "/home/ann/backup/");
    EXPECT_EQ(DestinationFolder("~", "/data/", "/home/ann"), "/home/ann/");
    EXPECT_EQ(DestinationFolder("~/", "/data/", "/home/ann/"), "/home/ann/");
    EXPECT_EQ(DestinationFolder("~/x", "/data/", "/"), "/x/");
    EXPECT_EQ(DestinationFolder("~ann/x", "/data/", "/home/ann"), "/data/~ann/x/");
    EXPECT_EQ(DestinationFolder("out/~/x", "/data/", "/home/ann"), "/data/out/~/x/");
    // Without a known home the "~" stays a name.
    EXPECT_EQ(DestinationFolder("~/backup", "/data/", ""), "/data/~/backup/");
    EXPECT_EQ(DestinationTestPath("/data/out/"), "/data/out");
    EXPECT_EQ(DestinationTestPath("/data/out//"), "/data/out");
    EXPECT_EQ(DestinationTestPath("/"), "/");
}

}  // namespace
}  // namespace vantrove
