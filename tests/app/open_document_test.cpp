#include "app/open_document.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "support/test_env.h"

namespace vantrove {
namespace {

using test::TempDir;

// Points PATH at one folder for the life of the object.
class PathOverride {
  public:
    explicit PathOverride(const std::string& path) {
        if (const char* p = std::getenv("PATH")) saved_ = p;
        setenv("PATH", path.c_str(), 1);
    }
    ~PathOverride() { setenv("PATH", saved_.c_str(), 1); }

  private:
    std::string saved_;
};

std::string WaitForFile(const std::string& path) {
    for (int i = 0; i < 500 && !test::FileExists(path); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!test::FileExists(path)) return "(never written)";
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::vector<uint8_t> bytes = test::ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

TEST(OpenDocument, HandsThePathToTheDesktopOpener) {
    TempDir bin;
    std::string record = bin.File("opened.txt");
    test::WriteFile(bin.File("xdg-open"), "#!/bin/sh\nprintf '%s|%s' \"$#\" \"$1\" > '" + record +
                                              ".part'\nmv '" + record + ".part' '" + record +
                                              "'\n");
    chmod(bin.File("xdg-open").c_str(), 0755);
    PathOverride path(bin.path() + ":/usr/bin:/bin");
    EXPECT_TRUE(OpenDocument("/some folder/index.htm"));
    EXPECT_EQ(WaitForFile(record), "1|/some folder/index.htm");

    std::remove(record.c_str());
    EXPECT_TRUE(OpenDocument("-rf"));
    EXPECT_EQ(WaitForFile(record), "1|./-rf") << "a leading '-' is never an option";
}

TEST(OpenDocument, FailsQuietlyWithoutAnOpener) {
    TempDir empty;
    PathOverride path(empty.path());
    EXPECT_FALSE(OpenDocument("/x/index.htm"));
    EXPECT_FALSE(OpenDocument(""));
}

TEST(OpenDocument, HelpDocumentBesideTheProgramOrInItsDataFolder) {
    TempDir prefix;
    std::filesystem::create_directories(prefix.File("bin"));
    std::filesystem::create_directories(prefix.File("share/vantrove"));
    std::string bin = prefix.File("bin/");
    EXPECT_EQ(HelpDocumentPath(bin), bin + "index.htm") << "neither exists";
    test::WriteFile(prefix.File("share/vantrove/index.htm"), "<html></html>");
    EXPECT_EQ(HelpDocumentPath(bin), bin + "../share/vantrove/index.htm");
    test::WriteFile(prefix.File("bin/index.htm"), "<html></html>");
    EXPECT_EQ(HelpDocumentPath(bin), bin + "index.htm");

    std::string own = ExecutableFolder();
    ASSERT_FALSE(own.empty());
    EXPECT_EQ(own.back(), '/');
    EXPECT_TRUE(test::FileExists(own + "app_tests"));
}

}  // namespace
}  // namespace vantrove
