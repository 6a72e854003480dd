// `vantrove-cli` with far more files than it may hold open: a set of 1,500
// small files is made, verified and repaired under a limit of 256 open files
// (soft and hard, so the program cannot raise it), in both command forms.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "support/shell.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

constexpr int kFiles = 1500;

std::string NameOf(int i) {
    char name[16];
    std::snprintf(name, sizeof name, "f%05d.dat", i);
    return name;
}

TEST(ManyFilesCli, SetOfManyMoreFilesThanTheLimitIsMadeCheckedAndRepaired) {
    test::TempDir dir;
    const std::string folder = dir.path() + "/";
    std::mt19937_64 rng(test::TestSeed());
    std::vector<std::vector<uint8_t>> data(kFiles);
    for (int i = 0; i < kFiles; ++i) {
        data[i] = test::RandomBytes(rng, 100 + rng() % 901);
        test::WriteFile(folder + NameOf(i), data[i]);
    }
    auto run = [&](const std::string& arguments) {
        return test::RunShell("cd " + test::ShellQuote(folder) + " && ulimit -n 256 && exec " +
                              VANTROVE_CLI_PATH + " " + arguments + " 2>&1");
    };
    auto damage = [&](int first) {
        // Three files gone, two with bytes overwritten, one cut short.
        for (int i : {first, first + 300, first + 600}) unlink((folder + NameOf(i)).c_str());
        for (int i : {first + 450, first + 900}) {
            std::vector<uint8_t> bytes = data[i];
            bytes[bytes.size() / 2] ^= 0x5a;
            test::WriteFile(folder + NameOf(i), bytes);
        }
        std::vector<uint8_t> cut(data[first + 1050].begin(), data[first + 1050].begin() + 50);
        test::WriteFile(folder + NameOf(first + 1050), cut);
    };

    struct Form {
        const char* name;
        std::string create, verify, repair;
        int firstDamaged;
    };
    const Form forms[] = {
        {"native", "create -s 512 -c 40 -n 2 -o set f*.dat", "verify set.par2",
         "repair --no-trash set.par2", 7},
        {"classic", "par2 c -q -s512 -c40 -n2 classic.par2 f*.dat", "par2 v -q classic.par2",
         "par2 r -q classic.par2", 411},
    };
    for (const Form& form : forms) {
        SCOPED_TRACE(form.name);
        test::ShellOutcome step = run(form.create);
        ASSERT_EQ(step.exitCode, 0) << step.out;
        damage(form.firstDamaged);
        step = run(form.verify);
        EXPECT_EQ(step.exitCode, 1) << step.out;
        step = run(form.repair);
        ASSERT_EQ(step.exitCode, 0) << step.out;
        step = run(form.verify);
        EXPECT_EQ(step.exitCode, 0) << step.out;
        int differing = 0;
        for (int i = 0; i < kFiles; ++i) differing += test::ReadFile(folder + NameOf(i)) != data[i];
        EXPECT_EQ(differing, 0);
    }
}

}  // namespace
}  // namespace vantrove
