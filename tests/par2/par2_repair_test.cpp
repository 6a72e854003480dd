// Repair of PAR 2.0 sets made with real recovery data: rebuilding deleted
// and damaged files, which exponents are used, joining without recovery
// data, blocks that straddle two pieces, the clean-up settings, and every
// way a repair can fail (too few slices, a vanished volume, a write error,
// a read-only folder, cancellation) leaving the user's files alone.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <tuple>

#include "par2_set_builder.h"
#include "par2_test_support.h"
#include "support/test_env.h"
#include "support/unreadable_file.h"

namespace vantrove {
namespace {

using test::Bytes;
using test::FileExists;
using test::Par2SetBuilder;
using test::ReadFile;

constexpr uint64_t kSlice = 1024;

// Records the status; optionally sets the stop flag once an activity starts.
class StopObserver : public SetObserver {
  public:
    void ReportVolumeFile(const SetFile&) override {}
    void RemoveVolumeFile(const SetFile& file) override { removed.push_back(file.path); }
    void StatusChanged(const RecoverySetStatus& status) override {
        activities.push_back(status.activity);
        if (stop && status.activity == stopAt) stop->store(1);
    }
    void ReportSourceFileLine(SourceRowKind, FormatKind, const std::string& name, uint64_t,
                              uint32_t, const std::vector<SourcePlace>& places) override {
        placesOf[name] = places;
    }
    void ClearLists() override {}

    StopFlag* stop = nullptr;
    std::map<std::string, std::vector<SourcePlace>> placesOf;
    Activity stopAt = Activity::Recovering;
    std::vector<Activity> activities;
    std::vector<std::string> removed;
};

class WriteFails : public FileFaultInjector {
  public:
    explicit WriteFails(std::string path, int error) : path_(std::move(path)), error_(error) {
        SetFileFaultInjector(this);
    }
    ~WriteFails() override { SetFileFaultInjector(nullptr); }
    int BeforeWrite(const DiskFile& file, uint64_t, size_t) override {
        return file.path == path_ ? error_ : 0;
    }

  private:
    std::string path_;
    int error_;
};

// Changes one byte of a file just before the first read of it: a rebuilt
// file that is no longer what the repair wrote when it is read back.
class DamagedBeforeFirstRead : public FileFaultInjector {
  public:
    DamagedBeforeFirstRead(std::string path, uint64_t offset)
        : path_(std::move(path)), offset_(offset) {
        SetFileFaultInjector(this);
    }
    ~DamagedBeforeFirstRead() override { SetFileFaultInjector(nullptr); }
    int BeforeRead(const DiskFile& file, uint64_t, size_t) override {
        if (file.path != path_ || done_.exchange(true)) return 0;
        const int fd = open(path_.c_str(), O_RDWR);
        uint8_t byte = 0;
        if (fd >= 0 && pread(fd, &byte, 1, static_cast<off_t>(offset_)) == 1) {
            byte ^= 0x5A;
            damaged_ = pwrite(fd, &byte, 1, static_cast<off_t>(offset_)) == 1;
        }
        if (fd >= 0) close(fd);
        return 0;
    }
    bool damaged() const { return damaged_; }

  private:
    std::string path_;
    uint64_t offset_;
    std::atomic<bool> done_{false};
    std::atomic<bool> damaged_{false};
};

// Every write (or every sizing) of a work file fails as on a full disk.
class DiskFull : public FileFaultInjector {
  public:
    explicit DiskFull(bool onSize) : onSize_(onSize) { SetFileFaultInjector(this); }
    ~DiskFull() override { SetFileFaultInjector(nullptr); }
    int BeforeWrite(const DiskFile& file, uint64_t, size_t) override {
        return !onSize_ && IsPartFileName(FileNameOfPath(file.path)) ? ENOSPC : 0;
    }
    int BeforeSetSize(const DiskFile& file, uint64_t) override {
        return onSize_ && IsPartFileName(FileNameOfPath(file.path)) ? ENOSPC : 0;
    }

