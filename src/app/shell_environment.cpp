#include "app/shell_environment.h"

#include <cstdlib>

#include "app/open_document.h"
#include "core/path.h"

namespace vantrove {
namespace {

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

std::string WithoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// An absolute XDG folder from `name`, else $HOME + `fallback`; empty when
// neither gives one.
std::string UserFolder(const char* name, const char* fallback) {
    std::string value = Variable(name);
    if (!value.empty() && value[0] == '/') return WithoutTrailingSlash(value);
    std::string home = Variable("HOME");
    if (!home.empty() && home[0] == '/') return WithoutTrailingSlash(home) + fallback;
    return std::string();
}

std::vector<std::string> FolderList(const char* name, const char* fallback) {
    std::string value = Variable(name);
    if (value.empty()) value = fallback;
    std::vector<std::string> folders;
    for (std::string_view folder : SplitAt(value, ':')) {
        if (!folder.empty() && folder[0] == '/')
            folders.push_back(WithoutTrailingSlash(std::string(folder)));
    }
    return folders;
}

}  // namespace

std::string ShellEnvironment::ExecutableName() const {
    return FileNameOfPath(executablePath);
}

ShellEnvironment CurrentShellEnvironment() {
    ShellEnvironment env;
    env.dataHome = UserFolder("XDG_DATA_HOME", "/.local/share");
    env.configHome = UserFolder("XDG_CONFIG_HOME", "/.config");
    env.dataDirs = FolderList("XDG_DATA_DIRS", "/usr/local/share/:/usr/share/");
    env.configDirs = FolderList("XDG_CONFIG_DIRS", "/etc/xdg");
    std::string folder = ExecutableFolder();
    // The desktop program; the command-line program has no dialogs to open.
    if (!folder.empty()) env.executablePath = folder + "vantrove";
    return env;
}

}  // namespace vantrove
