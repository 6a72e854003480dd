#include "app/creation_worker.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/worker_test_support.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

struct CreationFixture {
    test::TempDir dir;
    std::mt19937_64 rng{test::TestSeed()};
    CreationStatusSlot slot;

    CreationParameters Parameters(int files, size_t size, uint64_t blockSize, uint64_t recovery) {
        CreationSettings settings;
        settings.restrictBlockSize = false;
        CreationParameters parameters(settings);
        std::vector<CreationSourceFile> sources;
        for (const std::string& path : test::WriteDataFiles(dir.path(), files, size, rng))
            sources.push_back({path, size});
        parameters.AddFiles(sources);
        parameters.setBlockSize(blockSize);
        parameters.setRecoveryBlockCount(recovery);
        parameters.baseName = "set";
        parameters.destinationPath = dir.path() + "/";
        return parameters;
    }
};

TEST(CreationWorker, RunsTheJobToItsEnd) {
    CreationFixture f;
    CreationParameters parameters = f.Parameters(2, 20000, 1024, 8);
    CreationWorker worker(parameters, f.slot);
    ASSERT_TRUE(worker.Start());
    EXPECT_EQ(worker.Wait(), 0);
    EXPECT_TRUE(worker.finished());
    EXPECT_EQ(f.slot.Snapshot().phase, kPhaseFinished);
    const std::vector<std::string> outputs = worker.outputPaths();
    ASSERT_FALSE(outputs.empty());
    for (const std::string& path : outputs) EXPECT_TRUE(test::FileExists(path)) << path;
    EXPECT_EQ(worker.Stop(), 0);  // already ended: the same exit code
}

TEST(CreationWorker, StopEndsTheJobAndRemovesWhatItWrote) {
    CreationFixture f;
    // Large enough that the job is still running when it is stopped.
    CreationParameters parameters = f.Parameters(4, 6000000, 4096, 3000);
    CreationWorker worker(parameters, f.slot);
    ASSERT_TRUE(worker.Start());
    EXPECT_FALSE(worker.finished());
    EXPECT_EQ(worker.Stop(), 1);
    EXPECT_TRUE(worker.finished());
    EXPECT_TRUE(test::FilesEndingIn(f.dir.path(), ".par2").empty());
    EXPECT_TRUE(test::FilesEndingIn(f.dir.path(), ".PAR2").empty());
    EXPECT_TRUE(test::FilesEndingIn(f.dir.path(), ".bad").empty());
}

TEST(CreationWorker, FailureGivesExitCodeOne) {
    CreationFixture f;
    CreationParameters parameters = f.Parameters(1, 5000, 1024, 2);
    std::filesystem::remove(parameters.files()[0].path);  // vanished before the job
    CreationWorker worker(parameters, f.slot);
    ASSERT_TRUE(worker.Start());
    EXPECT_EQ(worker.Wait(), 1);
    EXPECT_EQ(f.slot.Snapshot().phase, kPhaseFailed);
}

}  // namespace
}  // namespace vantrove
