// The copy-name rules by which a scan takes a file for a copy of a source
// file.
#include "engine/name_match.h"

#include <gtest/gtest.h>

namespace vantrove {
namespace {

TEST(CopyNameRules, SuffixForms) {
    EXPECT_EQ(WithoutCopySuffix("/d/movie.avi.1"), "/d/movie.avi");
    EXPECT_EQ(WithoutCopySuffix("/d/movie.avi.12-3"), "/d/movie.avi");
    EXPECT_EQ(WithoutCopySuffix("/d/movie.avi(2).tmp"), "/d/movie.avi");
    EXPECT_EQ(WithoutCopySuffix("/d/movie.avi.(2).TMP"), "/d/movie.avi");
    EXPECT_EQ(WithoutCopySuffix("/d/movie.avi"), "/d/movie.avi");
    EXPECT_EQ(WithoutCopySuffix("/d/movie.avi.x1"), "/d/movie.avi.x1");
    EXPECT_EQ(WithoutCopySuffix("/d/movie.avi.-3"), "/d/movie.avi.-3");
    EXPECT_EQ(WithoutCopySuffix("/d/movie()tmp"), "/d/movie()tmp");
    // The folder is never part of a suffix.
    EXPECT_EQ(WithoutCopySuffix("/d.1/x"), "/d.1/x");
}

TEST(CopyNameRules, InfixForms) {
    EXPECT_EQ(WithoutCopyInfix("/d/name_1.avi"), "/d/name.avi");
    EXPECT_EQ(WithoutCopyInfix("/d/name-2.avi"), "/d/name.avi");
    EXPECT_EQ(WithoutCopyInfix("/d/name.3.avi"), "/d/name.avi");
    EXPECT_EQ(WithoutCopyInfix("/d/name.(copy).avi"), "/d/name.avi");
    EXPECT_EQ(WithoutCopyInfix("/d/name(copy).avi"), "/d/name(copy).avi");
    EXPECT_EQ(WithoutCopyInfix("/d/name2.avi"), "/d/name2.avi");
    // Too short a name before the extension.
    EXPECT_EQ(WithoutCopyInfix("/d/a_1.avi"), "/d/a_1.avi");
}

TEST(CopyNameRules, FormsAreTriedInOrderEachOnThePrevious) {
    std::vector<std::string> forms = CopyNameForms("/d/my movie_2.avi.1");
    ASSERT_EQ(forms.size(), 4u);
    EXPECT_EQ(forms[0], "/d/my movie_2.avi.1");
    EXPECT_EQ(forms[1], "/d/my movie_2.avi");
    EXPECT_EQ(forms[2], "/d/my movie.avi");
    EXPECT_EQ(forms[3], "/d/my?movie.avi");

    forms = CopyNameForms("/d/plain.bin");
    EXPECT_EQ(forms, std::vector<std::string>{"/d/plain.bin"});
}

}  // namespace
}  // namespace vantrove
