// Throughput of the multiply-accumulate kernels (bytes of input per output)
// and of the full rebuild pass. Run by hand:
//   cmake -S . -B build -DVANTROVE_BUILD_BENCH=ON && cmake --build build --target rs_bench
//   ./build/bench/rs_bench
// Ratios matter more than absolute figures (the benchmark library may be a
// debug build).

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "rs/multiply_accumulate.h"

namespace vantrove {
namespace {

std::vector<uint8_t> Random(size_t n, uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = static_cast<uint8_t>(rng());
    return v;
}

const ProductTables& Products() {
    static const auto tables = ProductTables::Create();
    return *tables;
}

// state.range(0): kernel index; state.range(1): buffer bytes.
void BM_MultiplyAccumulate(benchmark::State& state) {
    const auto kernels = AvailableMultiplyAccumulateKernels();
    const auto& kernel = *kernels[static_cast<size_t>(state.range(0))];
    const auto length = static_cast<size_t>(state.range(1));
    const auto in = Random(length, 1);
    auto out = Random(length, 2);
    FactorTable table;
    kernel.prepare(Products(), 0xA3C5, table);
    for (auto _ : state) {
        kernel.apply(table, in.data(), out.data(), length);
        benchmark::ClobberMemory();
    }
    state.SetLabel(kernel.name);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * length));
}

void KernelArguments(benchmark::internal::Benchmark* b) {
    const auto count = static_cast<int64_t>(AvailableMultiplyAccumulateKernels().size());
    for (int64_t k = 0; k < count; ++k)
        for (int64_t size : {16 << 10, 1 << 20}) b->Args({k, size});
}
BENCHMARK(BM_MultiplyAccumulate)->Apply(KernelArguments);

// Table setups per second (the fixed cost per input/output pair).
void BM_PrepareFactor(benchmark::State& state) {
    const auto& kernel = *AvailableMultiplyAccumulateKernels()[static_cast<size_t>(state.range(0))];
    FactorTable table;
    uint16_t f = 0x1234;
    for (auto _ : state) {
        kernel.prepare(Products(), f, table);
        f = static_cast<uint16_t>(f * 31 + 7) | 1;
        benchmark::DoNotOptimize(table.words[0]);
    }
    state.SetLabel(kernel.name);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_PrepareFactor)->DenseRange(0, 4);

void BM_MultiplyAccumulate8(benchmark::State& state) {
    const auto kernels = AvailableMultiplyAccumulate8Kernels();
    const auto& kernel = *kernels[static_cast<size_t>(state.range(0))];
    const auto length = static_cast<size_t>(state.range(1));
    const auto in = Random(length, 1);
    auto out = Random(length, 2);
    Factor8Table table;
    kernel.prepare(0x35, table);
    for (auto _ : state) {
        kernel.apply(table, in.data(), out.data(), length);
        benchmark::ClobberMemory();
    }
    state.SetLabel(kernel.name);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * length));
}

void Kernel8Arguments(benchmark::internal::Benchmark* b) {
    const auto count = static_cast<int64_t>(AvailableMultiplyAccumulate8Kernels().size());
    for (int64_t k = 0; k < count; ++k) b->Args({k, 16 << 10});
}
BENCHMARK(BM_MultiplyAccumulate8)->Apply(Kernel8Arguments);

}  // namespace
}  // namespace vantrove

BENCHMARK_MAIN();
