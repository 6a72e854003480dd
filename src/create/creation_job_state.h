#pragma once
// The working state of a CreationJob, shared by the files that carry out its
// steps: creation_job.cpp (plan, packets, layout, outputs, clean-up),
// creation_passes.cpp (the recovery passes, run by the shared pass of rs/) and
// creation_readback.cpp (reading back what was written). Private to create/.

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/disk_file.h"
#include "core/md5.h"
#include "core/worker_team.h"
#include "create/creation_job.h"
#include "create/split_plan.h"
#include "par2/creator_packet.h"
#include "par2/file_description_packet.h"
#include "par2/ifsc_packet.h"
#include "par2/main_packet.h"
#include "par2/recovery_slice_packet.h"
#include "rs/galois_field.h"
#include "rs/reed_solomon_matrix.h"

namespace vantrove {

class FileHashThread;

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
        // From this byte on the whole-file hash is fed by the read-back, from
        // the very bytes it checks, instead of by the pass.
        uint64_t tailFrom = UINT64_MAX;
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
    // A packet, or (without one) a run of `count` critical packets from
    // list position `first` on, and where it goes.
    struct Placement {
        uint32_t output;
        uint64_t offset;
        const PacketBuffer* packet;
        uint32_t first = 0;
        uint32_t count = 0;
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
    // The critical packets, once final, one after another: every copy of a
    // run is written from here, so that the volumes share one image of the
    // index however many copies of it they carry. indexStarts[k] is where
    // packet k begins (one more entry marks the end).
    std::vector<uint8_t> indexImage;
    std::vector<uint64_t> indexStarts;
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

    std::unique_ptr<WorkerTeam> team;
    // The order in which the passes take the blocks: one block of each file
    // in turn, so that the whole-file hashes of several files can run side
    // by side. Position p of a pass handles block visit[p].
    std::vector<uint64_t> visit;

    State(CreationParameters& p, CreationStatusSlot& s, const StopFlag& f, CreationJobOptions o);
    ~State();

    static uint64_t CeilDiv(uint64_t a, uint64_t b) { return b == 0 ? 0 : (a + b - 1) / b; }
    static uint64_t RoundUp4(uint64_t v) { return (v + 3) & ~uint64_t{3}; }

    bool Stopped() const { return stop.load(std::memory_order_relaxed) != 0; }

    bool Fail(CreationFailure failure, const std::string& name = {}) {
        CreationStatus st;
        st.phase = kPhaseFailed;
        st.failureCode = failure;
        st.fileName = name;
        status.Set(st);
        return false;
    }
    void Phase(CreationPhase phase, const std::string& name, uint64_t done, uint64_t total) {
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
    bool ComputeMatrix();
    bool RunPasses();
    class Pass;
    // Set while a pass runs when the whole-file MD5s have a thread of their own.
    std::unique_ptr<FileHashThread> fileHashThread;
    // Input buffers of the pass that the file hash thread reads in place,
    // with the ticket after which it no longer does.
    std::unordered_map<const uint8_t*, uint64_t> heldInputs;
    // What the read buffers of a pass may take to hold more blocks at once
    // for their MD5s to run side by side. Every block more in a batch also
    // saves a share of the trips through the recovery blocks in memory,
    // which with large blocks cost more than the arithmetic. With a file
    // hash thread the ring holds half a batch more, read while the thread
    // still hashes the last batch in place. Eight blocks of 4 MB in a ring
    // of twelve, with thirteen recovery blocks, peak at about 100 MiB.
    static constexpr uint64_t kHashRingBytes = uint64_t{32} << 20;
    // The most recovery blocks for which the whole-file MD5 of one file
    // still outlasts the arithmetic of the pass on the fastest kernels: a
    // whole-file MD5 costs about as much as multiplying the data into a
    // hundred recovery blocks.
    static constexpr uint32_t kFileHashThreadMostOutputs = 48;
    // The share of that file whose whole-file MD5 the pass feeds, in
    // quarters; the rest is fed by the read-back, so that the hash runs on
    // from the pass into the read-back without waiting in between. With
    // the hash and the pass on a core each, the pass keeps pace with three
    // quarters and the read-back of the whole file fits in the time the
    // hash takes for the last quarter.
    static constexpr uint64_t kPassFedQuarters = 3;
    // The largest block for which the rest is fed by the read-back: it reads
    // a few whole blocks at a time to check them side by side.
    static constexpr uint64_t kTailBlockMost = uint64_t{8} << 20;
    // The order in which the pass takes the blocks of source `src`: the
    // blocks it feeds to the whole-file hash, in order, spread evenly among
    // the others.
    std::vector<uint64_t> PassOrder(const Source& src) const;
    // Adds `length` bytes of each of `count` runs at `data` to the MD5 and
    // CRC-32 at the same place in `contexts` and `crcs`, calling
    // `afterPiece` (when given) after each piece.
    static void HashSideBySide(Md5Context* const* contexts, uint32_t* const* crcs,
                               const uint8_t* const* data, size_t count, size_t length,
                               const std::function<void()>& afterPiece = {});
    // Bytes of all runs together that stay in the second-level cache.
    static constexpr size_t kCachedPieceBytes = 524288;
    void HashInputs(size_t first, const uint8_t* const* data, size_t count, uint64_t offset,
                    size_t length, WorkerTeam& team);
    // The final name of the output or piece written under `workPath`.
    std::string FinalNameOf(const std::string& workPath) const;
    bool FinishPackets();
    bool PutInPlace();
    bool WritePlacements();
    bool VerifyPieces();
    bool ReverifySources();
    struct ReadBackFile;
    class TailCheck;
    bool ReadBack(CreationPhase phase, const std::vector<ReadBackFile>& files);
    bool VerifyOutputs();
    bool CheckWrittenFile(Output& output);
    void Finish(bool failed);
};

}  // namespace vantrove
