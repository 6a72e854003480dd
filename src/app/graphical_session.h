#pragma once
// Whether the desktop program can open its windows, and what it says when
// it cannot.
//
// Without an X or Wayland display the windowing toolkit would end with its
// own message about a platform plugin and a suggestion to reinstall. The
// program checks first and, without a display, says plainly that it needs a
// graphical session and shows the command-line program's forms instead.
// Used before the application object exists; main thread.

#include <cstdio>
#include <string>
#include <vector>

namespace vantrove {

// True when the environment names a display (DISPLAY or WAYLAND_DISPLAY not
// empty) or a platform chosen explicitly (QT_QPA_PLATFORM, or a "-platform"
// argument in `arguments`), which then reports its own problems.
bool GraphicalSessionAvailable(const std::vector<std::string>& arguments);

// Writes to `out` that a graphical session is needed, then the forms of
// `cliPath` (its own usage text, so the two never disagree; a short
// pointer to it when it cannot be run). Returns the exit code for the
// program: 2.
int ReportNoGraphicalSession(std::FILE* out, const std::string& cliPath);

}  // namespace vantrove
