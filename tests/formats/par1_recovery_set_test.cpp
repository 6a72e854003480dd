// PAR 1.0 sets: loading and its checks, the folder search, matching of data
// files, the saved state, and the repair; against files made by the test's
// own builder and by Debian's parchive command.

#include "formats/par1_recovery_set.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>
#include <set>

#include "format_test_support.h"
#include "formats/par1_format.h"
#include "par1_builder.h"
#include "support/test_env.h"
#include "support/unreadable_file.h"

namespace vantrove {
namespace {

using test::Bytes;
using test::EntryNamed;
using test::FileExists;
using test::MakePar1File;
using test::OpenLikeWorker;
using test::Par1Build;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

// Counts, per path, the bytes read past the first 16 KiB.
class ReadWatcher : public FileFaultInjector {
  public:
    int BeforeRead(const DiskFile& file, uint64_t offset, size_t length) override {
        if (offset + length > kPar1Hash16kLength) readPastHead.insert(file.path);
        return 0;
    }
    std::set<std::string> readPastHead;
};

class Par1SetTest : public ::testing::Test {
  protected:
    Par1SetTest() : cache_(dir_.path() + "/cache/"), rng_(test::TestSeed()) {
        ::mkdir(Folder().c_str(), 0755);
    }

    std::string Folder() const { return dir_.path() + "/set/"; }
    std::string PathOf(const std::string& name) const { return Folder() + name; }