  private:
    bool onSize_;
};

class Par2Repair : public ::testing::Test {
  protected:
    Par2Repair()
        : folder_(dir_.path() + "/"),
          cache_(dir_.path() + "/cache/"),
          rng_(test::TestSeed()),
          builder_(folder_, kSlice) {}

    // a.bin (5 blocks), b.bin (2.5 blocks), c.txt (one short block); the
    // index volume, and one volume per exponent in `exponents`.
    void MakeSet(const std::vector<uint32_t>& exponents) {
        a_ = test::RandomBytes(rng_, 5 * kSlice);
        b_ = test::RandomBytes(rng_, 2 * kSlice + 500);
        c_ = test::RandomBytes(rng_, 10);
        builder_.AddFile("a.bin", a_);
        builder_.AddFile("b.bin", b_);
        builder_.AddFile("c.txt", c_);
        builder_.Build();
        test::WriteVolume(folder_ + "set.par2", builder_.Critical());
        for (uint32_t e : exponents) {
            test::WriteVolume(VolumePath(e), {builder_.RealSlice(e)});
        }
    }
    std::string VolumePath(uint32_t e) const {
        return folder_ + "set.vol" + std::to_string(e) + "+1.par2";
    }

    std::unique_ptr<RecoverySet> Open(SetObserver* observer = nullptr,
                                      const StopFlag* stop = nullptr, uint32_t threads = 0) {
        auto set = test::OpenAndScan(folder_ + "set.par2", cache_, observer, stop);
        RepairOptions options;
        options.useRecycleBin = false;
        options.threads = threads;
        set->SetRepairOptions(options);
        return set;
    }

    void ExpectIntact() {
        EXPECT_EQ(ReadFile(folder_ + "a.bin"), a_);
        EXPECT_EQ(ReadFile(folder_ + "b.bin"), b_);
        EXPECT_EQ(ReadFile(folder_ + "c.txt"), c_);
    }

    void Flip(const std::string& name, size_t offset) {
        Bytes data = ReadFile(folder_ + name);
        data[offset] ^= 0x5A;
        test::WriteFile(folder_ + name, data);
    }

