#include "app/verification_worker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "app/worker_test_support.h"
#include "engine/verification_cache.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

using namespace std::chrono_literals;
using test::IsIdle;
using Steady = std::chrono::steady_clock;

using test::WorkerFixture;

bool Verified(const RecoverySetStatus& s) {
    return IsIdle(s) && s.state == RecoveryState::AllVerified;
}

TEST(VerificationWorker, UnrecognisedNameChangesNothingAndReportsIdle) {
    WorkerFixture f;
    const std::string other = f.dir.File("notes.txt");
    test::WriteFile(other, std::string("nothing to see"));
    VerificationWorker worker(&f.client, f.Options());
    ASSERT_TRUE(worker.Start());
    worker.Open(other);
    ASSERT_TRUE(f.client.WaitFor([](const RecoverySetStatus&) { return true; }));
    const RecoverySetStatus s = f.client.LatestStatus();
    EXPECT_TRUE(IsIdle(s));
    EXPECT_EQ(s.state, RecoveryState::NothingLoaded);
    EXPECT_EQ(s.formatKind, FormatKind::None);
    EXPECT_TRUE(s.setName.empty());
    EXPECT_TRUE(s.currentFile.empty());
    EXPECT_NE(s.timeStamp, 0u);
    EXPECT_EQ(f.packets.Count(), 0u);

    // The worker is still there for a set it knows.
    const auto files = test::WriteDataFiles(f.dir.path(), 2, 3000, f.rng);
    worker.Open(test::MakeSfvList(f.dir.path(), files));
    ASSERT_TRUE(f.client.WaitFor(Verified));
    EXPECT_EQ(f.client.LatestStatus().formatKind, FormatKind::Sfv);
    EXPECT_EQ(worker.Quit(), 0);
    EXPECT_FALSE(worker.running());
}

TEST(VerificationWorker, OpensAPar2SetAndPostsItsLines) {
    WorkerFixture f;
    const auto files = test::WriteDataFiles(f.dir.path(), 3, 5000, f.rng);
    ASSERT_TRUE(test::MakePar2Set(f.dir.path(), files));
    VerificationWorker worker(&f.client, f.Options());
    ASSERT_TRUE(worker.Start());
    worker.Open(f.dir.File("set.par2"));
    ASSERT_TRUE(f.client.WaitFor(Verified));
    const RecoverySetStatus s = f.client.LatestStatus();
    EXPECT_EQ(s.formatKind, FormatKind::Par2);
    EXPECT_EQ(s.sourceFileCount, 3);
    EXPECT_EQ(s.completeFiles, 3);

    // The last line of every source file says it is complete.
    std::map<std::string, SourceRowKind> lastRow;
    size_t volumeLines = 0;
    for (const LinePacket& p : f.packets.Packets()) {
        if (p.kind == LinePacketKind::SourceFileLine) lastRow[p.path] = p.rowKind;
        if (p.kind == LinePacketKind::VolumeFile) ++volumeLines;
    }
    ASSERT_EQ(lastRow.size(), 3u);
    for (const auto& [name, row] : lastRow) EXPECT_EQ(row, SourceRowKind::Complete) << name;
    EXPECT_GT(volumeLines, 0u);

    // Once the reader closes, lines stop but the status slot still works.
    f.client.MarkClosing();
    const size_t before = f.packets.Count();
    const uint64_t statuses = f.client.StatusCount();
    worker.Reverify();
    ASSERT_TRUE(f.client.WaitFor([&](const RecoverySetStatus& st) {
        return Verified(st) && f.client.StatusCount() > statuses + 1;
    }));
    EXPECT_EQ(f.packets.Count(), before);
    EXPECT_EQ(worker.Quit(), 0);
    EXPECT_TRUE(f.StateSaved());
}

