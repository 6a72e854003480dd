#pragma once
// The chunked pass of a repair: streams every input block once per chunk,
// multiplies it into every missing block held in memory, checks each result
// with the linear block signature and writes it to its target; in the same
// pass it copies every present source block that has a copy target.
//
// Memory: the output area (missing blocks × chunk bytes) takes at most a third
// of the physical memory; a larger slice is done in several chunks, each
// rereading every input. A ring of about 10 MB (3 to 80 buffers of one chunk)
// keeps reads in flight while the data are multiplied; with many outputs it
// grows to hold batches of up to 64 inputs (DataPassBatchRingSize), since
// every batch walks the whole output area. Before any data is read the whole
// working memory is tested with sixteen bit patterns.
//
// The multiply-accumulate may be spread over several threads, each taking a
// byte range of the chunk for every output; progress, the stop flag, the
// errors recorded and the bytes written are the same as with one thread. All
// reporting happens on the calling thread.
//
// A matrix left unsolved (ReedSolomonMatrix::ComputeSteps) works in the same
// area: each chunk first gathers the sums of every input times the unsolved
// rows, then the elimination steps turn the sums into the missing blocks, and
// only then are they signed and checked against the signatures predicted
// through the same steps.
//
// Creation runs the same pass: its outputs are the recovery blocks of a
// RecoveryCode instead of the rows of a solved matrix, and a
// DataPassVisitor sees every input as it is read (to hash it) and every
// output once it has passed its check.

#include <cstdint>
#include <vector>

#include "core/data_block.h"
#include "core/machine.h"
#include "rs/data_pass_reporter.h"
#include "rs/reed_solomon_matrix.h"

