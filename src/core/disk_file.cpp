// DiskFile: opening, positioned reads and writes, sizing, deletion and
// renaming. The asynchronous reads live in disk_file_async.cpp.

#include "core/disk_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <atomic>
#include <limits>

#include "core/disk_file_io.h"
#include "core/path.h"

namespace vantrove {

namespace {

std::atomic<FileFaultInjector*> g_faultInjector{nullptr};

// Largest amount handed to one pread/pwrite call; the kernel moves at most
// about 2 GiB per call anyway.
constexpr size_t kMaxTransfer = size_t{1} << 30;

// Highest numbered "%s.%d" name that rename tries before giving up.
constexpr int kMaxRenameCounter = 1000000;
// Reads up to kSmallRead bytes of a read-only file go through a window of
// kReadAhead bytes.
constexpr size_t kSmallRead = 4096;
constexpr size_t kReadAhead = 65536;

constexpr uint64_t kMaxFileOffset = static_cast<uint64_t>(std::numeric_limits<off_t>::max());

// 0 when `path` can name a file here, else the errno that refuses it.
int CheckPath(const std::string& path) {
    if (path.empty()) return ENOENT;
    if (path.find('\0') != std::string::npos) return EINVAL;
    if (path.size() >= PATH_MAX) return ENAMETOOLONG;
    return 0;
}

FileTime FromTimestamp(const statx_timestamp& t) {
    return FileTimeFromUnix(t.tv_sec, t.tv_nsec);
}

FileTime FromTimespec(const timespec& t) {
    return FileTimeFromUnix(t.tv_sec, static_cast<uint32_t>(t.tv_nsec));
}

// Moves `from` to `to` unless something exists at `to` (then EEXIST). Uses the
// atomic no-replace rename; where the file system refuses it, a hard link
// followed by removing the old name, which also never replaces; and only on a
// file system without hard links a check followed by a plain rename.
int MoveNoReplace(const std::string& from, const std::string& to) {
    FileFaultInjector* injector = detail::CurrentFaultInjector();
    if (!injector || !injector->RefuseNoReplaceRename()) {
        if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
            return 0;
        int error = errno;
        if (error != EINVAL && error != ENOSYS && error != EOPNOTSUPP) return error;
    }
    if (link(from.c_str(), to.c_str()) == 0) {
        if (unlink(from.c_str()) == 0) return 0;
        int error = errno;
        unlink(to.c_str());
        return error;
    }
    int error = errno;
    if (error != EPERM && error != EOPNOTSUPP && error != ENOSYS) return error;
    struct stat st {};
    if (lstat(to.c_str(), &st) == 0) return EEXIST;
    if (errno != ENOENT) return errno;
    if (::rename(from.c_str(), to.c_str()) == 0) return 0;
    return errno;
}

// strerror_r comes in two flavours; both are handled.
[[maybe_unused]] const char* ErrorTextOf(int result, const char* buffer) {
    return result == 0 ? buffer : nullptr;
}
[[maybe_unused]] const char* ErrorTextOf(const char* result, const char*) {
    return result;
}

// Repeats a positioned transfer (pread or pwrite) until `length` bytes have
// moved: in pieces of at most kMaxTransfer bytes, again after a signal.
// Returns 0, or the errno of the failure (`atEnd` for a call that moved
// nothing); `*done` holds the bytes moved.
template <typename Transfer, typename Byte>
int TransferFully(Transfer transfer, int fd, uint64_t offset, Byte* buffer, size_t length,
                  int atEnd, size_t* done) {
    size_t moved = 0;
    int error = 0;
    while (moved < length) {
        size_t chunk = std::min(length - moved, kMaxTransfer);
        ssize_t n = transfer(fd, buffer + moved, chunk, static_cast<off_t>(offset + moved));
        if (n < 0) {
            if (errno == EINTR) continue;
            error = errno;
            break;
        }
        if (n == 0) {
            error = atEnd;
            break;
        }
        moved += static_cast<size_t>(n);
    }
    *done = moved;
    return error;
}

}  // namespace

namespace detail {

int PreadFully(int fd, uint64_t offset, uint8_t* buffer, size_t length, size_t* done) {
    return TransferFully(pread, fd, offset, buffer, length, kErrorHandleEof, done);
}

FileFaultInjector* CurrentFaultInjector() {
    return g_faultInjector.load(std::memory_order_acquire);
}

}  // namespace detail

void SetFileFaultInjector(FileFaultInjector* injector) {
    g_faultInjector.store(injector, std::memory_order_release);
}

std::string SystemErrorText(int error) {
    char buffer[256] = {};
    const char* text = ErrorTextOf(strerror_r(error, buffer, sizeof buffer), buffer);
    if (!text || !*text) return "Unknown error " + std::to_string(error);
    return text;
}

DiskFile::~DiskFile() {
    close();
}

bool DiskFile::Fail(int error) {
    lastError_ = error;
    errno = error;
    return false;
}

bool DiskFile::RefreshFromHandle() {
    if (fd_ < 0) return false;
    struct statx sx {};
    if (statx(fd_, "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &sx) == 0) {
        size = sx.stx_size;
        lastWriteTime = FromTimestamp(sx.stx_mtime);
        bool haveBirth =
            (sx.stx_mask & STATX_BTIME) && (sx.stx_btime.tv_sec != 0 || sx.stx_btime.tv_nsec != 0);
        creationTime = FromTimestamp(haveBirth ? sx.stx_btime : sx.stx_ctime);
        return true;
    }
    struct stat st {};
    if (fstat(fd_, &st) != 0) return false;
    size = static_cast<uint64_t>(st.st_size);
    lastWriteTime = FromTimespec(st.st_mtim);
    creationTime = FromTimespec(st.st_ctim);
    return true;
}

bool DiskFile::OpenWith(const std::string& newPath, OpenMode mode) {
    if (isOpen()) close();
    if (!newPath.empty()) path = newPath;
    const bool creating = mode == OpenMode::Create || mode == OpenMode::CreateNew;
    if (creating) {
        size = 0;
        PresenceChanged(Presence::Created);
    }
    if (int error = CheckPath(path)) return Fail(error);
    if (FileFaultInjector* injector = detail::CurrentFaultInjector()) {
        if (int error = injector->BeforeOpen(path, mode != OpenMode::Read)) return Fail(error);
    }

    // O_NONBLOCK keeps a FIFO planted under a data file's name from hanging the
    // open; anything but a regular file is refused below. Files opened for
    // writing are never reached through a symbolic link, so that a link
    // planted in a set's folder cannot redirect a write elsewhere.
    int flags = O_CLOEXEC | O_NONBLOCK;
    switch (mode) {
        case OpenMode::Read:
            flags |= O_RDONLY;
            break;
        case OpenMode::ReadWrite:
            flags |= O_RDWR | O_NOFOLLOW;
            break;
        case OpenMode::Create:
            flags |= O_RDWR | O_CREAT | O_NOFOLLOW;
            break;
        case OpenMode::CreateNew:
            flags |= O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW;
            break;
    }
    const int fd = detail::OpenDescriptor(path, flags);
    if (fd < 0) {
        int error = errno;
        if (error == ENOENT && !creating) PresenceChanged(Presence::Missing);
        return Fail(error);
    }

    auto abandon = [&](int error) {
        ::close(fd);
        return Fail(error);
    };
    struct stat st {};
    if (fstat(fd, &st) != 0) return abandon(errno);
    if (!S_ISREG(st.st_mode)) return abandon(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
    if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) return abandon(errno);

    if (creating) {
        // Nobody else may be writing the file we create: take the exclusive
        // lock before truncating so that another creator's data survives.
        // File systems without locks are used without one.
        if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) return abandon(EBUSY);
        // A file that is empty already is not truncated: ext4 takes a
        // truncation to zero as a file being replaced and then writes all of
        // it out when it is closed, which would stall the closing thread for
        // the whole write-back of a freshly written file.
        if (fstat(fd, &st) != 0) return abandon(errno);
        if (st.st_size != 0 && ftruncate(fd, 0) != 0) return abandon(errno);
    }

    fd_ = fd;
    open_ = true;
    mode_ = mode;
    device_ = static_cast<uint64_t>(st.st_dev);
    inode_ = static_cast<uint64_t>(st.st_ino);
    readOnly_ = mode == OpenMode::Read;
    RefreshFromHandle();
    if (creating) size = 0;
    EnterPool();
    return true;
}

bool DiskFile::create(const std::string& newPath) {
    return OpenWith(newPath, OpenMode::Create);
}

bool DiskFile::createWorkFile(const std::string& finalPath) {
    if (int error = CheckPath(finalPath)) return Fail(error);
    // The first choice, then names with a random token.
    constexpr int kWorkNameTries = 16;
    for (int tries = 0; tries < kWorkNameTries; ++tries) {
        const std::string work =
            tries == 0 ? PartPathOf(finalPath) : detail::TokenPartPathOf(finalPath);
        struct stat st {};
        if (lstat(work.c_str(), &st) == 0) continue;  // another's file: never truncated
        path = work;
        if (int error = detail::RecordWorkFile(work, finalPath)) return Fail(error);
        if (OpenWith(work, OpenMode::CreateNew)) return true;
        detail::WorkFileNotMade(work);
        if (lastError_ != EEXIST) return false;  // else taken just now: another name
    }
    return Fail(EEXIST);
}

bool DiskFile::open(const std::string& newPath) {
    return OpenWith(newPath, OpenMode::Read);
}

bool DiskFile::openForWrite(const std::string& newPath) {
    return OpenWith(newPath, OpenMode::ReadWrite);
}

bool DiskFile::CheckRead(uint64_t offset, size_t length) {
    if (!open_) return Fail(EBADF);
    if (offset > size || length > size - offset) return Fail(kErrorHandleEof);
    return true;
}

bool DiskFile::read(uint64_t offset, void* buffer, size_t length) {
    if (!CheckRead(offset, length)) return false;
    if (FileFaultInjector* injector = detail::CurrentFaultInjector()) {
        if (int error = injector->BeforeRead(*this, offset, length)) return Fail(error);
    }
    if (readOnly_ && length <= kSmallRead && offset >= aheadOffset_ &&
        offset + length <= aheadOffset_ + aheadLength_) {
        std::memcpy(buffer, ahead_.get() + (offset - aheadOffset_), length);
        return true;
    }
    DescriptorUse use(*this);
    if (use.fd() < 0) return false;
    if (readOnly_ && length <= kSmallRead) {
        // The recorded size bounds the window; a file that shrank since
        // makes the window's read short, and the exact read below decides.
        const size_t want = static_cast<size_t>(std::min<uint64_t>(kReadAhead, size - offset));
        if (want > aheadCapacity_) {
            ahead_.reset(new (std::nothrow) uint8_t[want]);
            aheadCapacity_ = ahead_ ? want : 0;
        }
        aheadLength_ = 0;
        size_t got = 0;
        if (ahead_ && want >= length &&
            detail::PreadFully(use.fd(), offset, ahead_.get(), want, &got) == 0) {
            aheadOffset_ = offset;
            aheadLength_ = want;
            std::memcpy(buffer, ahead_.get(), length);
            return true;
        }
    }
    size_t done = 0;
    if (int error =
            detail::PreadFully(use.fd(), offset, static_cast<uint8_t*>(buffer), length, &done))
        return Fail(error);
    return true;
}

bool DiskFile::write(uint64_t offset, const void* buffer, size_t length) {
    if (!open_) return Fail(EBADF);
    if (offset > kMaxFileOffset || length > kMaxFileOffset - offset) return Fail(EFBIG);
    if (FileFaultInjector* injector = detail::CurrentFaultInjector()) {
        if (int error = injector->BeforeWrite(*this, offset, length)) return Fail(error);
    }
    DescriptorUse use(*this);
    if (use.fd() < 0) return false;
    size_t done = 0;
    if (int error = TransferFully(pwrite, use.fd(), offset, static_cast<const uint8_t*>(buffer),
                                  length, ENOSPC, &done))
        return Fail(error);
    if (offset + length > size) size = offset + length;
    return true;
}

bool DiskFile::setSize(uint64_t newSize) {
    if (!open_) return Fail(EBADF);
    if (newSize > kMaxFileOffset) return Fail(EFBIG);
    if (FileFaultInjector* injector = detail::CurrentFaultInjector()) {
        if (int error = injector->BeforeSetSize(*this, newSize)) return Fail(error);
    }
    DescriptorUse use(*this);
    if (use.fd() < 0) return false;
    int rc;
    do {
        rc = ftruncate(use.fd(), static_cast<off_t>(newSize));
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) return Fail(errno);
    size = newSize;
    return true;
}

void DiskFile::close() {
    ahead_.reset();
    aheadCapacity_ = aheadLength_ = 0;
    readOnly_ = false;
    if (!open_) return;
    // Closing must not disturb the error a caller is about to report.
    int savedErrno = errno;
    LeavePool();
    if (fd_ >= 0) {
        RefreshFromHandle();
        ReleaseDescriptor();
    } else {
        RefreshFromPath();
    }
    open_ = false;
    errno = savedErrno;
}

bool DiskFile::remove() {
    // An open descriptor would keep writing into the unlinked file.
    close();
    if (int error = CheckPath(path)) return Fail(error);
    if (FileFaultInjector* injector = detail::CurrentFaultInjector()) {
        if (int error = injector->BeforeRemove(path)) return Fail(error);
    }
    if (unlink(path.c_str()) != 0) {
        int error = errno;
        if (error == ENOENT) {
            detail::WorkFileGone(path);
            PresenceChanged(Presence::Missing);
        }
        return Fail(error);
    }
    detail::WorkFileGone(path);
    PresenceChanged(Presence::Missing);
    return true;
}

bool DiskFile::rename(const std::string& newPath) {
    if (int error = CheckPath(path)) return Fail(error);
    if (!newPath.empty()) {
        if (int error = CheckPath(newPath)) return Fail(error);
    }
    const std::string& base = newPath.empty() ? path : newPath;
    FileFaultInjector* injector = detail::CurrentFaultInjector();
    for (int counter = newPath.empty() ? 1 : 0; counter <= kMaxRenameCounter; ++counter) {
        std::string target = counter == 0 ? base : base + "." + std::to_string(counter);
        if (target.size() >= PATH_MAX) return Fail(ENAMETOOLONG);
        int error = injector ? injector->BeforeRename(path, target) : 0;
        if (error == 0) error = MoveNoReplace(path, target);
        if (error == 0) {
            detail::WorkFileGone(path);
            path = std::move(target);
            return true;
        }
        // Taken (perhaps only just now, by someone else): try the next number.
        if (error != EEXIST && error != ENOTEMPTY) return Fail(error);
    }
    return Fail(EEXIST);
}

bool DiskFile::moveIntoPlace(const std::string& finalPath, bool replace) {
    if (int error = CheckPath(path)) return Fail(error);
    if (int error = CheckPath(finalPath)) return Fail(error);
    int synced;
    if (open_) {
        DescriptorUse use(*this);
        if (use.fd() < 0) return false;
        synced = fsync(use.fd()) == 0 ? 0 : errno;
    } else {
        const int fd = detail::OpenDescriptor(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
        if (fd < 0) return Fail(errno);
        synced = fsync(fd) == 0 ? 0 : errno;
        ::close(fd);
    }
    // A file system that cannot flush (EINVAL) still takes the rename.
    if (synced != 0 && synced != EINVAL) return Fail(synced);
    FileFaultInjector* injector = detail::CurrentFaultInjector();
    int error = injector ? injector->BeforeRename(path, finalPath) : 0;
    if (error == 0) {
        if (replace) {
            error = ::rename(path.c_str(), finalPath.c_str()) == 0 ? 0 : errno;
        } else {
            error = MoveNoReplace(path, finalPath);
        }
    }
    if (error != 0) return Fail(error);
    detail::WorkFileGone(path);
    path = finalPath;
    const int dir = ::open(ParentFolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        ::close(dir);
    }
    return true;
}

}  // namespace vantrove
