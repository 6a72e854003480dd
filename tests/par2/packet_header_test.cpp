#include "par2/packet_header.h"

#include <gtest/gtest.h>

#include "packet_test_support.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

Md5Digest SomeSetId() {
    return Md5Of("set", 3);
}

std::vector<uint8_t> SamplePacket(size_t bodySize) {
    std::vector<uint8_t> body(bodySize);
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<uint8_t>(i * 7 + 3);
    return test::HandMadePacket(SomeSetId(), "PAR 2.0\0Unknown\0", body);
}

TEST(PacketHeader, ParsesItsFields) {
    const auto packet = SamplePacket(40);
    PacketHeader header;
    ASSERT_TRUE(ParsePacketHeader(packet.data(), header));
    EXPECT_EQ(header.length, 104u);
    EXPECT_EQ(header.setId, SomeSetId());
    EXPECT_EQ(header.packetHash, Md5Of(packet.data() + 32, packet.size() - 32));
    EXPECT_EQ(header.type(), PacketType::Other);

    uint8_t encoded[64];
    EncodePacketHeader(header, encoded);
    EXPECT_EQ(std::vector<uint8_t>(encoded, encoded + 64),
              std::vector<uint8_t>(packet.begin(), packet.begin() + 64));
}

TEST(PacketHeader, RejectsBadMagicShortAndUnalignedLengths) {
    auto packet = SamplePacket(40);
    PacketHeader header;
    auto bad = packet;
    bad[4] = 1;  // the zero byte of the magic
    EXPECT_FALSE(ParsePacketHeader(bad.data(), header));
    for (uint64_t length : {0u, 60u, 63u, 66u, 101u}) {
        bad = packet;
        test::PutLe64(bad, 8, length);
        EXPECT_FALSE(ParsePacketHeader(bad.data(), header)) << length;
    }
    bad = packet;
    test::PutLe64(bad, 8, 64);
    EXPECT_TRUE(ParsePacketHeader(bad.data(), header));
}

TEST(PacketHeader, KnowsTheFiveTypes) {
    for (PacketType type : {PacketType::Main, PacketType::FileDescription, PacketType::Ifsc,
                            PacketType::RecoverySlice, PacketType::Creator}) {
        EXPECT_EQ(PacketTypeOf(PacketTypeBytesOf(type)), type);
    }
    PacketTypeBytes almost = kMainPacketType;
    almost[15] = ' ';
    EXPECT_EQ(PacketTypeOf(almost), PacketType::Other);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(kFileDescriptionPacketType.data()), 16),
              std::string("PAR 2.0\0FileDesc", 16));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(kCreatorPacketType.data()), 16),
              std::string("PAR 2.0\0Creator\0", 16));
}

class PacketHashTest : public ::testing::Test {
  protected:
    test::TempDir dir;
};

TEST_F(PacketHashTest, AcceptsIntactPacketsInAnyChunking) {
    const auto first = SamplePacket(1000);
    const auto second = SamplePacket(12);
    test::WritePackets(dir.File("v.par2"), {first, second});
    auto file = test::OpenForReading(dir.File("v.par2"));
    for (size_t chunk : {0u, 1u, 7u, 64u, 936u, 5000u}) {
        std::vector<uint8_t> buffer(chunk);
        EXPECT_EQ(VerifyPacketHash(*file, 0, first.data(), buffer), PacketHashCheck::Valid);
        EXPECT_EQ(VerifyPacketHash(*file, first.size(), second.data(), buffer),
                  PacketHashCheck::Valid);
    }
}

TEST_F(PacketHashTest, DamagedByteRejectsOnlyThatPacket) {
    const auto first = SamplePacket(100);
    const auto second = SamplePacket(100);
    for (size_t damaged : {size_t{32}, size_t{50}, size_t{63}, size_t{64}, size_t{163}}) {
        auto broken = first;
        broken[damaged] ^= 0x20;
        test::WritePackets(dir.File("v.par2"), {broken, second});
        auto file = test::OpenForReading(dir.File("v.par2"));
        std::vector<uint8_t> buffer;
        const auto header = test::HeaderAt(*file, 0);
        EXPECT_EQ(VerifyPacketHash(*file, 0, header.data(), buffer), PacketHashCheck::Mismatch)
            << damaged;
        const auto next = test::HeaderAt(*file, first.size());
        EXPECT_EQ(VerifyPacketHash(*file, first.size(), next.data(), buffer),
                  PacketHashCheck::Valid);
    }
}

