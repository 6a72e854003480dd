// Creation over many small files, where every recovery file repeats an index
// (a description and block checksums per file) larger than its recovery
// blocks: 19,000 files of about 4 KB, as many source blocks as the format
// allows (32,767) and 5 % redundancy, under each size scheme, against
// Debian's par2 with the same block count and redundancy
// (`par2 c -b32768 -r5`, skipped unless VANTROVE_BENCH_PAR2=1: it takes
// many minutes). Each creation runs in a child process; the counters are its
// peak memory (maximum resident set), and the number and total size of the
// files it wrote. Run by hand:
//   cmake -S . -B build -DVANTROVE_BUILD_BENCH=ON && cmake --build build --target small_files_bench
//   ./build/bench/small_files_bench --benchmark_counters_tabular=true
// The data is made once in $VANTROVE_BENCH_DIR (default
// $TMPDIR/vantrove-small-files-bench) and kept; VANTROVE_BENCH_FILES changes
// the number of files.
//
// Measured on a 2-core machine with `vantrove-cli create -b 32768 -r 5` over
// 19,000 such files (76 MB): before the volumes shared their copies of the
// index, the default (limited) scheme wrote 821 files, 8.2 GB, in 3 min 52 s
// with a peak of 1.6 GB of memory; since, 58 files, 294 MB, in 31 s with
// 83 MB (doubling: 12 files, 304 MB). par2 wrote 12 files, 334 MB, in
// 33 min with 258 MB.

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "core/machine.h"
#include "create/creation_job.h"

namespace vantrove {
namespace {

namespace fs = std::filesystem;

std::string BenchDir() {
    if (const char* d = std::getenv("VANTROVE_BENCH_DIR")) return d;
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp != nullptr ? tmp : "/tmp") + "/vantrove-small-files-bench";
}

int FileCount() {
    if (const char* v = std::getenv("VANTROVE_BENCH_FILES")) return std::max(1, std::atoi(v));
    return 19000;
}

std::vector<CreationSourceFile> SourceFiles() {
    const std::string dir = BenchDir() + "/data";
    fs::create_directories(dir);
    std::vector<CreationSourceFile> files;
    std::mt19937_64 rng(7);
    std::uniform_int_distribution<size_t> size(2000, 6000);
    std::vector<char> bytes;
    for (int i = 0; i < FileCount(); ++i) {
        const std::string path = dir + "/f" + std::to_string(100000 + i);
        const size_t length = size(rng);
        bytes.resize(length);
        for (char& c : bytes) c = static_cast<char>(rng());
        std::error_code ec;
        if (fs::file_size(path, ec) != length) {
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            out.write(bytes.data(), static_cast<std::streamsize>(length));
        }
        files.push_back({path, length, {}});
    }
    return files;
}

struct Outcome {
    bool ok = false;
    long maxRssKb = 0;
    uint64_t files = 0, bytes = 0;
};

template <typename F>
Outcome RunChild(const std::string& out, F child) {
    fs::remove_all(out);
    fs::create_directories(out);
    Outcome o;
    const pid_t pid = fork();
    if (pid == 0) _exit(child());
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return o;
    o.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    o.maxRssKb = usage.ru_maxrss;
    for (const auto& e : fs::directory_iterator(out)) {
        ++o.files;
        o.bytes += e.file_size();
    }
    fs::remove_all(out);
    return o;
}

void Report(benchmark::State& state, const Outcome& o) {
    if (!o.ok) state.SkipWithError("creation failed");
    state.counters["max_rss_MiB"] = static_cast<double>(o.maxRssKb) / 1024;
    state.counters["files"] = static_cast<double>(o.files);
    state.counters["written_MB"] = static_cast<double>(o.bytes) / 1e6;
}

void BM_CreateManySmallFiles(benchmark::State& state) {
    const auto files = SourceFiles();
    const std::string out = BenchDir() + "/ours";
    Outcome o;
    for (auto _ : state) {
        o = RunChild(out, [&] {
            CreationSettings settings;
            settings.restrictBlockSize = false;
            settings.recoveryFileSizeScheme = static_cast<uint32_t>(state.range(0));
            MachineFigures machine;
            machine.physicalMemoryBytes = PhysicalMemoryBytes();
            CreationParameters p(settings, machine);
            p.AddFiles(files);
            p.setSourceBlockCount(32767);
            p.setRedundancy(500);
            p.baseName = "set";
            p.destinationPath = out + "/";
            CreationStatusSlot slot;
            StopFlag stop{0};
            CreationJob job(p, slot, stop, {});
            const bool ok = job.run();
            job.finish(!ok);
            return ok ? 0 : 1;
        });
    }
    Report(state, o);
}
BENCHMARK(BM_CreateManySmallFiles)
    ->Arg(kPowersOfTwo)
    ->Arg(kLimitedToLargest)
    ->Arg(kUniform)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

void BM_CreateManySmallFilesPar2(benchmark::State& state) {
    const char* wanted = std::getenv("VANTROVE_BENCH_PAR2");
    if (wanted == nullptr || std::string(wanted) != "1" ||
        std::system("command -v par2 >/dev/null 2>&1") != 0) {
        state.SkipWithError("set VANTROVE_BENCH_PAR2=1 (and install par2) to run");
        for (auto _ : state) {
        }
        return;
    }
    const auto files = SourceFiles();
    const std::string out = BenchDir() + "/par2";
    Outcome o;
    for (auto _ : state) {
        o = RunChild(out, [&] {
            std::vector<std::string> args{
                "par2",           "c", "-q", "-q", "-b32768", "-r5", "-B" + BenchDir() + "/data",
                out + "/set.par2"};
            for (const auto& f : files) args.push_back(f.path);
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execvp("par2", argv.data());
            return 127;
        });
    }
    Report(state, o);
}
BENCHMARK(BM_CreateManySmallFilesPar2)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
}  // namespace vantrove

BENCHMARK_MAIN();
