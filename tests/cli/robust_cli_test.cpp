// `vantrove-cli` against bad luck and hostile folders: a FIFO named as the
// set or planted under a data file's name, a second job in the same folder,
// a creation over another set of the same name. Skipped where `par2` is not
// installed (it makes the sets).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>

#include "core/folder_lock.h"
#include "support/shell.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

using test::FileExists;
using test::ReadFile;
using test::WriteFile;
using Outcome = test::ShellOutcome;

constexpr size_t kBlock = 16384;

std::string Quote(const std::string& s) {
    return test::ShellQuote(s);
}

// `timeout` only keeps a hanging program from hanging the test run: the
// checks never depend on it.
Outcome Cli(const std::string& arguments) {
    return test::RunShell("timeout 300 " + std::string(VANTROVE_CLI_PATH) + " " + arguments +
                          " 2>&1");
}

class RobustCli : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!test::HaveCommand("par2")) GTEST_SKIP() << "par2 is not installed";
        folder_ = dir_.path() + "/";
        std::mt19937_64 rng(test::TestSeed());
        a_ = test::RandomBytes(rng, 9 * kBlock - 100);
        b_ = test::RandomBytes(rng, 5 * kBlock + 7);
        WriteFile(folder_ + "a.bin", a_);
        WriteFile(folder_ + "b.bin", b_);
        ASSERT_EQ(test::RunShell("cd " + Quote(folder_) + " && par2 c -q -q -s" +
                                 std::to_string(kBlock) + " -c8 set.par2 a.bin b.bin >/dev/null")
                      .exitCode,
                  0);
    }
    std::string Path(const std::string& name) const { return folder_ + name; }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(folder_))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    test::TempDir dir_;
    std::string folder_;
    std::vector<uint8_t> a_, b_;
};

TEST_F(RobustCli, FifoNamedAsTheSetIsRefusedAtOnce) {
    ASSERT_EQ(mkfifo(Path("pipe.par2").c_str(), 0600), 0);
    for (const char* command : {"verify", "repair"}) {
        Outcome run = Cli(std::string(command) + " " + Quote(Path("pipe.par2")));
        EXPECT_EQ(run.exitCode, 3) << command << ": " << run.out;
        EXPECT_NE(run.out.find("not a regular file"), std::string::npos) << run.out;
    }
}

// A FIFO under a data file's name holds none of its data: the repair puts
// it aside like any damaged file and rebuilds the file.
TEST_F(RobustCli, FifoUnderADataFileNameIsADamagedFileThatIsRepaired) {
    ASSERT_EQ(unlink(Path("b.bin").c_str()), 0);
    ASSERT_EQ(mkfifo(Path("b.bin").c_str(), 0600), 0);
    Outcome verify = Cli("verify " + Quote(Path("set.par2")));
    EXPECT_EQ(verify.exitCode, 1) << verify.out;
    EXPECT_EQ(verify.out.find("The scan is incomplete."), std::string::npos) << verify.out;
    Outcome run = Cli("repair --keep-damaged " + Quote(Path("set.par2")));
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_EQ(ReadFile(Path("b.bin")), b_);
    EXPECT_EQ(ReadFile(Path("a.bin")), a_);
    struct stat st {};
    ASSERT_EQ(lstat(Path("b.bin.1").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// While a job works in the folder, a second one says at once that the set
// is busy (exit 3) and changes nothing; with --wait it runs once the first
// is done.
TEST_F(RobustCli, SecondJobInTheFolderIsBusyOrWaits) {
    ASSERT_EQ(unlink(Path("a.bin").c_str()), 0);
    const std::vector<std::string> before = Names();
    FolderLock held;
    ASSERT_EQ(held.Acquire(folder_, false), FolderLock::Outcome::Locked);
    Outcome busy = Cli("repair " + Quote(Path("set.par2")));
    EXPECT_EQ(busy.exitCode, 3) << busy.out;
    EXPECT_NE(busy.out.find("busy"), std::string::npos) << busy.out;
    EXPECT_EQ(Names(), before);
    WriteFile(Path("c.bin"), a_);
    Outcome create = Cli("create -c 2 -o " + Quote(Path("other")) + " " + Quote(Path("c.bin")));
    EXPECT_EQ(create.exitCode, 3) << create.out;
    EXPECT_NE(create.out.find("busy"), std::string::npos) << create.out;
    EXPECT_FALSE(FileExists(Path("other.par2")));

    // Two waiting repairs and the holder letting go: one repairs, the other
    // then finds nothing to do, and nothing is left over.
    Outcome first, second;
    std::thread one([&] { first = Cli("repair --wait " + Quote(Path("set.par2"))); });
    std::thread two([&] { second = Cli("repair --wait " + Quote(Path("set.par2"))); });
    held.Release();
    one.join();
    two.join();
    EXPECT_EQ(first.exitCode, 0) << first.out;
    EXPECT_EQ(second.exitCode, 0) << second.out;
    EXPECT_EQ(ReadFile(Path("a.bin")), a_);
    for (const std::string& name : Names()) {
        EXPECT_EQ(name.find(".bin."), std::string::npos) << name;
        EXPECT_EQ(name.find("vantrove"), std::string::npos) << name;
    }
}

// `create -o DIR/set` where DIR already holds another set named "set":
// refused with the file named, nothing touched; --force replaces it.
TEST_F(RobustCli, CreateOverAnotherSetOfTheSameNameNeedsForce) {
    WriteFile(Path("c.bin"), a_);
    const std::vector<uint8_t> index = ReadFile(Path("set.par2"));
    Outcome run = Cli("create -c 2 -o " + Quote(Path("set")) + " " + Quote(Path("c.bin")));
    EXPECT_EQ(run.exitCode, 3) << run.out;
    EXPECT_NE(run.out.find(Path("set.par2") + " already exists"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("--force"), std::string::npos) << run.out;
    EXPECT_EQ(ReadFile(Path("set.par2")), index);
    EXPECT_EQ(
        test::RunShell("cd " + Quote(folder_) + " && par2 v -q -q set.par2 >/dev/null").exitCode,
        0);

    // Only the set's own recovery files count: another base name is free.
    run = Cli("create -c 2 -o " + Quote(Path("se")) + " " + Quote(Path("c.bin")));
    EXPECT_EQ(run.exitCode, 0) << run.out;

    run = Cli("create --force -c 2 -o " + Quote(Path("set")) + " " + Quote(Path("c.bin")));
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_NE(ReadFile(Path("set.par2")), index);
}

}  // namespace
}  // namespace vantrove
