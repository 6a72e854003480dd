#pragma once
// Helpers shared by every test program.
//
// The test main (test_main.cpp, or qt_test_main.h for Qt Test programs) points HOME, TMPDIR and the XDG variables at a
// fresh temporary folder before any test runs, so no test ever touches the
// real home folder. Tests make their own data in a TempDir.

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace vantrove::test {

// A temporary folder, removed with everything in it when the object dies.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + name
    std::string File(const std::string& name) const;

private:
    std::string path_;
};

// The root of the per-process sandbox that HOME and XDG_* point into.
const std::string& SandboxRoot();

// Makes the sandbox and points HOME, TMPDIR, TMP, XDG_CONFIG_HOME,
// XDG_CACHE_HOME, XDG_DATA_HOME and XDG_RUNTIME_DIR into it (and selects Qt's
// off-screen platform unless one is chosen). Every test main calls it first.
void EnterSandbox();
// Removes the sandbox with everything in it.
void LeaveSandbox();

// Seed for random tests: VANTROVE_TEST_SEED when set, else a fresh one. The
// value is printed so that a failing run can be repeated.
uint64_t TestSeed();

// Fills a buffer with pseudo-random bytes from the generator.
std::vector<uint8_t> RandomBytes(std::mt19937_64& rng, size_t count);

// Whole-file helpers for test data.
void WriteFile(const std::string& path, const std::vector<uint8_t>& data);
void WriteFile(const std::string& path, const std::string& text);
std::vector<uint8_t> ReadFile(const std::string& path);
bool FileExists(const std::string& path);

}  // namespace vantrove::test
