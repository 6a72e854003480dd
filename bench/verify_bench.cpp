// Verification of an intact PAR 2.0 set, against Debian's par2 as the peer.
//
// The set: 8 files of 1 GiB in all (VANTROVE_BENCH_MB to change), block size
// 768000, 10 % recovery data, made once by `par2 c` in a temporary folder.
// The files are read from the page cache after the first run, for every
// contender alike.
//
//   Verify/First:   open the set and verify every file, with an empty cache.
//   Verify/Cached:  open it again with the cache of a previous run: the saved
//                   state replaces the fresh set and no data file is hashed.
//   Par2Verify:     `par2 v -q` on the same set.
//
// Each iteration runs in a child process, so that its peak resident memory
// (counter peakMiB) is its own. Compare the ratios within one run; Debian's
// benchmark library is a debug build, which does not matter here (the work
// is in the engine and in par2).

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "engine/verification_cache.h"
#include "par2/par2_recovery_set.h"

namespace vantrove {
namespace {

struct BenchSet {
    std::string dir;
    std::string index;
    bool ok = false;

    BenchSet() {
        const char* mb = std::getenv("VANTROVE_BENCH_MB");
        const uint64_t total = uint64_t(mb ? std::atoi(mb) : 1024) << 20;
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vantrove-verify-XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (mkdtemp(name.data()) == nullptr) std::abort();
        dir = name.data();
        std::string files;
        for (int i = 0; i < 8; ++i) {
            std::string file = "file" + std::to_string(i) + ".bin";
            // Sizes differ a little, so that last blocks are short.
            Write(dir + "/" + file, total / 8 + 4321 * i, 100 + i);
            files += " " + file;
        }
        index = dir + "/set.par2";
        std::string cmd = "cd '" + dir + "' && par2 c -q -q -s768000 -r10 set.par2" + files +
                          " >/dev/null 2>&1";
        ok = std::system(cmd.c_str()) == 0;
    }
    ~BenchSet() {
        std::string cmd = "rm -rf '" + dir + "'";
        if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", dir.c_str());
    }
    static void Write(const std::string& path, uint64_t size, uint64_t seed) {
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

BenchSet& Set() {
    static BenchSet set;
    return set;
}

// Runs `work` in a child; returns its peak resident memory in MiB, or -1.
template <class Work>
double InChild(Work work) {
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) _exit(work() ? 0 : 1);
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return -1;
    }
    return usage.ru_maxrss / 1024.0;
}

// Verifies the set in this process with the cache in `cacheFolder`.
bool VerifyOnce(const std::string& cacheFolder) {
    VerificationCache cache(cacheFolder);
    std::unique_ptr<RecoverySet> set = NewPar2Set(nullptr, nullptr);
    set->SetVerificationCache(&cache);
    std::unique_ptr<RecoverySet> current;
    if (std::unique_ptr<RecoverySet> replacement = set->Open(Set().index)) {
        current = std::move(replacement);
        current->Scan();
    } else {
        current = std::move(set);
    }
    current->FinishActivity();
    current->SaveIfLoaded();
    return current->status().state == RecoveryState::AllVerified;
}

void Report(benchmark::State& state, double peak) {
    if (peak < 0) {
        state.SkipWithError("the verification failed");
        return;
    }
    state.counters["peakMiB"] = peak;
}

void BM_VerifyFirst(benchmark::State& state) {
    if (!Set().ok) return state.SkipWithError("par2 could not make the set");
    int round = 0;
    for (auto _ : state) {
        std::string cache = Set().dir + "/cache-first-" + std::to_string(round++) + "/";
        Report(state, InChild([&] { return VerifyOnce(cache); }));
    }
}
BENCHMARK(BM_VerifyFirst)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_VerifyCached(benchmark::State& state) {
    if (!Set().ok) return state.SkipWithError("par2 could not make the set");
    const std::string cache = Set().dir + "/cache-warm/";
    if (InChild([&] { return VerifyOnce(cache); }) < 0) return state.SkipWithError("priming failed");
    for (auto _ : state) Report(state, InChild([&] { return VerifyOnce(cache); }));
}
BENCHMARK(BM_VerifyCached)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void BM_Par2Verify(benchmark::State& state) {
    if (!Set().ok) return state.SkipWithError("par2 could not make the set");
    for (auto _ : state) {
        Report(state, InChild([] {
                   std::string cmd = "par2 v -q -q '" + Set().index + "' >/dev/null 2>&1";
                   // par2 runs as a grandchild; its memory is reported
                   // through RUSAGE_CHILDREN of this child.
                   if (std::system(cmd.c_str()) != 0) return false;
                   struct rusage usage {};
                   getrusage(RUSAGE_CHILDREN, &usage);
                   std::FILE* f = std::fopen((Set().dir + "/par2-peak").c_str(), "w");
                   if (f) {
                       std::fprintf(f, "%ld\n", usage.ru_maxrss);
                       std::fclose(f);
                   }
                   return true;
               }));
        std::FILE* f = std::fopen((Set().dir + "/par2-peak").c_str(), "r");
        long peak = 0;
        if (f) {
            if (std::fscanf(f, "%ld", &peak) != 1) peak = 0;
            std::fclose(f);
        }
        state.counters["peakMiB"] = peak / 1024.0;
    }
}
BENCHMARK(BM_Par2Verify)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
}  // namespace vantrove

BENCHMARK_MAIN();
