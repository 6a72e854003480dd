#include "create/creation_job.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>

#include "core/disk_file.h"
#include "core/md5.h"
#include "rs/data_pass.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

namespace fs = std::filesystem;

bool HavePar2() {
    return std::system("command -v par2 >/dev/null 2>&1") == 0;
}

// Runs par2 with `arguments`; its output is shown only when it fails.
int RunPar2(const std::string& arguments) {
    test::TempDir logDir;
    const std::string log = logDir.File("par2.log");
    std::string command = "par2 " + arguments + " >" + log + " 2>&1";
    int rc = std::system(command.c_str());
    int code = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    if (code != 0) {
        std::vector<uint8_t> text = test::ReadFile(log);
        std::printf("par2 %s -> %d\n%.*s\n", arguments.c_str(), code, static_cast<int>(text.size()),
                    reinterpret_cast<const char*>(text.data()));
    }
    return code;
}

std::vector<std::string> ListFolder(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

struct Fixture {
    test::TempDir dir;
    std::mt19937_64 rng{test::TestSeed()};
    std::vector<CreationSourceFile> files;

    void AddFile(const std::string& name, size_t size) {
        std::string path = dir.File(name);
        test::WriteFile(path, test::RandomBytes(rng, size));
        files.push_back({path, size});
    }
};

CreationSettings Plain(uint32_t scheme = kPowersOfTwo) {
    CreationSettings s;
    s.restrictBlockSize = false;
    s.recoveryFileSizeScheme = scheme;
    return s;
}

struct JobResult {
    bool ok = false;
    CreationStatus status;
    std::vector<std::string> outputs;
    uint64_t chunk = 0;
    uint32_t passes = 0;
};

JobResult RunJob(CreationParameters& p, CreationJobOptions options = {},
                 StopFlag* stopFlag = nullptr) {
    CreationStatusSlot slot;
    StopFlag localStop{0};
    StopFlag& stop = stopFlag != nullptr ? *stopFlag : localStop;
    CreationJob job(p, slot, stop, options);
    JobResult r;
    r.ok = job.run();
    r.chunk = job.chunkSize();
    r.passes = job.passCount();
    job.finish(!r.ok);
    r.status = slot.Snapshot();
    r.outputs = job.outputPaths();
    return r;
}

CreationParameters Prepare(Fixture& f, uint64_t blockSize, uint64_t recovery,
                           uint32_t scheme = kPowersOfTwo) {
    CreationParameters p(Plain(scheme));
    p.AddFiles(f.files);
    p.setBlockSize(blockSize);
    p.setRecoveryBlockCount(recovery);
    p.baseName = "set";
    p.destinationPath = f.dir.path() + "/";
    return p;
}

TEST(CreationJob, ChunkSizePlansThePasses) {
    const uint64_t memory = uint64_t{512} << 20;
    EXPECT_EQ(DataPassChunkSize(384000, 600, memory), 192000u);
    EXPECT_EQ(DataPassChunkSize(384000, 10000, memory), 17456u);
    EXPECT_EQ((384000 + 17455) / 17456, 22);
    EXPECT_EQ(DataPassChunkSize(384000, 100, memory), 384000u);
    EXPECT_EQ(DataPassChunkSize(384000, 0, memory), 384000u);
}

TEST(CreationJob, VolumeNamesCarryTheirDigitWidths) {
    EXPECT_EQ(VolumeFileName("/d/", "x", 0, 1, 1, 1), "/d/x.vol0+1.PAR2");
    EXPECT_EQ(VolumeFileName("/d/", "x", 3, 4, 1, 1), "/d/x.vol3+4.PAR2");
    EXPECT_EQ(VolumeFileName("/d/", "x", 0, 7, 2, 2), "/d/x.vol00+07.PAR2");
    EXPECT_EQ(VolumeFileName("", "x", 9950, 3, 5, 2), "x.vol09950+03.PAR2");
}

TEST(CreationJob, VolumeLayoutSpreadsTheCriticalPackets) {
    std::vector<uint64_t> critical{100, 200, 300, 400, 76};
    std::vector<VolumeLayoutEntry> entries;
    uint64_t size = LayOutVolume(1, 1, 1000, critical, 76, entries);
    ASSERT_EQ(entries.size(), 3u);  // slice, one run of the five critical packets, creator
    EXPECT_EQ(entries[0].kind, VolumeLayoutEntry::kSlice);
    EXPECT_EQ(entries[1].kind, VolumeLayoutEntry::kCritical);
    EXPECT_EQ(entries[1].index, 0u);
    EXPECT_EQ(entries[1].count, 5u);
    EXPECT_EQ(entries[2].kind, VolumeLayoutEntry::kCreator);
    EXPECT_EQ(size, 1068u + 1076 + 76);

    auto criticalCount = [&] {
        uint32_t n = 0;
        for (const auto& e : entries) n += e.kind == VolumeLayoutEntry::kCritical ? e.count : 0;
        return n;
    };
    entries.clear();
    LayOutVolume(8, 4, 1000, critical, 76, entries);
    EXPECT_EQ(criticalCount(), 20u);
    // After the first slice come two packets (A = 20 gives 2, leaving 4).
    EXPECT_EQ(entries[1].kind, VolumeLayoutEntry::kCritical);
    EXPECT_EQ(entries[1].count, 2u);
    EXPECT_EQ(entries[2].kind, VolumeLayoutEntry::kSlice);
    // Offsets follow one another without gaps, and a run never wraps.
    uint64_t offset = 0;
    for (const auto& e : entries) {
        EXPECT_EQ(e.offset, offset);
        if (e.kind == VolumeLayoutEntry::kCritical) {
            ASSERT_LE(e.index + e.count, critical.size());
            for (uint32_t k = 0; k < e.count; ++k) offset += critical[e.index + k];
        } else {
            offset += e.kind == VolumeLayoutEntry::kSlice ? 1068 : 76;
        }
    }
    // Three slices, L = 5, two copies: A grows by 10 per slice; 3 + 3 + 4 =
    // 10 packets and the round is completed after the last slice.
    entries.clear();
    LayOutVolume(3, 2, 1000, critical, 76, entries);
    EXPECT_EQ(criticalCount(), 10u);
}

TEST(CreationJob, EveryVolumeNameAndScheme) {
    Fixture f;
    f.AddFile("a.bin", 100000);
    f.AddFile("b.bin", 7);
    f.AddFile("empty", 0);
    CreationParameters p = Prepare(f, 1000, 7);
    ASSERT_EQ(p.volumeBlockCounts(), (std::vector<uint32_t>{1, 2, 4}));
    JobResult r = RunJob(p);
    ASSERT_TRUE(r.ok) << r.status.failureCode;
    EXPECT_EQ(r.status.phase, kPhaseFinished);
    std::vector<std::string> expected{"a.bin",          "b.bin",           "empty",
                                      "set.par2",       "set.vol0+1.PAR2", "set.vol1+2.PAR2",
                                      "set.vol3+4.PAR2"};
    EXPECT_EQ(ListFolder(f.dir.path()), expected);
}

TEST(CreationJob, ExponentWidthFollowsTheLastExponent) {
    Fixture f;
    f.AddFile("a.bin", 400000);
    CreationParameters p = Prepare(f, 400, 100, kUniform);
    p.setRecoveryFileCount(2);
    p.setFirstRecoveryBlock(9950);
    JobResult r = RunJob(p);
    ASSERT_TRUE(r.ok) << r.status.failureCode;
    EXPECT_TRUE(test::FileExists(f.dir.File("set.vol09950+50.PAR2")));
    EXPECT_TRUE(test::FileExists(f.dir.File("set.vol10000+50.PAR2")));
}

TEST(CreationJob, NoSourceFilesOrBlocksFail) {
    Fixture f;
    CreationParameters p = Prepare(f, 4, 0);
    JobResult r = RunJob(p);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.status.phase, kPhaseFailed);
    EXPECT_EQ(r.status.failureCode, kFailNoSourceFiles);
    EXPECT_EQ(CreationFailureMessage(kFailNoSourceFiles), "Fallito: Nessun file sorgente");
    EXPECT_EQ(CreationFailureMessage(kFailDataVerify), "Fallito:  Verifica Dati Fallita");
    EXPECT_EQ(CreationFailureMessage(static_cast<CreationFailure>(99)), "Fallito");
    f.AddFile("empty", 0);
    CreationParameters q = Prepare(f, 4, 0);
    r = RunJob(q);
    EXPECT_EQ(r.status.failureCode, kFailNoSourceBlocks);
}

