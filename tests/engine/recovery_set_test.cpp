// The set model: entry states and counters, the set-state rules, joinable
// files, forgetting a data file, reporting, and preparing rebuild targets.

#include "engine/recovery_set.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>

#include "core/string_table.h"
#include "engine/set_data_pass_reporter.h"
#include "engine/test_set.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

using test::RecordingObserver;
using test::TempDir;
using test::TestSet;

constexpr uint64_t kBlock = 100;

// Counters must always agree with the entries' states.
void ExpectCountersMatch(const TestSet& set) {
    int32_t tally[5] = {};
    for (const auto& e : set.entries()) ++tally[static_cast<int>(e->state)];
    const RecoverySetStatus& s = set.status();
    EXPECT_EQ(s.unverifiedFiles, tally[0]);
    EXPECT_EQ(s.missingFiles, tally[1]);
    EXPECT_EQ(s.completeFiles, tally[2]);
    EXPECT_EQ(s.misnamedFiles, tally[3]);
    EXPECT_EQ(s.damagedFiles, tally[4]);
}

TEST(RecoverySetState, NoDescribedBlocksIsStateOneWhateverElseWasFound) {
    TestSet set;
    ASSERT_TRUE(set.Finish("/data/", kBlock));
    set.SetRecoveryBlocks(40);
    set.NotifyStatus();
    EXPECT_EQ(set.status().state, RecoveryState::NeedMoreVolumes);
    EXPECT_EQ(set.status().subState, SubState::None);

    // A set that was never given a file says so, and stays there.
    TestSet empty;
    empty.NotifyStatus();
    EXPECT_EQ(empty.status().state, RecoveryState::NothingLoaded);
}

TEST(RecoverySetState, FreshSetCountsEveryFileUnverifiedAndIsIncomplete) {
    TestSet set;
    set.AddEntry("a", 250);
    set.AddEntry("b", 100);
    ASSERT_TRUE(set.Finish("/data/", kBlock));
    EXPECT_EQ(set.status().totalDataBlocks, 4u);
    EXPECT_EQ(set.status().sourceFileCount, 2);
    EXPECT_EQ(set.status().totalSourceSize, 350u);
    EXPECT_EQ(set.status().unverifiedFiles, 2);
    EXPECT_EQ(set.status().dataBlocksAvailable, 0);
    set.SetRecoveryBlocks(10);
    set.NotifyStatus();
    // Enough recovery blocks, but nothing verified yet: not repairable.
    EXPECT_EQ(set.status().state, RecoveryState::Incomplete);
}

TEST(RecoverySetState, AllCompleteIsSixAndRepairedStaysFiveUntilSomethingChanges) {
    TestSet set;
    auto& a = set.AddEntry("a", 250);
    auto& b = set.AddEntry("b", 100);
    ASSERT_TRUE(set.Finish("/data/", kBlock));
    set.SetTargetResult(a, VerifyResult::IntactCopy);
    set.SetTargetResult(b, VerifyResult::IntactCopy);
    set.NotifyStatus();
    EXPECT_EQ(set.status().state, RecoveryState::AllVerified);
    EXPECT_EQ(set.status().dataBlocksAvailable, 4);

    set.ForceState(RecoveryState::Repaired);
    set.NotifyStatus();
    EXPECT_EQ(set.status().state, RecoveryState::Repaired);

    // b vanishes: the set leaves the repaired state.
    b.targetFile->result = VerifyResult::Missing;
    set.ForgetDataFile(*b.targetFile);
    set.UpdateEntryState(b);
    set.FinishActivity();
    EXPECT_EQ(set.status().state, RecoveryState::Incomplete);
    set.SetRecoveryBlocks(1);
    set.NotifyStatus();
    EXPECT_EQ(set.status().state, RecoveryState::RepairPossible);
    EXPECT_EQ(set.status().subState, SubState::NeedRecoveryBlocks);
    ExpectCountersMatch(set);
}

TEST(RecoverySetState, OneUnverifiedFileKeepsTheSetOutOfStatesThreeAndFour) {
    TestSet set;
    auto& a = set.AddEntry("a", 300);
    auto& b = set.AddEntry("b", 300);
    auto& c = set.AddEntry("c", 300);
    ASSERT_TRUE(set.Finish("/data/", kBlock));
    set.SetRecoveryBlocks(100);
    set.SetTargetResult(a, VerifyResult::IntactCopy);
    set.SetTargetResult(b, VerifyResult::Missing);
    // c's blocks all lie in another file, so c would be joinable, and b
    // misnamed would allow renaming; still c's target is unverified.
    auto other = set.AddOtherFile("other", 300);
    set.LocateAll(c, other);
    set.FinishActivity();
    EXPECT_EQ(set.status().state, RecoveryState::Incomplete);
    EXPECT_EQ(set.status().joinableFiles, 1);  // c: unverified but every block found

    set.SetTargetResult(c, VerifyResult::Missing);
    set.FinishActivity();
    EXPECT_EQ(set.status().state, RecoveryState::RepairPossible);
    EXPECT_EQ(set.status().subState, SubState::NeedRecoveryBlocks);

    // A misnamed file alone would allow renaming, but not while another file
    // is still unverified.
    TestSet second;
    auto& m = second.AddEntry("m", 100);
    auto& u = second.AddEntry("u", 100);
    ASSERT_TRUE(second.Finish("/data/", kBlock));
    auto copy = second.AddOtherFile("m.copy", 100);
    m.completeCopy = copy;
    second.LocateAll(m, copy);
    second.UpdateEntryState(m);
    second.FinishActivity();
    EXPECT_EQ(second.status().misnamedFiles, 1);
    EXPECT_EQ(second.status().state, RecoveryState::Incomplete);
    second.SetTargetResult(u, VerifyResult::NotIntact);
    second.FinishActivity();
    EXPECT_EQ(second.status().state, RecoveryState::PartlyJoinable);
    EXPECT_EQ(second.status().subState, SubState::RenameOnly);
}

