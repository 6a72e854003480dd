// The descriptor budget of DiskFile: many files open at once under a low
// open-file limit, each read, written and read asynchronously with its own
// data, and a file whose descriptor was lent out is never taken for another.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/async_read_request.h"
#include "core/disk_file.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

size_t DescriptorsOpenNow() {
    size_t count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir)) ++count;
        closedir(dir);
    }
    return count;
}

// Lowers the soft open-file limit to a few more than are open now, and sets
// a descriptor budget, for one scope.
class TightLimit {
  public:
    explicit TightLimit(size_t budget) {
        getrlimit(RLIMIT_NOFILE, &saved_);
        rlimit tight = saved_;
        tight.rlim_cur = DescriptorsOpenNow() + 24;
        setrlimit(RLIMIT_NOFILE, &tight);
        SetDiskFileDescriptorBudget(budget);
    }
    ~TightLimit() {
        SetDiskFileDescriptorBudget(0);
        setrlimit(RLIMIT_NOFILE, &saved_);
    }

  private:
    rlimit saved_{};
};

TEST(DiskFileDescriptors, ManyOpenFilesStayWithinTheBudgetAndKeepTheirOwnData) {
    constexpr int kFiles = 60;
    constexpr size_t kBudget = 8;
    TempDir dir;
    std::mt19937_64 rng(test::TestSeed());
    std::vector<std::vector<uint8_t>> data(kFiles);
    for (int i = 0; i < kFiles; i += 2) {
        data[i] = test::RandomBytes(rng, 3000 + i);
        WriteFile(dir.File("r" + std::to_string(i)), data[i]);
    }
    const AsyncReadMode savedMode = CurrentAsyncReadMode();
    TightLimit limit(kBudget);

    // Even files are read, odd ones created and written in pieces, all open
    // at once and used in turn.
    std::vector<std::unique_ptr<DiskFile>> files;
    for (int i = 0; i < kFiles; ++i) {
        files.push_back(std::make_unique<DiskFile>());
        const bool opened = i % 2 == 0 ? files[i]->open(dir.File("r" + std::to_string(i)))
                                       : files[i]->create(dir.File("w" + std::to_string(i)));
        ASSERT_TRUE(opened) << i << ": " << SystemErrorText(files[i]->lastError());
        if (i % 2) data[i] = test::RandomBytes(rng, 2000 + i);
        EXPECT_LE(DiskFileDescriptorsHeld(), kBudget);
    }
    for (size_t piece = 0; piece < 2; ++piece) {
        for (int i = 1; i < kFiles; i += 2) {
            const size_t half = data[i].size() / 2;
            ASSERT_TRUE(files[i]->write(piece * half, data[i].data() + piece * half,
                                        piece ? data[i].size() - half : half))
                << i << ": " << SystemErrorText(files[i]->lastError());
        }
    }
    // The exclusive lock of a created file is taken again with its descriptor.
    ASSERT_TRUE(files[1]->setSize(data[1].size()));
    DiskFile rival;
    EXPECT_FALSE(rival.create(dir.File("w1")));
    EXPECT_EQ(rival.lastError(), EBUSY);

    // Reads of every file, a few pending at a time as in a pipeline: a
    // pending read keeps its descriptor while other files take theirs back.
    constexpr int kPending = 4;
    for (AsyncReadMode mode : {AsyncReadMode::Sync, AsyncReadMode::Threads, AsyncReadMode::Uring}) {
        if (!SetAsyncReadMode(mode)) continue;
        SCOPED_TRACE(AsyncReadModeName(mode));
        std::vector<AsyncReadRequest> requests(kFiles);
        std::vector<std::vector<uint8_t>> got(kFiles);
        for (int i = 0; i < kFiles + kPending; ++i) {
            if (i < kFiles) {
                got[i].assign(data[i].size() - 100, 0);
                requests[i].offset = 100;
                requests[i].length = static_cast<uint32_t>(got[i].size());
                requests[i].buffer = got[i].data();
                ASSERT_NE(files[i]->beginRead(requests[i]), DiskFile::ReadStatus::Failed) << i;
            }
            if (const int j = i - kPending; j >= 0) {
                ASSERT_EQ(files[j]->completeRead(requests[j]), DiskFile::ReadStatus::Complete) << j;
                EXPECT_TRUE(std::equal(got[j].begin(), got[j].end(), data[j].begin() + 100)) << j;
            }
        }
        EXPECT_LE(DiskFileDescriptorsHeld(), kBudget);
    }
    SetAsyncReadMode(savedMode);

    for (int i = 0; i < kFiles; ++i) {
        std::vector<uint8_t> head(50);
        ASSERT_TRUE(files[i]->read(7, head.data(), head.size())) << i;
        EXPECT_TRUE(std::equal(head.begin(), head.end(), data[i].begin() + 7)) << i;
        EXPECT_TRUE(files[i]->isOpen());
        files[i]->close();
        EXPECT_EQ(files[i]->size, data[i].size()) << i;
    }
    EXPECT_EQ(DiskFileDescriptorsHeld(), 0u);
    for (int i = 1; i < kFiles; i += 2)
        EXPECT_EQ(ReadFile(dir.File("w" + std::to_string(i))), data[i]);
}

// Among more open files than the limit allows, a file that gave its
// descriptor back reopens its path only when the path still leads to the
// same file; one renamed through the DiskFile follows its new name.
TEST(DiskFileDescriptors, AFileReplacedUnderItsPathIsNotReadInItsPlace) {
    TempDir dir;
    WriteFile(dir.File("a"), std::string("original"));
    WriteFile(dir.File("b"), std::string("moved"));
    TightLimit limit(4);
    DiskFile a, b;
    ASSERT_TRUE(a.open(dir.File("a")));
    ASSERT_TRUE(b.open(dir.File("b")));
    ASSERT_TRUE(b.rename(dir.File("b2")));
    std::vector<std::unique_ptr<DiskFile>> others;
    for (int i = 0; i < 40; ++i) {
        others.push_back(std::make_unique<DiskFile>());
        ASSERT_TRUE(others.back()->create(dir.File("c" + std::to_string(i)))) << i;
    }
    ASSERT_EQ(::rename(dir.File("a").c_str(), dir.File("a.old").c_str()), 0);
    WriteFile(dir.File("a"), std::string("impostor"));
    char buffer[8];
    EXPECT_FALSE(a.read(0, buffer, sizeof buffer));
    EXPECT_EQ(a.lastError(), ESTALE);
    ASSERT_TRUE(b.read(0, buffer, 5));
    EXPECT_EQ(std::string(buffer, 5), "moved");
}

}  // namespace
}  // namespace vantrove
