#include "core/machine.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

namespace vantrove {
namespace {

TEST(MachineTest, MemoryAndThreadsAreWhatTheSystemReports) {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages > 0 && pageSize > 0)
        EXPECT_EQ(PhysicalMemoryBytes(), uint64_t(pages) * uint64_t(pageSize));
    else
        EXPECT_EQ(PhysicalMemoryBytes(), kAssumedPhysicalMemoryBytes);
    EXPECT_GE(ProcessorThreads(), 1u);
}

// The command line's limits: threads as asked, memory three times the
// limit (the passes take a third) but never more than the machine has; a
// zero puts the machine's own figures back.
TEST(MachineTest, LimitsOfARunBoundWhatTheMachineIsSaidToHave) {
    const uint64_t memory = PhysicalMemoryBytes();
    LimitMachineUse(3, 16u << 20);
    EXPECT_EQ(ProcessorThreads(), 3u);
    EXPECT_EQ(PhysicalMemoryBytes(), std::min<uint64_t>(memory, 48u << 20));
    LimitMachineUse(0, memory);  // more than a third of the machine: the machine's
    EXPECT_EQ(PhysicalMemoryBytes(), memory);
    LimitMachineUse(0, 0);
    EXPECT_EQ(PhysicalMemoryBytes(), memory);
    EXPECT_GE(ProcessorThreads(), 1u);
}

TEST(MachineTest, WiderExtensionsComeWithTheirBase) {
    // A processor with the 512-bit byte and word operations has the
    // 512-bit foundation too; one with AVX2 has SSSE3.
    if (ProcessorHas(ProcessorFeature::Avx512bw)) EXPECT_TRUE(ProcessorHas(ProcessorFeature::Avx512f));
    if (ProcessorHas(ProcessorFeature::Avx2)) EXPECT_TRUE(ProcessorHas(ProcessorFeature::Ssse3));
}

}  // namespace
}  // namespace vantrove
