// Renaming, discarding rebuild targets and the clean-up after a repair, on
// real files in a temporary folder.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "engine/recovery_set.h"
#include "engine/test_set.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

using test::FileExists;
using test::ReadFile;
using test::RecordingObserver;
using test::TempDir;
using test::TestSet;
using test::WriteFile;

constexpr uint64_t kBlock = 100;

std::string Text(const std::vector<uint8_t>& bytes) {
    return {bytes.begin(), bytes.end()};
}

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

class RenamingTest : public ::testing::Test {
  protected:
    std::string Folder() const { return dir.path() + "/"; }
    std::string At(const std::string& name) const { return Folder() + name; }

    // An intact copy of `entry` under `name`, written to disk.
    SetFileRef Copy(SourceFileEntry& entry, const std::string& name, const std::string& text) {
        WriteFile(At(name), text);
        SetFileRef file = set.AddOtherFile(name, text.size());
        file->result = VerifyResult::IntactCopy;
        file->sourceFile = &entry;
        entry.completeCopy = file;
        set.LocateAll(entry, file);
        set.UpdateEntryState(entry);
        return file;
    }
    // A damaged file under the entry's own name.
    void Damaged(SourceFileEntry& entry, const std::string& text) {
        WriteFile(entry.targetPath, text);
        set.SetTargetResult(entry, VerifyResult::NotIntact);
    }
    // An intact file under the entry's own name.
    void Intact(SourceFileEntry& entry, const std::string& text) {
        WriteFile(entry.targetPath, text);
        set.SetTargetResult(entry, VerifyResult::IntactCopy);
    }

    TempDir dir;
    RecordingObserver observer;
    TestSet set{&observer};
};

TEST_F(RenamingTest, DamagedFileStepsAsideAndTheCopyTakesItsName) {
    SourceFileEntry& a = set.AddEntry("a.txt", 150);
    SourceFileEntry& b = set.AddEntry("b.txt", 100);
    ASSERT_TRUE(set.Finish(Folder(), kBlock));
    Damaged(a, "damaged");
    Intact(b, std::string(100, 'b'));
    SetFileRef damagedTarget = a.targetFile;
    SetFileRef copy = Copy(a, "copy.bin", std::string(150, 'a'));
    set.FinishActivity();
    ASSERT_EQ(set.status().state, RecoveryState::RepairPossible);
    ASSERT_EQ(set.status().subState, SubState::RenameOnly);

    set.RepairByRenaming();
    EXPECT_EQ(set.status().errorKind, ErrorKind::None);
    EXPECT_EQ(set.status().state, RecoveryState::Repaired);

    // On disk: the damaged file as a.txt.1, the copy as a.txt, no copy.bin.
    EXPECT_EQ(Text(ReadFile(At("a.txt.1"))), "damaged");
    EXPECT_EQ(Text(ReadFile(At("a.txt"))), std::string(150, 'a'));
    EXPECT_FALSE(FileExists(At("copy.bin")));
    EXPECT_EQ(Text(ReadFile(At("b.txt"))), std::string(100, 'b'));

    // The model follows the files.
    EXPECT_EQ(a.targetFile, copy);
    EXPECT_EQ(copy->kind, FileKind::Target);
    EXPECT_EQ(copy->sourceBlockCount, a.blockCount);
    EXPECT_EQ(copy->sourceFile, &a);
    EXPECT_EQ(a.state, FileState::Complete);
    EXPECT_EQ(damagedTarget->path, At("a.txt.1"));
    EXPECT_EQ(damagedTarget->kind, FileKind::OtherData);
    EXPECT_EQ(damagedTarget->sourceBlockCount, 0u);
    EXPECT_EQ(set.FindKnownFile(At("a.txt")), copy);
    EXPECT_EQ(set.FindKnownFile(At("a.txt.1")), damagedTarget);
    EXPECT_EQ(set.FindKnownFile(At("copy.bin")), nullptr);
    EXPECT_EQ(set.FindExpected(At("a.txt")), copy);
    EXPECT_EQ(set.status().dataBlocksAvailable, 3);
    ExpectCountersMatch(set);

    // Progress: 4 steps per file, one notification each, then the total.
    std::vector<uint64_t> positions;
    for (const auto& s : observer.statuses) {
        if (s.activity != Activity::Renaming) continue;
        EXPECT_EQ(s.currentFile, "Rinomina file");
        EXPECT_EQ(s.progressTotal, 8u);
        positions.push_back(s.progressPosition);
    }
    std::vector<uint64_t> expected = {1, 2, 3, 4, 5, 6, 7, 8, 8, 8};
    EXPECT_EQ(positions, expected);
}

