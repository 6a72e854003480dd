#pragma once
// A desktop in a temporary folder for the shell-integration tests: user data
// and configuration folders, one system data folder whose MIME database knows
// *.par2 as application/x-par2 (as Debian's does), and the path of a program
// that stands for ours.

#include <string>

#include "app/shell_environment.h"
#include "support/test_env.h"

namespace vantrove::test {

// Writes a file, creating its folders.
void PutFile(const std::string& path, const std::string& text);

struct FakeDesktop {
    FakeDesktop();

    std::string Read(const std::string& path) const;
    // A system application entry `id` whose Exec line is `exec`.
    void AddSystemEntry(const std::string& id, const std::string& exec);

    TempDir root;
    ShellEnvironment environment;
};

}  // namespace vantrove::test
