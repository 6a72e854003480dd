#include "app/file_manager_menu.h"

#include <unistd.h>

#include "app/desktop_entry_file.h"
#include "app/file_manager_actions.h"
#include "app/localized_message_box.h"
#include "app/shell_integration.h"
#include "core/string_ids.h"
#include "core/string_table.h"

namespace vantrove {
namespace {

const unsigned char kResource[] = {
#include "app/file_manager_menu_data.inc"
};

constexpr char kModuleName[] = "vantrove-create.desktop";
constexpr char kEntryGroup[] = "Desktop Entry";
constexpr char kVersionKey[] = "X-Vantrove-Version";
constexpr char kCommandPlaceholder[] = "@EXEC@";


}  // namespace

// The shell word for `text`: in single quotes, each ' written as '\''.
std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

std::string FileManagerMenuModulePath(const ShellEnvironment& environment) {
    return environment.dataHome + "/Vantrove/" + kModuleName;
}

std::string FileManagerMenuInstalledPath(const ShellEnvironment& environment) {
    return environment.dataHome + "/kio/servicemenus/" + kModuleName;
}

const unsigned char* FileManagerMenuResource(size_t& size) {
    size = sizeof kResource;
    return kResource;
}

std::string FileManagerMenuVersion(const std::string& path) {
    std::string text, version;
    if (!ReadTextFile(path, text)) return std::string();
    DesktopEntryFile file;
    file.Parse(text);
    file.Get(kEntryGroup, kVersionKey, version);
    return version;
}

std::string FileManagerMenuCommand(const std::string& executablePath) {
    std::string program = ShellQuote(executablePath);
    std::string script =
        "if [ \"$#\" -gt 1 ] && l=$(mktemp) && printf '%s\\n' \"$@\" > \"$l\"; "
        "then exec " +
        program + " /create /list \"$l\"; fi; exec " + program + " /create \"$@\"";
    return EscapeDesktopValue("sh -c " + QuoteExecArgument(script) + " sh %F");
}

bool UnpackFileManagerMenu(const ShellEnvironment& environment) {
    std::string path = FileManagerMenuModulePath(environment);
    if (access(path.c_str(), F_OK) == 0) return true;
    size_t size = 0;
    const unsigned char* data = FileManagerMenuResource(size);
    std::string content;
    return UnpackResource(data, size, content) && WriteTextFileAtomically(path, content);
}

bool RegisterFileManagerMenu(const ShellEnvironment& environment) {
    std::string text;
    if (!ReadTextFile(FileManagerMenuModulePath(environment), text)) return false;
    size_t at = text.find(kCommandPlaceholder);
    if (at == std::string::npos) return false;
    text.replace(at, sizeof kCommandPlaceholder - 1,
                 FileManagerMenuCommand(environment.executablePath));
    std::string installed = FileManagerMenuInstalledPath(environment), old;
    if (ReadTextFile(installed, old) && old == text) return true;
    return WriteTextFileAtomically(installed, text, 0755);
}

bool UnregisterFileManagerMenu(const ShellEnvironment& environment,
                               const std::function<bool(const std::string&)>& removeFile) {
    std::string installed = FileManagerMenuInstalledPath(environment);
    if (access(installed.c_str(), F_OK) != 0) return true;
    // Only a file of ours: one that states our version key.
    std::string text, version;
    if (!ReadTextFile(installed, text)) return false;
    DesktopEntryFile file;
    file.Parse(text);
    if (!file.Get(kEntryGroup, kVersionKey, version)) return false;
    return removeFile(installed);
}

void UpdateExplorerMenu(const ShellEnvironment& environment, bool& enabled,
                        const std::function<bool(const std::string&)>& removeFile) {
    if (!environment.Usable()) return;
    std::string module = FileManagerMenuModulePath(environment);
    std::string version = FileManagerMenuVersion(module);
    if (!version.empty() && version != kFileManagerMenuVersion) {
        UnregisterFileManagerMenu(environment, removeFile);
        if (!removeFile(module)) {
            UnregisterFileManagerActions(environment, removeFile);
            LocalizedMessageBox(nullptr, GetString(kStrShellExtensionChanged), "Vantrove",
                                kMbOk | kMbIconInformation);
            enabled = false;
            return;
        }
    }
    if (enabled) {
        UnpackFileManagerMenu(environment);
        RegisterFileManagerMenu(environment);
        RegisterFileManagerActions(environment);
    } else {
        UnregisterFileManagerMenu(environment, removeFile);
        UnregisterFileManagerActions(environment, removeFile);
    }
}

}  // namespace vantrove
