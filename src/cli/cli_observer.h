#pragma once
// CliObserver: the command line's SetObserver. It keeps the latest line of
// every recovery file and every data file, and the latest status, for the
// report printed at the end; on a terminal it also draws a progress line on
// stderr, at most ten times a second. Runs on the one thread of the command.

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "engine/set_observer.h"

namespace vantrove::cli {

class CliObserver : public SetObserver {
  public:
    struct VolumeLine {
        std::string path;
        uint64_t size = 0;
        uint32_t blocks = 0;
        VolumeDisplayCode code = VolumeDisplayCode::NotRead;
    };
    struct SourceLine {
        std::string name;
        uint64_t size = 0;
        uint32_t blockCount = 0;
        uint32_t blocksFound = 0;
        SourceRowKind row = SourceRowKind::NotVerified;
    };

    // `progress`: draw the progress line on stderr.
    explicit CliObserver(bool progress) : progress_(progress) {}

    void ReportVolumeFile(const SetFile& file) override;
    void RemoveVolumeFile(const SetFile& file) override;
    void StatusChanged(const RecoverySetStatus& status) override;
    void ReportSourceFileLine(SourceRowKind rowKind, FormatKind formatKind, const std::string& name,
                              uint64_t size, uint32_t blockCount,
                              const std::vector<SourcePlace>& places) override;
    void ClearLists() override;

    // Removes the progress line, if one is drawn.
    void EndProgress();

    // Lines in order of first report.
    std::vector<VolumeLine> volumes() const;
    std::vector<SourceLine> sources() const;
    const RecoverySetStatus& status() const { return status_; }

  private:
    bool progress_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point lastDraw_{};
    RecoverySetStatus status_;
    std::vector<std::string> volumeOrder_;
    std::map<std::string, VolumeLine> volumes_;
    std::vector<std::string> sourceOrder_;
    std::map<std::string, SourceLine> sources_;
};

// The state name of a source line in the JSON report.
const char* RowKindName(SourceRowKind row);

}  // namespace vantrove::cli
