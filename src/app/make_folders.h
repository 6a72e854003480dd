#pragma once
// Creating a destination folder with the folders above it that are missing.
//
// The folders are made one at a time, each below the folder opened just
// before (mkdirat and openat on its descriptor), and a folder made here is
// opened without following a symbolic link, so that a link put in its place
// cannot lead the rest of the path elsewhere. The part of the path that
// exists already is taken as it is, links included. Any thread.

#include <string>

namespace vantrove {

struct MakeFoldersResult {
    bool ok = false;
    std::string failedFolder;  // the folder that could not be made or entered
    int error = 0;             // its errno
};

// Makes the absolute folder `path` (a trailing '/' is allowed) and every
// missing folder above it, with mode 0777 less the umask. Succeeds when the
// folder exists already.
MakeFoldersResult MakeDestinationFolders(const std::string& path);

// The user's home folder: $HOME, else the password database's entry; empty
// when neither knows it.
std::string HomeFolder();

}  // namespace vantrove
