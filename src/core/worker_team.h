#pragma once
// WorkerTeam: a fixed set of helper threads that run one task together with
// the calling thread.
//
// Run(task) calls task(i) for i = 0 .. Size()-1, task(0) on the caller and
// the others on the helpers, and returns when all have finished. Used by the
// long computations (recovery data pass, creation passes) to spread work over
// the cores. One thread drives a team at a time.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace vantrove {

class WorkerTeam {
  public:
    // Starts count - 1 helper threads (fewer when the system refuses more).
    explicit WorkerTeam(unsigned count);
    ~WorkerTeam();
    WorkerTeam(const WorkerTeam&) = delete;
    WorkerTeam& operator=(const WorkerTeam&) = delete;

    // Threads taking part in Run, the caller included.
    unsigned Size() const { return static_cast<unsigned>(threads_.size()) + 1; }

    void Run(const std::function<void(unsigned)>& task);

  private:
    void Loop(unsigned index);

    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    const std::function<void(unsigned)>* task_ = nullptr;
    unsigned pending_ = 0;
    uint64_t generation_ = 0;
    bool quit_ = false;
};

}  // namespace vantrove
