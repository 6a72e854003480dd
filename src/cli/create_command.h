#pragma once
// `vantrove-cli create`: makes a PAR 2.0 set from the command line.
//
//   vantrove-cli create [options] [-o DIR/BASENAME] FILE...
//   vantrove-cli create --extend SET.par2 [-c COUNT | -r PERCENT] [-n COUNT]
//
// Options may stand before or after the files; a value may be attached
// (-r10) or separate (-r 10), long options also as --name=value. Values out
// of range are limited as the creation parameters limit them. Defaults come
// from the settings store, as the create dialog takes them. Exit codes: 0
// success, 3 failure (bad arguments or a failed or stopped job; the failure
// message is printed).
//
// Runs on the main thread; the job runs on a worker thread and its status is
// sampled every 250 ms.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "create/creation_parameters.h"
#include "engine/stop_flag.h"

namespace vantrove::cli {

struct CreateArguments {
    std::string output;  // DIR/BASENAME, empty for the offered name
    // Folder the stored names are relative to; empty for the folder of
    // the output.
    std::string basePath;
    std::vector<std::string> files;  // files and folders
    std::string extend;  // SET.par2 to extend
    bool force = false;  // replace recovery files of the same name
    bool wait = false;   // wait while another job works in the output folder
    bool hasBlockSize = false, hasBlockCount = false, hasRedundancy = false,
         hasRecoveryCount = false, hasFirst = false, hasFileCount = false, hasScheme = false,
         hasSplit = false;
    uint64_t blockSize = 0;
    uint64_t blockCount = 0;
    uint32_t redundancy = 0;  // hundredths of a percent
    uint64_t recoveryCount = 0;
    uint64_t first = 0;
    uint32_t fileCount = 0;
    uint32_t scheme = 0;
    uint64_t splitLimit = 0;
};

// Source blocks of a set when neither a block size nor a count is given.
constexpr uint64_t kDefaultSourceBlocks = 2000;

// The usage text of `vantrove-cli create`.
void CreateUsage(std::FILE* out);

// A decimal number of up to 19 digits, nothing else.
bool ParseNumber(const std::string& text, uint64_t& value);

// The source files named by `arguments`: files as they are, folders with
// every regular file below them (symbolic links inside not followed), each
// file once, with absolute paths. False with `error` for a name that is
// neither.
bool GatherSources(const std::vector<std::string>& arguments, std::vector<CreationSourceFile>& out,
                   std::string& error);

// Gives every file its stored name, its path relative to `baseFolder` (an
// absolute path ending in '/'); drops the set's own recovery files
// (`baseName` volumes in the base folder). False with `error` for a file
// outside the base folder, a name holding '\\', or two files of one name.
bool StoreNamesBelow(const std::string& baseFolder, const std::string& baseName,
                     std::vector<CreationSourceFile>& files, std::string& error);

// Parses the arguments after "create". False with `error` set when they
// are not usable.
bool ParseCreateArguments(const std::vector<std::string>& args, CreateArguments& parsed,
                          std::string& error);

// Applies the parsed options to parameters that already hold the files (or
// the extended set), in an order where each setter sees the values it
// depends on: scheme and split, block size or count, recovery blocks,
// recovery files, first exponent.
void ApplyCreateArguments(const CreateArguments& parsed, CreationParameters& parameters);

// The whole command; `args` are the words after "create".
int RunCreateCommand(const std::vector<std::string>& args, StopFlag* stop);

}  // namespace vantrove::cli
