#pragma once
// Where everything goes in the recovery volumes of a set: their names and the
// places of the recovery slices and the copies of the critical packets,
// fixed before anything is written.

#include <cstdint>
#include <string>
#include <vector>

namespace vantrove {

// The name of recovery volume: "<path><base>.vol<first>+<count>.PAR2" with the
// first exponent written with `exponentDigits` and the count with
// `countDigits` digits at least.
std::string VolumeFileName(const std::string& path, const std::string& base, uint32_t first,
                           uint32_t count, int exponentDigits, int countDigits);

// One placed packet of a volume, as laid out before anything is written.
struct VolumeLayoutEntry {
    enum Kind { kSlice, kCritical, kCreator } kind;
    uint32_t index;  // slice number within the volume, or critical list position
    uint64_t offset;
};

// The layout of one volume of `count` slices of `blockSize` bytes with L =
// critical packets of the given sizes and a creator packet of
// `creatorSize` bytes; returns the volume size.
uint64_t LayOutVolume(uint32_t count, uint64_t blockSize,
                      const std::vector<uint64_t>& criticalSizes, uint64_t creatorSize,
                      std::vector<VolumeLayoutEntry>& entries);

}  // namespace vantrove
