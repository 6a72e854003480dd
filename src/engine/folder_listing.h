#pragma once
// FolderListing: the files of one folder with their sizes and times, as the
// scan compares them with what a set already knows. Used by the
// verification worker; no shared state.

#include <cstdint>
#include <string>
#include <vector>

#include "core/file_time.h"

namespace vantrove {

struct ListedFile {
    std::string path;  // folder + name
    std::string name;
    uint64_t size = 0;
    FileTime creationTime = 0;
    FileTime lastWriteTime = 0;
};

// Every entry of `folder` (ending in '/') that is not a directory, sorted by
// name without regard to case by a stable sort (names that compare equal keep
// the order the system listed them in). Entries that vanish while being
// listed are left out. False when the folder cannot be read.
bool ListFolder(const std::string& folder, std::vector<ListedFile>& out);

// The same for the folder `relative` below `base` (a safe relative folder
// path, "" for `base` itself), reached without following a symbolic link at
// any component; paths in `out` are `base` + `relative` + "/" + name. False
// when it cannot be reached that way or read.
bool ListFolderBelow(const std::string& base, const std::string& relative,
                     std::vector<ListedFile>& out);

// Size and times of one path, taken the way DiskFile takes them. False when
// the path does not exist or is a directory.
bool StatFile(const std::string& path, ListedFile& out);

}  // namespace vantrove
