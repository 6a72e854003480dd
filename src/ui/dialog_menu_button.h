#pragma once
// The dialogs' menu button: a small "⋮" tool button in a corner of each
// top-level dialog, where a desktop user looks for a window's menu. It holds
// "Priorità" (also in the right-click menu of the dialog's background),
// "Preferenze", "Informazioni" and "Aiuto" (F1). User-interface thread only.

#include <functional>

class QBoxLayout;
class QToolButton;
class QWidget;

namespace vantrove {

// A new menu button owned by `dialog` (object name "dialogMenu"), to be put
// in its layout. `preferences` and `about` run the dialog's own commands; a
// null `preferences` leaves the entry out.
QToolButton* MakeDialogMenuButton(QWidget* dialog, std::function<void()> preferences,
                                  std::function<void()> about);

// Adds a dialog's top row to `layout`: `left` taking the width, the menu
// button (as MakeDialogMenuButton makes it) at the right.
void AddTopRowWithMenu(QBoxLayout* layout, QWidget* dialog, QWidget* left,
                       std::function<void()> preferences, std::function<void()> about);

}  // namespace vantrove
