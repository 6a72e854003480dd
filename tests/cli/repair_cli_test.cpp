// `vantrove-cli repair` against sets made by the `par2` command: every kind
// of damage within the set's redundancy is repaired byte for byte and the
// result passes `par2 v`; renaming and joining need no recovery data; the
// clean-up follows the settings and the options; exit codes and messages
// of sets that cannot be repaired and of failed repairs. Skipped where
// `par2` is not installed.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/settings.h"
#include "support/shell.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

using Bytes = std::vector<uint8_t>;
using test::FileExists;
using test::ReadFile;
using test::WriteFile;

constexpr size_t kBlock = 16384;

bool HavePeer() { return test::HaveCommand("par2"); }

using Outcome = test::ShellOutcome;

Outcome Shell(const std::string& command) { return test::RunShell(command); }

std::string Quote(const std::string& s) { return test::ShellQuote(s); }

class RepairCli : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!HavePeer()) GTEST_SKIP() << "par2 is not installed";
        folder_ = dir_.path() + "/";
        std::mt19937_64 rng(test::TestSeed());
        a_ = test::RandomBytes(rng, 19 * kBlock - 1000);
        b_ = test::RandomBytes(rng, 7 * kBlock + 5);
        c_ = test::RandomBytes(rng, 63);
        WriteFile(folder_ + "a.bin", a_);
        WriteFile(folder_ + "b.dat", b_);
        WriteFile(folder_ + "c.txt", c_);
        // 27 data blocks, 14 recovery blocks.
        Outcome made =
            Shell("cd " + Quote(folder_) + " && par2 c -q -q -s" + std::to_string(kBlock) +
                  " -c14 set.par2 a.bin b.dat c.txt >/dev/null 2>&1");
        ASSERT_EQ(made.exitCode, 0);
        // Clean-up goes away for good unless a test asks for the trash.
        Settings settings;
        settings.useRecycleBin = false;
        settings.SaveOptions();
    }

    Outcome Repair(const std::string& options = "") {
        return Shell(std::string(VANTROVE_CLI_PATH) + " repair " + Quote(folder_ + "set.par2") +
                     " " + options + " 2>&1");
    }
    bool PeerVerifies() {
        return Shell("cd " + Quote(folder_) + " && par2 v -q -q set.par2 >/dev/null 2>&1")
                   .exitCode == 0;
    }
    void ExpectIntact() {
        EXPECT_EQ(ReadFile(folder_ + "a.bin"), a_);
        EXPECT_EQ(ReadFile(folder_ + "b.dat"), b_);
        EXPECT_EQ(ReadFile(folder_ + "c.txt"), c_);
        EXPECT_TRUE(PeerVerifies());
    }
    void Write(const std::string& name, const Bytes& data) { WriteFile(folder_ + name, data); }
    void Remove(const std::string& name) { unlink((folder_ + name).c_str()); }
    // Deletes every recovery volume but the index file.
    void RemoveRecoveryVolumes() { Shell("cd " + Quote(folder_) + " && rm -f set.vol*.par2"); }

    test::TempDir dir_;
    std::string folder_;
    Bytes a_, b_, c_;
};

