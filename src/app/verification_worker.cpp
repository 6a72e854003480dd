#include "app/verification_worker.h"

#include <system_error>
#include <utility>

#include "app/process_priority.h"

namespace vantrove {

namespace {

// The status handed over while no set is loaded: idle, nothing loaded,
// progress 1 of 1, every text empty.
RecoverySetStatus EmptyStatus() {
    RecoverySetStatus status;
    status.progressPosition = 1;
    status.progressTotal = 1;
    return status;
}

}  // namespace

VerificationWorker::VerificationWorker(SetObserver* observer, VerificationWorkerOptions options)
    : observer_(observer),
      options_(options),
      stopFlag_(std::make_shared<StopFlag>(0)),
      session_(observer, stopFlag_.get(), options.cache) {}

VerificationWorker::~VerificationWorker() {
    if (running()) Quit();
}

bool VerificationWorker::Start() {
    if (thread_.joinable()) return false;
    stopFlag_->store(0);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (started_) return false;  // a worker starts once
        accepting_ = true;
    }
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        std::lock_guard<std::mutex> lock(mutex_);
        accepting_ = false;
        return false;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait(lock, [this] { return started_; });
    return true;
}

void VerificationWorker::Post(Request request) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!accepting_) return;
    queue_.push_back(std::move(request));
    wake_.notify_all();
}

void VerificationWorker::Open(std::string path) {
    Request request{RequestKind::Open};
    request.path = std::move(path);
    Post(std::move(request));
}

void VerificationWorker::CloseSet() {
    Post(Request{RequestKind::Close});
}

void VerificationWorker::Repair(const RepairOptions& options) {
    Request request{RequestKind::Repair};
    request.repair = options;
    Post(std::move(request));
}

void VerificationWorker::SetRescan(bool on) {
    Request request{RequestKind::Rescan};
    request.on = on;
    Post(std::move(request));
}

void VerificationWorker::Reverify() {
    Post(Request{RequestKind::Reverify});
}

void VerificationWorker::RequestStop() {
    stopFlag_->store(1);
}

int VerificationWorker::Stop(RequestKind kind) {
    if (!thread_.joinable()) return -1;
    stopFlag_->store(1);
    int threadId;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        threadId = threadId_;
        if (accepting_) {
            queue_.push_back(Request{kind});
            wake_.notify_all();
        }
    }
    // Raised so that it reaches its next stop check quickly.
    SetThreadPriority(threadId, kThreadAboveNormal);
    thread_.join();
    stopFlag_->store(0);
    return 0;
}

int VerificationWorker::Quit() {
    const int code = Stop(RequestKind::Quit);
    session_.ReleaseSet();  // normally destroyed by the thread already
    return code;
}

DetachedSet VerificationWorker::Detach() {
    DetachedSet detached;
    detached.exitCode = Stop(RequestKind::Detach);
    detached.stopFlag = stopFlag_;
    std::unique_ptr<RecoverySet> set = session_.ReleaseSet();
    if (set != nullptr && set->formatKind() == FormatKind::Par2) detached.set = std::move(set);
    return detached;
}

// ---------------------------------------------------------------------------
// The worker thread

void VerificationWorker::Run() {
    SetCurrentThreadPriority(kThreadLowest);
    std::unique_lock<std::mutex> lock(mutex_);
    threadId_ = CurrentThreadId();
    started_ = true;
    wake_.notify_all();
    for (;;) {
        if (queue_.empty()) {
            if (timerRunning_) {
                wake_.wait_until(lock, timerDue_, [this] { return !queue_.empty(); });
            } else {
                wake_.wait(lock, [this] { return !queue_.empty(); });
            }
        }
        if (!queue_.empty()) {
            lock.unlock();
            const bool end = HandleBatch();
            lock.lock();
            if (end) break;
        } else if (timerRunning_ && Clock::now() >= timerDue_) {
            lock.unlock();
            OnRescanTimer();
            lock.lock();
        }
    }
    // Requests that arrive from now on are lost.
    accepting_ = false;
    queue_.clear();
}

bool VerificationWorker::HandleBatch() {
    stopFlag_->store(0);
    for (;;) {
        Request request;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (queue_.empty()) break;
            request = std::move(queue_.front());
            queue_.pop_front();
        }
        if (Handle(request)) return true;
    }
    stopFlag_->store(0);
    FinishBatch();
    return false;
}

bool VerificationWorker::StopSet() const {
    return stopFlag_->load() != 0;
}

void VerificationWorker::FinishBatch() {
    if (session_.set() != nullptr) {
        session_.FinishActivity();
    } else if (observer_ != nullptr) {
        observer_->StatusChanged(EmptyStatus());
    }
}

bool VerificationWorker::Handle(Request& request) {
    switch (request.kind) {
        case RequestKind::Quit:
            session_.Close();
            return true;
        case RequestKind::Close:
            session_.Close();
            return false;
        case RequestKind::Open:
            if (!StopSet()) session_.Open(request.path);
            return false;
        case RequestKind::Repair:
            if (!StopSet()) session_.Repair(request.repair);
            return false;
        case RequestKind::Rescan:
            rescan_ = request.on;
            if (rescan_) {
                if (!StopSet()) session_.Scan();
                timerRunning_ = true;
                timerDue_ = Clock::now() + options_.rescanPeriod;
            } else {
                timerRunning_ = false;
            }
            return false;
        case RequestKind::Reverify:
            if (!StopSet()) session_.Reverify();
            return false;
        case RequestKind::Detach:
            session_.Save();
            return true;
    }
    return false;
}

void VerificationWorker::OnRescanTimer() {
    timerRunning_ = false;
    if (rescan_) {
        session_.Scan();
        timerRunning_ = true;
        timerDue_ = Clock::now() + options_.rescanPeriod;
    }
    FinishBatch();
}

}  // namespace vantrove
