#include "create/creation_job.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "core/async_read_request.h"
#include "core/crc32.h"
#include "core/disk_file.h"
#include "core/md5.h"
#include "core/page_region.h"
#include "core/path.h"
#include "core/string_ids.h"
#include "core/string_table.h"
#include "core/worker_team.h"
#include "create/split_plan.h"
#include "engine/verification_cache.h"
#include "par2/creator_packet.h"
#include "par2/file_description_packet.h"
#include "par2/ifsc_packet.h"
#include "par2/main_packet.h"
#include "par2/packet_header.h"
#include "par2/recovery_slice_packet.h"
#include "rs/block_signature.h"
#include "rs/galois_field.h"
#include "rs/memory_test_patterns.h"
#include "rs/multiply_accumulate.h"
#include "rs/reed_solomon_matrix.h"

namespace vantrove {

namespace {

constexpr uint64_t kReadBytesInFlight = 10000000;
constexpr size_t kVerifyChunk = 1048576;
constexpr size_t kTileBytes = 16384;
// Source blocks multiplied in together: each recovery chunk is then read and
// written once per group rather than once per block.
constexpr uint32_t kMaxGroup = 32;
constexpr uint64_t kGroupBytesLimit = uint64_t{64} << 20;  // working copies, and tables

uint64_t CeilDiv(uint64_t a, uint64_t b) {
    return b == 0 ? 0 : (a + b - 1) / b;
}
uint64_t RoundUp4(uint64_t v) {
    return (v + 3) & ~uint64_t{3};
}

int DecimalDigits(uint64_t v) {
    int digits = 1;
    while (v >= 10) {
        v /= 10;
        ++digits;
    }
    return digits;
}

// A thread that runs posted work items one after another, in order. MD5 is
// serial within one stream, so each stream gets its own consumer and the
// streams run beside the arithmetic.
class OrderedWorker {
  public:
    OrderedWorker() : thread_([this] { Loop(); }) {}
    ~OrderedWorker() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            quit_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    // Returns the item's ticket for Done and WaitFor.
    uint64_t Post(std::function<void()> work) {
        uint64_t ticket;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            queue_.push_back(std::move(work));
            ticket = ++posted_;
        }
        wake_.notify_all();
        return ticket;
    }
    bool Done(uint64_t ticket) {
        std::lock_guard<std::mutex> lock(mutex_);
        return finished_ >= ticket;
    }
    void WaitFor(uint64_t ticket) {
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [&] { return finished_ >= ticket; });
    }
    // Waits until everything posted so far has run.
    void Drain() {
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [this] { return finished_ == posted_; });
    }

  private:
    void Loop() {
        for (;;) {
            std::function<void()> work;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [this] { return quit_ || !queue_.empty(); });
                if (queue_.empty()) return;
                work = std::move(queue_.front());
                queue_.pop_front();
            }
            work();
            {
                std::lock_guard<std::mutex> lock(mutex_);
                ++finished_;
            }
            done_.notify_all();
        }
    }
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    std::deque<std::function<void()>> queue_;
    uint64_t posted_ = 0, finished_ = 0;
    bool quit_ = false;
    std::thread thread_;
};

}  // namespace

uint64_t CreationChunkSize(uint64_t blockSize, uint64_t recoveryBlocks, uint64_t physicalMemory) {
    const uint64_t budget = physicalMemory / 3;
    if (recoveryBlocks == 0 || recoveryBlocks * blockSize <= budget) return blockSize;
    const uint64_t c = std::max<uint64_t>(budget / recoveryBlocks, 1);
    const uint64_t passes = CeilDiv(blockSize, c);
    return RoundUp4(CeilDiv(blockSize, passes));
}

