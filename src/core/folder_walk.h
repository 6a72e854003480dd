#pragma once
// Folders below a set's folder, reached without following a symbolic link.
//
// A set may name files in subfolders of its folder ("docs/a/report.pdf").
// Such a folder is only ever read or written when every component below the
// set's folder is a real folder: a symbolic link planted in the tree could
// otherwise lead a read or a write anywhere. Each component is opened with
// openat(O_NOFOLLOW | O_DIRECTORY) from the one before it, and missing ones
// are created with mkdirat, one at a time. Thread-safe; no shared state.

#include <string>

namespace vantrove {

// Opens the folder `relative` ("" for `base` itself, else a safe stored
// name of a folder, "a/b") below `base`, component by component; with
// `create`, missing components are made (mode 0777 before the umask).
// Returns a descriptor (the caller closes it) or -1 with errno set: ELOOP or
// ENOTDIR when a component is a symbolic link or no folder, ENOENT when one
// is missing and `create` is false, EINVAL for an unsafe `relative`.
int OpenFolderBelow(const std::string& base, const std::string& relative, bool create);

// For the file `name` (a safe stored name) below `base`: true when every
// folder of its path exists as a real folder, with `create` after making
// the missing ones. False with errno set as OpenFolderBelow sets it.
bool PrepareFoldersOf(const std::string& base, const std::string& name, bool create);

}  // namespace vantrove
