#include "app/graphical_session.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "support/test_env.h"

namespace vantrove {
namespace {

using test::TempDir;

// Sets (or, with null, removes) environment variables for the life of the
// object.
class EnvOverride {
  public:
    void Set(const char* name, const char* value) {
        const char* old = std::getenv(name);
        saved_.push_back({name, old != nullptr, old ? old : ""});
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~EnvOverride() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->had) {
                setenv(it->name.c_str(), it->value.c_str(), 1);
            } else {
                unsetenv(it->name.c_str());
            }
        }
    }

  private:
    struct Saved {
        std::string name;
        bool had;
        std::string value;
    };
    std::vector<Saved> saved_;
};

TEST(GraphicalSession, NeedsADisplayOrAChosenPlatform) {
    EnvOverride env;
    env.Set("DISPLAY", nullptr);
    env.Set("WAYLAND_DISPLAY", nullptr);
    env.Set("QT_QPA_PLATFORM", nullptr);
    EXPECT_FALSE(GraphicalSessionAvailable({"vantrove", "set.par2"}));
    env.Set("DISPLAY", "");  // set but empty is no display
    EXPECT_FALSE(GraphicalSessionAvailable({"vantrove"}));
    EXPECT_TRUE(GraphicalSessionAvailable({"vantrove", "-platform", "offscreen"}));
    env.Set("DISPLAY", ":0");
    EXPECT_TRUE(GraphicalSessionAvailable({"vantrove"}));
    env.Set("DISPLAY", nullptr);
    env.Set("WAYLAND_DISPLAY", "wayland-0");
    EXPECT_TRUE(GraphicalSessionAvailable({"vantrove"}));
    env.Set("WAYLAND_DISPLAY", nullptr);
    env.Set("QT_QPA_PLATFORM", "offscreen");
    EXPECT_TRUE(GraphicalSessionAvailable({"vantrove"}));
}

std::string ReportWith(const std::string& cliPath, int& rc) {
    TempDir dir;
    const std::string outPath = dir.File("out.txt");
    std::FILE* out = std::fopen(outPath.c_str(), "w+");
    rc = ReportNoGraphicalSession(out, cliPath);
    std::fclose(out);
    std::ifstream in(outPath);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(GraphicalSession, ReportSaysWhyAndShowsTheCommandLineForms) {
    TempDir dir;
    // A stand-in for the command-line program that prints its usage on
    // standard error, as the real one does.
    const std::string cli = dir.File("vantrove-cli");
    test::WriteFile(cli, "#!/bin/sh\n[ \"$1\" = --help ] && echo 'usage: vantrove-cli verify FILE' >&2\n");
    ASSERT_EQ(chmod(cli.c_str(), 0755), 0);
    int rc = 0;
    const std::string text = ReportWith(cli, rc);
    EXPECT_NE(rc, 0);
    EXPECT_NE(text.find("sessione grafica"), std::string::npos) << text;
    EXPECT_NE(text.find("usage: vantrove-cli verify FILE"), std::string::npos) << text;
    EXPECT_EQ(text.find("Reinstalling"), std::string::npos);

    // Without the command-line program beside it, a pointer to it.
    const std::string alone = ReportWith(dir.File("missing-cli"), rc);
    EXPECT_NE(rc, 0);
    EXPECT_NE(alone.find("vantrove-cli --help"), std::string::npos) << alone;
}

}  // namespace
}  // namespace vantrove
