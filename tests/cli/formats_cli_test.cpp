// `vantrove-cli verify` and `vantrove-cli repair` on PAR 1.0 sets made by
// parchive and on SFV and MD5 lists made by cksfv and md5sum: the format
// chosen from the name, the exit codes and the JSON report. Each test is skipped when its peer
// command is not installed.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "support/shell.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

using Bytes = std::vector<uint8_t>;

bool Have(const std::string& command) { return test::HaveCommand(command); }

using Outcome = test::ShellOutcome;

Outcome Shell(const std::string& command) { return test::RunShell(command); }

std::string Quote(const std::string& s) { return test::ShellQuote(s); }

class FormatsCli : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = dir_.path() + "/";
        std::mt19937_64 rng(test::TestSeed());
        a_ = test::RandomBytes(rng, 30000);
        b_ = test::RandomBytes(rng, 4000);
        test::WriteFile(folder_ + "a.bin", a_);
        test::WriteFile(folder_ + "b.bin", b_);
    }
    Outcome Verify(const std::string& file) {
        return Shell(std::string(VANTROVE_CLI_PATH) + " verify " + Quote(folder_ + file) +
                     " --json");
    }
    Outcome Repair(const std::string& file) {
        return Shell(std::string(VANTROVE_CLI_PATH) + " repair " + Quote(folder_ + file) +
                     " --json --no-trash");
    }
    Outcome InFolder(const std::string& command) {
        return Shell("cd " + Quote(folder_) + " && " + command + " 2>/dev/null");
    }

    test::TempDir dir_;
    std::string folder_;
    Bytes a_, b_;
};

TEST_F(FormatsCli, Par1SetFromAnyOfItsFiles) {
    if (!Have("parchive")) GTEST_SKIP() << "parchive is not installed";
    ASSERT_EQ(InFolder("parchive a -n2 set.par a.bin b.bin > /dev/null").exitCode, 0);
    for (const char* file : {"set.par", "set.p01", "set.p02"}) {
        Outcome run = Verify(file);
        EXPECT_EQ(run.exitCode, 0) << file << run.out;
        EXPECT_NE(run.out.find("\"format\":\"PAR1\",\"state\":6"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("\"recoveryBlocksAvailable\":2"), std::string::npos) << run.out;
    }
    std::remove((folder_ + "b.bin").c_str());
    Outcome run = Verify("set.par");
    EXPECT_EQ(run.exitCode, 1) << run.out;
    EXPECT_NE(run.out.find("{\"name\":\"b.bin\",\"size\":4000,\"state\":\"missing\"}"),
              std::string::npos)
        << run.out;
}

TEST_F(FormatsCli, SfvListFromCksfv) {
    if (!Have("cksfv")) GTEST_SKIP() << "cksfv is not installed";
    ASSERT_EQ(InFolder("cksfv a.bin b.bin > list.sfv").exitCode, 0);
    Outcome run = Verify("list.sfv");
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_NE(run.out.find("\"format\":\"SFV\",\"state\":6"), std::string::npos) << run.out;

    // A damaged file with no recovery data: repair is impossible.
    Bytes damaged = a_;
    damaged[5] ^= 1;
    test::WriteFile(folder_ + "a.bin", damaged);
    run = Verify("list.sfv");
    EXPECT_EQ(run.exitCode, 2) << run.out;
    EXPECT_NE(run.out.find("{\"name\":\"a.bin\",\"size\":0,\"state\":\"damaged\"}"),
              std::string::npos)
        << run.out;
}

TEST_F(FormatsCli, Md5ListWithAMisnamedFile) {
    if (!Have("md5sum")) GTEST_SKIP() << "md5sum is not installed";
    ASSERT_EQ(InFolder("md5sum --tag a.bin b.bin > list.md5").exitCode, 0);
    ASSERT_EQ(std::rename((folder_ + "b.bin").c_str(), (folder_ + "b.bin.1").c_str()), 0);
    Outcome run = Verify("list.md5");
    EXPECT_EQ(run.exitCode, 1) << run.out;
    EXPECT_NE(run.out.find("\"format\":\"MD5\",\"state\":4,\"subState\":3"), std::string::npos)
        << run.out;
}

TEST_F(FormatsCli, RepairRebuildsAPar1SetMadeByParchive) {
    if (!Have("parchive")) GTEST_SKIP() << "parchive is not installed";
    ASSERT_EQ(InFolder("parchive a -n2 set.par a.bin b.bin > /dev/null").exitCode, 0);
    std::remove((folder_ + "a.bin").c_str());
    Bytes damaged = b_;
    damaged[100] ^= 4;
    test::WriteFile(folder_ + "b.bin", damaged);
    Outcome run = Repair("set.p01");
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_NE(run.out.find("\"format\":\"PAR1\",\"state\":5"), std::string::npos) << run.out;
    EXPECT_EQ(test::ReadFile(folder_ + "a.bin"), a_);
    EXPECT_EQ(test::ReadFile(folder_ + "b.bin"), b_);

    // Two files missing and only one volume: not enough data.
    std::remove((folder_ + "a.bin").c_str());
    std::remove((folder_ + "b.bin").c_str());
    std::remove((folder_ + "set.p02").c_str());
    run = Repair("set.par");
    EXPECT_EQ(run.exitCode, 2) << run.out;
    EXPECT_FALSE(test::FileExists(folder_ + "a.bin"));
}

TEST_F(FormatsCli, RepairRenamesFilesOfChecksumLists) {
    if (!Have("cksfv") || !Have("md5sum")) GTEST_SKIP() << "cksfv or md5sum is not installed";
    ASSERT_EQ(InFolder("cksfv a.bin b.bin > list.sfv").exitCode, 0);
    ASSERT_EQ(InFolder("md5sum a.bin b.bin > list.md5").exitCode, 0);
    for (const char* list : {"list.sfv", "list.md5"}) {
        ASSERT_EQ(std::rename((folder_ + "a.bin").c_str(), (folder_ + "a.bin.1").c_str()), 0);
        Outcome run = Repair(list);
        EXPECT_EQ(run.exitCode, 0) << list << run.out;
        EXPECT_NE(run.out.find("\"state\":5"), std::string::npos) << run.out;
        EXPECT_EQ(test::ReadFile(folder_ + "a.bin"), a_) << list;
        EXPECT_FALSE(test::FileExists(folder_ + "a.bin.1"));
    }
}

TEST_F(FormatsCli, UnrecognisedNamesAreRefused) {
    test::WriteFile(folder_ + "set.p7", Bytes(10, 0));
    Outcome run = Verify("set.p7");
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_EQ(run.out, "");
}

}  // namespace
}  // namespace vantrove
