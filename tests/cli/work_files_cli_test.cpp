// Work files on the command line: files that only look like work files are
// the user's (never deleted, and verified and repaired like any other file
// of a set), and a folder held by a running job is reported as such.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "core/folder_lock.h"
#include "support/shell.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using test::ReadFile;
using test::WriteFile;

std::string Quote(const std::string& s) {
    return test::ShellQuote(s);
}

test::ShellOutcome Cli(const std::string& folder, const std::string& arguments) {
    return test::RunShell("cd " + Quote(folder) + " && " + VANTROVE_CLI_PATH + " " + arguments +
                          " 2>&1");
}

std::set<std::string> Names(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename());
    return names;
}

class WorkFilesCli : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = dir_.path() + "/";
        std::mt19937_64 rng(test::TestSeed());
        a_ = test::RandomBytes(rng, 20000);
        WriteFile(folder_ + "a.bin", a_);
    }

    test::TempDir dir_;
    std::string folder_;
    Bytes a_;
};

// A creation in a folder with user files named like work files, one of them
// the very work name of an output, leaves them as they were.
TEST_F(WorkFilesCli, CreateLeavesLookalikeFilesAsTheyWere) {
    const std::string notes = "my notes, not a work file";
    WriteFile(folder_ + ".notes.txt.vantrove-part", notes);
    WriteFile(folder_ + ".set.par2.vantrove-part", std::string("taken"));
    const test::ShellOutcome made = Cli(folder_, "create -s 4096 -c 3 -o set a.bin");
    ASSERT_EQ(made.exitCode, 0) << made.out;
    EXPECT_EQ(ReadFile(folder_ + ".notes.txt.vantrove-part"), Bytes(notes.begin(), notes.end()));
    EXPECT_EQ(ReadFile(folder_ + ".set.par2.vantrove-part"), Bytes({'t', 'a', 'k', 'e', 'n'}));
    EXPECT_EQ(Cli(folder_, "verify set.par2").exitCode, 0);
    // Nothing hidden of ours is left: no work file, no journal.
    for (const std::string& name : Names(folder_)) {
        EXPECT_TRUE(name[0] != '.' || name == ".notes.txt.vantrove-part" ||
                    name == ".set.par2.vantrove-part")
            << name;
    }
}

// A data file named like a work file is a file of the set: both repair forms
// see it damaged or missing and rebuild it; with damaged copies kept,
// nothing is deleted.
TEST_F(WorkFilesCli, RepairRebuildsADataFileNamedLikeAWorkFile) {
    if (!test::HaveCommand("par2")) GTEST_SKIP() << "par2 is not installed";
    const std::string keep = ".keep.bin.vantrove-part";
    std::mt19937_64 rng(test::TestSeed() + 1);
    const Bytes whole = test::RandomBytes(rng, 30000);
    WriteFile(folder_ + keep, whole);
    ASSERT_EQ(test::RunShell("cd " + Quote(folder_) + " && par2 c -q -q -s4096 -c12 set.par2 a.bin " +
                             Quote(keep) + " >/dev/null")
                  .exitCode,
              0);
    Bytes damaged = whole;
    damaged[5000] ^= 0x5a;
    for (const char* form : {"repair --keep-damaged set.par2", "par2 r set.par2"}) {
        for (const bool missing : {false, true}) {
            SCOPED_TRACE(std::string(form) + (missing ? ", missing" : ", damaged"));
            if (missing) {
                fs::remove(folder_ + keep);
            } else {
                WriteFile(folder_ + keep, damaged);
            }
            const std::set<std::string> before = Names(folder_);
            const test::ShellOutcome repaired = Cli(folder_, form);
            EXPECT_EQ(repaired.exitCode, 0) << repaired.out;
            EXPECT_EQ(ReadFile(folder_ + keep), whole);
            EXPECT_EQ(ReadFile(folder_ + "a.bin"), a_);
            // Every file that was there still is, and the damaged copy
            // stepped aside under a name of its own, holding what it held.
            std::set<std::string> after = Names(folder_);
            for (const std::string& name : before) EXPECT_EQ(after.count(name), 1u) << name;
            if (!missing) {
                bool kept = false;
                for (const std::string& name : after)
                    if (!before.count(name)) kept = kept || ReadFile(folder_ + name) == damaged;
                EXPECT_TRUE(kept);
            }
            for (const std::string& name : after)
                if (!before.count(name) && name != keep) fs::remove(folder_ + name);
        }
    }
}

// While another job holds the folder, verify (both forms) says that a job
// is working there instead of calling its work files leftovers.
TEST_F(WorkFilesCli, VerifyDuringARunningJobSaysSo) {
    ASSERT_EQ(Cli(folder_, "create -s 4096 -c 3 -o set a.bin").exitCode, 0);
    WriteFile(folder_ + ".b.bin.vantrove-part", std::string("being written"));
    FolderLock job;
    ASSERT_EQ(job.Acquire(folder_, false), FolderLock::Outcome::Locked);
    test::ShellOutcome verified = Cli(folder_, "verify set.par2");
    EXPECT_EQ(verified.exitCode, 0) << verified.out;
    EXPECT_NE(verified.out.find("another repair or creation is working in this folder"),
              std::string::npos)
        << verified.out;
    EXPECT_EQ(verified.out.find("leftover"), std::string::npos) << verified.out;
    verified = Cli(folder_, "par2 v set.par2");
    EXPECT_EQ(verified.exitCode, 0) << verified.out;
    EXPECT_NE(verified.out.find("Another repair or creation is working in this folder"),
              std::string::npos)
        << verified.out;

    job.Release();
    verified = Cli(folder_, "verify set.par2");
    EXPECT_EQ(verified.exitCode, 0) << verified.out;
    EXPECT_EQ(verified.out.find("is working"), std::string::npos) << verified.out;
}

}  // namespace
}  // namespace vantrove
