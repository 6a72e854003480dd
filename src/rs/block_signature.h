#pragma once
// The 16-bit block signature: a checksum that is linear over GF(2^16).
//
// For a buffer holding the little-endian 16-bit words w_0 … w_(n/2-1) the
// signature is Σ w_m · 2^(-8·(n-2m)). So signature(X ⊕ Y) = signature(X) ⊕
// signature(Y) and signature(f·X) = f · signature(X), where f·X multiplies
// every word of X by f. The data pass relies on this to check each computed
// block against the signatures of its inputs before writing it.
//
// The tables are built at compile time; the functions may run on any thread.

#include <cstddef>
#include <cstdint>

namespace vantrove {

// Signature of `length` bytes, continuing from `state` (0 for a fresh one).
// Bytes are taken one at a time: h = (h >> 8) ⊕ T[(h ⊕ c) & 0xFF], with
// T[v] = v · 2^-8; whole 32-bit words go through four tables at once and give
// the same result.
uint16_t BlockSignature(const uint8_t* data, size_t length, uint16_t state = 0);

// The signature after `zeroBytes` further zero bytes: state · 2^(-8·zeroBytes).
// Joins signatures of pieces: signature(A then B) =
// BlockSignatureAppendZeros(signature(A), |B|) ⊕ signature(B).
uint16_t BlockSignatureAppendZeros(uint16_t state, uint64_t zeroBytes);

// The byte-at-a-time form, kept as the reference for tests.
uint16_t BlockSignatureBytewise(const uint8_t* data, size_t length, uint16_t state = 0);

}  // namespace vantrove
