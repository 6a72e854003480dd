#pragma once
// The names under which a copy of a file may lie: the copy-name rules by
// which a scan decides that a file such as "movie.avi.1" or "movie(2).avi"
// is probably "movie.avi". Pure functions; any thread.

#include <string>
#include <vector>

namespace vantrove {

// The forms of `path` to look up, in order, each rule working on the result
// of the one before it; a rule that changes nothing adds nothing:
//   1. the path as it is;
//   2. a copy suffix removed: ".N" or ".N-M" at the end, otherwise
//      "(N).tmp" (".tmp" in any case) with a '.' just before the '(';
//   3. a copy infix before the extension removed: ".N", "-N", "_N" or
//      ".(...)" (name_1.avi, name-2.avi, name.3.avi, name.(copy).avi);
//   4. rule 2 again;
//   5. every character of the file name that is not a letter, a digit or
//      '.' replaced by '?'.
std::vector<std::string> CopyNameForms(const std::string& path);

// Rule 2 alone; returns `name` unchanged when it carries no copy suffix.
std::string WithoutCopySuffix(const std::string& name);
// Rule 3 alone.
std::string WithoutCopyInfix(const std::string& name);

}  // namespace vantrove
