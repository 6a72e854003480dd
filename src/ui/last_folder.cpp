#include "ui/last_folder.h"

#include <utility>

#include "core/path.h"

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
    std::string folder = FolderOfPath(path);
    if (!folder.empty()) Folder() = std::move(folder);
}

void SetLastFolder(const std::string& folder) {
    if (folder.empty()) {
        Folder().clear();
        return;
    }
    Folder() = folder.back() == '/' ? folder : folder + '/';
}

}  // namespace vantrove
