#include "engine/verification_cache.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/disk_file.h"
#include "core/path.h"

namespace vantrove {
namespace {

constexpr char kIndexMagic[8] = {'V', 'T', 'C', 0, 0, 0, 1, 0};
constexpr size_t kBucketCount = 17;
constexpr int kMaxStateNames = 999;

struct IndexEntry {
    std::string key;
    std::string stateFile;
    FileTime lastUse = 0;
};

// The in-memory index: a hash map of 17 buckets, iterated bucket by bucket.
class IndexMap {
  public:
    IndexEntry* Find(const std::string& key) {
        for (IndexEntry& e : buckets_[Bucket(key)]) {
            if (e.key == key) return &e;
        }
        return nullptr;
    }
    void Set(IndexEntry entry) {
        if (IndexEntry* e = Find(entry.key)) {
            *e = std::move(entry);
        } else {
            buckets_[Bucket(entry.key)].push_back(std::move(entry));
        }
    }
    bool UsesStateFile(const std::string& path) const {
        for (const auto& bucket : buckets_) {
            for (const IndexEntry& e : bucket) {
                if (e.stateFile == path) return true;
            }
        }
        return false;
    }
    void Clear() {
        for (auto& bucket : buckets_) bucket.clear();
    }
    size_t Size() const {
        size_t n = 0;
        for (const auto& bucket : buckets_) n += bucket.size();
        return n;
    }
    template <class F>
    void ForEach(F f) const {
        for (const auto& bucket : buckets_) {
            for (const IndexEntry& e : bucket) f(e);
        }
    }

  private:
    static size_t Bucket(const std::string& key) {
        uint32_t h = 2166136261u;  // FNV-1a
        for (unsigned char c : key) {
            h ^= c;
            h *= 16777619u;
        }
        return h % kBucketCount;
    }
    std::array<std::vector<IndexEntry>, kBucketCount> buckets_;
};

bool PathExists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

void RemoveFile(const std::string& path) {
    DiskFile file(path);
    file.remove();
}

// An environment variable's value when it is set, not empty and fits a path.
std::string EnvValue(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] == '\0' || std::strlen(value) >= PATH_MAX) return {};
    return value;
}

std::string WithSlash(std::string folder) {
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return folder;
}

// The key's file name without folder and without its last extension.
std::string StateBaseName(const std::string& key) {
    std::string name = FileNameOfPath(key);
    size_t dot = name.rfind('.');
    if (dot != std::string::npos) name.resize(dot);
    return name;
}

}  // namespace

std::string FindApplicationDataFolder() {
    // A relative XDG_CACHE_HOME is invalid and ignored; the fallbacks are
    // taken as they stand (CacheFileFor refuses a relative folder).
    std::string cacheHome = EnvValue("XDG_CACHE_HOME");
    if (!cacheHome.empty() && cacheHome[0] == '/') return WithSlash(cacheHome);
    std::string home = EnvValue("HOME");
    if (!home.empty() && home[0] == '/') return WithSlash(home) + ".cache/";
    for (const char* name : {"TMPDIR", "TMP"}) {
        std::string value = EnvValue(name);
        if (!value.empty()) return WithSlash(value);
    }
    return "/tmp/";
}

const std::string& ApplicationDataFolder() {
    static const std::string folder = FindApplicationDataFolder();
    return folder;
}

VerificationCache::VerificationCache(std::string cacheFolder, Clock clock)
    : folder_(std::move(cacheFolder)), clock_(std::move(clock)) {}

VerificationCache& VerificationCache::Default() {
    static VerificationCache cache(ApplicationDataFolder() + "Vantrove/");
    return cache;
}

