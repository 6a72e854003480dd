// Programs that call `par2` themselves: duplicity's par2 backend, dar's
// slice hooks and bup's fsck, each run with the installed `par2` (the
// control) and with vantrove-cli under the name `par2` first on PATH. Each
// makes its recovery data, finds a damaged file, repairs it and must end
// with its own verdict clean and the data byte for byte. A program that is
// not installed skips its test.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "support/shell.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

using Bytes = std::vector<uint8_t>;
using test::FileExists;
using test::ReadFile;
using test::ShellQuote;
using test::WriteFile;

constexpr char kDarConfig[] = "/usr/share/doc/dar/examples/dar_par.dcf";

// The `par2` under test: the installed one (false) or ours (true).
class CallersCli : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        if (!test::HaveCommand("par2")) GTEST_SKIP() << "par2 is not installed";
        root_ = dir_.path() + "/";
        for (const char* sub : {"bin", "home", "cache", "config", "data", "src"})
            ASSERT_EQ(mkdir((root_ + sub).c_str(), 0700), 0);
        std::string par2 = GetParam() ? std::string(VANTROVE_CLI_PATH) : PeerPar2();
        ASSERT_FALSE(par2.empty());
        ASSERT_EQ(symlink(par2.c_str(), (root_ + "bin/par2").c_str()), 0);

        std::mt19937_64 rng(test::TestSeed());
        a_ = test::RandomBytes(rng, 6000);
        std::string text;
        for (int i = 0; i < 400; ++i) text += "line " + std::to_string(i) + "\n";
        b_.assign(text.begin(), text.end());
        WriteFile(root_ + "src/a.bin", a_);
        WriteFile(root_ + "src/b.txt", b_);
    }

    static std::string PeerPar2() {
        std::string path = test::RunShell("command -v par2").out;
        while (!path.empty() && (path.back() == '\n' || path.back() == '\r')) path.pop_back();
        return path;
    }

    // Runs `command` in the test's folder with its `par2` first on PATH and
    // HOME and XDG there; the output (both streams) goes into `out`.
    test::ShellOutcome Run(const std::string& command) {
        const std::string q = ShellQuote(root_);
        return test::RunShell("cd " + q + " && HOME=" + q + "home XDG_CACHE_HOME=" + q +
                              "cache XDG_CONFIG_HOME=" + q + "config XDG_DATA_HOME=" + q +
                              "data PATH=" + q + "bin:\"$PATH\" " + command + " 2>&1");
    }

    // Turns 16 bytes at `offset` of `path` into others.
    static void Damage(const std::string& path, uint64_t offset) {
        Bytes data = ReadFile(path);
        ASSERT_GT(data.size(), offset + 16) << path;
        for (uint64_t i = offset; i < offset + 16; ++i) data[i] ^= 0xA5;
        WriteFile(path, data);
    }

    // The one file in `folder` whose name ends in `suffix`.
    std::string OneFile(const std::string& folder, const std::string& suffix) {
        test::ShellOutcome o = test::RunShell("cd " + ShellQuote(root_ + folder) +
                                              " && ls -1 | grep -e " +
                                              ShellQuote(suffix + "$"));
        std::string name = o.out;
        if (name.empty() || name.find('\n') != name.size() - 1) return {};
        name.pop_back();
        return root_ + folder + "/" + name;
    }

    void ExpectRestored(const std::string& folder) {
        ASSERT_TRUE(FileExists(root_ + folder + "/a.bin"));
        EXPECT_EQ(ReadFile(root_ + folder + "/a.bin"), a_);
        EXPECT_EQ(ReadFile(root_ + folder + "/b.txt"), b_);
    }

    test::TempDir dir_;
    std::string root_;
    Bytes a_, b_;
};

TEST_P(CallersCli, DuplicityRestoresFromADamagedVolumeRepairedThroughPar2) {
    if (!test::HaveCommand("duplicity")) GTEST_SKIP() << "duplicity is not installed";
    if (test::RunShell("python3 -c 'import pexpect' 2>/dev/null").exitCode != 0)
        GTEST_SKIP() << "duplicity's par2 backend needs python3-pexpect";
    ASSERT_EQ(mkdir((root_ + "target").c_str(), 0700), 0);
    const std::string target = "par2+file://" + root_ + "target";
    const std::string common = " --no-encryption --archive-dir archive --name t ";
    test::ShellOutcome backup =
        Run("duplicity full" + common + "--par2-redundancy 5 src " + ShellQuote(target));
    ASSERT_EQ(backup.exitCode, 0) << backup.out;
    const std::string volume = OneFile("target", ".vol1.difftar.gz");
    ASSERT_FALSE(volume.empty());
    ASSERT_TRUE(FileExists(volume + ".par2")) << backup.out;

    Damage(volume, ReadFile(volume).size() / 2);
    test::ShellOutcome restore =
        Run("duplicity restore" + common + ShellQuote(target) + " out");
    EXPECT_EQ(restore.exitCode, 0) << restore.out;
    EXPECT_NE(restore.out.find("Repair successful"), std::string::npos) << restore.out;
    ExpectRestored("out");
}

