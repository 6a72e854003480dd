// The classic `par2` command line: the same scenarios run through the
// installed `par2` and through vantrove-cli started under the name `par2`,
// comparing exit codes, the lines tools read, restored files and the shape
// of created sets; and the argument parser on its own. The comparisons are
// skipped where `par2` is not installed.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cli/par2_command.h"
#include "cli/par2_volumes.h"
#include "support/shell.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

using Bytes = std::vector<uint8_t>;
using cli::Par2Arguments;
using cli::Par2Operation;
using test::ReadFile;
using test::ShellQuote;
using test::WriteFile;

bool Parse(Par2Operation implied, std::vector<std::string> args, Par2Arguments& out,
           std::string* error = nullptr) {
    std::string message;
    const bool ok = cli::ParsePar2Arguments(implied, args, out, message);
    if (error) *error = message;
    return ok;
}

TEST(Par2Arguments, AttachedValuesGroupedFlagsAndTheSetName) {
    Par2Arguments a;
    ASSERT_TRUE(Parse(Par2Operation::None,
                      {"c", "-s4000", "-c7", "-f5", "-uqq", "-n3", "-R", "-B", "/x", "set", "f1",
                       "--", "-odd"},
                      a));
    EXPECT_EQ(a.operation, Par2Operation::Create);
    EXPECT_EQ(a.blockSize, 4000u);
    EXPECT_EQ(a.recoveryCount, 7u);
    EXPECT_EQ(a.first, 5u);
    EXPECT_TRUE(a.uniform && a.recurse);
    EXPECT_EQ(a.fileCount, 3u);
    EXPECT_EQ(a.verbosity, -2);
    EXPECT_EQ(a.basePath, "/x");
    EXPECT_EQ(a.par2File, "set");
    EXPECT_EQ(a.files, (std::vector<std::string>{"f1", "-odd"}));

    // -a names the set, so every word is a source.
    Par2Arguments named;
    ASSERT_TRUE(Parse(Par2Operation::Create, {"-a", "z", "-rm2", "f1", "f2"}, named));
    EXPECT_EQ(named.par2File, "z");
    EXPECT_EQ(named.files.size(), 2u);
    EXPECT_EQ(named.redundancySize, uint64_t{2} << 20);

    Par2Arguments repair;
    ASSERT_TRUE(Parse(Par2Operation::None, {"repair", "-pN", "-S100", "-t2", "-m64", "s.par2",
                                            "download.tmp"},
                      repair));
    EXPECT_EQ(repair.operation, Par2Operation::Repair);
    EXPECT_TRUE(repair.purge && repair.dataSkip);
    EXPECT_EQ(repair.files, std::vector<std::string>{"download.tmp"});

    Par2Arguments version;
    ASSERT_TRUE(Parse(Par2Operation::None, {"-VV"}, version));
    EXPECT_EQ(version.version, 2);
}

TEST(Par2Arguments, OneNameOnCreateAndTheSetNamedWithAOnVerify) {
    // {arguments, the set's name, the files}
    const struct {
        std::vector<std::string> args;
        std::string par2File;
        std::vector<std::string> files;
    } cases[] = {
        {{"c", "-r10", "-n1", "-q", "-q", "VOLUME"}, "VOLUME", {"VOLUME"}},
        {{"create", "-qq", "-t1", "CANARY"}, "CANARY", {"CANARY"}},
        {{"v", "-a", "s.par2", "x", "y"}, "s.par2", {"x", "y"}},
        {{"r", "-as.par2"}, "s.par2", {}},
    };
    for (const auto& c : cases) {
        Par2Arguments a;
        ASSERT_TRUE(Parse(Par2Operation::None, c.args, a)) << c.args.back();
        EXPECT_EQ(a.par2File, c.par2File);
        EXPECT_EQ(a.files, c.files);
    }
}

TEST(Par2Volumes, CountsOfTheClassicSchemes) {
    using V = std::vector<uint32_t>;
    EXPECT_EQ(cli::ClassicVolumeCounts(100, 0, 0), (V{1, 2, 4, 8, 16, 32, 37}));
    EXPECT_EQ(cli::ClassicVolumeCounts(100, 3, 0), (V{16, 32, 52}));
    EXPECT_EQ(cli::ClassicVolumeCounts(10, 3, 0), (V{2, 4, 4}));
    EXPECT_EQ(cli::ClassicVolumeCounts(10, 5, 0), (V{1, 2, 4, 3, 0}));  // the last holds none
    EXPECT_EQ(cli::ClassicVolumeCounts(1, 0, 0), (V{1}));
    EXPECT_EQ(cli::ClassicVolumeCounts(0, 0, 0), V{});
    EXPECT_EQ(cli::ClassicVolumeCounts(40, 0, 8), (V{1, 2, 4, 1, 8, 8, 8, 8}));
    EXPECT_EQ(cli::ClassicVolumeCounts(200, 0, 75), (V{1, 2, 4, 8, 16, 32, 62, 75}));
    // The exponent's width: the end of the set, or the start of the last
    // held volume.
    EXPECT_EQ(cli::ClassicNamingExponent(0, 122, 0), 122u);
    EXPECT_EQ(cli::ClassicNamingExponent(0, 100, 75), 100u);
    EXPECT_EQ(cli::ClassicNamingExponent(0, 171, 75), 96u);
    EXPECT_EQ(cli::ClassicNamingExponent(3, 249, 52), 200u);
    EXPECT_EQ(cli::ClassicVolumePath("/d/s", 5, 1, 14, 4), "/d/s.vol05+1.par2");
    EXPECT_EQ(cli::ClassicVolumePath("s", 0, 1, 100, 37), "s.vol000+01.par2");
}

