#include "rs/galois_field.h"

#include <gtest/gtest.h>

#include <numeric>
#include <random>

#include "rs/block_signature.h"
#include "rs/galois_field8.h"
#include "rs/product_tables.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

// Field products computed bit by bit, independent of the tables.
uint32_t SlowMultiply(uint32_t a, uint32_t b, uint32_t polynomial, int bits) {
    uint32_t result = 0;
    for (int i = 0; i < bits; ++i) {
        if (b & (1u << i)) result ^= a;
        a <<= 1;
        if (a & (1u << bits)) a ^= polynomial;
    }
    return result;
}

TEST(Gf16, MultiplyMatchesBitwiseProduct) {
    EXPECT_EQ(Gf16Multiply(0x8000, 2), 0x100B);
    std::mt19937_64 rng(test::TestSeed());
    for (int n = 0; n < 200000; ++n) {
        const auto a = static_cast<uint16_t>(rng()), b = static_cast<uint16_t>(rng());
        ASSERT_EQ(Gf16Multiply(a, b), SlowMultiply(a, b, kGf16Polynomial, 16)) << a << " " << b;
    }
}

TEST(Gf16, IdentitiesHoldForEveryElement) {
    for (uint32_t x = 1; x < 65536; ++x) {
        const auto v = static_cast<uint16_t>(x);
        ASSERT_EQ(Gf16Multiply(v, 1), v);
        ASSERT_EQ(Gf16Divide(v, v), 1);
        ASSERT_EQ(Gf16Multiply(v, Gf16Inverse(v)), 1);
        ASSERT_EQ(Gf16Antilog(Gf16Log(v)), v);
    }
    EXPECT_EQ(Gf16Multiply(0, 0x1234), 0);
    EXPECT_EQ(Gf16Multiply(0x1234, 0), 0);
    EXPECT_EQ(Gf16Divide(0, 0x1234), 0);
    EXPECT_EQ(Gf16Log(0), 0xFFFF);
    EXPECT_EQ(Gf16Antilog(65535), 0);
}

TEST(Gf16, DivideUndoesMultiply) {
    std::mt19937_64 rng(test::TestSeed() + 1);
    for (int n = 0; n < 100000; ++n) {
        const auto a = static_cast<uint16_t>(rng()), b = static_cast<uint16_t>(rng() | 1);
        ASSERT_EQ(Gf16Divide(Gf16Multiply(a, b), b), a);
    }
}

TEST(Gf16, PowerEdgeCases) {
    EXPECT_EQ(Gf16Power(2, 65535), 1);
    EXPECT_EQ(Gf16Power(2, 16), 0x100B);
    for (uint32_t e : {0u, 1u, 2u, 65534u, 65535u}) EXPECT_EQ(Gf16Power(0, e), 0) << e;
    EXPECT_EQ(Gf16Power(0x1234, 0), 1);
    // Against repeated multiplication, including exponents whose product with
    // the log needs the fold.
    std::mt19937_64 rng(test::TestSeed() + 2);
    for (int n = 0; n < 200; ++n) {
        const auto base = static_cast<uint16_t>(rng() | 0x8000);
        const auto e = static_cast<uint16_t>(rng());
        uint16_t expected = 1;
        for (uint32_t k = 0; k < e; ++k) expected = Gf16Multiply(expected, base);
        ASSERT_EQ(Gf16Power(base, e), expected) << base << "^" << e;
    }
}

TEST(Gf16, InputBasesSkipExponentsSharingAFactorWith65535) {
    EXPECT_EQ(Gf16InputBase(0), 2);
    EXPECT_EQ(Gf16InputBase(1), 4);
    EXPECT_EQ(Gf16InputBase(2), 16);
    EXPECT_EQ(Gf16InputBase(3), 128);
    EXPECT_EQ(Gf16InputBase(4), 256);
    const uint16_t firstLogs[] = {1, 2, 4, 7, 8, 11, 13, 14, 16};
    for (uint32_t k = 0; k < std::size(firstLogs); ++k)
        EXPECT_EQ(Gf16InputBaseLog(k), firstLogs[k]);
    // All 32768 logs are coprime to 65535, strictly rising and below 65535;
    // so the bases are distinct generators of the field.
    uint32_t previous = 0;
    for (uint32_t k = 0; k < kGf16MaxInputs; ++k) {
        const uint32_t log = Gf16InputBaseLog(k);
        ASSERT_GT(log, previous);
        ASSERT_LT(log, 65535u);
        ASSERT_EQ(std::gcd(log, 65535u), 1u) << log;
        previous = log;
    }
}

TEST(Gf16, ProductTablesGiveFullProducts) {
    auto tables = ProductTables::Create();
    ASSERT_TRUE(tables);
    EXPECT_EQ(tables->lowHigh[1][1], 256);
    EXPECT_EQ(tables->highHigh[0x80][0x02], Gf16Multiply(0x8000, 0x0200));
    std::mt19937_64 rng(test::TestSeed() + 3);
    for (int n = 0; n < 100000; ++n) {
        const auto a = static_cast<uint16_t>(rng()), b = static_cast<uint16_t>(rng());
        ASSERT_EQ(tables->Multiply(a, b), Gf16Multiply(a, b));
    }
}

