#pragma once
// The creator packet: the name of the program that made the set, and the
// rule by which it is shown to the user. Built once per created set, read by
// the set loader. A plain value; one thread at a time.

#include <string>

#include "core/md5.h"
#include "par2/packet_buffer.h"

namespace vantrove {

class CreatorPacket : public PacketBuffer {
  public:
    // Builds the packet with this program's creator text (string 500) for
    // the set `setId`, sealed with its packet hash.
    bool Build(const Md5Digest& setId);

    // Reads the packet at `offset` whose checked header is `header`; false
    // rejects it. Accepted: length below 2^32 and at least 64.
    bool Read(DiskFile& file, uint64_t offset, const uint8_t* header);

    // The stored text up to its first zero byte (or the packet's end).
    std::string text() const;
};

// What the user is shown as the set's creator: the creator packet's text
// without a leading "created by " (in any case), or "sconosciuto" (string
// 675) when the set has no creator packet (`creator` null or empty).
std::string CreatorDisplayText(const CreatorPacket* creator);

}  // namespace vantrove
