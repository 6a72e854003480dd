#include "cli/par2_command.h"

#include <dirent.h>
#include <fnmatch.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <map>
#include <memory>
#include <new>
#include <set>
#include <thread>

#include "app/application.h"
#include "app/creation_settings.h"
#include "app/settings.h"
#include "cli/cli_observer.h"
#include "cli/create_command.h"
#include "cli/english_texts.h"
#include "cli/par2_volumes.h"
#include "cli/set_report.h"
#include "cli/terminal_name.h"
#include "core/disk_file.h"
#include "core/machine.h"
#include "core/path.h"
#include "create/creation_job.h"
#include "create/creation_status.h"
#include "create/source_files.h"
#include "par2/main_packet.h"
#include "par2/par2_recovery_set.h"
#include "par2/volume_name.h"

namespace vantrove::cli {
namespace {

// The most source blocks, and recovery blocks, a PAR 2.0 set holds.
constexpr uint64_t kMaxPar2Blocks = 32768;

// "5" or "12.5" in hundredths of a percent.
bool ParsePercentValue(const std::string& text, uint32_t& hundredths) {
    const size_t dot = text.find('.');
    uint64_t whole = 0, fraction = 0;
    if (!ParseNumber(text.substr(0, dot), whole)) return false;
    if (dot != std::string::npos) {
        std::string digits = (text.substr(dot + 1) + "00").substr(0, 2);
        if (!ParseNumber(digits, fraction)) return false;
    }
    hundredths = static_cast<uint32_t>(std::min<uint64_t>(whole, 1000000) * 100 + fraction);
    return true;
}

void PrintHelp() {
    std::printf(
        "Usage:\n"
        "  par2 -h  : show this help\n"
        "  par2 -V  : show version\n"
        "  par2 -VV : show version and copyright\n"
        "\n"
        "  par2 c(reate) [options] <PAR2 file> [files] : Create PAR2 files\n"
        "  par2 v(erify) [options] <PAR2 file> [files] : Verify files using PAR2 file\n"
        "  par2 r(epair) [options] <PAR2 file> [files] : Repair files using PAR2 files\n"
        "\n"
        "You may also leave out the \"c\", \"v\", and \"r\" commands by using \"par2create\",\n"
        "\"par2verify\", or \"par2repair\" instead.\n"
        "\n"
        "Options: (all uses)\n"
        "  -B<path> : Set the basepath to use as reference for the datafiles\n"
        "  -v [-v]  : Be more verbose\n"
        "  -q [-q]  : Be more quiet (-q -q gives silence)\n"
        "  -m<n>    : Memory (in MB) to use\n"
        "  -t<n>    : Number of threads used for main processing\n"
        "  -T<n>    : Number of files hashed in parallel (accepted)\n"
        "  --       : Treat all following arguments as filenames\n"
        "Options: (verify or repair)\n"
        "  -p       : Purge backup files and par files on successful recovery or\n"
        "             when no recovery is needed\n"
        "  -N       : Data skipping (blocks are always searched at any position)\n"
        "  -S<n>    : Skip leaway (accepted)\n"
        "Options: (create)\n"
        "  -a<file> : Set the main PAR2 archive name\n"
        "  -b<n>    : Set the Block-Count\n"
        "  -s<n>    : Set the Block-Size (don't use both -b and -s)\n"
        "  -r<n>    : Level of redundancy (%%)\n"
        "  -r<c><n> : Redundancy target size, <c>=g(iga),m(ega),k(ilo) bytes\n"
        "  -c<n>    : Recovery Block-Count (don't use both -r and -c)\n"
        "  -f<n>    : First Recovery-Block-Number\n"
        "  -u       : Uniform recovery file sizes\n"
        "  -l       : Limit size of recovery files (don't use both -u and -l)\n"
        "  -n<n>    : Number of recovery files (don't use both -n and -l)\n"
        "  -R       : Recurse into subdirectories\n"
        "  @<file>  : Take source file names from <file>, one a line (@ alone:\n"
        "             from standard input)\n"
        "Options: (verify or repair)\n"
        "  -a<file> : Set the PAR2 file (every other name is a file to search)\n"
        "\n"
        "Example:\n"
        "   par2 repair *.par2\n");
}

void PrintVersion(int level) {
    std::printf("vantrove-cli version %s (par2 command line)\n", VANTROVE_VERSION);
    if (level > 1) std::printf("Part of Vantrove, a PAR 2.0 recovery volume tool.\n");
}

// Prints at `level` or louder: 0 the lines tools read, 1 the usual detail.
struct Printer {
    int verbosity = 0;
    bool At(int level) const { return verbosity >= level - 1 && verbosity > -2; }
};

}  // namespace

Par2Operation Par2OperationOfProgram(const std::string& programName) {
    const std::string name = FileNameOfPath(programName);
    if (name == "par2create") return Par2Operation::Create;
    if (name == "par2verify") return Par2Operation::Verify;
    if (name == "par2repair") return Par2Operation::Repair;
    return Par2Operation::None;
}

bool IsPar2ProgramName(const std::string& programName) {
    return FileNameOfPath(programName) == "par2" ||
           Par2OperationOfProgram(programName) != Par2Operation::None;
}

bool ParsePar2Arguments(Par2Operation implied, const std::vector<std::string>& args,
                        Par2Arguments& parsed, std::string& error) {
    size_t i = 0;
    parsed.operation = implied;
    if (implied == Par2Operation::None) {
        if (args.empty()) {
            error = "Not enough command line arguments.";
            return false;
        }
        const std::string& word = args[0];
        if (word == "-h" || word == "--help") {
            parsed.help = true;
            return true;
        }
        if (word == "-V" || word == "-VV") {
            parsed.version = static_cast<int>(word.size()) - 1;
            return true;
        }
        if (word == "c" || word == "create") {
            parsed.operation = Par2Operation::Create;
        } else if (word == "v" || word == "verify") {
            parsed.operation = Par2Operation::Verify;
        } else if (word == "r" || word == "repair") {
            parsed.operation = Par2Operation::Repair;
        } else {
            error = "Invalid command specified: " + word;
            return false;
        }
        i = 1;
    }
    const bool create = parsed.operation == Par2Operation::Create;
    bool onlyFiles = false;
    int quiet = 0, verbose = 0;
    std::vector<std::string> names;
    for (; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (onlyFiles || arg.size() < 2 || arg[0] != '-') {
            names.push_back(arg);
            continue;
        }
        if (arg == "--") {
            onlyFiles = true;
            continue;
        }
        const auto invalid = [&] {
            error = "Invalid option specified: " + arg;
            return false;
        };
        for (size_t k = 1; k < arg.size(); ++k) {
            const char letter = arg[k];
            const std::string rest = arg.substr(k + 1);
            uint64_t number = 0;
            // Options with a value take the rest of the word.
            const auto numeric = [&](uint64_t& out, bool& flag) {
                if (!ParseNumber(rest, number)) return invalid();
                out = number;
                flag = true;
                return true;
            };
            bool ignored = false;
            switch (letter) {
                case 'q': ++quiet; continue;
                case 'v': ++verbose; continue;
                case 'u': if (!create) return invalid(); parsed.uniform = true; continue;
                case 'l': if (!create) return invalid(); parsed.limited = true; continue;
                case 'R': if (!create) return invalid(); parsed.recurse = true; continue;
                case 'p': if (create) return invalid(); parsed.purge = true; continue;
                case 'N': if (create) return invalid(); parsed.dataSkip = true; continue;
                case 'h': parsed.help = true; continue;
                case 'V': ++parsed.version; continue;
                case 'a':
                case 'B': {
                    // A path: attached, or the next word.
                    std::string value = rest;
                    if (value.empty()) {
                        if (i + 1 >= args.size()) return invalid();
                        value = args[++i];
                    }
                    if (letter == 'a') {
                        parsed.archiveName = value;
                    } else {
                        parsed.basePath = value;
                    }
                    k = arg.size();
                    continue;
                }
                case 'b':
                    if (!create || !numeric(parsed.blockCount, parsed.hasBlockCount)) return invalid();
                    break;
                case 's':
                    if (!create || !numeric(parsed.blockSize, parsed.hasBlockSize)) return invalid();
                    break;
                case 'c':
                    if (!create || !numeric(parsed.recoveryCount, parsed.hasRecoveryCount))
                        return invalid();
                    break;
                case 'f':
                    if (!create || !numeric(parsed.first, parsed.hasFirst)) return invalid();
                    break;
                case 'n': {
                    uint64_t n = 0;
                    if (!create || !numeric(n, parsed.hasFileCount) || n == 0) return invalid();
                    parsed.fileCount = static_cast<uint32_t>(std::min<uint64_t>(n, 65535));
                    break;
                }
                case 'r': {
                    if (!create || rest.empty()) return invalid();
                    const char unit = static_cast<char>(std::tolower(rest[0]));
                    if (unit == 'k' || unit == 'm' || unit == 'g') {
                        if (!ParseNumber(rest.substr(1), number) || number == 0) return invalid();
                        const int shift = unit == 'k' ? 10 : unit == 'm' ? 20 : 30;
                        parsed.redundancySize = number << shift;
                        parsed.hasRedundancySize = true;
                    } else {
                        if (!ParsePercentValue(rest, parsed.redundancy)) return invalid();
                        parsed.hasRedundancy = true;
                    }
                    break;
                }
                case 'm': ignored = true; if (!numeric(parsed.memoryMb, ignored)) return false; break;
                case 't':
                case 'T':
                    // At least one thread; the classic tool names the option it refuses.
                    if (!ParseNumber(rest, number) || number == 0) {
                        error = std::string(letter == 't' ? "Invalid thread option: "
                                                          : "Invalid file-thread option: ") +
                                arg;
                        return false;
                    }
                    (letter == 't' ? parsed.threads : parsed.fileThreads) = number;
                    break;
                case 'S':
                    if (create) return invalid();
                    ignored = true;
                    if (!numeric(parsed.skipLeeway, ignored)) return false;
                    break;
                default:
                    return invalid();
            }
            // A value option used the rest of the word.
            k = arg.size();
        }
    }
    if (parsed.help || parsed.version > 0) return true;
    parsed.verbosity = verbose - quiet;
    if (quiet > 0 && verbose > 0) parsed.verbosity = -quiet;

    if (create) {
        if (parsed.hasBlockCount && parsed.hasBlockSize) {
            error = "Cannot specify both block count and block size.";
            return false;
        }
        if ((parsed.hasRedundancy || parsed.hasRedundancySize) && parsed.hasRecoveryCount) {
            error = "Cannot specify both redundancy and recovery block count.";
            return false;
        }
        if (parsed.uniform && parsed.limited) {
            error = "Cannot specify uniform and limited recovery file sizes.";
            return false;
        }
        if (parsed.limited && parsed.hasFileCount) {
            error = "Cannot specify limited size and number of files at the same time.";
            return false;
        }
        if (parsed.hasBlockSize && (parsed.blockSize == 0 || parsed.blockSize % 4 != 0)) {
            error = "Block size must be a multiple of 4.";
            return false;
        }
        if (parsed.hasBlockCount &&
            (parsed.blockCount == 0 || parsed.blockCount > kMaxPar2Blocks)) {
            error = "Invalid block count option: -b" + std::to_string(parsed.blockCount);
            return false;
        }
        if (parsed.hasRecoveryCount && parsed.recoveryCount > kMaxPar2Blocks) {
            error = "Invalid recovery block count.";
            return false;
        }
    }
    // With -a the set's name is given; every word is a file (a source, or
    // on verify and repair a further file to search).
    if (!parsed.archiveName.empty()) {
        parsed.par2File = parsed.archiveName;
        parsed.files = std::move(names);
    } else {
        if (names.empty()) {
            error = "You must specify a PAR2 file.";
            return false;
        }
        parsed.par2File = names.front();
        parsed.files.assign(names.begin() + 1, names.end());
        // One name alone on create is the file to protect, and the set is
        // named after it.
        if (create && names.size() == 1 && names[0][0] != '@') parsed.files = names;
    }
    if (create && parsed.files.empty()) {
        error = "You must specify a list of files when creating.";
        return false;
    }
    return true;
}

namespace {

// ---- the file arguments

bool HasWildcard(const std::string& name) {
    return name.find_first_of("*?") != std::string::npos;
}

// The names of a list read from `in`: one a line, a carriage return before
// the line's end dropped, empty lines passed over.
void AddListedNames(std::FILE* in, std::vector<std::string>& out) {
    std::string line;
    int c = 0;
    const auto flush = [&] {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) out.push_back(line);
        line.clear();
    };
    while ((c = std::fgetc(in)) != EOF) {
        if (c == '\n') {
            flush();
        } else {
            line.push_back(static_cast<char>(c));
        }
    }
    flush();
}

}  // namespace

