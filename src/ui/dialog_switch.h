#pragma once
// Switching between the program's top-level dialogs.
//
// The program always has one main window: the verify/repair dialog, the
// create dialog or the creation progress dialog. A dialog hands over to
// another (Nuovo, Apri, Verifica, Extra) by creating the next one and
// closing itself; the process ends when the last window closes. Top-level
// dialogs are made on the heap with Qt::WA_DeleteOnClose, so closing one
// also frees it.
//
// The kXxxAvailable switches say which of the other windows exist yet; while
// one is false, the buttons that would open it stay disabled.
//
// User-interface thread only.

#include <string>
#include <vector>

#include "app/verification_worker.h"

class QWidget;

namespace vantrove {

class Settings;

constexpr bool kCreateDialogAvailable = true;
constexpr bool kPreferencesAvailable = true;
constexpr bool kAboutBoxAvailable = true;

// The application's main window (null before the first and after the last).
QWidget* MainWindow();
// Makes `window` the main window without showing or closing anything.
void SetMainWindow(QWidget* window);

// Makes `next` the main window (showing it if hidden) and then closes
// `current`, so the program goes on with `next`. With a null `next` the
// current window stays the main window and still closes: the program ends
// unless another window is visible (also when `current` was hidden before,
// which by itself would leave the program running without a window).
// Nothing happens to `current` when it is `next` or null.
void ReplaceMainWindow(QWidget* current, QWidget* next);

// Whether any top-level window of the program is on screen.
bool AnyWindowVisible();

// A new verify/repair dialog, shown, opening `fileName` when it is not empty.
// Its monitoring and automatic repair start unchecked. Deleted on close.
// Null, after a message box, when its worker thread could not be started.
QWidget* OpenVerifyDialog(Settings& settings, const std::string& fileName);

// A new create dialog with `files`, shown; null when it cannot be made.
QWidget* OpenCreateDialog(Settings& settings, const std::vector<std::string>& files);

// A new create dialog that adds recovery volumes to the PAR 2.0 set `set`
// (taken from a verify/repair dialog's worker), shown; null when it cannot be
// made, and the set is then destroyed.
QWidget* OpenCreateDialogForSet(Settings& settings, DetachedSet set);

}  // namespace vantrove
