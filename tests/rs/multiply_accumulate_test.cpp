#include "rs/multiply_accumulate.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "rs/galois_field.h"
#include "rs/galois_field8.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

const ProductTables& Products() {
    static const auto tables = ProductTables::Create();
    return *tables;
}

// The naive form: element by element, a last odd byte being a low byte.
void NaiveMultiplyAccumulate(uint16_t f, const uint8_t* in, uint8_t* out, size_t length) {
    for (size_t i = 0; i < length; i += 2) {
        const uint16_t w = static_cast<uint16_t>(in[i] | (i + 1 < length ? in[i + 1] << 8 : 0));
        const uint16_t p = Gf16Multiply(f, w);
        out[i] ^= static_cast<uint8_t>(p);
        if (i + 1 < length) out[i + 1] ^= static_cast<uint8_t>(p >> 8);
    }
}

std::vector<uint16_t> Factors(std::mt19937_64& rng) {
    std::vector<uint16_t> f = {0, 1, 2, 0xFFFF, 0x8000, 0x0100, 0x00FF, 0x100B};
    for (int i = 0; i < 8; ++i) f.push_back(static_cast<uint16_t>(rng()));
    return f;
}

std::vector<size_t> Lengths() {
    std::vector<size_t> lengths;
    for (size_t n = 0; n <= 300; ++n) lengths.push_back(n);
    for (size_t n : {511, 512, 513, 1022, 1024, 1026, 4095, 4096, 4098, 65534, 65536})
        lengths.push_back(n);
    return lengths;
}

// Runs `kernel` on a copy with guard bytes around the written range and an
// input that starts and ends at odd addresses.
void CheckKernel(const MultiplyAccumulateKernel& kernel, uint16_t f, size_t length, size_t inShift,
                 size_t outShift, std::mt19937_64& rng) {
    const size_t guard = 64;
    auto in = test::RandomBytes(rng, length + 2 * guard);
    auto out = test::RandomBytes(rng, length + 2 * guard);
    auto expected = out;
    NaiveMultiplyAccumulate(f, in.data() + guard + inShift, expected.data() + guard + outShift,
                            length - std::min(length, std::max(inShift, outShift)));
    FactorTable table;
    kernel.prepare(Products(), f, table);
    kernel.apply(table, in.data() + guard + inShift, out.data() + guard + outShift,
                 length - std::min(length, std::max(inShift, outShift)));
    ASSERT_EQ(out, expected) << kernel.name << " factor " << f << " length " << length << " shifts "
                             << inShift << "/" << outShift;
}

TEST(MultiplyAccumulate, EveryKernelMatchesTheNaiveProduct) {
    std::mt19937_64 rng(test::TestSeed());
    const auto factors = Factors(rng);
    for (const MultiplyAccumulateKernel* kernel : AvailableMultiplyAccumulateKernels()) {
        SCOPED_TRACE(kernel->name);
        for (uint16_t f : factors) {
            for (size_t length : Lengths()) {
                CheckKernel(*kernel, f, length, 0, 0, rng);
                if (HasFatalFailure()) return;
            }
            for (size_t shift = 1; shift < 4; ++shift) {
                CheckKernel(*kernel, f, 1000, shift, 0, rng);
                CheckKernel(*kernel, f, 1000, 0, shift, rng);
                CheckKernel(*kernel, f, 777, shift, 3 - shift, rng);
                if (HasFatalFailure()) return;
            }
        }
    }
}

TEST(MultiplyAccumulate, FastKernelsAgreeWithReferenceOnLargeRandomRuns) {
    std::mt19937_64 rng(test::TestSeed() + 1);
    const auto& reference = ReferenceMultiplyAccumulate();
    const auto in = test::RandomBytes(rng, 1 << 20);
    const auto start = test::RandomBytes(rng, 1 << 20);
    for (int round = 0; round < 16; ++round) {
        const auto f = static_cast<uint16_t>(rng());
        const size_t length = (1 << 20) - static_cast<size_t>(rng() % 300);
        auto expected = start;
        FactorTable table;
        reference.prepare(Products(), f, table);
        reference.apply(table, in.data(), expected.data(), length);
        for (const MultiplyAccumulateKernel* kernel : AvailableMultiplyAccumulateKernels()) {
            auto out = start;
            kernel->prepare(Products(), f, table);
            kernel->apply(table, in.data(), out.data(), length);
            ASSERT_TRUE(out == expected) << kernel->name << " factor " << f;
        }
    }
}

