#pragma once
// BlockScanner: a window of exactly one block size B that moves over a data
// file, for the sliding block search of the data-file scan.
//
// The window starts at offset 0. Its CRC-32 is kept current byte by byte with
// the sliding form of CRC-32; its MD5 (and the padded CRC and MD5 of a prefix
// of it) is computed on demand. Bytes past the end of the file read as zeros:
// a window that reaches past the end is short and RealBytes() says how many
// of its bytes are real. The window moves by sliding (one byte at a time, or
// SlideUntil, which slides until the CRC passes a filter) or by Skip, after
// which the CRC is computed afresh.
//
// Data arrive through a ring of asynchronous reads (DiskFile::beginRead /
// completeRead) that runs two or three block sizes ahead of the window.
// Every byte of the file passes exactly once, in order, through the
// whole-file MD5 (forked at 16,384 bytes), whatever the window does; Finish()
// hands out both digests. For large files that MD5 runs on a second thread
// that hashes the ring's buffers as they arrive; a buffer is reused only
// when both the window and that thread are done with it, so the results are
// the same as with hashing inline.
//
// Block sizes above 100,000,000 bytes do not get two block sizes of ring:
// the ring then holds one block size plus 32 MiB of read-ahead, so memory
// stays near one block size while the window is still read only once. A
// small file's ring holds no more buffers than its windows can touch.
//
// A read error ends the scan when the window (or Finish) reaches the data
// that could not be read, so everything before them is still searched:
// failed() becomes true, error() holds the errno value, More() turns false
// and every later operation does nothing. No operation throws.
//
// A scanner belongs to the thread that drives it (the verification worker);
// its digest thread is private to it. The DiskFile and the Crc32Window must
// outlive the scan; the file must stay open and unchanged.

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "core/async_read_request.h"
#include "core/crc32_window.h"
#include "core/disk_file.h"
#include "core/md5.h"
#include "engine/block_lookup.h"

namespace vantrove {

class BlockScanner {
  public:
    struct Options {
        // Bytes per ring buffer; rounded up to a multiple of 64.
        uint32_t bufferSize = 32768;
        // Hash the whole file on a second thread when it has at least this
        // many bytes (0: always; UINT64_MAX: never).
        uint64_t digestThreadMinSize = 8u << 20;
    };

    // The length of the prefix whose digest Finish() reports separately.
    static constexpr uint64_t kHeadHashBytes = 16384;

    BlockScanner();
    // Stops the digest thread and waits for reads still in flight.
    ~BlockScanner();
    BlockScanner(const BlockScanner&) = delete;
    BlockScanner& operator=(const BlockScanner&) = delete;

    // Starts a scan of the open `file` (of its recorded size) with the window
    // length window.length() (> 0). Returns false with error() set when the
    // file is not open, the length is 0 or memory for the ring is lacking.
    bool Start(DiskFile& file, const Crc32Window& window);
    bool Start(DiskFile& file, const Crc32Window& window, const Options& options);

    bool failed() const { return failed_; }
    int error() const { return error_; }
    // True while the window starts inside the file and nothing failed.
    bool More() const { return !failed_ && offset_ < size_; }

    uint64_t offset() const { return offset_; }
    uint64_t fileSize() const { return size_; }
    uint64_t blockSize() const { return blockSize_; }
    // Memory held by the read ring.
    uint64_t ringBytes() const { return count_ * bufferSize_; }
    // Real bytes in the window: min(B, size - offset).
    uint64_t RealBytes() const {
        return offset_ >= size_ ? 0 : std::min(blockSize_, size_ - offset_);
    }
    bool IsShort() const { return RealBytes() < blockSize_; }

    // CRC-32 of the window (zero-padded when short).
    uint32_t Crc();
    // MD5 of the window (zero-padded when short); computed once per position.
    const Md5Digest& WindowMd5();
    // CRC-32 and MD5 of the first min(n, RealBytes()) bytes of the window
    // followed by zeros up to the block size.
    uint32_t PaddedCrc(uint64_t n);
    Md5Digest PaddedMd5(uint64_t n);
    // Length of the run of zero bytes that entered the window last (the
    // window's trailing zeros, padding included), at most B.
    uint64_t TrailingZeros();

