#include "cli/flag_arguments.h"

#include <cstdio>

#include "cli/terminal_name.h"

namespace vantrove::cli {

bool ReadFlagsAndFile(const std::vector<std::string>& args, std::initializer_list<FlagOption> flags,
                      std::string& path) {
    bool onlyFiles = false;
    for (const std::string& arg : args) {
        if (!onlyFiles && arg == "--") {
            onlyFiles = true;
            continue;
        }
        if (!onlyFiles && arg.size() > 1 && arg[0] == '-') {
            bool known = false;
            for (const FlagOption& option : flags) {
                if (arg != option.name) continue;
                *option.flag = true;
                known = true;
            }
            if (known) continue;
            std::fprintf(stderr, "vantrove-cli: unknown option '%s'\n", TerminalName(arg).c_str());
            return false;
        }
        if (!path.empty()) {
            std::fprintf(stderr, "vantrove-cli: more than one FILE given\n");
            return false;
        }
        path = arg;
    }
    return true;
}

}  // namespace vantrove::cli
