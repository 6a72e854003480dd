#pragma once
// The "Priorità" submenu: "Minima", "Normale" and "Alta" set the priority
// class of the whole process (idle, normal, high), as the Priority setting
// does at start-up. Worker threads keep their distance below the class.
//
// The dialogs put it in their own context menu (a right click on an empty
// part of the dialog), since windows here have no system menu. The current
// class is checked when the menu opens. User-interface thread only.

#include <cstdint>
#include <functional>

class QMenu;
class QPoint;
class QWidget;

namespace vantrove {

// Sets a priority class (1 idle, 2 normal, 3 high); ApplyPriorityClass by
// default, a recorder in tests.
using PriorityApplier = std::function<void(uint32_t priority)>;

// Adds a separator and the "Priorità" submenu to `menu`; returns the submenu
// (owned by `menu`). The actions' data are the classes 1, 2 and 3.
QMenu* AddPriorityMenu(QMenu* menu, PriorityApplier apply = {});

// Applies a class as the menu does by default: when the process cannot take
// it (a raise back needs privileges), a message says so, once in the
// program's life; later refusals stay quiet.
// `apply` sets the class (ApplyPriorityClass when empty) and says whether
// it could.
void ApplyPriorityFromMenu(uint32_t priority, QWidget* owner,
                           const std::function<bool(uint32_t)>& apply = {});

// For tests: whether the refusal has been reported, and forgetting it.
bool PriorityRefusalReported();
void ResetPriorityRefusalReport();

// The dialogs' context menu for an empty area: just the priority submenu, at
// the global position `globalPos`. Returns after the menu closed.
void ShowDialogContextMenu(QWidget* dialog, const QPoint& globalPos);

// The class (1..3) whose nice value the process has now, 0 for none of them.
uint32_t CurrentPriorityClass();

}  // namespace vantrove
