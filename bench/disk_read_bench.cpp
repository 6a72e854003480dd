// Sequential read throughput of one file: plain pread of a loop against the
// asynchronous read pipeline (a ring of requests, begin/complete in order, as
// the block scanner and the repair data pass drive it) in each read mode.
// "Warm" reads a file in the page cache; "Cold" evicts the file's pages
// before every pass. Run by hand:
//   build/bench/disk_read_bench --benchmark_counters_tabular=true
// VANTROVE_BENCH_FILE_MIB sets the file size (default 256).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/async_read_request.h"
#include "core/crc32.h"
#include "core/disk_file.h"
#include "core/md5.h"

namespace {

using vantrove::AsyncReadMode;
using vantrove::AsyncReadRequest;
using vantrove::DiskFile;

size_t FileSize() {
    const char* mib = getenv("VANTROVE_BENCH_FILE_MIB");
    return (mib ? strtoull(mib, nullptr, 10) : 256) << 20;
}

// The test file, written once per run and removed at exit.
const std::string& TestFile() {
    static std::string path = [] {
        const char* tmp = getenv("TMPDIR");
        std::string name = std::string(tmp && *tmp ? tmp : "/tmp") + "/vantrove_read_bench_XXXXXX";
        int fd = mkstemp(name.data());
        std::vector<uint8_t> chunk(1 << 20);
        std::mt19937_64 rng(7);
        for (size_t done = 0; done < FileSize(); done += chunk.size()) {
            for (auto& b : chunk) b = static_cast<uint8_t>(rng());
            if (write(fd, chunk.data(), chunk.size()) != static_cast<ssize_t>(chunk.size()))
                abort();
        }
        fsync(fd);
        close(fd);
        atexit([] { unlink(TestFile().c_str()); });
        return name;
    }();
    return path;
}

void Evict() {
    int fd = open(TestFile().c_str(), O_RDONLY);
    posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    close(fd);
}

void Warm() {
    int fd = open(TestFile().c_str(), O_RDONLY);
    std::vector<uint8_t> buffer(4 << 20);
    while (read(fd, buffer.data(), buffer.size()) > 0) {
    }
    close(fd);
}

// CPU time of the whole process (every thread, io_uring's workers included).
double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Process CPU milliseconds per GiB read: the cost of a mode regardless of
// how busy the machine is.
void ReportProcessCpu(benchmark::State& state, double before, uint64_t bytesPerPass) {
    double seconds = ProcessCpuSeconds() - before;
    double gib = static_cast<double>(state.iterations()) * bytesPerPass / (1 << 30);
    state.counters["cpu_ms_per_GiB"] = gib > 0 ? seconds * 1000 / gib : 0;
}

void Prepare(benchmark::State& state, bool cold) {
    state.PauseTiming();
    if (cold) Evict();
    state.ResumeTiming();
}

// What is done with each chunk once it has arrived: nothing, or a CRC-32 as
// the block scanner does (which lets reads overlap with the work).
uint32_t Consume(bool crc, const uint8_t* data, size_t length) {
    return crc ? vantrove::Crc32Update(0, data, length) : data[0];
}

// Plain sequential pread of `chunk` bytes at a time.
void PlainRead(benchmark::State& state, bool cold, bool crc) {
    const size_t chunk = static_cast<size_t>(state.range(1)) << 10;
    std::vector<uint8_t> buffer(chunk, 1);
    if (!cold) Warm();
    const double cpuBefore = ProcessCpuSeconds();
    for (auto _ : state) {
        Prepare(state, cold);
        int fd = open(TestFile().c_str(), O_RDONLY);
        uint64_t offset = 0;
        ssize_t n;
        while ((n = pread(fd, buffer.data(), chunk, static_cast<off_t>(offset))) > 0) {
            offset += static_cast<uint64_t>(n);
            benchmark::DoNotOptimize(Consume(crc, buffer.data(), static_cast<size_t>(n)));
        }
        close(fd);
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * FileSize()));
    ReportProcessCpu(state, cpuBefore, FileSize());
}