TEST(Par2Volumes, BlocksForATargetSizeAsTheClassicToolCounts) {
    // One file of 2000 blocks of 2100 bytes: one file's index budgeted below
    // fifteen files' worth, then the bits of what the rest holds.
    EXPECT_EQ(cli::ClassicBlocksForSize(300 << 10, 2100, 2000, 0, 0), 122);
    EXPECT_EQ(cli::ClassicBlocksForSize(615 << 10, 2100, 2000, 0, 0), 270);
    EXPECT_EQ(cli::ClassicBlocksForSize(616 << 10, 2100, 2000, 0, 0), 290);
    EXPECT_EQ(cli::ClassicBlocksForSize(620 << 10, 2100, 2000, 0, 0), 253);
    EXPECT_EQ(cli::ClassicBlocksForSize(1000 << 10, 2100, 2000, 0, 0), 317);
    EXPECT_EQ(cli::ClassicBlocksForSize(2000 << 10, 2100, 2000, 0, 0), 750);
    // Too small a target: nothing left, or less than nothing.
    EXPECT_EQ(cli::ClassicBlocksForSize(42 << 10, 2100, 2000, 0, 0), 0);
    EXPECT_LT(cli::ClassicBlocksForSize(41 << 10, 2100, 2000, 0, 0), 0);
    // A file count asked for is budgeted as given.
    EXPECT_EQ(cli::ClassicBlocksForSize(300 << 10, 2100, 2000, 4, 0), 64);
    EXPECT_EQ(cli::ClassicBlocksForSize(100 << 10, 8400, 500, 3, 0), 8);
    EXPECT_EQ(cli::ClassicBlocksForSize(40 << 10, 8400, 500, 3, 0), 1);  // fewer than the files
    EXPECT_LT(cli::ClassicBlocksForSize(30 << 10, 8400, 500, 3, 0), 0);
    // Volumes held to 100 blocks: as many files as that scheme lays out.
    EXPECT_EQ(cli::ClassicBlocksForSize(300 << 10, 1000, 1000, 0, 100), 267);
    EXPECT_EQ(cli::ClassicBlocksForSize(560 << 10, 1000, 1000, 0, 100), 359);
    EXPECT_EQ(cli::ClassicBlocksForSize(860 << 10, 1000, 1000, 0, 100), 587);
}

TEST(Par2Arguments, RefusesWhatTheClassicToolRefuses) {
    const std::vector<std::vector<std::string>> bad = {
        {},                                   // no command
        {"x", "s.par2"},                      // unknown command
        {"c", "-r", "10", "s", "f"},          // a value is attached, never separate
        {"c", "-r5", "-c2", "s", "f"},        // redundancy and count
        {"c", "-s400", "-b100", "s", "f"},    // size and count
        {"c", "-s401", "s", "f"},             // not a multiple of 4
        {"c", "-l", "-n2", "s", "f"},         // limited and a file count
        {"c", "-u", "-l", "s", "f"},          // uniform and limited
        {"c", "-z", "s", "f"},                // unknown letter
        {"c", "-a", "s"},                     // no files
        {"c", "-t0", "s", "f"},               // no threads
        {"v", "-T0", "s.par2"},               // no files hashed at a time
        {"c", "-b40000", "s", "f"},           // more blocks than a set holds
        {"v", "-c3", "s.par2"},               // create's option on verify
        {"v"},                                // no set
    };
    for (const auto& args : bad) {
        Par2Arguments a;
        std::string error;
        EXPECT_FALSE(Parse(Par2Operation::None, args, a, &error)) << args.size();
        EXPECT_FALSE(error.empty());
    }
    EXPECT_EQ(cli::Par2OperationOfProgram("/usr/bin/par2repair"), Par2Operation::Repair);
    EXPECT_TRUE(cli::IsPar2ProgramName("./par2"));
    EXPECT_FALSE(cli::IsPar2ProgramName("vantrove-cli"));
}

struct Par2Run {
    int exitCode = -1;
    std::vector<std::string> lines;  // stdout and stderr, in order of the stream
    std::string text;
};

// The lines that tools read from the output.
std::vector<std::string> ReadLines(const std::string& text) {
    static const char* const kKept[] = {
        "Target: ", "File: ", "All files are correct", "Repair is ", "You have ", "You need ",
        "Repair complete.", "Repair Failed.", "Main packet not found."};
    std::vector<std::string> kept;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line, '\n')) {
        // Progress is drawn with carriage returns; the line's end is what stays.
        const size_t cr = line.rfind('\r');
        if (cr != std::string::npos) line = line.substr(cr + 1);
        if (line.rfind("You have an excess", 0) == 0) continue;
        for (const char* prefix : kKept)
            if (line.rfind(prefix, 0) == 0) kept.push_back(line);
    }
    std::sort(kept.begin(), kept.end());
    return kept;
}

