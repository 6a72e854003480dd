#include "app/command_line.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include "support/test_env.h"

namespace vantrove {
namespace {

using test::TempDir;
using Names = std::vector<std::string>;

CommandLine Parsed(const Names& arguments) {
    CommandLine c;
    c.Parse(arguments);
    return c;
}

TEST(CommandLine, NoArgumentsOpenAnEmptyCreateDialog) {
    CommandLine c = Parsed({});
    EXPECT_EQ(c.shellCommand, ShellCommand::CreateFiles);
    EXPECT_TRUE(c.fileNames.empty());
    EXPECT_EQ(c.firstFileName, "");
}

TEST(CommandLine, BareNamesOpenTheFirstForVerification) {
    CommandLine c = Parsed({"/sets/a.par2", "/sets/b.par2"});
    EXPECT_EQ(c.shellCommand, ShellCommand::OpenSet);
    EXPECT_EQ(c.firstFileName, "/sets/a.par2");
    EXPECT_EQ(c.fileNames, (Names{"/sets/a.par2", "/sets/b.par2"}));
}

TEST(CommandLine, CreateWinsOverOpen) {
    CommandLine c = Parsed({"/open", "/create", "x.bin"});
    EXPECT_EQ(c.shellCommand, ShellCommand::CreateFiles);
    EXPECT_EQ(c.fileNames, Names{"x.bin"});
    EXPECT_TRUE(c.openSwitch && c.createSwitch);
}

TEST(CommandLine, SwitchesTakeEitherPrefixAndAnyCase) {
    for (const char* sw : {"/CREATE", "-create", "-CrEaTe", "/create"}) {
        CommandLine c = Parsed({sw, "one file", "two"});
        EXPECT_EQ(c.shellCommand, ShellCommand::CreateFiles) << sw;
        EXPECT_EQ(c.fileNames, (Names{"one file", "two"})) << sw;
    }
    EXPECT_EQ(Parsed({"-OPEN"}).shellCommand, ShellCommand::OpenSet);
    // Unknown words after a minus sign are switches without meaning, never names.
    CommandLine c = Parsed({"-verbose", "-", "-created"});
    EXPECT_EQ(c.shellCommand, ShellCommand::CreateFiles);
    EXPECT_TRUE(c.fileNames.empty());
    EXPECT_FALSE(c.createSwitch);
}

TEST(CommandLine, AbsolutePathsAreNamesNotSwitches) {
    // A slash starts every absolute path: only the three words make a switch.
    CommandLine c = Parsed({"/home/user/movie.vol03+04.par2"});
    EXPECT_EQ(c.shellCommand, ShellCommand::OpenSet);
    EXPECT_EQ(c.firstFileName, "/home/user/movie.vol03+04.par2");
    c = Parsed({"/create", "/verbose", "/", "/Create/x"});
    EXPECT_EQ(c.shellCommand, ShellCommand::CreateFiles);
    EXPECT_EQ(c.fileNames, (Names{"/verbose", "/", "/Create/x"}));
}

TEST(CommandLine, OpenWithoutAFileStillChoosesVerification) {
    CommandLine c = Parsed({"/open"});
    EXPECT_EQ(c.shellCommand, ShellCommand::OpenSet);
    EXPECT_EQ(c.firstFileName, "");
}

TEST(CommandLine, AnEmptyFirstNameCountsAsTheFirstName) {
    CommandLine c = Parsed({"", "b"});
    EXPECT_EQ(c.firstFileName, "");
    EXPECT_EQ(c.shellCommand, ShellCommand::CreateFiles);
    EXPECT_EQ(c.fileNames, (Names{"", "b"}));
}

TEST(CommandLine, ListFileIsReadAndDeleted) {
    TempDir dir;
    std::string list = dir.File("selection.txt");
    test::WriteFile(list, "a\nb\n\nc");
    CommandLine c = Parsed({"/create", "/list", list});
    EXPECT_EQ(c.shellCommand, ShellCommand::CreateFiles);
    EXPECT_EQ(c.fileNames, (Names{"a", "b", "c"}));
    EXPECT_FALSE(test::FileExists(list));
    EXPECT_FALSE(c.listPending);
}

TEST(CommandLine, ListLinesKeepTheirCarriageReturns) {
    TempDir dir;
    std::string list = dir.File("crlf.txt");
    test::WriteFile(list, "first\r\nsecond\r\n\r\n");
    CommandLine c = Parsed({"/create", "/list", list});
    EXPECT_EQ(c.fileNames, (Names{"first\r", "second\r", "\r"}));
}

TEST(CommandLine, ListNamesJoinTheOthersInOrder) {
    TempDir dir;
    std::string list = dir.File("l");
    test::WriteFile(list, "from list 1\nfrom list 2\n");
    CommandLine c = Parsed({"-create", "before", "-list", list, "after"});
    EXPECT_EQ(c.fileNames, (Names{"before", "from list 1", "from list 2", "after"}));
    EXPECT_EQ(c.firstFileName, "before");
}

TEST(CommandLine, AMissingListFileIsIgnored) {
    TempDir dir;
    CommandLine c = Parsed({"/create", "other", "/list", dir.File("gone")});
    EXPECT_EQ(c.shellCommand, ShellCommand::CreateFiles);
    EXPECT_EQ(c.fileNames, Names{"other"});
}

TEST(CommandLine, AListFileHeldByAnotherProgramIsLeftAlone) {
    TempDir dir;
    std::string list = dir.File("held");
    test::WriteFile(list, "x\n");
    int fd = open(list.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX), 0);
    Names names;
    EXPECT_FALSE(ReadListFile(list, names));
    EXPECT_TRUE(names.empty());
    EXPECT_TRUE(test::FileExists(list));
    close(fd);
    EXPECT_TRUE(ReadListFile(list, names));
    EXPECT_EQ(names, Names{"x"});
    EXPECT_FALSE(test::FileExists(list));
}

TEST(CommandLine, AFolderIsNotAListFile) {
    TempDir dir;
    Names names;
    EXPECT_FALSE(ReadListFile(dir.path(), names));
    EXPECT_TRUE(test::FileExists(dir.path()));
}

TEST(CommandLine, ListLinesWithZeroBytesAreDropped) {
    TempDir dir;
    std::string list = dir.File("nul");
    const char content[] = "good\nba\0d\nalso good";
    test::WriteFile(list, std::string(content, sizeof content - 1));
    Names names;
    EXPECT_TRUE(ReadListFile(list, names));
    EXPECT_EQ(names, (Names{"good", "also good"}));
}

TEST(CommandLine, ListWithoutCreateOpensItsOwnNameForVerification) {
    // The list file's name is the first name of the command line: without the
    // create switch that is what is opened, although the file is gone.
    TempDir dir;
    std::string list = dir.File("l.par2");
    test::WriteFile(list, "a\n");
    CommandLine c = Parsed({"/list", list});
    EXPECT_EQ(c.shellCommand, ShellCommand::OpenSet);
    EXPECT_EQ(c.firstFileName, list);
    EXPECT_EQ(c.fileNames, Names{"a"});
    EXPECT_FALSE(test::FileExists(list));
}

TEST(CommandLine, ParseFromArgvSkipsTheProgramName) {
    const char* argv[] = {"vantrove", "-Create", "f"};
    CommandLine c;
    c.Parse(3, argv);
    EXPECT_EQ(c.fileNames, Names{"f"});
    EXPECT_TRUE(c.createSwitch);
}

}  // namespace
}  // namespace vantrove
