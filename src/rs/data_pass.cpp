#include "rs/data_pass.h"

#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <new>
#include <thread>

#include "core/async_read_request.h"
#include "core/machine.h"
#include "core/worker_team.h"
#include "rs/block_signature.h"
#include "rs/galois_field.h"
#include "rs/galois_field8.h"
#include "rs/memory_test.h"
#include "rs/output_signatures.h"
#include "rs/multiply_accumulate.h"

namespace vantrove {
namespace {

constexpr uint64_t kRingBytes = 10000000;
constexpr uint32_t kRingMin = 3;
constexpr uint32_t kRingMax = 80;
// Below this many bytes per thread the arithmetic stays on one thread.
constexpr size_t kMinBytesPerThread = 65536;
// Bytes of an output that stay in the first-level cache while a batch of
// inputs is added to them.
constexpr size_t kTileBytes = 4096;
// Inputs a batch may hold at most, and the part of the output area (1/n)
// that the ring may take beyond its usual size to hold them. Every batch
// reads and writes the whole output area once: 64 rather than 32 inputs
// measured 5 % faster rebuilding 177 blocks of 768,000 bytes from 1400.
constexpr uint64_t kBatchInputs = 64;
constexpr uint64_t kBatchAreaShare = 3;
// Bytes of the inputs of a tile that should stay close to the core: within
// the first-level cache for small batches; larger ones take tiles of at
// least 2 KiB, measured faster than the smaller tiles that would fit.
constexpr size_t kTileInputBytes = 65536;
// Bytes of every row that one thread takes at least when solving the sums.
constexpr size_t kMinStepBytes = 512;
// Outputs handed to one call of a kernel that takes several.
constexpr size_t kOutputsPerCall = 6;
// Room for the prepared coefficient tables of one batch.
constexpr size_t kTableBytes = size_t{16} << 20;

// x modulo the field's order, for x below 2^32.
inline uint32_t ReduceLog(uint32_t x) {
    const uint32_t f = (x >> 16) + (x & 0xFFFF);
    return f >= kGf16Order ? f - kGf16Order : f;
}

uint64_t RoundUp4(uint64_t v) {
    return (v + 3) & ~uint64_t{3};
}

uint64_t CutIntoPieces(uint64_t slice, uint64_t most) {
    const uint64_t pieces = (slice + most - 1) / most;
    return RoundUp4((slice + pieces - 1) / pieces);
}

struct RingSlot {
    uint8_t* buffer = nullptr;
    AsyncReadRequest request;
    const DataBlock* block = nullptr;
    bool inFlight = false;
    bool waited = false;  // the read was not complete when it was started
};

class DataPass {
  public:
    DataPass(const DataPassJob& job, DataPassReporter& reporter)
        : job_(job),
          reporter_(reporter),
          m_(static_cast<uint32_t>(job.outputs.size())),
          stepped_(job.matrix != nullptr && job.matrix->Stepped()) {}

    ~DataPass() { Release(); }

    bool Run(bool& cancelled);

  private:
    bool Prepare();
    bool MemoryTest();
    bool ProcessChunk(uint64_t offset, uint64_t length, uint64_t& position);
    bool MultiplyBatch(size_t first, size_t count, size_t length);
    bool MultiplyBatch8(size_t first, size_t count, size_t length);
    template <typename RowCoefficients>
    bool MultiplyOwnOutputs(unsigned k, const std::vector<uint32_t>& columns,
                            const std::vector<uint8_t*>& inputs, size_t length, size_t tileBytes,
                            const RowCoefficients& rowCoefficients);
    void AddCodeSignatures(unsigned k, const std::vector<uint32_t>& columns,
                           const std::vector<uint16_t>& signatures);
    unsigned ThreadsFor(size_t length) const;
    static std::vector<size_t> ByteRanges(size_t length, unsigned threads);
    bool WriteOutputs(uint64_t offset, size_t length);
    void SolveSums(size_t length);
    // Whether output j is left out of the arithmetic: one that failed, except
    // in the unsolved form, where every row is needed to solve the others.
    bool LeftOut(uint32_t j) const { return failed_[j] != 0 && !stepped_; }
    // The next outputs from j on, every step-th below end, that are not left
    // out: at most kOutputsPerCall of them into `chosen`, j moved past them.
    size_t NextOutputs(uint32_t& j, uint32_t end, uint32_t step, uint32_t* chosen) const {
        size_t n = 0;
        for (; j < end && n < kOutputsPerCall; j += step)
            if (!LeftOut(j)) chosen[n++] = j;
        return n;
    }
    // The unsolved rows' coefficient of input `column`: a power of its base,
    // found from the logs.
    uint16_t UnsolvedCoefficient(uint32_t j, uint32_t column) const;
    void AddUnsolvedSignatures(unsigned k, const std::vector<uint32_t>& columns,
                               const std::vector<uint16_t>& signatures);
    void RecordCancel();
    bool IssueRead(RingSlot& slot, const DataBlock& block, uint64_t offset, size_t length);
    bool CompleteRead(RingSlot& slot);
    bool WriteClipped(const DataBlock& target, uint64_t offset, const uint8_t* data, size_t length,
                      int& error);
    bool StopRequested() const;
    void Release();
    // The visitor may still be reading inputs it was shown.
    bool Holds() const { return job_.visitor != nullptr && job_.visitorHolds; }

