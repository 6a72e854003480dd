#include "par2/sanitised_name.h"

#include <gtest/gtest.h>

namespace vantrove {
namespace {

TEST(SanitisedName, ReservedDeviceNamesGetAPrefix) {
    EXPECT_EQ(SanitisedName("con"), "_con");
    EXPECT_EQ(SanitisedName("Con.txt"), "_Con.txt");
    EXPECT_EQ(SanitisedName("LPT1.dat.bak"), "_LPT1.dat.bak");
    EXPECT_EQ(SanitisedName("clock$"), "_clock$");
    EXPECT_EQ(SanitisedName("aux.txt"), "_aux.txt");
    EXPECT_EQ(SanitisedName("com9"), "_com9");
    EXPECT_EQ(SanitisedName("nul."), "_nul.");
    // Only the stem counts, and only whole names.
    EXPECT_EQ(SanitisedName("con1.txt"), "con1.txt");
    EXPECT_EQ(SanitisedName("com0"), "com0");
    EXPECT_EQ(SanitisedName("lpt10"), "lpt10");
    EXPECT_EQ(SanitisedName("my.con"), "my.con");
    EXPECT_EQ(SanitisedName("console.log"), "console.log");
}

TEST(SanitisedName, ForbiddenCharactersBecomeUnderscores) {
    EXPECT_EQ(SanitisedName("a<b>.txt"), "a_b_.txt");
    EXPECT_EQ(SanitisedName("q?\"*|.x"), "q____.x");
    EXPECT_EQ(SanitisedName(std::string("t\x01\x1f\tab")), "t___ab");
    // Bytes above 127 are kept.
    EXPECT_EQ(SanitisedName("caff\xc3\xa8.txt"), "caff\xc3\xa8.txt");
}

TEST(SanitisedName, DirectoryPartsAreCut) {
    EXPECT_EQ(SanitisedName("dir/sub\\x.txt"), "sub_x.txt");
    EXPECT_EQ(SanitisedName("dir\\sub\\x.txt"), "x.txt");
    EXPECT_EQ(SanitisedName("C:\\dir/x.txt"), "_dir_x.txt");
    EXPECT_EQ(SanitisedName("/etc/passwd"), "passwd");
    EXPECT_EQ(SanitisedName("../../x"), "x");
    EXPECT_EQ(SanitisedName("d/con.txt"), "_con.txt");
}

// Names that would stand for the set's folder or its parent.
TEST(SanitisedName, EmptyAndDotNamesCannotNameAFolder) {
    EXPECT_EQ(SanitisedName(""), "_");
    EXPECT_EQ(SanitisedName("."), "_.");
    EXPECT_EQ(SanitisedName(".."), "_..");
    EXPECT_EQ(SanitisedName("dir/"), "_");
    EXPECT_EQ(SanitisedName("a/.."), "_..");
    EXPECT_EQ(SanitisedName("x:"), "_");
    EXPECT_EQ(SanitisedName("..."), "...");
    EXPECT_EQ(SanitisedName(".hidden"), ".hidden");
}

}  // namespace
}  // namespace vantrove
