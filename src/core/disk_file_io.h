#pragma once
// Small helpers shared by the DiskFile units (disk_file.cpp and
// disk_file_async.cpp); not for use outside them.

#include <cstddef>
#include <cstdint>

namespace vantrove {

class FileFaultInjector;

namespace detail {

// Reads up to `length` bytes at `offset` with pread, retrying after signals
// and partial transfers. Stores the bytes delivered in `*done` and returns 0
// when all arrived, kErrorHandleEof when the file ended first, or the errno
// of a failed call.
int PreadFully(int fd, uint64_t offset, uint8_t* buffer, size_t length, size_t* done);

// The installed fault injector, or nullptr.
FileFaultInjector* CurrentFaultInjector();

}  // namespace detail
}  // namespace vantrove
