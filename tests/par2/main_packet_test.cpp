#include "par2/main_packet.h"

#include <gtest/gtest.h>

#include "packet_test_support.h"
#include "par2/packet_header.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

Md5Digest Id(uint8_t low, uint8_t high) {
    Md5Digest d;
    d.bytes[0] = low;
    d.bytes[15] = high;
    return d;
}

// A main packet laid out by hand: slice size, n, then the given ids.
std::vector<uint8_t> MainBytes(uint64_t sliceSize, uint32_t n, const std::vector<Md5Digest>& ids) {
    std::vector<uint8_t> body;
    test::AppendLe64(body, sliceSize);
    test::AppendLe32(body, n);
    for (const auto& id : ids) test::AppendDigest(body, id);
    return test::HandMadePacket(Md5Of(body.data(), body.size()), "PAR 2.0\0Main\0\0\0\0", body);
}

class MainPacketTest : public ::testing::Test {
  protected:
    // Writes `packet` and reads it back with the main packet reader.
    bool ReadBack(const std::vector<uint8_t>& packet, MainPacket& out) {
        test::WritePackets(dir.File("m.par2"), {packet});
        auto file = test::OpenForReading(dir.File("m.par2"));
        return out.Read(*file, 0, packet.data());
    }

    test::TempDir dir;
};

TEST_F(MainPacketTest, SortsIdsAsLittleEndianNumbers) {
    // By byte 0 alone the order would be a, b, c; byte 15 decides.
    const Md5Digest a = Id(1, 9), b = Id(2, 3), c = Id(3, 3), d = Id(0, 0);
    MainPacket packet;
    ASSERT_TRUE(packet.Build(1024, {a, b, c, d}));
    EXPECT_EQ(packet.recoverableFileIds(), (std::vector<Md5Digest>{d, b, c, a}));
    EXPECT_EQ(packet.length(), 76u + 64u);
    EXPECT_EQ(packet.sliceSize(), 1024u);
    EXPECT_TRUE(FileIdLess(b, a));
    EXPECT_FALSE(FileIdLess(a, a));
}

TEST_F(MainPacketTest, SetIdIsHashOfBodyAndPacketIsSealed) {
    MainPacket packet;
    ASSERT_TRUE(packet.Build(4096, {Id(5, 1), Id(6, 0)}));
    const auto expected = MainBytes(4096, 2, {Id(6, 0), Id(5, 1)});
    EXPECT_EQ(packet.bytes(), expected);
    EXPECT_TRUE(packet.HasValidHash());
    EXPECT_EQ(packet.type(), PacketType::Main);
}

TEST_F(MainPacketTest, RoundTrip) {
    MainPacket built;
    ASSERT_TRUE(built.Build(384000, {Id(1, 2), Id(3, 4), Id(5, 6)}));
    MainPacket read;
    ASSERT_TRUE(ReadBack(built.bytes(), read));
    EXPECT_TRUE(read.SameAs(built));
    EXPECT_EQ(read.sliceSize(), 384000u);
    EXPECT_EQ(read.recoverableFileIds(), built.recoverableFileIds());
    EXPECT_EQ(read.setId(), built.ComputeSetId());
}

TEST_F(MainPacketTest, IdsBeyondTheRecoverableCountAreIgnored) {
    const std::vector<Md5Digest> ids = {Id(1, 0), Id(2, 0), Id(3, 0), Id(4, 0), Id(5, 0)};
    MainPacket read;
    ASSERT_TRUE(ReadBack(MainBytes(1024, 2, ids), read));
    EXPECT_EQ(read.recoverableFileCount(), 2u);
    EXPECT_EQ(read.recoverableFileIds(), (std::vector<Md5Digest>{Id(1, 0), Id(2, 0)}));
    EXPECT_EQ(read.length(), 76u + 80u);
}

TEST_F(MainPacketTest, RejectsBadLengthsAndCounts) {
    MainPacket read;
    // More recoverable files than ids.
    EXPECT_FALSE(ReadBack(MainBytes(1024, 3, {Id(1, 0), Id(2, 0)}), read));
    EXPECT_TRUE(read.empty());
    // A length of 77: the reader's own rule, whatever the header check says.
    auto odd = MainBytes(1024, 0, {});
    odd.push_back(0);
    test::PutLe64(odd, 8, 77);
    test::FixPacketHash(odd);
    EXPECT_FALSE(ReadBack(odd, read));
    // 80 bytes: a multiple of 4 but (length + 4) is not a multiple of 16.
    auto padded = MainBytes(1024, 0, {});
    padded.resize(80, 0);
    test::PutLe64(padded, 8, 80);
    test::FixPacketHash(padded);
    EXPECT_FALSE(ReadBack(padded, read));
    // Shorter than the fixed fields.
    auto shortPacket = MainBytes(1024, 0, {});
    shortPacket.resize(64);
    test::PutLe64(shortPacket, 8, 64);
    test::FixPacketHash(shortPacket);
    EXPECT_FALSE(ReadBack(shortPacket, read));
    // No files at all is a valid packet (the set is then never complete).
    EXPECT_TRUE(ReadBack(MainBytes(1024, 0, {}), read));
}

TEST_F(MainPacketTest, HostileLengthIsRefusedWithoutAllocating) {
    auto packet = MainBytes(1024, 1, {Id(1, 0)});
    test::WritePackets(dir.File("m.par2"), {packet});
    auto file = test::OpenForReading(dir.File("m.par2"));
    MainPacket read;
    for (uint64_t length :
         {uint64_t{4092}, (uint64_t{1} << 32) - 4, uint64_t{1} << 32, (uint64_t{1} << 62) + 12}) {
        auto header = packet;
        test::PutLe64(header, 8, length);
        EXPECT_FALSE(read.Read(*file, 0, header.data())) << length;
    }
}

}  // namespace
}  // namespace vantrove
