#include "app/file_manager_actions.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "app/desktop_entry_file.h"
#include "app/file_manager_menu.h"
#include "app/shell_integration.h"

namespace vantrove {
namespace {

constexpr char kEntryName[] = "Crea volumi di recupero PAR2…";
constexpr char kVersionKey[] = "X-Vantrove-Version";
constexpr char kIcon[] = "document-save";
constexpr char kEmptyThunarList[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<actions>\n</actions>\n";


std::string XmlEscape(const std::string& text) {
    return EscapeCharacters(
        text, {{'&', "&amp;"}, {'<', "&lt;"}, {'>', "&gt;"}, {'\'', "&apos;"}, {'"', "&quot;"}});
}

// The line that marks a script as ours.
std::string VersionLine() {
    return std::string("# ") + kVersionKey + "=" + kFileManagerMenuVersion + "\n";
}

bool IsOurScript(const std::string& path) {
    std::string text;
    return ReadTextFile(path, text) &&
           text.find(std::string("\n# ") + kVersionKey + "=") != std::string::npos;
}

// Writes `text` unless the file already holds exactly it.
bool Install(const std::string& path, const std::string& text, unsigned mode) {
    std::string old;
    if (ReadTextFile(path, old) && old == text) return true;
    return WriteTextFileAtomically(path, text, mode);
}

bool RemoveIfOurs(const std::string& path, bool ours,
                  const std::function<bool(const std::string&)>& removeFile) {
    if (access(path.c_str(), F_OK) != 0) return true;
    return ours && removeFile(path);
}

// Where the block of our action lies in an action list: [begin, end),
// widened to its whole lines when nothing else shares them.
bool FindOurBlock(const std::string& text, size_t& begin, size_t& end) {
    const std::string id = std::string("<unique-id>") + kThunarActionId + "</unique-id>";
    size_t at = 0;
    while ((at = text.find("<action", at)) != std::string::npos) {
        char next = at + 7 < text.size() ? text[at + 7] : '\0';
        if (next != '>' && next != ' ' && next != '\t' && next != '\n' && next != '\r') {
            at += 7;
            continue;
        }
        size_t close = text.find("</action>", at);
        if (close == std::string::npos) return false;
        size_t after = close + 9;
        if (text.substr(at, after - at).find(id) != std::string::npos) {
            begin = at;
            end = after;
            size_t lineStart = at;
            while (lineStart > 0 && (text[lineStart - 1] == ' ' || text[lineStart - 1] == '\t')) {
                --lineStart;
            }
            size_t lineEnd = after;
            while (lineEnd < text.size() &&
                   (text[lineEnd] == ' ' || text[lineEnd] == '\t' || text[lineEnd] == '\r')) {
                ++lineEnd;
            }
            if ((lineStart == 0 || text[lineStart - 1] == '\n') && lineEnd < text.size() &&
                text[lineEnd] == '\n') {
                begin = lineStart;
                end = lineEnd + 1;
            }
            return true;
        }
        at = after;
    }
    return false;
}

// Writes a shared file in place of the file it may link to, keeping its
// permissions.
bool WriteSharedFile(const std::string& path, const std::string& text) {
    std::string target = path;
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved)) target = resolved;
    unsigned mode = 0644;
    struct stat st;
    if (stat(target.c_str(), &st) == 0) mode = st.st_mode & 07777;
    return WriteTextFileAtomically(target, text, mode);
}

// The opening of our scripts: the interpreter, the mark, what the script
// starts the create dialog on, and the program in $program.
std::string ScriptStart(const char* files, const std::string& executablePath) {
    return "#!/bin/sh\n" + VersionLine() + "# Starts the create dialog of Vantrove on " + files +
           ".\nprogram=" + ShellQuote(executablePath) + "\n";
}

}  // namespace

std::string FileManagerRunnerPath(const ShellEnvironment& environment) {
    return environment.dataHome + "/Vantrove/vantrove-create.sh";
}

std::string NautilusScriptPath(const ShellEnvironment& environment) {
    return environment.dataHome + "/nautilus/scripts/" + kEntryName;
}

std::string NemoActionPath(const ShellEnvironment& environment) {
    return environment.dataHome + "/nemo/actions/vantrove-create.nemo_action";
}

std::string ThunarActionsPath(const ShellEnvironment& environment) {
    return environment.configHome + "/Thunar/uca.xml";
}

std::string FileManagerRunnerScript(const std::string& executablePath) {
    return ScriptStart("the files given as arguments", executablePath) +
           "if [ \"$#\" -gt 1 ] && l=$(mktemp) && printf '%s\\n' \"$@\" > \"$l\"; then\n"
           "    exec \"$program\" /create /list \"$l\"\n"
           "fi\n"
           "exec \"$program\" /create \"$@\"\n";
}

std::string NautilusScript(const std::string& executablePath) {
    return ScriptStart("the files selected in Nautilus", executablePath) +
           "l=$(mktemp) || exit 1\n"
           "printf '%s\\n' \"$NAUTILUS_SCRIPT_SELECTED_FILE_PATHS\" | sed '/^$/d' > \"$l\"\n"
           "n=$(wc -l < \"$l\")\n"
           "if [ \"$n\" -gt 1 ]; then\n"
           "    exec \"$program\" /create /list \"$l\"\n"
           "fi\n"
           "f=$(cat \"$l\")\n"
           "rm -f \"$l\"\n"
           "[ -n \"$f\" ] || exit 0\n"
           "exec \"$program\" /create \"$f\"\n";
}

