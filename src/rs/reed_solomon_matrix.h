#pragma once
// ReedSolomonMatrix: the coefficient matrix of one coding job.
//
// Given which inputs (source blocks) are present and which output rows
// (recovery exponents) exist or are wanted, it computes for every block to be
// produced one coefficient per usable input: row r, column c is the factor by
// which input c is multiplied and added into output r.
//
// Columns: first the present inputs in ascending index, then the present
// recovery blocks used, in the order their rows were added. Rows: first the
// missing inputs in ascending index, then the missing recovery blocks in the
// order their rows were added. For a creation (every input present) the
// matrix is the plain table of powers base_c^e; for a repair it is solved by
// Gauss–Jordan elimination without row exchange, which fails on a zero pivot.
//
// A repair of many small blocks may instead keep the matrix unsolved
// (ComputeSteps): the steps of the elimination of the square system of the
// missing inputs are kept, and the caller first adds every input into the
// unsolved rows, then takes the same steps on the sums (ReplaySteps). That
// costs missing² × block bytes instead of the missing² × columns of solving
// the wide matrix, far less where blocks are short and there are many.
//
// ReedSolomonMatrix works in GF(2^16) with the bases of the two-byte format
// (input k gets 2^j_k, j_k the k-th exponent coprime to 65535, at most 32768
// inputs) and owns the product tables of that field. ReedSolomonMatrix8 works
// in GF(2^8) with the bases of the single-block format: input k gets the byte
// (k + 1) modulo 256 (so 0 for k = 255, 511, …; such an input can never be
// rebuilt and a system that needs it fails as singular).
//
// One object belongs to one job on one thread.

#include <cstdint>
#include <memory>
#include <vector>

#include "rs/block_progress_sink.h"
#include "rs/product_tables.h"

namespace vantrove {

struct Gf16Field;
struct Gf8Field;

template <typename Field>
class BasicReedSolomonMatrix {
  public:
    using Element = typename Field::Element;

    BasicReedSolomonMatrix();
    ~BasicReedSolomonMatrix();
    BasicReedSolomonMatrix(const BasicReedSolomonMatrix&) = delete;
    BasicReedSolomonMatrix& operator=(const BasicReedSolomonMatrix&) = delete;

    // `present[k]` tells whether input k exists; present.size() inputs. False
    // when there are more inputs than the field has bases for.
    bool SetInput(const std::vector<bool>& present);
    // All `count` inputs present (creation).
    bool SetInput(uint32_t count);
    // Appends an output row; false when the exponent is already listed.
    bool AddOutput(bool present, uint16_t exponent);
    // Builds (and for a repair solves) the matrix. False when there are not
    // enough present recovery blocks, nothing to compute, a zero pivot, no
    // memory, or when `progress` asks to stop (polled once per row and per
    // pivot step). `progress` may be null.
    bool Compute(BlockProgressSink* progress);
    // The unsolved form for a repair that produces only missing inputs (no
    // missing recovery rows): Coefficient gives row r's powers of the bases
    // of the present inputs, 1 in the column of row r's own recovery block
    // and 0 in the others; Row is not available. False as for Compute, and
    // when a missing recovery row was added.
    bool ComputeSteps(BlockProgressSink* progress);
    // Whether the elimination of `missing` rows is cheaper taken on the
    // sums of blocks of `blockBytes` than on the wide matrix of `columns`.
    static bool StepsCheaper(uint64_t blockBytes, uint32_t columns);
    bool Stepped() const { return stepped_; }
    // The recovery exponent of an unsolved row. REQUIRES: Stepped().
    uint16_t RowExponent(uint32_t row) const { return rowExponents_[row]; }
    // The solving steps, in order, on `count` rows of values: step i divides
    // row i by its pivot, then adds a multiple of it to every other row.
    // `scale(i, inverse)` multiplies row i by inverse;
    // `add(j, i, factor)` adds factor times row i to row j.
    // REQUIRES: Stepped().
    template <typename Scale, typename Add>
    void ReplaySteps(Scale&& scale, Add&& add) const {
        const uint32_t count = DataMissing();
        for (uint32_t i = 0; i < count; ++i) {
            if (stepInverses_[i] != 1) scale(i, stepInverses_[i]);
            const Element* factors = &stepFactors_[size_t{i} * count];
            for (uint32_t j = 0; j < count; ++j)
                if (j != i && factors[j] != 0) add(j, i, factors[j]);
        }
    }

    // REQUIRES: a successful Compute, row < OutputCount(), column < ColumnCount().
    Element Coefficient(uint32_t row, uint32_t column) const;
    // The whole row, ColumnCount() entries.
    const Element* Row(uint32_t row) const;

    uint32_t InputCount() const { return inputCount_; }
    uint32_t DataPresent() const { return static_cast<uint32_t>(presentIndex_.size()); }
    uint32_t DataMissing() const { return static_cast<uint32_t>(missingIndex_.size()); }
    uint32_t ParPresent() const { return parPresent_; }
    uint32_t ParMissing() const { return parMissing_; }
    // Rows: DataMissing() + ParMissing().
    uint32_t OutputCount() const { return DataMissing() + parMissing_; }
    // Columns: DataPresent() + DataMissing().
    uint32_t ColumnCount() const { return DataPresent() + DataMissing(); }
    const std::vector<uint32_t>& PresentIndices() const { return presentIndex_; }
    const std::vector<uint32_t>& MissingIndices() const { return missingIndex_; }
    // The base of input k (k < InputCount()).
    Element Base(uint32_t k) const { return bases_[k]; }

  protected:
    struct OutputRow {
        bool present;
        uint16_t exponent;
    };

    bool Build(bool stepped, BlockProgressSink* progress);
    // Gauss–Jordan on the right matrix alone, recording per step the
    // pivot's inverse and the factor of every other row.
    bool EliminateRight(std::vector<Element>& right, std::vector<Element>& inverses,
                        std::vector<Element>& factors, BlockProgressSink* progress) const;
    // The recorded steps taken on the left matrix; false when `progress`
    // asked to stop.
    bool ReplayOnLeft(const std::vector<Element>& inverses, const std::vector<Element>& factors,
                      const BlockProgressSink* progress);
    // row[0, count) ⊕= factor · source[0, count)
    void AddScaled(Element* row, const Element* source, Element factor, uint32_t count) const;

    typename Field::Tables tables_;
    uint32_t inputCount_ = 0;
    std::vector<uint32_t> presentIndex_;
    std::vector<uint32_t> missingIndex_;
    std::vector<Element> bases_;
    std::vector<OutputRow> outputs_;
    uint32_t parPresent_ = 0;
    uint32_t parMissing_ = 0;
    std::vector<Element> left_;
    // The unsolved form: per row its recovery exponent, and the steps.
    bool stepped_ = false;
    std::vector<uint16_t> rowExponents_;
    std::vector<Element> stepInverses_;
    std::vector<Element> stepFactors_;
};

struct Gf16Field {
    using Element = uint16_t;
    using Tables = std::unique_ptr<ProductTables>;
};

struct Gf8Field {
    using Element = uint8_t;
    struct Tables {};
};

extern template class BasicReedSolomonMatrix<Gf16Field>;
extern template class BasicReedSolomonMatrix<Gf8Field>;

class ReedSolomonMatrix : public BasicReedSolomonMatrix<Gf16Field> {
  public:
    // The product tables built with the object; null if they could not be
    // allocated (then Compute fails).
    const ProductTables* Products() const { return tables_.get(); }
};

class ReedSolomonMatrix8 : public BasicReedSolomonMatrix<Gf8Field> {};

}  // namespace vantrove
