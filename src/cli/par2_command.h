#pragma once
// The `par2` command line: `vantrove-cli par2 ARGS…`, and the program started
// under the names par2, par2create, par2verify or par2repair. Takes the
// classic arguments (c/v/r, single-letter options with attached values,
// grouped flags, `--`), prints the lines download tools read and returns the
// classic exit codes, over the same engine as the other commands.

#include <cstdint>
#include <string>
#include <vector>

#include "engine/stop_flag.h"

namespace vantrove::cli {

enum Par2ExitCode : int {
    kPar2Success = 0,
    kPar2RepairPossible = 1,
    kPar2RepairNotPossible = 2,
    kPar2InvalidArguments = 3,
    kPar2InsufficientCriticalData = 4,
    kPar2RepairFailed = 5,
    kPar2FileIoError = 6,
    kPar2InternalError = 7,
    kPar2OutOfMemory = 8,
};

enum class Par2Operation { None, Create, Verify, Repair };

struct Par2Arguments {
    Par2Operation operation = Par2Operation::None;
    bool help = false;
    int version = 0;    // -V 1, -VV 2
    int verbosity = 0;  // -q -1, -q -q -2, -v 1, -v -v 2
    std::string basePath;     // -B
    std::string archiveName;  // -a
    std::string par2File;     // the PAR2 file (for create: the set's name)
    std::vector<std::string> files;
    bool hasBlockCount = false, hasBlockSize = false, hasRedundancy = false,
         hasRedundancySize = false, hasRecoveryCount = false, hasFirst = false,
         hasFileCount = false;
    uint64_t blockCount = 0, blockSize = 0, redundancySize = 0, recoveryCount = 0, first = 0;
    uint32_t redundancy = 0;  // hundredths of a percent
    uint32_t fileCount = 0;
    bool uniform = false, limited = false, recurse = false, purge = false, dataSkip = false;
    uint64_t skipLeeway = 0, memoryMb = 0, threads = 0, fileThreads = 0;
};

// The operation a program name implies: par2create, par2verify, par2repair
// (any folder part ignored); None for any other name.
Par2Operation Par2OperationOfProgram(const std::string& programName);

// True when `programName` (any folder part ignored) is one of the names
// under which the program takes the classic arguments.
bool IsPar2ProgramName(const std::string& programName);

// Reads the arguments after the program name. False with `error` (the text
// printed before the exit code for invalid arguments) when they are not usable.
bool ParsePar2Arguments(Par2Operation implied, const std::vector<std::string>& args,
                        Par2Arguments& parsed, std::string& error);

// The file arguments as the command takes them: on create "@LIST" gives the
// names in the file LIST, one a line, and "@" those on standard input; a
// name part holding '*' or '?' gives the names in its folder that it
// matches (in byte order, a leading '.' matched only by a '.'; none when
// nothing matches). False with `error` when a list cannot be read.
bool ExpandPar2FileArguments(bool create, const std::vector<std::string>& given,
                             std::vector<std::string>& out, std::string& error);

// The whole command; `programName` is argv[0] or "par2".
int RunPar2Command(const std::string& programName, const std::vector<std::string>& args,
                   StopFlag* stop);

}  // namespace vantrove::cli
