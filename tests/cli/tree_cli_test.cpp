// The command line on the data Linux users have: folder trees made with
// `par2 c -R` and by `vantrove-cli create` over folders, names that Windows
// refuses, empty files in PAR2 sets and checksum lists, silent damage that
// keeps a file's size and times, and the verify/repair exit codes on the
// same sets. Skipped where `par2` is not installed.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <dirent.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>

#include "core/crc32.h"
#include "core/disk_file.h"
#include "core/md5.h"
#include "support/shell.h"
#include "support/test_env.h"
#include "support/work_leftover.h"

namespace vantrove {
namespace {

using Bytes = std::vector<uint8_t>;
using test::FileExists;
using test::ReadFile;
using test::WriteFile;

using Outcome = test::ShellOutcome;

Outcome Shell(const std::string& command) { return test::RunShell(command); }
std::string Quote(const std::string& s) { return test::ShellQuote(s); }
Outcome Cli(const std::string& args) { return Shell(std::string(VANTROVE_CLI_PATH) + " " + args); }

std::string CrcHex(const Bytes& data) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", Crc32Update(0, data.data(), data.size()));
    return text;
}

std::set<std::string> Listing(const std::string& folder) {
    std::set<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) names.insert(entry->d_name);
        closedir(dir);
    }
    return names;
}

class TreeCli : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!test::HaveCommand("par2")) GTEST_SKIP() << "par2 is not installed";
        top_ = dir_.path() + "/top/";
        rng_.seed(test::TestSeed());
    }

    // A file of `size` random bytes at `relative` below the top folder,
    // its folders made as needed.
    void Put(const std::string& relative, size_t size) {
        mkdir(top_.c_str(), 0700);
        for (size_t start = 0, slash; (slash = relative.find('/', start)) != std::string::npos;
             start = slash + 1) {
            mkdir((top_ + relative.substr(0, slash)).c_str(), 0700);
        }
        contents_[relative] = test::RandomBytes(rng_, size);
        WriteFile(top_ + relative, contents_[relative]);
    }
    void ExpectAllIntact() {
        for (const auto& [name, content] : contents_) {
            EXPECT_TRUE(FileExists(top_ + name)) << name;
            if (FileExists(top_ + name)) EXPECT_EQ(ReadFile(top_ + name), content) << name;
        }
    }
    Outcome Verify(const std::string& options = "") {
        return Cli("verify " + options + " " + Quote(top_ + "set.par2") + " 2>&1");
    }
    Outcome Repair() { return Cli("repair " + Quote(top_ + "set.par2") + " 2>&1"); }
    int PeerVerify() {
        return Shell("cd " + Quote(top_) + " && par2 v -q -q set.par2 >/dev/null 2>&1").exitCode;
    }
    // A three-level tree with spaces and UTF-8 in its names.
    void MakeTree() {
        Put("docs/a/report one.pdf", 300000);
        Put("docs/a/notes.txt", 1234);
        Put("img/photo \xc3\xa9t\xc3\xa9.jpg", 123457);
        Put("sp ace/\xc3\xbcn\xc3\xaf/deep file.bin", 70000);
        Put("top.bin", 5000);
    }

    test::TempDir dir_;
    std::string top_;
    std::mt19937_64 rng_;
    std::map<std::string, Bytes> contents_;
};

TEST_F(TreeCli, APeerTreeVerifiesAndIsRepairedInPlace) {
    MakeTree();
    ASSERT_EQ(Shell("cd " + Quote(top_) + " && par2 c -q -q -R -s16384 -r30 set.par2 . >/dev/null")
                  .exitCode,
              0);
    Outcome intact = Verify();
    EXPECT_EQ(intact.exitCode, 0) << intact.out;
    EXPECT_NE(intact.out.find("docs/a/report one.pdf"), std::string::npos) << intact.out;

    // A deep file deleted, another overwritten in part.
    ASSERT_EQ(unlink((top_ + "sp ace/\xc3\xbcn\xc3\xaf/deep file.bin").c_str()), 0);
    Bytes damaged = contents_["docs/a/report one.pdf"];
    for (size_t i = 40000; i < 50000; ++i) damaged[i] ^= 0x33;
    WriteFile(top_ + "docs/a/report one.pdf", damaged);
    const std::set<std::string> before = Listing(top_);
    EXPECT_EQ(Verify().exitCode, 1);
    Outcome repaired = Repair();
    EXPECT_EQ(repaired.exitCode, 0) << repaired.out;
    ExpectAllIntact();
    EXPECT_EQ(Listing(top_), before);
    EXPECT_EQ(PeerVerify(), 0);

    // A work file left in a subfolder by an interrupted job goes with the
    // next repair.
    const std::string leftover =
        test::MakeLeftoverWorkFile(top_ + "docs/a/report one.pdf", std::string(100, 'w'));
    ASSERT_FALSE(leftover.empty());
    EXPECT_EQ(Repair().exitCode, 0);
    EXPECT_FALSE(FileExists(leftover));

    // A whole subfolder removed is made again.
    ASSERT_EQ(Shell("rm -rf " + Quote(top_ + "img")).exitCode, 0);
    repaired = Repair();
    EXPECT_EQ(repaired.exitCode, 0) << repaired.out;
    ExpectAllIntact();
    EXPECT_EQ(PeerVerify(), 0);
}

