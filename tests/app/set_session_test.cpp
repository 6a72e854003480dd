#include "app/set_session.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "app/application.h"
#include "app/creation_worker.h"
#include "app/repair_error_message.h"
#include "app/settings.h"
#include "app/verification_worker.h"
#include "app/worker_test_support.h"
#include "core/disk_file.h"
#include "core/folder_lock.h"
#include "create/creation_job.h"
#include "engine/verification_cache.h"
#include "support/test_env.h"
#include "support/work_leftover.h"

namespace vantrove {
namespace {

namespace fs = std::filesystem;
using test::IsIdle;

// A worker fixture whose folder is also named with its '/'.
struct SessionFixture : test::WorkerFixture {
    std::string Folder() const { return dir.path() + "/"; }
};

bool RepairPossible(const RecoverySetStatus& s) {
    return IsIdle(s) && s.state == RecoveryState::RepairPossible;
}

RepairOptions NoTrash() {
    RepairOptions options;
    options.useRecycleBin = false;
    return options;
}

// The set "set.par2" over "top.bin" in the folder and "sub/deep.bin" below
// it.
bool MakeSetWithSubfolder(const std::string& folder, std::mt19937_64& rng) {
    fs::create_directories(folder + "sub");
    test::WriteFile(folder + "top.bin", test::RandomBytes(rng, 3000));
    test::WriteFile(folder + "sub/deep.bin", test::RandomBytes(rng, 2000));
    return test::MakePar2SetOf(
        folder, {{folder + "top.bin", 3000, ""}, {folder + "sub/deep.bin", 2000, "sub/deep.bin"}});
}

// A desktop repair asked while another job holds the folder does not start:
// the set says it is busy, in the dialog's language, and no file changes.
TEST(SetSessionRepair, BusyFolderRefusesTheRepairAndChangesNothing) {
    SessionFixture f;
    const auto files = test::WriteDataFiles(f.dir.path(), 3, 3000, f.rng);
    ASSERT_TRUE(test::MakePar2Set(f.dir.path(), files));
    fs::remove(files[1]);
    std::vector<uint8_t> damaged = test::ReadFile(files[2]);
    damaged[100] ^= 0x55;
    test::WriteFile(files[2], damaged);

    VerificationWorker worker(&f.client, f.Options());
    ASSERT_TRUE(worker.Start());
    worker.Open(f.dir.File("set.par2"));
    ASSERT_TRUE(f.client.WaitFor(RepairPossible));

    FolderLock other;
    ASSERT_EQ(other.Acquire(f.Folder(), false), FolderLock::Outcome::Locked);
    worker.Repair(NoTrash());
    ASSERT_TRUE(f.client.WaitFor([](const RecoverySetStatus& s) {
        return IsIdle(s) && s.errorKind == ErrorKind::Busy;
    }));
    const RecoverySetStatus s = f.client.LatestStatus();
    EXPECT_EQ(s.state, RecoveryState::RepairPossible);
    EXPECT_EQ(RepairErrorMessage(s.errorKind, s.systemErrorCode, s.errorFile),
              "Serie occupata: un'altra riparazione o creazione sta lavorando nella sua cartella");
    EXPECT_FALSE(test::FileExists(files[1]));
    EXPECT_EQ(test::ReadFile(files[2]), damaged);
    EXPECT_TRUE(test::FilesEndingIn(f.dir.path(), ".vantrove-part").empty());

    // Once the other job lets go, the same request repairs the set.
    other.Release();
    worker.Repair(NoTrash());
    ASSERT_TRUE(f.client.WaitFor([](const RecoverySetStatus& s) {
        return IsIdle(s) && s.state == RecoveryState::Repaired;
    }));
    EXPECT_EQ(f.client.LatestStatus().errorKind, ErrorKind::None);
    EXPECT_TRUE(test::FileExists(files[1]));
    EXPECT_EQ(worker.Quit(), 0);
}

// Work files of an interrupted job are shown until a repair takes the lock,
// then removed from the folder and from the subfolders the set names; a
// work file elsewhere is not ours to remove.
TEST(SetSessionRepair, LeftoversAreCountedUntilTheRepairRemovesThem) {
    SessionFixture f;
    ASSERT_TRUE(MakeSetWithSubfolder(f.Folder(), f.rng));
    fs::remove(f.dir.File("sub/deep.bin"));
    test::MakeLeftoverWorkFile(f.dir.File("top.bin"), "half");
    test::MakeLeftoverWorkFile(f.dir.File("sub/deep.bin"), "half");
    fs::create_directories(f.dir.File("elsewhere"));
    test::WriteFile(f.dir.File("elsewhere/.x.vantrove-part"), std::string("not ours"));

    VerificationWorker worker(&f.client, f.Options());
    ASSERT_TRUE(worker.Start());
    worker.Open(f.dir.File("set.par2"));
    ASSERT_TRUE(f.client.WaitFor(RepairPossible));
    EXPECT_EQ(f.client.LatestStatus().leftoverFiles, 1);

    worker.Repair(NoTrash());
    ASSERT_TRUE(f.client.WaitFor([](const RecoverySetStatus& s) {
        return IsIdle(s) && s.state == RecoveryState::Repaired;
    }));
    EXPECT_EQ(f.client.LatestStatus().leftoverFiles, 0);
    EXPECT_TRUE(ListPartFiles(f.Folder()).empty());
    EXPECT_TRUE(ListPartFiles(f.dir.File("sub/")).empty());
    EXPECT_TRUE(test::FileExists(f.dir.File("elsewhere/.x.vantrove-part")));
    EXPECT_TRUE(test::FileExists(f.dir.File("sub/deep.bin")));
    EXPECT_EQ(worker.Quit(), 0);
}

// The command line locks before it opens: the leftovers are gone before the
// scan, and the lock is held until the session ends.
TEST(SetSessionRepair, LockBeforeOpenHoldsTheFolderUntilTheSessionEnds) {
    SessionFixture f;
    ASSERT_TRUE(MakeSetWithSubfolder(f.Folder(), f.rng));
    test::MakeLeftoverWorkFile(f.dir.File("sub/deep.bin"), "half");
    {
        SetSession session(nullptr, nullptr, &f.cache);
        ASSERT_EQ(session.LockFolderOf(f.dir.File("set.par2"), false),
                  FolderLock::Outcome::Locked);
        ASSERT_TRUE(session.Open(f.dir.File("set.par2"), ScanMode::ReadEverything));
        session.FinishActivity();
        EXPECT_EQ(session.set()->status().state, RecoveryState::AllVerified);
        EXPECT_TRUE(ListPartFiles(f.dir.File("sub/")).empty());

        FolderLock other;
        EXPECT_EQ(other.Acquire(f.Folder(), false), FolderLock::Outcome::Busy);
    }
    FolderLock after;
    EXPECT_EQ(after.Acquire(f.Folder(), false), FolderLock::Outcome::Locked);
}

TEST(SetSessionOpen, UnknownNameOpensNothing) {
    SessionFixture f;
    test::WriteFile(f.dir.File("notes.txt"), std::string("text"));
    SetSession session(nullptr, nullptr, &f.cache);
    EXPECT_FALSE(session.Open(f.dir.File("notes.txt")));
    EXPECT_EQ(session.set(), nullptr);
    EXPECT_FALSE(session.Repair(NoTrash()));
}

// A saved state lets an unchanged file keep its result; reading everything
// sees damage that kept the file's size and times.
TEST(SetSessionOpen, CachedScanKeepsSavedResultsAndReadEverythingDoesNot) {
    SessionFixture f;
    const auto files = test::WriteDataFiles(f.dir.path(), 2, 3000, f.rng);
    ASSERT_TRUE(test::MakePar2Set(f.dir.path(), files));
    {
        SetSession session(nullptr, nullptr, &f.cache);
        ASSERT_TRUE(session.Open(f.dir.File("set.par2")));
        session.FinishActivity();
        ASSERT_EQ(session.set()->status().state, RecoveryState::AllVerified);
        session.Close();
    }
    // Same size, same modification time, one byte different.
    const auto time = fs::last_write_time(files[0]);
    std::vector<uint8_t> data = test::ReadFile(files[0]);
    data[10] ^= 1;
    test::WriteFile(files[0], data);
    fs::last_write_time(files[0], time);

    SetSession cached(nullptr, nullptr, &f.cache);
    ASSERT_TRUE(cached.Open(f.dir.File("set.par2"), ScanMode::Cached));
    cached.FinishActivity();
    EXPECT_EQ(cached.set()->status().state, RecoveryState::AllVerified);

    SetSession fresh(nullptr, nullptr, &f.cache);
    ASSERT_TRUE(fresh.Open(f.dir.File("set.par2"), ScanMode::ReadEverything));
    fresh.FinishActivity();
    EXPECT_EQ(fresh.set()->status().state, RecoveryState::RepairPossible);
}

TEST(RepairOptionsFrom, TakesTheCleanUpChoicesAndTheMachinesMemory) {
    test::TempDir dir;
    Settings settings(dir.File("settings"));
    settings.deleteDamagedFiles = false;
    settings.deleteRecoveryFiles = true;
    settings.useRecycleBin = false;
    const RepairOptions options = RepairOptionsFrom(settings);
    EXPECT_FALSE(options.deleteDamagedFiles);
    EXPECT_TRUE(options.deleteRecoveryFiles);
    EXPECT_FALSE(options.useRecycleBin);
    EXPECT_EQ(options.physicalMemoryBytes, RepairOptionsForMachine().physicalMemoryBytes);
    EXPECT_EQ(options.physicalMemoryBytes, PhysicalMemoryBytes());
    EXPECT_EQ(options.threads, ProcessorThreads());
}

// The desktop creation takes the output folder's lock as the command line
// does: while another job holds it, nothing is written.
TEST(CreationWorkerLock, BusyOutputFolderFailsAtOnceAndWritesNothing) {
    test::TempDir dir;
    std::mt19937_64 rng{test::TestSeed()};
    const auto files = test::WriteDataFiles(dir.path(), 2, 3000, rng);
    CreationSettings settings;
    settings.restrictBlockSize = false;
    CreationParameters parameters(settings);
    parameters.AddFiles({{files[0], 3000, ""}, {files[1], 3000, ""}});
    parameters.setBlockSize(1024);
    parameters.setRecoveryBlockCount(2);
    parameters.baseName = "set";
    parameters.destinationPath = dir.path() + "/";
    test::MakeLeftoverWorkFile(dir.File("old.par2"), "half");

    FolderLock other;
    ASSERT_EQ(other.Acquire(dir.path() + "/", false), FolderLock::Outcome::Locked);
    CreationStatusSlot slot;
    {
        CreationWorker worker(parameters, slot);
        ASSERT_TRUE(worker.Start());
        EXPECT_EQ(worker.Wait(), 1);
    }
    const CreationStatus status = slot.Snapshot();
    EXPECT_EQ(status.phase, kPhaseFailed);
    EXPECT_EQ(status.failureCode, kFailBusy);
    EXPECT_EQ(CreationFailureMessage(status.failureCode),
              "Fallito: un'altra riparazione o creazione sta lavorando nella cartella di "
              "destinazione");
    EXPECT_TRUE(test::FilesEndingIn(dir.path(), ".par2").empty());
    // The other job's folder is left as it was, work files included.
    EXPECT_EQ(ListPartFiles(dir.path() + "/").size(), 1u);

    // Free, the folder is ours: the leftover goes and the set is made.
    other.Release();
    CreationStatusSlot again;
    CreationWorker worker(parameters, again);
    ASSERT_TRUE(worker.Start());
    EXPECT_EQ(worker.Wait(), 0);
    EXPECT_TRUE(ListPartFiles(dir.path() + "/").empty());
    EXPECT_TRUE(test::FileExists(dir.File("set.par2")));
}

}  // namespace
}  // namespace vantrove
