// Throughput of the multiply-accumulate kernels (bytes of input per output)
// and of the full rebuild pass. Run by hand:
//   cmake -S . -B build -DVANTROVE_BUILD_BENCH=ON && cmake --build build --target rs_bench
//   ./build/bench/rs_bench
// Ratios matter more than absolute figures (the benchmark library may be a
// debug build).

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "core/machine.h"
#include "rs/block_signature.h"
#include "rs/data_pass.h"
#include "rs/multiply_accumulate.h"

namespace vantrove {
namespace {

std::vector<uint8_t> Random(size_t n, uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = static_cast<uint8_t>(rng());
    return v;
}

// Buffers on 64-byte boundaries, as the data pass allocates its ring and
// output area; unaligned 64-byte vectors would measure split loads instead.
struct AlignedBytes {
    explicit AlignedBytes(const std::vector<uint8_t>& from)
        : size(from.size()),
          data(static_cast<uint8_t*>(::operator new[](from.size(), std::align_val_t{64}))) {
        std::memcpy(data.get(), from.data(), from.size());
    }
    struct Free {
        void operator()(uint8_t* p) const { ::operator delete[](p, std::align_val_t{64}); }
    };
    size_t size;
    std::unique_ptr<uint8_t[], Free> data;
};

const ProductTables& Products() {
    static const auto tables = ProductTables::Create();
    return *tables;
}

// state.range(0): kernel index; state.range(1): buffer bytes.
void BM_MultiplyAccumulate(benchmark::State& state) {
    const auto kernels = AvailableMultiplyAccumulateKernels();
    const auto& kernel = *kernels[static_cast<size_t>(state.range(0))];
    const auto length = static_cast<size_t>(state.range(1));
    const AlignedBytes in(Random(length, 1));
    AlignedBytes out(Random(length, 2));
    FactorTable table;
    kernel.prepare(Products(), 0xA3C5, table);
    for (auto _ : state) {
        kernel.apply(table, in.data.get(), out.data.get(), length);
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

// The shape the data pass uses: eight inputs added to one 4 KiB output tile,
// all in the kernel's working layout. Bytes are input bytes per output.
void BM_MultiplyAccumulateMany(benchmark::State& state) {
    const auto kernels = AvailableMultiplyAccumulateKernels();
    const auto& kernel = *kernels[static_cast<size_t>(state.range(0))];
    const size_t length = 4096, count = 8;
    std::vector<AlignedBytes> inputs;
    std::vector<FactorTable> tables(count);
    std::vector<const FactorTable*> tablePointers;
    std::vector<const uint8_t*> inputPointers;
    for (size_t b = 0; b < count; ++b) {
        inputs.emplace_back(Random(length, 10 + b));
        if (kernel.toWorking) kernel.toWorking(inputs.back().data.get(), length);
        kernel.prepare(Products(), static_cast<uint16_t>(0x1234 + 977 * b), tables[b]);
        tablePointers.push_back(&tables[b]);
        inputPointers.push_back(inputs.back().data.get());
    }
    AlignedBytes out(Random(length, 2));
    for (auto _ : state) {
        kernel.applyMany(tablePointers.data(), inputPointers.data(), count, out.data.get(), length);
        benchmark::ClobberMemory();
    }
    state.SetLabel(kernel.name);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * length * count));
}
void KernelIndices(benchmark::internal::Benchmark* b) {
    b->DenseRange(0, static_cast<int64_t>(AvailableMultiplyAccumulateKernels().size()) - 1);
}
BENCHMARK(BM_MultiplyAccumulateMany)->Apply(KernelIndices);

// The same shape with the packed tables, several outputs per call as the
// data pass hands them (state.range(1)), for the kernels that take them;
// also the data pass's largest batch, 32 inputs over 2 KiB tiles
// (state.range(2): inputs, state.range(3): tile bytes). Bytes are input
// bytes times outputs.
void BM_MultiplyAccumulatePacked(benchmark::State& state) {
    const auto& kernel = *AvailableMultiplyAccumulateKernels()[static_cast<size_t>(state.range(0))];
    if (kernel.applyManyPacked == nullptr) {
        state.SkipWithError("no packed tables");
        return;
    }
    const size_t words = kernel.packedWords;
    const auto outputCount = static_cast<size_t>(state.range(1));
    const auto count = static_cast<size_t>(state.range(2));
    const auto length = static_cast<size_t>(state.range(3));
    std::vector<AlignedBytes> inputs, outputs;
    std::vector<const uint8_t*> inputPointers;
    std::vector<uint8_t*> outputPointers;
    std::vector<uint64_t> packed(outputCount * count * words);
    std::vector<const uint64_t*> packedPointers;
    FactorTable table;
    for (size_t b = 0; b < count; ++b) {
        inputs.emplace_back(Random(length, 10 + b));
        kernel.toWorking(inputs.back().data.get(), length);
        inputPointers.push_back(inputs.back().data.get());
    }
    for (size_t j = 0; j < outputCount; ++j) {
        outputs.emplace_back(Random(length, 40 + j));
        outputPointers.push_back(outputs.back().data.get());
        for (size_t b = 0; b < count; ++b) {
            kernel.prepare(Products(), static_cast<uint16_t>(0x1234 + 977 * b + 31 * j), table);
            std::memcpy(&packed[(j * count + b) * words], table.words, words * sizeof(uint64_t));
        }
        packedPointers.push_back(&packed[j * count * words]);
    }
    for (auto _ : state) {
        kernel.applyManyPacked(packedPointers.data(), inputPointers.data(), count,
                               outputPointers.data(), outputCount, length);
        benchmark::ClobberMemory();
    }
    state.SetLabel(kernel.name);
    state.SetBytesProcessed(
        static_cast<int64_t>(state.iterations() * length * count * outputCount));
}
void PackedArguments(benchmark::internal::Benchmark* b) {
    const auto kernels = AvailableMultiplyAccumulateKernels();
    for (size_t k = 0; k < kernels.size(); ++k)
        if (kernels[k]->applyManyPacked != nullptr)
            for (int64_t outputs : {1, 6})
                for (auto [count, length] : {std::pair{8, 4096}, std::pair{32, 2048}})
                    b->Args({static_cast<int64_t>(k), outputs, count, length});
}
BENCHMARK(BM_MultiplyAccumulatePacked)->Apply(PackedArguments);

// The change into a kernel's working layout and back, over 1 MiB: the data
// pass pays it once per input and output of a chunk.
void BM_WorkingLayoutRoundTrip(benchmark::State& state) {
    const auto& kernel = *AvailableMultiplyAccumulateKernels()[static_cast<size_t>(state.range(0))];
    if (kernel.toWorking == nullptr) {
        state.SkipWithError("no working layout");
        return;
    }
    AlignedBytes data(Random(1 << 20, 5));
    for (auto _ : state) {
        kernel.toWorking(data.data.get(), data.size);
        kernel.fromWorking(data.data.get(), data.size);
        benchmark::ClobberMemory();
    }
    state.SetLabel(kernel.name);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size));
}
void WorkingLayoutIndices(benchmark::internal::Benchmark* b) {
    const auto kernels = AvailableMultiplyAccumulateKernels();
    for (size_t k = 0; k < kernels.size(); ++k)
        if (kernels[k]->toWorking != nullptr) b->Arg(static_cast<int64_t>(k));
}
BENCHMARK(BM_WorkingLayoutRoundTrip)->Apply(WorkingLayoutIndices);