std::string NemoAction(const std::string& runnerPath) {
    return std::string("[Nemo Action]\n") + "Name=" + kEntryName +
           "\n"
           "Comment=Crea volumi di recupero PAR2 per i file selezionati\n"
           "Exec=" +
           EscapeDesktopValue("sh " + ShellQuote(runnerPath) + " %F") +
           "\n"
           "Quote=single\n"
           "Icon-Name=" +
           kIcon +
           "\n"
           "Selection=notnone\n"
           "Extensions=any;\n" +
           kVersionKey + "=" + kFileManagerMenuVersion + "\n";
}

std::string ThunarActionBlock(const std::string& runnerPath) {
    std::string doubled = "sh ";  // a literal '%' is written "%%" in a Thunar command
    for (char c : ShellQuote(runnerPath)) {
        doubled += c;
        if (c == '%') doubled += '%';
    }
    doubled += " %F";
    return std::string("<action>\n") + "\t<icon>" + kIcon + "</icon>\n" + "\t<name>" +
           kEntryName + "</name>\n" + "\t<submenu></submenu>\n" + "\t<unique-id>" +
           kThunarActionId + "</unique-id>\n" + "\t<command>" + XmlEscape(doubled) +
           "</command>\n" +
           "\t<description>Crea volumi di recupero PAR2 per i file selezionati</description>\n" +
           "\t<range></range>\n" + "\t<patterns>*</patterns>\n" + "\t<directories/>\n" +
           "\t<audio-files/>\n" + "\t<image-files/>\n" + "\t<other-files/>\n" +
           "\t<text-files/>\n" + "\t<video-files/>\n" + "</action>";
}

bool MergeThunarAction(const std::string& text, const std::string& block, std::string& merged) {
    size_t begin = 0, end = 0;
    if (FindOurBlock(text, begin, end)) {
        std::string result = text;
        bool wholeLines = end > 0 && text[end - 1] == '\n';
        result.replace(begin, end - begin, wholeLines ? block + "\n" : block);
        merged = result;
        return true;
    }
    size_t close = text.rfind("</actions>");
    if (close != std::string::npos) {
        size_t at = close;
        while (at > 0 && (text[at - 1] == ' ' || text[at - 1] == '\t')) --at;
        std::string result = text;
        if (at == 0 || text[at - 1] == '\n') {
            result.insert(at, block + "\n");
        } else {
            result.insert(close, "\n" + block + "\n");
        }
        merged = result;
        return true;
    }
    size_t empty = text.rfind("<actions/>");
    if (empty == std::string::npos) return false;
    merged = text;
    merged.replace(empty, 10, "<actions>\n" + block + "\n</actions>");
    return true;
}

std::string RemoveThunarAction(const std::string& text) {
    std::string result = text;
    size_t begin = 0, end = 0;
    while (FindOurBlock(result, begin, end)) result.erase(begin, end - begin);
    return result;
}

bool RegisterFileManagerActions(const ShellEnvironment& environment) {
    std::string runner = FileManagerRunnerPath(environment);
    bool ok = Install(runner, FileManagerRunnerScript(environment.executablePath), 0755);
    ok &= Install(NautilusScriptPath(environment), NautilusScript(environment.executablePath),
                  0755);
    ok &= Install(NemoActionPath(environment), NemoAction(runner), 0644);

    std::string path = ThunarActionsPath(environment), text;
    if (access(path.c_str(), F_OK) == 0) {
        if (!ReadTextFile(path, text)) return false;
    } else {
        for (const std::string& folder : environment.configDirs) {
            if (ReadTextFile(folder + "/Thunar/uca.xml", text)) break;
        }
        if (text.empty()) text = kEmptyThunarList;
    }
    std::string merged;
    if (!MergeThunarAction(text, ThunarActionBlock(runner), merged)) return false;
    if (merged != text || access(path.c_str(), F_OK) != 0) ok &= WriteSharedFile(path, merged);
    return ok;
}

bool UnregisterFileManagerActions(const ShellEnvironment& environment,
                                  const std::function<bool(const std::string&)>& removeFile) {
    std::string nautilus = NautilusScriptPath(environment);
    bool ok = RemoveIfOurs(nautilus, IsOurScript(nautilus), removeFile);
    std::string nemo = NemoActionPath(environment), text, version;
    if (ReadTextFile(nemo, text)) {
        DesktopEntryFile file;
        file.Parse(text);
        ok &= RemoveIfOurs(nemo, file.Get("Nemo Action", kVersionKey, version), removeFile);
    }
    std::string runner = FileManagerRunnerPath(environment);
    ok &= RemoveIfOurs(runner, IsOurScript(runner), removeFile);

    std::string path = ThunarActionsPath(environment);
    if (ReadTextFile(path, text)) {
        std::string cut = RemoveThunarAction(text);
        if (cut != text) {
            // A list that we started and that holds nothing but its starting
            // point again goes, so that it does not hide the system's list.
            std::string start = kEmptyThunarList;
            for (const std::string& folder : environment.configDirs) {
                if (ReadTextFile(folder + "/Thunar/uca.xml", start)) break;
            }
            struct stat st;
            bool link = lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
            if (cut == start && !link) {
                ok &= removeFile(path);
            } else {
                ok &= WriteSharedFile(path, cut);
            }
        }
    }
    return ok;
}

}  // namespace vantrove
