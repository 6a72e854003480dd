#pragma once
// VerificationWorker: the thread on which one verify/repair dialog loads,
// scans and repairs its set.
//
// The worker owns a SetSession, and through it the current set and
// everything in it; no other thread touches the set. Each request is one
// step of the session: opening (with a saved state taken inside), scanning,
// verifying again, and repairing under the folder's lock (a busy folder
// leaves the set with ErrorKind::Busy). The dialog (or the command line, or a test) sends
// requests through the methods below, which only queue them and return at
// once: Open, CloseSet, Repair, SetRescan and Reverify. The worker thread
// takes them in batches: the request that woke it and every request queued
// while the batch runs. The stop flag is cleared when a batch starts and
// when it ends, so that a stop affects only the batch during which it came:
// once set, the running loop stops at its next check and the Open, Repair,
// rescan and Reverify requests left in the batch are skipped (Close, Quit
// and Detach are still honoured). After each batch the set finishes its
// activity and hands its status to the observer; without a set the observer
// gets an empty, idle status.
//
// With rescan on, the folder is scanned again a fixed period (30 s) after
// the end of the previous scan, so scans never overlap; the timer waits
// while requests are pending.
//
// Quit and Detach set the stop flag, raise the thread's priority, queue their
// request and wait for the thread: the set's state is saved and the thread
// ends. Detach hands a PAR 2.0 set back to the caller (further recovery
// volumes may be created for it); any other set is destroyed.
//
// The worker runs at the lowest thread priority of the process. Every
// method is called from one controlling thread (the dialog's); the observer
// is called on the worker thread and must outlive the worker.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "app/set_session.h"
#include "engine/recovery_set.h"
#include "engine/repair_options.h"
#include "engine/set_observer.h"
#include "engine/stop_flag.h"

namespace vantrove {

class VerificationCache;

struct VerificationWorkerOptions {
    // Time from the end of one automatic rescan to the start of the next.
    std::chrono::milliseconds rescanPeriod{30000};
    // Where the sets keep their verification states; null takes the
    // process-wide cache.
    VerificationCache* cache = nullptr;
};

// A set taken out of a worker by Detach, with the stop flag it polls (the
// set keeps a pointer to it, so the flag lives as long as the set).
struct DetachedSet {
    std::shared_ptr<StopFlag> stopFlag;
    std::unique_ptr<RecoverySet> set;  // null unless the set was PAR 2.0
    int exitCode = 0;
};

class VerificationWorker {
  public:
    explicit VerificationWorker(SetObserver* observer, VerificationWorkerOptions options = {});
    // Quits a running worker.
    ~VerificationWorker();
    VerificationWorker(const VerificationWorker&) = delete;
    VerificationWorker& operator=(const VerificationWorker&) = delete;

    // Starts the thread and waits until it runs; false when no thread could
    // be started (the caller then has no worker). A worker starts once.
    bool Start();
    bool running() const { return thread_.joinable(); }

    // ---- Requests, queued for the worker; they return at once and are lost
    // once the thread has ended.

    // Opens a file: the first file of a set (the format is chosen from its
    // name), or one more file of the current set.
    void Open(std::string path);
    // Saves and destroys the current set.
    void CloseSet();
    // Repairs the current set with `options` (RepairOptionsFrom the user's
    // settings).
    void Repair(const RepairOptions& options);
    // Switches the automatic rescan on (scanning at once) or off.
    void SetRescan(bool on);
    // Forgets every result and verifies everything again.
    void Reverify();

    // Asks the running loop to stop and the rest of the current batch to be
    // skipped.
    void RequestStop();

    // Saves and destroys the set and ends the thread; returns its exit code
    // (0), or -1 when the worker was not running.
    int Quit();
    // Saves the set and ends the thread; returns the set if it is PAR 2.0.
    DetachedSet Detach();

    const StopFlag& stopFlag() const { return *stopFlag_; }

  private:
    enum class RequestKind { Quit, Close, Open, Repair, Rescan, Reverify, Detach };
    struct Request {
        explicit Request(RequestKind k = RequestKind::Quit) : kind(k) {}
        RequestKind kind;
        std::string path;      // Open
        RepairOptions repair;  // Repair
        bool on = false;       // Rescan
    };
    using Clock = std::chrono::steady_clock;

    void Post(Request request);
    int Stop(RequestKind kind);
    void Run();
    // Handles one batch; true when the thread is to end.
    bool HandleBatch();
    // Handles one request; true when the thread is to end.
    bool Handle(Request& request);
    void OnRescanTimer();
    void FinishBatch();
    bool StopSet() const;

    SetObserver* observer_;
    VerificationWorkerOptions options_;
    std::shared_ptr<StopFlag> stopFlag_;
    std::thread thread_;

    // Shared with the worker thread, under mutex_.
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Request> queue_;
    bool accepting_ = false;  // the thread runs and takes requests
    bool started_ = false;    // the thread has set itself up
    int threadId_ = 0;        // the worker's kernel thread id

    // Worker thread only: the session owns the current set.
    SetSession session_;
    bool rescan_ = false;
    bool timerRunning_ = false;
    Clock::time_point timerDue_;
};

}  // namespace vantrove
