// Asynchronous reads of DiskFile: the begin/complete pipeline contract on top
// of io_uring or of a small pool of pread threads.
//
// Design:
//  - Every AsyncReadRequest gets one AsyncReadOperation the first time it is
//    started and keeps it; the operation holds what a read in flight needs
//    (descriptor, buffer, offset, progress) and is never moved, so the kernel
//    or a reader thread may point at it while the request itself is moved.
//  - The descriptor of a file with reads in flight is shared through an
//    AsyncFileChannel: closing the DiskFile only lets go of its share, and
//    the last read to finish closes it. A read never lands in a descriptor
//    number that has since been reused for another file.
//  - io_uring: one ring per thread that starts reads (pipelines start and
//    finish their reads on one thread), guarded by a mutex so that a request
//    finished or destroyed on another thread still works. Reads that the
//    page cache can serve complete during submission and beginRead reports
//    them complete at once; short reads are resubmitted for the remainder.
//  - Threads: a process-wide pool of pread workers fed from one queue;
//    completion is published under one pool-wide mutex, so a worker never
//    touches an operation after its waiter may have freed it.
//  - Sync: beginRead only records the request; completeRead reads.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "core/disk_file.h"
#include "core/disk_file_io.h"
#include "core/machine.h"
#include "core/table_lookup.h"

#if defined(VANTROVE_HAVE_URING)
#include <liburing.h>
#endif

namespace vantrove {

struct AsyncFileChannel {
    explicit AsyncFileChannel(int descriptor) : fd(descriptor) {}
    int fd;
    std::atomic<uint32_t> holders{1};  // the DiskFile plus each read in flight
};

namespace {

void RetainChannel(AsyncFileChannel* channel) {
    channel->holders.fetch_add(1, std::memory_order_relaxed);
}

void ReleaseChannel(AsyncFileChannel* channel) {
    if (channel->holders.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        ::close(channel->fd);
        delete channel;
    }
}

class UringRing;

}  // namespace

struct AsyncReadOperation {
    // 1 while nothing is in flight. Written under the lock of whoever
    // completes the read (the ring's or the pool's).
    uint32_t idle = 1;
    AsyncReadMode mode = AsyncReadMode::Sync;
    AsyncFileChannel* channel = nullptr;
    std::shared_ptr<UringRing> ring;
    uint8_t* buffer = nullptr;
    uint64_t offset = 0;
    uint32_t length = 0;
    uint32_t done = 0;  // bytes delivered so far
    int error = 0;      // errno of the failure, kErrorHandleEof when the file ended

    // Blocks until no read is in flight.
    void WaitIdle();
};

namespace {

// ---------------------------------------------------------------------------
// Reader threads

class ReaderPool {
  public:
    static ReaderPool& Instance() {
        static ReaderPool pool;
        return pool;
    }

    // Queues the read. When no reader thread can be started (the system
    // refuses threads), the read is done here and now instead.
    void Start(AsyncReadOperation* op) {
        {
            std::lock_guard lock(queueMutex_);
            if (workers_.empty()) {
                unsigned count = std::clamp(ProcessorThreads(), 2u, 8u);
                try {
                    for (unsigned i = 0; i < count; ++i) workers_.emplace_back([this] { Run(); });
                } catch (const std::system_error&) {
                }
            }
            if (!workers_.empty()) {
                queue_.push_back(op);
                op = nullptr;
            }
        }
        if (op) {
            Execute(op);
            return;
        }
        queueReady_.notify_one();
    }

    void Wait(AsyncReadOperation* op) {
        std::unique_lock lock(doneMutex_);
        doneReady_.wait(lock, [op] { return op->idle != 0; });
    }

    bool IsIdle(AsyncReadOperation* op) {
        std::lock_guard lock(doneMutex_);
        return op->idle != 0;
    }

    ~ReaderPool() {
        {
            std::lock_guard lock(queueMutex_);
            stopping_ = true;
        }
        queueReady_.notify_all();
        for (std::thread& worker : workers_) worker.join();
    }

  private:
    void Run() {
        for (;;) {
            AsyncReadOperation* op;
            {
                std::unique_lock lock(queueMutex_);
                queueReady_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
                if (queue_.empty()) return;
                op = queue_.front();
                queue_.pop_front();
            }
            Execute(op);
        }
    }

    // Reads and publishes the outcome. The waiter may free the operation as
    // soon as the lock is released, so it is not touched after that.
    void Execute(AsyncReadOperation* op) {
        size_t got = 0;
        int error = detail::PreadFully(op->channel->fd, op->offset, op->buffer, op->length, &got);
        ReleaseChannel(op->channel);
        {
            std::lock_guard lock(doneMutex_);
            op->channel = nullptr;
            op->done = static_cast<uint32_t>(got);
            op->error = error;
            op->idle = 1;
        }
        doneReady_.notify_all();
    }

