#pragma once
// DiskFile: the one object through which every file is read or written.
//
// It hides the file descriptor, keeps the file's size and times, addresses
// data with 64-bit offsets, and offers positioned reads and writes, a
// two-step asynchronous read for the block pipelines, sizing, deletion and
// renaming with a free-name fallback. A subclass may keep its own record of
// the file and hear of the file's creation and disappearance.
//
// A DiskFile is shared through DiskFileRef by every list that mentions it and
// is used by one thread at a time. An open file need not hold a descriptor:
// the process keeps a bounded number of them (see SetDiskFileDescriptorBudget),
// takes back those of files that have been idle longest when more are needed,
// and a file reopens its path at its next read or write (and fails, ESTALE,
// when the path no longer leads to the same file). No operation throws:
// failures return false (or 0) and leave lastError() describing them (an
// errno value, also stored in errno). Paths may be as long as the system allows (PATH_MAX); longer ones
// fail with ENAMETOOLONG.

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/async_read_request.h"
#include "core/file_time.h"
#include "core/work_files.h"

namespace vantrove {

struct AsyncFileChannel;  // a descriptor shared with reads in flight (disk_file_async.cpp)

// Error codes that are not errno values of a system call but describe the
// same failures: a read beyond the recorded size or a short read.
constexpr int kErrorHandleEof = ENODATA;  // "No data available"

class DiskFile {
  public:
    DiskFile() = default;
    explicit DiskFile(std::string path) : path(std::move(path)) {}
    virtual ~DiskFile();
    DiskFile(const DiskFile&) = delete;
    DiskFile& operator=(const DiskFile&) = delete;

    // Creates or truncates the file for reading and writing; size 0
    // (PresenceChanged(Created)). The file is held with an exclusive advisory lock while it
    // holds a descriptor, taken again when it reopens (a second creator fails
    // with EBUSY, before truncating anything), and a
    // symbolic link at the final component is refused (ELOOP).
    bool create(const std::string& newPath = {});
    // Creates the work file of `finalPath` (see core/work_files.h) under its
    // first free work name, journaled before it is made and made only where
    // no file is (a file of another's is never truncated); `path` becomes
    // the work name. On failure `path` names the work name tried last.
    bool createWorkFile(const std::string& finalPath);
    // Opens an existing file for reading; reads size and times. A missing
    // file is reported through PresenceChanged(Missing). Only regular files open (a folder
    // fails with EISDIR, a FIFO or device with EINVAL).
    bool open(const std::string& newPath = {});
    // Opens an existing file for reading and writing (repair targets); like
    // create, refuses a symbolic link at the final component (ELOOP).
    bool openForWrite(const std::string& newPath = {});
    // Exactly `length` bytes at `offset`; fails without a disk access when
    // closed (EBADF) or when offset + length exceeds the recorded size
    // (kErrorHandleEof). A short read fails with kErrorHandleEof too.
    bool read(uint64_t offset, void* buffer, size_t length);
    // Exactly `length` bytes at `offset`; raises the recorded size when the
    // write goes past it. A short write fails (ENOSPC and the like).
    bool write(uint64_t offset, const void* buffer, size_t length);
    // Truncates or extends the file to `newSize`.
    bool setSize(uint64_t newSize);
    // How an asynchronous read stands.
    enum class ReadStatus { Failed, Pending, Complete };
    // Starts a read of request.length bytes at request.offset into
    // request.buffer: Complete (exactly `length` bytes already arrived),
    // Pending, or Failed (closed file, a read already under way in
    // the request, or an immediate completion with fewer bytes). A read is
    // not held to the recorded size: the file's real end decides. REQUIRES:
    // the request is idle and its buffer stays valid until it is idle again.
    ReadStatus beginRead(AsyncReadRequest& request);
    // Finishes a read, waiting for it when it is pending: Complete when
    // exactly `length` bytes arrived, else Failed (request.transferred
    // says how many). The request returns to idle either way.
    ReadStatus completeRead(AsyncReadRequest& request);
    // Refreshes size and times, then closes. Keeps lastError() and errno as
    // they were, so a failure can still be reported after closing. Reads
    // still in flight finish normally.
    void close();
    // Deletes the file at `path` (closing it first); PresenceChanged(Missing)
    // follows, also when the file was already gone (which still fails).
    bool remove();
    // Moves the file to `newPath`, or to the first free "%s.%d" name when
    // `newPath` is taken (counter from 1); with no `newPath`, steps aside to
    // "<path>.N". Never replaces an existing file, even one that appears
    // while the name is chosen. On failure nothing changes.
    bool rename(const std::string& newPath = {});
    // Puts a finished work file in place: flushes it to the disk, moves it to
    // `finalPath` (never over an existing file unless `replace`) and flushes
    // the folder, so that after any crash the name holds either nothing or
    // the whole file. On failure nothing changes.
    bool moveIntoPlace(const std::string& finalPath, bool replace = false);

