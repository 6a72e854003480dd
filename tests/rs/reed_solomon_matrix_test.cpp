#include "rs/reed_solomon_matrix.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <utility>
#include <vector>

#include "rs/galois_field.h"
#include "rs/galois_field8.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

class RecordingProgress : public BlockProgressSink {
  public:
    void SetBlockProgress(uint32_t done, uint32_t total) override {
        calls.emplace_back(done, total);
    }
    std::vector<std::pair<uint32_t, uint32_t>> calls;
};

std::vector<bool> PresentExcept(uint32_t count, std::vector<uint32_t> missing) {
    std::vector<bool> present(count, true);
    for (uint32_t k : missing) present[k] = false;
    return present;
}

TEST(ReedSolomonMatrix, CreationRowsArePowersOfTheBases) {
    ReedSolomonMatrix matrix;
    ASSERT_TRUE(matrix.SetInput(5));
    ASSERT_TRUE(matrix.AddOutput(false, 0));
    ASSERT_TRUE(matrix.AddOutput(false, 1));
    ASSERT_TRUE(matrix.AddOutput(false, 7));
    RecordingProgress progress;
    ASSERT_TRUE(matrix.Compute(&progress));
    ASSERT_EQ(matrix.OutputCount(), 3u);
    ASSERT_EQ(matrix.ColumnCount(), 5u);
    const uint16_t exponents[] = {0, 1, 7};
    for (uint32_t r = 0; r < 3; ++r) {
        for (uint32_t c = 0; c < 5; ++c)
            EXPECT_EQ(matrix.Coefficient(r, c), Gf16Power(Gf16InputBase(c), exponents[r]));
    }
    // Exponent 0: the all-ones row.
    for (uint32_t c = 0; c < 5; ++c) EXPECT_EQ(matrix.Coefficient(0, c), 1);
    // No elimination: one report per row, then done.
    const std::vector<std::pair<uint32_t, uint32_t>> expected = {{0, 3}, {1, 3}, {2, 3}, {1, 1}};
    EXPECT_EQ(progress.calls, expected);
}

TEST(ReedSolomonMatrix, OneMissingBlockIsRebuiltByTheFormula) {
    // Four inputs, input 2 missing, one recovery block with exponent 5.
    ReedSolomonMatrix matrix;
    ASSERT_TRUE(matrix.SetInput(PresentExcept(4, {2})));
    ASSERT_TRUE(matrix.AddOutput(true, 5));
    ASSERT_TRUE(matrix.Compute(nullptr));
    // missing = (recovery ⊕ Σ power(base_c, e)·source_c) / power(base_missing, e)
    const uint16_t divisor = Gf16Power(Gf16InputBase(2), 5);
    const uint32_t present[] = {0, 1, 3};
    for (uint32_t c = 0; c < 3; ++c)
        EXPECT_EQ(matrix.Coefficient(0, c),
                  Gf16Divide(Gf16Power(Gf16InputBase(present[c]), 5), divisor));
    EXPECT_EQ(matrix.Coefficient(0, 3), Gf16Divide(1, divisor));
}

// Rebuilds random element values through the matrix and compares.
TEST(ReedSolomonMatrix, SolvedRowsRebuildMissingElementsAndRecoveryElements) {
    std::mt19937_64 rng(test::TestSeed());
    for (int round = 0; round < 20; ++round) {
        const uint32_t n = 2 + static_cast<uint32_t>(rng() % 60);
        std::vector<uint16_t> value(n);
        for (auto& v : value) v = static_cast<uint16_t>(rng());
        auto recovery = [&](uint16_t e) {
            uint16_t sum = 0;
            for (uint32_t k = 0; k < n; ++k)
                sum ^= Gf16Multiply(Gf16Power(Gf16InputBase(k), e), value[k]);
            return sum;
        };
        std::vector<bool> present(n, true);
        const uint32_t missing = 1 + static_cast<uint32_t>(rng() % std::min<uint32_t>(n, 8));
        for (uint32_t i = 0; i < missing;) {
            const uint32_t k = static_cast<uint32_t>(rng() % n);
            if (present[k]) present[k] = false, ++i;
        }
        ReedSolomonMatrix matrix;
        ASSERT_TRUE(matrix.SetInput(present));
        // Present recovery rows interleaved with missing ones.
        std::vector<uint16_t> used, wanted;
        for (uint16_t e = 0; used.size() < missing || wanted.size() < 2; ++e) {
            const bool take = used.size() < missing && (wanted.size() >= 2 || e % 2 == 0);
            ASSERT_TRUE(matrix.AddOutput(take, e));
            (take ? used : wanted).push_back(e);
        }
        RecordingProgress progress;
        ASSERT_TRUE(matrix.Compute(&progress));
        std::vector<uint16_t> inputs;
        for (uint32_t k : matrix.PresentIndices()) inputs.push_back(value[k]);
        for (uint16_t e : used) inputs.push_back(recovery(e));
        auto rowValue = [&](uint32_t r) {
            uint16_t sum = 0;
            for (uint32_t c = 0; c < inputs.size(); ++c)
                sum ^= Gf16Multiply(matrix.Coefficient(r, c), inputs[c]);
            return sum;
        };
        for (uint32_t r = 0; r < missing; ++r)
            ASSERT_EQ(rowValue(r), value[matrix.MissingIndices()[r]]) << "round " << round;
        for (uint32_t r = 0; r < wanted.size(); ++r)
            ASSERT_EQ(rowValue(missing + r), recovery(wanted[r])) << "round " << round;
        // Progress: rows, then one step per pivot, then (1, 1).
        const uint32_t total = matrix.OutputCount() + missing;
        ASSERT_EQ(progress.calls.size(), total + 1);
        for (uint32_t i = 0; i < total; ++i) EXPECT_EQ(progress.calls[i], std::make_pair(i, total));
        EXPECT_EQ(progress.calls.back(), std::make_pair(1u, 1u));
    }
}

