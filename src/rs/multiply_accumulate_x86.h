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

// GF(2^16) seen as a field of degree two over its subfield K of 256
// elements: every element is a0 + a1·θ with a0, a1 in K, where θ² = θ + λ
// for a fixed λ in K. Products then take three multiplications in K
// instead of four 8x8 blocks (Karatsuba):
//   (f0 + f1·θ)(a0 + a1·θ) = (f0·a0 + λf1·a1) + ((f0 + f1)(a0 + a1) + f0·a0)·θ.
// Elements of K are written by their 8 coordinates in the basis 1, β, …, β⁷
// (β = 2^257); an element of the field by the 16 coordinates of a0 (low
// byte) and a1 (high byte). The change between the plain form and the
// coordinates is linear, so both ways are 8x8 bit-matrix blocks.
struct TowerTables {
    // Coordinates from plain planes: a0 = [0]·low ⊕ [1]·high, a1 = [2]·low ⊕ [3]·high.
    uint64_t toTower[4];
    // Plain planes from coordinates: low = [0]·a0 ⊕ [1]·a1, high = [2]·a0 ⊕ [3]·a1.
    uint64_t fromTower[4];
    // Coordinates of a plain element v: low[v & 0xFF] ^ high[v >> 8].
    uint16_t coordinatesOfLow[256];
    uint16_t coordinatesOfHigh[256];
    // Bit matrix of the multiplication by the element of K with coordinates
    // k, and by λ times that element.
    uint64_t times[256];
    uint64_t timesLambda[256];
    // FactorMatrices16 of v and of v·256, for v a byte (the matrices are
    // linear in the factor).
    uint64_t plainOfLow[256][4];
    uint64_t plainOfHigh[256][4];
    // For the shuffle kernels, in the layout of PrepareNibbles16: the change
    // from plain elements to coordinates (a0 | a1 << 8) and back; and per k
    // the images of the 16 low nibbles, then of the 16 high nibbles, under
    // the multiplication by k and by λk.
    uint8_t toTowerNibbles[128];
    uint8_t fromTowerNibbles[128];
    uint8_t timesNibbles[256][32];
    uint8_t timesLambdaNibbles[256][32];
    // PrepareNibbles16's tables of v and of v·256, for v a byte (the tables are linear
    // in the factor too).
    uint8_t plainNibblesOfLow[256][128];
    uint8_t plainNibblesOfHigh[256][128];
};
const TowerTables& Tower();
// 64-bit words 0–3: the four plain matrices (as PrepareMatrices16); 4–6:
// the three matrices of the products f0·a0, λf1·a1 and (f0 + f1)(a0 + a1);
// 7: the factor. Nothing beyond them, so the table packs into 64 bytes.
inline constexpr size_t kTowerPackedWords = 8;
void PrepareTower16(const ProductTables& products, uint16_t factor, FactorTable& table);
void PreparePackedTower16(uint16_t factor, uint64_t* words);

// The table of the degree-two form with nibble look-ups instead of affine
// transforms (the AVX2 kernel). Bytes 0–95: the nibble tables of f0·a0,
// λf1·a1 and (f0 + f1)(a0 + a1); from kTowerPlainOffset the plain nibble
// tables (PrepareNibbles16) for the products in the plain layout.
inline constexpr size_t kTowerNibblesPackedWords = 12;
inline constexpr size_t kTowerPlainOffset = 128;
void PrepareTowerNibbles16(const ProductTables& products, uint16_t factor, FactorTable& table);
void PreparePackedTowerNibbles16(uint16_t factor, uint64_t* words);

bool HasSsse3();
bool HasAvx2();
bool HasAvx512bw();
bool HasGfni512();

void ApplySsse3(const FactorTable& table, const uint8_t* in, uint8_t* out, size_t length);
void ApplyAvx2(const FactorTable& table, const uint8_t* in, uint8_t* out, size_t length);
// Working layout of the AVX2 degree-two kernel: in each 128-byte block the
// a0 coordinates of its 64 elements, then their a1 coordinates, in the order
// the lane-wise pack of AVX2 leaves them.
void ToTowerAvx2(uint8_t* data, size_t length);
void CopyToTowerAvx2(const uint8_t* from, uint8_t* to, size_t length);
void FromTowerAvx2(uint8_t* data, size_t length);
void ApplyTowerPlainAvx2(const FactorTable& table, const uint8_t* in, uint8_t* out, size_t length);
void ApplyManyTowerAvx2(const FactorTable* const* tables, const uint8_t* const* inputs,
                        size_t count, uint8_t* out, size_t length);
void ApplyManyPackedTowerAvx2(const uint64_t* const* packed, const uint8_t* const* inputs,
                              size_t count, uint8_t* const* outputs, size_t outputCount,
                              size_t length);
void ApplyAvx512bw(const FactorTable& table, const uint8_t* in, uint8_t* out, size_t length);
void ApplyGfni512(const FactorTable& table, const uint8_t* in, uint8_t* out, size_t length);
// Working layout of the affine kernel: in each 128-byte block the 64 low
// bytes of its elements, then the 64 high bytes.
void ToPlanesGfni512(uint8_t* data, size_t length);
void CopyToPlanesGfni512(const uint8_t* from, uint8_t* to, size_t length);
void FromPlanesGfni512(uint8_t* data, size_t length);
void ApplyManyPlanesGfni512(const FactorTable* const* tables, const uint8_t* const* inputs,
                            size_t count, uint8_t* out, size_t length);

// Eight signature chains over `length` bytes (a multiple of 512): block t of
// 64 bytes goes to chain t mod 8, and each chain steps as acc = acc · g ⊕
// block, g given by `matrices` (FactorMatrices16). The chains are left in
// `chains` (8 × 64 bytes, plain layout).
// Working layout of the degree-two kernel: in each 128-byte block the 64
// a0 coordinates of its elements, then the 64 a1 coordinates.
void ToTowerGfni512(uint8_t* data, size_t length);
void CopyToTowerGfni512(const uint8_t* from, uint8_t* to, size_t length);
void FromTowerGfni512(uint8_t* data, size_t length);
void ApplyManyTowerGfni512(const FactorTable* const* tables, const uint8_t* const* inputs,
                           size_t count, uint8_t* out, size_t length);
void ApplyManyPackedTowerGfni512(const uint64_t* const* packed, const uint8_t* const* inputs,
                                 size_t count, uint8_t* const* outputs, size_t outputCount,
                                 size_t length);

void SignatureChainsGfni512(const uint8_t* data, size_t length, const uint64_t matrices[4],
                            uint8_t chains[512]);

void ApplySsse3x8(const Factor8Table& table, const uint8_t* in, uint8_t* out, size_t length);
void ApplyAvx2x8(const Factor8Table& table, const uint8_t* in, uint8_t* out, size_t length);
void ApplyAvx512bwx8(const Factor8Table& table, const uint8_t* in, uint8_t* out, size_t length);
void ApplyGfni512x8(const Factor8Table& table, const uint8_t* in, uint8_t* out, size_t length);

}  // namespace vantrove::kernels
