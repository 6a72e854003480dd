#include "format_test_support.h"

#include <sys/wait.h>

#include <cstdlib>

#include "app/set_session.h"

namespace vantrove::test {

void OpenLikeWorker(std::unique_ptr<RecoverySet>& set, const std::string& path) {
    SetSession session(set->observer(), set->stopFlag());
    session.Adopt(std::move(set));
    session.Open(path);
    session.FinishActivity();
    set = session.ReleaseSet();
}

SourceFileEntry* EntryNamed(RecoverySet& set, const std::string& name) {
    for (const SourceFileEntryRef& entry : set.entries()) {
        if (entry->name == name) return entry.get();
    }
    return nullptr;
}

bool HaveCommand(const std::string& command) {
    return RunShell("command -v " + command + " >/dev/null 2>&1") == 0;
}

int RunShell(const std::string& command) {
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ShellQuote(const std::string& word) {
    std::string quoted = "'";
    for (char c : word) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

}  // namespace vantrove::test
