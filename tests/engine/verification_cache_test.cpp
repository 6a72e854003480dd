// The verification cache: folder, index, names, expiry and discarding.

#include "engine/verification_cache.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "support/test_env.h"

namespace vantrove {
namespace {

using test::FileExists;
using test::ReadFile;
using test::TempDir;

constexpr FileTime kSecond = 10000000ULL;
constexpr FileTime kDay = 86400 * kSecond;
constexpr FileTime kStart = 133000000000000000ULL;  // some day in 2022

struct IndexRecord {
    std::string key;
    std::string stateFile;
    FileTime lastUse;
};

// An independent reading of cache.vtc: magic, count, entries, digest.
std::optional<std::vector<IndexRecord>> ReadIndex(const std::string& path) {
    if (!FileExists(path)) return std::nullopt;
    StateReader r;
    if (!r.Open(path)) return std::nullopt;
    char magic[8];
    r.ReadBytes(magic, 8);
    if (std::memcmp(magic, "VTC\0\0\0\1\0", 8) != 0) return std::nullopt;
    std::vector<IndexRecord> out(r.ReadU32());
    for (auto& e : out) {
        r.ReadString(e.key);
        r.ReadString(e.stateFile);
        e.lastUse = r.ReadU64();
    }
    if (!r.CheckDigest()) return std::nullopt;
    return out;
}

std::optional<IndexRecord> Lookup(const std::string& indexPath, const std::string& key) {
    auto index = ReadIndex(indexPath);
    if (!index) return std::nullopt;
    for (const auto& e : *index) {
        if (e.key == key) return e;
    }
    return std::nullopt;
}

class CacheTest : public ::testing::Test {
  protected:
    CacheTest() : cache(dir.path() + "/cache/Vantrove/", [this] { return now; }) {}

    // Puts a state file (and its .bak) where the cache says.
    std::string Touch(const std::string& key) {
        std::string path = cache.CacheFileFor(key, true);
        test::WriteFile(path, std::string("state"));
        test::WriteFile(path + ".bak", std::string("old state"));
        return path;
    }

