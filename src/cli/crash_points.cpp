#include "cli/crash_points.h"

#ifdef VANTROVE_CRASH_POINTS

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/disk_file.h"

namespace vantrove::cli {
namespace {

class CrashPoints : public FileFaultInjector {
  public:
    CrashPoints(uint64_t crashAt, uint64_t signalAt, uint64_t fullAt, const char* countFile)
        : crashAt_(crashAt),
          signalAt_(signalAt),
          fullAt_(fullAt),
          countFile_(countFile ? countFile : "") {}

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
    if (crashAt == 0 && signalAt == 0 && fullAt == 0 && countFile == nullptr) return;
    g_points = new CrashPoints(crashAt, signalAt, fullAt, countFile);
    SetFileFaultInjector(g_points);
    std::atexit([] { g_points->WriteCount(); });
}

}  // namespace vantrove::cli

#else

namespace vantrove::cli {

void InstallCrashPoints() {}

}  // namespace vantrove::cli

#endif