// The unsolved form: summing the inputs with its rows and then taking the
// recorded steps on the sums gives what the solved rows give.
TEST(ReedSolomonMatrix, StepsOnTheSumsGiveTheSolvedRows) {
    std::mt19937_64 rng(test::TestSeed() + 2);
    for (int round = 0; round < 20; ++round) {
        const uint32_t n = 2 + static_cast<uint32_t>(rng() % 80);
        std::vector<bool> present(n, true);
        const uint32_t missing = 1 + static_cast<uint32_t>(rng() % std::min<uint32_t>(n, 20));
        for (uint32_t i = 0; i < missing;) {
            const uint32_t k = static_cast<uint32_t>(rng() % n);
            if (present[k]) present[k] = false, ++i;
        }
        ReedSolomonMatrix solved, stepped;
        ASSERT_TRUE(solved.SetInput(present));
        ASSERT_TRUE(stepped.SetInput(present));
        // Recovery exponents with gaps, as a damaged set leaves them.
        for (uint16_t e = 0, added = 0; added < missing; e += 1 + rng() % 3, ++added) {
            ASSERT_TRUE(solved.AddOutput(true, e));
            ASSERT_TRUE(stepped.AddOutput(true, e));
        }
        ASSERT_TRUE(solved.Compute(nullptr));
        RecordingProgress progress;
        ASSERT_TRUE(stepped.ComputeSteps(&progress));
        ASSERT_TRUE(stepped.Stepped());
        EXPECT_FALSE(solved.Stepped());
        EXPECT_EQ(stepped.Row(0), nullptr);
        // The same progress as solving: rows, one step per pivot, (1, 1).
        EXPECT_EQ(progress.calls.size(), 2 * missing + 1);

        std::vector<uint16_t> inputs(solved.ColumnCount());
        for (auto& v : inputs) v = static_cast<uint16_t>(rng());
        std::vector<uint16_t> sums(missing, 0);
        for (uint32_t r = 0; r < missing; ++r)
            for (uint32_t c = 0; c < inputs.size(); ++c)
                sums[r] ^= Gf16Multiply(stepped.Coefficient(r, c), inputs[c]);
        stepped.ReplaySteps(
            [&](uint32_t i, uint16_t inverse) { sums[i] = Gf16Multiply(sums[i], inverse); },
            [&](uint32_t j, uint32_t i, uint16_t f) { sums[j] ^= Gf16Multiply(f, sums[i]); });
        for (uint32_t r = 0; r < missing; ++r) {
            uint16_t expected = 0;
            for (uint32_t c = 0; c < inputs.size(); ++c)
                expected ^= Gf16Multiply(solved.Coefficient(r, c), inputs[c]);
            ASSERT_EQ(sums[r], expected) << "round " << round << " row " << r;
        }
    }
}

