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

// One file in the lockstep: two buffers, so that the next piece is being
// read while this one is hashed.
struct Lane {
    IntactCheckFile* file = nullptr;
    DiskFile disk;
    std::unique_ptr<uint8_t[]> memory;
    AsyncReadRequest requests[2];
    Md5Context md5;
    uint32_t crc = 0;
    uint64_t block = 0;  // the block being checked
    uint64_t fill = 0;   // its bytes seen so far
    uint64_t stride = 0;  // bytes of each of the two buffers
    bool active = false;
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

    void Add(IntactCheckFile* file) {
        lanes_.push_back(std::make_unique<Lane>());
        lanes_.back()->file = file;
    }
    bool empty() const { return lanes_.empty(); }

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
    void Finish(Lane& lane, bool match) {
        lane.active = false;
        lane.file->finished = true;
        lane.file->crcsMatch = match;
        if (match) {
            lane.file->whole = lane.md5.Final();
            if (lane.file->size < kHeadBytes) lane.file->head = lane.file->whole;
        }
    }

    void Open(Lane& lane) {
        IntactCheckFile& file = *lane.file;
        const uint64_t blocks = (file.size + blockSize_ - 1) / blockSize_;
        if (blockSize_ == 0 || file.blockCrcs.size() != blocks || !lane.disk.open(file.path) ||
            lane.disk.size != file.size) {
            return Finish(lane, false);
        }
        lane.active = true;
        if (file.size == 0) return Finish(lane, true);
        // A file that fits in one piece needs one buffer of its size.
        lane.stride = std::min<uint64_t>(pieceSize_, file.size);
        lane.memory.reset(new (std::nothrow) uint8_t[static_cast<size_t>(
            file.size <= pieceSize_ ? file.size : 2 * pieceSize_)]);
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
        const uint64_t at = round * pieceSize_;
        return at >= lane.file->size ? 0 : std::min<uint64_t>(pieceSize_, lane.file->size - at);
    }

    void StartRead(Lane& lane, uint64_t round) {
        const uint64_t length = PieceLength(lane, round);
        if (length == 0) return;
        AsyncReadRequest& request = lane.requests[round % 2];
        request.offset = round * pieceSize_;
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
        for (auto& lanePtr : lanes_) {
            Lane& lane = *lanePtr;
            if (!lane.active) continue;
            AsyncReadRequest& request = lane.requests[round % 2];
            if (lane.disk.completeRead(request) != DiskFile::ReadStatus::Complete) {
                Finish(lane, false);
                continue;
            }
            const uint64_t length = PieceLength(lane, round);
            if (!CheckCrcs(lane, request.buffer, length)) {
                Finish(lane, false);
                continue;
            }
            streams_.push_back({&lane, request.buffer, length});
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
        HashSideBySide();
        for (auto& lanePtr : lanes_) {
            Lane& lane = *lanePtr;
            if (!lane.active) continue;
            if (position + pieceSize_ >= lane.file->size) {
                Finish(lane, lane.block * blockSize_ >= lane.file->size);
            } else {
                StartRead(lane, round + 2);
            }
        }
    }

    // Hashes every stream of the round. The streams' lengths differ where
    // files end: shortest first, all streams still going advance together
    // to the next one's last whole 64-byte block, so that they stay on block
    // boundaries and run side by side; each stream's last few bytes go alone.
    void HashSideBySide() {
        std::sort(streams_.begin(), streams_.end(),
                  [](const Stream& a, const Stream& b) { return a.length < b.length; });
        contexts_.clear();
        data_.clear();
        for (const Stream& stream : streams_) {
            contexts_.push_back(&stream.lane->md5);
            data_.push_back(stream.data);
        }
        uint64_t done = 0;
        for (size_t i = 0; i < streams_.size(); ++i) {
            const uint64_t whole = streams_[i].length & ~uint64_t{63};
            if (whole > done) {
                Md5Context::UpdateMany(contexts_.data() + i, data_.data() + i,
                                       contexts_.size() - i, static_cast<size_t>(whole - done));
                for (size_t k = i; k < data_.size(); ++k) data_[k] += whole - done;
                done = whole;
            }
            contexts_[i]->Update(data_[i], static_cast<size_t>(streams_[i].length - whole));
        }
    }

    uint64_t blockSize_;
    uint64_t pieceSize_;
    std::vector<std::unique_ptr<Lane>> lanes_;
    std::vector<Stream> streams_;
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
    for (IntactCheckFile& file : files) {
        file.finished = false;
        file.crcsMatch = false;
    }
    const uint32_t pieceSize = PieceSizeOf(options);
    // The files go to the groups by size, largest first, each to the group
    // with the fewest bytes so far; the first file stays with the caller.
    const unsigned threads = std::max(1u, options.threads);
    std::vector<std::unique_ptr<Group>> groups;
    for (unsigned g = 0; g < threads; ++g)
        groups.push_back(std::make_unique<Group>(blockSize, pieceSize));
    std::vector<uint64_t> load(threads, 0);
    std::vector<size_t> order(files.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    if (!order.empty()) {
        std::stable_sort(order.begin() + 1, order.end(),
                         [&](size_t a, size_t b) { return files[a].size > files[b].size; });
    }
    for (size_t index : order) {
        const size_t g = index == 0 ? 0 : std::min_element(load.begin(), load.end()) - load.begin();
        groups[g]->Add(&files[index]);
        load[g] += files[index].size;
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
    auto ask = [&](uint64_t position) {
        if (goOn && progress && !progress(position)) {
            goOn = false;
            stop.store(true, std::memory_order_relaxed);
        }
        return goOn;
    };
    groups[0]->Run(ask);
    for (Group* group : unthreaded) group->Run(ask);
    for (std::thread& helper : helpers) helper.join();
    return goOn;
}

}  // namespace vantrove
