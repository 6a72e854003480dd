#pragma once
// The thread that takes the whole-file MD5 of a creation's dominant file.
// Private to create/.

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "core/md5.h"

namespace vantrove {

// Runs whole-file MD5s on a thread of its own, in the order fed, on copies
// of the data handed to it or on data left in place until hashed. A file
// that holds most of the data has its whole-file MD5 as one serial stream,
// the longest chain of work in a creation: on its own thread it never waits
// for the arithmetic, and the arithmetic waits for it only when every copy
// buffer is full.
class FileHashThread {
  public:
    FileHashThread() : thread_([this] { Loop(); }) {}
    ~FileHashThread() { Finish(); }

    // Appends a copy of `length` bytes at `data` to `context`; returns the
    // bytes taken. With `wait` all of them are taken, waiting for room as
    // needed; without, as many as there is room for now.
    size_t Feed(Md5Context* context, const uint8_t* data, size_t length, bool wait = true) {
        size_t taken = 0;
        while (taken < length) {
            const size_t n = std::min(length - taken, kPieceBytes);
            std::unique_lock lock(mutex_);
            auto room = [&] { return !free_.empty() || made_ < kPieces; };
            if (!wait && !room()) break;
            space_.wait(lock, room);
            std::vector<uint8_t> buffer;
            if (!free_.empty()) {
                buffer = std::move(free_.back());
                free_.pop_back();
            } else {
                ++made_;
            }
            lock.unlock();
            buffer.resize(kPieceBytes);
            std::memcpy(buffer.data(), data + taken, n);
            lock.lock();
            queue_.push_back({context, std::move(buffer), nullptr, n});
            ++queued_;
            work_.notify_one();
            taken += n;
        }
        return taken;
    }
    // Appends `length` bytes at `data` to `context` without a copy: they
    // must stay as they are until Hashed() is true for the ticket returned.
    uint64_t FeedInPlace(Md5Context* context, const uint8_t* data, size_t length) {
        std::lock_guard lock(mutex_);
        queue_.push_back({context, {}, data, length});
        work_.notify_one();
        return ++queued_;
    }
    bool Hashed(uint64_t ticket) {
        std::lock_guard lock(mutex_);
        return hashed_ >= ticket;
    }
    void WaitHashed(uint64_t ticket) {
        std::unique_lock lock(mutex_);
        space_.wait(lock, [&] { return hashed_ >= ticket; });
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
    static constexpr size_t kPieceBytes = 1048576;
    static constexpr size_t kPieces = 16;
    struct Piece {
        Md5Context* context;
        std::vector<uint8_t> buffer;
        const uint8_t* inPlace;  // or the data are in `buffer`
        size_t length;
    };

    void Loop() {
        std::unique_lock lock(mutex_);
        for (;;) {
            work_.wait(lock, [&] { return quit_ || !queue_.empty(); });
            if (queue_.empty()) return;
            Piece piece = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            piece.context->Update(piece.inPlace != nullptr ? piece.inPlace : piece.buffer.data(),
                                  piece.length);
            lock.lock();
            if (piece.inPlace == nullptr) free_.push_back(std::move(piece.buffer));
            ++hashed_;
            space_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable work_, space_;
    std::deque<Piece> queue_;
    std::vector<std::vector<uint8_t>> free_;
    size_t made_ = 0;
    uint64_t queued_ = 0, hashed_ = 0;  // pieces, in the order fed
    bool quit_ = false;
    std::thread thread_;
};

}  // namespace vantrove
