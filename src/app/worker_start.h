#pragma once
// How the dialogs start their verification worker: the worker's own Start,
// unless a test installed another way (to play a worker thread that cannot be
// made). User-interface thread only.

#include <functional>

namespace vantrove {

class VerificationWorker;

using WorkerStarter = std::function<bool(VerificationWorker&)>;

// Installs `starter` for every worker started from now on; an empty one goes
// back to the worker's own Start.
void SetWorkerStarter(WorkerStarter starter);

// Starts `worker` the installed way; false when no thread could be started.
bool StartWorker(VerificationWorker& worker);

}  // namespace vantrove
