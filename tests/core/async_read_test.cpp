#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "core/async_read_request.h"
#include "core/disk_file.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

using test::RandomBytes;
using test::TempDir;
using test::TestSeed;
using test::WriteFile;

// Every test runs once per way of reading.
class AsyncReadTest : public ::testing::TestWithParam<AsyncReadMode> {
  protected:
    void SetUp() override {
        saved_ = CurrentAsyncReadMode();
        if (!SetAsyncReadMode(GetParam())) GTEST_SKIP() << "io_uring is not available here";
        rng_.seed(TestSeed());
    }
    void TearDown() override { SetAsyncReadMode(saved_); }

    // A file of `size` random bytes, opened.
    DiskFileRef MakeFile(const std::string& name, size_t size) {
        data_ = RandomBytes(rng_, size);
        WriteFile(dir_.File(name), data_);
        auto file = std::make_shared<DiskFile>(dir_.File(name));
        EXPECT_TRUE(file->open());
        return file;
    }

    bool Matches(const AsyncReadRequest& request) const {
        return std::memcmp(request.buffer, data_.data() + request.offset, request.length) == 0;
    }

    AsyncReadMode saved_ = AsyncReadMode::Threads;
    TempDir dir_;
    std::mt19937_64 rng_;
    std::vector<uint8_t> data_;
};

TEST_P(AsyncReadTest, ManyOutstandingRandomReadsDeliverTheFileBytes) {
    const size_t fileSize = 6 * 1024 * 1024 + 123;
    DiskFileRef file = MakeFile("f", fileSize);
    const int slots = 48;
    std::vector<AsyncReadRequest> requests(slots);
    std::vector<std::vector<uint8_t>> buffers(slots);
    std::vector<uint8_t> viaRead;
    int started = 0;
    auto startNext = [&](int slot) {
        AsyncReadRequest& request = requests[slot];
        uint32_t length = 1 + static_cast<uint32_t>(rng_() % (256 * 1024));
        request.offset = rng_() % (fileSize - length + 1);
        request.length = length;
        buffers[slot].assign(length, 0xEE);
        request.buffer = buffers[slot].data();
        DiskFile::ReadStatus begun = file->beginRead(request);
        ASSERT_NE(begun, DiskFile::ReadStatus::Failed) << "lastError " << file->lastError();
        EXPECT_EQ(request.state, static_cast<int>(begun));
        ++started;
    };
    for (int slot = 0; slot < slots; ++slot) startNext(slot);
    for (int round = 0; round < 6; ++round) {
        for (int slot = 0; slot < slots; ++slot) {
            AsyncReadRequest& request = requests[slot];
            ASSERT_EQ(file->completeRead(request), DiskFile::ReadStatus::Complete) << "lastError " << file->lastError();
            EXPECT_EQ(request.state, 0);
            EXPECT_EQ(request.transferred, request.length);
            viaRead.assign(request.length, 0);
            ASSERT_TRUE(file->read(request.offset, viaRead.data(), request.length));
            ASSERT_EQ(std::memcmp(viaRead.data(), request.buffer, request.length), 0)
                << "slot " << slot << " offset " << request.offset;
            if (round < 5) startNext(slot);
        }
    }
    EXPECT_EQ(started, slots * 6);
}

