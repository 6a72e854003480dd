#include "core/worker_team.h"

namespace vantrove {

WorkerTeam::WorkerTeam(unsigned count) {
    for (unsigned i = 1; i < count; ++i) {
        try {
            threads_.emplace_back([this, i] { Loop(i); });
        } catch (...) {
            break;  // fewer helpers than asked for
        }
    }
}

WorkerTeam::~WorkerTeam() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_) t.join();
}

void WorkerTeam::Run(const std::function<void(unsigned)>& task) {
    if (threads_.empty()) {
        task(0);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        task_ = &task;
        pending_ = static_cast<unsigned>(threads_.size());
        ++generation_;
    }
    wake_.notify_all();
    task(0);
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return pending_ == 0; });
    task_ = nullptr;
}

void WorkerTeam::Loop(unsigned index) {
    uint64_t seen = 0;
    for (;;) {
        const std::function<void(unsigned)>* task;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [&] { return quit_ || generation_ != seen; });
            if (quit_) return;
            seen = generation_;
            task = task_;
        }
        (*task)(index);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (--pending_ == 0) done_.notify_one();
        }
    }
}

}  // namespace vantrove
