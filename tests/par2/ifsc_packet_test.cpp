#include "par2/ifsc_packet.h"

#include <gtest/gtest.h>

#include "core/crc32.h"
#include "packet_test_support.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

class IfscPacketTest : public ::testing::Test {
  protected:
    bool ReadBack(const std::vector<uint8_t>& packet, IfscPacket& out) {
        test::WritePackets(dir.File("v.par2"), {packet});
        auto file = test::OpenForReading(dir.File("v.par2"));
        return out.Read(*file, 0, packet.data());
    }

    test::TempDir dir;
    const Md5Digest setId = Md5Of("set", 3);
    const Md5Digest fileId = Md5Of("file", 4);
};

TEST_F(IfscPacketTest, EntriesFilledOneByOneRoundTrip) {
    IfscPacket built;
    ASSERT_TRUE(built.Build(3, setId, fileId));
    EXPECT_EQ(built.length(), 80u + 60u);
    std::vector<uint8_t> body;
    test::AppendDigest(body, fileId);
    for (uint32_t i = 0; i < 3; ++i) {
        const uint8_t slice[4] = {static_cast<uint8_t>(i), 1, 2, 3};
        const Md5Digest md5 = Md5Of(slice, 4);
        const uint32_t crc = Crc32Update(0, slice, 4);
        ASSERT_TRUE(built.SetEntry(i, md5, crc));
        test::AppendDigest(body, md5);
        test::AppendLe32(body, crc);
    }
    EXPECT_FALSE(built.SetEntry(3, Md5Digest{}, 0));
    built.Finish();
    EXPECT_EQ(built.bytes(), test::HandMadePacket(setId, "PAR 2.0\0IFSC\0\0\0\0", body));

    IfscPacket read;
    ASSERT_TRUE(ReadBack(built.bytes(), read));
    EXPECT_TRUE(read.SameAs(built));
    EXPECT_EQ(read.fileId(), fileId);
    ASSERT_EQ(read.sliceCount(), 3u);
    EXPECT_EQ(read.entry(2).md5, Md5Of("\x02\x01\x02\x03", 4));
    EXPECT_EQ(read.entry(2).crc32, Crc32Update(0, "\x02\x01\x02\x03", 4));
}

TEST_F(IfscPacketTest, EmptyFileHasNoEntries) {
    IfscPacket built;
    ASSERT_TRUE(built.Build(0, setId, fileId));
    built.Finish();
    EXPECT_EQ(built.length(), 80u);
    EXPECT_TRUE(built.HasValidHash());
    IfscPacket read;
    ASSERT_TRUE(ReadBack(built.bytes(), read));
    EXPECT_EQ(read.sliceCount(), 0u);
}

TEST_F(IfscPacketTest, TooManySlicesCannotBeDescribed) {
    IfscPacket built;
    EXPECT_FALSE(built.Build(uint64_t{1} << 32, setId, fileId));
    EXPECT_FALSE(built.Build(uint64_t{1} << 40, setId, fileId));
    EXPECT_TRUE(built.empty());
}

TEST_F(IfscPacketTest, RejectsLengthsThatAreNotWholeEntries) {
    IfscPacket built;
    ASSERT_TRUE(built.Build(2, setId, fileId));
    built.Finish();
    IfscPacket read;
    for (size_t length : {64u, 76u, 84u, 116u}) {
        auto bytes = built.bytes();
        bytes.resize(length);
        test::PutLe64(bytes, 8, length);
        test::FixPacketHash(bytes);
        EXPECT_FALSE(ReadBack(bytes, read)) << length;
    }
    auto one = built.bytes();
    one.resize(100);
    test::PutLe64(one, 8, 100);
    test::FixPacketHash(one);
    ASSERT_TRUE(ReadBack(one, read));
    EXPECT_EQ(read.sliceCount(), 1u);
}

}  // namespace
}  // namespace vantrove
