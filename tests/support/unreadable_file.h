#pragma once
// A fault injector for data that a disk cannot read: every read of one file
// (known by its inode, so under whatever name it is later given) that touches
// a byte range fails with EIO, as on a disk with bad sectors. It notes any
// attempt to open the file for writing, to write it or to resize it.
// Installed while it lives.

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "core/disk_file.h"

namespace vantrove::test {

class UnreadableFile : public FileFaultInjector {
  public:
    // Bytes [begin, end) of the file now at `path`.
    UnreadableFile(const std::string& path, uint64_t begin, uint64_t end);
    ~UnreadableFile() override;

    int BeforeOpen(const std::string& path, bool forWrite) override;
    int BeforeRead(const DiskFile& file, uint64_t offset, size_t length) override;
    int BeforeWrite(const DiskFile& file, uint64_t offset, size_t length) override;
    int BeforeSetSize(const DiskFile& file, uint64_t size) override;

    // Whether `path` names the file.
    bool IsIt(const std::string& path) const;
    bool written() const { return written_; }

  private:
    const ino_t inode_;
    const dev_t device_;
    const uint64_t begin_, end_;
    std::atomic<bool> written_{false};
};

}  // namespace vantrove::test
