// vantrove-cli: the command-line front end over the same engine as the
// desktop program.
//
//   vantrove-cli verify FILE [--json] [--cached]
//   vantrove-cli repair FILE [--json] [--cached] [--keep-damaged] [--delete-recovery] [--no-trash]
//   vantrove-cli create [options] -o DIR/BASENAME FILE|FOLDER...
//   vantrove-cli par2 ARGS...    (and the program under the names par2, par2create, ...)
//   vantrove-cli COMMAND --help | --version
//
// Exit codes: 0 all data verified, 1 repair possible, 2 repair impossible,
// 3 error (bad arguments, unreadable file, unrecognised name), 8 stopped by
// SIGINT or SIGTERM.

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/crash_points.h"
#include "cli/create_command.h"
#include "cli/flag_arguments.h"
#include "cli/par2_command.h"
#include "cli/repair_command.h"
#include "cli/verify_command.h"
#include "core/disk_file.h"
#include "core/machine.h"
#include "core/string_table.h"

namespace {

vantrove::StopFlag gStop{0};

void OnSignal(int) {
    gStop.store(1);
}

// An interrupt or a termination asks the running job to stop at its next
// check, so that it ends tidily.
void StopOnSignals() {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

constexpr char kVerifyUsage[] =
    "usage: vantrove-cli verify FILE [--json] [--cached]\n"
    "  FILE is any volume of a PAR2 set (.par2), of a PAR1 set (.par, .pNN),\n"
    "  or an SFV (.sfv) or MD5 (.md5) checksum list\n"
    "  --json     the report as one JSON object\n"
    "  --cached   files whose size and times are unchanged keep their results\n"
    "             from the verification cache\n"
    "  -t, --threads N   use N threads\n"
    "  -m, --memory MB   hold at most about MB megabytes of working data\n"
    "exit codes: 0 all data verified, 1 repair possible, 2 repair impossible, 3 error,\n"
    "8 stopped (SIGINT or SIGTERM)\n";

constexpr char kRepairUsage[] =
    "usage: vantrove-cli repair FILE [--json] [--cached] [--keep-damaged] "
    "[--delete-recovery] [--no-trash] [--wait]\n"
    "  FILE is any volume of a PAR2 set (.par2), of a PAR1 set (.par, .pNN),\n"
    "  or an SFV (.sfv) or MD5 (.md5) checksum list\n"
    "  --json             the report as one JSON object\n"
    "  --cached           unchanged files keep their results from the cache\n"
    "  --keep-damaged     keep the damaged data files after a repair\n"
    "  --delete-recovery  delete the recovery files after a successful repair\n"
    "  --no-trash         delete for good instead of into the trash\n"
    "  --wait             wait while another job works in the set's folder\n"
    "  -t, --threads N    use N threads\n"
    "  -m, --memory MB    hold at most about MB megabytes of recovery data\n"
    "exit codes: 0 repaired or nothing to repair, 2 not enough data to repair,\n"
    "3 error or failed repair, 8 stopped (SIGINT or SIGTERM; files as they were)\n";

void Usage(std::FILE* out) {
    std::fprintf(out,
                 "usage: vantrove-cli verify FILE [--json] [--cached]\n"
                 "       vantrove-cli repair FILE [--json] [--cached] [--keep-damaged] "
                 "[--delete-recovery] [--no-trash] [--wait]\n"
                 "       vantrove-cli create [options] -o DIR/BASENAME FILE...\n"
                 "       vantrove-cli create --extend SET.par2 [-c COUNT | -r PERCENT] [-n COUNT]\n"
                 "       vantrove-cli par2 c|v|r [par2 options] ...\n"
                 "       vantrove-cli COMMAND --help | --version\n"
                 "  every command also takes -t/--threads N and -m/--memory MB\n"
                 "  FILE is any volume of a PAR2 set (.par2), of a PAR1 set (.par, .pNN),\n"
                 "  or an SFV (.sfv) or MD5 (.md5) checksum list\n"
                 "verify exit codes: 0 all data verified, 1 repair possible, 2 repair impossible, "
                 "3 error\n"
                 "repair exit codes: 0 repaired or nothing to repair, 2 not enough data to "
                 "repair, 3 error or failed repair\n"
                 "every command exits with 8 when stopped by SIGINT or SIGTERM\n");
}

void PrintVersion() {
    std::printf("vantrove-cli %s\n", VANTROVE_VERSION);
}

// `--help` or `--version` anywhere among a command's options (not after
// "--", where every word is a file): 1 for help, 2 for the version, else 0.
int AskedForHelpOrVersion(int argc, char** argv, int first) {
    for (int i = first; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") break;
        if (arg == "--help" || arg == "-h") return 1;
        if (arg == "--version") return 2;
    }
    return 0;
}

// Takes the machine options every command shares out of `args` (up to a
// "--"): -t/--threads N and -m/--memory MB, values attached or separate.
// False, with a message, for a value that is not a positive number.
bool TakeMachineOptions(std::vector<std::string>& args) {
    unsigned threads = 0;
    uint64_t memoryMb = 0;
    std::vector<std::string> rest;
    bool onlyFiles = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string name, value;
        bool hasValue = false;
        if (!onlyFiles) {
            for (const char* option : {"--threads", "--memory"}) {
                const std::string long_ = option;
                if (arg == long_) {
                    name = long_;
                } else if (arg.rfind(long_ + "=", 0) == 0) {
                    name = long_;
                    value = arg.substr(long_.size() + 1);
                    hasValue = true;
                }
            }
            if (name.empty() && arg.size() >= 2 && (arg.compare(0, 2, "-t") == 0 ||
                                                    arg.compare(0, 2, "-m") == 0)) {
                name = arg.compare(0, 2, "-t") == 0 ? "--threads" : "--memory";
                if (arg.size() > 2) {
                    value = arg.substr(2);
                    hasValue = true;
                }
            }
        }
        if (arg == "--") onlyFiles = true;
        if (name.empty()) {
            rest.push_back(arg);
            continue;
        }
        if (!hasValue) {
            if (i + 1 >= args.size()) {
                std::fprintf(stderr, "vantrove-cli: option '%s' needs a value\n", arg.c_str());
                return false;
            }
            value = args[++i];
        }
        uint64_t number = 0;
        if (!vantrove::cli::ParseNumber(value, number) || number == 0 ||
            (name == "--threads" && number > 1024) || (name == "--memory" && number > (1ull << 40))) {
            std::fprintf(stderr, "vantrove-cli: option '%s' needs a positive number, not '%s'\n",
                         arg.c_str(), value.c_str());
            return false;
        }
        if (name == "--threads") {
            threads = static_cast<unsigned>(number);
        } else {
            memoryMb = number;
        }
    }
    args = std::move(rest);
    vantrove::LimitMachineUse(threads, memoryMb << 20);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace vantrove::cli;
    vantrove::RaiseOpenFileLimit();
    // Under the name par2 (or par2create, ...), and as `vantrove-cli par2`,
    // the classic command line.
    const bool asPar2 = IsPar2ProgramName(argv[0]);
    if (asPar2 || (argc >= 2 && std::strcmp(argv[1], "par2") == 0)) {
        InstallCrashPoints();
        StopOnSignals();
        return RunPar2Command(asPar2 ? argv[0] : "par2",
                              std::vector<std::string>(argv + (asPar2 ? 1 : 2), argv + argc), &gStop);
    }
    if (argc < 2) {
        Usage(stderr);
        return kError;
    }
    InstallCrashPoints();
    const std::string command = argv[1];
    if (command == "-h" || command == "--help" || command == "help") {
        Usage(stdout);
        return 0;
    }
    if (command == "--version" || command == "-V") {
        PrintVersion();
        return 0;
    }
    if (command == "create" || command == "repair" || command == "verify") {
        switch (AskedForHelpOrVersion(argc, argv, 2)) {
            case 1:
                if (command == "create") {
                    CreateUsage(stdout);
                } else {
                    std::fputs(command == "repair" ? kRepairUsage : kVerifyUsage, stdout);
                }
                return 0;
            case 2:
                PrintVersion();
                return 0;
        }
    }
    if (command != "create" && command != "repair" && command != "verify") {
        std::fprintf(stderr, "vantrove-cli: unknown command '%s'\n", command.c_str());
        Usage(stderr);
        return kError;
    }
    std::vector<std::string> args(argv + 2, argv + argc);
    if (!TakeMachineOptions(args)) return kError;
    if (command == "create") {
        StopOnSignals();
        return RunCreateCommand(args, &gStop);
    }
    if (command == "repair") {
        StopOnSignals();
        return RunRepairCommand(args, &gStop);
    }
    VerifyOptions options;
    if (!ReadFlagsAndFile(args, {{"--json", &options.json}, {"--cached", &options.cached}},
                          options.path) ||
        options.path.empty()) {
        std::fputs(kVerifyUsage, stderr);
        return kError;
    }
    options.progress = isatty(STDERR_FILENO) != 0;

    StopOnSignals();

    return RunVerify(options, &gStop);
}
