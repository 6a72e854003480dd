#pragma once
// Helpers for the packet tests: writing packets to a file, opening it,
// reading a header back, and repairing a packet hash after a field was
// changed so that a reader's own checks are reached.

#include <cstdint>
#include <string>
#include <vector>

#include "core/disk_file.h"
#include "core/md5.h"

namespace vantrove::test {

// Writes the packets one after the other to `path`.
void WritePackets(const std::string& path, const std::vector<std::vector<uint8_t>>& packets);

// Opens `path` for reading; fails the test if it cannot.
DiskFileRef OpenForReading(const std::string& path);

// The 64 header bytes at `offset`.
std::vector<uint8_t> HeaderAt(DiskFile& file, uint64_t offset);

// Recomputes the MD5 of bytes 32..end into bytes 16..31.
void FixPacketHash(std::vector<uint8_t>& packet);

// Little-endian field writers for hand-made packets.
void PutLe32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value);
void PutLe64(std::vector<uint8_t>& bytes, size_t offset, uint64_t value);
void AppendLe32(std::vector<uint8_t>& bytes, uint32_t value);
void AppendLe64(std::vector<uint8_t>& bytes, uint64_t value);
void AppendBytes(std::vector<uint8_t>& bytes, const void* data, size_t length);
void AppendDigest(std::vector<uint8_t>& bytes, const Md5Digest& digest);

// A whole packet laid out by hand: magic, length, hash (computed), set id,
// type and body.
std::vector<uint8_t> HandMadePacket(const Md5Digest& setId, const char (&type)[17],
                                    const std::vector<uint8_t>& body);

}  // namespace vantrove::test
