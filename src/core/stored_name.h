#pragma once
// Names of files as recovery and checksum files store them, and where the
// file of such a name lies.
//
// A stored name is a path relative to the set's folder. Sets made on Windows
// separate folders with '\\', sets made here with '/'; both are folder
// separators, and a zero byte ends the name. Every other byte is kept as it
// is: ':', '?', '*', '|' or "con.txt" are ordinary names on Linux.
//
// Names come from files that anyone may have written. A safe name (not
// empty, not absolute, no empty, "." or ".." component) is joined to the
// set's folder as it is. Any other name is resolved lexically; where it lands
// inside the set's folder the file may be looked at there, elsewhere it is
// never read, and such a name is never used to create or rename a file.
// Pure functions; any thread.

#include <string>
#include <string_view>

#include "core/path.h"

namespace vantrove {

// The name as a path of this system: everything before the first zero byte,
// with '\\' turned into '/'.
std::string StoredName(std::string_view raw);

// Not empty, not absolute, and without an empty, "." or ".." component (so
// also no leading, trailing or doubled '/').
bool IsSafeStoredName(std::string_view name);

// Not empty, not absolute, without "." or ".." components.
bool IsPlainRelativeName(const std::string& name);

// The path at which the file of `name` is looked for: `folder` + `name` for
// a plain name, else the lexically resolved path (an absolute name as it
// is, a relative one below `folder`).
std::string ResolvedEntryPath(const std::string& folder, const std::string& name);

// True unless `path`, resolved lexically, lies strictly inside `folder`.
bool PathLeavesFolder(const std::string& path, const std::string& folder);

}  // namespace vantrove
