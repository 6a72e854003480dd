// Work names, the folder's work journal, and the clean-up that removes only
// the work files the journal proves to be ours.
#include "core/work_files.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <mutex>
#include <random>
#include <set>

#include "core/path.h"

namespace vantrove {
namespace {

constexpr char kPartSuffix[] = ".vantrove-part";
constexpr size_t kPartSuffixLength = sizeof kPartSuffix - 1;

// The journal's names, in the order they are tried, and its first line.
constexpr const char* kJournalNames[] = {".vantrove-journal", ".vantrove-journal-2",
                                         ".vantrove-journal-3", ".vantrove-journal-4"};
constexpr char kJournalMagic[] = "vantrove work journal 1\n";
constexpr size_t kJournalMagicLength = sizeof kJournalMagic - 1;
// A journal larger than this is not one of ours.
constexpr off_t kMaxJournalSize = off_t{64} << 20;

// The work files this process made: their final paths (also after they are
// gone, so that a discarded work file is still named by its final name) and
// whether the journal still holds them open. Journals are written under the
// same mutex.
struct MadeWorkFile {
    std::string finalPath;
    bool open = true;
};
std::mutex g_mutex;
std::map<std::string, MadeWorkFile> g_made;

std::string WithSlash(const std::string& folder) {
    if (folder.empty() || folder.back() == '/') return folder;
    return folder + '/';
}

// One name a line: '\\' and '\n' are escaped.
std::string Escaped(const std::string& name) {
    std::string out;
    for (char c : name) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

std::string Unescaped(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            ++i;
            out += text[i] == 'n' ? '\n' : text[i];
        } else {
            out += text[i];
        }
    }
    return out;
}

int OpenNoFollow(const std::string& path, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// The whole text of the journal open at `fd` when it is one of ours.
bool ReadOwnJournal(int fd, std::string& text) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxJournalSize) return false;
    text.resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = pread(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    text.resize(done);
    return text.compare(0, kJournalMagicLength, kJournalMagic) == 0;
}

bool ReadOwnJournal(const std::string& path, std::string& text) {
    const int fd = OpenNoFollow(path, O_RDONLY);
    if (fd < 0) return false;
    const bool ours = ReadOwnJournal(fd, text);
    ::close(fd);
    return ours;
}

// The work names that the journals of `folder` hold open. A line cut short
// by a crash is ignored.
std::set<std::string> OpenEntries(const std::string& folder) {
    std::set<std::string> open;
    for (const char* name : kJournalNames) {
        std::string text;
        if (!ReadOwnJournal(folder + name, text)) continue;
        size_t at = kJournalMagicLength;
        for (size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
            if (end == at) continue;
            const std::string entry = Unescaped(text.substr(at + 1, end - at - 1));
            if (text[at] == '+') open.insert(entry);
            if (text[at] == '-') open.erase(entry);
        }
    }
    return open;
}

void FlushFolder(const std::string& folder) {
    const int dir = ::open(ParentFolderOf(folder + "x").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return;
    fsync(dir);
    ::close(dir);
}

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// The journal of `folder` to append to: the first of its names that is ours
// or free (made then, its first line flushed; only when `mayCreate`). -1
// with `error` set when none is.
int OpenJournalForAppend(const std::string& folder, bool mayCreate, int& error) {
    for (const char* name : kJournalNames) {
        const std::string path = folder + name;
        for (int tries = 0; tries < 2; ++tries) {
            int fd = OpenNoFollow(path, O_RDWR | O_APPEND);
            if (fd >= 0) {
                std::string text;
                if (!ReadOwnJournal(fd, text)) {
                    ::close(fd);
                    break;  // somebody else's: never touched
                }
                // A line cut short by a crash ends here, so that the next one
                // stands on its own.
                if (text.back() != '\n' && !WriteAll(fd, "\n")) {
                    error = errno ? errno : EIO;
                    ::close(fd);
                    return -1;
                }
                return fd;
            }
            // Anything there that cannot be opened (a link, a folder, a file
            // of another user's) is not ours; a closing line needs no new
            // journal.
            if (errno != ENOENT || !mayCreate) break;
            fd = OpenNoFollow(path, O_RDWR | O_APPEND | O_CREAT | O_EXCL, 0666);
            if (fd < 0 && errno == EEXIST) continue;  // appeared meanwhile: look again
            if (fd < 0) {
                error = errno;
                return -1;
            }
            if (!WriteAll(fd, kJournalMagic) || fsync(fd) != 0) {
                error = errno ? errno : EIO;
                ::close(fd);
                ::unlink(path.c_str());
                return -1;
            }
            FlushFolder(folder);
            return fd;
        }
    }
    error = mayCreate ? EEXIST : ENOENT;
    return -1;
}

// Appends a line opening ('+', flushed to the disk) or closing ('-') the
// entry of `name`. A closing line needs no journal of its own.
int AppendEntry(const std::string& folder, char kind, const std::string& name) {
    const bool opening = kind == '+';
    int error = 0;
    const int fd = OpenJournalForAppend(folder, opening, error);
    if (fd < 0) return error;
    errno = 0;
    if (!WriteAll(fd, std::string(1, kind) + Escaped(name) + '\n') ||
        (opening && fdatasync(fd) != 0 && errno != EINVAL)) {
        error = errno ? errno : EIO;
    }
    ::close(fd);
    return error;
}

// Deletes the journals of `folder` when they hold nothing open any more.
void DropJournalIfDone(const std::string& folder) {
    if (!OpenEntries(folder).empty()) return;
    for (const char* name : kJournalNames) {
        std::string text;
        if (ReadOwnJournal(folder + name, text)) ::unlink((folder + name).c_str());
    }
}

// Closes the journal line of the work file at `path`.
void CloseEntry(const std::string& path) {
    const std::string folder = FolderOfPath(path);
    AppendEntry(folder, '-', FileNameOfPath(path));
    DropJournalIfDone(folder);
}

}  // namespace

std::string PartPathOf(const std::string& path) {
    return FolderOfPath(path) + "." + FileNameOfPath(path) + kPartSuffix;
}

bool IsPartFileName(const std::string& name) {
    return name.size() > kPartSuffixLength + 1 && name[0] == '.' &&
           name.find('/') == std::string::npos &&
           name.compare(name.size() - kPartSuffixLength, kPartSuffixLength, kPartSuffix) == 0;
}

std::string FinalPathOfPart(const std::string& path) {
    std::lock_guard<std::mutex> lock(g_mutex);
    const auto it = g_made.find(path);
    return it == g_made.end() ? path : it->second.finalPath;
}

bool IsRecordedWorkFile(const std::string& path) {
    const std::string name = FileNameOfPath(path);
    if (!IsPartFileName(name)) return false;
    std::lock_guard<std::mutex> lock(g_mutex);
    const auto it = g_made.find(path);
    if (it != g_made.end() && it->second.open) return true;
    return OpenEntries(FolderOfPath(path)).count(name) != 0;
}

bool IsWorkJournal(const std::string& path) {
    const std::string name = FileNameOfPath(path);
    for (const char* journal : kJournalNames) {
        std::string text;
        if (name == journal) return ReadOwnJournal(path, text);
    }
    return false;
}

std::vector<std::string> ListPartFiles(const std::string& folder) {
    const std::string prefix = WithSlash(folder);
    std::vector<std::string> names;
    std::lock_guard<std::mutex> lock(g_mutex);
    for (const std::string& name : OpenEntries(prefix)) {
        struct stat st {};
        if (lstat((prefix + name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) names.push_back(name);
    }
    return names;
}

std::vector<std::string> RemovePartFiles(const std::string& folder) {
    const std::string prefix = WithSlash(folder);
    std::vector<std::string> removed;
    std::lock_guard<std::mutex> lock(g_mutex);
    bool allGone = true;
    for (const std::string& name : OpenEntries(prefix)) {
        const std::string path = prefix + name;
        if (const auto it = g_made.find(path); it != g_made.end()) it->second.open = false;
        struct stat st {};
        // Only plain files: whatever else took the name since is not ours.
        if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        if (::unlink(path.c_str()) == 0 || errno == ENOENT) {
            removed.push_back(name);
        } else {
            allGone = false;
        }
    }
    if (allGone) {
        for (const char* name : kJournalNames) {
            std::string text;
            if (ReadOwnJournal(prefix + name, text)) ::unlink((prefix + name).c_str());
        }
    }
    return removed;
}

namespace detail {

int RecordWorkFile(const std::string& workPath, const std::string& finalPath) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (int error = AppendEntry(FolderOfPath(workPath), '+', FileNameOfPath(workPath)))
        return error;
    g_made[workPath] = {finalPath, true};
    return 0;
}

void WorkFileNotMade(const std::string& workPath) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_made.erase(workPath);
    CloseEntry(workPath);
}

void WorkFileGone(const std::string& path) {
    std::lock_guard<std::mutex> lock(g_mutex);
    const auto it = g_made.find(path);
    if (it == g_made.end() || !it->second.open) return;
    it->second.open = false;
    CloseEntry(path);
}

std::string TokenPartPathOf(const std::string& finalPath) {
    uint32_t token = 0;
    if (getrandom(&token, sizeof token, GRND_NONBLOCK) != sizeof token) {
        std::random_device device;
        token = device();
    }
    char text[16];
    std::snprintf(text, sizeof text, "%08x", token);
    return FolderOfPath(finalPath) + "." + FileNameOfPath(finalPath) + "." + text + kPartSuffix;
}

}  // namespace detail
}  // namespace vantrove