class Par2Cli : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!test::HaveCommand("par2")) GTEST_SKIP() << "par2 is not installed";
        bin_ = dir_.path() + "/bin/";
        ASSERT_EQ(mkdir(bin_.c_str(), 0755), 0);
        for (const char* name : {"par2", "par2create", "par2verify", "par2repair"})
            ASSERT_EQ(symlink(VANTROVE_CLI_PATH, (bin_ + name).c_str()), 0);
        std::mt19937_64 rng(test::TestSeed());
        a_ = test::RandomBytes(rng, 300000);
        b_ = test::RandomBytes(rng, 100003);
        c_ = test::RandomBytes(rng, 57);
    }

    // A folder holding the three files, named `name`.
    std::string MakeFolder(const std::string& name) {
        const std::string folder = dir_.path() + "/" + name + "/";
        mkdir(folder.c_str(), 0755);
        WriteFile(folder + "a.bin", a_);
        WriteFile(folder + "b.dat", b_);
        WriteFile(folder + "c.txt", c_);
        return folder;
    }

    // Runs `args` in `folder` through the peer (ours = false) or through
    // vantrove-cli under the name par2.
    Par2Run Par2(bool ours, const std::string& folder, const std::string& args,
             const std::string& name = "par2") {
        const std::string program = ours ? ShellQuote(bin_ + name) : name;
        test::ShellOutcome o =
            test::RunShell("cd " + ShellQuote(folder) + " && " + program + " " + args + " 2>&1");
        return {o.exitCode, ReadLines(o.out), o.out};
    }

    // The same set in two folders, one for each program.
    void TwoSets(const std::string& create) {
        peer_ = MakeFolder("peer");
        ours_ = MakeFolder("ours");
        ASSERT_EQ(Par2(false, peer_, "c -q -q " + create + " set.par2 a.bin b.dat c.txt").exitCode,
                  0);
        ASSERT_EQ(test::RunShell("cp " + ShellQuote(peer_) + "*.par2 " + ShellQuote(ours_))
                      .exitCode,
                  0);
    }

    void BothDo(const std::string& shell) {
        for (const std::string& f : {peer_, ours_})
            ASSERT_EQ(test::RunShell("cd " + ShellQuote(f) + " && " + shell).exitCode, 0);
    }

    void ExpectSame(const std::string& args, int expectedCode) {
        const Par2Run peer = Par2(false, peer_, args);
        const Par2Run ours = Par2(true, ours_, args);
        EXPECT_EQ(peer.exitCode, expectedCode) << peer.text;
        EXPECT_EQ(ours.exitCode, peer.exitCode) << ours.text;
        EXPECT_EQ(ours.lines, peer.lines) << "peer:\n" << peer.text << "\nours:\n" << ours.text;
    }

    test::TempDir dir_;
    std::string bin_, peer_, ours_;
    Bytes a_, b_, c_;
};

TEST_F(Par2Cli, VerifyAndRepairAsThePeerDoes) {
    TwoSets("-s4000 -c20");
    ExpectSame("v set.par2", 0);
    ExpectSame("v set", 0);  // the base name stands for the set

    // Damage within the redundancy: a hole in a.bin, c.txt gone.
    BothDo("printf 'XXXXXXXXXXXXXXXXXXXX' | dd of=a.bin bs=1 seek=9000 conv=notrunc 2>/dev/null"
           " && rm c.txt");
    ExpectSame("v set.par2", 1);
    ExpectSame("r set.par2", 0);
    for (const std::string& f : {peer_, ours_}) {
        EXPECT_EQ(ReadFile(f + "a.bin"), a_) << f;
        EXPECT_EQ(ReadFile(f + "c.txt"), c_) << f;
    }
    ExpectSame("v set.par2", 0);

    // Beyond it: b.dat gone entirely.
    BothDo("rm b.dat");
    ExpectSame("v set.par2", 2);
    ExpectSame("r set.par2", 2);
    ExpectSame("v -q set.par2", 2);

    // Beyond it, with a file that could be renamed back: still not
    // possible, and the renamed copy stays where it is.
    BothDo("rm -f a.bin.1 && cp a.bin other.bin && rm a.bin");
    ExpectSame("v set.par2 other.bin", 2);
    ExpectSame("r set.par2 other.bin", 2);
    for (const std::string& f : {peer_, ours_}) {
        EXPECT_TRUE(test::FileExists(f + "other.bin")) << f;
        EXPECT_FALSE(test::FileExists(f + "a.bin")) << f;
    }
}

// The "Target:" lines of an output, in the order printed.
std::vector<std::string> TargetLinesInOrder(const std::string& text) {
    std::vector<std::string> targets;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line, '\n')) {
        const size_t cr = line.rfind('\r');
        if (cr != std::string::npos) line = line.substr(cr + 1);
        if (line.rfind("Target: ", 0) == 0) targets.push_back(line);
    }
    return targets;
}

TEST_F(Par2Cli, TargetLinesComeInTheOrderOfTheNames) {
    // Names whose byte order differs from case-insensitive and from file-id order.
    peer_ = dir_.path() + "/peer/";
    ours_ = dir_.path() + "/ours/";
    for (const std::string& folder : {peer_, ours_}) {
        mkdir(folder.c_str(), 0755);
        for (const char* name : {"B.bin", "a.bin", "C.bin", "10.bin", "9.bin", "_x.bin", "zz.bin"})
            WriteFile(folder + name, Bytes(a_.begin(), a_.begin() + 5000 + name[0]));
    }
    const std::string names = "B.bin a.bin C.bin 10.bin 9.bin _x.bin zz.bin";
    ASSERT_EQ(Par2(false, peer_, "c -q -q -s1024 -c40 set.par2 " + names).exitCode, 0);
    ASSERT_EQ(test::RunShell("cp " + ShellQuote(peer_) + "*.par2 " + ShellQuote(ours_)).exitCode,
              0);
    BothDo("rm a.bin && printf 'XXXX' | dd of=C.bin bs=1 seek=100 conv=notrunc 2>/dev/null");
    // One file at a time: hashing several at once, the peer prints each
    // line when its file is done.
    for (const char* args : {"v -t1 -T1 set.par2", "r -t1 -T1 set.par2"}) {
        const Par2Run peer = Par2(false, peer_, args);
        const Par2Run ours = Par2(true, ours_, args);
        EXPECT_EQ(ours.exitCode, peer.exitCode) << ours.text;
        EXPECT_EQ(TargetLinesInOrder(ours.text), TargetLinesInOrder(peer.text))
            << "peer:\n" << peer.text << "\nours:\n" << ours.text;
    }
}

