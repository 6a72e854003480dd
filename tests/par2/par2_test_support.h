#pragma once
// Opening PAR 2.0 sets in tests: a set bound to a cache of its own folder,
// and a fault injector that records which files were opened and how many
// bytes were read from each.

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/disk_file.h"
#include "engine/verification_cache.h"
#include "par2/par2_recovery_set.h"

namespace vantrove::test {

// Opens `path` the way the worker does: Open, and when it hands back a
// replacement (the saved state), that one, scanned.
std::unique_ptr<RecoverySet> OpenAndScan(const std::string& path, VerificationCache& cache,
                                         SetObserver* observer = nullptr,
                                         const StopFlag* stop = nullptr);

// The PAR 2.0 format of a set made by NewPar2Set.
inline Par2RecoverySet& Par2Of(const RecoverySet& set) {
    return *set.FormatAs<Par2RecoverySet>();
}

// Records opens and bytes read while installed.
class AccessRecorder : public FileFaultInjector {
  public:
    AccessRecorder() { SetFileFaultInjector(this); }
    ~AccessRecorder() override { SetFileFaultInjector(nullptr); }

    int BeforeOpen(const std::string& path, bool forWrite) override;
    int BeforeRead(const DiskFile& file, uint64_t offset, size_t length) override;

    std::vector<std::string> opened() const;
    // Bytes asked for from files whose path ends in `suffix`.
    uint64_t BytesRead(const std::string& suffix) const;
    // Reads asked for from files whose path ends in `suffix`.
    uint64_t ReadsOf(const std::string& suffix) const;

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> opened_;
    std::map<std::string, uint64_t> bytes_;
    std::map<std::string, uint64_t> reads_;
};

}  // namespace vantrove::test
