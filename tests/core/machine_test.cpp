#include "core/machine.h"

#include <gtest/gtest.h>
#include <unistd.h>

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

TEST(MachineTest, WiderExtensionsComeWithTheirBase) {
    // A processor with the 512-bit byte and word operations has the
    // 512-bit foundation too; one with AVX2 has SSSE3.
    if (ProcessorHas(ProcessorFeature::Avx512bw)) EXPECT_TRUE(ProcessorHas(ProcessorFeature::Avx512f));
    if (ProcessorHas(ProcessorFeature::Avx2)) EXPECT_TRUE(ProcessorHas(ProcessorFeature::Ssse3));
}

}  // namespace
}  // namespace vantrove
