#pragma once
// CreationWorker: the thread on which one creation job runs.
//
// Start() starts the thread at the lowest thread priority of the process and
// returns once it runs; the thread takes the lock on the output folder
// (deleting the work files an interrupted job left there), runs the whole
// job (CreationJob::run, then finish) and ends with exit code 0 when the job
// succeeded and 1 when it failed or was stopped. When another job holds the
// folder's lock, the job does not start: the status records kFailBusy. Progress travels through the job's status slot,
// which the progress dialog (or the command line) copies on its own timer.
// Stop() raises the thread's priority, sets the job's stop flag and waits
// for the thread. A worker lives for one job.
//
// Every method is called from one controlling thread; the parameters and the
// status slot are borrowed and must outlive the worker.

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "create/creation_job.h"
#include "create/creation_parameters.h"
#include "create/creation_status.h"
#include "engine/stop_flag.h"

namespace vantrove {

class CreationWorker {
  public:
    CreationWorker(CreationParameters& parameters, CreationStatusSlot& status,
                   CreationJobOptions options = {});
    // Stops a running job.
    ~CreationWorker();
    CreationWorker(const CreationWorker&) = delete;
    CreationWorker& operator=(const CreationWorker&) = delete;

    // Starts the job's thread; false when no thread could be started.
    bool Start();
    // True once the job has ended (its thread may still be leaving).
    bool finished() const { return finished_.load(); }
    // Asks the job to stop, waits for the thread and returns its exit code
    // (0 success, 1 failure or stopped; -1 when it never ran).
    int Stop();
    // Waits for the job to end by itself; returns its exit code as Stop().
    int Wait();

    // The job's output files, with their final names; valid once finished.
    std::vector<std::string> outputPaths() const;

  private:
    void Run();
    int Join();

    CreationParameters& parameters_;
    CreationStatusSlot& status_;
    CreationJobOptions options_;
    StopFlag stop_{0};
    std::unique_ptr<CreationJob> job_;
    std::thread thread_;
    std::atomic<bool> finished_{false};
    int exitCode_ = -1;

    std::mutex mutex_;
    std::condition_variable startedSignal_;
    bool started_ = false;
    int threadId_ = 0;
};

}  // namespace vantrove