    TempDir dir;
    FileTime now = kStart;
    VerificationCache cache;
};

TEST_F(CacheTest, CreatesTheFolderAndNamesTheStateFileAfterTheKey) {
    std::string path = cache.CacheFileFor("/x/movie.vt2", true);
    EXPECT_EQ(path, dir.path() + "/cache/Vantrove/movie(1).vt");
    struct stat st;
    ASSERT_EQ(stat((dir.path() + "/cache/Vantrove").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    auto entry = Lookup(cache.IndexPath(), "/x/movie.vt2");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->stateFile, path);
    EXPECT_EQ(entry->lastUse, kStart);
    // The index file itself is in the container format: its magic first.
    std::vector<uint8_t> bytes = ReadFile(cache.IndexPath());
    ASSERT_GE(bytes.size(), 8u);
    EXPECT_EQ(std::memcmp(bytes.data(), "VTC\0\0\0\1\0", 8), 0);
}

TEST_F(CacheTest, SameSetReusesItsNameAndMovesItsTime) {
    std::string first = Touch("/x/movie.vt2");
    now += 3 * kDay;
    EXPECT_EQ(cache.CacheFileFor("/x/movie.vt2", true), first);
    EXPECT_EQ(Lookup(cache.IndexPath(), "/x/movie.vt2")->lastUse, kStart + 3 * kDay);
    EXPECT_TRUE(FileExists(first));
}

TEST_F(CacheTest, TwoSetsOfOneNameInTwoFoldersGetTwoStateFiles) {
    std::string a = Touch("/x/movie.vt2");
    std::string b = Touch("/y/movie.vt2");
    EXPECT_EQ(a, dir.path() + "/cache/Vantrove/movie(1).vt");
    EXPECT_EQ(b, dir.path() + "/cache/Vantrove/movie(2).vt");
    // Also when the first set has not written its state yet.
    std::string c = cache.CacheFileFor("/x/clip.vt6", true);
    std::string d = cache.CacheFileFor("/y/clip.vt6", true);
    EXPECT_NE(c, d);
    EXPECT_EQ(d, dir.path() + "/cache/Vantrove/clip(2).vt");
}

TEST_F(CacheTest, EntryUnusedForSevenDaysAndASecondExpiresWithItsFiles) {
    std::string old = Touch("/x/old.vt2");
    now += 7 * kDay + kSecond;
    std::string fresh = cache.CacheFileFor("/x/new.vt2", true);
    EXPECT_FALSE(FileExists(old));
    EXPECT_FALSE(FileExists(old + ".bak"));
    EXPECT_FALSE(Lookup(cache.IndexPath(), "/x/old.vt2"));
    EXPECT_TRUE(Lookup(cache.IndexPath(), "/x/new.vt2"));
}

TEST_F(CacheTest, EntryUsedSixDaysAgoOrExactlySevenStays) {
    std::string old = Touch("/x/old.vt2");
    now += 6 * kDay;
    cache.CacheFileFor("/x/new.vt2", true);
    EXPECT_TRUE(FileExists(old));
    ASSERT_TRUE(Lookup(cache.IndexPath(), "/x/old.vt2"));
    EXPECT_EQ(Lookup(cache.IndexPath(), "/x/old.vt2")->lastUse, kStart);
    now = kStart + 7 * kDay;
    cache.CacheFileFor("/x/new.vt2", true);
    EXPECT_TRUE(FileExists(old));
}

TEST_F(CacheTest, OwnKeyNeverExpiresOnItsOwnAccess) {
    std::string old = Touch("/x/movie.vt2");
    now += 30 * kDay;
    EXPECT_EQ(cache.CacheFileFor("/x/movie.vt2", true), old);
    EXPECT_TRUE(FileExists(old));
}

TEST_F(CacheTest, IndexWithADamagedLastByteReadsAsEmpty) {
    std::string a = Touch("/x/movie.vt2");
    now += 8 * kDay;  // the entry would be expired, were the index readable
    std::vector<uint8_t> bytes = ReadFile(cache.IndexPath());
    bytes.back() ^= 0xFF;
    test::WriteFile(cache.IndexPath(), bytes);
    // The damaged index names nothing: no file is deleted, and the set gets
    // a name of its own again (movie(1).vt is still on disk).
    std::string b = cache.CacheFileFor("/y/other.vt2", true);
    EXPECT_TRUE(FileExists(a));
    EXPECT_FALSE(Lookup(cache.IndexPath(), "/x/movie.vt2"));
    EXPECT_EQ(cache.CacheFileFor("/x/movie.vt2", true), dir.path() + "/cache/Vantrove/movie(2).vt");
    (void)b;
}

TEST_F(CacheTest, ForeignOrTruncatedIndexReadsAsEmpty) {
    cache.CacheFileFor("/x/a.vt2", true);
    std::vector<uint8_t> bytes = ReadFile(cache.IndexPath());
    std::vector<uint8_t> foreign = bytes;
    foreign[2] = 'X';
    test::WriteFile(cache.IndexPath(), foreign);
    cache.CacheFileFor("/x/b.vt2", true);
    EXPECT_FALSE(Lookup(cache.IndexPath(), "/x/a.vt2"));
    ASSERT_TRUE(Lookup(cache.IndexPath(), "/x/b.vt2"));

    bytes = ReadFile(cache.IndexPath());
    bytes.resize(bytes.size() / 2);
    test::WriteFile(cache.IndexPath(), bytes);
    cache.CacheFileFor("/x/c.vt2", true);
    EXPECT_FALSE(Lookup(cache.IndexPath(), "/x/b.vt2"));
    EXPECT_TRUE(Lookup(cache.IndexPath(), "/x/c.vt2"));
}

TEST_F(CacheTest, IndexNeverMakesUsTouchFilesOutsideTheCacheFolder) {
    const std::string victim = dir.File("victim.vt");
    test::WriteFile(victim, std::string("precious"));
    cache.CacheFileFor("/x/first.vt2", true);  // creates the folder
    {
        // A well-formed index whose expired entry and whose entry for our key
        // both name a file outside the cache folder.
        StateWriter w;
        ASSERT_TRUE(w.Open(cache.IndexPath()));
        w.WriteBytes("VTC\0\0\0\1\0", 8);
        w.WriteU32(2);
        w.WriteString("/x/expired.vt2");
        w.WriteString(victim);
        w.WriteU64(1);
        w.WriteString("/x/mine.vt2");
        w.WriteString(dir.path() + "/cache/Vantrove/../../victim.vt");
        w.WriteU64(kStart);
        ASSERT_TRUE(w.CloseStream());
    }
    std::string path = cache.CacheFileFor("/x/mine.vt2", true);
    EXPECT_EQ(path, dir.path() + "/cache/Vantrove/mine(1).vt");
    EXPECT_TRUE(FileExists(victim));
    EXPECT_EQ(ReadFile(victim).size(), 8u);
}

TEST_F(CacheTest, DiscardStateDeletesTheFileAndForgetsTheKey) {
    std::string a = Touch("/x/movie.vt2");
    std::string b = Touch("/y/movie.vt2");
    cache.DiscardState("/x/movie.vt2");
    EXPECT_FALSE(FileExists(a));
    EXPECT_FALSE(FileExists(a + ".bak"));
    EXPECT_TRUE(FileExists(b));
    EXPECT_FALSE(Lookup(cache.IndexPath(), "/x/movie.vt2"));
    EXPECT_TRUE(Lookup(cache.IndexPath(), "/y/movie.vt2"));
    EXPECT_EQ(cache.CacheFileFor("/x/movie.vt2", false), "");
}

TEST_F(CacheTest, AllNamesTakenPutsTheStateBesideTheSet) {
    cache.CacheFileFor("/x/first.vt2", true);
    for (int n = 1; n <= 999; ++n) {
        test::WriteFile(dir.path() + "/cache/Vantrove/full(" + std::to_string(n) + ").vt",
                        std::string());
    }
    std::vector<uint8_t> before = ReadFile(cache.IndexPath());
    EXPECT_EQ(cache.CacheFileFor("/x/full.vt5", true), "/x/full.vt5");
    EXPECT_EQ(ReadFile(cache.IndexPath()), before);  // index not written
}

TEST_F(CacheTest, OpenForWriteAndReadGoThroughTheIndex) {
    {
        StateWriter w;
        ASSERT_TRUE(cache.OpenStateForWrite("/x/movie.vt2", w));
        w.WriteU32(1234);
        ASSERT_TRUE(w.CloseStream());
    }
    StateReader r;
    ASSERT_TRUE(cache.OpenStateForRead("/x/movie.vt2", r));
    EXPECT_EQ(r.ReadU32(), 1234u);
    EXPECT_TRUE(r.CheckDigest());
    StateReader none;
    EXPECT_FALSE(cache.OpenStateForRead("/x/never.vt2", none));
}

// A kill between the two renames of the index save leaves only
// "cache.vtc.bak": the index is read back from it and the set keeps its
// state file instead of getting a new name.
TEST_F(CacheTest, IndexKilledBetweenItsRenamesIsReadFromTheBak) {
    const std::string a = Touch("/x/movie.vt2");
    Touch("/y/other.vt2");
    const std::string index = cache.IndexPath();
    ASSERT_EQ(std::remove((index + ".bak").c_str()), 0);
    ASSERT_EQ(std::rename(index.c_str(), (index + ".bak").c_str()), 0);
    EXPECT_EQ(cache.CacheFileFor("/x/movie.vt2", true), a);
    EXPECT_TRUE(Lookup(index, "/y/other.vt2"));
}

// The cache folder is used only when it is ours: another user's folder, or
// one that others may write into, would let them plant or swap our state.
TEST(CacheFolder, AFolderNotOursPutsTheStateBesideTheSet) {
    TempDir dir;
    const std::string folder = dir.File("Vantrove");
    VerificationCache fresh(folder + "/");
    EXPECT_EQ(fresh.CacheFileFor("/x/movie.vt2", true), folder + "/movie(1).vt");
    struct stat st {};
    ASSERT_EQ(stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    ASSERT_EQ(chmod(folder.c_str(), 0777), 0);
    VerificationCache shared(folder + "/");
    EXPECT_EQ(shared.CacheFileFor("/x/movie.vt2", true), "/x/movie.vt2");
    ASSERT_EQ(chmod(folder.c_str(), 0770), 0);
    EXPECT_EQ(shared.CacheFileFor("/x/movie.vt2", true), "/x/movie.vt2");

    // A link to a folder of ours is not the folder either.
    ASSERT_EQ(chmod(folder.c_str(), 0700), 0);
    ASSERT_EQ(symlink(folder.c_str(), dir.File("link").c_str()), 0);
    VerificationCache linked(dir.File("link") + "/");
    EXPECT_EQ(linked.CacheFileFor("/x/movie.vt2", true), "/x/movie.vt2");

    if (geteuid() == 0) {  // only root can give a folder to another user
        ASSERT_EQ(chown(folder.c_str(), 65534, 65534), 0);
        VerificationCache foreign(folder + "/");
        EXPECT_EQ(foreign.CacheFileFor("/x/movie.vt2", true), "/x/movie.vt2");
    }
}

TEST(CacheFolder, AFolderThatCannotBeCreatedPutsTheStateBesideTheSet) {
    TempDir dir;
    test::WriteFile(dir.File("file"), std::string("not a folder"));
    VerificationCache underFile(dir.File("file") + "/Vantrove/");
    EXPECT_EQ(underFile.CacheFileFor("/x/movie.vt2", true), "/x/movie.vt2");
    VerificationCache isFile(dir.File("file") + "/");
    EXPECT_EQ(isFile.CacheFileFor("/x/movie.vt2", true), "/x/movie.vt2");
    VerificationCache relative("relative/Vantrove/");
    EXPECT_EQ(relative.CacheFileFor("/x/movie.vt2", true), "/x/movie.vt2");
    EXPECT_FALSE(FileExists("relative"));
    if (geteuid() != 0) {
        ASSERT_EQ(mkdir(dir.File("locked").c_str(), 0500), 0);
        VerificationCache locked(dir.File("locked") + "/a/b/Vantrove/");
        EXPECT_EQ(locked.CacheFileFor("/x/movie.vt2", true), "/x/movie.vt2");
    }
    // Beside the set, writing and reading still work.
    StateWriter w;
    ASSERT_TRUE(relative.OpenStateForWrite(dir.File("movie.vt2"), w));
    w.WriteU32(7);
    ASSERT_TRUE(w.CloseStream());
    EXPECT_TRUE(FileExists(dir.File("movie.vt2")));
    relative.DiscardState(dir.File("movie.vt2"));
    EXPECT_FALSE(FileExists(dir.File("movie.vt2")));
}

class EnvironmentGuard {
  public:
    EnvironmentGuard() {
        for (const char* name : kNames) {
            const char* v = std::getenv(name);
            saved_.push_back(v ? std::optional<std::string>(v) : std::nullopt);
            unsetenv(name);
        }
    }
    ~EnvironmentGuard() {
        for (size_t i = 0; i < saved_.size(); ++i) {
            if (saved_[i]) {
                setenv(kNames[i], saved_[i]->c_str(), 1);
            } else {
                unsetenv(kNames[i]);
            }
        }
    }

  private:
    static constexpr const char* kNames[] = {"XDG_CACHE_HOME", "HOME", "TMPDIR", "TMP"};
    std::vector<std::optional<std::string>> saved_;
};

TEST(CacheFolder, ApplicationDataFolderFollowsTheEnvironmentInOrder) {
    EnvironmentGuard guard;
    EXPECT_EQ(FindApplicationDataFolder(), "/tmp/");
    setenv("TMP", "/t2", 1);
    EXPECT_EQ(FindApplicationDataFolder(), "/t2/");
    setenv("TMPDIR", "/t1/", 1);
    EXPECT_EQ(FindApplicationDataFolder(), "/t1/");
    setenv("HOME", "/home/u", 1);
    EXPECT_EQ(FindApplicationDataFolder(), "/home/u/.cache/");
    setenv("XDG_CACHE_HOME", "relative/cache", 1);  // not absolute: ignored
    EXPECT_EQ(FindApplicationDataFolder(), "/home/u/.cache/");
    setenv("XDG_CACHE_HOME", "/c", 1);
    EXPECT_EQ(FindApplicationDataFolder(), "/c/");
}

TEST(CacheFolder, StateFilesGoUnderTheXdgCacheFolder) {
    EnvironmentGuard guard;
    TempDir dir;
    setenv("XDG_CACHE_HOME", dir.File("xdg").c_str(), 1);
    VerificationCache cache(FindApplicationDataFolder() + "Vantrove/");
    EXPECT_EQ(cache.CacheFileFor("/x/movie.vt2", true), dir.File("xdg/Vantrove/movie(1).vt"));
    EXPECT_TRUE(FileExists(dir.File("xdg/Vantrove/cache.vtc")));
}

TEST(CacheFolder, DefaultCacheLivesInTheSandbox) {
    const std::string& folder = VerificationCache::Default().folder();
    EXPECT_EQ(folder, ApplicationDataFolder() + "Vantrove/");
    ASSERT_FALSE(test::SandboxRoot().empty());
    EXPECT_EQ(folder.compare(0, test::SandboxRoot().size(), test::SandboxRoot()), 0);
}

}  // namespace
}  // namespace vantrove
