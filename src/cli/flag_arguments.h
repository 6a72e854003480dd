#pragma once
// The words after `verify` and `repair`: option words that each switch a
// flag on, and the one FILE the command works on. Runs on the main thread.

#include <initializer_list>
#include <string>
#include <vector>

namespace vantrove::cli {

// An option word and the flag it switches on.
struct FlagOption {
    const char* name;
    bool* flag;
};

// Reads `args`: a word of `flags` switches its flag on, "--" makes every
// later word a file name, and the file name goes to `path` (left as it is
// when none is given). False, with a message on stderr, for an unknown
// option or a second FILE.
bool ReadFlagsAndFile(const std::vector<std::string>& args, std::initializer_list<FlagOption> flags,
                      std::string& path);

}  // namespace vantrove::cli
