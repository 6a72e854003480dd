#include "app/file_manager_menu.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/desktop_entry_file.h"
#include "app/localized_message_box.h"
#include "shell_test_support.h"

extern char** environ;

namespace vantrove {
namespace {

using test::FakeDesktop;
using test::PutFile;

struct RecordingMessageBox : MessageBoxPresenter {
    int Show(MessageBoxOwner, const std::string& text, const std::string& caption,
             unsigned style) override {
        shown.push_back(caption + "|" + text + "|" + std::to_string(style));
        return kIdOk;
    }
    std::vector<std::string> shown;
};

class FileManagerMenuTest : public ::testing::Test {
  protected:
    FileManagerMenuTest() { SetMessageBoxPresenter(&messages); }
    ~FileManagerMenuTest() override { SetMessageBoxPresenter(nullptr); }

    std::string Module() { return FileManagerMenuModulePath(desktop.environment); }
    std::string Installed() { return FileManagerMenuInstalledPath(desktop.environment); }
    bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }
    void Update(bool& enabled) { UpdateExplorerMenu(desktop.environment, enabled, remover); }

    FakeDesktop desktop;
    RecordingMessageBox messages;
    std::function<bool(const std::string&)> remover = [](const std::string& path) {
        return unlink(path.c_str()) == 0;
    };
};

TEST_F(FileManagerMenuTest, CarriedResourceUnpacksToTheCurrentVersion) {
    size_t size = 0;
    const unsigned char* data = FileManagerMenuResource(size);
    std::string content;
    ASSERT_TRUE(UnpackResource(data, size, content));
    uint32_t length = data[0] | data[1] << 8 | data[2] << 16 | static_cast<uint32_t>(data[3]) << 24;
    EXPECT_EQ(content.size(), length);
    EXPECT_NE(content.find("X-Vantrove-Version=0.1.3.0\n"), std::string::npos);
    EXPECT_NE(content.find("Exec=@EXEC@"), std::string::npos);
    EXPECT_STREQ(kFileManagerMenuVersion, "0.1.3.0");
}

TEST_F(FileManagerMenuTest, DamagedResourcesAreRefused) {
    size_t size = 0;
    const unsigned char* data = FileManagerMenuResource(size);
    std::vector<unsigned char> copy(data, data + size);
    std::string content = "untouched";
    EXPECT_FALSE(UnpackResource(copy.data(), 3, content));
    EXPECT_FALSE(UnpackResource(copy.data(), size - 5, content));  // truncated stream
    std::vector<unsigned char> longer = copy;
    longer[0] = static_cast<unsigned char>(longer[0] + 1);  // length one more than the data
    EXPECT_FALSE(UnpackResource(longer.data(), longer.size(), content));
    std::vector<unsigned char> huge = copy;
    huge[3] = 0x7F;
    EXPECT_FALSE(UnpackResource(huge.data(), huge.size(), content));
    std::vector<unsigned char> flipped = copy;
    flipped[size / 2] ^= 0x55;
    EXPECT_FALSE(UnpackResource(flipped.data(), flipped.size(), content));
    EXPECT_EQ(content, "untouched");
}

TEST_F(FileManagerMenuTest, OnInstallsOffRemovesButKeepsTheModule) {
    bool enabled = true;
    Update(enabled);
    EXPECT_TRUE(enabled);
    EXPECT_EQ(FileManagerMenuVersion(Module()), "0.1.3.0");
    std::string installed = desktop.Read(Installed());
    EXPECT_EQ(installed.find("@EXEC@"), std::string::npos);
    EXPECT_NE(installed.find("'" + desktop.environment.executablePath + "'"), std::string::npos);
    struct stat st;
    ASSERT_EQ(stat(Installed().c_str(), &st), 0);
    EXPECT_TRUE(st.st_mode & S_IXUSR);  // KDE runs only executable service menus

    enabled = false;
    Update(enabled);
    EXPECT_FALSE(Exists(Installed()));
    EXPECT_TRUE(Exists(Module()));
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(FileManagerMenuTest, OutdatedModuleIsReplaced) {
    PutFile(Module(), "[Desktop Entry]\nX-Vantrove-Version=0.1.2.0\nExec=@EXEC@\n# old\n");
    PutFile(Installed(), "[Desktop Entry]\nX-Vantrove-Version=0.1.2.0\nExec=old\n");
    bool enabled = true;
    Update(enabled);
    EXPECT_TRUE(enabled);
    EXPECT_EQ(FileManagerMenuVersion(Module()), "0.1.3.0");
    EXPECT_EQ(FileManagerMenuVersion(Installed()), "0.1.3.0");
    EXPECT_EQ(desktop.Read(Module()).find("# old"), std::string::npos);
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(FileManagerMenuTest, OutdatedModuleThatCannotBeDeletedTurnsTheMenuOff) {
    const std::string old = "[Desktop Entry]\nX-Vantrove-Version=0.1.2.0\nExec=@EXEC@\n";
    PutFile(Module(), old);
    PutFile(Installed(), old);
    std::string module = Module();
    remover = [module](const std::string& path) {
        return path != module && unlink(path.c_str()) == 0;
    };
    bool enabled = true;
    Update(enabled);
    EXPECT_FALSE(enabled);
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0],
              "Vantrove|Estenzione per la Shell cambiata.\n\nPer favore disconnettere l'utente "
              "corrente e riconnetterlo nuovamente  per consentire l'aggiornamento "
              "dell'estensione per la Shell.|" +
                  std::to_string(kMbOk | kMbIconInformation));
    EXPECT_EQ(desktop.Read(Module()), old);
    EXPECT_FALSE(Exists(Installed()));  // unregistered before the deletion was tried
}

TEST_F(FileManagerMenuTest, ModuleWithoutVersionIsNotOutdated) {
    PutFile(Module(), "[Desktop Entry]\nExec=@EXEC@\n");
    bool enabled = false;
    Update(enabled);
    EXPECT_EQ(desktop.Read(Module()), "[Desktop Entry]\nExec=@EXEC@\n");
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(FileManagerMenuTest, AForeignFileAtTheInstalledPathIsLeftAlone) {
    PutFile(Installed(), "[Desktop Entry]\nName=Someone else's\n");
    bool enabled = false;
    Update(enabled);
    EXPECT_TRUE(Exists(Installed()));
}

// Splits an Exec value as the desktop does: string escapes, then quoted
// arguments, then the field codes (%F: the files, %%: a percent sign).
std::vector<std::string> ExpandExec(const std::string& stored,
                                    const std::vector<std::string>& files) {
    std::string exec;
    for (size_t i = 0; i < stored.size(); ++i) {
        if (stored[i] == '\\' && i + 1 < stored.size()) {
            char c = stored[++i];
            exec += c == 'n' ? '\n' : c == 't' ? '\t' : c == 's' ? ' ' : c == 'r' ? '\r' : c;
        } else {
            exec += stored[i];
        }
    }
    std::vector<std::string> argv;
    size_t i = 0;
    while (i < exec.size()) {
        if (exec[i] == ' ') {
            ++i;
            continue;
        }
        std::string word;
        bool quoted = exec[i] == '"';
        if (quoted) {
            for (++i; i < exec.size() && exec[i] != '"'; ++i) {
                if (exec[i] == '\\' && i + 1 < exec.size()) ++i;
                word += exec[i];
            }
            ++i;
        } else {
            while (i < exec.size() && exec[i] != ' ') word += exec[i++];
        }
        if (!quoted && word == "%F") {
            argv.insert(argv.end(), files.begin(), files.end());
            continue;
        }
        std::string expanded;
        for (size_t k = 0; k < word.size(); ++k) {
            if (word[k] == '%' && k + 1 < word.size() && word[k + 1] == '%') ++k;
            expanded += word[k];
        }
        argv.push_back(expanded);
    }
    return argv;
}

int RunProgram(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(FileManagerMenuTest, MenuCommandStartsTheCreateDialogWithOneFileOrAList) {
    // A stand-in for the program that records its arguments and its list.
    std::string record = desktop.root.File("args.txt");
    PutFile(desktop.environment.executablePath, "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + record +
                                                    "'\n"
                                                    "if [ \"$2\" = /list ]; then cat \"$3\" > '" +
                                                    record + ".list'; rm -f \"$3\"; fi\n");
    chmod(desktop.environment.executablePath.c_str(), 0755);
    bool enabled = true;
    Update(enabled);
    DesktopEntryFile menu;
    menu.Parse(desktop.Read(Installed()));
    std::string exec;
    ASSERT_TRUE(menu.Get("Desktop Action VantroveCreate", "Exec", exec));

    std::string one = desktop.root.File("it's a $file");
    ASSERT_EQ(RunProgram(ExpandExec(exec, {one})), 0);
    EXPECT_EQ(desktop.Read(record), "/create\n" + one + "\n");

    std::vector<std::string> three = {one, desktop.root.File("b \"quoted\""),
                                      desktop.root.File("100% c")};
    ASSERT_EQ(RunProgram(ExpandExec(exec, three)), 0);
    std::string args = desktop.Read(record);
    ASSERT_EQ(args.rfind("/create\n/list\n", 0), 0u) << args;
    EXPECT_EQ(desktop.Read(record + ".list"), three[0] + "\n" + three[1] + "\n" + three[2] + "\n");
}

}  // namespace
}  // namespace vantrove
