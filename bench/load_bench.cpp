// Growth of the loading paths with the size of their input; each runs at two
// sizes, and the time per item should stay about the same between them.
//
//   LoadDistinctSetIds/N: one volume of N creator packets, each of its own
//                         recovery set id, read by the PAR 2.0 loader.
//   VerifyCached/N:       a set of N small files verified before: the saved
//                         state replaces the fresh set, then the folder is
//                         scanned (`verify --cached`).
//   VerifyAgain/N:        the same, but every file is verified again after
//                         the state is loaded (plain `verify`).
//
// The sets are made once per size in a temporary folder by the program's own
// creator. Run by hand: build with -DVANTROVE_BUILD_BENCH=ON, then
// build/bench/load_bench. Counter us_per_item: microseconds per packet/file.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/md5.h"
#include "create/creation_job.h"
#include "engine/verification_cache.h"
#include "par2/packet_coding.h"
#include "par2/packet_format.h"
#include "par2/packet_header.h"
#include "par2/par2_recovery_set.h"

namespace vantrove {
namespace {

std::string MakeTempDir(const char* what) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vantrove-" + what + "-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr) std::abort();
    return name.data();
}

void RemoveTree(const std::string& dir) {
    const std::string cmd = "rm -rf '" + dir + "'";
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", dir.c_str());
}

// A creator packet of the set `setId`.
std::vector<uint8_t> CreatorPacket(const Md5Digest& setId) {
    static const char kText[] = "load bench";  // 10 bytes, padded to 12
    std::vector<uint8_t> packet(kPacketHeaderSize + 12, 0);
    std::memcpy(packet.data() + kPacketHeaderSize, kText, sizeof kText - 1);
    PacketHeader header;
    header.length = packet.size();
    header.setId = setId;
    header.typeBytes = PacketTypeBytesOf(PacketType::Creator);
    EncodePacketHeader(header, packet.data());
    header.packetHash = ComputePacketHash(packet.data(), packet.size());
    EncodePacketHeader(header, packet.data());
    return packet;
}

struct DistinctIdsVolume {
    std::string dir, path;
    explicit DistinctIdsVolume(int64_t count) {
        dir = MakeTempDir("load");
        path = dir + "/ids.par2";
        std::ofstream out(path, std::ios::binary);
        std::mt19937_64 rng(static_cast<uint64_t>(count));
        for (int64_t i = 0; i < count; ++i) {
            Md5Digest id;
            const uint64_t words[2] = {rng(), rng()};
            std::memcpy(id.bytes.data(), words, sizeof words);
            const std::vector<uint8_t> packet = CreatorPacket(id);
            out.write(reinterpret_cast<const char*>(packet.data()),
                      static_cast<std::streamsize>(packet.size()));
        }
    }
    ~DistinctIdsVolume() { RemoveTree(dir); }
};

// Sets counter us_per_item: microseconds per packet or file, over the
// iterations since `start`.
void PerItem(benchmark::State& state, std::chrono::steady_clock::time_point start) {
    const double us = std::chrono::duration<double, std::micro>(
                          std::chrono::steady_clock::now() - start).count();
    state.counters["us_per_item"] =
        us / static_cast<double>(state.iterations()) / static_cast<double>(state.range(0));
}

void BM_LoadDistinctSetIds(benchmark::State& state) {
    DistinctIdsVolume volume(state.range(0));
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        std::unique_ptr<RecoverySet> set = NewPar2Set(nullptr, nullptr);
        set->FormatAs<Par2RecoverySet>()->LoadVolumes(volume.path, false);
        if (set->FormatAs<Par2RecoverySet>()->groups().size() !=
            static_cast<size_t>(state.range(0))) {
            state.SkipWithError("not every packet was read");
        }
    }
    PerItem(state, start);
}
BENCHMARK(BM_LoadDistinctSetIds)
    ->Arg(50000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

// N files of 1000 to 1999 bytes, one block each, with their set.
struct ManyFileSet {
    std::string dir, index;
    bool ok = false;
    explicit ManyFileSet(int64_t count) {
        dir = MakeTempDir("many");
        std::mt19937_64 rng(static_cast<uint64_t>(count));
        std::vector<CreationSourceFile> files;
        std::vector<uint8_t> bytes(2000);
        for (int64_t i = 0; i < count; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "/f%06lld.bin", static_cast<long long>(i));
            const size_t size = 1000 + rng() % 1000;
            for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
            std::ofstream(dir + name, std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()),
                       static_cast<std::streamsize>(size));
            files.push_back({dir + name, size});
        }
        CreationSettings settings;
        settings.restrictBlockSize = false;
        MachineFigures machine;
        CreationParameters p(settings, machine);
        p.AddFiles(files);
        p.setBlockSize(2048);
        p.setRedundancy(100);  // 1 %
        p.baseName = "set";
        p.destinationPath = dir + "/";
        CreationStatusSlot slot;
        StopFlag stop{0};
        CreationJob job(p, slot, stop, CreationJobOptions{});
        ok = job.run();
        job.finish(!ok);
        index = dir + "/set.par2";
    }
    ~ManyFileSet() { RemoveTree(dir); }
};

// Opens the set with the cache in `cacheFolder` as the command line does:
// the saved state, when there is one, replaces the fresh set and is then
// scanned (`again` false) or verified again (`again` true).
bool VerifyOnce(const std::string& index, const std::string& cacheFolder, bool again) {
    VerificationCache cache(cacheFolder);
    std::unique_ptr<RecoverySet> set = NewPar2Set(nullptr, nullptr);
    set->SetVerificationCache(&cache);
    std::unique_ptr<RecoverySet> current;
    if (std::unique_ptr<RecoverySet> replacement = set->Open(index)) {
        current = std::move(replacement);
        if (again) {
            current->Reverify();
        } else {
            current->Scan();
        }
    } else {
        current = std::move(set);
    }
    current->FinishActivity();
    current->SaveIfLoaded();
    return current->status().state == RecoveryState::AllVerified;
}

void VerifyFromState(benchmark::State& state, bool again) {
    ManyFileSet set(state.range(0));
    if (!set.ok) return state.SkipWithError("the set could not be made");
    const std::string cache = set.dir + "/cache/";
    if (!VerifyOnce(set.index, cache, false)) return state.SkipWithError("priming failed");
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (!VerifyOnce(set.index, cache, again)) state.SkipWithError("the verification failed");
    }
    PerItem(state, start);
}

void BM_VerifyCached(benchmark::State& state) {
    VerifyFromState(state, false);
}
BENCHMARK(BM_VerifyCached)
    ->Arg(5000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

void BM_VerifyAgain(benchmark::State& state) {
    VerifyFromState(state, true);
}
BENCHMARK(BM_VerifyAgain)
    ->Arg(5000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

}  // namespace
}  // namespace vantrove

BENCHMARK_MAIN();