TEST(CreationJob, SizeChangedSinceTheListFailsWithCode5) {
    Fixture f;
    f.AddFile("a.bin", 10000);
    CreationParameters p = Prepare(f, 1000, 2);
    test::WriteFile(f.dir.File("a.bin"), std::vector<uint8_t>(20000, 1));
    JobResult r = RunJob(p);
    EXPECT_EQ(r.status.failureCode, kFailSliceCount);
}

TEST(CreationJob, MissingSourceFailsWithCode4AndItsName) {
    Fixture f;
    f.AddFile("a.bin", 10000);
    CreationParameters p = Prepare(f, 1000, 2);
    fs::remove(f.dir.File("a.bin"));
    JobResult r = RunJob(p);
    EXPECT_EQ(r.status.failureCode, kFailDescriptionPacket);
    EXPECT_EQ(r.status.fileName, f.dir.File("a.bin"));
}

TEST(CreationJob, RecoveryZeroWritesOnlyTheIndexFile) {
    Fixture f;
    f.AddFile("a.bin", 5000);
    CreationParameters p = Prepare(f, 1000, 0);
    ASSERT_EQ(p.recoveryBlockCount, 0u);
    JobResult r = RunJob(p);
    ASSERT_TRUE(r.ok) << r.status.failureCode;
    EXPECT_EQ(ListFolder(f.dir.path()), (std::vector<std::string>{"a.bin", "set.par2"}));
    if (HavePar2()) {
        EXPECT_EQ(RunPar2("v -q " + f.dir.File("set.par2")), 0);
    }
}

