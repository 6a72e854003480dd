#include "rs/data_pass.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "core/worker_team.h"
#include "rs/galois_field.h"
#include "rs/multiply_accumulate.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

using test::TempDir;

class RecordingReporter : public DataPassReporter {
  public:
    struct Error {
        int32_t kind;
        uint32_t code;
        std::string path;
    };

    void SetActivity(int32_t activity, uint32_t textId) override {
        activities.emplace_back(activity, textId);
        current = activity;
    }
    void SetProgress(uint64_t position, uint64_t total) override {
        EXPECT_LE(position, total);
        last[current] = {position, total};
        if (onProgress) onProgress(current, position, total);
    }
    void RecordError(int32_t kind, uint32_t code, const std::string& path) override {
        errors.push_back({kind, code, path});
    }
    const std::atomic<uint32_t>* StopFlag() const override { return &stop; }

    int Count(int32_t activity) const {
        return static_cast<int>(std::count_if(activities.begin(), activities.end(),
                                              [&](auto& a) { return a.first == activity; }));
    }

    std::vector<std::pair<int32_t, uint32_t>> activities;
    std::map<int32_t, std::pair<uint64_t, uint64_t>> last;
    std::vector<Error> errors;
    std::atomic<uint32_t> stop{0};
    int32_t current = 0;
    std::function<void(int32_t, uint64_t, uint64_t)> onProgress;
};

// Fails chosen operations on chosen files.
class Injector : public FileFaultInjector {
  public:
    int BeforeRead(const DiskFile& file, uint64_t, size_t) override {
        return file.path == failReadPath ? EIO : 0;
    }
    int BeforeWrite(const DiskFile& file, uint64_t offset, size_t) override {
        if (file.path != failWritePath) return 0;
        return offset >= failWriteFrom && offset < failWriteTo ? ENOSPC : 0;
    }
    std::string failReadPath, failWritePath;
    uint64_t failWriteFrom = 0, failWriteTo = UINT64_MAX;
};

class ScopedInjector {
  public:
    explicit ScopedInjector(FileFaultInjector* injector) { SetFileFaultInjector(injector); }
    ~ScopedInjector() { SetFileFaultInjector(nullptr); }
};

// Random source blocks in one file, recovery blocks made with the creation
// rows of the matrix in another, some sources declared missing, and a target
// file that the pass fills: copies of the present blocks and the rebuilt
// missing ones. Nothing here uses the program's file formats.
class Rebuild {
  public:
    Rebuild(uint32_t count, uint64_t slice, uint64_t lastLength, std::vector<uint32_t> missing,
            uint32_t extraRecovery = 1, uint64_t seed = test::TestSeed())
        : count_(count), slice_(slice), missing_(std::move(missing)) {
        std::mt19937_64 rng(seed);
        // Sources: every block is a full slice except the last one.
        sources_ = std::make_shared<DiskFile>(dir_.File("sources"));
        std::vector<uint8_t> all;
        for (uint32_t k = 0; k < count; ++k) {
            const uint64_t length = k + 1 == count ? lastLength : slice;
            auto block = test::RandomBytes(rng, length);
            block.resize(slice, 0);  // zero padding for the arithmetic
            blocks_.push_back(block);
            all.insert(all.end(), block.begin(), block.begin() + length);
            lengths_.push_back(length);
        }
        test::WriteFile(sources_->path, all);

        // Recovery blocks with exponents 0, 1, … (the first ones used).
        const uint32_t recoveryCount = static_cast<uint32_t>(missing_.size()) + extraRecovery;
        ReedSolomonMatrix creation;
        EXPECT_TRUE(creation.SetInput(count));
        for (uint16_t e = 0; e < recoveryCount; ++e) EXPECT_TRUE(creation.AddOutput(false, e));
        EXPECT_TRUE(creation.Compute(nullptr));
        const auto& kernel = ReferenceMultiplyAccumulate();
        std::vector<uint8_t> recovery(size_t(recoveryCount) * slice, 0);
        FactorTable table;
        for (uint32_t r = 0; r < recoveryCount; ++r) {
            for (uint32_t k = 0; k < count; ++k) {
                kernel.prepare(*creation.Products(), creation.Coefficient(r, k), table);
                kernel.apply(table, blocks_[k].data(), recovery.data() + r * slice, slice);
            }
        }
        recovery_ = std::make_shared<DiskFile>(dir_.File("recovery"));
        test::WriteFile(recovery_->path, recovery);
        EXPECT_TRUE(sources_->open());
        EXPECT_TRUE(recovery_->open());
        target_ = std::make_shared<DiskFile>(dir_.File("target"));
        EXPECT_TRUE(target_->create());

        std::vector<bool> present(count, true);
        for (uint32_t k : missing_) present[k] = false;
        EXPECT_TRUE(matrix_.SetInput(present));
        for (uint16_t e = 0; e < missing_.size(); ++e) EXPECT_TRUE(matrix_.AddOutput(true, e));
        if (!missing_.empty()) EXPECT_TRUE(matrix_.Compute(nullptr));

        job_.sliceSize = slice;
        job_.matrix = &matrix_;
        job_.physicalMemoryBytes = uint64_t{1} << 32;
        for (uint32_t k : matrix_.PresentIndices()) {
            job_.inputs.push_back({sources_, k * slice, lengths_[k]});
            job_.copyTargets.push_back({target_, k * slice, lengths_[k]});
        }
        for (uint16_t e = 0; e < missing_.size(); ++e)
            job_.inputs.push_back({recovery_, e * slice, slice});
        for (uint32_t k : matrix_.MissingIndices())
            job_.outputs.push_back({target_, k * slice, lengths_[k]});
    }

    bool Run(RecordingReporter& reporter, bool& cancelled) {
        const bool ok = RunDataPass(job_, reporter, cancelled);
        target_->close();
        return ok;
    }

