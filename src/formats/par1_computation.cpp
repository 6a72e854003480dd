#include "formats/par1_computation.h"

#include <cerrno>

namespace vantrove {

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
    // A rebuild of whole files fails with its first failed output, and a
    // cancelled one records nothing.
    pass.failedOutput = FailedOutput::EndPass;
    pass.recordCancel = false;
    return RunDataPass(pass, reporter, cancelled);
}

}  // namespace vantrove
