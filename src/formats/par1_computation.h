#pragma once
// The rebuild of missing PAR 1.0 files: the chunked recovery pass over
// GF(2^8), with whole files as blocks.
//
// Every protected file is one block of the set's block size (the largest
// file; shorter files read as zero-padded), and every recovery volume holds
// one block. The inputs are the present files in set order followed by the
// lowest-numbered recovery volumes, one per missing file; the coefficients
// come from a solved ReedSolomonMatrix8. Memory, chunks, the memory test and
// the check of every result with the field's linear checksum are those of
// the recovery pass (RunDataPass). Reports through a DataPassReporter on the
// calling thread (the verification worker).

#include <cstdint>
#include <vector>

#include "core/data_block.h"
#include "core/machine.h"
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
    uint64_t physicalMemoryBytes = kAssumedPhysicalMemoryBytes;
    // Threads for the arithmetic; 0 takes one per processor.
    uint32_t threads = 0;
    // Tests only: damage working memory where it must be caught.
    DataPassTestHooks* hooks = nullptr;
};

// Runs the pass. False when it ended early or any output failed: memory test
// failure (kErrorMemory), a read failure (kErrorRead), a write failure
// (kErrorWrite), a checksum mismatch (kErrorSignatureMismatch), no memory or
// an inconsistent job (kErrorDataPassFailed), each recorded through
// `reporter`; or the stop flag, with `cancelled` set and nothing recorded.
bool RunPar1Computation(const Par1ComputationJob& job, DataPassReporter& reporter, bool& cancelled);

}  // namespace vantrove