TEST(MultiplyAccumulate, AccumulatingTwiceCancels) {
    std::mt19937_64 rng(test::TestSeed() + 2);
    const auto in = test::RandomBytes(rng, 4096);
    const auto start = test::RandomBytes(rng, 4096);
    for (const MultiplyAccumulateKernel* kernel : AvailableMultiplyAccumulateKernels()) {
        auto out = start;
        FactorTable table;
        kernel->prepare(Products(), 0x1234, table);
        kernel->apply(table, in.data(), out.data(), out.size());
        EXPECT_NE(out, start) << kernel->name;
        kernel->apply(table, in.data(), out.data(), out.size());
        EXPECT_EQ(out, start) << kernel->name;
    }
}

// Several inputs added in the working layout give the plain products.
TEST(MultiplyAccumulate, WorkingLayoutGivesThePlainResult) {
    std::mt19937_64 rng(test::TestSeed() + 4);
    const auto& reference = ReferenceMultiplyAccumulate();
    for (const MultiplyAccumulateKernel* kernel : AvailableMultiplyAccumulateKernels()) {
        SCOPED_TRACE(kernel->name);
        ASSERT_EQ(kernel->toWorking == nullptr, kernel->fromWorking == nullptr);
        ASSERT_EQ(kernel->toWorking == nullptr, kernel->copyToWorking == nullptr);
        for (size_t length : {0, 2, 126, 128, 130, 131, 256, 384, 1000, 1001, 4096 + 66}) {
            for (size_t count : {1, 2, 3, 9, 40}) {
                std::vector<std::vector<uint8_t>> inputs;
                std::vector<FactorTable> tables(count);
                auto out = test::RandomBytes(rng, length);
                auto expected = out;
                for (size_t b = 0; b < count; ++b) {
                    inputs.push_back(test::RandomBytes(rng, length));
                    const auto f = static_cast<uint16_t>(b == 1 ? 0 : rng());
                    FactorTable plain;
                    reference.prepare(Products(), f, plain);
                    reference.apply(plain, inputs[b].data(), expected.data(), length);
                    kernel->prepare(Products(), f, tables[b]);
                }
                std::vector<const FactorTable*> tablePointers;
                std::vector<const uint8_t*> inputPointers;
                for (size_t b = 0; b < count; ++b) {
                    if (kernel->toWorking) {
                        // Into other memory (odd offsets both sides) as in place.
                        const auto before = inputs[b];
                        std::vector<uint8_t> from(length + 1), to(length + 2, 0xA5);
                        std::copy(before.begin(), before.end(), from.begin() + 1);
                        kernel->copyToWorking(from.data() + 1, to.data() + 1, length);
                        kernel->toWorking(inputs[b].data(), length);
                        if (length >= kWorkingBlockBytes) EXPECT_NE(inputs[b], before);
                        EXPECT_TRUE(std::equal(before.begin(), before.end(), from.begin() + 1));
                        EXPECT_TRUE(std::equal(inputs[b].begin(), inputs[b].end(), to.begin() + 1));
                        EXPECT_EQ(to.front(), 0xA5);
                        EXPECT_EQ(to.back(), 0xA5);
                    }
                    tablePointers.push_back(&tables[b]);
                    inputPointers.push_back(inputs[b].data());
                }
                if (kernel->toWorking) kernel->toWorking(out.data(), length);
                auto packedOut = out;
                kernel->applyMany(tablePointers.data(), inputPointers.data(), count, out.data(),
                                  length);
                if (kernel->fromWorking) kernel->fromWorking(out.data(), length);
                ASSERT_EQ(out, expected) << "length " << length << " count " << count;
                // The packed tables: the first packedWords words of each.
                ASSERT_EQ(kernel->packedWords == 0, kernel->applyManyPacked == nullptr);
                if (kernel->applyManyPacked == nullptr) continue;
                std::vector<uint64_t> packed(count * kernel->packedWords);
                for (size_t b = 0; b < count; ++b)
                    std::memcpy(&packed[b * kernel->packedWords], tables[b].words,
                                kernel->packedWords * sizeof(uint64_t));
                const uint64_t* packedPointer = packed.data();
                uint8_t* packedOutPointer = packedOut.data();
                kernel->applyManyPacked(&packedPointer, inputPointers.data(), count,
                                        &packedOutPointer, 1, length);
                if (kernel->fromWorking) kernel->fromWorking(packedOut.data(), length);
                ASSERT_EQ(packedOut, expected) << "packed, length " << length << " count " << count;
            }
        }
    }
}

