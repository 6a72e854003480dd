#include "app/application.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "core/machine.h"
#include "rs/multiply_accumulate.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

// Field product in GF(2^16) with the generator polynomial 0x1100B, bit by bit:
// slow, obviously right, and enough for a test kernel.
uint16_t SlowMultiply(uint16_t a, uint16_t b) {
    uint32_t product = 0, x = a;
    for (int bit = 0; bit < 16; ++bit) {
        if (b & (1u << bit)) product ^= x;
        x <<= 1;
        if (x & 0x10000) x ^= 0x1100B;
    }
    return static_cast<uint16_t>(product);
}

// The table kernel: four 256-entry tables, two products per 32-bit word.
struct RecordingKernel {
    struct Call {
        const uint8_t* input;
        uint8_t* output;
        size_t bytes;
    };
    std::vector<Call> calls;
    std::vector<uint16_t> factors;
    std::vector<uint8_t> firstInputBytes;
    bool aligned = true;

    SpeedKernel Kernel() {
        SpeedKernel k;
        k.tableBytes = 4 * 256 * sizeof(uint32_t);
        k.buildTable = [this](uint16_t f, void* table) {
            factors.push_back(f);
            aligned = aligned && reinterpret_cast<uintptr_t>(table) % kSpeedTableAlignment == 0;
            uint32_t* t = static_cast<uint32_t*>(table);
            for (uint32_t i = 0; i < 256; ++i) {
                t[i] = SlowMultiply(f, static_cast<uint16_t>(i));
                t[256 + i] = SlowMultiply(f, static_cast<uint16_t>(i << 8));
                t[512 + i] = t[i] << 16;
                t[768 + i] = t[256 + i] << 16;
            }
        };
        k.accumulate = [this](const void* table, const uint8_t* in, uint8_t* out, size_t bytes) {
            if (calls.empty()) firstInputBytes.assign(in, in + 4);
            calls.push_back({in, out, bytes});
            const uint32_t* t = static_cast<const uint32_t*>(table);
            for (size_t i = 0; i < bytes; i += 4) {
                uint32_t w, o;
                std::memcpy(&w, in + i, 4);
                std::memcpy(&o, out + i, 4);
                o ^= t[w & 0xFF] ^ t[256 + ((w >> 8) & 0xFF)] ^ t[512 + ((w >> 16) & 0xFF)] ^
                     t[768 + (w >> 24)];
                std::memcpy(out + i, &o, 4);
            }
        };
        return k;
    }
};

TEST(Application, TestKernelMultipliesBothHalvesOfAWord) {
    RecordingKernel recorder;
    SpeedKernel k = recorder.Kernel();
    std::vector<uint8_t> table(k.tableBytes);
    k.buildTable(0x1234, table.data());
    const uint8_t in[4] = {0x01, 0x00, 0x02, 0x00};  // elements 1 and 2
    uint8_t out[4] = {0, 0, 0, 0};
    k.accumulate(table.data(), in, out, 4);
    EXPECT_EQ(out[0] | (out[1] << 8), 0x1234);
    EXPECT_EQ(out[2] | (out[3] << 8), SlowMultiply(0x1234, 2));
}

TEST(Application, MemoryIsTheSystemFigure) {
    Application app;
    app.physicalMemoryBytes = 1;
    app.MeasureMemory();
    EXPECT_EQ(app.physicalMemoryBytes, PhysicalMemoryBytes());
    EXPECT_GT(app.physicalMemoryBytes, 0u);
}

TEST(Application, CurrentIsTheLivingObject) {
    {
        Application app;
        EXPECT_EQ(Application::Current(), &app);
        EXPECT_GT(app.counterFrequency, 0);
    }
    EXPECT_EQ(Application::Current(), nullptr);
}

TEST(Application, WithoutACounterTheDefaultsStay) {
    RecordingKernel recorder;
    Application app;
    app.speedKernel = recorder.Kernel();
    app.counterFrequency = 0;
    app.bytesPerSecond = 5;
    app.tableSetupsPerSecond = 5;
    app.MeasureSpeed();
    EXPECT_EQ(app.bytesPerSecond, kDefaultBytesPerSecond);
    EXPECT_EQ(app.tableSetupsPerSecond, 0);
    EXPECT_TRUE(recorder.calls.empty());
}

