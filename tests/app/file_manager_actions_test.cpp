#include "app/file_manager_actions.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/desktop_entry_file.h"
#include "app/file_manager_menu.h"
#include "shell_test_support.h"

extern char** environ;

namespace vantrove {
namespace {

using test::FakeDesktop;
using test::PutFile;

// A user's own action list as Thunar writes it, with odd spacing kept.
const char kUserActions[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<actions>\n"
    "<action>\n"
    "\t<icon>utilities-terminal</icon>\n"
    "\t<name>Apri terminale qui</name>\n"
    "\t<unique-id>1465822406346452-1</unique-id>\n"
    "\t<command>exo-open --working-directory %f --launch TerminalEmulator</command>\n"
    "\t<description>Esempio &amp; co.</description>\n"
    "\t<patterns>*</patterns>\n"
    "\t<startup-notify/>\n"
    "\t<directories/>\n"
    "</action>\n"
    "  <action><name>Mine</name><unique-id>x-2</unique-id><command>true %F</command></action>\n"
    "<!-- a note of the user -->\n"
    "</actions>\n";

class FileManagerActionsTest : public ::testing::Test {
  protected:
    std::string Thunar() { return ThunarActionsPath(desktop.environment); }
    bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }
    void Update(bool enabled) { UpdateExplorerMenu(desktop.environment, enabled, remover); }
    size_t Count(const std::string& text, const std::string& what) {
        size_t count = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
            ++count;
        }
        return count;
    }

