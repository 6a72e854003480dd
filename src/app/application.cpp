#include "app/application.h"

#include <fcntl.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <new>
#include <random>
#include <vector>

#include "core/machine.h"
#include "rs/multiply_accumulate.h"
#include "rs/product_tables.h"

namespace vantrove {
namespace {

std::atomic<Application*> g_current{nullptr};

// Fills `buffer` with the first bytes of the program's own file, which makes
// realistic input for the measurement; on failure the buffer stays as it is.
void ReadOwnExecutable(std::vector<uint8_t>& buffer) {
    int fd = open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    size_t done = 0;
    while (done < buffer.size()) {
        ssize_t n = read(fd, buffer.data() + done, buffer.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    close(fd);
}

}  // namespace

static_assert(alignof(FactorTable) <= kSpeedTableAlignment);

SpeedKernel ActiveSpeedKernel() {
    std::shared_ptr<const ProductTables> products = ProductTables::Create();
    if (!products) return SpeedKernel{};
    const MultiplyAccumulateKernel& active = ActiveMultiplyAccumulate();
    SpeedKernel kernel;
    kernel.tableBytes = sizeof(FactorTable);
    kernel.buildTable = [products, &active](uint16_t factor, void* storage) {
        FactorTable* table = new (storage) FactorTable;
        active.prepare(*products, factor, *table);
    };
    // The rebuild's data pass keeps its blocks in the kernel's working layout
    // and multiplies through applyMany; time that same path. The measured
    // data are not looked at, so they need no conversion.
    kernel.accumulate = [&active](const void* table, const uint8_t* input, uint8_t* output,
                                  size_t bytes) {
        const auto* factorTable = static_cast<const FactorTable*>(table);
        active.applyMany(&factorTable, &input, 1, output, bytes);
    };
    return kernel;
}

int64_t ReadCounter() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int64_t CounterFrequency() {
    return 1000000000;
}  // ReadCounter counts nanoseconds

void ComputeSpeedRates(int64_t iterations, int64_t setupTicks, int64_t processTicks,
                       int64_t frequency, int64_t& tableSetupsPerSecond, int64_t& bytesPerSecond) {
    if (iterations <= 0 || frequency <= 0) return;
    int64_t setupMicroseconds = setupTicks * 1000000 / frequency;
    int64_t processMicroseconds = processTicks * 1000000 / frequency;
    // A fast machine may build all its tables in under a microsecond; a
    // zero would divide by zero and an unmeasured rate of 0 would mean
    // "unknown" to the estimate, so the time counts as one microsecond.
    if (setupMicroseconds < 1) setupMicroseconds = 1;
    if (processMicroseconds < 1) processMicroseconds = 1;
    tableSetupsPerSecond = iterations * 1000000 / setupMicroseconds;
    bytesPerSecond =
        iterations * (static_cast<int64_t>(kSpeedChunkBytes) * 1000000) / processMicroseconds;
}

Application::Application() {
    counterFrequency = CounterFrequency();
    startCounter = ReadCounter();
    g_current.store(this);
}

Application::~Application() {
    Application* self = this;
    g_current.compare_exchange_strong(self, nullptr);
}

Application* Application::Current() {
    return g_current.load();
}

void Application::MeasureMemory() {
    physicalMemoryBytes = PhysicalMemoryBytes();
}

void Application::MeasureSpeed() {
    tableSetupsPerSecond = 0;
    bytesPerSecond = kDefaultBytesPerSecond;
    // Building the kernel builds its product tables; they go when it does.
    const SpeedKernel kernel = speedKernel ? speedKernel : ActiveSpeedKernel();
    if (!kernel) return;

    std::vector<uint8_t> first(kSpeedBufferBytes), second(kSpeedBufferBytes);
    ReadOwnExecutable(first);
    size_t tableRoom = (kernel.tableBytes + kSpeedTableAlignment - 1) & ~(kSpeedTableAlignment - 1);
    std::unique_ptr<void, void (*)(void*)> table(
        std::aligned_alloc(kSpeedTableAlignment, tableRoom), std::free);
    if (!table) return;
    std::mt19937 random(
        static_cast<uint32_t>(std::chrono::system_clock::now().time_since_epoch().count()));
    if (counterFrequency == 0) return;

    uint8_t* input = first.data();
    uint8_t* output = second.data();
    size_t position = 0;  // the same in the input and in the output
    int64_t iterations = 0, setupTicks = 0, processTicks = 0;
    auto begin = std::chrono::steady_clock::now();
    do {
        uint16_t factor = static_cast<uint16_t>(((random() & 0xFF) << 8) | (random() & 0xFF));
        if (factor == 0) continue;
        int64_t t0 = ReadCounter();
        kernel.buildTable(factor, table.get());
        int64_t t1 = ReadCounter();
        kernel.accumulate(table.get(), input + position, output + position, kSpeedChunkBytes);
        int64_t t2 = ReadCounter();
        setupTicks += t1 - t0;
        processTicks += t2 - t1;
        position += kSpeedChunkBytes;
        if (position + kSpeedChunkBytes > kSpeedBufferBytes) {
            // The accumulated data becomes the next input.
            std::swap(input, output);
            position = 0;
        }
        ++iterations;
    } while (std::chrono::steady_clock::now() - begin <
             std::chrono::milliseconds(kSpeedMeasureMilliseconds));

    ComputeSpeedRates(iterations, setupTicks, processTicks, counterFrequency, tableSetupsPerSecond,
                      bytesPerSecond);
}

}  // namespace vantrove
