#pragma once
// DroppedPaths: the files of a drag-and-drop, as the dialogs take them.
//
// Both dialogs accept files dropped on them (or on their file lists) and
// treat them as a list of paths in the order the desktop gave them. Only
// local files count: remote URLs and plain text are ignored. A pure function
// of the drop's data; user-interface thread (QMimeData belongs to it).

#include <string>
#include <vector>

class QMimeData;

namespace vantrove {

// The local file paths of `mimeData` in UTF-8, in the order of its URLs;
// empty when it is null or carries no local file.
std::vector<std::string> DroppedPaths(const QMimeData* mimeData);

}  // namespace vantrove
