#include "par2/file_description_packet.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "packet_test_support.h"
#include "par2/packet_header.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

class FileDescriptionTest : public ::testing::Test {
  protected:
    // Writes `content` as a source file and builds its packet.
    bool BuildFor(const std::vector<uint8_t>& content, const std::string& name, bool hashNow,
                  FileDescriptionPacket& packet, std::vector<uint64_t>* positions = nullptr) {
        test::WriteFile(dir.File("source"), content);
        source = test::OpenForReading(dir.File("source"));
        int error = -1;
        const bool ok = packet.Build(
            *source, name, content.size(), hashNow,
            [positions](uint64_t position) {
                if (positions) positions->push_back(position);
                return true;
            },
            error);
        EXPECT_EQ(error, ok ? 0 : error);
        return ok;
    }

    bool ReadBack(const std::vector<uint8_t>& packet, FileDescriptionPacket& out) {
        test::WritePackets(dir.File("v.par2"), {packet});
        auto file = test::OpenForReading(dir.File("v.par2"));
        return out.Read(*file, 0, packet.data());
    }

    test::TempDir dir;
    DiskFileRef source;
};

TEST_F(FileDescriptionTest, RoundTripOfASmallFile) {
    const std::string text = "Hello, packets!\n";
    const std::vector<uint8_t> content(text.begin(), text.end());
    FileDescriptionPacket built;
    ASSERT_TRUE(BuildFor(content, "hello.txt", true, built));
    const Md5Digest setId = Md5Of("set", 3);
    built.Seal(setId);

    EXPECT_EQ(built.length(), 120u + 12u);  // "hello.txt" is 9 bytes, padded to 12
    EXPECT_EQ(built.fileHash(), Md5Of(content.data(), content.size()));
    EXPECT_EQ(built.hash16k(), built.fileHash());
    EXPECT_EQ(built.fileLength(), content.size());
    EXPECT_EQ(built.name(), "hello.txt");
    EXPECT_EQ(built.bytes()[129], 0);  // padding
    EXPECT_TRUE(built.HasValidHash());
    EXPECT_EQ(built.setId(), setId);

    FileDescriptionPacket read;
    ASSERT_TRUE(ReadBack(built.bytes(), read));
    EXPECT_TRUE(read.SameAs(built));
    EXPECT_EQ(read.fileId(), built.fileId());
    EXPECT_EQ(read.name(), "hello.txt");
    EXPECT_EQ(read.ComputeFileId(), read.fileId());
}

TEST_F(FileDescriptionTest, FileIdCoversHeadHashLengthAndName) {
    const std::vector<uint8_t> content(100, 'x');
    FileDescriptionPacket packet;
    ASSERT_TRUE(BuildFor(content, "x.bin", true, packet));
    std::vector<uint8_t> idInput;
    test::AppendDigest(idInput, Md5Of(content.data(), content.size()));
    test::AppendLe64(idInput, 100);
    test::AppendBytes(idInput, "x.bin", 5);
    EXPECT_EQ(packet.fileId(), Md5Of(idInput.data(), idInput.size()));

    FileDescriptionPacket renamed;
    ASSERT_TRUE(BuildFor(content, "y.bin", true, renamed));
    EXPECT_FALSE(renamed.fileId() == packet.fileId());
}

TEST_F(FileDescriptionTest, NameOfLengthMultipleOfFourHasNoTerminator) {
    const std::vector<uint8_t> content(10, 1);
    FileDescriptionPacket built;
    ASSERT_TRUE(BuildFor(content, "abcdefgh", true, built));
    built.Seal(Md5Of("s", 1));
    EXPECT_EQ(built.length(), 128u);
    FileDescriptionPacket read;
    ASSERT_TRUE(ReadBack(built.bytes(), read));
    EXPECT_EQ(read.name(), "abcdefgh");
    // Followed in the file by more bytes, the name still ends at the packet.
    test::WritePackets(dir.File("v.par2"), {built.bytes(), std::vector<uint8_t>(8, 'Z')});
    auto file = test::OpenForReading(dir.File("v.par2"));
    ASSERT_TRUE(read.Read(*file, 0, built.bytes().data()));
    EXPECT_EQ(read.name(), "abcdefgh");
}

TEST_F(FileDescriptionTest, EmptyFile) {
    FileDescriptionPacket built;
    ASSERT_TRUE(BuildFor({}, "empty", true, built));
    const Md5Digest nothing = Md5Of(nullptr, 0);
    EXPECT_EQ(built.hash16k(), nothing);
    EXPECT_EQ(built.fileHash(), nothing);
    EXPECT_EQ(built.fileLength(), 0u);
}

TEST_F(FileDescriptionTest, FileOfExactly16KiBIsReadOnce) {
    std::mt19937_64 rng(test::TestSeed());
    const auto content = test::RandomBytes(rng, 16384);
    FileDescriptionPacket built;
    std::vector<uint64_t> positions;
    ASSERT_TRUE(BuildFor(content, "block", true, built, &positions));
    EXPECT_TRUE(positions.empty());  // no second pass over the file
    EXPECT_EQ(built.fileHash(), Md5Of(content.data(), content.size()));
    EXPECT_EQ(built.hash16k(), built.fileHash());
}

