#include "core/file_trash.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "core/disk_file.h"
#include "core/disk_file_io.h"
#include "core/path.h"

namespace vantrove {
namespace {

// Candidate names tried in one trash before giving up.
constexpr int kMaxTrashNames = 10000;

bool IsAbsolute(const char* path) {
    return path != nullptr && path[0] == '/';
}

// Percent-encodes everything but unreserved characters and '/', as the
// info records want their Path key.
std::string EncodePath(const std::string& path) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                     c == '-' || c == '_' || c == '.' || c == '~' || c == '/';
        if (plain) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

// Makes sure `path` is a folder of ours that is no symbolic link, creating it
// (mode 0700) when missing. 0 or an errno.
int EnsurePrivateFolder(const std::string& path) {
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return errno;
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return errno;
    if (!S_ISDIR(st.st_mode)) return ENOTDIR;
    if (st.st_uid != geteuid()) return EACCES;
    return 0;
}

// Creates every missing folder of `path` (an absolute path).
int EnsureFolders(const std::string& path) {
    for (size_t next = 1; next <= path.size(); ++next) {
        if (next != path.size() && path[next] != '/') continue;
        std::string part = path.substr(0, next);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return errno;
    }
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return errno;
    return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

// Moves `from` to `to` unless `to` exists (EEXIST).
int MoveNoReplace(const std::string& from, const std::string& to) {
    if (FileFaultInjector* injector = detail::CurrentFaultInjector()) {
        if (int error = injector->BeforeRename(from, to)) return error;
    }
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    int error = errno;
    if (error != EINVAL && error != ENOSYS && error != EOPNOTSUPP) return error;
    if (link(from.c_str(), to.c_str()) != 0) return errno;
    if (unlink(from.c_str()) != 0) {
        error = errno;
        unlink(to.c_str());
        return error;
    }
    return 0;
}

std::string DeletionDate() {
    time_t now = time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    char buffer[32];
    strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%S", &local);
    return buffer;
}

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Moves the file at `absolute` into the trash folder `trash`: first the
// info record is claimed under a free name (O_EXCL), then the file is moved
// under the same name without replacing anything. 0 or an errno.
int TrashInto(const std::string& trash, const std::string& absolute) {
    const std::string files = trash + "/files";
    const std::string info = trash + "/info";
    if (int error = EnsurePrivateFolder(trash)) return error;
    if (int error = EnsurePrivateFolder(files)) return error;
    if (int error = EnsurePrivateFolder(info)) return error;

    const std::string name = FileNameOfPath(absolute);
    const std::string record =
        "[Trash Info]\nPath=" + EncodePath(absolute) + "\nDeletionDate=" + DeletionDate() + "\n";
    for (int n = 1; n <= kMaxTrashNames; ++n) {
        std::string candidate = n == 1 ? name : name + "." + std::to_string(n);
        std::string infoPath = info + "/" + candidate + ".trashinfo";
        int fd =
            ::open(infoPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return errno;
        }
        bool written = WriteAll(fd, record);
        int closeFailed = ::close(fd);
        if (!written || closeFailed != 0) {
            int error = errno ? errno : EIO;
            unlink(infoPath.c_str());
            return error;
        }
        int error = MoveNoReplace(absolute, files + "/" + candidate);
        if (error == 0) return 0;
        unlink(infoPath.c_str());
        // A leftover without its record under this name: take the next one.
        if (error != EEXIST && error != ENOTEMPTY) return error;
    }
    return EEXIST;
}

// The top folder of the file system that holds `folder`.
std::string MountTop(const std::string& folder, dev_t device) {
    std::string current = folder;
    while (current != "/") {
        std::string parent = ParentFolderOf(current);
        struct stat st {};
        if (stat(parent.c_str(), &st) != 0 || st.st_dev != device) break;
        current = parent;
    }
    return current;
}

int TrashOnItsFileSystem(const std::string& absolute, dev_t device) {
    char resolved[PATH_MAX];
    if (!realpath(ParentFolderOf(absolute).c_str(), resolved)) return errno;
    const std::string top = MountTop(resolved, device);
    const std::string base = top == "/" ? "" : top;
    const std::string uid = std::to_string(geteuid());

    // An administrator's shared trash counts only with its sticky bit and
    // when it is a real folder.
    struct stat st {};
    const std::string shared = base + "/.Trash";
    if (lstat(shared.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX)) {
        if (TrashInto(shared + "/" + uid, absolute) == 0) return 0;
    }
    return TrashInto(base + "/.Trash-" + uid, absolute);
}

}  // namespace

std::string HomeTrashFolder() {
    const char* dataHome = getenv("XDG_DATA_HOME");
    if (IsAbsolute(dataHome)) return std::string(dataHome) + "/Trash";
    const char* home = getenv("HOME");
    if (IsAbsolute(home)) return std::string(home) + "/.local/share/Trash";
    return {};
}

int MoveToTrash(const std::string& path) {
    const std::string absolute = AbsolutePath(path);
    if (absolute.empty()) return ENOENT;
    struct stat st {};
    if (lstat(absolute.c_str(), &st) != 0) return errno;
    if (S_ISDIR(st.st_mode)) return EISDIR;

    int error = EXDEV;
    const std::string home = HomeTrashFolder();
    if (!home.empty()) {
        // The home trash lives under the data folder; make that first, so
        // that a fresh account gets a real trash and not a stray folder.
        error = EnsureFolders(ParentFolderOf(home));
        struct stat homeSt {};
        if (error == 0 && stat(ParentFolderOf(home).c_str(), &homeSt) != 0) error = errno;
        if (error == 0) {
            error = homeSt.st_dev == st.st_dev ? TrashInto(home, absolute) : EXDEV;
        }
        if (error == 0) return 0;
    }
    if (error == EXDEV || home.empty()) error = TrashOnItsFileSystem(absolute, st.st_dev);
    return error;
}

size_t DeleteFiles(const std::vector<std::string>& paths, bool toTrash) {
    size_t gone = 0;
    for (const std::string& path : paths) {
        if (toTrash && MoveToTrash(path) == 0) {
            ++gone;
            continue;
        }
        DiskFile file(path);
        if (file.remove()) ++gone;
    }
    return gone;
}

}  // namespace vantrove
