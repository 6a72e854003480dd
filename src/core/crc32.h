#pragma once
// CRC-32 (reflected, polynomial 0xEDB88320: the one of zlib and PAR 2.0).
//
// Values are kept in final form: the CRC of no data is 0 and a value can be
// extended with more data at any time. The four lookup tables are built by a
// static initialiser and are read-only afterwards, so any thread may call
// these functions.

#include <cstddef>
#include <cstdint>

namespace vantrove {

// T0 is the classic byte table; T1..T3 advance it by one more byte each, so
// that four bytes go through the register per step.
struct Crc32Tables {
    uint32_t t[4][256];
};
const Crc32Tables& Crc32TablesInstance();

// Extends a final-form CRC with `length` bytes.
uint32_t Crc32Update(uint32_t crc, const void* data, size_t length);
// Extends a final-form CRC with `count` zero bytes.
uint32_t Crc32UpdateZeros(uint32_t crc, uint64_t count);

}  // namespace vantrove