TEST(RecoverySetState, OnlyMisnamedFilesWithEveryBlockPresentIsReadyToRename) {
    TestSet set;
    auto& a = set.AddEntry("a", 200);
    auto& b = set.AddEntry("b", 200);
    ASSERT_TRUE(set.Finish("/data/", kBlock));
    set.SetTargetResult(a, VerifyResult::IntactCopy);
    // b's target is missing but an intact copy lies under another name.
    set.SetTargetResult(b, VerifyResult::Missing);
    auto copy = set.AddOtherFile("b.renamed", 200);
    copy->result = VerifyResult::IntactCopy;
    b.completeCopy = copy;
    set.LocateAll(b, copy);
    set.UpdateEntryState(b);
    EXPECT_EQ(b.state, FileState::Misnamed);
    set.FinishActivity();
    EXPECT_EQ(set.status().state, RecoveryState::RepairPossible);
    EXPECT_EQ(set.status().subState, SubState::RenameOnly);
    EXPECT_EQ(set.status().joinableFiles, 0);  // misnamed files are not joinable

    // Without enough blocks for the rest, renaming alone is still possible.
    TestSet partial;
    auto& p = partial.AddEntry("p", 200);
    auto& q = partial.AddEntry("q", 200);
    ASSERT_TRUE(partial.Finish("/data/", kBlock));
    partial.SetTargetResult(p, VerifyResult::Missing);
    auto pcopy = partial.AddOtherFile("p.1", 200);
    pcopy->result = VerifyResult::IntactCopy;
    p.completeCopy = pcopy;
    partial.LocateAll(p, pcopy);
    partial.UpdateEntryState(p);
    partial.SetTargetResult(q, VerifyResult::Missing);
    partial.FinishActivity();
    EXPECT_EQ(partial.status().state, RecoveryState::PartlyJoinable);
    EXPECT_EQ(partial.status().subState, SubState::RenameOnly);
}

TEST(RecoverySetState, MissingFileWhoseBlocksLieElsewhereIsJoinable) {
    TestSet set;
    auto& a = set.AddEntry("a", 250);
    auto& b = set.AddEntry("b", 300);
    ASSERT_TRUE(set.Finish("/data/", kBlock));
    set.SetTargetResult(a, VerifyResult::Missing);
    set.SetTargetResult(b, VerifyResult::IntactCopy);
    auto x = set.AddOtherFile("x", 1000);
    auto y = set.AddOtherFile("y", 1000);
    set.LocateBlock(a, 0, x, 17);
    set.LocateBlock(a, 1, y, 0);
    set.FinishActivity();
    EXPECT_FALSE(a.joinable);
    EXPECT_EQ(set.status().state, RecoveryState::Incomplete);

    set.LocateBlock(a, 2, y, 100);
    set.FinishActivity();
    EXPECT_TRUE(a.joinable);
    EXPECT_FALSE(b.joinable);  // complete files are never joinable
    EXPECT_EQ(set.status().joinableFiles, 1);
    EXPECT_EQ(set.status().state, RecoveryState::RepairPossible);
    EXPECT_EQ(set.status().subState, SubState::CanJoin);

    // With another file missing blocks and no recovery data: partly joinable.
    set.SetTargetResult(b, VerifyResult::Missing);
    set.ForgetDataFile(*b.targetFile);
    set.FinishActivity();
    EXPECT_EQ(set.status().state, RecoveryState::PartlyJoinable);
    EXPECT_EQ(set.status().subState, SubState::CanJoin);
}

TEST(RecoverySetState, DamagedFileNeedsRecoveryBlocksCountedUnsigned) {
    TestSet set;
    auto& a = set.AddEntry("a", 500);
    ASSERT_TRUE(set.Finish("/data/", kBlock));
    set.SetTargetResult(a, VerifyResult::NotIntact);
    set.LocateBlock(a, 0, a.targetFile, 0);
    set.LocateBlock(a, 1, a.targetFile, 100);
    set.SetRecoveryBlocks(2);
    set.FinishActivity();
    EXPECT_EQ(set.status().state, RecoveryState::Incomplete);  // 2 + 2 < 5
    set.SetRecoveryBlocks(3);
    set.FinishActivity();
    EXPECT_EQ(set.status().state, RecoveryState::RepairPossible);
    EXPECT_EQ(set.status().subState, SubState::NeedRecoveryBlocks);
    // A negative count read as unsigned is huge: the rule compares unsigned.
    set.SetRecoveryBlocks(-1);
    set.FinishActivity();
    EXPECT_EQ(set.status().state, RecoveryState::RepairPossible);
}

