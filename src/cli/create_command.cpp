#include "cli/create_command.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>

#include "app/application.h"
#include "app/creation_estimate.h"
#include "app/creation_settings.h"
#include "app/extension_set.h"
#include "app/settings.h"
#include "cli/english_texts.h"
#include "cli/set_report.h"
#include "cli/terminal_name.h"
#include "cli/verify_command.h"
#include "core/machine.h"
#include "core/path.h"
#include "core/string_ids.h"
#include "core/string_table.h"
#include "create/creation_job.h"
#include "create/source_files.h"
#include "par2/volume_name.h"

namespace vantrove::cli {

namespace {

// The recovery files of a set named `base` already in `folder`: the index
// file and the volumes.
std::vector<std::string> ExistingRecoveryFiles(const std::string& folder, const std::string& base) {
    std::vector<std::string> names, found;
    ListFolder(folder, names);
    for (const std::string& name : names) {
        if (name.size() < base.size() + 5 || name.compare(0, base.size(), base) != 0 ||
            !EndsWithNoCase(name, ".par2")) {
            continue;
        }
        const bool index = name.size() == base.size() + 5;
        const bool volume = EqualNoCase(std::string_view(name).substr(base.size(), 4), ".vol");
        if (index || volume) found.push_back(name);
    }
    return found;
}

}  // namespace

void CreateUsage(std::FILE* out) {
    std::fprintf(out,
                 "usage: vantrove-cli create [options] [-o DIR/BASENAME] [-B BASEDIR] FILE|FOLDER...\n"
                 "       vantrove-cli create --extend SET.par2 [-c COUNT | -r PERCENT] "
                 "[-n COUNT]\n"
                 "  -B BASEDIR      names are stored relative to this folder (default: the\n"
                 "                  folder of -o); every file must lie below it\n"
                 "  FOLDER          adds every regular file below it (links not followed)\n"
                 "  -s BYTES        block size (default: about 2000 blocks, a multiple of 4)\n"
                 "  -b COUNT        number of source blocks\n"
                 "  -r PERCENT      redundancy (e.g. 10 or 12.5)\n"
                 "  -c COUNT        number of recovery blocks\n"
                 "  -f EXPONENT     exponent of the first recovery block\n"
                 "  -n COUNT        number of recovery files (sizes doubling unless\n"
                 "                  --scheme uniform; not with --scheme limited)\n"
                 "  --scheme powers|limited|uniform   sizes of the recovery files\n"
                 "  --split BYTES   also split large source files into pieces of this size\n"
                 "  --force         replace recovery files of the same name\n"
                 "  --wait          wait while another job works in the output folder\n"
                 "  -t, --threads N use N threads\n"
                 "  -m, --memory MB hold at most about MB megabytes of recovery data\n"
                 "exit codes: 0 success, 3 failure, 8 stopped (SIGINT or SIGTERM; "
                 "nothing is left)\n");
}

namespace {


// "10", "12.5", "0.01": hundredths of a percent; further decimals are cut.
bool ParsePercent(const std::string& text, uint32_t& hundredths) {
    const size_t dot = text.find('.');
    uint64_t whole = 0, fraction = 0;
    std::string intPart = text.substr(0, dot);
    if (intPart.empty() && dot == std::string::npos) return false;
    if (!intPart.empty() && !ParseNumber(intPart, whole)) return false;
    if (dot != std::string::npos) {
        std::string frac = text.substr(dot + 1);
        if (frac.empty() && intPart.empty()) return false;
        for (char c : frac)
            if (c < '0' || c > '9') return false;
        frac = (frac + "00").substr(0, 2);
        ParseNumber(frac, fraction);
    }
    const uint64_t value = std::min<uint64_t>(whole, 1000000) * 100 + fraction;
    hundredths = static_cast<uint32_t>(std::min<uint64_t>(value, UINT32_MAX));
    return true;
}

std::string Duration(uint64_t seconds) {
    return EnglishDuration(seconds);
}

std::string Speed(double mibPerSecond) {
    return EnglishSpeed(mibPerSecond);
}

std::string ShownName(const std::string& name) {
    const size_t slash = name.rfind('/');
    if (slash != std::string::npos) return TerminalName(name.substr(slash + 1));
    if (name.size() <= 30) return TerminalName(name);
    // The tail, cut where a character begins.
    size_t from = name.size() - 30;
    while (from < name.size() && (static_cast<unsigned char>(name[from]) & 0xC0) == 0x80) ++from;
    return TerminalName(name.substr(from));
}

// The progress of a creation as the progress dialog words it, with the
// smoothed speed of the computing phase.
class CreationProgress {
  public:
    explicit CreationProgress(uint64_t startTick) : estimate_(startTick) {}