bool ExpandPar2FileArguments(bool create, const std::vector<std::string>& given,
                             std::vector<std::string>& out, std::string& error) {
    for (const std::string& name : given) {
        // On create, "@LIST" reads names from a file and "@" from standard input.
        if (create && !name.empty() && name[0] == '@') {
            std::vector<std::string> listed;
            if (name.size() == 1) {
                AddListedNames(stdin, listed);
            } else {
                std::FILE* list = std::fopen(name.c_str() + 1, "rb");
                if (list == nullptr) {
                    error = "Could not open the list of files \"" + name.substr(1) + "\".";
                    return false;
                }
                AddListedNames(list, listed);
                std::fclose(list);
            }
            out.insert(out.end(), listed.begin(), listed.end());
            continue;
        }
        // "*" and "?" in the name part are matched against the names in its
        // folder as a shell matches them (a leading '.' only by a '.'), for
        // callers that run no shell; a file that bears the very name is
        // taken as it is.
        const std::string pattern = FileNameOfPath(name);
        struct stat st {};
        if (!HasWildcard(pattern) || lstat(name.c_str(), &st) == 0) {
            out.push_back(name);
            continue;
        }
        const std::string folder = FolderOfPath(name);
        std::vector<std::string> entries;
        if (!ListFolder(folder.empty() ? std::string(".") : folder, entries)) continue;
        for (const std::string& entry : entries)
            if (fnmatch(pattern.c_str(), entry.c_str(), FNM_PERIOD) == 0) out.push_back(folder + entry);
    }
    return true;
}