    test::TempDir dir_;
    std::string folder_;
    VerificationCache cache_;
    std::mt19937_64 rng_;
    Par2SetBuilder builder_;
    Bytes a_, b_, c_;
};

TEST_F(Par2Repair, RebuildsDeletedDamagedAndTruncatedFilesAtOnce) {
    MakeSet({0, 1, 2, 3, 4, 5, 6, 7});
    unlink((folder_ + "c.txt").c_str());
    Flip("a.bin", 2 * kSlice + 17);
    Bytes shorter(b_.begin(), b_.begin() + kSlice + 3);
    test::WriteFile(folder_ + "b.bin", shorter);

    auto set = Open();
    ASSERT_EQ(set->status().state, RecoveryState::RepairPossible);
    ASSERT_EQ(set->status().subState, SubState::NeedRecoveryBlocks);
    set->Repair();
    EXPECT_EQ(set->status().errorKind, ErrorKind::None);
    EXPECT_EQ(set->status().state, RecoveryState::Repaired);
    ExpectIntact();
    for (const SourceFileEntryRef& e : set->entries()) {
        EXPECT_EQ(e->state, FileState::Complete) << e->name;
        EXPECT_TRUE(e->targetFile->flags.repaired) << e->name;
    }
    // Damaged originals went (the default), volumes stayed.
    EXPECT_FALSE(FileExists(folder_ + "a.bin.1"));
    EXPECT_FALSE(FileExists(folder_ + "b.bin.1"));
    EXPECT_TRUE(FileExists(VolumePath(7)));

    // A fresh look agrees.
    set->FinishActivity();
    auto again = Open();
    EXPECT_EQ(again->status().state, RecoveryState::AllVerified);
}

TEST_F(Par2Repair, UsesTheLowestExponentsAndNoOthers) {
    MakeSet({0, 2, 3, 7, 9});
    unlink((folder_ + "b.bin").c_str());  // three blocks
    auto set = Open();
    ASSERT_EQ(set->status().state, RecoveryState::RepairPossible);
    test::AccessRecorder recorder;
    set->Repair();
    EXPECT_EQ(set->status().errorKind, ErrorKind::None);
    ExpectIntact();
    EXPECT_GT(recorder.BytesRead("set.vol0+1.par2"), 0u);
    EXPECT_GT(recorder.BytesRead("set.vol2+1.par2"), 0u);
    EXPECT_GT(recorder.BytesRead("set.vol3+1.par2"), 0u);
    EXPECT_EQ(recorder.BytesRead("set.vol7+1.par2"), 0u);
    EXPECT_EQ(recorder.BytesRead("set.vol9+1.par2"), 0u);
}

TEST_F(Par2Repair, TooFewUsableSlicesFailsTheMatrixAndDeletesTheTargets) {
    MakeSet({0, 1});
    // A third slice that is a valid packet but not a whole slice: counted as
    // available, useless for a rebuild.
    test::WriteVolume(VolumePath(2), {builder_.SliceOfLength(2, kSlice / 2)});
    unlink((folder_ + "b.bin").c_str());
    auto set = Open();
    ASSERT_EQ(set->status().recoveryBlocksAvailable, 3);
    ASSERT_EQ(set->status().state, RecoveryState::RepairPossible);
    set->Repair();
    EXPECT_EQ(set->status().errorKind, ErrorKind::ReedSolomon);
    EXPECT_FALSE(FileExists(folder_ + "b.bin"));
    EXPECT_EQ(ReadFile(folder_ + "a.bin"), a_);
    EXPECT_TRUE(FileExists(VolumePath(2)));
    EXPECT_NE(set->status().state, RecoveryState::Repaired);
}

TEST_F(Par2Repair, MisnamedFilesAreRenamedWithoutReadingRecoveryData) {
    MakeSet({0, 1});
    ASSERT_EQ(rename((folder_ + "a.bin").c_str(), (folder_ + "renamed.dat").c_str()), 0);
    auto set = Open();
    ASSERT_EQ(set->status().state, RecoveryState::RepairPossible);
    ASSERT_EQ(set->status().subState, SubState::RenameOnly);
    test::AccessRecorder recorder;
    set->Repair();
    EXPECT_EQ(set->status().errorKind, ErrorKind::None);
    EXPECT_EQ(set->status().state, RecoveryState::Repaired);
    ExpectIntact();
    EXPECT_FALSE(FileExists(folder_ + "renamed.dat"));
    EXPECT_EQ(recorder.BytesRead(".par2"), 0u);
}

TEST_F(Par2Repair, StraddlingBlockIsRecoveredAndTheFileJoinedWithoutRecoveryData) {
    // One 1 MiB-slice file split at an offset that is no multiple of the
    // slice size; the middle block lies across the two pieces.
    const uint64_t slice = 1048576;
    Par2SetBuilder big(folder_, slice);
    Bytes data = test::RandomBytes(rng_, 3 * slice + 100);
    big.AddFile("movie.bin", data);
    big.Build();
    test::WriteVolume(folder_ + "movie.par2", big.Critical());
    test::WriteVolume(folder_ + "movie.vol0+1.par2", {big.RealSlice(0)});
    const size_t cut = slice + slice / 2;
    test::WriteFile(folder_ + "movie.bin.001", Bytes(data.begin(), data.begin() + cut));
    test::WriteFile(folder_ + "movie.bin.002", Bytes(data.begin() + cut, data.end()));
    unlink((folder_ + "movie.bin").c_str());

    auto set = test::OpenAndScan(folder_ + "movie.par2", cache_);
    const std::string gap = folder_ + "movie.bin.#1048576-2097151#";
    ASSERT_TRUE(FileExists(gap));
    EXPECT_EQ(ReadFile(gap), Bytes(data.begin() + slice, data.begin() + 2 * slice));
    EXPECT_EQ(set->status().dataBlocksAvailable, 4);
    EXPECT_EQ(set->status().state, RecoveryState::RepairPossible);
    EXPECT_EQ(set->status().subState, SubState::CanJoin);
    EXPECT_TRUE(set->entries()[0]->joinable);

    RepairOptions options;
    options.useRecycleBin = false;
    set->SetRepairOptions(options);
    test::AccessRecorder recorder;
    set->Repair();
    EXPECT_EQ(set->status().errorKind, ErrorKind::None);
    EXPECT_EQ(ReadFile(folder_ + "movie.bin"), data);
    EXPECT_EQ(recorder.BytesRead("movie.vol0+1.par2"), 0u);
    // The pieces and the boundary block were only data for the join.
    EXPECT_FALSE(FileExists(gap));
    EXPECT_FALSE(FileExists(folder_ + "movie.bin.001"));
}

TEST_F(Par2Repair, BoundaryBlockFileGoesWithTheSetAndAfterAJoinThatKeepsThePieces) {
    // A file split at no block boundary: the block across the cut is put
    // together in a file of its own, which is the set's, not the user's.
    Par2SetBuilder big(folder_, kSlice);
    Bytes data = test::RandomBytes(rng_, 3 * kSlice + 100);
    big.AddFile("movie.bin", data);
    big.Build();
    test::WriteVolume(folder_ + "movie.par2", big.Critical());
    const size_t cut = kSlice + kSlice / 2;
    test::WriteFile(folder_ + "movie.bin.001", Bytes(data.begin(), data.begin() + cut));
    test::WriteFile(folder_ + "movie.bin.002", Bytes(data.begin() + cut, data.end()));
    unlink((folder_ + "movie.bin").c_str());
    const std::string gap = folder_ + "movie.bin.#1024-2047#";

    for (const bool repair : {false, true}) {
        SCOPED_TRACE(repair ? "repaired" : "verified only");
        auto set = test::OpenAndScan(folder_ + "movie.par2", cache_);
        ASSERT_TRUE(FileExists(gap));
        ASSERT_EQ(set->status().subState, SubState::CanJoin);
        if (repair) {
            RepairOptions keep;
            keep.deleteDamagedFiles = false;
            keep.deleteRecoveryFiles = false;
            set->SetRepairOptions(keep);
            set->Repair();
            EXPECT_EQ(set->status().errorKind, ErrorKind::None);
            EXPECT_EQ(ReadFile(folder_ + "movie.bin"), data);
            EXPECT_TRUE(FileExists(folder_ + "movie.bin.001"));
            EXPECT_FALSE(FileExists(gap));
            EXPECT_FALSE(set->FindKnownFile(gap));
        }
        set.reset();
        EXPECT_FALSE(FileExists(gap));
    }
}

TEST_F(Par2Repair, BothDeleteSettingsOffDeleteNothing) {
    MakeSet({0, 1, 2, 3});
    Flip("a.bin", 5);
    auto set = Open();
    RepairOptions keep;
    keep.deleteDamagedFiles = false;
    keep.deleteRecoveryFiles = false;
    set->SetRepairOptions(keep);
    set->Repair();
    EXPECT_EQ(set->status().state, RecoveryState::Repaired);
    ExpectIntact();
    EXPECT_TRUE(FileExists(folder_ + "a.bin.1"));
    for (uint32_t e : {0u, 1u, 2u, 3u}) EXPECT_TRUE(FileExists(VolumePath(e)));

    // With the recovery setting on, the volumes of the set go (not to the
    // trash here) and their lines are removed.
    Flip("b.bin", 5);
    StopObserver observer;
    auto second = Open(&observer);
    RepairOptions dropVolumes;
    dropVolumes.deleteDamagedFiles = false;
    dropVolumes.deleteRecoveryFiles = true;
    dropVolumes.useRecycleBin = false;
    second->SetRepairOptions(dropVolumes);
    second->Repair();
    EXPECT_EQ(second->status().errorKind, ErrorKind::None);
    ExpectIntact();
    for (uint32_t e : {0u, 1u, 2u, 3u}) EXPECT_FALSE(FileExists(VolumePath(e)));
    EXPECT_EQ(observer.removed.size(), 4u);
    EXPECT_TRUE(FileExists(folder_ + "set.par2"));
    EXPECT_TRUE(FileExists(folder_ + "b.bin.1"));
}

// The names in the set's folder, the cache's folder left out.
std::set<std::string> Names(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name != "cache") names.insert(name);
    }
    return names;
}