std::string VolumeFileName(const std::string& path, const std::string& base, uint32_t first,
                           uint32_t count, int exponentDigits, int countDigits) {
    std::string extension = GetString(kStrPar2Extension);
    for (char& ch : extension) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    char format[64];
    std::snprintf(format, sizeof format, "%%s%%s.vol%%0%dd+%%0%dd.%s", exponentDigits, countDigits,
                  extension.c_str());
    int length = std::snprintf(nullptr, 0, format, path.c_str(), base.c_str(), first, count);
    std::string name(static_cast<size_t>(std::max(length, 0)) + 1, '\0');
    std::snprintf(name.data(), name.size(), format, path.c_str(), base.c_str(), first, count);
    name.resize(name.size() - 1);
    return name;
}

uint64_t LayOutVolume(uint32_t count, uint64_t blockSize,
                      const std::vector<uint64_t>& criticalSizes, uint64_t creatorSize,
                      std::vector<VolumeLayoutEntry>& entries) {
    const uint64_t L = criticalSizes.size();
    const uint64_t b = BitLength(count);
    uint64_t accumulator = 0;
    uint64_t offset = 0;
    const uint64_t kNone = UINT64_MAX;
    uint64_t position = kNone;
    auto placeCritical = [&] {
        if (position == kNone || position >= L) position = 0;
        entries.push_back({VolumeLayoutEntry::kCritical, static_cast<uint32_t>(position), offset});
        offset += criticalSizes[position];
        ++position;
    };
    for (uint32_t slice = 0; slice < count; ++slice) {
        entries.push_back({VolumeLayoutEntry::kSlice, slice, offset});
        offset += kRecoveryDataOffset + blockSize;
        accumulator += L * b;
        while (L > 0 && accumulator >= count) {
            placeCritical();
            accumulator -= count;
        }
    }
    while (position != kNone && position < L) placeCritical();
    entries.push_back({VolumeLayoutEntry::kCreator, 0, offset});
    return offset + creatorSize;
}

struct CreationJob::State {
    CreationParameters& params;
    CreationStatusSlot& status;
    const StopFlag& stop;
    CreationJobOptions options;

    struct Source {
        std::string path;
        std::string name;
        DiskFileRef file;
        uint64_t size = 0;
        std::shared_ptr<FileDescriptionPacket> description;
        std::shared_ptr<IfscPacket> ifsc;
        uint64_t firstBlock = 0;
        uint64_t blockCount = 0;
        std::vector<SplitPiece> pieces;
        std::vector<DiskFileRef> pieceFiles;
        Md5Context fileMd5;  // whole-file hash fed a group at a time
        bool fileMd5Used = false;
    };
    struct Block {
        uint32_t source = 0;
        uint64_t offset = 0;  // in the source file
        uint64_t length = 0;
        Md5Context md5;
        uint32_t crc = 0;
        int32_t piece = -1;  // index into the source's pieces
        uint64_t pieceOffset = 0;
    };
    struct Output {
        std::string path;
        DiskFileRef file;
        uint64_t size = 0;
        bool created = false;
        bool damaged = false;  // failed its check after writing
    };
    struct Placement {
        uint32_t output;
        uint64_t offset;
        const PacketBuffer* packet;
    };
    struct Slice {
        uint32_t output;
        uint64_t offset;
        RecoverySlicePacket packet;
    };

    uint64_t blockSize = 0;
    uint64_t S = 0;
    uint32_t R = 0;
    uint64_t chunk = 0;
    uint32_t passes = 0;
    bool singlePass = true;
    uint64_t pieceBlocks = 0;

    std::vector<Source> sources;   // in the user's order
    std::vector<uint32_t> sorted;  // source indices by file id
    std::vector<Block> blocks;
    std::vector<const PacketBuffer*> critical;
    MainPacket ownMain;
    const MainPacket* main = nullptr;
    CreatorPacket creator;
    Md5Digest setId;
    std::vector<Output> outputs;
    std::vector<Placement> placements;
    std::vector<Slice> slices;
    ReedSolomonMatrix matrix;
    // Recovery block k multiplies source block i by base_i ^ exponent_k:
    // the coefficients follow from the bases and exponents and are computed
    // where they are used rather than kept as an R × S matrix.
    uint16_t Exponent(uint32_t k) const {
        return static_cast<uint16_t>(params.firstRecoveryBlock + k);
    }
    static uint16_t Coefficient(uint64_t input, uint16_t exponent) {
        return Gf16Power(Gf16InputBase(static_cast<uint32_t>(input)), exponent);
    }

