#include "ui/dropped_paths.h"

#include <sys/stat.h>

#include <QMimeData>
#include <QUrl>

namespace vantrove {

std::vector<std::string> DroppedPaths(const QMimeData* mimeData) {
    std::vector<std::string> paths;
    if (mimeData == nullptr || !mimeData->hasUrls()) return paths;
    for (const QUrl& url : mimeData->urls()) {
        if (!url.isLocalFile()) continue;
        QString path = url.toLocalFile();
        if (path.isEmpty()) continue;
        // Only files that exist count; a folder is not a file to open or protect.
        std::string local = path.toStdString();
        struct stat st {};
        if (stat(local.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) continue;
        paths.push_back(std::move(local));
    }
    return paths;
}

}  // namespace vantrove
