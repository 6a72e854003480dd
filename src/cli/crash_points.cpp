#include "cli/crash_points.h"

#ifdef VANTROVE_CRASH_POINTS

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/disk_file.h"

namespace vantrove::cli {
namespace {

class CrashPoints : public FileFaultInjector {
  public:
    CrashPoints(uint64_t crashAt, const char* countFile)
        : crashAt_(crashAt), countFile_(countFile ? countFile : "") {}

    int BeforeOpen(const std::string&, bool) override { return Step(); }
    int BeforeWrite(const DiskFile&, uint64_t, size_t) override { return Step(); }
    int BeforeSetSize(const DiskFile&, uint64_t) override { return Step(); }
    int BeforeRename(const std::string&, const std::string&) override { return Step(); }
    int BeforeRemove(const std::string&) override { return Step(); }

    void WriteCount() const {
        if (countFile_.empty()) return;
        if (FILE* f = std::fopen(countFile_.c_str(), "w")) {
            std::fprintf(f, "%llu\n", static_cast<unsigned long long>(count_.load()));
            std::fclose(f);
        }
    }

  private:
    int Step() {
        const uint64_t n = ++count_;
        if (crashAt_ != 0 && n == crashAt_) kill(getpid(), SIGKILL);
        return 0;
    }

    std::atomic<uint64_t> count_{0};
    const uint64_t crashAt_;
    const std::string countFile_;
};

CrashPoints* g_points = nullptr;

}  // namespace

void InstallCrashPoints() {
    const char* at = std::getenv("VANTROVE_CRASH_AT");
    const char* countFile = std::getenv("VANTROVE_CRASH_COUNT");
    if (at == nullptr && countFile == nullptr) return;
    g_points = new CrashPoints(at ? std::strtoull(at, nullptr, 10) : 0, countFile);
    SetFileFaultInjector(g_points);
    std::atexit([] { g_points->WriteCount(); });
}

}  // namespace vantrove::cli

#else

namespace vantrove::cli {

void InstallCrashPoints() {}

}  // namespace vantrove::cli

#endif
