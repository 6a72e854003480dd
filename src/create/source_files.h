#pragma once
// Source files for a new set: the regular files below a folder, and the name
// each file is stored under. A stored name is the file's path relative to
// the set's folder ("docs/a.txt"), so that a tree verifies and repairs in
// place. Shared by the command line and the create dialog; no shared state.

#include <string>
#include <vector>

#include "create/creation_parameters.h"

namespace vantrove {

// Appends the regular files below `folder` (absolute, ending in '/'),
// sorted by name within each folder, recursing into subfolders. Symbolic
// links are not followed (neither to files nor to folders). False with
// `error` when a folder cannot be read.
bool AddFolderFiles(const std::string& folder, std::vector<CreationSourceFile>& out,
                    std::string& error);

// `path` as an absolute path written one way only: taken from the current
// folder when relative, "." components and repeated slashes dropped (so that
// "dir/./a" and "dir//a" name the listed "dir/a"). ".." stays: behind a
// symbolic link it need not lead to the folder the text suggests.
std::string TidyAbsolutePath(const std::string& path);

// `listed` with the files of `paths` added, sorted by path without regard to
// case (the order the create dialog shows). Each path is made a TidyAbsolutePath;
// one already listed is left out, a folder brings every regular file below it
// (unreadable parts of it are passed over), and a file that cannot be looked
// at is listed with size 0, for the creation to report. `added` tells
// whether anything new came in.
std::vector<CreationSourceFile> WithFilesAdded(const std::vector<CreationSourceFile>& listed,
                                               const std::vector<std::string>& paths, bool& added);

// `path` relative to `folder` (absolute, ending in '/') when it lies below
// it, else its plain file name.
std::string StoredNameBelow(const std::string& path, const std::string& folder);

// True when two files of `files` have the same stored name (storedName, or
// the plain name where that is empty); `name`, `first` and `second` tell
// which.
bool FindStoredNameClash(const std::vector<CreationSourceFile>& files, std::string& name,
                         std::string& first, std::string& second);

}  // namespace vantrove
