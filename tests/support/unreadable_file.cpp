#include "support/unreadable_file.h"

#include <sys/stat.h>

#include <cerrno>

namespace vantrove::test {
namespace {

struct stat StatOf(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) st.st_ino = 0;
    return st;
}

}  // namespace

UnreadableFile::UnreadableFile(const std::string& path, uint64_t begin, uint64_t end)
    : inode_(StatOf(path).st_ino), device_(StatOf(path).st_dev), begin_(begin), end_(end) {
    SetFileFaultInjector(this);
}

UnreadableFile::~UnreadableFile() {
    SetFileFaultInjector(nullptr);
}

bool UnreadableFile::IsIt(const std::string& path) const {
    const struct stat st = StatOf(path);
    return inode_ != 0 && st.st_ino == inode_ && st.st_dev == device_;
}

int UnreadableFile::BeforeOpen(const std::string& path, bool forWrite) {
    if (forWrite && IsIt(path)) written_ = true;
    return 0;
}

int UnreadableFile::BeforeRead(const DiskFile& file, uint64_t offset, size_t length) {
    return offset < end_ && offset + length > begin_ && IsIt(file.path) ? EIO : 0;
}

int UnreadableFile::BeforeWrite(const DiskFile& file, uint64_t, size_t) {
    if (IsIt(file.path)) written_ = true;
    return 0;
}

int UnreadableFile::BeforeSetSize(const DiskFile& file, uint64_t) {
    if (IsIt(file.path)) written_ = true;
    return 0;
}

}  // namespace vantrove::test