TEST_P(AsyncReadTest, SequentialPipelineOfLargeReadsCoversTheFile) {
    const size_t chunk = 4 * 1024 * 1024;
    const size_t fileSize = 5 * chunk + 777;
    DiskFileRef file = MakeFile("f", fileSize);
    const int depth = 3;
    std::vector<AsyncReadRequest> requests(depth);
    std::vector<std::vector<uint8_t>> buffers(depth, std::vector<uint8_t>(chunk));
    uint64_t next = 0;
    auto issue = [&](int slot) {
        if (next >= fileSize) return;
        requests[slot].offset = next;
        requests[slot].length = static_cast<uint32_t>(std::min<uint64_t>(chunk, fileSize - next));
        requests[slot].buffer = buffers[slot].data();
        next += requests[slot].length;
        ASSERT_NE(file->beginRead(requests[slot]), DiskFile::ReadStatus::Failed);
    };
    for (int slot = 0; slot < depth; ++slot) issue(slot);
    uint64_t verified = 0;
    for (int slot = 0; verified < fileSize; slot = (slot + 1) % depth) {
        ASSERT_EQ(requests[slot].offset, verified);
        ASSERT_EQ(file->completeRead(requests[slot]), DiskFile::ReadStatus::Complete);
        ASSERT_TRUE(Matches(requests[slot]));
        verified += requests[slot].length;
        issue(slot);
    }
    EXPECT_EQ(verified, fileSize);
}

TEST_P(AsyncReadTest, MoreRequestsThanTheRingHoldsAllComplete) {
    DiskFileRef file = MakeFile("f", 1024 * 1024);
    const int count = 700;
    std::vector<AsyncReadRequest> requests(count);
    std::vector<uint8_t> buffers(count * 512);
    for (int i = 0; i < count; ++i) {
        requests[i].offset = (static_cast<uint64_t>(i) * 1499) % (data_.size() - 512);
        requests[i].length = 512;
        requests[i].buffer = buffers.data() + i * 512;
        ASSERT_NE(file->beginRead(requests[i]), DiskFile::ReadStatus::Failed);
    }
    for (int i = 0; i < count; ++i) {
        ASSERT_EQ(file->completeRead(requests[i]), DiskFile::ReadStatus::Complete);
        ASSERT_TRUE(Matches(requests[i])) << i;
    }
}

TEST_P(AsyncReadTest, ReadPastTheEndCompletesWithZero) {
    DiskFileRef file = MakeFile("f", 1000);
    std::vector<uint8_t> buffer(100);
    for (uint64_t offset : {950u, 1000u, 5000u}) {
        AsyncReadRequest request;
        request.offset = offset;
        request.length = 100;
        request.buffer = buffer.data();
        DiskFile::ReadStatus begun = file->beginRead(request);
        DiskFile::ReadStatus finished = begun == DiskFile::ReadStatus::Pending ? file->completeRead(request) : begun;
        EXPECT_EQ(finished, DiskFile::ReadStatus::Failed) << "offset " << offset;
        EXPECT_EQ(request.state, 0);
        EXPECT_EQ(file->lastError(), kErrorHandleEof);
        EXPECT_LT(request.transferred, 100u);
    }
}

TEST_P(AsyncReadTest, TheFilesRealEndDecidesNotTheRecordedSize) {
    DiskFileRef file = MakeFile("f", 1000);
    // The file grows after it was opened; the pipeline still reads the new
    // bytes in every mode, the same way.
    std::vector<uint8_t> more = RandomBytes(rng_, 500);
    {
        DiskFile writer(file->path);
        ASSERT_TRUE(writer.openForWrite());
        ASSERT_TRUE(writer.write(1000, more.data(), more.size()));
    }
    data_.insert(data_.end(), more.begin(), more.end());
    ASSERT_EQ(file->size, 1000u);
    std::vector<uint8_t> buffer(300);
    AsyncReadRequest request;
    request.offset = 900;
    request.length = 300;
    request.buffer = buffer.data();
    ASSERT_NE(file->beginRead(request), DiskFile::ReadStatus::Failed);
    EXPECT_EQ(file->completeRead(request), DiskFile::ReadStatus::Complete);
    EXPECT_TRUE(Matches(request));
}

