#pragma once
// The message of a failed repair, from the set's status record: the
// string-table text of the error kind, with the name of the failing file
// (without its folder) and the system's text for the error code where the
// kind names a file. Shared by the verify/repair dialog and the command line.
// A pure function; any thread.

#include <string>

#include "engine/recovery_set_status.h"

namespace vantrove {

// Empty for ErrorKind::None.
std::string RepairErrorMessage(ErrorKind kind, uint32_t systemErrorCode,
                               const std::string& errorFile);

// Whether a repair failure of this kind happened on one file (rename,
// create, open, read, write), so that its message names the file and the
// system's reason; the other kinds are about the computation or the set.
bool ErrorKindNamesFile(ErrorKind kind);

// The system's text for an errno value, or "Errore %d" when it has none.
std::string SystemErrorMessage(uint32_t systemErrorCode);

}  // namespace vantrove
