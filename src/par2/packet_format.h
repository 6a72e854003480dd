#pragma once
// The byte layout of PAR 2.0 packets: magic, type strings, field offsets and
// the fixed sizes that builders and readers share. Pure constants; any
// thread may use them.
//
// Every packet starts with a 64-byte header:
//   0  magic "PAR2\0PKT"
//   8  length of the whole packet (64-bit, >= 64, multiple of 4)
//  16  packet hash: MD5 of bytes 32 .. length-1
//  32  recovery set id: MD5 of the main packet's body
//  48  type (16 bytes)
// All integers are little-endian.

#include <array>
#include <cstddef>
#include <cstdint>

namespace vantrove {

using PacketMagic = std::array<uint8_t, 8>;
using PacketTypeBytes = std::array<uint8_t, 16>;

inline constexpr PacketMagic kPacketMagic = {'P', 'A', 'R', '2', 0, 'P', 'K', 'T'};

inline constexpr PacketTypeBytes kMainPacketType = {'P', 'A', 'R', ' ', '2', '.', '0', 0,
                                                    'M', 'a', 'i', 'n', 0,   0,   0,   0};
inline constexpr PacketTypeBytes kFileDescriptionPacketType = {
    'P', 'A', 'R', ' ', '2', '.', '0', 0, 'F', 'i', 'l', 'e', 'D', 'e', 's', 'c'};
inline constexpr PacketTypeBytes kIfscPacketType = {'P', 'A', 'R', ' ', '2', '.', '0', 0,
                                                    'I', 'F', 'S', 'C', 0,   0,   0,   0};
inline constexpr PacketTypeBytes kRecoverySlicePacketType = {
    'P', 'A', 'R', ' ', '2', '.', '0', 0, 'R', 'e', 'c', 'v', 'S', 'l', 'i', 'c'};
inline constexpr PacketTypeBytes kCreatorPacketType = {'P', 'A', 'R', ' ', '2', '.', '0', 0,
                                                       'C', 'r', 'e', 'a', 't', 'o', 'r', 0};

enum class PacketType : uint8_t {
    Other = 0,  // a type this program does not handle; counted, otherwise ignored
    Main,
    FileDescription,
    Ifsc,
    RecoverySlice,
    Creator,
};

// Header fields.
inline constexpr size_t kPacketHeaderSize = 64;
inline constexpr size_t kPacketLengthOffset = 8;
inline constexpr size_t kPacketHashOffset = 16;
inline constexpr size_t kPacketSetIdOffset = 32;
inline constexpr size_t kPacketTypeOffset = 48;
// The packet hash covers the packet from here to its end.
inline constexpr size_t kPacketHashedFrom = kPacketSetIdOffset;

// Main packet: slice size, recoverable file count, then 16-byte file ids.
inline constexpr size_t kMainSliceSizeOffset = 64;
inline constexpr size_t kMainFileCountOffset = 72;
inline constexpr size_t kMainFileIdsOffset = 76;

// File description packet.
inline constexpr size_t kFileDescFileIdOffset = 64;
inline constexpr size_t kFileDescHashOffset = 80;
inline constexpr size_t kFileDescHash16kOffset = 96;
inline constexpr size_t kFileDescLengthOffset = 112;
inline constexpr size_t kFileDescNameOffset = 120;
// Bytes hashed for the "first 16 KiB" digest.
inline constexpr uint64_t kFileDescHead = 16384;
// Chunk in which a whole file is read to hash it.
inline constexpr size_t kFileHashChunk = 1048576;

// IFSC packet: file id, then per slice a 16-byte MD5 and a 4-byte CRC-32.
inline constexpr size_t kIfscFileIdOffset = 64;
inline constexpr size_t kIfscEntriesOffset = 80;
inline constexpr size_t kIfscEntrySize = 20;

// Recovery slice packet: exponent, then the recovery data.
inline constexpr size_t kRecoveryExponentOffset = 64;
inline constexpr size_t kRecoveryDataOffset = 68;

// Creator packet: text from here, zero-padded to a multiple of 4.
inline constexpr size_t kCreatorTextOffset = 64;

// Packet lengths of this size or more are refused by the readers of the
// packets that are held in memory.
inline constexpr uint64_t kMaxInMemoryPacketLength = uint64_t{1} << 32;

}  // namespace vantrove
