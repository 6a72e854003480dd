#include "core/crc32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/crc32_kernels.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

// Bit at a time, straight from the polynomial: the yardstick for the tables.
uint32_t BitwiseCrc(uint32_t crc, const uint8_t* p, size_t n) {
    uint32_t c = ~crc;
    for (size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int bit = 0; bit < 8; ++bit) c = (c >> 1) ^ ((c & 1) ? 0xEDB88320u : 0);
    }
    return ~c;
}

using Kernel = uint32_t (*)(uint32_t, const void*, size_t);

struct NamedKernel {
    const char* name;
    Kernel kernel;
};

// Every kernel that this processor can run, the dispatched entry included.
std::vector<NamedKernel> AvailableKernels() {
    std::vector<NamedKernel> kernels = {{"ref", Crc32Update_ref}, {"dispatched", Crc32Update}};
    if (Crc32HaveClmul()) kernels.push_back({"clmul", Crc32Update_clmul});
    if (Crc32HaveVpclmul()) kernels.push_back({"vpclmul", Crc32Update_vpclmul});
    return kernels;
}

TEST(Crc32, CheckValue) {
    const char* digits = "123456789";
    for (const auto& k : AvailableKernels()) {
        EXPECT_EQ(k.kernel(0, digits, 9), 0xCBF43926u) << k.name;
        EXPECT_EQ(k.kernel(0, digits, 0), 0u) << k.name;
    }
    // Extending in pieces gives the same value.
    EXPECT_EQ(Crc32Update(Crc32Update(0, digits, 4), digits + 4, 5), 0xCBF43926u);
}

TEST(Crc32, TableLoopMatchesBitwiseDefinition) {
    std::mt19937_64 rng(test::TestSeed());
    const auto data = test::RandomBytes(rng, 300);
    for (size_t n = 0; n <= data.size(); ++n) {
        const uint32_t start = static_cast<uint32_t>(rng());
        ASSERT_EQ(Crc32Update_ref(start, data.data(), n), BitwiseCrc(start, data.data(), n))
            << "length " << n;
    }
}

TEST(Crc32, TablesFollowTheirDefinition) {
    const Crc32Tables& tables = Crc32TablesInstance();
    EXPECT_EQ(tables.t[0][0], 0u);
    EXPECT_EQ(tables.t[0][1], 0x77073096u);
    EXPECT_EQ(tables.t[0][255], 0x2D02EF8Du);
    for (int k = 1; k < 4; ++k) {
        for (int i = 0; i < 256; ++i) {
            // T[k][i] is byte i followed by k zero bytes through the register.
            uint8_t bytes[4] = {static_cast<uint8_t>(i), 0, 0, 0};
            ASSERT_EQ(tables.t[k][i], ~BitwiseCrc(0xFFFFFFFFu, bytes, k + 1)) << k << " " << i;
        }
    }
}

// Every kernel gives the reference's value for every length up to a few
// folding rounds, at every alignment, from random starting values.
TEST(Crc32, FastKernelsEqualReferenceForEveryLengthAndAlignment) {
    std::mt19937_64 rng(test::TestSeed());
    const auto data = test::RandomBytes(rng, 2200);
    const auto kernels = AvailableKernels();
    for (size_t offset = 0; offset < 16; ++offset) {
        const size_t maxLength = offset == 0 ? 2100 : 700;
        for (size_t n = 0; n <= maxLength; ++n) {
            const uint32_t start = static_cast<uint32_t>(rng());
            const uint32_t expected = Crc32Update_ref(start, data.data() + offset, n);
            for (const auto& k : kernels) {
                ASSERT_EQ(k.kernel(start, data.data() + offset, n), expected)
                    << k.name << " offset " << offset << " length " << n;
            }
        }
    }
}

