// Reading back what a creation job wrote: the split pieces and the source
// files against the block hashes, and every output file packet by packet.

#include <algorithm>
#include <atomic>
#include <cstdint>

#include "core/crc32.h"
#include "core/path.h"
#include "create/creation_job_state.h"
#include "create/file_hash_thread.h"
#include "par2/packet_header.h"

namespace vantrove {

namespace {

// Bytes read from one file at a time, small enough for a thread's sixteen
// pieces to be hashed while they are still in the processor's caches.
constexpr size_t kVerifyChunk = 262144;
// Streams hashed side by side on one thread.
constexpr size_t kLanes = 16;
// The read buffers of all threads together stay within this.
constexpr uint64_t kReadBackMemory = uint64_t{16} << 20;
// A stretch of a file taken by one stream at a time is at most this long.
constexpr uint64_t kStretchBytes = uint64_t{8} << 20;
// The rest of a file that feeds the whole-file hash is read this many bytes
// at a time at most, in whole blocks checked side by side.
constexpr uint64_t kTailGroupBytes = uint64_t{32} << 20;

}  // namespace

// A file read back: its size and the MD5 and CRC-32 of each of its blocks
// must be those recorded when its data went through the pass, and its
// whole-file MD5 that of its description where that digest was not taken
// from those same bytes.
struct CreationJob::State::ReadBackFile {
    std::string path;        // the file read
    std::string failedName;  // the name a failure gives
    std::string shownName;   // the name the status shows
    uint64_t size = 0;
    uint64_t firstBlock = 0;  // its first block in `blocks`
    const Md5Digest* whole = nullptr;
    // From this byte on, the blocks read are fed in order to `tailHash` on
    // the file hash thread once checked.
    uint64_t tailFrom = UINT64_MAX;
    Md5Context* tailHash = nullptr;
};

namespace {

// A stretch of one file, starting on a block boundary, read and hashed by
// one stream; a file whose whole-file MD5 is checked is one stretch.
struct Stretch {
    uint32_t file;
    uint64_t begin;
    uint64_t end;
};

struct Stream {
    size_t stretch = SIZE_MAX;
    DiskFile file;
    uint64_t position = 0;    // in the file: the next byte to hash
    uint64_t blockStart = 0;  // where the block being hashed starts
    uint64_t end = 0;         // of the stretch
    const uint8_t* data = nullptr;
    uint64_t buffered = 0;  // bytes at `data` not hashed yet
    Md5Context block, whole;
    uint32_t crc = 0;
    std::vector<uint8_t> buffer;
};

}  // namespace

// The rest of a file whose whole-file MD5 the pass left unfinished: read a
// group of whole blocks at a time, each group checked block by block (the
// blocks side by side) and then handed, in place, to the file hash thread,
// which so finishes the whole-file MD5 from bytes known to be those the pass
// hashed. Two groups take turns, one read and checked while the hash thread
// works on the other. Steps never wait for the hash thread unless asked
// to, so that the thread reading back can check other files meanwhile.
class CreationJob::State::TailCheck {
  public:
    TailCheck(State& job, const ReadBackFile& file, std::atomic<uint64_t>& done)
        : job_(job), file_(file), done_(done), groupEnd_(file.tailFrom) {
        group_ = std::max<uint64_t>(1, kTailGroupBytes / job.blockSize) * job.blockSize;
        opened_ = disk_.open(file.path) && disk_.size == file.size;
    }

    bool Done() const { return failed_ || groupEnd_ == file_.size; }
    bool Failed() const { return failed_; }
    // Reads, checks and hands over the next group if its buffer is free
    // (waiting for it with `wait`). False when a block fails.
    bool Step(bool wait) {
        if (!opened_) failed_ = true;
        if (Done()) return !failed_;
        Turn& turn = turns_[next_];
        if (turn.ticket != 0) {
            if (wait)
                job_.fileHashThread->WaitHashed(turn.ticket);
            else if (!job_.fileHashThread->Hashed(turn.ticket))
                return true;
        }
        const uint64_t begin = groupEnd_;
        groupEnd_ = std::min(file_.size, begin + group_);
        const auto length = static_cast<size_t>(groupEnd_ - begin);
        if (turn.buffer.size() < length) turn.buffer.resize(length);
        if (!disk_.read(begin, turn.buffer.data(), length) ||
            !Check(begin, turn.buffer.data(), length)) {
            failed_ = true;
            return false;
        }
        done_.fetch_add(length);
        turn.ticket = job_.fileHashThread->FeedInPlace(file_.tailHash, turn.buffer.data(), length);
        next_ ^= 1;
        return true;
    }
    // Waits until the hash thread no longer reads the buffers.
    ~TailCheck() {
        for (const Turn& turn : turns_)
            if (turn.ticket != 0) job_.fileHashThread->WaitHashed(turn.ticket);
    }