    // Block k as the target holds it (short when the file ends early).
    std::vector<uint8_t> TargetBlock(uint32_t k) const {
        const auto data = test::ReadFile(target_->path);
        const size_t begin = std::min<size_t>(data.size(), k * slice_);
        const size_t end = std::min<size_t>(data.size(), begin + lengths_[k]);
        return {data.begin() + begin, data.begin() + end};
    }
    std::vector<uint8_t> SourceBlock(uint32_t k) const {
        return {blocks_[k].begin(), blocks_[k].begin() + lengths_[k]};
    }
    bool TargetIsComplete() const {
        std::vector<uint8_t> all;
        for (uint32_t k = 0; k < count_; ++k) {
            auto b = SourceBlock(k);
            all.insert(all.end(), b.begin(), b.end());
        }
        return test::ReadFile(target_->path) == all;
    }

    // Leaves the matrix unsolved: the pass solves the sums of the blocks.
    void UseSteps() { EXPECT_TRUE(matrix_.ComputeSteps(nullptr)); }

    DataPassJob& job() { return job_; }
    const std::string& targetPath() const { return target_->path; }
    const std::string& sourcesPath() const { return sources_->path; }
    const std::string& recoveryPath() const { return recovery_->path; }

  private:
    TempDir dir_;
    uint32_t count_;
    uint64_t slice_;
    std::vector<uint32_t> missing_;
    std::vector<std::vector<uint8_t>> blocks_;
    std::vector<uint64_t> lengths_;
    DiskFileRef sources_, recovery_, target_;
    ReedSolomonMatrix matrix_;
    DataPassJob job_;
};

TEST(DataPassSizes, ChunkFollowsTheMemoryBudget) {
    // The whole slice when the outputs fit in a third of the memory.
    EXPECT_EQ(DataPassChunkSize(4000000, 10, 300000000), 4000000u);
    EXPECT_EQ(DataPassChunkSize(4000000, 0, 300000000), 4000000u);
    // 40 × 4000000 > 100000000: per = 2500000, two pieces of 2000000.
    EXPECT_EQ(DataPassChunkSize(4000000, 40, 300000000), 2000000u);
    // Pieces are rounded up to a multiple of 4.
    EXPECT_EQ(DataPassChunkSize(10004, 4, 36000), 2504u);
    // Without a usable budget the chunk still makes progress.
    EXPECT_EQ(DataPassChunkSize(1000, 100, 3), 4u);
    // A copy-only pass over a huge slice stays within the budget as well.
    EXPECT_EQ(DataPassChunkSize(uint64_t{1} << 40, 0, uint64_t{3} << 30), uint64_t{1} << 30);
    EXPECT_EQ(DataPassChunkSize(3000000, 0, 3000000), 1000000u);
}

TEST(DataPassSizes, RingHoldsAboutTenMegabytes) {
    EXPECT_EQ(DataPassRingSize(1048576, 1000), 9u);
    EXPECT_EQ(DataPassRingSize(4000000, 1000), 3u);  // never below 3 …
    EXPECT_EQ(DataPassRingSize(1000, 1000), 80u);    // … nor above 80
    EXPECT_EQ(DataPassRingSize(1048576, 2), 2u);     // nor more than the inputs
}

TEST(DataPassSizes, RingGrowsForBatchesWhenThereAreOutputs) {
    // Without outputs, or with few of them, the usual ring.
    EXPECT_EQ(DataPassBatchRingSize(1048576, 1000, 0), 9u);
    EXPECT_EQ(DataPassBatchRingSize(1048576, 1000, 20), 9u);
    // 100 outputs: a third of their number, 33; 300: 100, capped at 64
    // inputs a batch.
    EXPECT_EQ(DataPassBatchRingSize(1048576, 1000, 100), 33u);
    EXPECT_EQ(DataPassBatchRingSize(1048576, 1000, 300), 64u);
    EXPECT_EQ(DataPassBatchRingSize(1048576, 1000, 60), 20u);
    // Never more buffers than inputs, never fewer than the usual ring.
    EXPECT_EQ(DataPassBatchRingSize(1048576, 12, 100), 12u);
    EXPECT_EQ(DataPassBatchRingSize(1000, 1000, 100), 80u);
}

TEST(DataPass, RebuildsMissingBlocksAndCopiesPresentOnes) {
    for (uint32_t threads : {1u, 2u, 3u}) {
        Rebuild rebuild(12, 1 << 18, 10, {0, 5, 11});  // the last block is 10 bytes long
        rebuild.job().threads = threads;
        RecordingReporter reporter;
        bool cancelled = true;
        ASSERT_TRUE(rebuild.Run(reporter, cancelled)) << threads;
        EXPECT_FALSE(cancelled);
        EXPECT_TRUE(reporter.errors.empty());
        EXPECT_TRUE(rebuild.TargetIsComplete()) << threads;
        // Only the 10 bytes of the short block were written.
        EXPECT_EQ(test::ReadFile(rebuild.targetPath()).size(), 11u * (1 << 18) + 10);
    }
}

TEST(DataPass, ReportsActivitiesAndProgress) {
    Rebuild rebuild(6, 4096, 4096, {1, 2});
    RecordingReporter reporter;
    bool cancelled = false;
    ASSERT_TRUE(rebuild.Run(reporter, cancelled));
    const std::vector<std::pair<int32_t, uint32_t>> expected = {
        {kActivityMemoryTest, 0},
        {kActivityRecoveringData, kTextRecoveryData},
        {kActivityWritingData, kTextWritingRecoveredData}};
    EXPECT_EQ(reporter.activities, expected);
    // Ring: 6 inputs (4 present + 2 recovery) of one 4096-byte chunk each;
    // output area 2 × 4096; 32 passes of 4 per word.
    const uint64_t memoryTotal = (6 * 4096 + 2 * 4096) * 32;
    EXPECT_EQ(reporter.last[kActivityMemoryTest], std::make_pair(memoryTotal, memoryTotal));
    const uint64_t dataTotal = 6 * 2 * 4096;
    EXPECT_EQ(reporter.last[kActivityRecoveringData], std::make_pair(dataTotal, dataTotal));
    EXPECT_EQ(reporter.last[kActivityWritingData],
              std::make_pair(uint64_t{2 * 4096}, uint64_t{2 * 4096}));
}

