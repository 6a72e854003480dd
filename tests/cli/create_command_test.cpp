#include "cli/create_command.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>

#include "app/extension_set.h"
#include "par2/main_packet.h"
#include "support/shell.h"
#include "support/test_env.h"

namespace vantrove::cli {
namespace {

namespace fs = std::filesystem;

bool Parse(std::vector<std::string> args, CreateArguments& parsed) {
    std::string error;
    return ParseCreateArguments(args, parsed, error);
}

TEST(CreateArguments, OptionsBeforeOrAfterFilesAttachedOrSeparate) {
    CreateArguments a;
    ASSERT_TRUE(Parse({"-r10", "x", "-s", "768000", "y", "-o", "d/b", "--scheme", "uniform", "-c7",
                       "-f", "3", "-n2", "--split=1000", "-b", "50"},
                      a));
    EXPECT_EQ(a.files, (std::vector<std::string>{"x", "y"}));
    EXPECT_EQ(a.redundancy, 1000u);
    EXPECT_EQ(a.blockSize, 768000u);
    EXPECT_EQ(a.output, "d/b");
    EXPECT_EQ(a.scheme, kUniform);
    EXPECT_EQ(a.recoveryCount, 7u);
    EXPECT_EQ(a.first, 3u);
    EXPECT_EQ(a.fileCount, 2u);
    EXPECT_EQ(a.splitLimit, 1000u);
    EXPECT_EQ(a.blockCount, 50u);
    CreateArguments b;
    ASSERT_TRUE(Parse({"-r", "12.5", "--", "-file"}, b));
    EXPECT_EQ(b.redundancy, 1250u);
    EXPECT_EQ(b.files, (std::vector<std::string>{"-file"}));
    CreateArguments c;
    ASSERT_TRUE(Parse({"-r.05", "f"}, c));
    EXPECT_EQ(c.redundancy, 5u);
}

TEST(CreateArguments, RefusesWhatItCannotUse) {
    CreateArguments a;
    EXPECT_FALSE(Parse({"-r"}, a));              // value missing
    EXPECT_FALSE(Parse({"-s", "12k", "f"}, a));  // not a number
    EXPECT_FALSE(Parse({"-r", "ten", "f"}, a));
    EXPECT_FALSE(Parse({"--scheme", "big", "f"}, a));
    EXPECT_FALSE(Parse({"-x", "f"}, a));                  // unknown option
    EXPECT_FALSE(Parse({"-r", "10"}, a));                 // no files
    EXPECT_FALSE(Parse({"--extend", "s.par2", "f"}, a));  // files with --extend
    EXPECT_FALSE(Parse({"--extend", "s.par2", "-s", "4"}, a));
    CreateArguments ok;
    EXPECT_TRUE(Parse({"--extend", "s.par2", "-c", "4", "-n", "2"}, ok));
}

TEST(CreateArguments, ValuesOutOfRangeAreLimited) {
    CreationSettings s;
    CreationParameters p(s);
    p.AddFiles({{"/d/a", 1000000}});
    CreateArguments a;
    ASSERT_TRUE(
        Parse({"-s", "3", "-r", "500", "-f", "70000", "--scheme", "powers", "-n", "99", "f"}, a));
    ApplyCreateArguments(a, p);
    EXPECT_EQ(p.blockSize, p.minBlockSize);
    EXPECT_EQ(p.redundancy, 10000u);  // 500 % is limited to 100 %
    EXPECT_EQ(p.recoveryBlockCount, p.sourceBlockCount);
    EXPECT_EQ(p.firstRecoveryBlock + p.recoveryBlockCount, 65536u);
    EXPECT_LE(p.recoveryFileCount, 30u);
}

// Without -s and -b a set gets about 2000 blocks whatever its size, and a
// count of files is never dropped: it makes the sizes double unless the
// scheme that derives the count itself was asked for, which is refused.
TEST(CreateArguments, DefaultBlockSizeAndFileCountFollowWhatWasAsked) {
    CreationSettings s;  // the settings' own scheme holds volumes to the largest file
    for (uint64_t total : {25600ull, 1000000ull, 1000001ull, 3000000000ull}) {
        CreationParameters p(s);
        p.AddFiles({{"/d/a", total}});
        CreateArguments a;
        ASSERT_TRUE(Parse({"-r", "10", "-n", "3", "f"}, a));
        ApplyCreateArguments(a, p);
        // The smallest multiple of 4 that needs no more than 2000 blocks.
        const uint64_t perBlock = (total + 1999) / 2000;
        EXPECT_EQ(p.blockSize, (perBlock + 3) / 4 * 4) << total;
        EXPECT_EQ(p.sizeScheme, kPowersOfTwo) << total;
        EXPECT_EQ(p.recoveryFileCount, 3u) << total;
    }
    CreateArguments limited;
    std::string error;
    EXPECT_FALSE(ParseCreateArguments({"-n", "3", "--scheme", "limited", "f"}, limited, error));
    EXPECT_NE(error.find("-n"), std::string::npos);
    // An explicit block size keeps its own count.
    CreationParameters p(s);
    p.AddFiles({{"/d/a", 1000000}});
    CreateArguments sized;
    ASSERT_TRUE(Parse({"-s", "100000", "f"}, sized));
    ApplyCreateArguments(sized, p);
    EXPECT_EQ(p.blockSize, 100000u);
}

int Sh(const std::string& command) {
    int rc = std::system((command + " >/dev/null 2>&1").c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

struct CliFixture {
    test::TempDir dir;
    std::mt19937_64 rng{test::TestSeed()};
    std::string AddFile(const std::string& name, size_t size) {
        std::string path = dir.File(name);
        test::WriteFile(path, test::RandomBytes(rng, size));
        return path;
    }
    // Runs the built program, as a script would.
    int Create(std::vector<std::string> args) {
        std::string command = std::string(VANTROVE_CLI_PATH) + " create";
        for (const auto& arg : args) command += " '" + arg + "'";
        return Sh(command);
    }
};

TEST(CreateCommand, WritesASetThatPar2AcceptsAndExtendsIt) {
    CliFixture f;
    const std::string a = f.AddFile("a.bin", 300000);
    const std::string b = f.AddFile("b.bin", 55555);
    ASSERT_EQ(f.Create({"-s", "8192", a, "-r10", b, "-o", f.dir.File("set"), "--scheme", "powers"}),
              0);
    EXPECT_TRUE(test::FileExists(f.dir.File("set.par2")));
    EXPECT_TRUE(test::FileExists(f.dir.File("set.vol0+1.PAR2")));
    // 37 + 7 blocks, 10 % rounds to 4 recovery blocks: volumes of 1, 1 and 2.
    EXPECT_TRUE(test::FileExists(f.dir.File("set.vol1+1.PAR2")));
    EXPECT_TRUE(test::FileExists(f.dir.File("set.vol2+2.PAR2")));

    ExistingSetInfo info;
    std::string error;
    ASSERT_TRUE(ReadSetForExtension(f.dir.File("set.vol2+2.PAR2"), info, error)) << error;
    EXPECT_EQ(info.baseName, "set");
    EXPECT_EQ(info.firstUnusedExponent, 4u);
    EXPECT_EQ(info.fileDescriptions.size(), 2u);
    EXPECT_EQ(info.mainPacket->sliceSize(), 8192u);

    ASSERT_EQ(
        f.Create({"--extend", f.dir.File("set.par2"), "-c", "6", "--scheme", "uniform", "-n", "2"}),
        0);
    EXPECT_TRUE(test::FileExists(f.dir.File("set.vol4+3.PAR2")));
    EXPECT_TRUE(test::FileExists(f.dir.File("set.vol7+3.PAR2")));
    // Our own verification accepts the set with its extension, and our own
    // repair rebuilds a deleted and a damaged file byte for byte.
    EXPECT_EQ(Sh(std::string(VANTROVE_CLI_PATH) + " verify " + f.dir.File("set.par2")), 0);
    {
        const std::vector<uint8_t> originalA = test::ReadFile(a), originalB = test::ReadFile(b);
        fs::remove(b);
        std::vector<uint8_t> broken = originalA;
        broken[4000] ^= 0x55;
        test::WriteFile(a, broken);
        EXPECT_EQ(
            Sh(std::string(VANTROVE_CLI_PATH) + " repair --no-trash " + f.dir.File("set.par2")), 0);
        EXPECT_EQ(test::ReadFile(a), originalA);
        EXPECT_EQ(test::ReadFile(b), originalB);
    }
    if (Sh("command -v par2") != 0) GTEST_SKIP() << "par2 not installed";
    EXPECT_EQ(Sh("cd " + f.dir.path() + " && par2 v set.par2 set.vol*"), 0);
    // The new volumes alone repair a damaged file.
    for (const char* old : {"set.vol0+1.PAR2", "set.vol1+1.PAR2", "set.vol2+2.PAR2"})
        fs::remove(f.dir.File(old));
    std::vector<uint8_t> original = test::ReadFile(a);
    std::vector<uint8_t> broken = original;
    broken[5] ^= 1;
    broken[100000] ^= 1;
    test::WriteFile(a, broken);
    EXPECT_EQ(Sh("cd " + f.dir.path() + " && par2 r set.par2 set.vol*"), 0);
    EXPECT_EQ(test::ReadFile(a), original);
}

TEST(CreateCommand, FailuresExitWith3) {
    CliFixture f;
    EXPECT_EQ(f.Create({f.dir.File("missing"), "-o", f.dir.File("x")}), 3);
    const std::string a = f.AddFile("a.bin", 1000);
    EXPECT_EQ(f.Create({a, "-o", f.dir.File("no/such/folder/x")}), 3);
    EXPECT_EQ(f.Create({"--extend", a}), 3);
    // Only an empty file: no source blocks.
    const std::string e = f.AddFile("e.bin", 0);
    EXPECT_EQ(f.Create({e, "-o", f.dir.File("x")}), 3);
    EXPECT_TRUE(test::FileExists(f.dir.File("x.par2.bad")) == false);
}

// A disk that fills up (every write and resize failing from one file
// operation on) or a SIGTERM, at several points of a creation in both
// command forms, leaves nothing the creation wrote: the full disk exits
// with the form's file error (3, 6), the stop with its stop code (8, 7).
TEST(CreateCommand, AFullDiskOrAStopLeavesNoFileOfTheSet) {
    CliFixture f;
    f.AddFile("a.bin", 300000);
    const std::string in = "cd '" + f.dir.path() + "' && ";
    const std::string create = " create -s 8192 -r10 -o set a.bin";
    const std::string classic = " par2 c -q -s8192 -r10 set.par2 a.bin";
    const std::string count = f.dir.path() + "/../operations";
    ASSERT_EQ(Sh(in + "VANTROVE_CRASH_COUNT='" + count + "' " + VANTROVE_CLI_PATH + create), 0);
    const std::vector<uint8_t> text = test::ReadFile(count);
    const uint64_t total =
        std::strtoull(std::string(text.begin(), text.end()).c_str(), nullptr, 10);
    ASSERT_GT(total, 8u);
    Sh(in + "rm -f set*");
    struct Case {
        const char* hook;
        const std::string& form;
        int code;
    };
    for (const Case& c : {Case{"VANTROVE_FULL_AT", create, 3}, Case{"VANTROVE_FULL_AT", classic, 6},
                          Case{"VANTROVE_SIGNAL_AT", create, 8},
                          Case{"VANTROVE_SIGNAL_AT", classic, 7}}) {
        for (uint64_t at : {total / 4, total / 2}) {
            EXPECT_EQ(Sh(in + c.hook + "=" + std::to_string(at) + " " + VANTROVE_CLI_PATH + c.form),
                      c.code)
                << c.hook << c.form << " " << at;
            std::vector<std::string> names;
            for (const auto& e : fs::directory_iterator(f.dir.path()))
                names.push_back(e.path().filename().string());
            EXPECT_EQ(names, (std::vector<std::string>{"a.bin"})) << c.hook << c.form << " " << at;
            Sh(in + "rm -f set* .set*");
        }
    }
}

// Two sets named "set" in one folder, and a recovery slice whose exponent was
// damaged (its packet hash no longer matches): --extend adds to the set of
// the file it is given, past the slices that are really there.
TEST(CreateCommand, ExtendTakesTheNamedSetAndOnlyItsIntactSlices) {
    CliFixture f;
    const std::string a = f.AddFile("a.bin", 60000);
    ASSERT_EQ(f.Create({"-s", "4096", "-c", "4", "--scheme", "powers", a, "-o", f.dir.File("set")}),
              0);
    test::TempDir other;
    const std::string b = other.File("b.bin");
    test::WriteFile(b, test::RandomBytes(f.rng, 30000));
    ASSERT_EQ(f.Create({"-s", "4096", "-c", "12", "--scheme", "uniform", "-n", "1", b, "-o",
                        other.File("set")}),
              0);
    // Set B's only volume (exponents 0 to 11) beside set A's, under a name
    // that sorts before A's volumes.
    fs::copy_file(other.File("set.vol00+12.PAR2"), f.dir.File("set.vol0+01.par2"));

    // Exponent 3 of A (in set.vol2+2.PAR2) is damaged into 40003.
    std::vector<uint8_t> volume = test::ReadFile(f.dir.File("set.vol2+2.PAR2"));
    const uint8_t slice[] = {'R', 'e', 'c', 'v', 'S', 'l', 'i', 'c'};
    size_t damaged = 0;
    for (size_t at = 0; at + 68 <= volume.size(); ++at) {
        if (std::memcmp(volume.data() + at + 56, slice, 8) == 0 && volume[at + 64] == 3 &&
            std::memcmp(volume.data() + at, "PAR2\0PKT", 8) == 0) {
            volume[at + 65] = 0x9c;
            volume[at + 64] = 0x43;
            ++damaged;
        }
    }
    ASSERT_EQ(damaged, 1u);
    test::WriteFile(f.dir.File("set.vol2+2.PAR2"), volume);

    ASSERT_EQ(
        f.Create({"--extend", f.dir.File("set.par2"), "-c", "2", "--scheme", "uniform", "-n", "1"}),
        0);
    EXPECT_TRUE(test::FileExists(f.dir.File("set.vol3+2.PAR2")));
    // The new volume belongs to A: with A's intact volumes it repairs a.bin.
    const std::vector<uint8_t> original = test::ReadFile(a);
    std::vector<uint8_t> broken = original;
    for (size_t i = 0; i < 8192; ++i) broken[10000 + i] ^= 0x5a;
    test::WriteFile(a, broken);
    fs::remove(f.dir.File("set.vol0+1.PAR2"));
    fs::remove(f.dir.File("set.vol1+1.PAR2"));
    EXPECT_EQ(Sh(std::string(VANTROVE_CLI_PATH) + " repair --no-trash " + f.dir.File("set.par2")),
              0);
    EXPECT_EQ(test::ReadFile(a), original);

    // A file with no complete set in it is refused, and nothing is written.
    test::TempDir junk;
    test::WriteFile(junk.File("set.par2"), test::RandomBytes(f.rng, 4000));
    EXPECT_EQ(f.Create({"--extend", junk.File("set.par2"), "-c", "2"}), 3);
    EXPECT_EQ(std::distance(fs::directory_iterator(junk.path()), fs::directory_iterator()), 1);
}

TEST(CreateCommand, SplitsLargeFilesIntoVerifiedPieces) {
    CliFixture f;
    const std::string a = f.AddFile("big.iso", 100000);
    ASSERT_EQ(f.Create({a, "-s", "1000", "--split", "30000", "-c", "3", "-o", f.dir.File("set")}),
              0);
    // 100 blocks of 1000, 30 per piece: 30, 30, 30 and 10 blocks.
    const char* pieces[] = {"big.iso.001", "big.iso.002", "big.iso.003", "big.iso.004"};
    std::vector<uint8_t> joined;
    for (const char* name : pieces) {
        std::vector<uint8_t> part = test::ReadFile(f.dir.File(name));
        EXPECT_EQ(part.size(), std::string(name) == "big.iso.004" ? 10000u : 30000u);
        joined.insert(joined.end(), part.begin(), part.end());
    }
    EXPECT_EQ(joined, test::ReadFile(a));
    EXPECT_FALSE(test::FileExists(f.dir.File("big.iso.005")));
    // The set still describes the whole file; the pieces carry no packets.
    if (Sh("command -v par2") == 0) {
        EXPECT_EQ(Sh("cd " + f.dir.path() + " && par2 v set.par2"), 0);
    }
}

// Every command answers --help on standard output with its own options and
// --version with the program's version, exit 0, wherever they stand among
// its options; after "--" they are file names.
TEST(CommandLine, HelpAndVersionOnEveryCommand) {
    const std::string cli = VANTROVE_CLI_PATH;
    struct Case {
        std::string args, mustHold;
    };
    for (const Case& c : {Case{"verify --help", "--cached"}, Case{"repair x.par2 --help", "--keep-damaged"},
                          Case{"create -r 10 --help", "--scheme"}, Case{"--help", "par2"},
                          Case{"help", "create"}}) {
        const test::ShellOutcome run = test::RunShell(cli + " " + c.args);
        EXPECT_EQ(run.exitCode, 0) << c.args;
        EXPECT_NE(run.out.find("usage: vantrove-cli"), std::string::npos) << c.args;
        EXPECT_NE(run.out.find(c.mustHold), std::string::npos) << c.args;
    }
    for (const std::string args : {"--version", "verify --version", "repair --version",
                                   "create --version", "par2 -V"}) {
        const test::ShellOutcome run = test::RunShell(cli + " " + args);
        EXPECT_EQ(run.exitCode, 0) << args;
        EXPECT_EQ(run.out.rfind("vantrove-cli ", 0), 0u) << args << ": " << run.out;
        EXPECT_NE(run.out.find(VANTROVE_VERSION), std::string::npos) << args;
    }
    // Threads and memory are taken by every command, attached or separate;
    // a value that is no positive number is refused before anything runs.
    for (const std::string args : {"verify -t 1 -m 64 x.par2", "repair --threads=2 --memory 8 x.par2",
                                   "create -t1 -m16 -o x nothing.bin"}) {
        const test::ShellOutcome run = test::RunShell(cli + " " + args + " 2>&1");
        EXPECT_EQ(run.out.find("option"), std::string::npos) << args << ": " << run.out;
    }
    for (const std::string args : {"verify -t 0 x.par2", "repair -m x.par2", "create --threads=-1 f"}) {
        const test::ShellOutcome run = test::RunShell(cli + " " + args + " 2>&1");
        EXPECT_EQ(run.exitCode, 3) << args;
        EXPECT_NE(run.out.find("option"), std::string::npos) << args << ": " << run.out;
    }
    // After "--" a word is a file: here a missing one, an error.
    EXPECT_EQ(test::RunShell(cli + " verify -- --help 2>/dev/null").exitCode, 3);
}

}  // namespace
}  // namespace vantrove::cli