TEST(RecoverySetState, SettingTheSameStateLeavesEveryCounterAlone) {
    TestSet set;
    auto& a = set.AddEntry("a", 100);
    set.AddEntry("b", 100);
    ASSERT_TRUE(set.Finish("/data/", kBlock));
    set.SetTargetResult(a, VerifyResult::NotIntact);
    RecoverySetStatus before = set.status();
    set.SetEntryState(a, FileState::Damaged);
    set.UpdateEntryState(a);
    set.UpdateEntryState(a);
    EXPECT_EQ(set.status().damagedFiles, before.damagedFiles);
    EXPECT_EQ(set.status().unverifiedFiles, before.unverifiedFiles);
    EXPECT_EQ(set.status().damagedFiles, 1);
    EXPECT_EQ(set.status().unverifiedFiles, 1);
}

TEST(RecoverySetState, RandomStateChangesKeepCountersEqualToTheEntries) {
    std::mt19937_64 rng(test::TestSeed());
    TestSet set;
    for (int i = 0; i < 12; ++i)
        set.AddEntry(std::string("f").append(std::to_string(i)), 1 + rng() % 400);
    ASSERT_TRUE(set.Finish("/data/", kBlock));
    auto other = set.AddOtherFile("other", 1 << 20);
    for (int step = 0; step < 2000; ++step) {
        auto& e = set.Entry(rng() % 12);
        switch (rng() % 5) {
            case 0:
                set.SetEntryState(e, static_cast<FileState>(rng() % 5));
                break;
            case 1:
                e.targetFile->result = static_cast<VerifyResult>(rng() % 4);
                e.targetFile->flags.misnamed = rng() % 4 == 0;
                set.UpdateEntryState(e);
                break;
            case 2:
                e.completeCopy = rng() % 2 ? other : nullptr;
                set.UpdateEntryState(e);
                break;
            case 3:
                set.LocateBlock(e, rng() % e.blockCount, other, rng() % 1000);
                break;
            case 4:
                set.ForgetDataFile(*other);
                break;
        }
        set.FinishActivity();
        int32_t located = 0;
        for (const auto& b : set.foundBlocks()) located += b.file ? 1 : 0;
        ASSERT_EQ(set.status().dataBlocksAvailable, located) << "step " << step;
    }
    ExpectCountersMatch(set);
    int32_t sum = set.status().damagedFiles + set.status().misnamedFiles +
                  set.status().missingFiles + set.status().completeFiles +
                  set.status().unverifiedFiles;
    EXPECT_EQ(sum, 12);
}

TEST(RecoverySetEntryState, TargetResultAndCopyDecideTheState) {
    TestSet set;
    auto& a = set.AddEntry("a", 100);
    auto& b = set.AddEntry("b", 100);
    ASSERT_TRUE(set.Finish("/data/", kBlock));
    struct Case {
        VerifyResult result;
        bool misnamedFlag;
        FileState expected;
    } cases[] = {
        {VerifyResult::NotVerified, false, FileState::Unverified},
        {VerifyResult::Missing, false, FileState::Missing},
        {VerifyResult::NotIntact, false, FileState::Damaged},
        {VerifyResult::IntactCopy, false, FileState::Complete},
        // An intact copy of another source file under a's name is not a.
        {VerifyResult::IntactCopy, true, FileState::Damaged},
    };
    for (const Case& c : cases) {
        a.targetFile->result = c.result;
        a.targetFile->flags.misnamed = c.misnamedFlag;
        set.UpdateEntryState(a);
        EXPECT_EQ(a.state, c.expected) << static_cast<int>(c.result);
    }
    // A complete copy elsewhere wins over any target result.
    auto copy = set.AddOtherFile("copy", 100);
    a.completeCopy = copy;
    set.UpdateEntryState(a);
    EXPECT_EQ(a.state, FileState::Misnamed);
    (void)b;
    ExpectCountersMatch(set);
}