TEST_F(Par2Cli, QuietnessAndTheProgramNames) {
    TwoSets("-s4000 -c20");
    const Par2Run silent = Par2(true, ours_, "v -q -q set.par2");
    EXPECT_EQ(silent.exitCode, 0);
    EXPECT_EQ(silent.text, "");
    EXPECT_EQ(Par2(false, peer_, "v -qq set.par2").text, "");
    // Progress as the classic tool draws it, only at the usual verbosity.
    EXPECT_NE(Par2(true, ours_, "v set.par2").text.find("Scanning: 100.0%\r"), std::string::npos);
    EXPECT_EQ(Par2(true, ours_, "v -q set.par2").text.find('\r'), std::string::npos);

    EXPECT_EQ(Par2(true, ours_, "set.par2", "par2verify").exitCode, 0);
    BothDo("rm c.txt");
    EXPECT_EQ(Par2(true, ours_, "-q set.par2", "par2verify").exitCode, 1);
    EXPECT_EQ(Par2(true, ours_, "-q set.par2", "par2repair").exitCode, 0);
    EXPECT_EQ(ReadFile(ours_ + "c.txt"), c_);

    // -p purges the recovery files once the set is whole.
    EXPECT_EQ(Par2(true, ours_, "r -q -p set.par2").exitCode, 0);
    EXPECT_FALSE(test::FileExists(ours_ + "set.par2"));

    const Par2Run version = Par2(true, ours_, "-V");
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_NE(version.text.find("vantrove"), std::string::npos);
    EXPECT_EQ(Par2(true, ours_, "-h").exitCode, 0);
}

TEST_F(Par2Cli, BadArgumentsAndSetsThatCannotBeRead) {
    peer_ = MakeFolder("peer");
    ours_ = MakeFolder("ours");
    for (const char* args : {"c -z s a.bin", "c -s401 s a.bin", "c -r5 -c2 s a.bin",
                             "c -r 10 s a.bin", "x s.par2", "v"}) {
        EXPECT_EQ(Par2(false, peer_, args).exitCode, 3) << args;
        EXPECT_EQ(Par2(true, ours_, args).exitCode, 3) << args;
    }
    EXPECT_EQ(Par2(true, ours_, "").exitCode, 3);
    BothDo("head -c 1000 a.bin > bad.par2");
    ExpectSame("v bad.par2", 4);
    EXPECT_EQ(Par2(false, peer_, "v nosuch.par2").exitCode, 3);
    EXPECT_EQ(Par2(true, ours_, "v nosuch.par2").exitCode, 3);
}

TEST_F(Par2Cli, ExtraFilesOnTheCommandLineAreSearched) {
    TwoSets("-s4000 -c4");
    // A renamed download in another folder holds b.dat.
    for (const std::string& f : {peer_, ours_}) {
        ASSERT_EQ(mkdir((f + "dl").c_str(), 0755), 0);
        ASSERT_EQ(std::rename((f + "b.dat").c_str(), (f + "dl/download.tmp").c_str()), 0);
    }
    const Par2Run peer = Par2(false, peer_, "r set.par2 dl/download.tmp");
    const Par2Run ours = Par2(true, ours_, "r set.par2 dl/download.tmp");
    EXPECT_EQ(peer.exitCode, 0) << peer.text;
    EXPECT_EQ(ours.exitCode, 0) << ours.text;
    EXPECT_EQ(ReadFile(ours_ + "b.dat"), b_);
    EXPECT_EQ(ReadFile(peer_ + "b.dat"), b_);
    // A file given here may be moved, as the peer moves it.
    EXPECT_EQ(test::FileExists(ours_ + "dl/download.tmp"),
              test::FileExists(peer_ + "dl/download.tmp"));
}

TEST_F(Par2Cli, OneNameAndTheDataFileNameAsBackupToolsGiveThem) {
    peer_ = MakeFolder("peer");
    ours_ = MakeFolder("ours");
    // The set named after its one file, as duplicity and dar create it.
    for (const std::string& f : {peer_, ours_})
        ASSERT_EQ(Par2(f == ours_, f, "c -r10 -n1 -q -q c.txt").exitCode, 0) << f;
    const std::string names = "ls *.par2";
    EXPECT_EQ(test::RunShell("cd " + ShellQuote(ours_) + " && " + names).out,
              test::RunShell("cd " + ShellQuote(peer_) + " && " + names).out);
    EXPECT_EQ(Par2(false, ours_, "v -q -q c.txt.par2").exitCode, 0);
    // The data file's name stands for its set; -a names the set.
    ExpectSame("v c.txt", 0);
    ExpectSame("v -a c.txt.par2", 0);
    BothDo("printf 'XX' | dd of=c.txt bs=1 seek=20 conv=notrunc 2>/dev/null");
    ExpectSame("v c.txt", 1);
    ExpectSame("r c.txt", 0);
    EXPECT_EQ(ReadFile(ours_ + "c.txt"), c_);
    // bup's probe; no threads at all is refused in the peer's words.
    BothDo("printf 'bup' > CANARY");
    ExpectSame("create -qq -t1 CANARY", 0);
    for (const char* args : {"c -t0 s c.txt", "v -T0 c.txt", "c -q -s4 s a.bin"}) {
        const Par2Run peer = Par2(false, peer_, args);
        const Par2Run ours = Par2(true, ours_, args);
        EXPECT_EQ(peer.exitCode, 3) << args;
        EXPECT_EQ(ours.exitCode, 3) << args << ours.text;
        if (args[3] == 't' || args[3] == 'T') {
            EXPECT_EQ(ours.text, peer.text);
        }
    }
    EXPECT_FALSE(test::FileExists(ours_ + "s.par2"));
}

