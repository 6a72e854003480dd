#include "engine/intact_check.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <new>
#include <system_error>
#include <thread>

#include "core/async_read_request.h"
#include "core/crc32.h"
#include "core/disk_file.h"

namespace vantrove {
namespace {

constexpr uint64_t kHeadBytes = 16384;

// One stream in the lockstep, a whole file or, for a file checked by
// blocks, a run of its blocks: two buffers, so that the next piece is being
// read while this one is hashed.
struct Lane {
    IntactCheckFile* file = nullptr;
    std::atomic<bool>* fileFailed = nullptr;  // shared by the lanes of the file
    uint64_t begin = 0, end = 0;              // the bytes of the file this lane reads
    DiskFile disk;
    std::unique_ptr<uint8_t[]> memory;
    AsyncReadRequest requests[2];
    Md5Context md5;      // of the whole file, or of the block being hashed
    Md5Context headMd5;  // by blocks: of the file's first 16 KiB
    uint32_t crc = 0;
    uint64_t block = 0;  // the block whose CRC is being computed
    uint64_t fill = 0;   // its bytes seen so far
    uint64_t md5Block = 0;  // by blocks: the block being hashed
    uint64_t md5Fill = 0;   // its bytes hashed so far
    uint64_t stride = 0;  // bytes of each of the two buffers
    bool active = false;
    bool finished = false;
    bool match = false;

    bool byBlocks() const { return !file->blockMd5s.empty(); }
};

// The bytes of one lane that a round hashes.
struct Stream {
    Lane* lane;
    const uint8_t* data;
    uint64_t length;
};

class Group {
  public:
    Group(uint64_t blockSize, uint32_t pieceSize) : blockSize_(blockSize), pieceSize_(pieceSize) {}

    void Add(IntactCheckFile* file, std::atomic<bool>* fileFailed, uint64_t begin,
             uint64_t end) {
        lanes_.push_back(std::make_unique<Lane>());
        Lane& lane = *lanes_.back();
        lane.file = file;
        lane.fileFailed = fileFailed;
        lane.begin = begin;
        lane.end = end;
    }
    bool empty() const { return lanes_.empty(); }

    // A file is finished when all its lanes are, and matches when all do;
    // called once every group has run, after the files' verdicts were set.
    void Report() const {
        for (const auto& lane : lanes_) {
            IntactCheckFile& file = *lane->file;
            file.finished = file.finished && lane->finished;
            file.blocksMatch = file.blocksMatch && lane->finished && lane->match;
        }
    }

    // Runs to the end; `goOn` is asked before each round.
    template <typename GoOn>
    void Run(GoOn&& goOn) {
        for (auto& lane : lanes_) Open(*lane);
        for (uint64_t round = 0;; ++round) {
            const uint64_t position = round * pieceSize_;
            bool any = false;
            for (auto& lane : lanes_) any |= lane->active;
            if (!any || !goOn(position)) break;
            Round(round);
        }
        for (auto& lane : lanes_) Close(*lane);
    }

  private:
    // The lane's verdict; a difference also ends the other lanes of its file.
    void Finish(Lane& lane, bool match) {
        lane.active = false;
        lane.finished = true;
        lane.match = match;
        if (!match) lane.fileFailed->store(true, std::memory_order_relaxed);
        if (match && !lane.byBlocks()) {
            lane.file->whole = lane.md5.Final();
            if (lane.file->size < kHeadBytes) lane.file->head = lane.file->whole;
        }
    }

    void Open(Lane& lane) {
        IntactCheckFile& file = *lane.file;
        const uint64_t blocks = (file.size + blockSize_ - 1) / blockSize_;
        if (blockSize_ == 0 || file.blockCrcs.size() != blocks ||
            (lane.byBlocks() && file.blockMd5s.size() != blocks) || !lane.disk.open(file.path) ||
            lane.disk.size != file.size) {
            return Finish(lane, false);
        }
        lane.active = true;
        lane.block = lane.md5Block = lane.begin / blockSize_;
        if (file.size == 0) return Finish(lane, true);
        // A lane that fits in one piece needs one buffer of its size.
        const uint64_t length = lane.end - lane.begin;
        lane.stride = std::min<uint64_t>(pieceSize_, length);
        lane.memory.reset(new (std::nothrow)
                              uint8_t[static_cast<size_t>(length <= pieceSize_ ? length
                                                                                : 2 * pieceSize_)]);
        if (!lane.memory) return Finish(lane, false);
        for (uint64_t round = 0; round < 2; ++round) StartRead(lane, round);
    }

