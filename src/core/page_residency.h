#pragma once
// How much of a file the page cache holds. Reading pages that are in memory
// costs no disk time, so the order of the reads does not matter; reading
// the rest from a rotating disk in several places at once makes it seek
// between them.

#include <string>

namespace vantrove {

// The share (0 to 1) of the pages of the regular file at `path` that are in
// memory now; 0 for an empty file or when it cannot be told.
double ResidentShare(const std::string& path);

}  // namespace vantrove