    std::mutex queueMutex_;
    std::condition_variable queueReady_;
    std::deque<AsyncReadOperation*> queue_;
    std::vector<std::thread> workers_;
    bool stopping_ = false;

    std::mutex doneMutex_;
    std::condition_variable doneReady_;
};

// ---------------------------------------------------------------------------
// io_uring

#if defined(VANTROVE_HAVE_URING)

constexpr unsigned kRingEntries = 256;

class UringRing {
  public:
    // The calling thread's ring, made on first use; nullptr when the kernel
    // refuses one.
    static std::shared_ptr<UringRing> ForThisThread() {
        thread_local std::shared_ptr<UringRing> ring;
        thread_local bool tried = false;
        if (!ring && !tried) {
            tried = true;
            auto candidate = std::make_shared<UringRing>();
            if (candidate->ready_) ring = std::move(candidate);
        }
        return ring;
    }

    UringRing() {
        io_uring_params params{};
        if (io_uring_queue_init_params(kRingEntries, &ring_, &params) == 0) {
            ready_ = true;
            capacity_ = params.cq_entries;
        }
    }

    ~UringRing() {
        if (ready_) io_uring_queue_exit(&ring_);
    }

    UringRing(const UringRing&) = delete;
    UringRing& operator=(const UringRing&) = delete;

    // Submits the read and collects whatever has completed already, so that
    // a read served from the page cache finishes here. Returns false when the
    // read could not be submitted (op->error says why; nothing in flight).
    bool Start(AsyncReadOperation* op) {
        std::lock_guard lock(mutex_);
        while (inflight_ + 1 >= capacity_) ReapLocked(nullptr, true);
        io_uring_sqe* sqe = NextSqeLocked();
        Prepare(sqe, op);
        ++inflight_;
        for (;;) {
            int rc = io_uring_submit(&ring_);
            if (rc >= 0) break;
            if (rc == -EINTR || rc == -EAGAIN || rc == -EBUSY) {
                ReapLocked(nullptr, false);
                continue;
            }
            // The kernel has not taken the entry: turn it into a no-op that
            // names no request, so a later submission cannot touch the buffer.
            io_uring_prep_nop(sqe);
            io_uring_sqe_set_data(sqe, nullptr);
            --inflight_;
            op->error = -rc;
            return false;
        }
        ReapLocked(nullptr, false);
        return true;
    }

    void Wait(AsyncReadOperation* op) {
        std::lock_guard lock(mutex_);
        ReapLocked(op, true);
    }

    bool IsIdle(AsyncReadOperation* op) {
        std::lock_guard lock(mutex_);
        return op->idle != 0;
    }

  private:
    io_uring_sqe* NextSqeLocked() {
        for (;;) {
            if (io_uring_sqe* sqe = io_uring_get_sqe(&ring_)) return sqe;
            io_uring_submit(&ring_);
        }
    }

    static void Prepare(io_uring_sqe* sqe, AsyncReadOperation* op) {
        io_uring_prep_read(sqe, op->channel->fd, op->buffer + op->done, op->length - op->done,
                           op->offset + op->done);
        io_uring_sqe_set_data(sqe, op);
    }