// A stop at any step of a repair (the renaming, the matrix, the rebuild, the
// read-back) is reported as a stop, deletes the partial targets and puts the
// damaged file back under its own name: the folder is as it was.
class Par2RepairStop : public Par2Repair, public ::testing::WithParamInterface<Activity> {};

TEST_P(Par2RepairStop, LeavesEveryNameAsItWas) {
    MakeSet({0, 1, 2, 3, 4});
    Flip("a.bin", 3 * kSlice);
    unlink((folder_ + "c.txt").c_str());
    const Bytes damaged = ReadFile(folder_ + "a.bin");
    const std::set<std::string> before = Names(folder_);
    StopFlag stop{0};
    StopObserver observer;
    auto set = Open(&observer, &stop);
    ASSERT_EQ(set->status().state, RecoveryState::RepairPossible);
    observer.stop = &stop;
    observer.stopAt = GetParam();
    set->Repair();
    EXPECT_EQ(set->status().errorKind, ErrorKind::Cancelled);
    EXPECT_EQ(ReadFile(folder_ + "a.bin"), damaged);
    EXPECT_EQ(Names(folder_), before);
    EXPECT_EQ(ReadFile(folder_ + "b.bin"), b_);
    for (const SourceFileEntryRef& e : set->entries()) {
        const FileState expected = e->name == "a.bin"   ? FileState::Damaged
                                   : e->name == "c.txt" ? FileState::Missing
                                                        : FileState::Complete;
        EXPECT_EQ(e->state, expected) << e->name;
    }

    // Once the stop flag is down again the repair finishes.
    stop.store(0);
    observer.stop = nullptr;
    set->FinishActivity();
    ASSERT_EQ(set->status().state, RecoveryState::RepairPossible);
    set->Repair();
    EXPECT_EQ(set->status().errorKind, ErrorKind::None);
    ExpectIntact();
}

