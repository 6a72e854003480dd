#include "app/creation_worker.h"

#include <condition_variable>
#include <system_error>

#include "app/process_priority.h"
#include "app/set_session.h"
#include "core/folder_lock.h"

namespace vantrove {

CreationWorker::CreationWorker(CreationParameters& parameters, CreationStatusSlot& status,
                               CreationJobOptions options)
    : parameters_(parameters), status_(status), options_(options) {}

CreationWorker::~CreationWorker() {
    if (thread_.joinable()) Stop();
}

bool CreationWorker::Start() {
    if (thread_.joinable() || job_ != nullptr) return false;
    job_ = std::make_unique<CreationJob>(parameters_, status_, stop_, options_);
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        job_.reset();
        return false;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    startedSignal_.wait(lock, [this] { return started_; });
    return true;
}

void CreationWorker::Run() {
    SetCurrentThreadPriority(kThreadLowest);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        threadId_ = CurrentThreadId();
        started_ = true;
    }
    startedSignal_.notify_all();
    // One job at a time in the output folder, as on the command line. A
    // folder that cannot be locked is left to the job, which reports why it
    // cannot write there.
    FolderLock lock;
    if (LockJobFolder(lock, parameters_.destinationPath, false, &stop_) ==
        FolderLock::Outcome::Busy) {
        CreationStatus busy;
        busy.phase = kPhaseFailed;
        busy.failureCode = kFailBusy;
        status_.Set(busy);
        exitCode_ = 1;
        finished_.store(true);
        return;
    }
    const bool ok = job_->run();
    job_->finish(!ok);
    exitCode_ = ok ? 0 : 1;
    finished_.store(true);
}

int CreationWorker::Join() {
    if (!thread_.joinable()) return exitCode_;
    thread_.join();
    return exitCode_;
}

int CreationWorker::Stop() {
    if (!thread_.joinable()) return exitCode_;
    int threadId;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        threadId = threadId_;
    }
    // Raised so that it reaches its next stop check quickly; without the
    // right to raise it, it keeps its priority.
    if (!finished_.load()) SetThreadPriority(threadId, kThreadAboveNormal);
    stop_.store(1);
    return Join();
}

int CreationWorker::Wait() {
    return Join();
}

std::vector<std::string> CreationWorker::outputPaths() const {
    if (job_ == nullptr || !finished_.load()) return {};
    return job_->outputPaths();
}

}  // namespace vantrove
