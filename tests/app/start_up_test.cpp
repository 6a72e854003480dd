#include "app/start_up.h"

#include <gtest/gtest.h>

#include <map>

#include "app/localized_message_box.h"
#include "core/machine.h"
#include "core/string_table.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

using test::TempDir;
using Names = std::vector<std::string>;

// Records every message box instead of showing it.
struct RecordingMessageBox : MessageBoxPresenter {
    RecordingMessageBox() { SetMessageBoxPresenter(this); }
    ~RecordingMessageBox() override { SetMessageBoxPresenter(nullptr); }
    int Show(MessageBoxOwner, const std::string& text, const std::string& caption,
             unsigned style) override {
        shown.push_back(caption + ": " + text + " / " + std::to_string(style));
        return kIdOk;
    }
    std::vector<std::string> shown;
};

// A front end that writes down what start-up asks of it, in order.
struct FakeHost : StartupHost {
    std::vector<std::string> events;
    std::map<int, const char*> missingTexts;  // ids to report as missing/empty
    bool dialogOpens = true;
    uint32_t preferencesPriority = 0;  // what the "user" picks on the first run
    std::string listFileToWatch;
    bool listExistedDuringPreferences = false;
    MainDialogChoice opened;

    const char* LoadString(int id) override {
        auto it = missingTexts.find(id);
        return it != missingTexts.end() ? it->second : "testo";
    }
    void ShowPreferences(Settings& settings) override {
        events.push_back("preferences");
        listExistedDuringPreferences =
            !listFileToWatch.empty() && test::FileExists(listFileToWatch);
        settings.priority = preferencesPriority;
        settings.SaveOptions();
    }
    void ApplyPriority(uint32_t priority) override {
        events.push_back("priority " + std::to_string(priority));
    }
    bool OpenMainDialog(const MainDialogChoice& choice) override {
        events.push_back(choice.kind == MainDialogKind::Verify ? "verify" : "create");
        opened = choice;
        return dialogOpens;
    }
};

TEST(StartUp, EveryTextOfTheTableMustBePresent) {
    auto allThere = [](int) -> const char* { return "x"; };
    EXPECT_EQ(FirstMissingStringId(allThere), 0);
    EXPECT_EQ(FirstMissingStringId([](int id) -> const char* { return id == 612 ? nullptr : "x"; }),
              612);
    EXPECT_EQ(FirstMissingStringId([](int id) -> const char* { return id >= 600 ? "" : "x"; }),
              600);
    EXPECT_EQ(FirstMissingStringId([](int id) -> const char* { return id == 683 ? nullptr : "x"; }),
              683);
    // Only 500 through 683 are asked for.
    std::vector<int> asked;
    FirstMissingStringId([&](int id) -> const char* {
        asked.push_back(id);
        return "x";
    });
    ASSERT_EQ(asked.size(), 184u);
    EXPECT_EQ(asked.front(), 500);
    EXPECT_EQ(asked.back(), 683);
    EXPECT_EQ(MissingStringMessage(531), "Cannot load string resource 531.");
}

TEST(StartUp, AMissingTextEndsStartUpWithAMessage) {
    TempDir dir;
    RecordingMessageBox boxes;
    FakeHost host;
    host.missingTexts[640] = "";
    host.missingTexts[650] = nullptr;
    Application app;
    Settings settings(dir.File("settings.reg"));
    EXPECT_EQ(RunStartup(app, settings, {"/x/a.par2"}, host), StartupResult::MissingString);
    EXPECT_EQ(boxes.shown, Names{"Error: Cannot load string resource 640. / 48"});
    EXPECT_TRUE(host.events.empty()) << "no window, no priority change";
}

TEST(StartUp, FirstRunShowsPreferencesBeforeEverythingElse) {
    TempDir dir;
    std::string list = dir.File("list.txt");
    test::WriteFile(list, "/data/a.bin\n/data/b.bin\n");
    FakeHost host;
    host.listFileToWatch = list;
    host.preferencesPriority = 1;
    Application app;
    Settings settings(dir.File("config/settings.reg"));
    EXPECT_EQ(RunStartup(app, settings, {"/create", "/list", list}, host), StartupResult::Running);
    EXPECT_EQ(host.events, (Names{"preferences", "priority 1", "create"}));
    EXPECT_TRUE(host.listExistedDuringPreferences) << "the command line is read afterwards";
    EXPECT_FALSE(test::FileExists(list));
    EXPECT_EQ(host.opened.createFileNames, (Names{"/data/a.bin", "/data/b.bin"}));
    EXPECT_EQ(app.physicalMemoryBytes, PhysicalMemoryBytes());

    // The next start finds the store: no preferences, the saved priority.
    FakeHost second;
    Settings again(dir.File("config/settings.reg"));
    EXPECT_EQ(RunStartup(app, again, {"/sets/movie.par2", "/sets/other.par2"}, second),
              StartupResult::Running);
    EXPECT_EQ(second.events, (Names{"priority 1", "verify"}));
    EXPECT_EQ(second.opened.verifyFileName, "/sets/movie.par2");
}

TEST(StartUp, AMainDialogThatCannotBeCreatedEndsStartUp) {
    TempDir dir;
    FakeHost host;
    host.dialogOpens = false;
    Application app;
    Settings settings(dir.File("settings.reg"));
    EXPECT_EQ(RunStartup(app, settings, {}, host), StartupResult::NoWindow);
    EXPECT_EQ(host.events.back(), "create");
}

TEST(StartUp, ChoiceOfTheMainDialog) {
    TempDir dir;
    Settings settings(dir.File("none"));
    settings.monitorAutomatically = true;
    settings.repairAutomatically = false;

    CommandLine none;
    none.Parse(Names{});
    MainDialogChoice c = ChooseMainDialog(none, settings);
    EXPECT_EQ(c.kind, MainDialogKind::Create);
    EXPECT_TRUE(c.createFileNames.empty());

    CommandLine bare;
    bare.Parse(Names{"/s/a.par2", "/s/b.par2"});
    c = ChooseMainDialog(bare, settings);
    EXPECT_EQ(c.kind, MainDialogKind::Verify);
    EXPECT_EQ(c.verifyFileName, "/s/a.par2");
    EXPECT_TRUE(c.monitorAutomatically);
    EXPECT_FALSE(c.repairAutomatically);
    EXPECT_TRUE(c.createFileNames.empty()) << "further names are ignored on that path";

    settings.repairAutomatically = true;
    CommandLine both;
    both.Parse(Names{"-open", "-CREATE", "x"});
    c = ChooseMainDialog(both, settings);
    EXPECT_EQ(c.kind, MainDialogKind::Create);
    EXPECT_EQ(c.createFileNames, Names{"x"});

    CommandLine open;
    open.Parse(Names{"/open", "y.sfv"});
    c = ChooseMainDialog(open, settings);
    EXPECT_EQ(c.kind, MainDialogKind::Verify);
    EXPECT_EQ(c.verifyFileName, "y.sfv");
    EXPECT_TRUE(c.repairAutomatically);
}

}  // namespace
}  // namespace vantrove

namespace vantrove {
namespace {

TEST(StartUp, TheShippedStringTableIsComplete) {
    // A gap here would stop the program at its first start.
    EXPECT_EQ(FirstMissingStringId(LoadStringResource), 0);
}

}  // namespace
}  // namespace vantrove