TEST_P(AsyncReadTest, InvalidHandleOrInjectedFaultFailsAtOnce) {
    std::vector<uint8_t> buffer(16);
    AsyncReadRequest request;
    request.length = 16;
    request.buffer = buffer.data();
    DiskFile closed(dir_.File("none"));
    EXPECT_EQ(closed.beginRead(request), DiskFile::ReadStatus::Failed);
    EXPECT_EQ(closed.lastError(), EBADF);
    EXPECT_EQ(request.state, 0);

    struct FailingReads : FileFaultInjector {
        int BeforeRead(const DiskFile&, uint64_t, size_t) override { return EIO; }
    } injector;
    DiskFileRef file = MakeFile("f", 64);
    SetFileFaultInjector(&injector);
    DiskFile::ReadStatus begun = file->beginRead(request);
    SetFileFaultInjector(nullptr);
    EXPECT_EQ(begun, DiskFile::ReadStatus::Failed);
    EXPECT_EQ(file->lastError(), EIO);
    EXPECT_EQ(request.state, 0);
    // Completing an idle request is an error, not a success.
    EXPECT_EQ(file->completeRead(request), DiskFile::ReadStatus::Failed);
}

TEST_P(AsyncReadTest, DestroyingAPendingRequestWaitsForItsRead) {
    DiskFileRef file = MakeFile("f", 8 * 1024 * 1024);
    std::vector<std::vector<uint8_t>> buffers(4, std::vector<uint8_t>(2 * 1024 * 1024));
    {
        std::vector<AsyncReadRequest> requests(4);
        for (int i = 0; i < 4; ++i) {
            requests[i].offset = static_cast<uint64_t>(i) * buffers[i].size();
            requests[i].length = static_cast<uint32_t>(buffers[i].size());
            requests[i].buffer = buffers[i].data();
            ASSERT_NE(file->beginRead(requests[i]), DiskFile::ReadStatus::Failed);
        }
    }                                               // destroyed without completeRead
    if (GetParam() == AsyncReadMode::Sync) return;  // deferred reads never started
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(
            std::memcmp(buffers[i].data(), data_.data() + i * buffers[i].size(), buffers[i].size()),
            0);
    }
}

TEST_P(AsyncReadTest, PendingReadsSurviveCloseAndMove) {
    DiskFileRef file = MakeFile("f", 3 * 1024 * 1024);
    std::vector<uint8_t> buffer(3 * 1024 * 1024);
    AsyncReadRequest request;
    request.offset = 0;
    request.length = static_cast<uint32_t>(buffer.size());
    request.buffer = buffer.data();
    DiskFile::ReadStatus begun = file->beginRead(request);
    ASSERT_NE(begun, DiskFile::ReadStatus::Failed);

    AsyncReadRequest moved(std::move(request));
    EXPECT_EQ(moved.state, static_cast<int>(begun));
    file->close();  // the read in flight keeps what it needs
    if (GetParam() == AsyncReadMode::Sync) {
        EXPECT_EQ(file->completeRead(moved), DiskFile::ReadStatus::Failed);  // a deferred read needs the open file
        return;
    }
    EXPECT_EQ(file->completeRead(moved), DiskFile::ReadStatus::Complete);
    EXPECT_TRUE(Matches(moved));
    // Reopening gets a fresh descriptor that works.
    ASSERT_TRUE(file->open());
    moved.offset = 10;
    moved.length = 100;
    ASSERT_NE(file->beginRead(moved), DiskFile::ReadStatus::Failed);
    EXPECT_EQ(file->completeRead(moved), DiskFile::ReadStatus::Complete);
    EXPECT_TRUE(Matches(moved));
}

TEST_P(AsyncReadTest, ReadsStartedByAThreadThatEndedStillComplete) {
    const size_t size = 16 * 1024 * 1024;
    DiskFileRef file = MakeFile("f", size);
    // Out of the page cache, so that the reads are still under way when the
    // starting thread ends.
    int fd = ::open(file->path.c_str(), O_RDONLY);
    fdatasync(fd);
    posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
    std::vector<AsyncReadRequest> requests(8);
    std::vector<uint8_t> buffer(size);
    std::thread starter([&] {
        for (int i = 0; i < 8; ++i) {
            requests[i].offset = static_cast<uint64_t>(i) * (size / 8);
            requests[i].length = size / 8;
            requests[i].buffer = buffer.data() + requests[i].offset;
            EXPECT_NE(file->beginRead(requests[i]), DiskFile::ReadStatus::Failed);
        }
    });
    starter.join();
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(file->completeRead(requests[i]), DiskFile::ReadStatus::Complete) << i << " lastError " << file->lastError();
    }
    EXPECT_EQ(buffer, data_);
}

