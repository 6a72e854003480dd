#pragma once
// PathLess: the order of the set's maps of files.
//
// Paths are ordered without regard to letter case (ASCII), so that listings
// and maps walk together in the order users expect; two paths that differ
// only in case stay two keys (byte order breaks the tie), because on this
// file system they name two files. Pure functions; any thread.

#include <string_view>

#include "core/path.h"

namespace vantrove {

struct PathLess {
    bool operator()(std::string_view a, std::string_view b) const;
    using is_transparent = void;
};

}  // namespace vantrove