TEST(DataPass, LargeSlicesAreDoneInChunksWithTheSameResult) {
    // 300000 bytes of memory: budget 100000 < 40 × 4000, per = 2500, two
    // chunks of 2000 bytes, every input read twice.
    std::vector<uint32_t> missing;
    for (uint32_t k = 0; k < 40; ++k) missing.push_back(2 * k);
    Rebuild rebuild(90, 4000, 4000, missing);
    rebuild.job().physicalMemoryBytes = 300000;
    RecordingReporter reporter;
    bool cancelled = false;
    ASSERT_TRUE(rebuild.Run(reporter, cancelled));
    EXPECT_EQ(reporter.Count(kActivityWritingData), 2);
    EXPECT_TRUE(reporter.errors.empty());
    EXPECT_TRUE(rebuild.TargetIsComplete());
    // Progress of the computing phase runs on across the chunks.
    const uint64_t total = 90u * 40 * 4000;
    EXPECT_EQ(reporter.last[kActivityRecoveringData], std::make_pair(total, total));
}

TEST(DataPass, ChunksThatDoNotDivideTheSlice) {
    for (uint32_t threads : {1u, 2u}) {
        // chunk 2504 for a 10004-byte slice: three full chunks and one of 2492;
        // the last block (5001 bytes) ends inside the second chunk.
        Rebuild rebuild(9, 10004, 5001, {2, 3, 7, 8});
        rebuild.job().physicalMemoryBytes = 36000;
        rebuild.job().threads = threads;
        RecordingReporter reporter;
        bool cancelled = false;
        ASSERT_TRUE(rebuild.Run(reporter, cancelled));
        EXPECT_EQ(reporter.Count(kActivityWritingData), 4);
        EXPECT_TRUE(rebuild.TargetIsComplete()) << threads;
    }
}

TEST(DataPass, ManyChunksSpreadOverThreads) {
    // Slices large enough for several threads, cut in uneven chunks.
    Rebuild rebuild(7, 1000004, 999, {0, 3, 6}, 0);
    rebuild.job().physicalMemoryBytes = 3 * 3 * 400000;  // per = 400000: three chunks
    rebuild.job().threads = 4;
    RecordingReporter reporter;
    bool cancelled = false;
    ASSERT_TRUE(rebuild.Run(reporter, cancelled));
    EXPECT_EQ(reporter.Count(kActivityWritingData), 3);
    EXPECT_TRUE(rebuild.TargetIsComplete());
    // The memory test, spread over the threads, still counts every word:
    // chunk 333336, ring of 7 (all inputs), output area 3 chunks.
    const uint64_t memoryTotal = (7 + 3) * uint64_t{333336} * 32;
    EXPECT_EQ(reporter.last[kActivityMemoryTest], std::make_pair(memoryTotal, memoryTotal));
}

TEST(DataPass, ManyOutputsWithAFullRing) {
    // 150 inputs of 4096 bytes: a ring of 80, and 60 outputs whose tables for
    // a whole ring exceed the room kept for them, so outputs go in groups.
    std::vector<uint32_t> missing;
    for (uint32_t k = 0; k < 60; ++k) missing.push_back(k * 2 + 1);
    Rebuild rebuild(150, 4096, 4096, missing);
    RecordingReporter reporter;
    bool cancelled = false;
    ASSERT_TRUE(rebuild.Run(reporter, cancelled));
    EXPECT_TRUE(reporter.errors.empty());
    EXPECT_TRUE(rebuild.TargetIsComplete());
}

// Whatever the reads run on (served at once, or really in flight so that
// batches are half a ring), the result is the same.
TEST(DataPass, EveryReadModeGivesTheSameResult) {
    const AsyncReadMode before = CurrentAsyncReadMode();
    for (AsyncReadMode mode : {AsyncReadMode::Sync, AsyncReadMode::Threads, AsyncReadMode::Uring}) {
        if (!SetAsyncReadMode(mode)) continue;
        Rebuild rebuild(30, 8192, 100, {0, 7, 8, 29});
        rebuild.job().physicalMemoryBytes = 3 * 4 * 4096;  // two chunks
        rebuild.job().threads = 2;
        RecordingReporter reporter;
        bool cancelled = false;
        EXPECT_TRUE(rebuild.Run(reporter, cancelled)) << AsyncReadModeName(mode);
        EXPECT_TRUE(reporter.errors.empty()) << AsyncReadModeName(mode);
        EXPECT_TRUE(rebuild.TargetIsComplete()) << AsyncReadModeName(mode);
    }
    SetAsyncReadMode(before);
}

TEST(DataPass, MostInputsTheFieldAllows) {
    // 32768 source blocks, two of them missing: the last bases of the field.
    Rebuild rebuild(32768, 64, 64, {0, 32767});
    RecordingReporter reporter;
    bool cancelled = false;
    ASSERT_TRUE(rebuild.Run(reporter, cancelled));
    EXPECT_TRUE(reporter.errors.empty());
    EXPECT_EQ(rebuild.TargetBlock(0), rebuild.SourceBlock(0));
    EXPECT_EQ(rebuild.TargetBlock(32767), rebuild.SourceBlock(32767));
    EXPECT_TRUE(rebuild.TargetIsComplete());
}