TEST_F(Par2Cli, WildcardsAreMatchedWithoutAShell) {
    TwoSets("-s4000 -c10");
    // b.dat downloaded under another name into a folder of its own, damaged.
    BothDo("mkdir dl && mv b.dat dl/b.tmp"
           " && printf 'XXXX' | dd of=dl/b.tmp bs=1 seek=5000 conv=notrunc 2>/dev/null");
    // As download tools call it from above: -B, the set, and patterns.
    for (const char* name : {"peer", "ours"}) {
        const std::string n = name;
        const Par2Run run = Par2(n == "ours", dir_.path(),
                                 "r -q -B " + n + " " + n + "/set.par2 '" + n + "/dl/?.tmp' '" +
                                     n + "/dl/*.tmp'");
        EXPECT_EQ(run.exitCode, 0) << run.text;
        EXPECT_EQ(ReadFile(dir_.path() + "/" + n + "/b.dat"), b_) << n;
    }
}

TEST_F(Par2Cli, SourcesFromListsAndOutsideTheBaseFolder) {
    ours_ = MakeFolder("ours");
    // One name a line, from a file and from standard input.
    WriteFile(ours_ + "list", std::string("a.bin\r\n\nc.txt\n"));
    ASSERT_EQ(Par2(true, ours_, "c -q -q -c4 l @list").exitCode, 0);
    ASSERT_EQ(Par2(true, ours_, "c -q -q -c4 s b.dat @ < list").exitCode, 0);
    const auto found = [](std::vector<std::string> names) {
        std::vector<std::string> lines{"All files are correct, repair is not required."};
        for (const std::string& name : names) lines.push_back("Target: \"" + name + "\" - found.");
        return lines;
    };
    EXPECT_EQ(Par2(false, ours_, "v l.par2").lines, found({"a.bin", "c.txt"}));
    EXPECT_EQ(Par2(false, ours_, "v s.par2").lines, found({"a.bin", "b.dat", "c.txt"}));

    // A source outside the base folder is left out, said so, and the rest protected.
    ASSERT_EQ(test::RunShell("cd " + ShellQuote(ours_) + " && mkdir in && mv a.bin in/").exitCode,
              0);
    const Par2Run run = Par2(true, ours_, "c -q -c4 -B in in/t in/a.bin b.dat");
    EXPECT_EQ(run.exitCode, 0) << run.text;
    EXPECT_NE(run.text.find("Ignoring out of basepath source file: "), std::string::npos);
    EXPECT_NE(run.text.find("/b.dat\n"), std::string::npos) << run.text;
    EXPECT_EQ(Par2(false, ours_ + "in", "v t.par2").lines, found({"a.bin"}));
    // Nothing left is refused.
    EXPECT_EQ(Par2(true, ours_, "c -q -c4 -B in in/u b.dat").exitCode, 3);
}

TEST_F(Par2Cli, AFileNobodyNamedIsCopiedNeverMoved) {
    TwoSets("-s4000 -c4");
    // The user's copy beside a deleted file, and one beside a damaged file.
    BothDo("cp b.dat b.dat.orig && rm b.dat && cp a.bin a.bin.orig"
           " && printf 'XXXXXXXX' | dd of=a.bin bs=1 seek=7000 conv=notrunc 2>/dev/null");
    const Par2Run run = Par2(true, ours_, "r -q set.par2");
    EXPECT_EQ(run.exitCode, 0) << run.text;
    for (const char* name : {"a.bin", "a.bin.orig"}) EXPECT_EQ(ReadFile(ours_ + name), a_) << name;
    for (const char* name : {"b.dat", "b.dat.orig"}) EXPECT_EQ(ReadFile(ours_ + name), b_) << name;
}

TEST_F(Par2Cli, ADamagedFileWithAnIntactCopyElsewhereCountsItsOwnBlocks) {
    TwoSets("-s4000 -c4");
    // The copy's name sorts before the damaged file's.
    BothDo("cp a.bin 0copy.bin"
           " && printf 'XXXXXXXXXXXX' | dd of=a.bin bs=1 seek=9000 conv=notrunc 2>/dev/null");
    ExpectSame("v set.par2 0copy.bin", 1);
    const Par2Run ours = Par2(true, ours_, "v set.par2 0copy.bin");
    EXPECT_NE(std::find(ours.lines.begin(), ours.lines.end(),
                        "Target: \"a.bin\" - damaged. Found 74 of 75 data blocks."),
              ours.lines.end())
        << ours.text;
    EXPECT_EQ(ours.text.find("exist but are damaged"), std::string::npos) << ours.text;
    ExpectSame("r set.par2 0copy.bin", 0);
    EXPECT_EQ(ReadFile(ours_ + "a.bin"), a_);
}

