#pragma once
// One slot of a read pipeline.
//
// A pipeline owns an array of these, each with its own buffer, and drives
// them through DiskFile::beginRead / completeRead. State: 0 idle, 1 pending,
// 2 complete. Several requests may be outstanding on one file at once.

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

    int state = 0;             // 0 idle, 1 pending, 2 complete
    uint64_t offset = 0;       // file offset of the read
    uint32_t length = 0;       // bytes requested
    uint32_t transferred = 0;  // bytes delivered
    uint8_t* buffer = nullptr; // destination; the pipeline that owns the slot owns the memory

    // Waits for a pending read so that the buffer may be freed safely.
    std::unique_ptr<AsyncReadOperation> operation;
};

}  // namespace vantrove
