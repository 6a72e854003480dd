#include "rs/reed_solomon_matrix.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <new>
#include <thread>
#include <type_traits>

#include "core/machine.h"
#include "core/worker_team.h"

#include "rs/galois_field.h"
#include "rs/galois_field8.h"
#include "rs/multiply_accumulate.h"

namespace vantrove {
namespace {

uint16_t Power(uint16_t base, uint16_t e) {
    return Gf16Power(base, e);
}
uint8_t Power(uint8_t base, uint16_t e) {
    return Gf8Power(base, e);
}
uint16_t Inverse(uint16_t a) {
    return Gf16Inverse(a);
}
uint8_t Inverse(uint8_t a) {
    return Gf8Inverse(a);
}

// Bases of the inputs: false when the field has none left.
bool MakeBases(Gf16Field, uint32_t count, std::vector<uint16_t>& bases) {
    if (count > kGf16MaxInputs) return false;
    bases.resize(count);
    for (uint32_t k = 0; k < count; ++k) bases[k] = Gf16InputBase(k);
    return true;
}

bool MakeBases(Gf8Field, uint32_t count, std::vector<uint8_t>& bases) {
    bases.resize(count);
    for (uint32_t k = 0; k < count; ++k) bases[k] = static_cast<uint8_t>(k + 1);
    return true;
}

Gf16Field::Tables MakeTables(Gf16Field) {
    return ProductTables::Create();
}
Gf8Field::Tables MakeTables(Gf8Field) {
    return {};
}

bool TablesReady(const Gf16Field::Tables& tables) {
    return tables != nullptr;
}
bool TablesReady(const Gf8Field::Tables&) {
    return true;
}

void AddScaledWith(const Gf16Field::Tables& tables, uint16_t* row, const uint16_t* source,
                   uint16_t factor, uint32_t count) {
    if (factor == 0 || count == 0) return;
    const MultiplyAccumulateKernel& kernel = ActiveMultiplyAccumulate();
    FactorTable table;
    kernel.prepare(*tables, factor, table);
    kernel.apply(table, reinterpret_cast<const uint8_t*>(source), reinterpret_cast<uint8_t*>(row),
                 size_t{count} * 2);
}

void AddScaledWith(const Gf8Field::Tables&, uint8_t* row, const uint8_t* source, uint8_t factor,
                   uint32_t count) {
    if (factor == 0 || count == 0) return;
    const MultiplyAccumulate8Kernel& kernel = ActiveMultiplyAccumulate8();
    Factor8Table table;
    kernel.prepare(factor, table);
    kernel.apply(table, source, row, count);
}

void Report(BlockProgressSink* progress, uint32_t done, uint32_t total) {
    if (progress != nullptr) progress->SetBlockProgress(done, total);
}

bool Stopped(const BlockProgressSink* progress) {
    return progress != nullptr && progress->StopRequested();
}

}  // namespace

template <typename Field>
BasicReedSolomonMatrix<Field>::BasicReedSolomonMatrix() : tables_(MakeTables(Field{})) {}

template <typename Field>
BasicReedSolomonMatrix<Field>::~BasicReedSolomonMatrix() = default;

template <typename Field>
bool BasicReedSolomonMatrix<Field>::SetInput(const std::vector<bool>& present) {
    const auto count = static_cast<uint32_t>(present.size());
    if (present.size() != count || !MakeBases(Field{}, count, bases_)) return false;
    inputCount_ = count;
    presentIndex_.clear();
    missingIndex_.clear();
    for (uint32_t k = 0; k < count; ++k) (present[k] ? presentIndex_ : missingIndex_).push_back(k);
    return true;
}

template <typename Field>
bool BasicReedSolomonMatrix<Field>::SetInput(uint32_t count) {
    if (count > kGf16MaxInputs && std::is_same_v<Field, Gf16Field>) return false;
    return SetInput(std::vector<bool>(count, true));
}

template <typename Field>
bool BasicReedSolomonMatrix<Field>::AddOutput(bool present, uint16_t exponent) {
    for (const OutputRow& row : outputs_)
        if (row.exponent == exponent) return false;
    outputs_.push_back({present, exponent});
    ++(present ? parPresent_ : parMissing_);
    return true;
}

template <typename Field>
void BasicReedSolomonMatrix<Field>::AddScaled(Element* row, const Element* source, Element factor,
                                              uint32_t count) const {
    AddScaledWith(tables_, row, source, factor, count);
}

template <typename Field>
bool BasicReedSolomonMatrix<Field>::Compute(BlockProgressSink* progress) {
    return Build(false, progress);
}

template <typename Field>
bool BasicReedSolomonMatrix<Field>::ComputeSteps(BlockProgressSink* progress) {
    return Build(true, progress);
}

template <typename Field>
bool BasicReedSolomonMatrix<Field>::StepsCheaper(uint64_t blockBytes, uint32_t columns) {
    // Solving the wide matrix takes every step over 2-byte elements of all
    // the columns; the unsolved form takes them over the block's bytes.
    return blockBytes < uint64_t{columns} * sizeof(Element);
}

template <typename Field>
bool BasicReedSolomonMatrix<Field>::Build(bool stepped, BlockProgressSink* progress) {
    const uint32_t dataPresent = DataPresent();
    const uint32_t dataMissing = DataMissing();
    const uint32_t outCount = OutputCount();
    const uint32_t inCount = ColumnCount();
    left_.clear();
    stepped_ = false;
    rowExponents_.clear();
    stepInverses_.clear();
    stepFactors_.clear();
    if (parPresent_ < dataMissing || outCount == 0 || !TablesReady(tables_)) return false;
    if (stepped && (parMissing_ > 0 || dataMissing == 0)) return false;

    std::vector<Element> right;
    try {
        if (!stepped) left_.assign(size_t{outCount} * inCount, 0);
        if (dataMissing > 0) right.assign(size_t{outCount} * outCount, 0);
        rowExponents_.reserve(outCount);
    } catch (const std::bad_alloc&) {
        left_.clear();
        return false;
    }

    const uint32_t total = outCount + dataMissing;
    // A stop leaves no half-built matrix behind.
    auto Abandon = [this] {
        left_.clear();
        rowExponents_.clear();
        return false;
    };
    size_t next = 0;  // position in outputs_
    auto nextRow = [&](bool present) -> const OutputRow& {
        while (outputs_[next].present != present) ++next;
        return outputs_[next++];
    };

    // Rows that rebuild missing inputs, one per present recovery block used.
    for (uint32_t r = 0; r < dataMissing; ++r) {
        Report(progress, r, total);
        if (Stopped(progress)) return Abandon();
        const uint16_t e = nextRow(true).exponent;
        rowExponents_.push_back(e);
        if (!stepped) {
            Element* row = &left_[size_t{r} * inCount];
            for (uint32_t c = 0; c < dataPresent; ++c) row[c] = Power(bases_[presentIndex_[c]], e);
            row[dataPresent + r] = 1;
        }
        Element* rightRow = &right[size_t{r} * outCount];
        for (uint32_t k = 0; k < dataMissing; ++k) rightRow[k] = Power(bases_[missingIndex_[k]], e);
    }
    // Rows of the recovery blocks to be produced.
    next = 0;
    for (uint32_t r = 0; r < parMissing_; ++r) {
        Report(progress, dataMissing + r, total);
        if (Stopped(progress)) return Abandon();
        const uint16_t e = nextRow(false).exponent;
        const uint32_t rowIndex = dataMissing + r;
        Element* row = &left_[size_t{rowIndex} * inCount];
        for (uint32_t c = 0; c < dataPresent; ++c) row[c] = Power(bases_[presentIndex_[c]], e);
        if (dataMissing > 0) {
            Element* rightRow = &right[size_t{rowIndex} * outCount];
            for (uint32_t k = 0; k < dataMissing; ++k)
                rightRow[k] = Power(bases_[missingIndex_[k]], e);
            rightRow[dataMissing + r] = 1;
        }
    }

    if (dataMissing > 0) {
        std::vector<Element> inverses;
        std::vector<Element> factors;
        bool solved = EliminateRight(right, inverses, factors, progress);
        right.clear();
        right.shrink_to_fit();
        if (solved && stepped) {
            stepInverses_ = std::move(inverses);
            stepFactors_ = std::move(factors);
            stepped_ = true;
        } else if (!solved || !ReplayOnLeft(inverses, factors, progress)) {
            return Abandon();
        }
    }
    Report(progress, 1, 1);
    return true;
}

// Element operations of an elimination below which one thread does it all.
constexpr uint64_t kEliminationPerThread = uint64_t{1} << 26;
// Bytes of the left matrix that one column band spans over all its rows: the
// band stays in cache while every pivot step passes over it.
constexpr uint64_t kBandBytes = uint64_t{4} << 20;
// Narrowest band, in elements: shorter rows would cost more in preparing
// each factor than in multiplying.
constexpr uint32_t kMinBandColumns = 1024;

// Gauss–Jordan on the right matrix, the same row operations on the left one.
// No row exchange: a zero pivot ends the elimination as singular.
//
// The row operations depend on the right matrix alone. So the right matrix
// is eliminated first, recording each step's pivot inverse and row factors;
// then the left matrix, which is far wider, takes the recorded steps band of
// columns by band of columns: each band stays in cache for all the steps
// instead of the whole matrix streaming through memory once per pivot, and
// the bands, independent of each other, are shared among the processors.
template <typename Field>
bool BasicReedSolomonMatrix<Field>::EliminateRight(std::vector<Element>& right,
                                                   std::vector<Element>& inverses,
                                                   std::vector<Element>& factors,
                                                   BlockProgressSink* progress) const {
    const uint32_t dataMissing = DataMissing();
    const uint32_t outCount = OutputCount();
    std::vector<Element> scaled(outCount);
    inverses.assign(dataMissing, Element{1});
    try {
        factors.assign(size_t{dataMissing} * outCount, Element{0});
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (uint32_t i = 0; i < dataMissing; ++i) {
        Report(progress, outCount + i, outCount + dataMissing);
        if (Stopped(progress)) return false;
        Element* pivotRight = &right[size_t{i} * outCount];
        const Element p = pivotRight[i];
        if (p == 0) return false;
        if (p != 1) {
            // Dividing by p is multiplying by its inverse.
            const Element inverse = Inverse(p);
            inverses[i] = inverse;
            std::fill(scaled.begin(), scaled.begin() + (outCount - i), Element{0});
            AddScaled(scaled.data(), pivotRight + i, inverse, outCount - i);
            std::copy(scaled.begin(), scaled.begin() + (outCount - i), pivotRight + i);
            pivotRight[i] = 1;
        }
        Element* stepFactors = &factors[size_t{i} * outCount];
        for (uint32_t j = 0; j < outCount; ++j) {
            if (j == i) continue;
            // A step over a large matrix takes a while: ask now and then.
            if ((j & 63) == 0 && Stopped(progress)) return false;
            Element* rowRight = &right[size_t{j} * outCount];
            const Element f = rowRight[i];
            stepFactors[j] = f;
            if (f == 0) continue;
            AddScaled(rowRight + i, pivotRight + i, f, outCount - i);
        }
    }
    return true;
}

template <typename Field>
bool BasicReedSolomonMatrix<Field>::ReplayOnLeft(const std::vector<Element>& inverses,
                                                 const std::vector<Element>& factors,
                                                 const BlockProgressSink* progress) {
    const uint32_t dataMissing = DataMissing();
    const uint32_t outCount = OutputCount();
    const uint32_t inCount = ColumnCount();
    const uint64_t rowBytes = uint64_t{outCount} * sizeof(Element);
    uint64_t width = std::max<uint64_t>(kMinBandColumns, kBandBytes / std::max<uint64_t>(rowBytes, 1));
    width = std::min<uint64_t>((width + 63) & ~uint64_t{63}, inCount);
    const uint32_t bands = width == 0 ? 0 : static_cast<uint32_t>((inCount + width - 1) / width);
    unsigned threads = 1;
    std::unique_ptr<WorkerTeam> team;
    if (bands > 1 && uint64_t{dataMissing} * outCount * inCount >= kEliminationPerThread) {
        threads = std::min<unsigned>(std::clamp(ProcessorThreads(), 1u, 64u),
                                     bands);
        if (threads > 1) {
            team = std::make_unique<WorkerTeam>(threads);
            threads = team->Size();
        }
    }
    // The helper threads poll the stop request too, once per pivot step;
    // the first to see it ends every band.
    std::atomic<bool> stopped{false};
    auto replay = [&](unsigned t) {
        std::vector<Element> band(static_cast<size_t>(width));
        for (uint32_t b = t; b < bands; b += threads) {
            const uint32_t first = static_cast<uint32_t>(b * width);
            const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(width, inCount - first));
            for (uint32_t i = 0; i < dataMissing; ++i) {
                if (stopped.load(std::memory_order_relaxed)) return;
                if (Stopped(progress)) {
                    stopped.store(true, std::memory_order_relaxed);
                    return;
                }
                Element* pivot = &left_[size_t{i} * inCount + first];
                if (inverses[i] != 1) {
                    std::fill(band.begin(), band.begin() + count, Element{0});
                    AddScaled(band.data(), pivot, inverses[i], count);
                    std::copy(band.begin(), band.begin() + count, pivot);
                }
                const Element* stepFactors = &factors[size_t{i} * outCount];
                for (uint32_t j = 0; j < outCount; ++j) {
                    if (j == i || stepFactors[j] == 0) continue;
                    AddScaled(&left_[size_t{j} * inCount + first], pivot, stepFactors[j], count);
                }
            }
        }
    };
    if (team)
        team->Run(replay);
    else
        replay(0);
    return !stopped.load(std::memory_order_relaxed);
}

template <typename Field>
typename Field::Element BasicReedSolomonMatrix<Field>::Coefficient(uint32_t row,
                                                                   uint32_t column) const {
    if (stepped_) {
        const uint32_t dataPresent = DataPresent();
        if (column < dataPresent) return Power(bases_[presentIndex_[column]], rowExponents_[row]);
        return column - dataPresent == row ? Element{1} : Element{0};
    }
    return left_[size_t{row} * ColumnCount() + column];
}

template <typename Field>
const typename Field::Element* BasicReedSolomonMatrix<Field>::Row(uint32_t row) const {
    if (stepped_) return nullptr;
    return &left_[size_t{row} * ColumnCount()];
}

template class BasicReedSolomonMatrix<Gf16Field>;
template class BasicReedSolomonMatrix<Gf8Field>;

}  // namespace vantrove
