// Creation of a PAR 2.0 set over 1 GiB in 8 files, block size 768000 and
// 10 % redundancy, against Debian's par2 (`par2 c -s768000 -r10`) with the
// same number of threads, in the same run. Each tool runs in a child
// process so that wall time, CPU time and peak memory (maximum resident set)
// are measured the same way for both. Run by hand:
//   cmake -S . -B build -DVANTROVE_BUILD_BENCH=ON && cmake --build build --target create_bench
//   ./build/bench/create_bench
// The data (8 × 128 MiB of random bytes) is made once in
// $VANTROVE_BENCH_DIR (default $TMPDIR/vantrove-create-bench) and kept.
// VANTROVE_BENCH_FILE_MIB changes the size of each file. The ratios printed
// at the end are what matters; machines shared with other work make
// absolute times meaningless.

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/machine.h"
#include "create/creation_job.h"

namespace vantrove {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kBlockSize = 768000;
constexpr int kFiles = 8;

struct Measure {
    bool ok = false;
    double wall = 0, cpu = 0;
    long maxRssKb = 0;
};
Measure gOurs, gPar2;

std::string BenchDir() {
    if (const char* d = std::getenv("VANTROVE_BENCH_DIR")) return d;
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp != nullptr ? tmp : "/tmp") + "/vantrove-create-bench";
}

uint64_t FileBytes() {
    uint64_t mib = 128;
    if (const char* v = std::getenv("VANTROVE_BENCH_FILE_MIB")) mib = std::strtoull(v, nullptr, 10);
    return std::max<uint64_t>(mib, 1) << 20;
}

std::vector<std::string> SourceFiles() {
    const std::string dir = BenchDir() + "/data";
    fs::create_directories(dir);
    std::vector<std::string> files;
    std::mt19937_64 rng(42);
    std::vector<uint64_t> chunk(1 << 17);
    for (int i = 0; i < kFiles; ++i) {
        const std::string path = dir + "/file" + std::to_string(i) + ".bin";
        files.push_back(path);
        std::error_code ec;
        if (fs::file_size(path, ec) == FileBytes()) continue;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        for (uint64_t written = 0; written < FileBytes(); written += chunk.size() * 8) {
            for (auto& w : chunk) w = rng();
            out.write(reinterpret_cast<const char*>(chunk.data()),
                      static_cast<std::streamsize>(
                          std::min<uint64_t>(chunk.size() * 8, FileBytes() - written)));
        }
    }
    return files;
}

void CleanOutput(const std::string& dir) {
    fs::remove_all(dir);
    fs::create_directories(dir);
}

// Runs `child` in a forked process; its exit status 0 means success.
template <typename F>
Measure RunChild(F child) {
    Measure m;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) _exit(child());
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return m;
    m.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
            static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
    m.maxRssKb = usage.ru_maxrss;
    m.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return m;
}

unsigned Threads() {
    return ProcessorThreads();
}

int CreateOurs(const std::vector<std::string>& files, const std::string& out) {
    CreationSettings settings;
    settings.restrictBlockSize = false;
    settings.recoveryFileSizeScheme = kPowersOfTwo;
    MachineFigures machine;
    machine.physicalMemoryBytes = PhysicalMemoryBytes();
    CreationParameters p(settings, machine);
    std::vector<CreationSourceFile> list;
    for (const auto& f : files) list.push_back({f, fs::file_size(f)});
    p.AddFiles(list);
    p.setBlockSize(kBlockSize);
    p.setRedundancy(1000);
    p.baseName = "ours";
    p.destinationPath = out + "/";
    CreationStatusSlot slot;
    StopFlag stop{0};
    CreationJobOptions options;
    options.threads = Threads();
    CreationJob job(p, slot, stop, options);
    const bool ok = job.run();
    job.finish(!ok);
    return ok ? 0 : 1;
}

void BM_CreateVantrove(benchmark::State& state) {
    const auto files = SourceFiles();
    const std::string out = BenchDir() + "/ours";
    for (auto _ : state) {
        CleanOutput(out);
        gOurs = RunChild([&] { return CreateOurs(files, out); });
        if (!gOurs.ok) state.SkipWithError("creation failed");
        state.SetIterationTime(gOurs.wall);
    }
    state.counters["cpu_s"] = gOurs.cpu;
    state.counters["max_rss_MiB"] = static_cast<double>(gOurs.maxRssKb) / 1024;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * FileBytes() * kFiles));
}
BENCHMARK(BM_CreateVantrove)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void BM_CreatePar2(benchmark::State& state) {
    if (std::system("command -v par2 >/dev/null 2>&1") != 0) {
        state.SkipWithError("par2 not installed");
        for (auto _ : state) {
        }
        return;
    }
    const auto files = SourceFiles();
    const std::string out = BenchDir() + "/par2";
    for (auto _ : state) {
        CleanOutput(out);
        gPar2 = RunChild([&] {
            std::vector<std::string> args{"par2",
                                          "c",
                                          "-q",
                                          "-q",
                                          "-t" + std::to_string(Threads()),
                                          "-s" + std::to_string(kBlockSize),
                                          "-r10",
                                          "-B" + BenchDir() + "/data",
                                          out + "/par2.par2"};
            args.insert(args.end(), files.begin(), files.end());
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execvp("par2", argv.data());
            return 127;
        });
        if (!gPar2.ok) state.SkipWithError("par2 failed");
        state.SetIterationTime(gPar2.wall);
    }
    state.counters["cpu_s"] = gPar2.cpu;
    state.counters["max_rss_MiB"] = static_cast<double>(gPar2.maxRssKb) / 1024;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * FileBytes() * kFiles));
}
BENCHMARK(BM_CreatePar2)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
}  // namespace vantrove

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    using vantrove::gOurs;
    using vantrove::gPar2;
    if (gOurs.ok && gPar2.ok && gPar2.wall > 0 && gPar2.cpu > 0 && gPar2.maxRssKb > 0) {
        std::printf("ratios (ours / par2): wall %.3f  cpu %.3f  peak memory %.2f\n",
                    gOurs.wall / gPar2.wall, gOurs.cpu / gPar2.cpu,
                    static_cast<double>(gOurs.maxRssKb) / static_cast<double>(gPar2.maxRssKb));
    }
    return 0;
}
