#pragma once
// The program's icon as the desktop shows it for the associated file types
// and in the application entries: a scalable image that the program carries
// packed inside itself and installs into the user's icon theme folder,
// <data>/icons/hicolor/scalable/apps/vantrove.svg, under the icon name
// "vantrove". It is installed with the first association and removed when
// no association of ours is left. User-interface thread.

#include <functional>
#include <string>

#include "app/shell_environment.h"

namespace vantrove {

constexpr char kProgramIconName[] = "vantrove";

std::string ProgramIconPath(const ShellEnvironment& environment);

// The image (SVG text); false when the carried resource is damaged.
bool ProgramIconImage(std::string& svg);

// Writes the icon unless the same one is there; false when it cannot.
bool InstallProgramIcon(const ShellEnvironment& environment);

}  // namespace vantrove
