#pragma once
// What the program asks of the machine it runs on: its physical memory, its
// hardware threads and the instruction-set extensions of its processor.
// Every such question goes through here, so that the answers are the same
// for the desktop program, the command line and the engine.

#include <cstdint>

namespace vantrove {

// Memory assumed when the system does not report its own.
constexpr uint64_t kAssumedPhysicalMemoryBytes = 134217728;  // 128 MiB

// The machine's physical memory in bytes, or kAssumedPhysicalMemoryBytes
// when the system does not tell.
uint64_t PhysicalMemoryBytes();

// Threads the processors run at once; at least 1.
unsigned ProcessorThreads();

// Instruction-set extensions the vector kernels choose by.
enum class ProcessorFeature {
    Ssse3,
    Sse41,
    Pclmul,
    Avx2,
    Avx512f,
    Avx512bw,
    Avx512vl,
    Avx512dq,
    Avx512vbmi,
    Vpclmulqdq,
    Gfni,
};

// True when the processor has `feature`; always false off x86.
bool ProcessorHas(ProcessorFeature feature);

}  // namespace vantrove