class StopAtBlock : public CreationJobTestHooks {
  public:
    explicit StopAtBlock(StopFlag& flag) : flag_(flag) {}
    void AfterBlock(uint32_t, uint32_t block) override {
        if (block == 3) flag_ = 1;
    }

  private:
    StopFlag& flag_;
};

TEST(CreationJob, StoppedJobLeavesNothing) {
    Fixture f;
    f.AddFile("a.bin", 50000);
    CreationParameters p = Prepare(f, 1000, 20);
    p.setSplit(true);
    p.setSplitLimit(10000);
    StopFlag stop{0};
    StopAtBlock hooks(stop);
    CreationJobOptions options;
    options.hooks = &hooks;
    JobResult r = RunJob(p, options, &stop);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(ListFolder(f.dir.path()), (std::vector<std::string>{"a.bin"}));
}

class ChangeSource : public CreationJobTestHooks {
  public:
    explicit ChangeSource(std::string path) : path_(std::move(path)) {}
    void BeforeVerification() override {
        std::vector<uint8_t> data = test::ReadFile(path_);
        data[data.size() / 2] ^= 0x40;
        test::WriteFile(path_, data);
    }

  private:
    std::string path_;
};

TEST(CreationJob, SourceChangedDuringCreationGivesCode17AndLeavesNothing) {
    Fixture f;
    f.AddFile("a.bin", 30000);
    CreationParameters p = Prepare(f, 1000, 3);
    ChangeSource hooks(f.dir.File("a.bin"));
    CreationJobOptions options;
    options.hooks = &hooks;
    JobResult r = RunJob(p, options);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.status.failureCode, kFailDataVerify);
    EXPECT_EQ(ListFolder(f.dir.path()), (std::vector<std::string>{"a.bin"}));
}

