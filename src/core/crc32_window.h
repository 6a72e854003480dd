#pragma once
// The sliding form of CRC-32 for one window length L.
//
// Given the CRC-32 of the L bytes x[k] .. x[k+L-1], Slide() returns the CRC-32
// of x[k+1] .. x[k+L]. The scanner uses it to look for a block of known CRC
// at every byte offset of a file. A built window is read-only and may be
// shared by several scanning threads.

#include <cstdint>

namespace vantrove {

class Crc32Window {
  public:
    // Prepares the window for length L. Cost is logarithmic in L.
    void Build(uint32_t length);

    uint32_t Slide(uint32_t crc, uint8_t incoming, uint8_t outgoing) const {
        uint32_t c = crc ^ mask_;
        return outgoing_[outgoing] ^ step0_[(c ^ incoming) & 0xFF] ^ (c >> 8) ^ mask_;
    }

    uint32_t length() const { return length_; }
    // W[b]: T0[b] advanced through L zero bytes.
    const uint32_t* outgoing() const { return outgoing_; }
    // M: the CRC-32 of L zero bytes.
    uint32_t mask() const { return mask_; }

  private:
    uint32_t length_ = 0;
    uint32_t mask_ = 0;
    uint32_t outgoing_[256] = {};
    const uint32_t* step0_ = nullptr;  // T0, set by Build
};

}  // namespace vantrove
