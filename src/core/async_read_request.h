#pragma once
// One slot of a read pipeline.
//
// A pipeline owns an array of these, each with its own buffer, and drives
// them through DiskFile::beginRead / completeRead. State: 0 idle, 1 pending,
// 2 complete. Several requests may be outstanding on one file at once.
//
// A request belongs to the thread that drives its pipeline. Destroying (or
// assigning over) a request whose read is still in flight first waits for
// that read, so the buffer may be freed as soon as the request is gone. The
// buffer itself must stay valid while the request is pending.
//
// How reads run underneath is chosen once per process (see AsyncReadMode):
// io_uring where the kernel allows it, else a small pool of pread threads;
// the synchronous mode defers every read to completeRead.

#include <cstdint>
#include <memory>

namespace vantrove {

struct AsyncReadOperation;  // the platform part of a pending read (disk_file.cpp)

struct AsyncReadRequest {
    AsyncReadRequest();
    ~AsyncReadRequest();
    AsyncReadRequest(const AsyncReadRequest&) = delete;
    AsyncReadRequest& operator=(const AsyncReadRequest&) = delete;
    AsyncReadRequest(AsyncReadRequest&&) noexcept;
    AsyncReadRequest& operator=(AsyncReadRequest&&) noexcept;

    int state = 0;              // 0 idle, 1 pending, 2 complete
    uint64_t offset = 0;        // file offset of the read
    uint32_t length = 0;        // bytes requested
    uint32_t transferred = 0;   // bytes delivered
    uint8_t* buffer = nullptr;  // destination; the pipeline that owns the slot owns the memory

    // Waits for a pending read so that the buffer may be freed safely.
    std::unique_ptr<AsyncReadOperation> operation;
};

// How beginRead/completeRead reach the disk.
enum class AsyncReadMode {
    Sync = 0,     // beginRead records the request; completeRead reads it
    Threads = 1,  // a pool of reader threads runs pread
    Uring = 2,    // io_uring, one ring per thread that starts reads
};

// The mode in use. Chosen on first use from the environment variable
// VANTROVE_ASYNC_IO ("uring", "threads" or "sync"); without it io_uring when
// the kernel allows it, else the reader threads.
AsyncReadMode CurrentAsyncReadMode();
// The mode the environment asks for, as chosen on first use: "sync",
// "threads" or "uring" in VANTROVE_ASYNC_IO, else io_uring when the kernel
// allows it; a request for io_uring where it is refused gives the threads.
AsyncReadMode DefaultAsyncReadMode();
// Switches the mode for reads begun from now on (reads already in flight
// finish the way they started). Returns false, changing nothing, when the
// mode cannot be used here (io_uring refused by the kernel or not built in).
bool SetAsyncReadMode(AsyncReadMode mode);
// Whether io_uring can be used in this process.
bool AsyncUringAvailable();
// "sync", "threads" or "uring".
const char* AsyncReadModeName(AsyncReadMode mode);

}  // namespace vantrove