// Changes one file written by the job, or a source, once it is written and
// before it is read back: a source or split piece after the pass, a volume
// once every volume is written.
class ChangeBeforeReadBack : public CreationJobTestHooks {
  public:
    std::string path;
    std::function<void(std::vector<uint8_t>&)> change;
    bool volume = false;
    void BeforeVerification() override {
        if (!volume) Change();
    }
    void BeforeOutputCheck() override {
        if (volume) Change();
    }

  private:
    void Change() {
        std::vector<uint8_t> data = test::ReadFile(path);
        change(data);
        test::WriteFile(path, data);
    }
};

// Runs the job with `change` made to the file at `path` before the read-back.
JobResult RunChanged(CreationParameters& p, const std::string& path,
                     std::function<void(std::vector<uint8_t>&)> change, uint32_t threads = 0,
                     bool volume = false) {
    ChangeBeforeReadBack hooks;
    hooks.path = path;
    hooks.volume = volume;
    hooks.change = std::move(change);
    CreationJobOptions options;
    options.threads = threads;
    options.hooks = &hooks;
    return RunJob(p, options);
}

// The read-back compares every block of every source, however the blocks
// are spread over the streams and threads: a change anywhere, in one pass
// or in several, fails the job with the changed file's name.
TEST(CreationJob, ReadBackCatchesAChangeInAnySourceBlock) {
    Fixture f;
    f.AddFile("a.bin", 20000);
    f.AddFile("b.bin", 1234567);
    f.AddFile("c.bin", 5);
    f.AddFile("d.bin", 0);
    const std::vector<std::pair<std::string, std::function<void(std::vector<uint8_t>&)>>> changes =
        {
            {"b.bin", [](std::vector<uint8_t>& d) { d[0] ^= 1; }},
            {"b.bin", [](std::vector<uint8_t>& d) { d[d.size() / 2 + 3] ^= 0x80; }},
            {"b.bin", [](std::vector<uint8_t>& d) { d.back() ^= 4; }},
            {"b.bin", [](std::vector<uint8_t>& d) { d.push_back(0); }},
            {"b.bin", [](std::vector<uint8_t>& d) { d.pop_back(); }},
            {"a.bin", [](std::vector<uint8_t>& d) { d[19999] ^= 2; }},
            {"c.bin", [](std::vector<uint8_t>& d) { d[4] ^= 2; }},
            {"d.bin", [](std::vector<uint8_t>& d) { d.push_back(0); }},
        };
    for (uint32_t threads : {1u, 2u}) {
        for (uint64_t memory : {uint64_t{0}, uint64_t{6 * 3 * 3000}}) {
            for (const auto& [name, change] : changes) {
                const std::vector<uint8_t> original = test::ReadFile(f.dir.File(name));
                CreationParameters p = Prepare(f, 4096, 6);
                if (memory != 0) p.machine.physicalMemoryBytes = memory;
                JobResult r = RunChanged(p, f.dir.File(name), change, threads);
                EXPECT_FALSE(r.ok);
                EXPECT_EQ(r.status.failureCode, kFailDataVerify) << name << " " << threads;
                EXPECT_EQ(r.status.fileName, f.dir.File(name)) << threads << " " << memory;
                test::WriteFile(f.dir.File(name), original);
                for (const auto& path : r.outputs) EXPECT_FALSE(test::FileExists(path)) << path;
            }
        }
    }
}