    void Close(Lane& lane) {
        // The buffers may only go once no read writes into them.
        for (AsyncReadRequest& request : lane.requests) {
            if (request.state != 0) lane.disk.completeRead(request);
        }
        lane.disk.close();
        lane.memory.reset();
    }

    uint64_t PieceLength(const Lane& lane, uint64_t round) const {
        const uint64_t at = lane.begin + round * pieceSize_;
        return at >= lane.end ? 0 : std::min<uint64_t>(pieceSize_, lane.end - at);
    }

    void StartRead(Lane& lane, uint64_t round) {
        const uint64_t length = PieceLength(lane, round);
        if (length == 0) return;
        AsyncReadRequest& request = lane.requests[round % 2];
        request.offset = lane.begin + round * pieceSize_;
        request.length = static_cast<uint32_t>(length);
        request.transferred = 0;
        request.buffer = lane.memory.get() + (round % 2) * lane.stride;
        // A read that cannot start is seen failing when it is completed.
        lane.disk.beginRead(request);
    }

    // Checks the CRC of every block that the piece completes; false at the
    // first one that differs.
    bool CheckCrcs(Lane& lane, const uint8_t* data, uint64_t length) {
        const IntactCheckFile& file = *lane.file;
        while (length > 0) {
            const uint64_t blockLength = std::min(blockSize_, file.size - lane.block * blockSize_);
            const uint64_t take = std::min(length, blockLength - lane.fill);
            lane.crc = Crc32Update(lane.crc, data, static_cast<size_t>(take));
            lane.fill += take;
            data += take;
            length -= take;
            if (lane.fill == blockLength) {
                const uint32_t padded = Crc32UpdateZeros(lane.crc, blockSize_ - blockLength);
                if (padded != file.blockCrcs[lane.block]) return false;
                ++lane.block;
                lane.fill = 0;
                lane.crc = 0;
            }
        }
        return true;
    }

    void Round(uint64_t round) {
        const uint64_t position = round * pieceSize_;
        streams_.clear();
        blockStreams_.clear();
        for (auto& lanePtr : lanes_) {
            Lane& lane = *lanePtr;
            if (!lane.active) continue;
            AsyncReadRequest& request = lane.requests[round % 2];
            if (lane.fileFailed->load(std::memory_order_relaxed) ||
                lane.disk.completeRead(request) != DiskFile::ReadStatus::Complete) {
                Finish(lane, false);
                continue;
            }
            const uint64_t length = PieceLength(lane, round);
            if (!CheckCrcs(lane, request.buffer, length)) {
                Finish(lane, false);
                continue;
            }
            if (lane.byBlocks()) {
                if (lane.begin == 0) HashHead(lane, position, request.buffer, length);
                blockStreams_.push_back({&lane, request.buffer, length});
            } else {
                streams_.push_back({&lane, request.buffer, length});
            }
        }
        if (position < kHeadBytes) {
            // The digest of the first 16 KiB is taken on the way, for the
            // files that have that many bytes.
            const uint64_t part = kHeadBytes - position;
            contexts_.clear();
            data_.clear();
            for (const Stream& stream : streams_) {
                if (stream.length < part) continue;
                contexts_.push_back(&stream.lane->md5);
                data_.push_back(stream.data);
            }
            Md5Context::UpdateMany(contexts_.data(), data_.data(), contexts_.size(),
                                   static_cast<size_t>(part));
            for (Stream& stream : streams_) {
                if (stream.length < part) continue;
                stream.lane->file->head = stream.lane->md5.Final();
                stream.data += part;
                stream.length -= part;
            }
        }
        HashSideBySide(streams_);
        HashBlocks();
        for (auto& lanePtr : lanes_) {
            Lane& lane = *lanePtr;
            if (!lane.active) continue;
            if (lane.begin + position + pieceSize_ >= lane.end) {
                Finish(lane, lane.block * blockSize_ >= lane.end &&
                                 (!lane.byBlocks() || lane.md5Block * blockSize_ >= lane.end));
            } else {
                StartRead(lane, round + 2);
            }
        }
    }