  private:
    // The `length` bytes at `data`, read from `begin` on, against the
    // blocks recorded in the pass.
    bool Check(uint64_t begin, const uint8_t* data, size_t length) const {
        const uint64_t bs = job_.blockSize;
        const size_t count = static_cast<size_t>((length + bs - 1) / bs);
        const uint64_t firstBlock = file_.firstBlock + begin / bs;
        // Whole blocks side by side; a short last block of the file alone,
        // padded with zeros to the block size as the pass took it.
        const size_t whole = length / bs;
        std::vector<Md5Context> md5(count);
        std::vector<uint32_t> crc(count, 0);
        std::vector<Md5Context*> contexts;
        std::vector<uint32_t*> crcs;
        std::vector<const uint8_t*> starts;
        for (size_t k = 0; k < whole; ++k) {
            contexts.push_back(&md5[k]);
            crcs.push_back(&crc[k]);
            starts.push_back(data + k * bs);
        }
        HashSideBySide(contexts.data(), crcs.data(), starts.data(), whole, bs);
        if (whole < count) {
            const uint64_t real = length - whole * bs;
            md5[whole].Update(data + whole * bs, real);
            md5[whole].UpdateZeros(bs - real);
            crc[whole] = Crc32UpdateZeros(Crc32Update(0, data + whole * bs, real), bs - real);
        }
        for (size_t k = 0; k < count; ++k) {
            const Block& expected = job_.blocks[firstBlock + k];
            if (crc[k] != expected.crc || !(md5[k].Final() == expected.md5.Final())) return false;
        }
        return true;
    }