TEST_F(TreeCli, ASetCreatedOverFoldersWorksWithThePeerBothWays) {
    MakeTree();
    Put("docs/empty dir/e.txt", 0);
    contents_.erase("top.bin");
    unlink((top_ + "top.bin").c_str());
    Outcome made = Cli("create -s16384 -r20 -o " + Quote(top_ + "set") + " " + Quote(top_ + "docs") +
                       " " + Quote(top_ + "img") + " " + Quote(top_ + "sp ace") + " 2>&1");
    ASSERT_EQ(made.exitCode, 0) << made.out;
    EXPECT_EQ(PeerVerify(), 0);
    EXPECT_EQ(Verify().exitCode, 0);

    const std::string deep = "sp ace/\xc3\xbcn\xc3\xaf/deep file.bin";
    ASSERT_EQ(unlink((top_ + deep).c_str()), 0);
    ASSERT_EQ(Shell("cd " + Quote(top_) + " && par2 r -q -q set.par2 >/dev/null 2>&1").exitCode, 0);
    EXPECT_EQ(ReadFile(top_ + deep), contents_[deep]);

    ASSERT_EQ(unlink((top_ + deep).c_str()), 0);
    ASSERT_EQ(unlink((top_ + "docs/empty dir/e.txt").c_str()), 0);
    EXPECT_EQ(Verify().exitCode, 1);
    Outcome repaired = Repair();
    EXPECT_EQ(repaired.exitCode, 0) << repaired.out;
    ExpectAllIntact();
    EXPECT_EQ(PeerVerify(), 0);
}

TEST_F(TreeCli, CreateRefusesFilesOutsideTheBaseFolderAndAcceptsThemWithB) {
    Put("a/x.bin", 1000);
    Put("b/x.bin", 2000);
    Put("out/keep", 1);
    Outcome refused = Cli("create -o " + Quote(top_ + "out/set") + " " + Quote(top_ + "a/x.bin") +
                          " " + Quote(top_ + "b/x.bin") + " 2>&1");
    EXPECT_EQ(refused.exitCode, 3);
    EXPECT_NE(refused.out.find(top_ + "a/x.bin"), std::string::npos) << refused.out;
    EXPECT_EQ(Listing(top_ + "out"), (std::set<std::string>{".", "..", "keep"}));

    // With the base folder above both, each keeps its own name; a file
    // named twice counts once.
    Outcome made = Cli("create -B " + Quote(top_) + " -o " + Quote(top_ + "set") + " " +
                       Quote(top_ + "a/x.bin") + " " + Quote(top_ + "b/x.bin") + " " +
                       Quote(top_ + "a/../a/x.bin") + " 2>&1");
    ASSERT_EQ(made.exitCode, 0) << made.out;
    Outcome listed = Verify("--json");
    EXPECT_EQ(listed.exitCode, 0) << listed.out;
    EXPECT_NE(listed.out.find("\"name\":\"a/x.bin\""), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("\"name\":\"b/x.bin\""), std::string::npos) << listed.out;
    EXPECT_EQ(PeerVerify(), 0);

    // A name with a backslash would read back as a folder.
    Put("c/back\\slash", 10);
    EXPECT_EQ(Cli("create -o " + Quote(top_ + "c/set") + " " + Quote(top_ + "c") + " 2>&1").exitCode,
              3);
    EXPECT_FALSE(FileExists(top_ + "c/set.par2"));
}

TEST_F(TreeCli, NamesWindowsRefusesAreKeptAsTheyAre) {
    const std::vector<std::string> names = {"time 12:30.txt", "what?.txt", "star*.txt",
                                            "pipe|lt<gt>.txt", "quote\".txt", "-leading.txt",
                                            "con.txt", "lpt1.log"};
    for (const std::string& name : names) Put(name, 777);
    std::string files;
    for (const std::string& name : names) files += " ./" + Quote(name);
    ASSERT_EQ(Shell("cd " + Quote(top_) + " && par2 c -q -q -r10 peer.par2" + files + " >/dev/null")
                  .exitCode,
              0);
    Outcome peerSet = Cli("verify " + Quote(top_ + "peer.par2") + " 2>&1");
    EXPECT_EQ(peerSet.exitCode, 0) << peerSet.out;

    Outcome made = Cli("create -r10 -o " + Quote(top_ + "set") + " " + Quote(top_ + ".") + " 2>&1");
    ASSERT_EQ(made.exitCode, 0) << made.out;
    Outcome ours = Verify();
    EXPECT_EQ(ours.exitCode, 0) << ours.out;
    EXPECT_EQ(Repair().exitCode, 0);
    ExpectAllIntact();
    for (const std::string& name : names) {
        EXPECT_FALSE(FileExists(top_ + name + ".1")) << name;
    }
    EXPECT_EQ(PeerVerify(), 0);
}

