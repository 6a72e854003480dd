#pragma once
// Par2SetBuilder: makes PAR 2.0 sets for the loading and scanning tests with
// the program's own packet builders: the critical packets of a list of
// files, recovery slices whose data is arbitrary (verification never reads
// it), and volume files holding any mix of packets, garbage included.

#include <cstdint>
#include <string>
#include <vector>

#include "core/md5.h"

namespace vantrove::test {

using Bytes = std::vector<uint8_t>;

class Par2SetBuilder {
  public:
    // Files are written to `folder` (ending in '/') under their names.
    Par2SetBuilder(std::string folder, uint64_t sliceSize);

    void AddFile(const std::string& name, const Bytes& content);
    // Computes every packet. `extraIds` are appended to the main packet's
    // file ids (a repeated id makes a main packet that lists a file twice).
    void Build(const std::vector<Md5Digest>& extraIds = {});

    const Md5Digest& setId() const { return setId_; }
    const Md5Digest& fileId(size_t i) const { return fileIds_[i]; }
    uint64_t sliceSize() const { return sliceSize_; }
    size_t totalBlocks() const;

    const Bytes& main() const { return main_; }
    const Bytes& creator() const { return creator_; }
    const Bytes& description(size_t i) const { return descriptions_[i]; }
    const Bytes& checksums(size_t i) const { return checksums_[i]; }
    // A recovery slice of this set with `exponent` (data derived from it).
    Bytes Slice(uint32_t exponent) const;
    // A recovery slice with the real recovery data of `exponent`, computed
    // the plain way (one field product per 16-bit word and block).
    Bytes RealSlice(uint32_t exponent) const;
    // A slice packet of `exponent` whose data is `dataLength` bytes (valid
    // packet, wrong size for the set when dataLength differs from the slice).
    Bytes SliceOfLength(uint32_t exponent, uint64_t dataLength) const;
    // Main, descriptions, checksums and creator, in that order.
    std::vector<Bytes> Critical() const;

  private:
    std::string folder_;
    uint64_t sliceSize_;
    std::vector<std::string> names_;
    std::vector<Bytes> contents_;
    std::vector<Md5Digest> fileIds_;
    Md5Digest setId_;
    Bytes main_, creator_;
    std::vector<Bytes> descriptions_, checksums_;
};

// Writes the concatenation of `parts` to `path`.
void WriteVolume(const std::string& path, const std::vector<Bytes>& parts);
Bytes Concat(const std::vector<Bytes>& parts);

}  // namespace vantrove::test
