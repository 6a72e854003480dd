#include "packet_test_support.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/test_env.h"

namespace vantrove::test {

void WritePackets(const std::string& path, const std::vector<std::vector<uint8_t>>& packets) {
    std::vector<uint8_t> all;
    for (const auto& p : packets) all.insert(all.end(), p.begin(), p.end());
    WriteFile(path, all);
}

DiskFileRef OpenForReading(const std::string& path) {
    auto file = std::make_shared<DiskFile>(path);
    EXPECT_TRUE(file->open()) << path;
    return file;
}

std::vector<uint8_t> HeaderAt(DiskFile& file, uint64_t offset) {
    std::vector<uint8_t> header(64);
    EXPECT_TRUE(file.read(offset, header.data(), header.size()));
    return header;
}

void FixPacketHash(std::vector<uint8_t>& packet) {
    const Md5Digest hash = Md5Of(packet.data() + 32, packet.size() - 32);
    std::memcpy(packet.data() + 16, hash.bytes.data(), 16);
}

void PutLe32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

void PutLe64(std::vector<uint8_t>& bytes, size_t offset, uint64_t value) {
    for (int i = 0; i < 8; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

void AppendLe32(std::vector<uint8_t>& bytes, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void AppendLe64(std::vector<uint8_t>& bytes, uint64_t value) {
    for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void AppendBytes(std::vector<uint8_t>& bytes, const void* data, size_t length) {
    const auto* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < length; ++i) bytes.push_back(p[i]);
}

void AppendDigest(std::vector<uint8_t>& bytes, const Md5Digest& digest) {
    bytes.insert(bytes.end(), digest.bytes.begin(), digest.bytes.end());
}

std::vector<uint8_t> HandMadePacket(const Md5Digest& setId, const char (&type)[17],
                                    const std::vector<uint8_t>& body) {
    std::vector<uint8_t> packet;
    AppendBytes(packet, "PAR2\0PKT", 8);
    AppendLe64(packet, 64 + body.size());
    packet.resize(32, 0);  // hash, filled below
    AppendDigest(packet, setId);
    AppendBytes(packet, type, 16);
    packet.insert(packet.end(), body.begin(), body.end());
    FixPacketHash(packet);
    return packet;
}

}  // namespace vantrove::test