// A file holding most of the data has its whole-file MD5 on a thread of its
// own, fed by the pass for its first blocks and by the read-back for the
// rest: a change in any block, on either side of where the feeding moves
// and in the short last block, still fails the job with the file's name.
TEST(CreationJob, ReadBackCatchesAChangeAnywhereInTheDominantFile) {
    Fixture f;
    f.AddFile("big.bin", 40 * 4096 + 1000);
    f.AddFile("small.bin", 3000);
    const std::string big = f.dir.File("big.bin");
    const std::vector<uint8_t> original = test::ReadFile(big);
    std::vector<size_t> places;
    for (size_t block = 0; block <= 40; block += 3) places.push_back(block * 4096 + 17);
    places.push_back(original.size() - 1);
    for (size_t place : places) {
        CreationParameters p = Prepare(f, 4096, 4);
        JobResult r = RunChanged(
            p, big, [&](std::vector<uint8_t>& d) { d[place] ^= 0x20; }, 2);
        EXPECT_FALSE(r.ok) << place;
        EXPECT_EQ(r.status.failureCode, kFailDataVerify) << place;
        EXPECT_EQ(r.status.fileName, big) << place;
        test::WriteFile(big, original);
    }
    // Unchanged, the set is whole and Debian's par2 (where present) takes it.
    CreationParameters p = Prepare(f, 4096, 4);
    CreationJobOptions options;
    options.threads = 2;
    JobResult r = RunJob(p, options);
    ASSERT_TRUE(r.ok) << r.status.failureCode;
    if (HavePar2()) EXPECT_EQ(RunPar2("v -q " + f.dir.File("set.par2")), 0);
}

// A written volume or split piece that no longer reads back as written fails
// the job, and no volume is left.
TEST(CreationJob, ReadBackCatchesADamagedVolumeOrPiece) {
    Fixture f;
    f.AddFile("a.bin", 50000);
    {
        CreationParameters p = Prepare(f, 1000, 6);
        JobResult r = RunChanged(
            p, PartPathOf(f.dir.File("set.vol1+2.PAR2")),
            [](std::vector<uint8_t>& d) { d[d.size() / 2] ^= 1; }, 0, true);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.status.failureCode, kFailPar2Verify);
        EXPECT_EQ(r.status.fileName, f.dir.File("set.vol1+2.PAR2"));
        EXPECT_EQ(ListFolder(f.dir.path()), (std::vector<std::string>{"a.bin"}));
    }
    {
        CreationParameters p = Prepare(f, 1000, 6);
        p.setSplit(true);
        p.setSplitLimit(20000);
        JobResult r = RunChanged(p, PartPathOf(f.dir.File("a.bin.002")),
                                 [](std::vector<uint8_t>& d) { d[7] ^= 1; });
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.status.failureCode, kFailDataVerify);
        EXPECT_EQ(r.status.fileName, f.dir.File("a.bin.002"));
    }
}

class DamageMemory : public CreationJobTestHooks {
  public:
    bool memory = false;
    bool signature = false;
    void AfterPatternWritten(uint8_t* area, size_t bytes) override {
        if (memory && bytes > 10) area[bytes / 2] ^= 1;
    }
    void BeforeSignatureCheck(uint32_t k, uint8_t* data, size_t length) override {
        if (signature && k == 1) data[length - 1] ^= 0x10;
    }
};

// Volumes laid out with counts given by the caller: one file per count
// that is not 0, in order, the exponents running on past an empty one;
// counts that do not add up to the recovery blocks fail the creation, and a
// later change of the recovery blocks goes back to the scheme's layout.
TEST(CreationJob, VolumesTakeTheBlockCountsGiven) {
    Fixture f;
    f.AddFile("a.bin", 30000);
    CreationParameters p = Prepare(f, 1000, 8);
    p.setVolumeBlockCounts({3, 1, 0, 4});
    EXPECT_EQ(p.volumeBlockCounts(), (std::vector<uint32_t>{3, 1, 0, 4}));
    EXPECT_EQ(p.recoveryFileCount, 3u);
    JobResult r = RunJob(p);
    ASSERT_TRUE(r.ok) << r.status.failureCode;
    std::vector<std::string> names;
    for (const std::string& path : r.outputs)
        names.push_back(std::filesystem::path(path).filename().string());
    EXPECT_EQ(names, (std::vector<std::string>{"set.vol0+3.PAR2", "set.vol3+1.PAR2",
                                                "set.vol4+4.PAR2", "set.par2"}));

    Fixture g;
    g.AddFile("a.bin", 30000);
    CreationParameters q = Prepare(g, 1000, 8);
    q.setVolumeBlockCounts({3, 4});
    EXPECT_FALSE(RunJob(q).ok);
    q.setRecoveryBlockCount(7);
    EXPECT_EQ(q.volumeBlockCounts(), (std::vector<uint32_t>{1, 2, 4}));
}

