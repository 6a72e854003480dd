#pragma once
// Where everything goes in the recovery volumes of a set: their names, how
// many copies of the set's index (its critical packets) each carries, and
// the places of the recovery slices and of those copies, fixed before
// anything is written.

#include <cstdint>
#include <string>
#include <vector>

namespace vantrove {

// The name of recovery volume: "<path><base>.vol<first>+<count>.PAR2" with the
// first exponent written with `exponentDigits` and the count with
// `countDigits` digits at least.
std::string VolumeFileName(const std::string& path, const std::string& base, uint32_t first,
                           uint32_t count, int exponentDigits, int countDigits);

// The bytes of index the recovery volumes of the doubling layout of
// `recoveryBlocks` blocks (volumes of 1, 2, 4 … blocks, each carrying as
// many copies of the index as its block count has binary digits, and one
// creator packet) take, with an index of `indexBytes` and a creator packet
// of `creatorBytes`. No layout writes more index than this when it can
// help it: with many small files the index outweighs the recovery data,
// and every copy of it costs as much as many blocks.
uint64_t DoublingIndexBytes(uint32_t recoveryBlocks, uint64_t indexBytes, uint64_t creatorBytes);

// Copies of the index each volume of these block counts carries: as many
// as its count has binary digits, but no volume more than a common ceiling
// chosen as high as the index bytes of all volumes allow within
// DoublingIndexBytes of their total. Each volume carries one copy at least
// (so that it can be read alone), even when that is more; a volume of no
// blocks is not written and carries none.
std::vector<uint32_t> IndexCopies(const std::vector<uint32_t>& counts, uint64_t indexBytes,
                                  uint64_t creatorBytes);

// One placed packet, or run of critical packets, of a volume, as laid out
// before anything is written.
struct VolumeLayoutEntry {
    enum Kind { kSlice, kCritical, kCreator } kind;
    // Slice number within the volume, or the list position of the first
    // critical packet of the run.
    uint32_t index;
    // Critical packets in the run, which follow one another in the list
    // (and so in the volume); 1 for a slice or the creator.
    uint32_t count;
    uint64_t offset;
};

// The layout of one volume of `count` slices of `blockSize` bytes carrying
// `copies` copies of the critical packets of the given sizes, spread among
// the slices, and a creator packet of `creatorSize` bytes; returns the
// volume size.
uint64_t LayOutVolume(uint32_t count, uint32_t copies, uint64_t blockSize,
                      const std::vector<uint64_t>& criticalSizes, uint64_t creatorSize,
                      std::vector<VolumeLayoutEntry>& entries);

}  // namespace vantrove