// `depth` requests of `chunk` bytes in flight, completed in file order.
void Pipeline(benchmark::State& state, AsyncReadMode mode, bool cold, bool crc) {
    if (!vantrove::SetAsyncReadMode(mode)) {
        state.SkipWithError("mode not available");
        return;
    }
    const size_t depth = static_cast<size_t>(state.range(0));
    const size_t chunk = static_cast<size_t>(state.range(1)) << 10;
    std::vector<std::vector<uint8_t>> buffers(depth, std::vector<uint8_t>(chunk, 1));
    std::vector<AsyncReadRequest> requests(depth);
    if (!cold) Warm();
    const uint64_t size = FileSize();
    uint64_t immediate = 0, started = 0;
    const double cpuBefore = ProcessCpuSeconds();
    for (auto _ : state) {
        Prepare(state, cold);
        DiskFile file(TestFile());
        if (!file.open()) abort();
        uint64_t next = 0;
        auto issue = [&](size_t slot) {
            if (next >= size) return;
            requests[slot].offset = next;
            requests[slot].length = static_cast<uint32_t>(std::min<uint64_t>(chunk, size - next));
            requests[slot].buffer = buffers[slot].data();
            next += requests[slot].length;
            const DiskFile::ReadStatus begun = file.beginRead(requests[slot]);
            if (begun == DiskFile::ReadStatus::Failed) abort();
            immediate += begun == DiskFile::ReadStatus::Complete;
            ++started;
        };
        for (size_t slot = 0; slot < depth; ++slot) issue(slot);
        uint64_t done = 0;
        for (size_t slot = 0; done < size; slot = (slot + 1) % depth) {
            if (file.completeRead(requests[slot]) != DiskFile::ReadStatus::Complete) abort();
            benchmark::DoNotOptimize(Consume(crc, requests[slot].buffer, requests[slot].length));
            done += requests[slot].length;
            issue(slot);
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
    ReportProcessCpu(state, cpuBefore, size);
    state.counters["at_once"] = started ? static_cast<double>(immediate) / started : 0;
}

void Args(benchmark::internal::Benchmark* b) {
    b->Args({1, 4096})->Args({3, 4096})->Args({8, 1024})->Args({80, 256})->Args({16, 64});
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}

void BM_Plain(benchmark::State& s, bool cold, bool crc) {
    PlainRead(s, cold, crc);
}
void BM_Sync(benchmark::State& s, bool cold, bool crc) {
    Pipeline(s, AsyncReadMode::Sync, cold, crc);
}
void BM_Threads(benchmark::State& s, bool cold, bool crc) {
    Pipeline(s, AsyncReadMode::Threads, cold, crc);
}
void BM_Uring(benchmark::State& s, bool cold, bool crc) {
    Pipeline(s, AsyncReadMode::Uring, cold, crc);
}

BENCHMARK_CAPTURE(BM_Plain, Warm, false, false)->Apply(Args);
BENCHMARK_CAPTURE(BM_Sync, Warm, false, false)->Apply(Args);
BENCHMARK_CAPTURE(BM_Threads, Warm, false, false)->Apply(Args);
BENCHMARK_CAPTURE(BM_Uring, Warm, false, false)->Apply(Args);
BENCHMARK_CAPTURE(BM_Plain, WarmCrc, false, true)->Apply(Args);
BENCHMARK_CAPTURE(BM_Threads, WarmCrc, false, true)->Apply(Args);
BENCHMARK_CAPTURE(BM_Uring, WarmCrc, false, true)->Apply(Args);
BENCHMARK_CAPTURE(BM_Plain, Cold, true, false)->Apply(Args);
BENCHMARK_CAPTURE(BM_Threads, Cold, true, false)->Apply(Args);
BENCHMARK_CAPTURE(BM_Uring, Cold, true, false)->Apply(Args);

}  // namespace

BENCHMARK_MAIN();
