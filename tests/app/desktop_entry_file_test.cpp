#include "app/desktop_entry_file.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>

#include "support/test_env.h"

namespace vantrove {
namespace {

TEST(DesktopEntryFile, EditsKeepEveryOtherLine) {
    const std::string text =
        "# comment\n[Default Applications]\ntext/plain=editor.desktop\n\n"
        "[Added Associations]\nimage/png = viewer.desktop;\n";
    DesktopEntryFile file;
    file.Parse(text);
    EXPECT_EQ(file.Serialize(), text);
    std::string value;
    ASSERT_TRUE(file.Get("Added Associations", "image/png", value));
    EXPECT_EQ(value, "viewer.desktop;");
    EXPECT_FALSE(file.Get("Default Applications", "image/png", value));

    file.Set("Default Applications", "application/x-par2", "a.desktop;");
    file.Set("Default Applications", "text/plain", "other.desktop");
    file.Set("Removed Associations", "x/y", "z.desktop;");
    EXPECT_EQ(file.Serialize(),
              "# comment\n[Default Applications]\ntext/plain=other.desktop\n"
              "application/x-par2=a.desktop;\n\n[Added Associations]\n"
              "image/png = viewer.desktop;\n\n[Removed Associations]\nx/y=z.desktop;\n");
    EXPECT_TRUE(file.Remove("Default Applications", "text/plain"));
    EXPECT_FALSE(file.Remove("Default Applications", "text/plain"));
    EXPECT_EQ(file.Keys("Default Applications"), std::vector<std::string>{"application/x-par2"});
}

TEST(DesktopEntryFile, EmptyFileGetsItsGroup) {
    DesktopEntryFile file;
    file.Parse("");
    file.Set("Desktop Entry", "Name", "Vantrove");
    EXPECT_EQ(file.Serialize(), "[Desktop Entry]\nName=Vantrove\n");
    EXPECT_TRUE(file.HasGroup("Desktop Entry"));
    EXPECT_FALSE(file.HasGroup("Other"));
}

TEST(DesktopEntryFile, ListsSplitAndJoin) {
    EXPECT_EQ(SplitDesktopList("a;b; ;c"), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_TRUE(SplitDesktopList("").empty());
    EXPECT_EQ(JoinDesktopList({"a", "b"}), "a;b;");
}

TEST(DesktopEntryFile, AtomicWriteMakesFoldersAndSetsTheMode) {
    test::TempDir dir;
    std::string path = dir.File("a/b/c.desktop");
    ASSERT_TRUE(WriteTextFileAtomically(path, "x\n", 0700));
    std::string text;
    ASSERT_TRUE(ReadTextFile(path, text));
    EXPECT_EQ(text, "x\n");
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // A file where a folder must go: nothing is written.
    test::WriteFile(dir.File("plain"), "y");
    EXPECT_FALSE(WriteTextFileAtomically(dir.File("plain/c.desktop"), "x\n"));
    EXPECT_FALSE(ReadTextFile(dir.File("missing"), text));
    EXPECT_FALSE(ReadTextFile(dir.path(), text));
}

TEST(DesktopEntryFile, ANamedPipeIsRefusedWithoutWaitingForAWriter) {
    test::TempDir dir;
    std::string pipe = dir.File("other.desktop");
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    auto reading = std::async(std::launch::async, [&pipe] {
        std::string text;
        return ReadTextFile(pipe, text);
    });
    bool finished = reading.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    if (!finished) {
        // Let the blocked reader go, so the test can end.
        int fd = open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) close(fd);
    }
    ASSERT_TRUE(finished) << "reading a named pipe waited for a writer";
    EXPECT_FALSE(reading.get());
}

}  // namespace
}  // namespace vantrove
