// Many small files: every recovery file repeats the set's index, which then
// outweighs the recovery blocks. Whatever the scheme, `create` writes no
// more than `par2` writes for the same files, block size and block count
// (compared when `par2` is installed), and the set repairs.
#include <gtest/gtest.h>
#include <dirent.h>
#include <sys/stat.h>

#include <map>
#include <random>
#include <string>

#include "support/shell.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

using test::ShellQuote;

// Bytes of the files in `folder` whose names start with `prefix`; removes
// them when asked.
uint64_t SetBytes(const std::string& folder, const std::string& prefix, bool remove) {
    uint64_t total = 0;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return 0;
    while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.compare(0, prefix.size(), prefix) != 0) continue;
        const std::string path = folder + "/" + name;
        struct stat st {};
        if (stat(path.c_str(), &st) == 0) total += static_cast<uint64_t>(st.st_size);
        if (remove) std::remove(path.c_str());
    }
    closedir(dir);
    return total;
}

TEST(SmallFilesCli, EverySchemeWritesNoMoreThanPar2AndRepairs) {
    test::TempDir dir;
    const std::string top = dir.path() + "/top";
    mkdir(top.c_str(), 0700);
    std::mt19937_64 rng(test::TestSeed());
    std::uniform_int_distribution<size_t> size(1, 400);
    std::map<std::string, std::vector<uint8_t>> contents;
    std::string names;
    for (int i = 0; i < 1000; ++i) {
        std::string name = "f";
        name += std::to_string(1000 + i);
        contents[name] = test::RandomBytes(rng, size(rng));
        test::WriteFile(top + "/" + name, contents[name]);
        names += " " + name;
    }
    const std::string request = " -s512 -c50";
    uint64_t par2Bytes = UINT64_MAX;
    if (test::HaveCommand("par2")) {
        ASSERT_EQ(test::RunShell("cd " + ShellQuote(top) + " && par2 c -q -q" + request +
                                 " peer.par2" + names + " >/dev/null 2>&1")
                      .exitCode,
                  0);
        par2Bytes = SetBytes(top, "peer.", true);
        ASSERT_GT(par2Bytes, 0u);
    }
    for (const char* scheme : {"powers", "limited", "uniform"}) {
        const std::string cli = std::string(VANTROVE_CLI_PATH);
        ASSERT_EQ(test::RunShell("cd " + ShellQuote(top) + " && " + cli + " create" + request +
                                 " --scheme " + scheme + " -o set" + names + " >/dev/null 2>&1")
                      .exitCode,
                  0)
            << scheme;
        EXPECT_LE(SetBytes(top, "set.", false), par2Bytes) << scheme;
        // Two files lost and one damaged: the set carries enough to rebuild them.
        std::remove((top + "/f1000").c_str());
        std::remove((top + "/f1999").c_str());
        std::vector<uint8_t> damaged = contents["f1500"];
        damaged[0] ^= 0xFF;
        test::WriteFile(top + "/f1500", damaged);
        EXPECT_EQ(
            test::RunShell(cli + " repair " + ShellQuote(top + "/set.par2") + " >/dev/null 2>&1")
                .exitCode,
            0)
            << scheme;
        for (const char* name : {"f1000", "f1500", "f1999"})
            EXPECT_EQ(test::ReadFile(top + "/" + name), contents[name]) << scheme << " " << name;
        SetBytes(top, "set.", true);
        SetBytes(top, "f1500.", true);  // any backup of the damaged file
    }
}

}  // namespace
}  // namespace vantrove
