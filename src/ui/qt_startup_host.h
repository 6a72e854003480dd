#pragma once
// QtStartupHost: what start-up needs from the desktop program: the
// preferences dialog of the first run and the main dialog.
//
// The main dialog is made on the heap, deletes itself when it closes and
// becomes the application's main window (dialog_switch.h); the program's
// event loop then runs until the last window closes. While the create dialog
// does not exist yet (kCreateDialogAvailable), a start that would open it
// opens an empty verify/repair dialog. User-interface thread only.

#include <string>
#include <vector>

#include "app/start_up.h"

class QWidget;

namespace vantrove {

// The program's arguments for start-up: argv[1..argc) as the bytes they are,
// read after QApplication has taken its own options out of argc and argv.
// (Qt's decoded argument list would turn a file name that is not valid UTF-8
// into a different name.)
std::vector<std::string> ProgramArguments(int argc, const char* const* argv);

class QtStartupHost : public StartupHost {
  public:
    // The settings record the dialogs work on (start-up's own).
    explicit QtStartupHost(Settings& settings) : settings_(&settings) {}

    void ShowPreferences(Settings& settings) override;
    bool OpenMainDialog(const MainDialogChoice& choice) override;

    // The window OpenMainDialog made (null before, or when it failed).
    QWidget* mainDialog() const { return mainDialog_; }

  private:
    Settings* settings_ = nullptr;
    QWidget* mainDialog_ = nullptr;
};

}  // namespace vantrove
