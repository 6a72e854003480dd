#include "core/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace vantrove {

FolderLock::~FolderLock() {
    Release();
}

void FolderLock::Release() {
    if (fd_ >= 0) ::close(fd_);  // closing the only descriptor drops the lock
    fd_ = -1;
}

FolderLock::Outcome FolderLock::Acquire(const std::string& folder, bool wait,
                                        const std::function<bool()>& keepWaiting) {
    Release();
    error_ = 0;
    const std::string path = folder.empty() ? "." : folder;
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        error_ = errno;
        return Outcome::Failed;
    }
    for (;;) {
        if (flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB)) == 0) break;
        const int error = errno;
        if (error == EINTR && (!keepWaiting || keepWaiting())) continue;
        if (error == EWOULDBLOCK || error == EINTR) {
            ::close(fd);
            return Outcome::Busy;
        }
        // No locks on this file system: work as before, unguarded.
        break;
    }
    fd_ = fd;
    return Outcome::Locked;
}

}  // namespace vantrove
