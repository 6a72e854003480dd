#pragma once
// Running commands from tests: the program under test and the peer tools
// (par2, cksfv, md5sum, parchive) used as black boxes.

#include <string>

namespace vantrove::test {

// True when `command` is found on PATH.
bool HaveCommand(const std::string& command);

// `s` quoted for a POSIX shell.
std::string ShellQuote(const std::string& s);

struct ShellOutcome {
    int exitCode = -1;  // -1 when the command did not exit normally
    std::string out;    // its standard output
};

// Runs a shell command, capturing stdout; stderr goes to the test's log.
ShellOutcome RunShell(const std::string& command);

}  // namespace vantrove::test
