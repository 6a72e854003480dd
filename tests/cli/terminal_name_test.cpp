// File names on a terminal: a name holding control characters or bytes that
// are not UTF-8 is printed in the shell's escape quoting, the same text
// `ls --quoting-style=shell-escape` gives, by every command and in every
// form; `--json` keeps the exact bytes of a name that is not UTF-8.
#include "cli/terminal_name.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/shell.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

using Outcome = test::ShellOutcome;
using cli::TerminalName;

struct NameCase {
    std::string name;
    std::string shown;
    // coreutils 9.1 puts an empty '' in front of a name that holds a quote
    // and ends in escaped bytes; both forms read back the same.
    bool lsAddsEmptyQuotes = false;
};

const std::vector<NameCase>& Cases() {
    static const std::vector<NameCase> kCases = {
        // Printed as they are.
        {"plain.txt", "plain.txt"},
        {"two words.bin", "two words.bin"},
        {"perch\xc3\xa9.txt", "perch\xc3\xa9.txt"},
        {"it's \"q\" $HOME\\*", "it's \"q\" $HOME\\*"},
        {"\xe2\x80\xae-rtl \xf0\x9f\x98\x80", "\xe2\x80\xae-rtl \xf0\x9f\x98\x80"},
        // Control characters, alone and in runs, at either end.
        {"\x1b[2J", "''$'\\033''[2J'"},
        {"a\ab", "'a'$'\\a''b'"},
        {"a\rb", "'a'$'\\r''b'"},
        {"a\nb", "'a'$'\\n''b'"},
        {"a b\tc", "'a b'$'\\t''c'"},
        {"\n\nb", "''$'\\n\\n''b'"},
        {"del\x7f", "'del'$'\\177'"},
        {"\x1b]0;title\a", "''$'\\033'']0;title'$'\\a'"},
        // C1 controls as UTF-8: CSI and NEL.
        {"a\xc2\x9b[31m", "'a'$'\\302\\233''[31m'"},
        {"x\xc2\x85y", "'x'$'\\302\\205''y'"},
        // Not UTF-8: a stray byte, a cut-off sequence, an overlong form.
        {"a\xff.txt", "'a'$'\\377''.txt'"},
        {"caf\xc3\xa9\xc3", "'caf\xc3\xa9'$'\\303'"},
        {"\xe2\x80", "''$'\\342\\200'"},
        {"\xc0\xaf", "''$'\\300\\257'"},
        // Quotes beside escaped bytes.
        {"it's\n", "'it'\\''s'$'\\n'", true},
        {"x\n'", "'x'$'\\n'\\'''"},
        {"$HOME\n\"", "'$HOME'$'\\n''\"'"},
    };
    return kCases;
}

TEST(TerminalName, EscapesControlsAndInvalidBytesAsLsDoes) {
    for (const NameCase& c : Cases()) {
        EXPECT_EQ(TerminalName(c.name), c.shown) << c.shown;
        if (c.shown == c.name) continue;
        // The shell reads the escaped form back as the name's bytes.
        const Outcome read = test::RunShell("bash -c " + test::ShellQuote("printf %s " + c.shown));
        EXPECT_EQ(read.out, c.name) << c.shown;
    }

    // The escaped forms are those of the real `ls` where it is at hand.
    if (test::RunShell("LC_ALL=C.UTF-8 ls --quoting-style=shell-escape / >/dev/null 2>&1")
            .exitCode != 0) {
        GTEST_SKIP() << "no GNU ls with shell-escape quoting";
    }
    for (const NameCase& c : Cases()) {
        if (c.shown == c.name) continue;  // ls also quotes names with spaces or $
        test::TempDir dir;
        test::WriteFile(dir.File(c.name), std::string("x"));
        const Outcome ls = test::RunShell("cd " + test::ShellQuote(dir.path()) +
                                          " && LC_ALL=C.UTF-8 ls --quoting-style=shell-escape");
        EXPECT_EQ(ls.out, (c.lsAddsEmptyQuotes ? "''" : "") + c.shown + "\n") << c.shown;
    }
}

