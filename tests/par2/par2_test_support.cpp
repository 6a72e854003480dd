#include "par2_test_support.h"

#include "app/set_session.h"

namespace vantrove::test {

std::unique_ptr<RecoverySet> OpenAndScan(const std::string& path, VerificationCache& cache,
                                         SetObserver* observer, const StopFlag* stop) {
    SetSession session(observer, stop, &cache);
    session.Adopt(NewPar2Set(observer, stop));
    session.Open(path);
    session.FinishActivity();
    return session.ReleaseSet();
}

int AccessRecorder::BeforeOpen(const std::string& path, bool) {
    std::lock_guard<std::mutex> lock(mutex_);
    opened_.push_back(path);
    return 0;
}

int AccessRecorder::BeforeRead(const DiskFile& file, uint64_t, size_t length) {
    std::lock_guard<std::mutex> lock(mutex_);
    bytes_[file.path] += length;
    ++reads_[file.path];
    return 0;
}

std::vector<std::string> AccessRecorder::opened() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return opened_;
}

uint64_t AccessRecorder::BytesRead(const std::string& suffix) const {
    std::lock_guard<std::mutex> lock(mutex_);
    uint64_t total = 0;
    for (const auto& [path, bytes] : bytes_) {
        if (path.size() >= suffix.size() &&
            path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0) {
            total += bytes;
        }
    }
    return total;
}

uint64_t AccessRecorder::ReadsOf(const std::string& suffix) const {
    std::lock_guard<std::mutex> lock(mutex_);
    uint64_t total = 0;
    for (const auto& [path, reads] : reads_) {
        if (path.size() >= suffix.size() &&
            path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0) {
            total += reads;
        }
    }
    return total;
}

}  // namespace vantrove::test
