#include "create/creation_job.h"

#include <algorithm>

#include "core/machine.h"
#include "core/path.h"
#include "core/string_ids.h"
#include "core/string_table.h"
#include "create/creation_job_state.h"
#include "create/file_hash_thread.h"
#include "engine/verification_cache.h"
#include "rs/data_pass.h"

namespace vantrove {

namespace {

int DecimalDigits(uint64_t v) {
    int digits = 1;
    while (v >= 10) {
        v /= 10;
        ++digits;
    }
    return digits;
}

}  // namespace

bool CreationJob::State::Run() {
    // No saved verification state of an older set of this name may survive.
    if (!params.extendExistingSet) {
        VerificationCache& cache =
            options.cache != nullptr ? *options.cache : VerificationCache::Default();
        cache.DiscardState(params.destinationPath + params.baseName + kStateExtensionPar2);
    }
    // The plan: block size, block counts, splitting, memory.
    blockSize = RoundUp4(params.blockSize);
    if (params.files().empty()) return Fail(kFailNoSourceFiles);
    S = params.sourceBlockCount;
    if (S == 0) return Fail(kFailNoSourceBlocks);
    R = static_cast<uint32_t>(std::min<uint64_t>(params.recoveryBlockCount, 65535));
    pieceBlocks = params.splitPieceBlocks();
    // A matrix of S × R 16-bit coefficients must fit half the memory; the
    // recovery blocks of a pass take at most a third of it.
    const uint64_t P = params.machine.physicalMemoryBytes;
    if (2 * S * R > P / 2) return Fail(kFailMatrixMemory);
    // The pass's chunk: without recovery blocks nothing is held per block,
    // and the blocks are read whole.
    chunk = DataPassChunkSize(blockSize, R, P);
    passes = static_cast<uint32_t>(CeilDiv(blockSize, chunk));
    singlePass = chunk >= blockSize;

    unsigned threads = options.threads != 0 ? options.threads : ProcessorThreads();
    threads = std::clamp(threads, 1u, 64u);
    team = std::make_unique<WorkerTeam>(threads);

    // A stop is also seen between the steps, so that one asked for after a
    // step's last look ends the job before the next: nothing takes its
    // final name once the stop was asked for.
    auto go = [this](bool ok) { return ok && (!Stopped() || Fail(kFailDataVerify)); };
    if (!go(HashSources())) return false;
    if (!go(LayOut())) return false;
    if (!go(CreateOutputs())) return false;
    if (!go(CreatePieces())) return false;
    if (!go(ComputeMatrix())) return false;
    if (!go(RunPasses())) return false;
    for (Source& s : sources) {
        s.file->close();
        for (auto& f : s.pieceFiles) f->close();
    }
    if (options.hooks != nullptr) options.hooks->BeforeVerification();
    if (!go(VerifyPieces())) return false;
    // The read-back of the sources may finish their whole-file hashes: the
    // packets that carry them are written after it.
    if (!go(ReverifySources())) return false;
    if (!go(FinishPackets())) return false;
    if (!go(WritePlacements())) return false;
    for (Output& o : outputs) o.file->close();
    if (options.hooks != nullptr) options.hooks->BeforeOutputCheck();
    if (!go(VerifyOutputs())) return false;
    if (!PutInPlace()) return false;
    Phase(kPhaseFinished, {}, 0, 0);
    return true;
}

// Every output and piece is whole and verified: each takes its final name
// (replacing a file of that name only now, when the new one is complete).
// The index file goes last, so that a set is never seen without volumes.
bool CreationJob::State::PutInPlace() {
    for (Source& src : sources) {
        for (size_t k = 0; k < src.pieceFiles.size(); ++k) {
            if (!src.pieceFiles[k]->moveIntoPlace(src.pieces[k].path, true))
                return Fail(kFailCreateOutput, src.pieces[k].path);
        }
    }
    for (Output& o : outputs) {
        if (!o.file->moveIntoPlace(o.path, true)) return Fail(kFailCreateOutput, o.path);
    }
    return true;
}

bool CreationJob::State::HashSources() {
    const auto& files = params.files();
    sources.resize(files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        Source& src = sources[i];
        src.path = files[i].path;
        src.name = files[i].storedName.empty() ? FileNameOfPath(src.path) : files[i].storedName;
        src.file = std::make_shared<DiskFile>();
        Phase(kPhaseHashing, src.name, 0, files[i].size > 0 ? files[i].size : 1);
        if (!src.file->open(src.path)) return Fail(kFailDescriptionPacket, src.path);
        src.size = src.file->size;
        if (params.extendExistingSet) {
            if (i >= params.existingFileDescriptions.size() || !params.existingFileDescriptions[i])
                return Fail(kFailDescriptionPacket, src.path);
            src.description =
                std::make_shared<FileDescriptionPacket>(*params.existingFileDescriptions[i]);
        } else {
            src.description = std::make_shared<FileDescriptionPacket>();
            int error = 0;
            const uint64_t total = src.size > 0 ? src.size : 1;
            auto progress = [&](uint64_t position) {
                status.SetProgress(position, total);
                return !Stopped();
            };
            if (!src.description->Build(*src.file, src.name, src.size, !singlePass, progress,
                                        error))
                return Fail(kFailDescriptionPacket, src.path);
        }
        if (Stopped()) return Fail(kFailDescriptionPacket, src.path);
    }
    // Sorted by file id; the main packet gives the set id.
    sorted.resize(sources.size());
    for (uint32_t i = 0; i < sorted.size(); ++i) sorted[i] = i;
    std::stable_sort(sorted.begin(), sorted.end(), [&](uint32_t a, uint32_t b) {
        return FileIdLess(sources[a].description->fileId(), sources[b].description->fileId());
    });
    if (params.extendExistingSet && params.existingMainPacket) {
        main = params.existingMainPacket.get();
    } else {
        // Empty files are described but listed as not recoverable: they have
        // no slices, and peers count an empty recoverable file as needing
        // repair.
        std::vector<Md5Digest> ids, emptyIds;
        for (uint32_t i : sorted)
            (sources[i].size > 0 ? ids : emptyIds).push_back(sources[i].description->fileId());
        if (!ownMain.Build(blockSize, ids, emptyIds)) return Fail(kFailDescriptionPacket);
        main = &ownMain;
    }
    setId = main->ComputeSetId();
    // The creator packet.
    if (!creator.Build(setId)) return Fail(kFailDescriptionPacket);
    // Blocks in the order of the sorted files.
    uint64_t total = 0;
    for (uint32_t i : sorted) total += CeilDiv(sources[i].size, blockSize);
    if (total != S) return Fail(kFailSliceCount);
    blocks.resize(S);
    uint64_t next = 0;
    for (uint32_t i : sorted) {
        Source& src = sources[i];
        src.firstBlock = next;
        src.blockCount = CeilDiv(src.size, blockSize);
        for (uint64_t b = 0; b < src.blockCount; ++b) {
            Block& block = blocks[next + b];
            block.source = i;
            block.offset = b * blockSize;
            block.length = std::min(blockSize, src.size - block.offset);
        }
        next += src.blockCount;
        src.ifsc = std::make_shared<IfscPacket>();
        if (!src.ifsc->Build(src.blockCount, setId, src.description->fileId()))
            return Fail(kFailDescriptionPacket, src.path);
        if (!params.extendExistingSet) src.description->SetRecoverySetId(setId);
    }
    for (Source& src : sources) {
        critical.push_back(src.description.get());
        critical.push_back(src.ifsc.get());
    }
    critical.push_back(main);
    return true;
}

bool CreationJob::State::LayOut() {
    std::vector<uint64_t> criticalSizes;
    for (const PacketBuffer* p : critical) criticalSizes.push_back(p->length());
    const std::vector<uint32_t> counts = params.volumeBlockCounts();
    uint64_t indexBytes = 0;
    for (uint64_t size : criticalSizes) indexBytes += size;
    const std::vector<uint32_t> copies = IndexCopies(counts, indexBytes, creator.length());
    uint64_t placed = 0;
    uint32_t largest = 0;
    for (uint32_t c : counts) {
        placed += c;
        largest = std::max(largest, c);
    }
    if (placed != R) return Fail(kFailSliceCount);
    const uint64_t first = params.firstRecoveryBlock;
    if (R > 0 && first + R > 65536) return Fail(kFailRsComputation);
    const int n = DecimalDigits(R > 0 ? first + R - 1 : first);
    const int m = DecimalDigits(largest);
    uint32_t exponent = static_cast<uint32_t>(first);
    slices.reserve(R);
    for (size_t v = 0; v < counts.size(); ++v) {
        const uint32_t count = counts[v];
        if (count == 0) continue;
        Output out;
        out.path = VolumeFileName(params.destinationPath, params.baseName, exponent, count, n, m);
        const uint32_t index = static_cast<uint32_t>(outputs.size());
        std::vector<VolumeLayoutEntry> entries;
        out.size =
            LayOutVolume(count, copies[v], blockSize, criticalSizes, creator.length(), entries);
        for (const VolumeLayoutEntry& e : entries) {
            if (e.kind == VolumeLayoutEntry::kSlice) {
                slices.push_back({index, e.offset, {}});
                slices.back().packet.BuildHead(setId, exponent + e.index, blockSize);
            } else if (e.kind == VolumeLayoutEntry::kCritical) {
                placements.push_back({index, e.offset, nullptr, e.index, e.count});
            } else {
                placements.push_back({index, e.offset, &creator});
            }
        }
        exponent += count;
        outputs.push_back(std::move(out));
    }
    if (!params.extendExistingSet) {
        Output index;
        index.path = params.destinationPath + params.baseName + "." + GetString(kStrPar2Extension);
        const uint32_t i = static_cast<uint32_t>(outputs.size());
        placements.push_back({i, 0, nullptr, 0, static_cast<uint32_t>(critical.size())});
        placements.push_back({i, indexBytes, &creator});
        index.size = indexBytes + creator.length();
        outputs.push_back(std::move(index));
    }
    return true;
}

bool CreationJob::State::CreateOutputs() {
    for (Output& o : outputs) {
        o.file = std::make_shared<DiskFile>();
        // Written under a work name; the final name only once verified.
        if (!o.file->createWorkFile(o.path)) return Fail(kFailCreateOutput, o.path);
        o.created = true;
        if (!o.file->setSize(o.size)) return Fail(kFailSizeOutput, o.path);
    }
    return true;
}

bool CreationJob::State::CreatePieces() {
    if (pieceBlocks == 0) return true;
    for (Source& src : sources) {
        src.pieces =
            PlanSplitPieces(params.destinationPath, src.name, src.size, blockSize, pieceBlocks);
        for (size_t k = 0; k < src.pieces.size(); ++k) {
            const SplitPiece& piece = src.pieces[k];
            auto file = std::make_shared<DiskFile>();
            if (!file->createWorkFile(piece.path)) return Fail(kFailCreateOutput, piece.path);
            src.pieceFiles.push_back(file);
            if (!file->setSize(piece.size)) return Fail(kFailSizeOutput, piece.path);
            for (uint64_t j = 0; j < piece.blockCount; ++j) {
                Block& block = blocks[src.firstBlock + piece.firstBlock + j];
                block.piece = static_cast<int32_t>(k);
                block.pieceOffset = j * blockSize;
            }
        }
    }
    return true;
}

bool CreationJob::State::FinishPackets() {
    for (Slice& slice : slices) {
        Output& out = outputs[slice.output];
        if (!slice.packet.Finish() ||
            !out.file->write(slice.offset, slice.packet.head(), kRecoveryDataOffset))
            return Fail(kFailWriteHeader, out.path);
    }
    for (Source& src : sources) {
        for (uint64_t b = 0; b < src.blockCount; ++b) {
            const Block& block = blocks[src.firstBlock + b];
            src.ifsc->SetEntry(static_cast<uint32_t>(b), block.md5.Final(), block.crc);
        }
        src.ifsc->Finish();
        if (!params.extendExistingSet) {
            if (src.fileMd5Used) src.description->FinishWholeFileHash(src.fileMd5.Final());
            src.description->Seal(setId);
        }
    }
    return true;
}

bool CreationJob::State::WritePlacements() {
    indexStarts.assign(1, 0);
    for (const PacketBuffer* packet : critical) {
        const auto& bytes = packet->bytes();
        indexImage.insert(indexImage.end(), bytes.begin(), bytes.end());
        indexStarts.push_back(indexImage.size());
    }
    for (const Placement& p : placements) {
        Output& out = outputs[p.output];
        const uint8_t* data;
        size_t length;
        if (p.packet != nullptr) {
            data = p.packet->bytes().data();
            length = p.packet->bytes().size();
        } else {
            data = indexImage.data() + indexStarts[p.first];
            length = indexStarts[p.first + p.count] - indexStarts[p.first];
        }
        if (!out.file->write(p.offset, data, length)) return Fail(kFailWriteCritical, out.path);
    }
    indexImage = {};
    return true;
}

void CreationJob::State::Finish(bool failed) {
    team.reset();
    // A job that failed or was stopped removes every volume it wrote,
    // under its work name or already in place: a partial set is of no use,
    // and the disk may be full.
    for (Output& o : outputs) {
        if (!o.created) continue;
        o.file->close();
        if (o.file->path == o.path && !failed) continue;  // the finished set
        o.file->remove();
    }
    for (Source& src : sources) {
        for (size_t k = 0; k < src.pieceFiles.size(); ++k) {
            DiskFile& piece = *src.pieceFiles[k];
            piece.close();
            if (k >= src.pieces.size() || piece.path != src.pieces[k].path || failed)
                piece.remove();
        }
        if (src.file) src.file->close();
    }
    placements.clear();
    indexImage = {};
    slices.clear();
    blocks.clear();
}

CreationJob::CreationJob(CreationParameters& parameters, CreationStatusSlot& status,
                         const StopFlag& stop, CreationJobOptions options)
    : state_(std::make_unique<State>(parameters, status, stop, options)) {}

CreationJob::~CreationJob() = default;

bool CreationJob::run() {
    return state_->Run();
}

void CreationJob::finish(bool failed) {
    state_->Finish(failed);
}

std::vector<std::string> CreationJob::outputPaths() const {
    std::vector<std::string> paths;
    for (const auto& o : state_->outputs) paths.push_back(o.path);
    return paths;
}

uint64_t CreationJob::chunkSize() const {
    return state_->chunk;
}
uint32_t CreationJob::passCount() const {
    return state_->passes;
}

}  // namespace vantrove
