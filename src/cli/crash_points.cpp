#include "cli/crash_points.h"

#ifdef VANTROVE_CRASH_POINTS

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/disk_file.h"

namespace vantrove::cli {
namespace {

// The file of VANTROVE_FAIL_READS, known by its inode, and its bad bytes.
struct BadRange {
    ino_t inode = 0;
    dev_t device = 0;
    uint64_t begin = 0;
    uint64_t end = 0;
};

// PATH:BEGIN:END; false when `text` is not of that form or PATH is no file.
bool ParseBadRange(const char* text, BadRange& range) {
    const std::string s = text;
    const size_t second = s.rfind(':');
    if (second == std::string::npos || second == 0) return false;
    const size_t first = s.rfind(':', second - 1);
    if (first == std::string::npos) return false;
    struct stat st {};
    if (stat(s.substr(0, first).c_str(), &st) != 0) return false;
    range.inode = st.st_ino;
    range.device = st.st_dev;
    range.begin = std::strtoull(s.c_str() + first + 1, nullptr, 10);
    range.end = std::strtoull(s.c_str() + second + 1, nullptr, 10);
    return true;
}

class CrashPoints : public FileFaultInjector {
  public:
    CrashPoints(uint64_t crashAt, uint64_t signalAt, uint64_t fullAt, const char* countFile,
                const BadRange& bad)
        : crashAt_(crashAt),
          signalAt_(signalAt),
          fullAt_(fullAt),
          countFile_(countFile ? countFile : ""),
          bad_(bad) {}

    int BeforeRead(const DiskFile& file, uint64_t offset, size_t length) override {
        if (bad_.inode == 0 || offset >= bad_.end || offset + length <= bad_.begin) return 0;
        struct stat st {};
        return stat(file.path.c_str(), &st) == 0 && st.st_ino == bad_.inode &&
                       st.st_dev == bad_.device
                   ? EIO
                   : 0;
    }
    int BeforeOpen(const std::string&, bool) override { return Pass(Step()); }
    int BeforeWrite(const DiskFile&, uint64_t, size_t) override { return Full(Step()); }
    int BeforeSetSize(const DiskFile&, uint64_t) override { return Full(Step()); }
    int BeforeRename(const std::string&, const std::string&) override { return Pass(Step()); }
    int BeforeRemove(const std::string&) override { return Pass(Step()); }

    void WriteCount() const {
        if (countFile_.empty()) return;
        if (FILE* f = std::fopen(countFile_.c_str(), "w")) {
            std::fprintf(f, "%llu\n", static_cast<unsigned long long>(count_.load()));
            std::fclose(f);
        }
    }

  private:
    // The number of this operation.
    uint64_t Step() {
        const uint64_t n = ++count_;
        if (crashAt_ != 0 && n == crashAt_) kill(getpid(), SIGKILL);
        // As if the user pressed Ctrl-C or the system shut down just now;
        // the operation itself goes ahead. raise() runs the handler on this
        // thread before it returns, so the stop is asked for at exactly
        // this point.
        if (signalAt_ != 0 && n == signalAt_) raise(SIGTERM);
        return n;
    }
    static int Pass(uint64_t) { return 0; }
    // From operation fullAt_ on, the disk is full.
    int Full(uint64_t n) const { return fullAt_ != 0 && n >= fullAt_ ? ENOSPC : 0; }

    std::atomic<uint64_t> count_{0};
    const uint64_t crashAt_;
    const uint64_t signalAt_;
    const uint64_t fullAt_;
    const std::string countFile_;
    const BadRange bad_;
};

CrashPoints* g_points = nullptr;

uint64_t NumberFromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::strtoull(value, nullptr, 10) : 0;
}

}  // namespace

void InstallCrashPoints() {
    const char* countFile = std::getenv("VANTROVE_CRASH_COUNT");
    const uint64_t crashAt = NumberFromEnvironment("VANTROVE_CRASH_AT");
    const uint64_t signalAt = NumberFromEnvironment("VANTROVE_SIGNAL_AT");
    const uint64_t fullAt = NumberFromEnvironment("VANTROVE_FULL_AT");
    const char* failReads = std::getenv("VANTROVE_FAIL_READS");
    BadRange bad;
    if (failReads != nullptr && !ParseBadRange(failReads, bad)) failReads = nullptr;
    if (crashAt == 0 && signalAt == 0 && fullAt == 0 && countFile == nullptr &&
        failReads == nullptr)
        return;
    g_points = new CrashPoints(crashAt, signalAt, fullAt, countFile, bad);
    SetFileFaultInjector(g_points);
    std::atexit([] { g_points->WriteCount(); });
}

}  // namespace vantrove::cli

#else

namespace vantrove::cli {

void InstallCrashPoints() {}

}  // namespace vantrove::cli

#endif
