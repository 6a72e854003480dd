#include "core/folder_walk.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "core/stored_name.h"

namespace vantrove {
namespace {

int OpenComponent(int parent, const char* name) {
    int fd;
    do {
        fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

}  // namespace

int OpenFolderBelow(const std::string& base, const std::string& relative, bool create) {
    if (!relative.empty() && !IsSafeStoredName(relative)) {
        errno = EINVAL;
        return -1;
    }
    int fd = ::open(base.empty() ? "." : base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return -1;
    size_t start = 0;
    while (start < relative.size()) {
        size_t end = relative.find('/', start);
        if (end == std::string::npos) end = relative.size();
        const std::string part = relative.substr(start, end - start);
        int next = OpenComponent(fd, part.c_str());
        if (next < 0 && errno == ENOENT && create) {
            if (::mkdirat(fd, part.c_str(), 0777) != 0 && errno != EEXIST) {
                const int error = errno;
                ::close(fd);
                errno = error;
                return -1;
            }
            next = OpenComponent(fd, part.c_str());
        }
        if (next < 0) {
            // O_NOFOLLOW on a link reports ELOOP; a plain file gives ENOTDIR.
            const int error = errno;
            ::close(fd);
            errno = error;
            return -1;
        }
        ::close(fd);
        fd = next;
        start = end + 1;
    }
    return fd;
}

bool PrepareFoldersOf(const std::string& base, const std::string& name, bool create) {
    if (!IsSafeStoredName(name)) {
        errno = EINVAL;
        return false;
    }
    const size_t slash = name.rfind('/');
    const int fd = OpenFolderBelow(base, slash == std::string::npos ? std::string() : name.substr(0, slash),
                                   create);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

}  // namespace vantrove
