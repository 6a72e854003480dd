// Line syntax of SFV and MD5 lists and the portion reader.

#include "formats/checksum_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_env.h"

namespace vantrove {
namespace {

using test::TempDir;

const std::string kHex32 = "0123456789abcdefFEDCBA9876543210";

Md5Digest Hex32Digest() {
    Md5Digest d;
    const uint8_t bytes[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef,
                               0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10};
    for (int i = 0; i < 16; ++i) d.bytes[i] = bytes[i];
    return d;
}

int32_t Md5Style(const std::string& line, std::string* name = nullptr,
                 Md5Digest* digest = nullptr) {
    std::string n;
    Md5Digest d;
    int32_t style = ParseMd5Line(line, n, d);
    if (name) *name = n;
    if (digest) *digest = d;
    return style;
}

TEST(SfvLine, NameSpaceAndEightDigitsGiveAnEntry) {
    std::string name;
    uint32_t crc = 0;
    ASSERT_TRUE(ParseSfvLine("movie.avi 0123abcd", name, crc));
    EXPECT_EQ(name, "movie.avi");
    EXPECT_EQ(crc, 0x0123ABCDu);
    ASSERT_TRUE(ParseSfvLine("sub/dir name.bin DEADBEEF", name, crc));
    EXPECT_EQ(name, "sub/dir name.bin");
    EXPECT_EQ(crc, 0xDEADBEEFu);
}

TEST(SfvLine, TwoSpacesLeaveATrailingBlankInTheName) {
    std::string name;
    uint32_t crc = 0;
    ASSERT_TRUE(ParseSfvLine("a.txt  0123abcd", name, crc));
    EXPECT_EQ(name, "a.txt ");
}

TEST(SfvLine, NearMissesAreNoEntries) {
    std::string name = "untouched";
    uint32_t crc = 7;
    EXPECT_FALSE(ParseSfvLine("a.txt 10123abcd", name, crc));  // nine digits
    EXPECT_FALSE(ParseSfvLine("a.txt0123abcd", name, crc));    // no space
    EXPECT_FALSE(ParseSfvLine(" 0123abcd", name, crc));        // nothing before the space
    EXPECT_FALSE(ParseSfvLine("a.txt 0123abc", name, crc));    // seven digits
    EXPECT_FALSE(ParseSfvLine("a.txt 0123abcg", name, crc));   // not hex at the end
    EXPECT_FALSE(ParseSfvLine("a.txt\t0123abcd", name, crc));  // a tab is no space
    EXPECT_FALSE(ParseSfvLine("", name, crc));
    EXPECT_EQ(name, "untouched");
    EXPECT_EQ(crc, 7u);
}

TEST(Md5Line, TabAfterThirtyTwoDigitsIsStyleOne) {
    std::string name;
    Md5Digest digest;
    EXPECT_EQ(Md5Style(kHex32 + "\tfile name.txt", &name, &digest), kMd5StyleTab);
    EXPECT_EQ(name, "file name.txt");
    EXPECT_EQ(digest, Hex32Digest());
}

TEST(Md5Line, SpaceStarOrTwoSpacesIsStyleTwo) {
    std::string name;
    Md5Digest digest;
    EXPECT_EQ(Md5Style(kHex32 + " *a.bin", &name, &digest), kMd5StyleStar);
    EXPECT_EQ(name, "a.bin");
    EXPECT_EQ(digest, Hex32Digest());
    EXPECT_EQ(Md5Style(kHex32 + "  b c.bin", &name), kMd5StyleStar);
    EXPECT_EQ(name, "b c.bin");
}

TEST(Md5Line, EqualsBeforeTheDigestIsStyleThreeEvenWithoutName) {
    std::string name = "x";
    Md5Digest digest;
    EXPECT_EQ(Md5Style("a.bin=" + kHex32, &name, &digest), kMd5StyleEquals);
    EXPECT_EQ(name, "a.bin");
    EXPECT_EQ(digest, Hex32Digest());
    EXPECT_EQ(Md5Style("=" + kHex32, &name), kMd5StyleEquals);
    EXPECT_EQ(name, "");
}

TEST(Md5Line, SingleSpaceBeforeTheDigestIsStyleFour) {
    std::string name;
    EXPECT_EQ(Md5Style("a.bin " + kHex32, &name), kMd5StyleSpace);
    EXPECT_EQ(name, "a.bin");
    // A single character before the space is too short for this layout.
    EXPECT_EQ(Md5Style("a " + kHex32), kMd5StyleSpace);
    EXPECT_EQ(Md5Style(" " + kHex32), kMd5StyleNone);
}

TEST(Md5Line, BsdLayoutInAnyCaseIsStyleFive) {
    std::string name;
    Md5Digest digest;
    EXPECT_EQ(Md5Style("MD5 (my file.txt) = " + kHex32, &name, &digest), kMd5StyleBsd);
    EXPECT_EQ(name, "my file.txt");
    EXPECT_EQ(digest, Hex32Digest());
    EXPECT_EQ(Md5Style("md5 (x) = " + kHex32, &name), kMd5StyleBsd);
    EXPECT_EQ(name, "x");
    EXPECT_EQ(Md5Style("Md5 (a (b)) = " + kHex32, &name), kMd5StyleBsd);
    EXPECT_EQ(name, "a (b)");
}

TEST(Md5Line, BlankEqualsDigestWithoutPrefixFitsNoLayout) {
    EXPECT_EQ(Md5Style("a.bin =" + kHex32), kMd5StyleEquals);  // '=' right before: style 3
    EXPECT_EQ(Md5Style("a.bin = " + kHex32), kMd5StyleNone);
    EXPECT_EQ(Md5Style("SHA1 (a.bin) = " + kHex32), kMd5StyleNone);
}

TEST(Md5Line, ThirtyThreeDigitsAtTheStartAreTriedFromTheEnd) {
    std::string name;
    // 33 digits then a tab: not style 1, and nothing at the end fits.
    EXPECT_EQ(Md5Style("a" + kHex32 + "\tname"), kMd5StyleNone);
    // 33 digits then space-star: not style 2.
    EXPECT_EQ(Md5Style("a" + kHex32 + " *name"), kMd5StyleNone);
    // 31 digits then a tab: not style 1 either.
    EXPECT_EQ(Md5Style(kHex32.substr(1) + "\tname"), kMd5StyleNone);
    // A name that is itself a digest followed by a digest: read from the end.
    EXPECT_EQ(Md5Style(kHex32 + "x " + kHex32, &name), kMd5StyleSpace);
    EXPECT_EQ(name, kHex32 + "x");
}

TEST(Md5Line, ThirtyThreeDigitsAtTheEndAreNoDigest) {
    EXPECT_EQ(Md5Style("a.bin 0" + kHex32), kMd5StyleNone);
    EXPECT_EQ(Md5Style("a.bin=0" + kHex32), kMd5StyleNone);
    EXPECT_EQ(Md5Style("md5 (a) = 0" + kHex32), kMd5StyleNone);
}

std::string Groups(const std::string& separator = " ") {
    std::string text;
    for (int i = 0; i < 16; ++i) text += separator + kHex32.substr(2 * i, 2);
    return text;
}

TEST(Md5Line, SixteenBytePairsAfterAColonAreStyleSix) {
    std::string name;
    Md5Digest digest;
    EXPECT_EQ(Md5Style("a.bin:" + Groups(), &name, &digest), kMd5StyleByteGroups);
    EXPECT_EQ(name, "a.bin");
    EXPECT_EQ(digest, Hex32Digest());
}

TEST(Md5Line, ByteGroupNearMissesAreUnparsable) {
    // Two spaces before the last group.
    const std::string groups = Groups();
    EXPECT_EQ(Md5Style("a.bin:" + groups.substr(0, 45) + " " + groups.substr(45)), kMd5StyleNone);
    EXPECT_EQ(Md5Style("a.bin;" + Groups()), kMd5StyleNone);            // no colon
    EXPECT_EQ(Md5Style("a.bin:" + Groups().substr(3)), kMd5StyleNone);  // fifteen groups
    std::string badDigit = "a.bin:" + Groups();
    badDigit[badDigit.size() - 1] = 'g';
    EXPECT_EQ(Md5Style(badDigit), kMd5StyleNone);
}

TEST(Md5Line, CreatorNamesFollowTheStyle) {
    EXPECT_STREQ(Md5StyleCreator(kMd5StyleTab), "MD5Checker");
    EXPECT_STREQ(Md5StyleCreator(kMd5StyleStar), "MD5Summer");
    EXPECT_STREQ(Md5StyleCreator(kMd5StyleEquals), "MD5-it");
    EXPECT_STREQ(Md5StyleCreator(kMd5StyleSpace), "Easy MD5 Creator");
    EXPECT_STREQ(Md5StyleCreator(kMd5StyleBsd), "UNIX MD5 sum");
    EXPECT_STREQ(Md5StyleCreator(kMd5StyleByteGroups), "GPG");
    EXPECT_STREQ(Md5StyleCreator(kMd5StyleNone), "unknown");
    EXPECT_STREQ(Md5StyleCreator(7), "unknown");
}

// Reads `text` as an SFV list and returns the names of its entries.
std::vector<std::string> SfvNames(const std::string& text, size_t portion = kChecksumListPortion,
                                  ChecksumListRead* outcome = nullptr) {
    TempDir dir;
    test::WriteFile(dir.File("list.sfv"), text);
    DiskFile file;
    EXPECT_TRUE(file.open(dir.File("list.sfv")));
    std::vector<std::string> names;
    ChecksumListRead result = ReadChecksumList(
        file,
        [&names](std::string_view line) {
            std::string name;
            uint32_t crc;
            if (!ParseSfvLine(line, name, crc)) return false;
            names.push_back(name);
            return true;
        },
        {}, portion);
    if (outcome) *outcome = result;
    return names;
}

TEST(ChecksumListReader, EveryLineEndAndAMissingFinalOneParseTheSame) {
    const std::vector<std::string> expected = {"a", "b", "c"};
    EXPECT_EQ(SfvNames("a 00000001\r\nb 00000002\r\nc 00000003\r\n"), expected);
    EXPECT_EQ(SfvNames("a 00000001\nb 00000002\nc 00000003\n"), expected);
    EXPECT_EQ(SfvNames("a 00000001\rb 00000002\rc 00000003\r"), expected);
    EXPECT_EQ(SfvNames("a 00000001\nb 00000002\nc 00000003"), expected);
    EXPECT_EQ(SfvNames("a 00000001\n\n\r\n\x1a"
                       "b 00000002\x1a"
                       "c 00000003\x1a"),
              expected);
}

TEST(ChecksumListReader, SemicolonCommentsSkipEveryLaterSemicolonLine) {
    // The second ';' line would parse as an entry, but it is a comment.
    EXPECT_EQ(SfvNames("; made by hand\na 00000001\n;b 00000002\nc 00000003\n"),
              (std::vector<std::string>{"a", "c"}));
}

TEST(ChecksumListReader, FirstUnparsableLineDecidesTheCommentCharacter) {
    // "header" makes 'h' the comment character: "hello" is skipped although
    // it parses; ';' lines are parsed (and fail) afterwards.
    EXPECT_EQ(SfvNames("a 00000001\nheader line\nhello 00000002\n;x 00000003\nz 00000004\n"),
              (std::vector<std::string>{"a", ";x", "z"}));
}

TEST(ChecksumListReader, ZeroByteEndsTheLine) {
    EXPECT_EQ(SfvNames(std::string("a 00000001\0junk\nb 00000002\n", 26)),
              (std::vector<std::string>{"a", "b"}));
}

TEST(ChecksumListReader, LineAcrossThePortionBoundaryIsParsedWhole) {
    // Fill up to a few bytes before 1 MiB, then a line that crosses it.
    std::string text;
    const std::string filler = "; padding padding padding padding padding padding\n";
    text += "first 00000001\n";
    while (text.size() + filler.size() < kChecksumListPortion - 5) text += filler;
    text += std::string(kChecksumListPortion - 5 - text.size(), '\n');
    text += "crossing.bin 0000abcd\nlast 00000002";
    ASSERT_GT(text.size(), kChecksumListPortion);
    EXPECT_EQ(SfvNames(text), (std::vector<std::string>{"first", "crossing.bin", "last"}));
    // The same with portions that cut almost every line.
    EXPECT_EQ(SfvNames("alpha 00000001\nbeta 00000002\ngamma 00000003\n", 20),
              (std::vector<std::string>{"alpha", "beta", "gamma"}));
}

TEST(ChecksumListReader, PortionWithoutLineEndIsPassedOverWhole) {
    // A line longer than a portion: its first portion is passed over whole
    // and the reader goes on with the rest of the line as a line of its own.
    EXPECT_EQ(SfvNames(std::string(20, 'x') + " 00000001\nb 00000002\n", 16),
              (std::vector<std::string>{"xxxx", "b"}));
    // With room for the whole line it is one entry.
    EXPECT_EQ(SfvNames(std::string(20, 'x') + " 00000001\nb 00000002\n", 64),
              (std::vector<std::string>{std::string(20, 'x'), "b"}));
}

TEST(ChecksumListReader, ReadFailureAndStopAreReported) {
    TempDir dir;
    test::WriteFile(dir.File("l.sfv"), std::string("a 00000001\nb 00000002\n"));
    DiskFile file;
    ASSERT_TRUE(file.open(dir.File("l.sfv")));
    int lines = 0;
    auto parse = [&lines](std::string_view) {
        ++lines;
        return true;
    };
    EXPECT_EQ(ReadChecksumList(
                  file, parse, [](uint64_t) { return false; }, 4),
              ChecksumListRead::Stopped);
    file.close();
    EXPECT_EQ(ReadChecksumList(file, parse, {}), ChecksumListRead::Failed);
}

TEST(ChecksumListReader, EmptyFileGivesNoLines) {
    ChecksumListRead outcome;
    EXPECT_TRUE(SfvNames("", kChecksumListPortion, &outcome).empty());
    EXPECT_EQ(outcome, ChecksumListRead::Complete);
}

}  // namespace
}  // namespace vantrove
