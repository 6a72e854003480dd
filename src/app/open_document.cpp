#include "app/open_document.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>
#include <vector>

#include "core/path.h"

extern char** environ;

namespace vantrove {
namespace {

constexpr char kOpener[] = "xdg-open";
constexpr char kHelpFile[] = "index.htm";

bool IsFile(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

bool OpenDocument(const std::string& path) {
    if (path.empty()) return false;
    posix_spawnattr_t attributes;
    if (posix_spawnattr_init(&attributes) != 0) return false;
#ifdef POSIX_SPAWN_SETSID
    // Its own session, so that the browser outlives a closing terminal.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
#endif
    std::string program = kOpener;
    // A name that begins with '-' would be read as an option of the opener.
    std::string target = path[0] == '-' ? "./" + path : path;
    std::vector<char*> argv = {program.data(), target.data(), nullptr};
    pid_t pid = 0;
    int rc = posix_spawnp(&pid, kOpener, nullptr, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0) return false;
    // Collect the opener when it ends so that it does not linger as a zombie.
    std::thread([pid] {
        int status;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return true;
}

std::string ExecutableFolder() {
    std::vector<char> buffer(4096);
    ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0 || static_cast<size_t>(n) >= buffer.size()) return std::string();
    std::string path(buffer.data(), static_cast<size_t>(n));
    return FolderOfPath(path);
}

std::string HelpDocumentPath(const std::string& executableFolder) {
    std::string beside = executableFolder + kHelpFile;
    if (IsFile(beside)) return beside;
    std::string installed = executableFolder + "../share/vantrove/" + kHelpFile;
    if (IsFile(installed)) return installed;
    return beside;
}

bool OpenHelp() {
    std::string folder = ExecutableFolder();
    if (folder.empty()) return false;
    std::string path = HelpDocumentPath(folder);
    return IsFile(path) && OpenDocument(path);
}

}  // namespace vantrove
