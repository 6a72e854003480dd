// The recovery passes of a creation job: buffers, memory test, and the
// passes that read every source block once per chunk, hash it, copy it to
// its split piece and multiply it into every recovery block.

#include <algorithm>
#include <cstring>

#include "core/crc32.h"
#include "create/creation_job_state.h"
#include "rs/block_signature.h"
#include "rs/memory_test.h"
#include "rs/output_signatures.h"

namespace vantrove {

namespace {

constexpr uint64_t kReadBytesInFlight = 10000000;
constexpr size_t kTileBytes = 16384;
// Source blocks multiplied in together: each recovery chunk is then read and
// written once per group rather than once per block.
constexpr uint32_t kMaxGroup = 32;
constexpr uint64_t kGroupBytesLimit = uint64_t{64} << 20;  // working copies, and tables

}  // namespace

bool CreationJob::State::AllocateBuffers() {
    if (chunk >= (uint64_t{1} << 32)) return Fail(kFailOutputBuffer);
    uint64_t n = std::clamp<uint64_t>(kReadBytesInFlight / chunk, 3, 80);
    n = std::min<uint64_t>(n, S);
    const uint64_t recoveryBytes = std::max<uint64_t>(uint64_t{R} * chunk, 4);
    if (recoveryBytes >= (uint64_t{1} << 32) && sizeof(size_t) < 8) return Fail(kFailOutputBuffer);
    if (recoveryBytes >= (uint64_t{1} << 32) * 16) return Fail(kFailOutputBuffer);
    readBuffers.resize(n);
    requests.resize(n);
    requestAvail.assign(n, 0);
    for (uint64_t i = 0; i < n; ++i) {
        if (!readBuffers[i].Allocate(RoundUp4(chunk))) return Fail(kFailOutputBuffer);
        requests[i].buffer = readBuffers[i].data();
    }
    if (!recovery.Allocate(recoveryBytes)) return Fail(kFailOutputBuffer);
    signatures.assign(S, 0);
    visit.clear();
    visit.reserve(S);
    for (uint64_t round = 0; visit.size() < S; ++round)
        for (uint32_t i : sorted)
            if (round < sources[i].blockCount) visit.push_back(sources[i].firstBlock + round);
    groupAvail.assign(kMaxGroup, 0);
    blockTickets.assign(S, 0);
    fileTickets.assign(S, 0);
    if (R > 0) {
        workingStride = (chunk + 255) & ~uint64_t{255};
        uint64_t g = std::min<uint64_t>({kMaxGroup, S, kGroupBytesLimit / workingStride,
                                         kGroupBytesLimit / (uint64_t{R} * sizeof(FactorTable))});
        group = static_cast<uint32_t>(std::max<uint64_t>(g, 1));
        if (!working.Allocate(group * workingStride)) return Fail(kFailOutputBuffer);
        try {
            tables.resize(uint64_t{R} * group);
        } catch (...) {
            return Fail(kFailOutputBuffer);
        }
    }
    return true;
}

bool CreationJob::State::MemoryTest() {
    std::vector<MemoryArea> areas;
    areas.push_back({recovery.data(), recovery.size()});
    for (PageRegion& r : readBuffers) areas.push_back({r.data(), r.size()});
    Phase(kPhaseMemoryTest, {}, 0, MemoryTestTotal(areas));
    MemoryTestCallbacks callbacks;
    callbacks.progress = [this](uint64_t done, uint64_t total) { status.SetProgress(done, total); };
    callbacks.stopRequested = [this] { return Stopped(); };
    if (options.hooks != nullptr)
        callbacks.afterPatternWritten = [this](uint8_t* area, size_t bytes) {
            options.hooks->AfterPatternWritten(area, bytes);
        };
    if (TestWorkingMemory(areas, *team, callbacks) != MemoryTestOutcome::Passed)
        return Fail(kFailMemoryError);
    return true;
}

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

bool CreationJob::State::StartRead(uint64_t position, uint32_t pass) {
    const size_t slot = position % requests.size();
    const Block& b = blocks[visit[position]];
    const uint64_t po = uint64_t{pass} * chunk;
    const uint64_t length = std::min(chunk, blockSize - po);
    const uint64_t avail = b.length > po ? std::min(length, b.length - po) : 0;
    requestAvail[slot] = avail;
    if (avail == 0) return true;
    AsyncReadRequest& req = requests[slot];
    req.offset = b.offset + po;
    req.length = static_cast<uint32_t>(avail);
    req.buffer = readBuffers[slot].data();
    return sources[b.source].file->beginRead(req) != 0;
}

bool CreationJob::State::CompleteRead(uint64_t position, uint32_t pass, uint8_t*& data,
                                      uint64_t& length) {
    const size_t slot = position % requests.size();
    const uint64_t po = uint64_t{pass} * chunk;
    length = std::min(chunk, blockSize - po);
    data = readBuffers[slot].data();
    const uint64_t avail = requestAvail[slot];
    if (avail > 0) {
        AsyncReadRequest& req = requests[slot];
        if (sources[blocks[visit[position]].source].file->completeRead(req) != 2) return false;
        if (req.transferred != avail) return false;
    }
    if (avail < length) std::memset(data + avail, 0, length - avail);
    return true;
}

// The blocks first … first+count-1 lie in the working area (plain layout);
// each thread converts its byte range of them to the kernel's working
// layout, then adds every block of the group into every recovery chunk, tile
// by tile, so that a tile of the inputs stays in cache while all R outputs
// take it.
void CreationJob::State::MultiplyGroup(uint64_t first, uint32_t count, uint64_t length) {
    const MultiplyAccumulateKernel& kernel = ActiveMultiplyAccumulate();
    const ProductTables& products = *matrix.Products();
    const unsigned parts =
        static_cast<unsigned>(std::clamp<uint64_t>(length / 65536, 1, team->Size()));
    std::vector<size_t> bounds(parts + 1);
    for (unsigned k = 0; k <= parts; ++k)
        bounds[k] = k == parts ? length : (length * k / parts) & ~size_t{255};
    team->Run([&](unsigned t) {
        for (uint64_t x = t; x < uint64_t{R} * count; x += team->Size()) {
            const uint32_t k = static_cast<uint32_t>(x / count);
            const uint32_t g = static_cast<uint32_t>(x % count);
            kernel.prepare(products, Coefficient(visit[first + g], Exponent(k)),
                           tables[uint64_t{k} * group + g]);
        }
    });
    // Long blocks: each thread takes a byte range of every output. Blocks
    // too short to split take the outputs in turns instead, so that every
    // thread works however small the blocks are.
    const bool byRows = parts < team->Size() && R > 1;
    if (byRows && kernel.toWorking) {
        team->Run([&](unsigned t) {
            for (uint32_t g = t; g < count; g += team->Size())
                kernel.toWorking(working.data() + g * workingStride, length);
        });
    }
    team->Run([&](unsigned t) {
        const unsigned threads = byRows ? team->Size() : 1;
        if (!byRows && t >= parts) return;
        const size_t begin = byRows ? 0 : bounds[t], end = byRows ? length : bounds[t + 1];
        if (begin >= end) return;
        const uint8_t* inputs[kMaxGroup];
        const FactorTable* rowTables[kMaxGroup];
        if (!byRows) {
            for (uint32_t g = 0; g < count; ++g) {
                uint8_t* data = working.data() + g * workingStride;
                if (kernel.toWorking) kernel.toWorking(data + begin, end - begin);
            }
        }
        for (size_t tile = begin; tile < end; tile += kTileBytes) {
            const size_t n = std::min(kTileBytes, end - tile);
            for (uint32_t g = 0; g < count; ++g)
                inputs[g] = working.data() + g * workingStride + tile;
            for (uint32_t k = byRows ? t : 0; k < R; k += threads) {
                for (uint32_t g = 0; g < count; ++g)
                    rowTables[g] = &tables[uint64_t{k} * group + g];
                kernel.applyMany(rowTables, inputs, count,
                                 recovery.data() + uint64_t{k} * chunk + tile, n);
            }
        }
    });
}

// Block hashes of a group from the working copies (still in the plain
// layout): MD5 of up to sixteen blocks side by side, CRC-32 and signature
// block by block; the threads share the blocks.
void CreationJob::State::HashGroup(uint64_t first, uint32_t count, uint64_t length) {
    auto hashBlocks = [&] {
        Md5Context* contexts[kMaxGroup];
        const uint8_t* inputs[kMaxGroup];
        for (uint32_t g = 0; g < count; ++g) {
            const uint8_t* data = working.data() + g * workingStride;
            const uint64_t b = visit[first + g];
            Block& block = blocks[b];
            contexts[g] = &block.md5;
            inputs[g] = data;
            block.crc = Crc32Update(block.crc, data, length);
            signatures[b] = BlockSignature(data, length);
        }
        Md5Context::UpdateMany(contexts, inputs, count, length);
    };
    // The whole-file hashes: the group holds a few consecutive blocks of
    // each of several files, in file order within each file; round by round
    // the files that read a full chunk go side by side.
    auto hashFiles = [&] {
        if (!(singlePass && !params.extendExistingSet)) return;
        std::vector<std::vector<uint32_t>> perSource;
        std::vector<uint32_t> sourceOf;
        for (uint32_t g = 0; g < count; ++g) {
            const uint32_t s = blocks[visit[first + g]].source;
            auto it = std::find(sourceOf.begin(), sourceOf.end(), s);
            if (it == sourceOf.end()) {
                sourceOf.push_back(s);
                perSource.emplace_back();
                it = sourceOf.end() - 1;
            }
            perSource[it - sourceOf.begin()].push_back(g);
        }
        for (size_t round = 0;; ++round) {
            Md5Context* contexts[kMaxGroup];
            const uint8_t* inputs[kMaxGroup];
            size_t lanes = 0;
            bool any = false;
            for (size_t f = 0; f < sourceOf.size(); ++f) {
                if (round >= perSource[f].size()) continue;
                any = true;
                const uint32_t g = perSource[f][round];
                Source& src = sources[sourceOf[f]];
                src.fileMd5Used = true;
                const uint8_t* data = working.data() + g * workingStride;
                if (groupAvail[g] == length) {
                    contexts[lanes] = &src.fileMd5;
                    inputs[lanes++] = data;
                } else if (groupAvail[g] > 0) {
                    src.fileMd5.Update(data, groupAvail[g]);
                }
            }
            if (!any) break;
            Md5Context::UpdateMany(contexts, inputs, lanes, length);
        }
    };
    if (team->Size() == 1) {
        hashBlocks();
        hashFiles();
        return;
    }
    team->Run([&](unsigned t) {
        if (t == 0) hashBlocks();
        if (t == 1) hashFiles();
    });
}

bool CreationJob::State::HashesDone(uint64_t block, bool wait) {
    if (!blockHasher) return true;
    if (wait) {
        blockHasher->WaitFor(blockTickets[block]);
        if (fileHasher && fileTickets[block] != 0) fileHasher->WaitFor(fileTickets[block]);
        return true;
    }
    return blockHasher->Done(blockTickets[block]) &&
           (!fileHasher || fileTickets[block] == 0 || fileHasher->Done(fileTickets[block]));
}

bool CreationJob::State::CheckSignatures(uint64_t length) {
    std::vector<uint16_t> expected(R, 0);
    const unsigned parts = team->Size();
    // expected[k] = Σ_i base_i^e_k · signature_i. In logs each term is
    // log(signature_i) + e_k · log(base_i), and from one exponent to the next
    // it grows by log(base_i): one addition and one look-up per term. Each
    // thread sums a share of the inputs for every output.
    std::vector<std::vector<uint16_t>> partial(parts, std::vector<uint16_t>(R, 0));
    team->Run([&](unsigned t) {
        const uint16_t* antilog = Gf16AntilogTable();
        std::vector<uint32_t> steps, logs;
        for (uint64_t i = S * t / parts; i < S * (t + 1) / parts; ++i) {
            if (signatures[i] == 0) continue;  // adds nothing to any output
            steps.push_back(Gf16InputBaseLog(static_cast<uint32_t>(i)));
            logs.push_back(Gf16Log(signatures[i]));
        }
        const size_t n = steps.size();
        std::vector<uint32_t> at(n);
        uint16_t* out = partial[t].data();
        for (uint32_t k = 0; k < R; ++k) {
            const uint16_t e = Exponent(k);
            if (k == 0 || e == 0 || e != static_cast<uint16_t>(Exponent(k - 1) + 1)) {
                for (size_t j = 0; j < n; ++j)
                    at[j] = (logs[j] + uint64_t{e} * steps[j]) % kGf16Order;
            }
            uint16_t sum = 0;
            for (size_t j = 0; j < n; ++j) {
                sum ^= antilog[at[j]];
                const uint32_t next = at[j] + steps[j];
                at[j] = next >= kGf16Order ? next - kGf16Order : next;
            }
            out[k] = sum;
        }
    });
    for (uint32_t k = 0; k < R; ++k)
        for (unsigned t = 0; t < parts; ++t) expected[k] ^= partial[t][k];
    std::function<void(uint32_t, uint8_t*)> inspect;
    if (options.hooks != nullptr)
        inspect = [&](uint32_t k, uint8_t* data) {
            options.hooks->BeforeSignatureCheck(k, data, length);
        };
    return SignOutputs(*team, CodeField::Gf16, recovery.data(), chunk, R, length, nullptr,
                       inspect) == expected;
}

bool CreationJob::State::RunPasses() {
    computeTotal = R > 0 ? S * R * blockSize : S * blockSize;
    computeDone = 0;
    Phase(kPhaseComputing, {}, 0, computeTotal);
    const uint64_t n = requests.size();
    const bool feedFile = singlePass && !params.extendExistingSet;
    for (uint64_t b = 0; b < std::min(n, S); ++b)
        if (!StartRead(b, 0)) return Fail(kFailReadSource);
    for (uint32_t pass = 0; pass < passes; ++pass) {
        const uint64_t po = uint64_t{pass} * chunk;
        const uint64_t length = std::min(chunk, blockSize - po);
        std::memset(recovery.data(), 0, recovery.size());
        uint64_t nextRead = std::min(n, S);
        // Starts the reads whose ring slots the hashes have released; with
        // `wait`, waits until block `needed` has its read started.
        auto refill = [&](uint64_t consumed, bool wait, uint64_t needed) {
            while (nextRead < S) {
                const uint64_t previous = nextRead - n;  // last user of the slot
                if (previous > consumed) break;
                if (!HashesDone(previous, wait && nextRead <= needed)) break;
                if (!StartRead(nextRead, pass)) return false;
                ++nextRead;
            }
            return true;
        };
        uint64_t groupStart = 0;
        for (uint64_t i = 0; i < S; ++i) {
            if (i >= nextRead && !refill(i - 1, true, i)) return Fail(kFailReadSource);
            uint8_t* data = nullptr;
            uint64_t len = 0;
            if (!CompleteRead(i, pass, data, len)) return Fail(kFailReadSource);
            Block& block = blocks[visit[i]];
            Source& src = sources[block.source];
            // The part of the chunk that lies within the file.
            const uint64_t avail = block.length > po ? std::min(len, block.length - po) : 0;
            if (block.piece >= 0 && avail > 0 &&
                !src.pieceFiles[block.piece]->write(block.pieceOffset + po, data, avail))
                return Fail(kFailWriteData, src.pieces[block.piece].path);
            if (R > 0) {
                std::memcpy(working.data() + (i - groupStart) * workingStride, data, len);
                groupAvail[i - groupStart] = avail;
            }
            auto hashBlock = [this, b = visit[i], data, len] {
                Block& bl = blocks[b];
                bl.md5.Update(data, len);
                bl.crc = Crc32Update(bl.crc, data, len);
                signatures[b] = BlockSignature(data, len);
            };
            auto hashFile = [desc = src.description.get(), data, avail] {
                desc->FeedWholeFile(data, avail);
            };
            if (R > 0) {
                // Block and file hashes come from the working copy, a group
                // at a time (HashGroup).
            } else if (blockHasher) {
                blockTickets[i] = blockHasher->Post(hashBlock);
                if (feedFile) fileTickets[i] = fileHasher->Post(hashFile);
            } else {
                hashBlock();
                if (feedFile) hashFile();
            }
            if (!refill(i, false, 0)) return Fail(kFailReadSource);
            const uint32_t count = static_cast<uint32_t>(i + 1 - groupStart);
            if (count == group || i + 1 == S || R == 0) {
                if (R > 0) {
                    HashGroup(groupStart, count, length);
                    MultiplyGroup(groupStart, count, length);
                }
                computeDone += (R > 0 ? uint64_t{R} : 1) * length * count;
                status.SetProgress(computeDone, computeTotal);
                if (options.hooks != nullptr)
                    for (uint64_t b = groupStart; b <= i; ++b)
                        options.hooks->AfterBlock(pass, static_cast<uint32_t>(visit[b]));
                if (Stopped()) {
                    if (blockHasher) blockHasher->Drain();
                    if (fileHasher) fileHasher->Drain();
                    return Fail(kFailReadSource);
                }
                groupStart = i + 1;
                if (!refill(i, false, 0)) return Fail(kFailReadSource);
            }
        }
        if (blockHasher) blockHasher->Drain();
        if (fileHasher) fileHasher->Drain();
        if (R > 0 && !CheckSignatures(length)) return Fail(kFailBlockSignature);
        if (pass + 1 < passes) {
            for (uint64_t b = 0; b < std::min(n, S); ++b)
                if (!StartRead(b, pass + 1)) return Fail(kFailReadSource);
        }
        if (!WritePass(pass, length)) return false;
        if (pass + 1 < passes) Phase(kPhaseComputing, {}, computeDone, computeTotal);
    }
    return true;
}

bool CreationJob::State::WritePass(uint32_t pass, uint64_t length) {
    if (R == 0) return true;
    Phase(kPhaseWriting, {}, 0, R);
    const uint64_t po = uint64_t{pass} * chunk;
    for (uint32_t k = 0; k < R; ++k) {
        Slice& slice = slices[k];
        const uint8_t* data = recovery.data() + uint64_t{k} * chunk;
        slice.packet.FeedData(data, length);
        Output& out = outputs[slice.output];
        if (!out.file->write(slice.offset + kRecoveryDataOffset + po, data, length))
            return Fail(kFailWriteData, out.path);
        if ((k & 15) == 15 || k + 1 == R) status.SetProgress(k + 1, R);
    }
    return true;
}

}  // namespace vantrove
