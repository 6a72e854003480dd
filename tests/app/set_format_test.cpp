// The format a file name opens as, and the empty sets made for it.

#include "app/set_format.h"

#include <gtest/gtest.h>

namespace vantrove {
namespace {

TEST(SetFormat, NamesChooseTheirFormatInOrder) {
    EXPECT_EQ(ChooseSetFormat("/d/movie.par"), FormatKind::Par1);
    EXPECT_EQ(ChooseSetFormat("/d/movie.P07"), FormatKind::Par1);
    EXPECT_EQ(ChooseSetFormat("movie.Par"), FormatKind::Par1);
    EXPECT_EQ(ChooseSetFormat("/d/movie.par2"), FormatKind::Par2);
    EXPECT_EQ(ChooseSetFormat("/d/movie.vol03+04.PAR2"), FormatKind::Par2);
    EXPECT_EQ(ChooseSetFormat("/d/list.md5"), FormatKind::Md5);
    EXPECT_EQ(ChooseSetFormat("/d/list.SFV"), FormatKind::Sfv);
    // Names no format recognises.
    EXPECT_EQ(ChooseSetFormat("/d/movie.p7"), FormatKind::None);
    EXPECT_EQ(ChooseSetFormat("/d/movie.pa1"), FormatKind::None);
    EXPECT_EQ(ChooseSetFormat("/d/movie.avi"), FormatKind::None);
    EXPECT_EQ(ChooseSetFormat("/d.par/movie"), FormatKind::None);
    EXPECT_EQ(ChooseSetFormat(""), FormatKind::None);
}

TEST(SetFormat, EmptySetsHaveTheirFormatKind) {
    for (FormatKind kind : {FormatKind::Par1, FormatKind::Par2, FormatKind::Md5, FormatKind::Sfv}) {
        std::unique_ptr<RecoverySet> set = NewEmptySet(kind, nullptr, nullptr);
        ASSERT_NE(set, nullptr);
        EXPECT_EQ(set->formatKind(), kind);
        EXPECT_EQ(set->status().state, RecoveryState::NothingLoaded);
    }
    EXPECT_EQ(NewEmptySet(FormatKind::None, nullptr, nullptr), nullptr);
    EXPECT_STREQ(SetFormatName(FormatKind::Par1), "PAR1");
    EXPECT_STREQ(SetFormatName(FormatKind::Sfv), "SFV");
    EXPECT_STREQ(SetFormatName(FormatKind::None), "");
}

}  // namespace
}  // namespace vantrove