TEST(Gf8, OperationsMatchBitwiseProduct) {
    for (uint32_t a = 0; a < 256; ++a) {
        for (uint32_t b = 0; b < 256; ++b) {
            ASSERT_EQ(Gf8Multiply(a, b), SlowMultiply(a, b, kGf8Polynomial, 8));
            if (b != 0) {
                ASSERT_EQ(Gf8Divide(Gf8Multiply(a, b), b), a);
            }
        }
    }
    EXPECT_EQ(Gf8Log(0), 255);
    EXPECT_EQ(Gf8Antilog(255), 0);
    EXPECT_EQ(Gf8Power(2, 8), 0x1D);
    EXPECT_EQ(Gf8Power(2, 255), 1);
    EXPECT_EQ(Gf8Power(0, 0), 0);
    for (uint32_t base = 1; base < 256; base += 17) {
        uint8_t expected = 1;
        for (uint32_t e = 0; e < 1000; ++e) {
            ASSERT_EQ(Gf8Power(static_cast<uint8_t>(base), static_cast<uint16_t>(e)), expected);
            expected = Gf8Multiply(expected, static_cast<uint8_t>(base));
        }
        ASSERT_EQ(Gf8Power(static_cast<uint8_t>(base), 65535), 1);  // 65535 = 257 · 255
    }
}

// Σ w_m · 2^(-8·(n-2m)) over the 16-bit words.
uint16_t SignatureByFormula(const std::vector<uint8_t>& data) {
    const size_t n = data.size();
    uint16_t sum = 0;
    for (size_t m = 0; 2 * m < n; ++m) {
        const auto w = static_cast<uint16_t>(data[2 * m] | (data[2 * m + 1] << 8));
        const uint32_t shift = static_cast<uint32_t>((8 * (n - 2 * m)) % 65535);
        sum ^= Gf16Multiply(w, Gf16Antilog(static_cast<uint16_t>((65535 - shift) % 65535)));
    }
    return sum;
}

TEST(BlockSignature, WordTablesAgreeWithBytesAndWithTheFormula) {
    std::mt19937_64 rng(test::TestSeed() + 4);
    for (size_t length :
         {0, 1, 2, 3, 4, 5, 6, 7, 8, 30, 64, 1001, 1024, 1030, 1031, 4096, 4607, 8193, 100003}) {
        const auto data = test::RandomBytes(rng, length);
        const uint16_t fast = BlockSignature(data.data(), data.size());
        EXPECT_EQ(fast, BlockSignatureBytewise(data.data(), data.size())) << length;
        if (length % 2 == 0) {
            EXPECT_EQ(fast, SignatureByFormula(data)) << length;
        }
    }
    // Continuing from a state equals one call over the whole.
    const auto data = test::RandomBytes(rng, 1000);
    EXPECT_EQ(BlockSignature(data.data() + 333, 667, BlockSignature(data.data(), 333)),
              BlockSignature(data.data(), 1000));
}

TEST(BlockSignature, IsLinear) {
    std::vector<uint8_t> zeros(512, 0);
    EXPECT_EQ(BlockSignature(zeros.data(), zeros.size()), 0);

    std::mt19937_64 rng(test::TestSeed() + 5);
    const auto data = test::RandomBytes(rng, 512);
    // Each half zero-extended in place to the full length.
    std::vector<uint8_t> first(data), second(data);
    std::fill(first.begin() + 256, first.end(), 0);
    std::fill(second.begin(), second.begin() + 256, 0);
    EXPECT_EQ(BlockSignature(data.data(), 512),
              BlockSignature(first.data(), 512) ^ BlockSignature(second.data(), 512));
    // A single changed byte changes the signature.
    std::vector<uint8_t> changed(data);
    changed[100] ^= 0x40;
    EXPECT_NE(BlockSignature(changed.data(), 512), BlockSignature(data.data(), 512));

    for (uint16_t f : {uint16_t{1}, uint16_t{2}, uint16_t{0xFFFF}, static_cast<uint16_t>(rng())}) {
        std::vector<uint8_t> scaled(512);
        for (size_t i = 0; i < 512; i += 2) {
            const auto p = Gf16Multiply(f, static_cast<uint16_t>(data[i] | (data[i + 1] << 8)));
            scaled[i] = static_cast<uint8_t>(p);
            scaled[i + 1] = static_cast<uint8_t>(p >> 8);
        }
        EXPECT_EQ(BlockSignature(scaled.data(), 512),
                  Gf16Multiply(f, BlockSignature(data.data(), 512)))
            << f;
    }
}

TEST(BlockChecksum8, MatchesByteRuleAndIsLinear) {
    std::mt19937_64 rng(test::TestSeed() + 6);
    for (size_t length : {0, 1, 3, 4, 5, 8, 13, 257}) {
        const auto data = test::RandomBytes(rng, length);
        uint8_t h = 0;
        for (uint8_t d : data) h = Gf8Multiply(h ^ d, 0x1D);
        EXPECT_EQ(BlockChecksum8(data.data(), data.size()), h) << length;
    }
    const auto a = test::RandomBytes(rng, 100), b = test::RandomBytes(rng, 100);
    std::vector<uint8_t> sum(100), scaled(100);
    const uint8_t f = 0xA7;
    for (size_t i = 0; i < 100; ++i) {
        sum[i] = a[i] ^ b[i];
        scaled[i] = Gf8Multiply(f, a[i]);
    }
    EXPECT_EQ(BlockChecksum8(sum.data(), 100),
              BlockChecksum8(a.data(), 100) ^ BlockChecksum8(b.data(), 100));
    EXPECT_EQ(BlockChecksum8(scaled.data(), 100), Gf8Multiply(f, BlockChecksum8(a.data(), 100)));
}

}  // namespace
}  // namespace vantrove
