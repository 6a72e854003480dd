#include "app/make_folders.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "support/test_env.h"

namespace vantrove {
namespace {

using test::TempDir;

bool IsFolder(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TEST(MakeFolders, MakesEveryMissingFolderAndAcceptsOnesThatExist) {
    TempDir dir;
    const std::string deep = dir.File("a/b c/d");
    MakeFoldersResult made = MakeDestinationFolders(deep + "/");
    ASSERT_TRUE(made.ok) << made.failedFolder << " " << made.error;
    EXPECT_TRUE(IsFolder(dir.File("a")));
    EXPECT_TRUE(IsFolder(dir.File("a/b c")));
    EXPECT_TRUE(IsFolder(deep));
    // Again, and with doubled slashes: nothing to do.
    EXPECT_TRUE(MakeDestinationFolders(deep).ok);
    EXPECT_TRUE(MakeDestinationFolders(dir.File("a//b c///d")).ok);
    EXPECT_TRUE(MakeDestinationFolders("/").ok);
}

TEST(MakeFolders, NamesTheFolderThatFailedAndWhy) {
    TempDir dir;
    test::WriteFile(dir.File("file"), "x");
    MakeFoldersResult made = MakeDestinationFolders(dir.File("file/sub/deeper"));
    EXPECT_FALSE(made.ok);
    EXPECT_EQ(made.failedFolder, dir.File("file"));
    EXPECT_EQ(made.error, ENOTDIR);
    EXPECT_FALSE(MakeDestinationFolders("relative/path").ok);
}

// A link that exists already on the way is taken as it is; the folders made
// are entered without following one.
TEST(MakeFolders, FollowsExistingLinksButNotOnesInPlaceOfNewFolders) {
    TempDir dir;
    ASSERT_TRUE(MakeDestinationFolders(dir.File("real")).ok);
    ASSERT_EQ(symlink(dir.File("real").c_str(), dir.File("link").c_str()), 0);
    ASSERT_TRUE(MakeDestinationFolders(dir.File("link/new/deeper")).ok);
    EXPECT_TRUE(IsFolder(dir.File("real/new/deeper")));

    // A link where a folder is being made is not followed: an already
    // existing name at that place counts as made only when it is a folder.
    ASSERT_EQ(symlink(dir.File("real").c_str(), dir.File("real/new/trap").c_str()), 0);
    MakeFoldersResult made = MakeDestinationFolders(dir.File("real/new/deeper/x/../../trap/y"));
    // "x" is made, ".." leads back to "deeper" and "new", and "trap" is
    // opened as a folder made here would be, so the link stops the walk.
    EXPECT_FALSE(made.ok);
    EXPECT_EQ(made.error, ENOTDIR);
    EXPECT_FALSE(IsFolder(dir.File("real/y")));
}

TEST(MakeFolders, HomeFolderIsHomeElseThePasswordEntry) {
    const char* saved = std::getenv("HOME");
    const std::string keep = saved ? saved : "";
    setenv("HOME", "/somewhere/home", 1);
    EXPECT_EQ(HomeFolder(), "/somewhere/home");
    unsetenv("HOME");
    EXPECT_FALSE(HomeFolder().empty());  // from the password database
    setenv("HOME", keep.c_str(), 1);
}

}  // namespace
}  // namespace vantrove
