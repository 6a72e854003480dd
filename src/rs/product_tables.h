#pragma once
// ProductTables: the three 256 x 256 tables of GF(2^16) byte products.
//
// low×low[i][j] = i·j, low×high[i][j] = i·(j·256), high×high[i][j] =
// (i·256)·(j·256), where "·256" is the integer shift by 8 bits before the
// field multiplication. A full product of two 16-bit elements is then the XOR
// of four look-ups. 393216 bytes; each Reed–Solomon matrix owns one set,
// built in its constructor, and the reference kernel derives its per-factor
// tables from it. Read-only after construction, so any thread may read it.

#include <cstdint>
#include <memory>

namespace vantrove {

struct ProductTables {
    uint16_t lowLow[256][256];
    uint16_t lowHigh[256][256];
    uint16_t highHigh[256][256];

    // a · b through the four look-ups.
    uint16_t Multiply(uint16_t a, uint16_t b) const;

    // A filled set on the heap, or nullptr when the memory is not available.
    static std::unique_ptr<ProductTables> Create();
};

}  // namespace vantrove