    // By blocks: the first 16 KiB of the file go into their own digest, in
    // the lane that starts the file.
    void HashHead(Lane& lane, uint64_t at, const uint8_t* data, uint64_t length) {
        const uint64_t headEnd = std::min(kHeadBytes, lane.file->size);
        if (at >= headEnd) return;
        const uint64_t take = std::min(length, headEnd - at);
        lane.headMd5.Update(data, static_cast<size_t>(take));
        if (at + take == headEnd) lane.file->head = lane.headMd5.Final();
    }

    // By blocks: hashes the round's pieces block by block. The lanes start
    // on block boundaries and advance by whole pieces, so their blocks end
    // at the same place in the piece (except where a file ends) and each
    // step hashes every lane side by side up to the nearest block end. A
    // block that is complete is padded, compared and started afresh.
    void HashBlocks() {
        while (!blockStreams_.empty()) {
            steps_.clear();
            for (const Stream& stream : blockStreams_) {
                steps_.push_back({stream.lane, stream.data, StepOf(stream)});
            }
            HashSideBySide(steps_);  // reorders steps_
            size_t kept = 0;
            for (Stream& stream : blockStreams_) {
                Lane& lane = *stream.lane;
                const uint64_t step = StepOf(stream);
                const uint64_t blockLength = BlockLength(lane.md5Block, *lane.file);
                stream.data += step;
                stream.length -= step;
                lane.md5Fill += step;
                if (lane.md5Fill == blockLength) {
                    lane.md5.UpdateZeros(blockSize_ - blockLength);
                    if (!(lane.md5.Final() == lane.file->blockMd5s[lane.md5Block])) {
                        Finish(lane, false);
                        continue;
                    }
                    lane.md5.Reset();
                    ++lane.md5Block;
                    lane.md5Fill = 0;
                }
                if (stream.length > 0) blockStreams_[kept++] = stream;
            }
            blockStreams_.resize(kept);
        }
    }

    uint64_t BlockLength(uint64_t block, const IntactCheckFile& file) const {
        return std::min(blockSize_, file.size - block * blockSize_);
    }

    // The bytes of the stream that belong to its lane's block being hashed.
    uint64_t StepOf(const Stream& stream) const {
        const Lane& lane = *stream.lane;
        return std::min(stream.length, BlockLength(lane.md5Block, *lane.file) - lane.md5Fill);
    }

    // Hashes every stream given. The streams' lengths differ where files
    // end: shortest first, all streams still going advance together to the
    // next one's last whole 64-byte block, so that they stay on block
    // boundaries and run side by side; each stream's last few bytes go alone.
    void HashSideBySide(std::vector<Stream>& streams) {
        std::sort(streams.begin(), streams.end(),
                  [](const Stream& a, const Stream& b) { return a.length < b.length; });
        contexts_.clear();
        data_.clear();
        for (const Stream& stream : streams) {
            contexts_.push_back(&stream.lane->md5);
            data_.push_back(stream.data);
        }
        uint64_t done = 0;
        for (size_t i = 0; i < streams.size(); ++i) {
            const uint64_t whole = streams[i].length & ~uint64_t{63};
            if (whole > done) {
                Md5Context::UpdateMany(contexts_.data() + i, data_.data() + i,
                                       contexts_.size() - i, static_cast<size_t>(whole - done));
                for (size_t k = i; k < data_.size(); ++k) data_[k] += whole - done;
                done = whole;
            }
            contexts_[i]->Update(data_[i], static_cast<size_t>(streams[i].length - whole));
        }
    }