TEST_F(FileDescriptionTest, LongFileIsHashedInMebibyteChunks) {
    std::mt19937_64 rng(test::TestSeed());
    const auto content = test::RandomBytes(rng, 2 * 1048576 + 1000);
    FileDescriptionPacket built;
    std::vector<uint64_t> positions;
    ASSERT_TRUE(BuildFor(content, "big.bin", true, built, &positions));
    EXPECT_EQ(positions, (std::vector<uint64_t>{1048576, 2097152, 2098152}));
    EXPECT_EQ(built.fileHash(), Md5Of(content.data(), content.size()));
    EXPECT_EQ(built.hash16k(), Md5Of(content.data(), 16384));
    EXPECT_FALSE(built.wholeFileHashPending());
}

TEST_F(FileDescriptionTest, DeferredHashEqualsHashingAtOnce) {
    std::mt19937_64 rng(test::TestSeed());
    for (size_t size : {size_t{0}, size_t{5000}, size_t{16384}, size_t{70000}}) {
        const auto content = test::RandomBytes(rng, size);
        FileDescriptionPacket now, later;
        ASSERT_TRUE(BuildFor(content, "f", true, now));
        ASSERT_TRUE(BuildFor(content, "f", false, later));
        EXPECT_TRUE(later.wholeFileHashPending());
        later.FeedWholeFile(content.data(), content.size() / 2);
        later.FeedWholeFile(content.data() + content.size() / 2,
                            content.size() - content.size() / 2);
        later.FinishWholeFileHash();
        EXPECT_FALSE(later.wholeFileHashPending());
        EXPECT_TRUE(later.SameAs(now)) << size;
    }
}

TEST_F(FileDescriptionTest, BuildFailsWithTheReadErrorOrOnStop) {
    const std::vector<uint8_t> content(3000000, 7);
    test::WriteFile(dir.File("source"), content);
    auto file = test::OpenForReading(dir.File("source"));
    FileDescriptionPacket packet;
    int error = 0;
    // Claims more bytes than the file has: the read past its end fails.
    EXPECT_FALSE(packet.Build(*file, "s", content.size() + 10, true, {}, error));
    EXPECT_NE(error, 0);
    EXPECT_TRUE(packet.empty());
    // The progress callback stops the whole-file pass.
    EXPECT_FALSE(packet.Build(
        *file, "s", content.size(), true, [](uint64_t position) { return position < 2000000; },
        error));
    EXPECT_EQ(error, ECANCELED);
    // A name must have at least one byte and no zero byte.
    EXPECT_FALSE(packet.Build(*file, "", 100, true, {}, error));
    EXPECT_EQ(error, EINVAL);
    EXPECT_FALSE(packet.Build(*file, std::string("a\0b", 3), 100, true, {}, error));
    EXPECT_EQ(error, EINVAL);
}

// Corruptions change a field and repair the packet hash, so that the
// reader's own rules decide.
TEST_F(FileDescriptionTest, SmallFileWithDifferingHashesIsRejected) {
    const std::vector<uint8_t> content(16384, 9);
    FileDescriptionPacket built;
    ASSERT_TRUE(BuildFor(content, "same.bin", true, built));
    built.Seal(Md5Of("s", 1));
    auto bytes = built.bytes();
    bytes[80] ^= 1;  // whole-file hash
    test::FixPacketHash(bytes);
    FileDescriptionPacket read;
    EXPECT_FALSE(ReadBack(bytes, read));

    // One byte longer and the two hashes may differ.
    const std::vector<uint8_t> longer(16385, 9);
    ASSERT_TRUE(BuildFor(longer, "same.bin", true, built));
    built.Seal(Md5Of("s", 1));
    EXPECT_FALSE(built.hash16k() == built.fileHash());
    EXPECT_TRUE(ReadBack(built.bytes(), read));
}

TEST_F(FileDescriptionTest, PacketWithoutANameIsRejected) {
    FileDescriptionPacket built;
    ASSERT_TRUE(BuildFor({1, 2, 3}, "abcd", true, built));
    built.Seal(Md5Of("s", 1));
    auto bytes = built.bytes();
    bytes.resize(120);
    test::PutLe64(bytes, 8, 120);
    test::FixPacketHash(bytes);
    FileDescriptionPacket read;
    EXPECT_FALSE(ReadBack(bytes, read));
    // A name field of zero bytes is read as an empty name.
    bytes = built.bytes();
    std::fill(bytes.begin() + 120, bytes.end(), 0);
    test::FixPacketHash(bytes);
    ASSERT_TRUE(ReadBack(bytes, read));
    EXPECT_EQ(read.name(), "");
}

}  // namespace
}  // namespace vantrove