namespace vantrove {

class WorkerTeam;

// Lets tests damage working memory at the two points where damage must be
// caught. Never installed outside tests.
class DataPassTestHooks {
  public:
    virtual ~DataPassTestHooks() = default;
    // After one pattern has been written to all of `bytes` at `area` (the
    // output area, then each ring buffer), before it is read back.
    virtual void AfterPatternWritten(uint8_t* area, size_t bytes) {}
    // Before the signature of output `output` (its `length` bytes at `data`)
    // is checked, for the chunk at `chunkOffset`.
    virtual void BeforeSignatureCheck(uint32_t output, uint64_t chunkOffset, uint8_t* data,
                                      size_t length) {}
};

enum class FailedOutput { Skip, EndPass };

// Sees the data of a pass as it goes by.
class DataPassVisitor {
  public:
    virtual ~DataPassVisitor() = default;
    // The chunk at `offset` (`length` bytes, zeros past a block's end) of
    // inputs first … first+count-1, counted in the order of
    // DataPassJob::inputs; data[i] holds input first+i. Called on the
    // calling thread for every input of every chunk exactly once, in input
    // order, before any of them is multiplied; the data must not be
    // changed. `team` runs work on the pass's threads.
    virtual void VisitInputs(size_t first, const uint8_t* const* data, size_t count,
                             uint64_t offset, size_t length, WorkerTeam& team) = 0;
    // Output `output`'s chunk at `offset`, once it has passed its check and
    // before it is written; called on the calling thread, chunk by chunk in
    // order. The data stay as they are until the pass takes the next chunk.
    virtual void VisitOutput(uint32_t output, uint64_t offset, const uint8_t* data, size_t length) {
    }
    // With DataPassJob::visitorHolds: whether the visitor is done with the
    // input buffer at `data` it was shown, waiting until it is when `wait`
    // is set. The pass reads nothing new into the buffer, and frees no
    // buffer, before this has said true. Called on the calling thread.
    virtual bool Released(const uint8_t* data, bool wait) { return true; }
};

// The recovery blocks of a creation: every input present, output j adds
// input c times base_{inputIndices[c]} ^ exponents[j]. The coefficients are
// computed where they are used, so no outputs × inputs matrix is held.
struct RecoveryCode {
    const ProductTables* products = nullptr;
    // Per input (in the order of DataPassJob::inputs): its source block index.
    std::vector<uint32_t> inputIndices;
    // Per output: the exponent of its recovery block.
    std::vector<uint16_t> exponents;
};

struct DataPassJob {
    // Present source blocks in ascending index, then the recovery blocks used
    // (in the order of the matrix columns). Their files must be open.
    std::vector<DataBlock> inputs;
    // Per input: where a present source block is copied; a block without a
    // file (or a missing entry) means no copy.
    std::vector<DataBlock> copyTargets;
    // One target per missing source block, in ascending index (matrix rows).
    std::vector<DataBlock> outputs;
    uint64_t sliceSize = 0;
    // The field of the code: GF(2^16) with `matrix`, GF(2^8) with `matrix8`.
    // One of them is required when there are outputs: DataMissing() =
    // outputs, ColumnCount() = inputs. In GF(2^8) the results are checked
    // with the byte checksum of that field instead of the block signature.
    // A creation gives `code` instead of a matrix.
    const ReedSolomonMatrix* matrix = nullptr;
    const ReedSolomonMatrix8* matrix8 = nullptr;
    const RecoveryCode* code = nullptr;
    // The machine's physical memory; a third of it bounds the output area.
    uint64_t physicalMemoryBytes = kAssumedPhysicalMemoryBytes;
    // Threads for the arithmetic; 0 takes one per processor.
    uint32_t threads = 0;
    // What an output that fails its signature check or its write does: it
    // is skipped while the pass goes on (the verification that follows
    // finds it), or it ends the pass as a failure. With EndPass a copy that
    // cannot be written ends the pass as well.
    FailedOutput failedOutput = FailedOutput::Skip;
    // Whether a pass ended by the stop flag records kErrorCancelled.
    bool recordCancel = true;
    DataPassTestHooks* hooks = nullptr;
    // With a visitor every input is read, whether or not anything is
    // computed from it or copied, and the visitor's work may take every
    // thread even where the arithmetic would take one.
    DataPassVisitor* visitor = nullptr;
    // Inputs the visitor would see together at least (when there are that
    // many): the ring holds at least this many buffers.
    uint32_t visitorBatch = 0;
    // The visitor goes on reading inputs after VisitInputs returns, on a
    // thread of its own, until it has Released them. The pass then never
    // changes an input in place (the kernel's working layout is made a tile
    // at a time in memory of its own), a batch is at most visitorBatch
    // inputs, and the ring holds half a batch more, so that the next batch
    // is read while the visitor finishes the last.
    bool visitorHolds = false;
    // Threads for the memory test when more than `threads`: threads of the
    // caller's that wait for the pass's first inputs (a visitor's own
    // thread) help with the test that comes before them.
    uint32_t memoryTestThreads = 0;
};

// Chunk size for `missing` outputs of `sliceSize` bytes within a third of
// `physicalMemory`: the slice itself when it fits, else the slice cut into
// the fewest equal pieces that fit, rounded up to a multiple of 4.
uint64_t DataPassChunkSize(uint64_t sliceSize, uint32_t missing, uint64_t physicalMemory);
// Ring buffers: 10000000 / chunk, within 3 … 80, and no more than `inputs`.
uint32_t DataPassRingSize(uint64_t chunk, uint64_t inputs);
// The ring the pass uses for `missing` outputs. Each batch of inputs costs
// one trip through the whole output area in memory (every output read and
// written back), which at ten inputs a batch takes as long as the
// arithmetic. So with outputs the ring is enlarged for batches of up to 32
// inputs, as far as a third of the output area allows; without outputs,
// or where that gives fewer buffers, it is DataPassRingSize.
uint32_t DataPassBatchRingSize(uint64_t chunk, uint64_t inputs, uint32_t missing);

// Runs the pass. Returns false when the pass ended early (memory error, read
// error, stop flag, no memory, or a failed output with FailedOutput::EndPass),
// with the error recorded through `reporter`; `cancelled` is then set if the
// stop flag ended it. With FailedOutput::Skip, outputs that fail their
// signature check or their write are recorded and skipped, and the pass
// still returns true: the verification that follows catches them.
bool RunDataPass(const DataPassJob& job, DataPassReporter& reporter, bool& cancelled);

}  // namespace vantrove