    PageRegion recovery;
    std::vector<PageRegion> readBuffers;
    std::vector<AsyncReadRequest> requests;
    std::vector<uint64_t> requestAvail;
    std::unique_ptr<WorkerTeam> team;
    std::unique_ptr<OrderedWorker> blockHasher;
    std::unique_ptr<OrderedWorker> fileHasher;
    std::vector<uint16_t> signatures;  // per block, of the current pass
    // Copies of the blocks of one group in the kernel's working layout, and
    // the prepared coefficients of the group (R × group).
    uint32_t group = 1;
    uint64_t workingStride = 0;
    PageRegion working;
    std::vector<FactorTable> tables;
    std::vector<uint64_t> blockTickets, fileTickets;
    // The order in which the passes take the blocks: one block of each file
    // in turn, so that the whole-file hashes of several files can run side
    // by side. Position p of a pass handles block visit[p].
    std::vector<uint64_t> visit;
    std::vector<uint64_t> groupAvail;  // per position in the group: bytes within the file

    uint64_t computeDone = 0;
    uint64_t computeTotal = 0;

    State(CreationParameters& p, CreationStatusSlot& s, const StopFlag& f, CreationJobOptions o)
        : params(p), status(s), stop(f), options(o) {}

    bool Stopped() const { return stop.load(std::memory_order_relaxed) != 0; }

    bool Fail(int code, const std::string& name = {}) {
        CreationStatus st;
        st.phase = kPhaseFailed;
        st.failureCode = code;
        st.fileName = name;
        status.Set(st);
        return false;
    }
    void Phase(int phase, const std::string& name, uint64_t done, uint64_t total) {
        CreationStatus st;
        st.phase = phase;
        st.fileName = name;
        st.done = done;
        st.total = total;
        status.Set(st);
    }

    bool Run();
    bool HashSources();
    bool LayOut();
    bool CreateOutputs();
    bool CreatePieces();
    bool AllocateBuffers();
    bool MemoryTest();
    bool ComputeMatrix();
    bool RunPasses();
    bool StartRead(uint64_t block, uint32_t pass);
    bool CompleteRead(uint64_t block, uint32_t pass, uint8_t*& data, uint64_t& length);
    void MultiplyGroup(uint64_t first, uint32_t count, uint64_t length);
    bool HashesDone(uint64_t block, bool wait);
    void HashGroup(uint64_t first, uint32_t count, uint64_t length);
    bool CheckSignatures(uint64_t length);
    bool WritePass(uint32_t pass, uint64_t length);
    bool FinishPackets();
    bool PutInPlace();
    bool WritePlacements();
    bool VerifyPieces();
    bool ReverifySources();
    bool VerifyOutputs();
    bool CheckWrittenFile(Output& output);
    void Finish(bool failed);
};

