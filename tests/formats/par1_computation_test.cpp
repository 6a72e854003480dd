// The GF(2^8) rebuild of whole files: results equal to the builder's own
// arithmetic, the same bytes in several chunks, and each way the pass fails.

#include "formats/par1_computation.h"

#include <gtest/gtest.h>

#include <random>

#include "par1_builder.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

using test::Bytes;
using test::Par1Build;
using test::TempDir;

std::string Named(const char* stem, uint64_t n) {
    std::string name = stem;
    name += std::to_string(n);
    return name;
}

class RecordingReporter : public DataPassReporter {
  public:
    void SetActivity(int32_t activity, uint32_t) override { activities.push_back(activity); }
    void SetProgress(uint64_t position, uint64_t total) override {
        lastPosition = position;
        lastTotal = total;
    }
    void RecordError(int32_t kind, uint32_t code, const std::string& path) override {
        errorKind = kind;
        errorCode = code;
        errorPath = path;
    }
    const std::atomic<uint32_t>* StopFlag() const override { return &stop; }

    std::vector<int32_t> activities;
    uint64_t lastPosition = 0, lastTotal = 0;
    int32_t errorKind = 0;
    uint32_t errorCode = 0;
    std::string errorPath;
    std::atomic<uint32_t> stop{0};
};

// Four files of different sizes, files 1 and 2 missing, rebuilt from the
// recovery blocks of exponents 0 and 1.
class Par1ComputationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::mt19937_64 rng(test::TestSeed());
        const std::vector<size_t> sizes = Sizes();
        for (int i = 0; i < 4; ++i) {
            build_.files.push_back({Named("f", i), test::RandomBytes(rng, sizes[i])});
        }
        blockSize_ = sizes[0];
        for (int i : {0, 3}) Open(i, build_.files[i].data);
        for (uint32_t e : {0u, 1u}) {
            recovery_.push_back(std::make_shared<DiskFile>());
            const std::string path = dir_.File(Named("r", e));
            test::WriteFile(path, test::Par1RecoveryBlock(build_, e));
            ASSERT_TRUE(recovery_.back()->open(path));
        }
        for (int i : {1, 2}) {
            auto target = std::make_shared<DiskFile>();
            ASSERT_TRUE(target->create(dir_.File(Named("out", i))));
            targets_.push_back(target);
        }
        ASSERT_TRUE(matrix_.SetInput(std::vector<bool>{true, false, false, true}));
        ASSERT_TRUE(matrix_.AddOutput(true, 0));
        ASSERT_TRUE(matrix_.AddOutput(true, 1));
        ASSERT_TRUE(matrix_.Compute(nullptr));
    }

    virtual std::vector<size_t> Sizes() const { return {5000, 4093, 777, 1}; }

    void Open(int i, const Bytes& data) {
        const std::string path = dir_.File(Named("in", i));
        test::WriteFile(path, data);
        auto file = std::make_shared<DiskFile>();
        ASSERT_TRUE(file->open(path));
        present_.push_back(file);
    }

    Par1ComputationJob Job(uint64_t memory = 1ull << 30) {
        Par1ComputationJob job;
        for (const DiskFileRef& f : present_) job.inputs.push_back({f, 0, f->size});
        for (const DiskFileRef& f : recovery_) job.inputs.push_back({f, 0, blockSize_});
        job.outputs.push_back({targets_[0], 0, build_.files[1].data.size()});
        job.outputs.push_back({targets_[1], 0, build_.files[2].data.size()});
        job.blockSize = blockSize_;
        job.matrix = &matrix_;
        job.physicalMemoryBytes = memory;
        return job;
    }

    void ExpectRebuilt() {
        for (DiskFileRef& t : targets_) t->close();
        EXPECT_EQ(test::ReadFile(dir_.File("out1")), build_.files[1].data);
        EXPECT_EQ(test::ReadFile(dir_.File("out2")), build_.files[2].data);
    }

    TempDir dir_;
    Par1Build build_;
    uint64_t blockSize_ = 0;
    std::vector<DiskFileRef> present_, recovery_, targets_;
    ReedSolomonMatrix8 matrix_;
    RecordingReporter reporter_;
};

TEST_F(Par1ComputationTest, MissingFilesAreRebuiltExactly) {
    bool cancelled = true;
    ASSERT_TRUE(RunPar1Computation(Job(), reporter_, cancelled));
    EXPECT_FALSE(cancelled);
    EXPECT_EQ(reporter_.errorKind, 0);
    ExpectRebuilt();
    // The last progress is that of writing the two rebuilt files.
    EXPECT_EQ(reporter_.lastTotal, 2u * blockSize_);
    EXPECT_EQ(reporter_.lastPosition, reporter_.lastTotal);
    EXPECT_EQ(reporter_.activities.front(), kActivityMemoryTest);
}