TEST(Crc32, FastKernelsOnLargeBuffers) {
    std::mt19937_64 rng(test::TestSeed());
    const auto data = test::RandomBytes(rng, (1 << 20) + 300);
    for (size_t n : {size_t{1} << 20, (size_t{1} << 20) + 299, size_t{65536 + 17}}) {
        const uint32_t expected = Crc32Update_ref(0, data.data() + 1, n);
        EXPECT_EQ(expected, static_cast<uint32_t>(crc32_z(0, data.data() + 1, n)));
        for (const auto& k : AvailableKernels()) {
            EXPECT_EQ(k.kernel(0, data.data() + 1, n), expected) << k.name << " " << n;
        }
    }
}

TEST(Crc32, AllZeroAndAllOnesData) {
    for (uint8_t fill : {uint8_t{0}, uint8_t{0xFF}}) {
        const std::vector<uint8_t> data(5000, fill);
        const uint32_t expected = BitwiseCrc(0, data.data(), data.size());
        for (const auto& k : AvailableKernels()) {
            EXPECT_EQ(k.kernel(0, data.data(), data.size()), expected) << k.name;
        }
    }
}

TEST(Crc32, ZeroRunsEqualExplicitZeros) {
    std::mt19937_64 rng(test::TestSeed());
    const std::vector<uint8_t> zeros(70000, 0);
    std::vector<uint64_t> counts;
    for (uint64_t n = 0; n <= 300; ++n) counts.push_back(n);
    for (uint64_t n : {1023u, 1024u, 4097u, 65535u, 70000u}) counts.push_back(n);
    for (uint64_t n : counts) {
        const uint32_t start = static_cast<uint32_t>(rng());
        const uint32_t expected = Crc32Update_ref(start, zeros.data(), n);
        ASSERT_EQ(Crc32UpdateZeros_ref(start, n), expected) << n;
        ASSERT_EQ(Crc32UpdateZeros_log(start, n), expected) << n;
        ASSERT_EQ(Crc32UpdateZeros(start, n), expected) << n;
    }
    // Very long runs: the logarithmic form against the loop.
    for (uint64_t n : {uint64_t{3} << 22, (uint64_t{1} << 25) + 13}) {
        EXPECT_EQ(Crc32UpdateZeros_log(0x12345678u, n), Crc32UpdateZeros_ref(0x12345678u, n));
    }
}

// The last block of a file is hashed as if padded with zeros to the block
// size, whether its bytes come in one buffer or several.
TEST(Crc32, PaddedBlockHashing) {
    std::mt19937_64 rng(test::TestSeed());
    const size_t blockSize = 4096;
    for (size_t n : {0u, 1u, 3u, 100u, 2000u, 4095u, 4096u}) {
        auto data = test::RandomBytes(rng, n);
        std::vector<uint8_t> padded = data;
        padded.resize(blockSize, 0);
        const uint32_t expected = BitwiseCrc(0, padded.data(), padded.size());
        EXPECT_EQ(Crc32UpdateZeros(Crc32Update(0, data.data(), n), blockSize - n), expected);
        const size_t a = n / 3, b = n / 2;
        uint32_t crc = Crc32Update(0, data.data(), a);
        crc = Crc32Update(crc, data.data() + a, b - a);
        crc = Crc32Update(crc, data.data() + b, n - b);
        EXPECT_EQ(Crc32UpdateZeros(crc, blockSize - n), expected) << n;
    }
}

// VANTROVE_FORCE_REFERENCE=1 selects the table loop; otherwise the fastest
// kernel the processor supports is used.
TEST(Crc32, DispatchFollowsProcessorAndEnvironment) {
    const char* force = std::getenv("VANTROVE_FORCE_REFERENCE");
    const std::string chosen = Crc32KernelName();
    if (force != nullptr && std::strcmp(force, "1") == 0) {
        EXPECT_EQ(chosen, "ref");
    } else if (Crc32HaveVpclmul()) {
        EXPECT_EQ(chosen, "vpclmul");
    } else if (Crc32HaveClmul()) {
        EXPECT_EQ(chosen, "clmul");
    } else {
        EXPECT_EQ(chosen, "ref");
    }
    std::cout << "[ kernel   ] CRC-32: " << chosen << std::endl;
}

}  // namespace
}  // namespace vantrove
