#include "create/split_plan.h"

#include <gtest/gtest.h>

namespace vantrove {
namespace {

TEST(SplitPlan, PiecesHoldWholeBlocks) {
    // Exactly W blocks: not split; W + 1: a second piece of one block.
    EXPECT_TRUE(PlanSplitPieces("/d/", "f", 300 * 100, 100, 300).empty());
    auto two = PlanSplitPieces("/d/", "f", 300 * 100 + 1, 100, 300);
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(two[1].blockCount, 1u);
    EXPECT_EQ(two[1].size, 1u);
    EXPECT_EQ(two[1].firstBlock, 300u);

    auto four = PlanSplitPieces("/d/", "movie.iso", 1000 * 100 - 7, 100, 300);
    ASSERT_EQ(four.size(), 4u);
    EXPECT_EQ(four[0].path, "/d/movie.iso.001");
    EXPECT_EQ(four[3].path, "/d/movie.iso.004");
    EXPECT_EQ(four[0].blockCount, 300u);
    EXPECT_EQ(four[2].blockCount, 300u);
    EXPECT_EQ(four[3].blockCount, 100u);
    EXPECT_EQ(four[0].size, 30000u);
    EXPECT_EQ(four[3].size, 10000u - 7);

    // A size that is a multiple of the piece: the last piece is full.
    auto exact = PlanSplitPieces("", "x", 600 * 100, 100, 300);
    ASSERT_EQ(exact.size(), 2u);
    EXPECT_EQ(exact[1].size, 30000u);
    EXPECT_TRUE(PlanSplitPieces("", "x", 1000000, 100, 0).empty());  // splitting off
    EXPECT_EQ(PlanSplitPieces("", "x", 1001 * 100, 100, 1).size(), 1001u);
    EXPECT_EQ(PlanSplitPieces("", "x", 1001 * 100, 100, 1)[1000].path, "x.1001");
}

}  // namespace
}  // namespace vantrove
