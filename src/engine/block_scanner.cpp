#include "engine/block_scanner.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <new>
#include <system_error>

#include "core/crc32.h"

namespace vantrove {

namespace {

static_assert(std::endian::native == std::endian::little,
              "the slide loop reads four bytes at a time as a little-endian word");

// Ring sizing: two or three block sizes ahead of the window.
constexpr uint64_t kThreeBlockLimit = 5000000;
constexpr uint64_t kRingBlockLimit = 100000000;
// The least read-ahead of the ring, whatever the block size.
constexpr uint64_t kMinRingBytes = 1u << 20;
// Read-ahead for block sizes above kRingBlockLimit, on top of one block size.
constexpr uint64_t kLargeBlockReadAhead = 32u << 20;

// The tables one slide step needs, gathered so the loop keeps them in
// registers.
struct SlideTables {
    const uint32_t* t0;
    const uint32_t* t1;
    const uint32_t* t2;
    const uint32_t* t3;
    const uint32_t* w0;
    const uint32_t* w1;
    const uint32_t* w2;
    const uint32_t* w3;
    uint32_t mask;
};

// Slides the window register `reg` (the CRC XOR the window's mask) over n
// byte pairs: out[i] leaves, in[i] enters. Stops after the first step whose
// CRC passes the filter and returns the number of steps taken.
//
// Four steps are done per round: the register after four steps is computed
// directly from the register before them (slice-by-four for the incoming
// word, Wk for the outgoing bytes), which keeps the loop-carried dependency
// at one table lookup per four bytes; the three intermediate values, needed
// only for the filter test, hang off that chain and overlap with it.
inline size_t SlideRun(uint32_t& reg, const uint8_t* out, const uint8_t* in, size_t n,
                       const CrcFilter& filter, const SlideTables& t, bool* hit) {
    const uint64_t* words = filter.words;
    const uint32_t wordMask = filter.wordMask;
    const uint32_t m = t.mask;
    auto pass = [words, wordMask, m](uint32_t r) -> uint32_t {
        uint32_t crc = r ^ m;
        uint64_t word = words[crc & wordMask];
        return static_cast<uint32_t>((word >> ((crc >> 20) & 63)) & (word >> (crc >> 26))) & 1;
    };
    uint32_t r = reg;
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        uint32_t w, o;
        std::memcpy(&w, in + i, 4);
        std::memcpy(&o, out + i, 4);
        uint32_t c = r ^ w;
        uint32_t r4 = t.t3[c & 0xFF] ^ t.t2[(c >> 8) & 0xFF] ^ t.t1[(c >> 16) & 0xFF] ^
                      t.t0[c >> 24] ^ t.w3[o & 0xFF] ^ t.w2[(o >> 8) & 0xFF] ^
                      t.w1[(o >> 16) & 0xFF] ^ t.w0[o >> 24];
        uint32_t r1 = (r >> 8) ^ t.t0[c & 0xFF] ^ t.w0[o & 0xFF];
        uint32_t r2 = (r1 >> 8) ^ t.t0[(r1 ^ (w >> 8)) & 0xFF] ^ t.w0[(o >> 8) & 0xFF];
        uint32_t r3 = (r2 >> 8) ^ t.t0[(r2 ^ (w >> 16)) & 0xFF] ^ t.w0[(o >> 16) & 0xFF];
        if (pass(r1) | pass(r2) | pass(r3) | pass(r4)) [[unlikely]] {
            *hit = true;
            if (pass(r1)) {
                reg = r1;
                return i + 1;
            }
            if (pass(r2)) {
                reg = r2;
                return i + 2;
            }
            if (pass(r3)) {
                reg = r3;
                return i + 3;
            }
            reg = r4;
            return i + 4;
        }
        r = r4;
    }
    for (; i < n; ++i) {
        r = (r >> 8) ^ t.t0[(r ^ in[i]) & 0xFF] ^ t.w0[out[i]];
        if (pass(r)) {
            *hit = true;
            reg = r;
            return i + 1;
        }
    }
    reg = r;
    return n;
}

// A filter that nothing passes (for single steps).
const uint64_t kNoBits[1] = {0};
constexpr CrcFilter kNothing{kNoBits, 0};

}  // namespace

BlockScanner::BlockScanner() = default;

BlockScanner::~BlockScanner() {
    Stop();
}

bool BlockScanner::Fail(int error) {
    if (!failed_) {
        failed_ = true;
        error_ = error != 0 ? error : EIO;
    }
    return false;
}

void BlockScanner::Stop() {
    if (digestThread_.joinable()) {
        stop_.store(true, std::memory_order_release);
        published_.store(UINT64_MAX, std::memory_order_release);
        published_.notify_all();
        digestThread_.join();
    }
    // Buffers may only be freed once no read writes into them.
    for (AsyncReadRequest& request : requests_) {
        if (request.state != 0 && file_ != nullptr) file_->completeRead(request);
    }
}

