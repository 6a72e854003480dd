#pragma once
// The file-manager menu: an entry "Crea volumi di recupero PAR2…" in the
// context menu of files, which starts the program's create dialog on them.
//
// The menu is a KDE service menu (a .desktop file of type Service, read by
// Dolphin and Konqueror from <data>/kio/servicemenus). The program carries
// it zlib-compressed inside itself (a 32-bit little-endian length, then one
// zlib stream) and keeps an unpacked copy, the module, in <data>/Vantrove/.
// Registering fills the program's path into the module's command and
// installs the result, executable as KDE requires, into the service-menu
// folder; unregistering removes that installed file again. Switching the
// menu off unregisters but leaves the module in place.
//
// The command starts `vantrove /create <file>` for one file and, for several,
// writes their paths to a list file (mktemp, one per line) and starts
// `vantrove /create /list <listfile>`; the program deletes the list file.
//
// The module carries its version in "X-Vantrove-Version". A module of
// another version is outdated: it is unregistered and deleted, then unpacked
// afresh. When it cannot be deleted, the message of string 672 appears and
// the menu setting is switched off. Used on the user-interface thread.

#include <cstddef>
#include <functional>
#include <string>

#include "app/packed_resource.h"
#include "app/shell_environment.h"

namespace vantrove {

// The version the program requires of its module.
constexpr char kFileManagerMenuVersion[] = "0.1.3.0";

// The unpacked module, and where registering installs it.
std::string FileManagerMenuModulePath(const ShellEnvironment& environment);
std::string FileManagerMenuInstalledPath(const ShellEnvironment& environment);

// The module as the program carries it (length in front, zlib stream).
const unsigned char* FileManagerMenuResource(size_t& size);

// The version that a module file states; empty for a missing file or one
// without a version.
std::string FileManagerMenuVersion(const std::string& path);

// The Exec value that runs the create dialog of `executablePath` on the
// selected files (escaped for a desktop file).
std::string FileManagerMenuCommand(const std::string& executablePath);

// The shell word for `text`: in single quotes, each ' written as '\''.
std::string ShellQuote(const std::string& text);

// Writes the module from the resource when no file is at its path. Any
// failure leaves no file.
bool UnpackFileManagerMenu(const ShellEnvironment& environment);

// Installs the module (with the program's path filled in) into the
// service-menu folder, or removes the installed copy (only one of ours).
bool RegisterFileManagerMenu(const ShellEnvironment& environment);
bool UnregisterFileManagerMenu(const ShellEnvironment& environment,
                               const std::function<bool(const std::string&)>& removeFile);

// The menu switch: replaces an outdated module, then unpacks and registers
// when `enabled`, unregisters when not, together with the menus of the other
// file managers (file_manager_actions.h). `removeFile` deletes a file (false
// when it stays); an outdated module that cannot be deleted shows the
// message of string 672 and sets `enabled` to false.
void UpdateExplorerMenu(const ShellEnvironment& environment, bool& enabled,
                        const std::function<bool(const std::string&)>& removeFile);

}  // namespace vantrove