TEST_F(Par1ComputationTest, SeveralChunksGiveTheSameBytes) {
    // A third of 3000 bytes for two outputs: chunks of at most 500 bytes.
    EXPECT_EQ(DataPassChunkSize(5000, 2, 3000), 500u);
    EXPECT_EQ(DataPassChunkSize(5000, 2, 3u << 20), 5000u);
    EXPECT_EQ(DataPassChunkSize(4001, 1, 3000), 804u);  // 5 pieces of 801, rounded up to 4
    bool cancelled = false;
    ASSERT_TRUE(RunPar1Computation(Job(3000), reporter_, cancelled));
    int passes = 0;
    for (int32_t a : reporter_.activities) passes += a == kActivityRecoveringData;
    EXPECT_EQ(passes, 10);
    ExpectRebuilt();
}

// Files large enough that every helper thread takes a byte range of its own.
class Par1ComputationLargeTest : public Par1ComputationTest {
  protected:
    std::vector<size_t> Sizes() const override { return {400000, 300001, 77777, 1}; }
};

TEST_F(Par1ComputationLargeTest, ThreadsGiveTheSameBytesInOneChunkOrMany) {
    for (uint32_t threads : {1u, 2u, 3u}) {
        for (uint64_t memory : {uint64_t{1} << 30, uint64_t{600000}}) {
            Par1ComputationJob job = Job(memory);
            job.threads = threads;
            bool cancelled = true;
            ASSERT_TRUE(RunPar1Computation(job, reporter_, cancelled)) << threads << " " << memory;
            EXPECT_FALSE(cancelled);
            EXPECT_EQ(reporter_.errorKind, 0);
            for (DiskFileRef& t : targets_) t->close();
            EXPECT_EQ(test::ReadFile(dir_.File("out1")), build_.files[1].data) << threads;
            EXPECT_EQ(test::ReadFile(dir_.File("out2")), build_.files[2].data) << threads;
            for (DiskFileRef& t : targets_) ASSERT_TRUE(t->create(t->path));
        }
    }
}

class DamageHooks : public DataPassTestHooks {
  public:
    bool damagePattern = false;
    bool damageOutput = false;
    void AfterPatternWritten(uint8_t* area, size_t bytes) override {
        if (damagePattern && bytes > 10) area[bytes / 2] ^= 0x10;
    }
    void BeforeSignatureCheck(uint32_t output, uint64_t, uint8_t* data, size_t length) override {
        if (damageOutput && output == 1 && length > 0) data[0] ^= 1;
    }
};

TEST_F(Par1ComputationTest, MemoryTestDifferenceIsKindFive) {
    DamageHooks hooks;
    hooks.damagePattern = true;
    Par1ComputationJob job = Job();
    job.hooks = &hooks;
    bool cancelled = false;
    EXPECT_FALSE(RunPar1Computation(job, reporter_, cancelled));
    EXPECT_EQ(reporter_.errorKind, kErrorMemory);
    for (DiskFileRef& t : targets_) EXPECT_EQ(t->size, 0u);
}

TEST_F(Par1ComputationTest, ChecksumMismatchIsKindEightAndStopsTheWrites) {
    DamageHooks hooks;
    hooks.damageOutput = true;
    Par1ComputationJob job = Job();
    job.hooks = &hooks;
    bool cancelled = false;
    EXPECT_FALSE(RunPar1Computation(job, reporter_, cancelled));
    EXPECT_EQ(reporter_.errorKind, kErrorSignatureMismatch);
    EXPECT_EQ(reporter_.errorCode, 0u);
    EXPECT_EQ(targets_[1]->size, 0u);
}

TEST_F(Par1ComputationTest, ReadFailureIsKindSixWithThePath) {
    present_[1]->close();
    bool cancelled = false;
    EXPECT_FALSE(RunPar1Computation(Job(), reporter_, cancelled));
    EXPECT_EQ(reporter_.errorKind, kErrorRead);
    EXPECT_EQ(reporter_.errorPath, dir_.File("in3"));
}

TEST_F(Par1ComputationTest, WriteFailureIsKindSeven) {
    targets_[0]->close();
    bool cancelled = false;
    EXPECT_FALSE(RunPar1Computation(Job(), reporter_, cancelled));
    EXPECT_EQ(reporter_.errorKind, kErrorWrite);
    EXPECT_EQ(reporter_.errorPath, dir_.File("out1"));
}

TEST_F(Par1ComputationTest, StopFlagCancelsWithoutWriting) {
    reporter_.stop = 1;
    bool cancelled = false;
    EXPECT_FALSE(RunPar1Computation(Job(), reporter_, cancelled));
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(reporter_.errorKind, 0);
    for (DiskFileRef& t : targets_) EXPECT_EQ(t->size, 0u);
}

TEST_F(Par1ComputationTest, InconsistentJobIsRefused) {
    Par1ComputationJob job = Job();
    job.inputs.pop_back();
    bool cancelled = false;
    EXPECT_FALSE(RunPar1Computation(job, reporter_, cancelled));
    EXPECT_EQ(reporter_.errorKind, kErrorDataPassFailed);
}

}  // namespace
}  // namespace vantrove