// The whole output, with only what must differ made alike: progress drawn
// over with carriage returns, and the order in which the recovery files are
// read, which each program takes from its folder's listing.
std::vector<std::string> Shape(const std::string& text) {
    std::vector<std::string> lines, loading;
    const auto flush = [&] {
        std::sort(loading.begin(), loading.end());
        lines.insert(lines.end(), loading.begin(), loading.end());
        loading.clear();
    };
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line, '\n')) {
        const size_t cr = line.rfind('\r');
        if (cr != std::string::npos) line = line.substr(cr + 1);
        if (line.rfind("Loading \"", 0) == 0) {
            loading.push_back(line);
        } else if (!loading.empty() &&
                   (line.rfind("Loaded ", 0) == 0 || line == "No new packets found")) {
            loading.back() += " / " + line;
        } else {
            flush();
            lines.push_back(line);
        }
    }
    flush();
    return lines;
}

TEST_F(Par2Cli, PrintedLinesAreThePeersAtEachQuietLevel) {
    const std::string master = MakeFolder("master");
    ASSERT_EQ(Par2(false, master, "c -q -q -s4000 -c20 set.par2 a.bin b.dat c.txt").exitCode, 0);
    const std::string hole =
        "printf 'XXXXXXXXXXXXXXXXXXXX' | dd of=a.bin bs=1 seek=9000 conv=notrunc 2>/dev/null";
    struct Case {
        std::string damage, command, files;
        int exitCode;
    };
    const Case cases[] = {
        {"true", "v", "set.par2", 0},
        {hole + " && rm c.txt", "v", "set.par2", 1},
        {hole + " && rm c.txt", "r", "set.par2", 0},
        // A misnamed file and a part of one, named after the set.
        {"mv b.dat other.bin", "v", "set.par2 other.bin", 1},
        {"mv b.dat other.bin", "r", "set.par2 other.bin", 0},
        {"head -c 60000 b.dat > part.bin && rm b.dat", "r", "set.par2 part.bin", 0},
        {"head -c 1000 a.bin > bad.par2", "v", "bad.par2", 4},
    };
    int run = 0;
    for (const Case& c : cases) {
        for (const char* quiet : {"", "-q ", "-q -q "}) {
            const std::string tag = std::to_string(run++);
            peer_ = dir_.path() + "/peer" + tag + "/";
            ours_ = dir_.path() + "/ours" + tag + "/";
            for (const std::string& f : {peer_, ours_})
                ASSERT_EQ(test::RunShell("cp -r " + ShellQuote(master) + " " + ShellQuote(f))
                              .exitCode,
                          0);
            BothDo(c.damage);
            // One file at a time, so that the peer's lines come in the order of the names.
            const std::string args = c.command + " " + quiet + "-t1 -T1 " + c.files;
            const Par2Run peer = Par2(false, peer_, args);
            const Par2Run ours = Par2(true, ours_, args);
            EXPECT_EQ(peer.exitCode, c.exitCode) << args << "\n" << peer.text;
            EXPECT_EQ(ours.exitCode, peer.exitCode) << args << "\n" << ours.text;
            EXPECT_EQ(Shape(ours.text), Shape(peer.text))
                << args << "\npeer:\n" << peer.text << "\nours:\n" << ours.text;
        }
    }
}

// "Block size" and "total of N data blocks" as the peer reads them from a set.
std::string SetShape(const Par2Run& run) {
    std::string shape;
    std::istringstream in(run.text);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("The block size used was", 0) == 0 ||
            line.rfind("There are a total of", 0) == 0 || line.rfind("There are ", 0) == 0)
            shape += line + "\n";
    return shape;
}

TEST_F(Par2Cli, CreatedSetsHaveThePeersShapeAndVerifyThere) {
    peer_ = MakeFolder("peer");
    ours_ = MakeFolder("ours");
    // -c10 -n5 asks for one volume more than the blocks fill: it holds none.
    for (const char* options : {"", "-r10", "-s4000 -c7", "-b100 -c9", "-u -n3 -c10", "-n3",
                                "-s4000 -c40 -l", "-c10 -f5", "-u", "-c10 -n5"}) {
        const std::string args = std::string("c -q -q ") + options + " set a.bin b.dat c.txt";
        ASSERT_EQ(Par2(false, peer_, args).exitCode, 0) << options;
        ASSERT_EQ(Par2(true, ours_, args).exitCode, 0) << options;
        // Each program's set verifies with the other; the block size and
        // count are the same.
        const Par2Run peerReadsOurs = Par2(false, ours_, "v set.par2");
        const Par2Run peerReadsPeer = Par2(false, peer_, "v set.par2");
        EXPECT_EQ(peerReadsOurs.exitCode, 0) << options << peerReadsOurs.text;
        EXPECT_EQ(SetShape(peerReadsOurs), SetShape(peerReadsPeer)) << options;
        EXPECT_EQ(Par2(true, peer_, "v -q set.par2").exitCode, 0) << options;
        const std::string names = "ls *.par2";
        EXPECT_EQ(test::RunShell("cd " + ShellQuote(ours_) + " && " + names).out,
                  test::RunShell("cd " + ShellQuote(peer_) + " && " + names).out)
            << options;
        // No work file or journal is left behind.
        EXPECT_EQ(test::RunShell("cd " + ShellQuote(ours_) + " && ls -A | grep '^\\.'").out, "")
            << options;
        BothDo("rm -f *.par2");
    }
    // The peer repairs from the re-laid volumes.
    ASSERT_EQ(Par2(true, ours_, "c -q -q -r30 set a.bin b.dat c.txt").exitCode, 0);
    ASSERT_EQ(test::RunShell("cd " + ShellQuote(ours_) + " && rm b.dat").exitCode, 0);
    EXPECT_EQ(Par2(false, ours_, "r -q set.par2").exitCode, 0);
    EXPECT_EQ(ReadFile(ours_ + "b.dat"), b_);
    BothDo("rm -f *.par2");

    // A second create over an existing set is refused.
    ASSERT_EQ(Par2(true, ours_, "c -q -q -c2 set a.bin").exitCode, 0);
    ASSERT_EQ(Par2(false, peer_, "c -q -q -c2 set a.bin").exitCode, 0);
    EXPECT_EQ(Par2(false, peer_, "c -q -q -c2 set a.bin").exitCode, 6);
    EXPECT_EQ(Par2(true, ours_, "c -q -q -c2 set a.bin").exitCode, 6);
}