TEST(DataPass, CopyOnlyPassReadsOnlyBlocksWithACopyTarget) {
    Rebuild rebuild(5, 1000, 1000, {});
    // Input 2 has no copy target: its file would fail to read.
    Injector injector;
    auto other = std::make_shared<DiskFile>(rebuild.recoveryPath());
    ASSERT_TRUE(other->open());
    rebuild.job().inputs[2] = {other, 0, 1000};
    rebuild.job().copyTargets[2] = {};
    injector.failReadPath = rebuild.recoveryPath();
    ScopedInjector scoped(&injector);
    RecordingReporter reporter;
    bool cancelled = false;
    ASSERT_TRUE(rebuild.Run(reporter, cancelled));
    EXPECT_TRUE(reporter.errors.empty());
    for (uint32_t k : {0u, 1u, 3u, 4u}) EXPECT_EQ(rebuild.TargetBlock(k), rebuild.SourceBlock(k));
    EXPECT_EQ(rebuild.TargetBlock(2), std::vector<uint8_t>(1000, 0));
    EXPECT_EQ(reporter.Count(kActivityWritingData), 0);
}

class DamageMemory : public DataPassTestHooks {
  public:
    void AfterPatternWritten(uint8_t* area, size_t bytes) override {
        if (++calls == damageAtCall) area[bytes / 2] ^= 0x10;
    }
    void BeforeSignatureCheck(uint32_t output, uint64_t chunkOffset, uint8_t* data,
                              size_t length) override {
        if (output == damageOutput && chunkOffset == 0) data[length / 2] ^= 0x01;
    }
    int calls = 0;
    int damageAtCall = -1;
    uint32_t damageOutput = UINT32_MAX;
};

TEST(DataPass, MemoryTestDifferenceEndsThePassBeforeAnyData) {
    // Damage the first ring buffer during the fifth pattern.
    Rebuild rebuild(6, 4096, 4096, {1, 2});
    DamageMemory hooks;
    hooks.damageAtCall = 4 * 7 + 2;  // 7 buffers per pattern: area + 6 ring buffers
    rebuild.job().hooks = &hooks;
    RecordingReporter reporter;
    bool cancelled = false;
    EXPECT_FALSE(rebuild.Run(reporter, cancelled));
    EXPECT_FALSE(cancelled);
    ASSERT_EQ(reporter.errors.size(), 1u);
    EXPECT_EQ(reporter.errors[0].kind, kErrorMemory);
    EXPECT_EQ(reporter.Count(kActivityRecoveringData), 0);
    EXPECT_TRUE(test::ReadFile(rebuild.targetPath()).empty());
}

// Damages one byte near the end of the output area after the pattern of one
// pass has been written.
class DamageAreaEnd : public DataPassTestHooks {
  public:
    void AfterPatternWritten(uint8_t* area, size_t bytes) override {
        if (++calls == damageAtCall) area[bytes - 5] ^= 0x80;
    }
    int calls = 0;
    int damageAtCall = -1;
};

// The memory test walks a large area in groups of steps spread over the
// threads: a difference in a late step of a late group is still found, and
// progress stops just before that step.
TEST(DataPass, MemoryTestFindsADifferenceInTheLastStepOfALargeArea) {
    for (uint32_t threads : {1u, 2u}) {
        const uint64_t slice = uint64_t{8} << 20;
        Rebuild rebuild(5, slice, slice, {0, 1, 2});  // 3 outputs, a ring of 3
        rebuild.job().threads = threads;
        DamageAreaEnd hooks;
        const int pattern = 3;
        hooks.damageAtCall = 4 * pattern + 1;  // area + 3 ring buffers per pattern
        rebuild.job().hooks = &hooks;
        RecordingReporter reporter;
        bool cancelled = false;
        EXPECT_FALSE(rebuild.Run(reporter, cancelled));
        EXPECT_FALSE(cancelled);
        ASSERT_EQ(reporter.errors.size(), 1u);
        EXPECT_EQ(reporter.errors[0].kind, kErrorMemory);
        EXPECT_EQ(reporter.Count(kActivityRecoveringData), 0);
        // Each pass writes and then reads 6 slices (3 outputs, 3 buffers);
        // the check stops at the last of the area's 96 steps of 262144 bytes.
        const uint64_t pass = 6 * slice;
        EXPECT_EQ(reporter.last[kActivityMemoryTest],
                  std::make_pair((2 * pattern + 1) * pass + 95 * uint64_t{262144}, 32 * pass))
            << "threads " << threads;
    }
}

TEST(DataPass, CorruptedWordFailsOnlyItsOutput) {
    for (uint32_t threads : {1u, 2u}) {
        Rebuild rebuild(10, 1 << 17, 1 << 17, {2, 4, 6});
        DamageMemory hooks;
        hooks.damageOutput = 1;  // the rebuilt block 4
        rebuild.job().hooks = &hooks;
        rebuild.job().threads = threads;
        RecordingReporter reporter;
        bool cancelled = false;
        EXPECT_TRUE(rebuild.Run(reporter, cancelled));
        ASSERT_EQ(reporter.errors.size(), 1u);
        EXPECT_EQ(reporter.errors[0].kind, kErrorSignatureMismatch);
        EXPECT_EQ(rebuild.TargetBlock(2), rebuild.SourceBlock(2));
        EXPECT_EQ(rebuild.TargetBlock(6), rebuild.SourceBlock(6));
        EXPECT_NE(rebuild.TargetBlock(4), rebuild.SourceBlock(4));
        EXPECT_EQ(rebuild.TargetBlock(4), std::vector<uint8_t>(1 << 17, 0));  // never written
    }
}