TEST(RecoverySetForget, DataFileTakesItsBlocksAndCompleteCopiesAlong) {
    TestSet set;
    auto& a = set.AddEntry("a", 300);
    auto& b = set.AddEntry("b", 300);
    auto& c = set.AddEntry("c", 300);
    ASSERT_TRUE(set.Finish("/data/", kBlock));
    auto copy = set.AddOtherFile("copy", 300);
    // a: target damaged, copy elsewhere; b: target missing, copy elsewhere;
    // c: unverified target, one block in copy.
    a.targetFile->result = VerifyResult::NotIntact;
    b.targetFile->result = VerifyResult::Missing;
    for (auto* e : {&a, &b}) {
        e->completeCopy = copy;
        set.LocateAll(*e, copy);
        set.UpdateEntryState(*e);
        EXPECT_EQ(e->state, FileState::Misnamed);
    }
    set.LocateBlock(c, 1, copy, 0);
    EXPECT_EQ(set.status().dataBlocksAvailable, 7);
    EXPECT_EQ(copy->blocksTaken, 7u);
    for (auto* e : {&a, &b, &c}) e->dirty = false;

    set.ForgetDataFile(*copy);
    EXPECT_EQ(set.status().dataBlocksAvailable, 0);
    EXPECT_EQ(copy->blocksTaken, 0u);
    EXPECT_EQ(a.state, FileState::Damaged);
    EXPECT_EQ(b.state, FileState::Missing);
    EXPECT_EQ(c.state, FileState::Unverified);
    EXPECT_FALSE(a.completeCopy);
    EXPECT_FALSE(b.completeCopy);
    for (auto* e : {&a, &b, &c}) {
        EXPECT_TRUE(e->dirty);
        EXPECT_EQ(e->MissingBlockCount(), e->blockCount);
        // The place stays listed, with no blocks left in it.
        ASSERT_NE(e->FindPlace(copy.get()), nullptr);
        EXPECT_EQ(e->FindPlace(copy.get())->blocks, 0u);
    }
    ExpectCountersMatch(set);

    // A file that holds nothing changes nothing.
    auto unrelated = set.AddOtherFile("unrelated", 5);
    for (auto* e : {&a, &b, &c}) e->dirty = false;
    set.ForgetDataFile(*unrelated);
    EXPECT_FALSE(a.dirty || b.dirty || c.dirty);
}

TEST(RecoverySetBlocks, MovingABlockKeepsCountsAndPlacesRight) {
    TestSet set;
    auto& a = set.AddEntry("a", 200);
    ASSERT_TRUE(set.Finish("/data/", kBlock));
    auto x = set.AddOtherFile("x", 200);
    auto y = set.AddOtherFile("y", 200);
    set.LocateBlock(a, 0, x, 0);
    set.LocateBlock(a, 0, y, 50);  // found again elsewhere: it moves
    EXPECT_EQ(set.status().dataBlocksAvailable, 1);
    EXPECT_EQ(x->blocksTaken, 0u);
    EXPECT_EQ(y->blocksTaken, 1u);
    EXPECT_EQ(a.FindPlace(x.get())->blocks, 0u);
    EXPECT_EQ(a.FindPlace(y.get())->blocks, 1u);
    EXPECT_EQ(a.foundBlocks[0].offset, 50u);
    set.ClearFoundBlock(a, 0);
    set.ClearFoundBlock(a, 0);  // twice: counted once
    EXPECT_EQ(set.status().dataBlocksAvailable, 0);
}

TEST(RecoverySetReport, RowKindsFollowCopyAndTargetResult) {
    RecordingObserver observer;
    TestSet set(&observer);
    auto& a = set.AddEntry("a", 100);
    ASSERT_TRUE(set.Finish("/data/", kBlock));
    auto other = set.AddOtherFile("elsewhere", 100);
    struct Case {
        VerifyResult result;
        SetFileRef copy;
        bool repaired;
        SourceRowKind row;
    } cases[] = {
        {VerifyResult::NotVerified, nullptr, false, SourceRowKind::NotVerified},
        {VerifyResult::Missing, nullptr, false, SourceRowKind::Missing},
        {VerifyResult::NotIntact, nullptr, false, SourceRowKind::Damaged},
        {VerifyResult::IntactCopy, a.targetFile, false, SourceRowKind::Complete},
        {VerifyResult::IntactCopy, a.targetFile, true, SourceRowKind::Repaired},
        {VerifyResult::Missing, other, false, SourceRowKind::Misnamed},
    };
    for (const Case& c : cases) {
        a.targetFile->result = c.result;
        a.targetFile->flags.repaired = c.repaired;
        a.completeCopy = c.copy;
        a.dirty = true;
        set.ReportSourceFile(a);
        ASSERT_FALSE(observer.lines.empty());
        EXPECT_EQ(observer.lines.back().row, c.row);
        EXPECT_FALSE(a.dirty);
    }
    EXPECT_EQ(observer.lines.back().format, FormatKind::Sfv);
    EXPECT_EQ(observer.lines.back().name, "a");
    EXPECT_EQ(observer.lines.back().size, 100u);
    EXPECT_EQ(observer.lines.back().blockCount, 1u);
}

TEST(RecoverySetReport, PlacesAreEveryFileOnceSortedByPathBytes) {
    RecordingObserver observer;
    TestSet set(&observer);
    auto& a = set.AddEntry("a", 500);
    ASSERT_TRUE(set.Finish("/data/", kBlock));
    a.targetFile->result = VerifyResult::NotIntact;
    auto lower = set.AddOtherFile("b-lower", 1000);
    auto upper = set.AddOtherFile("B-upper", 2000);
    auto empty = set.AddOtherFile("a-empty", 3000);
    set.LocateBlock(a, 0, lower, 0);
    set.LocateBlock(a, 1, upper, 0);
    set.LocateBlock(a, 2, lower, 100);
    set.LocateBlock(a, 3, a.targetFile, 300);
    a.AddToPlace(empty, 0);  // expected to be a copy, nothing found in it
    set.ReportSourceFile(a);
    ASSERT_EQ(observer.lines.size(), 1u);
    const auto& places = observer.lines[0].places;
    ASSERT_EQ(places.size(), 4u);
    // Byte order: upper case before lower case.
    EXPECT_EQ(places[0].path, "/data/B-upper");
    EXPECT_EQ(places[0].blockCount, 1u);
    EXPECT_EQ(places[0].size, 2000u);
    EXPECT_EQ(places[1].path, "/data/a");
    EXPECT_EQ(places[1].blockCount, 1u);
    EXPECT_EQ(places[2].path, "/data/a-empty");
    EXPECT_EQ(places[2].blockCount, 0u);
    EXPECT_EQ(places[3].path, "/data/b-lower");
    EXPECT_EQ(places[3].blockCount, 2u);

    // Complete files show no places.
    set.SetTargetResult(a, VerifyResult::IntactCopy);
    set.ReportSourceFile(a);
    EXPECT_TRUE(observer.lines.back().places.empty());
}

