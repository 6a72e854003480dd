#include "core/machine.h"

#include <unistd.h>

#include <thread>

namespace vantrove {

uint64_t PhysicalMemoryBytes() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0) return kAssumedPhysicalMemoryBytes;
    return static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize);
}

unsigned ProcessorThreads() {
    const unsigned threads = std::thread::hardware_concurrency();
    return threads > 0 ? threads : 1;
}

bool ProcessorHas(ProcessorFeature feature) {
#if defined(__x86_64__) || defined(__i386__)
    switch (feature) {
        case ProcessorFeature::Ssse3:
            return __builtin_cpu_supports("ssse3");
        case ProcessorFeature::Sse41:
            return __builtin_cpu_supports("sse4.1");
        case ProcessorFeature::Pclmul:
            return __builtin_cpu_supports("pclmul");
        case ProcessorFeature::Avx2:
            return __builtin_cpu_supports("avx2");
        case ProcessorFeature::Avx512f:
            return __builtin_cpu_supports("avx512f");
        case ProcessorFeature::Avx512bw:
            return __builtin_cpu_supports("avx512bw");
        case ProcessorFeature::Avx512vl:
            return __builtin_cpu_supports("avx512vl");
        case ProcessorFeature::Avx512dq:
            return __builtin_cpu_supports("avx512dq");
        case ProcessorFeature::Avx512vbmi:
            return __builtin_cpu_supports("avx512vbmi");
        case ProcessorFeature::Vpclmulqdq:
            return __builtin_cpu_supports("vpclmulqdq");
        case ProcessorFeature::Gfni:
            return __builtin_cpu_supports("gfni");
    }
    return false;
#else
    (void)feature;
    return false;
#endif
}

}  // namespace vantrove
