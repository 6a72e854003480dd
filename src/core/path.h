#pragma once
// Paths as text: the folder and the name of a path, the order of names
// without regard to case, a path made absolute, and what a path names.
//
// A path is a byte string with '/' between folders; nothing here looks at
// character sets, and a '\\' is an ordinary byte of a name. The text
// functions are pure and safe on any thread; AbsolutePath, ResolvedFolder
// and KindOfPath read the current folder or the file system and so see what
// the process sees at the moment of the call.

#include <string>
#include <string_view>
#include <vector>

namespace vantrove {

// The folder part of a path, up to and including its last '/'; empty when
// the path has no '/'.
std::string FolderOfPath(std::string_view path);

// The file-name part of a path: what follows its last '/' (empty for a path
// that ends with '/').
std::string FileNameOfPath(std::string_view path);

// The folder that holds `path`, written the way a system call takes it:
// without a trailing '/', "/" for a name in the root and "." for a name
// without a folder.
std::string ParentFolderOf(std::string_view path);

// The parts of `text` between the separators, empty ones included: "a/b/"
// gives "a", "b" and "", and "" gives one empty part. The parts point into
// `text`.
std::vector<std::string_view> SplitAt(std::string_view text, char separator);
// The lines of `text` without their '\n'; a final '\n' ends the last line
// rather than starting an empty one, and "" has no lines.
std::vector<std::string_view> LinesOf(std::string_view text);

// <0, 0, >0: byte order with ASCII letters compared without regard to case
// (other bytes as unsigned values, whatever the locale).
int CompareIgnoringCase(std::string_view a, std::string_view b);
// CompareIgnoringCase(a, b) < 0: the order of names in the file lists and in
// a new set.
bool LessNoCase(std::string_view a, std::string_view b);
// The same bytes up to ASCII case.
bool EqualNoCase(std::string_view a, std::string_view b);
// `text` ends with `tail` up to ASCII case (an extension such as ".par2").
bool EndsWithNoCase(std::string_view text, std::string_view tail);

// The current folder with a trailing '/'; empty when it cannot be read
// (the folder was removed, or is beyond reach).
std::string CurrentFolder();

// `path` as an absolute path: a relative one is taken from the current
// folder, with its leading "./" dropped. Empty when the path is relative
// and the current folder cannot be read. No link is followed.
std::string AbsolutePath(const std::string& path);

// What a path names, links followed.
enum class PathKind { Missing, RegularFile, Folder, Other };
// The kind of `path`; Missing whenever it cannot be looked at (with the
// reason in `error` when given, else 0 there).
PathKind KindOfPath(const std::string& path, int* error = nullptr);

// The names in `folder` in byte order, without "."
// and "..". False, with errno set, when the folder cannot be read.
bool ListFolder(const std::string& folder, std::vector<std::string>& names);

// The folder as the system finds it (links followed, "." and ".." gone),
// with a trailing '/'; an empty `folder` means the current one. Empty when
// the folder cannot be reached.
std::string ResolvedFolder(const std::string& folder);

}  // namespace vantrove