TEST_F(PacketHashTest, HostileLengthsAreRefusedBeforeReading) {
    auto packet = SamplePacket(100);
    test::WritePackets(dir.File("v.par2"), {packet});
    auto file = test::OpenForReading(dir.File("v.par2"));
    std::vector<uint8_t> buffer;
    for (uint64_t length : {uint64_t{168}, uint64_t{1} << 40, ~uint64_t{3}}) {
        auto header = packet;
        test::PutLe64(header, 8, length);
        EXPECT_EQ(VerifyPacketHash(*file, 0, header.data(), buffer), PacketHashCheck::PastEnd)
            << length;
    }
    EXPECT_EQ(VerifyPacketHash(*file, 8, packet.data(), buffer), PacketHashCheck::PastEnd);
    EXPECT_EQ(VerifyPacketHash(*file, 1000, packet.data(), buffer), PacketHashCheck::PastEnd);
    EXPECT_LE(buffer.size(), 262144u);
}

TEST_F(PacketHashTest, ProgressCanStopTheCheck) {
    const auto packet = SamplePacket(4000);
    test::WritePackets(dir.File("v.par2"), {packet});
    auto file = test::OpenForReading(dir.File("v.par2"));
    std::vector<uint8_t> buffer(1000);
    std::vector<uint64_t> positions;
    auto result = VerifyPacketHash(*file, 0, packet.data(), buffer, [&](uint64_t position) {
        positions.push_back(position);
        return positions.size() < 2;
    });
    EXPECT_EQ(result, PacketHashCheck::Cancelled);
    EXPECT_EQ(positions, (std::vector<uint64_t>{1064, 2064}));
}

TEST_F(PacketHashTest, ReadFailureIsReported) {
    const auto packet = SamplePacket(100);
    test::WritePackets(dir.File("v.par2"), {packet});
    DiskFile closed(dir.File("v.par2"));
    closed.size = packet.size();  // believed size, but never opened
    std::vector<uint8_t> buffer;
    EXPECT_EQ(VerifyPacketHash(closed, 0, packet.data(), buffer), PacketHashCheck::ReadError);
}

// The check of several packets side by side agrees with the check of one at
// a time, whatever their lengths: equal ones, around the 256 KiB pieces they
// are read in, shorter than one MD5 block, and changed ones among them.
TEST_F(PacketHashTest, SideBySideAgreesWithOneAtATime) {
    const std::vector<size_t> bodies = {262144 - 64, 262144 - 32, 262144 - 28, 262144, 600000,
                                        600000,      600000,      600000,      12,     40,
                                        524288 - 32, 262144 - 32, 600000,      8,      600000};
    std::vector<std::vector<uint8_t>> packets;
    for (size_t i = 0; i < bodies.size(); ++i) {
        packets.push_back(SamplePacket(bodies[i]));
        if (i % 4 == 1) packets.back()[packets.back().size() - 1 - i] ^= 0x04;
    }
    test::WritePackets(dir.File("v.par2"), packets);
    auto file = test::OpenForReading(dir.File("v.par2"));
    uint64_t offsets[kPacketsSideBySide], lengths[kPacketsSideBySide];
    Md5Digest hashes[kPacketsSideBySide];
    PacketHashCheck expected[kPacketsSideBySide];
    std::vector<uint8_t> buffer;
    uint64_t at = 0;
    for (size_t i = 0; i < packets.size(); ++i) {
        PacketHeader header;
        ASSERT_TRUE(ParsePacketHeader(packets[i].data(), header));
        offsets[i] = at;
        lengths[i] = header.length;
        hashes[i] = header.packetHash;
        expected[i] = VerifyPacketHash(*file, at, packets[i].data(), buffer);
        EXPECT_EQ(expected[i], i % 4 == 1 ? PacketHashCheck::Mismatch : PacketHashCheck::Valid);
        at += packets[i].size();
    }
    for (size_t count : {size_t{1}, size_t{2}, size_t{5}, packets.size()}) {
        PacketHashCheck results[kPacketsSideBySide];
        ASSERT_TRUE(VerifyPacketHashes(*file, offsets, lengths, hashes, count, results));
        for (size_t i = 0; i < count; ++i) EXPECT_EQ(results[i], expected[i]) << count << " " << i;
    }
}

}  // namespace
}  // namespace vantrove
