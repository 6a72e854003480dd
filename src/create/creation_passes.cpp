// The recovery passes of a creation job. They run the shared chunked pass
// of rs/ (memory test, ring of reads, arithmetic, signature check of every
// recovery block, writes); what creation adds is seen through the pass's
// visitor: every source block is hashed as it is read, and every recovery
// chunk feeds its packet's hash before it is written. Source blocks that go
// to a split piece are the pass's copies.

#include <algorithm>
#include <functional>

#include "core/crc32.h"
#include "create/creation_job_state.h"
#include "create/file_hash_thread.h"
#include "rs/data_pass.h"

namespace vantrove {

namespace {

class MatrixProgress : public BlockProgressSink {
  public:
    explicit MatrixProgress(CreationStatusSlot& s) : status_(s) {}
    void SetBlockProgress(uint32_t done, uint32_t total) override {
        status_.SetProgress(done, total);
    }

  private:
    CreationStatusSlot& status_;
};

}  // namespace

CreationJob::State::State(CreationParameters& p, CreationStatusSlot& s, const StopFlag& f,
                          CreationJobOptions o)
    : params(p), status(s), stop(f), options(o) {}
CreationJob::State::~State() = default;

// Turns what the shared pass reports into the creation's phases and failure
// codes, and does the creation's share of the work on the data it passes.
class CreationJob::State::Pass final : public DataPassReporter,
                                       public DataPassVisitor,
                                       public DataPassTestHooks {
  public:
    explicit Pass(State& job) : job_(job) {}

    CreationFailure failure() const { return failure_; }
    const std::string& failedName() const { return failedName_; }

    void SetActivity(int32_t activity, uint32_t) override {
        activity_ = activity;
        switch (activity) {
            case kActivityMemoryTest:
                job_.Phase(kPhaseMemoryTest, {}, 0, 0);
                break;
            case kActivityRecoveringData:
                job_.Phase(kPhaseComputing, {}, 0, 0);
                break;
            case kActivityWritingData:
                job_.Phase(kPhaseWriting, {}, 0, 0);
                break;
            default:
                break;
        }
    }
    void SetProgress(uint64_t position, uint64_t total) override {
        job_.status.SetProgress(position, total);
    }
    // The first error is the one reported.
    void RecordError(int32_t kind, uint32_t, const std::string& filePath) override {
        if (failed_) return;
        failed_ = true;
        switch (kind) {
            case kErrorMemory:
                failure_ = kFailMemoryError;
                break;
            case kErrorRead:
                failure_ = kFailReadSource;
                break;
            case kErrorWrite:
                failure_ = kFailWriteData;
                failedName_ = job_.FinalNameOf(filePath);
                break;
            case kErrorSignatureMismatch:
                failure_ = kFailBlockSignature;
                break;
            case kErrorCancelled:
                failure_ = activity_ == kActivityMemoryTest ? kFailMemoryError : kFailReadSource;
                break;
            default:
                failure_ = kFailOutputBuffer;
                break;
        }
    }
    const std::atomic<uint32_t>* StopFlag() const override { return &job_.stop; }

    void VisitInputs(size_t first, const uint8_t* const* data, size_t count, uint64_t offset,
                     size_t length, WorkerTeam& team) override {
        job_.HashInputs(first, data, count, offset, length, team);
        if (job_.options.hooks != nullptr) {
            const auto pass = static_cast<uint32_t>(offset / job_.chunk);
            for (size_t p = first; p < first + count; ++p)
                job_.options.hooks->AfterBlock(pass, static_cast<uint32_t>(job_.visit[p]));
        }
    }
    // An input buffer is free once the file hash thread has hashed what it
    // was fed from it.
    bool Released(const uint8_t* data, bool wait) override {
        auto it = job_.heldInputs.find(data);
        if (it == job_.heldInputs.end()) return true;
        if (wait)
            job_.fileHashThread->WaitHashed(it->second);
        else if (!job_.fileHashThread->Hashed(it->second))
            return false;
        job_.heldInputs.erase(it);
        return true;
    }
    // The outputs of a chunk stay in memory until the next chunk: once the
    // last is seen, the packet hashes of all of them run side by side.
    void VisitOutput(uint32_t output, uint64_t, const uint8_t* data, size_t length) override {
        packets_.push_back(&job_.slices[output].packet);
        outputData_.push_back(data);
        if (packets_.size() < job_.slices.size()) return;
        RecoverySlicePacket::FeedDataMany(packets_.data(), outputData_.data(), packets_.size(),
                                          length);
        packets_.clear();
        outputData_.clear();
    }

    void AfterPatternWritten(uint8_t* area, size_t bytes) override {
        job_.options.hooks->AfterPatternWritten(area, bytes);
    }
    void BeforeSignatureCheck(uint32_t output, uint64_t, uint8_t* data, size_t length) override {
        job_.options.hooks->BeforeSignatureCheck(output, data, length);
    }

  private:
    State& job_;
    int32_t activity_ = 0;
    bool failed_ = false;
    CreationFailure failure_ = kFailOutputBuffer;
    std::string failedName_;
    std::vector<RecoverySlicePacket*> packets_;
    std::vector<const uint8_t*> outputData_;
};

bool CreationJob::State::ComputeMatrix() {
    if (R == 0) return true;
    Phase(kPhaseMatrix, {}, 0, 1);
    MatrixProgress progress(status);
    if (!matrix.SetInput(static_cast<uint32_t>(S))) return Fail(kFailRsComputation);
    for (uint32_t k = 0; k < R; ++k)
        if (!matrix.AddOutput(false, static_cast<uint16_t>(params.firstRecoveryBlock + k)))
            return Fail(kFailRsComputation);
    // Creation needs no elimination: every row is base_i ^ exponent, and
    // the coefficients are computed as they are used. The matrix gives the
    // checks of inputs and exponents above and the product tables.
    if (matrix.Products() == nullptr) return Fail(kFailRsComputation);
    progress.SetBlockProgress(1, 1);
    return true;
}

std::string CreationJob::State::FinalNameOf(const std::string& workPath) const {
    for (const Output& o : outputs)
        if (o.file && o.file->path == workPath) return o.path;
    for (const Source& src : sources)
        for (size_t k = 0; k < src.pieceFiles.size() && k < src.pieces.size(); ++k)
            if (src.pieceFiles[k]->path == workPath) return src.pieces[k].path;
    return workPath;
}

// A piece of each run at a time, so that the CRCs read the piece while it
// is still in the processor's cache after the MD5s: the runs' MD5s side by
// side in pieces of a multiple of 64 bytes, as one call over the whole runs
// would take them.
void CreationJob::State::HashSideBySide(Md5Context* const* contexts, uint32_t* const* crcs,
                                        const uint8_t* const* data, size_t count, size_t length,
                                        const std::function<void()>& afterPiece) {
    const size_t piece = std::clamp<size_t>(
        kCachedPieceBytes / std::max<size_t>(count, 1) & ~size_t{63}, 4096, 65536);
    std::vector<const uint8_t*> at(data, data + count);
    for (size_t done = 0; done < length; done += piece) {
        const size_t n = std::min(piece, length - done);
        Md5Context::UpdateMany(contexts, at.data(), count, n);
        for (size_t k = 0; k < count; ++k) {
            *crcs[k] = Crc32Update(*crcs[k], at[k], n);
            at[k] += n;
        }
        if (afterPiece) afterPiece();
    }
}

// The block hashes (MD5 of several blocks side by side, CRC-32) and, in a
// single pass, the whole-file hashes of the inputs at positions
// first … first+count-1 of `visit`, as read: the block hashes on the pass's
// threads, the file hashes on another thread of the team or on the file hash
// thread.
void CreationJob::State::HashInputs(size_t first, const uint8_t* const* data, size_t count,
                                    uint64_t offset, size_t length, WorkerTeam& team) {
    // Blocks of the batch in runs of at least sixteen per thread, so that
    // each thread keeps its vector lanes full.
    const size_t blockThreads = std::clamp<size_t>(count / 16, 1, team.Size());
    auto hashBlocks = [&](size_t t, size_t threads, const std::function<void()>& afterPiece) {
        const size_t begin = count * t / threads;
        const size_t end = count * (t + 1) / threads;
        std::vector<Md5Context*> contexts(end - begin);
        std::vector<uint32_t*> crcs(end - begin);
        for (size_t g = begin; g < end; ++g) {
            Block& block = blocks[visit[first + g]];
            contexts[g - begin] = &block.md5;
            crcs[g - begin] = &block.crc;
        }
        HashSideBySide(contexts.data(), crcs.data(), data + begin, end - begin, length, afterPiece);
    };
    // The part of input g's chunk that lies within its file.
    auto withinFile = [&](size_t g) {
        const Block& block = blocks[visit[first + g]];
        return block.length > offset ? std::min<uint64_t>(length, block.length - offset) : 0;
    };
    const bool fileHashes = singlePass && !params.extendExistingSet;
    if (fileHashes && fileHashThread != nullptr) {
        // The hash thread takes the blocks in place, in visit order, which is
        // file order within each file for the blocks the pass feeds; the
        // pass reads nothing new into their buffers until it has hashed them
        // (Pass::Released).
        for (size_t g = 0; g < count; ++g) {
            const Block& block = blocks[visit[first + g]];
            Source& src = sources[block.source];
            src.fileMd5Used = true;
            if (block.offset < src.tailFrom) {
                const uint64_t ticket = fileHashThread->FeedInPlace(
                    &src.fileMd5, data[g], static_cast<size_t>(withinFile(g)));
                heldInputs[data[g]] = ticket;
            }
        }
        if (blockThreads == 1) {
            hashBlocks(0, 1, {});
        } else {
            team.Run([&](unsigned t) {
                if (t < blockThreads) hashBlocks(t, blockThreads, {});
            });
        }
        return;
    }
    // The batch holds a few consecutive blocks of each of several files, in
    // file order within each file; round by round the files that read a
    // full chunk go side by side.
    auto hashFiles = [&] {
        if (!fileHashes) return;
        std::vector<std::vector<size_t>> perSource;
        std::vector<uint32_t> sourceOf;
        for (size_t g = 0; g < count; ++g) {
            const uint32_t s = blocks[visit[first + g]].source;
            auto it = std::find(sourceOf.begin(), sourceOf.end(), s);
            if (it == sourceOf.end()) {
                sourceOf.push_back(s);
                perSource.emplace_back();
                it = sourceOf.end() - 1;
            }
            perSource[it - sourceOf.begin()].push_back(g);
        }
        std::vector<Md5Context*> contexts;
        std::vector<const uint8_t*> inputs;
        for (size_t round = 0;; ++round) {
            contexts.clear();
            inputs.clear();
            bool any = false;
            for (size_t f = 0; f < sourceOf.size(); ++f) {
                if (round >= perSource[f].size()) continue;
                any = true;
                const size_t g = perSource[f][round];
                Source& src = sources[sourceOf[f]];
                src.fileMd5Used = true;
                const uint64_t avail = withinFile(g);
                if (avail == length) {
                    contexts.push_back(&src.fileMd5);
                    inputs.push_back(data[g]);
                } else if (avail > 0) {
                    src.fileMd5.Update(data[g], avail);
                }
            }
            if (!any) break;
            Md5Context::UpdateMany(contexts.data(), inputs.data(), contexts.size(), length);
        }
    };
    if (team.Size() == 1) {
        hashBlocks(0, 1, {});
        hashFiles();
        return;
    }
    team.Run([&](unsigned t) {
        if (t == 0) hashBlocks(0, 1, {});
        if (t == 1) hashFiles();
    });
}

// The blocks fed to the whole-file hash go first in each stretch of the
// file's share of the pass, in proportion to the blocks that are not.
std::vector<uint64_t> CreationJob::State::PassOrder(const Source& src) const {
    std::vector<uint64_t> order;
    order.reserve(src.blockCount);
    if (src.tailFrom >= src.size) {
        for (uint64_t b = 0; b < src.blockCount; ++b) order.push_back(b);
        return order;
    }
    const uint64_t fed = src.tailFrom / blockSize;
    uint64_t head = 0, tail = fed;
    for (uint64_t k = 0; k < src.blockCount; ++k) {
        const bool takeHead =
            head < fed && (tail == src.blockCount || head * src.blockCount <= k * fed);
        order.push_back(takeHead ? head++ : tail++);
    }
    return order;
}

// One shared pass: the source blocks in `visit` order are the inputs, the
// split pieces their copy targets, and the data parts of the recovery
// packets the outputs.
bool CreationJob::State::RunPasses() {
    // One file holding most of the data makes its whole-file MD5 the longest
    // chain of work: it gets a thread of its own, and the pass one fewer,
    // unless the recovery blocks are so many that the arithmetic, not the
    // hash, is what takes longest and wants every thread.
    uint64_t total = 0;
    Source* largest = nullptr;
    for (Source& src : sources) {
        total += src.size;
        if (largest == nullptr || src.size > largest->size) largest = &src;
    }
    const bool hashThread = singlePass && !params.extendExistingSet && team->Size() > 1 &&
                            2 * largest->size > total && R <= kFileHashThreadMostOutputs;
    if (hashThread && blockSize <= kTailBlockMost && largest->blockCount >= 4)
        largest->tailFrom = largest->blockCount * kPassFedQuarters / 4 * blockSize;

    // One block of each file in turn, so that the whole-file hashes of
    // several files can run side by side.
    std::vector<std::vector<uint64_t>> orders;
    for (uint32_t i : sorted) orders.push_back(PassOrder(sources[i]));
    visit.clear();
    visit.reserve(S);
    for (uint64_t round = 0; visit.size() < S; ++round)
        for (size_t k = 0; k < sorted.size(); ++k)
            if (round < orders[k].size())
                visit.push_back(sources[sorted[k]].firstBlock + orders[k][round]);

    DataPassJob job;
    RecoveryCode code;
    bool anyPiece = false;
    job.inputs.reserve(S);
    for (uint64_t b : visit) {
        const Block& block = blocks[b];
        const Source& src = sources[block.source];
        job.inputs.push_back({src.file, block.offset, block.length});
        if (block.piece >= 0) {
            job.copyTargets.resize(job.inputs.size());
            job.copyTargets.back() = {src.pieceFiles[block.piece], block.pieceOffset, block.length};
            anyPiece = true;
        }
        code.inputIndices.push_back(static_cast<uint32_t>(b));
    }
    if (!anyPiece) job.copyTargets.clear();
    for (uint32_t k = 0; k < R; ++k) {
        const Slice& slice = slices[k];
        job.outputs.push_back(
            {outputs[slice.output].file, slice.offset + kRecoveryDataOffset, blockSize});
        code.exponents.push_back(Exponent(k));
    }
    code.products = matrix.Products();
    job.sliceSize = blockSize;
    if (R > 0) job.code = &code;
    job.physicalMemoryBytes = params.machine.physicalMemoryBytes;
    job.threads = team->Size();
    // The block MD5s of a batch run side by side: at least four blocks, the
    // fewest the vector unit takes, and up to sixteen where their buffers
    // take no more than kHashRingBytes.
    job.visitorBatch = static_cast<uint32_t>(
        std::clamp<uint64_t>(kHashRingBytes / std::max<uint64_t>(chunk, 1), 4, 16));
    if (hashThread) {
        fileHashThread = std::make_unique<FileHashThread>();
        job.threads -= 1;
        job.visitorHolds = true;
        job.memoryTestThreads = team->Size();
    }
    // A creation fails with its first failed block.
    job.failedOutput = FailedOutput::EndPass;
    Pass pass(*this);
    job.visitor = &pass;
    if (options.hooks != nullptr) job.hooks = &pass;
    bool cancelled = false;
    const bool ok = RunDataPass(job, pass, cancelled);
    // The hash thread goes on into the read-back where a file's rest is fed
    // from there.
    if (!ok || largest->tailFrom >= largest->size) fileHashThread.reset();
    if (!ok) return Fail(pass.failure(), pass.failedName());
    return true;
}

}  // namespace vantrove
