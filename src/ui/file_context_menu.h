#pragma once
// The context menu of a file shown in a dialog's list: the desktop's own
// actions for it. "Apri" opens it with the desktop's default application,
// "Apri cartella" opens the folder that holds it in the file manager, "Copia
// percorso" puts its path on the clipboard. For a folder, "Apri" opens the
// folder itself and there is no containing-folder entry. User-interface
// thread only.

#include <QString>

class QMenu;

namespace vantrove {

// Adds the actions for `path` (a local file or folder) to `menu`.
void FillFileMenu(QMenu* menu, const QString& path);

// The folder that holds `path` (the path itself for a folder), for the
// file manager.
QString ContainingFolder(const QString& path);

}  // namespace vantrove