// Small blocks and many outputs: the threads share the outputs rather than
// the bytes of a chunk; every output is still rebuilt and checked on its own,
// also when the matrix is left unsolved and the pass solves the sums.
TEST(DataPass, SmallBlocksShareTheOutputsBetweenThreads) {
    std::vector<uint32_t> missing;
    for (uint32_t i = 3; i < 200; i += 2) missing.push_back(i);  // 99 outputs of 2 KiB
    for (bool unsolved : {false, true}) {
        for (uint32_t threads : {1u, 2u}) {
            Rebuild rebuild(200, 2048, 1000, missing);
            if (unsolved) rebuild.UseSteps();
            DamageMemory hooks;
            hooks.damageOutput = 7;  // the rebuilt block 17
            rebuild.job().hooks = &hooks;
            rebuild.job().threads = threads;
            RecordingReporter reporter;
            bool cancelled = false;
            EXPECT_TRUE(rebuild.Run(reporter, cancelled));
            ASSERT_EQ(reporter.errors.size(), 1u) << threads;
            EXPECT_EQ(reporter.errors[0].kind, kErrorSignatureMismatch);
            for (uint32_t i : missing) {
                if (i == 17) continue;
                EXPECT_EQ(rebuild.TargetBlock(i), rebuild.SourceBlock(i))
                    << i << " threads " << threads << " unsolved " << unsolved;
            }
            EXPECT_NE(rebuild.TargetBlock(17), rebuild.SourceBlock(17));
        }
    }
}

// The unsolved matrix rebuilds the same blocks as the solved one: small
// blocks shared between threads, a short last block, rows solved in several
// chunks, and slices wide enough for each thread to take a byte range.
TEST(DataPass, SolvingTheSumsRebuildsWhatTheSolvedMatrixRebuilds) {
    std::vector<uint32_t> many;
    for (uint32_t i = 3; i < 200; i += 2) many.push_back(i);
    struct Case {
        uint32_t count;
        uint64_t slice, last;
        std::vector<uint32_t> missing;
        uint64_t memory;
    };
    const Case cases[] = {{200, 2048, 1000, many, uint64_t{1} << 32},
                          {200, 2048, 2048, many, 3 * 99 * 700},  // chunks of 684 bytes
                          {9, 20000, 20000, {0, 4, 8}, uint64_t{1} << 32},
                          {5, 1026, 3, {1, 4}, uint64_t{1} << 32}};
    for (const Case& c : cases) {
        for (uint32_t threads : {1u, 2u}) {
            Rebuild rebuild(c.count, c.slice, c.last, c.missing);
            rebuild.UseSteps();
            rebuild.job().threads = threads;
            rebuild.job().physicalMemoryBytes = c.memory;
            RecordingReporter reporter;
            bool cancelled = false;
            ASSERT_TRUE(rebuild.Run(reporter, cancelled));
            EXPECT_TRUE(reporter.errors.empty()) << c.slice << " threads " << threads;
            EXPECT_TRUE(rebuild.TargetIsComplete()) << c.slice << " threads " << threads;
        }
    }
}

TEST(DataPass, FailedOutputIsSkippedInLaterChunks) {
    // Output 0 fails its check in the first chunk; the second chunk is still
    // computed and written for the others. With the matrix left unsolved,
    // every row takes part in solving the others, so the failed row must
    // still be computed in the second chunk for block 5 to come out whole.
    for (bool unsolved : {false, true}) {
        Rebuild rebuild(8, 4000, 4000, {1, 5});
        if (unsolved) rebuild.UseSteps();
        rebuild.job().physicalMemoryBytes = 3 * 2 * 2000;  // two chunks
        DamageMemory hooks;
        hooks.damageOutput = 0;
        rebuild.job().hooks = &hooks;
        RecordingReporter reporter;
        bool cancelled = false;
        EXPECT_TRUE(rebuild.Run(reporter, cancelled));
        ASSERT_EQ(reporter.errors.size(), 1u);
        EXPECT_EQ(reporter.Count(kActivityWritingData), 2);
        EXPECT_EQ(rebuild.TargetBlock(5), rebuild.SourceBlock(5)) << unsolved;
        EXPECT_EQ(rebuild.TargetBlock(1), std::vector<uint8_t>(4000, 0));
    }
}

TEST(DataPass, ReadFailureEndsThePassWithItsFile) {
    Rebuild rebuild(6, 4096, 4096, {0});
    Injector injector;
    injector.failReadPath = rebuild.recoveryPath();
    ScopedInjector scoped(&injector);
    RecordingReporter reporter;
    bool cancelled = false;
    EXPECT_FALSE(rebuild.Run(reporter, cancelled));
    EXPECT_FALSE(cancelled);
    ASSERT_EQ(reporter.errors.size(), 1u);
    EXPECT_EQ(reporter.errors[0].kind, kErrorRead);
    EXPECT_EQ(reporter.errors[0].code, uint32_t{EIO});
    EXPECT_EQ(reporter.errors[0].path, rebuild.recoveryPath());
    EXPECT_EQ(reporter.Count(kActivityWritingData), 0);
}

TEST(DataPass, ReadOfATruncatedInputFails) {
    Rebuild rebuild(4, 4096, 4096, {3});
    // Input 2 claims a full slice where the file has only 100 bytes left.
    rebuild.job().inputs[2].offset = 4 * 4096 - 100;
    RecordingReporter reporter;
    bool cancelled = false;
    EXPECT_FALSE(rebuild.Run(reporter, cancelled));
    ASSERT_EQ(reporter.errors.size(), 1u);
    EXPECT_EQ(reporter.errors[0].kind, kErrorRead);
    EXPECT_EQ(reporter.errors[0].path, rebuild.sourcesPath());
}