// A set made by the program itself, its base name holding BEL and a data
// file named with ESC and a line feed, another with an invalid byte and CSI.
class TerminalNameCli : public ::testing::Test {
  protected:
    static constexpr const char* kEscName = "a\x1b[31mb\nc";
    static constexpr const char* kEscShown = "'a'$'\\033''[31mb'$'\\n''c'";
    static constexpr const char* kBadName = "d\xff\xc2\x9b.bin";

    void SetUp() override {
        folder_ = dir_.path() + "/";
        std::mt19937_64 rng(test::TestSeed());
        test::WriteFile(folder_ + kEscName, test::RandomBytes(rng, 40000));
        test::WriteFile(folder_ + kBadName, test::RandomBytes(rng, 30000));
        set_ = folder_ + "s\a.par2";
        created_ =
            Cli("create -s 4096 -c 12 -o " + test::ShellQuote(set_) + " " +
                test::ShellQuote(folder_ + kEscName) + " " + test::ShellQuote(folder_ + kBadName));
        ASSERT_EQ(created_.exitCode, 0) << created_.out;
    }

    static Outcome Cli(const std::string& args) {
        return test::RunShell(std::string(VANTROVE_CLI_PATH) + " " + args + " 2>&1");
    }

    test::TempDir dir_;
    std::string folder_, set_;
    Outcome created_;
};

// True when `text` holds a control character other than the line feeds that
// end its lines: C0, DEL, or a C1 control in UTF-8.
bool HoldsControl(const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if ((c < 0x20 && c != '\n') || c == 0x7f) return true;
        if (c == 0xc2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xa0)
            return true;
    }
    return false;
}

TEST_F(TerminalNameCli, NoCommandPrintsARawControlCharacter) {
    ASSERT_EQ(unlink((folder_ + kEscName).c_str()), 0);
    const std::string set = test::ShellQuote(set_);
    const struct {
        std::string args;
        std::string expected;  // a line the output must hold
    } kRuns[] = {
        {"verify " + set, std::string("data      ") + kEscShown},
        {"par2 v -q " + set, std::string("Target: \"") + kEscShown + "\" - missing."},
        {"par2 r -q " + set, std::string("Target: \"") + kEscShown + "\" - found."},
        {"repair " + set, std::string("data      ") + kEscShown},
    };
    EXPECT_FALSE(HoldsControl(created_.out)) << created_.out;
    EXPECT_NE(created_.out.find("/s'$'\\a''.par2'\n"), std::string::npos) << created_.out;
    for (const auto& run : kRuns) {
        const Outcome outcome = Cli(run.args);
        EXPECT_FALSE(HoldsControl(outcome.out)) << run.args << "\n" << outcome.out;
        EXPECT_NE(outcome.out.find(run.expected), std::string::npos) << run.args << "\n"
                                                                     << outcome.out;
        EXPECT_NE(outcome.out.find("'d'$'\\377\\302\\233''.bin'"), std::string::npos)
            << run.args << "\n"
            << outcome.out;
    }
}

TEST_F(TerminalNameCli, JsonKeepsTheBytesOfANameThatIsNotUtf8) {
    const Outcome run = Cli("verify --json " + test::ShellQuote(set_));
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_FALSE(HoldsControl(run.out.substr(0, run.out.size() - 1))) << run.out;
    // The name itself as before, its bytes beside it; a valid name alone.
    EXPECT_NE(run.out.find("\"name\":\"d\\ufffd\\u009b.bin\",\"nameHex\":\"64ffc29b2e62696e\""),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("\"name\":\"a\\u001b[31mb\\nc\",\"size\":40000,"), std::string::npos)
        << run.out;
}

}  // namespace
}  // namespace vantrove