TEST_F(Par2Cli, RecoveryDataGivenAsASizeGivesThePeersBlockCounts) {
    peer_ = MakeFolder("peer");
    ours_ = MakeFolder("ours");
    // 102 source blocks of 4000 bytes: below, at and above the point where
    // the budget of the index copies changes, with each scheme.
    for (const char* options :
         {"-rk20", "-rk31", "-rk33", "-rk40", "-rk100", "-rk300", "-rm1", "-rk60 -n3",
          "-rk45 -u", "-rk120 -u -n4", "-rk150 -l", "-rk700 -l", "-rk200 -f7",
          "-rk7 -n3", "-c10 -n5", "-c3 -n3"}) {
        const std::string args =
            std::string("c -q -q -s4000 ") + options + " set a.bin b.dat c.txt";
        ASSERT_EQ(Par2(false, peer_, args).exitCode, 0) << options;
        ASSERT_EQ(Par2(true, ours_, args).exitCode, 0) << options;
        const std::string names = "ls *.par2";
        EXPECT_EQ(test::RunShell("cd " + ShellQuote(ours_) + " && " + names).out,
                  test::RunShell("cd " + ShellQuote(peer_) + " && " + names).out)
            << options;
        BothDo("rm -f *.par2");
    }
    // More files than the target holds blocks for is refused by both.
    EXPECT_EQ(Par2(false, peer_, "c -q -q -s4000 -rk10 -n3 set a.bin").exitCode, 3);
    EXPECT_EQ(Par2(true, ours_, "c -q -q -s4000 -rk10 -n3 set a.bin").exitCode, 3);
    EXPECT_EQ(Par2(true, ours_, "c -q -q -c2 -n3 set a.bin").exitCode, 3);
    EXPECT_FALSE(test::FileExists(ours_ + "set.par2"));
}

TEST_F(Par2Cli, TreesWithRecursionAndABasePath) {
    ours_ = MakeFolder("ours");
    ASSERT_EQ(test::RunShell("cd " + ShellQuote(ours_) +
                             " && mkdir -p docs/deep && mv a.bin docs/ && mv c.txt docs/deep/")
                  .exitCode,
              0);
    ASSERT_EQ(Par2(true, ours_, "c -q -q -R -c10 set docs b.dat").exitCode, 0);
    EXPECT_EQ(Par2(false, ours_, "v set.par2").exitCode, 0);
    ASSERT_EQ(test::RunShell("rm " + ShellQuote(ours_ + "docs/deep/c.txt")).exitCode, 0);
    const Par2Run peer = Par2(false, ours_, "v set.par2");
    EXPECT_EQ(peer.exitCode, 1);
    EXPECT_EQ(Par2(true, ours_, "v set.par2").lines, peer.lines);
    EXPECT_EQ(Par2(true, ours_, "r -q set.par2").exitCode, 0);
    EXPECT_EQ(ReadFile(ours_ + "docs/deep/c.txt"), c_);

    // The set elsewhere, names relative to -B.
    const std::string sets = dir_.path() + "/sets/";
    ASSERT_EQ(mkdir(sets.c_str(), 0755), 0);
    ASSERT_EQ(Par2(true, ours_, "c -q -q -c4 -B " + ShellQuote(ours_) + " " +
                                    ShellQuote(sets + "t") + " b.dat docs/a.bin")
                  .exitCode,
              0);
    EXPECT_EQ(Par2(false, ours_, "v -q -B . " + ShellQuote(sets + "t.par2")).exitCode, 0);
    EXPECT_EQ(Par2(true, ours_, "v -q -B . " + ShellQuote(sets + "t.par2")).exitCode, 0);
    EXPECT_EQ(Par2(true, ours_, "v -q -B. set.par2").exitCode, 0);
    EXPECT_EQ(Par2(true, ours_, "v -q -B nosuch set.par2").exitCode, 3);
}