INSTANTIATE_TEST_SUITE_P(EveryStep, Par2RepairStop,
                         ::testing::Values(Activity::Renaming, Activity::ComputingMatrix,
                                           Activity::Recovering, Activity::Reverifying));

// A disk that fills up while the targets are sized or written fails the
// repair with the write error, and the damaged file takes its name again.
class Par2RepairDiskFull : public Par2Repair, public ::testing::WithParamInterface<bool> {};

TEST_P(Par2RepairDiskFull, PutsTheDamagedFileBackUnderItsName) {
    MakeSet({0, 1, 2, 3});
    Flip("a.bin", 2 * kSlice);
    unlink((folder_ + "b.bin").c_str());
    const Bytes damaged = ReadFile(folder_ + "a.bin");
    const std::set<std::string> before = Names(folder_);
    auto set = Open();
    ASSERT_EQ(set->status().state, RecoveryState::RepairPossible);
    {
        DiskFull full(GetParam());
        set->Repair();
    }
    EXPECT_NE(set->status().errorKind, ErrorKind::None);
    EXPECT_EQ(set->status().systemErrorCode, static_cast<uint32_t>(ENOSPC));
    EXPECT_EQ(ReadFile(folder_ + "a.bin"), damaged);
    EXPECT_EQ(Names(folder_), before);
}