TEST_F(RenamingTest, NameTakenByAnUnknownFileSendsTheCopyToAFreeName) {
    SourceFileEntry& a = set.AddEntry("a.txt", 100);
    ASSERT_TRUE(set.Finish(Folder(), kBlock));
    set.SetTargetResult(a, VerifyResult::Missing);
    SetFileRef copy = Copy(a, "copy.bin", std::string(100, 'a'));
    WriteFile(At("a.txt"), "appeared meanwhile");
    set.FinishActivity();
    ASSERT_EQ(set.status().subState, SubState::RenameOnly);

    ASSERT_TRUE(set.RenameFiles());
    EXPECT_EQ(Text(ReadFile(At("a.txt"))), "appeared meanwhile");
    EXPECT_EQ(Text(ReadFile(At("a.txt.1"))), std::string(100, 'a'));
    EXPECT_EQ(a.targetFile, copy);
    EXPECT_EQ(copy->path, At("a.txt.1"));
    EXPECT_EQ(a.state, FileState::Complete);
    // Still expected under its own name, known under where it lies.
    EXPECT_EQ(set.FindExpected(At("a.txt")), copy);
    EXPECT_EQ(set.FindKnownFile(At("a.txt.1")), copy);
    EXPECT_EQ(set.FindKnownFile(At("a.txt")), nullptr);
    ExpectCountersMatch(set);
}

TEST_F(RenamingTest, TargetHoldingAnotherFilesCopyIsMovedToThatFilesName) {
    SourceFileEntry& a = set.AddEntry("a", 100);
    SourceFileEntry& b = set.AddEntry("b", 100);
    ASSERT_TRUE(set.Finish(Folder(), kBlock));
    set.SetRecoveryBlocks(1);
    // "a" holds b's data; b's own name is empty.
    WriteFile(At("a"), std::string(100, 'b'));
    SetFileRef held = a.targetFile;
    held->result = VerifyResult::IntactCopy;
    held->flags.misnamed = true;
    b.completeCopy = held;
    set.LocateAll(b, held);
    set.UpdateEntryState(a);
    set.SetTargetResult(b, VerifyResult::Missing);
    SetFileRef bOldTarget = b.targetFile;
    set.FinishActivity();
    ASSERT_EQ(a.state, FileState::Damaged);
    ASSERT_EQ(b.state, FileState::Misnamed);

    ASSERT_TRUE(set.RenameFiles());
    EXPECT_FALSE(FileExists(At("a")));
    EXPECT_EQ(Text(ReadFile(At("b"))), std::string(100, 'b'));
    EXPECT_EQ(b.targetFile, held);
    EXPECT_FALSE(held->flags.misnamed);
    EXPECT_EQ(b.state, FileState::Complete);
    EXPECT_EQ(a.state, FileState::Missing);
    ASSERT_TRUE(a.targetFile);
    EXPECT_NE(a.targetFile, held);
    EXPECT_EQ(a.targetFile->path, At("a"));
    EXPECT_EQ(a.targetFile->result, VerifyResult::Missing);
    EXPECT_EQ(set.FindExpected(At("a")), a.targetFile);
    // b's old (missing) record is gone from every map.
    for (const auto& [path, file] : set.knownFiles()) EXPECT_NE(file, bOldTarget);
    ExpectCountersMatch(set);
}

TEST_F(RenamingTest, PartlyJoinableSetLeavesUnrelatedDamagedFilesInPlace) {
    SourceFileEntry& a = set.AddEntry("a", 200);
    SourceFileEntry& b = set.AddEntry("b", 100);
    ASSERT_TRUE(set.Finish(Folder(), kBlock));
    Damaged(a, "half");  // no copy, not joinable, no recovery data
    set.SetTargetResult(b, VerifyResult::Missing);
    Copy(b, "b.copy", std::string(100, 'b'));
    set.FinishActivity();
    ASSERT_EQ(set.status().state, RecoveryState::PartlyJoinable);
    ASSERT_EQ(set.status().subState, SubState::RenameOnly);

    set.RepairByRenaming();
    EXPECT_EQ(Text(ReadFile(At("a"))), "half");
    EXPECT_FALSE(FileExists(At("a.1")));
    EXPECT_EQ(Text(ReadFile(At("b"))), std::string(100, 'b'));
    EXPECT_EQ(a.state, FileState::Damaged);
    EXPECT_EQ(b.state, FileState::Complete);
    // Renaming succeeded, but a damaged file remains: not repaired.
    EXPECT_EQ(set.status().errorKind, ErrorKind::None);
    EXPECT_NE(set.status().state, RecoveryState::Repaired);
}

