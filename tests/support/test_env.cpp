#include "support/test_env.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>

namespace vantrove::test {
namespace {

std::string MakeTempFolder(const std::string& parent, const char* prefix) {
    std::string pattern = parent + "/" + prefix + "XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed in " + parent);
    return buffer.data();
}

std::string& SandboxStorage() {
    static std::string root;
    return root;
}

}  // namespace

const std::string& SandboxRoot() { return SandboxStorage(); }

TempDir::TempDir() {
    const std::string& root = SandboxRoot();
    path_ = MakeTempFolder(root.empty() ? std::string("/tmp") : root + "/tmp", "t");
}

TempDir::~TempDir() {
    std::error_code ec;
    // Tests may leave read-only folders behind; make them writable again first.
    for (auto it = std::filesystem::recursive_directory_iterator(
             path_, std::filesystem::directory_options::skip_permission_denied, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec)) chmod(it->path().c_str(), 0700);
    }
    chmod(path_.c_str(), 0700);
    std::filesystem::remove_all(path_, ec);
}

std::string TempDir::File(const std::string& name) const { return path_ + "/" + name; }

uint64_t TestSeed() {
    static uint64_t seed = [] {
        uint64_t value;
        if (const char* env = std::getenv("VANTROVE_TEST_SEED")) {
            value = std::strtoull(env, nullptr, 0);
        } else {
            value = std::random_device{}();
            value = (value << 32) ^ std::random_device{}();
        }
        std::cout << "[ seed     ] VANTROVE_TEST_SEED=" << value << std::endl;
        return value;
    }();
    return seed;
}

std::vector<uint8_t> RandomBytes(std::mt19937_64& rng, size_t count) {
    std::vector<uint8_t> out(count);
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        uint64_t v = rng();
        std::memcpy(out.data() + i, &v, 8);
    }
    for (; i < count; ++i) out[i] = static_cast<uint8_t>(rng());
    return out;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

void WriteFile(const std::string& path, const std::string& text) {
    WriteFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

bool FileExists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

void EnterSandbox() {
    if (!SandboxStorage().empty()) return;
    std::string base = "/tmp";
    if (const char* t = std::getenv("TMPDIR"); t && *t) base = t;
    std::string root = MakeTempFolder(base, "vantrove-test-");
    SandboxStorage() = root;
    for (const char* sub : {"/home", "/config", "/cache", "/data", "/runtime", "/tmp"}) {
        mkdir((root + sub).c_str(), 0700);
    }
    setenv("HOME", (root + "/home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    setenv("XDG_CACHE_HOME", (root + "/cache").c_str(), 1);
    setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (root + "/runtime").c_str(), 1);
    setenv("TMPDIR", (root + "/tmp").c_str(), 1);
    setenv("TMP", (root + "/tmp").c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
}

void LeaveSandbox() {
    std::string& root = SandboxStorage();
    if (root.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
    root.clear();
}

}  // namespace vantrove::test
