// The lockstep check of files at their places: its digests and CRC verdicts
// against one-file-at-a-time computations, over files of many sizes and
// damages at once, with one thread and two, and small pieces that cut
// blocks and the first 16 KiB in every way.
#include "engine/intact_check.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <random>

#include "core/crc32.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

using Bytes = std::vector<uint8_t>;

// The block CRCs of `data` as the check expects them.
std::vector<uint32_t> BlockCrcs(const Bytes& data, uint64_t blockSize) {
    std::vector<uint32_t> crcs;
    for (uint64_t at = 0; at < data.size(); at += blockSize) {
        const uint64_t length = std::min<uint64_t>(blockSize, data.size() - at);
        crcs.push_back(
            Crc32UpdateZeros(Crc32Update(0, data.data() + at, length), blockSize - length));
    }
    return crcs;
}

// The block MD5s of `data`, each block padded to the block size.
std::vector<Md5Digest> BlockMd5s(const Bytes& data, uint64_t blockSize) {
    std::vector<Md5Digest> digests;
    for (uint64_t at = 0; at < data.size(); at += blockSize) {
        Bytes block(data.begin() + at, data.begin() + std::min<uint64_t>(data.size(), at + blockSize));
        block.resize(blockSize, 0);
        digests.push_back(Md5Of(block.data(), block.size()));
    }
    return digests;
}

class IntactCheckTest : public ::testing::Test {
  protected:
    IntactCheckTest() : rng_(test::TestSeed()) {}

    // A file `name` holding `data`, expected to hold `original`; checked by
    // blocks when `byBlocks`.
    void Add(const std::string& name, const Bytes& original, const Bytes& data,
             bool byBlocks = false) {
        test::WriteFile(dir_.path() + "/" + name, data);
        IntactCheckFile file;
        file.path = dir_.path() + "/" + name;
        file.size = original.size();
        file.blockCrcs = BlockCrcs(original, kBlock);
        if (byBlocks) file.blockMd5s = BlockMd5s(original, kBlock);
        files_.push_back(file);
        originals_.push_back(original);
        contents_.push_back(data);
    }

    // Every file's verdict and digests as the one-file computation gives them.
    void ExpectResults() {
        for (size_t i = 0; i < files_.size(); ++i) {
            const IntactCheckFile& file = files_[i];
            const Bytes& data = contents_[i];
            SCOPED_TRACE(file.path);
            EXPECT_TRUE(file.finished);
            const bool byBlocks = !file.blockMd5s.empty();
            const bool same = data == originals_[i] ||
                              (data.size() == originals_[i].size() &&
                               BlockCrcs(data, kBlock) == BlockCrcs(originals_[i], kBlock) &&
                               (!byBlocks || BlockMd5s(data, kBlock) == file.blockMd5s));
            EXPECT_EQ(file.blocksMatch, same);
            if (!file.blocksMatch) continue;
            if (!byBlocks) {
                EXPECT_EQ(file.whole, Md5Of(data.data(), data.size()));
            }
            EXPECT_EQ(file.head, Md5Of(data.data(), std::min<size_t>(data.size(), 16384)));
        }
    }

    static constexpr uint64_t kBlock = 5000;
    test::TempDir dir_;
    std::mt19937_64 rng_;
    std::vector<IntactCheckFile> files_;
    std::vector<Bytes> originals_, contents_;
};

TEST_F(IntactCheckTest, ManyFilesIntactAndDamagedAtOnce) {
    // Sizes around the block size, the first 16 KiB and the piece size.
    const size_t sizes[] = {1,     4999,  5000,  5001,  16383, 16384,  16385,  20000,
                            32768, 32769, 65536, 70001, 99999, 100000, 131072, 250007};
    int n = 0;
    for (size_t size : sizes) {
        const Bytes original = test::RandomBytes(rng_, size);
        Add("intact" + std::to_string(n), original, original);
        Bytes damaged = original;
        damaged[rng_() % size] ^= 0x40;
        Add("damaged" + std::to_string(n), original, damaged);
        if (size > 1) {
            Add("short" + std::to_string(n), original, Bytes(original.begin(), original.end() - 1));
        }
        Bytes longer = original;
        longer.push_back(0);
        Add("long" + std::to_string(n), original, longer);
        ++n;
    }
    for (unsigned threads : {1u, 2u}) {
        for (uint32_t piece : {16384u, 32768u, 131072u}) {
            SCOPED_TRACE(std::to_string(threads) + " threads, pieces of " + std::to_string(piece));
            ASSERT_TRUE(IntactCheck::Run(files_, kBlock, nullptr, {piece, threads}));
            ExpectResults();
        }
    }
}

TEST_F(IntactCheckTest, ShortFilesOfEveryLengthAroundAHashBlockTogether) {
    // Files that all end in their first piece, at lengths on both sides of
    // 64-byte boundaries and of the first 16 KiB: they hash side by side up
    // to where each ends, the last bytes of each alone.
    int n = 0;
    for (size_t base : {size_t{0}, size_t{16384}, size_t{100000}}) {
        for (size_t extra : {1, 63, 64, 65, 127, 128, 129, 4095, 4096, 4097}) {
            const Bytes original = test::RandomBytes(rng_, base + extra);
            Add("f" + std::to_string(n++), original, original);
        }
    }
    Bytes damaged = test::RandomBytes(rng_, 70000);
    Bytes original = damaged;
    damaged[69999] ^= 1;
    Add("damaged", original, damaged);
    for (unsigned threads : {1u, 2u}) {
        SCOPED_TRACE(std::to_string(threads) + " threads");
        ASSERT_TRUE(IntactCheck::Run(files_, kBlock, nullptr, {262144, threads}));
        ExpectResults();
    }
}