    uint64_t blockSize_;
    uint64_t pieceSize_;
    std::vector<std::unique_ptr<Lane>> lanes_;
    std::vector<Stream> streams_;       // whole files
    std::vector<Stream> blockStreams_;  // files by blocks
    std::vector<Stream> steps_;
    std::vector<Md5Context*> contexts_;
    std::vector<const uint8_t*> data_;
};

// Whole multiples of the first 16 KiB, at least one.
uint32_t PieceSizeOf(const IntactCheck::Options& options) {
    return std::max<uint32_t>(static_cast<uint32_t>(kHeadBytes),
                              options.pieceSize / kHeadBytes * static_cast<uint32_t>(kHeadBytes));
}

}  // namespace

uint64_t IntactCheck::BufferBytes(uint64_t size, const Options& options) {
    const uint64_t piece = PieceSizeOf(options);
    return size <= piece ? size : 2 * piece;
}

bool IntactCheck::Run(std::vector<IntactCheckFile>& files, uint64_t blockSize,
                      const std::function<bool(uint64_t)>& progress) {
    return Run(files, blockSize, progress, Options{});
}

bool IntactCheck::Run(std::vector<IntactCheckFile>& files, uint64_t blockSize,
                      const std::function<bool(uint64_t)>& progress, const Options& options) {
    const uint32_t pieceSize = PieceSizeOf(options);

    // The lanes: a whole file each, or the runs of whole blocks that a file
    // checked by blocks is cut into, as even as can be; the first run holds
    // at least the first 16 KiB, whose digest it takes.
    struct Span {
        size_t file;
        uint64_t begin, end;
    };
    std::vector<Span> spans;
    uint64_t firstFileSpans = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        const IntactCheckFile& file = files[i];
        const size_t before = spans.size();
        if (file.blockMd5s.empty() || blockSize == 0) {
            spans.push_back({i, 0, file.size});
        } else {
            const uint64_t blocks = (file.size + blockSize - 1) / blockSize;
            const uint64_t headBlocks = (std::min(file.size, kHeadBytes) + blockSize - 1) / blockSize;
            const uint64_t parts =
                std::clamp<uint64_t>(blocks, 1, std::max(1u, options.streamsPerFile));
            uint64_t begin = 0;
            for (uint64_t p = 1; p <= parts; ++p) {
                const uint64_t end = p == parts ? blocks : std::max(blocks * p / parts, headBlocks);
                if (end <= begin) continue;
                spans.push_back({i, begin * blockSize, std::min(file.size, end * blockSize)});
                begin = end;
            }
            if (spans.size() == before) spans.push_back({i, 0, file.size});
        }
        if (i == 0) firstFileSpans = spans.size();
    }
    auto fileFailed = std::make_unique<std::atomic<bool>[]>(files.size());
    for (size_t i = 0; i < files.size(); ++i) fileFailed[i].store(false);

    // The lanes go to the groups by length, longest first, each to the group
    // with the fewest bytes so far; the first lane stays with the caller.
    const unsigned threads = std::max(1u, options.threads);
    std::vector<std::unique_ptr<Group>> groups;
    for (unsigned g = 0; g < threads; ++g)
        groups.push_back(std::make_unique<Group>(blockSize, pieceSize));
    std::vector<uint64_t> load(threads, 0);
    std::vector<size_t> order(spans.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    if (!order.empty()) {
        std::stable_sort(order.begin() + 1, order.end(), [&](size_t a, size_t b) {
            return spans[a].end - spans[a].begin > spans[b].end - spans[b].begin;
        });
    }
    for (size_t index : order) {
        const Span& span = spans[index];
        const size_t g = index == 0 ? 0 : std::min_element(load.begin(), load.end()) - load.begin();
        groups[g]->Add(&files[span.file], &fileFailed[span.file], span.begin, span.end);
        load[g] += span.end - span.begin;
    }

    std::atomic<bool> stop{false};
    std::vector<std::thread> helpers;
    std::vector<Group*> unthreaded;
    for (size_t g = 1; g < groups.size(); ++g) {
        if (groups[g]->empty()) continue;
        try {
            helpers.emplace_back([&stop, group = groups[g].get()] {
                group->Run([&stop](uint64_t) { return !stop.load(std::memory_order_relaxed); });
            });
        } catch (const std::system_error&) {
            unthreaded.push_back(groups[g].get());  // the caller runs it after its own
        }
    }
    bool goOn = true;
    // The caller's lane advances as fast as the other lanes of its file.
    const uint64_t firstSize = files.empty() ? 0 : files[0].size;
    auto ask = [&](uint64_t position) {
        const uint64_t done = std::min(firstSize, position * firstFileSpans);
        if (goOn && progress && !progress(done)) {
            goOn = false;
            stop.store(true, std::memory_order_relaxed);
        }
        return goOn;
    };
    groups[0]->Run(ask);
    for (Group* group : unthreaded) group->Run(ask);
    for (std::thread& helper : helpers) helper.join();
    for (IntactCheckFile& file : files) file.finished = file.blocksMatch = true;
    for (auto& group : groups) group->Report();
    return goOn;
}

}  // namespace vantrove
