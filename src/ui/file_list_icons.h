#pragma once
// The 16 x 16 icons of the verify/repair dialog's file list: one for each of
// the nine kinds of row, drawn here rather than loaded, so that they need no
// image files. A page with a coloured mark tells the state at a glance:
// green for good, amber for what a repair only has to rename, red for damaged
// or missing, grey for what is not known yet. User-interface thread (they
// are pixmaps).

#include <QIcon>

namespace vantrove {

enum class FileListIcon {
    RecoveryGroup,  // the recovery or checksum files
    DataGroup,      // the data files
    VolumeGood,     // a volume read and used
    VolumeBad,      // a damaged volume, or one of another set
    VolumeUnknown,  // a volume not read yet
    FileGood,       // a complete or repaired data file
    FileMisnamed,   // a complete copy under another name
    FileBad,        // a damaged or missing data file
    FileUnknown,    // a data file not verified yet, or a place of blocks
};
constexpr int kFileListIconCount = 9;

// The icon of `kind` (made once, then shared).
QIcon FileListIconOf(FileListIcon kind);

}  // namespace vantrove
