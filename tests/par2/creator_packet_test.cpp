#include "par2/creator_packet.h"

#include <gtest/gtest.h>

#include "packet_test_support.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

class CreatorPacketTest : public ::testing::Test {
  protected:
    bool ReadBack(const std::vector<uint8_t>& packet, CreatorPacket& out) {
        test::WritePackets(dir.File("v.par2"), {packet});
        auto file = test::OpenForReading(dir.File("v.par2"));
        return out.Read(*file, 0, packet.data());
    }

    std::vector<uint8_t> CreatorBytes(const std::string& text) {
        std::vector<uint8_t> body((text.size() + 3) / 4 * 4, 0);
        std::copy(text.begin(), text.end(), body.begin());
        return test::HandMadePacket(Md5Of("s", 1), "PAR 2.0\0Creator\0", body);
    }

    test::TempDir dir;
};

TEST_F(CreatorPacketTest, BuildsTheProgramsOwnText) {
    CreatorPacket built;
    ASSERT_TRUE(built.Build(Md5Of("s", 1)));
    EXPECT_EQ(built.bytes(), CreatorBytes("Vantrove 0.9"));
    EXPECT_EQ(built.length(), 76u);
    CreatorPacket read;
    ASSERT_TRUE(ReadBack(built.bytes(), read));
    EXPECT_TRUE(read.SameAs(built));
    EXPECT_EQ(read.text(), "Vantrove 0.9");
}

TEST_F(CreatorPacketTest, ReaderAcceptsAnEmptyBodyAndUnpaddedText) {
    CreatorPacket read;
    ASSERT_TRUE(ReadBack(CreatorBytes(""), read));
    EXPECT_EQ(read.text(), "");
    ASSERT_TRUE(ReadBack(CreatorBytes("abcdefgh"), read));
    EXPECT_EQ(read.text(), "abcdefgh");
    ASSERT_TRUE(ReadBack(CreatorBytes("Some Tool 1.2"), read));
    EXPECT_EQ(read.text(), "Some Tool 1.2");
}

TEST_F(CreatorPacketTest, DisplayDropsCreatedByInAnyCase) {
    CreatorPacket read;
    ASSERT_TRUE(ReadBack(CreatorBytes("Created By Some Tool 1.2"), read));
    EXPECT_EQ(CreatorDisplayText(&read), "Some Tool 1.2");
    ASSERT_TRUE(ReadBack(CreatorBytes("created by x"), read));
    EXPECT_EQ(CreatorDisplayText(&read), "x");
    // Only the exact 11 characters, blank included, at the start.
    ASSERT_TRUE(ReadBack(CreatorBytes("Created Byx"), read));
    EXPECT_EQ(CreatorDisplayText(&read), "Created Byx");
    ASSERT_TRUE(ReadBack(CreatorBytes("Tool created by me"), read));
    EXPECT_EQ(CreatorDisplayText(&read), "Tool created by me");
    ASSERT_TRUE(ReadBack(CreatorBytes("CREATED BY "), read));
    EXPECT_EQ(CreatorDisplayText(&read), "");
}

TEST_F(CreatorPacketTest, NoCreatorPacketDisplaysUnknown) {
    EXPECT_EQ(CreatorDisplayText(nullptr), "sconosciuto");
    CreatorPacket none;
    EXPECT_EQ(CreatorDisplayText(&none), "sconosciuto");
}

}  // namespace
}  // namespace vantrove