    // Three files of different sizes (the largest 40000 bytes).
    Par1Build ThreeFiles() {
        Par1Build build;
        build.files.push_back({"one.bin", test::RandomBytes(rng_, 40000)});
        build.files.push_back({"two.bin", test::RandomBytes(rng_, 17000)});
        build.files.push_back({"three.bin", test::RandomBytes(rng_, 5)});
        return build;
    }
    void WriteData(const Par1Build& build) {
        for (const auto& f : build.files) WriteFile(PathOf(f.name), f.data);
    }
    void WriteVolume(const Par1Build& build, uint64_t number, const std::string& name) {
        WriteFile(PathOf(name), MakePar1File(build, number));
    }
    std::unique_ptr<RecoverySet> NewSet(uint64_t memory = 0) {
        std::unique_ptr<RecoverySet> set = NewPar1Set(nullptr, nullptr);
        set->SetVerificationCache(&cache_);
        RepairOptions options;
        options.physicalMemoryBytes = memory;
        options.useRecycleBin = false;
        set->SetRepairOptions(options);
        return set;
    }
    std::unique_ptr<RecoverySet> OpenSet(const std::string& name, uint64_t memory = 0) {
        std::unique_ptr<RecoverySet> set = NewSet(memory);
        OpenLikeWorker(set, PathOf(name));
        return set;
    }
    static Par1RecoverySet& Par1(std::unique_ptr<RecoverySet>& set) {
        return *set->FormatAs<Par1RecoverySet>();
    }
    TempDir dir_;
    VerificationCache cache_;
    std::mt19937_64 rng_;
};

TEST_F(Par1SetTest, IntactSetVerifiesWithItsVolumes) {
    Par1Build build = ThreeFiles();
    WriteData(build);
    WriteVolume(build, 0, "x.par");
    WriteVolume(build, 1, "x.p01");
    WriteVolume(build, 2, "x.p02");
    auto set = OpenSet("x.par");
    const RecoverySetStatus& s = set->status();
    EXPECT_EQ(s.formatKind, FormatKind::Par1);
    EXPECT_EQ(s.sourceFileCount, 3);
    EXPECT_EQ(s.totalDataBlocks, 3u);
    EXPECT_EQ(s.blockSize, 40000u);
    EXPECT_EQ(s.totalSourceSize, 57005u);
    EXPECT_EQ(s.recoveryBlocksAvailable, 2);
    EXPECT_EQ(s.state, RecoveryState::AllVerified);
    EXPECT_EQ(s.creatorText, "PAR versione 0.9");
    EXPECT_EQ(s.setName, "x");
}

TEST_F(Par1SetTest, WrongControlHashOfTheMainFileGivesNoListButAVolumeDoes) {
    Par1Build build = ThreeFiles();
    WriteData(build);
    Bytes main = MakePar1File(build, 0);
    main.back() ^= 1;  // a name byte: the list still parses, the hash fails
    WriteFile(PathOf("x.par"), main);
    std::unique_ptr<RecoverySet> set = NewSet();
    set->Open(PathOf("x.par"));
    EXPECT_EQ(set->status().state, RecoveryState::NeedMoreVolumes);
    EXPECT_TRUE(set->FindKnownFile(PathOf("x.par"))->flags.damaged);

    WriteVolume(build, 1, "x.p01");
    set = OpenSet("x.par");
    EXPECT_EQ(set->status().sourceFileCount, 3);
    EXPECT_EQ(set->status().recoveryBlocksAvailable, 1);
}

TEST_F(Par1SetTest, VolumeWithWrongControlHashGivesNoRecoveryBlock) {
    Par1Build build = ThreeFiles();
    WriteData(build);
    WriteVolume(build, 0, "x.par");
    Bytes volume = MakePar1File(build, 1);
    volume.back() ^= 0x40;  // recovery data damaged
    WriteFile(PathOf("x.p01"), volume);
    WriteVolume(build, 2, "x.p02");
    auto set = OpenSet("x.par");
    EXPECT_EQ(set->status().recoveryBlocksAvailable, 1);
    EXPECT_EQ(Par1(set).recoveryVolumes().count(0), 0u);
    EXPECT_EQ(Par1(set).recoveryVolumes().count(1), 1u);
}

TEST_F(Par1SetTest, DuplicateVolumeNumbersCountOnce) {
    Par1Build build = ThreeFiles();
    WriteData(build);
    WriteVolume(build, 0, "x.par");
    WriteVolume(build, 3, "x.p03");
    WriteVolume(build, 3, "x.p04");  // says it is volume 3 as well
    auto set = OpenSet("x.par");
    EXPECT_EQ(set->status().recoveryBlocksAvailable, 1);
}

TEST_F(Par1SetTest, VolumeWithAnotherDataSizeIsNotRegistered) {
    Par1Build build = ThreeFiles();
    WriteData(build);
    WriteVolume(build, 0, "x.par");
    Bytes volume = MakePar1File(build, 1);
    test::PutLe64(volume, 88, test::GetLe64(volume, 88) - 1);
    test::FixPar1ControlHash(volume);
    WriteFile(PathOf("x.p01"), volume);
    auto set = OpenSet("x.par");
    EXPECT_EQ(set->status().recoveryBlocksAvailable, 0);
}

TEST_F(Par1SetTest, ListAnnouncingMoreEntriesMakesTheFileUnusable) {
    Par1Build build = ThreeFiles();
    Bytes main = MakePar1File(build, 0);
    test::PutLe64(main, 56, 4);
    test::FixPar1ControlHash(main);
    WriteFile(PathOf("x.par"), main);
    auto set = OpenSet("x.par");
    EXPECT_EQ(set->status().state, RecoveryState::NeedMoreVolumes);
    EXPECT_TRUE(set->FindKnownFile(PathOf("x.par"))->flags.unused);
}

TEST_F(Par1SetTest, VolumeOfAnotherSetIsNotUsed) {
    Par1Build build = ThreeFiles();
    Par1Build other = ThreeFiles();
    WriteData(build);
    WriteVolume(build, 0, "x.par");
    WriteVolume(other, 1, "x.p01");  // same name, other files
    auto set = OpenSet("x.par");
    EXPECT_EQ(set->status().recoveryBlocksAvailable, 0);
    EXPECT_TRUE(set->FindKnownFile(PathOf("x.p01"))->flags.unused);
}

TEST_F(Par1SetTest, FolderSearchFindsVolumesInAnyCase) {
    Par1Build build = ThreeFiles();
    WriteData(build);
    WriteVolume(build, 0, "x.Par");
    WriteVolume(build, 7, "x.P07");
    WriteVolume(build, 2, "x.p2");    // not a volume name
    WriteVolume(build, 3, "x.pa1");   // nor this
    WriteVolume(build, 4, "x.par2");  // nor this
    // Opened from the volume: the folder search finds the main file too.
    auto set = OpenSet("x.P07");
    EXPECT_EQ(set->status().sourceFileCount, 3);
    EXPECT_EQ(set->status().recoveryBlocksAvailable, 1);
    EXPECT_EQ(Par1(set).recoveryVolumes().count(6), 1u);
}

TEST_F(Par1SetTest, VolumeUnderAnotherSetNameIsTriedWhileBlocksAreMissing) {
    Par1Build build = ThreeFiles();
    WriteData(build);
    WriteVolume(build, 0, "x.par");
    WriteVolume(build, 2, "renamed.p02");
    std::remove(PathOf("one.bin").c_str());
    auto set = OpenSet("x.par");
    EXPECT_EQ(set->status().recoveryBlocksAvailable, 1);
    EXPECT_EQ(set->status().state, RecoveryState::RepairPossible);
    set->Repair();
    EXPECT_EQ(set->status().state, RecoveryState::Repaired);
    EXPECT_EQ(ReadFile(PathOf("one.bin")), build.files[0].data);
}

TEST_F(Par1SetTest, AFileThatCannotBeReadIsDamagedAndRebuiltBesideIt) {
    Par1Build build = ThreeFiles();
    WriteData(build);
    WriteVolume(build, 0, "x.par");
    WriteVolume(build, 1, "x.p01");
    test::UnreadableFile disk(PathOf("one.bin"), 30000, 30001);
    auto set = OpenSet("x.par");
    const SourceFileEntry* entry = EntryNamed(*set, "one.bin");
    EXPECT_EQ(entry->state, FileState::Damaged);
    EXPECT_EQ(entry->targetFile->readError, EIO);
    ASSERT_EQ(set->status().state, RecoveryState::RepairPossible);
    RepairOptions keep;
    keep.deleteDamagedFiles = false;
    set->SetRepairOptions(keep);
    set->Repair();
    EXPECT_EQ(set->status().state, RecoveryState::Repaired);
    EXPECT_EQ(ReadFile(PathOf("one.bin")), build.files[0].data);
    EXPECT_TRUE(disk.IsIt(PathOf("one.bin.1")));
    EXPECT_FALSE(disk.written());
}

TEST_F(Par1SetTest, DifferentHeadIsNotHashedInFull) {
    Par1Build build;
    build.files.push_back({"big.bin", test::RandomBytes(rng_, 100000)});
    WriteVolume(build, 0, "x.par");
    Bytes changed = build.files[0].data;
    changed[10] ^= 1;
    WriteFile(PathOf("big.bin"), changed);
    ReadWatcher watcher;
    SetFileFaultInjector(&watcher);
    auto set = OpenSet("x.par");
    SetFileFaultInjector(nullptr);
    EXPECT_EQ(EntryNamed(*set, "big.bin")->state, FileState::Damaged);
    EXPECT_EQ(watcher.readPastHead.count(PathOf("big.bin")), 0u);
}

TEST_F(Par1SetTest, UntrustedHeadHashesAreNotCompared) {
    // The generator whose 16 KiB hashes are wrong: a file matches by its
    // size and full MD5 alone.
    for (uint32_t generator : {0x03000101u, 0x03000102u}) {
        TempDir dir;
        Par1Build build;
        build.generator = generator;
        build.files.push_back({"a.bin", test::RandomBytes(rng_, 30000)});
        Bytes main = MakePar1File(build, 0);
        main[96 + 40] ^= 0xFF;  // the 16 KiB hash of the entry
        test::FixPar1ControlHash(main);
        WriteFile(dir.File("x.par"), main);
        WriteFile(dir.File("a.bin"), build.files[0].data);
        std::unique_ptr<RecoverySet> set = NewSet();
        OpenLikeWorker(set, dir.File("x.par"));
        EXPECT_EQ(Par1(set).hash16kUntrusted(), generator == 0x03000101u);
        EXPECT_EQ(set->entries()[0]->state,
                  generator == 0x03000101u ? FileState::Complete : FileState::Damaged)
            << std::hex << generator;
    }
}

TEST_F(Par1SetTest, TwoIdenticalFilesAreEachSatisfiedByTheirOwnName) {
    Par1Build build;
    Bytes same = test::RandomBytes(rng_, 2000);
    build.files.push_back({"a.bin", same});
    build.files.push_back({"b.bin", same});
    WriteVolume(build, 0, "x.par");
    WriteFile(PathOf("b.bin"), same);
    auto set = OpenSet("x.par");
    EXPECT_EQ(EntryNamed(*set, "b.bin")->state, FileState::Complete);
    EXPECT_EQ(EntryNamed(*set, "a.bin")->state, FileState::Missing);

    // A copy under a foreign name satisfies the first entry not yet found.
    WriteFile(PathOf("copy.dat"), same);
    set->Open(PathOf("copy.dat"));
    set->FinishActivity();
    EXPECT_EQ(EntryNamed(*set, "a.bin")->state, FileState::Misnamed);
}

TEST_F(Par1SetTest, AnEmptyFileIsCompleteUnderItsOwnNameOnly) {
    Par1Build build;
    build.files.push_back({"empty.bin", Bytes{}});
    build.files.push_back({"lost.bin", Bytes{}});
    build.files.push_back({"full.bin", Bytes(10, 7)});
    WriteVolume(build, 0, "x.par");
    WriteData(build);
    ASSERT_EQ(unlink(PathOf("lost.bin").c_str()), 0);
    auto set = OpenSet("x.par");
    EXPECT_EQ(EntryNamed(*set, "empty.bin")->state, FileState::Complete);
    EXPECT_EQ(EntryNamed(*set, "full.bin")->state, FileState::Complete);
    // The other empty file is no copy of the missing one.
    EXPECT_EQ(EntryNamed(*set, "lost.bin")->state, FileState::Missing);
}

// A list naming one of the set's own volumes must never move, delete or
// overwrite that volume; the rest of the set is still repaired.
TEST_F(Par1SetTest, AListNamingItsOwnVolumeLeavesTheVolumeAlone) {
    Par1Build build = ThreeFiles();
    build.files.push_back({"x.p01", test::RandomBytes(rng_, 300)});
    WriteData(build);
    WriteVolume(build, 0, "x.par");
    WriteVolume(build, 1, "x.p01");  // the real volume under the listed name
    WriteVolume(build, 2, "x.p02");
    const Bytes volume = ReadFile(PathOf("x.p01"));
    std::remove(PathOf("two.bin").c_str());
    auto set = OpenSet("x.par");
    ASSERT_NE(EntryNamed(*set, "x.p01"), nullptr);
    EXPECT_TRUE(EntryNamed(*set, "x.p01")->unusableName);
    EXPECT_EQ(set->status().state, RecoveryState::RepairPossible);
    set->Repair();
    EXPECT_EQ(ReadFile(PathOf("two.bin")), build.files[1].data);
    EXPECT_EQ(ReadFile(PathOf("x.p01")), volume);
    EXPECT_FALSE(test::FileExists(PathOf("x.p01.1")));
    EXPECT_EQ(set->status().errorKind, ErrorKind::CreateTarget);
}

// Windows sets store names as UTF-16 and with '\\' between folders.
TEST_F(Par1SetTest, WindowsNamesFindUtf8FilesInSubfolders) {
    Par1Build build;
    build.files.push_back({"sub\\caf\xc3\xa9.txt", test::RandomBytes(rng_, 100)});
    build.files.push_back({"plain.bin", test::RandomBytes(rng_, 50)});
    ::mkdir(PathOf("sub").c_str(), 0755);
    WriteFile(PathOf("sub/caf\xc3\xa9.txt"), build.files[0].data);
    WriteFile(PathOf("plain.bin"), build.files[1].data);
    WriteVolume(build, 0, "x.par");
    auto set = OpenSet("x.par");
    ASSERT_NE(EntryNamed(*set, "sub/caf\xc3\xa9.txt"), nullptr);
    EXPECT_EQ(EntryNamed(*set, "sub/caf\xc3\xa9.txt")->state, FileState::Complete);
    EXPECT_EQ(set->status().state, RecoveryState::AllVerified);
}

TEST_F(Par1SetTest, SavedStateReplacesTheSet) {
    Par1Build build = ThreeFiles();
    WriteData(build);
    WriteVolume(build, 0, "x.par");
    WriteVolume(build, 1, "x.p01");
    {
        auto set = OpenSet("x.par");
        ASSERT_EQ(set->status().state, RecoveryState::AllVerified);
        ASSERT_TRUE(set->SaveIfLoaded());
    }
    std::unique_ptr<RecoverySet> fresh = NewSet();
    std::unique_ptr<RecoverySet> replacement = fresh->Open(PathOf("x.par"));
    ASSERT_NE(replacement, nullptr);
    EXPECT_EQ(Par1(replacement).recoveryVolumes().size(), 1u);
    EXPECT_EQ(replacement->status().creatorText, "PAR versione 0.9");
    ReadWatcher watcher;
    SetFileFaultInjector(&watcher);
    replacement->Scan();
    SetFileFaultInjector(nullptr);
    replacement->FinishActivity();
    EXPECT_EQ(replacement->status().state, RecoveryState::AllVerified);
    // Nothing changed: the data files are not read again.
    EXPECT_EQ(watcher.readPastHead.count(PathOf("one.bin")), 0u);
}

TEST_F(Par1SetTest, OneMissingFileIsRebuiltFromTheLowestVolume) {
    Par1Build build = ThreeFiles();
    WriteData(build);
    WriteVolume(build, 0, "x.par");
    WriteVolume(build, 2, "x.p02");
    // Volume 5 carries damaged data under a valid control hash: it must not
    // be the one used.
    Bytes bad = MakePar1File(build, 5);
    bad[bad.size() - 100] ^= 0x55;
    test::FixPar1ControlHash(bad);
    WriteFile(PathOf("x.p05"), bad);
    std::remove(PathOf("two.bin").c_str());
    auto set = OpenSet("x.par");
    ASSERT_EQ(set->status().state, RecoveryState::RepairPossible);
    set->Repair();
    EXPECT_EQ(set->status().errorKind, ErrorKind::None);
    EXPECT_EQ(set->status().state, RecoveryState::Repaired);
    EXPECT_EQ(ReadFile(PathOf("two.bin")), build.files[1].data);
}

TEST_F(Par1SetTest, DamagedFileIsMovedAsideAndRebuiltInSeveralChunks) {
    Par1Build build = ThreeFiles();
    WriteData(build);
    WriteVolume(build, 0, "x.par");
    WriteVolume(build, 1, "x.p01");
    WriteVolume(build, 2, "x.p02");
    Bytes damaged = build.files[0].data;
    damaged[20000] ^= 1;
    WriteFile(PathOf("one.bin"), damaged);
    std::remove(PathOf("three.bin").c_str());
    // A third of 30000 bytes for two outputs: 5000-byte chunks, 8 passes.
    auto set = OpenSet("x.par", 30000);
    ASSERT_EQ(EntryNamed(*set, "one.bin")->state, FileState::Damaged);
    ASSERT_EQ(set->status().state, RecoveryState::RepairPossible);
    set->Repair();
    EXPECT_EQ(set->status().errorKind, ErrorKind::None);
    EXPECT_EQ(set->status().state, RecoveryState::Repaired);
    EXPECT_EQ(ReadFile(PathOf("one.bin")), build.files[0].data);
    EXPECT_EQ(ReadFile(PathOf("three.bin")), build.files[2].data);
    // The damaged file was moved aside, then deleted (the default options).
    EXPECT_FALSE(FileExists(PathOf("one.bin.1")));
    EXPECT_TRUE(FileExists(PathOf("x.p01")));
}

TEST_F(Par1SetTest, MisnamedFileAloneIsRenamed) {
    Par1Build build = ThreeFiles();
    WriteData(build);
    WriteVolume(build, 0, "x.par");
    ASSERT_EQ(std::rename(PathOf("two.bin").c_str(), PathOf("two.bin.1").c_str()), 0);
    auto set = OpenSet("x.par");
    ASSERT_EQ(EntryNamed(*set, "two.bin")->state, FileState::Misnamed);
    set->Repair();
    EXPECT_EQ(set->status().state, RecoveryState::Repaired);
    EXPECT_EQ(ReadFile(PathOf("two.bin")), build.files[1].data);
}

TEST_F(Par1SetTest, NamesLeadingOutOfTheFolderAreNeitherReadNorWritten) {
    Par1Build build;
    build.files.push_back({"../escape.bin", test::RandomBytes(rng_, 300)});
    build.files.push_back({"ok.bin", test::RandomBytes(rng_, 200)});
    WriteFile(dir_.File("escape.bin"), build.files[0].data);
    WriteFile(PathOf("ok.bin"), build.files[1].data);
    WriteVolume(build, 0, "x.par");
    WriteVolume(build, 1, "x.p01");
    auto set = OpenSet("x.par");
    EXPECT_EQ(EntryNamed(*set, "../escape.bin")->state, FileState::Missing);
    set->Repair();
    EXPECT_NE(set->status().state, RecoveryState::Repaired);
    EXPECT_EQ(ReadFile(dir_.File("escape.bin")), build.files[0].data);
}

TEST_F(Par1SetTest, DeferredHashCheckIsMadeOnlyForRecoveryBlocks) {
    Par1Build build = ThreeFiles();
    Bytes main = MakePar1File(build, 0);
    main[20] ^= 1;  // the control hash itself
    WriteFile(PathOf("x.par"), main);
    Bytes volume = MakePar1File(build, 1);
    volume[20] ^= 1;
    WriteFile(PathOf("x.p01"), volume);
    WriteVolume(build, 2, "x.p02");
    auto set = NewSet();
    set->SetFolderAndBaseName(Folder(), "x");
    auto file = [this](const std::string& name) {
        auto f = std::make_shared<SetFile>(PathOf(name));
        return f;
    };
    EXPECT_TRUE(set->format().LoadVolume(file("x.par"), true));  // the list, unchecked
    EXPECT_EQ(set->status().sourceFileCount, 3);
    EXPECT_FALSE(set->format().LoadVolume(file("x.p01"), true));  // a block: checked, refused
    EXPECT_TRUE(set->format().LoadVolume(file("x.p02"), true));
    EXPECT_EQ(set->status().recoveryBlocksAvailable, 1);
}

// Fails the opening or the reading of one path.
class FailingFile : public FileFaultInjector {
  public:
    std::string path;
    bool failOpen = false;
    int BeforeOpen(const std::string& p, bool) override {
        return failOpen && p == path ? EACCES : 0;
    }
    int BeforeRead(const DiskFile& file, uint64_t, size_t) override {
        return !failOpen && file.path == path ? EIO : 0;
    }
};

TEST_F(Par1SetTest, RepairFailuresRecordTheirKindAndRemoveTheTargets) {
    Par1Build build = ThreeFiles();
    WriteData(build);
    WriteVolume(build, 0, "x.par");
    WriteVolume(build, 1, "x.p01");
    std::remove(PathOf("three.bin").c_str());
    struct Case {
        bool failOpen;
        std::string path;
        ErrorKind kind;
    } cases[] = {{true, PathOf("one.bin"), ErrorKind::Open},
                 {true, PathOf("x.p01"), ErrorKind::Open},
                 {false, PathOf("x.p01"), ErrorKind::Read}};
    for (const Case& c : cases) {
        auto set = OpenSet("x.par");
        ASSERT_EQ(set->status().state, RecoveryState::RepairPossible);
        FailingFile fault;
        fault.path = c.path;
        fault.failOpen = c.failOpen;
        SetFileFaultInjector(&fault);
        set->Repair();
        SetFileFaultInjector(nullptr);
        EXPECT_EQ(set->status().errorKind, c.kind) << c.path;
        EXPECT_EQ(set->status().errorFile, c.path);
        EXPECT_FALSE(FileExists(PathOf("three.bin")));
        EXPECT_EQ(EntryNamed(*set, "three.bin")->state, FileState::Missing);
    }
}

TEST_F(Par1SetTest, FileWithoutACoefficientCannotBeRebuilt) {
    // The 256th file has the base 256 = 0 in GF(2^8): no recovery block
    // carries it, and the system for it cannot be solved.
    Par1Build build;
    for (int i = 0; i < 256; ++i) {
        std::string name = "f";
        name += std::to_string(1000 + i);
        build.files.push_back({name, Bytes(3, static_cast<uint8_t>(i))});
    }
    WriteData(build);
    WriteVolume(build, 0, "x.par");
    WriteVolume(build, 1, "x.p01");
    std::remove(PathOf("f1255").c_str());
    auto set = OpenSet("x.par");
    ASSERT_EQ(set->status().state, RecoveryState::RepairPossible);
    set->Repair();
    EXPECT_EQ(set->status().errorKind, ErrorKind::ReedSolomon);
    EXPECT_FALSE(FileExists(PathOf("f1255")));
}

TEST_F(Par1SetTest, StopFlagCancelsTheRebuild) {
    Par1Build build = ThreeFiles();
    WriteData(build);
    WriteVolume(build, 0, "x.par");
    WriteVolume(build, 1, "x.p01");
    std::remove(PathOf("two.bin").c_str());
    StopFlag stop{0};
    std::unique_ptr<RecoverySet> set = NewPar1Set(nullptr, &stop);
    set->SetVerificationCache(&cache_);
    OpenLikeWorker(set, PathOf("x.par"));
    ASSERT_EQ(set->status().state, RecoveryState::RepairPossible);
    stop = 1;
    set->Repair();
    EXPECT_EQ(set->status().errorKind, ErrorKind::Cancelled);
    EXPECT_FALSE(FileExists(PathOf("two.bin")));
}

// ---- Sets made by parchive.

class ParchiveTest : public Par1SetTest {
  protected:
    void SetUp() override {
        if (!test::HaveCommand("parchive")) GTEST_SKIP() << "parchive is not installed";
        for (int i = 0; i < 4; ++i) {
            files_.push_back(test::RandomBytes(rng_, 20000 + 7919 * i));
            WriteFile(PathOf(Name(i)), files_.back());
        }
        std::string command = "cd " + test::ShellQuote(Folder()) + " && parchive a -n3 set.par";
        for (int i = 0; i < 4; ++i) {
            command += ' ';
            command += Name(i);
        }
        ASSERT_EQ(test::RunShell(command + " > /dev/null 2>&1"), 0);
        ASSERT_TRUE(FileExists(PathOf("set.p03")));
    }
    static std::string Name(int i) {
        std::string name = "data";
        name += static_cast<char>('0' + i);
        return name + ".bin";
    }
    void ExpectAllIntact() {
        for (int i = 0; i < 4; ++i) EXPECT_EQ(ReadFile(PathOf(Name(i))), files_[i]) << Name(i);
    }
    std::vector<Bytes> files_;
};

TEST_F(ParchiveTest, IntactSetVerifies) {
    auto set = OpenSet("set.par");
    EXPECT_EQ(set->status().sourceFileCount, 4);
    EXPECT_EQ(set->status().recoveryBlocksAvailable, 3);
    EXPECT_EQ(set->status().state, RecoveryState::AllVerified);
    EXPECT_EQ(set->status().creatorText.rfind("PAR", 0), 0u);
}

TEST_F(ParchiveTest, OneMissingFileIsRebuilt) {
    std::remove(PathOf(Name(2)).c_str());
    auto set = OpenSet("set.p02");
    ASSERT_EQ(set->status().state, RecoveryState::RepairPossible);
    set->Repair();
    EXPECT_EQ(set->status().state, RecoveryState::Repaired);
    ExpectAllIntact();
}

TEST_F(ParchiveTest, TwoMissingFilesAreRebuiltInChunks) {
    std::remove(PathOf(Name(0)).c_str());
    std::remove(PathOf(Name(3)).c_str());
    auto set = OpenSet("set.par", 3 * 4096);
    ASSERT_EQ(set->status().state, RecoveryState::RepairPossible);
    set->Repair();
    EXPECT_EQ(set->status().errorKind, ErrorKind::None);
    EXPECT_EQ(set->status().state, RecoveryState::Repaired);
    ExpectAllIntact();
}

TEST_F(ParchiveTest, DamagedFileIsFoundAndRebuilt) {
    Bytes damaged = files_[1];
    damaged[12345] ^= 0x80;
    WriteFile(PathOf(Name(1)), damaged);
    auto set = OpenSet("set.par");
    ASSERT_EQ(EntryNamed(*set, Name(1))->state, FileState::Damaged);
    set->Repair();
    EXPECT_EQ(set->status().state, RecoveryState::Repaired);
    ExpectAllIntact();
    // parchive agrees that the set is whole again.
    EXPECT_EQ(test::RunShell("cd " + test::ShellQuote(Folder()) +
                             " && parchive c set.par > /dev/null 2>&1"),
              0);
}

}  // namespace
}  // namespace vantrove
