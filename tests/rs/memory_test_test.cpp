// The test of working memory: every pattern over every area, a damaged word
// or tail byte found wherever it lies, progress to the end, and the stop flag.

#include "rs/memory_test.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/worker_team.h"

namespace vantrove {
namespace {

struct Areas {
    // Two areas of several steps each, the second with a tail of three bytes
    // after its last whole word.
    std::vector<uint32_t> first = std::vector<uint32_t>(300000);
    std::vector<uint8_t> second = std::vector<uint8_t>(600003);
    std::vector<MemoryArea> list() {
        return {{reinterpret_cast<uint8_t*>(first.data()), first.size() * 4},
                {second.data(), second.size()}};
    }
};

TEST(MemoryTest, SoundMemoryPassesEveryPatternOnAnyTeam) {
    for (unsigned threads : {1u, 3u}) {
        Areas areas;
        WorkerTeam team(threads);
        std::vector<uint32_t> patterns;
        uint64_t lastDone = 0, lastTotal = 0;
        MemoryTestCallbacks callbacks;
        callbacks.progress = [&](uint64_t done, uint64_t total) {
            EXPECT_GE(done, lastDone);
            lastDone = done;
            lastTotal = total;
        };
        callbacks.afterPatternWritten = [&](uint8_t* area, size_t bytes) {
            if (area == areas.second.data()) patterns.push_back(area[bytes - 1]);
        };
        EXPECT_EQ(TestWorkingMemory(areas.list(), team, callbacks), MemoryTestOutcome::Passed);
        EXPECT_EQ(lastTotal, MemoryTestTotal(areas.list()));
        EXPECT_EQ(lastTotal, 32u * (1200000 + 600003));
        // Every whole word was written and read back; the tail bytes are
        // checked but not counted.
        EXPECT_EQ(lastDone, 32u * (1200000 + 600000));
        ASSERT_EQ(patterns.size(), 16u);
        for (size_t i = 0; i < 16; ++i)
            EXPECT_EQ(patterns[i], static_cast<uint8_t>(kMemoryTestPatterns[i]));
        // The last pattern is what the areas hold afterwards.
        EXPECT_EQ(areas.first[12345], kMemoryTestPatterns[15]);
    }
}

TEST(MemoryTest, ADamagedWordOrTailByteIsFound) {
    // A bit flipped in the first area's middle, at the second area's last
    // whole word, or in its tail, under one pattern only.
    struct Damage {
        int area;
        size_t byte;
        int pattern;
    };
    for (const Damage& damage : {Damage{0, 600001, 0}, Damage{1, 599999, 7}, Damage{1, 600002, 15}}) {
        Areas areas;
        WorkerTeam team(2);
        int written = 0;
        MemoryTestCallbacks callbacks;
        callbacks.afterPatternWritten = [&](uint8_t* area, size_t) {
            const bool target = damage.area == 0
                                    ? area == reinterpret_cast<uint8_t*>(areas.first.data())
                                    : area == areas.second.data();
            if (target && written++ == damage.pattern) area[damage.byte] ^= 0x04;
        };
        EXPECT_EQ(TestWorkingMemory(areas.list(), team, callbacks), MemoryTestOutcome::Differs)
            << damage.area << " " << damage.byte;
    }
}

TEST(MemoryTest, StopEndsTheTestEarly) {
    Areas areas;
    WorkerTeam team(2);
    int asked = 0;
    uint64_t lastDone = 0;
    MemoryTestCallbacks callbacks;
    callbacks.progress = [&](uint64_t done, uint64_t) { lastDone = done; };
    callbacks.stopRequested = [&] { return ++asked == 3; };
    EXPECT_EQ(TestWorkingMemory(areas.list(), team, callbacks), MemoryTestOutcome::Stopped);
    EXPECT_EQ(asked, 3);
    EXPECT_LT(lastDone, MemoryTestTotal(areas.list()) / 2);
}

}  // namespace
}  // namespace vantrove
