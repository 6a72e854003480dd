// Repair of a damaged PAR 2.0 set, against Debian's par2 as the peer.
//
// The set: 8 files of 1 GiB in all (VANTROVE_BENCH_MB to change), block size
// 768000, 15 % recovery data, made once by `par2 c` in a temporary folder.
// Before every run the same damage is laid down again: one file deleted and
// 1 MiB of another overwritten (at an offset that is no multiple of the
// block size); whatever the previous run left beside the files is removed.
// Each run opens the set with an empty cache, scans it and repairs it.
//
//   Repair:      this program's engine (Open, Scan, Repair).
//   Par2Repair:  `par2 r -q -q` on the same set.
//
// Each iteration runs in a child process, so that its peak resident memory
// (counter peakMiB) is its own. The files are read from the page cache
// after the first run, for both contenders alike. Compare the ratios within
// one run; Debian's benchmark library is a debug build, which does not
// matter here (the work is in the engine and in par2).

#include <benchmark/benchmark.h>
#include <fcntl.h>
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

constexpr int kDeletedFile = 3;
constexpr int kDamagedFile = 5;
constexpr uint64_t kDamageOffset = 5000000;
constexpr size_t kDamageLength = 1 << 20;

struct BenchSet {
    std::string dir;
    std::string index;
    bool ok = false;
    std::vector<std::string> names;
    std::vector<uint8_t> deletedContent;

    BenchSet() {
        const char* mb = std::getenv("VANTROVE_BENCH_MB");
        const uint64_t total = uint64_t(mb ? std::atoi(mb) : 1024) << 20;
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vantrove-repair-XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (mkdtemp(name.data()) == nullptr) std::abort();
        dir = name.data();
        std::string files;
        for (int i = 0; i < 8; ++i) {
            std::string file = "file" + std::to_string(i) + ".bin";
            Write(dir + "/" + file, total / 8 + 4321 * i, 200 + i);
            names.push_back(file);
            files += " " + file;
        }
        index = dir + "/set.par2";
        std::string cmd =
            "cd '" + dir + "' && par2 c -q -q -s768000 -r15 set.par2" + files + " >/dev/null 2>&1";
        ok = std::system(cmd.c_str()) == 0;
        // Keep the file that each run deletes outside the set's folder (in
        // it, a scan would find it as an intact copy under another name).
        std::string keep = "cp '" + dir + "/" + names[kDeletedFile] + "' '" + dir + ".orig'";
        ok = ok && std::system(keep.c_str()) == 0;
    }
    ~BenchSet() {
        std::string cmd = "rm -rf '" + dir + "' '" + dir + ".orig'";
        if (std::system(cmd.c_str()) != 0)
            std::fprintf(stderr, "could not remove %s\n", dir.c_str());
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

    // Lays the damage down again: leftovers of the last run removed, one
    // file deleted, 1 MiB of another overwritten.
    bool Damage() {
        std::string clean =
            "cd '" + dir + "' && rm -rf file*.bin.* cache-* '" + names[kDeletedFile] + "'";
        if (std::system(clean.c_str()) != 0) return false;
        int fd = open((dir + "/" + names[kDamagedFile]).c_str(), O_WRONLY);
        if (fd < 0) return false;
        std::vector<uint8_t> junk(kDamageLength, 0xA5);
        bool written = pwrite(fd, junk.data(), junk.size(), kDamageOffset) ==
                       static_cast<ssize_t>(junk.size());
        close(fd);
        return written;
    }
    // Checks a run's result byte for byte against the original files.
    bool Intact() {
        std::string cmd = "cmp -s '" + dir + ".orig' '" + dir + "/" + names[kDeletedFile] + "'";
        int rc = std::system(cmd.c_str());
        if (rc != 0) {
            std::fprintf(stderr, "%s: %d\n", cmd.c_str(), rc);
        }
        return rc == 0;
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

bool RepairOnce(const std::string& cacheFolder) {
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
    if (current->status().state != RecoveryState::RepairPossible) {
        std::fprintf(stderr, "set state %d after the scan\n",
                     static_cast<int>(current->status().state));
        return false;
    }
    RepairOptions options;
    options.useRecycleBin = false;
    current->SetRepairOptions(options);
    current->Repair();
    current->FinishActivity();
    if (current->status().errorKind != ErrorKind::None) {
        std::fprintf(stderr, "error kind %d (%u) %s\n",
                     static_cast<int>(current->status().errorKind),
                     current->status().systemErrorCode, current->status().errorFile.c_str());
    }
    return current->status().errorKind == ErrorKind::None &&
           current->status().state == RecoveryState::Repaired;
}

void BM_Repair(benchmark::State& state) {
    if (!Set().ok) return state.SkipWithError("par2 could not make the set");
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        if (!Set().Damage()) return state.SkipWithError("could not damage the set");
        std::string cache = Set().dir + "/cache-" + std::to_string(round++) + "/";
        state.ResumeTiming();
        double peak = InChild([&] { return RepairOnce(cache); });
        state.PauseTiming();
        if (peak < 0) return state.SkipWithError("the repair failed");
        if (!Set().Intact()) return state.SkipWithError("the repaired file differs");
        state.counters["peakMiB"] = peak;
        state.ResumeTiming();
    }
}
BENCHMARK(BM_Repair)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_Par2Repair(benchmark::State& state) {
    if (!Set().ok) return state.SkipWithError("par2 could not make the set");
    const std::string peakFile = Set().dir + "/par2-peak";
    for (auto _ : state) {
        state.PauseTiming();
        if (!Set().Damage()) return state.SkipWithError("could not damage the set");
        state.ResumeTiming();
        double child = InChild([&] {
            std::string cmd = "par2 r -q -q '" + Set().index + "' >/dev/null 2>&1";
            // par2 runs as a grandchild; its memory is reported through
            // RUSAGE_CHILDREN of this child.
            if (std::system(cmd.c_str()) != 0) return false;
            struct rusage usage {};
            getrusage(RUSAGE_CHILDREN, &usage);
            std::FILE* f = std::fopen(peakFile.c_str(), "w");
            if (f) {
                std::fprintf(f, "%ld\n", usage.ru_maxrss);
                std::fclose(f);
            }
            return true;
        });
        state.PauseTiming();
        if (child < 0) return state.SkipWithError("par2 r failed");
        if (!Set().Intact()) return state.SkipWithError("par2 r's file differs");
        std::FILE* f = std::fopen(peakFile.c_str(), "r");
        long peak = 0;
        if (f) {
            if (std::fscanf(f, "%ld", &peak) != 1) peak = 0;
            std::fclose(f);
        }
        state.counters["peakMiB"] = peak / 1024.0;
        state.ResumeTiming();
    }
}
BENCHMARK(BM_Par2Repair)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
}  // namespace vantrove

BENCHMARK_MAIN();
