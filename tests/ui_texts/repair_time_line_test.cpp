#include "ui/texts/repair_time_line.h"

#include <gtest/gtest.h>

#include <cmath>

#include "ui/texts/duration_texts.h"

namespace vantrove {
namespace {

constexpr uint64_t kMiB = 1024 * 1024;

RecoverySetStatus At(Activity activity, uint32_t time, uint64_t position = 0,
                     uint64_t total = 100 * kMiB) {
    RecoverySetStatus s;
    s.formatKind = FormatKind::Par2;
    s.state = RecoveryState::RepairPossible;
    s.activity = activity;
    s.timeStamp = time;
    s.progressPosition = position;
    s.progressTotal = total;
    return s;
}

TEST(RepairTimeLine, ShownDuringRepairAndWhenRepaired) {
    for (int a = 0; a <= 11; ++a) {
        RecoverySetStatus s = At(static_cast<Activity>(a), 0);
        EXPECT_EQ(RepairTimeLine::Shown(s), a >= 6 && a <= 10) << a;
    }
    RecoverySetStatus s = At(Activity::Idle, 0);
    s.state = RecoveryState::Repaired;
    EXPECT_TRUE(RepairTimeLine::Shown(s));
}

TEST(RepairTimeLine, SteadySpeedGivesRemainingWholeAndSpeed) {
    RepairTimeLine line;
    RecoverySetStatus idle = At(Activity::Idle, 1000);
    RecoverySetStatus prev = At(Activity::Recovering, 2000, 0);
    EXPECT_FALSE(line.Update(prev, idle));  // timing starts, nothing to say yet
    EXPECT_EQ(line.text(), "");
    // 2 MiB per second, every second.
    for (uint32_t t = 1; t <= 10; ++t) {
        RecoverySetStatus cur = At(Activity::Recovering, 2000 + t * 1000, t * 2 * kMiB);
        line.Update(cur, prev);
        prev = cur;
    }
    EXPECT_NEAR(line.averageSpeed(), 2.0, 1e-9);
    // 80 MiB left at 2 MiB/s: 40 s; 10 s elapsed.
    EXPECT_EQ(line.text(), "40 secondi / 50 secondi @ 2.0 MB/s");
}

TEST(RepairTimeLine, AverageIsWeightedTowardsRecentSpeeds) {
    RepairTimeLine line;
    RecoverySetStatus prev = At(Activity::Recovering, 0, 0);
    line.Update(prev, At(Activity::Idle, 0));
    RecoverySetStatus cur = At(Activity::Recovering, 1000, 10 * kMiB);  // 10 MiB/s for 1 s
    line.Update(cur, prev);
    EXPECT_NEAR(line.averageSpeed(), 10.0, 1e-9);
    prev = cur;
    cur = At(Activity::Recovering, 3000, 12 * kMiB);  // 1 MiB/s for 2 s
    line.Update(cur, prev);
    // Weights: 0.8 after 1 s, then 0.64 for 2 s.
    double w1 = 0.2, n1 = 0.2 * 10;
    double w2 = 0.64;
    double expected = (w2 * n1 + (1 - w2) * 1.0) / (w2 * w1 + (1 - w2));
    EXPECT_NEAR(line.averageSpeed(), expected, 1e-9);
    EXPECT_LT(line.averageSpeed(), 10.0);
    EXPECT_GT(line.averageSpeed(), 1.0);
}

TEST(RepairTimeLine, RepeatedOrBackwardSamplesAreNoSpeed) {
    RepairTimeLine line;
    RecoverySetStatus prev = At(Activity::Recovering, 0, 0);
    line.Update(prev, At(Activity::Idle, 0));
    RecoverySetStatus cur = At(Activity::Recovering, 1000, 4 * kMiB);
    line.Update(cur, prev);
    std::string text = line.text();
    // The same status sampled twice: no time passed, nothing changes.
    EXPECT_FALSE(line.Update(cur, cur));
    EXPECT_EQ(line.text(), text);
    EXPECT_NEAR(line.averageSpeed(), 4.0, 1e-9);
    // Progress that starts again (another pass) gives no negative speed.
    RecoverySetStatus back = At(Activity::Recovering, 2000, 1 * kMiB);
    line.Update(back, cur);
    EXPECT_NEAR(line.averageSpeed(), 4.0, 1e-9);
    EXPECT_TRUE(std::isfinite(line.averageSpeed()));
}

TEST(RepairTimeLine, TimeStampsMayWrap) {
    RepairTimeLine line;
    uint32_t start = 0xFFFFFC18u;  // 1000 ms before the wrap
    RecoverySetStatus prev = At(Activity::Recovering, start, 0);
    line.Update(prev, At(Activity::Idle, start));
    RecoverySetStatus cur = At(Activity::Recovering, start + 2000u, 4 * kMiB);
    line.Update(cur, prev);
    EXPECT_NEAR(line.averageSpeed(), 2.0, 1e-9);
    // 96 MiB left at 2 MiB/s: 48 s; 2 s elapsed.
    EXPECT_EQ(line.text(), "48 secondi / 50 secondi @ 2.0 MB/s");
}

TEST(RepairTimeLine, SuccessLineWithElapsedTimeAndAverageSpeed) {
    RepairTimeLine line;
    RecoverySetStatus idle = At(Activity::Idle, 10000);
    RecoverySetStatus renaming = At(Activity::Renaming, 10500);
    line.Update(renaming, idle);
    RecoverySetStatus r0 = At(Activity::Recovering, 11000, 0);
    line.Update(r0, renaming);
    RecoverySetStatus r1 = At(Activity::Recovering, 13000, 3 * kMiB);
    line.Update(r1, r0);
    RecoverySetStatus writing = At(Activity::Writing, 14000);
    line.Update(writing, r1);
    RecoverySetStatus done = At(Activity::Idle, 135001);
    done.state = RecoveryState::Repaired;
    EXPECT_TRUE(line.Update(done, writing));
    // 124.501 s from the start rounds up to 125 s.
    EXPECT_EQ(line.text(), "Riparazione riuscita in 2 minuti, 5 secondi @ " + SpeedText(1.5));
    EXPECT_EQ(SpeedText(1.5), "1.5 MB/s");
    // Staying repaired keeps the line.
    RecoverySetStatus later = done;
    later.timeStamp += 100;
    EXPECT_FALSE(line.Update(later, done));
}

// Without samples of the recovering phase the speed is the set's data over
// the job's whole time.
TEST(RepairTimeLine, RenameOnlyRepairHasTheSpeedOfTheWholeJob) {
    RepairTimeLine line;
    RecoverySetStatus idle = At(Activity::Idle, 0);
    RecoverySetStatus renaming = At(Activity::Renaming, 100);
    line.Update(renaming, idle);
    RecoverySetStatus done = At(Activity::Idle, 1100);
    done.state = RecoveryState::Repaired;
    done.totalSourceSize = 3 * kMiB;
    line.Update(done, renaming);
    EXPECT_EQ(line.text(), "Riparazione riuscita in 1 secondi @ 3.0 MB/s");
}

// A repair over between two ticks is never seen busy: it is timed from the
// request, and a sub-second job shows one second, not zero.
TEST(RepairTimeLine, RepairNeverSeenBusyIsTimedFromTheRequest) {
    RepairTimeLine line;
    RecoverySetStatus idle = At(Activity::Idle, 5000);
    line.Update(idle, idle);
    line.Start(5000);
    RecoverySetStatus done = At(Activity::Idle, 5040);
    done.state = RecoveryState::Repaired;
    done.totalSourceSize = 2 * kMiB;
    EXPECT_TRUE(line.Update(done, idle));
    EXPECT_EQ(line.text(), "Riparazione riuscita in 1 secondi @ 50 MB/s");

    // A failed repair leaves no timing behind for the next one.
    line.Start(9000);
    RecoverySetStatus busy = At(Activity::Recovering, 9100);
    line.Update(busy, done);
    line.Update(At(Activity::Idle, 9200), busy);
    RecoverySetStatus alone = At(Activity::Idle, 20000);
    alone.state = RecoveryState::Repaired;
    line.Update(alone, At(Activity::Idle, 19900));
    EXPECT_EQ(line.text(), "Riparazione riuscita in 0 secondi @ 0 KB/s");
}

TEST(RepairTimeLine, NewRepairClearsTheOldLineAndAverage) {
    RepairTimeLine line;
    RecoverySetStatus r0 = At(Activity::Recovering, 0, 0);
    line.Update(r0, At(Activity::Idle, 0));
    RecoverySetStatus r1 = At(Activity::Recovering, 1000, 8 * kMiB);
    line.Update(r1, r0);
    EXPECT_FALSE(line.text().empty());
    RecoverySetStatus idle = At(Activity::Idle, 5000);
    line.Update(idle, r1);
    EXPECT_TRUE(line.Update(At(Activity::ComputingMatrix, 6000), idle));
    EXPECT_EQ(line.text(), "");
    EXPECT_EQ(line.averageSpeed(), 0);
}

}  // namespace
}  // namespace vantrove
