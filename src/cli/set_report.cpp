#include "cli/set_report.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/set_format.h"
#include "cli/terminal_name.h"
#include "core/stored_name.h"

namespace vantrove::cli {

SourceRowKind RowOf(const SourceFileEntry& entry) {
    const SetFile* target = entry.targetFile.get();
    if (entry.completeCopy && entry.completeCopy.get() == target) {
        return target->flags.repaired ? SourceRowKind::Repaired : SourceRowKind::Complete;
    }
    if (entry.completeCopy) return SourceRowKind::Misnamed;
    VerifyResult result = target ? target->result : VerifyResult::Missing;
    if (result == VerifyResult::NotVerified) return SourceRowKind::NotVerified;
    if (result == VerifyResult::Missing) return SourceRowKind::Missing;
    return SourceRowKind::Damaged;
}

std::string VolumeText(const SetFile& file) {
    const std::string blocks =
        std::to_string(file.blocksTaken) + (file.blocksTaken == 1 ? " block" : " blocks");
    switch (VolumeDisplayCodeOf(file)) {
        case VolumeDisplayCode::Used:
            return blocks;
        case VolumeDisplayCode::Damaged:
            return "damaged (" + blocks + " available)";
        case VolumeDisplayCode::Unused:
            return "belongs to another set";
        case VolumeDisplayCode::NotRead:
            break;
    }
    return file.result == VerifyResult::Missing ? "cannot be read" : "not read";
}

std::string SourceText(const SourceFileEntry& entry, SourceRowKind row) {
    const uint32_t found = entry.blockCount - entry.MissingBlockCount();
    const std::string blocks = std::to_string(found) + "/" + std::to_string(entry.blockCount) +
                               (entry.blockCount == 1 ? " block" : " blocks") + " available";
    switch (row) {
        case SourceRowKind::Complete:
            return "complete";
        case SourceRowKind::Repaired:
            return "repaired";
        case SourceRowKind::Misnamed:
            return "misnamed (an intact copy lies under another name)";
        case SourceRowKind::Damaged:
            return "damaged (" + blocks + ")";
        case SourceRowKind::Missing:
            return found > 0 ? "missing (" + blocks + ")" : "missing";
        case SourceRowKind::NotVerified:
            return "not verified";
    }
    return {};
}

std::string StatusLine(const RecoverySetStatus& s) {
    const int64_t total = s.totalDataBlocks;
    const int64_t data = static_cast<uint32_t>(s.dataBlocksAvailable);
    const int64_t recovery = static_cast<uint32_t>(s.recoveryBlocksAvailable);
    if (s.state == RecoveryState::NothingLoaded || s.state == RecoveryState::NeedMoreVolumes ||
        total == 0) {
        return "More recovery volumes are needed: the set's files are not all described.";
    }
    if (data + recovery < total) {
        int64_t n = total - data - recovery;
        return "Repair is not possible: " + std::to_string(n) +
               (n == 1 ? " more block" : " more blocks") + " needed.";
    }
    if (s.state == RecoveryState::AllVerified) return "All data verified: no repair needed.";
    if (s.state == RecoveryState::Repaired) return "Repair complete.";
    if (s.unverifiedFiles > 0) return "The scan is incomplete.";
    if (data < total) {
        return "Ready to repair using " + std::to_string(total - data) + "/" +
               std::to_string(recovery) + " recovery blocks.";
    }
    const int32_t misnamed = s.misnamedFiles;
    if (misnamed > 0 && misnamed + s.completeFiles == s.sourceFileCount) {
        return "Ready to rename " + std::to_string(misnamed) +
               (misnamed == 1 ? " file." : " files.");
    }
    int32_t joinable = s.sourceFileCount - s.completeFiles - misnamed;
    return "Ready to join blocks for " + std::to_string(joinable) +
           (joinable == 1 ? " file." : " files.");
}

std::vector<std::string> UnreadableFileLines(const RecoverySet& set) {
    std::vector<std::string> lines;
    const std::string& folder = set.folder();
    for (const auto& [path, file] : set.knownFiles()) {
        if (file->readError == 0 ||
            (file->kind != FileKind::Target && file->kind != FileKind::OtherData)) {
            continue;
        }
        const std::string name = !folder.empty() && path.compare(0, folder.size(), folder) == 0
                                     ? path.substr(folder.size())
                                     : path;
        lines.push_back("\"" + TerminalName(name) + "\": some blocks could not be read (" +
                        SystemErrorText(file->readError) + ")");
    }
    return lines;
}

bool CheckSetFile(const std::string& given, const std::string& path) {
    // O_NONBLOCK: a FIFO or a device named as the set must be refused at
    // once, not wait for a writer.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENXIO) {  // a FIFO or socket with nobody at the other end
            std::fprintf(stderr, "vantrove-cli: %s: not a regular file\n",
                         TerminalName(given).c_str());
        } else {
            std::fprintf(stderr, "vantrove-cli: %s: %s\n", TerminalName(given).c_str(),
                         std::strerror(errno));
        }
        return false;
    }
    struct stat st;
    const bool statted = fstat(fd, &st) == 0;
    const int statError = errno;
    ::close(fd);
    if (!statted) {
        std::fprintf(stderr, "vantrove-cli: %s: %s\n", TerminalName(given).c_str(),
                     std::strerror(statError));
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        std::fprintf(stderr, "vantrove-cli: %s: is a folder\n", TerminalName(given).c_str());
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        std::fprintf(stderr, "vantrove-cli: %s: not a regular file\n", TerminalName(given).c_str());
        return false;
    }
    if (ChooseSetFormat(path) == FormatKind::None) {
        std::fprintf(stderr, "vantrove-cli: %s: not a recognised recovery file name\n",
                     TerminalName(given).c_str());
        return false;
    }
    return true;
}