bool CreationJob::State::Run() {
    // 1. No saved verification state of an older set of this name may survive.
    if (!params.extendExistingSet) {
        VerificationCache& cache =
            options.cache != nullptr ? *options.cache : VerificationCache::Default();
        cache.DiscardState(params.destinationPath + params.baseName + kStateExtensionPar2);
    }
    // 2.
    blockSize = RoundUp4(params.blockSize);
    if (params.files().empty()) return Fail(kFailNoSourceFiles);
    S = params.sourceBlockCount;
    if (S == 0) return Fail(kFailNoSourceBlocks);
    R = static_cast<uint32_t>(std::min<uint64_t>(params.recoveryBlockCount, 65535));
    // 3.
    pieceBlocks = params.splitPieceBlocks();
    // 4. Memory plan.
    const uint64_t P = params.machine.physicalMemoryBytes;
    if (2 * S * R > P / 2) return Fail(kFailMatrixMemory);
    chunk = CreationChunkSize(blockSize, R, P);
    passes = static_cast<uint32_t>(CeilDiv(blockSize, chunk));
    singlePass = chunk >= blockSize;

    unsigned threads = options.threads != 0 ? options.threads : std::thread::hardware_concurrency();
    threads = std::clamp(threads, 1u, 64u);
    team = std::make_unique<WorkerTeam>(threads);
    if (threads > 1) {
        blockHasher = std::make_unique<OrderedWorker>();
        if (singlePass) fileHasher = std::make_unique<OrderedWorker>();
    }

    if (!HashSources()) return false;
    if (!LayOut()) return false;
    if (!CreateOutputs()) return false;
    if (!CreatePieces()) return false;
    if (!AllocateBuffers()) return false;
    if (!MemoryTest()) return false;
    if (!ComputeMatrix()) return false;
    if (!RunPasses()) return false;
    if (!FinishPackets()) return false;
    if (!WritePlacements()) return false;
    for (Output& o : outputs) o.file->close();
    for (Source& s : sources) {
        s.file->close();
        for (auto& f : s.pieceFiles) f->close();
    }
    requests.clear();
    readBuffers.clear();
    recovery.Release();
    if (options.hooks != nullptr) options.hooks->BeforeVerification();
    if (!VerifyPieces()) return false;
    if (!ReverifySources()) return false;
    if (!VerifyOutputs()) return false;
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
    // 6. Sort by file id; the main packet gives the set id.
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
    // 7.
    if (!creator.Build(setId)) return Fail(kFailDescriptionPacket);
    // 8. Blocks in sorted order.
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
    for (uint32_t count : counts) {
        if (count == 0) continue;
        Output out;
        out.path = VolumeFileName(params.destinationPath, params.baseName, exponent, count, n, m);
        const uint32_t index = static_cast<uint32_t>(outputs.size());
        std::vector<VolumeLayoutEntry> entries;
        out.size = LayOutVolume(count, blockSize, criticalSizes, creator.length(), entries);
        for (const VolumeLayoutEntry& e : entries) {
            if (e.kind == VolumeLayoutEntry::kSlice) {
                slices.push_back({index, e.offset, {}});
                slices.back().packet.BuildHead(setId, exponent + e.index, blockSize);
            } else if (e.kind == VolumeLayoutEntry::kCritical) {
                placements.push_back({index, e.offset, critical[e.index]});
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
        uint64_t offset = 0;
        for (const PacketBuffer* p : critical) {
            placements.push_back({i, offset, p});
            offset += p->length();
        }
        placements.push_back({i, offset, &creator});
        index.size = offset + creator.length();
        outputs.push_back(std::move(index));
    }
    return true;
}

bool CreationJob::State::CreateOutputs() {
    for (Output& o : outputs) {
        o.file = std::make_shared<DiskFile>();
        // Written under a work name; the final name only once verified.
        if (!o.file->create(PartPathOf(o.path))) return Fail(kFailCreateOutput, o.path);
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
            if (!file->create(PartPathOf(piece.path))) return Fail(kFailCreateOutput, piece.path);
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
    std::vector<std::pair<uint8_t*, size_t>> areas;
    areas.push_back({recovery.data(), recovery.size()});
    for (PageRegion& r : readBuffers) areas.push_back({r.data(), r.size()});
    uint64_t all = 0;
    for (auto& a : areas) all += a.second;
    const uint64_t total = all * 32;
    uint64_t done = 0;
    Phase(kPhaseMemoryTest, {}, 0, total);
    const unsigned parts = team->Size();
    std::atomic<bool> bad{false};
    for (uint32_t pattern : kMemoryTestPatterns) {
        for (auto& a : areas) {
            team->Run([&](unsigned t) {
                size_t words = a.second / 4;
                size_t begin = words * t / parts, end = words * (t + 1) / parts;
                uint32_t* w = reinterpret_cast<uint32_t*>(a.first);
                for (size_t i = begin; i < end; ++i) w[i] = pattern;
            });
            if (options.hooks != nullptr) options.hooks->AfterPatternWritten(a.first, a.second);
        }
        done += all;
        status.SetProgress(done, total);
        for (auto& a : areas) {
            team->Run([&](unsigned t) {
                size_t words = a.second / 4;
                size_t begin = words * t / parts, end = words * (t + 1) / parts;
                const uint32_t* w = reinterpret_cast<const uint32_t*>(a.first);
                // Differences are gathered without a branch so that the
                // comparison runs at memory speed.
                uint32_t diff = 0;
                for (size_t i = begin; i < end; ++i) diff |= w[i] ^ pattern;
                if (diff != 0) bad = true;
            });
        }
        done += all;
        status.SetProgress(done, total);
        if (bad) return Fail(kFailMemoryError);
        if (Stopped()) return Fail(kFailMemoryError);
    }
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
    std::atomic<bool> bad{false};
    const MultiplyAccumulateKernel& kernel = ActiveMultiplyAccumulate();
    if (kernel.fromWorking) {
        team->Run([&](unsigned t) {
            for (uint32_t k = t; k < R; k += parts)
                kernel.fromWorking(recovery.data() + uint64_t{k} * chunk, length);
        });
    }
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
    for (uint32_t k = 0; k < R; ++k) {
        uint8_t* data = recovery.data() + uint64_t{k} * chunk;
        if (options.hooks != nullptr) options.hooks->BeforeSignatureCheck(k, data, length);
    }
    team->Run([&](unsigned t) {
        for (uint32_t k = t; k < R; k += parts)
            if (BlockSignature(recovery.data() + uint64_t{k} * chunk, length) != expected[k])
                bad = true;
    });
    return !bad;
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
        if (pass + 1 < passes) {
            CreationStatus st;
            st.phase = kPhaseComputing;
            st.done = computeDone;
            st.total = computeTotal;
            status.Set(st);
        }
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
            if (src.fileMd5Used)
                src.description->FinishWholeFileHash(src.fileMd5.Final());
            else if (src.description->wholeFileHashPending())
                src.description->FinishWholeFileHash();
            src.description->Seal(setId);
        }
    }
    return true;
}

bool CreationJob::State::WritePlacements() {
    for (const Placement& p : placements) {
        Output& out = outputs[p.output];
        const auto& bytes = p.packet->bytes();
        if (!out.file->write(p.offset, bytes.data(), bytes.size()))
            return Fail(kFailWriteCritical, out.path);
    }
    return true;
}

namespace {
// Hashes `size` bytes of `file` block by block (the last block padded with
// zeros to `blockSize`), calling `onBlock` with each block's MD5 and CRC-32
// and feeding every byte read to `whole` when given. False on a read error
// or when `progress` asks to stop.
bool HashBlocks(DiskFile& file, uint64_t size, uint64_t blockSize, Md5Context* whole,
                const std::function<bool(uint64_t, const Md5Digest&, uint32_t)>& onBlock,
                const std::function<bool(uint64_t)>& progress) {
    std::vector<uint8_t> buffer(kVerifyChunk);
    uint64_t position = 0;
    uint64_t index = 0;
    while (position < size) {
        const uint64_t length = std::min(blockSize, size - position);
        Md5Context md5;
        uint32_t crc = 0;
        uint64_t at = 0;
        while (at < length) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(kVerifyChunk, length - at));
            if (!file.read(position + at, buffer.data(), n)) return false;
            md5.Update(buffer.data(), n);
            crc = Crc32Update(crc, buffer.data(), n);
            if (whole != nullptr) whole->Update(buffer.data(), n);
            at += n;
            if (progress && !progress(position + at)) return false;
        }
        md5.UpdateZeros(blockSize - length);
        crc = Crc32UpdateZeros(crc, blockSize - length);
        if (!onBlock(index, md5.Final(), crc)) return false;
        position += length;
        ++index;
    }
    return true;
}
}  // namespace

