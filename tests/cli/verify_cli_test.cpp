// `vantrove-cli verify` against sets made by the `par2` command: intact,
// damaged, truncated, missing and misnamed files, damaged volumes, and bad
// arguments; exit codes and the JSON report. Skipped where `par2` is not
// installed.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/verification_cache.h"
#include "par2/par2_recovery_set.h"
#include "support/shell.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

using Bytes = std::vector<uint8_t>;

bool HavePeer() { return test::HaveCommand("par2"); }

using Outcome = test::ShellOutcome;

Outcome Shell(const std::string& command) { return test::RunShell(command); }

std::string Quote(const std::string& s) { return test::ShellQuote(s); }

Outcome Cli(const std::string& args) {
    return Shell(std::string(VANTROVE_CLI_PATH) + " " + args);
}

// The JSON object of one data file, as the report writes it.
std::string FileJson(const std::string& name, size_t size, const std::string& state) {
    return "{\"name\":\"" + name + "\",\"size\":" + std::to_string(size) + ",\"state\":\"" + state +
           "\"}";
}

class VerifyCli : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!HavePeer()) GTEST_SKIP() << "par2 is not installed";
        folder_ = dir_.path() + "/";
        std::mt19937_64 rng(test::TestSeed());
        a_ = test::RandomBytes(rng, 300000);
        b_ = test::RandomBytes(rng, 100000);
        c_ = test::RandomBytes(rng, 63);
        test::WriteFile(folder_ + "a.bin", a_);
        test::WriteFile(folder_ + "b.dat", b_);
        test::WriteFile(folder_ + "c.txt", c_);
        Outcome made =
            Shell("cd " + Quote(folder_) +
                  " && par2 c -q -q -s16384 -r10 set.par2 a.bin b.dat c.txt >/dev/null 2>&1");
        ASSERT_EQ(made.exitCode, 0);
        ASSERT_TRUE(test::FileExists(folder_ + "set.par2"));
    }

    Outcome VerifyJson(const std::string& volume = "set.par2") {
        return Cli("verify " + Quote(folder_ + volume) + " --json");
    }

    // 19 + 7 + 1 blocks of 16384 bytes.
    static constexpr int kTotalBlocks = 27;

    test::TempDir dir_;
    std::string folder_;
    Bytes a_, b_, c_;
};

TEST_F(VerifyCli, IntactSetIsAllVerified) {
    Outcome run = VerifyJson();
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_NE(run.out.find("\"format\":\"PAR2\",\"state\":6,\"subState\":0,\"totalBlocks\":27,"
                           "\"dataBlocksAvailable\":27,"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find(FileJson("a.bin", a_.size(), "complete")), std::string::npos);
    EXPECT_NE(run.out.find(FileJson("b.dat", b_.size(), "complete")), std::string::npos);
    EXPECT_NE(run.out.find(FileJson("c.txt", 63, "complete")), std::string::npos);
    EXPECT_NE(run.out.find("\"error\":0"), std::string::npos);
    EXPECT_EQ(run.out.back(), '\n');
    EXPECT_EQ(run.out.find('\n'), run.out.size() - 1) << "one JSON object on one line";
}

TEST_F(VerifyCli, TextReportHasALinePerFileAndAStatusLine) {
    Outcome run = Cli("verify " + Quote(folder_ + "set.par2"));
    EXPECT_EQ(run.exitCode, 0);
    int lines = 0;
    for (char c : run.out) lines += c == '\n';
    // Index volume, recovery volumes, three data files, the status line.
    int volumes = 0;
    for (size_t p = run.out.find(".par2"); p != std::string::npos;
         p = run.out.find(".par2", p + 1)) {
        ++volumes;
    }
    EXPECT_GE(volumes, 2);
    EXPECT_EQ(lines, volumes + 3 + 1) << run.out;
    EXPECT_NE(run.out.find("a.bin"), std::string::npos);
}

TEST_F(VerifyCli, CorruptedByteMakesTheFileDamagedAndRepairPossible) {
    a_[123456] ^= 0x20;
    test::WriteFile(folder_ + "a.bin", a_);
    Outcome run = VerifyJson();
    EXPECT_EQ(run.exitCode, 1) << run.out;
    EXPECT_NE(
        run.out.find("\"state\":4,\"subState\":1,\"totalBlocks\":27,\"dataBlocksAvailable\":26"),
        std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find(FileJson("a.bin", a_.size(), "damaged")), std::string::npos);
}

TEST_F(VerifyCli, TruncatedFileIsDamaged) {
    Bytes cut(a_.begin(), a_.begin() + 200000);
    test::WriteFile(folder_ + "a.bin", cut);
    Outcome run = VerifyJson();
    EXPECT_EQ(run.exitCode, 2) << run.out;  // 7 blocks lost, 3 recovery blocks
    EXPECT_NE(run.out.find(FileJson("a.bin", a_.size(), "damaged")), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"dataBlocksAvailable\":" + std::to_string(kTotalBlocks - 7)),
              std::string::npos)
        << run.out;
}