// With many small files the index (a file description and block checksums
// per file) outweighs the recovery blocks: whatever the scheme, the volumes
// carry it no more often than the doubling layout does, whose k volumes
// carry it at most 1 + 2 + … + k times.
TEST(CreationJob, ManySmallFilesRepeatTheIndexNoMoreThanTheDoublingLayout) {
    Fixture f;
    std::uniform_int_distribution<size_t> size(1, 400);
    for (int i = 0; i < 1000; ++i) f.AddFile("f" + std::to_string(i), size(f.rng));
    for (uint32_t scheme : {kPowersOfTwo, kLimitedToLargest, kUniform}) {
        CreationParameters p = Prepare(f, 512, 50, scheme);
        JobResult r = RunJob(p);
        ASSERT_TRUE(r.ok) << r.status.failureCode;
        uint64_t total = 0;
        for (const std::string& path : r.outputs) total += fs::file_size(path);
        const uint64_t index = fs::file_size(f.dir.File("set.par2"));  // one copy and a creator
        const uint64_t k = BitLength(50);
        EXPECT_LE(total, 50 * (512 + 68) + index * (1 + k * (k + 1) / 2))
            << scheme << ": " << r.outputs.size() << " files";
        for (const std::string& path : r.outputs) fs::remove(path);
    }
}

// Fails every write of a whole recovery block into the volume whose name
// holds `volume`.
class FailVolumeWrite : public FileFaultInjector {
  public:
    int BeforeWrite(const DiskFile& file, uint64_t, size_t length) override {
        return file.path.find(volume) != std::string::npos && length == blockLength ? ENOSPC : 0;
    }
    int BeforeSetSize(const DiskFile& file, uint64_t) override {
        return onSize && file.path.find(volume) != std::string::npos ? ENOSPC : 0;
    }
    std::string volume;
    size_t blockLength = 0;
    bool onSize = false;
};

// A volume that cannot take its recovery data (the disk is full) fails the
// creation with its own name, on one thread and on two, and no file the
// creation wrote is left.
TEST(CreationJob, AVolumeThatCannotBeWrittenFailsTheCreationWithItsName) {
    for (uint32_t threads : {1u, 2u}) {
        for (const char* volume : {"+1.", "+4.", "+8."}) {
            // No file holds most of the data, so the whole-file hashes take
            // no thread of their own and the pass has both.
            Fixture f;
            for (const char* name : {"a.bin", "b.bin", "c.bin"}) f.AddFile(name, 20000);
            CreationParameters p = Prepare(f, 1000, 15);  // volumes of 1, 2, 4 and 8 blocks
            FailVolumeWrite injector;
            injector.volume = volume;
            injector.blockLength = 1000;
            SetFileFaultInjector(&injector);
            CreationJobOptions options;
            options.threads = threads;
            const JobResult r = RunJob(p, options);
            SetFileFaultInjector(nullptr);
            EXPECT_FALSE(r.ok);
            EXPECT_EQ(r.status.failureCode, kFailWriteData) << volume;
            EXPECT_NE(r.status.fileName.find(volume), std::string::npos) << r.status.fileName;
            // Nothing that was written is left: the disk may be full.
            EXPECT_EQ(ListFolder(f.dir.path()),
                      (std::vector<std::string>{"a.bin", "b.bin", "c.bin"}));
        }
    }
    // A volume that cannot even be sized fails the same way.
    Fixture f;
    f.AddFile("a.bin", 20000);
    CreationParameters p = Prepare(f, 1000, 15);
    FailVolumeWrite injector;
    injector.volume = "+8.";
    injector.onSize = true;
    SetFileFaultInjector(&injector);
    const JobResult r = RunJob(p);
    SetFileFaultInjector(nullptr);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(ListFolder(f.dir.path()), (std::vector<std::string>{"a.bin"}));
}

