#pragma once
// The Help key: F1 in a dialog opens the program's manual, "index.htm", in
// the desktop's browser. User-interface thread only.

#include <functional>

class QWidget;

namespace vantrove {

// Adds the Help shortcut (F1) to `dialog`; it works while the dialog or any
// of its controls has the focus.
void InstallHelpKey(QWidget* dialog);

// Opens the manual as the Help key does.
void RunHelp();

// What the Help key does: OpenHelp by default. Tests install a recorder;
// an empty function goes back to the default.
void SetHelpOpener(std::function<void()> open);

}  // namespace vantrove