TEST(RecoverySetReport, ReportAllListsVolumesThenEntriesByName) {
    RecordingObserver observer;
    TestSet set(&observer);
    set.AddEntry("zeta", 10);
    set.AddEntry("Alpha", 10);
    set.AddEntry("beta", 10);
    ASSERT_TRUE(set.Finish("/data/", kBlock));
    auto v1 = std::make_shared<SetFile>("/data/set.vol1.par2");
    v1->kind = FileKind::Volume;
    v1->result = VerifyResult::NotIntact;
    auto v2 = std::make_shared<SetFile>("/data/set.vol2.par2");
    v2->kind = FileKind::Volume;
    v2->flags.outOfVolumeList = true;
    auto v3 = std::make_shared<SetFile>("/data/set.par2");
    v3->kind = FileKind::Volume;
    for (auto& v : {v1, v2, v3}) set.AddKnownFile(v);
    set.ReportAll();
    ASSERT_EQ(observer.volumes.size(), 2u);
    EXPECT_EQ(observer.volumes[0].first, "/data/set.par2");
    EXPECT_EQ(observer.volumes[0].second, VolumeDisplayCode::NotRead);
    EXPECT_EQ(observer.volumes[1].first, "/data/set.vol1.par2");
    EXPECT_EQ(observer.volumes[1].second, VolumeDisplayCode::Used);
    ASSERT_EQ(observer.lines.size(), 3u);
    EXPECT_EQ(observer.lines[0].name, "Alpha");
    EXPECT_EQ(observer.lines[1].name, "beta");
    EXPECT_EQ(observer.lines[2].name, "zeta");

    observer.lines.clear();
    set.Entry(2).dirty = true;
    set.ReportChangedSourceFiles();
    set.ReportChangedSourceFiles();
    ASSERT_EQ(observer.lines.size(), 1u);
    EXPECT_EQ(observer.lines[0].name, "beta");
}

TEST(RecoverySetReport, VolumeDisplayCodes) {
    SetFile f("/v");
    EXPECT_EQ(VolumeDisplayCodeOf(f), VolumeDisplayCode::NotRead);
    f.result = VerifyResult::NotIntact;
    EXPECT_EQ(VolumeDisplayCodeOf(f), VolumeDisplayCode::Used);
    f.flags.damaged = true;
    EXPECT_EQ(VolumeDisplayCodeOf(f), VolumeDisplayCode::Damaged);
    f.flags.unused = true;
    EXPECT_EQ(VolumeDisplayCodeOf(f), VolumeDisplayCode::Unused);
}

TEST(RecoverySetStatusFlow, ProgressAndActivityReachTheObserver) {
    RecordingObserver observer;
    TestSet set(&observer);
    set.AddEntry("a", 250);
    ASSERT_TRUE(set.Finish("/data/", kBlock));
    set.SetActivity(Activity::Recovering, "/data/a");
    set.SetBlockProgress(3, 7);
    ASSERT_EQ(observer.statuses.size(), 1u);
    EXPECT_EQ(observer.statuses[0].progressPosition, 3u);
    EXPECT_EQ(observer.statuses[0].progressTotal, 7u);
    EXPECT_EQ(observer.statuses[0].activity, Activity::Recovering);
    EXPECT_EQ(observer.statuses[0].state, RecoveryState::Incomplete);  // recomputed

    set.ReportProgress(5);
    EXPECT_EQ(observer.statuses.back().progressPosition, 5u);
    EXPECT_EQ(observer.statuses.back().progressTotal, 7u);

    set.FinishActivity();
    const RecoverySetStatus& last = observer.statuses.back();
    EXPECT_EQ(last.activity, Activity::Idle);
    EXPECT_TRUE(last.currentFile.empty());
    EXPECT_EQ(last.progressPosition, 1u);
    EXPECT_EQ(last.progressTotal, 1u);
}

