#include "app/shell_integration.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "app/desktop_entry_file.h"
#include "app/program_icon.h"
#include "app/settings.h"
#include "shell_test_support.h"

namespace vantrove {
namespace {

using test::FakeDesktop;
using test::PutFile;

class ShellIntegrationTest : public ::testing::Test {
  protected:
    ShellIntegrationTest() : shell(desktop.environment) { shell.refreshMimeDatabase = false; }

    std::string ListValue(const std::string& group, const std::string& key) {
        DesktopEntryFile file;
        file.Parse(desktop.Read(shell.MimeAppsListPath()));
        std::string value;
        return file.Get(group, key, value) ? value : "<none>";
    }
    std::string EntryValue(const std::string& id, const std::string& key) {
        DesktopEntryFile file;
        file.Parse(desktop.Read(shell.EntryPath(id)));
        std::string value;
        return file.Get("Desktop Entry", key, value) ? value : "<none>";
    }
    bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

    FakeDesktop desktop;
    ShellIntegration shell;
};

TEST_F(ShellIntegrationTest, Par2AdoptsTheTypeTheDesktopAlreadyKnows) {
    shell.Associate(FileAssociation::Par2);
    std::string package = desktop.Read(shell.PackagePath(FileAssociation::Par2));
    EXPECT_NE(package.find("<mime-type type=\"application/x-par2\">"), std::string::npos);
    EXPECT_NE(package.find("<comment>Volume di Recupero PAR2</comment>"), std::string::npos);
    // The extension is the system's; we do not declare it again.
    EXPECT_EQ(package.find("*.par2"), std::string::npos);
    EXPECT_EQ(shell.FileTypeOf(FileAssociation::Par2), "application/x-par2");

    EXPECT_EQ(EntryValue(kOpenEntryId, "MimeType"), "application/x-par2;");
    EXPECT_EQ(EntryValue(kOpenEntryId, "Comment"), "Apri con Vantrove");
    // The path has a blank, so it is quoted; %f hands over the one file.
    EXPECT_EQ(EntryValue(kOpenEntryId, "Exec"),
              "\"" + desktop.environment.executablePath + "\" %f");
    EXPECT_EQ(ListValue("Default Applications", "application/x-par2"), "vantrove.desktop;");
    EXPECT_EQ(ListValue("Added Associations", "application/x-par2"), "vantrove.desktop;");
    EXPECT_FALSE(Exists(shell.EntryPath(kFallbackEntryId)));
    // The type and the entry show the program's icon.
    EXPECT_NE(package.find("<icon name=\"vantrove\"/>"), std::string::npos);
    EXPECT_EQ(EntryValue(kOpenEntryId, "Icon"), "vantrove");
    std::string svg;
    ASSERT_TRUE(ProgramIconImage(svg));
    EXPECT_EQ(desktop.Read(ProgramIconPath(desktop.environment)), svg);
    EXPECT_NE(svg.find("<svg"), std::string::npos);
}

TEST_F(ShellIntegrationTest, OwnTypeOnlyWhereNoneExists) {
    shell.Associate(FileAssociation::Sfv);
    shell.Associate(FileAssociation::Md5);
    std::string sfv = desktop.Read(shell.PackagePath(FileAssociation::Sfv));
    EXPECT_NE(sfv.find("type=\"application/x-sfv-checksum-file\""), std::string::npos);
    EXPECT_NE(sfv.find("<glob pattern=\"*.sfv\"/>"), std::string::npos);
    EXPECT_NE(sfv.find("File delle Firme di Verifica SFV"), std::string::npos);
    EXPECT_EQ(shell.FileTypeOf(FileAssociation::Md5), "application/x-md5-checksum-file");
    EXPECT_EQ(EntryValue(kOpenEntryId, "MimeType"),
              "application/x-sfv-checksum-file;application/x-md5-checksum-file;");

    // Removing one group keeps the entry and the icon for the other.
    shell.Unassociate(FileAssociation::Sfv);
    EXPECT_TRUE(Exists(ProgramIconPath(desktop.environment)));
    EXPECT_FALSE(Exists(shell.PackagePath(FileAssociation::Sfv)));
    EXPECT_EQ(EntryValue(kOpenEntryId, "MimeType"), "application/x-md5-checksum-file;");
    EXPECT_EQ(ListValue("Default Applications", "application/x-sfv-checksum-file"), "<none>");
    EXPECT_EQ(ListValue("Default Applications", "application/x-md5-checksum-file"),
              "vantrove.desktop;");
    EXPECT_EQ(shell.FileTypeOf(FileAssociation::Sfv), "");
    shell.Unassociate(FileAssociation::Md5);
    EXPECT_FALSE(Exists(ProgramIconPath(desktop.environment)));
}

TEST_F(ShellIntegrationTest, Par1CoversP00ToP30Only) {
    std::vector<std::string> further = FurtherExtensions(AssociationInfo(FileAssociation::Par1));
    ASSERT_EQ(further.size(), 31u);
    EXPECT_EQ(further.front(), ".p00");
    EXPECT_EQ(further.back(), ".p30");
    shell.Associate(FileAssociation::Par1);
    std::string package = desktop.Read(shell.PackagePath(FileAssociation::Par1));
    EXPECT_NE(package.find("type=\"application/x-par-recovery-volume\""), std::string::npos);
    EXPECT_NE(package.find("<glob pattern=\"*.par\"/>"), std::string::npos);
    for (int i = 0; i <= 31; ++i) {
        char glob[32];
        std::snprintf(glob, sizeof glob, "\"*.p%02d\"", i);
        EXPECT_EQ(package.find(glob) != std::string::npos, i <= 30) << glob;
    }
}

TEST_F(ShellIntegrationTest, AnotherProgramsDefaultGetsTheFallbackInFront) {
    desktop.AddSystemEntry("otherpar.desktop", "/usr/bin/otherpar %f");
    const std::string before =
        "# user's own choices\n[Default Applications]\ntext/plain=editor.desktop\n"
        "application/x-par2=otherpar.desktop\n\n[Added Associations]\n"
        "application/x-par2=otherpar.desktop;\n";
    PutFile(shell.MimeAppsListPath(), before);

    shell.Associate(FileAssociation::Par2);
    EXPECT_EQ(ListValue("Default Applications", "application/x-par2"),
              "vantrove-open-with.desktop;otherpar.desktop;");
    EXPECT_EQ(ListValue("Added Associations", "application/x-par2"),
              "vantrove-open-with.desktop;otherpar.desktop;");
    EXPECT_EQ(ListValue("Default Applications", "text/plain"), "editor.desktop");
    EXPECT_EQ(EntryValue(kFallbackEntryId, "NoDisplay"), "true");
    EXPECT_EQ(EntryValue(kFallbackEntryId, "MimeType"), "application/x-par2;");
    EXPECT_FALSE(Exists(shell.EntryPath(kOpenEntryId)));

    // Applying again changes nothing.
    std::string list = desktop.Read(shell.MimeAppsListPath());
    std::string entry = desktop.Read(shell.EntryPath(kFallbackEntryId));
    shell.Associate(FileAssociation::Par2);
    EXPECT_EQ(desktop.Read(shell.MimeAppsListPath()), list);
    EXPECT_EQ(desktop.Read(shell.EntryPath(kFallbackEntryId)), entry);

    // Removing gives the type back to the other program; what the other
    // program relies on stays, including our package.
    shell.Unassociate(FileAssociation::Par2);
    EXPECT_EQ(ListValue("Default Applications", "application/x-par2"), "otherpar.desktop;");
    EXPECT_EQ(ListValue("Added Associations", "application/x-par2"), "otherpar.desktop;");
    EXPECT_EQ(ListValue("Default Applications", "text/plain"), "editor.desktop");
    EXPECT_NE(desktop.Read(shell.MimeAppsListPath()).find("# user's own choices"),
              std::string::npos);
    EXPECT_FALSE(Exists(shell.EntryPath(kFallbackEntryId)));
    EXPECT_TRUE(Exists(shell.PackagePath(FileAssociation::Par2)));
    EXPECT_TRUE(Exists(ProgramIconPath(desktop.environment)));  // the package still names it
}

TEST_F(ShellIntegrationTest, AnEntryThatStartsThisProgramCountsAsOurs) {
    // Another name for our own program, with the executable in capitals.
    PutFile(shell.EntryPath("my-vantrove.desktop"),
            "[Desktop Entry]\nType=Application\nExec=\"/opt/x y/VANTROVE\" %f\n");
    PutFile(shell.MimeAppsListPath(),
            "[Default Applications]\napplication/x-par2=my-vantrove.desktop;\n");
    shell.Associate(FileAssociation::Par2);
    EXPECT_EQ(ListValue("Default Applications", "application/x-par2"),
              "vantrove.desktop;my-vantrove.desktop;");
    EXPECT_FALSE(Exists(shell.EntryPath(kFallbackEntryId)));

    // Ours too when it comes to removing; with no other program the package goes.
    shell.Unassociate(FileAssociation::Par2);
    EXPECT_EQ(ListValue("Default Applications", "application/x-par2"), "<none>");
    EXPECT_FALSE(Exists(shell.PackagePath(FileAssociation::Par2)));
    EXPECT_FALSE(Exists(shell.EntryPath(kOpenEntryId)));
}

TEST_F(ShellIntegrationTest, SwitchingFromFallbackToOpenWhenTheOtherProgramLeft) {
    desktop.AddSystemEntry("otherpar.desktop", "otherpar %f");
    PutFile(shell.MimeAppsListPath(),
            "[Default Applications]\napplication/x-par2=otherpar.desktop\n");
    shell.Associate(FileAssociation::Par2);
    // The user removed the other program from the list.
    PutFile(shell.MimeAppsListPath(),
            "[Default Applications]\napplication/x-par2=vantrove-open-with.desktop;\n");
    shell.Associate(FileAssociation::Par2);
    EXPECT_EQ(ListValue("Default Applications", "application/x-par2"), "vantrove.desktop;");
    EXPECT_FALSE(Exists(shell.EntryPath(kFallbackEntryId)));
    EXPECT_EQ(EntryValue(kOpenEntryId, "MimeType"), "application/x-par2;");
}

TEST_F(ShellIntegrationTest, RemovingWhatWasNeverAppliedWritesNothing) {
    shell.Unassociate(FileAssociation::Par2);
    shell.Unassociate(FileAssociation::Par1);
    EXPECT_FALSE(Exists(shell.MimeAppsListPath()));
    EXPECT_FALSE(Exists(desktop.environment.dataHome));
}

TEST_F(ShellIntegrationTest, DanglingEntriesLeaveWithOursAndDoNotKeepTheType) {
    shell.Associate(FileAssociation::Sfv);
    DesktopEntryFile list;
    list.Parse(desktop.Read(shell.MimeAppsListPath()));
    list.Set("Default Applications", "application/x-sfv-checksum-file",
             "vantrove.desktop;uninstalled.desktop;");
    PutFile(shell.MimeAppsListPath(), list.Serialize());
    shell.Unassociate(FileAssociation::Sfv);
    EXPECT_EQ(ListValue("Default Applications", "application/x-sfv-checksum-file"), "<none>");
    EXPECT_FALSE(Exists(shell.PackagePath(FileAssociation::Sfv)));
}

TEST_F(ShellIntegrationTest, EntriesWithoutACommandLeaveWithOursAndDoNotKeepTheType) {
    shell.Associate(FileAssociation::Md5);
    const std::string type = shell.FileTypeOf(FileAssociation::Md5);
    // Installed, but with nothing to run.
    PutFile(shell.EntryPath("broken.desktop"), "[Desktop Entry]\nType=Application\nName=x\n");
    DesktopEntryFile list;
    list.Parse(desktop.Read(shell.MimeAppsListPath()));
    list.Set("Default Applications", type, "vantrove.desktop;broken.desktop;");
    PutFile(shell.MimeAppsListPath(), list.Serialize());
    shell.Unassociate(FileAssociation::Md5);
    EXPECT_EQ(ListValue("Default Applications", type), "<none>");
    EXPECT_FALSE(Exists(shell.PackagePath(FileAssociation::Md5)));
    EXPECT_TRUE(Exists(shell.EntryPath("broken.desktop")));  // not ours to delete

    // A program started by D-Bus activation has no Exec line and still counts.
    shell.Associate(FileAssociation::Md5);
    PutFile(shell.EntryPath("org.example.Sums.desktop"),
            "[Desktop Entry]\nType=Application\nName=Sums\nDBusActivatable=true\n");
    list.Parse(desktop.Read(shell.MimeAppsListPath()));
    list.Set("Default Applications", type, "vantrove.desktop;org.example.Sums.desktop;");
    PutFile(shell.MimeAppsListPath(), list.Serialize());
    shell.Unassociate(FileAssociation::Md5);
    EXPECT_EQ(ListValue("Default Applications", type), "org.example.Sums.desktop;");
    EXPECT_TRUE(Exists(shell.PackagePath(FileAssociation::Md5)));
}

TEST_F(ShellIntegrationTest, AnUnreadableDefaultsListIsNeverReplaced) {
    // A named pipe stands for a list that cannot be read; a fresh list in its
    // place would drop every other default the user has.
    std::string list = shell.MimeAppsListPath();
    PutFile(list, "");
    ASSERT_EQ(unlink(list.c_str()), 0);
    ASSERT_EQ(mkfifo(list.c_str(), 0600), 0);
    shell.Associate(FileAssociation::Par2);
    struct stat st;
    ASSERT_EQ(lstat(list.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST_F(ShellIntegrationTest, UnusableEnvironmentWritesNothing) {
    ShellEnvironment empty = desktop.environment;
    empty.dataHome.clear();
    ShellIntegration nowhere(empty);
    nowhere.refreshMimeDatabase = false;
    nowhere.Associate(FileAssociation::Par2);
    EXPECT_FALSE(Exists(shell.MimeAppsListPath()));
}

TEST_F(ShellIntegrationTest, ApplySettingsInOrderAndSavesTheShellValues) {
    Settings settings(desktop.root.File("settings.reg"));
    settings.par2Association = true;
    settings.par1Association = false;
    settings.sfvMd5Association = true;
    settings.explorerMenu = true;
    shell.Associate(FileAssociation::Par1);  // switched off below
    shell.ApplyShellSettings(settings);

    EXPECT_TRUE(Exists(shell.PackagePath(FileAssociation::Par2)));
    EXPECT_FALSE(Exists(shell.PackagePath(FileAssociation::Par1)));
    EXPECT_TRUE(Exists(shell.PackagePath(FileAssociation::Sfv)));
    EXPECT_TRUE(Exists(shell.PackagePath(FileAssociation::Md5)));
    EXPECT_EQ(
        EntryValue(kOpenEntryId, "MimeType"),
        "application/x-par2;application/x-sfv-checksum-file;application/x-md5-checksum-file;");
    EXPECT_TRUE(Exists(desktop.environment.dataHome + "/kio/servicemenus/vantrove-create.desktop"));

    Settings loaded(desktop.root.File("settings.reg"));
    loaded.par2Association = false;
    loaded.sfvMd5Association = false;
    loaded.par1Association = true;
    ASSERT_TRUE(loaded.Load());
    EXPECT_TRUE(loaded.par2Association);
    EXPECT_FALSE(loaded.par1Association);
    EXPECT_TRUE(loaded.sfvMd5Association);
    EXPECT_TRUE(loaded.explorerMenu);

    // Everything off takes every association away.
    settings.par2Association = settings.sfvMd5Association = settings.explorerMenu = false;
    shell.ApplyShellSettings(settings);
    EXPECT_FALSE(Exists(shell.EntryPath(kOpenEntryId)));
    EXPECT_FALSE(Exists(shell.PackagePath(FileAssociation::Par2)));
    EXPECT_EQ(desktop.Read(shell.MimeAppsListPath()).find("vantrove"), std::string::npos);
    EXPECT_FALSE(Exists(ProgramIconPath(desktop.environment)));
}

TEST_F(ShellIntegrationTest, MimeDatabaseIsRefreshedWhenThePackagesChange) {
    if (system("command -v update-mime-database >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "update-mime-database is not installed";
    }
    shell.refreshMimeDatabase = true;
    shell.Associate(FileAssociation::Md5);
    std::string globs = desktop.Read(desktop.environment.dataHome + "/mime/globs2");
    EXPECT_NE(globs.find("application/x-md5-checksum-file:*.md5"), std::string::npos) << globs;
    shell.Unassociate(FileAssociation::Md5);
    globs = desktop.Read(desktop.environment.dataHome + "/mime/globs2");
    EXPECT_EQ(globs.find("application/x-md5-checksum-file"), std::string::npos) << globs;
}

TEST(ShellIntegrationText, ExecProgramNameTakesTheFirstWord) {
    EXPECT_EQ(ExecProgramName("/usr/bin/vantrove %f"), "vantrove");
    EXPECT_EQ(ExecProgramName("  \"/opt/my apps/Vantrove\" \"%f\""), "Vantrove");
    EXPECT_EQ(ExecProgramName("\"/opt/a\\\"b/prog\" %f"), "prog");
    EXPECT_EQ(ExecProgramName("prog"), "prog");
    EXPECT_EQ(ExecProgramName(""), "");
}

TEST(ShellIntegrationText, ExecArgumentsAreQuotedOnlyWhenNeeded) {
    EXPECT_EQ(QuoteExecArgument("/usr/bin/vantrove"), "/usr/bin/vantrove");
    EXPECT_EQ(QuoteExecArgument("/a b/c"), "\"/a b/c\"");
    EXPECT_EQ(QuoteExecArgument("a\"b$c`d\\e"), "\"a\\\"b\\$c\\`d\\\\e\"");
    EXPECT_EQ(QuoteExecArgument("100%"), "100%%");
    EXPECT_EQ(QuoteExecArgument(""), "\"\"");
    EXPECT_EQ(EscapeDesktopValue("a\\b\nc\td"), "a\\\\b\\nc\\td");
}

}  // namespace
}  // namespace vantrove

namespace vantrove {
namespace {

// Sets an environment variable for the life of the object.
class ScopedVariable {
  public:
    ScopedVariable(const char* name, const char* value) : name_(name) {
        const char* old = std::getenv(name);
        had_ = old != nullptr;
        if (had_) old_ = old;
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedVariable() {
        if (had_) {
            setenv(name_, old_.c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

  private:
    const char* name_;
    bool had_ = false;
    std::string old_;
};

TEST(ShellEnvironment, FollowsTheXdgVariablesAndHome) {
    {
        ScopedVariable home("HOME", "/h/user");
        ScopedVariable data("XDG_DATA_HOME", "/x/data/");
        ScopedVariable config("XDG_CONFIG_HOME", nullptr);
        ScopedVariable dirs("XDG_DATA_DIRS", "/a:relative:/b/");
        ShellEnvironment env = CurrentShellEnvironment();
        EXPECT_EQ(env.dataHome, "/x/data");
        EXPECT_EQ(env.configHome, "/h/user/.config");
        EXPECT_EQ(env.dataDirs, (std::vector<std::string>{"/a", "/b"}));
        EXPECT_TRUE(env.Usable());
    }
    {
        // A relative folder counts as unset.
        ScopedVariable home("HOME", "/h/user");
        ScopedVariable data("XDG_DATA_HOME", "data");
        ScopedVariable dirs("XDG_DATA_DIRS", nullptr);
        ShellEnvironment env = CurrentShellEnvironment();
        EXPECT_EQ(env.dataHome, "/h/user/.local/share");
        EXPECT_EQ(env.dataDirs, (std::vector<std::string>{"/usr/local/share", "/usr/share"}));
    }
    {
        // Nowhere to write: nothing is.
        ScopedVariable home("HOME", nullptr);
        ScopedVariable data("XDG_DATA_HOME", nullptr);
        EXPECT_FALSE(CurrentShellEnvironment().Usable());
    }
    EXPECT_EQ(CurrentShellEnvironment().ExecutableName(), "vantrove");
}

}  // namespace
}  // namespace vantrove
