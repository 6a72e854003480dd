#pragma once
// ShellEnvironment: the folders of the desktop that the shell integration
// reads and writes, and the program it points the desktop at.
//
// The user's folders follow the XDG base-directory rules: XDG_DATA_HOME (else
// $HOME/.local/share) and XDG_CONFIG_HOME (else $HOME/.config); a relative
// value counts as unset. The system folders (XDG_DATA_DIRS, XDG_CONFIG_DIRS)
// are only read. Tests build their own environment pointing into a temporary
// folder. Plain data; built on the user-interface thread.

#include <string>
#include <vector>

namespace vantrove {

struct ShellEnvironment {
    std::string dataHome;                 // user data folder, without a trailing '/'
    std::string configHome;               // user configuration folder
    std::vector<std::string> dataDirs;    // system data folders, most important first
    std::vector<std::string> configDirs;  // system configuration folders
    std::string executablePath;           // the program that the desktop starts

    // The executable's file name ("vantrove"), by which entries that start
    // this program are recognised.
    std::string ExecutableName() const;
    // Empty folders mean the environment is unusable: nothing is written.
    bool Usable() const { return !dataHome.empty() && !configHome.empty(); }
};

// The environment of this process: its variables and its own executable.
ShellEnvironment CurrentShellEnvironment();

}  // namespace vantrove