bool BlockScanner::Start(DiskFile& file, const Crc32Window& window) {
    return Start(file, window, Options{});
}

bool BlockScanner::Start(DiskFile& file, const Crc32Window& window, const Options& options) {
    Stop();
    requests_.clear();
    memory_.reset();
    file_ = &file;
    size_ = file.size;
    blockSize_ = window.length();
    offset_ = 0;
    failed_ = false;
    error_ = 0;
    crcValid_ = false;
    windowMd5Offset_ = UINT64_MAX;
    readSeq_ = headSeq_ = 0;
    readErrorSeq_ = UINT64_MAX;
    readError_ = 0;
    fileMd5_.Reset();
    headDone_ = false;
    threaded_ = false;
    published_.store(0);
    digested_.store(0);
    wakeAt_.store(UINT64_MAX);
    stop_.store(false);

    if (!file.isOpen()) return Fail(EBADF);
    if (blockSize_ == 0) return Fail(EINVAL);

    // Sliding tables.
    const Crc32Tables& tables = Crc32TablesInstance();
    t0_ = tables.t[0];
    mask_ = window.mask();
    outgoing_.assign(4 * 256, 0);
    for (int b = 0; b < 256; ++b) {
        uint32_t w = window.outgoing()[b];
        for (int k = 0; k < 4; ++k) {
            outgoing_[k * 256 + b] = w;
            w = (w >> 8) ^ t0_[w & 0xFF];
        }
    }

    // The ring.
    bufferSize_ = std::max<uint32_t>(64, (options.bufferSize + 63) & ~63u);
    const uint64_t bs = bufferSize_;
    uint64_t count;
    if (blockSize_ <= kRingBlockLimit) {
        uint64_t k = blockSize_ <= kThreeBlockLimit ? 3 : 2;
        count = std::max((kMinRingBytes + bs - 1) / bs, (blockSize_ * k + bs - 1) / bs);
    } else {
        count = (blockSize_ + bs - 1) / bs + (kLargeBlockReadAhead + bs - 1) / bs;
    }
    // The window and its incoming byte span at most B / bs + 2 buffers; one
    // more keeps a read in flight.
    count = std::max(count, blockSize_ / bs + 3);
    // No window touches a chunk at or past lastChunk_: a small file needs
    // no more buffers than that.
    dataChunks_ = (size_ + bs - 1) / bs;
    lastChunk_ = size_ == 0 ? 0 : (size_ - 1 + blockSize_) / bs + 1;
    count = std::max<uint64_t>(1, std::min(count, lastChunk_));
    count_ = count;
    memory_.reset(new (std::nothrow) uint8_t[count * bs]);
    if (!memory_) return Fail(ENOMEM);
    try {
        requests_.resize(count);
    } catch (const std::bad_alloc&) {
        memory_.reset();
        return Fail(ENOMEM);
    }

    if (dataChunks_ > 0 && size_ >= options.digestThreadMinSize) {
        try {
            digestThread_ = std::thread([this] { DigestLoop(); });
            threaded_ = true;
        } catch (const std::system_error&) {
            threaded_ = false;  // hash inline instead; the results are the same
        }
    }
    IssueReads();
    return !failed_;
}

uint64_t BlockScanner::ChunkLength(uint64_t seq) const {
    if (seq >= dataChunks_) return 0;
    return std::min<uint64_t>(bufferSize_, size_ - seq * bufferSize_);
}

void BlockScanner::IssueReads() {
    if (failed_) return;
    // A slot may take a new chunk once the window has left its old one, the
    // old one has been completed and the digest has hashed it.
    uint64_t floor = std::min(offset_ / bufferSize_, headSeq_);
    uint64_t digested = threaded_ ? digested_.load(std::memory_order_acquire) : headSeq_;
    if (digested < dataChunks_) floor = std::min(floor, digested);
    uint64_t limit = std::min({floor + count_, lastChunk_, readErrorSeq_});
    while (readSeq_ < limit) {
        uint8_t* buffer = Chunk(readSeq_);
        if (readSeq_ < dataChunks_) {
            AsyncReadRequest& request = requests_[readSeq_ % count_];
            request.offset = readSeq_ * bufferSize_;
            request.length = static_cast<uint32_t>(ChunkLength(readSeq_));
            request.transferred = 0;
            request.buffer = buffer;
            if (file_->beginRead(request) == DiskFile::ReadStatus::Failed) {
                // Reported when the scan reaches this chunk, so that the
                // data before it are still searched.
                readError_ = file_->lastError();
                readErrorSeq_ = readSeq_;
                return;
            }
        } else {
            std::memset(buffer, 0, bufferSize_);  // beyond the end of the file
        }
        ++readSeq_;
    }
}

