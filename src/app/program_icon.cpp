#include "app/program_icon.h"

#include "app/desktop_entry_file.h"
#include "app/packed_resource.h"

namespace vantrove {
namespace {

const unsigned char kResource[] = {
#include "app/program_icon_data.inc"
};

}  // namespace

std::string ProgramIconPath(const ShellEnvironment& environment) {
    return environment.dataHome + "/icons/hicolor/scalable/apps/" + kProgramIconName + ".svg";
}

bool ProgramIconImage(std::string& svg) {
    return UnpackResource(kResource, sizeof kResource, svg);
}

bool InstallProgramIcon(const ShellEnvironment& environment) {
    std::string svg, old;
    if (!ProgramIconImage(svg)) return false;
    std::string path = ProgramIconPath(environment);
    if (ReadTextFile(path, old) && old == svg) return true;
    return WriteTextFileAtomically(path, svg);
}

}  // namespace vantrove