    std::string Line(const CreationStatus& st) {
        if (estimate_.Update(st)) {
            last_ = Duration(estimate_.remainingSeconds()) + " / " +
                    Duration(estimate_.totalSeconds()) + " @ " + Speed(estimate_.speed());
        }
        if (st.phase == kPhaseComputing) return last_;
        std::string text = EnglishCreationPhase(st.phase);
        // Phases that work through one file name it.
        if (st.phase == kPhaseHashing || st.phase == kPhaseVerifySplit ||
            st.phase == kPhaseReverifySource || st.phase == kPhaseVerifyOutput) {
            text += ' ';
            text += ShownName(st.fileName);
        }
        return text;
    }

  private:
    CreationEstimate estimate_;
    std::string last_;
};

void DrawBar(const std::string& text, const CreationStatus& st) {
    char percent[16] = "";
    int filled = 0;
    if (st.done > 0 && st.total > 0) {
        const uint64_t permille = std::min<uint64_t>(st.done * 1000 / st.total, 1000);
        std::snprintf(percent, sizeof percent, "%d.%d %%", static_cast<int>(permille / 10),
                      static_cast<int>(permille % 10));
        filled = static_cast<int>(permille * 30 / 1000);
    }
    std::string bar(30, '-');
    for (int i = 0; i < filled; ++i) bar[i] = '#';
    std::string line = text.substr(0, 60);
    std::fprintf(stderr, "\r\033[K[%s] %7s  %s", bar.c_str(), percent, line.c_str());
    std::fflush(stderr);
}

}  // namespace

bool ParseNumber(const std::string& text, uint64_t& value) {
    if (text.empty() || text.size() > 19) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return true;
}

bool GatherSources(const std::vector<std::string>& arguments, std::vector<CreationSourceFile>& out,
                   std::string& error) {
    std::vector<CreationSourceFile> found;
    for (const std::string& path : arguments) {
        struct stat st {};
        if (stat(path.c_str(), &st) != 0) {
            error = "not a readable file: " + TerminalName(path);
            return false;
        }
        if (S_ISDIR(st.st_mode)) {
            const std::string folder = ResolvedFolder(path);
            if (folder.empty() || !AddFolderFiles(folder, found, error)) {
                if (error.empty()) error = "cannot read the folder " + TerminalName(path);
                return false;
            }
            continue;
        }
        if (!S_ISREG(st.st_mode)) {
            error = "not a readable file: " + TerminalName(path);
            return false;
        }
        const std::string folder = ResolvedFolder(FolderOfPath(path));
        const std::string name = FileNameOfPath(path);
        if (folder.empty()) {
            error = "not a readable file: " + TerminalName(path);
            return false;
        }
        found.push_back({folder + name, static_cast<uint64_t>(st.st_size), {}});
    }
    // The same file named twice (or met again through a folder) counts once.
    std::set<std::string> seen;
    for (CreationSourceFile& file : found) {
        if (seen.insert(file.path).second) out.push_back(std::move(file));
    }
    return true;
}

bool StoreNamesBelow(const std::string& baseFolder, const std::string& baseName,
                     std::vector<CreationSourceFile>& files, std::string& error) {
    std::vector<CreationSourceFile> kept;
    for (CreationSourceFile& file : files) {
        if (file.path.size() <= baseFolder.size() ||
            file.path.compare(0, baseFolder.size(), baseFolder) != 0) {
            error = "the file " + TerminalName(file.path) + " lies outside the base folder " +
                    TerminalName(baseFolder) + " (choose another with -B)";
            return false;
        }
        std::string relative = file.path.substr(baseFolder.size());
        // The set's own recovery files are never among its sources.
        if (relative.find('/') == std::string::npos &&
            EqualNoCase(Par2VolumeSetName(relative), baseName)) {
            continue;
        }
        if (relative.find('\\') != std::string::npos) {
            error = "the name " + TerminalName(relative) +
                    " holds a backslash, which reads back as a folder separator";
            return false;
        }
        file.storedName = relative;
        kept.push_back(std::move(file));
    }
    std::string clash, first, second;
    if (FindStoredNameClash(kept, clash, first, second)) {
        error = "two files would be stored as " + TerminalName(clash) + ": " + TerminalName(first) +
                " and " + TerminalName(second);
        return false;
    }
    if (kept.empty()) {
        error = "no source files given";
        return false;
    }
    files = std::move(kept);
    return true;
}

namespace {

// The options that take a whole number as it is: the field each fills and
// the flag that says it was given.
struct NumberOption {
    const char* name;
    bool CreateArguments::*given;
    uint64_t CreateArguments::*value;
};

constexpr NumberOption kNumberOptions[] = {
    {"-s", &CreateArguments::hasBlockSize, &CreateArguments::blockSize},
    {"-b", &CreateArguments::hasBlockCount, &CreateArguments::blockCount},
    {"-c", &CreateArguments::hasRecoveryCount, &CreateArguments::recoveryCount},
    {"-f", &CreateArguments::hasFirst, &CreateArguments::first},
    {"--split", &CreateArguments::hasSplit, &CreateArguments::splitLimit},
};

}  // namespace

bool ParseCreateArguments(const std::vector<std::string>& args, CreateArguments& parsed,
                          std::string& error) {
    bool onlyFiles = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (onlyFiles || arg.size() < 2 || arg[0] != '-') {
            parsed.files.push_back(arg);
            continue;
        }
        if (arg == "--") {
            onlyFiles = true;
            continue;
        }
        if (arg == "--force" || arg == "--wait") {
            (arg == "--force" ? parsed.force : parsed.wait) = true;
            continue;
        }
        std::string name, value;
        bool attached = false;
        if (arg.compare(0, 2, "--") == 0) {
            const size_t eq = arg.find('=');
            name = arg.substr(0, eq);
            if (eq != std::string::npos) {
                value = arg.substr(eq + 1);
                attached = true;
            }
        } else {
            name = arg.substr(0, 2);
            if (arg.size() > 2) {
                value = arg.substr(2);
                attached = true;
            }
        }
        static const char* const kKnown[] = {"-o", "-B", "-s", "-b",       "-r",      "-c",
                                             "-f", "-n", "--scheme", "--split", "--extend"};
        if (std::find(std::begin(kKnown), std::end(kKnown), name) == std::end(kKnown)) {
            error = "unknown option '" + arg + "'";
            return false;
        }
        if (!attached) {
            if (i + 1 >= args.size()) {
                error = "option '" + name + "' needs a value";
                return false;
            }
            value = args[++i];
        }
        uint64_t number = 0;
        const bool numeric = ParseNumber(value, number);
        auto needNumber = [&] {
            if (!numeric) error = "option '" + name + "' needs a number, not '" + value + "'";
            return numeric;
        };
        const auto numberOption =
            std::find_if(std::begin(kNumberOptions), std::end(kNumberOptions),
                         [&name](const NumberOption& option) { return name == option.name; });
        if (numberOption != std::end(kNumberOptions)) {
            if (!needNumber()) return false;
            parsed.*numberOption->given = true;
            parsed.*numberOption->value = number;
        } else if (name == "-o") {
            parsed.output = value;
        } else if (name == "-B") {
            parsed.basePath = value;
        } else if (name == "--extend") {
            parsed.extend = value;
        } else if (name == "-r") {
            if (!ParsePercent(value, parsed.redundancy)) {
                error = "option '-r' needs a percentage, not '" + value + "'";
                return false;
            }
            parsed.hasRedundancy = true;
        } else if (name == "-n") {
            if (!needNumber()) return false;
            parsed.hasFileCount = true;
            parsed.fileCount = static_cast<uint32_t>(std::min<uint64_t>(number, UINT32_MAX));
        } else if (name == "--scheme") {
            parsed.hasScheme = true;
            if (value == "powers")
                parsed.scheme = kPowersOfTwo;
            else if (value == "limited")
                parsed.scheme = kLimitedToLargest;
            else if (value == "uniform")
                parsed.scheme = kUniform;
            else {
                error = "--scheme takes powers, limited or uniform, not '" + value + "'";
                return false;
            }
        }
    }
    if (parsed.hasFileCount && parsed.hasScheme && parsed.scheme == kLimitedToLargest) {
        error = "-n cannot be used with --scheme limited: that scheme makes as many files as "
                "the largest source file needs";
        return false;
    }
    if (!parsed.extend.empty()) {
        if (!parsed.files.empty()) {
            error = "--extend takes no files";
            return false;
        }
        if (parsed.hasBlockSize || parsed.hasBlockCount || parsed.hasSplit || parsed.hasFirst ||
            !parsed.output.empty() || !parsed.basePath.empty()) {
            error = "--extend accepts only -c, -r, -n and --scheme";
            return false;
        }
    } else if (parsed.files.empty()) {
        error = "no source files given";
        return false;
    }
    return true;
}

