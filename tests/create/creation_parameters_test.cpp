#include "create/creation_parameters.h"

#include <gtest/gtest.h>

#include <numeric>
#include <random>

#include "support/test_env.h"

namespace vantrove {
namespace {

CreationSettings Unrestricted() {
    CreationSettings s;
    s.restrictBlockSize = false;
    return s;
}

std::vector<CreationSourceFile> Files(std::initializer_list<uint64_t> sizes) {
    std::vector<CreationSourceFile> files;
    int i = 0;
    for (uint64_t s : sizes) files.push_back({"/data/file" + std::to_string(i++) + ".bin", s});
    return files;
}

TEST(PowerOfTwoSizes, TrimsAndGrowsToTheTotal) {
    EXPECT_EQ(PowerOfTwoSizes(7, 100), (std::vector<uint32_t>{1, 2, 4, 8, 13, 24, 48}));
    EXPECT_EQ(PowerOfTwoSizes(10, 10), std::vector<uint32_t>(10, 1));
    EXPECT_EQ(PowerOfTwoSizes(3, 100), (std::vector<uint32_t>{14, 28, 58}));
    EXPECT_EQ(PowerOfTwoSizes(10, 1000),
              (std::vector<uint32_t>{1, 2, 4, 8, 16, 32, 64, 128, 249, 496}));
}

TEST(PowerOfTwoSizes, AlwaysAddsUpAndNeverEmptiesAVolume) {
    std::mt19937_64 rng(test::TestSeed());
    for (int round = 0; round < 2000; ++round) {
        uint32_t count = 1 + rng() % 30;
        uint32_t total = count + static_cast<uint32_t>(rng() % 65535);
        std::vector<uint32_t> sizes = PowerOfTwoSizes(count, total);
        ASSERT_EQ(std::accumulate(sizes.begin(), sizes.end(), uint64_t{0}), total)
            << count << " " << total;
        for (uint32_t s : sizes) ASSERT_GT(s, 0u) << count << " " << total;
    }
}

TEST(FindBlockSize, SmallestSizeWithinTheLimitAndTheNextSmaller) {
    BlockSizeChoice c = FindBlockSize({1000, 1000}, 4, 4);
    EXPECT_EQ(c.blockSize, 500u);
    EXPECT_EQ(c.count, 4u);
    ASSERT_TRUE(c.hasSmaller);
    EXPECT_EQ(c.smallerBlockSize, 496u);
    EXPECT_EQ(c.smallerCount, 6u);
    // Brute force over random inputs.
    std::mt19937_64 rng(test::TestSeed());
    for (int round = 0; round < 200; ++round) {
        std::vector<uint64_t> sizes(1 + rng() % 5);
        for (auto& s : sizes) s = 1 + rng() % 5000;
        uint64_t granule = 4 * (1 + rng() % 8);
        uint64_t limit = sizes.size() + 1 + rng() % 40;
        BlockSizeChoice got = FindBlockSize(sizes, limit, granule);
        uint64_t expect = granule;
        auto count = [&](uint64_t b) {
            uint64_t n = 0;
            for (auto s : sizes) n += (s + b - 1) / b;
            return n;
        };
        while (count(expect) > limit) expect += granule;
        ASSERT_EQ(got.blockSize, expect);
        ASSERT_EQ(got.count, count(expect));
        ASSERT_EQ(got.hasSmaller, expect > granule);
    }
}

TEST(FindBlockSize, MoreFilesThanTheLimitTakeOneBlockEach) {
    std::vector<uint64_t> sizes(40000, 10);
    sizes[5] = 1001;
    BlockSizeChoice c = FindBlockSize(sizes, 32767, 4);
    EXPECT_EQ(c.blockSize, 1004u);
    EXPECT_EQ(c.count, 40000u);
    EXPECT_FALSE(c.hasSmaller);
}

TEST(CreationParameters, EmptyListAndOnlyEmptyFiles) {
    CreationParameters p(Unrestricted());
    p.ClearFiles();
    EXPECT_EQ(p.sourceBlockCount, 0u);
    EXPECT_EQ(p.recoveryBlockCount, 0u);
    EXPECT_EQ(p.recoveryFileCount, 0u);
    EXPECT_EQ(p.efficiency(), 1000u);
    uint32_t lo = 9, hi = 9;
    p.rebuildableFiles(lo, hi);
    EXPECT_EQ(lo, 0u);
    EXPECT_EQ(hi, 0u);
    p.AddFiles(Files({0, 0}));
    EXPECT_EQ(p.blockSize, p.blockGranule);
    EXPECT_EQ(p.sourceBlockCount, 0u);
    EXPECT_TRUE(p.volumeBlockCounts().empty());
}

TEST(CreationParameters, FortyThousandFilesTakeOneBlockPerFile) {
    CreationParameters p(Unrestricted());
    std::vector<CreationSourceFile> files;
    for (int i = 0; i < 40000; ++i) files.push_back({"/d/f" + std::to_string(i), 100});
    files[7].size = 5001;
    p.AddFiles(files);
    EXPECT_EQ(p.minBlockSize, 5004u);
    EXPECT_EQ(p.maxSourceBlocks, 40000u);
    EXPECT_EQ(p.sourceBlockCount, 40000u);
}

TEST(CreationParameters, DefaultBlockSizeAimsBetween200And3000Blocks) {
    CreationSettings s = Unrestricted();
    s.preferredBlockSize = 1000;
    CreationParameters p(s);
    p.AddFiles(Files({10000000}));  // 10000 blocks of 1000: too many
    EXPECT_LE(p.sourceBlockCount, 3000u);
    EXPECT_GT(p.sourceBlockCount, 2990u);
    p.ClearFiles();
    p.AddFiles(Files({50000}));           // 50 blocks: too few
    EXPECT_EQ(p.sourceBlockCount, 199u);  // 248 bytes would give 202
    EXPECT_EQ(p.blockSize, 252u);
}

TEST(CreationParameters, RedundancyRoundsAndKeepsOneBlock) {
    CreationParameters p(Unrestricted());
    p.AddFiles(Files({1001 * 4}));
    p.setSourceBlockCount(1001);
    ASSERT_EQ(p.sourceBlockCount, 1001u);
    EXPECT_EQ(p.recoveryBlockCount, 100u);
    p.setSourceBlockCount(4);
    EXPECT_EQ(p.sourceBlockCount, 4u);
    EXPECT_EQ(p.recoveryBlockCount, 1u);
}

TEST(CreationParameters, AskingForMoreBlocksMovesTheCountUp) {
    CreationParameters p(Unrestricted());
    p.AddFiles(Files({1000, 1000}));
    p.setSourceBlockCount(4);  // 500 each
    ASSERT_EQ(p.sourceBlockCount, 4u);
    p.setSourceBlockCount(5);  // 5 cannot be had: the next size up gives 6
    EXPECT_EQ(p.sourceBlockCount, 6u);
    EXPECT_EQ(p.blockSize, 496u);
}

TEST(CreationParameters, SchemesSplitTheRecoveryBlocks) {
    CreationParameters p(Unrestricted());
    p.AddFiles(Files({30 * 400, 4000 * 400}));
    p.setBlockSize(400);
    p.setSizeScheme(kPowersOfTwo);
    p.setRecoveryBlockCount(1000);
    EXPECT_EQ(p.recoveryFileCount, 10u);
    EXPECT_EQ(p.volumeBlockCounts(),
              (std::vector<uint32_t>{1, 2, 4, 8, 16, 32, 64, 128, 249, 496}));
    p.setRecoveryFileCount(500);
    EXPECT_EQ(p.recoveryFileCount, 30u);  // never more than 30 in this scheme

    p.setSizeScheme(kUniform);
    p.setRecoveryBlockCount(10);
    p.setRecoveryFileCount(4);
    EXPECT_EQ(p.volumeBlockCounts(), (std::vector<uint32_t>{3, 3, 2, 2}));
    p.setRecoveryBlockCount(1000);
    p.setRecoveryFileCount(500);
    EXPECT_EQ(p.recoveryFileCount, 500u);  // may reach R
    // Every volume carries the index once: more than the doubling layout's
    // 54 copies, the price of the count asked for.
    EXPECT_EQ(p.criticalCopyFactor, 500u);
}

TEST(CreationParameters, LimitedToLargestUsesTheLargestFile) {
    CreationParameters p(Unrestricted());
    p.AddFiles(Files({30 * 400, 20 * 400}));
    p.setBlockSize(400);
    p.setSizeScheme(kLimitedToLargest);
    p.setRecoveryBlockCount(100);
    EXPECT_EQ(p.recoveryFileCount, 8u);
    EXPECT_EQ(p.volumeBlockCounts(), (std::vector<uint32_t>{1, 2, 4, 5, 10, 18, 30, 30}));
    // 1 + 2 + 3 + 3 + 4 + 5 + 5 + 5 copies of the index in eight volumes
    // would cost more than the doubling layout's 25 in seven: no volume
    // carries more than three.
    EXPECT_EQ(p.volumeIndexCopies(), (std::vector<uint32_t>{1, 2, 3, 3, 3, 3, 3, 3}));
    EXPECT_EQ(p.criticalCopyFactor, 21u);
    p.setRecoveryFileCount(3);  // ignored by this scheme
    EXPECT_EQ(p.recoveryFileCount, 8u);
    p.setRecoveryBlockCount(90);
    EXPECT_EQ(p.volumeBlockCounts(), (std::vector<uint32_t>{1, 2, 4, 8, 15, 30, 30}));
    EXPECT_EQ(p.recoveryFileCount, 2u + BitLength(30));
}

TEST(CreationParameters, FirstExponentKeepsTheLastBelow65536) {
    CreationParameters p(Unrestricted());
    p.AddFiles(Files({1000 * 400}));
    p.setBlockSize(400);
    p.setRecoveryBlockCount(100);
    p.setFirstRecoveryBlock(65500);
    EXPECT_EQ(p.firstRecoveryBlock, 65436u);
    p.setBlockSize(40);  // S = 10000, R = 1000
    EXPECT_LE(p.firstRecoveryBlock + p.recoveryBlockCount, 65536u);
    p.setRecoveryBlockCount(5000);
    EXPECT_LE(p.firstRecoveryBlock + p.recoveryBlockCount, 65536u);
}

TEST(CreationParameters, BaseNamesFromTheFileList) {
    CreationParameters p(Unrestricted());
    p.AddFiles({{"/x/movie.part1.rar", 10}, {"/x/movie.part2.rar", 10}});
    EXPECT_EQ(p.defaultBaseName, "movie");
    EXPECT_EQ(p.defaultPath, "/x/");
    p.ClearFiles();
    p.AddFiles({{"/x/file_a.txt", 10}, {"/x/file_b.txt", 10}});
    EXPECT_EQ(p.defaultBaseName, "file");
    p.ClearFiles();
    p.AddFiles({{"/x/same.dat", 10}, {"/y/Same.dat", 10}});
    EXPECT_EQ(p.defaultBaseName, "same.dat");
    EXPECT_EQ(p.defaultPath, "/");
    EXPECT_EQ(p.folderBaseName, "");
    p.ClearFiles();
    p.AddFiles({{"/Data/A/one", 10}, {"/Data/B/two", 10}});
    EXPECT_EQ(p.defaultPath, "/Data/");
    EXPECT_EQ(p.folderBaseName, "Data");
    EXPECT_EQ(p.defaultBaseName, "");
    EXPECT_EQ(p.offeredBaseName(), "Data");
}

TEST(CreationParameters, FiguresOfTheDialog) {
    CreationParameters p(Unrestricted());
    p.AddFiles({{"/d/abcde", 4000}, {"/d/b", 2000}, {"/d/e", 0}});
    p.setBlockSize(1000);  // 4 + 2 blocks
    p.setSizeScheme(kPowersOfTwo);
    p.setRecoveryBlockCount(3);  // volumes 1, 2
    ASSERT_EQ(p.volumeBlockCounts(), (std::vector<uint32_t>{1, 2}));
    ASSERT_EQ(p.criticalCopyFactor, 3u);
    uint64_t c = 120 * 3 + (8 + 4 + 4) + 20 * 6 + 80 * 3 + 16 * 3 + 76;
    EXPECT_EQ(p.recoveryDataSize(), 4 * c + 3 * 76 + 3 * 1068);
    EXPECT_EQ(p.efficiency(), p.sourceEfficiency * 3000 / p.recoveryDataSize());
    uint32_t lo = 0, hi = 0;
    p.rebuildableFiles(lo, hi);
    EXPECT_EQ(lo, 0u);  // the 4-block file alone is too much
    EXPECT_EQ(hi, 2u);  // the empty one and the 2-block one
    p.machine.bytesPerSecond = 1000;
    p.machine.tableSetupsPerSecond = 9;
    EXPECT_EQ(p.processingSeconds(), 6u * 3 * 1000 / 1000 + 2);
}

TEST(CreationParameters, SlidersMapTheirEnds) {
    CreationParameters p(Unrestricted());
    p.AddFiles(Files({1000000}));
    p.setSourceBlockCount(1000);
    ASSERT_EQ(p.sourceBlockCount, 1000u);
    p.setRecoveryBlockCount(1);
    EXPECT_EQ(p.recoveryBlockPosition(), 0u);
    EXPECT_EQ(p.recoveryBlocksAt(0), 1u);
    EXPECT_EQ(p.recoveryBlocksAt(1000000), 1000u);
    p.setRecoveryBlockCount(1000);
    EXPECT_EQ(p.recoveryBlockPosition(), 1000000u);
    p.setRecoveryBlockCount(100);
    EXPECT_NEAR(static_cast<double>(p.recoveryBlocksAt(p.recoveryBlockPosition())), 100, 1);
    EXPECT_EQ(p.sourceBlocksAt(0), p.minSourceBlocks);
    EXPECT_EQ(p.sourceBlocksAt(1000000), p.maxSourceBlocks);
}

TEST(CreationParameters, GranuleRestrictionRoundsTheBlockSize) {
    CreationSettings s;
    s.preferredBlockSize = 1000;
    s.restrictBlockSize = false;
    CreationParameters p(s);
    p.AddFiles(Files({1000000}));
    p.setBlockSize(2600);
    p.setGranuleRestriction(true);
    EXPECT_EQ(p.blockGranule, 1000u);
    EXPECT_EQ(p.blockSize, 3000u);
    p.setGranuleRestriction(false);
    EXPECT_EQ(p.blockGranule, 4u);
}

TEST(CreationParameters, SplitLimitBoundsAndPieceBlocks) {
    CreationParameters p(Unrestricted());
    p.AddFiles(Files({10000000}));
    p.setBlockSize(4000);
    p.setSplit(true);
    EXPECT_EQ(p.splitLimit, 15000000u);
    p.setSplitLimit(100);
    EXPECT_EQ(p.splitLimit, 12000u);  // ceil(10010 / 4000) blocks
    EXPECT_EQ(p.splitPieceBlocks(), 3u);
    p.setSplitLimit(400000);
    EXPECT_EQ(p.splitPieceBlocks(), 100u);
    EXPECT_EQ(p.splitStep(), 100000u);
}

TEST(CreationParametersFileList, RemoveFilesTakesSeveralRowsAtOnce) {
    CreationParameters p(Unrestricted());
    p.AddFiles(Files({100, 200, 300, 400, 500}));
    // Unsorted, repeated and out-of-range indices: rows 3 and 1 go, once each.
    p.RemoveFiles({3, 1, 3, 99});
    ASSERT_EQ(p.files().size(), 3u);
    EXPECT_EQ(p.files()[0].size, 100u);
    EXPECT_EQ(p.files()[1].size, 300u);
    EXPECT_EQ(p.files()[2].size, 500u);
    EXPECT_EQ(p.totalDataSize, 900u);
    EXPECT_EQ(p.largestFileSize, 500u);
    p.RemoveFiles({7});  // nothing to remove changes nothing
    EXPECT_EQ(p.files().size(), 3u);
    EXPECT_EQ(p.totalDataSize, 900u);
}

}  // namespace
}  // namespace vantrove
