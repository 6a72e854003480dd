// Kills a real `vantrove-cli repair` and `create` (SIGKILL, through the test
// build's crash points) just before one file operation after another, and
// checks each time that every file of the folder is as it was or complete,
// and that a second run then succeeds and leaves nothing behind. Skipped
// where `par2` is not installed (it makes and checks the sets).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>

#include "core/disk_file.h"
#include "support/shell.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;
using Bytes = std::vector<uint8_t>;
using Contents = std::map<std::string, Bytes>;

constexpr size_t kBlock = 8192;
// Crash points tried per job: all of them when there are fewer.
constexpr uint64_t kMaxPoints = 48;

std::string Quote(const std::string& s) {
    return test::ShellQuote(s);
}

Contents ReadFolder(const std::string& folder) {
    Contents files;
    for (const auto& e : fs::directory_iterator(folder))
        files[e.path().filename().string()] = ReadFile(e.path().string());
    return files;
}

void WriteFolder(const std::string& folder, const Contents& files) {
    fs::remove_all(folder);
    fs::create_directories(folder);
    for (const auto& [name, data] : files) WriteFile(folder + "/" + name, data);
}

// Runs the program in `folder` with the crash point at operation `crashAt`
// (0: none). Returns the number of file operations it made when it ran to
// its end, and -1 when it was killed.
int64_t RunCli(const std::string& folder, const std::string& arguments, uint64_t crashAt,
               int* exitCode = nullptr) {
    const std::string count = folder + "/../operations";
    std::remove(count.c_str());
    const test::ShellOutcome run =
        test::RunShell("cd " + Quote(folder) + " && VANTROVE_CRASH_AT=" + std::to_string(crashAt) +
                       " VANTROVE_CRASH_COUNT=" + Quote(count) + " " + VANTROVE_CLI_PATH + " " +
                       arguments + " >/dev/null 2>&1; echo $?");
    const int code = std::atoi(run.out.c_str());
    if (exitCode) *exitCode = code;
    if (code == 128 + 9) return -1;
    const Bytes text = ReadFile(count);
    return std::atoll(std::string(text.begin(), text.end()).c_str());
}

// The points to try among `total` operations: spread evenly, the first
// and the last always.
std::vector<uint64_t> CrashPoints(uint64_t total) {
    std::vector<uint64_t> points;
    const uint64_t n = std::min(total, kMaxPoints);
    for (uint64_t i = 0; i < n; ++i)
        points.push_back(1 + i * (total - 1) / std::max<uint64_t>(n - 1, 1));
    points.erase(std::unique(points.begin(), points.end()), points.end());
    return points;
}

// The names in `folder` that look like work files.
std::vector<std::string> WorkNames(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        if (IsPartFileName(e.path().filename().string())) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// Every work file a killed job left is journaled as ours, so that the next
// job may remove it.
void ExpectLeftoversJournaled(const std::string& folder) {
    const std::vector<std::string> left = WorkNames(folder);
    if (left.empty()) return;
    EXPECT_TRUE(fs::exists(folder + "/.vantrove-journal"));
    EXPECT_EQ(ListPartFiles(folder), left);
}

// After a job that ran to its end, nothing of ours is left: no work file,
// no journal.
void ExpectNothingOfOursLeft(const std::string& folder) {
    EXPECT_TRUE(WorkNames(folder).empty());
    EXPECT_FALSE(fs::exists(folder + "/.vantrove-journal"));
}

bool PeerVerifies(const std::string& folder, const std::string& index) {
    return test::RunShell("cd " + Quote(folder) + " && par2 v -q -q " + Quote(index) +
                          " >/dev/null 2>&1")
               .exitCode == 0;
}

class CrashPoint : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!test::HaveCommand("par2")) GTEST_SKIP() << "par2 is not installed";
        std::mt19937_64 rng(test::TestSeed());
        whole_["a.bin"] = test::RandomBytes(rng, 7 * kBlock + 11);
        whole_["b.bin"] = test::RandomBytes(rng, 5 * kBlock);
        whole_["c.bin"] = test::RandomBytes(rng, 3 * kBlock - 5);
        folder_ = dir_.path() + "/set";
    }

    test::TempDir dir_;
    std::string folder_;
    Contents whole_;
};