    // Handles every completion that has arrived; with `wait`, keeps waiting
    // until `target` is idle (or, without a target, until one completion has
    // been handled).
    void ReapLocked(AsyncReadOperation* target, bool wait) {
        bool resubmit = false;
        unsigned handledTotal = 0;
        for (;;) {
            unsigned head;
            unsigned handled = 0;
            io_uring_cqe* cqe;
            io_uring_for_each_cqe(&ring_, head, cqe) {
                resubmit |= Dispatch(cqe);
                ++handled;
            }
            io_uring_cq_advance(&ring_, handled);
            handledTotal += handled;
            if (resubmit) {
                io_uring_submit(&ring_);
                resubmit = false;
            }
            bool satisfied = target ? target->idle != 0 : handledTotal > 0;
            if (!wait || satisfied) return;
            int rc = io_uring_submit_and_wait(&ring_, 1);
            if (rc < 0 && rc != -EINTR && rc != -EAGAIN && rc != -EBUSY) {
                // The buffer is in the kernel's hands: it cannot be given up.
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    }

    // Accounts one completion; true when a follow-up read was queued.
    bool Dispatch(io_uring_cqe* cqe) {
        auto* op = static_cast<AsyncReadOperation*>(io_uring_cqe_get_data(cqe));
        if (!op) return false;
        --inflight_;
        int res = cqe->res;
        if (res == -EINTR || res == -EAGAIN) {
            Prepare(NextSqeLocked(), op);
            ++inflight_;
            return true;
        }
        if (res > 0) {
            op->done += static_cast<uint32_t>(res);
            if (op->done < op->length) {
                Prepare(NextSqeLocked(), op);
                ++inflight_;
                return true;
            }
            op->error = 0;
        } else {
            op->error = res == 0 ? kErrorHandleEof : -res;
        }
        ReleaseChannel(op->channel);
        op->channel = nullptr;
        op->idle = 1;
        return false;
    }

    std::mutex mutex_;
    io_uring ring_{};
    bool ready_ = false;
    unsigned capacity_ = 0;
    unsigned inflight_ = 0;
};

bool ProbeUring() {
    io_uring ring{};
    if (io_uring_queue_init(4, &ring, 0) != 0) return false;
    bool works = false;
    if (io_uring_sqe* sqe = io_uring_get_sqe(&ring)) {
        io_uring_prep_nop(sqe);
        io_uring_cqe* cqe = nullptr;
        if (io_uring_submit(&ring) == 1 && io_uring_wait_cqe(&ring, &cqe) == 0) {
            works = cqe->res == 0;
            io_uring_cqe_seen(&ring, cqe);
        }
    }
    io_uring_queue_exit(&ring);
    return works;
}

#else

class UringRing {
  public:
    static std::shared_ptr<UringRing> ForThisThread() { return nullptr; }
    bool Start(AsyncReadOperation*) { return false; }
    void Wait(AsyncReadOperation*) {}
    bool IsIdle(AsyncReadOperation*) { return true; }
};

bool ProbeUring() {
    return false;
}

#endif

// ---------------------------------------------------------------------------
// Mode

bool UringUsable() {
    static const bool usable = ProbeUring();
    return usable;
}

std::atomic<int> g_mode{-1};

}  // namespace

AsyncReadMode DefaultAsyncReadMode() {
    const char* choice = std::getenv("VANTROVE_ASYNC_IO");
    std::string_view wanted = choice ? choice : "";
    if (wanted == "sync") return AsyncReadMode::Sync;
    if (wanted == "threads") return AsyncReadMode::Threads;
    return UringUsable() ? AsyncReadMode::Uring : AsyncReadMode::Threads;
}

void AsyncReadOperation::WaitIdle() {
    switch (mode) {
        case AsyncReadMode::Sync:
            return;
        case AsyncReadMode::Threads:
            ReaderPool::Instance().Wait(this);
            return;
        case AsyncReadMode::Uring:
            if (ring) ring->Wait(this);
            return;
    }
}

AsyncReadMode CurrentAsyncReadMode() {
    int mode = g_mode.load(std::memory_order_acquire);
    if (mode < 0) {
        int initial = static_cast<int>(DefaultAsyncReadMode());
        if (g_mode.compare_exchange_strong(mode, initial, std::memory_order_acq_rel))
            mode = initial;
    }
    return static_cast<AsyncReadMode>(mode);
}

bool SetAsyncReadMode(AsyncReadMode mode) {
    if (mode == AsyncReadMode::Uring && !UringUsable()) return false;
    g_mode.store(static_cast<int>(mode), std::memory_order_release);
    return true;
}

bool AsyncUringAvailable() {
    return UringUsable();
}

const char* AsyncReadModeName(AsyncReadMode mode) {
    static constexpr std::pair<AsyncReadMode, const char*> kNames[] = {
        {AsyncReadMode::Sync, "sync"},
        {AsyncReadMode::Threads, "threads"},
        {AsyncReadMode::Uring, "uring"},
    };
    return LookUp(kNames, mode, "?");
}

// ---------------------------------------------------------------------------
// AsyncReadRequest

AsyncReadRequest::AsyncReadRequest() = default;

AsyncReadRequest::~AsyncReadRequest() {
    if (operation) operation->WaitIdle();
}

AsyncReadRequest::AsyncReadRequest(AsyncReadRequest&& other) noexcept
    : state(other.state),
      offset(other.offset),
      length(other.length),
      transferred(other.transferred),
      buffer(other.buffer),
      operation(std::move(other.operation)) {
    other.state = 0;
}

AsyncReadRequest& AsyncReadRequest::operator=(AsyncReadRequest&& other) noexcept {
    if (this != &other) {
        if (operation) operation->WaitIdle();
        state = other.state;
        offset = other.offset;
        length = other.length;
        transferred = other.transferred;
        buffer = other.buffer;
        operation = std::move(other.operation);
        other.state = 0;
    }
    return *this;
}

// ---------------------------------------------------------------------------
// DiskFile

bool detail::ChannelIsUnshared(AsyncFileChannel* channel) {
    return channel->holders.load(std::memory_order_acquire) == 1;
}

void detail::ReleaseChannelShare(AsyncFileChannel* channel) {
    ReleaseChannel(channel);
}

void DiskFile::ReleaseDescriptor() {
    if (channel_) {
        ReleaseChannel(channel_);
        channel_ = nullptr;
    } else if (::close(fd_) != 0 && errno != EINTR) {
        lastError_ = errno;
    }
    fd_ = -1;
}

DiskFile::ReadStatus DiskFile::FailRead(AsyncReadRequest& request, int error) {
    request.state = 0;
    Fail(error);
    return ReadStatus::Failed;
}

DiskFile::ReadStatus DiskFile::beginRead(AsyncReadRequest& request) {
    if (request.state != 0) return Fail(EBUSY), ReadStatus::Failed;  // still owned by an earlier read
    request.transferred = 0;
    if (!open_) return FailRead(request, EBADF);
    if (request.length != 0 && !request.buffer) return FailRead(request, EFAULT);
    if (FileFaultInjector* injector = detail::CurrentFaultInjector()) {
        if (int error = injector->BeforeRead(*this, request.offset, request.length))
            return FailRead(request, error);
    }
    if (request.length == 0) {
        request.state = 2;
        return ReadStatus::Complete;
    }

    AsyncReadMode mode = CurrentAsyncReadMode();
    std::shared_ptr<UringRing> ring;
    if (mode == AsyncReadMode::Uring) {
        ring = UringRing::ForThisThread();
        if (!ring) mode = AsyncReadMode::Threads;
    }
    if (!request.operation) request.operation = std::make_unique<AsyncReadOperation>();
    AsyncReadOperation* op = request.operation.get();
    op->mode = mode;
    if (mode == AsyncReadMode::Sync) {
        request.state = 1;
        return ReadStatus::Pending;
    }

    // Held to the end: a read completing at once is finished below.
    DescriptorUse use(*this);
    if (use.fd() < 0) return FailRead(request, lastError_);
    if (!channel_) channel_ = new AsyncFileChannel(fd_);
    RetainChannel(channel_);
    op->channel = channel_;
    op->buffer = request.buffer;
    op->offset = request.offset;
    op->length = request.length;
    op->done = 0;
    op->error = 0;
    op->idle = 0;
    request.state = 1;

    if (mode == AsyncReadMode::Threads) {
        ReaderPool::Instance().Start(op);
        return ReadStatus::Pending;
    }

    if (op->ring != ring) op->ring = std::move(ring);
    if (!op->ring->Start(op)) {
        ReleaseChannel(op->channel);
        op->channel = nullptr;
        op->idle = 1;
        return FailRead(request, op->error);
    }
    // A read the page cache could serve has completed during submission.
    if (!op->ring->IsIdle(op)) return ReadStatus::Pending;
    if (FinishAsyncRead(request) == ReadStatus::Complete) {
        request.state = 2;
        return ReadStatus::Complete;
    }
    return ReadStatus::Failed;
}

// Takes the outcome of the request's finished operation: 2 when all bytes
// arrived, else 0 with the error recorded. A read that io_uring failed for a
// reason of its own (a file system without support, a cancellation because
// the thread that started it ended) is finished with pread when the file is
// still open, so such a failure never reaches the caller as a read error.
DiskFile::ReadStatus DiskFile::FinishAsyncRead(AsyncReadRequest& request) {
    AsyncReadOperation* op = request.operation.get();
    if (op->mode == AsyncReadMode::Uring && op->error != 0 && op->error != kErrorHandleEof &&
        open_) {
        DescriptorUse use(*this);
        if (use.fd() >= 0) {
            size_t got = 0;
            op->error = detail::PreadFully(use.fd(), op->offset + op->done, op->buffer + op->done,
                                           op->length - op->done, &got);
            op->done += static_cast<uint32_t>(got);
        }
    }
    request.transferred = op->done;
    if (op->done == request.length && op->error == 0) return ReadStatus::Complete;
    return FailRead(request, op->error ? op->error : kErrorHandleEof);
}

DiskFile::ReadStatus DiskFile::completeRead(AsyncReadRequest& request) {
    int state = request.state;
    request.state = 0;
    if (state == 2) {
        if (request.transferred == request.length) return ReadStatus::Complete;
        return Fail(kErrorHandleEof), ReadStatus::Failed;
    }
    if (state != 1) return Fail(EINVAL), ReadStatus::Failed;

    AsyncReadOperation* op = request.operation.get();
    if (!op || op->mode == AsyncReadMode::Sync) {
        // Deferred read: done now. Like the other modes, the file's real end
        // decides, not the recorded size.
        DescriptorUse use(*this);
        if (use.fd() < 0) return ReadStatus::Failed;
        size_t got = 0;
        int error =
            detail::PreadFully(use.fd(), request.offset, request.buffer, request.length, &got);
        request.transferred = static_cast<uint32_t>(got);
        if (error) return Fail(error), ReadStatus::Failed;
        return ReadStatus::Complete;
    }

    op->WaitIdle();
    return FinishAsyncRead(request);
}

}  // namespace vantrove