TEST(RecoverySetStatusFlow, DataPassReportsIntoTheStatusRecord) {
    RecordingObserver observer;
    StopFlag stop{0};
    TestSet set(&observer, &stop);
    set.AddEntry("a", 250);
    ASSERT_TRUE(set.Finish("/data/", kBlock));
    SetDataPassReporter reporter(set);
    EXPECT_EQ(reporter.StopFlag(), &stop);

    set.SetActivity(Activity::ComputingMatrix, "keep");
    reporter.SetActivity(kActivityMemoryTest, 0);
    EXPECT_EQ(observer.statuses.back().activity, Activity::MemoryTest);
    EXPECT_EQ(observer.statuses.back().currentFile, "keep");
    reporter.SetActivity(kActivityRecoveringData, kTextRecoveryData);
    EXPECT_EQ(observer.statuses.back().activity, Activity::Recovering);
    EXPECT_EQ(observer.statuses.back().currentFile, GetString(kTextRecoveryData));
    EXPECT_FALSE(observer.statuses.back().currentFile.empty());

    reporter.SetProgress(5, 9);
    EXPECT_EQ(observer.statuses.back().progressPosition, 5u);
    EXPECT_EQ(observer.statuses.back().progressTotal, 9u);

    reporter.RecordError(kErrorWrite, ENOSPC, "/data/a");
    EXPECT_EQ(set.status().errorKind, ErrorKind::Write);
    EXPECT_EQ(set.status().systemErrorCode, static_cast<uint32_t>(ENOSPC));
    EXPECT_EQ(set.status().errorFile, "/data/a");
    // A full disk fails every later write too: the message names the file
    // whose write failed first.
    reporter.RecordError(kErrorWrite, ENOSPC, "/data/b");
    EXPECT_EQ(set.status().errorFile, "/data/a");
}

TEST(RecoverySetStatusFlow, StopFlagIsSeenThroughThePointer) {
    StopFlag stop{0};
    TestSet set(nullptr, &stop);
    EXPECT_FALSE(set.StopRequested());
    stop.store(1);
    EXPECT_TRUE(set.StopRequested());
    TestSet unstoppable;
    EXPECT_FALSE(unstoppable.StopRequested());
}

TEST(RecoverySetLoading, TargetsAreUniqueAndEnteredIntoBothMaps) {
    TestSet set;
    set.AddEntry("a.txt", 10);
    set.AddEntry("a.txt", 20);
    set.AddEntry("a(1).txt", 30);
    set.AddEntry("noext", 5);
    set.AddEntry("noext", 5);
    ASSERT_TRUE(set.Finish("/data/", kBlock));
    EXPECT_EQ(set.Entry(0).targetFile->path, "/data/a.txt");
    // Names are made unique in set order: the stored name a(1).txt comes
    // after the second a.txt took that path.
    EXPECT_EQ(set.Entry(1).targetFile->path, "/data/a(1).txt");
    EXPECT_EQ(set.Entry(2).targetFile->path, "/data/a(1)(1).txt");
    EXPECT_EQ(set.Entry(4).targetFile->path, "/data/noext(1)");
    for (const auto& e : set.entries()) {
        EXPECT_EQ(e->targetFile->kind, FileKind::Target);
        EXPECT_EQ(e->targetFile->sourceFile, e.get());
        EXPECT_EQ(e->targetPath, e->targetFile->path);
        EXPECT_EQ(set.FindExpected(e->targetPath), e->targetFile);
        EXPECT_EQ(set.FindKnownFile(e->targetPath), e->targetFile);
    }
    SetFileRef moved = set.Entry(0).targetFile;
    moved->path = "/data/a.txt.1";
    set.RekeyKnownFile(moved, "/data/a.txt");
    EXPECT_EQ(set.FindExpected("/data/a.txt.1"), moved);
    EXPECT_EQ(set.FindExpected("/data/a.txt"), nullptr);
    EXPECT_EQ(set.FindKnownFile("/data/a.txt.1"), moved);
}

TEST(RecoverySetLoading, FoundBlocksMustMatchTheEntries) {
    TestSet set;
    set.AddEntry("a", 250);
    set.MutableFoundBlocks().resize(2);  // the entry has 3 blocks
    EXPECT_FALSE(set.Finish("/data/", kBlock));
}

TEST(RecoverySetLoading, KnownFilesIgnoreCaseInOrderButKeepBothSpellings) {
    TestSet set;
    ASSERT_TRUE(set.Finish("/data/", kBlock));
    auto lower = set.AddOtherFile("movie.avi", 1);
    auto upper = set.AddOtherFile("MOVIE.AVI", 2);
    auto b = set.AddOtherFile("b", 3);
    EXPECT_EQ(set.knownFiles().size(), 3u);
    EXPECT_EQ(set.FindKnownFile("/data/movie.avi"), lower);
    EXPECT_EQ(set.FindKnownFile("/data/MOVIE.AVI"), upper);
    std::vector<std::string> order;
    for (const auto& [path, file] : set.knownFiles()) order.push_back(path);
    EXPECT_EQ(order, (std::vector<std::string>{"/data/b", "/data/MOVIE.AVI", "/data/movie.avi"}));
    // A rename files the object under its new path.
    std::string oldPath = b->path;
    b->path = "/data/c";
    set.RekeyKnownFile(b, oldPath);
    EXPECT_EQ(set.FindKnownFile("/data/b"), nullptr);
    EXPECT_EQ(set.FindKnownFile("/data/c"), b);
    // Another object under the old path is not disturbed.
    set.RekeyKnownFile(lower, "/data/MOVIE.AVI");
    EXPECT_EQ(set.FindKnownFile("/data/MOVIE.AVI"), upper);
    set.RemoveKnownFile(*upper);
    EXPECT_EQ(set.FindKnownFile("/data/MOVIE.AVI"), nullptr);
}