    bool isOpen() const { return open_; }
    int lastError() const { return lastError_; }

    std::string path;
    uint64_t size = 0;
    FileTime creationTime = 0;
    FileTime lastWriteTime = 0;

  protected:
    enum class Presence {
        Created,  // a create begins: whatever the file held is gone
        Missing,  // an open or a removal found no file, or a removal succeeded
    };
    // Told of the file's creation and disappearance; nothing here.
    virtual void PresenceChanged(Presence) {}

  private:
    bool Fail(int error);
    bool RefreshFromHandle();
    enum class OpenMode { Read, ReadWrite, Create, CreateNew };
    bool OpenWith(const std::string& newPath, OpenMode mode);
    ReadStatus FailRead(AsyncReadRequest& request, int error);
    ReadStatus FinishAsyncRead(AsyncReadRequest& request);
    bool CheckRead(uint64_t offset, size_t length);
    void ReleaseDescriptor();

    // The descriptor budget (disk_file_descriptors.cpp). A DescriptorUse
    // holds the file's descriptor for one operation, reopening the file when
    // its descriptor was taken back; while any is held the descriptor stays.
    friend class DescriptorPool;
    class DescriptorUse {
      public:
        explicit DescriptorUse(DiskFile& file);
        ~DescriptorUse();
        DescriptorUse(const DescriptorUse&) = delete;
        DescriptorUse& operator=(const DescriptorUse&) = delete;
        int fd() const { return fd_; }  // -1 when the file could not be reopened
      private:
        DiskFile& file_;
        int fd_;
    };
    bool Reopen();
    // Records the freshly opened descriptor fd_ in the budget.
    void EnterPool();
    // Takes the file out of the budget: fd_ (if any) is the caller's alone.
    void LeavePool();
    bool RefreshFromPath();

    int fd_ = -1;
    bool open_ = false;
    OpenMode mode_ = OpenMode::Read;
    uint64_t device_ = 0;
    uint64_t inode_ = 0;
    // Place in the process-wide list of descriptors held, most recently used
    // first; guarded by the pool's lock.
    DiskFile* poolPrev_ = nullptr;
    DiskFile* poolNext_ = nullptr;
    bool pooled_ = false;
    std::atomic<int> uses_{0};  // DescriptorUse objects alive
    int lastError_ = 0;
    // Small reads of a file opened for reading only are served from a window
    // read ahead in one call: packets and headers are read a few dozen bytes
    // at a time, one after another. Dropped on close.
    bool readOnly_ = false;
    std::unique_ptr<uint8_t[]> ahead_;
    size_t aheadCapacity_ = 0;
    uint64_t aheadOffset_ = 0;
    size_t aheadLength_ = 0;
    // Shares the descriptor with reads still in flight, created by the first
    // beginRead; the descriptor is closed when the file and every such read
    // have let go of it.
    AsyncFileChannel* channel_ = nullptr;
};

using DiskFileRef = std::shared_ptr<DiskFile>;

// Test seam: when installed, consulted before each operation of every
// DiskFile; a non-zero return is taken as the errno of a failure of that
// operation. Only tests install one.
class FileFaultInjector {
  public:
    virtual ~FileFaultInjector() = default;
    virtual int BeforeOpen(const std::string& path, bool forWrite) { return 0; }
    // Consulted by read and by beginRead (once per asynchronous read).
    virtual int BeforeRead(const DiskFile& file, uint64_t offset, size_t length) { return 0; }
    virtual int BeforeWrite(const DiskFile& file, uint64_t offset, size_t length) { return 0; }
    virtual int BeforeSetSize(const DiskFile& file, uint64_t size) { return 0; }
    virtual int BeforeRename(const std::string& from, const std::string& to) { return 0; }
    virtual int BeforeRemove(const std::string& path) { return 0; }
    // True pretends the file system refuses an atomic no-replace rename, so
    // that rename takes its link-then-unlink road.
    virtual bool RefuseNoReplaceRename() { return false; }
};
// Installs (or with nullptr removes) the process-wide injector.
void SetFileFaultInjector(FileFaultInjector* injector);

// How many descriptors open DiskFiles may hold together before those idle
// longest are closed (to be reopened when next used). 0 restores the default:
// a quarter of the soft RLIMIT_NOFILE at first use, between 16 and 8192.
void SetDiskFileDescriptorBudget(size_t budget);
// The descriptors open DiskFiles hold now (reads in flight may hold a few more).
size_t DiskFileDescriptorsHeld();
// Raises the soft limit on open files to the hard limit; called once at
// program start. Jobs work within any limit, this only spares reopenings.
void RaiseOpenFileLimit();

// The system's text for an errno value ("Errore %d" style fallback is the
// caller's).
std::string SystemErrorText(int error);

}  // namespace vantrove
