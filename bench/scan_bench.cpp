// Throughput of the block search over a data file.
//
//   ScanIntact: a file whose blocks are all in the lookup; the scan confirms
//     each block by CRC and MD5, skips it, and hashes the whole file.
//   SlideRandom: a file with none of the lookup's 32,768 blocks; the window
//     slides over every byte. With confirmation on, each chance CRC match
//     (about size x 32,768 / 2^32 of them) costs the MD5 of one block, which
//     dominates for large blocks: that is the price of the search itself.
//   Par2Verify (peer): Debian's par2 verifying the same intact file, when the
//     par2 command is installed.
//
// Arguments: block size, 1 to hash the whole file on a second thread, and a
// third one per benchmark (below).
// The files live in a temporary folder (64 MiB each, VANTROVE_BENCH_MB to
// change) and are read from the page cache after the first run.

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "core/crc32.h"
#include "core/crc32_window.h"
#include "core/disk_file.h"
#include "core/md5.h"
#include "engine/block_lookup.h"
#include "engine/block_scanner.h"

namespace vantrove {
namespace {

struct BenchFiles {
    std::string dir;
    std::string intact;
    std::string random;
    uint64_t size = 0;

    BenchFiles() {
        const char* mb = std::getenv("VANTROVE_BENCH_MB");
        size = uint64_t(mb ? std::atoi(mb) : 64) << 20;
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vantrove-scan-XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (mkdtemp(name.data()) == nullptr) std::abort();
        dir = name.data();
        intact = dir + "/intact.bin";
        random = dir + "/random.bin";
        Write(intact, 1);
        Write(random, 2);
    }
    ~BenchFiles() {
        std::remove(intact.c_str());
        std::remove(random.c_str());
        std::string cmd = "rm -rf '" + dir + "'";
        if (std::system(cmd.c_str()) != 0)
            std::fprintf(stderr, "could not remove %s\n", dir.c_str());
    }
    void Write(const std::string& path, uint64_t seed) const {
        std::mt19937_64 rng(seed);
        std::vector<uint64_t> chunk(1 << 17);
        std::ofstream out(path, std::ios::binary);
        for (uint64_t done = 0; done < size; done += chunk.size() * 8) {
            for (auto& w : chunk) w = rng();
            out.write(reinterpret_cast<const char*>(chunk.data()),
                      std::min<uint64_t>(chunk.size() * 8, size - done));
        }
    }
};

BenchFiles& Files() {
    static BenchFiles files;
    return files;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// The lookup of the intact file's blocks, built the way a loader would.
void AddBlocksOf(const std::vector<uint8_t>& data, uint64_t b, BlockLookup* lookup) {
    uint32_t index = 0;
    for (uint64_t o = 0; o < data.size(); o += b, ++index) {
        uint64_t n = std::min<uint64_t>(b, data.size() - o);
        uint32_t crc = Crc32UpdateZeros(Crc32Update(0, data.data() + o, n), b - n);
        Md5Context md5;
        md5.Update(data.data() + o, n);
        md5.UpdateZeros(b - n);
        lookup->Add(nullptr, index, n, crc, md5.Final());
    }
    lookup->Finish();
}

BlockScanner::Options OptionsFor(const benchmark::State& state) {
    BlockScanner::Options options;
    options.digestThreadMinSize = state.range(1) ? 0 : UINT64_MAX;
    if (state.range(2) > 0) options.bufferSize = static_cast<uint32_t>(state.range(2));
    return options;
}

void ScanIntact(benchmark::State& state) {
    const uint64_t b = state.range(0);
    BenchFiles& files = Files();
    BlockLookup lookup;
    AddBlocksOf(ReadAll(files.intact), b, &lookup);
    Crc32Window window;
    window.Build(static_cast<uint32_t>(b));
    uint64_t found = 0;
    for (auto _ : state) {
        DiskFile file;
        if (!file.open(files.intact)) state.SkipWithError("open");
        BlockScanner scanner;
        scanner.Start(file, window, OptionsFor(state));
        const BlockLookup::Node* hint = nullptr;
        found = 0;
        while (scanner.More()) {
            const BlockLookup::Node* match = nullptr;
            if (hint != nullptr && scanner.PaddedCrc(hint->length()) == hint->crc &&
                scanner.PaddedMd5(hint->length()) == hint->md5) {
                match = hint;
            } else if (const BlockLookup::Node* node = lookup.FindCrc(scanner.Crc())) {
                match = lookup.FindMd5(node, scanner.WindowMd5());
            }
            if (match != nullptr) {
                ++found;
                hint = match->nextInFile;
                scanner.Skip(match->length());
            } else {
                hint = nullptr;
                scanner.SlideUntil(lookup.filter(), b);
            }
        }
        Md5Digest whole, head;
        if (!scanner.Finish(&whole, &head)) state.SkipWithError("read");
        benchmark::DoNotOptimize(whole);
    }
    if (found != lookup.size()) state.SkipWithError("not every block found");
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(files.size));
}

void SlideRandom(benchmark::State& state) {
    const uint64_t b = state.range(0);
    BenchFiles& files = Files();
    // 32,768 blocks that the random file does not contain.
    BlockLookup lookup;
    std::mt19937_64 rng(7);
    for (uint32_t i = 0; i < 32768; ++i) {
        Md5Digest md5;
        for (auto& x : md5.bytes) x = static_cast<uint8_t>(rng());
        lookup.Add(nullptr, i, b, static_cast<uint32_t>(rng()), md5);
    }
    lookup.Finish();
    Crc32Window window;
    window.Build(static_cast<uint32_t>(b));
    const bool confirm = state.range(2) == 1;
    BlockScanner::Options options;
    options.digestThreadMinSize = state.range(1) ? 0 : UINT64_MAX;
    uint64_t candidates = 0, crcHits = 0;
    for (auto _ : state) {
        DiskFile file;
        if (!file.open(files.random)) state.SkipWithError("open");
        BlockScanner scanner;
        scanner.Start(file, window, options);
        crcHits = 0;
        BlockLookup none;
        const CrcFilter filter = state.range(2) == 2 ? none.filter() : lookup.filter();
        candidates = 0;
        while (scanner.More()) {
            scanner.SlideUntil(filter, UINT64_MAX);
            if (scanner.More() && lookup.FindCrc(scanner.Crc()) != nullptr) {
                ++crcHits;
                if (confirm) scanner.WindowMd5();
            }
            ++candidates;
        }
        Md5Digest whole, head;
        if (!scanner.Finish(&whole, &head)) state.SkipWithError("read");
        benchmark::DoNotOptimize(whole);
    }
    state.counters["filter_stops_per_MB"] = double(candidates) / double(files.size >> 20);
    state.counters["crc_hits"] = double(crcHits);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(files.size));
}

// Whole-file MD5 alone over the same data, the floor under ScanIntact.
void Md5Only(benchmark::State& state) {
    std::vector<uint8_t> data = ReadAll(Files().intact);
    for (auto _ : state) benchmark::DoNotOptimize(Md5Of(data.data(), data.size()));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}

// The peer: par2 verifying a set made for the intact file (block size as
// given). Creating the set is not timed.
void Par2Verify(benchmark::State& state) {
    BenchFiles& files = Files();
    if (std::system("command -v par2 >/dev/null 2>&1") != 0) {
        state.SkipWithError("par2 not installed");
        return;
    }
    const std::string set = files.dir + "/intact.par2";
    std::string create = "cd '" + files.dir + "' && rm -f intact*.par2 && par2 c -q -q -s" +
                         std::to_string(state.range(0)) + " -c1 intact.par2 intact.bin >/dev/null";
    if (std::system(create.c_str()) != 0) {
        state.SkipWithError("par2 create failed");
        return;
    }
    std::string verify = "cd '" + files.dir + "' && par2 v -q -q intact.par2 >/dev/null";
    for (auto _ : state) {
        if (std::system(verify.c_str()) != 0) state.SkipWithError("par2 verify failed");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(files.size));
}

// Block size, digest thread, buffer size (0: default).
BENCHMARK(ScanIntact)
    ->Args({384000, 0, 0})
    ->Args({384000, 1, 0})
    ->Args({384000, 1, 262144})
    ->Args({384000, 1, 1 << 20})
    ->Args({4 << 20, 1, 0})
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
// Block size, digest thread, MD5 of every window whose CRC is a block's CRC
// (as the real search does; 0 leaves it out; 2 also takes an empty filter, so
// the slide loop never stops: its raw speed).
BENCHMARK(SlideRandom)
    ->Args({384000, 1, 2})
    ->Args({384000, 0, 2})
    ->Args({384000, 0, 0})
    ->Args({384000, 1, 0})
    ->Args({384000, 1, 1})
    ->Args({4 << 20, 1, 0})
    ->Args({4 << 20, 1, 1})
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(Md5Only)->Unit(benchmark::kMillisecond);
BENCHMARK(Par2Verify)->Arg(384000)->Arg(4 << 20)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace vantrove

BENCHMARK_MAIN();