// The PAR 1.0 peer stores the bytes of a UTF-8 name one per UTF-16 unit.
TEST_F(TreeCli, APeerPar1SetFindsUtf8Names) {
    if (!test::HaveCommand("parchive")) GTEST_SKIP() << "parchive is not installed";
    Put("caf\xc3\xa9 \xe2\x82\xac.txt", 3000);
    Put("plain.bin", 2000);
    ASSERT_EQ(Shell("cd " + Quote(top_) + " && parchive a -n 2 set.par " +
                    Quote("caf\xc3\xa9 \xe2\x82\xac.txt") + " plain.bin >/dev/null 2>&1")
                  .exitCode,
              0);
    Outcome intact = Cli("verify " + Quote(top_ + "set.par") + " 2>&1");
    EXPECT_EQ(intact.exitCode, 0) << intact.out;
    ASSERT_EQ(unlink((top_ + "caf\xc3\xa9 \xe2\x82\xac.txt").c_str()), 0);
    Outcome repaired = Cli("repair " + Quote(top_ + "set.par") + " 2>&1");
    EXPECT_EQ(repaired.exitCode, 0) << repaired.out;
    ExpectAllIntact();
}

TEST_F(TreeCli, EmptyFilesInChecksumListsVerifyAndComeBack) {
    Put("full.bin", 100);
    Put("e.txt", 0);
    WriteFile(top_ + "list.sfv", std::string("e.txt 00000000\n"));
    WriteFile(top_ + "list.md5", Md5Of(nullptr, 0).ToHex() + "  e.txt\n");
    for (const char* list : {"list.sfv", "list.md5"}) {
        Outcome present = Cli("verify " + Quote(top_ + list) + " 2>&1");
        EXPECT_EQ(present.exitCode, 0) << list << present.out;
        ASSERT_EQ(unlink((top_ + "e.txt").c_str()), 0);
        EXPECT_EQ(Cli("verify " + Quote(top_ + list) + " 2>&1").exitCode, 1) << list;
        Outcome repaired = Cli("repair " + Quote(top_ + list) + " 2>&1");
        EXPECT_EQ(repaired.exitCode, 0) << list << repaired.out;
        ASSERT_TRUE(FileExists(top_ + "e.txt")) << list;
        EXPECT_TRUE(ReadFile(top_ + "e.txt").empty());
    }
    // Listed among other files too, and checked by the peer.
    WriteFile(top_ + "both.sfv", "full.bin " + CrcHex(contents_["full.bin"]) +
                                     "\ne.txt 00000000\n");
    EXPECT_EQ(Cli("verify " + Quote(top_ + "both.sfv") + " 2>&1").exitCode, 0);
    if (test::HaveCommand("cksfv")) {
        EXPECT_EQ(Shell("cd " + Quote(top_) + " && cksfv -q -f both.sfv >/dev/null 2>&1").exitCode,
                  0);
    }
}

TEST_F(TreeCli, SilentDamageIsFoundUnlessTheCacheIsAskedFor) {
    Put("a.bin", 200000);
    Put("b.bin", 50000);
    ASSERT_EQ(Shell("cd " + Quote(top_) + " && par2 c -q -q -r10 set.par2 a.bin b.bin >/dev/null")
                  .exitCode,
              0);
    ASSERT_EQ(Verify().exitCode, 0);  // the results are cached now
    struct stat before {};
    ASSERT_EQ(stat((top_ + "a.bin").c_str(), &before), 0);
    Bytes rotten = contents_["a.bin"];
    rotten[123456] ^= 0x01;
    WriteFile(top_ + "a.bin", rotten);
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, (top_ + "a.bin").c_str(), times, 0), 0);

    Outcome cached = Verify("--cached");
    EXPECT_EQ(cached.exitCode, 0) << cached.out;
    Outcome read = Verify();
    EXPECT_EQ(read.exitCode, 1) << read.out;
}

TEST_F(TreeCli, VerifyAndRepairAgreeWhenOnlyRenamesArePossible) {
    Put("a.bin", 40 * 16384);
    Put("b.bin", 3 * 16384);
    ASSERT_EQ(Shell("cd " + Quote(top_) + " && par2 c -q -q -s16384 -c2 set.par2 a.bin b.bin >/dev/null")
                  .exitCode,
              0);
    // b.bin can be renamed back, but a.bin lacks far more blocks than exist.
    ASSERT_EQ(rename((top_ + "b.bin").c_str(), (top_ + "b renamed").c_str()), 0);
    Bytes damaged = contents_["a.bin"];
    for (size_t i = 0; i < 20 * 16384; i += 16384) damaged[i] ^= 1;
    WriteFile(top_ + "a.bin", damaged);
    Outcome verified = Verify();
    EXPECT_EQ(verified.exitCode, 2) << verified.out;
    Outcome repaired = Repair();
    EXPECT_EQ(repaired.exitCode, 2) << repaired.out;
    EXPECT_EQ(ReadFile(top_ + "b.bin"), contents_["b.bin"]);
}

}  // namespace
}  // namespace vantrove