TEST_P(AsyncReadTest, SeveralThreadsReadTheirOwnFiles) {
    const size_t size = 2 * 1024 * 1024;
    DiskFileRef first = MakeFile("a", size);
    std::vector<uint8_t> firstData = data_;
    DiskFileRef second = MakeFile("b", size);
    std::vector<uint8_t> secondData = data_;
    auto drive = [size](DiskFileRef file, const std::vector<uint8_t>* expected, bool* ok) {
        std::vector<AsyncReadRequest> requests(8);
        std::vector<std::vector<uint8_t>> buffers(8, std::vector<uint8_t>(64 * 1024));
        *ok = true;
        for (size_t base = 0; base < size; base += 8 * 64 * 1024) {
            for (int i = 0; i < 8; ++i) {
                requests[i].offset = base + i * 64 * 1024;
                requests[i].length = 64 * 1024;
                requests[i].buffer = buffers[i].data();
                *ok &= file->beginRead(requests[i]) != DiskFile::ReadStatus::Failed;
            }
            for (int i = 0; i < 8; ++i) {
                *ok &= file->completeRead(requests[i]) == DiskFile::ReadStatus::Complete;
                *ok &= std::memcmp(buffers[i].data(), expected->data() + requests[i].offset,
                                   64 * 1024) == 0;
            }
        }
    };
    bool firstOk = false, secondOk = false;
    std::thread a(drive, first, &firstData, &firstOk);
    std::thread b(drive, second, &secondData, &secondOk);
    a.join();
    b.join();
    EXPECT_TRUE(firstOk);
    EXPECT_TRUE(secondOk);
}

INSTANTIATE_TEST_SUITE_P(Modes, AsyncReadTest,
                         ::testing::Values(AsyncReadMode::Uring, AsyncReadMode::Threads,
                                           AsyncReadMode::Sync),
                         [](const auto& info) {
                             std::string name = AsyncReadModeName(info.param);
                             name[0] = static_cast<char>(std::toupper(name[0]));
                             return name;
                         });

TEST(AsyncReadModeTest, EnvironmentChoosesTheMode) {
    const char* saved = getenv("VANTROVE_ASYNC_IO");
    std::string savedValue = saved ? saved : "";
    AsyncReadMode best = AsyncUringAvailable() ? AsyncReadMode::Uring : AsyncReadMode::Threads;
    setenv("VANTROVE_ASYNC_IO", "sync", 1);
    EXPECT_EQ(DefaultAsyncReadMode(), AsyncReadMode::Sync);
    setenv("VANTROVE_ASYNC_IO", "threads", 1);
    EXPECT_EQ(DefaultAsyncReadMode(), AsyncReadMode::Threads);
    setenv("VANTROVE_ASYNC_IO", "uring", 1);
    EXPECT_EQ(DefaultAsyncReadMode(), best);
    unsetenv("VANTROVE_ASYNC_IO");
    EXPECT_EQ(DefaultAsyncReadMode(), best);
    if (saved) setenv("VANTROVE_ASYNC_IO", savedValue.c_str(), 1);
}

TEST(AsyncReadModeTest, UringCanBeChosenExactlyWhenAvailable) {
    AsyncReadMode saved = CurrentAsyncReadMode();
    EXPECT_EQ(SetAsyncReadMode(AsyncReadMode::Uring), AsyncUringAvailable());
    EXPECT_TRUE(SetAsyncReadMode(AsyncReadMode::Threads));
    EXPECT_EQ(CurrentAsyncReadMode(), AsyncReadMode::Threads);
    SetAsyncReadMode(saved);
}

}  // namespace
}  // namespace vantrove