INSTANTIATE_TEST_SUITE_P(WriteOrSize, Par2RepairDiskFull, ::testing::Bool());

TEST_F(Par2Repair, WriteErrorIsKindSevenWithTheFileAndNeverSuccess) {
    MakeSet({0, 1, 2});
    unlink((folder_ + "b.bin").c_str());
    auto set = Open();
    {
        WriteFails full(PartPathOf(folder_ + "b.bin"), ENOSPC);  // rebuilt under its work name
        set->Repair();
    }
    EXPECT_EQ(set->status().errorKind, ErrorKind::Write);
    EXPECT_EQ(set->status().systemErrorCode, static_cast<uint32_t>(ENOSPC));
    EXPECT_EQ(set->status().errorFile, folder_ + "b.bin");
    EXPECT_NE(set->status().state, RecoveryState::Repaired);
    EXPECT_FALSE(FileExists(folder_ + "b.bin"));  // our half-made target went
    EXPECT_EQ(ReadFile(folder_ + "a.bin"), a_);
    for (uint32_t e = 0; e < 3; ++e) EXPECT_TRUE(FileExists(VolumePath(e)));
}

TEST_F(Par2Repair, VolumeGoneBetweenScanAndRepairIsAnOpenError) {
    MakeSet({0, 1, 2});
    Flip("b.bin", 1);
    auto set = Open();
    ASSERT_EQ(set->status().state, RecoveryState::RepairPossible);
    unlink(VolumePath(0).c_str());
    set->Repair();
    EXPECT_EQ(set->status().errorKind, ErrorKind::Open);
    EXPECT_EQ(set->status().systemErrorCode, static_cast<uint32_t>(ENOENT));
    EXPECT_EQ(set->status().errorFile, VolumePath(0));
    EXPECT_FALSE(FileExists(folder_ + "b.bin.1"));
    Bytes damaged = b_;
    damaged[1] ^= 0x5A;
    EXPECT_EQ(ReadFile(folder_ + "b.bin"), damaged);
}

// A data file of which a few bytes cannot be read is a damaged file: its
// readable blocks count, the others are rebuilt, and the file itself is
// stepped aside untouched while its intact copy is written under its name.
TEST_F(Par2Repair, UnreadableBlocksOfAFileAreRebuiltAndTheFileIsNeverWritten) {
    MakeSet({0, 1, 2});
    test::UnreadableFile disk(folder_ + "a.bin", 2 * kSlice + 10, 2 * kSlice + 20);
    StopObserver observer;
    auto set = Open(&observer);
    ASSERT_EQ(set->status().state, RecoveryState::RepairPossible);
    EXPECT_EQ(set->status().errorKind, ErrorKind::None);
    EXPECT_EQ(set->status().dataBlocksAvailable, 8);  // all but block 2 of a.bin
    const auto named = [&set](const std::string& name) {
        return std::find_if(set->entries().begin(), set->entries().end(),
                            [&name](const SourceFileEntryRef& e) { return e->name == name; });
    };
    ASSERT_NE(named("a.bin"), set->entries().end());
    const SourceFileEntry& a = **named("a.bin");
    EXPECT_EQ(a.state, FileState::Damaged);
    EXPECT_EQ(a.MissingBlockCount(), 1u);
    ASSERT_NE(a.targetFile, nullptr);
    EXPECT_EQ(a.targetFile->readError, EIO);
    // The desktop's file list hears it with the file's row.
    ASSERT_EQ(observer.placesOf["a.bin"].size(), 1u);
    EXPECT_EQ(observer.placesOf["a.bin"][0].blockCount, 4u);
    EXPECT_EQ(observer.placesOf["a.bin"][0].readError, EIO);

    RepairOptions keep;
    keep.deleteDamagedFiles = false;
    set->SetRepairOptions(keep);
    set->Repair();
    EXPECT_EQ(set->status().errorKind, ErrorKind::None);
    EXPECT_EQ(set->status().state, RecoveryState::Repaired);
    ExpectIntact();
    EXPECT_TRUE(disk.IsIt(folder_ + "a.bin.1"));  // kept as the damaged copy
    EXPECT_FALSE(disk.written());
}