TEST(DataPass, WriteFailureOfAnOutputFailsOnlyThatOutput) {
    Rebuild rebuild(6, 4096, 4096, {1, 4});
    Injector injector;
    injector.failWritePath = rebuild.targetPath();
    injector.failWriteFrom = 4 * 4096;  // block 4 only
    injector.failWriteTo = 5 * 4096;
    ScopedInjector scoped(&injector);
    RecordingReporter reporter;
    bool cancelled = false;
    EXPECT_TRUE(rebuild.Run(reporter, cancelled));
    ASSERT_EQ(reporter.errors.size(), 1u);
    EXPECT_EQ(reporter.errors[0].kind, kErrorWrite);
    EXPECT_EQ(reporter.errors[0].code, uint32_t{ENOSPC});
    EXPECT_EQ(reporter.errors[0].path, rebuild.targetPath());
    EXPECT_EQ(rebuild.TargetBlock(1), rebuild.SourceBlock(1));
    EXPECT_EQ(rebuild.TargetBlock(5), rebuild.SourceBlock(5));
}

// Runs the pass of six blocks, the fifth missing, with the copy of block 0
// failing its write: that is the one error recorded.
bool RunWithFailedCopy(FailedOutput failedOutput, Rebuild& rebuild) {
    rebuild.job().failedOutput = failedOutput;
    Injector injector;
    injector.failWritePath = rebuild.targetPath();
    injector.failWriteFrom = 0;
    injector.failWriteTo = 4096;
    ScopedInjector scoped(&injector);
    RecordingReporter reporter;
    bool cancelled = false;
    const bool ok = rebuild.Run(reporter, cancelled);
    EXPECT_FALSE(cancelled);
    EXPECT_EQ(reporter.errors.size(), 1u);
    if (!reporter.errors.empty()) {
        EXPECT_EQ(reporter.errors[0].kind, kErrorWrite);
        EXPECT_EQ(reporter.errors[0].path, rebuild.targetPath());
    }
    return ok;
}

TEST(DataPass, WriteFailureOfACopyIsRecordedAndThePassGoesOn) {
    Rebuild rebuild(6, 4096, 4096, {4});
    EXPECT_TRUE(RunWithFailedCopy(FailedOutput::Skip, rebuild));
    for (uint32_t k = 1; k < 6; ++k) EXPECT_EQ(rebuild.TargetBlock(k), rebuild.SourceBlock(k));
}

TEST(DataPass, StopFlagEndsThePassAsCancelled) {
    for (int32_t during : {kActivityMemoryTest, kActivityRecoveringData}) {
        for (uint32_t threads : {1u, 2u}) {
            Rebuild rebuild(8, 1 << 18, 1 << 18, {1, 2});
            rebuild.job().threads = threads;
            RecordingReporter reporter;
            reporter.onProgress = [&](int32_t activity, uint64_t position, uint64_t) {
                if (activity == during && position > 0) reporter.stop = 1;
            };
            bool cancelled = false;
            EXPECT_FALSE(rebuild.Run(reporter, cancelled));
            EXPECT_TRUE(cancelled);
            ASSERT_EQ(reporter.errors.size(), 1u);
            EXPECT_EQ(reporter.errors[0].kind, kErrorCancelled);
            EXPECT_EQ(reporter.Count(kActivityWritingData), 0);
        }
    }
}

// The stop flag set while a batch is being multiplied (here by the copy of
// its first block) is seen after the next output, before anything is written.
class StopOnWrite : public FileFaultInjector {
  public:
    explicit StopOnWrite(std::atomic<uint32_t>& stop) : stop_(stop) {}
    int BeforeWrite(const DiskFile&, uint64_t, size_t) override {
        stop_ = 1;
        return 0;
    }

  private:
    std::atomic<uint32_t>& stop_;
};

TEST(DataPass, StopFlagIsSeenInsideTheArithmetic) {
    for (uint32_t threads : {1u, 2u}) {
        Rebuild rebuild(8, 1 << 18, 1 << 18, {3, 4});
        rebuild.job().threads = threads;
        RecordingReporter reporter;
        StopOnWrite injector(reporter.stop);
        ScopedInjector scoped(&injector);
        bool cancelled = false;
        EXPECT_FALSE(rebuild.Run(reporter, cancelled));
        EXPECT_TRUE(cancelled);
        ASSERT_EQ(reporter.errors.size(), 1u);
        EXPECT_EQ(reporter.errors[0].kind, kErrorCancelled);
        // No progress was counted for the interrupted batch.
        EXPECT_EQ(reporter.last[kActivityRecoveringData].first, 0u);
        EXPECT_EQ(reporter.Count(kActivityWritingData), 0);
    }
}

TEST(DataPass, InconsistentJobIsRefused) {
    Rebuild rebuild(4, 4096, 4096, {1});
    rebuild.job().inputs.pop_back();  // one column short
    RecordingReporter reporter;
    bool cancelled = false;
    EXPECT_FALSE(rebuild.Run(reporter, cancelled));
    ASSERT_EQ(reporter.errors.size(), 1u);
    EXPECT_EQ(reporter.errors[0].kind, kErrorDataPassFailed);
}

// Every input present and recovery blocks as outputs, in the way a creation
// runs the pass: the inputs are taken in a shuffled order, and a visitor
// records what the pass shows it.
class Creation : public DataPassVisitor {
  public:
    struct Visit {
        size_t first, count;
        uint64_t offset;
        size_t length;
    };

