#pragma once
// The 64-byte header that starts every PAR 2.0 packet, and the checks made
// on a packet before its body is looked at: the header's own rules (magic,
// length at least 64 and a multiple of 4) and the packet hash over bytes
// 32 .. length-1. Used by the set loader on every packet of a volume file.
// Plain values and functions; any thread may use them on its own data.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "core/md5.h"
#include "par2/packet_format.h"

namespace vantrove {

class DiskFile;

struct PacketHeader {
    uint64_t length = 0;
    Md5Digest packetHash;
    Md5Digest setId;
    PacketTypeBytes typeBytes{};

    PacketType type() const;
};

// The packet kind named by a 16-byte type field (Other for any unknown type).
PacketType PacketTypeOf(const PacketTypeBytes& typeBytes);
// The type field of a kind (all zeros for Other).
const PacketTypeBytes& PacketTypeBytesOf(PacketType type);

// True when `bytes` begin with the packet magic.
bool HasPacketMagic(const uint8_t* bytes);

// Decodes 64 header bytes. Returns false when the magic is missing or the
// length is below 64 or not a multiple of 4; `header` is filled either way.
bool ParsePacketHeader(const uint8_t* bytes, PacketHeader& header);

// Writes magic, length, packet hash, set id and type into 64 bytes.
void EncodePacketHeader(const PacketHeader& header, uint8_t* bytes);

// MD5 over bytes 32 .. length-1 of a whole packet held in memory.
// REQUIRES: length >= 64.
Md5Digest ComputePacketHash(const uint8_t* packet, size_t length);

enum class PacketHashCheck {
    Valid,      // the packet hash matches
    Mismatch,   // it does not
    PastEnd,    // the stated length runs past the end of the file
    ReadError,  // the file could not be read (its lastError() says why)
    Cancelled,  // the progress callback asked to stop
};

// Called after each chunk with the file position reached; returning false
// stops the work.
using PacketProgress = std::function<bool(uint64_t position)>;

// Checks the packet hash of the packet at `offset` of `file`, whose header
// (already accepted by ParsePacketHeader) is `header`: the 32 header bytes
// from offset 32 are taken from memory, the rest is read in chunks of the
// size of `buffer` (256 KiB when it is empty). The packet is never loaded
// whole, so a hostile length costs no memory.
PacketHashCheck VerifyPacketHash(DiskFile& file, uint64_t offset, const uint8_t* header,
                                 std::vector<uint8_t>& buffer, const PacketProgress& progress = {});

// The same check for several packets of `file` at once: the packet at
// offsets[i] (its header accepted, its length within the file) claims the
// hash hashes[i] over its bytes 32 .. lengths[i]-1. The packets are read in
// step, a piece of each at a time, and their MD5s run side by side, so a
// volume of many recovery slices is checked with the vector unit. Sets
// results[i] to Valid, Mismatch or ReadError; false (results unset) when
// `progress` asks to stop. At most kPacketsSideBySide packets.
inline constexpr size_t kPacketsSideBySide = 16;
bool VerifyPacketHashes(DiskFile& file, const uint64_t* offsets, const uint64_t* lengths,
                        const Md5Digest* hashes, size_t count, PacketHashCheck* results,
                        const PacketProgress& progress = {});

}  // namespace vantrove