// A rebuilt file that cannot be read back fails the repair as a read error
// of that file, named as the user knows it, and goes.
TEST_F(Par2Repair, ARebuiltFileThatCannotBeReadBackIsAReadErrorOfItsName) {
    MakeSet({0, 1, 2});
    unlink((folder_ + "b.bin").c_str());
    auto set = Open();
    ASSERT_EQ(set->status().state, RecoveryState::RepairPossible);
    class ReadBackFails : public FileFaultInjector {
      public:
        explicit ReadBackFails(std::string path) : path_(std::move(path)) {
            SetFileFaultInjector(this);
        }
        ~ReadBackFails() override { SetFileFaultInjector(nullptr); }
        int BeforeRead(const DiskFile& file, uint64_t, size_t) override {
            return file.path == path_ ? EIO : 0;
        }

      private:
        std::string path_;
    };
    {
        ReadBackFails fails(PartPathOf(folder_ + "b.bin"));
        set->Repair();
    }
    EXPECT_EQ(set->status().errorKind, ErrorKind::Read);
    EXPECT_EQ(set->status().systemErrorCode, static_cast<uint32_t>(EIO));
    EXPECT_EQ(set->status().errorFile, folder_ + "b.bin");
    EXPECT_FALSE(FileExists(folder_ + "b.bin"));
    EXPECT_FALSE(FileExists(PartPathOf(folder_ + "b.bin")));
}

