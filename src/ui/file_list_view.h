#pragma once
// The file list at the top of the create and verify dialogs. User-interface
// thread only.

class QTreeWidget;
class QWidget;

namespace vantrove {

// A new list owned by `dialog` (object name "fileList"): three columns, the
// file name, the size (right-aligned) and the text `thirdColumnId` of the
// string table; rows of one height. The list takes no drops itself: they go
// on to the dialog.
QTreeWidget* MakeFileList(QWidget* dialog, int thirdColumnId);

}  // namespace vantrove
