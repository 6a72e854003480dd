#pragma once
// Helpers for the tests of the PAR1, SFV and MD5 sets: opening a set the way
// the worker does (a replacement from the saved state is taken and scanned),
// a cache of the test's own, and running peer commands.

#include <memory>
#include <string>

#include "engine/recovery_set.h"
#include "engine/verification_cache.h"

namespace vantrove::test {

// Opens `path` in `set` through a SetSession, as the worker does (a
// replacement set that Open returns takes the place of `set`).
void OpenLikeWorker(std::unique_ptr<RecoverySet>& set, const std::string& path);

// The entry named `name`, or null.
SourceFileEntry* EntryNamed(RecoverySet& set, const std::string& name);

// True when `command` is on the PATH.
bool HaveCommand(const std::string& command);
// Runs `command` through the shell; its exit status.
int RunShell(const std::string& command);
// Single-quotes a word for the shell.
std::string ShellQuote(const std::string& word);

}  // namespace vantrove::test