    FakeDesktop desktop;
    std::function<bool(const std::string&)> remover = [](const std::string& path) {
        return unlink(path.c_str()) == 0;
    };
};

TEST_F(FileManagerActionsTest, MenuSwitchInstallsAndRemovesEveryFileManagersEntry) {
    Update(true);
    std::string runner = FileManagerRunnerPath(desktop.environment);
    std::string nautilus = NautilusScriptPath(desktop.environment);
    std::string nemo = NemoActionPath(desktop.environment);
    for (const std::string& script : {runner, nautilus}) {
        struct stat st;
        ASSERT_EQ(stat(script.c_str(), &st), 0) << script;
        EXPECT_TRUE(st.st_mode & S_IXUSR) << script;
    }
    EXPECT_EQ(nautilus.substr(nautilus.rfind('/') + 1), "Crea volumi di recupero PAR2…");
    DesktopEntryFile action;
    action.Parse(desktop.Read(nemo));
    std::string value;
    EXPECT_TRUE(action.Get("Nemo Action", "Selection", value));
    EXPECT_TRUE(action.Get("Nemo Action", "Extensions", value));
    EXPECT_TRUE(action.Get("Nemo Action", "X-Vantrove-Version", value));
    EXPECT_EQ(value, kFileManagerMenuVersion);
    std::string actions = desktop.Read(Thunar());
    EXPECT_EQ(actions.rfind("<?xml", 0), 0u);
    EXPECT_EQ(Count(actions, kThunarActionId), 1u);

    Update(true);  // switching on again changes nothing
    EXPECT_EQ(desktop.Read(Thunar()), actions);

    Update(false);
    EXPECT_FALSE(Exists(runner));
    EXPECT_FALSE(Exists(nautilus));
    EXPECT_FALSE(Exists(nemo));
    EXPECT_FALSE(Exists(Thunar()));  // the list was ours alone

    // A list the user added to meanwhile stays, without our block.
    Update(true);
    std::string own = "<action><name>Mine</name><unique-id>u-1</unique-id></action>\n";
    std::string withOwn = desktop.Read(Thunar());
    withOwn.insert(withOwn.find("<actions>\n") + 10, own);
    PutFile(Thunar(), withOwn);
    Update(false);
    EXPECT_EQ(desktop.Read(Thunar()),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<actions>\n" + own + "</actions>\n");
}

TEST_F(FileManagerActionsTest, TheUsersThunarActionsStayByteForByte) {
    PutFile(Thunar(), kUserActions);
    Update(true);
    std::string merged = desktop.Read(Thunar());
    std::string block = ThunarActionBlock(FileManagerRunnerPath(desktop.environment));
    std::string tail = "<!-- a note of the user -->\n</actions>\n";
    std::string expected = kUserActions;
    expected.insert(expected.size() - std::string("</actions>\n").size(), block + "\n");
    EXPECT_EQ(merged, expected);

    // An older block of ours is replaced where it stands, not added twice.
    std::string old = merged;
    size_t at = old.find(block);
    old.replace(at, block.size(),
                "<action><unique-id>vantrove-create-par2</unique-id><command>old</command></action>");
    PutFile(Thunar(), old);
    Update(true);
    EXPECT_EQ(desktop.Read(Thunar()), expected);

    Update(false);
    EXPECT_EQ(desktop.Read(Thunar()), kUserActions);
}

TEST_F(FileManagerActionsTest, ThunarListsInOtherShapes) {
    std::string block = ThunarActionBlock("/r");
    std::string merged;
    // Thunar's empty list, and a closing tag on the same line as an action.
    ASSERT_TRUE(MergeThunarAction("<actions/>\n", block, merged));
    EXPECT_EQ(merged, "<actions>\n" + block + "\n</actions>\n");
    EXPECT_EQ(RemoveThunarAction(merged), "<actions>\n</actions>\n");
    ASSERT_TRUE(MergeThunarAction("<actions><action><name>a</name></action></actions>", block,
                                  merged));
    EXPECT_EQ(merged, "<actions><action><name>a</name></action>\n" + block + "\n</actions>");
    // Our block's line goes; the line break put in front of it stays.
    EXPECT_EQ(RemoveThunarAction(merged), "<actions><action><name>a</name></action>\n</actions>");
    // Something that is no action list is refused and left alone.
    merged = "untouched";
    EXPECT_FALSE(MergeThunarAction("<actions>\n<action>", block, merged));
    EXPECT_FALSE(MergeThunarAction("", block, merged));
    EXPECT_EQ(merged, "untouched");
    PutFile(Thunar(), "garbage");
    Update(true);
    EXPECT_EQ(desktop.Read(Thunar()), "garbage");
    // Actions whose names merely begin like ours are not ours.
    std::string similar = "<actions>\n<actions-x/><action><unique-id>vantrove-create-par2x"
                          "</unique-id></action>\n</actions>\n";
    EXPECT_EQ(RemoveThunarAction(similar), similar);
}

TEST_F(FileManagerActionsTest, WithoutAUserListThunarsDefaultsAreKept) {
    std::string system = "<?xml version=\"1.0\"?>\n<actions>\n<action><name>Default</name>"
                         "<unique-id>1-1</unique-id></action>\n</actions>\n";
    PutFile(desktop.root.File("etc/Thunar/uca.xml"), system);
    Update(true);
    std::string merged = desktop.Read(Thunar());
    EXPECT_EQ(merged.rfind("<?xml version=\"1.0\"?>\n<actions>\n<action><name>Default</name>", 0),
              0u);
    EXPECT_EQ(Count(merged, kThunarActionId), 1u);
    Update(false);
    EXPECT_FALSE(Exists(Thunar()));  // the system's list shows through again
}

TEST_F(FileManagerActionsTest, ALinkedThunarListStaysALink) {
    std::string real = desktop.root.File("dotfiles/uca.xml");
    PutFile(real, kUserActions);
    PutFile(Thunar(), "");
    unlink(Thunar().c_str());
    ASSERT_EQ(symlink(real.c_str(), Thunar().c_str()), 0);
    Update(true);
    struct stat st;
    ASSERT_EQ(lstat(Thunar().c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_NE(desktop.Read(real).find(kThunarActionId), std::string::npos);
    Update(false);
    EXPECT_EQ(desktop.Read(real), kUserActions);
}

TEST_F(FileManagerActionsTest, ForeignFilesAtOurPathsAreLeftAlone) {
    std::string nautilus = NautilusScriptPath(desktop.environment);
    std::string nemo = NemoActionPath(desktop.environment);
    PutFile(nautilus, "#!/bin/sh\necho mine\n");
    PutFile(nemo, "[Nemo Action]\nName=Mine\n");
    Update(false);
    EXPECT_EQ(desktop.Read(nautilus), "#!/bin/sh\necho mine\n");
    EXPECT_EQ(desktop.Read(nemo), "[Nemo Action]\nName=Mine\n");
}

// Runs `command` as the file managers do after filling in the files: a
// command line split by shell rules, without any expansion of its own.
int RunCommandLine(const std::string& command, const std::vector<std::string>& environment = {}) {
    std::vector<std::string> args = {"/bin/sh", "-c", "exec " + command};
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> variables(environment);
    for (char** e = environ; *e; ++e) variables.push_back(*e);
    std::vector<char*> envp;
    for (const std::string& variable : variables) envp.push_back(const_cast<char*>(variable.c_str()));
    envp.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The shell word for a path, as Nemo (Quote=single) and Thunar write each file.
std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

class FileManagerCommandsTest : public FileManagerActionsTest {
  protected:
    FileManagerCommandsTest() {
        // Awkward names for the program and the data folder the commands point at.
        desktop.environment.executablePath = desktop.root.File("bin 'q' $HOME 100%/vantrove");
        desktop.environment.dataHome = desktop.root.File("data \"d\" $x 5%");
        record = desktop.root.File("args.txt");
        PutFile(desktop.environment.executablePath,
                "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + record +
                    "'\nif [ \"$2\" = /list ]; then cat \"$3\" > '" + record +
                    ".list'; rm -f \"$3\"; fi\n");
        chmod(desktop.environment.executablePath.c_str(), 0755);
        Update(true);
    }

    // Runs a command with one file, then three, and checks what the program got.
    void Check(const std::function<int(const std::vector<std::string>&)>& run) {
        ASSERT_EQ(run({one}), 0);
        EXPECT_EQ(desktop.Read(record), "/create\n" + one + "\n");
        ASSERT_EQ(run(three), 0);
        std::string args = desktop.Read(record);
        ASSERT_EQ(args.rfind("/create\n/list\n", 0), 0u) << args;
        EXPECT_EQ(desktop.Read(record + ".list"),
                  three[0] + "\n" + three[1] + "\n" + three[2] + "\n");
        std::string list = args.substr(std::string("/create\n/list\n").size());
        list.pop_back();
        EXPECT_FALSE(Exists(list));  // the stand-in deleted it, as the program does
    }

    std::string record;
    std::string one = desktop.root.File("it's a $file");
    std::vector<std::string> three = {one, desktop.root.File("b \"quoted\" `x`"),
                                      desktop.root.File("100% c\\d")};
};

TEST_F(FileManagerCommandsTest, NautilusScriptReadsTheSelectionFromItsVariable) {
    std::string script = NautilusScriptPath(desktop.environment);
    Check([&](const std::vector<std::string>& files) {
        std::string paths;
        for (const std::string& file : files) paths += file + "\n";
        return RunCommandLine(Quoted(script), {"NAUTILUS_SCRIPT_SELECTED_FILE_PATHS=" + paths});
    });
}

TEST_F(FileManagerCommandsTest, NemoActionRunsWithItsFieldCodeFilledIn) {
    DesktopEntryFile action;
    action.Parse(desktop.Read(NemoActionPath(desktop.environment)));
    std::string exec, quote;
    ASSERT_TRUE(action.Get("Nemo Action", "Exec", exec));
    ASSERT_TRUE(action.Get("Nemo Action", "Quote", quote));
    EXPECT_EQ(quote, "single");
    Check([&](const std::vector<std::string>& files) {
        std::string list;
        for (const std::string& file : files) list += (list.empty() ? "" : " ") + Quoted(file);
        return RunCommandLine(Replace(exec, "%F", list));
    });
}

TEST_F(FileManagerCommandsTest, ThunarActionRunsWithItsFieldCodeFilledIn) {
    std::string actions = desktop.Read(Thunar());
    size_t begin = actions.find("<command>") + 9;
    std::string command = actions.substr(begin, actions.find("</command>") - begin);
    for (auto [entity, c] : {std::pair{"&apos;", "'"}, {"&quot;", "\""}, {"&lt;", "<"},
                             {"&gt;", ">"}, {"&amp;", "&"}}) {
        command = Replace(command, entity, c);
    }
    Check([&](const std::vector<std::string>& files) {
        std::string list;
        for (const std::string& file : files) list += (list.empty() ? "" : " ") + Quoted(file);
        // Thunar's field codes: %F the files, %% a percent sign.
        std::string filled;
        for (size_t i = 0; i < command.size(); ++i) {
            if (command[i] == '%' && i + 1 < command.size() && command[i + 1] == 'F') {
                filled += list;
                ++i;
            } else if (command[i] == '%' && i + 1 < command.size() && command[i + 1] == '%') {
                filled += '%';
                ++i;
            } else {
                filled += command[i];
            }
        }
        return RunCommandLine(filled);
    });
}

}  // namespace
}  // namespace vantrove