TEST_F(VerifyCli, MissingFileBeyondTheRecoveryDataMakesRepairImpossible) {
    ASSERT_EQ(unlink((folder_ + "b.dat").c_str()), 0);
    Outcome run = VerifyJson();
    EXPECT_EQ(run.exitCode, 2) << run.out;
    EXPECT_NE(run.out.find("\"state\":2"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(FileJson("b.dat", b_.size(), "missing")), std::string::npos);
}

TEST_F(VerifyCli, RenamedFileIsMisnamed) {
    ASSERT_EQ(rename((folder_ + "c.txt").c_str(), (folder_ + "other.name").c_str()), 0);
    Outcome run = VerifyJson();
    EXPECT_EQ(run.exitCode, 1) << run.out;
    EXPECT_NE(run.out.find("\"state\":4,\"subState\":3"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(FileJson("c.txt", 63, "misnamed")), std::string::npos);
}

TEST_F(VerifyCli, AnyVolumeOpensTheSetAndADamagedIndexIsNoObstacle) {
    Bytes garbage(4000, 0xAB);
    test::WriteFile(folder_ + "set.par2", garbage);
    Outcome run;
    for (const char* candidate : {"set.vol00+01.par2", "set.vol0+1.par2", "set.vol01+02.par2"}) {
        if (test::FileExists(folder_ + candidate)) {
            run = VerifyJson(candidate);
            break;
        }
    }
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_NE(run.out.find("\"state\":6"), std::string::npos) << run.out;
}

TEST_F(VerifyCli, HostileVolumesGiveAnAnswerNotACrash) {
    ASSERT_EQ(system(("cd " + Quote(folder_) + " && rm -f set.vol*").c_str()), 0);
    // The index volume cut in the middle of its packets.
    Bytes index = test::ReadFile(folder_ + "set.par2");
    index.resize(index.size() / 2);
    test::WriteFile(folder_ + "set.par2", index);
    Outcome run = VerifyJson();
    EXPECT_EQ(run.exitCode, 2) << run.out;
    EXPECT_NE(run.out.find("\"state\":1"), std::string::npos) << run.out;

    std::mt19937_64 rng(test::TestSeed());
    test::WriteFile(folder_ + "noise.par2", test::RandomBytes(rng, 1 << 20));
    run = VerifyJson("noise.par2");
    EXPECT_EQ(run.exitCode, 2) << run.out;
}

TEST_F(VerifyCli, BadArgumentsAndUnknownFilesAreErrors) {
    EXPECT_EQ(Cli("").exitCode, 3);
    EXPECT_EQ(Cli("verify").exitCode, 3);
    EXPECT_EQ(Cli("frobnicate x.par2").exitCode, 3);
    EXPECT_EQ(Cli("verify " + Quote(folder_ + "set.par2") + " --bogus").exitCode, 3);
    EXPECT_EQ(Cli("verify " + Quote(folder_ + "nothing.par2")).exitCode, 3);
    EXPECT_EQ(Cli("verify " + Quote(folder_ + "a.bin")).exitCode, 3);
    EXPECT_EQ(Cli("verify " + Quote(dir_.path())).exitCode, 3);
}

TEST_F(VerifyCli, SecondRunOnUnchangedFilesHashesNothing) {
    ASSERT_EQ(VerifyJson().exitCode, 0);

    // The same engine in this process, with the cache the program used.
    class Counter : public FileFaultInjector {
      public:
        int BeforeRead(const DiskFile& file, uint64_t, size_t length) override {
            if (file.path.find(".par2") == std::string::npos &&
                file.path.find("/Vantrove/") == std::string::npos) {
                bytes += length;
            }
            return 0;
        }
        uint64_t bytes = 0;
    } counter;
    SetFileFaultInjector(&counter);
    std::unique_ptr<RecoverySet> set = NewPar2Set(nullptr, nullptr);
    std::unique_ptr<RecoverySet> replacement = set->Open(folder_ + "set.par2");
    SetFileFaultInjector(nullptr);
    ASSERT_NE(replacement, nullptr) << "the saved state of the first run was not used";
    SetFileFaultInjector(&counter);
    replacement->Scan();
    replacement->FinishActivity();
    SetFileFaultInjector(nullptr);
    EXPECT_EQ(counter.bytes, 0u);
    EXPECT_EQ(replacement->status().state, RecoveryState::AllVerified);

    // And the program's own second run reports the same.
    Outcome again = VerifyJson();
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_NE(again.out.find("\"state\":6"), std::string::npos);
}

}  // namespace
}  // namespace vantrove
