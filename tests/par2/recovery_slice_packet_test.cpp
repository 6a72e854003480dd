#include "par2/recovery_slice_packet.h"

#include <gtest/gtest.h>

#include "packet_test_support.h"
#include "par2/packet_header.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

class RecoverySliceTest : public ::testing::Test {
  protected:
    test::TempDir dir;
    const Md5Digest setId = Md5Of("set", 3);
};

TEST_F(RecoverySliceTest, BuiltHeadAndDataMakeAValidPacket) {
    std::mt19937_64 rng(test::TestSeed());
    const auto data = test::RandomBytes(rng, 1024);
    RecoverySlicePacket built;
    ASSERT_TRUE(built.BuildHead(setId, 7, data.size()));
    built.FeedData(data.data(), 100);
    built.FeedData(data.data() + 100, data.size() - 100);
    ASSERT_TRUE(built.Finish());

    std::vector<uint8_t> body;
    test::AppendLe32(body, 7);
    body.insert(body.end(), data.begin(), data.end());
    const auto expected = test::HandMadePacket(setId, "PAR 2.0\0RecvSlic", body);
    std::vector<uint8_t> written(built.head(), built.head() + 68);
    written.insert(written.end(), data.begin(), data.end());
    EXPECT_EQ(written, expected);
    EXPECT_EQ(built.length(), 1092u);
    EXPECT_EQ(built.packetHash(), Md5Of(expected.data() + 32, expected.size() - 32));
}

TEST_F(RecoverySliceTest, FinishRequiresExactlyTheSliceSize) {
    RecoverySlicePacket built;
    ASSERT_TRUE(built.BuildHead(setId, 0, 8));
    built.FeedData("1234567", 7);
    EXPECT_FALSE(built.Finish());
    built.FeedData("8", 1);
    EXPECT_TRUE(built.Finish());
    built.FeedData("9", 1);
    EXPECT_FALSE(built.Finish());
    EXPECT_FALSE(built.BuildHead(setId, 0, 0));
    EXPECT_FALSE(built.BuildHead(setId, 0, 6));
}

TEST_F(RecoverySliceTest, ReaderKeepsOnlyTheLocationOfTheData) {
    std::vector<uint8_t> body;
    test::AppendLe32(body, 65535);
    for (int i = 0; i < 40; ++i) body.push_back(static_cast<uint8_t>(i));
    const auto packet = test::HandMadePacket(setId, "PAR 2.0\0RecvSlic", body);
    const std::vector<uint8_t> garbage(12, 0xEE);
    test::WritePackets(dir.File("v.par2"), {garbage, packet});
    auto file = test::OpenForReading(dir.File("v.par2"));

    RecoverySlicePacket read;
    ASSERT_TRUE(read.Read(file, 12, packet.data()));
    EXPECT_EQ(read.exponent(), 65535u);
    EXPECT_EQ(read.length(), packet.size());
    EXPECT_EQ(read.setId(), setId);
    EXPECT_EQ(read.data().file, file);
    EXPECT_EQ(read.data().offset, 12u + 68u);
    EXPECT_EQ(read.data().length, 40u);
    uint8_t tail[8];
    ASSERT_TRUE(read.data().readPadded(36, tail, 8));
    EXPECT_EQ(std::vector<uint8_t>(tail, tail + 8),
              (std::vector<uint8_t>{36, 37, 38, 39, 0, 0, 0, 0}));
}

TEST_F(RecoverySliceTest, RejectsEmptyDataAndLengthsPastTheFile) {
    std::vector<uint8_t> body;
    test::AppendLe32(body, 1);
    const auto empty = test::HandMadePacket(setId, "PAR 2.0\0RecvSlic", body);
    test::WritePackets(dir.File("v.par2"), {empty});
    auto file = test::OpenForReading(dir.File("v.par2"));
    RecoverySlicePacket read;
    EXPECT_FALSE(read.Read(file, 0, empty.data()));  // length 68: no data

    auto longer = empty;
    test::PutLe64(longer, 8, 72);
    EXPECT_FALSE(read.Read(file, 0, longer.data()));  // runs past the end
    test::PutLe64(longer, 8, ~uint64_t{3});
    EXPECT_FALSE(read.Read(file, 0, longer.data()));
    EXPECT_FALSE(read.Read(nullptr, 0, longer.data()));
}

}  // namespace
}  // namespace vantrove