namespace {

// ---- verify and repair

// Progress in the classic form on stdout, "Scanning: 12.5%" ended by a
// carriage return, at most once a tenth of a percent.
class Par2ProgressObserver : public CliObserver {
  public:
    explicit Par2ProgressObserver(bool show) : CliObserver(false), show_(show) {}

    void ReportSourceFileLine(SourceRowKind rowKind, FormatKind formatKind, const std::string& name,
                              uint64_t size, uint32_t blockCount,
                              const std::vector<SourcePlace>& places) override {
        CliObserver::ReportSourceFileLine(rowKind, formatKind, name, size, blockCount, places);
        for (const SourcePlace& place : places) {
            uint32_t& most = mostFound_[{name, place.path}];
            most = std::max(most, place.blockCount);
        }
    }

    // A set found again in the saved state is read anew from its volumes,
    // after the first volume was read for the set that was replaced: what
    // a volume added is the most any of its readings added.
    void ReportVolumeFile(const SetFile& file) override {
        CliObserver::ReportVolumeFile(file);
        const auto [known, added] = packetsAdded_.try_emplace(file.path, 0);
        if (added) readOrder_.push_back(file.path);
        known->second = std::max(known->second, file.packetsAdded);
    }

    const std::map<std::pair<std::string, std::string>, uint32_t>& mostFound() const {
        return mostFound_;
    }

    // The volumes in the order they were first reported.
    const std::vector<std::string>& readOrder() const { return readOrder_; }
    uint32_t PacketsAddedBy(const std::string& path) const {
        const auto found = packetsAdded_.find(path);
        return found == packetsAdded_.end() ? 0 : found->second;
    }

    // The most blocks of `name` ever seen in the file at `path`: a file's
    // blocks move to an intact copy found later, but its own line still
    // tells what it holds.
    uint32_t MostFoundIn(const std::string& name, const std::string& path) const {
        const auto found = mostFound_.find({name, path});
        return found == mostFound_.end() ? 0 : found->second;
    }

    void StatusChanged(const RecoverySetStatus& status) override {
        CliObserver::StatusChanged(status);
        if (!show_ || status.progressTotal == 0) return;
        const char* word = WordOf(status.activity);
        if (word == nullptr) return;
        const uint64_t permille = std::min<uint64_t>(
            status.progressPosition * 1000 / status.progressTotal, 1000);
        if (word == lastWord_ && permille == lastPermille_) return;
        lastWord_ = word;
        lastPermille_ = permille;
        std::printf("%s: %llu.%llu%%\r", word, static_cast<unsigned long long>(permille / 10),
                    static_cast<unsigned long long>(permille % 10));
        std::fflush(stdout);
    }

  private:
    static const char* WordOf(Activity activity) {
        switch (activity) {
            case Activity::LoadingVolume: return "Loading";
            case Activity::VerifyingDataFile:
            case Activity::ScanningFile:
            case Activity::CheckingFile:
            case Activity::SearchingNewFiles:
            case Activity::Reverifying: return "Scanning";
            case Activity::ComputingMatrix: return "Solving";
            case Activity::Recovering:
            case Activity::Writing: return "Repairing";
            default: return nullptr;
        }
    }

