#include "core/folder_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <thread>

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

// A job that tries the folder while a verification looks at it (a shared
// lock held for an instant) is not told Busy: it waits for the look to end.
TEST(FolderLockTest, ALookNeverMakesAJobBusy) {
    test::TempDir dir;
    const std::string folder = dir.path() + "/";
    for (int i = 0; i < 50; ++i) {
        const int look = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ASSERT_GE(look, 0);
        ASSERT_EQ(flock(look, LOCK_SH), 0);
        std::atomic<bool> started{false};
        FolderLock job;
        FolderLock::Outcome outcome = FolderLock::Outcome::Failed;
        std::thread worker([&] {
            started.store(true);
            outcome = job.Acquire(folder, false);
        });
        while (!started.load()) std::this_thread::yield();
        close(look);
        worker.join();
        EXPECT_EQ(outcome, FolderLock::Outcome::Locked) << i;
        if (HasFailure()) break;
    }
}

}  // namespace
}  // namespace vantrove
