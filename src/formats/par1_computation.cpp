#include "formats/par1_computation.h"

#include <cerrno>

namespace vantrove {
namespace {

// Passes the recovery pass's reports on, except that a cancelled pass
// records nothing; notes whether an output failed, which ends a rebuild of
// whole files as a failure.
class Par1Reporter : public DataPassReporter {
  public:
    explicit Par1Reporter(DataPassReporter& inner) : inner_(inner) {}
    void SetActivity(int32_t activity, uint32_t textId) override {
        inner_.SetActivity(activity, textId);
    }
    void SetProgress(uint64_t position, uint64_t total) override {
        inner_.SetProgress(position, total);
    }
    void RecordError(int32_t kind, uint32_t systemErrorCode, const std::string& filePath) override {
        if (kind == kErrorCancelled) return;
        failed_ = true;
        inner_.RecordError(kind, systemErrorCode, filePath);
    }
    const std::atomic<uint32_t>* StopFlag() const override { return inner_.StopFlag(); }
    bool failed() const { return failed_; }

  private:
    DataPassReporter& inner_;
    bool failed_ = false;
};

}  // namespace

bool RunPar1Computation(const Par1ComputationJob& job, DataPassReporter& reporter,
                        bool& cancelled) {
    cancelled = false;
    if (job.outputs.empty()) return true;
    if (job.matrix == nullptr || job.blockSize == 0) {
        reporter.RecordError(kErrorDataPassFailed, EINVAL, {});
        return false;
    }
    DataPassJob pass;
    pass.inputs = job.inputs;
    pass.outputs = job.outputs;
    pass.sliceSize = job.blockSize;
    pass.matrix8 = job.matrix;
    pass.physicalMemoryBytes = job.physicalMemoryBytes;
    pass.threads = job.threads;
    pass.hooks = job.hooks;
    Par1Reporter filtered(reporter);
    const bool ok = RunDataPass(pass, filtered, cancelled);
    return ok && !filtered.failed();
}

}  // namespace vantrove