    bool show_;
    std::map<std::pair<std::string, std::string>, uint32_t> mostFound_;
    std::map<std::string, uint32_t> packetsAdded_;
    std::vector<std::string> readOrder_;
    const char* lastWord_ = nullptr;
    uint64_t lastPermille_ = 0;
};

// The folder -B names, into `folder` (left as it is without -B); false,
// with the message printed, when it does not exist.
bool ResolveBasePath(const std::string& given, std::string& folder) {
    if (given.empty()) return true;
    folder = ResolvedFolder(given);
    if (!folder.empty()) return true;
    std::fprintf(stderr, "Base path \"%s\" does not exist.\n", TerminalName(given).c_str());
    return false;
}

// The file a verify or repair is to open: a name not ending in ".par2"
// whose "<name>.par2" exists stands for that file (the set's base name, or
// the data file a set was named after); any other name as given.
std::string ResolveSetFile(const std::string& given) {
    struct stat st {};
    if (!EndsWithNoCase(given, ".par2") && stat((given + ".par2").c_str(), &st) == 0 &&
        S_ISREG(st.st_mode))
        return given + ".par2";
    return given;
}

// The recovery files of set `setName` in `folder`, `first` leading.
std::vector<std::string> SetVolumesIn(const std::string& folder, const std::string& setName,
                                      const std::string& first) {
    std::vector<std::string> volumes{first};
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return volumes;
    std::vector<std::string> names;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (EqualNoCase(Par2VolumeSetName(name), setName)) names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        struct stat st {};
        const std::string volume = folder + name;
        if (volume != first && lstat(volume.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            volumes.push_back(volume);
    }
    return volumes;
}

bool Whole(RecoveryState state) {
    return state == RecoveryState::Repaired || state == RecoveryState::AllVerified;
}

// Only a repair that makes the set whole is possible here: where the blocks
// are too few, the classic tool renames nothing either, and says so.
bool Repairable(RecoveryState state) { return state == RecoveryState::RepairPossible; }

// The set's files in the order the classic tool lists them: by name,
// byte by byte.
std::vector<const SourceFileEntry*> InNameOrder(const RecoverySet& set) {
    std::vector<const SourceFileEntry*> entries;
    for (const SourceFileEntryRef& entry : set.entries()) entries.push_back(entry.get());
    std::stable_sort(entries.begin(), entries.end(),
                     [](const SourceFileEntry* a, const SourceFileEntry* b) {
                         return a->name < b->name;
                     });
    return entries;
}

// The recovery files in the order they were read, each with the packets it
// added. A set named without a folder is met a second time by the search of
// its folder, which finds nothing new in it: the classic tool lists it again.
void PrintLoading(const RecoverySet& set, const Par2ProgressObserver& observer,
                  const std::string& named, bool namedAgain, const Printer& out) {
    if (!out.At(0)) return;
    const bool packets = set.formatKind() == FormatKind::Par2 && out.At(1);
    const SetFile* again = nullptr;
    auto print = [&](const SetFile& file, bool repeated) {
        std::printf("Loading \"%s\".\n", TerminalName(FileNameOfPath(file.path)).c_str());
        if (!packets) return;
        const uint32_t added = repeated ? 0 : observer.PacketsAddedBy(file.path);
        if (added == 0) {
            std::printf("No new packets found\n");
        } else if (file.blocksTaken == 0) {
            std::printf("Loaded %u new packets\n", added);
        } else {
            std::printf("Loaded %u new packets including %u recovery blocks\n", added,
                        std::min(file.blocksTaken, added));
        }
    };
    for (const std::string& path : observer.readOrder()) {
        const SetFileRef file = set.FindKnownFile(path);
        if (!file || file->kind != FileKind::Volume || file->result == VerifyResult::Missing)
            continue;
        print(*file, false);
        if (namedAgain && file->path == named) again = file.get();
    }
    if (again != nullptr) print(*again, true);
}

// The lines before the files: what the set describes.
void PrintSetFigures(const RecoverySet& set, const Printer& out) {
    if (!out.At(1)) return;
    const RecoverySetStatus& s = set.status();
    // Files the set describes without recovery data; the engine leaves them be.
    size_t others = 0;
    if (const auto* par2 = set.FormatAs<Par2RecoverySet>()) {
        if (const PacketGroup* group = par2->chosenGroup(); group && group->main)
            others = group->main->otherFileIds().size();
    }
    std::printf("\nThere are %d recoverable files and %zu other files.\n", s.sourceFileCount,
                others);
    std::printf("The block size used was %llu bytes.\n",
                static_cast<unsigned long long>(s.blockSize));
    std::printf("There are a total of %lld data blocks.\n",
                static_cast<long long>(s.totalDataBlocks));
    std::printf("The total size of the data files is %llu bytes.\n",
                static_cast<unsigned long long>(s.totalSourceSize));
    std::printf("\nVerifying source files:\n\n");
}

// What is at each expected name.
void PrintTargets(const RecoverySet& set, const Par2ProgressObserver& observer,
                  const Printer& out) {
    if (!out.At(0)) return;
    for (const SourceFileEntry* entry : InNameOrder(set)) {
        const SourceRowKind row = RowOf(*entry);
        const SetFile* target = entry->targetFile.get();
        const bool present = target && target->result != VerifyResult::Missing;
        const std::string name = TerminalName(entry->name);
        if (present && out.At(1)) std::printf("Opening: \"%s\"\n", name.c_str());
        if (row == SourceRowKind::Complete || row == SourceRowKind::Repaired) {
            std::printf("Target: \"%s\" - found.\n", name.c_str());
            continue;
        }
        if (present) {
            // The blocks the file itself holds, wherever else copies of
            // them were found.
            uint32_t here = observer.MostFoundIn(entry->name, target->path);
            for (const FoundPlace& place : entry->foundIn)
                if (place.file.get() == target) here = std::max(here, place.blocks);
            std::printf("Target: \"%s\" - damaged. Found %u of %u data blocks.\n", name.c_str(),
                        here, entry->blockCount);
            if (target->readError != 0)
                std::printf("\"%s\": some blocks could not be read (%s)\n", name.c_str(),
                            SystemErrorText(target->readError).c_str());
        } else {
            std::printf("Target: \"%s\" - missing.\n", name.c_str());
        }
    }
}

// What the files hold of the set's files that are not whole, by path: the
// entries they are an intact copy of, and the blocks they hold of each.
struct HeldData {
    std::map<std::string, const SourceFileEntry*> copyOf;
    std::map<std::string, std::map<const SourceFileEntry*, uint32_t>> blocks;

    HeldData(const RecoverySet& set, const Par2ProgressObserver& observer) {
        std::map<std::string, const SourceFileEntry*> open;
        for (const SourceFileEntry* entry : InNameOrder(set)) {
            const SourceRowKind row = RowOf(*entry);
            if (row == SourceRowKind::Complete || row == SourceRowKind::Repaired) continue;
            open.emplace(entry->name, entry);
            if (row == SourceRowKind::Misnamed && entry->completeCopy)
                copyOf.emplace(entry->completeCopy->path, entry);
            for (const FoundPlace& place : entry->foundIn) {
                uint32_t& most = blocks[place.file->path][entry];
                most = std::max(most, place.blocks);
            }
        }
        for (const auto& [key, count] : observer.mostFound()) {
            const auto entry = open.find(key.first);
            if (entry == open.end() || count == 0) continue;
            uint32_t& most = blocks[key.second][entry->second];
            most = std::max(most, count);
        }
    }

    // The line of the file at `path`: an intact copy of one file, the
    // blocks it holds of one or of several, or nothing.
    std::string TextOf(const std::string& path) const {
        if (const auto copy = copyOf.find(path); copy != copyOf.end())
            return "is a match for \"" + TerminalName(copy->second->name) + "\".";
        const auto held = blocks.find(path);
        uint32_t total = 0;
        if (held != blocks.end())
            for (const auto& [entry, count] : held->second) total += count;
        if (total == 0) return "no data found.";
        if (held->second.size() > 1)
            return "found " + std::to_string(total) + " data blocks from several target files.";
        const SourceFileEntry* entry = held->second.begin()->first;
        return "found " + std::to_string(total) + " of " + std::to_string(entry->blockCount) +
               " data blocks from \"" + TerminalName(entry->name) + "\".";
    }
};

// The files searched beyond the expected names, while some file is not
// whole: those named on the command line in their order, then the others in
// which blocks were found, by path.
void PrintExtraFiles(const RecoverySet& set, const Par2ProgressObserver& observer,
                     const std::vector<std::string>& named, const Printer& out) {
    if (!out.At(0) || Whole(set.status().state)) return;
    if (out.At(1)) std::printf("\nScanning extra files:\n\n");
    const HeldData held(set, observer);
    const std::string& folder = set.folder();
    auto print = [&](const std::string& path) {
        const std::string shown = TerminalName(
            path.compare(0, folder.size(), folder) == 0 ? path.substr(folder.size()) : path);
        if (out.At(1)) std::printf("Opening: \"%s\"\n", shown.c_str());
        std::printf("File: \"%s\" - %s\n", shown.c_str(), held.TextOf(path).c_str());
    };
    std::set<std::string> done;
    for (const std::string& given : named) {
        struct stat st {};
        if (stat(given.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        // The record under the path as given, or under its folder resolved.
        std::string path = AbsolutePath(given);
        SetFileRef file = set.FindKnownFile(path);
        if (!file) {
            const std::string resolved = ResolvedFolder(FolderOfPath(path));
            if (!resolved.empty() && set.FindKnownFile(resolved + FileNameOfPath(path))) {
                path = resolved + FileNameOfPath(path);
                file = set.FindKnownFile(path);
            }
        }
        // The set's own files are no extra files.
        if (file && (file->kind == FileKind::Volume || file->kind == FileKind::Target)) continue;
        if (done.insert(path).second) print(path);
    }
    // Files nobody named in which the search of the folder found data: a
    // target holding another file only when it is a whole copy of it.
    std::set<std::string> found;
    for (const auto& [path, entry] : held.copyOf) found.insert(path);
    for (const auto& [path, entries] : held.blocks) found.insert(path);
    for (const std::string& path : found) {
        const SetFileRef file = set.FindKnownFile(path);
        if (!file || done.count(path) || file->result == VerifyResult::Missing ||
            file->kind == FileKind::Volume ||
            (file->kind == FileKind::Target && !held.copyOf.count(path)))
            continue;
        const std::string text = held.TextOf(path);
        if (text != "no data found.") print(path);
    }
}

// The summary lines; returns the verify exit code.
int PrintSummary(const RecoverySet& set, const Printer& out) {
    const RecoverySetStatus& s = set.status();
    const int64_t total = s.totalDataBlocks;
    const int64_t data = static_cast<uint32_t>(s.dataBlocksAvailable);
    const int64_t recovery = static_cast<uint32_t>(s.recoveryBlocksAvailable);
    if (out.At(0)) std::printf("\n");
    if (Whole(s.state)) {
        if (out.At(0)) std::printf("All files are correct, repair is not required.\n");
        return kPar2Success;
    }
    if (out.At(0)) std::printf("Repair is required.\n");
    if (out.At(1)) {
        int misnamed = 0, missing = 0, damaged = 0, ok = 0;
        for (const SourceFileEntryRef& entry : set.entries()) {
            const SourceRowKind row = RowOf(*entry);
            const SetFile* target = entry->targetFile.get();
            const bool present = target && target->result != VerifyResult::Missing;
            if (row == SourceRowKind::Complete || row == SourceRowKind::Repaired) {
                ++ok;
            } else if (row == SourceRowKind::Misnamed) {
                ++misnamed;
            } else if (present) {
                ++damaged;
            } else {
                ++missing;
            }
        }
        if (misnamed > 0) std::printf("%d file(s) have the wrong name.\n", misnamed);
        if (missing > 0) std::printf("%d file(s) are missing.\n", missing);
        if (damaged > 0) std::printf("%d file(s) exist but are damaged.\n", damaged);
        if (ok > 0) std::printf("%d file(s) are ok.\n", ok);
        std::printf("You have %lld out of %lld data blocks available.\n",
                    static_cast<long long>(data), static_cast<long long>(total));
        std::printf("You have %lld recovery blocks available.\n",
                    static_cast<long long>(recovery));
    }
    if (Repairable(s.state)) {
        if (out.At(0)) std::printf("Repair is possible.\n");
        if (out.At(1)) {
            const int64_t needed = std::max<int64_t>(total - data, 0);
            if (recovery > needed)
                std::printf("You have an excess of %lld recovery blocks.\n",
                            static_cast<long long>(recovery - needed));
            if (needed > 0) {
                std::printf("%lld recovery blocks will be used to repair.\n",
                            static_cast<long long>(needed));
            } else {
                std::printf("None of the recovery blocks will be used for the repair.\n");
            }
        }
        return kPar2RepairPossible;
    }
    if (out.At(0)) {
        std::printf("Repair is not possible.\n");
        const int64_t need = total - data - recovery;
        if (need > 0)
            std::printf("You need %lld more recovery blocks to be able to repair.\n",
                        static_cast<long long>(need));
    }
    return kPar2RepairNotPossible;
}

void PurgeVolumes(const RecoverySet& set) {
    std::vector<std::string> paths;
    for (const auto& [path, file] : set.knownFiles())
        if (file->kind == FileKind::Volume) paths.push_back(file->path);
    for (const std::string& path : paths) ::unlink(path.c_str());
}

int RunVerifyOrRepair(const Par2Arguments& a, StopFlag* stop) {
    const bool repair = a.operation == Par2Operation::Repair;
    Printer out{a.verbosity};
    const std::string given = ResolveSetFile(a.par2File);
    const std::string path = AbsolutePath(given);
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        std::fprintf(stderr, "The recovery file does not exist: %s\n", TerminalName(given).c_str());
        return kPar2InvalidArguments;
    }
    if (!CheckSetFile(given, path)) return kPar2InvalidArguments;
    // Files are looked for where the set's names say, below the base folder:
    // the recovery file's own folder, or the one -B names.
    std::string own = ResolvedFolder(FolderOfPath(path));
    if (own.empty()) own = FolderOfPath(path);
    std::string base = own;
    if (!ResolveBasePath(a.basePath, base)) return kPar2InvalidArguments;
    const std::string setName = Par2VolumeSetName(FileNameOfPath(path));
    const bool elsewhere = base != own;
    if (elsewhere && setName.empty()) {
        std::fprintf(stderr,
                     "-B names another folder than the one of \"%s\"; only PAR2 sets can be "
                     "verified against another folder.\n",
                     TerminalName(given).c_str());
        return kPar2InvalidArguments;
    }
    // With another base folder the set is anchored there, so that its files
    // are looked for, scanned and written below that folder only; its
    // recovery files are then added from where they lie. The anchor names no
    // file, so that recovery files of another set of the same name lying in
    // the base folder are not taken for this one.
    const std::string anchor = elsewhere ? base + "." + setName + ".vantrove-base.par2" : path;

    Par2ProgressObserver observer(out.At(1));
    SetSession session(&observer, stop);
    if (repair && !LockTaken(session.LockFolderOf(anchor, true), session.lockError(), given))
        return kPar2FileIoError;

    if (!session.Open(anchor, ScanMode::ReadEverything)) return kPar2InvalidArguments;
    if (elsewhere) {
        for (const std::string& volume : SetVolumesIn(own, setName, path))
            session.Open(volume, ScanMode::ReadEverything);
    }
    session.FinishActivity();
    RecoverySet* set = session.set();
    // Files named after the PAR2 file are searched too, wherever they lie.
    std::vector<std::string> scannedExtras;
    for (const std::string& extra : a.files) {
        struct stat es {};
        if (stat(extra.c_str(), &es) != 0 || !S_ISREG(es.st_mode)) continue;
        scannedExtras.push_back(AbsolutePath(extra));
        set->ScanFile(nullptr, scannedExtras.back(), false);
    }
    if (!a.files.empty()) session.FinishActivity();
    if (stop && stop->load() != 0) {
        std::fflush(stdout);
        std::fprintf(stderr, "Stopped.\n");
        return kPar2InternalError;
    }

    const RecoverySetStatus& s = set->status();
    // The name given without a folder: the classic tool reads that file twice.
    PrintLoading(*set, observer, path, a.par2File.find('/') == std::string::npos && !elsewhere,
                 out);
    if (s.state == RecoveryState::NothingLoaded ||
        (s.state == RecoveryState::NeedMoreVolumes && s.totalDataBlocks == 0)) {
        if (out.At(1)) std::printf("\n");
        std::fflush(stdout);
        std::fprintf(stderr, "Main packet not found.\n");
        return kPar2InsufficientCriticalData;
    }
    if (s.state == RecoveryState::NeedMoreVolumes) {
        std::fflush(stdout);
        std::fprintf(stderr, "Repair is not possible: the set's files are not all described.\n");
        return kPar2InsufficientCriticalData;
    }
    PrintSetFigures(*set, out);
    PrintTargets(*set, observer, out);
    PrintExtraFiles(*set, observer, a.files, out);
    const int verified = PrintSummary(*set, out);
    if (!repair) {
        // The work files of a job working there now are no damage.
        if (s.otherJobWorking && out.At(0))
            std::printf("\nAnother repair or creation is working in this folder now.\n");
        std::fflush(stdout);
        return verified;
    }
    if (verified == kPar2Success) {
        if (a.purge) PurgeVolumes(*set);
        std::fflush(stdout);
        return kPar2Success;
    }
    if (verified != kPar2RepairPossible) {
        std::fflush(stdout);
        return kPar2RepairNotPossible;
    }
    // This form keeps to its own switches, not to the settings.
    RepairOptions options = RepairOptionsForMachine();
    options.deleteDamagedFiles = a.purge;
    options.deleteRecoveryFiles = a.purge;
    options.useRecycleBin = false;
    // Only the set's files and those given here are ever renamed or
    // removed; the data of any other file that holds a whole copy is copied.
    options.moveOnlyNamedFiles = true;
    options.namedFiles = scannedExtras;
    const int64_t needed = static_cast<int64_t>(s.totalDataBlocks) - s.dataBlocksAvailable;
    // The files the repair is to write: neither whole nor only misnamed.
    std::set<std::string> toWrite;
    for (const SourceFileEntry* entry : InNameOrder(*set)) {
        const SourceRowKind row = RowOf(*entry);
        if (row == SourceRowKind::Damaged || row == SourceRowKind::Missing ||
            row == SourceRowKind::NotVerified)
            toWrite.insert(entry->name);
    }
    session.Repair(options);
    session.FinishActivity();
    session.Save();
    const RecoverySetStatus& after = set->status();
    if (out.At(0)) std::printf("\n");
    if (out.At(1) && needed > 0)
        std::printf("Computing Reed Solomon matrix.\nConstructing: done.\nSolving: done.\n");
    // The files written anew; a file that was only renamed is none.
    std::vector<const SourceFileEntry*> rebuilt;
    uint64_t written = 0;
    for (const SourceFileEntry* entry : InNameOrder(*set)) {
        if (RowOf(*entry) != SourceRowKind::Repaired || !toWrite.count(entry->name)) continue;
        rebuilt.push_back(entry);
        written += entry->size;
    }
    if (!rebuilt.empty() && out.At(0)) {
        std::printf("\n");
        if (out.At(1))
            std::printf("Wrote %llu bytes to disk\n", static_cast<unsigned long long>(written));
        std::printf("\nVerifying repaired files:\n\n");
        for (const SourceFileEntry* entry : rebuilt) {
            const std::string name = TerminalName(entry->name);
            if (out.At(1)) std::printf("Opening: \"%s\"\n", name.c_str());
            std::printf("Target: \"%s\" - found.\n", name.c_str());
        }
    }
    if (after.errorKind == ErrorKind::None && Whole(after.state)) {
        // Recovery files apart from the base folder are the command's to purge.
        if (a.purge) PurgeVolumes(*set);
        if (out.At(0)) std::printf("\nRepair complete.\n");
        std::fflush(stdout);
        return kPar2Success;
    }
    if (out.At(0)) std::printf("\nRepair Failed.\n");
    std::fflush(stdout);
    const std::string reason =
        EnglishRepairError(after.errorKind, after.systemErrorCode, after.errorFile);
    if (!reason.empty()) std::fprintf(stderr, "%s\n", reason.c_str());
    // A stop keeps the classic code of an interrupted run.
    return after.errorKind == ErrorKind::Cancelled ? kPar2InternalError : kPar2RepairFailed;
}

// ---- create

// The set's recovery files of base name `base` already in `folder`.
bool AnyRecoveryFile(const std::string& folder, const std::string& base, std::string& found) {
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return false;
    bool any = false;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (EndsWithNoCase(name, ".par2") && name.size() > 5 &&
            Par2VolumeSetName(name) == base) {
            found = folder + name;
            any = true;
            break;
        }
    }
    closedir(dir);
    return any;
}

// Every regular file below `folder`, for -R. A link to a file is taken; a
// link to a folder is followed only when that folder lies below `baseFolder`
// (a resolved folder, with its '/'), and no folder is entered twice.
void AddTree(const std::string& folder, const std::string& baseFolder,
             std::set<std::string>& entered, std::vector<std::string>& out) {
    const std::string resolved = ResolvedFolder(folder);
    if (resolved.empty() || !entered.insert(resolved).second) return;
    std::vector<std::string> names;
    if (!ListFolder(folder, names)) return;
    for (const std::string& name : names) {
        const std::string path = folder + "/" + name;
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0) continue;
        const bool link = S_ISLNK(st.st_mode);
        if (link && stat(path.c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            if (link && ResolvedFolder(path).compare(0, baseFolder.size(), baseFolder) != 0)
                continue;
            AddTree(path, baseFolder, entered, out);
        } else if (S_ISREG(st.st_mode)) {
            out.push_back(path);
        }
    }
}

// The name the classic tool gives a volume: a lower-case extension and the
// exponent written with as many digits as first + count needs.
std::string ClassicVolumeName(const std::string& path, uint64_t lastExponent, uint32_t largest) {
    const std::string name = FileNameOfPath(path);
    const size_t vol = name.rfind(".vol");
    unsigned first = 0, count = 0;
    if (vol == std::string::npos ||
        std::sscanf(name.c_str() + vol, ".vol%u+%u", &first, &count) != 2) {
        return path;
    }
    const int exponentDigits = static_cast<int>(std::to_string(lastExponent).size());
    const int countDigits = static_cast<int>(std::to_string(largest).size());
    char tail[64];
    std::snprintf(tail, sizeof tail, ".vol%0*u+%0*u.par2", exponentDigits, first, countDigits,
                  count);
    return FolderOfPath(path) + name.substr(0, vol) + tail;
}

// Whether `name` is that of a recovery volume: "<base>.vol<first>+<count>.par2".
bool IsVolumeName(const std::string& name) {
    const size_t vol = name.rfind(".vol");
    unsigned first = 0, count = 0;
    int end = 0;
    return vol != std::string::npos &&
           std::sscanf(name.c_str() + vol, ".vol%u+%u%n", &first, &count, &end) == 2 &&
           EndsWithNoCase(name.substr(vol + static_cast<size_t>(end)), ".par2") &&
           name.size() == vol + static_cast<size_t>(end) + 5;
}

int RunCreate(const Par2Arguments& a, StopFlag* stop) {
    Printer out{a.verbosity};
    std::string output = a.par2File;
    if (!EndsWithNoCase(output, ".par2")) output += ".par2";
    const std::string name = FileNameOfPath(output);
    const std::string base = name.substr(0, name.size() - 5);
    const std::string folder = base.empty() ? std::string() : ResolvedFolder(FolderOfPath(output));
    if (folder.empty()) {
        std::fprintf(stderr, "Could not create \"%s\": No such folder.\n",
                     TerminalName(output).c_str());
        return kPar2FileIoError;
    }

    std::string baseFolder = folder;
    if (!ResolveBasePath(a.basePath, baseFolder)) return kPar2InvalidArguments;

    // Folders only with -R; without it they are passed over, as the classic tool does.
    std::set<std::string> entered;
    std::vector<std::string> named;
    for (const std::string& file : a.files) {
        struct stat st {};
        if (stat(file.c_str(), &st) != 0) {
            std::fprintf(stderr, "\"%s\" does not exist.\n", TerminalName(file).c_str());
            return kPar2InvalidArguments;
        }
        if (S_ISDIR(st.st_mode)) {
            if (a.recurse) AddTree(file, baseFolder, entered, named);
            continue;
        }
        named.push_back(file);
    }
    std::string error;
    std::vector<CreationSourceFile> files;
    if (!named.empty() && !GatherSources(named, files, error)) {
        std::fprintf(stderr, "%s\n", TerminalName(error).c_str());
        return kPar2InvalidArguments;
    }
    // A source outside the base folder cannot be named in the set: it is
    // left out, and the rest protected.
    std::vector<CreationSourceFile> inside;
    for (CreationSourceFile& file : files) {
        if (file.path.size() > baseFolder.size() &&
            file.path.compare(0, baseFolder.size(), baseFolder) == 0) {
            inside.push_back(std::move(file));
        } else if (out.At(0)) {
            std::printf("Ignoring out of basepath source file: %s\n",
                        TerminalName(file.path).c_str());
        }
    }
    files = std::move(inside);
    if (files.empty() || !StoreNamesBelow(baseFolder, base, files, error)) {
        std::fprintf(stderr, "%s\n",
                     files.empty() ? "You must specify a list of files when creating."
                                   : TerminalName(error).c_str());
        return kPar2InvalidArguments;
    }

    Settings settings;
    settings.Load();
    MachineFigures machine;
    machine.physicalMemoryBytes = PhysicalMemoryBytes();
    CreationParameters p(CreationSettingsFrom(settings), machine);
    p.AddFiles(files);
    p.baseName = base;
    p.destinationPath = folder;

    // Block size: as asked, else about 2000 blocks, a multiple of 4; source
    // files are never split.
    p.setSplit(false);
    p.setGranuleRestriction(false);
    if (a.hasBlockSize) {
        // A size that would cut the files into more blocks than a set holds
        // is refused, not raised.
        uint64_t blocks = 0;
        for (const CreationSourceFile& file : files)
            blocks += (file.size + a.blockSize - 1) / a.blockSize;
        if (blocks > kMaxPar2Blocks) {
            std::fprintf(stderr, "Block size is too small. It would require %llu blocks.\n",
                         static_cast<unsigned long long>(blocks));
            return kPar2InvalidArguments;
        }
        p.setBlockSize(a.blockSize);
    } else {
        p.setSourceBlockCount(a.hasBlockCount ? a.blockCount : kDefaultSourceBlocks);
    }
    // Volume sizes: doubling by default, nearly equal with -u, held to the
    // largest file with -l.
    if (a.uniform) {
        p.setSizeScheme(kUniform);
    } else if (a.limited) {
        p.setSizeScheme(kLimitedToLargest);
    } else {
        p.setSizeScheme(kPowersOfTwo);
    }
    // -l holds volumes to the blocks of the largest source file.
    const uint64_t limit =
        a.limited ? std::max<uint64_t>((p.largestFileSize + p.blockSize - 1) /
                                           std::max<uint64_t>(p.blockSize, 1),
                                       1)
                  : 0;
    bool filesChecked = true;
    if (a.hasRecoveryCount) {
        p.setRecoveryBlockCount(a.recoveryCount);
    } else if (a.hasRedundancySize) {
        const int64_t count = ClassicBlocksForSize(a.redundancySize, p.blockSize,
                                                   p.sourceBlockCount,
                                                   a.hasFileCount ? a.fileCount : 0, limit);
        // A target below the budget still gets one block; one that leaves
        // nothing for blocks gives the index alone, whatever -n asks.
        p.setRecoveryBlockCount(count < 0 ? 1 : static_cast<uint64_t>(count));
        filesChecked = count != 0;
    } else {
        p.setRedundancy(a.hasRedundancy ? a.redundancy : 500);
    }
    if (a.hasFileCount) {
        p.setRecoveryFileCount(a.fileCount);
    } else if (a.uniform) {
        p.setRecoveryFileCount(static_cast<uint32_t>(std::max<uint64_t>(
            1, std::min<uint64_t>(p.recoveryBlockCount, 64 - __builtin_clzll(p.recoveryBlockCount | 1)))));
    }
    if (a.hasFirst) p.setFirstRecoveryBlock(a.first);
    if (a.hasFileCount && filesChecked && a.fileCount > p.recoveryBlockCount) {
        std::fprintf(stderr, "Too many recovery files specified.\n");
        return kPar2InvalidArguments;
    }

    if (out.At(1)) {
        std::printf("\nBlock size: %llu\n", static_cast<unsigned long long>(p.blockSize));
        std::printf("Source file count: %zu\n", files.size());
        std::printf("Source block count: %llu\n", static_cast<unsigned long long>(p.sourceBlockCount));
        std::printf("Recovery block count: %llu\n", static_cast<unsigned long long>(p.recoveryBlockCount));
        std::printf("Recovery file count: %u\n\n", p.recoveryFileCount);
    }

    FolderLock lock;
    if (!LockSetFolder(lock, output, folder, true, stop)) return kPar2FileIoError;
    std::string existing;
    if (AnyRecoveryFile(folder, base, existing)) {
        std::fprintf(stderr, "Could not create \"%s\": File already exists.\n",
                     TerminalName(existing).c_str());
        return kPar2FileIoError;
    }

    // The volumes take the classic tool's block counts (doubling, -n, -l);
    // -u keeps the job's own nearly equal ones.
    const std::vector<uint32_t> classic = ClassicVolumeCounts(
        static_cast<uint32_t>(p.recoveryBlockCount), a.hasFileCount ? a.fileCount : 0, limit);
    const uint64_t lastExponent = ClassicNamingExponent(
        p.firstRecoveryBlock, static_cast<uint32_t>(p.recoveryBlockCount), limit);
    if (!a.uniform && classic != p.volumeBlockCounts()) p.setVolumeBlockCounts(classic);

    CreationStatusSlot slot;
    CreationJob job(p, slot, *stop);
    bool ok = false;
    std::thread worker([&] { ok = job.run(); });
    worker.join();
    job.finish(!ok);
    if (!ok) {
        const CreationStatus st = slot.Snapshot();
        std::string message = EnglishCreationFailure(st.failureCode);
        if (!st.fileName.empty()) message += ": " + TerminalName(st.fileName);
        if (stop && stop->load() != 0) message = "Stopped; nothing was written.";
        std::fprintf(stderr, "%s\n", message.c_str());
        return stop && stop->load() != 0 ? kPar2InternalError : kPar2FileIoError;
    }
    // The volumes under the names the classic tool gives them.
    const std::vector<uint32_t> counts = p.volumeBlockCounts();
    const uint32_t largest = counts.empty() ? 0 : *std::max_element(counts.begin(), counts.end());
    // What the creation wrote, under the names it has now: a failure below
    // removes it all, as the job itself does, so that no partial set is left.
    std::vector<std::string> written = job.outputPaths();
    auto removeWritten = [&written] {
        for (const std::string& path : written) std::remove(path.c_str());
    };
    std::string index;
    for (std::string& path : written) {
        const std::string renamed = ClassicVolumeName(path, lastExponent, largest);
        if (!IsVolumeName(FileNameOfPath(path))) index = path;
        // Never over a file that is there already.
        if (DiskFile moved(path); renamed != path && !moved.moveIntoPlace(renamed)) {
            std::fprintf(stderr, "Could not rename \"%s\".\n", TerminalName(path).c_str());
            removeWritten();
            return kPar2FileIoError;
        }
        path = renamed;
    }
    // Volumes asked for (-n) beyond those that the blocks fill hold the
    // index packets alone, as the classic tool writes them.
    uint64_t exponent = p.firstRecoveryBlock;
    for (uint32_t count : counts) {
        if (count == 0) {
            const std::string path =
                ClassicVolumePath(folder + base, exponent, 0, lastExponent, largest);
            if (!WriteIndexVolume(index, path, error)) {
                std::fprintf(stderr, "%s\n", TerminalName(error).c_str());
                removeWritten();
                return kPar2FileIoError;
            }
            written.push_back(path);
        }
        exponent += count;
    }
    if (out.At(0)) std::printf("Done\n");
    return kPar2Success;
}

}  // namespace

int RunPar2Command(const std::string& programName, const std::vector<std::string>& args,
                   StopFlag* stop) {
    Par2Arguments parsed;
    std::string error;
    if (!ParsePar2Arguments(Par2OperationOfProgram(programName), args, parsed, error)) {
        std::fprintf(stderr, "%s\n", TerminalName(error).c_str());
        return kPar2InvalidArguments;
    }
    if (parsed.help) {
        PrintHelp();
        return kPar2Success;
    }
    if (parsed.version > 0) {
        PrintVersion(parsed.version);
        return kPar2Success;
    }
    std::vector<std::string> files;
    if (!ExpandPar2FileArguments(parsed.operation == Par2Operation::Create, parsed.files, files,
                                 error)) {
        std::fprintf(stderr, "%s\n", TerminalName(error).c_str());
        return kPar2InvalidArguments;
    }
    parsed.files = std::move(files);
    // -t and -m bound what the passes take; 0 leaves it to the machine.
    LimitMachineUse(static_cast<unsigned>(std::min<uint64_t>(parsed.threads, 1024)),
                    std::min<uint64_t>(parsed.memoryMb, uint64_t{1} << 40) << 20);
    try {
        if (parsed.operation == Par2Operation::Create) return RunCreate(parsed, stop);
        return RunVerifyOrRepair(parsed, stop);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "Out of memory.\n");
        return kPar2OutOfMemory;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "Internal error: %s\n", e.what());
        return kPar2InternalError;
    }
}

}  // namespace vantrove::cli