class FailRenamesFrom : public FileFaultInjector {
  public:
    explicit FailRenamesFrom(std::string from) : from_(std::move(from)) {
        SetFileFaultInjector(this);
    }
    ~FailRenamesFrom() override { SetFileFaultInjector(nullptr); }
    int BeforeRename(const std::string& from, const std::string&) override {
        return from == from_ ? EACCES : 0;
    }

  private:
    std::string from_;
};

TEST_F(RenamingTest, FailedRenameIsRecordedAndTheOtherFilesStillMove) {
    SourceFileEntry& a = set.AddEntry("a", 100);
    SourceFileEntry& b = set.AddEntry("b", 100);
    ASSERT_TRUE(set.Finish(Folder(), kBlock));
    set.SetTargetResult(a, VerifyResult::Missing);
    set.SetTargetResult(b, VerifyResult::Missing);
    SetFileRef ca = Copy(a, "a.copy", std::string(100, 'a'));
    Copy(b, "b.copy", std::string(100, 'b'));
    set.FinishActivity();
    ASSERT_EQ(set.status().subState, SubState::RenameOnly);

    {
        FailRenamesFrom fail(At("a.copy"));
        set.RepairByRenaming();
    }
    EXPECT_EQ(set.status().errorKind, ErrorKind::Rename);
    EXPECT_EQ(set.status().systemErrorCode, static_cast<uint32_t>(EACCES));
    EXPECT_EQ(set.status().errorFile, At("a.copy"));
    EXPECT_NE(set.status().state, RecoveryState::Repaired);
    EXPECT_TRUE(FileExists(At("a.copy")));
    EXPECT_EQ(ca->path, At("a.copy"));
    EXPECT_EQ(Text(ReadFile(At("b"))), std::string(100, 'b'));
    EXPECT_EQ(b.state, FileState::Complete);
    EXPECT_EQ(a.state, FileState::Misnamed);
    ExpectCountersMatch(set);

    // A second attempt without the fault finishes the job.
    set.FinishActivity();
    set.RepairByRenaming();
    EXPECT_EQ(set.status().errorKind, ErrorKind::None);
    EXPECT_EQ(set.status().state, RecoveryState::Repaired);
    EXPECT_EQ(Text(ReadFile(At("a"))), std::string(100, 'a'));
}

TEST_F(RenamingTest, NameLeadingOutOfTheFolderIsRefused) {
    TempDir outer;
    const std::string folder = outer.path() + "/set/";
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    TestSet escaping;
    SourceFileEntry& e = escaping.AddEntry("../escaped", 100);
    ASSERT_TRUE(escaping.Finish(folder, kBlock));
    escaping.SetTargetResult(e, VerifyResult::Missing);
    WriteFile(folder + "copy", std::string(100, 'e'));
    SetFileRef copy = escaping.AddOtherFile("copy", 100);
    copy->result = VerifyResult::IntactCopy;
    e.completeCopy = copy;
    escaping.LocateAll(e, copy);
    escaping.UpdateEntryState(e);
    escaping.FinishActivity();

    // The copy stays where it is, and the repair says it could not make the
    // file rather than calling the set repaired.
    escaping.RepairByRenaming();
    EXPECT_EQ(escaping.status().errorKind, ErrorKind::CreateTarget);
    EXPECT_EQ(escaping.status().systemErrorCode, static_cast<uint32_t>(EINVAL));
    EXPECT_NE(escaping.status().state, RecoveryState::Repaired);
    EXPECT_FALSE(FileExists(outer.path() + "/escaped"));
    EXPECT_TRUE(FileExists(folder + "copy"));
}

TEST_F(RenamingTest, DiscardDeletesOnlyThePreparedTargets) {
    SourceFileEntry& a = set.AddEntry("a", 250);
    SourceFileEntry& b = set.AddEntry("b", 100);
    ASSERT_TRUE(set.Finish(Folder(), kBlock));
    set.SetRecoveryBlocks(3);
    Damaged(a, "damaged a");
    Intact(b, std::string(100, 'b'));
    WriteFile(At("unrelated"), "keep");
    set.FinishActivity();
    ASSERT_EQ(set.status().state, RecoveryState::RepairPossible);

    ASSERT_TRUE(set.RenameFiles());
    std::vector<SourceFileEntry*> list;
    ASSERT_TRUE(set.PrepareTargets(list));
    ASSERT_EQ(list, std::vector<SourceFileEntry*>{&a});
    EXPECT_TRUE(FileExists(PartPathOf(At("a"))));
    EXPECT_FALSE(FileExists(At("a")));
    EXPECT_TRUE(a.targetFile->isOpen());

    set.DiscardTargets(list);
    EXPECT_TRUE(list.empty());
    EXPECT_FALSE(FileExists(At("a")));
    EXPECT_FALSE(FileExists(PartPathOf(At("a"))));
    EXPECT_EQ(a.targetFile->path, At("a"));
    EXPECT_FALSE(a.targetFile->isOpen());
    EXPECT_EQ(a.targetFile->result, VerifyResult::Missing);
    EXPECT_FALSE(a.targetBlocks[0].file);
    EXPECT_EQ(a.state, FileState::Missing);
    // The damaged original was moved aside, not overwritten, and stays.
    EXPECT_EQ(Text(ReadFile(At("a.1"))), "damaged a");
    EXPECT_EQ(Text(ReadFile(At("b"))), std::string(100, 'b'));
    EXPECT_EQ(Text(ReadFile(At("unrelated"))), "keep");
    ExpectCountersMatch(set);
}

