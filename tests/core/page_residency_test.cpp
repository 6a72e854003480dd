// The page-cache share of a file: whole after it was written, less once the
// kernel was told to drop part of it (where it can: a file in tmpfs lives in
// memory only), and nothing for what is no regular file with data.
#include "core/page_residency.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/magic.h>
#include <sys/vfs.h>
#include <unistd.h>

#include "support/test_env.h"

namespace vantrove {
namespace {

TEST(PageResidency, WrittenFileIsInMemoryAndDroppedPagesAreNot) {
    test::TempDir dir;
    const std::string path = dir.path() + "/data.bin";
    const size_t size = 8u << 20;
    test::WriteFile(path, std::vector<uint8_t>(size, 0x5A));
    EXPECT_DOUBLE_EQ(ResidentShare(path), 1.0);

    const int fd = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::fsync(fd), 0);
    ASSERT_EQ(::posix_fadvise(fd, size / 2, 0, POSIX_FADV_DONTNEED), 0);
    struct statfs fs {};
    ASSERT_EQ(::fstatfs(fd, &fs), 0);
    ::close(fd);
    const double share = ResidentShare(path);
    if (fs.f_type == TMPFS_MAGIC) {
        EXPECT_DOUBLE_EQ(share, 1.0);
    } else {
        EXPECT_LE(share, 0.75);
        EXPECT_GE(share, 0.25);  // the first half was not dropped
    }
}

TEST(PageResidency, NothingToTellGivesZero) {
    test::TempDir dir;
    test::WriteFile(dir.path() + "/empty", std::vector<uint8_t>());
    EXPECT_EQ(ResidentShare(dir.path() + "/empty"), 0.0);
    EXPECT_EQ(ResidentShare(dir.path() + "/missing"), 0.0);
    EXPECT_EQ(ResidentShare(dir.path()), 0.0);
}

}  // namespace
}  // namespace vantrove
