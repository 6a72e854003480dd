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
// when the system does not tell. Under a memory limit: three times the
// limit (the large passes take a third of the memory they are told of), at
// most the machine's own.
uint64_t PhysicalMemoryBytes();

// Threads the processors run at once; at least 1. Under a thread limit: the
// limit.
unsigned ProcessorThreads();

// Limits of this run (the command line's --threads and --memory), set once
// at start-up before any work begins; 0 keeps the machine's own figure.
// `memoryBytes` is what the recovery passes may hold at once.
void LimitMachineUse(unsigned threads, uint64_t memoryBytes);

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
