#include "engine/block_lookup.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <set>
#include <vector>

#include "support/test_env.h"

namespace vantrove {
namespace {

// Source files are only compared by address here.
SourceFileEntry* FakeEntry(int i) {
    static char storage[64];
    return reinterpret_cast<SourceFileEntry*>(&storage[i]);
}

Md5Digest RandomMd5(std::mt19937_64& rng) {
    Md5Digest d;
    for (auto& b : d.bytes) b = static_cast<uint8_t>(rng());
    return d;
}

TEST(BlockLookupTest, FindsEveryBlockAndLinksEachFileInOrder) {
    std::mt19937_64 rng(test::TestSeed());
    BlockLookup lookup;
    std::vector<BlockLookup::Node*> added;
    // Three files whose blocks are added interleaved, as a loader reading
    // several checksum packets might.
    const uint32_t counts[3] = {500, 1, 1200};
    for (uint32_t i = 0; i < 1200; ++i) {
        for (int f = 0; f < 3; ++f) {
            if (i >= counts[f]) continue;
            uint64_t length = i + 1 == counts[f] ? 77 : 4096;
            added.push_back(
                lookup.Add(FakeEntry(f), i, length, static_cast<uint32_t>(rng()), RandomMd5(rng)));
        }
    }
    lookup.Finish();
    ASSERT_EQ(lookup.size(), added.size());
    EXPECT_GE(lookup.bucketCount(), lookup.distinctCount());

    for (BlockLookup::Node* node : added) {
        BlockLookup::Node* byCrc = lookup.FindCrc(node->crc);
        ASSERT_NE(byCrc, nullptr);
        EXPECT_EQ(byCrc->crc, node->crc);
        EXPECT_EQ(lookup.FindMd5(byCrc, node->md5), node);
        EXPECT_EQ(lookup.Find(node->crc, node->md5), node);
        EXPECT_TRUE(lookup.filter().MayContain(node->crc));
        EXPECT_FALSE(node->HasLocation());
    }
    for (int f = 0; f < 3; ++f) {
        const BlockLookup::Node* node = lookup.FirstBlockOf(FakeEntry(f));
        uint32_t index = 0;
        for (; node != nullptr; node = node->nextInFile, ++index) {
            EXPECT_EQ(node->entry, FakeEntry(f));
            EXPECT_EQ(node->indexInFile, index);
            EXPECT_EQ(node->IsLastInFile(), index + 1 == counts[f]);
            EXPECT_EQ(node->length(), index + 1 == counts[f] ? 77u : 4096u);
        }
        EXPECT_EQ(index, counts[f]);
    }
    EXPECT_EQ(lookup.FirstBlockOf(FakeEntry(7)), nullptr);
}

TEST(BlockLookupTest, MissesAreNullAndTheFilterRejectsMostOfThem) {
    std::mt19937_64 rng(test::TestSeed());
    BlockLookup empty;
    EXPECT_EQ(empty.FindCrc(0), nullptr);
    EXPECT_EQ(empty.FindCrc(0x12345678), nullptr);

    BlockLookup lookup;
    std::set<uint32_t> present;
    std::vector<BlockLookup::Node*> nodes;
    for (uint32_t i = 0; i < 32768; ++i) {
        uint32_t crc = static_cast<uint32_t>(rng());
        present.insert(crc);
        nodes.push_back(lookup.Add(FakeEntry(0), i, 1024, crc, RandomMd5(rng)));
    }
    lookup.Finish();

    uint32_t absent = 0, passed = 0;
    while (absent < 200000) {
        uint32_t crc = static_cast<uint32_t>(rng());
        if (present.count(crc)) continue;
        ++absent;
        EXPECT_EQ(lookup.FindCrc(crc), nullptr);
        passed += lookup.filter().MayContain(crc);
    }
    // 64 filter bits per block: about 0.15 % of absent CRCs get past it.
    EXPECT_LT(passed, absent / 200);
    EXPECT_GT(passed, 0u);

    // Right CRC, wrong MD5.
    for (int i = 0; i < 100; ++i) {
        const BlockLookup::Node* node = nodes[rng() % nodes.size()];
        Md5Digest other = node->md5;
        other.bytes[rng() % 16] ^= 0x40;
        EXPECT_EQ(lookup.Find(node->crc, other), nullptr);
    }
    EXPECT_EQ(lookup.FindMd5(nullptr, nodes[0]->md5), nullptr);
}

TEST(BlockLookupTest, IdenticalBlocksFormOneChainInTheOrderAdded) {
    Md5Digest zeroMd5;
    zeroMd5.bytes.fill(0xAB);
    const uint32_t zeroCrc = 0xC71C0011;
    std::mt19937_64 rng(test::TestSeed());
    BlockLookup lookup;
    std::vector<BlockLookup::Node*> chain;
    chain.push_back(lookup.Add(FakeEntry(2), 4, 100, zeroCrc, zeroMd5));
    lookup.Add(FakeEntry(2), 5, 100, 0x1111, RandomMd5(rng));
    chain.push_back(lookup.Add(FakeEntry(0), 0, 100, zeroCrc, zeroMd5));
    chain.push_back(lookup.Add(FakeEntry(1), 9, 100, zeroCrc, zeroMd5));
    BlockLookup::Node* loner = lookup.Add(FakeEntry(1), 10, 100, 0x2222, RandomMd5(rng));
    lookup.Finish();

    EXPECT_EQ(lookup.distinctCount(), 3u);
    BlockLookup::Node* head = lookup.Find(zeroCrc, zeroMd5);
    ASSERT_EQ(head, chain[0]);
    std::vector<BlockLookup::Node*> walked;
    for (BlockLookup::Node* n = head; n != nullptr; n = n->nextSame) walked.push_back(n);
    EXPECT_EQ(walked, chain);
    EXPECT_EQ(loner->nextSame, nullptr);
    // Chains and file links are independent.
    EXPECT_EQ(chain[2]->nextInFile, loner);
    EXPECT_EQ(chain[0]->nextInFile->crc, 0x1111u);
}

TEST(BlockLookupTest, EqualCrcsWithDifferentMd5AreTellApart) {
    std::mt19937_64 rng(test::TestSeed());
    BlockLookup lookup;
    std::vector<BlockLookup::Node*> same;
    // Many equal CRCs (as a crafted set could carry) plus many CRCs sharing
    // a bucket: all must stay findable.
    for (uint32_t i = 0; i < 3000; ++i) {
        same.push_back(lookup.Add(FakeEntry(0), i, 64, 0xDEADBEEF, RandomMd5(rng)));
    }
    std::vector<BlockLookup::Node*> bucketMates;
    for (uint32_t i = 0; i < 3000; ++i) {
        bucketMates.push_back(lookup.Add(FakeEntry(1), i, 64, (i << 20) | 0xBEEF, RandomMd5(rng)));
    }
    lookup.Finish();

    const BlockLookup::Node* first = lookup.FindCrc(0xDEADBEEF);
    ASSERT_NE(first, nullptr);
    for (const BlockLookup::Node* node : same) {
        // The first node of the CRC has the lowest MD5.
        EXPECT_LE(std::memcmp(first->md5.bytes.data(), node->md5.bytes.data(), 16), 0);
        EXPECT_EQ(lookup.FindMd5(first, node->md5), node);
        EXPECT_EQ(node->nextSame, nullptr);
    }
    for (const BlockLookup::Node* node : bucketMates) {
        EXPECT_EQ(lookup.Find(node->crc, node->md5), node);
        EXPECT_EQ(lookup.FindMd5(node, same[0]->md5), nullptr);
    }
    EXPECT_EQ(lookup.FindCrc(0xDEADBEEE), nullptr);
}

TEST(BlockLookupTest, FinishingAgainKeepsNodesAndFindsNewBlocks) {
    std::mt19937_64 rng(test::TestSeed());
    BlockLookup lookup;
    BlockLookup::Node* a0 = lookup.Add(FakeEntry(0), 0, 10, 1, RandomMd5(rng));
    BlockLookup::Node* a1 = lookup.Add(FakeEntry(0), 1, 10, 2, RandomMd5(rng));
    lookup.Finish();
    a0->block.offset = 1234;  // the scan moves blocks; that survives a rebuild

    std::vector<BlockLookup::Node*> more;
    for (uint32_t i = 0; i < 5000; ++i) {
        more.push_back(
            lookup.Add(FakeEntry(1), i, 10, static_cast<uint32_t>(rng()), RandomMd5(rng)));
    }
    BlockLookup::Node* a2 = lookup.Add(FakeEntry(0), 2, 10, 3, a1->md5);
    lookup.Finish();

    EXPECT_EQ(lookup.Find(1, a0->md5), a0);
    EXPECT_EQ(a0->block.offset, 1234u);
    EXPECT_EQ(a1->nextInFile, a2);
    EXPECT_EQ(a0->nextInFile, a1);
    for (BlockLookup::Node* node : more) ASSERT_EQ(lookup.Find(node->crc, node->md5), node);

    // A node whose location lives in the caller's table sees it move.
    DataBlock record;
    record.length = 10;
    BlockLookup::Node* external = lookup.Add(FakeEntry(2), 0, 10, 9, RandomMd5(rng), &record);
    lookup.Finish();
    EXPECT_FALSE(external->HasLocation());
    record.file = std::make_shared<DiskFile>();
    EXPECT_TRUE(external->HasLocation());
    EXPECT_FALSE(external->block.file);
    EXPECT_EQ(a0->location, &a0->block);

    lookup.Clear();
    EXPECT_EQ(lookup.size(), 0u);
    EXPECT_EQ(lookup.FindCrc(1), nullptr);
    EXPECT_EQ(lookup.FirstBlockOf(FakeEntry(0)), nullptr);
}

}  // namespace
}  // namespace vantrove