TEST(CreationJob, MemoryAndSignatureFaultsAreCaught) {
    Fixture f;
    f.AddFile("a.bin", 30000);
    DamageMemory hooks;
    CreationJobOptions options;
    options.hooks = &hooks;
    hooks.memory = true;
    CreationParameters p = Prepare(f, 1000, 3);
    JobResult r = RunJob(p, options);
    EXPECT_EQ(r.status.failureCode, kFailMemoryError);
    hooks.memory = false;
    hooks.signature = true;
    CreationParameters q = Prepare(f, 1000, 3);
    r = RunJob(q, options);
    EXPECT_EQ(r.status.failureCode, kFailBlockSignature);
}

// The files written must not depend on the thread count or on the number of
// passes the memory allows.
TEST(CreationJob, ThreadsAndPassesGiveTheSameBytes) {
    Fixture f;
    f.AddFile("a.bin", 300001);
    f.AddFile("b.bin", 123457);
    auto build = [&](uint32_t threads, uint64_t memory) {
        CreationParameters p = Prepare(f, 20000, 12);
        p.machine.physicalMemoryBytes = memory;
        CreationJobOptions options;
        options.threads = threads;
        JobResult r = RunJob(p, options);
        EXPECT_TRUE(r.ok) << r.status.failureCode;
        std::vector<std::vector<uint8_t>> contents;
        for (const auto& path : r.outputs) contents.push_back(test::ReadFile(path));
        return std::make_pair(contents, r.passes);
    };
    auto one = build(1, uint64_t{1} << 30);
    auto two = build(2, uint64_t{1} << 30);
    auto many = build(2, 12 * 3 * 3000);  // about 3000 bytes per pass
    EXPECT_EQ(one.second, 1u);
    EXPECT_GT(many.second, 5u);
    EXPECT_EQ(one.first, two.first);
    EXPECT_EQ(one.first, many.first);
}

// What a set of options writes, as one digest over every output in order
// (and every split piece): these were taken from a build whose read of the
// sources hashed every block and every file in separate streams, so any
// change in how the data are read, hashed or multiplied that alters a
// single byte shows here.
TEST(CreationJob, WrittenBytesMatchTheReferenceDigests) {
    struct Case {
        const char* what;
        std::vector<size_t> sizes;
        uint64_t blockSize;
        uint64_t recovery;
        uint32_t threads;
        uint64_t memory;  // 0: the default
        uint64_t split;   // 0: none
        const char* digest;
    };
    const std::vector<Case> cases = {
        {"one file", {1000003}, 40000, 5, 2, 0, 0, "2061fa44af62f706a1232bb63110a615"},
        {"one file, one thread", {1000003}, 40000, 5, 1, 0, 0, "2061fa44af62f706a1232bb63110a615"},
        {"many files and an empty one",
         {70001, 3, 0, 250000, 64, 40000},
         4096,
         12,
         2,
         0,
         0,
         "eada4495f9082f9dab366919ed0e4cf3"},
        {"one file, many recovery blocks",
         {200003},
         2048,
         60,
         2,
         0,
         0,
         "ca7fd57cd7b1d4b6b3947e18e30847cf"},
        {"small blocks", {65536, 30000}, 512, 40, 2, 0, 0, "ed4d316047f5e078055496b4406b0b36"},
        {"several passes",
         {300001, 123457},
         20000,
         12,
         2,
         12 * 3 * 3000,
         0,
         "4aff26eba977670134be661cd5561182"},
        {"several passes, one thread",
         {300001, 123457},
         20000,
         12,
         1,
         12 * 3 * 3000,
         0,
         "4aff26eba977670134be661cd5561182"},
        {"split", {250000, 9000}, 10000, 6, 2, 0, 60000, "756268287758eac8deb58a7db2aae17b"},
        {"no recovery", {123456, 77}, 8192, 0, 2, 0, 0, "e8f7286434bbf0912a538c31305342bc"},
    };
    for (const Case& c : cases) {
        Fixture f;
        f.rng.seed(20261208);
        for (size_t i = 0; i < c.sizes.size(); ++i)
            f.AddFile("file" + std::to_string(i) + ".bin", c.sizes[i]);
        CreationParameters p = Prepare(f, c.blockSize, c.recovery);
        if (c.memory != 0) p.machine.physicalMemoryBytes = c.memory;
        if (c.split != 0) {
            p.setSplit(true);
            p.setSplitLimit(c.split);
        }
        CreationJobOptions options;
        options.threads = c.threads;
        JobResult r = RunJob(p, options);
        ASSERT_TRUE(r.ok) << c.what << ": " << r.status.failureCode;
        Md5Context all;
        for (const std::string& name : ListFolder(f.dir.path())) {
            const std::vector<uint8_t> bytes = test::ReadFile(f.dir.File(name));
            all.Update(name.data(), name.size());
            all.Update(bytes.data(), bytes.size());
        }
        EXPECT_EQ(all.Final().ToHex(), c.digest) << c.what;
    }
}

