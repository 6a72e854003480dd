#pragma once
// Multiply-accumulate kernels: output ⊕= f · input, over GF(2^16) and GF(2^8).
//
// Each kernel comes in two steps. `prepare` turns one coefficient into the
// kernel's own table (the reference builds four 256-entry tables of 32-bit
// values from the product tables, the vector kernels nibble tables or bit
// matrices); `apply` then runs over the data. Every kernel writes exactly the
// bytes the reference writes.
//
// The reference ("ref") reads 32-bit little-endian words and handles two
// field elements per word through four look-ups. The fast kernels ("ssse3",
// "avx2", "avx512bw": nibble shuffles; "gfni": affine bit-matrix transforms
// on 512-bit vectors; "gfni-tower": the same, with the field taken as a
// degree-two extension of its 256-element subfield so that a product needs
// three affine transforms instead of four; "avx2-tower": that extension with
// nibble shuffles, six look-ups per product instead of eight, on data kept
// in byte planes) are compiled for their instruction sets with function
// target attributes and are offered only when the CPU has them. The active
// kernel is chosen once, on first use, as the fastest available; setting the
// environment variable VANTROVE_FORCE_REFERENCE=1 forces the reference, and
// VANTROVE_KERNEL=<name> a kernel of that name when the CPU can run it (to
// measure or test a kernel on a machine that has faster ones).
//
// Lengths are in bytes and need not be a multiple of anything: a final odd
// byte is the low byte of a field element whose high byte is taken as zero,
// and only bytes below `length` are written. Buffers need no alignment.
// Kernels and tables are immutable and may be used from any thread.

#include <cstddef>
#include <cstdint>
#include <span>

#include "rs/product_tables.h"

namespace vantrove {

// The prepared form of one GF(2^16) coefficient.
struct alignas(64) FactorTable {
    uint32_t words[1024];  // the reference uses all 4 KiB, other kernels less
    uint16_t factor = 0;
};

struct MultiplyAccumulateKernel {
    const char* name;
    void (*prepare)(const ProductTables& products, uint16_t factor, FactorTable& table);
    // output[0, length) ⊕= factor · input[0, length); a factor of 0 does nothing.
    void (*apply)(const FactorTable& table, const uint8_t* input, uint8_t* output, size_t length);
    // A kernel may have a working layout of its own for data that is
    // multiplied many times (the data pass keeps its inputs and outputs in
    // it). The conversions work in place on whole blocks of
    // kWorkingBlockBytes from the start; a shorter rest keeps the plain
    // layout. Both are null when the working layout is the plain one.
    void (*toWorking)(uint8_t* data, size_t length);
    void (*fromWorking)(uint8_t* data, size_t length);
    // output ⊕= Σ factor_b · input_b over `count` inputs, all in the working
    // layout (converted from the same offset with the same length).
    void (*applyMany)(const FactorTable* const* tables, const uint8_t* const* inputs, size_t count,
                      uint8_t* output, size_t length);
    // A kernel whose prepared table lies wholly in its first `packedWords`
    // 64-bit words (0 for the others) also takes the tables of its inputs
    // packed one after another: for output j, words [b · packedWords,
    // (b + 1) · packedWords) of `packed[j]` are the first words of the table
    // of input b. Many coefficients then fit in a few cache lines instead of
    // a page each, and several outputs share each load of the inputs:
    // outputs[j] ⊕= Σ_b factor_jb · input_b for j < outputCount, all in the
    // working layout. Null when packedWords is 0.
    size_t packedWords;
    void (*applyManyPacked)(const uint64_t* const* packed, const uint8_t* const* inputs,
                            size_t count, uint8_t* const* outputs, size_t outputCount,
                            size_t length);
    // Writes the first `packedWords` words of the table that `prepare` makes
    // for `factor` straight to `words`, for callers that prepare millions of
    // packed tables. Null when packedWords is 0.
    void (*preparePacked)(uint16_t factor, uint64_t* words);
    // toWorking from one place into another: to[0, length) becomes
    // from[0, length) in the working layout (its rest copied as it is), and
    // `from` is left as it was. Null when toWorking is.
    void (*copyToWorking)(const uint8_t* from, uint8_t* to, size_t length);
};

// Block size of the working layouts: offsets handed to toWorking,
// fromWorking and applyMany must keep to multiples of it.
inline constexpr size_t kWorkingBlockBytes = 128;

// The prepared form of one GF(2^8) coefficient.
struct alignas(64) Factor8Table {
    uint8_t bytes[256];  // the reference keeps the product row, other kernels less
    uint8_t factor = 0;
};

struct MultiplyAccumulate8Kernel {
    const char* name;
    void (*prepare)(uint8_t factor, Factor8Table& table);
    void (*apply)(const Factor8Table& table, const uint8_t* input, uint8_t* output, size_t length);
};

const MultiplyAccumulateKernel& ReferenceMultiplyAccumulate();
// The kernel in use: chosen once from the CPU's features and the environment.
const MultiplyAccumulateKernel& ActiveMultiplyAccumulate();
// Every kernel this CPU can run, the reference first, in rising preference.
std::span<const MultiplyAccumulateKernel* const> AvailableMultiplyAccumulateKernels();

const MultiplyAccumulate8Kernel& ReferenceMultiplyAccumulate8();
const MultiplyAccumulate8Kernel& ActiveMultiplyAccumulate8();
std::span<const MultiplyAccumulate8Kernel* const> AvailableMultiplyAccumulate8Kernels();

// True when VANTROVE_FORCE_REFERENCE asks for the reference kernels.
bool ReferenceKernelsForced();
// The kernel name VANTROVE_KERNEL asks for, or null.
const char* ForcedKernelName();

}  // namespace vantrove