TEST(ReedSolomonMatrix, UnsolvedFormOnlyForMissingInputs) {
    // A missing recovery row cannot be produced by the unsolved form.
    ReedSolomonMatrix withRecovery;
    ASSERT_TRUE(withRecovery.SetInput(PresentExcept(6, {1})));
    ASSERT_TRUE(withRecovery.AddOutput(true, 0));
    ASSERT_TRUE(withRecovery.AddOutput(false, 1));
    EXPECT_FALSE(withRecovery.ComputeSteps(nullptr));
    EXPECT_TRUE(withRecovery.Compute(nullptr));
    // Nothing missing: nothing to solve.
    ReedSolomonMatrix creation;
    ASSERT_TRUE(creation.SetInput(4));
    ASSERT_TRUE(creation.AddOutput(false, 0));
    EXPECT_FALSE(creation.ComputeSteps(nullptr));
    // Too few recovery blocks.
    ReedSolomonMatrix short_;
    ASSERT_TRUE(short_.SetInput(PresentExcept(6, {1, 2})));
    ASSERT_TRUE(short_.AddOutput(true, 0));
    EXPECT_FALSE(short_.ComputeSteps(nullptr));
    // The choice: blocks shorter than the matrix's rows of 2-byte elements.
    EXPECT_TRUE(ReedSolomonMatrix::StepsCheaper(2048, 32768));
    EXPECT_FALSE(ReedSolomonMatrix::StepsCheaper(768000, 1400));
    EXPECT_FALSE(ReedSolomonMatrix::StepsCheaper(2000, 1000));
}

// A matrix large enough for the elimination to be shared among threads
// still rebuilds every missing element.
TEST(ReedSolomonMatrix, LargeEliminationRebuildsEveryMissingElement) {
    std::mt19937_64 rng(test::TestSeed() + 1);
    const uint32_t n = 8000, missing = 600;  // several column bands
    std::vector<uint16_t> value(n);
    for (auto& v : value) v = static_cast<uint16_t>(rng());
    std::vector<bool> present(n, true);
    for (uint32_t i = 0; i < missing;) {
        const uint32_t k = static_cast<uint32_t>(rng() % n);
        if (present[k]) present[k] = false, ++i;
    }
    ReedSolomonMatrix matrix;
    ASSERT_TRUE(matrix.SetInput(present));
    for (uint16_t e = 0; e < missing; ++e) ASSERT_TRUE(matrix.AddOutput(true, e));
    ASSERT_TRUE(matrix.Compute(nullptr));
    std::vector<uint16_t> inputs;
    for (uint32_t k : matrix.PresentIndices()) inputs.push_back(value[k]);
    for (uint16_t e = 0; e < missing; ++e) {
        uint16_t sum = 0;
        for (uint32_t k = 0; k < n; ++k)
            sum ^= Gf16Multiply(Gf16Power(Gf16InputBase(k), e), value[k]);
        inputs.push_back(sum);
    }
    for (uint32_t r = 0; r < missing; ++r) {
        uint16_t sum = 0;
        for (uint32_t c = 0; c < inputs.size(); ++c)
            sum ^= Gf16Multiply(matrix.Coefficient(r, c), inputs[c]);
        ASSERT_EQ(sum, value[matrix.MissingIndices()[r]]) << r;
    }
}

// Asks to stop from its `stopAt`-th poll on (never when 0) and counts
// what the computation does after that.
class StoppingProgress : public BlockProgressSink {
  public:
    explicit StoppingProgress(uint64_t stopAt) : stopAt_(stopAt) {}
    void SetBlockProgress(uint32_t, uint32_t) override {
        if (stopped_) ++reportsAfterStop;
    }
    bool StopRequested() const override {
        const uint64_t n = ++polls;
        if (stopAt_ == 0 || n < stopAt_) return false;
        if (stopped_) ++pollsAfterStop;
        stopped_ = true;
        return true;
    }
    mutable std::atomic<uint64_t> polls{0};
    mutable std::atomic<uint64_t> pollsAfterStop{0};
    uint64_t reportsAfterStop = 0;

  private:
    const uint64_t stopAt_;
    mutable std::atomic<bool> stopped_{false};
};

// A stop asked for while the rows are built, during the elimination or
// while the solved steps are taken on the wide matrix ends the computation
// at once, solved or stepped: it fails without another step.
TEST(ReedSolomonMatrix, AStopEndsTheSolveAtOnce) {
    const uint32_t n = 3000, missing = 300;
    std::vector<bool> present(n, true);
    for (uint32_t k = 0; k < missing; ++k) present[k * 7] = false;
    for (bool stepped : {false, true}) {
        auto make = [&](ReedSolomonMatrix& matrix) {
            ASSERT_TRUE(matrix.SetInput(present));
            for (uint16_t e = 0; e < missing; ++e) ASSERT_TRUE(matrix.AddOutput(true, e));
        };
        auto compute = [&](ReedSolomonMatrix& matrix, BlockProgressSink& sink) {
            return stepped ? matrix.ComputeSteps(&sink) : matrix.Compute(&sink);
        };
        ReedSolomonMatrix whole;
        make(whole);
        StoppingProgress never(0);
        ASSERT_TRUE(compute(whole, never));
        const uint64_t polls = never.polls;
        ASSERT_GT(polls, uint64_t{2} * missing);
        for (uint64_t stopAt : {uint64_t{1}, uint64_t{missing} + 10, polls - 1}) {
            ReedSolomonMatrix matrix;
            make(matrix);
            StoppingProgress progress(stopAt);
            EXPECT_FALSE(compute(matrix, progress)) << stepped << " " << stopAt;
            // Helper threads may each look once more; no step is reported.
            EXPECT_LE(progress.pollsAfterStop.load(), 64u) << stopAt;
            EXPECT_EQ(progress.reportsAfterStop, 0u) << stopAt;
            EXPECT_FALSE(matrix.Stepped());
        }
    }
}

