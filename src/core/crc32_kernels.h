#pragma once
// The interchangeable CRC-32 kernels behind Crc32Update and Crc32UpdateZeros.
//
// `_ref` is the four-table loop that defines the result; the suffixed kernels
// compute the same values faster where the processor allows it (carry-less
// multiplication folding with PCLMULQDQ, or with VPCLMULQDQ on 512-bit
// registers). Crc32Update picks one kernel once, from the processor's
// features; setting VANTROVE_FORCE_REFERENCE=1 in the environment forces the
// reference. Tests and benchmarks call the kernels directly to compare them.
// All of them are pure functions: any thread may call them.

#include <cstddef>
#include <cstdint>

namespace vantrove {

// Four bytes per step through T0..T3, single bytes for the last 0-3.
uint32_t Crc32Update_ref(uint32_t crc, const void* data, size_t length);
// The same loop with zero data.
uint32_t Crc32UpdateZeros_ref(uint32_t crc, uint64_t count);

// Extends by `count` zero bytes in time logarithmic in `count`: the register
// is multiplied by x^(8*count) modulo the polynomial.
uint32_t Crc32UpdateZeros_log(uint32_t crc, uint64_t count);

// Whether the processor (and this build) can run the folding kernels.
bool Crc32HaveClmul();
bool Crc32HaveVpclmul();
// Folding kernels; call only when the matching Have function says true.
uint32_t Crc32Update_clmul(uint32_t crc, const void* data, size_t length);
uint32_t Crc32Update_vpclmul(uint32_t crc, const void* data, size_t length);

// Name of the kernel that Crc32Update uses in this process ("ref", "clmul"
// or "vpclmul").
const char* Crc32KernelName();

}  // namespace vantrove
