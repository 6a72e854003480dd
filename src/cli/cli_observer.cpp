#include "cli/cli_observer.h"

#include <algorithm>
#include <cstdio>

#include "cli/terminal_name.h"
#include "core/path.h"
#include "core/table_lookup.h"

namespace vantrove::cli {
namespace {

const char* ActivityText(Activity activity) {
    static constexpr std::pair<Activity, const char*> kTexts[] = {
        {Activity::LoadingVolume, "Loading"},
        {Activity::VerifyingDataFile, "Verifying"},
        {Activity::ScanningFile, "Scanning"},
        {Activity::CheckingFile, "Checking"},
        {Activity::SearchingNewFiles, "Searching for new files"},
        {Activity::Renaming, "Renaming"},
        {Activity::ComputingMatrix, "Computing the Reed-Solomon matrix"},
        {Activity::MemoryTest, "Testing memory"},
        {Activity::Recovering, "Recovering data"},
        {Activity::Writing, "Writing recovered data"},
        {Activity::Reverifying, "Verifying again"},
    };
    return LookUp(kTexts, activity, "Working");
}

}  // namespace

const char* RowKindName(SourceRowKind row) {
    static constexpr std::pair<SourceRowKind, const char*> kNames[] = {
        {SourceRowKind::Complete, "complete"},      {SourceRowKind::Misnamed, "misnamed"},
        {SourceRowKind::Damaged, "damaged"},        {SourceRowKind::Missing, "missing"},
        {SourceRowKind::NotVerified, "unverified"}, {SourceRowKind::Repaired, "repaired"},
    };
    return LookUp(kNames, row, "unverified");
}

void CliObserver::ReportVolumeFile(const SetFile& file) {
    if (!volumes_.count(file.path)) volumeOrder_.push_back(file.path);
    volumes_[file.path] = {file.path, file.size, file.blocksTaken, VolumeDisplayCodeOf(file)};
}

void CliObserver::RemoveVolumeFile(const SetFile& file) {
    volumes_.erase(file.path);
    volumeOrder_.erase(std::remove(volumeOrder_.begin(), volumeOrder_.end(), file.path),
                       volumeOrder_.end());
}

void CliObserver::StatusChanged(const RecoverySetStatus& status) {
    status_ = status;
    if (!progress_) return;
    auto now = std::chrono::steady_clock::now();
    if (drawn_ && now - lastDraw_ < std::chrono::milliseconds(100)) return;
    lastDraw_ = now;
    if (status.activity == Activity::Idle || status.progressTotal == 0) return;
    uint64_t permille = status.progressPosition >= status.progressTotal
                            ? 1000
                            : status.progressPosition * 1000 / status.progressTotal;
    std::string name = TerminalName(FileNameOfPath(status.currentFile));
    if (name.size() > 40) {
        // The tail, cut where a character begins.
        size_t from = name.size() - 37;
        while (from < name.size() && (static_cast<unsigned char>(name[from]) & 0xC0) == 0x80)
            ++from;
        name = "..." + name.substr(from);
    }
    std::fprintf(stderr, "\r\033[K%s %s %3u.%u %%", ActivityText(status.activity), name.c_str(),
                 static_cast<unsigned>(permille / 10), static_cast<unsigned>(permille % 10));
    std::fflush(stderr);
    drawn_ = true;
}

void CliObserver::EndProgress() {
    if (drawn_) {
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
        drawn_ = false;
    }
}

void CliObserver::ReportSourceFileLine(SourceRowKind rowKind, FormatKind, const std::string& name,
                                       uint64_t size, uint32_t blockCount,
                                       const std::vector<SourcePlace>& places) {
    if (!sources_.count(name)) sourceOrder_.push_back(name);
    uint32_t found = 0;
    for (const SourcePlace& place : places) found += place.blockCount;
    if (rowKind == SourceRowKind::Complete || rowKind == SourceRowKind::Misnamed ||
        rowKind == SourceRowKind::Repaired) {
        found = blockCount;
    }
    sources_[name] = {name, size, blockCount, std::min(found, blockCount), rowKind};
}

void CliObserver::ClearLists() {
    volumes_.clear();
    volumeOrder_.clear();
    sources_.clear();
    sourceOrder_.clear();
}

std::vector<CliObserver::VolumeLine> CliObserver::volumes() const {
    std::vector<VolumeLine> lines;
    for (const std::string& path : volumeOrder_) lines.push_back(volumes_.at(path));
    return lines;
}

std::vector<CliObserver::SourceLine> CliObserver::sources() const {
    std::vector<SourceLine> lines;
    for (const std::string& name : sourceOrder_) lines.push_back(sources_.at(name));
    return lines;
}

}  // namespace vantrove::cli
