#pragma once
// Shell integration: the file associations that make the desktop open
// recovery and checksum files with the program, and the switch that applies
// the four Shell settings.
//
// An association is made of freedesktop pieces in the user's folders:
//   - the file type: the MIME type that the desktop already knows for the
//     primary extension is adopted (Debian knows application/x-par2, for
//     instance); only where none exists is a type of our own defined. Our
//     package file in <data>/mime/packages ("vantrove-<name>.xml") holds the
//     type's description, the further extensions (.p00 to .p30 for the PAR
//     type) and, for a type of our own, its primary extension;
//   - the action: an application entry in <data>/applications that runs the
//     program on the file. "vantrove.desktop" is the plain "open" action. When
//     the type's default application is another program, that program stays
//     in the list and the fallback entry "vantrove-open-with.desktop" is put
//     in front of it, so the other program is one step away and comes back
//     when our association is removed;
//   - the default: <config>/mimeapps.list, whose [Default Applications] and
//     [Added Associations] lists name our entry first;
//   - the icon: the program's icon (program_icon.h) for the type and the
//     entries.
// Removing an association takes out only what is ours: our entries in the
// lists, the type in our entries' MimeType (an entry left with no type is
// deleted), and, when no other program's entry remains for the type, our
// package file. Everything else in shared files stays as it was. After the
// package folder changed, update-mime-database refreshes the user's MIME
// cache when that program exists; it is never required.
//
// Used on the user-interface thread (the preferences dialog's OK).

#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "app/settings.h"
#include "app/shell_environment.h"

namespace vantrove {

enum class FileAssociation { Par2, Par1, Sfv, Md5 };

struct FileAssociationInfo {
    const char* primaryExtension;   // ".par2"
    const char* furtherExtensions;  // ".p00.p01..." or ""
    const char* fileTypeName;       // "PAR2_Recovery_Volume"
    int descriptionId;              // string id of the type's description
    const char* packageName;        // our package file's name part
};

const FileAssociationInfo& AssociationInfo(FileAssociation association);

// The further extensions of an association, split before each '.'.
std::vector<std::string> FurtherExtensions(const FileAssociationInfo& info);

// The ids of our two application entries.
constexpr char kOpenEntryId[] = "vantrove.desktop";
constexpr char kFallbackEntryId[] = "vantrove-open-with.desktop";

// The program that an Exec line starts: its first word (up to the closing
// quote when it begins with one, else up to the first blank), after the
// last '/'.
std::string ExecProgramName(const std::string& exec);

// One argument of an Exec line: quoted when it holds a reserved character,
// with '"', '`', '$' and '\' escaped inside the quotes and '%' doubled.
std::string QuoteExecArgument(const std::string& argument);

// `text` with every character that `escapes` lists replaced by its escape.
std::string EscapeCharacters(const std::string& text,
                             std::initializer_list<std::pair<char, const char*>> escapes);

// A value as a desktop file stores it: '\' doubled, line breaks and tabs
// written as escapes.
std::string EscapeDesktopValue(const std::string& value);

class ShellIntegration {
  public:
    explicit ShellIntegration(ShellEnvironment environment);

    void Associate(FileAssociation association);
    void Unassociate(FileAssociation association);

    // The file-manager menu (see file_manager_menu.h); may switch `enabled`
    // back off.
    void UpdateExplorerMenu(bool& enabled);

    // In this order: the PAR2, PAR1, SFV and MD5 associations, the file-manager
    // menu, then the Shell values of `settings` are saved.
    void ApplyShellSettings(Settings& settings);

    // The MIME type the desktop gives the extension (".par2"): our own package
    // first, then the user's and the system's MIME databases. Empty when none.
    std::string FileTypeOf(FileAssociation association) const;

    std::string PackagePath(FileAssociation association) const;
    std::string EntryPath(const std::string& entryId) const;
    std::string MimeAppsListPath() const;
    const ShellEnvironment& environment() const { return environment_; }

    // Seams. How a file is deleted (unlink by default); false when it stays.
    std::function<bool(const std::string&)> removeFile;
    // Whether update-mime-database is run after a package change.
    bool refreshMimeDatabase = true;

  private:
    std::string LookupFileType(const std::string& extension) const;
    std::string FindEntryFile(const std::string& entryId) const;
    bool IsOurEntry(const std::string& entryId) const;
    std::string CurrentDefault(const std::string& type) const;
    bool WritePackage(FileAssociation association, const std::string& type, bool ownType,
                      bool withIcon);
    bool AddTypeToEntry(const std::string& entryId, const std::string& type, int labelId);
    void RemoveTypeFromEntry(const std::string& entryId, const std::string& type);
    void RefreshMimeDatabase();

    ShellEnvironment environment_;
    bool mimeChanged_ = false;
};

// ApplyShellSettings for this process's environment.
void ApplyShellSettings(Settings& settings);

}  // namespace vantrove
