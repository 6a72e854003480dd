#include "support/shell.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>

namespace vantrove::test {

bool HaveCommand(const std::string& command) {
    return std::system(("command -v " + ShellQuote(command) + " >/dev/null 2>&1").c_str()) == 0;
}

std::string ShellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        if (c == '\'') {
            q += "'\\''";
        } else {
            q += c;
        }
    }
    return q + "'";
}

ShellOutcome RunShell(const std::string& command) {
    ShellOutcome run;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) run.out.append(buffer.data(), n);
    int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

}  // namespace vantrove::test