bool CreationJob::State::VerifyPieces() {
    struct Item {
        std::string path;
        uint32_t source;
        size_t piece;
    };
    std::vector<Item> items;
    for (uint32_t s = 0; s < sources.size(); ++s)
        for (size_t k = 0; k < sources[s].pieces.size(); ++k)
            items.push_back({sources[s].pieces[k].path, s, k});
    std::sort(items.begin(), items.end(),
              [](const Item& a, const Item& b) { return a.path < b.path; });
    for (const Item& item : items) {
        const Source& src = sources[item.source];
        const SplitPiece& piece = src.pieces[item.piece];
        Phase(kPhaseVerifySplit, item.path, 0, piece.size);
        DiskFile file;
        if (!file.open(PartPathOf(item.path)) || file.size != piece.size ||
            CeilDiv(file.size, blockSize) != piece.blockCount)
            return Fail(kFailDataVerify, item.path);
        bool ok = HashBlocks(
            file, file.size, blockSize, nullptr,
            [&](uint64_t j, const Md5Digest& md5, uint32_t crc) {
                const Block& block = blocks[src.firstBlock + piece.firstBlock + j];
                return block.md5.Final() == md5 && block.crc == crc;
            },
            [&](uint64_t position) {
                status.SetProgress(position, piece.size);
                return !Stopped();
            });
        if (!ok) return Fail(kFailDataVerify, item.path);
    }
    return true;
}

