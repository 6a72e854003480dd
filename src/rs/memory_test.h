#pragma once
// The test of working memory that every recovery computation runs before it
// trusts its buffers: sixteen 32-bit patterns, each written over every area
// and then read back. The areas are cut into steps that the threads of a team
// share; progress counts every byte written and every byte read back (32
// times the bytes of all areas in all).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace vantrove {

class WorkerTeam;

// The sixteen patterns in the order they are written.
inline constexpr uint32_t kMemoryTestPatterns[16] = {
    0x99999999, 0x66666666, 0xDDDDDDDD, 0x22222222, 0xAAAAAAAA, 0x55555555, 0xBBBBBBBB, 0x44444444,
    0x88888888, 0x77777777, 0xCCCCCCCC, 0x33333333, 0xEEEEEEEE, 0x11111111, 0xFFFFFFFF, 0x00000000};

struct MemoryArea {
    uint8_t* data;
    size_t bytes;
};

enum class MemoryTestOutcome { Passed, Differs, Stopped };

struct MemoryTestCallbacks {
    // Progress in bytes of the whole test; called on the calling thread.
    std::function<void(uint64_t done, uint64_t total)> progress;
    // True when the test should end early; asked between groups of steps.
    std::function<bool()> stopRequested;
    // Tests only: after one pattern has been written to a whole area,
    // before it is read back.
    std::function<void(uint8_t* area, size_t bytes)> afterPatternWritten;
};

// The total the progress of testing `areas` runs to.
uint64_t MemoryTestTotal(const std::vector<MemoryArea>& areas);

// Runs the test over `areas`, in order, on the threads of `team`.
MemoryTestOutcome TestWorkingMemory(const std::vector<MemoryArea>& areas, WorkerTeam& team,
                                    const MemoryTestCallbacks& callbacks);

}  // namespace vantrove
