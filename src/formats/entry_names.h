#pragma once
// Where the file of a name taken from a recovery or checksum file lies.
//
// Names in PAR 1.0 file lists and in SFV and MD5 lists come from files that
// anyone may have written. A plain relative name is joined to the set's
// folder as it is. Any other name (absolute, with "." or ".." components, or
// empty) is resolved lexically; where it lands inside the set's folder the
// file is looked at there, and elsewhere it is never read. Such a name is
// never used to create or rename a file. Pure functions; any thread.

#include <string>

namespace vantrove {

// Not empty, not absolute, without "." or ".." components.
bool IsPlainRelativeName(const std::string& name);

// The path at which the file of `name` is looked for: `folder` + `name` for
// a plain name, else the lexically resolved path (an absolute name as it
// is, a relative one below `folder`).
std::string ResolvedEntryPath(const std::string& folder, const std::string& name);

// True unless `path`, resolved lexically, lies strictly inside `folder`.
bool PathLeavesFolder(const std::string& path, const std::string& folder);

// The folder part of a path, up to and including its last '/'.
std::string FolderOfPath(const std::string& path);
// The file-name part of a path.
std::string FileNameOfPath(const std::string& path);

}  // namespace vantrove