    // Moves the window by one byte. False at the end of the file or on error.
    bool Slide();
    // Slides the window by up to `maxBytes` bytes (never past the end of the
    // file) and stops right after the first step whose CRC passes `filter`.
    // Returns the number of bytes slid; the caller tells a candidate from a
    // plain stop by filter.MayContain(Crc()).
    uint64_t SlideUntil(const CrcFilter& filter, uint64_t maxBytes);
    // Moves the window forward by `n` bytes (at most to the end of the file);
    // the CRC is then computed afresh over the new window.
    bool Skip(uint64_t n);

    // Reads whatever the window has not reached, then delivers the MD5 of the
    // whole file and of its first 16,384 bytes (the whole file when shorter).
    // False on a read error. A scan abandoned on a stop request need not
    // call it: destroying the scanner ends everything without further reads.
    bool Finish(Md5Digest* fileMd5, Md5Digest* headMd5);

  private:
    bool Fail(int error);
    void Stop();
    uint8_t* Chunk(uint64_t seq) { return memory_.get() + (seq % count_) * bufferSize_; }
    uint64_t ChunkLength(uint64_t seq) const;
    // Makes the chunks before `seqEnd` readable.
    bool Ensure(uint64_t seqEnd);
    void IssueReads();
    void Publish();
    void HashChunk(uint64_t seq);
    void DigestLoop();
    // Waits until the digest thread has hashed the chunks before `target`.
    void AwaitDigested(uint64_t target);
    bool FreshCrc();
    template <typename Sink>
    bool ForEachPiece(uint64_t begin, uint64_t length, Sink&& sink);

    DiskFile* file_ = nullptr;
    uint64_t size_ = 0;
    uint64_t blockSize_ = 0;
    uint64_t offset_ = 0;
    bool failed_ = false;
    int error_ = 0;

    // Sliding tables: W0 = the window's outgoing table, Wk = W0 advanced by
    // k more zero bytes (for four steps at once), M = the window's mask.
    const uint32_t* t0_ = nullptr;
    uint32_t mask_ = 0;
    std::vector<uint32_t> outgoing_;  // 4 x 256: W0, W1, W2, W3

    uint32_t crc_ = 0;
    bool crcValid_ = false;
    Md5Digest windowMd5_;
    uint64_t windowMd5Offset_ = UINT64_MAX;

    // The ring: chunk `seq` covers file bytes [seq * bufferSize_, +bufferSize_)
    // and lives in slot seq % count_. Chunks at or past dataChunks_ lie
    // beyond the end of the file and are zero-filled.
    uint32_t bufferSize_ = 0;
    uint64_t count_ = 0;
    std::unique_ptr<uint8_t[]> memory_;
    std::vector<AsyncReadRequest> requests_;
    uint64_t dataChunks_ = 0;
    uint64_t lastChunk_ = 0;  // one past the last chunk any window can touch
    uint64_t readSeq_ = 0;    // next chunk to start
    uint64_t headSeq_ = 0;    // chunks before it are readable
    // A read that could not be started: its chunk and errno.
    uint64_t readErrorSeq_ = UINT64_MAX;
    int readError_ = 0;

    // Whole-file digest: chunks before published_ may be hashed; chunks
    // before digested_ have been.
    Md5Context fileMd5_;
    Md5Digest headMd5_;
    bool headDone_ = false;
    bool threaded_ = false;
    std::thread digestThread_;
    std::atomic<uint64_t> published_{0};
    std::atomic<uint64_t> digested_{0};
    // The digest thread wakes a waiting scanner only once digested_ reaches
    // this, not after every chunk: each wake-up costs the hashing thread.
    std::atomic<uint64_t> wakeAt_{UINT64_MAX};
    std::atomic<bool> stop_{false};
};

}  // namespace vantrove
