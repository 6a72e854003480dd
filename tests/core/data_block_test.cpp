#include "core/data_block.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/test_env.h"

namespace vantrove {
namespace {

using test::TempDir;
using test::WriteFile;

class DataBlockTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // "....0123456789ABCDEF": the slice is "0123456789" at offset 4, and
        // the bytes after it are not zeros, so padding cannot come from them.
        WriteFile(dir_.File("f"), "....0123456789ABCDEF");
        file_ = std::make_shared<DiskFile>(dir_.File("f"));
        ASSERT_TRUE(file_->open());
        block_.file = file_;
        block_.offset = 4;
        block_.length = 10;
    }

    std::string ReadPadded(uint64_t offsetInBlock, size_t count, bool* ok) {
        std::vector<char> buffer(count, '\xAA');
        *ok = block_.readPadded(offsetInBlock, buffer.data(), count);
        return std::string(buffer.begin(), buffer.end());
    }

    TempDir dir_;
    DiskFileRef file_;
    DataBlock block_;
};

TEST_F(DataBlockTest, RequestCrossingTheSliceEndIsPaddedWithZeros) {
    bool ok = false;
    EXPECT_EQ(ReadPadded(8, 6, &ok), std::string("89\0\0\0\0", 6));
    EXPECT_TRUE(ok);
}

TEST_F(DataBlockTest, RequestInsideTheSliceReadsTheFile) {
    bool ok = false;
    EXPECT_EQ(ReadPadded(0, 10, &ok), "0123456789");
    EXPECT_TRUE(ok);
    EXPECT_EQ(ReadPadded(3, 4, &ok), "3456");
    EXPECT_TRUE(ok);
}

TEST_F(DataBlockTest, RequestAtOrPastTheEndYieldsOnlyZeros) {
    bool ok = false;
    EXPECT_EQ(ReadPadded(10, 5, &ok), std::string(5, '\0'));
    EXPECT_TRUE(ok);
    EXPECT_EQ(ReadPadded(1000, 3, &ok), std::string(3, '\0'));
    EXPECT_TRUE(ok);
    // Even where the file itself has ended.
    file_->close();
    ASSERT_TRUE(file_->open());
    block_.offset = 100;
    block_.length = 0;
    EXPECT_EQ(ReadPadded(0, 4, &ok), std::string(4, '\0'));
    EXPECT_TRUE(ok);
}

TEST_F(DataBlockTest, FailsWithoutAnOpenFile) {
    bool ok = true;
    file_->close();
    ReadPadded(0, 4, &ok);
    EXPECT_FALSE(ok);
    // Also for a request that would be all padding.
    ReadPadded(20, 4, &ok);
    EXPECT_FALSE(ok);

    DataBlock empty;
    char buffer[4];
    EXPECT_FALSE(empty.readPadded(0, buffer, 4));
}

TEST_F(DataBlockTest, SliceReachingPastTheFileFailsInsteadOfInventingData) {
    block_.offset = 15;  // 5 bytes left in the file, slice claims 10
    bool ok = true;
    ReadPadded(0, 10, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(file_->lastError(), kErrorHandleEof);
    // The part that exists is still readable.
    EXPECT_EQ(ReadPadded(0, 5, &ok), "BCDEF");
    EXPECT_TRUE(ok);
}

TEST_F(DataBlockTest, HugeOffsetsDoNotWrapAround) {
    block_.offset = UINT64_MAX - 2;
    block_.length = 10;
    bool ok = true;
    ReadPadded(5, 2, &ok);
    EXPECT_FALSE(ok);
}

}  // namespace
}  // namespace vantrove
