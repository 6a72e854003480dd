#include "core/md5.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/test_env.h"

namespace vantrove {
namespace {

std::string HexOf(const std::string& text) {
    return Md5Of(text.data(), text.size()).ToHex();
}

TEST(Md5, MatchesTheReferenceTestSuite) {
    EXPECT_EQ(HexOf(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(HexOf("a"), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(HexOf("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(HexOf("message digest"), "f96b697d7cb7938d525a2f31aaf161d0");
    EXPECT_EQ(HexOf("abcdefghijklmnopqrstuvwxyz"), "c3fcd3d76192e4007dfb496cca67e13b");
    EXPECT_EQ(HexOf("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"),
              "d174ab98d277d9f5a5611c2c9f419d9f");
    EXPECT_EQ(HexOf("1234567890123456789012345678901234567890123456789012345678901234567890"
                    "1234567890"),
              "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(Md5, MillionLettersSpanManyBlocks) {
    const std::string text(1000000, 'a');
    EXPECT_EQ(HexOf(text), "7707d6ae4e027c70eea2a935c2296f21");
    // The same stream fed in pieces that straddle block boundaries.
    Md5Context context;
    size_t done = 0;
    for (size_t piece = 1; done < text.size(); piece = piece * 3 % 997 + 1) {
        const size_t n = std::min(piece, text.size() - done);
        context.Update(text.data() + done, n);
        done += n;
    }
    EXPECT_EQ(context.Final().ToHex(), "7707d6ae4e027c70eea2a935c2296f21");
    EXPECT_EQ(context.totalBytes(), 1000000u);
}

TEST(Md5, RandomSplitsGiveTheOneShotDigest) {
    std::mt19937_64 rng(test::TestSeed());
    for (int round = 0; round < 50; ++round) {
        const auto data = test::RandomBytes(rng, rng() % 5000);
        const Md5Digest whole = Md5Of(data.data(), data.size());
        Md5Context context;
        size_t done = 0;
        while (done < data.size()) {
            const size_t n = std::min<size_t>(rng() % 150, data.size() - done);
            context.Update(data.data() + done, n);
            done += n;
        }
        ASSERT_EQ(context.Final(), whole) << "length " << data.size();
    }
}

TEST(Md5, FinalLeavesTheContextUntouched) {
    std::mt19937_64 rng(test::TestSeed());
    const auto data = test::RandomBytes(rng, 300);
    for (size_t split : {0u, 1u, 55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u, 200u}) {
        Md5Context context;
        context.Update(data.data(), split);
        const Md5Digest first = context.Final();
        EXPECT_EQ(context.Final(), first);
        EXPECT_EQ(first, Md5Of(data.data(), split));
        context.Update(data.data() + split, data.size() - split);
        EXPECT_EQ(context.Final(), Md5Of(data.data(), data.size())) << "split " << split;
    }
}

TEST(Md5, CopyForksTheComputation) {
    std::mt19937_64 rng(test::TestSeed());
    const auto data = test::RandomBytes(rng, 40000);
    Md5Context head;
    head.Update(data.data(), 16384);
    Md5Context whole = head;
    whole.Update(data.data() + 16384, data.size() - 16384);
    EXPECT_EQ(head.Final(), Md5Of(data.data(), 16384));
    EXPECT_EQ(whole.Final(), Md5Of(data.data(), data.size()));
    head.Reset();
    EXPECT_EQ(head.Final(), Md5Of(nullptr, 0));
    EXPECT_EQ(head.totalBytes(), 0u);
}

TEST(Md5, EmptyUpdatesChangeNothing) {
    Md5Context context;
    context.Update("abcdefg", 7);
    const Md5Digest before = context.Final();
    context.Update("x", 0);
    context.Update(nullptr, 0);
    context.UpdateZeros(0);
    EXPECT_EQ(context.Final(), before);
    EXPECT_EQ(context.totalBytes(), 7u);
    context.Update("h", 1);
    EXPECT_EQ(context.Final(), Md5Of("abcdefgh", 8));
}

// Zero runs of every size class after every possible buffered count.
TEST(Md5, ZeroRunsEqualExplicitZeros) {
    std::mt19937_64 rng(test::TestSeed());
    const auto prefix = test::RandomBytes(rng, 64 + 63);
    const auto suffix = test::RandomBytes(rng, 70);
    for (size_t lead : {0u, 64u}) {
        for (size_t buffered = 0; buffered < 64; ++buffered) {
            for (uint64_t zeros : {1u, 2u, 7u, 63u, 64u, 65u, 127u, 128u, 129u, 1000u}) {
                const size_t p = lead + buffered;
                std::vector<uint8_t> expectedBytes(prefix.begin(), prefix.begin() + p);
                expectedBytes.resize(p + zeros, 0);
                expectedBytes.insert(expectedBytes.end(), suffix.begin(), suffix.end());

                Md5Context context;
                context.Update(prefix.data(), p);
                context.UpdateZeros(zeros);
                ASSERT_EQ(context.totalBytes(), p + zeros);
                ASSERT_EQ(context.Final(), Md5Of(expectedBytes.data(), p + zeros))
                    << "buffered " << buffered << " zeros " << zeros;
                context.Update(suffix.data(), suffix.size());
                ASSERT_EQ(context.Final(), Md5Of(expectedBytes.data(), expectedBytes.size()))
                    << "buffered " << buffered << " zeros " << zeros;
            }
        }
    }
}

TEST(Md5, LongZeroRunEqualsExplicitZeros) {
    const std::vector<uint8_t> zeros(3 * 1048576 + 5, 0);
    Md5Context context;
    context.Update("q", 1);
    context.UpdateZeros(zeros.size());
    Md5Context explicitZeros;
    explicitZeros.Update("q", 1);
    explicitZeros.Update(zeros.data(), zeros.size());
    EXPECT_EQ(context.Final(), explicitZeros.Final());
}

// The last block of a file is hashed as if padded with zeros to the block
// size, whether its bytes come in one buffer or several.
TEST(Md5, PaddedBlockHashing) {
    std::mt19937_64 rng(test::TestSeed());
    const size_t blockSize = 1024;
    for (size_t n : {0u, 1u, 63u, 64u, 500u, 1000u, 1023u, 1024u}) {
        auto data = test::RandomBytes(rng, n);
        std::vector<uint8_t> padded = data;
        padded.resize(blockSize, 0);
        const Md5Digest expected = Md5Of(padded.data(), padded.size());

        Md5Context one;
        one.Update(data.data(), n);
        one.UpdateZeros(blockSize - n);
        EXPECT_EQ(one.Final(), expected) << n;

        Md5Context pieces;
        const size_t a = n / 3, b = n / 2;
        pieces.Update(data.data(), a);
        pieces.Update(data.data() + a, b - a);
        pieces.Update(data.data() + b, n - b);
        pieces.UpdateZeros(blockSize - n);
        EXPECT_EQ(pieces.Final(), expected) << n;
    }
}

TEST(Md5, HexIsLowerCase) {
    Md5Digest digest;
    for (int i = 0; i < 16; ++i) digest.bytes[i] = static_cast<uint8_t>(i * 17);
    EXPECT_EQ(digest.ToHex(), "00112233445566778899aabbccddeeff");
}

}  // namespace
}  // namespace vantrove
