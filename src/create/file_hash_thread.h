#pragma once
// The thread that takes the whole-file MD5 of a creation's dominant file.
// Private to create/.

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "core/md5.h"

namespace vantrove {

// Runs whole-file MD5s on a thread of its own, in the order fed, on data
// left in place until hashed. A file that holds most of the data has its
// whole-file MD5 as one serial stream, the longest chain of work in a
// creation: on its own thread it never waits for the arithmetic, and the
// arithmetic waits for it only when it needs a buffer the thread has not
// finished with.
class FileHashThread {
  public:
    FileHashThread() : thread_([this] { Loop(); }) {}
    ~FileHashThread() { Finish(); }

    // Appends `length` bytes at `data` to `context`: they must stay as they
    // are until Hashed() is true for the ticket returned.
    uint64_t FeedInPlace(Md5Context* context, const uint8_t* data, size_t length) {
        std::lock_guard lock(mutex_);
        queue_.push_back({context, data, length});
        work_.notify_one();
        return ++queued_;
    }
    bool Hashed(uint64_t ticket) {
        std::lock_guard lock(mutex_);
        return hashed_ >= ticket;
    }
    void WaitHashed(uint64_t ticket) {
        std::unique_lock lock(mutex_);
        done_.wait(lock, [&] { return hashed_ >= ticket; });
    }
    // Waits until everything fed is hashed; the thread then ends.
    void Finish() {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        work_.notify_one();
        if (thread_.joinable()) thread_.join();
    }

  private:
    struct Piece {
        Md5Context* context;
        const uint8_t* data;
        size_t length;
    };

    void Loop() {
        std::unique_lock lock(mutex_);
        for (;;) {
            work_.wait(lock, [&] { return quit_ || !queue_.empty(); });
            if (queue_.empty()) return;
            const Piece piece = queue_.front();
            queue_.pop_front();
            lock.unlock();
            piece.context->Update(piece.data, piece.length);
            lock.lock();
            ++hashed_;
            done_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable work_, done_;
    std::deque<Piece> queue_;
    uint64_t queued_ = 0, hashed_ = 0;  // pieces, in the order fed
    bool quit_ = false;
    std::thread thread_;
};

}  // namespace vantrove