TEST_F(Par2Repair, SymbolicLinksAtTargetNamesAreNeverWrittenThrough) {
    MakeSet({0, 1, 2, 3, 4, 5});
    test::TempDir elsewhere;
    const std::string outside = elsewhere.File("outside");
    test::WriteFile(outside, std::string("not yours"));
    // Seen by the scan: a link where b.bin should be.
    unlink((folder_ + "b.bin").c_str());
    ASSERT_EQ(symlink(outside.c_str(), (folder_ + "b.bin").c_str()), 0);
    auto set = Open();
    ASSERT_EQ(set->status().state, RecoveryState::RepairPossible);
    set->Repair();
    EXPECT_EQ(set->status().errorKind, ErrorKind::None);
    struct stat st {};
    ASSERT_EQ(lstat((folder_ + "b.bin").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(ReadFile(folder_ + "b.bin"), b_);
    EXPECT_EQ(ReadFile(outside), Bytes({'n', 'o', 't', ' ', 'y', 'o', 'u', 'r', 's'}));

    // Appearing after the scan, where the scan saw nothing: refused.
    unlink((folder_ + "c.txt").c_str());
    set->FinishActivity();
    auto again = Open();
    ASSERT_EQ(again->status().state, RecoveryState::RepairPossible);
    ASSERT_EQ(symlink(outside.c_str(), (folder_ + "c.txt").c_str()), 0);
    again->Repair();
    EXPECT_EQ(again->status().errorKind, ErrorKind::CreateTarget);
    EXPECT_EQ(again->status().errorFile, folder_ + "c.txt");
    EXPECT_EQ(ReadFile(outside), Bytes({'n', 'o', 't', ' ', 'y', 'o', 'u', 'r', 's'}));
    ASSERT_EQ(lstat((folder_ + "c.txt").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST_F(Par2Repair, ReadOnlyFolderRefusesTheTargetAndChangesNothing) {
    if (geteuid() == 0) GTEST_SKIP() << "permission bits do not bind root";
    MakeSet({0, 1, 2});
    unlink((folder_ + "c.txt").c_str());
    auto set = Open();
    ASSERT_EQ(set->status().state, RecoveryState::RepairPossible);
    ASSERT_EQ(chmod(dir_.path().c_str(), 0555), 0);
    set->Repair();
    chmod(dir_.path().c_str(), 0755);
    EXPECT_EQ(set->status().errorKind, ErrorKind::CreateTarget);
    EXPECT_EQ(set->status().systemErrorCode, static_cast<uint32_t>(EACCES));
    EXPECT_EQ(set->status().errorFile, folder_ + "c.txt");
    EXPECT_EQ(ReadFile(folder_ + "a.bin"), a_);
    EXPECT_EQ(ReadFile(folder_ + "b.bin"), b_);
}

// Every rebuilt file is read back once the rebuild is over, several side by
// side where they allow it. One that is no longer what was written fails the
// repair and goes; the others stay repaired, whichever file it is (first,
// last, shorter than a block) and with one thread or two.
class Par2RebuiltReadBack
    : public Par2Repair,
      public ::testing::WithParamInterface<std::tuple<const char*, uint32_t>> {};

TEST_P(Par2RebuiltReadBack, ADamagedRebuiltFileFailsAloneAndIsDiscarded) {
    const std::string damaged = std::get<0>(GetParam());
    const uint32_t threads = std::get<1>(GetParam());
    MakeSet({0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    for (const char* name : {"a.bin", "b.bin", "c.txt"}) unlink((folder_ + name).c_str());
    auto set = Open(nullptr, nullptr, threads);
    ASSERT_EQ(set->status().state, RecoveryState::RepairPossible);
    {
        // The last byte: in the zero-padded last block of b.bin and c.txt.
        const uint64_t offset = damaged == "a.bin" ? 3 * kSlice + 5
                                : damaged == "b.bin" ? b_.size() - 1
                                                     : c_.size() - 1;
        DamagedBeforeFirstRead change(PartPathOf(folder_ + damaged), offset);
        set->Repair();
        ASSERT_TRUE(change.damaged());
    }
    EXPECT_EQ(set->status().errorKind, ErrorKind::VerifyFailed);
    EXPECT_NE(set->status().state, RecoveryState::Repaired);
    EXPECT_FALSE(FileExists(folder_ + damaged));
    EXPECT_FALSE(FileExists(PartPathOf(folder_ + damaged)));
    const std::map<std::string, const Bytes*> contents = {
        {"a.bin", &a_}, {"b.bin", &b_}, {"c.txt", &c_}};
    for (const SourceFileEntryRef& e : set->entries()) {
        if (e->name == damaged) {
            EXPECT_EQ(e->state, FileState::Missing);
            continue;
        }
        EXPECT_EQ(e->state, FileState::Complete) << e->name;
        EXPECT_TRUE(e->targetFile->flags.repaired) << e->name;
        EXPECT_EQ(ReadFile(folder_ + e->name), *contents.at(e->name)) << e->name;
    }

    // A fresh look sees only that file missing, and a second repair ends it.
    set->FinishActivity();
    auto again = Open(nullptr, nullptr, threads);
    ASSERT_EQ(again->status().state, RecoveryState::RepairPossible);
    for (const SourceFileEntryRef& e : again->entries()) {
        EXPECT_EQ(e->state, e->name == damaged ? FileState::Missing : FileState::Complete)
            << e->name;
    }
    again->Repair();
    EXPECT_EQ(again->status().errorKind, ErrorKind::None);
    ExpectIntact();
}

INSTANTIATE_TEST_SUITE_P(FirstLastShort, Par2RebuiltReadBack,
                         ::testing::Combine(::testing::Values("a.bin", "b.bin", "c.txt"),
                                            ::testing::Values(1u, 2u)));

}  // namespace
}  // namespace vantrove