bool BlockScanner::Ensure(uint64_t seqEnd) {
    while (headSeq_ < seqEnd) {
        if (failed_) return false;
        IssueReads();
        if (failed_) return false;
        if (headSeq_ == readErrorSeq_) return Fail(readError_);
        if (readSeq_ <= headSeq_) {
            // The ring is full of chunks that the digest thread has not
            // hashed yet: wait for it. Anything else would be a sizing error.
            uint64_t digested = threaded_ ? digested_.load(std::memory_order_acquire) : headSeq_;
            if (!threaded_ || digested >= headSeq_ || headSeq_ >= lastChunk_) return Fail(EINVAL);
            // Wait for a quarter of the ring at once, so that the reads that
            // follow go out together.
            const uint64_t published = std::min(headSeq_, dataChunks_);
            AwaitDigested(std::min(published, digested + std::max<uint64_t>(1, count_ / 4)));
            continue;
        }
        if (headSeq_ < dataChunks_) {
            AsyncReadRequest& request = requests_[headSeq_ % count_];
            if (file_->completeRead(request) != DiskFile::ReadStatus::Complete) {
                int error = file_->lastError();
                return Fail(error != 0 ? error : EIO);
            }
            uint64_t length = ChunkLength(headSeq_);
            if (length < bufferSize_)
                std::memset(Chunk(headSeq_) + length, 0, bufferSize_ - length);
        }
        ++headSeq_;
        Publish();
    }
    return !failed_;
}

void BlockScanner::Publish() {
    uint64_t ready = std::min(headSeq_, dataChunks_);
    if (threaded_) {
        if (published_.load(std::memory_order_relaxed) != ready) {
            published_.store(ready, std::memory_order_release);
            published_.notify_one();
        }
        return;
    }
    uint64_t done = digested_.load(std::memory_order_relaxed);
    for (; done < ready; ++done) HashChunk(done);
    digested_.store(done, std::memory_order_relaxed);
}

void BlockScanner::HashChunk(uint64_t seq) {
    const uint8_t* data = Chunk(seq);
    uint64_t length = ChunkLength(seq);
    uint64_t before = seq * bufferSize_;
    if (!headDone_) {
        uint64_t part = std::min(length, kHeadHashBytes - before);
        fileMd5_.Update(data, part);
        if (before + part == kHeadHashBytes) {
            headMd5_ = fileMd5_.Final();
            headDone_ = true;
        }
        data += part;
        length -= part;
    }
    if (length > 0) fileMd5_.Update(data, length);
}

void BlockScanner::DigestLoop() {
    for (uint64_t seq = 0; seq < dataChunks_; ++seq) {
        uint64_t ready;
        while ((ready = published_.load(std::memory_order_acquire)) <= seq) {
            published_.wait(ready, std::memory_order_acquire);
        }
        if (stop_.load(std::memory_order_acquire)) return;
        HashChunk(seq);
        digested_.store(seq + 1, std::memory_order_seq_cst);
        if (seq + 1 >= wakeAt_.load(std::memory_order_seq_cst)) digested_.notify_one();
    }
}

void BlockScanner::AwaitDigested(uint64_t target) {
    // The store of wakeAt_ and the digest thread's store of digested_ are
    // both sequentially consistent: either that thread sees the target and
    // wakes us, or we see its progress here and do not sleep.
    wakeAt_.store(target, std::memory_order_seq_cst);
    uint64_t done;
    while ((done = digested_.load(std::memory_order_seq_cst)) < target) {
        digested_.wait(done, std::memory_order_seq_cst);
    }
    wakeAt_.store(UINT64_MAX, std::memory_order_relaxed);
}

template <typename Sink>
bool BlockScanner::ForEachPiece(uint64_t begin, uint64_t length, Sink&& sink) {
    if (length == 0) return !failed_;
    const uint64_t end = begin + length;
    if (!Ensure((end - 1) / bufferSize_ + 1)) return false;
    for (uint64_t p = begin; p < end;) {
        uint64_t seq = p / bufferSize_;
        uint64_t within = p % bufferSize_;
        uint64_t n = std::min<uint64_t>(bufferSize_ - within, end - p);
        sink(Chunk(seq) + within, static_cast<size_t>(n));
        p += n;
    }
    return true;
}

bool BlockScanner::FreshCrc() {
    uint64_t real = RealBytes();
    uint32_t crc = 0;
    if (!ForEachPiece(offset_, real,
                      [&crc](const uint8_t* data, size_t n) { crc = Crc32Update(crc, data, n); })) {
        return false;
    }
    crc_ = Crc32UpdateZeros(crc, blockSize_ - real);
    crcValid_ = true;
    return true;
}

