#pragma once
// The context menu of a file shown in a dialog's list: the desktop's own
// actions for it. "Apri" opens it with the desktop's default application,
// "Apri cartella" opens the folder that holds it in the file manager, "Copia
// percorso" puts its path on the clipboard. For a folder, "Apri" opens the
// folder itself and there is no containing-folder entry. Paths are the bytes
// of the file names, as the engine has them, so that a name that is not
// UTF-8 is opened as it is. User-interface thread only.

#include <functional>
#include <string>

class QMenu;

namespace vantrove {

// Adds the actions for `path` (a local file or folder) to `menu`.
void FillFileMenu(QMenu* menu, const std::string& path);

// What "Apri" does: the desktop's default application for `path`.
void OpenWithDesktop(const std::string& path);

// For tests: what OpenWithDesktop calls instead of the desktop (null: the
// desktop again).
void SetDesktopOpenerForTests(std::function<void(const std::string&)> opener);

// The folder that holds `path` (the path itself for a folder), for the
// file manager.
std::string ContainingFolder(const std::string& path);

}  // namespace vantrove
