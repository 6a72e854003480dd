#pragma once
// Application: what the program learns about the machine at start-up.
//
// One instance lives for the whole process; it is created before start-up
// runs (RunStartup in start_up.h fills it) and its figures are read-only
// afterwards. The figures feed the memory budgets of creation and repair
// (physicalMemoryBytes, of which they use a third) and the time estimate of
// the create dialog (bytesPerSecond, tableSetupsPerSecond).
//
// The speed measurement times the multiply-accumulate kernel that dominates
// creation and repair: the one the Reed-Solomon code chose for this CPU
// (ActiveSpeedKernel), unless `speedKernel` names another before start-up.
// When no kernel can be set up the measurement keeps the default figures.
//
// Everything here runs on the main thread before any worker exists.

#include <cstddef>
#include <cstdint>
#include <functional>

#include "core/machine.h"

namespace vantrove {

constexpr uint64_t kDefaultPhysicalMemoryBytes = kAssumedPhysicalMemoryBytes;
constexpr int64_t kDefaultBytesPerSecond = 262144000;        // 250 MiB/s

// The speed measurement's view of the multiply-accumulate kernel: the table
// for one 16-bit factor is built once, then every 32-bit word of the input
// (two field elements) is multiplied by the factor and added (XOR) into the
// output. The two steps are timed apart.
struct SpeedKernel {
    size_t tableBytes = 0;  // room the table of one factor needs
    // Builds the table of `factor` (never 0) into `table`: tableBytes bytes,
    // aligned to kSpeedTableAlignment.
    std::function<void(uint16_t factor, void* table)> buildTable;
    // output ^= factor * input over `bytes` bytes (a multiple of 4), using a
    // table that buildTable made.
    std::function<void(const void* table, const uint8_t* input, uint8_t* output, size_t bytes)>
        accumulate;

    explicit operator bool() const { return tableBytes > 0 && buildTable && accumulate; }
};

// Constants of the speed measurement.
constexpr size_t kSpeedBufferBytes = 1048576;  // each of the two work buffers
constexpr size_t kSpeedChunkBytes = 131072;    // processed per iteration
constexpr int kSpeedMeasureMilliseconds = 100;
constexpr size_t kSpeedTableAlignment = 64;

class Application {
  public:
    // Reads the high-resolution counter (its frequency and the start value).
    Application();
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // The application object of this process (the one constructed last that
    // still lives), or nullptr.
    static Application* Current();

    // Total physical memory, or the 128 MiB default when the system does not
    // report it.
    void MeasureMemory();

    // Times the kernel for about 100 ms on data from the program's own file
    // and sets both rates; keeps the defaults when there is no kernel or no
    // counter.
    void MeasureSpeed();

    uint64_t physicalMemoryBytes = kDefaultPhysicalMemoryBytes;
    int64_t tableSetupsPerSecond = 0;  // 0 until measured
    int64_t bytesPerSecond = kDefaultBytesPerSecond;
    int64_t counterFrequency = 0;  // counter ticks per second; 0 without a counter
    int64_t startCounter = 0;      // counter value at construction

    // The kernel to measure in place of the active one (tests, other
    // kernels); empty means ActiveSpeedKernel().
    SpeedKernel speedKernel;
};

// The Reed-Solomon code's active multiply-accumulate kernel in the form the
// measurement times. It owns a set of product tables (384 KiB), built here
// and released with the last copy. Empty when the tables cannot be allocated.
SpeedKernel ActiveSpeedKernel();

// The current value of the high-resolution counter and its frequency.
int64_t ReadCounter();
int64_t CounterFrequency();

// The rates from a measurement of `iterations` counted iterations that spent
// `setupTicks` building tables and `processTicks` processing 131,072 bytes
// each, with a counter of `frequency` ticks per second. Leaves both rates
// untouched when there is nothing to compute from (no iterations, no
// counter); a total below one microsecond counts as one.
void ComputeSpeedRates(int64_t iterations, int64_t setupTicks, int64_t processTicks,
                       int64_t frequency, int64_t& tableSetupsPerSecond, int64_t& bytesPerSecond);

}  // namespace vantrove
