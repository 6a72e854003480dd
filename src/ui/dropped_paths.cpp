#include "ui/dropped_paths.h"

#include <QMimeData>
#include <QUrl>

#include "core/path.h"

namespace vantrove {

std::vector<std::string> DroppedPaths(const QMimeData* mimeData, bool foldersToo) {
    std::vector<std::string> paths;
    if (mimeData == nullptr || !mimeData->hasUrls()) return paths;
    for (const QUrl& url : mimeData->urls()) {
        if (!url.isLocalFile()) continue;
        // The path's bytes from its percent-encoded form: a name that is not
        // UTF-8 arrives as it is on disk, which no QString would keep.
        std::string local =
            QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString();
        if (local.empty()) continue;
        // Only files that exist count; a folder only where its files are taken.
        const PathKind kind = KindOfPath(local);
        if (kind == PathKind::Missing || (kind == PathKind::Folder && !foldersToo)) continue;
        paths.push_back(std::move(local));
    }
    return paths;
}

}  // namespace vantrove