// Several outputs at once, each with coefficients of its own (one of them
// zero), give what each would get alone.
TEST(MultiplyAccumulate, PackedTablesServeSeveralOutputsAtOnce) {
    std::mt19937_64 rng(test::TestSeed() + 5);
    const auto& reference = ReferenceMultiplyAccumulate();
    for (const MultiplyAccumulateKernel* kernel : AvailableMultiplyAccumulateKernels()) {
        if (kernel->applyManyPacked == nullptr) continue;
        SCOPED_TRACE(kernel->name);
        ASSERT_NE(kernel->preparePacked, nullptr);
        const size_t words = kernel->packedWords;
        for (size_t length : {128, 384, 640, 1000, 1001, 4096, 4096 + 191}) {
            for (size_t outputs : {1, 2, 3, 4, 5, 7}) {
                const size_t count = 1 + rng() % 6;
                std::vector<std::vector<uint8_t>> inputs, working;
                for (size_t b = 0; b < count; ++b) {
                    inputs.push_back(test::RandomBytes(rng, length));
                    working.push_back(inputs.back());
                    kernel->toWorking(working.back().data(), length);
                }
                std::vector<std::vector<uint8_t>> out, expected;
                std::vector<std::vector<uint64_t>> packed(outputs,
                                                          std::vector<uint64_t>(count * words));
                for (size_t j = 0; j < outputs; ++j) {
                    out.push_back(test::RandomBytes(rng, length));
                    expected.push_back(out.back());
                    kernel->toWorking(out.back().data(), length);
                    for (size_t b = 0; b < count; ++b) {
                        const auto f = static_cast<uint16_t>(j == 1 && b == 0 ? 0 : rng());
                        FactorTable table;
                        reference.prepare(Products(), f, table);
                        reference.apply(table, inputs[b].data(), expected[j].data(), length);
                        // The packed table made directly is the start of the whole one.
                        kernel->prepare(Products(), f, table);
                        kernel->preparePacked(f, &packed[j][b * words]);
                        ASSERT_EQ(std::memcmp(&packed[j][b * words], table.words,
                                              words * sizeof(uint64_t)),
                                  0)
                            << kernel->name << " factor " << f;
                    }
                }
                std::vector<const uint64_t*> packedPointers;
                std::vector<uint8_t*> outPointers;
                std::vector<const uint8_t*> inputPointers;
                for (auto& p : packed) packedPointers.push_back(p.data());
                for (auto& o : out) outPointers.push_back(o.data());
                for (auto& w : working) inputPointers.push_back(w.data());
                kernel->applyManyPacked(packedPointers.data(), inputPointers.data(), count,
                                        outPointers.data(), outputs, length);
                for (size_t j = 0; j < outputs; ++j) {
                    kernel->fromWorking(out[j].data(), length);
                    ASSERT_EQ(out[j], expected[j])
                        << "length " << length << " outputs " << outputs << " output " << j;
                }
            }
        }
    }
}

// The kernels with packed tables on the shape the data pass hands them: a
// batch of inputs (more than one group of them, too) into six outputs over
// a tile, with the edge factors, a rest shorter than a block and buffers at
// odd addresses; and the layout's conversions undo each other.
TEST(MultiplyAccumulate, PackedKernelsOnTheDataPassShape) {
    std::mt19937_64 rng(test::TestSeed() + 6);
    const auto& reference = ReferenceMultiplyAccumulate();
    const std::vector<uint16_t> edges = {0, 1, 2, 0xFFFF, 0x8000, 0x0100, 0x00FF};
    for (const MultiplyAccumulateKernel* kernel : AvailableMultiplyAccumulateKernels()) {
        if (kernel->applyManyPacked == nullptr) continue;
        SCOPED_TRACE(kernel->name);
        const size_t words = kernel->packedWords;
        for (size_t length : {0, 2, 127, 4096, 2048 + 128 + 3}) {
            auto data = test::RandomBytes(rng, length + 1);
            const auto before = data;
            kernel->toWorking(data.data() + 1, length);
            kernel->fromWorking(data.data() + 1, length);
            ASSERT_EQ(data, before) << "length " << length;
            for (size_t count : {8, 33}) {
                constexpr size_t kOutputs = 6;
                // Each buffer one byte into its vector, so none is aligned.
                std::vector<std::vector<uint8_t>> inputs, out, expected;
                std::vector<uint8_t*> outPointers;
                for (size_t b = 0; b < count; ++b)
                    inputs.push_back(test::RandomBytes(rng, length + 1));
                std::vector<std::vector<uint64_t>> packed(kOutputs,
                                                          std::vector<uint64_t>(count * words));
                std::vector<const uint64_t*> packedPointers;
                for (size_t j = 0; j < kOutputs; ++j) {
                    out.push_back(test::RandomBytes(rng, length + 1));
                    expected.push_back(out.back());
                    for (size_t b = 0; b < count; ++b) {
                        const auto f = (j + b) % 2 == 0 ? edges[(j + b / 2) % edges.size()]
                                                        : static_cast<uint16_t>(rng());
                        FactorTable table;
                        reference.prepare(Products(), f, table);
                        reference.apply(table, inputs[b].data() + 1, expected[j].data() + 1,
                                        length);
                        kernel->prepare(Products(), f, table);
                        std::memcpy(&packed[j][b * words], table.words, words * sizeof(uint64_t));
                    }
                    packedPointers.push_back(packed[j].data());
                    outPointers.push_back(out[j].data() + 1);
                    kernel->toWorking(outPointers.back(), length);
                }
                std::vector<const uint8_t*> inputPointers;
                for (auto& input : inputs) {
                    kernel->toWorking(input.data() + 1, length);
                    inputPointers.push_back(input.data() + 1);
                }
                kernel->applyManyPacked(packedPointers.data(), inputPointers.data(), count,
                                        outPointers.data(), kOutputs, length);
                for (size_t j = 0; j < kOutputs; ++j) {
                    kernel->fromWorking(outPointers[j], length);
                    ASSERT_EQ(out[j], expected[j])
                        << "length " << length << " count " << count << " output " << j;
                }
            }
        }
    }
}