// Requests queued while a batch runs belong to it; a stop drops the Open,
// Repair, rescan and Reverify requests left in it, and only in that batch.
TEST(VerificationWorker, StopDropsTheRestOfItsBatchOnly) {
    WorkerFixture f;
    const auto files = test::WriteDataFiles(f.dir.path(), 6, 4000, f.rng);
    const std::string list = test::MakeSfvList(f.dir.path(), files);
    VerificationWorker worker(&f.client, f.Options());
    ASSERT_TRUE(worker.Start());

    // Without a stop, the queued Reverify runs in the same batch.
    f.client.HoldNextFile(&worker.stopFlag());
    worker.Open(list);
    ASSERT_TRUE(f.client.WaitUntilHeld());
    worker.Reverify();
    f.client.Release();
    ASSERT_TRUE(f.client.WaitFor(Verified));
    {
        const auto history = f.client.History();
        size_t batchEnds = 0, scans = 0;
        for (const auto& r : history) {
            if (IsIdle(r.status)) ++batchEnds;
            if (r.status.activity == Activity::SearchingNewFiles &&
                r.status.progressPosition == 0 && r.status.progressTotal == 1)
                ++scans;
        }
        EXPECT_EQ(batchEnds, 1u);  // Open and Reverify in one batch
        EXPECT_EQ(scans, 2u);      // the Open's scan and the Reverify's
    }
    // A stop while held: the Reverify's scan ends early, the queued Reverify
    // and Open are skipped, and the set stays partly unverified.
    const size_t historyBefore = f.client.History().size();
    f.client.HoldNextFile(&worker.stopFlag());
    worker.Reverify();
    ASSERT_TRUE(f.client.WaitUntilHeld());
    worker.Reverify();
    worker.Open(list);
    worker.RequestStop();
    ASSERT_TRUE(f.client.WaitFor([&](const RecoverySetStatus& s) {
        return IsIdle(s) && f.client.History().size() > historyBefore + 1;
    }));
    std::this_thread::sleep_for(100ms);
    RecoverySetStatus s = f.client.LatestStatus();
    EXPECT_GT(s.unverifiedFiles, 0);
    EXPECT_NE(s.state, RecoveryState::AllVerified);
    EXPECT_EQ(worker.stopFlag().load(), 0u);  // cleared after the batch
    {
        const auto history = f.client.History();
        size_t scans = 0;
        for (size_t i = historyBefore; i < history.size(); ++i) {
            const auto& st = history[i].status;
            if (st.activity == Activity::SearchingNewFiles && st.progressPosition == 0 &&
                st.progressTotal == 1)
                ++scans;
        }
        EXPECT_EQ(scans, 1u);  // only the interrupted one
    }

    // The stop belonged to that batch: a stop set between batches is cleared
    // when the next batch starts, so this Reverify runs.
    worker.RequestStop();
    worker.Reverify();
    ASSERT_TRUE(f.client.WaitFor(Verified));
    s = f.client.LatestStatus();
    EXPECT_EQ(s.completeFiles, 6);
    EXPECT_EQ(s.unverifiedFiles, 0);
    EXPECT_EQ(worker.Quit(), 0);
}

TEST(VerificationWorker, RescanRunsAtOnceThenAPeriodAfterEachScanEnds) {
    WorkerFixture f;
    const auto files = test::WriteDataFiles(f.dir.path(), 3, 2000, f.rng);
    const std::string list = test::MakeSfvList(f.dir.path(), files);
    const auto period = 300ms;
    VerificationWorker worker(&f.client, f.Options(period));
    ASSERT_TRUE(worker.Start());
    worker.Open(list);
    ASSERT_TRUE(f.client.WaitFor(Verified));

    // Every busy report takes 60 ms, so a scan lasts a good part of the
    // period: counting from the start of a scan would show in the gaps.
    f.client.SleepOnBusy(60ms);
    const size_t first = f.client.History().size();
    const auto switchedOn = Steady::now();
    worker.SetRescan(true);
    std::this_thread::sleep_for(4 * period + 600ms);
    worker.SetRescan(false);
    std::this_thread::sleep_for(100ms);
    const auto switchedOff = Steady::now();
    std::this_thread::sleep_for(3 * period);

    const auto history = f.client.History();
    // Each scan runs from its first report to the end of its batch (the
    // first idle report after it); switching rescan off ends a batch too.
    std::vector<Steady::time_point> starts, ends;
    for (size_t i = first; i < history.size(); ++i) {
        const auto& st = history[i].status;
        if (st.activity == Activity::SearchingNewFiles && st.progressPosition == 0 &&
            st.progressTotal == 1)
            starts.push_back(history[i].at);
        else if (IsIdle(st) && ends.size() < starts.size())
            ends.push_back(history[i].at);
    }
    ASSERT_GE(starts.size(), 3u);
    ASSERT_EQ(starts.size(), ends.size());
    // The first scan runs at once.
    EXPECT_LT(starts[0] - switchedOn, period);
    for (size_t i = 0; i < starts.size(); ++i) {
        EXPECT_GT(ends[i] - starts[i], period / 2) << "scan " << i;
        if (i + 1 < starts.size()) {
            // No overlap, and the period counts from the end of a scan.
            EXPECT_GE(starts[i + 1] - ends[i], period - 20ms) << "gap after scan " << i;
        }
    }
    // Switched off: no scan starts afterwards.
    EXPECT_LT(starts.back(), switchedOff);
    EXPECT_EQ(worker.Quit(), 0);
}