class CleanUpTest : public RenamingTest {
  protected:
    void SetUp() override {
        a_ = &set.AddEntry("a", 100);
        ASSERT_TRUE(set.Finish(Folder(), kBlock));
        Intact(*a_, std::string(100, 'a'));
        WriteFile(At("a.1"), "leftover");
        leftover_ = set.AddOtherFile("a.1", 8);
        leftover_->sourceFile = a_;
        a_->AddToPlace(leftover_, 0);
        WriteFile(At("set.vol0+1.par2"), "volume");
        volume_ = std::make_shared<SetFile>(At("set.vol0+1.par2"));
        volume_->kind = FileKind::Volume;
        set.AddKnownFile(volume_);
        set.FinishActivity();
        set.ForceState(RecoveryState::Repaired);
        list_ = {leftover_, volume_, a_->targetFile};
    }
    std::string TrashFiles() const {
        return std::string(getenv("XDG_DATA_HOME")) + "/Trash/files/";
    }

    SourceFileEntry* a_ = nullptr;
    SetFileRef leftover_, volume_;
    std::vector<SetFileRef> list_;
};

TEST_F(CleanUpTest, BothSettingsOffDeleteNothing) {
    set.SetRepairOptions({false, false, true});
    set.CleanUp(list_);
    EXPECT_TRUE(FileExists(At("a.1")));
    EXPECT_TRUE(FileExists(At("set.vol0+1.par2")));
    EXPECT_TRUE(FileExists(At("a")));
    EXPECT_EQ(set.FindKnownFile(At("a.1")), leftover_);
    EXPECT_TRUE(observer.removed.empty());
}

TEST_F(CleanUpTest, DamagedFilesGoToTheTrashAndTargetsStay) {
    set.SetRepairOptions({true, false, true});
    set.CleanUp(list_);
    EXPECT_FALSE(FileExists(At("a.1")));
    EXPECT_EQ(Text(ReadFile(TrashFiles() + "a.1")), "leftover");
    EXPECT_TRUE(FileExists(At("set.vol0+1.par2")));
    EXPECT_TRUE(FileExists(At("a")));
    EXPECT_EQ(set.FindKnownFile(At("a.1")), nullptr);
    EXPECT_EQ(a_->FindPlace(leftover_.get()), nullptr);
    EXPECT_EQ(a_->state, FileState::Complete);
    EXPECT_TRUE(observer.removed.empty());
}

TEST_F(CleanUpTest, RecoveryFilesGoOnlyWithTheirSettingAndWithoutTrashAreDeleted) {
    set.SetRepairOptions({false, true, false});
    set.CleanUp(list_);
    EXPECT_TRUE(FileExists(At("a.1")));
    EXPECT_FALSE(FileExists(At("set.vol0+1.par2")));
    EXPECT_FALSE(FileExists(TrashFiles() + "set.vol0+1.par2"));
    EXPECT_EQ(observer.removed, std::vector<std::string>{At("set.vol0+1.par2")});
    EXPECT_EQ(set.FindKnownFile(At("set.vol0+1.par2")), nullptr);
}

TEST_F(CleanUpTest, NothingGoesUnlessTheSetIsRepairedOrWhole) {
    set.SetRepairOptions({true, true, false});
    set.ForceState(RecoveryState::RepairPossible);
    set.CleanUp(list_);
    EXPECT_TRUE(FileExists(At("a.1")));
    EXPECT_TRUE(FileExists(At("set.vol0+1.par2")));
}

TEST_F(CleanUpTest, AnIntactCopyThatAnEntryReliesOnIsKept) {
    // The leftover is, after all, the intact copy the entry counts on.
    a_->completeCopy = leftover_;
    set.SetRepairOptions({true, false, false});
    set.CleanUp(list_);
    EXPECT_TRUE(FileExists(At("a.1")));
}

}  // namespace
}  // namespace vantrove
