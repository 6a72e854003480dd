#include "core/crc32_window.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "core/crc32.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

// The window by its definition: W[b] is T0[b] taken through L zero-byte
// steps one at a time, M the CRC of L zero bytes computed the same way.
struct NaiveWindow {
    uint32_t outgoing[256];
    uint32_t mask;
};

NaiveWindow BuildNaive(uint32_t length) {
    const uint32_t* t0 = Crc32TablesInstance().t[0];
    NaiveWindow w;
    for (uint32_t b = 0; b < 256; ++b) {
        uint32_t c = t0[b];
        for (uint32_t i = 0; i < length; ++i) c = (c >> 8) ^ t0[c & 0xFF];
        w.outgoing[b] = c;
    }
    uint32_t m = 0xFFFFFFFFu;
    for (uint32_t i = 0; i < length; ++i) m = (m >> 8) ^ t0[m & 0xFF];
    w.mask = ~m;
    return w;
}

void ExpectMatchesDefinition(uint32_t length) {
    Crc32Window window;
    window.Build(length);
    const NaiveWindow naive = BuildNaive(length);
    EXPECT_EQ(window.length(), length);
    EXPECT_EQ(window.mask(), naive.mask) << "L = " << length;
    for (int b = 0; b < 256; ++b) {
        ASSERT_EQ(window.outgoing()[b], naive.outgoing[b]) << "L = " << length << ", b = " << b;
    }
}

TEST(Crc32Window, EmptyWindowIsTheByteTable) {
    Crc32Window window;
    window.Build(0);
    EXPECT_EQ(window.mask(), 0u);
    const uint32_t* t0 = Crc32TablesInstance().t[0];
    for (int b = 0; b < 256; ++b) ASSERT_EQ(window.outgoing()[b], t0[b]);
}

TEST(Crc32Window, EqualsDefinitionForTellingLengths) {
    for (uint32_t length : {1u, 4u, 5u, 12u, 13u, 384000u, 1u << 20})
        ExpectMatchesDefinition(length);
}

TEST(Crc32Window, EqualsDefinitionForEverySmallLength) {
    for (uint32_t length = 0; length <= 160; ++length) ExpectMatchesDefinition(length);
}

TEST(Crc32Window, MaskIsCrcOfZeros) {
    const std::vector<uint8_t> zeros(100000, 0);
    for (uint32_t length : {3u, 64u, 65539u, 100000u}) {
        Crc32Window window;
        window.Build(length);
        EXPECT_EQ(window.mask(), Crc32Update(0, zeros.data(), length)) << length;
    }
}

// Sliding across random data gives at every offset the CRC of the L bytes
// that start there.
TEST(Crc32Window, SlidingGivesEveryWindowsCrc) {
    std::mt19937_64 rng(test::TestSeed());
    const auto data = test::RandomBytes(rng, 6000);
    for (uint32_t length : {1u, 2u, 4u, 5u, 13u, 64u, 1000u, 4096u}) {
        Crc32Window window;
        window.Build(length);
        uint32_t crc = Crc32Update(0, data.data(), length);
        for (size_t k = 0; k + length < data.size(); ++k) {
            crc = window.Slide(crc, data[k + length], data[k]);
            ASSERT_EQ(crc, Crc32Update(0, data.data() + k + 1, length))
                << "L = " << length << ", offset " << k + 1;
        }
    }
}

}  // namespace
}  // namespace vantrove