TEST(RecoverySetTargets, BlocksMapToTheTargetWithAShortLastBlock) {
    TestSet set;
    auto& a = set.AddEntry("a", 250);
    auto& one = set.AddEntry("one", 40);
    ASSERT_TRUE(set.Finish("/data/", kBlock));
    set.MapBlocksToTarget(a);
    ASSERT_EQ(a.targetBlocks.size(), 3u);
    EXPECT_EQ(a.targetBlocks[2].file, a.targetFile);
    EXPECT_EQ(a.targetBlocks[1].offset, 100u);
    EXPECT_EQ(a.targetBlocks[1].length, 100u);
    EXPECT_EQ(a.targetBlocks[2].offset, 200u);
    EXPECT_EQ(a.targetBlocks[2].length, 50u);
    set.MapBlocksToTarget(one);
    EXPECT_EQ(one.targetBlocks[0].length, 40u);
    // The slices are views of one set-wide array, in set order.
    EXPECT_EQ(one.firstBlock, 3u);
    set.ClearTargetBlocks(a);
    for (const auto& block : a.targetBlocks) EXPECT_FALSE(block.file);
    EXPECT_TRUE(one.targetBlocks[0].file);
}

class PrepareTargetsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        a = &set.AddEntry("a", 250);
        b = &set.AddEntry("b", 100);
        c = &set.AddEntry("c", 0);
        ASSERT_TRUE(set.Finish(dir.path() + "/", kBlock));
        set.SetTargetResult(*a, VerifyResult::Missing);
        set.SetTargetResult(*b, VerifyResult::Missing);
        set.SetTargetResult(*c, VerifyResult::Missing);
        set.SetRecoveryBlocks(10);
        set.FinishActivity();
        ASSERT_EQ(set.status().state, RecoveryState::RepairPossible);
    }
    TempDir dir;
    TestSet set;
    SourceFileEntry* a = nullptr;
    SourceFileEntry* b = nullptr;
    SourceFileEntry* c = nullptr;
};

