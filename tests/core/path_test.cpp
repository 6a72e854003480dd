#include "core/path.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <string>
#include <vector>

#include "support/test_env.h"

namespace vantrove {
namespace {

TEST(PathParts, SplitKeepsEmptyPartsAndLinesDropTheLastBreak) {
    using Parts = std::vector<std::string_view>;
    EXPECT_EQ(SplitAt("a/b/", '/'), (Parts{"a", "b", ""}));
    EXPECT_EQ(SplitAt("/a//b", '/'), (Parts{"", "a", "", "b"}));
    EXPECT_EQ(SplitAt("", ':'), (Parts{""}));
    EXPECT_EQ(SplitAt("plain", ':'), (Parts{"plain"}));
    EXPECT_EQ(LinesOf("one\ntwo\n"), (Parts{"one", "two"}));
    EXPECT_EQ(LinesOf("one\n\nthree"), (Parts{"one", "", "three"}));
    EXPECT_EQ(LinesOf("one\n\n"), (Parts{"one", ""}));
    EXPECT_TRUE(LinesOf("").empty());
}

TEST(PathParts, FolderKeepsItsSlashAndTheNameIsTheRest) {
    EXPECT_EQ(FolderOfPath("/data/x/movie.vol03+04.par2"), "/data/x/");
    EXPECT_EQ(FileNameOfPath("/data/x/movie.vol03+04.par2"), "movie.vol03+04.par2");
    EXPECT_EQ(FolderOfPath("plain"), "");
    EXPECT_EQ(FileNameOfPath("plain"), "plain");
    EXPECT_EQ(FolderOfPath("/data/x/"), "/data/x/");
    EXPECT_EQ(FileNameOfPath("/data/x/"), "");
    EXPECT_EQ(FolderOfPath("/top"), "/");
    // A backslash is part of a name here, not a separator.
    EXPECT_EQ(FileNameOfPath("a\\b"), "a\\b");
    EXPECT_EQ(FolderOfPath("a\\b"), "");
}

TEST(PathParts, ParentFolderIsWrittenForASystemCall) {
    EXPECT_EQ(ParentFolderOf("/data/x/file"), "/data/x");
    EXPECT_EQ(ParentFolderOf("/file"), "/");
    EXPECT_EQ(ParentFolderOf("file"), ".");
    EXPECT_EQ(ParentFolderOf("sub/file"), "sub");
}

TEST(NoCaseOrder, AsciiLettersMeetAndOtherBytesKeepTheirOrder) {
    EXPECT_TRUE(EqualNoCase("Set.PAR2", "set.par2"));
    EXPECT_FALSE(EqualNoCase("set.par2", "set.par"));
    EXPECT_FALSE(EqualNoCase("set", "sets"));
    // Bytes beyond ASCII are compared as they are, whatever the locale.
    EXPECT_FALSE(EqualNoCase("caff\xc3\xa8", "caff\xc3\x88"));

    EXPECT_TRUE(LessNoCase("apple", "Banana"));
    EXPECT_TRUE(LessNoCase("Apple", "banana"));
    EXPECT_FALSE(LessNoCase("B", "a"));
    EXPECT_FALSE(LessNoCase("a", "A"));
    EXPECT_FALSE(LessNoCase("A", "a"));
    EXPECT_TRUE(LessNoCase("a", "ab"));
    // A byte above 127 sorts after every ASCII letter (unsigned order).
    EXPECT_TRUE(LessNoCase("z", "\xc3\xa8"));

    std::vector<std::string> names = {"b.txt", "A.txt", "c.TXT", "a2.txt"};
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return LessNoCase(a, b); });
    EXPECT_EQ(names, (std::vector<std::string>{"A.txt", "a2.txt", "b.txt", "c.TXT"}));

    EXPECT_TRUE(EndsWithNoCase("SET.Par2", ".par2"));
    EXPECT_FALSE(EndsWithNoCase("par2", ".par2"));
    EXPECT_TRUE(EndsWithNoCase(".par2", ".PAR2"));
}

// Changes the current folder for one test and puts it back afterwards.
class InFolder {
  public:
    explicit InFolder(const std::string& folder) {
        char buffer[PATH_MAX];
        if (getcwd(buffer, sizeof buffer) != nullptr) previous_ = buffer;
        ok_ = chdir(folder.c_str()) == 0;
    }
    ~InFolder() {
        if (!previous_.empty() && chdir(previous_.c_str()) != 0) ADD_FAILURE() << previous_;
    }
    bool ok() const { return ok_; }

  private:
    std::string previous_;
    bool ok_ = false;
};

TEST(AbsolutePath, RelativePathsAreTakenFromTheCurrentFolder) {
    test::TempDir dir;
    const std::string real = ResolvedFolder(dir.path());
    ASSERT_FALSE(real.empty());
    InFolder inside(real);
    ASSERT_TRUE(inside.ok());
    EXPECT_EQ(CurrentFolder(), real);
    EXPECT_EQ(AbsolutePath("a/b.par2"), real + "a/b.par2");
    EXPECT_EQ(AbsolutePath("././b.par2"), real + "b.par2");
    EXPECT_EQ(AbsolutePath("/x/y"), "/x/y");
}

TEST(ResolvedFolder, FollowsLinksAndEndsWithASlash) {
    test::TempDir dir;
    const std::string real = ResolvedFolder(dir.path());
    ASSERT_FALSE(real.empty());
    EXPECT_EQ(real.back(), '/');
    ASSERT_EQ(mkdir((real + "inner").c_str(), 0700), 0);
    ASSERT_EQ(symlink((real + "inner").c_str(), (real + "link").c_str()), 0);
    EXPECT_EQ(ResolvedFolder(real + "link"), real + "inner/");
    EXPECT_EQ(ResolvedFolder(real + "inner/../inner/."), real + "inner/");
    EXPECT_EQ(ResolvedFolder(real + "missing"), "");

    InFolder inside(real + "inner");
    ASSERT_TRUE(inside.ok());
    EXPECT_EQ(ResolvedFolder(""), real + "inner/");
}

TEST(KindOfPath, TellsFilesFromFoldersAndSaysWhyOneIsMissing) {
    test::TempDir dir;
    const std::string root = ResolvedFolder(dir.path());
    test::WriteFile(root + "file", std::string("x"));
    ASSERT_EQ(mkdir((root + "folder").c_str(), 0700), 0);
    ASSERT_EQ(symlink((root + "folder").c_str(), (root + "link").c_str()), 0);
    ASSERT_EQ(mkfifo((root + "fifo").c_str(), 0600), 0);
    int error = -1;
    EXPECT_EQ(KindOfPath(root + "file", &error), PathKind::RegularFile);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(KindOfPath(root + "folder"), PathKind::Folder);
    EXPECT_EQ(KindOfPath(root + "link"), PathKind::Folder);
    EXPECT_EQ(KindOfPath(root + "fifo"), PathKind::Other);
    EXPECT_EQ(KindOfPath(root + "gone", &error), PathKind::Missing);
    EXPECT_EQ(error, ENOENT);
    EXPECT_EQ(KindOfPath(root + "file/below", &error), PathKind::Missing);
    EXPECT_EQ(error, ENOTDIR);
}

}  // namespace
}  // namespace vantrove
