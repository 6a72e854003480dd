#pragma once
// Small helpers shared by the DiskFile units (disk_file.cpp and
// disk_file_async.cpp); not for use outside them.

#include <cstddef>
#include <cstdint>
#include <string>

namespace vantrove {

class FileFaultInjector;
struct AsyncFileChannel;

namespace detail {

// Reads up to `length` bytes at `offset` with pread, retrying after signals
// and partial transfers. Stores the bytes delivered in `*done` and returns 0
// when all arrived, kErrorHandleEof when the file ended first, or the errno
// of a failed call.
int PreadFully(int fd, uint64_t offset, uint8_t* buffer, size_t length, size_t* done);

// open(2) of `path`, repeated after a signal; when the process is out of
// descriptors, once more after the idle files have given theirs back.
// Returns the descriptor, or -1 with errno set.
int OpenDescriptor(const std::string& path, int flags);

// Whether no read in flight shares the channel any more (only its file does).
bool ChannelIsUnshared(AsyncFileChannel* channel);
// Lets go of the file's share of the channel; the last share closes it.
void ReleaseChannelShare(AsyncFileChannel* channel);

// The installed fault injector, or nullptr.
FileFaultInjector* CurrentFaultInjector();

}  // namespace detail
}  // namespace vantrove
