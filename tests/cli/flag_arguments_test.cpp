// The words after `verify` and `repair`: flags, one FILE, "--" before a
// file whose name starts with '-'.
#include "cli/flag_arguments.h"

#include <gtest/gtest.h>

namespace vantrove::cli {
namespace {

struct Flags {
    bool json = false;
    bool cached = false;
    std::string path;

    bool Read(const std::vector<std::string>& args) {
        return ReadFlagsAndFile(args, {{"--json", &json}, {"--cached", &cached}}, path);
    }
};

TEST(FlagArguments, FlagsStandBeforeOrAfterTheFile) {
    Flags f;
    ASSERT_TRUE(f.Read({"--cached", "set.par2", "--json"}));
    EXPECT_TRUE(f.json);
    EXPECT_TRUE(f.cached);
    EXPECT_EQ(f.path, "set.par2");
}

TEST(FlagArguments, AfterDoubleDashEveryWordIsAFile) {
    Flags f;
    ASSERT_TRUE(f.Read({"--", "-odd.par2"}));
    EXPECT_EQ(f.path, "-odd.par2");
    EXPECT_FALSE(f.json);
    Flags g;
    ASSERT_TRUE(g.Read({"-"}));  // a lone dash is a name
    EXPECT_EQ(g.path, "-");
}

TEST(FlagArguments, UnknownOptionsAndASecondFileAreRefused) {
    Flags f;
    EXPECT_FALSE(f.Read({"set.par2", "--keep-damaged"}));
    Flags g;
    EXPECT_FALSE(g.Read({"a.par2", "b.par2"}));
    Flags h;
    EXPECT_FALSE(h.Read({"--", "a.par2", "--json"}));  // a second file after "--"
    Flags none;
    ASSERT_TRUE(none.Read({"--json"}));
    EXPECT_TRUE(none.path.empty());
}

}  // namespace
}  // namespace vantrove::cli
