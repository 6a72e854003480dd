// Deletion into the user's trash: where files and info records go, that
// nothing in the trash is ever replaced, that a relative data folder is not
// trusted, and that a file the trash cannot take is deleted.

#include "core/file_trash.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "core/disk_file.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

using test::FileExists;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

std::string Text(const std::vector<uint8_t>& bytes) {
    return {bytes.begin(), bytes.end()};
}

// Points HOME and XDG_DATA_HOME somewhere for one test and puts them back.
class TrashEnvironment {
  public:
    TrashEnvironment(const char* home, const char* dataHome) {
        Save("HOME", home_);
        Save("XDG_DATA_HOME", data_);
        Set("HOME", home);
        Set("XDG_DATA_HOME", dataHome);
    }
    ~TrashEnvironment() {
        Restore("HOME", home_);
        Restore("XDG_DATA_HOME", data_);
    }

  private:
    struct Saved {
        bool present = false;
        std::string value;
    };
    static void Save(const char* name, Saved& saved) {
        const char* v = getenv(name);
        saved.present = v != nullptr;
        if (v) saved.value = v;
    }
    static void Set(const char* name, const char* value) {
        if (value) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    static void Restore(const char* name, const Saved& saved) {
        Set(name, saved.present ? saved.value.c_str() : nullptr);
    }
    Saved home_, data_;
};

TEST(FileTrash, MovesTheFileAndWritesItsInfoRecordCreatingTheFolders) {
    TempDir dir;
    const std::string data = dir.File("fresh/share");  // does not exist yet
    TrashEnvironment env(dir.path().c_str(), data.c_str());
    const std::string victim = dir.File("a b%.txt");
    WriteFile(victim, "payload");

    ASSERT_EQ(MoveToTrash(victim), 0);
    EXPECT_FALSE(FileExists(victim));
    EXPECT_EQ(Text(ReadFile(data + "/Trash/files/a b%.txt")), "payload");
    std::string info = Text(ReadFile(data + "/Trash/info/a b%.txt.trashinfo"));
    std::string encoded = dir.path() + "/a%20b%25.txt";
    EXPECT_EQ(info.rfind("[Trash Info]\nPath=" + encoded + "\nDeletionDate=", 0), 0u) << info;
    // YYYY-MM-DDThh:mm:ss and a final newline.
    size_t date = info.find("DeletionDate=") + 13;
    EXPECT_EQ(info.size(), date + 20);
    EXPECT_EQ(info[date + 10], 'T');

    struct stat st {};
    ASSERT_EQ(stat((data + "/Trash").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(FileTrash, NeverReplacesAnExistingTrashEntry) {
    TempDir dir;
    const std::string data = dir.File("share");
    TrashEnvironment env(dir.path().c_str(), data.c_str());
    const std::string trash = data + "/Trash";
    ASSERT_EQ(MoveToTrash(dir.File("absent")), ENOENT);

    // An earlier deletion of the same name, and a leftover file without an
    // info record under the second name.
    const std::string first = dir.File("x.bin");
    WriteFile(first, "first");
    ASSERT_EQ(MoveToTrash(first), 0);
    WriteFile(trash + "/files/x.bin.2", "orphan");

    WriteFile(first, "second");
    ASSERT_EQ(MoveToTrash(first), 0);
    EXPECT_EQ(Text(ReadFile(trash + "/files/x.bin")), "first");
    EXPECT_EQ(Text(ReadFile(trash + "/files/x.bin.2")), "orphan");
    EXPECT_FALSE(FileExists(trash + "/info/x.bin.2.trashinfo"));
    EXPECT_EQ(Text(ReadFile(trash + "/files/x.bin.3")), "second");
    EXPECT_TRUE(FileExists(trash + "/info/x.bin.3.trashinfo"));
}

TEST(FileTrash, RelativeDataFolderIsNotTrusted) {
    TempDir dir;
    TrashEnvironment env(dir.path().c_str(), "relative/share");
    EXPECT_EQ(HomeTrashFolder(), dir.path() + "/.local/share/Trash");
    const std::string victim = dir.File("v");
    WriteFile(victim, "v");
    ASSERT_EQ(MoveToTrash(victim), 0);
    EXPECT_TRUE(FileExists(dir.path() + "/.local/share/Trash/files/v"));
    EXPECT_FALSE(FileExists("relative"));

    TrashEnvironment none("home", "data");
    EXPECT_EQ(HomeTrashFolder(), "");
}

// A trash that refuses the move (here: every rename into it fails).
class RefuseTrashMoves : public FileFaultInjector {
  public:
    RefuseTrashMoves() { SetFileFaultInjector(this); }
    ~RefuseTrashMoves() override { SetFileFaultInjector(nullptr); }
    int BeforeRename(const std::string&, const std::string& to) override {
        return to.find("/Trash") != std::string::npos ? EACCES : 0;
    }
};

TEST(FileTrash, DeleteFilesFallsBackToDeletionAndLeavesNoRecord) {
    TempDir dir;
    const std::string data = dir.File("share");
    TrashEnvironment env(dir.path().c_str(), data.c_str());
    const std::string a = dir.File("a"), b = dir.File("b"), c = dir.File("c");
    for (const auto& p : {a, b, c}) WriteFile(p, "x");

    EXPECT_EQ(DeleteFiles({a, dir.File("never-there")}, false), 1u);
    EXPECT_FALSE(FileExists(a));
    EXPECT_FALSE(FileExists(data + "/Trash/files/a"));

    EXPECT_EQ(DeleteFiles({b}, true), 1u);
    EXPECT_TRUE(FileExists(data + "/Trash/files/b"));

    {
        RefuseTrashMoves refuse;
        EXPECT_EQ(MoveToTrash(c), EACCES);
        EXPECT_TRUE(FileExists(c));
        EXPECT_FALSE(FileExists(data + "/Trash/info/c.trashinfo"));
        EXPECT_EQ(DeleteFiles({c}, true), 1u);
    }
    EXPECT_FALSE(FileExists(c));
    EXPECT_FALSE(FileExists(data + "/Trash/files/c"));
}

}  // namespace
}  // namespace vantrove
