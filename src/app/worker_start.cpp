#include "app/worker_start.h"

#include <utility>

#include "app/verification_worker.h"

namespace vantrove {
namespace {

WorkerStarter& Installed() {
    static WorkerStarter starter;
    return starter;
}

}  // namespace

void SetWorkerStarter(WorkerStarter starter) {
    Installed() = std::move(starter);
}

bool StartWorker(VerificationWorker& worker) {
    return Installed() ? Installed()(worker) : worker.Start();
}

}  // namespace vantrove
