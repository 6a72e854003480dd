#include "core/string_table.h"

#include <gtest/gtest.h>

namespace vantrove {

TEST(StringTable, CreatorTextIsProgramVersion) { EXPECT_EQ(GetString(500), "Vantrove 0.9"); }

TEST(StringTable, IdsOutsideTheRangeAreMissing) {
    EXPECT_EQ(LoadStringResource(499), nullptr);
    EXPECT_EQ(LoadStringResource(679), nullptr);
    EXPECT_EQ(GetString(10000), "");
}

}  // namespace vantrove