TEST_F(PrepareTargetsTest, CreatesAndSizesEveryTargetToBeWritten) {
    std::vector<SourceFileEntry*> list;
    ASSERT_TRUE(set.PrepareTargets(list));
    EXPECT_EQ(list, (std::vector<SourceFileEntry*>{a, b, c}));
    // Under their work names: the final names only once verified.
    struct stat st;
    ASSERT_EQ(stat(PartPathOf(dir.File("a")).c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 250);
    ASSERT_EQ(stat(PartPathOf(dir.File("c")).c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);
    EXPECT_FALSE(test::FileExists(dir.File("a")));
    EXPECT_FALSE(test::FileExists(dir.File("c")));
    EXPECT_TRUE(a->targetFile->isOpen());
    EXPECT_EQ(a->targetBlocks[2].file, a->targetFile);
    EXPECT_EQ(a->targetBlocks[2].length, 50u);
    for (auto* e : list) e->targetFile->close();
}

TEST_F(PrepareTargetsTest, NeverOverwritesAFileThatAppearedAtATargetName) {
    test::WriteFile(dir.File("b"), std::string("user data"));
    std::vector<SourceFileEntry*> list;
    EXPECT_TRUE(set.PrepareTargets(list));
    EXPECT_EQ(set.status().errorKind, ErrorKind::CreateTarget);
    EXPECT_EQ(set.status().errorFile, dir.File("b"));
    EXPECT_EQ(set.status().systemErrorCode, static_cast<uint32_t>(EEXIST));
    EXPECT_EQ(test::ReadFile(dir.File("b")).size(), 9u);
    // b is left out; the others are still prepared.
    EXPECT_EQ(list, (std::vector<SourceFileEntry*>{a, c}));
    for (auto* e : list) e->targetFile->close();
}

// Refuses the operations it is told to, on one path.
class RefuseOn : public FileFaultInjector {
  public:
    RefuseOn(std::string path, bool open, bool size)
        : path_(std::move(path)), open_(open), size_(size) {
        SetFileFaultInjector(this);
    }
    ~RefuseOn() override { SetFileFaultInjector(nullptr); }
    int BeforeOpen(const std::string& path, bool) override {
        return open_ && path == path_ ? EACCES : 0;
    }
    int BeforeSetSize(const DiskFile& file, uint64_t) override {
        return size_ && file.path == path_ ? ENOSPC : 0;
    }

  private:
    std::string path_;
    bool open_;
    bool size_;
};

TEST_F(PrepareTargetsTest, ATargetThatCannotBeCreatedGivesKindTwoAndTheOthersAreStillPrepared) {
    std::vector<SourceFileEntry*> list;
    {
        RefuseOn refuse(PartPathOf(dir.File("b")), true, false);
        EXPECT_TRUE(set.PrepareTargets(list));
    }
    EXPECT_EQ(set.status().errorKind, ErrorKind::CreateTarget);
    EXPECT_EQ(set.status().systemErrorCode, static_cast<uint32_t>(EACCES));
    EXPECT_EQ(set.status().errorFile, dir.File("b"));
    EXPECT_EQ(list, (std::vector<SourceFileEntry*>{a, c}));
    EXPECT_FALSE(test::FileExists(PartPathOf(dir.File("b"))));
    EXPECT_TRUE(test::FileExists(PartPathOf(dir.File("c"))));
    for (auto* e : list) e->targetFile->close();
}

TEST_F(PrepareTargetsTest, ATargetThatCannotBeExtendedIsListedForUndoing) {
    std::vector<SourceFileEntry*> list;
    {
        RefuseOn refuse(PartPathOf(dir.File("a")), false, true);
        EXPECT_FALSE(set.PrepareTargets(list));
    }
    EXPECT_EQ(set.status().errorKind, ErrorKind::CreateTarget);
    EXPECT_EQ(set.status().systemErrorCode, static_cast<uint32_t>(ENOSPC));
    EXPECT_EQ(set.status().errorFile, dir.File("a"));  // the user's name, not the work name
    EXPECT_EQ(list, (std::vector<SourceFileEntry*>{a}));
    a->targetFile->close();
}

TEST_F(PrepareTargetsTest, ADamagedTargetIsOpenedInPlaceOrGivesKindThree) {
    // b's own file is there, verified damaged: it is written in place.
    test::WriteFile(dir.File("b"), std::string(100, 'x'));
    set.SetTargetResult(*b, VerifyResult::NotIntact);
    set.FinishActivity();
    ASSERT_EQ(set.status().state, RecoveryState::RepairPossible);
    std::vector<SourceFileEntry*> list;
    {
        RefuseOn refuse(dir.File("b"), true, false);
        EXPECT_TRUE(set.PrepareTargets(list));
    }
    EXPECT_EQ(set.status().errorKind, ErrorKind::Open);
    EXPECT_EQ(set.status().errorFile, dir.File("b"));
    EXPECT_EQ(list, (std::vector<SourceFileEntry*>{a, c}));
    for (auto* e : list) e->targetFile->close();

    // Undo what the failed attempt created, as the repair does.
    for (auto* e : list) {
        if (e != b) e->targetFile->remove();
    }
    std::vector<SourceFileEntry*> again;
    set.ClearError();
    ASSERT_TRUE(set.PrepareTargets(again));
    EXPECT_EQ(again, (std::vector<SourceFileEntry*>{a, b, c}));
    EXPECT_TRUE(b->targetFile->isOpen());
    for (auto* e : again) e->targetFile->close();
    EXPECT_EQ(test::ReadFile(dir.File("b")).size(), 100u);
}

TEST_F(PrepareTargetsTest, OnlyJoinableEntriesAreWrittenWhenJoining) {
    auto other = set.AddOtherFile("pieces", 1000);
    set.LocateAll(*a, other);
    set.SetRecoveryBlocks(0);
    set.FinishActivity();
    ASSERT_EQ(set.status().state, RecoveryState::PartlyJoinable);
    std::vector<SourceFileEntry*> list;
    ASSERT_TRUE(set.PrepareTargets(list));
    // a is joinable; c (no blocks at all) is joinable too; b is not.
    EXPECT_EQ(list, (std::vector<SourceFileEntry*>{a, c}));
    EXPECT_FALSE(test::FileExists(dir.File("b")));
    for (auto* e : list) e->targetFile->close();
}

TEST_F(PrepareTargetsTest, UnsafeNamesAreLeftAloneAndTheRestIsPrepared) {
    TempDir outer;
    const std::string folder = outer.path() + "/set/";
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    ASSERT_EQ(mkdir((outer.path() + "/elsewhere").c_str(), 0700), 0);
    ASSERT_EQ(symlink((outer.path() + "/elsewhere").c_str(), (folder + "link").c_str()), 0);
    TestSet bad;
    for (const char* name : {"..", "../x", "a/../../x", "/abs", "link/x", "deep/er/ok"}) {
        bad.AddEntry(name, 10);
    }
    ASSERT_TRUE(bad.Finish(folder, kBlock));
    for (size_t i = 0; i < bad.entries().size(); ++i) {
        bad.SetTargetResult(bad.Entry(i), VerifyResult::Missing);
    }
    bad.SetRecoveryBlocks(50);
    bad.FinishActivity();
    std::vector<SourceFileEntry*> list;
    ASSERT_TRUE(bad.PrepareTargets(list));
    // Only the safe name is prepared, its missing folders made one by one.
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]->name, "deep/er/ok");
    // (written under a work name in its own folder until verified)
    EXPECT_EQ(list[0]->targetFile->path.compare(0, folder.size() + 8, folder + "deep/er/"), 0);
    EXPECT_TRUE(test::FileExists(list[0]->targetFile->path));
    EXPECT_EQ(bad.refusedTargets().size(), 5u);
    EXPECT_FALSE(test::FileExists(outer.path() + "/x"));
    EXPECT_FALSE(test::FileExists(outer.path() + "/elsewhere/x"));
    for (auto* e : list) e->targetFile->close();
}

}  // namespace
}  // namespace vantrove