    const DataPassJob& job_;
    DataPassReporter& reporter_;
    const uint32_t m_;
    // The matrix is unsolved: the area holds the sums of the unsolved rows
    // until the elimination steps are taken on them, chunk by chunk.
    const bool stepped_;
    // Per column the log of the base of a present input, or kOwnBlock for a
    // recovery block (1 in its own row, 0 elsewhere).
    static constexpr uint32_t kOwnBlock = ~uint32_t{0};
    std::vector<uint32_t> columnLogs_;
    std::vector<uint16_t> rowExponents_;
    const uint16_t* antilog_ = nullptr;
    std::vector<uint32_t> active_;  // the inputs that are read
    uint64_t chunk_ = 0;
    uint8_t* area_ = nullptr;
    size_t areaBytes_ = 0;
    std::vector<RingSlot> ring_;
    std::vector<uint8_t> failed_;
    std::vector<uint16_t> expected_;
    std::unique_ptr<WorkerTeam> team_;
    // Per output and batch input, prepared per batch: whole tables, or only
    // their first words packed side by side when the kernel takes them so.
    std::vector<FactorTable> tables_;
    std::vector<uint64_t> packed_;
    size_t tableSlots_ = 0;
    // Chunks too short to be cut into byte ranges: every thread prepares the
    // packed tables of its own outputs itself, a few outputs at a time right
    // before it uses them, so they stay in cache and no thread waits for the
    // tables of another; then the shared tables above are not kept.
    bool ownTables_ = false;
    bool cancelled_ = false;
};

bool DataPass::StopRequested() const {
    const std::atomic<uint32_t>* flag = reporter_.StopFlag();
    return flag != nullptr && flag->load(std::memory_order_relaxed) != 0;
}

void DataPass::Release() {
    for (RingSlot& slot : ring_) {
        if (slot.inFlight) {
            slot.block->file->completeRead(slot.request);  // the buffer must not be in use
            slot.inFlight = false;
        }
        if (Holds() && slot.buffer != nullptr) job_.visitor->Released(slot.buffer, true);
        ::operator delete[](slot.buffer, std::align_val_t{64}, std::nothrow);
        slot.buffer = nullptr;
    }
    ring_.clear();
    if (area_ != nullptr) munmap(area_, areaBytes_);
    area_ = nullptr;
    team_.reset();
}

bool DataPass::Prepare() {
    if (m_ > 0) {
        const ReedSolomonMatrix* matrix = job_.matrix;
        const ReedSolomonMatrix8* matrix8 = job_.matrix8;
        const RecoveryCode* code = job_.code;
        const int given = (matrix != nullptr) + (matrix8 != nullptr) + (code != nullptr);
        const bool consistent =
            given == 1 &&
            (matrix != nullptr
                 ? matrix->Products() != nullptr && matrix->DataMissing() == m_ &&
                       matrix->ColumnCount() == job_.inputs.size()
             : matrix8 != nullptr
                 ? matrix8->DataMissing() == m_ && matrix8->ColumnCount() == job_.inputs.size()
                 : code->products != nullptr && code->exponents.size() == m_ &&
                       code->inputIndices.size() == job_.inputs.size() &&
                       std::all_of(code->inputIndices.begin(), code->inputIndices.end(),
                                   [](uint32_t i) { return i < kGf16MaxInputs; }));
        if (!consistent) {
            reporter_.RecordError(kErrorDataPassFailed, 0, {});
            return false;
        }
    }
    if (stepped_) {
        const ReedSolomonMatrix& matrix = *job_.matrix;
        const std::vector<uint32_t>& present = matrix.PresentIndices();
        columnLogs_.assign(job_.inputs.size(), kOwnBlock);
        for (size_t c = 0; c < present.size(); ++c) columnLogs_[c] = Gf16InputBaseLog(present[c]);
        for (uint32_t j = 0; j < m_; ++j) rowExponents_.push_back(matrix.RowExponent(j));
        antilog_ = Gf16AntilogTable();
    }
    for (uint32_t c = 0; c < job_.inputs.size(); ++c) {
        const bool copies = c < job_.copyTargets.size() && job_.copyTargets[c].file != nullptr;
        if (m_ > 0 || copies || job_.visitor != nullptr) active_.push_back(c);
    }
    chunk_ = DataPassChunkSize(job_.sliceSize, m_, job_.physicalMemoryBytes);
    const uint64_t visitorRing =
        Holds() ? uint64_t{job_.visitorBatch} + (job_.visitorBatch + 1) / 2 : job_.visitorBatch;
    const uint32_t r =
        std::max<uint32_t>(DataPassBatchRingSize(chunk_, active_.size(), m_),
                           static_cast<uint32_t>(std::min<uint64_t>(visitorRing, active_.size())));

    ring_ = std::vector<RingSlot>(r);
    for (RingSlot& slot : ring_) {
        slot.buffer =
            static_cast<uint8_t*>(::operator new[](chunk_, std::align_val_t{64}, std::nothrow));
        if (slot.buffer == nullptr) {
            reporter_.RecordError(kErrorDataPassFailed, ENOMEM, {});
            return false;
        }
    }
    areaBytes_ = static_cast<size_t>(m_ * chunk_);
    if (areaBytes_ > 0) {
        void* area =
            mmap(nullptr, areaBytes_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (area == MAP_FAILED) {
            reporter_.RecordError(kErrorDataPassFailed, static_cast<uint32_t>(errno), {});
            return false;
        }
        area_ = static_cast<uint8_t*>(area);
    }
    unsigned threads = job_.threads != 0 ? job_.threads : ProcessorThreads();
    threads = std::clamp(threads, 1u, 64u);
    if (job_.visitor == nullptr) {
        threads = static_cast<unsigned>(std::min<uint64_t>(
            threads,
            std::max<uint64_t>(1, std::max<uint64_t>(chunk_, areaBytes_) / kMinBytesPerThread)));
        if (m_ == 0) threads = 1;
    }
    team_ = std::make_unique<WorkerTeam>(threads);
    failed_.assign(m_, 0);
    expected_.assign(m_, 0);
    try {
        // Tables for as many outputs as fit kTableBytes for a whole ring, and
        // at least for one output.
        const MultiplyAccumulateKernel& kernel = ActiveMultiplyAccumulate();
        const size_t words = kernel.applyManyPacked != nullptr ? kernel.packedWords : 0;
        ownTables_ = words != 0 && m_ > 0 && job_.matrix8 == nullptr && !Holds() &&
                     ThreadsFor(static_cast<size_t>(chunk_)) < team_->Size();
        const size_t tableBytes = words != 0 ? words * sizeof(uint64_t) : sizeof(FactorTable);
        const size_t group =
            std::clamp<size_t>(kTableBytes / (tableBytes * std::max(r, 1u)), 1, std::max(m_, 1u));
        tableSlots_ = m_ > 0 && job_.matrix8 == nullptr ? group * r : 0;
        if (ownTables_)
            tableSlots_ = 0;
        else if (words != 0)
            packed_.resize(tableSlots_ * words);
        else
            tables_.resize(tableSlots_);
    } catch (const std::bad_alloc&) {
        reporter_.RecordError(kErrorDataPassFailed, ENOMEM, {});
        return false;
    }

    return true;
}

bool DataPass::MemoryTest() {
    reporter_.SetActivity(kActivityMemoryTest, 0);
    std::vector<MemoryArea> areas;
    if (areaBytes_ > 0) areas.push_back({area_, areaBytes_});
    for (RingSlot& slot : ring_) areas.push_back({slot.buffer, static_cast<size_t>(chunk_)});
    MemoryTestCallbacks callbacks;
    callbacks.progress = [this](uint64_t done, uint64_t total) {
        reporter_.SetProgress(done, total);
    };
    callbacks.stopRequested = [this] { return StopRequested(); };
    if (job_.hooks != nullptr)
        callbacks.afterPatternWritten = [this](uint8_t* area, size_t bytes) {
            job_.hooks->AfterPatternWritten(area, bytes);
        };
    std::unique_ptr<WorkerTeam> wider;
    if (job_.memoryTestThreads > team_->Size())
        wider = std::make_unique<WorkerTeam>(job_.memoryTestThreads);
    switch (TestWorkingMemory(areas, wider ? *wider : *team_, callbacks)) {
        case MemoryTestOutcome::Passed:
            return true;
        case MemoryTestOutcome::Differs:
            reporter_.RecordError(kErrorMemory, 0, {});
            return false;
        case MemoryTestOutcome::Stopped:
            RecordCancel();
            return false;
    }
    return false;
}

bool DataPass::IssueRead(RingSlot& slot, const DataBlock& block, uint64_t offset, size_t length) {
    slot.block = &block;
    slot.inFlight = false;
    slot.waited = false;
    // Whatever lies beyond the block's end reads as zeros.
    const size_t count =
        offset < block.length
            ? static_cast<size_t>(std::min<uint64_t>(length, block.length - offset))
            : 0;
    if (count < length) std::memset(slot.buffer + count, 0, length - count);
    if (count == 0) return true;
    if (block.file == nullptr || !block.file->isOpen()) {
        reporter_.RecordError(kErrorRead, EBADF, block.file ? block.file->path : std::string());
        return false;
    }
    slot.request.offset = block.offset + offset;
    slot.request.length = static_cast<uint32_t>(count);
    slot.request.buffer = slot.buffer;
    const DiskFile::ReadStatus started = block.file->beginRead(slot.request);
    if (started == DiskFile::ReadStatus::Failed) {
        reporter_.RecordError(kErrorRead, static_cast<uint32_t>(block.file->lastError()),
                              block.file->path);
        return false;
    }
    slot.inFlight = true;
    slot.waited = started == DiskFile::ReadStatus::Pending;
    return true;
}

bool DataPass::CompleteRead(RingSlot& slot) {
    if (!slot.inFlight) return true;
    slot.inFlight = false;
    if (slot.block->file->completeRead(slot.request) != DiskFile::ReadStatus::Complete) {
        const int error = slot.block->file->lastError();
        reporter_.RecordError(kErrorRead, static_cast<uint32_t>(error != 0 ? error : EIO),
                              slot.block->file->path);
        return false;
    }
    return true;
}

bool DataPass::WriteClipped(const DataBlock& target, uint64_t offset, const uint8_t* data,
                            size_t length, int& error) {
    if (offset >= target.length) return true;
    const auto count = static_cast<size_t>(std::min<uint64_t>(length, target.length - offset));
    if (target.file == nullptr) {
        error = EBADF;
        return false;
    }
    if (!target.file->write(target.offset + offset, data, count)) {
        error = target.file->lastError() != 0 ? target.file->lastError() : EIO;
        return false;
    }
    return true;
}

// output_j ⊕= coefficient(j, column) · input for every output that has not
// failed, for the `count` inputs whose data sit in the ring from slot
// `first` on (in input order). The chunk is cut into one byte range per
// thread, and each range into tiles small enough that a tile of an output
// stays in the first-level cache while all inputs of the batch are added to
// it. Each thread also takes the signatures of its range of every input; the
// pieces are joined afterwards. The stop flag is tested after each output.
unsigned DataPass::ThreadsFor(size_t length) const {
    return static_cast<unsigned>(
        std::min<size_t>(team_->Size(), std::max<size_t>(1, length / kMinBytesPerThread)));
}

// Byte ranges of a chunk of `length` bytes for `threads` threads; every
// range but the last starts on a multiple of 256.
std::vector<size_t> DataPass::ByteRanges(size_t length, unsigned threads) {
    std::vector<size_t> bounds(threads + 1);
    for (unsigned k = 0; k <= threads; ++k)
        bounds[k] = k == threads ? length : (length * k / threads) & ~size_t{255};
    return bounds;
}

// The GF(2^8) form of MultiplyBatch: each thread takes a byte range of
// every output and adds the batch's inputs in, one at a time; the inputs'
// checksums are shared among the threads.
bool DataPass::MultiplyBatch8(size_t first, size_t count, size_t length) {
    const ReedSolomonMatrix8& matrix = *job_.matrix8;
    const MultiplyAccumulate8Kernel& kernel = ActiveMultiplyAccumulate8();
    const size_t r = ring_.size();
    std::vector<Factor8Table> factors(size_t{m_} * count);
    std::vector<uint8_t> checksums(count);
    const unsigned threads = ThreadsFor(length);
    const std::vector<size_t> bounds = ByteRanges(length, threads);
    const unsigned team = team_->Size();
    std::atomic<bool> stopped{false};
    team_->Run([&](unsigned k) {
        for (size_t t = k; t < factors.size(); t += team)
            kernel.prepare(matrix.Coefficient(static_cast<uint32_t>(t / count),
                                              active_[first + t % count]),
                           factors[t]);
        for (size_t b = k; b < count; b += team)
            checksums[b] = BlockChecksum8(ring_[(first + b) % r].buffer, length);
    });
    team_->Run([&](unsigned k) {
        if (k >= threads) return;
        const size_t begin = bounds[k], end = bounds[k + 1];
        for (uint32_t j = 0; j < m_; ++j) {
            if (failed_[j]) continue;
            for (size_t b = 0; b < count; ++b) {
                const Factor8Table& factor = factors[size_t{j} * count + b];
                if (factor.factor != 0)
                    kernel.apply(factor, ring_[(first + b) % r].buffer + begin,
                                 area_ + j * chunk_ + begin, end - begin);
            }
            if (StopRequested()) {
                stopped.store(true, std::memory_order_relaxed);
                return;
            }
        }
    });
    if (stopped.load(std::memory_order_relaxed)) return false;
    for (uint32_t j = 0; j < m_; ++j) {
        uint8_t e = static_cast<uint8_t>(expected_[j]);
        for (size_t b = 0; b < count; ++b)
            e ^= Gf8Multiply(factors[size_t{j} * count + b].factor, checksums[b]);
        expected_[j] = e;
    }
    return true;
}

bool DataPass::MultiplyBatch(size_t first, size_t count, size_t length) {
    if (job_.matrix8 != nullptr) return MultiplyBatch8(first, count, length);
    const ReedSolomonMatrix* matrix = job_.matrix;
    const RecoveryCode* code = job_.code;
    const ProductTables& products = matrix != nullptr ? *matrix->Products() : *code->products;
    const size_t r = ring_.size();
    std::vector<uint32_t> columns(count);
    std::vector<uint8_t*> inputs(count);
    for (size_t b = 0; b < count; ++b) {
        columns[b] = active_[first + b];
        inputs[b] = ring_[(first + b) % r].buffer;
    }
    // A creation's coefficients are powers of the inputs' bases, taken from
    // their logs.
    const uint16_t* antilog = Gf16AntilogTable();
    std::vector<uint32_t> baseLogs(code != nullptr ? count : 0);
    for (size_t b = 0; b < baseLogs.size(); ++b)
        baseLogs[b] = Gf16InputBaseLog(code->inputIndices[columns[b]]);
    auto coefficient = [&](uint32_t j, size_t b) -> uint16_t {
        if (stepped_) return UnsolvedCoefficient(j, columns[b]);
        if (matrix != nullptr) return matrix->Coefficient(j, columns[b]);
        return antilog[ReduceLog(uint32_t{code->exponents[j]} * baseLogs[b])];
    };
    // Output j's coefficients of the whole batch. In a creation they are one
    // exponent times each base's log: a tight loop of look-ups.
    auto rowCoefficients = [&](uint32_t j, uint16_t* factors) {
        if (!stepped_ && matrix == nullptr) {
            const uint32_t exponent = code->exponents[j];
            const uint32_t* logs = baseLogs.data();
            const uint16_t* powers = antilog;
            for (size_t b = 0; b < count; ++b) factors[b] = powers[ReduceLog(exponent * logs[b])];
            return;
        }
        for (size_t b = 0; b < count; ++b) factors[b] = coefficient(j, b);
    };
    const MultiplyAccumulateKernel& kernel = ActiveMultiplyAccumulate();
    // The prepared tables of a group of outputs for the whole batch; many
    // outputs are taken a group at a time so the tables stay small.
    const size_t group = std::max<size_t>(1, tableSlots_ / count);
    const size_t words = packed_.empty() && !ownTables_ ? 0 : kernel.packedWords;
    std::vector<const FactorTable*> tables(words != 0 ? 0 : group * count);
    for (size_t t = 0; t < tables.size(); ++t) tables[t] = &tables_[t];

    const unsigned threads = ThreadsFor(length);
    // Chunks too short to give every thread a byte range of its own: the
    // threads take the outputs in turns instead, each over the whole chunk.
    const unsigned team = team_->Size();
    const bool byOutputs = threads < team;
    const std::vector<size_t> bounds = ByteRanges(length, threads);
    std::vector<uint16_t> partial(size_t{threads} * count, 0);
    std::atomic<bool> stopped{false};
    // Smaller tiles for larger batches, so the inputs of a tile stay in
    // cache; whole blocks of the working layout.
    const size_t tileBytes = std::clamp<size_t>(
        kTileInputBytes / count / kWorkingBlockBytes * kWorkingBlockBytes, 2048, kTileBytes);

    // Each thread prepares a run of the tables of a group; all use all.
    auto prepareGroup = [&](unsigned k, uint32_t groupFirst, uint32_t groupEnd) {
        const size_t all = size_t{groupEnd - groupFirst} * count;
        const size_t tEnd = all * (k + 1) / team;
        size_t t = all * k / team;
        auto j = static_cast<uint32_t>(groupFirst + t / count);
        size_t b = t % count;
        for (; t < tEnd; ++t, b = b + 1 == count ? 0 : b + 1, j += b == 0) {
            const uint16_t factor = coefficient(j, b);
            if (words == 0) {
                kernel.prepare(products, factor, tables_[t]);
            } else {
                kernel.preparePacked(factor, &packed_[t * words]);
            }
        }
    };
    auto groupEndOf = [&](uint32_t groupFirst) {
        return static_cast<uint32_t>(std::min<size_t>(m_, groupFirst + group));
    };
    // Signatures from the data as read, then the kernel's working layout;
    // with them the tables of the first group.
    team_->Run([&](unsigned k) {
        if (k < threads) {
            const size_t begin = bounds[k], end = bounds[k + 1];
            for (size_t b = 0; b < count; ++b) {
                partial[k * count + b] = BlockSignature(inputs[b] + begin, end - begin);
                if (kernel.toWorking && !Holds())
                    kernel.toWorking(inputs[b] + begin, end - begin);
            }
        }
        if (!ownTables_) prepareGroup(k, 0, groupEndOf(0));
    });
    std::vector<uint16_t> signatures(count);
    for (size_t b = 0; b < count; ++b) {
        uint16_t signature = 0;
        for (unsigned k = 0; k < threads; ++k)
            signature ^= BlockSignatureAppendZeros(partial[k * count + b], length - bounds[k + 1]);
        signatures[b] = signature;
    }
    // Each thread adds the inputs' signatures into its share of the outputs.
    auto addSignatures = [&](unsigned k) {
        if (code != nullptr) {
            AddCodeSignatures(k, columns, signatures);
            return;
        }
        if (stepped_) {
            AddUnsolvedSignatures(k, columns, signatures);
            return;
        }
        for (uint32_t j = k; j < m_; j += team) {
            if (LeftOut(j)) continue;
            const uint16_t* row = matrix->Row(j);
            uint16_t e = expected_[j];
            for (size_t b = 0; b < count; ++b) e ^= Gf16Multiply(row[columns[b]], signatures[b]);
            expected_[j] = e;
        }
    };
    if (ownTables_) {
        team_->Run([&](unsigned k) {
            addSignatures(k);
            if (!MultiplyOwnOutputs(k, columns, inputs, length, tileBytes, rowCoefficients))
                stopped.store(true, std::memory_order_relaxed);
        });
        return !stopped.load(std::memory_order_relaxed);
    }
    for (uint32_t groupFirst = 0; groupFirst < m_; groupFirst += static_cast<uint32_t>(group)) {
        const uint32_t groupEnd = groupEndOf(groupFirst);
        if (groupFirst > 0) team_->Run([&](unsigned k) { prepareGroup(k, groupFirst, groupEnd); });
        team_->Run([&](unsigned k) {
            // The expected signatures go with the last group's arithmetic.
            if (groupEnd == m_) addSignatures(k);
            if (!byOutputs && k >= threads) return;
            const size_t begin = byOutputs ? 0 : bounds[k], end = byOutputs ? length : bounds[k + 1];
            // The outputs of this thread: all, or every team-th from the k-th.
            const uint32_t jFirst = byOutputs ? groupFirst + k : groupFirst;
            const uint32_t jStep = byOutputs ? team : 1;
            std::vector<const uint8_t*> tileInputs(count);
            // Inputs a visitor may still be reading stay as read: each tile
            // of them is put into the working layout in memory of this
            // thread's own, where it stays in cache for every output.
            const bool tilesToWorking = Holds() && kernel.toWorking != nullptr;
            // Tiles a few cache lines apart and off the inputs' page offsets,
            // so that loads and stores of the copies never seem to overlap.
            const size_t ownStride = tileBytes + 320;
            std::vector<uint8_t> scratch(tilesToWorking ? count * ownStride + 2048 + 64 : 0);
            uint8_t* const ownTiles = reinterpret_cast<uint8_t*>(
                ((reinterpret_cast<uintptr_t>(scratch.data()) + 63) & ~uintptr_t{63}) + 2048);
            for (size_t tile = begin; tile < end; tile += tileBytes) {
                const size_t tileLength = std::min(tileBytes, end - tile);
                for (size_t b = 0; b < count; ++b) {
                    if (!tilesToWorking) {
                        tileInputs[b] = inputs[b] + tile;
                        continue;
                    }
                    uint8_t* own = ownTiles + b * ownStride;
                    kernel.copyToWorking(inputs[b] + tile, own, tileLength);
                    tileInputs[b] = own;
                }
                if (words != 0) {
                    // A few outputs per call, so they share the loads of
                    // the inputs.
                    uint32_t j = jFirst;
                    while (j < groupEnd) {
                        const uint64_t* packed[kOutputsPerCall];
                        uint8_t* outputs[kOutputsPerCall];
                        uint32_t chosen[kOutputsPerCall];
                        const size_t n = NextOutputs(j, groupEnd, jStep, chosen);
                        for (size_t i = 0; i < n; ++i) {
                            packed[i] = &packed_[(chosen[i] - groupFirst) * count * words];
                            outputs[i] = area_ + chosen[i] * chunk_ + tile;
                        }
                        if (n > 0)
                            kernel.applyManyPacked(packed, tileInputs.data(), count, outputs, n,
                                                   tileLength);
                        if (StopRequested()) {
                            stopped.store(true, std::memory_order_relaxed);
                            return;
                        }
                    }
                    continue;
                }
                for (uint32_t j = jFirst; j < groupEnd; j += jStep) {
                    if (LeftOut(j)) continue;
                    kernel.applyMany(&tables[(j - groupFirst) * count], tileInputs.data(), count,
                                     area_ + j * chunk_ + tile, tileLength);
                    if (StopRequested()) {
                        stopped.store(true, std::memory_order_relaxed);
                        return;
                    }
                }
            }
        });
        if (stopped.load(std::memory_order_relaxed)) return false;
    }
    return !stopped.load(std::memory_order_relaxed);
}

// Thread k's outputs (every team-th from the k-th) over the whole chunk, a
// few at a time: their packed tables for the batch are prepared into the
// thread's own room, then used for every tile while they are in cache.
// False when the stop flag ended it.
template <typename RowCoefficients>
bool DataPass::MultiplyOwnOutputs(unsigned k, const std::vector<uint32_t>& columns,
                                  const std::vector<uint8_t*>& inputs, size_t length,
                                  size_t tileBytes, const RowCoefficients& rowCoefficients) {
    const MultiplyAccumulateKernel& kernel = ActiveMultiplyAccumulate();
    const size_t words = kernel.packedWords;
    const size_t count = columns.size();
    const unsigned team = team_->Size();
    std::vector<uint64_t> own(kOutputsPerCall * count * words);
    std::vector<uint16_t> factors(count);
    std::vector<const uint8_t*> tileInputs(count);
    uint32_t j = k;
    while (j < m_) {
        const uint64_t* packed[kOutputsPerCall];
        uint8_t* outputs[kOutputsPerCall];
        uint32_t chosen[kOutputsPerCall];
        const size_t n = NextOutputs(j, m_, team, chosen);
        for (size_t i = 0; i < n; ++i) {
            // The factors first, so that their look-ups overlap.
            rowCoefficients(chosen[i], factors.data());
            uint64_t* to = &own[i * count * words];
            packed[i] = to;
            outputs[i] = area_ + chosen[i] * chunk_;
            for (size_t b = 0; b < count; ++b, to += words) kernel.preparePacked(factors[b], to);
        }
        if (n == 0) break;
        for (size_t tile = 0; tile < length; tile += tileBytes) {
            const size_t tileLength = std::min(tileBytes, length - tile);
            uint8_t* tileOutputs[kOutputsPerCall];
            for (size_t i = 0; i < n; ++i) tileOutputs[i] = outputs[i] + tile;
            for (size_t b = 0; b < count; ++b) tileInputs[b] = inputs[b] + tile;
            kernel.applyManyPacked(packed, tileInputs.data(), count, tileOutputs, n, tileLength);
        }
        if (StopRequested()) return false;
    }
    return true;
}

// The expected signatures of a RecoveryCode for thread k's share of the
// outputs, a run of consecutive ones: Σ base_c^e_j · signature_c over the
// batch. In logs each term is log(signature_c) + e_j · log(base_c), and from
// one exponent to the next it grows by log(base_c): one addition and one
// look-up per term.
void DataPass::AddCodeSignatures(unsigned k, const std::vector<uint32_t>& columns,
                                 const std::vector<uint16_t>& signatures) {
    const RecoveryCode& code = *job_.code;
    const unsigned team = team_->Size();
    const auto jBegin = static_cast<uint32_t>(uint64_t{m_} * k / team);
    const auto jEnd = static_cast<uint32_t>(uint64_t{m_} * (k + 1) / team);
    const uint16_t* antilog = Gf16AntilogTable();
    std::vector<uint32_t> steps, logs;
    for (size_t b = 0; b < columns.size(); ++b) {
        if (signatures[b] == 0) continue;  // adds nothing to any output
        steps.push_back(Gf16InputBaseLog(code.inputIndices[columns[b]]));
        logs.push_back(Gf16Log(signatures[b]));
    }
    const size_t n = steps.size();
    std::vector<uint32_t> at(n);
    for (uint32_t j = jBegin; j < jEnd; ++j) {
        const uint16_t e = code.exponents[j];
        if (j == jBegin || e == 0 || e != static_cast<uint16_t>(code.exponents[j - 1] + 1)) {
            for (size_t t = 0; t < n; ++t) at[t] = (logs[t] + uint64_t{e} * steps[t]) % kGf16Order;
        }
        uint16_t sum = 0;
        for (size_t t = 0; t < n; ++t) {
            sum ^= antilog[at[t]];
            const uint32_t next = at[t] + steps[t];
            at[t] = next >= kGf16Order ? next - kGf16Order : next;
        }
        if (!failed_[j]) expected_[j] ^= sum;
    }
}

// The outputs go back to the plain layout and are signed on all threads;
// then, in order, each is checked against its expected signature and written.
uint16_t DataPass::UnsolvedCoefficient(uint32_t j, uint32_t column) const {
    const uint32_t log = columnLogs_[column];
    if (log == kOwnBlock) return column - (columnLogs_.size() - m_) == j ? 1 : 0;
    return antilog_[ReduceLog(uint32_t{rowExponents_[j]} * log)];
}

// The expected signatures of thread k's share of the unsolved rows: each
// term base_c^e_j · signature_c taken as one sum of logs.
void DataPass::AddUnsolvedSignatures(unsigned k, const std::vector<uint32_t>& columns,
                                     const std::vector<uint16_t>& signatures) {
    const unsigned team = team_->Size();
    const size_t firstOwn = columnLogs_.size() - m_;
    std::vector<uint32_t> logs, sigLogs;
    for (size_t b = 0; b < columns.size(); ++b) {
        const uint32_t column = columns[b];
        if (signatures[b] == 0) continue;  // adds nothing to any row
        if (columnLogs_[column] == kOwnBlock) {
            const auto j = static_cast<uint32_t>(column - firstOwn);
            if (j % team == k) expected_[j] ^= signatures[b];
            continue;
        }
        logs.push_back(columnLogs_[column]);
        sigLogs.push_back(Gf16Log(signatures[b]));
    }
    for (uint32_t j = k; j < m_; j += team) {
        const uint32_t e = rowExponents_[j];
        uint16_t sum = 0;
        for (size_t t = 0; t < logs.size(); ++t) sum ^= antilog_[ReduceLog(e * logs[t] + sigLogs[t])];
        expected_[j] ^= sum;
    }
}

// The unsolved form: the area holds, in plain bytes, the sums of every
// input times the unsolved rows, and expected_ their predicted signatures.
// The elimination steps taken on both turn them into the missing blocks and
// their signatures; the signature check that follows then covers the sums
// and the steps alike. Each thread takes a byte range of every row.
void DataPass::SolveSums(size_t length) {
    const ReedSolomonMatrix& matrix = *job_.matrix;
    const MultiplyAccumulateKernel& kernel = ActiveMultiplyAccumulate();
    const ProductTables& products = *matrix.Products();
    const unsigned threads = static_cast<unsigned>(
        std::min<size_t>(team_->Size(), std::max<size_t>(1, length / kMinStepBytes)));
    team_->Run([&](unsigned k) {
        if (k < threads) {
            const size_t begin = (length * k / threads) & ~size_t{63};
            const size_t end = k + 1 == threads ? length : (length * (k + 1) / threads) & ~size_t{63};
            const size_t n = end - begin;
            auto row = [&](uint32_t j) { return area_ + j * chunk_ + begin; };
            FactorTable table;
            std::vector<uint8_t> scaled(n);
            matrix.ReplaySteps(
                [&](uint32_t i, uint16_t inverse) {
                    std::fill(scaled.begin(), scaled.end(), uint8_t{0});
                    kernel.prepare(products, inverse, table);
                    kernel.apply(table, row(i), scaled.data(), n);
                    std::memcpy(row(i), scaled.data(), n);
                },
                [&](uint32_t j, uint32_t i, uint16_t factor) {
                    kernel.prepare(products, factor, table);
                    kernel.apply(table, row(i), row(j), n);
                });
        }
        if (k + 1 == team_->Size()) {
            matrix.ReplaySteps(
                [&](uint32_t i, uint16_t inverse) {
                    expected_[i] = Gf16Multiply(expected_[i], inverse);
                },
                [&](uint32_t j, uint32_t i, uint16_t factor) {
                    expected_[j] ^= Gf16Multiply(factor, expected_[i]);
                });
        }
    });
}

// The pass was ended by the stop flag.
void DataPass::RecordCancel() {
    cancelled_ = true;
    if (job_.recordCancel) reporter_.RecordError(kErrorCancelled, 0, {});
}

// False when an output failed and the job's failed outputs end the pass.
bool DataPass::WriteOutputs(uint64_t offset, size_t length) {
    reporter_.SetActivity(kActivityWritingData, kTextWritingRecoveredData);
    const uint64_t total = uint64_t{m_} * length;
    uint64_t position = 0;
    reporter_.SetProgress(0, total);

    std::function<void(uint32_t, uint8_t*)> inspect;
    if (job_.hooks != nullptr)
        inspect = [&](uint32_t j, uint8_t* data) {
            job_.hooks->BeforeSignatureCheck(j, offset, data, length);
        };
    if (stepped_) {
        OutputsToPlain(*team_, area_, chunk_, m_, length, nullptr);
        SolveSums(length);
    }
    const std::vector<uint16_t> signature =
        SignOutputs(*team_, job_.matrix8 != nullptr ? CodeField::Gf8 : CodeField::Gf16, area_,
                    chunk_, m_, length, &failed_, inspect, stepped_);

    for (uint32_t j = 0; j < m_; ++j) {
        if (!failed_[j]) {
            int error = 0;
            uint8_t* data = area_ + j * chunk_;
            if (signature[j] != expected_[j]) {
                failed_[j] = 1;
                reporter_.RecordError(kErrorSignatureMismatch, 0, {});
            } else {
                if (job_.visitor != nullptr) job_.visitor->VisitOutput(j, offset, data, length);
                if (!WriteClipped(job_.outputs[j], offset, data, length, error)) {
                    failed_[j] = 1;
                    const DataBlock& target = job_.outputs[j];
                    reporter_.RecordError(kErrorWrite, static_cast<uint32_t>(error),
                                          target.file ? target.file->path : std::string());
                }
            }
            if (failed_[j] && job_.failedOutput == FailedOutput::EndPass) return false;
        }
        position += length;
        reporter_.SetProgress(position, total);
    }
    return true;
}

bool DataPass::ProcessChunk(uint64_t offset, uint64_t chunkLength, uint64_t& position) {
    const auto length = static_cast<size_t>(chunkLength);
    for (uint32_t j = 0; j < m_; ++j)
        if (!LeftOut(j)) std::memset(area_ + j * chunk_, 0, length);
    std::fill(expected_.begin(), expected_.end(), uint16_t{0});

    reporter_.SetActivity(kActivityRecoveringData, kTextRecoveryData);
    const uint64_t total = active_.size() * uint64_t{std::max<uint32_t>(m_, 1)} * job_.sliceSize;
    reporter_.SetProgress(position, total);

    const size_t r = ring_.size();
    // Input n is read into ring_[n % r] once input n - r is done with there,
    // by the arithmetic and by a visitor that holds it; the inputs before
    // `need` are waited for.
    std::deque<size_t> unread;
    for (size_t n = 0; n < std::min(r, active_.size()); ++n) unread.push_back(n);
    auto issueReads = [&](size_t need) {
        for (; !unread.empty(); unread.pop_front()) {
            const size_t n = unread.front();
            RingSlot& slot = ring_[n % r];
            if (Holds() && !job_.visitor->Released(slot.buffer, n < need)) break;
            if (!IssueRead(slot, job_.inputs[active_[n]], offset, length)) return false;
        }
        return true;
    };

    // Inputs are taken in batches: wait for each read in order and copy the
    // block to its target, multiply the batch in, then start the next reads
    // into the buffers just used. A batch is the whole ring when its reads
    // were all served at once (from the page cache): the larger the batch,
    // the fewer trips through the output area. When reads are really in
    // flight, a batch is half the ring, so that the reads of the other half
    // go on while it is multiplied.
    size_t count = 0;
    for (size_t first = 0; first < active_.size(); first += count) {
        size_t ahead = std::min(r, active_.size() - first);
        if (Holds()) ahead = std::min<size_t>(ahead, std::max<uint32_t>(job_.visitorBatch, 1));
        if (!issueReads(first + ahead)) return false;
        count = ahead;
        for (size_t n = first; n < first + ahead; ++n) {
            if (ring_[n % r].waited) {
                count = std::max<size_t>(1, (ahead + 1) / 2);
                break;
            }
        }
        for (size_t n = first; n < first + count; ++n) {
            RingSlot& slot = ring_[n % r];
            if (!CompleteRead(slot)) return false;
            const uint32_t column = active_[n];
            if (column < job_.copyTargets.size() && job_.copyTargets[column].file != nullptr) {
                int error = 0;
                const DataBlock& target = job_.copyTargets[column];
                if (!WriteClipped(target, offset, slot.buffer, length, error)) {
                    reporter_.RecordError(kErrorWrite, static_cast<uint32_t>(error),
                                          target.file->path);
                    if (job_.failedOutput == FailedOutput::EndPass) return false;
                }
            }
        }
        if (job_.visitor != nullptr) {
            std::vector<const uint8_t*> data(count);
            for (size_t n = 0; n < count; ++n) data[n] = ring_[(first + n) % r].buffer;
            job_.visitor->VisitInputs(first, data.data(), count, offset, length, *team_);
        }
        if (m_ > 0 ? !MultiplyBatch(first, count, length) : StopRequested()) {
            RecordCancel();
            return false;
        }
        for (size_t n = first; n < first + count; ++n) {
            if (n + r < active_.size()) unread.push_back(n + r);
            position += uint64_t{std::max<uint32_t>(m_, 1)} * length;
            reporter_.SetProgress(position, total);
        }
        if (!issueReads(0)) return false;
        if (StopRequested()) {
            RecordCancel();
            return false;
        }
    }
    return m_ == 0 || WriteOutputs(offset, length);
}

bool DataPass::Run(bool& cancelled) {
    cancelled = false;
    const bool ok = [&] {
        if (!Prepare() || !MemoryTest()) return false;
        uint64_t position = 0;
        for (uint64_t offset = 0; offset < job_.sliceSize; offset += chunk_) {
            if (m_ > 0 && std::all_of(failed_.begin(), failed_.end(), [](uint8_t f) { return f; }))
                break;
            const uint64_t length = std::min(chunk_, job_.sliceSize - offset);
            if (!ProcessChunk(offset, length, position)) return false;
        }
        return true;
    }();
    Release();
    cancelled = cancelled_;
    return ok;
}

}  // namespace

uint64_t DataPassChunkSize(uint64_t sliceSize, uint32_t missing, uint64_t physicalMemory) {
    const uint64_t budget = physicalMemory / 3;
    uint64_t chunk = sliceSize;
    if (missing > 0 && uint64_t{missing} * sliceSize > budget)
        chunk = CutIntoPieces(sliceSize, std::max<uint64_t>(budget / missing, 4));
    // With outputs the chunk already fits the budget. A copy-only pass would
    // take the whole slice, however large: keep it within the budget too, and
    // within what one read request can carry.
    const uint64_t most = std::max<uint64_t>(std::min<uint64_t>(budget, uint64_t{1} << 30), 4);
    if (chunk > most) chunk = CutIntoPieces(sliceSize, most);
    return std::max<uint64_t>(chunk, 4);
}

uint32_t DataPassBatchRingSize(uint64_t chunk, uint64_t inputs, uint32_t missing) {
    const uint32_t r = DataPassRingSize(chunk, inputs);
    if (missing == 0) return r;
    // Buffers of one chunk, like the outputs: a share of their number.
    const uint64_t batch = std::min({kBatchInputs, uint64_t{missing} / kBatchAreaShare, inputs});
    return static_cast<uint32_t>(std::max<uint64_t>(r, batch));
}

uint32_t DataPassRingSize(uint64_t chunk, uint64_t inputs) {
    const uint64_t r =
        std::clamp<uint64_t>(kRingBytes / std::max<uint64_t>(chunk, 1), kRingMin, kRingMax);
    return static_cast<uint32_t>(std::min(r, inputs));
}

bool RunDataPass(const DataPassJob& job, DataPassReporter& reporter, bool& cancelled) {
    DataPass pass(job, reporter);
    return pass.Run(cancelled);
}

}  // namespace vantrove
