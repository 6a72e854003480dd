#include "rs/product_tables.h"

#include <new>

#include "rs/galois_field.h"

namespace vantrove {

uint16_t ProductTables::Multiply(uint16_t a, uint16_t b) const {
    const uint32_t aL = a & 0xFF, aH = a >> 8, bL = b & 0xFF, bH = b >> 8;
    return static_cast<uint16_t>(lowLow[aL][bL] ^ lowHigh[aL][bH] ^ lowHigh[bL][aH] ^
                                 highHigh[aH][bH]);
}

std::unique_ptr<ProductTables> ProductTables::Create() {
    std::unique_ptr<ProductTables> tables(new (std::nothrow) ProductTables);
    if (!tables) return nullptr;
    for (uint32_t i = 0; i < 256; ++i) {
        for (uint32_t j = 0; j < 256; ++j) {
            const auto low = static_cast<uint16_t>(i);
            tables->lowLow[i][j] = Gf16Multiply(low, static_cast<uint16_t>(j));
            tables->lowHigh[i][j] = Gf16Multiply(low, static_cast<uint16_t>(j << 8));
            tables->highHigh[i][j] =
                Gf16Multiply(static_cast<uint16_t>(i << 8), static_cast<uint16_t>(j << 8));
        }
    }
    return tables;
}

}  // namespace vantrove
