#include "ui/last_folder.h"

namespace vantrove {

namespace {

std::string& Folder() {
    static std::string folder;
    return folder;
}

}  // namespace

const std::string& LastFolder() {
    return Folder();
}

void RememberFolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return;
    Folder() = path.substr(0, slash + 1);
}

void SetLastFolder(const std::string& folder) {
    if (folder.empty()) {
        Folder().clear();
        return;
    }
    Folder() = folder.back() == '/' ? folder : folder + '/';
}

}  // namespace vantrove
