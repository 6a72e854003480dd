// The speed and time estimate of a creation: samples only between two
// records of the computing phase, whole seconds, no estimate from a stall.
#include "app/creation_estimate.h"

#include <gtest/gtest.h>

namespace vantrove {
namespace {

constexpr uint64_t kMiB = 1048576;

CreationStatus Record(CreationPhase phase, uint64_t tick, uint64_t doneMiB, uint64_t totalMiB) {
    CreationStatus status;
    status.phase = phase;
    status.tick = tick;
    status.done = doneMiB * kMiB;
    status.total = totalMiB * kMiB;
    return status;
}

TEST(CreationEstimate, OneRecordGivesNoEstimate) {
    CreationEstimate estimate(0);
    EXPECT_FALSE(estimate.Update(Record(kPhaseComputing, 1000, 0, 100)));
    EXPECT_EQ(estimate.speed(), 0);
}

// 10 MiB in a second with 90 MiB left: 9 seconds to go, 2 gone.
TEST(CreationEstimate, SteadySpeedGivesRemainingAndTotalSeconds) {
    CreationEstimate estimate(0);
    estimate.Update(Record(kPhaseComputing, 1000, 0, 100));
    ASSERT_TRUE(estimate.Update(Record(kPhaseComputing, 2000, 10, 100)));
    EXPECT_DOUBLE_EQ(estimate.speed(), 10.0);
    EXPECT_EQ(estimate.remainingSeconds(), 9u);
    EXPECT_EQ(estimate.totalSeconds(), 11u);
    // The same speed again keeps it; the estimate follows the bytes left.
    ASSERT_TRUE(estimate.Update(Record(kPhaseComputing, 3000, 20, 100)));
    EXPECT_DOUBLE_EQ(estimate.speed(), 10.0);
    EXPECT_EQ(estimate.remainingSeconds(), 8u);
    EXPECT_EQ(estimate.totalSeconds(), 11u);
}

TEST(CreationEstimate, OnlyConsecutiveComputingRecordsAreSampled) {
    CreationEstimate estimate(0);
    estimate.Update(Record(kPhaseHashing, 1000, 0, 100));
    EXPECT_FALSE(estimate.Update(Record(kPhaseComputing, 2000, 10, 100)));
    EXPECT_FALSE(estimate.Update(Record(kPhaseWriting, 3000, 20, 100)));
    EXPECT_FALSE(estimate.Update(Record(kPhaseComputing, 4000, 30, 100)));
    // A record of the same tick is no sample either.
    EXPECT_FALSE(estimate.Update(Record(kPhaseComputing, 4000, 40, 100)));
    EXPECT_EQ(estimate.speed(), 0);
}

// Progress that runs backwards counts as none: a stall, no estimate.
TEST(CreationEstimate, BackwardsProgressIsAStandstill) {
    CreationEstimate estimate(0);
    estimate.Update(Record(kPhaseComputing, 1000, 50, 100));
    EXPECT_FALSE(estimate.Update(Record(kPhaseComputing, 2000, 40, 100)));
    EXPECT_EQ(estimate.speed(), 0);
}

}  // namespace
}  // namespace vantrove