    struct Turn {
        std::vector<uint8_t> buffer;
        uint64_t ticket = 0;  // of the hash of what it holds
    };
    State& job_;
    const ReadBackFile& file_;
    std::atomic<uint64_t>& done_;
    DiskFile disk_;
    Turn turns_[2];
    size_t next_ = 0;
    uint64_t group_ = 0;     // bytes read at a time, whole blocks
    uint64_t groupEnd_ = 0;  // read and checked up to here
    bool opened_ = false;
    bool failed_ = false;
};

// Reads `files` back. Every block is an independent stream: the blocks of
// one file are read and hashed side by side like those of different files,
// up to kLanes streams per thread on every thread of the team.
//
// When a file's whole-file MD5 was computed in the pass from the very bytes
// whose block MD5s and CRC-32s were recorded, comparing every block of the
// file as it now is with those, and its size, shows that it is byte for byte
// what the pass hashed, up to an MD5 collision within a block, the same bound
// a whole-file MD5 gives: so that digest is the file's, and it is not taken
// again. Files whose whole-file MD5 came from another read carry it in
// `whole` and are hashed whole, in one stream.
bool CreationJob::State::ReadBack(CreationPhase phase, const std::vector<ReadBackFile>& files) {
    if (files.empty()) return true;
    const unsigned threads = team->Size();
    uint64_t total = 0;
    for (const ReadBackFile& f : files) total += f.size;
    const uint64_t stretchBytes =
        std::clamp<uint64_t>(total / (uint64_t{threads} * kLanes), blockSize, kStretchBytes);
    const uint64_t stretchBlocks = std::max<uint64_t>(1, stretchBytes / blockSize);
    std::vector<Stretch> stretches;
    const ReadBackFile* tailFile = nullptr;
    for (uint32_t i = 0; i < files.size(); ++i) {
        const ReadBackFile& f = files[i];
        const uint64_t step = f.whole != nullptr ? f.size : stretchBlocks * blockSize;
        // A rest that feeds the whole-file hash is read apart.
        const uint64_t limit = std::min(f.size, f.tailFrom);
        if (limit < f.size) tailFile = &f;
        uint64_t at = 0;
        do {
            const uint64_t end = std::min(limit, at + step);
            stretches.push_back({i, at, end});
            at = end;
        } while (at < limit);
    }
    // Large blocks are read a piece at a time, small ones many to a read.
    const uint64_t bufferBytes =
        blockSize >= kVerifyChunk ? kVerifyChunk : kVerifyChunk / blockSize * blockSize;
    const size_t lanes = static_cast<size_t>(
        std::clamp<uint64_t>(std::min<uint64_t>(kReadBackMemory / (bufferBytes * threads),
                                                CeilDiv(stretches.size(), threads)),
                             1, kLanes));

    Phase(phase, files[0].shownName, 0, std::max<uint64_t>(total, 1));
    std::atomic<size_t> next{0};
    std::atomic<size_t> failed{SIZE_MAX};
    std::atomic<uint64_t> done{0};
    std::atomic<uint32_t> shown{0};
    auto fail = [&](size_t stretch) {
        size_t was = failed.load();
        while (stretch < was && !failed.compare_exchange_weak(was, stretch)) {
        }
    };
    std::unique_ptr<TailCheck> tail;
    if (tailFile != nullptr) tail = std::make_unique<TailCheck>(*this, *tailFile, done);
    auto ended = [&] {
        return failed.load() != SIZE_MAX || (tail != nullptr && tail->Failed()) || Stopped();
    };

    // Takes the next stretch into `s`; false when none is left or it cannot
    // be opened as the file it should be.
    auto take = [&](Stream& s) {
        const size_t taken = next.fetch_add(1);
        if (taken >= stretches.size()) return false;
        const Stretch& st = stretches[taken];
        const ReadBackFile& f = files[st.file];
        uint32_t was = shown.load();
        while (st.file > was && !shown.compare_exchange_weak(was, st.file)) {
        }
        if (st.file > was) Phase(phase, f.shownName, done.load(), std::max<uint64_t>(total, 1));
        if (!s.file.open(f.path) || s.file.size != f.size) {
            fail(taken);
            return false;
        }
        s.stretch = taken;
        s.position = s.blockStart = st.begin;
        s.end = st.end;
        s.block.Reset();
        s.whole.Reset();
        s.crc = 0;
        return true;
    };
    // The block ending at `s.position` is complete: compare it.
    auto checkBlock = [&](Stream& s) {
        const ReadBackFile& f = files[stretches[s.stretch].file];
        const uint64_t real = s.position - s.blockStart;
        s.block.UpdateZeros(blockSize - real);
        const Block& expected = blocks[f.firstBlock + s.blockStart / blockSize];
        const bool match = expected.md5.Final() == s.block.Final() &&
                           expected.crc == Crc32UpdateZeros(s.crc, blockSize - real);
        s.block.Reset();
        s.crc = 0;
        s.blockStart = s.position;
        return match;
    };
    // The stretch of `s` is hashed to its end.
    auto finishStretch = [&](Stream& s) {
        const ReadBackFile& f = files[stretches[s.stretch].file];
        s.file.close();
        const bool ok = f.whole == nullptr || s.whole.Final() == *f.whole;
        s.stretch = SIZE_MAX;
        return ok;
    };

    // With a rest to feed, the whole-file hash takes a core of its own, and
    // one thread reads back everything, feeding it between rounds.
    team->Run([&](unsigned t) {
        if (tail != nullptr && t > 0) return;
        std::vector<Stream> streams(lanes);
        std::vector<Md5Context*> contexts;
        std::vector<const uint8_t*> inputs;
        std::vector<Stream*> active;
        bool more = true;
        while (!ended()) {
            if (tail != nullptr) tail->Step(false);
            // Every stream reads its next piece, taking a new stretch when
            // its own is done.
            active.clear();
            for (Stream& s : streams) {
                while (s.stretch == SIZE_MAX && more) {
                    more = take(s);
                    if (!more) break;
                    // An empty file has no block: only its size and digest.
                    const size_t taken = s.stretch;
                    if (s.position == s.end && !finishStretch(s)) fail(taken);
                }
                if (s.stretch == SIZE_MAX) continue;
                const uint64_t blockEnd = s.blockStart + blockSize;
                const uint64_t want =
                    std::min(s.end - s.position, blockSize >= kVerifyChunk
                                                     ? std::min(bufferBytes, blockEnd - s.position)
                                                     : bufferBytes);
                if (s.buffer.size() < want) s.buffer.resize(want);
                if (!s.file.read(s.position, s.buffer.data(), want)) {
                    fail(s.stretch);
                    break;
                }
                s.data = s.buffer.data();
                s.buffered = want;
                done.fetch_add(want);
                active.push_back(&s);
            }
            if (active.empty() || ended()) break;
            // Hashed to the end of the current block of each stream, the
            // part common to all side by side: a length on a 64-byte boundary
            // keeps every stream fit to go on side by side.
            while (!active.empty()) {
                uint64_t shortest = UINT64_MAX;
                bool ragged = false;
                for (Stream* s : active) {
                    const uint64_t n =
                        std::min(s->buffered, s->blockStart + blockSize - s->position);
                    ragged = ragged || (shortest != UINT64_MAX && n != shortest);
                    shortest = std::min(shortest, n);
                }
                uint64_t length = ragged ? shortest & ~uint64_t{63} : shortest;
                contexts.clear();
                inputs.clear();
                for (Stream* s : active) {
                    const uint64_t n =
                        std::min(s->buffered, s->blockStart + blockSize - s->position);
                    // A stream within 64 bytes of its block's end takes that
                    // end on its own.
                    const uint64_t take = length == 0 ? (n < 64 ? n : 0) : length;
                    if (take == 0) continue;
                    if (length == 0)
                        s->block.Update(s->data, take);
                    else {
                        contexts.push_back(&s->block);
                        inputs.push_back(s->data);
                    }
                    s->crc = Crc32Update(s->crc, s->data, take);
                    if (files[stretches[s->stretch].file].whole != nullptr)
                        s->whole.Update(s->data, take);
                    s->data += take;
                    s->buffered -= take;
                    s->position += take;
                }
                Md5Context::UpdateMany(contexts.data(), inputs.data(), contexts.size(), length);
                size_t kept = 0;
                for (Stream* s : active) {
                    const uint64_t fileEnd = files[stretches[s->stretch].file].size;
                    if (s->position == s->blockStart + blockSize || s->position == fileEnd) {
                        if (!checkBlock(*s)) fail(s->stretch);
                    }
                    if (s->position == s->end) {
                        const size_t taken = s->stretch;
                        if (!finishStretch(*s)) fail(taken);
                    } else if (s->buffered > 0) {
                        active[kept++] = s;
                    }
                }
                active.resize(kept);
            }
            if (t == 0) status.SetProgress(done.load(), total);
        }
        while (tail != nullptr && !tail->Done() && !ended()) {
            tail->Step(true);
            status.SetProgress(done.load(), total);
        }
    });
    if (failed.load() != SIZE_MAX)
        return Fail(kFailDataVerify, files[stretches[failed.load()].file].failedName);
    if (tail != nullptr && tail->Failed()) return Fail(kFailDataVerify, tailFile->failedName);
    if (Stopped()) return Fail(kFailDataVerify);
    return true;
}

bool CreationJob::State::VerifyPieces() {
    std::vector<ReadBackFile> files;
    for (const Source& src : sources)
        for (size_t k = 0; k < src.pieces.size(); ++k) {
            const SplitPiece& piece = src.pieces[k];
            files.push_back({src.pieceFiles[k]->path, piece.path, piece.path, piece.size,
                             src.firstBlock + piece.firstBlock, nullptr});
        }
    std::sort(files.begin(), files.end(), [](const ReadBackFile& a, const ReadBackFile& b) {
        return a.failedName < b.failedName;
    });
    return ReadBack(kPhaseVerifySplit, files);
}

// The source files, in order of name compared without regard to case.
bool CreationJob::State::ReverifySources() {
    std::vector<uint32_t> order(sources.size());
    for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        return LessNoCase(sources[a].name, sources[b].name);
    });
    std::vector<Md5Digest> digests(sources.size());
    std::vector<ReadBackFile> files;
    for (uint32_t i : order) {
        Source& src = sources[i];
        // A whole-file MD5 taken apart from the pass is compared with the
        // file as it is read back.
        if (!src.fileMd5Used && !params.extendExistingSet &&
            src.description->wholeFileHashPending())
            src.description->FinishWholeFileHash();
        digests[i] = src.description->fileHash();
        files.push_back({src.path, src.path, src.name, src.size, src.firstBlock,
                         src.fileMd5Used ? nullptr : &digests[i], src.tailFrom, &src.fileMd5});
    }
    if (!ReadBack(kPhaseReverifySource, files)) return false;
    // Every rest fed: the whole-file hashes are complete once the thread
    // has hashed what it holds.
    fileHashThread.reset();
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

// The written files are checked side by side, each taken in turn by the
// next free thread; a failure names the first damaged file in output order.
bool CreationJob::State::VerifyOutputs() {
    std::atomic<size_t> next{0};
    team->Run([&](unsigned) {
        for (size_t n; (n = next.fetch_add(1)) < outputs.size();) {
            Output& o = outputs[n];
            Phase(kPhaseVerifyOutput, FileNameOfPath(o.path), 0, o.size);
            if (!CheckWrittenFile(o)) o.damaged = true;
        }
    });
    for (const Output& o : outputs)
        if (o.damaged) return Fail(kFailPar2Verify, o.path);
    return true;
}

}  // namespace vantrove