void ApplyCreateArguments(const CreateArguments& a, CreationParameters& p) {
    if (a.hasScheme) p.setSizeScheme(a.scheme);
    if (a.hasSplit) {
        p.setSplit(true);
        p.setSplitLimit(a.splitLimit);
    }
    // A block size or count asked for explicitly is not held to the
    // preferred block size, as when the restriction is unticked in the
    // dialog.
    if ((a.hasBlockSize || a.hasBlockCount) && p.blockGranule > 4 && !p.extendExistingSet)
        p.setGranuleRestriction(false);
    if (a.hasBlockSize) p.setBlockSize(a.blockSize);
    if (a.hasBlockCount) p.setSourceBlockCount(a.blockCount);
    // Neither asked for: about 2000 blocks, whatever the total size, so that
    // a few small files do not get blocks (and recovery data) far larger
    // than themselves, and a large set does not get too few blocks.
    if (!a.hasBlockSize && !a.hasBlockCount && !p.extendExistingSet) {
        p.setGranuleRestriction(false);
        p.setSourceBlockCount(kDefaultSourceBlocks);
    }
    if (a.hasSplit) p.setSplitLimit(a.splitLimit);  // its bounds follow the block size
    if (a.hasRedundancy) p.setRedundancy(a.redundancy);
    if (a.hasRecoveryCount) p.setRecoveryBlockCount(a.recoveryCount);
    // A count of files under the scheme that derives the count from the
    // largest file: the sizes double instead, as asked for by the count.
    if (a.hasFileCount && !a.hasScheme && p.sizeScheme == kLimitedToLargest)
        p.setSizeScheme(kPowersOfTwo);
    if (a.hasFileCount) p.setRecoveryFileCount(a.fileCount);
    if (a.hasFirst) p.setFirstRecoveryBlock(a.first);
}