// Before the kill a folder holds the set with a.bin missing and b.bin
// damaged. After it every file must be one of: a volume as it was, a data
// file whole or as it was, the damaged b.bin stepped aside whole, or a work
// file of ours (shown, and removed by the next run).
TEST_F(CrashPoint, KilledRepairLeavesEveryFileAsItWasOrComplete) {
    WriteFolder(folder_, whole_);
    ASSERT_EQ(test::RunShell("cd " + Quote(folder_) + " && par2 c -q -q -s" +
                             std::to_string(kBlock) + " -c12 set.par2 a.bin b.bin c.bin >/dev/null")
                  .exitCode,
              0);
    Contents before = ReadFolder(folder_);
    before.erase("a.bin");
    before["b.bin"][100] ^= 0x55;
    before["b.bin"][3 * kBlock] ^= 0x55;

    WriteFolder(folder_, before);
    const int64_t total = RunCli(folder_, "repair --keep-damaged set.par2", 0);
    ASSERT_GT(total, 0);
    for (uint64_t point : CrashPoints(static_cast<uint64_t>(total))) {
        SCOPED_TRACE("crash before file operation " + std::to_string(point) + " of " +
                     std::to_string(total));
        WriteFolder(folder_, before);
        RunCli(folder_, "repair --keep-damaged set.par2", point);
        ExpectLeftoversJournaled(folder_);
        for (const auto& [name, data] : ReadFolder(folder_)) {
            if (IsPartFileName(name) || name == ".vantrove-journal") continue;
            const auto was = before.find(name);
            const auto full = whole_.find(name);
            const bool asItWas = was != before.end() && was->second == data;
            const bool complete = full != whole_.end() && full->second == data;
            const bool steppedAside = name.rfind("b.bin.", 0) == 0 && data == before.at("b.bin");
            EXPECT_TRUE(asItWas || complete || steppedAside) << name;
        }
        for (const auto& [name, data] : before) {
            // The damaged data is never lost: in place or stepped aside.
            if (name == "b.bin") continue;
            EXPECT_TRUE(fs::exists(folder_ + "/" + name)) << name;
        }

        int code = -1;
        ASSERT_GE(RunCli(folder_, "repair --keep-damaged set.par2", 0, &code), 0);
        EXPECT_EQ(code, 0);
        for (const auto& [name, data] : whole_)
            EXPECT_EQ(ReadFile(folder_ + "/" + name), data) << name;
        ExpectNothingOfOursLeft(folder_);
        EXPECT_TRUE(PeerVerifies(folder_, "set.par2"));
        if (HasFailure()) break;
    }
}

// A killed creation leaves the sources as they were and no recovery file
// under its final name unless it is complete; a second run (replacing what
// the first one finished) succeeds and leaves no work file.
TEST_F(CrashPoint, KilledCreateLeavesNoUnfinishedRecoveryFile) {
    const std::string arguments =
        "create -s " + std::to_string(kBlock) + " -c 9 -n 3 -o set a.bin b.bin c.bin";
    WriteFolder(folder_, whole_);
    const int64_t total = RunCli(folder_, arguments, 0);
    ASSERT_GT(total, 0);
    ASSERT_TRUE(PeerVerifies(folder_, "set.par2"));
    Contents made = ReadFolder(folder_);
    for (const auto& [name, data] : whole_) made.erase(name);
    ASSERT_FALSE(made.empty());

    for (uint64_t point : CrashPoints(static_cast<uint64_t>(total))) {
        SCOPED_TRACE("crash before file operation " + std::to_string(point) + " of " +
                     std::to_string(total));
        WriteFolder(folder_, whole_);
        RunCli(folder_, arguments, point);
        ExpectLeftoversJournaled(folder_);
        for (const auto& [name, data] : ReadFolder(folder_)) {
            if (IsPartFileName(name) || name == ".vantrove-journal") continue;
            const auto source = whole_.find(name);
            if (source != whole_.end()) {
                EXPECT_EQ(data, source->second) << name;
                continue;
            }
            // Recovery files differ from run to run (their set id); a whole
            // one has the size of the reference run's file of its name.
            const auto reference = made.find(name);
            ASSERT_NE(reference, made.end()) << name;
            EXPECT_EQ(data.size(), reference->second.size()) << name;
        }

        int code = -1;
        ASSERT_GE(RunCli(folder_, "create --force" + arguments.substr(6), 0, &code), 0);
        EXPECT_EQ(code, 0);
        ExpectNothingOfOursLeft(folder_);
        EXPECT_TRUE(PeerVerifies(folder_, "set.par2"));
        for (const auto& [name, data] : whole_)
            EXPECT_EQ(ReadFile(folder_ + "/" + name), data) << name;
        if (HasFailure()) break;
    }
}

}  // namespace
}  // namespace vantrove