TEST_F(IntactCheckTest, EmptyMissingAndWrongCrcListsNeverMatch) {
    Add("empty", {}, {});
    const Bytes data = test::RandomBytes(rng_, 12000);
    Add("gone", data, data);
    ASSERT_EQ(unlink(files_.back().path.c_str()), 0);
    Add("fewer", data, data);
    files_.back().blockCrcs.pop_back();
    Add("good", data, data);
    ASSERT_TRUE(IntactCheck::Run(files_, kBlock, nullptr));
    EXPECT_TRUE(files_[0].blocksMatch);
    EXPECT_EQ(files_[0].whole, Md5Of(nullptr, 0));
    EXPECT_EQ(files_[0].head, Md5Of(nullptr, 0));
    EXPECT_TRUE(files_[1].finished);
    EXPECT_FALSE(files_[1].blocksMatch);
    EXPECT_FALSE(files_[2].blocksMatch);
    EXPECT_TRUE(files_[3].blocksMatch);
    EXPECT_EQ(files_[3].whole, Md5Of(data.data(), data.size()));
}

// Files checked by blocks, cut into runs of blocks that are read side by
// side with each other and with whole files, in every way of cutting them:
// one run, fewer runs than blocks, one run per block, more runs asked for
// than there are blocks.
TEST_F(IntactCheckTest, FilesByBlocksAmongWholeFiles) {
    const size_t sizes[] = {5001, 10000, 10001, 16385, 49999, 131072, 250007, 400000};
    int n = 0;
    for (size_t size : sizes) {
        const Bytes original = test::RandomBytes(rng_, size);
        Add("intact" + std::to_string(n), original, original, true);
        for (size_t at : {size_t{0}, size / 2, size - 1}) {
            Bytes damaged = original;
            damaged[at] ^= 0x08;
            Add("damaged" + std::to_string(n) + "_" + std::to_string(at), original, damaged, true);
        }
        Add("short" + std::to_string(n), original, Bytes(original.begin(), original.end() - 1),
            true);
        Add("whole" + std::to_string(n), original, original);
        ++n;
    }
    for (unsigned threads : {1u, 2u}) {
        for (unsigned streams : {1u, 3u, 16u, 200u}) {
            for (uint32_t piece : {16384u, 131072u}) {
                SCOPED_TRACE(std::to_string(threads) + " threads, " + std::to_string(streams) +
                             " streams, pieces of " + std::to_string(piece));
                IntactCheck::Options options{piece, threads};
                options.streamsPerFile = streams;
                ASSERT_TRUE(IntactCheck::Run(files_, kBlock, nullptr, options));
                ExpectResults();
            }
        }
    }
}

// By blocks, the MD5 of every block counts, not only its CRC: a wrong
// digest for the first, a middle or the last block fails the file, whichever
// run the block falls in.
TEST_F(IntactCheckTest, ByBlocksEveryBlockMd5IsCompared) {
    const Bytes data = test::RandomBytes(rng_, 10 * kBlock + 123);
    for (size_t block : {size_t{0}, size_t{5}, size_t{10}}) {
        Add("wrong" + std::to_string(block), data, data, true);
        files_.back().blockMd5s[block].bytes[3] ^= 1;
    }
    Add("right", data, data, true);
    for (unsigned streams : {1u, 4u, 11u}) {
        IntactCheck::Options options{16384, 2};
        options.streamsPerFile = streams;
        ASSERT_TRUE(IntactCheck::Run(files_, kBlock, nullptr, options));
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_TRUE(files_[i].finished);
            EXPECT_FALSE(files_[i].blocksMatch) << files_[i].path << ", " << streams << " streams";
        }
        EXPECT_TRUE(files_[3].blocksMatch) << streams << " streams";
        EXPECT_EQ(files_[3].head, Md5Of(data.data(), 16384));
    }
}

// A stop request ends the run: it is asked before every round with the
// position reached, and files not read to their end stay unfinished (on one
// thread, all of them; the other thread may have finished its own).
TEST_F(IntactCheckTest, StopsWhenProgressSaysSo) {
    for (const char* name : {"f0", "f1", "f2", "f3"}) {
        const Bytes data = test::RandomBytes(rng_, 200000);
        Add(name, data, data);
    }
    for (unsigned threads : {1u, 2u}) {
        std::vector<uint64_t> positions;
        const bool finished = IntactCheck::Run(
            files_, kBlock,
            [&](uint64_t position) {
                positions.push_back(position);
                return position < 32768;
            },
            {16384, threads});
        EXPECT_FALSE(finished);
        EXPECT_EQ(positions, (std::vector<uint64_t>{0, 16384, 32768}));
        EXPECT_FALSE(files_[0].finished);
        if (threads == 1) {
            for (const IntactCheckFile& file : files_) EXPECT_FALSE(file.finished) << file.path;
        }
    }
    // A first file read as four runs of blocks advances four pieces a round.
    files_[0].blockMd5s = BlockMd5s(contents_[0], kBlock);
    std::vector<uint64_t> positions;
    IntactCheck::Options options{16384, 1};
    options.streamsPerFile = 4;
    EXPECT_FALSE(IntactCheck::Run(
        files_, kBlock,
        [&](uint64_t position) {
            positions.push_back(position);
            return position < 65536;
        },
        options));
    EXPECT_EQ(positions, (std::vector<uint64_t>{0, 65536}));
    EXPECT_FALSE(files_[0].finished);
}

}  // namespace
}  // namespace vantrove
