#include "engine/block_lookup.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace vantrove {

namespace {

// Filter words: one 64-bit word per distinct CRC (64 bits per block),
// between 512 bytes and 512 KiB. The word index uses at most the low 16
// bits of the CRC, apart from the two 6-bit fields (bits 20-25 and 26-31)
// that choose the bits. A set of 32,768 blocks gets 256 KiB, which stays in
// the second-level cache, and lets about one random CRC in 700 through.
constexpr uint32_t kMinFilterWords = 1u << 6;
constexpr uint32_t kMaxFilterWords = 1u << 16;

int CompareMd5(const Md5Digest& a, const Md5Digest& b) {
    return std::memcmp(a.bytes.data(), b.bytes.data(), a.bytes.size());
}

uint32_t NextPowerOfTwo(uint64_t n, uint32_t floor, uint32_t ceiling) {
    uint64_t p = floor;
    while (p < n && p < ceiling) p <<= 1;
    return static_cast<uint32_t>(p);
}

}  // namespace

BlockLookup::BlockLookup() {
    Finish();
}

BlockLookup::~BlockLookup() = default;

BlockLookup::Node* BlockLookup::Add(SourceFileEntry* entry, uint32_t indexInFile, uint64_t length,
                                    uint32_t crc, const Md5Digest& md5, DataBlock* location) {
    Node& node = nodes_.emplace_back();
    if (location != nullptr) node.location = location;
    node.entry = entry;
    node.indexInFile = indexInFile;
    node.block.length = length;
    node.crc = crc;
    node.md5 = md5;
    return &node;
}

void BlockLookup::Clear() {
    nodes_.clear();
    Finish();
}

void BlockLookup::Finish() {
    std::vector<Node*> order;
    order.reserve(nodes_.size());
    for (Node& node : nodes_) {
        node.nextInFile = nullptr;
        node.nextSame = nullptr;
        order.push_back(&node);
    }

    // Consecutive blocks of each file. Stable, so a block added twice keeps
    // its first node as the one that is linked.
    firstBlocks_.clear();
    std::stable_sort(order.begin(), order.end(), [](const Node* a, const Node* b) {
        if (a->entry != b->entry) return std::less<const SourceFileEntry*>()(a->entry, b->entry);
        return a->indexInFile < b->indexInFile;
    });
    for (size_t i = 0; i < order.size(); ++i) {
        Node* node = order[i];
        if (i == 0 || order[i - 1]->entry != node->entry) firstBlocks_[node->entry] = node;
        if (i + 1 < order.size()) {
            Node* next = order[i + 1];
            if (next->entry == node->entry && next->indexInFile == node->indexInFile + 1) {
                node->nextInFile = next;
            }
        }
    }

    // Chains of identical blocks, in the order added (a stable sort of the
    // nodes in their deque order).
    order.clear();
    for (Node& node : nodes_) order.push_back(&node);
    std::stable_sort(order.begin(), order.end(), [](const Node* a, const Node* b) {
        if (a->crc != b->crc) return a->crc < b->crc;
        return CompareMd5(a->md5, b->md5) < 0;
    });
    std::vector<Node*> heads;
    for (size_t i = 0; i < order.size(); ++i) {
        Node* node = order[i];
        if (!heads.empty() && heads.back()->crc == node->crc &&
            CompareMd5(heads.back()->md5, node->md5) == 0) {
            order[i - 1]->nextSame = node;
        } else {
            heads.push_back(node);
        }
    }

    // The hash table: at least as many buckets as distinct blocks.
    uint32_t tableSize = NextPowerOfTwo(heads.size(), 1, 1u << 31);
    tableMask_ = tableSize - 1;
    std::stable_sort(heads.begin(), heads.end(), [this](const Node* a, const Node* b) {
        return (a->crc & tableMask_) < (b->crc & tableMask_);
    });
    sorted_.clear();
    sorted_.reserve(heads.size());
    bucketStart_.assign(size_t(tableSize) + 1, 0);
    for (Node* head : heads) {
        sorted_.push_back(Slot{head->crc, head});
        ++bucketStart_[(head->crc & tableMask_) + 1];
    }
    for (uint32_t b = 0; b < tableSize; ++b) bucketStart_[b + 1] += bucketStart_[b];

    // The filter.
    uint32_t words = NextPowerOfTwo(uint64_t(heads.size()), kMinFilterWords, kMaxFilterWords);
    filterBits_.assign(words, 0);
    for (const Node* head : heads) {
        filterBits_[head->crc & (words - 1)] |= CrcFilter::BitsOf(head->crc);
    }
    filter_.words = filterBits_.data();
    filter_.wordMask = words - 1;
}

void BlockLookup::CrcRange(uint32_t crc, uint32_t* begin, uint32_t* end) const {
    uint32_t bucket = crc & tableMask_;
    uint32_t lo = bucketStart_[bucket];
    uint32_t hi = bucketStart_[bucket + 1];
    // Buckets hold one or two entries on average; a binary search keeps a
    // crafted set with many equal CRCs from turning each probe into a walk.
    auto first = std::lower_bound(sorted_.begin() + lo, sorted_.begin() + hi, crc,
                                  [](const Slot& s, uint32_t c) { return s.crc < c; });
    auto last = std::upper_bound(first, sorted_.begin() + hi, crc,
                                 [](uint32_t c, const Slot& s) { return c < s.crc; });
    *begin = static_cast<uint32_t>(first - sorted_.begin());
    *end = static_cast<uint32_t>(last - sorted_.begin());
}

BlockLookup::Node* BlockLookup::FindCrc(uint32_t crc) const {
    if (!filter_.MayContain(crc)) return nullptr;
    uint32_t bucket = crc & tableMask_;
    auto end = sorted_.begin() + bucketStart_[bucket + 1];
    auto first = std::lower_bound(sorted_.begin() + bucketStart_[bucket], end, crc,
                                  [](const Slot& s, uint32_t c) { return s.crc < c; });
    return first != end && first->crc == crc ? first->head : nullptr;
}

BlockLookup::Node* BlockLookup::FindMd5(const Node* crcNode, const Md5Digest& md5) const {
    if (crcNode == nullptr) return nullptr;
    uint32_t begin, end;
    CrcRange(crcNode->crc, &begin, &end);
    auto it = std::lower_bound(
        sorted_.begin() + begin, sorted_.begin() + end, md5,
        [](const Slot& s, const Md5Digest& m) { return CompareMd5(s.head->md5, m) < 0; });
    if (it == sorted_.begin() + end || CompareMd5(it->head->md5, md5) != 0) return nullptr;
    return it->head;
}

BlockLookup::Node* BlockLookup::Find(uint32_t crc, const Md5Digest& md5) const {
    Node* node = FindCrc(crc);
    return node ? FindMd5(node, md5) : nullptr;
}

BlockLookup::Node* BlockLookup::FirstBlockOf(const SourceFileEntry* entry) const {
    auto it = firstBlocks_.find(entry);
    return it == firstBlocks_.end() ? nullptr : it->second;
}

}  // namespace vantrove