// The source files are read again in lockstep, up to sixteen at a time, a
// piece of 1 MiB (or to the next block boundary) from each per step: the
// MD5s of their blocks and of the whole files then run as sixteen streams
// side by side, the block hashes on one thread and the file hashes on
// another. The status names the first file of the batch; files are taken in
// order of name compared without regard to case.
bool CreationJob::State::ReverifySources() {
    std::vector<uint32_t> order(sources.size());
    for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        return LessNoCase(sources[a].name, sources[b].name);
    });
    constexpr size_t kLanes = 16;
    const uint64_t piece = std::min<uint64_t>(kVerifyChunk, blockSize);
    std::vector<std::vector<uint8_t>> buffers(kLanes, std::vector<uint8_t>(piece));
    for (size_t start = 0; start < order.size(); start += kLanes) {
        const size_t lanes = std::min(kLanes, order.size() - start);
        std::vector<DiskFile> files(lanes);
        std::vector<Md5Context> whole(lanes), block(lanes);
        std::vector<uint32_t> crc(lanes, 0);
        uint64_t longest = 0;
        for (size_t l = 0; l < lanes; ++l) {
            const Source& src = sources[order[start + l]];
            if (!files[l].open(src.path) || files[l].size != src.size ||
                CeilDiv(files[l].size, blockSize) != src.blockCount)
                return Fail(kFailDataVerify, src.path);
            longest = std::max(longest, src.size);
        }
        const Source& shown = sources[order[start]];
        Phase(kPhaseReverifySource, shown.name, 0, longest > 0 ? longest : 1);
        uint64_t position = 0;
        while (position < longest) {
            const uint64_t blockEnd = (position / blockSize + 1) * blockSize;
            const uint64_t step = std::min(piece, blockEnd - position);
            // Lanes that read the whole step go side by side; a file's tail
            // is hashed on its own.
            std::vector<size_t> full, partial;
            std::vector<uint64_t> got(lanes, 0);
            for (size_t l = 0; l < lanes; ++l) {
                const uint64_t size = files[l].size;
                if (position >= size) continue;
                got[l] = std::min(step, size - position);
                if (!files[l].read(position, buffers[l].data(), got[l]))
                    return Fail(kFailDataVerify, files[l].path);
                (got[l] == step ? full : partial).push_back(l);
            }
            auto hash = [&](bool wholeFile) {
                std::vector<Md5Context*> contexts;
                std::vector<const uint8_t*> inputs;
                for (size_t l : full) {
                    contexts.push_back(wholeFile ? &whole[l] : &block[l]);
                    inputs.push_back(buffers[l].data());
                }
                Md5Context::UpdateMany(contexts.data(), inputs.data(), contexts.size(), step);
                for (size_t l : partial)
                    (wholeFile ? whole[l] : block[l]).Update(buffers[l].data(), got[l]);
                if (!wholeFile)
                    for (size_t l = 0; l < lanes; ++l)
                        if (got[l] > 0) crc[l] = Crc32Update(crc[l], buffers[l].data(), got[l]);
            };
            team->Run([&](unsigned t) {
                if (team->Size() == 1) {
                    hash(false);
                    hash(true);
                } else if (t < 2) {
                    hash(t == 1);
                }
            });
            position += step;
            // At a block boundary (or a file's end) the block hashes are due.
            for (size_t l = 0; l < lanes; ++l) {
                if (got[l] == 0) continue;
                const uint64_t size = files[l].size;
                if (position != blockEnd && position < size) continue;
                const uint64_t blockStart = blockEnd - blockSize;
                const uint64_t real = std::min(size, blockEnd) - blockStart;
                block[l].UpdateZeros(blockSize - real);
                crc[l] = Crc32UpdateZeros(crc[l], blockSize - real);
                const Source& src = sources[order[start + l]];
                const SliceChecksum entry =
                    src.ifsc->entry(static_cast<uint32_t>(blockStart / blockSize));
                if (!(entry.md5 == block[l].Final()) || entry.crc32 != crc[l])
                    return Fail(kFailDataVerify, src.path);
                block[l].Reset();
                crc[l] = 0;
            }
            status.SetProgress(position, longest);
            if (Stopped()) return Fail(kFailDataVerify);
        }
        for (size_t l = 0; l < lanes; ++l) {
            const Source& src = sources[order[start + l]];
            if (!(whole[l].Final() == src.description->fileHash()))
                return Fail(kFailDataVerify, src.path);
        }
    }
    return true;
}

