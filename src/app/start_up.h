#pragma once
// Start-up: everything between the start of the process and its first
// window, in a fixed order:
//
//   1. the string table check: every text 500..678 must be there and not
//      empty, else "Cannot load string resource %d." and the process ends;
//   2. the machine: physical memory, then the speed of the kernel;
//   3. the settings; on the first run (no store yet) the preferences dialog
//      is shown before anything else;
//   4. the process priority from the settings, and the user-interface thread
//      one step below it;
//   5. the command line (a list file is read and deleted here);
//   6. the one top-level dialog: verify/repair for a set, or create.
//
// The windows belong to the front end: it implements StartupHost, which
// start-up calls for the preferences dialog and the main dialog. Which
// dialog opens with which files is decided by ChooseMainDialog, a plain
// function of the command line and the settings. There is no single-instance
// check; every start is an independent process.
//
// Runs on the main thread before any worker thread exists.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/command_line.h"
#include "app/settings.h"

namespace vantrove {

enum class MainDialogKind { Create, Verify };

// The top-level dialog that start-up opens.
struct MainDialogChoice {
    MainDialogKind kind = MainDialogKind::Create;
    // Verify: the recovery or checksum file to open.
    std::string verifyFileName;
    // Verify: its monitoring and automatic-repair options, which it takes
    // from the settings.
    bool monitorAutomatically = false;
    bool repairAutomatically = false;
    // Create: the files to add, in command-line order (may be empty).
    std::vector<std::string> createFileNames;
};

MainDialogChoice ChooseMainDialog(const CommandLine& commandLine, const Settings& settings);

// What start-up needs from the front end and the platform. The two dialogs
// are the front end's; the other operations have working defaults that
// tests replace.
class StartupHost {
  public:
    virtual ~StartupHost() = default;

    // The first run: the preferences dialog, modal and without a parent.
    // What the user confirms there is stored in `settings`, saved and applied
    // by the dialog itself; cancelling leaves everything as it was.
    virtual void ShowPreferences(Settings& settings) = 0;

    // Creates the top-level dialog; false when its window cannot be created.
    virtual bool OpenMainDialog(const MainDialogChoice& choice) = 0;

    // A text of the string table (nullptr when missing).
    virtual const char* LoadString(int id);

    // Sets the process class of the Priority setting (0 leaves it), then puts
    // the calling (user-interface) thread one step below it.
    virtual void ApplyPriority(uint32_t priority);
};

// The first id between 500 and 678 whose text is missing or empty; 0 when
// every text is there.
int FirstMissingStringId(const std::function<const char*(int)>& lookup);

// "Cannot load string resource %d." for `id`.
std::string MissingStringMessage(int id);

enum class StartupResult {
    Running,        // the main dialog is open; the front end runs its loop
    MissingString,  // a text of the string table is missing: end the process
    NoWindow,       // the main dialog could not be created: end the process
};

// Runs the start-up sequence. `arguments` are the command-line arguments
// without the program name. On MissingString the message box has been shown.
StartupResult RunStartup(Application& application, Settings& settings,
                         const std::vector<std::string>& arguments, StartupHost& host);

}  // namespace vantrove
