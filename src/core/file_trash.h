#pragma once
// File deletion, optionally into the user's trash (the freedesktop.org trash
// of the desktop: a "files" folder holding the deleted files and an "info"
// folder with one .trashinfo record per file giving its original path and
// the time of deletion).
//
// A file on the same file system as the user's data folder goes to the home
// trash ($XDG_DATA_HOME/Trash, else $HOME/.local/share/Trash); one on another
// file system goes to the trash at the top of that file system
// ($topdir/.Trash/$uid when the administrator provides a sticky .Trash, else
// $topdir/.Trash-$uid). Missing trash folders are created. A relative
// XDG_DATA_HOME or HOME is never used (it would put the trash under whatever
// the current folder is). An existing trash entry is never replaced. Where
// no trash can be used, the file is deleted.
//
// Plain functions over the file system; any thread may call them, the
// caller decides which files go.

#include <string>
#include <vector>

namespace vantrove {

// Moves `path` into a trash. 0 on success, else the errno that stopped it
// (the file is then where it was, and no info record is left behind).
int MoveToTrash(const std::string& path);

// Removes every path: into the trash when `toTrash` and a trash can take it,
// else by deleting it. Returns how many are gone from their place; failures
// leave the file where it was.
size_t DeleteFiles(const std::vector<std::string>& paths, bool toTrash);

// The home trash folder, or empty when neither XDG_DATA_HOME nor HOME gives
// an absolute path.
std::string HomeTrashFolder();

}  // namespace vantrove
