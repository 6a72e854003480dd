#include "engine/folder_listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "core/folder_walk.h"
#include "core/path.h"
#include "engine/path_order.h"

namespace vantrove {
namespace {

FileTime FromTimestamp(const struct statx_timestamp& t) {
    return FileTimeFromUnix(t.tv_sec, t.tv_nsec);
}

// Fills size and times from statx, following a symbolic link as opening the
// file would. False for a directory or a path that is gone.
bool StatAt(int dirFd, const char* name, ListedFile& out) {
    struct statx sx {};
    if (statx(dirFd, name, 0, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) return false;
    if (S_ISDIR(sx.stx_mode)) return false;
    out.size = sx.stx_size;
    out.lastWriteTime = FromTimestamp(sx.stx_mtime);
    bool haveBirth =
        (sx.stx_mask & STATX_BTIME) && (sx.stx_btime.tv_sec != 0 || sx.stx_btime.tv_nsec != 0);
    out.creationTime = FromTimestamp(haveBirth ? sx.stx_btime : sx.stx_ctime);
    return true;
}

// Lists the open folder `dir` into `out`, paths beginning with `prefix`.
void ListOpenFolder(DIR* dir, const std::string& prefix, std::vector<ListedFile>& out) {
    const int dirFd = dirfd(dir);
    while (struct dirent* entry = readdir(dir)) {
        const char* name = entry->d_name;
        if (entry->d_type == DT_DIR) continue;
        ListedFile file;
        if (!StatAt(dirFd, name, file)) continue;
        file.name = name;
        file.path = prefix + file.name;
        out.push_back(std::move(file));
    }
    closedir(dir);
    std::stable_sort(out.begin(), out.end(), [](const ListedFile& a, const ListedFile& b) {
        return CompareIgnoringCase(a.name, b.name) < 0;
    });
}

}  // namespace

bool ListFolder(const std::string& folder, std::vector<ListedFile>& out) {
    out.clear();
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return false;
    ListOpenFolder(dir, folder, out);
    return true;
}

bool ListFolderBelow(const std::string& base, const std::string& relative,
                     std::vector<ListedFile>& out) {
    out.clear();
    const int fd = OpenFolderBelow(base, relative, false);
    if (fd < 0) return false;
    DIR* dir = fdopendir(fd);
    if (!dir) {
        close(fd);
        return false;
    }
    ListOpenFolder(dir, relative.empty() ? base : base + relative + "/", out);
    return true;
}

bool StatFile(const std::string& path, ListedFile& out) {
    out.path = path;
    out.name = FileNameOfPath(path);
    return StatAt(AT_FDCWD, path.c_str(), out);
}

}  // namespace vantrove