TEST_P(CallersCli, DarRepairsADamagedSliceThroughItsPar2Hooks) {
    if (!test::HaveCommand("dar")) GTEST_SKIP() << "dar is not installed";
    if (!FileExists(kDarConfig)) GTEST_SKIP() << kDarConfig << " is not installed";
    ASSERT_EQ(mkdir((root_ + "arch").c_str(), 0700), 0);
    // -N: no darrc of the machine; -B: the hooks that make and test the
    // recovery files of each slice.
    const std::string hooks = std::string(" -N -Q -B ") + kDarConfig;
    test::ShellOutcome create = Run("dar -c arch/bk -R src -s 5k" + hooks);
    ASSERT_EQ(create.exitCode, 0) << create.out;
    const std::string slice = root_ + "arch/bk.1.dar";
    ASSERT_TRUE(FileExists(slice + ".par2")) << create.out;
    ASSERT_TRUE(FileExists(root_ + "arch/bk.2.dar.par2")) << create.out;
    const Bytes intact = ReadFile(slice);

    Damage(slice, 2000);
    test::ShellOutcome check = Run("dar -t arch/bk" + hooks);
    EXPECT_EQ(check.exitCode, 0) << check.out;
    EXPECT_EQ(ReadFile(slice), intact) << check.out;
    test::ShellOutcome again = Run("dar -t arch/bk" + hooks);
    EXPECT_EQ(again.exitCode, 0) << again.out;
    ASSERT_EQ(mkdir((root_ + "out").c_str(), 0700), 0);
    test::ShellOutcome extract = Run("dar -N -Q -O -x arch/bk -R out");
    EXPECT_EQ(extract.exitCode, 0) << extract.out;
    ExpectRestored("out");
}

TEST_P(CallersCli, BupFsckRepairsADamagedPackOnce) {
    if (!test::HaveCommand("bup") || !test::HaveCommand("git"))
        GTEST_SKIP() << "bup is not installed";
    const std::string bup = "BUP_DIR=" + ShellQuote(root_ + "bup") + " bup ";
    for (const char* step : {"init", "index src", "save -q --strip -n t src"}) {
        test::ShellOutcome o = Run(bup + step);
        ASSERT_EQ(o.exitCode, 0) << step << "\n" << o.out;
    }
    test::ShellOutcome generate = Run(bup + "fsck -g");
    ASSERT_EQ(generate.exitCode, 0) << generate.out;
    const std::string pack = OneFile("bup/objects/pack", ".pack");
    ASSERT_FALSE(pack.empty());
    const std::string stem = pack.substr(0, pack.size() - 5);
    ASSERT_TRUE(FileExists(stem + ".par2")) << generate.out;
    ASSERT_TRUE(FileExists(stem + ".vol000+200.par2")) << generate.out;
    const Bytes intact = ReadFile(pack);

    Damage(pack, intact.size() / 2);
    test::ShellOutcome found = Run(bup + "fsck");
    EXPECT_EQ(found.exitCode, 1) << found.out;
    // 100: repaired.
    test::ShellOutcome repaired = Run(bup + "fsck -r");
    EXPECT_EQ(repaired.exitCode, 100) << repaired.out;
    EXPECT_EQ(ReadFile(pack), intact);
    test::ShellOutcome clean = Run(bup + "fsck");
    EXPECT_EQ(clean.exitCode, 0) << clean.out;
    test::ShellOutcome nothing = Run(bup + "fsck -r");
    EXPECT_EQ(nothing.exitCode, 0) << nothing.out;
    test::ShellOutcome restore = Run(bup + "restore -q -C out /t/latest/.");
    EXPECT_EQ(restore.exitCode, 0) << restore.out;
    ExpectRestored("out");
}

INSTANTIATE_TEST_SUITE_P(Par2, CallersCli, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Ours" : "Installed";
                         });

}  // namespace
}  // namespace vantrove