TEST(ReedSolomonMatrix, RefusesWhatCannotBeComputed) {
    ReedSolomonMatrix matrix;
    EXPECT_TRUE(matrix.SetInput(kGf16MaxInputs));
    EXPECT_FALSE(matrix.SetInput(kGf16MaxInputs + 1));
    EXPECT_FALSE(matrix.SetInput(std::vector<bool>(kGf16MaxInputs + 1, true)));

    ReedSolomonMatrix duplicate;
    ASSERT_TRUE(duplicate.SetInput(3));
    EXPECT_TRUE(duplicate.AddOutput(true, 4));
    EXPECT_FALSE(duplicate.AddOutput(false, 4));
    EXPECT_EQ(duplicate.ParPresent(), 1u);
    EXPECT_EQ(duplicate.ParMissing(), 0u);

    // Two missing, one recovery block.
    ReedSolomonMatrix tooFew;
    ASSERT_TRUE(tooFew.SetInput(PresentExcept(5, {1, 3})));
    ASSERT_TRUE(tooFew.AddOutput(true, 0));
    ASSERT_TRUE(tooFew.AddOutput(false, 1));
    EXPECT_FALSE(tooFew.Compute(nullptr));

    // Nothing missing, nothing wanted.
    ReedSolomonMatrix nothing;
    ASSERT_TRUE(nothing.SetInput(5));
    ASSERT_TRUE(nothing.AddOutput(true, 0));
    EXPECT_FALSE(nothing.Compute(nullptr));
}

TEST(ReedSolomonMatrix, ZeroPivotFails) {
    // base^65535 = 1 = base^0 for every base: two equal rows, so after the
    // first pivot the second one is zero.
    ReedSolomonMatrix matrix;
    ASSERT_TRUE(matrix.SetInput(PresentExcept(4, {0, 1})));
    ASSERT_TRUE(matrix.AddOutput(true, 0));
    ASSERT_TRUE(matrix.AddOutput(true, 65535));
    EXPECT_FALSE(matrix.Compute(nullptr));

    // In GF(2^8) input 255 gets the base 256 mod 256 = 0: its coefficients
    // are all zero and it can never be rebuilt.
    ReedSolomonMatrix8 wrapped;
    ASSERT_TRUE(wrapped.SetInput(PresentExcept(300, {255})));
    ASSERT_TRUE(wrapped.AddOutput(true, 1));
    EXPECT_FALSE(wrapped.Compute(nullptr));
}

TEST(ReedSolomonMatrix8, RebuildsMissingBytes) {
    std::mt19937_64 rng(test::TestSeed() + 1);
    const uint32_t n = 40;
    std::vector<uint8_t> value(n);
    for (auto& v : value) v = static_cast<uint8_t>(rng());
    auto recovery = [&](uint16_t e) {
        uint8_t sum = 0;
        for (uint32_t k = 0; k < n; ++k)
            sum ^= Gf8Multiply(Gf8Power(static_cast<uint8_t>(k + 1), e), value[k]);
        return sum;
    };
    ReedSolomonMatrix8 matrix;
    ASSERT_TRUE(matrix.SetInput(PresentExcept(n, {3, 17, 39})));
    for (uint16_t e : {0, 2, 5}) ASSERT_TRUE(matrix.AddOutput(true, e));
    ASSERT_TRUE(matrix.Compute(nullptr));
    EXPECT_EQ(matrix.Base(0), 1);
    EXPECT_EQ(matrix.Base(9), 10);
    std::vector<uint8_t> inputs;
    for (uint32_t k : matrix.PresentIndices()) inputs.push_back(value[k]);
    for (uint16_t e : {0, 2, 5}) inputs.push_back(recovery(e));
    for (uint32_t r = 0; r < 3; ++r) {
        uint8_t sum = 0;
        for (uint32_t c = 0; c < inputs.size(); ++c)
            sum ^= Gf8Multiply(matrix.Coefficient(r, c), inputs[c]);
        EXPECT_EQ(sum, value[matrix.MissingIndices()[r]]);
    }
}

}  // namespace
}  // namespace vantrove