TEST_F(Par2Cli, ABaseFolderApartFromTheRecoveryFiles) {
    peer_ = MakeFolder("peer");
    ours_ = MakeFolder("ours");
    // The recovery files in a folder of their own, names relative to the data.
    for (const std::string& f : {peer_, ours_}) {
        ASSERT_EQ(test::RunShell("cd " + ShellQuote(f) + " && mkdir docs sets && mv c.txt docs/")
                      .exitCode,
                  0);
        ASSERT_EQ(Par2(false, f,
                       "c -q -q -s4000 -c20 -B " + ShellQuote(f) + " sets/t a.bin b.dat docs/c.txt")
                      .exitCode,
                  0);
    }
    const std::string verify = "v -B . sets/t.par2";
    ExpectSame(verify, 0);
    BothDo("rm docs/c.txt"
           " && printf 'XXXXXXXX' | dd of=a.bin bs=1 seek=7000 conv=notrunc 2>/dev/null");
    ExpectSame(verify, 1);
    // The same from inside the recovery files' folder, the base given back.
    for (const std::string& f : {peer_, ours_}) {
        const Par2Run run = Par2(f == ours_, f + "sets/", "v -q -B " + ShellQuote(f) + " t.par2");
        EXPECT_EQ(run.exitCode, 1) << run.text;
    }
    ExpectSame("r -B . sets/t.par2", 0);
    for (const std::string& f : {peer_, ours_}) {
        EXPECT_EQ(ReadFile(f + "a.bin"), a_) << f;
        EXPECT_EQ(ReadFile(f + "docs/c.txt"), c_) << f;
    }
    ExpectSame(verify, 0);
    EXPECT_FALSE(test::FileExists(ours_ + "sets/c.txt"));
    // Nothing is left in the base folder but the data.
    EXPECT_EQ(test::RunShell("cd " + ShellQuote(ours_) +
                             " && ls -A | grep -v -x -e a.bin -e a.bin.1 -e b.dat -e docs -e sets")
                  .out,
              "");

    // Another set of the same name in the base folder is not taken for it.
    ASSERT_EQ(Par2(false, ours_, "c -q -q -c2 t b.dat").exitCode, 0);
    ASSERT_EQ(test::RunShell("cd " + ShellQuote(ours_) + " && rm docs/c.txt").exitCode, 0);
    const Par2Run other = Par2(true, ours_, "v -B . sets/t.par2");
    EXPECT_EQ(other.exitCode, 1) << other.text;
    EXPECT_NE(std::find(other.lines.begin(), other.lines.end(),
                        "Target: \"docs/c.txt\" - missing."),
              other.lines.end())
        << other.text;
    ASSERT_EQ(test::RunShell("cd " + ShellQuote(ours_) + " && rm t*.par2").exitCode, 0);

    // A folder on the way that is a link is never written through.
    const std::string outside = dir_.path() + "/outside/";
    ASSERT_EQ(test::RunShell("cd " + ShellQuote(ours_) + " && mkdir " + ShellQuote(outside) +
                             " && rm -r docs && ln -s " + ShellQuote(outside) + " docs")
                  .exitCode,
              0);
    EXPECT_NE(Par2(true, ours_, "r -q -B . sets/t.par2").exitCode, 0);
    EXPECT_FALSE(test::FileExists(outside + "c.txt"));
    // -p removes the recovery files where they lie once the set is whole.
    ASSERT_EQ(test::RunShell("cd " + ShellQuote(ours_) + " && rm docs && mkdir docs").exitCode, 0);
    EXPECT_EQ(Par2(true, ours_, "r -q -p -B . sets/t.par2").exitCode, 0);
    EXPECT_EQ(ReadFile(ours_ + "docs/c.txt"), c_);
    EXPECT_FALSE(test::FileExists(ours_ + "sets/t.par2"));
}

TEST_F(Par2Cli, AScriptWrittenForThePeerRunsUnchanged) {
    ours_ = MakeFolder("ours");
    const std::string script =
        "set -e\n"
        "par2 create -q -q -r10 backup.par2 a.bin b.dat c.txt\n"
        "par2 verify -q -q backup.par2\n"
        "printf 'garbage' | dd of=b.dat bs=1 seek=500 conv=notrunc 2>/dev/null\n"
        "if par2 verify -q -q backup.par2; then echo 'damage not seen'; exit 9; fi\n"
        "par2 verify -q -q backup.par2 || test $? -eq 1\n"
        "par2 repair -q -q backup.par2\n"
        "par2 verify -q -q backup.par2\n";
    WriteFile(ours_ + "script.sh", script);
    const test::ShellOutcome run = test::RunShell("cd " + ShellQuote(ours_) + " && PATH=" +
                                                  ShellQuote(bin_) + ":$PATH sh script.sh");
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_EQ(ReadFile(ours_ + "b.dat"), b_);
}

TEST_F(Par2Cli, OlderSetsAndChecksumListsThroughTheSameForms) {
    ours_ = MakeFolder("ours");
    if (test::HaveCommand("parchive")) {
        ASSERT_EQ(test::RunShell("cd " + ShellQuote(ours_) +
                                 " && parchive a -n2 old.par a.bin b.dat > /dev/null")
                      .exitCode,
                  0);
        EXPECT_EQ(Par2(true, ours_, "v old.par").exitCode, 0);
        ASSERT_EQ(test::RunShell("rm " + ShellQuote(ours_ + "b.dat")).exitCode, 0);
        const Par2Run verify = Par2(true, ours_, "v old.par");
        EXPECT_EQ(verify.exitCode, 1) << verify.text;
        EXPECT_NE(std::find(verify.lines.begin(), verify.lines.end(), "Target: \"b.dat\" - missing."),
                  verify.lines.end());
        EXPECT_EQ(Par2(true, ours_, "r -q old.par").exitCode, 0);
        EXPECT_EQ(ReadFile(ours_ + "b.dat"), b_);
    }
    ASSERT_EQ(test::RunShell("cd " + ShellQuote(ours_) + " && md5sum a.bin c.txt > l.md5").exitCode,
              0);
    EXPECT_EQ(Par2(true, ours_, "v l.md5").exitCode, 0);
    ASSERT_EQ(test::RunShell("cd " + ShellQuote(ours_) + " && echo x >> c.txt").exitCode, 0);
    const Par2Run damaged = Par2(true, ours_, "v l.md5");
    EXPECT_EQ(damaged.exitCode, 2);
    EXPECT_NE(std::find(damaged.lines.begin(), damaged.lines.end(), "Repair is not possible."),
              damaged.lines.end());
}

}  // namespace
}  // namespace vantrove
