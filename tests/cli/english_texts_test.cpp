#include "cli/english_texts.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "create/creation_status.h"
#include "support/shell.h"
#include "support/test_env.h"

namespace vantrove::cli {
namespace {

TEST(EnglishTexts, DurationsAndSpeeds) {
    EXPECT_EQ(EnglishDuration(0), "0 seconds");
    EXPECT_EQ(EnglishDuration(1), "1 second");
    EXPECT_EQ(EnglishDuration(125), "2 minutes, 5 seconds");
    EXPECT_EQ(EnglishDuration(3600 + 60), "1 hour, 1 minute");
    EXPECT_EQ(EnglishSpeed(134.2), "134 MB/s");
    EXPECT_EQ(EnglishSpeed(2.5), "2.5 MB/s");
    EXPECT_EQ(EnglishSpeed(0.5), "512 KB/s");
    EXPECT_EQ(EnglishSpeed(-1), "0 KB/s");
}

// A job's speed is its bytes over its time: 5 GiB in 40 s is 128 MiB/s.
TEST(EnglishTexts, JobSpeedIsBytesOverTime) {
    EXPECT_DOUBLE_EQ(JobSpeed(5ull << 30, 40000), 128.0);
    EXPECT_EQ(EnglishSpeed(JobSpeed(5ull << 30, 40000)), "128 MB/s");
    EXPECT_GT(JobSpeed(1 << 20, 0), 0);  // no division by zero
}

TEST(EnglishTexts, FailuresAndPhases) {
    EXPECT_EQ(EnglishCreationFailure(1), "Creation failed: no source files");
    EXPECT_EQ(EnglishCreationFailure(17), "Creation failed: the source data did not verify");
    EXPECT_EQ(EnglishCreationFailure(99), "Creation failed");
    EXPECT_EQ(EnglishCreationPhase(kPhaseWriting), "Writing recovery data");
    EXPECT_EQ(EnglishRepairError(ErrorKind::Open, ENOENT, "/d/a.bin"),
              std::string("Cannot open \"a.bin\": ") + std::strerror(ENOENT));
    EXPECT_EQ(EnglishRepairError(ErrorKind::None, 0, ""), "");
    EXPECT_EQ(EnglishRepairError(ErrorKind::Cancelled, 0, ""),
              "stopped: the repair was interrupted; the files it did not finish are as they were");
    EXPECT_EQ(EnglishRepairError(ErrorKind::Busy, 0, "/d/"),
              "the set is busy: another repair or creation is working in its folder");
}

// What `create` prints at its end: English, with the job's time and speed.
TEST(EnglishTexts, CreateEndsWithAnEnglishLine) {
    test::TempDir dir;
    test::WriteFile(dir.File("a.bin"), std::string(200000, 'x'));
    const test::ShellOutcome run = test::RunShell(
        std::string(VANTROVE_CLI_PATH) + " create -r10 -o " + test::ShellQuote(dir.File("s")) +
        " " + test::ShellQuote(dir.File("a.bin")) + " 2>&1");
    ASSERT_EQ(run.exitCode, 0) << run.out;
    EXPECT_EQ(run.out.rfind("Created successfully in ", 0), 0u) << run.out;
    EXPECT_NE(run.out.find(" second"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("0 seconds"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("secondi"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("Completato"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("@ 0 KB/s"), std::string::npos) << run.out;
}

}  // namespace
}  // namespace vantrove::cli
