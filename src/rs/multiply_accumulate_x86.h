#pragma once
// The x86 vector kernels behind the multiply-accumulate dispatcher, and the
// scalar helpers they share for their tails. Internal to src/rs.

#include <cstddef>
#include <cstdint>

#include "rs/multiply_accumulate.h"

namespace vantrove::kernels {

// output[0, length) ⊕= factor · input[0, length), one element at a time; for
// the last few bytes after a vector loop.
void Tail16(uint16_t factor, const uint8_t* input, uint8_t* output, size_t length);
void Tail8(uint8_t factor, const uint8_t* input, uint8_t* output, size_t length);

// Nibble tables shared by the shuffle kernels: for nibble k of the 16-bit
// input (k = 0 lowest), 16 low bytes then 16 high bytes of factor·(n << 4k).
void PrepareNibbles16(const ProductTables& products, uint16_t factor, FactorTable& table);
// For GF(2^8): 16 products of the low nibble, then 16 of the high nibble.
void PrepareNibbles8(uint8_t factor, Factor8Table& table);
// Bit matrices for affine transforms: qwords low←low, low←high, high←low,
// high←high for GF(2^16); one qword for GF(2^8).
void PrepareMatrices16(const ProductTables& products, uint16_t factor, FactorTable& table);
void FactorMatrices16(uint16_t factor, uint64_t matrices[4]);
void PrepareMatrix8(uint8_t factor, Factor8Table& table);

bool HasSsse3();
bool HasAvx2();
bool HasAvx512bw();
bool HasGfni512();

void ApplySsse3(const FactorTable& table, const uint8_t* in, uint8_t* out, size_t length);
void ApplyAvx2(const FactorTable& table, const uint8_t* in, uint8_t* out, size_t length);
void ApplyAvx512bw(const FactorTable& table, const uint8_t* in, uint8_t* out, size_t length);
void ApplyGfni512(const FactorTable& table, const uint8_t* in, uint8_t* out, size_t length);
// Working layout of the affine kernel: in each 128-byte block the 64 low
// bytes of its elements, then the 64 high bytes.
void ToPlanesGfni512(uint8_t* data, size_t length);
void FromPlanesGfni512(uint8_t* data, size_t length);
void ApplyManyPlanesGfni512(const FactorTable* const* tables, const uint8_t* const* inputs,
                            size_t count, uint8_t* out, size_t length);

// Eight signature chains over `length` bytes (a multiple of 512): block t of
// 64 bytes goes to chain t mod 8, and each chain steps as acc = acc · g ⊕
// block, g given by `matrices` (FactorMatrices16). The chains are left in
// `chains` (8 × 64 bytes, plain layout).
void SignatureChainsGfni512(const uint8_t* data, size_t length, const uint64_t matrices[4],
                            uint8_t chains[512]);

void ApplySsse3x8(const Factor8Table& table, const uint8_t* in, uint8_t* out, size_t length);
void ApplyAvx2x8(const Factor8Table& table, const uint8_t* in, uint8_t* out, size_t length);
void ApplyAvx512bwx8(const Factor8Table& table, const uint8_t* in, uint8_t* out, size_t length);
void ApplyGfni512x8(const Factor8Table& table, const uint8_t* in, uint8_t* out, size_t length);

}  // namespace vantrove::kernels