TEST(MultiplyAccumulate, DispatcherHonoursTheReferenceSwitch) {
    const auto kernels = AvailableMultiplyAccumulateKernels();
    ASSERT_FALSE(kernels.empty());
    EXPECT_EQ(kernels.front(), &ReferenceMultiplyAccumulate());
    if (ReferenceKernelsForced()) {
        EXPECT_EQ(&ActiveMultiplyAccumulate(), &ReferenceMultiplyAccumulate());
        EXPECT_EQ(&ActiveMultiplyAccumulate8(), &ReferenceMultiplyAccumulate8());
    } else if (ForcedKernelName() == nullptr) {
        EXPECT_EQ(&ActiveMultiplyAccumulate(), kernels.back());
        EXPECT_EQ(&ActiveMultiplyAccumulate8(), AvailableMultiplyAccumulate8Kernels().back());
    } else {
        // A forced kernel this CPU has is used, and the GF(2^8) kernel of the
        // same instruction set with it.
        const std::string forced = ForcedKernelName();
        bool available = false;
        for (const auto* kernel : kernels) available = available || kernel->name == forced;
        if (available) {
            EXPECT_EQ(ActiveMultiplyAccumulate().name, forced);
            EXPECT_EQ(forced.rfind(ActiveMultiplyAccumulate8().name, 0), 0u)
                << ActiveMultiplyAccumulate8().name;
        }
    }
    std::string names;
    for (const auto* kernel : kernels) names += std::string(kernel->name) + " ";
    std::cout << "[ kernels  ] " << names << "active: " << ActiveMultiplyAccumulate().name << "\n";
}

TEST(MultiplyAccumulate8, EveryKernelMatchesTheProductTable) {
    std::mt19937_64 rng(test::TestSeed() + 3);
    std::vector<uint8_t> factors = {0, 1, 2, 0x1D, 0x80, 0xFF};
    for (int i = 0; i < 6; ++i) factors.push_back(static_cast<uint8_t>(rng()));
    for (const MultiplyAccumulate8Kernel* kernel : AvailableMultiplyAccumulate8Kernels()) {
        for (uint8_t f : factors) {
            for (size_t length : Lengths()) {
                for (size_t shift : {0, 1, 3}) {
                    if (length < shift) continue;
                    auto in = test::RandomBytes(rng, length + 64);
                    auto out = test::RandomBytes(rng, length + 64);
                    auto expected = out;
                    const size_t n = length - shift;
                    for (size_t i = 0; i < n; ++i) expected[1 + i] ^= Gf8Multiply(f, in[shift + i]);
                    Factor8Table table;
                    kernel->prepare(f, table);
                    kernel->apply(table, in.data() + shift, out.data() + 1, n);
                    ASSERT_EQ(out, expected) << kernel->name << " factor " << int(f) << " length "
                                             << length << " shift " << shift;
                }
            }
        }
    }
}

}  // namespace
}  // namespace vantrove