namespace {

// Our cache folder is one that nobody else can put files into or take files
// out of: a folder (not a link to one) owned by us and writable by nobody
// else. Another user's folder of the same name, in a shared TMPDIR, is
// never used.
bool IsOwnFolder(const std::string& folder) {
    struct stat st;
    return lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace

bool VerificationCache::EnsureFolder() const {
    if (folder_.empty() || folder_[0] != '/') return false;
    std::string folder = folder_;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    struct stat st;
    if (lstat(folder.c_str(), &st) == 0) return IsOwnFolder(folder);
    // Create every missing folder along the path.
    for (size_t pos = folder.find('/', 1);; pos = folder.find('/', pos + 1)) {
        std::string prefix = pos == std::string::npos ? folder : folder.substr(0, pos);
        if (stat(prefix.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode)) return false;
        } else if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
        if (pos == std::string::npos) break;
    }
    return IsOwnFolder(folder);
}

bool VerificationCache::IsOwnStateFile(const std::string& path) const {
    if (path.size() <= folder_.size() + 3 || path.compare(0, folder_.size(), folder_) != 0) {
        return false;
    }
    std::string name = path.substr(folder_.size());
    return name.find('/') == std::string::npos && name != "cache.vtc" &&
           name.compare(name.size() - 3, 3, ".vt") == 0;
}

std::string VerificationCache::CacheFileFor(const std::string& key, bool create) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!EnsureFolder()) return key;
    const FileTime now = clock_ ? clock_() : CurrentFileTime();

    // Read the whole index first and act on it only when its digest holds: a
    // damaged index must not make us delete files it seems to name.
    std::vector<IndexEntry> stored;
    {
        StateReader reader;
        if (reader.Open(IndexPath())) {
            char magic[8];
            reader.ReadBytes(magic, sizeof magic);
            if (std::memcmp(magic, kIndexMagic, sizeof magic) != 0) reader.Fail();
            uint32_t count = reader.ReadU32();
            for (uint32_t i = 0; i < count && !reader.failed(); ++i) {
                IndexEntry e;
                reader.ReadString(e.key);
                reader.ReadString(e.stateFile);
                e.lastUse = reader.ReadU64();
                if (!reader.failed()) stored.push_back(std::move(e));
            }
            if (!reader.CheckDigest()) stored.clear();
        }
    }

    IndexMap index;
    for (IndexEntry& e : stored) {
        // A state file outside our folder is never used or deleted.
        if (!IsOwnStateFile(e.stateFile)) continue;
        bool expired = now > e.lastUse && now - e.lastUse > kCacheExpiry;
        if ((e.key != key && expired) || (e.key == key && !create)) {
            RemoveFile(e.stateFile);
            RemoveFile(e.stateFile + ".bak");
            continue;
        }
        index.Set(std::move(e));
    }

    std::string result;
    if (create) {
        if (IndexEntry* e = index.Find(key)) {
            result = e->stateFile;
        } else {
            const std::string name = StateBaseName(key);
            for (int n = 1; n <= kMaxStateNames && result.empty(); ++n) {
                std::string candidate = folder_ + name + "(" + std::to_string(n) + ").vt";
                if (!PathExists(candidate) && !index.UsesStateFile(candidate)) result = candidate;
            }
            if (result.empty()) return key;
        }
        index.Set({key, result, now});
    }

    StateWriter writer;
    if (writer.Open(IndexPath())) {
        writer.WriteBytes(kIndexMagic, sizeof kIndexMagic);
        writer.WriteU32(static_cast<uint32_t>(index.Size()));
        index.ForEach([&writer](const IndexEntry& e) {
            writer.WriteString(e.key);
            writer.WriteString(e.stateFile);
            writer.WriteU64(e.lastUse);
        });
        writer.CloseStream();
    }
    return result;
}

bool VerificationCache::OpenStateForWrite(const std::string& key, StateWriter& writer) {
    std::string path = CacheFileFor(key, true);
    return !path.empty() && writer.Open(path);
}

bool VerificationCache::OpenStateForRead(const std::string& key, StateReader& reader) {
    std::string path = CacheFileFor(key, true);
    return !path.empty() && reader.Open(path);
}

void VerificationCache::DiscardState(const std::string& key) {
    std::string path = CacheFileFor(key, false);
    if (path.empty()) return;
    RemoveFile(path);
    RemoveFile(path + ".bak");
}

}  // namespace vantrove
