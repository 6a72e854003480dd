#include "core/folder_lock.h"

#include <gtest/gtest.h>

#include "support/test_env.h"

namespace vantrove {
namespace {

// A look tells a held folder from a free one and holds nothing after it: a
// job may lock the folder at once, and a second job is still told Busy.
TEST(FolderLockTest, LookingSeesAJobAndLeavesTheFolderFree) {
    test::TempDir dir;
    const std::string folder = dir.path() + "/";
    EXPECT_FALSE(FolderLock::JobWorksIn(folder));
    FolderLock job;
    ASSERT_EQ(job.Acquire(folder, false), FolderLock::Outcome::Locked);
    EXPECT_TRUE(FolderLock::JobWorksIn(folder));
    FolderLock second;
    EXPECT_EQ(second.Acquire(folder, false), FolderLock::Outcome::Busy);
    job.Release();
    EXPECT_FALSE(FolderLock::JobWorksIn(folder));
    EXPECT_EQ(second.Acquire(folder, false), FolderLock::Outcome::Locked);
    EXPECT_FALSE(FolderLock::JobWorksIn(dir.path() + "/missing/"));
}

}  // namespace
}  // namespace vantrove
