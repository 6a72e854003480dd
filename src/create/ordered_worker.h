#pragma once
// OrderedWorker: a thread that runs posted work items one after another, in
// order. MD5 is serial within one stream, so each stream of a creation job
// gets its own worker and the streams run beside the arithmetic.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace vantrove {

class OrderedWorker {
  public:
    OrderedWorker() : thread_([this] { Loop(); }) {}
    ~OrderedWorker() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            quit_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    // Returns the item's ticket for Done and WaitFor.
    uint64_t Post(std::function<void()> work) {
        uint64_t ticket;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            queue_.push_back(std::move(work));
            ticket = ++posted_;
        }
        wake_.notify_all();
        return ticket;
    }
    bool Done(uint64_t ticket) {
        std::lock_guard<std::mutex> lock(mutex_);
        return finished_ >= ticket;
    }
    void WaitFor(uint64_t ticket) {
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [&] { return finished_ >= ticket; });
    }
    // Waits until everything posted so far has run.
    void Drain() {
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [this] { return finished_ == posted_; });
    }

  private:
    void Loop() {
        for (;;) {
            std::function<void()> work;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [this] { return quit_ || !queue_.empty(); });
                if (queue_.empty()) return;
                work = std::move(queue_.front());
                queue_.pop_front();
            }
            work();
            {
                std::lock_guard<std::mutex> lock(mutex_);
                ++finished_;
            }
            done_.notify_all();
        }
    }
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    std::deque<std::function<void()>> queue_;
    uint64_t posted_ = 0, finished_ = 0;
    bool quit_ = false;
    std::thread thread_;
};


}  // namespace vantrove
