#pragma once
// Which format a file opens as, and an empty set of that format.
//
// The worker and the command line choose the format of a file from its name
// alone, trying PAR 1.0 volume names first, then PAR 2.0 volume names, then
// MD5 and SFV list names; the first that recognises the name decides. Pure
// functions; any thread (the set made belongs to the caller's thread).

#include <memory>
#include <string>

#include "engine/recovery_set.h"

namespace vantrove {

// The format that `path` (a file name, with or without folder) opens as;
// FormatKind::None when no format recognises the name.
FormatKind ChooseSetFormat(const std::string& path);

// An empty set of `kind` reporting to `observer` and stopped by `stopFlag`
// (either may be null); null for FormatKind::None.
std::unique_ptr<RecoverySet> NewEmptySet(FormatKind kind, SetObserver* observer,
                                         const StopFlag* stopFlag);

// "PAR1", "PAR2", "MD5", "SFV", or "" for FormatKind::None.
const char* SetFormatName(FormatKind kind);

}  // namespace vantrove