TEST(VerificationWorker, QuitDuringALongScanReturnsPromptlyWithTheStateSaved) {
    WorkerFixture f;
    const auto files = test::WriteDataFiles(f.dir.path(), 8, 4000, f.rng);
    ASSERT_TRUE(test::MakePar2Set(f.dir.path(), files));
    VerificationWorker worker(&f.client, f.Options());
    ASSERT_TRUE(worker.Start());
    // The worker is held inside the scan until the stop flag is set: Quit
    // must set it before waiting, or this would hang for the hold's time-out.
    f.client.HoldNextFile(&worker.stopFlag());
    worker.Open(f.dir.File("set.par2"));
    ASSERT_TRUE(f.client.WaitUntilHeld());
    worker.Reverify();  // queued behind; skipped
    const auto before = Steady::now();
    EXPECT_EQ(worker.Quit(), 0);
    EXPECT_LT(Steady::now() - before, 10s);
    EXPECT_FALSE(worker.running());
    EXPECT_EQ(worker.stopFlag().load(), 0u);
    EXPECT_TRUE(f.StateSaved());
    EXPECT_NE(f.client.LatestStatus().state, RecoveryState::AllVerified);

    // Requests after the end are lost, and Quit again does nothing.
    worker.Open(f.dir.File("set.par2"));
    EXPECT_EQ(worker.Quit(), -1);
}

TEST(VerificationWorker, DetachReturnsAPar2SetButNotAnSfvSet) {
    {
        WorkerFixture f;
        const auto files = test::WriteDataFiles(f.dir.path(), 2, 3000, f.rng);
        ASSERT_TRUE(test::MakePar2Set(f.dir.path(), files));
        VerificationWorker worker(&f.client, f.Options());
        ASSERT_TRUE(worker.Start());
        worker.Open(f.dir.File("set.par2"));
        ASSERT_TRUE(f.client.WaitFor(Verified));
        DetachedSet detached = worker.Detach();
        EXPECT_EQ(detached.exitCode, 0);
        EXPECT_FALSE(worker.running());
        ASSERT_NE(detached.set, nullptr);
        EXPECT_EQ(detached.set->formatKind(), FormatKind::Par2);
        EXPECT_EQ(detached.set->status().state, RecoveryState::AllVerified);
        ASSERT_NE(detached.stopFlag, nullptr);
        EXPECT_EQ(detached.set->stopFlag(), detached.stopFlag.get());
        EXPECT_TRUE(f.StateSaved());
    }
    {
        WorkerFixture f;
        const auto files = test::WriteDataFiles(f.dir.path(), 2, 3000, f.rng);
        VerificationWorker worker(&f.client, f.Options());
        ASSERT_TRUE(worker.Start());
        worker.Open(test::MakeSfvList(f.dir.path(), files));
        ASSERT_TRUE(f.client.WaitFor(Verified));
        DetachedSet detached = worker.Detach();
        EXPECT_EQ(detached.exitCode, 0);
        EXPECT_EQ(detached.set, nullptr);
        EXPECT_TRUE(f.StateSaved());
    }
}

TEST(VerificationWorker, RepairRunsWithTheGivenOptions) {
    WorkerFixture f;
    const auto files = test::WriteDataFiles(f.dir.path(), 3, 3000, f.rng);
    ASSERT_TRUE(test::MakePar2Set(f.dir.path(), files));  // 3 blocks a file, 4 recovery blocks
    std::filesystem::remove(files[1]);
    VerificationWorker worker(&f.client, f.Options());
    ASSERT_TRUE(worker.Start());
    worker.Open(f.dir.File("set.par2"));
    ASSERT_TRUE(f.client.WaitFor([](const RecoverySetStatus& s) {
        return IsIdle(s) && s.state == RecoveryState::RepairPossible;
    }));
    RepairOptions options;
    options.deleteRecoveryFiles = true;
    options.useRecycleBin = false;
    worker.Repair(options);
    ASSERT_TRUE(f.client.WaitFor([](const RecoverySetStatus& s) {
        return IsIdle(s) && s.state == RecoveryState::Repaired;
    }));
    EXPECT_TRUE(test::FileExists(files[1]));
    // Recovery files were deleted as the options asked, and their lines
    // removed.
    size_t removed = 0;
    for (const LinePacket& p : f.packets.Packets()) {
        if (p.kind != LinePacketKind::RemoveVolumeFile) continue;
        ++removed;
        EXPECT_FALSE(test::FileExists(p.path)) << p.path;
    }
    EXPECT_GT(removed, 0u);
    EXPECT_EQ(worker.Quit(), 0);
}

TEST(WorkerClient, SamplingSeesOnlyTheLatestRecord) {
    WorkerClient client(nullptr);
    RecoverySetStatus out;
    uint64_t seen = 0;
    EXPECT_FALSE(client.SampleStatus(out, seen));
    RecoverySetStatus a;
    a.setName = "a";
    RecoverySetStatus b;
    b.setName = "b";
    client.StatusChanged(a);
    client.StatusChanged(b);
    ASSERT_TRUE(client.SampleStatus(out, seen));
    EXPECT_EQ(out.setName, "b");
    out.setName = "untouched";
    EXPECT_FALSE(client.SampleStatus(out, seen));
    EXPECT_EQ(out.setName, "untouched");
    client.StatusChanged(a);
    ASSERT_TRUE(client.SampleStatus(out, seen));
    EXPECT_EQ(out.setName, "a");
}

}  // namespace
}  // namespace vantrove
