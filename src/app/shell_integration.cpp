#include "app/shell_integration.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "app/desktop_entry_file.h"
#include "app/file_manager_menu.h"
#include "app/program_icon.h"
#include "core/path.h"
#include "core/string_ids.h"
#include "core/string_table.h"

extern char** environ;

namespace vantrove {
namespace {

constexpr char kPar1FurtherExtensions[] =
    ".p00.p01.p02.p03.p04.p05.p06.p07.p08.p09.p10.p11.p12.p13.p14.p15.p16.p17.p18.p19.p20.p21."
    "p22.p23.p24.p25.p26.p27.p28.p29.p30";

const FileAssociationInfo kAssociations[] = {
    {".par2", "", "PAR2_Recovery_Volume", kStrPar2FileTypeName, "par2"},
    {".par", kPar1FurtherExtensions, "PAR_Recovery_Volume", kStrPar1FileTypeName, "par"},
    {".sfv", "", "SFV_Checksum_File", kStrSfvFileTypeName, "sfv"},
    {".md5", "", "MD5_Checksum_File", kStrMd5FileTypeName, "md5"},
};

constexpr char kDefaultGroup[] = "Default Applications";
constexpr char kAddedGroup[] = "Added Associations";
constexpr char kEntryGroup[] = "Desktop Entry";

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// Our own MIME type for a file type name: PAR_Recovery_Volume ->
// application/x-par-recovery-volume.
std::string OwnTypeName(const FileAssociationInfo& info) {
    std::string name = Lower(info.fileTypeName);
    std::replace(name.begin(), name.end(), '_', '-');
    return "application/x-" + name;
}

std::string XmlEscape(const std::string& text) {
    return EscapeCharacters(text, {{'&', "&amp;"}, {'<', "&lt;"}, {'>', "&gt;"}, {'"', "&quot;"}});
}

// The type of our package file: the first type attribute of a mime-type.
std::string PackageType(const std::string& text) {
    size_t element = text.find("<mime-type");
    if (element == std::string::npos) return std::string();
    size_t attribute = text.find("type=\"", element + 10);
    if (attribute == std::string::npos) return std::string();
    attribute += 6;
    size_t end = text.find('"', attribute);
    if (end == std::string::npos) return std::string();
    return text.substr(attribute, end - attribute);
}

// The type that a globs2 file ("weight:type:pattern[:flags]") or an older
// globs file ("type:pattern") gives to "*<extension>"; the heaviest wins.
std::string TypeFromGlobs(const std::string& text, bool withWeights, const std::string& extension) {
    std::string wanted(1, '*');
    wanted += Lower(extension);
    std::string best;
    long bestWeight = -1;
    for (std::string_view lineText : LinesOf(text)) {
        std::string line(lineText);
        if (line.empty() || line[0] == '#') continue;
        long weight = 50;
        if (withWeights) {
            size_t colon = line.find(':');
            if (colon == std::string::npos) continue;
            weight = std::strtol(line.substr(0, colon).c_str(), nullptr, 10);
            line = line.substr(colon + 1);
        }
        size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string type = line.substr(0, colon);
        std::string pattern = line.substr(colon + 1);
        size_t flags = pattern.find(':');
        if (flags != std::string::npos) pattern.resize(flags);
        if (Lower(pattern) == wanted && weight > bestWeight && !type.empty()) {
            best = type;
            bestWeight = weight;
        }
    }
    return best;
}

std::vector<std::string> Without(std::vector<std::string> items, const std::string& item) {
    items.erase(std::remove(items.begin(), items.end(), item), items.end());
    return items;
}

bool IsFile(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

}  // namespace

const FileAssociationInfo& AssociationInfo(FileAssociation association) {
    return kAssociations[static_cast<int>(association)];
}

std::vector<std::string> FurtherExtensions(const FileAssociationInfo& info) {
    std::vector<std::string> extensions;
    std::string all = info.furtherExtensions;
    size_t start = 0;
    while (start < all.size()) {
        size_t next = all.find('.', start + 1);
        if (next == std::string::npos) next = all.size();
        extensions.push_back(all.substr(start, next - start));
        start = next;
    }
    return extensions;
}

std::string ExecProgramName(const std::string& exec) {
    size_t start = exec.find_first_not_of(" \t");
    if (start == std::string::npos) return std::string();
    std::string program;
    if (exec[start] == '"') {
        for (size_t i = start + 1; i < exec.size() && exec[i] != '"'; ++i) {
            if (exec[i] == '\\' && i + 1 < exec.size()) ++i;
            program += exec[i];
        }
    } else {
        size_t end = exec.find_first_of(" \t", start);
        program = exec.substr(start, end == std::string::npos ? std::string::npos : end - start);
    }
    return FileNameOfPath(program);
}

std::string QuoteExecArgument(const std::string& argument) {
    std::string escapedPercent;
    for (char c : argument) {
        escapedPercent += c;
        if (c == '%') escapedPercent += '%';
    }
    bool reserved =
        argument.empty() || argument.find_first_of(" \t\n\"'\\><~|&;$*?#()`") != std::string::npos;
    if (!reserved) return escapedPercent;
    std::string quoted = "\"";
    for (char c : escapedPercent) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

std::string EscapeCharacters(const std::string& text,
                             std::initializer_list<std::pair<char, const char*>> escapes) {
    std::string out;
    for (char c : text) {
        const auto escape = std::find_if(escapes.begin(), escapes.end(),
                                         [c](const auto& listed) { return listed.first == c; });
        if (escape != escapes.end()) {
            out += escape->second;
        } else {
            out += c;
        }
    }
    return out;
}

std::string EscapeDesktopValue(const std::string& value) {
    return EscapeCharacters(value, {{'\\', "\\\\"}, {'\n', "\\n"}, {'\t', "\\t"}, {'\r', "\\r"}});
}

ShellIntegration::ShellIntegration(ShellEnvironment environment)
    : removeFile(
          [](const std::string& path) { return unlink(path.c_str()) == 0 || errno == ENOENT; }),
      environment_(std::move(environment)) {}

std::string ShellIntegration::PackagePath(FileAssociation association) const {
    return environment_.dataHome + "/mime/packages/vantrove-" +
           AssociationInfo(association).packageName + ".xml";
}

std::string ShellIntegration::EntryPath(const std::string& entryId) const {
    return environment_.dataHome + "/applications/" + entryId;
}

std::string ShellIntegration::MimeAppsListPath() const {
    return environment_.configHome + "/mimeapps.list";
}

std::string ShellIntegration::FileTypeOf(FileAssociation association) const {
    return LookupFileType(AssociationInfo(association).primaryExtension);
}

std::string ShellIntegration::LookupFileType(const std::string& extension) const {
    for (const FileAssociationInfo& info : kAssociations) {
        if (extension != info.primaryExtension) continue;
        std::string text;
        FileAssociation association = static_cast<FileAssociation>(&info - kAssociations);
        if (ReadTextFile(PackagePath(association), text)) {
            std::string type = PackageType(text);
            if (!type.empty()) return type;
        }
    }
    std::vector<std::string> folders = {environment_.dataHome};
    folders.insert(folders.end(), environment_.dataDirs.begin(), environment_.dataDirs.end());
    for (const std::string& folder : folders) {
        std::string text;
        if (ReadTextFile(folder + "/mime/globs2", text)) {
            std::string type = TypeFromGlobs(text, true, extension);
            if (!type.empty()) return type;
        } else if (ReadTextFile(folder + "/mime/globs", text)) {
            std::string type = TypeFromGlobs(text, false, extension);
            if (!type.empty()) return type;
        }
    }
    return std::string();
}

std::string ShellIntegration::FindEntryFile(const std::string& entryId) const {
    if (entryId.empty() || entryId.find('/') != std::string::npos) return std::string();
    if (IsFile(EntryPath(entryId))) return EntryPath(entryId);
    for (const std::string& folder : environment_.dataDirs) {
        std::string path = folder + "/applications/" + entryId;
        if (IsFile(path)) return path;
    }
    return std::string();
}

namespace {

// Whether the entry at `path` can start its program: it is readable and has
// a command (an Exec line, or D-Bus activation in its place). An entry that
// cannot is of no use to the desktop, so it neither stays in the lists nor
// keeps a type alive.
bool HasCommand(const std::string& path) {
    std::string text, value;
    if (path.empty() || !ReadTextFile(path, text)) return false;
    DesktopEntryFile file;
    file.Parse(text);
    if (file.Get(kEntryGroup, "Exec", value) && !value.empty()) return true;
    return file.Get(kEntryGroup, "DBusActivatable", value) && value == "true";
}

}  // namespace

// An entry starts this program when it is one of our ids or its Exec line
// names our executable.
bool ShellIntegration::IsOurEntry(const std::string& entryId) const {
    if (entryId == kOpenEntryId || entryId == kFallbackEntryId) return true;
    std::string path = FindEntryFile(entryId);
    std::string text, exec;
    if (path.empty() || !ReadTextFile(path, text)) return false;
    DesktopEntryFile file;
    file.Parse(text);
    return file.Get(kEntryGroup, "Exec", exec) &&
           EqualNoCase(ExecProgramName(exec), environment_.ExecutableName());
}

// The application that opens `type` now: the user's choice first (our own
// fallback entry, which stands in front of another program, does not count),
// then the system's.
std::string ShellIntegration::CurrentDefault(const std::string& type) const {
    std::vector<std::string> lists = {MimeAppsListPath()};
    for (const std::string& folder : environment_.configDirs)
        lists.push_back(folder + "/mimeapps.list");
    for (const std::string& folder : environment_.dataDirs) {
        lists.push_back(folder + "/applications/mimeapps.list");
    }
    for (const std::string& path : lists) {
        std::string text, value;
        if (!ReadTextFile(path, text)) continue;
        DesktopEntryFile file;
        file.Parse(text);
        if (!file.Get(kDefaultGroup, type, value)) continue;
        for (const std::string& id : Without(SplitDesktopList(value), kFallbackEntryId)) {
            return id;
        }
    }
    return std::string();
}

bool ShellIntegration::WritePackage(FileAssociation association, const std::string& type,
                                    bool ownType, bool withIcon) {
    const FileAssociationInfo& info = AssociationInfo(association);
    std::string text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!-- Vantrove's file association; removed when it is switched off. -->\n"
        "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
        "  <mime-type type=\"" +
        XmlEscape(type) +
        "\">\n"
        "    <comment>" +
        XmlEscape(GetString(info.descriptionId)) + "</comment>\n";
    if (withIcon) text += std::string("    <icon name=\"") + kProgramIconName + "\"/>\n";
    if (ownType) text += std::string("    <glob pattern=\"*") + info.primaryExtension + "\"/>\n";
    // The further extensions belong to this type whatever they had before,
    // hence the weight above the usual 50.
    for (const std::string& extension : FurtherExtensions(info)) {
        text += "    <glob pattern=\"*" + extension + "\" weight=\"60\"/>\n";
    }
    text += "  </mime-type>\n</mime-info>\n";
    std::string path = PackagePath(association), old;
    if (ReadTextFile(path, old) && old == text) return true;
    if (!WriteTextFileAtomically(path, text)) return false;
    mimeChanged_ = true;
    return true;
}

bool ShellIntegration::AddTypeToEntry(const std::string& entryId, const std::string& type,
                                      int labelId) {
    std::string path = EntryPath(entryId), text, value;
    std::vector<std::string> types;
    if (ReadTextFile(path, text)) {
        DesktopEntryFile old;
        old.Parse(text);
        if (old.Get(kEntryGroup, "MimeType", value)) types = SplitDesktopList(value);
    }
    if (std::find(types.begin(), types.end(), type) == types.end()) types.push_back(type);
    bool fallback = entryId == kFallbackEntryId;
    std::string entry = "[Desktop Entry]\nType=Application\nVersion=1.0\nName=Vantrove\n";
    entry += "Comment=" + EscapeDesktopValue(GetString(labelId)) + "\n";
    entry += "Exec=" + EscapeDesktopValue(QuoteExecArgument(environment_.executablePath)) + " %f\n";
    entry += std::string("Icon=") + kProgramIconName + "\n";
    entry += "Terminal=false\n";
    entry += fallback ? "NoDisplay=true\n" : "Categories=Utility;Archiving;\n";
    entry += "MimeType=" + JoinDesktopList(types) + "\n";
    return WriteTextFileAtomically(path, entry);
}

void ShellIntegration::RemoveTypeFromEntry(const std::string& entryId, const std::string& type) {
    std::string path = EntryPath(entryId), text, value;
    if (!ReadTextFile(path, text)) return;
    DesktopEntryFile file;
    file.Parse(text);
    std::vector<std::string> types;
    if (file.Get(kEntryGroup, "MimeType", value)) types = SplitDesktopList(value);
    std::vector<std::string> left = Without(types, type);
    if (left.size() == types.size()) return;
    if (left.empty()) {
        removeFile(path);
        return;
    }
    file.Set(kEntryGroup, "MimeType", JoinDesktopList(left));
    WriteTextFileAtomically(path, file.Serialize());
}

void ShellIntegration::Associate(FileAssociation association) {
    if (!environment_.Usable()) return;
    const FileAssociationInfo& info = AssociationInfo(association);
    std::string type = LookupFileType(info.primaryExtension);
    bool ownType = type.empty();
    if (ownType) type = OwnTypeName(info);
    // Without its icon the type still works; the icon is just left out.
    bool icon = InstallProgramIcon(environment_);
    if (!WritePackage(association, type, ownType, icon)) return;

    std::string current = CurrentDefault(type);
    bool fallback = !current.empty() && !IsOurEntry(current);
    std::string entryId = fallback ? kFallbackEntryId : kOpenEntryId;
    std::string otherId = fallback ? kOpenEntryId : kFallbackEntryId;
    if (AddTypeToEntry(entryId, type, fallback ? kStrFallbackVerbLabel : kStrOpenVerbLabel)) {
        RemoveTypeFromEntry(otherId, type);
        DesktopEntryFile list;
        std::string text, value;
        if (ReadTextFile(MimeAppsListPath(), text)) {
            list.Parse(text);
        } else if (IsFile(MimeAppsListPath())) {
            // A list that is there but cannot be read is never replaced by a
            // fresh one: every other default of the user would be lost.
            RefreshMimeDatabase();
            return;
        }
        for (const char* group : {kDefaultGroup, kAddedGroup}) {
            std::vector<std::string> ids;
            if (list.Get(group, type, value)) ids = SplitDesktopList(value);
            ids = Without(Without(ids, kOpenEntryId), kFallbackEntryId);
            ids.insert(ids.begin(), entryId);
            list.Set(group, type, JoinDesktopList(ids));
        }
        WriteTextFileAtomically(MimeAppsListPath(), list.Serialize());
    }
    RefreshMimeDatabase();
}

void ShellIntegration::Unassociate(FileAssociation association) {
    if (!environment_.Usable()) return;
    std::string type = FileTypeOf(association);
    if (type.empty()) return;
    RemoveTypeFromEntry(kOpenEntryId, type);
    RemoveTypeFromEntry(kFallbackEntryId, type);

    // Our entries, and entries without a command that can be read (missing,
    // unreadable or without Exec), leave the lists; another program's entry
    // stays and keeps the type.
    bool otherProgram = false;
    std::string text, value;
    if (ReadTextFile(MimeAppsListPath(), text)) {
        DesktopEntryFile list;
        list.Parse(text);
        bool changed = false;
        for (const char* group : {kDefaultGroup, kAddedGroup}) {
            if (!list.Get(group, type, value)) continue;
            std::vector<std::string> ids = SplitDesktopList(value), kept;
            for (const std::string& id : ids) {
                if (!IsOurEntry(id) && HasCommand(FindEntryFile(id))) kept.push_back(id);
            }
            otherProgram = otherProgram || !kept.empty();
            if (kept.size() == ids.size()) continue;
            changed = true;
            if (kept.empty()) {
                list.Remove(group, type);
            } else {
                list.Set(group, type, JoinDesktopList(kept));
            }
        }
        if (changed) WriteTextFileAtomically(MimeAppsListPath(), list.Serialize());
    }
    std::string package = PackagePath(association);
    if (!otherProgram && IsFile(package) && removeFile(package)) mimeChanged_ = true;
    // The icon goes with the last of our files that uses it.
    bool iconUsed = IsFile(EntryPath(kOpenEntryId)) || IsFile(EntryPath(kFallbackEntryId));
    for (int a = 0; a < 4 && !iconUsed; ++a) {
        iconUsed = IsFile(PackagePath(static_cast<FileAssociation>(a)));
    }
    if (!iconUsed && IsFile(ProgramIconPath(environment_))) {
        removeFile(ProgramIconPath(environment_));
    }
    RefreshMimeDatabase();
}

void ShellIntegration::UpdateExplorerMenu(bool& enabled) {
    vantrove::UpdateExplorerMenu(environment_, enabled, removeFile);
}

void ShellIntegration::ApplyShellSettings(Settings& settings) {
    auto apply = [this](FileAssociation association, bool on) {
        if (on) {
            Associate(association);
        } else {
            Unassociate(association);
        }
    };
    apply(FileAssociation::Par2, settings.par2Association);
    apply(FileAssociation::Par1, settings.par1Association);
    apply(FileAssociation::Sfv, settings.sfvMd5Association);
    apply(FileAssociation::Md5, settings.sfvMd5Association);
    UpdateExplorerMenu(settings.explorerMenu);
    settings.SaveShell();
}

void ShellIntegration::RefreshMimeDatabase() {
    if (!mimeChanged_) return;
    mimeChanged_ = false;
    if (!refreshMimeDatabase) return;
    std::string program = "update-mime-database";
    std::string folder = environment_.dataHome + "/mime";
    std::vector<char*> argv = {program.data(), folder.data(), nullptr};
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return;
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    if (posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
        int status;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    posix_spawn_file_actions_destroy(&actions);
}

void ApplyShellSettings(Settings& settings) {
    ShellIntegration integration(CurrentShellEnvironment());
    integration.ApplyShellSettings(settings);
}

}  // namespace vantrove