// Debian's par2 checks and repairs what we write.
TEST(CreationJobInterop, Par2VerifiesAndRepairsEveryScheme) {
    if (!HavePar2()) GTEST_SKIP() << "par2 not installed";
    for (uint32_t scheme : {kPowersOfTwo, kLimitedToLargest, kUniform}) {
        for (uint64_t blockSize : {1024u, 16384u}) {
            Fixture f;
            f.AddFile("one.dat", 120000);
            f.AddFile("two.dat", 70001);
            f.AddFile("empty.dat", 0);
            f.AddFile("three.dat", 3);
            CreationParameters p = Prepare(f, blockSize, 0, scheme);
            p.setRedundancy(3000);
            const uint64_t recovery = p.recoveryBlockCount;
            ASSERT_GT(recovery, 0u);
            JobResult r = RunJob(p);
            ASSERT_TRUE(r.ok) << r.status.failureCode;
            std::string volumes;
            for (const auto& path : r.outputs) volumes += " " + path;
            const std::string index = f.dir.File("set.par2");
            EXPECT_EQ(RunPar2("v -q " + index + volumes), 0) << scheme << " " << blockSize;
            // Delete one file and damage another, then repair.
            std::vector<uint8_t> two = test::ReadFile(f.dir.File("two.dat"));
            std::vector<uint8_t> three = test::ReadFile(f.dir.File("three.dat"));
            fs::remove(f.dir.File("three.dat"));
            std::vector<uint8_t> broken = two;
            broken[100] ^= 0xFF;
            test::WriteFile(f.dir.File("two.dat"), broken);
            ASSERT_EQ(RunPar2("r -q " + index + volumes), 0) << scheme << " " << blockSize;
            EXPECT_EQ(test::ReadFile(f.dir.File("two.dat")), two);
            EXPECT_EQ(test::ReadFile(f.dir.File("three.dat")), three);
        }
    }
}

TEST(CreationJobInterop, SingleFileAndSeveralPasses) {
    if (!HavePar2()) GTEST_SKIP() << "par2 not installed";
    Fixture f;
    f.AddFile("only.iso", 1000000);
    CreationParameters p = Prepare(f, 40000, 10);
    p.machine.physicalMemoryBytes = 3 * 10 * 9000;
    JobResult r = RunJob(p);
    ASSERT_TRUE(r.ok) << r.status.failureCode;
    EXPECT_GT(r.passes, 4u);
    std::string volumes;
    for (const auto& path : r.outputs) volumes += " " + path;
    EXPECT_EQ(RunPar2("v -q " + f.dir.File("set.par2") + volumes), 0);
    std::vector<uint8_t> original = test::ReadFile(f.dir.File("only.iso"));
    std::vector<uint8_t> broken = original;
    for (size_t i = 0; i < 5; ++i) broken[i * 150000 + 7] ^= 1;
    test::WriteFile(f.dir.File("only.iso"), broken);
    ASSERT_EQ(RunPar2("r -q " + f.dir.File("set.par2") + volumes), 0);
    EXPECT_EQ(test::ReadFile(f.dir.File("only.iso")), original);
}

}  // namespace
}  // namespace vantrove
