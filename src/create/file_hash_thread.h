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

// Runs whole-file MD5s on a thread of its own, on copies of the data handed
// to it, so that the pass goes on as soon as the bytes are copied. A file
// that holds most of the data has its whole-file MD5 as one serial stream,
// the longest chain of work in the pass: on its own thread it never waits
// for the arithmetic, and the arithmetic waits for it only when every copy
// buffer is full.
class FileHashThread {
  public:
    FileHashThread() : thread_([this] { Loop(); }) {}
    ~FileHashThread() { Finish(); }

    // Appends `length` bytes at `data` to `context`; returns the bytes
    // taken. With `wait` all of them are taken, waiting for room as needed;
    // without, as many as there is room for now.
    size_t Feed(Md5Context* context, const uint8_t* data, size_t length, bool wait = true) {
        size_t taken = 0;
        while (taken < length) {
            const size_t n = std::min(length - taken, kPieceBytes);
            std::unique_lock lock(mutex_);
            auto room = [&] { return !free_.empty() || made_ < pieces_; };
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
            queue_.push_back({context, std::move(buffer), n});
            work_.notify_one();
            taken += n;
        }
        return taken;
    }
    // Lets the queue hold up to `pieces` pieces of 1 MiB from now on.
    void SetPieces(size_t pieces) {
        std::lock_guard lock(mutex_);
        pieces_ = pieces;
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

    // Pieces while a pass holds its buffers.
    static constexpr size_t kPassPieces = 8;

  private:
    static constexpr size_t kPieceBytes = 1048576;
    struct Piece {
        Md5Context* context;
        std::vector<uint8_t> buffer;
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
            piece.context->Update(piece.buffer.data(), piece.length);
            lock.lock();
            if (made_ > pieces_) {
                --made_;
            } else {
                free_.push_back(std::move(piece.buffer));
            }
            space_.notify_one();
        }
    }

    std::mutex mutex_;
    std::condition_variable work_, space_;
    std::deque<Piece> queue_;
    std::vector<std::vector<uint8_t>> free_;
    size_t made_ = 0;
    // Pieces the queue may hold: few while the pass holds its buffers, more
    // in the read-back, where they let the hash run on while the blocks
    // that feed it are read and checked.
    size_t pieces_ = kPassPieces;
    bool quit_ = false;
    std::thread thread_;
};

}  // namespace vantrove
