#pragma once
// Opening a document with the desktop's default application, and the Help
// command that opens the program's manual in the default browser.
//
// Documents are handed to xdg-open, which asks the desktop for the
// application (for "index.htm", the browser). The program does not wait for
// it; where there is no xdg-open nothing happens and the call says so.
// Callable from any thread.

#include <string>

namespace vantrove {

// Starts the desktop's default application for `path`. False, quietly, when
// it could not be started.
bool OpenDocument(const std::string& path);

// The folder of the program's own executable, ending in '/'; empty when it
// cannot be learned.
std::string ExecutableFolder();

// The manual, "index.htm": beside the executable, or in the installed data
// folder ("<prefix>/share/vantrove/" for "<prefix>/bin/"). The first that
// exists; the one beside the executable when neither does.
std::string HelpDocumentPath(const std::string& executableFolder);

// The Help command: opens the manual. False, quietly, when it cannot.
bool OpenHelp();

}  // namespace vantrove