    Creation(uint32_t count, uint64_t slice, uint64_t lastLength, uint32_t recoveryCount,
             uint32_t threads = 0)
        : slice_(slice) {
        std::mt19937_64 rng(test::TestSeed());
        sources_ = std::make_shared<DiskFile>(dir_.File("sources"));
        std::vector<uint8_t> all;
        for (uint32_t k = 0; k < count; ++k) {
            const uint64_t length = k + 1 == count ? lastLength : slice;
            auto block = test::RandomBytes(rng, length);
            all.insert(all.end(), block.begin(), block.end());
            block.resize(slice, 0);
            blocks_.push_back(block);
            lengths_.push_back(length);
        }
        test::WriteFile(sources_->path, all);
        EXPECT_TRUE(sources_->open());
        recovery_ = std::make_shared<DiskFile>(dir_.File("recovery"));
        EXPECT_TRUE(recovery_->create());

        // Inputs in a shuffled order; exponents 5, 6, then a gap and a run
        // of consecutive ones.
        for (uint32_t k = 0; k < count; ++k) order_.push_back(k);
        std::shuffle(order_.begin(), order_.end(), rng);
        EXPECT_TRUE(products_.SetInput(count));
        for (uint32_t j = 0; j < recoveryCount; ++j)
            code_.exponents.push_back(static_cast<uint16_t>(j < 2 ? 5 + j : 20 + j));
        code_.products = products_.Products();
        for (uint32_t k : order_) {
            job_.inputs.push_back({sources_, k * slice, lengths_[k]});
            code_.inputIndices.push_back(k);
        }
        for (uint32_t j = 0; j < recoveryCount; ++j)
            job_.outputs.push_back({recovery_, j * slice, slice});
        job_.sliceSize = slice;
        job_.code = recoveryCount > 0 ? &code_ : nullptr;
        job_.physicalMemoryBytes = uint64_t{1} << 32;
        job_.threads = threads;
        job_.visitor = this;
    }

    void VisitInputs(size_t first, const uint8_t* const* data, size_t count, uint64_t offset,
                     size_t length, WorkerTeam& team) override {
        visits.push_back({first, count, offset, length});
        teamSize = team.Size();
        for (size_t i = 0; i < count; ++i) {
            const std::vector<uint8_t>& block = blocks_[order_[first + i]];
            if (!std::equal(data[i], data[i] + length, block.begin() + offset)) ++wrongInputs;
        }
    }
    void VisitOutput(uint32_t output, uint64_t offset, const uint8_t* data,
                     size_t length) override {
        outputVisits.emplace_back(output, offset);
        const std::vector<uint8_t> expected = Expected(output);
        if (!std::equal(data, data + length, expected.begin() + offset)) ++wrongOutputs;
    }

    // Recovery block j as the creation rows of the matrix give it.
    std::vector<uint8_t> Expected(uint32_t j) const {
        const auto& kernel = ReferenceMultiplyAccumulate();
        std::vector<uint8_t> out(slice_, 0);
        FactorTable table;
        for (uint32_t k = 0; k < blocks_.size(); ++k) {
            kernel.prepare(*products_.Products(),
                           Gf16Power(Gf16InputBase(k), code_.exponents[j]), table);
            kernel.apply(table, blocks_[k].data(), out.data(), slice_);
        }
        return out;
    }
    bool RecoveryIsRight() const {
        const auto data = test::ReadFile(recovery_->path);
        for (uint32_t j = 0; j < job_.outputs.size(); ++j) {
            const std::vector<uint8_t> expected = Expected(j);
            if (data.size() < (j + 1) * slice_ ||
                !std::equal(expected.begin(), expected.end(), data.begin() + j * slice_))
                return false;
        }
        return true;
    }
    // Every input seen exactly once per chunk, in input order, chunk after
    // chunk, with the chunks covering the slice.
    void ExpectEveryInputOncePerChunk() const {
        uint64_t offset = 0;
        size_t next = 0;
        for (const Visit& v : visits) {
            if (next == job_.inputs.size()) {
                offset += visits[&v - visits.data() - 1].length;
                next = 0;
            }
            EXPECT_EQ(v.offset, offset);
            EXPECT_EQ(v.first, next);
            next += v.count;
        }
        EXPECT_EQ(next, job_.inputs.size());
        EXPECT_EQ(offset + visits.back().length, slice_);
    }

    // Runs the pass, which must succeed, and checks what the visitor saw.
    void RunAndCheck(RecordingReporter& reporter) {
        bool cancelled = false;
        ASSERT_TRUE(RunDataPass(job_, reporter, cancelled));
        EXPECT_TRUE(reporter.errors.empty());
        ExpectEveryInputOncePerChunk();
        EXPECT_EQ(wrongInputs, 0);
        EXPECT_EQ(wrongOutputs, 0);
    }

    DataPassJob& job() { return job_; }

    std::vector<Visit> visits;
    std::vector<std::pair<uint32_t, uint64_t>> outputVisits;
    int wrongInputs = 0;
    int wrongOutputs = 0;
    unsigned teamSize = 0;

  private:
    TempDir dir_;
    uint64_t slice_;
    std::vector<std::vector<uint8_t>> blocks_;
    std::vector<uint64_t> lengths_;
    std::vector<uint32_t> order_;
    DiskFileRef sources_, recovery_;
    ReedSolomonMatrix products_;
    RecoveryCode code_;
    DataPassJob job_;
};

TEST(DataPassCreation, VisitorSeesEveryInputOncePerChunkInOrder) {
    for (uint32_t threads : {1u, 2u, 4u}) {
        SCOPED_TRACE(threads);
        // Long slices for byte ranges per thread, cut into three chunks.
        Creation creation(11, 400004, 1234, 3, threads);
        creation.job().physicalMemoryBytes = 3 * 3 * 140000;
        RecordingReporter reporter;
        creation.RunAndCheck(reporter);
        EXPECT_EQ(reporter.Count(kActivityWritingData), 3);
        EXPECT_EQ(creation.teamSize, threads);
        // Each output once per chunk, in order.
        ASSERT_EQ(creation.outputVisits.size(), 9u);
        for (size_t n = 0; n < 9; ++n) EXPECT_EQ(creation.outputVisits[n].first, n % 3);
        EXPECT_TRUE(creation.RecoveryIsRight());
    }
}

TEST(DataPassCreation, SmallBlocksAndManyOutputs) {
    // Blocks too short to split: the threads share the outputs.
    Creation creation(90, 2048, 100, 40, 3);
    RecordingReporter reporter;
    creation.RunAndCheck(reporter);
    EXPECT_TRUE(creation.RecoveryIsRight());
}