bool CreationJob::State::CheckWrittenFile(Output& output) {
    DiskFile file;
    if (!file.open(output.file->path) || file.size == 0) return false;
    std::vector<uint8_t> buffer(262144);
    uint64_t offset = 0;
    uint8_t header[kPacketHeaderSize];
    while (offset < file.size) {
        if (file.size - offset < kPacketHeaderSize) return false;
        if (!file.read(offset, header, kPacketHeaderSize)) return false;
        PacketHeader parsed;
        if (!ParsePacketHeader(header, parsed)) return false;
        if (!(parsed.setId == setId)) return false;
        if (parsed.length > file.size - offset) return false;
        if (VerifyPacketHash(file, offset, header, buffer) != PacketHashCheck::Valid) return false;
        offset += parsed.length;
        status.SetProgress(offset, file.size);
        if (Stopped()) return false;
    }
    return offset == file.size;
}

bool CreationJob::State::VerifyOutputs() {
    bool ok = true;
    std::string failedName;
    for (Output& o : outputs) {
        Phase(kPhaseVerifyOutput, FileNameOfPath(o.path), 0, o.size);
        if (!CheckWrittenFile(o)) {
            o.damaged = true;
            if (failedName.empty()) failedName = o.path;
            ok = false;
        }
    }
    if (!ok) return Fail(kFailPar2Verify, failedName);
    return true;
}

void CreationJob::State::Finish(bool failed) {
    const bool stopped = Stopped();
    blockHasher.reset();
    fileHasher.reset();
    requests.clear();  // waits for reads in flight
    readBuffers.clear();
    recovery.Release();
    team.reset();
    for (Output& o : outputs) {
        if (!o.created) continue;
        o.file->close();
        if (o.file->path == o.path) continue;  // in place
        if (stopped || !(failed || o.damaged))
            o.file->remove();
        else
            o.file->rename(o.path + ".bad");
    }
    for (Source& src : sources) {
        for (size_t k = 0; k < src.pieceFiles.size(); ++k) {
            DiskFile& piece = *src.pieceFiles[k];
            piece.close();
            if (k >= src.pieces.size() || piece.path != src.pieces[k].path) piece.remove();
        }
        if (src.file) src.file->close();
    }
    placements.clear();
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