uint32_t BlockScanner::Crc() {
    if (!crcValid_ && !failed_) FreshCrc();
    return crc_;
}

const Md5Digest& BlockScanner::WindowMd5() {
    if (windowMd5Offset_ != offset_ && !failed_) {
        uint64_t real = RealBytes();
        Md5Context md5;
        if (ForEachPiece(offset_, real,
                         [&md5](const uint8_t* data, size_t n) { md5.Update(data, n); })) {
            md5.UpdateZeros(blockSize_ - real);
            windowMd5_ = md5.Final();
            windowMd5Offset_ = offset_;
        }
    }
    return windowMd5_;
}

uint32_t BlockScanner::PaddedCrc(uint64_t n) {
    uint64_t real = RealBytes();
    if (n >= real) return Crc();  // the rest of the window is zeros already
    uint32_t crc = 0;
    ForEachPiece(offset_, n, [&crc](const uint8_t* data, size_t count) {
        crc = Crc32Update(crc, data, count);
    });
    return Crc32UpdateZeros(crc, blockSize_ - n);
}

Md5Digest BlockScanner::PaddedMd5(uint64_t n) {
    uint64_t real = RealBytes();
    if (n >= real) return WindowMd5();
    Md5Context md5;
    ForEachPiece(offset_, n,
                 [&md5](const uint8_t* data, size_t count) { md5.Update(data, count); });
    md5.UpdateZeros(blockSize_ - n);
    return md5.Final();
}

uint64_t BlockScanner::TrailingZeros() {
    uint64_t real = RealBytes();
    uint64_t zeros = blockSize_ - real;
    if (real == 0 || failed_) return zeros;
    if (!Ensure((offset_ + real - 1) / bufferSize_ + 1)) return zeros;
    for (uint64_t p = offset_ + real; p > offset_;) {
        uint64_t seq = (p - 1) / bufferSize_;
        uint64_t start = std::max(offset_, seq * bufferSize_);
        const uint8_t* base = Chunk(seq) - seq * bufferSize_;  // indexed by file offset
        for (uint64_t q = p; q > start; --q) {
            if (base[q - 1] != 0) return zeros;
            ++zeros;
        }
        p = start;
    }
    return zeros;
}

bool BlockScanner::Slide() {
    return SlideUntil(kNothing, 1) == 1;
}

uint64_t BlockScanner::SlideUntil(const CrcFilter& filter, uint64_t maxBytes) {
    if (!More()) return 0;
    if (!crcValid_ && !FreshCrc()) return 0;
    const SlideTables tables{t0_,
                             Crc32TablesInstance().t[1],
                             Crc32TablesInstance().t[2],
                             Crc32TablesInstance().t[3],
                             outgoing_.data(),
                             outgoing_.data() + 256,
                             outgoing_.data() + 512,
                             outgoing_.data() + 768,
                             mask_};
    const uint64_t bs = bufferSize_;
    const uint64_t limit = std::min(maxBytes, size_ - offset_);
    uint32_t reg = crc_ ^ mask_;
    uint64_t slid = 0;
    bool hit = false;
    while (slid < limit && !hit) {
        const uint64_t out = offset_;
        const uint64_t in = offset_ + blockSize_;
        if (!Ensure(in / bs + 1)) break;
        IssueReads();  // the window may have left a buffer: refill it
        const uint64_t n = std::min({limit - slid, bs - out % bs, bs - in % bs});
        const size_t steps = SlideRun(reg, Chunk(out / bs) + out % bs, Chunk(in / bs) + in % bs,
                                      static_cast<size_t>(n), filter, tables, &hit);
        offset_ += steps;
        slid += steps;
    }
    crc_ = reg ^ mask_;
    return slid;
}

bool BlockScanner::Skip(uint64_t n) {
    if (!More()) return false;
    if (n == 0) return true;
    offset_ = n >= size_ - offset_ ? size_ : offset_ + n;
    crcValid_ = false;
    IssueReads();
    return !failed_;
}

bool BlockScanner::Finish(Md5Digest* fileMd5, Md5Digest* headMd5) {
    if (failed_) return false;
    // The window is no longer needed; stream whatever it has not reached.
    offset_ = size_;
    crcValid_ = false;
    if (!Ensure(dataChunks_)) return false;
    if (digestThread_.joinable()) {
        AwaitDigested(dataChunks_);
        digestThread_.join();
    }
    if (fileMd5 != nullptr) *fileMd5 = fileMd5_.Final();
    if (headMd5 != nullptr) *headMd5 = headDone_ ? headMd5_ : fileMd5_.Final();
    return true;
}

}  // namespace vantrove
