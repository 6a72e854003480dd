#include "core/stored_name.h"

#include <gtest/gtest.h>

namespace vantrove {
namespace {

// Names that Windows refuses are ordinary here and must survive untouched,
// or a set would rename the user's own files.
TEST(StoredName, KeepsEveryByteThatIsNoSeparator) {
    EXPECT_EQ(StoredName("time 12:30.txt"), "time 12:30.txt");
    EXPECT_EQ(StoredName("what?.txt"), "what?.txt");
    EXPECT_EQ(StoredName("a<b>|\"*.x"), "a<b>|\"*.x");
    EXPECT_EQ(StoredName("con.txt"), "con.txt");
    EXPECT_EQ(StoredName("-leading"), "-leading");
    EXPECT_EQ(StoredName("caff\xc3\xa8.txt"), "caff\xc3\xa8.txt");
    EXPECT_EQ(StoredName(std::string("t\x01\tab")), std::string("t\x01\tab"));
}

TEST(StoredName, BackslashesSeparateFoldersAndAZeroByteEndsTheName) {
    EXPECT_EQ(StoredName("docs\\a\\report.pdf"), "docs/a/report.pdf");
    EXPECT_EQ(StoredName("docs/a\\b.txt"), "docs/a/b.txt");
    EXPECT_EQ(StoredName(std::string("x.bin\0\0\0", 8)), "x.bin");
    EXPECT_EQ(StoredName(std::string("\0abc", 4)), "");
}

TEST(StoredName, OnlyRelativeNamesBelowTheFolderAreSafe) {
    EXPECT_TRUE(IsSafeStoredName("a.txt"));
    EXPECT_TRUE(IsSafeStoredName("docs/a/report.pdf"));
    EXPECT_TRUE(IsSafeStoredName("..."));
    EXPECT_TRUE(IsSafeStoredName(".hidden/x"));
    for (const char* name : {"", "/etc/passwd", "../x", "a/../../x", "a/./b", ".", "..", "a//b",
                             "a/", "dir/.."}) {
        EXPECT_FALSE(IsSafeStoredName(name)) << name;
    }
}

TEST(StoredName, ResolvedPathsOfUnsafeNamesAreJudgedLexically) {
    EXPECT_EQ(ResolvedEntryPath("/s/", "a/b.txt"), "/s/a/b.txt");
    EXPECT_EQ(ResolvedEntryPath("/s/", "a/../b.txt"), "/s/b.txt");
    EXPECT_FALSE(PathLeavesFolder(ResolvedEntryPath("/s/", "a/../b.txt"), "/s/"));
    EXPECT_TRUE(PathLeavesFolder(ResolvedEntryPath("/s/", "../x"), "/s/"));
    EXPECT_TRUE(PathLeavesFolder(ResolvedEntryPath("/s/", "a/../../x"), "/s/"));
    EXPECT_TRUE(PathLeavesFolder(ResolvedEntryPath("/s/", "/etc/passwd"), "/s/"));
    EXPECT_TRUE(PathLeavesFolder(ResolvedEntryPath("/s/", "a/.."), "/s/"));
}

}  // namespace
}  // namespace vantrove
