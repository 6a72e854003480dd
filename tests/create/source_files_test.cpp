#include "create/source_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "core/path.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

std::vector<std::string> PathsOf(const std::vector<CreationSourceFile>& files) {
    std::vector<std::string> paths;
    for (const CreationSourceFile& file : files) paths.push_back(file.path);
    return paths;
}

TEST(TidyAbsolutePath, OneSpellingPerFileButDotDotStays) {
    EXPECT_EQ(TidyAbsolutePath("/data//x/./a.bin"), "/data/x/a.bin");
    EXPECT_EQ(TidyAbsolutePath("/data/x/"), "/data/x");
    EXPECT_EQ(TidyAbsolutePath("/"), "/");
    EXPECT_EQ(TidyAbsolutePath("/data/link/../a"), "/data/link/../a");
    const std::string current = CurrentFolder();
    ASSERT_FALSE(current.empty());
    EXPECT_EQ(TidyAbsolutePath("./sub//a.bin"), current + "sub/a.bin");
}

TEST(WithFilesAdded, FoldersBringTheirFilesAndNothingIsListedTwice) {
    test::TempDir dir;
    const std::string root = ResolvedFolder(dir.path());
    ASSERT_EQ(mkdir((root + "tree").c_str(), 0700), 0);
    ASSERT_EQ(mkdir((root + "tree/sub").c_str(), 0700), 0);
    test::WriteFile(root + "B.bin", std::string(10, 'b'));
    test::WriteFile(root + "a.bin", std::string(7, 'a'));
    test::WriteFile(root + "tree/c.bin", std::string(3, 'c'));
    test::WriteFile(root + "tree/sub/d.bin", std::string(1, 'd'));

    bool added = false;
    std::vector<CreationSourceFile> listed =
        WithFilesAdded({}, {root + "B.bin", root + ".//a.bin", root + "tree"}, added);
    EXPECT_TRUE(added);
    // Sorted by path without regard to case.
    EXPECT_EQ(PathsOf(listed),
              (std::vector<std::string>{root + "a.bin", root + "B.bin", root + "tree/c.bin",
                                        root + "tree/sub/d.bin"}));
    EXPECT_EQ(listed[0].size, 7u);
    EXPECT_EQ(listed[1].size, 10u);

    // The same files again, in other spellings and through the folder: nothing new.
    const std::vector<CreationSourceFile> again = WithFilesAdded(
        listed, {root + "a.bin", root + "tree/", root + "tree/./sub/d.bin", ""}, added);
    EXPECT_FALSE(added);
    EXPECT_EQ(PathsOf(again), PathsOf(listed));

    // A file that is not there is listed all the same (the creation reports
    // it), with size 0; a relative path is taken from the current folder.
    const std::string previous = CurrentFolder();
    ASSERT_EQ(chdir(root.c_str()), 0);
    const std::vector<CreationSourceFile> more = WithFilesAdded(listed, {"gone.bin"}, added);
    ASSERT_EQ(chdir(previous.c_str()), 0);
    EXPECT_TRUE(added);
    ASSERT_EQ(more.size(), 5u);
    EXPECT_EQ(more[2].path, root + "gone.bin");
    EXPECT_EQ(more[2].size, 0u);
}

}  // namespace
}  // namespace vantrove