bool LockTaken(FolderLock::Outcome outcome, int error, const std::string& given) {
    switch (outcome) {
        case FolderLock::Outcome::Locked:
            return true;
        case FolderLock::Outcome::Busy:
            std::fprintf(stderr,
                         "vantrove-cli: %s: the set is busy: another repair or creation is "
                         "working in its folder (--wait waits for it)\n",
                         TerminalName(given).c_str());
            return false;
        case FolderLock::Outcome::Failed:
            break;
    }
    std::fprintf(stderr, "vantrove-cli: %s: %s\n", TerminalName(given).c_str(),
                 std::strerror(error));
    return false;
}

bool LockSetFolder(FolderLock& lock, const std::string& given, const std::string& path, bool wait,
                   const StopFlag* stop) {
    return LockTaken(LockJobFolder(lock, FolderOfPath(path), wait, stop), lock.error(), given);
}

std::string UnusableNameReason(const RecoverySet& set, const SourceFileEntry& entry) {
    if (entry.unusableName && IsSafeStoredName(entry.name)) {
        return "the name is one of the set's own recovery files";
    }
    if (entry.unusableName) return "the name leads outside the set's folder";
    return "a folder on its way is a symbolic link or no folder";
}

void PrintSetReport(const RecoverySet& set, bool asJson,
                    const std::function<void(JsonWriter&)>& extraJson,
                    const std::vector<std::string>& extraLines) {
    const RecoverySetStatus& status = set.status();
    std::vector<const SetFile*> volumes;
    for (const auto& [filePath, file] : set.knownFiles()) {
        if (file->kind == FileKind::Volume && !file->flags.outOfVolumeList)
            volumes.push_back(file.get());
    }

    if (asJson) {
        JsonWriter json;
        json.BeginObject();
        json.Key("format").String(SetFormatName(status.formatKind));
        json.Key("state").Number(static_cast<int64_t>(status.state));
        json.Key("subState").Number(static_cast<int64_t>(status.subState));
        json.Key("totalBlocks").Number(status.totalDataBlocks);
        json.Key("dataBlocksAvailable").Number(status.dataBlocksAvailable);
        json.Key("recoveryBlocksAvailable").Number(status.recoveryBlocksAvailable);
        json.Key("error").Number(static_cast<int64_t>(status.errorKind));
        json.Key("files").BeginArray();
        for (const SourceFileEntryRef& entry : set.entries()) {
            json.BeginObject();
            json.Name("name", entry->name);
            json.Key("size").Number(entry->size);
            json.Key("state").String(RowKindName(RowOf(*entry)));
            // Only for a file that could not be read throughout: the error.
            const SetFile* target = entry->targetFile.get();
            if (target && target->readError != 0 && !entry->completeCopy)
                json.Key("readError").String(SystemErrorText(target->readError));
            json.EndObject();
        }
        json.EndArray();
        if (extraJson) extraJson(json);
        json.EndObject();
        std::printf("%s\n", json.text().c_str());
    } else {
        for (const SetFile* file : volumes) {
            std::printf("recovery  %-40s %14llu  %s\n",
                        TerminalName(FileNameOfPath(file->path)).c_str(),
                        static_cast<unsigned long long>(file->size), VolumeText(*file).c_str());
        }
        for (const SourceFileEntryRef& entry : set.entries()) {
            SourceRowKind row = RowOf(*entry);
            std::printf("data      %-40s %14llu  %s\n", TerminalName(entry->name).c_str(),
                        static_cast<unsigned long long>(entry->size),
                        SourceText(*entry, row).c_str());
        }
        std::printf("%s\n", StatusLine(status).c_str());
        for (const std::string& line : UnreadableFileLines(set)) std::printf("%s\n", line.c_str());
        for (const std::string& line : extraLines) std::printf("%s\n", line.c_str());
    }
}

}  // namespace vantrove::cli
