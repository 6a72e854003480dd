// SetFile: the set's verification result follows the file's existence.

#include "engine/set_file.h"

#include <gtest/gtest.h>

#include "support/test_env.h"

namespace vantrove {
namespace {

using test::TempDir;

TEST(SetFileResult, FollowsCreationAndDisappearance) {
    TempDir dir;
    SetFile file(dir.File("f"));
    file.result = VerifyResult::IntactCopy;
    EXPECT_FALSE(file.open());
    EXPECT_EQ(file.result, VerifyResult::Missing);

    ASSERT_TRUE(file.create());
    EXPECT_EQ(file.result, VerifyResult::NotVerified);

    file.result = VerifyResult::IntactCopy;
    ASSERT_TRUE(file.remove());
    EXPECT_EQ(file.result, VerifyResult::Missing);
}

TEST(SetFileResult, OtherOpenFailuresKeepTheResult) {
    TempDir dir;
    SetFile file;
    file.result = VerifyResult::NotIntact;
    EXPECT_FALSE(file.open(dir.path()));  // a folder is not a file
    EXPECT_EQ(file.result, VerifyResult::NotIntact);
}

}  // namespace
}  // namespace vantrove
