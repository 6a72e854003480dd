#pragma once
// What the verify and repair commands share: checking the FILE argument,
// locking its folder, and printing the report of files and state as text or
// JSON. The set itself travels through a SetSession, as in the desktop.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_observer.h"
#include "cli/json_writer.h"
#include "app/set_session.h"
#include "core/folder_lock.h"
#include "core/path.h"
#include "engine/recovery_set.h"

namespace vantrove::cli {

// True when `path` (`given` as the user wrote it) is a readable file with a
// name this program opens; otherwise prints why not on stderr.
bool CheckSetFile(const std::string& given, const std::string& path);
// True when `outcome` says the folder lock was taken; otherwise prints on
// stderr why not (`given` is the FILE as the user wrote it, `error` the
// lock's error).
bool LockTaken(FolderLock::Outcome outcome, int error, const std::string& given);
// Takes `lock` on the folder of `path` for a job that changes files there,
// then deletes the work files that an interrupted job left there. When
// another job holds the lock, prints that the set is busy and returns false
// at once, or with `wait` waits for it (a stop ends the wait).
bool LockSetFolder(FolderLock& lock, const std::string& given, const std::string& path, bool wait,
                   const StopFlag* stop);
// How a command that reports on a set reads its files: `cached` lets
// unchanged files (same size and times) keep their saved results.
inline ScanMode ScanModeFor(bool cached) {
    return cached ? ScanMode::Cached : ScanMode::ReadEverything;
}
// Why the repair leaves the file of `entry` alone.
std::string UnusableNameReason(const RecoverySet& set, const SourceFileEntry& entry);

SourceRowKind RowOf(const SourceFileEntry& entry);
std::string VolumeText(const SetFile& file);
std::string SourceText(const SourceFileEntry& entry, SourceRowKind row);
// One line for each data file that could not be read throughout, by its
// name in the set's folder: `"x.bin": some blocks could not be read (why)`.
std::vector<std::string> UnreadableFileLines(const RecoverySet& set);
// One sentence on what the set needs.
std::string StatusLine(const RecoverySetStatus& status);

// Prints the report on stdout: as JSON (with `extraJson` adding members to
// the object; a data file that could not be read throughout has its error
// as "readError") or as text (the UnreadableFileLines, then `extraLines`,
// after the status line).
void PrintSetReport(const RecoverySet& set, bool asJson,
                    const std::function<void(JsonWriter&)>& extraJson = {},
                    const std::vector<std::string>& extraLines = {});

}  // namespace vantrove::cli
