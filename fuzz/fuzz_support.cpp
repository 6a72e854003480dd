#include "fuzz/fuzz_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

namespace vantrove::fuzz {
namespace {

namespace fs = std::filesystem;

std::string g_root;
std::string g_set;
std::string g_cache;
std::map<std::string, std::string> g_outside;  // relative path → contents

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

// Every file under the root but those in the set's folder and the cache.
std::map<std::string, std::string> Snapshot() {
    std::map<std::string, std::string> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(g_root, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (ec) break;
        const std::string path = it->path().string();
        if (path + "/" == g_set || path.rfind(g_set, 0) == 0 || path + "/" == g_cache ||
            path.rfind(g_cache, 0) == 0) {
            if (it->is_directory() && !it->is_symlink()) it.disable_recursion_pending();
            continue;
        }
        const std::string relative = path.substr(g_root.size());
        files[relative] = it->is_symlink()             ? "link:" + fs::read_symlink(path).string()
                          : it->is_regular_file() ? ReadAll(path)
                                                       : std::string("folder");
    }
    return files;
}

}  // namespace

void WriteDataFiles(const std::string& folder) {
    // The same bytes as fuzz/make_corpus.sh writes.
    std::string a(3000, '\0'), b(1500, '\0');
    for (size_t i = 0; i < a.size(); ++i) a[i] = static_cast<char>((i * 7 + 1) % 251);
    for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<char>((i * 13 + 5) % 241);
    WriteAll(folder + "a.bin", a);
    WriteAll(folder + "b.bin", b);
}

void Setup(bool cacheUsable) {
    if (!g_root.empty()) return;
    char pattern[] = "/tmp/vantrove-fuzz-XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    g_root = std::string(pattern) + "/";
    g_set = g_root + "work/set/";
    fs::create_directories(g_set);
    fs::create_directories(g_root + "home");
    fs::create_directories(g_root + "config");
    // Files a hostile set might aim at: beside the set, above it, and one
    // named like a file in it.
    fs::create_directories(g_root + "work/outside");
    WriteAll(g_root + "work/outside/victim.dat", "victim");
    WriteAll(g_root + "work/a.bin", "not the set's a.bin");
    WriteAll(g_root + "work/set.par2", "a neighbour");
    if (cacheUsable) {
        fs::create_directories(g_root + "cache");
        g_cache = g_root + "cache/Vantrove/";
        setenv("XDG_CACHE_HOME", (g_root + "cache").c_str(), 1);
    } else {
        // A file where the cache folder would have to be.
        WriteAll(g_root + "nocache", "a file");
        g_cache = g_root + "nocache/Vantrove/";
        setenv("XDG_CACHE_HOME", (g_root + "nocache").c_str(), 1);
    }
    setenv("HOME", (g_root + "home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (g_root + "config").c_str(), 1);
    setenv("XDG_DATA_HOME", (g_root + "home/data").c_str(), 1);
    ResetSetFolder();
    g_outside = Snapshot();
    std::atexit([] {
        std::error_code ec;
        fs::remove_all(g_root, ec);
    });
}

const std::string& SetFolder() {
    return g_set;
}
const std::string& CacheFolder() {
    return g_cache;
}

void ResetSetFolder() {
    std::error_code ec;
    fs::remove_all(g_set, ec);
    fs::create_directories(g_set);
    WriteDataFiles(g_set);
}

std::string WriteInput(const std::string& name, const uint8_t* data, size_t size) {
    const std::string path = g_set + name;
    WriteAll(path, std::string(reinterpret_cast<const char*>(data), size));
    return path;
}

void CheckOutside() {
    const auto now = Snapshot();
    if (now == g_outside) return;
    for (const auto& [path, contents] : now) {
        auto it = g_outside.find(path);
        if (it == g_outside.end()) std::fprintf(stderr, "outside the set: new %s\n", path.c_str());
        else if (it->second != contents)
            std::fprintf(stderr, "outside the set: changed %s\n", path.c_str());
    }
    for (const auto& [path, contents] : g_outside) {
        if (!now.count(path)) std::fprintf(stderr, "outside the set: gone %s\n", path.c_str());
    }
    std::abort();
}

}  // namespace vantrove::fuzz
