// Throughput of the hash functions against the system's libraries, in one
// run: our MD5 against libcrypto's, our CRC-32 (dispatched kernel and the
// four-table reference) against zlib's crc32. Run by hand:
//   build/bench/hash_bench --benchmark_counters_tabular=true
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <vector>

#include "core/crc32.h"
#include "core/crc32_kernels.h"
#include "core/md5.h"
#include "core/md5_kernels.h"

#ifdef VANTROVE_BENCH_HAVE_OPENSSL
#include <openssl/evp.h>
#endif

namespace {

// 64 MiB of random bytes shared by every benchmark; the 1 MiB cases use its
// start.
const std::vector<uint8_t>& Buffer() {
    static std::vector<uint8_t> data = [] {
        std::vector<uint8_t> d(64u << 20);
        std::mt19937_64 rng(12345);
        for (auto& b : d) b = static_cast<uint8_t>(rng());
        return d;
    }();
    return data;
}

void SetBytes(benchmark::State& state, size_t size) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}

void BM_Md5_Ours(benchmark::State& state) {
    const size_t size = static_cast<size_t>(state.range(0));
    const auto& data = Buffer();
    for (auto _ : state) {
        vantrove::Md5Context context;
        context.Update(data.data(), size);
        benchmark::DoNotOptimize(context.Final());
    }
    SetBytes(state, size);
}

void BM_Md5_OursZeros(benchmark::State& state) {
    const size_t size = static_cast<size_t>(state.range(0));
    for (auto _ : state) {
        vantrove::Md5Context context;
        context.UpdateZeros(size);
        benchmark::DoNotOptimize(context.Final());
    }
    SetBytes(state, size);
}

// `streams` streams hashed side by side (UpdateMany), the buffer split
// evenly between them; the rate counts the bytes of every stream.
void Md5Many(benchmark::State& state, size_t streams) {
    const size_t size = static_cast<size_t>(state.range(0));
    const size_t each = size / streams / 64 * 64;
    const auto& data = Buffer();
    std::vector<vantrove::Md5Context> contexts(streams);
    std::vector<vantrove::Md5Context*> pointers;
    std::vector<const uint8_t*> starts;
    for (size_t i = 0; i < streams; ++i) {
        pointers.push_back(&contexts[i]);
        starts.push_back(data.data() + i * each);
    }
    for (auto _ : state) {
        for (auto& context : contexts) context.Reset();
        // Pieces of 64 KiB per stream, as a lockstep reader feeds them.
        for (size_t done = 0; done < each; done += 65536) {
            const size_t n = std::min<size_t>(65536, each - done);
            std::vector<const uint8_t*> at(starts);
            for (auto& p : at) p += done;
            vantrove::Md5Context::UpdateMany(pointers.data(), at.data(), streams, n);
        }
        benchmark::DoNotOptimize(contexts[0].Final());
    }
    SetBytes(state, each * streams);
}
void BM_Md5_Many2(benchmark::State& state) { Md5Many(state, 2); }
void BM_Md5_Many4(benchmark::State& state) { Md5Many(state, 4); }
void BM_Md5_Many8(benchmark::State& state) { Md5Many(state, 8); }
void BM_Md5_Many16(benchmark::State& state) { Md5Many(state, 16); }
// The same with the AVX2 kernel only, as on processors without AVX-512.
void Md5ManyAvx2(benchmark::State& state, size_t streams) {
    if (!vantrove::Md5ManyKernelAvailable(vantrove::Md5ManyKernel::Avx2)) {
        state.SkipWithError("no AVX2");
        return;
    }
    vantrove::SetMd5ManyKernel(vantrove::Md5ManyKernel::Avx2);
    Md5Many(state, streams);
    vantrove::SetMd5ManyKernel(vantrove::Md5ManyKernel::Best);
}
void BM_Md5_Many8Avx2(benchmark::State& state) { Md5ManyAvx2(state, 8); }
void BM_Md5_Many16Avx2(benchmark::State& state) { Md5ManyAvx2(state, 16); }

#ifdef VANTROVE_BENCH_HAVE_OPENSSL
void BM_Md5_OpenSSL(benchmark::State& state) {
    const size_t size = static_cast<size_t>(state.range(0));
    const auto& data = Buffer();
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    const EVP_MD* md = EVP_md5();
    unsigned char out[16];
    unsigned int outLength = 0;
    for (auto _ : state) {
        EVP_DigestInit_ex(ctx, md, nullptr);
        EVP_DigestUpdate(ctx, data.data(), size);
        EVP_DigestFinal_ex(ctx, out, &outLength);
        benchmark::DoNotOptimize(out);
    }
    EVP_MD_CTX_free(ctx);
    SetBytes(state, size);
}
#endif

void BM_Crc32_Ours(benchmark::State& state) {
    const size_t size = static_cast<size_t>(state.range(0));
    const auto& data = Buffer();
    for (auto _ : state) benchmark::DoNotOptimize(vantrove::Crc32Update(0, data.data(), size));
    SetBytes(state, size);
    state.SetLabel(vantrove::Crc32KernelName());
}

void BM_Crc32_OursReference(benchmark::State& state) {
    const size_t size = static_cast<size_t>(state.range(0));
    const auto& data = Buffer();
    for (auto _ : state) benchmark::DoNotOptimize(vantrove::Crc32Update_ref(0, data.data(), size));
    SetBytes(state, size);
}

void BM_Crc32_OursClmul(benchmark::State& state) {
    const size_t size = static_cast<size_t>(state.range(0));
    const auto& data = Buffer();
    if (!vantrove::Crc32HaveClmul()) {
        state.SkipWithError("no PCLMULQDQ");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(vantrove::Crc32Update_clmul(0, data.data(), size));
    }
    SetBytes(state, size);
}

void BM_Crc32_Zlib(benchmark::State& state) {
    const size_t size = static_cast<size_t>(state.range(0));
    const auto& data = Buffer();
    for (auto _ : state) benchmark::DoNotOptimize(crc32_z(0, data.data(), size));
    SetBytes(state, size);
}

void BM_Crc32_OursZeros(benchmark::State& state) {
    const size_t size = static_cast<size_t>(state.range(0));
    for (auto _ : state) benchmark::DoNotOptimize(vantrove::Crc32UpdateZeros(0, size));
    SetBytes(state, size);
}

#define SIZES ->Arg(1 << 20)->Arg(64 << 20)->Unit(benchmark::kMillisecond)

BENCHMARK(BM_Md5_Ours) SIZES;
BENCHMARK(BM_Md5_Many2) SIZES;
BENCHMARK(BM_Md5_Many4) SIZES;
BENCHMARK(BM_Md5_Many8) SIZES;
BENCHMARK(BM_Md5_Many16) SIZES;
BENCHMARK(BM_Md5_Many8Avx2) SIZES;
BENCHMARK(BM_Md5_Many16Avx2) SIZES;
#ifdef VANTROVE_BENCH_HAVE_OPENSSL
BENCHMARK(BM_Md5_OpenSSL) SIZES;
#endif
BENCHMARK(BM_Md5_OursZeros) SIZES;
BENCHMARK(BM_Crc32_Ours) SIZES;
BENCHMARK(BM_Crc32_OursClmul) SIZES;
BENCHMARK(BM_Crc32_OursReference) SIZES;
BENCHMARK(BM_Crc32_Zlib) SIZES;
BENCHMARK(BM_Crc32_OursZeros) SIZES;

}  // namespace

BENCHMARK_MAIN();