// The block signature that checks every input and output of the data pass.
void BM_BlockSignature(benchmark::State& state) {
    const auto data = Random(1 << 20, 3);
    for (auto _ : state) benchmark::DoNotOptimize(BlockSignature(data.data(), data.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_BlockSignature);

void BM_BlockSignatureBytewise(benchmark::State& state) {
    const auto data = Random(1 << 20, 3);
    for (auto _ : state) benchmark::DoNotOptimize(BlockSignatureBytewise(data.data(), data.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_BlockSignatureBytewise);

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
BENCHMARK(BM_PrepareFactor)->Apply(KernelIndices);

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

// Rebuilding `missing` blocks of `slice` bytes from `sources` inputs (the
// present source blocks and as many recovery blocks as are missing), files
// in a temporary folder (page cache), below TMPDIR when it is set.
class RebuildSetup {
  public:
    RebuildSetup(uint32_t sources, uint32_t missing, uint64_t slice)
        : sourceCount(sources), missingCount(missing), sliceBytes(slice) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") +
                              "/vantrove-rs-bench-XXXXXX";
        dir_ = mkdtemp(pattern.data());
        std::mt19937_64 rng(7);
        std::vector<std::vector<uint8_t>> blocks(sourceCount);
        {
            std::ofstream out(dir_ + "/sources", std::ios::binary);
            for (auto& block : blocks) {
                block.resize(sliceBytes);
                for (size_t i = 0; i < sliceBytes; i += 8) {
                    const uint64_t v = rng();
                    std::memcpy(block.data() + i, &v, 8);
                }
                out.write(reinterpret_cast<const char*>(block.data()), sliceBytes);
            }
        }
        ReedSolomonMatrix creation;
        creation.SetInput(sourceCount);
        for (uint16_t e = 0; e < missingCount; ++e) creation.AddOutput(false, e);
        creation.Compute(nullptr);
        {
            const auto& kernel = ActiveMultiplyAccumulate();
            std::vector<uint8_t> recovery(sliceBytes);
            std::ofstream out(dir_ + "/recovery", std::ios::binary);
            FactorTable table;
            for (uint32_t r = 0; r < missingCount; ++r) {
                std::fill(recovery.begin(), recovery.end(), 0);
                for (uint32_t k = 0; k < sourceCount; ++k) {
                    kernel.prepare(*creation.Products(), creation.Coefficient(r, k), table);
                    kernel.apply(table, blocks[k].data(), recovery.data(), sliceBytes);
                }
                out.write(reinterpret_cast<const char*>(recovery.data()), sliceBytes);
            }
        }
        expected_.resize(missingCount);
        std::vector<bool> present(sourceCount, true);
        for (uint32_t j = 0; j < missingCount; ++j) {
            const uint32_t k = j * (sourceCount / missingCount) + sourceCount / missingCount / 2;
            present[k] = false;
            expected_[j] = blocks[k];
        }
        sources_ = std::make_shared<DiskFile>(dir_ + "/sources");
        recovery_ = std::make_shared<DiskFile>(dir_ + "/recovery");
        target_ = std::make_shared<DiskFile>(dir_ + "/target");
        sources_->open();
        recovery_->open();
        target_->create();
        matrix_.SetInput(present);
        for (uint16_t e = 0; e < missingCount; ++e) matrix_.AddOutput(true, e);
        matrix_.Compute(nullptr);
        for (uint32_t k : matrix_.PresentIndices())
            job_.inputs.push_back({sources_, k * sliceBytes, sliceBytes});
        for (uint32_t e = 0; e < missingCount; ++e)
            job_.inputs.push_back({recovery_, e * sliceBytes, sliceBytes});
        for (uint32_t j = 0; j < missingCount; ++j)
            job_.outputs.push_back({target_, j * sliceBytes, sliceBytes});
        job_.sliceSize = sliceBytes;
        job_.matrix = &matrix_;
        job_.physicalMemoryBytes = PhysicalMemoryBytes();
    }

    ~RebuildSetup() {
        sources_->close();
        recovery_->close();
        target_->close();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    DataPassJob& job() { return job_; }
    ReedSolomonMatrix& matrix() { return matrix_; }

    const uint32_t sourceCount;
    const uint32_t missingCount;
    const uint64_t sliceBytes;

    // The rebuilt blocks, read back from the target file.
    bool TargetMatches() {
        std::vector<uint8_t> data(sliceBytes);
        for (uint32_t j = 0; j < missingCount; ++j) {
            if (!target_->read(j * sliceBytes, data.data(), sliceBytes) || data != expected_[j])
                return false;
        }
        return true;
    }

  private:
    std::string dir_;
    DiskFileRef sources_, recovery_, target_;
    ReedSolomonMatrix matrix_;
    DataPassJob job_;
    std::vector<std::vector<uint8_t>> expected_;
};

class QuietReporter : public DataPassReporter {
  public:
    void SetActivity(int32_t, uint32_t) override {}
    void SetProgress(uint64_t, uint64_t) override {}
    void RecordError(int32_t kind, uint32_t, const std::string&) override { errors++; }
    const std::atomic<uint32_t>* StopFlag() const override { return &stop_; }
    int errors = 0;

  private:
    std::atomic<uint32_t> stop_{0};
};

RebuildSetup& Setup() {
    static RebuildSetup setup(1000, 100, 1 << 20);
    return setup;
}

// state.range(0): threads.
void BM_Rebuild100From1000(benchmark::State& state) {
    RebuildSetup& setup = Setup();
    setup.job().threads = static_cast<uint32_t>(state.range(0));
    QuietReporter reporter;
    bool cancelled = false;
    for (auto _ : state) {
        if (!RunDataPass(setup.job(), reporter, cancelled) || reporter.errors != 0) {
            state.SkipWithError("the data pass failed");
            return;
        }
    }
    if (!setup.TargetMatches()) state.SkipWithError("the rebuilt blocks differ");
    const double inputBytes = double{setup.sourceCount} * setup.sliceBytes;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * inputBytes));
    state.counters["mac_bytes_per_second"] = benchmark::Counter(
        inputBytes * setup.missingCount * static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate);
    state.SetLabel(ActiveMultiplyAccumulate().name);
}
BENCHMARK(BM_Rebuild100From1000)
    ->Arg(1)
    ->Arg(2)
    ->Iterations(3)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);

// Many small blocks: 768 missing blocks of 1 KiB among 16384, on two
// threads, the matrix's computation included. state.range(0): 0 solves the
// wide matrix before the pass, 1 leaves it unsolved and the pass solves the
// sums of the blocks.
void BM_RebuildSmallBlocks(benchmark::State& state) {
    static RebuildSetup setup(16384, 768, 1024);
    setup.job().threads = 2;
    QuietReporter reporter;
    bool cancelled = false;
    for (auto _ : state) {
        const bool computed = state.range(0) == 0 ? setup.matrix().Compute(nullptr)
                                                  : setup.matrix().ComputeSteps(nullptr);
        if (!computed || !RunDataPass(setup.job(), reporter, cancelled) || reporter.errors != 0) {
            state.SkipWithError("the rebuild failed");
            return;
        }
    }
    if (!setup.TargetMatches()) state.SkipWithError("the rebuilt blocks differ");
    state.SetLabel(state.range(0) == 0 ? "solved matrix" : "unsolved matrix");
}
BENCHMARK(BM_RebuildSmallBlocks)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(2)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vantrove

BENCHMARK_MAIN();