int RunCreateCommand(const std::vector<std::string>& args, StopFlag* stop) {
    CreateArguments parsed;
    std::string error;
    if (!ParseCreateArguments(args, parsed, error)) {
        std::fprintf(stderr, "vantrove-cli create: %s\n", TerminalName(error).c_str());
        CreateUsage(stderr);
        return kError;
    }

    Settings settings;
    settings.Load();
    settings.ComputePreferredBlockSize();
    CreationSettings defaults = CreationSettingsFrom(settings);
    MachineFigures machine;
    machine.physicalMemoryBytes = PhysicalMemoryBytes();

    CreationParameters parameters(defaults, machine);
    if (!parsed.extend.empty()) {
        ExistingSetInfo info;
        if (!ReadSetForExtension(parsed.extend, info, error)) {
            std::fprintf(stderr, "vantrove-cli create: %s\n", TerminalName(error).c_str());
            return kError;
        }
        parameters.initFromExistingSet(info);
    } else {
        std::vector<CreationSourceFile> files;
        if (!GatherSources(parsed.files, files, error)) {
            std::fprintf(stderr, "vantrove-cli create: %s\n", TerminalName(error).c_str());
            return kError;
        }
        parameters.AddFiles(files);
        std::string output = parsed.output;
        if (output.empty()) output = parameters.defaultPath + parameters.offeredBaseName();
        std::string base = FileNameOfPath(output);
        if (base.size() > 5 && EndsWithNoCase(base, ".par2")) base.resize(base.size() - 5);
        if (base.empty()) {
            std::fprintf(stderr, "vantrove-cli create: no base name for the recovery files\n");
            return kError;
        }
        const std::string folder = ResolvedFolder(FolderOfPath(output));
        if (folder.empty()) {
            std::fprintf(stderr, "vantrove-cli create: no such folder for %s\n",
                         TerminalName(output).c_str());
            return kError;
        }
        parameters.baseName = base;
        parameters.destinationPath = folder;

        // Names are stored relative to the base folder, so that a tree
        // verifies and repairs in place.
        const std::string baseFolder =
            parsed.basePath.empty() ? folder : ResolvedFolder(parsed.basePath);
        if (baseFolder.empty()) {
            std::fprintf(stderr, "vantrove-cli create: no such base folder: %s\n",
                         TerminalName(parsed.basePath).c_str());
            return kError;
        }
        if (!StoreNamesBelow(baseFolder, base, files, error)) {
            std::fprintf(stderr, "vantrove-cli create: %s\n", TerminalName(error).c_str());
            return kError;
        }
        parameters.ClearFiles();
        parameters.AddFiles(files);
        parameters.baseName = base;
        parameters.destinationPath = folder;
    }
    ApplyCreateArguments(parsed, parameters);

    // One job at a time in the output folder; then nothing of another set
    // is replaced unless asked for.
    FolderLock lock;
    const std::string& named = !parsed.extend.empty()   ? parsed.extend
                               : !parsed.output.empty() ? parsed.output
                                                        : parameters.destinationPath;
    if (!LockSetFolder(lock, named, parameters.destinationPath, parsed.wait, stop)) {
        return kError;
    }
    if (parsed.extend.empty() && !parsed.force) {
        const std::vector<std::string> existing =
            ExistingRecoveryFiles(parameters.destinationPath, parameters.baseName);
        if (!existing.empty()) {
            std::fprintf(stderr,
                         "vantrove-cli create: %s already exists; choose another name or "
                         "give --force to replace the set\n",
                         TerminalName(parameters.destinationPath + existing.front()).c_str());
            return kError;
        }
    }

    CreationStatusSlot slot;
    CreationJob job(parameters, slot, *stop);
    const uint64_t startTick = CreationTickCount();
    bool ok = false;
    // The progress line is redrawn every 250 ms; the end of the job wakes the
    // loop at once instead of at the next redraw.
    std::mutex doneMutex;
    std::condition_variable doneSignal;
    bool jobDone = false;
    std::thread worker([&] {
        const bool result = job.run();
        std::lock_guard<std::mutex> lock(doneMutex);
        ok = result;
        jobDone = true;
        doneSignal.notify_one();
    });
    const bool terminal = isatty(STDERR_FILENO) != 0;
    CreationProgress progress(startTick);
    for (;;) {
        CreationStatus st = slot.Snapshot();
        if (st.phase == kPhaseFailed || st.phase == kPhaseFinished) break;
        std::string line = progress.Line(st);
        if (terminal && st.phase != kPhaseNone) DrawBar(line, st);
        std::unique_lock<std::mutex> lock(doneMutex);
        if (doneSignal.wait_for(lock, std::chrono::milliseconds(250), [&] { return jobDone; }))
            break;
    }
    worker.join();
    job.finish(!ok);
    if (terminal) std::fprintf(stderr, "\r\033[K");
    const CreationStatus st = slot.Snapshot();
    if (!ok) {
        if (stop->load() != 0) {
            std::fprintf(stderr, "vantrove-cli create: stopped: nothing was written\n");
            return kStopped;
        }
        std::string message = EnglishCreationFailure(st.failureCode);
        if (!st.fileName.empty()) message += ": " + TerminalName(st.fileName);
        std::fprintf(stderr, "%s\n", message.c_str());
        return kError;
    }
    // The job's time from start to end, in whole seconds rounded up, and its
    // speed: the source data over that time.
    const uint64_t elapsedMs = st.tick > startTick ? st.tick - startTick : 0;
    const std::string done = "Created successfully in " + Duration((elapsedMs + 999) / 1000) +
                             " @ " + Speed(JobSpeed(parameters.totalDataSize, elapsedMs));
    std::printf("%s\n", done.c_str());
    for (const std::string& path : job.outputPaths())
        std::printf("%s\n", TerminalName(path).c_str());
    return 0;
}

}  // namespace vantrove::cli