// Count of `what` in `text`.
size_t Occurrences(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

TEST_F(RepairCli, DeletedFileIsRebuilt) {
    Remove("b.dat");
    Outcome run = Repair();
    EXPECT_EQ(run.exitCode, 0) << run.out;
    // The outcome is said once, not as "no repair needed" beside "complete".
    EXPECT_EQ(Occurrences(run.out, "Repair complete."), 1u) << run.out;
    EXPECT_EQ(run.out.find("no repair needed"), std::string::npos) << run.out;
    ExpectIntact();
    // Repairing the intact set again says one thing too.
    Outcome again = Repair();
    EXPECT_EQ(again.exitCode, 0) << again.out;
    EXPECT_EQ(Occurrences(again.out, "no repair needed"), 1u) << again.out;
    EXPECT_EQ(again.out.find("Repair complete."), std::string::npos) << again.out;
}

TEST_F(RepairCli, FlippedTruncatedAndInsertedBytesInSeveralFilesAtOnce) {
    Bytes a = a_;
    a[3 * kBlock + 7] ^= 0xFF;
    a[10 * kBlock] ^= 0x01;
    Write("a.bin", a);
    Write("b.dat", Bytes(b_.begin(), b_.begin() + 4 * kBlock + 100));  // truncated
    Bytes c = c_;
    c.insert(c.begin() + 20, {1, 2, 3});  // inserted bytes
    Write("c.txt", c);
    Outcome run = Repair();
    EXPECT_EQ(run.exitCode, 0) << run.out;
    ExpectIntact();
    // The damaged originals were deleted as the settings say.
    EXPECT_FALSE(FileExists(folder_ + "a.bin.1"));
    EXPECT_FALSE(FileExists(folder_ + "b.dat.1"));
}

TEST_F(RepairCli, InsertedBytesInsideALargeFileShiftTheRest) {
    Bytes a = a_;
    a.insert(a.begin() + 5 * kBlock + 123, 777, 0x42);
    Write("a.bin", a);
    Outcome run = Repair("--json");
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_NE(run.out.find("\"repairAttempted\":true"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"state\":5"), std::string::npos) << run.out;
    ExpectIntact();
}

TEST_F(RepairCli, MisnamedFilesAreRenamedWithoutRecoveryData) {
    ASSERT_EQ(rename((folder_ + "a.bin").c_str(), (folder_ + "other name").c_str()), 0);
    ASSERT_EQ(rename((folder_ + "c.txt").c_str(), (folder_ + "c.txt.bak").c_str()), 0);
    RemoveRecoveryVolumes();
    Outcome run = Repair();
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_FALSE(FileExists(folder_ + "other name"));
    EXPECT_FALSE(FileExists(folder_ + "c.txt.bak"));
    ExpectIntact();
}

TEST_F(RepairCli, FileSplitAtANonBlockBoundaryIsJoinedWithoutRecoveryData) {
    const size_t cut = 6 * kBlock + 5000;
    Write("a.bin.001", Bytes(a_.begin(), a_.begin() + cut));
    Write("a.bin.002", Bytes(a_.begin() + cut, a_.end()));
    Remove("a.bin");
    RemoveRecoveryVolumes();
    Outcome run = Repair();
    EXPECT_EQ(run.exitCode, 0) << run.out;
    ExpectIntact();
}

TEST_F(RepairCli, TooMuchDamageIsNotEnoughDataAndChangesNothing) {
    Remove("a.bin");  // 19 blocks, 14 recovery blocks
    Outcome run = Repair("--json");
    EXPECT_EQ(run.exitCode, 2) << run.out;
    EXPECT_NE(run.out.find("\"repairAttempted\":false"), std::string::npos) << run.out;
    EXPECT_FALSE(FileExists(folder_ + "a.bin"));
    EXPECT_EQ(ReadFile(folder_ + "b.dat"), b_);
}

TEST_F(RepairCli, IntactSetNeedsNothing) {
    Outcome run = Repair("--json");
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_NE(run.out.find("\"repairAttempted\":false"), std::string::npos);
    EXPECT_NE(run.out.find("\"state\":6"), std::string::npos);
}

TEST_F(RepairCli, FailedRepairIsExitThreeWithTheFileAndTheSystemsText) {
    Remove("b.dat");
    ASSERT_EQ(mkdir((folder_ + "b.dat").c_str(), 0755), 0);  // blocks the target name
    Outcome run = Repair();
    EXPECT_EQ(run.exitCode, 3) << run.out;
    // In English, as the whole command line speaks.
    EXPECT_NE(run.out.find("Cannot create \"b.dat\": File exists"), std::string::npos)
        << run.out;
    EXPECT_EQ(ReadFile(folder_ + "a.bin"), a_);
}

// Bytes of a.bin that the disk cannot read (the test build's
// VANTROVE_FAIL_READS): a damaged file named with its error, whose other
// blocks count, rebuilt beside the failing copy by both command forms.
TEST_F(RepairCli, UnreadableBlocksAreNamedAndRebuiltBesideTheFailingFile) {
    const std::string failing = "VANTROVE_FAIL_READS=" + Quote(folder_ + "a.bin") + ":" +
                                std::to_string(2 * kBlock + 10) + ":" +
                                std::to_string(2 * kBlock + 20) + " ";
    const std::string cli = failing + VANTROVE_CLI_PATH + " ";
    const std::string set = Quote(folder_ + "set.par2");
    Outcome verify = Shell(cli + "verify " + set + " 2>&1");
    EXPECT_EQ(verify.exitCode, 1) << verify.out;
    EXPECT_NE(verify.out.find("damaged (18/19 blocks available)"), std::string::npos)
        << verify.out;
    EXPECT_NE(verify.out.find("\"a.bin\": some blocks could not be read (Input/output error)"),
              std::string::npos)
        << verify.out;
    Outcome json = Shell(cli + "verify " + set + " --json");
    EXPECT_EQ(json.exitCode, 1) << json.out;
    EXPECT_NE(json.out.find("\"totalBlocks\":28,\"dataBlocksAvailable\":27,"), std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("{\"name\":\"a.bin\",\"size\":" + std::to_string(a_.size()) +
                            ",\"state\":\"damaged\",\"readError\":\"Input/output error\"}"),
              std::string::npos)
        << json.out;

    Outcome repair = Shell(cli + "repair " + set + " --keep-damaged 2>&1");
    EXPECT_EQ(repair.exitCode, 0) << repair.out;
    EXPECT_EQ(ReadFile(folder_ + "a.bin.1"), a_);  // the failing file, as it was
    ExpectIntact();

    // The classic form, with the failing file back under its name.
    ASSERT_EQ(rename((folder_ + "a.bin.1").c_str(), (folder_ + "a.bin").c_str()), 0);
    Outcome classic = Shell("cd " + Quote(folder_) + " && " + cli + "par2 r set.par2 2>&1");
    EXPECT_EQ(classic.exitCode, 0) << classic.out;
    EXPECT_NE(classic.out.find("\"a.bin\": some blocks could not be read"), std::string::npos)
        << classic.out;
    EXPECT_EQ(ReadFile(folder_ + "a.bin.1"), a_);
}

// SIGTERM (sent by the test build's hook just before a chosen file
// operation) stops a repair: exit 8, a message that says so, and every name
// as before (the damaged file back, no work file), whether it comes as the
// repair begins or while it writes; a stopped verify exits with 8 too.
TEST_F(RepairCli, SigtermStopsWithCodeEightAndLeavesTheFilesAsTheyWere) {
    Bytes damaged = a_;
    damaged[3 * kBlock] ^= 0x11;
    Write("a.bin", damaged);
    Remove("c.txt");
    const std::string count = dir_.path() + "/../operations";
    auto operations = [&](const std::string& folder, const std::string& command) {
        Shell("cd " + Quote(folder) + " && VANTROVE_CRASH_COUNT=" + Quote(count) + " " +
              VANTROVE_CLI_PATH + " " + command + " set.par2 >/dev/null 2>&1");
        const Bytes text = ReadFile(count);
        return std::strtoull(std::string(text.begin(), text.end()).c_str(), nullptr, 10);
    };
    // The operations of the scan alone, and of a whole repair (of a copy).
    const uint64_t scan = operations(folder_, "verify");
    test::TempDir copy;
    Shell("cp -a " + Quote(folder_) + ". " + Quote(copy.path()));
    const uint64_t whole = operations(copy.path(), "repair");
    ASSERT_GT(whole, scan + 4);
    const std::string before = Shell("ls -A " + Quote(folder_)).out;

    for (uint64_t at : {uint64_t{1}, scan + 1, (scan + whole) / 2}) {
        Outcome run = Shell("VANTROVE_SIGNAL_AT=" + std::to_string(at) + " " + VANTROVE_CLI_PATH +
                            " repair " + Quote(folder_ + "set.par2") + " 2>&1");
        EXPECT_EQ(run.exitCode, 8) << at << run.out;
        EXPECT_NE(run.out.find("stopped"), std::string::npos) << run.out;
        EXPECT_EQ(run.out.find("could not be read"), std::string::npos) << run.out;
        EXPECT_EQ(Shell("ls -A " + Quote(folder_)).out, before) << at;
        EXPECT_EQ(ReadFile(folder_ + "a.bin"), damaged) << at;
    }
    Outcome verify = Shell("VANTROVE_SIGNAL_AT=2 " + std::string(VANTROVE_CLI_PATH) + " verify " +
                           Quote(folder_ + "set.par2") + " 2>&1");
    EXPECT_EQ(verify.exitCode, 8) << verify.out;
    EXPECT_NE(verify.out.find("stopped"), std::string::npos) << verify.out;
    // The classic form keeps its own code for a stop.
    const uint64_t classicScan = operations(folder_, "par2 v -q");
    Outcome classic = Shell("cd " + Quote(folder_) + " && VANTROVE_SIGNAL_AT=" +
                            std::to_string(classicScan + 1) + " " + VANTROVE_CLI_PATH +
                            " par2 r -q set.par2 2>&1");
    EXPECT_EQ(classic.exitCode, 7) << classic.out;
    EXPECT_EQ(Shell("ls -A " + Quote(folder_)).out, before);

    EXPECT_EQ(Repair().exitCode, 0);
    ExpectIntact();
}

TEST_F(RepairCli, SettingsDecideTheCleanUpAndTheOptionsOverrideThem) {
    auto volumes = [this] {
        return Shell("cd " + Quote(folder_) + " && ls set.vol*.par2 2>/dev/null | wc -l").out;
    };
    const std::string allVolumes = volumes();
    ASSERT_NE(allVolumes, "0\n");

    // Settings keep damaged files: the moved-aside original stays.
    Settings settings;
    settings.deleteDamagedFiles = false;
    settings.useRecycleBin = false;
    settings.SaveOptions();
    Bytes a = a_;
    a[0] ^= 1;
    Write("a.bin", a);
    Outcome run = Repair();
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_EQ(ReadFile(folder_ + "a.bin"), a_);
    EXPECT_EQ(ReadFile(folder_ + "a.bin.1"), a);
    EXPECT_EQ(volumes(), allVolumes);

    // Settings delete damaged files; --keep-damaged keeps them for one run.
    settings.deleteDamagedFiles = true;
    settings.SaveOptions();
    Bytes b = b_;
    b[1] ^= 1;
    Write("b.dat", b);
    run = Repair("--keep-damaged");
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_EQ(ReadFile(folder_ + "b.dat.1"), b);

    // --delete-recovery takes the volumes too; the damaged copy (from which
    // intact blocks were taken) goes as the settings say.
    Remove("a.bin.1");
    Remove("b.dat.1");
    Write("a.bin", a);
    run = Repair("--delete-recovery");
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_FALSE(FileExists(folder_ + "a.bin.1"));
    EXPECT_EQ(volumes(), "0\n");
    EXPECT_TRUE(FileExists(folder_ + "set.par2"));
    EXPECT_EQ(ReadFile(folder_ + "a.bin"), a_);
    EXPECT_EQ(ReadFile(folder_ + "b.dat"), b_);
    EXPECT_EQ(ReadFile(folder_ + "c.txt"), c_);
}

TEST_F(RepairCli, DamagedFilesGoToTheTrashUnlessNoTrashIsGiven) {
    Settings settings;
    settings.useRecycleBin = true;
    settings.SaveOptions();
    const std::string trash = std::string(getenv("XDG_DATA_HOME")) + "/Trash/files/";
    Bytes b = b_;
    b[9] ^= 1;
    Write("b.dat", b);
    ASSERT_EQ(Repair().exitCode, 0);
    EXPECT_FALSE(FileExists(folder_ + "b.dat.1"));
    ASSERT_TRUE(FileExists(trash + "b.dat.1"));
    EXPECT_EQ(ReadFile(trash + "b.dat.1"), b);
    unlink((trash + "b.dat.1").c_str());

    Write("b.dat", b);
    ASSERT_EQ(Repair("--no-trash").exitCode, 0);
    EXPECT_FALSE(FileExists(folder_ + "b.dat.1"));
    EXPECT_FALSE(FileExists(trash + "b.dat.1"));
    ExpectIntact();
}

TEST_F(RepairCli, BadArgumentsAreExitThree) {
    const std::string cli = VANTROVE_CLI_PATH;
    EXPECT_EQ(Shell(cli + " repair 2>/dev/null").exitCode, 3);
    EXPECT_EQ(
        Shell(cli + " repair " + Quote(folder_ + "set.par2") + " --bogus 2>/dev/null").exitCode, 3);
    EXPECT_EQ(Shell(cli + " repair " + Quote(folder_ + "nothing.par2") + " 2>/dev/null").exitCode,
              3);
}

}  // namespace
}  // namespace vantrove