TEST(DataPassCreation, WithoutOutputsTheVisitorStillSeesEveryInput) {
    Creation creation(7, 5000, 3, 0, 2);
    RecordingReporter reporter;
    creation.RunAndCheck(reporter);
    EXPECT_EQ(creation.teamSize, 2u);
    EXPECT_TRUE(creation.outputVisits.empty());
}

class DamageOutput : public DataPassTestHooks {
  public:
    void BeforeSignatureCheck(uint32_t output, uint64_t, uint8_t* data, size_t length) override {
        if (output == 1) data[length / 3] ^= 0x08;
    }
};

TEST(DataPassCreation, DamagedRecoveryBlockEndsThePass) {
    Creation creation(6, 8192, 8192, 3);
    DamageOutput hooks;
    creation.job().hooks = &hooks;
    creation.job().failedOutput = FailedOutput::EndPass;
    RecordingReporter reporter;
    bool cancelled = false;
    EXPECT_FALSE(RunDataPass(creation.job(), reporter, cancelled));
    ASSERT_EQ(reporter.errors.size(), 1u);
    EXPECT_EQ(reporter.errors[0].kind, kErrorSignatureMismatch);
    // Output 0 passed and was shown; the damaged one was not.
    ASSERT_EQ(creation.outputVisits.size(), 1u);
    EXPECT_EQ(creation.outputVisits[0].first, 0u);
}

// A visitor that goes on reading what it was shown, like a hashing thread
// that lags behind: it lets go of a buffer only on every third question
// unless the pass waits for it, and checks that nothing it still holds has
// changed.
class HoldingCreation : public Creation {
  public:
    using Creation::Creation;

    void VisitInputs(size_t first, const uint8_t* const* data, size_t count, uint64_t offset,
                     size_t length, WorkerTeam& team) override {
        CheckHeld();
        Creation::VisitInputs(first, data, count, offset, length, team);
        for (size_t i = 0; i < count; ++i) {
            if (held_.count(data[i])) ++reusedWhileHeld;
            held_[data[i]].assign(data[i], data[i] + length);
        }
        mostHeld = std::max(mostHeld, held_.size());
    }
    bool Released(const uint8_t* data, bool wait) override {
        auto it = held_.find(data);
        if (it == held_.end()) return true;
        if (!std::equal(it->second.begin(), it->second.end(), data)) ++changedWhileHeld;
        if (!wait && ++asked_ % 3 != 0) return false;
        held_.erase(it);
        return true;
    }
    void CheckHeld() {
        for (const auto& [data, seen] : held_)
            if (!std::equal(seen.begin(), seen.end(), data)) ++changedWhileHeld;
    }
    size_t Held() const { return held_.size(); }

    int changedWhileHeld = 0;
    int reusedWhileHeld = 0;
    size_t mostHeld = 0;

  private:
    std::map<const uint8_t*, std::vector<uint8_t>> held_;
    unsigned asked_ = 0;
};

TEST(DataPassCreation, InputsAVisitorHoldsStayAsReadUntilReleased) {
    struct Case {
        uint32_t count;
        uint64_t slice, last;
        uint32_t outputs, threads, batch;
        uint64_t memory;  // 0: one chunk
    };
    // Lengths off the working layout's 128 bytes, one and several chunks,
    // batches that do and do not divide the inputs, with and without the
    // shared coefficient tables.
    for (const Case& c : {Case{13, 20000, 777, 3, 1, 4, 0}, Case{13, 20000, 777, 3, 2, 4, 0},
                          Case{10, 400004, 1234, 3, 2, 3, 3 * 3 * 140000},
                          Case{40, 2050, 100, 20, 2, 8, 0}, Case{9, 65536, 65536, 0, 2, 4, 0}}) {
        SCOPED_TRACE(testing::Message() << c.count << " inputs of " << c.slice << ", "
                                        << c.threads << " threads, batch " << c.batch);
        HoldingCreation creation(c.count, c.slice, c.last, c.outputs, c.threads);
        creation.job().visitorHolds = true;
        creation.job().visitorBatch = c.batch;
        if (c.memory != 0) creation.job().physicalMemoryBytes = c.memory;
        RecordingReporter reporter;
        creation.RunAndCheck(reporter);
        if (c.outputs > 0) {
            EXPECT_TRUE(creation.RecoveryIsRight());
        }
        for (const auto& v : creation.visits) EXPECT_LE(v.count, c.batch);
        EXPECT_EQ(creation.changedWhileHeld, 0);
        EXPECT_EQ(creation.reusedWhileHeld, 0);
        EXPECT_EQ(creation.Held(), 0u);  // every buffer let go before it was freed
        EXPECT_GT(creation.mostHeld, size_t{c.batch});  // the next batch came while one was held
    }
}

TEST(DataPassCreation, CodeAndMatrixTogetherAreRefused) {
    Creation creation(4, 4096, 4096, 2);
    ReedSolomonMatrix matrix;
    ASSERT_TRUE(matrix.SetInput(4));
    ASSERT_TRUE(matrix.AddOutput(false, 0));
    ASSERT_TRUE(matrix.AddOutput(false, 1));
    ASSERT_TRUE(matrix.Compute(nullptr));
    creation.job().matrix = &matrix;
    RecordingReporter reporter;
    bool cancelled = false;
    EXPECT_FALSE(RunDataPass(creation.job(), reporter, cancelled));
    ASSERT_EQ(reporter.errors.size(), 1u);
    EXPECT_EQ(reporter.errors[0].kind, kErrorDataPassFailed);
}

TEST(DataPass, WithEndPassAFailedCopyEndsThePass) {
    Rebuild rebuild(6, 4096, 4096, {4});
    EXPECT_FALSE(RunWithFailedCopy(FailedOutput::EndPass, rebuild));
    // Nothing after the failed copy was written: no rebuilt block.
    EXPECT_NE(rebuild.TargetBlock(4), rebuild.SourceBlock(4));
}

}  // namespace
}  // namespace vantrove
