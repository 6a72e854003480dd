#pragma once
// The rebuild of missing PAR 1.0 files: a GF(2^8) Reed–Solomon pass over
// whole files.
//
// Every protected file is one block of the set's block size (the largest
// file; shorter files read as zero-padded), and every recovery volume holds
// one block. The inputs are the present files in set order followed by the
// lowest-numbered recovery volumes, one per missing file; the coefficients
// come from a solved ReedSolomonMatrix8. Output blocks are held in one
// page-aligned area of missing × chunk bytes, a chunk being the whole block
// when that fits in a third of the physical memory and otherwise the block
// cut into equal pieces that fit; each chunk rereads every input.
//
// Before any data is read the working memory is tested with sixteen bit
// patterns. While multiplying, the linear GF(2^8) checksum of every input
// chunk is folded into a predicted checksum per output; an output whose
// checksum differs is not written and ends the pass. Runs on the calling
// thread (the verification worker) and reports through a DataPassReporter.

#include <cstdint>
#include <vector>

#include "core/data_block.h"
#include "rs/data_pass.h"
#include "rs/data_pass_reporter.h"
#include "rs/reed_solomon_matrix.h"

namespace vantrove {

struct Par1ComputationJob {
    // Present files in set order, then the recovery blocks used; each file
    // open for reading. A file block's length is the file's size; reads past
    // it give zeros.
    std::vector<DataBlock> inputs;
    // One target per missing file, in set order; files open for writing.
    // Only the block's own length is written.
    std::vector<DataBlock> outputs;
    // The set's block size (the largest protected file).
    uint64_t blockSize = 0;
    // Solved for these inputs and outputs: ColumnCount() = inputs,
    // DataMissing() = outputs.
    const ReedSolomonMatrix8* matrix = nullptr;
    // A third of it bounds the output area.
    uint64_t physicalMemoryBytes = 134217728;
    // Tests only: damage working memory where it must be caught.
    DataPassTestHooks* hooks = nullptr;
};

// The chunk for `missing` outputs of `blockSize` bytes within a third of
// `physicalMemory`.
uint64_t Par1ChunkSize(uint64_t blockSize, uint32_t missing, uint64_t physicalMemory);

// Runs the pass. False when it ended early: memory test failure (kind 5), a
// read failure (6), a write failure (7), a checksum mismatch (8), no memory
// (kErrorDataPassFailed) or the stop flag (`cancelled` set, nothing recorded),
// each recorded through `reporter`.
bool RunPar1Computation(const Par1ComputationJob& job, DataPassReporter& reporter, bool& cancelled);

}  // namespace vantrove
