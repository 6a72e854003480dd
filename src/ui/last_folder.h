#pragma once
// The last folder used in a file dialog: where the next "Seleziona File"
// dialog starts, whichever of the program's dialogs opens it.
//
// The verify/repair dialog and the create dialog share one value for the
// whole process: a file chosen or dropped in one makes the other start in the
// same folder. It is not stored between runs. User-interface thread only.

#include <string>

namespace vantrove {

// The folder, ending in '/'; empty until a file was chosen or dropped.
const std::string& LastFolder();

// Remembers the folder of `path` (up to and including its last '/'); a path
// without a folder changes nothing.
void RememberFolderOf(const std::string& path);

// Sets the folder itself (a '/' is added when missing); empty forgets it.
void SetLastFolder(const std::string& folder);

}  // namespace vantrove
