#pragma once
// Builds PAR 1.0 files for tests, with its own bitwise GF(2^8) arithmetic
// (independent of the program's tables): the main file and recovery volumes
// of a list of files, and helpers to damage a header field and repair the
// control hash afterwards.

#include <cstdint>
#include <string>
#include <vector>

namespace vantrove::test {

using Bytes = std::vector<uint8_t>;

struct Par1BuildFile {
    std::string name;
    Bytes data;
    uint64_t status = 1;  // bit 0: protected
};

struct Par1Build {
    uint32_t generator = 0x02000900;
    std::vector<Par1BuildFile> files;
};

// Product in GF(2^8) with the polynomial 0x11D, bit by bit.
uint8_t SlowGf8Multiply(uint8_t a, uint8_t b);
// The recovery block of `exponent` over the protected files.
Bytes Par1RecoveryBlock(const Par1Build& build, uint32_t exponent);
// A whole PAR 1.0 file: volume 0 is the main file (no data), volume v ≥ 1
// carries the recovery block of exponent v − 1.
Bytes MakePar1File(const Par1Build& build, uint64_t volumeNumber);
// Recomputes the control hash (MD5 from offset 32 to the end).
void FixPar1ControlHash(Bytes& file);
void PutLe64(Bytes& file, size_t offset, uint64_t value);
uint64_t GetLe64(const Bytes& file, size_t offset);

}  // namespace vantrove::test