TEST(Application, ActiveKernelMultipliesEveryElement) {
    SpeedKernel kernel = ActiveSpeedKernel();
    ASSERT_TRUE(kernel);
    std::mt19937_64 rng(test::TestSeed());
    void* storage =
        std::aligned_alloc(kSpeedTableAlignment, (kernel.tableBytes + kSpeedTableAlignment - 1) /
                                                     kSpeedTableAlignment * kSpeedTableAlignment);
    ASSERT_NE(storage, nullptr);
    std::vector<uint8_t> input = test::RandomBytes(rng, 4096);
    for (uint16_t factor : {uint16_t{1}, uint16_t{2}, uint16_t{0x8000}, uint16_t{0xFFFF},
                            static_cast<uint16_t>(rng() | 1)}) {
        std::vector<uint8_t> output = test::RandomBytes(rng, input.size());
        std::vector<uint8_t> before = output;
        // The kernel runs in its working layout, as in the rebuild.
        const MultiplyAccumulateKernel& active = ActiveMultiplyAccumulate();
        std::vector<uint8_t> working = input;
        if (active.toWorking) {
            active.toWorking(working.data(), working.size());
            active.toWorking(output.data(), output.size());
        }
        kernel.buildTable(factor, storage);
        kernel.accumulate(storage, working.data(), output.data(), input.size());
        if (active.fromWorking) active.fromWorking(output.data(), output.size());
        for (size_t i = 0; i < input.size(); i += 2) {
            uint16_t in = static_cast<uint16_t>(input[i] | (input[i + 1] << 8));
            uint16_t was = static_cast<uint16_t>(before[i] | (before[i + 1] << 8));
            uint16_t now = static_cast<uint16_t>(output[i] | (output[i + 1] << 8));
            ASSERT_EQ(now, was ^ SlowMultiply(factor, in)) << "factor " << factor << " at " << i;
        }
    }
    std::free(storage);
}

TEST(Application, TheActiveKernelIsMeasuredByDefault) {
    Application app;
    app.MeasureSpeed();
    EXPECT_GT(app.tableSetupsPerSecond, 0);
    EXPECT_GT(app.bytesPerSecond, 0);
    EXPECT_NE(app.bytesPerSecond, kDefaultBytesPerSecond);
}

TEST(Application, SpeedRatesFromTicks) {
    int64_t setups = -1, bytes = -1;
    // 100 iterations: 1 ms of table setup, 50 ms of processing, nanosecond ticks.
    ComputeSpeedRates(100, 1000000, 50000000, 1000000000, setups, bytes);
    EXPECT_EQ(setups, 100000);
    EXPECT_EQ(bytes, 262144000);
    // Microsecond ticks, integer arithmetic throughout.
    ComputeSpeedRates(3, 7, 1000, 1000000, setups, bytes);
    EXPECT_EQ(setups, 3 * 1000000 / 7);
    EXPECT_EQ(bytes, 3 * int64_t{131072000000} / 1000);
}

TEST(Application, SpeedRatesNeverDivideByZero) {
    int64_t setups = 11, bytes = 22;
    ComputeSpeedRates(0, 100, 100, 1000000000, setups, bytes);
    EXPECT_EQ(setups, 11);
    EXPECT_EQ(bytes, 22);
    ComputeSpeedRates(5, 100, 100, 0, setups, bytes);
    EXPECT_EQ(setups, 11);
    ComputeSpeedRates(5, 100, 200, 1000000000, setups, bytes);  // under a microsecond
    EXPECT_EQ(setups, 5000000);
    EXPECT_EQ(bytes, 5 * int64_t{131072000000});
}

TEST(Application, MeasurementTimesTheKernelOverItsBuffers) {
    RecordingKernel recorder;
    Application app;
    app.speedKernel = recorder.Kernel();
    app.MeasureSpeed();

    ASSERT_GE(recorder.calls.size(), 9u) << "about 100 ms of work makes many iterations";
    EXPECT_EQ(recorder.factors.size(), recorder.calls.size());
    for (uint16_t f : recorder.factors) ASSERT_NE(f, 0);
    EXPECT_TRUE(recorder.aligned);
    // The input starts as the program's own file.
    EXPECT_EQ(recorder.firstInputBytes, (std::vector<uint8_t>{0x7f, 'E', 'L', 'F'}));
    // Eight chunks walk through each buffer, then input and output swap roles.
    const uint8_t* firstIn = recorder.calls[0].input;
    const uint8_t* firstOut = recorder.calls[0].output;
    for (size_t i = 0; i < recorder.calls.size(); ++i) {
        const auto& call = recorder.calls[i];
        ASSERT_EQ(call.bytes, kSpeedChunkBytes);
        size_t offset = (i % 8) * kSpeedChunkBytes;
        bool swapped = (i / 8) % 2 == 1;
        ASSERT_EQ(call.input, (swapped ? firstOut : firstIn) + offset) << i;
        ASSERT_EQ(call.output, (swapped ? firstIn : firstOut) + offset) << i;
    }
    EXPECT_GT(app.tableSetupsPerSecond, 0);
    EXPECT_GT(app.bytesPerSecond, 0);
    EXPECT_NE(app.bytesPerSecond, kDefaultBytesPerSecond);
}

}  // namespace
}  // namespace vantrove
