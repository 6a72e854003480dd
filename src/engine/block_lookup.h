#pragma once
// BlockLookup: every block of every source file of a set, found by CRC-32 and
// confirmed by MD5.
//
// The set fills it while it loads (Add for each block, then Finish) and the
// data-file scan asks it, at every byte offset of every scanned file, whether
// the CRC-32 of the window belongs to some block. Almost every question is a
// miss, so a miss is answered by one bit of a small bitmap (CrcFilter) that
// the scanner consults in its slide loop; only CRCs that pass the bitmap go to
// the hash table. The table has a power-of-two number of buckets (bucket =
// CRC AND (size - 1)); each bucket is a run of a sorted array, ordered by CRC
// and, within one CRC, by MD5, so both lookups are binary searches.
//
// Blocks with identical CRC-32 and MD5 (blocks of zeros, duplicate files) are
// chained in the order they were added: the lookup returns the first and
// `nextSame` leads to the others.
//
// Nodes are owned by the lookup, never move once added, and carry the block's
// current location, which the scan updates. The lookup belongs to its set and
// is used by the set's worker thread only; once finished, the read-only parts
// (CrcFilter, FindCrc, FindMd5) may be shared by several scanning threads as
// long as nobody adds blocks.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <unordered_map>
#include <vector>

#include "core/data_block.h"
#include "core/md5.h"

namespace vantrove {

struct SourceFileEntry;  // the set model's source file

// A small bitmap filter over CRC-32 values, cheap enough to test at every
// byte: a negative answer proves that no block has that CRC. Each CRC sets
// two bits of one 64-bit word (the word chosen by the low bits of the CRC,
// the two bits by two fields of its high bits), so a test is one memory
// access; with 64 bits per block a random CRC gets past the filter about
// once in 700 times.
struct CrcFilter {
    const uint64_t* words = nullptr;
    uint32_t wordMask = 0;  // number of words - 1 (a power of two minus one)

    bool MayContain(uint32_t crc) const {
        uint64_t word = words[crc & wordMask];
        return (word >> ((crc >> 20) & 63)) & (word >> (crc >> 26)) & 1;
    }
    // The bits a CRC sets.
    static uint64_t BitsOf(uint32_t crc) {
        return (uint64_t(1) << ((crc >> 20) & 63)) | (uint64_t(1) << (crc >> 26));
    }
};

class BlockLookup {
  public:
    struct Node {
        SourceFileEntry* entry = nullptr;  // owning source file (not owned)
        uint32_t indexInFile = 0;          // block number within its file
        // The block's own record: `length` is the block's length (the block
        // size, or less for the last block of a file); file and offset say
        // where the block is unless `location` points elsewhere.
        DataBlock block;
        // Where the block currently is (no file = not found yet): `block`
        // itself, or the record of a table that the set keeps of its found
        // blocks (given to Add, or reassigned when the set replaces that
        // table). The scan moves blocks through this pointer.
        DataBlock* location = &block;
        uint32_t crc = 0;            // CRC-32 of the block zero-padded to the block size
        Md5Digest md5;               // MD5 of the same padded data
        Node* nextInFile = nullptr;  // next block of the same file; none for the last
        Node* nextSame = nullptr;    // next block with identical CRC-32 and MD5

        bool HasLocation() const { return location->file != nullptr; }
        bool IsLastInFile() const { return nextInFile == nullptr; }
        uint64_t length() const { return block.length; }
    };

    BlockLookup();
    ~BlockLookup();
    // Nodes point into themselves: never copied.
    BlockLookup(const BlockLookup&) = delete;
    BlockLookup& operator=(const BlockLookup&) = delete;

    // Adds one block. Its location is `location` when given (a record the
    // caller keeps alive as long as the node), else the node's own record,
    // without a file. Blocks added after Finish can only be found after the
    // next Finish.
    Node* Add(SourceFileEntry* entry, uint32_t indexInFile, uint64_t length, uint32_t crc,
              const Md5Digest& md5, DataBlock* location = nullptr);

    // Builds the table, the filter, the chains of identical blocks and the
    // links between consecutive blocks of each file. May be called again
    // after more blocks were added; node addresses stay valid.
    void Finish();

    // Forgets every block.
    void Clear();

    // The filter for the scanner's slide loop (valid until the next Finish
    // or Clear).
    CrcFilter filter() const { return filter_; }

    // The first node (lowest MD5) of the chains with this CRC, or nullptr.
    Node* FindCrc(uint32_t crc) const;
    // The head of the chain with the CRC of `crcNode` (as returned by FindCrc)
    // and this MD5, or nullptr.
    Node* FindMd5(const Node* crcNode, const Md5Digest& md5) const;
    // Both steps at once.
    Node* Find(uint32_t crc, const Md5Digest& md5) const;

    // The first block of a source file (index 0, or the lowest index added),
    // or nullptr when the file has no blocks here. Follow nextInFile for the
    // rest.
    Node* FirstBlockOf(const SourceFileEntry* entry) const;

    size_t size() const { return nodes_.size(); }
    // Every node in the order added.
    const std::deque<Node>& nodes() const { return nodes_; }
    std::deque<Node>& nodes() { return nodes_; }

    // Number of distinct (CRC, MD5) pairs and of buckets, after Finish.
    size_t distinctCount() const { return sorted_.size(); }
    size_t bucketCount() const { return bucketStart_.size() - 1; }

  private:
    struct Slot {
        uint32_t crc;
        Node* head;
    };

    // Range of sorted_ holding `crc` (begin == end when absent).
    void CrcRange(uint32_t crc, uint32_t* begin, uint32_t* end) const;

    std::deque<Node> nodes_;
    std::vector<Slot> sorted_;           // chain heads by (bucket, CRC, MD5)
    std::vector<uint32_t> bucketStart_;  // bucket b is sorted_[start[b], start[b+1])
    uint32_t tableMask_ = 0;
    std::vector<uint64_t> filterBits_;
    CrcFilter filter_;
    std::unordered_map<const SourceFileEntry*, Node*> firstBlocks_;
};

}  // namespace vantrove
