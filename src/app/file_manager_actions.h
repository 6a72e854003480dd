#pragma once
// The file-manager menu outside KDE: the same entry "Crea volumi di
// recupero PAR2…" for Nautilus, Nemo and Thunar, installed and removed
// together with the KDE service menu (file_manager_menu.h).
//
//   - a runner script, <data>/Vantrove/vantrove-create.sh, that takes the
//     files as arguments and starts `vantrove /create <file>` for one file or
//     writes them to a list file (mktemp, one per line) and starts
//     `vantrove /create /list <listfile>` for several; Nemo and Thunar run it;
//   - a Nautilus script, <data>/nautilus/scripts/<entry name>, executable,
//     which reads the selection from NAUTILUS_SCRIPT_SELECTED_FILE_PATHS and
//     starts the program the same way;
//   - a Nemo action, <data>/nemo/actions/vantrove-create.nemo_action. Nemo
//     puts each selected path in single quotes (Quote=single, a quote inside
//     written '\'') where the Exec value says %F; it replaces such field
//     codes anywhere in the value, so a data folder whose path holds one
//     (say "%F") would garble the command;
//   - a Thunar custom action in <config>/Thunar/uca.xml, recognised by its
//     unique-id. The file is shared with the user's own actions: our block is
//     added before the closing </actions>, replaced or cut out, and every
//     other byte stays as it was. When the user has no uca.xml yet, the
//     system's (from the configuration folders) is the starting point, so
//     that Thunar's default actions do not disappear behind ours; a list
//     that holds only that starting point again once our block is cut out
//     is deleted. A file that cannot be read as an action list is left alone.
//
// The scripts and the Nemo action carry "X-Vantrove-Version"; only files
// that do are removed. Used on the user-interface thread.

#include <functional>
#include <string>

#include "app/shell_environment.h"

namespace vantrove {

// The Thunar action's unique-id, by which our block is found.
constexpr char kThunarActionId[] = "vantrove-create-par2";

std::string FileManagerRunnerPath(const ShellEnvironment& environment);
std::string NautilusScriptPath(const ShellEnvironment& environment);
std::string NemoActionPath(const ShellEnvironment& environment);
std::string ThunarActionsPath(const ShellEnvironment& environment);

// The contents as installed for the program at `executablePath` (the
// runner at `runnerPath` for the Nemo and Thunar commands).
std::string FileManagerRunnerScript(const std::string& executablePath);
std::string NautilusScript(const std::string& executablePath);
std::string NemoAction(const std::string& runnerPath);
std::string ThunarActionBlock(const std::string& runnerPath);

// An action list (uca.xml) with our block put in, or replacing the one
// already there; false, with `merged` untouched, when `text` has no
// </actions> or <actions/> to put it into.
bool MergeThunarAction(const std::string& text, const std::string& block, std::string& merged);
// An action list without our block (the text itself when it has none).
std::string RemoveThunarAction(const std::string& text);

// Installs the four pieces, or removes those that are ours. False when any
// of them failed; the others are still done.
bool RegisterFileManagerActions(const ShellEnvironment& environment);
bool UnregisterFileManagerActions(const ShellEnvironment& environment,
                                  const std::function<bool(const std::string&)>& removeFile);

}  // namespace vantrove
