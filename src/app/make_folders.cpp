#include "app/make_folders.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace vantrove {

namespace {

std::vector<std::string> Components(const std::string& path) {
    std::vector<std::string> parts;
    size_t at = 0;
    while (at < path.size()) {
        size_t slash = path.find('/', at);
        if (slash == std::string::npos) slash = path.size();
        if (slash > at) parts.push_back(path.substr(at, slash - at));
        at = slash + 1;
    }
    return parts;
}

}  // namespace

MakeFoldersResult MakeDestinationFolders(const std::string& path) {
    MakeFoldersResult result;
    if (path.empty() || path.front() != '/') {
        result.failedFolder = path;
        result.error = EINVAL;
        return result;
    }
    int folder = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
        result.failedFolder = "/";
        result.error = errno;
        return result;
    }
    std::string reached = "/";
    bool making = false;
    for (const std::string& name : Components(path)) {
        const std::string here = reached + name;
        int next = openat(folder, name.c_str(),
                          O_PATH | O_DIRECTORY | O_CLOEXEC | (making ? O_NOFOLLOW : 0));
        if (next < 0 && errno == ENOENT) {
            if (mkdirat(folder, name.c_str(), 0777) != 0 && errno != EEXIST) {
                result.failedFolder = here;
                result.error = errno;
                close(folder);
                return result;
            }
            making = true;
            next = openat(folder, name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
        }
        if (next < 0) {
            result.failedFolder = here;
            result.error = errno;
            close(folder);
            return result;
        }
        close(folder);
        folder = next;
        reached = here + "/";
    }
    close(folder);
    result.ok = true;
    return result;
}

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') return home;
    if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr)
        return entry->pw_dir;
    return {};
}

}  // namespace vantrove
