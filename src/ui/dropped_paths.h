#pragma once
// DroppedPaths: the files of a drag-and-drop, as the dialogs take them.
//
// Both dialogs accept files dropped on them (or on their file lists) and
// treat them as a list of paths in the order the desktop gave them. Only
// local files that exist count: remote URLs, plain text and vanished files
// are ignored, folders too unless asked for, and a drop with none is refused.
// User-interface thread (QMimeData belongs to it).

#include <string>
#include <vector>

class QMimeData;

namespace vantrove {

// The paths of the existing local files of `mimeData` in UTF-8, in the order
// of its URLs; empty when it is null or carries none. With `foldersToo`,
// existing folders count as well (the create dialog adds their files).
std::vector<std::string> DroppedPaths(const QMimeData* mimeData, bool foldersToo = false);

}  // namespace vantrove
