#include "ui/dropped_paths.h"

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
        paths.push_back(path.toStdString());
    }
    return paths;
}

}  // namespace vantrove
