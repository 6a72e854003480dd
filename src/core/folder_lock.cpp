#include "core/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace vantrove {

FolderLock::~FolderLock() {
    Release();
}

void FolderLock::Release() {
    if (fd_ >= 0) ::close(fd_);  // closing the only descriptor drops the lock
    fd_ = -1;
}

namespace {

int OpenFolder(const std::string& folder) {
    const std::string path = folder.empty() ? "." : folder;
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Whether only looks (shared holders) stand in the way of the exclusive
// lock on `folder`: false when a job holds it.
bool OnlyLooksHoldIt(const std::string& folder) {
    const int fd = OpenFolder(folder);
    if (fd < 0) return false;
    const bool shared = flock(fd, LOCK_SH | LOCK_NB) == 0;
    ::close(fd);
    return shared;
}

// Tries for the exclusive lock without waiting for another job; a look
// lets go at once, so the attempt is repeated while only looks hold it
// (for about five seconds at most: looks that never end count as a job).
int LockUnlessAnotherJob(int fd, const std::string& folder) {
    constexpr int kTries = 10000;
    for (int tries = 0;; ++tries) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) return 0;
        const int error = errno;
        if (error != EWOULDBLOCK || tries == kTries) return error;
        if (!OnlyLooksHoldIt(folder)) return EWOULDBLOCK;
        const timespec pause{0, 500 * 1000};
        nanosleep(&pause, nullptr);
    }
}

}  // namespace

bool FolderLock::JobWorksIn(const std::string& folder) {
    const int fd = OpenFolder(folder);
    if (fd < 0) return false;
    const bool held = flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);  // a shared lock taken goes with the descriptor
    return held;
}

FolderLock::Outcome FolderLock::Acquire(const std::string& folder, bool wait,
                                        const std::function<bool()>& keepWaiting) {
    Release();
    error_ = 0;
    const int fd = OpenFolder(folder);
    if (fd < 0) {
        error_ = errno;
        return Outcome::Failed;
    }
    for (;;) {
        const int error =
            wait ? (flock(fd, LOCK_EX) == 0 ? 0 : errno) : LockUnlessAnotherJob(fd, folder);
        if (error == 0) break;
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
