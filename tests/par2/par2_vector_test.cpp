// A small two-file set whose critical packets are laid out byte by byte here
// and compared with what the builders make, and (when the system has the
// `par2` command) exchanged with that program in both directions.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "core/crc32.h"
#include "core/md5.h"
#include "packet_test_support.h"
#include "par2/creator_packet.h"
#include "par2/file_description_packet.h"
#include "par2/ifsc_packet.h"
#include "par2/main_packet.h"
#include "par2/packet_header.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

constexpr uint64_t kSliceSize = 1024;

struct SourceFile {
    std::string name;
    std::vector<uint8_t> content;
};

std::vector<SourceFile> TwoFiles() {
    const std::string fox = "The quick brown fox jumps over the lazy dog.\n";
    std::vector<uint8_t> beta(20000);
    for (size_t i = 0; i < beta.size(); ++i)
        beta[i] = static_cast<uint8_t>((i * 31 + 7) ^ (i >> 8));
    return {{"alpha.txt", std::vector<uint8_t>(fox.begin(), fox.end())}, {"beta.bin", beta}};
}

// Everything expected of one file, computed from its bytes alone.
struct ExpectedFile {
    Md5Digest fileId;
    std::vector<uint8_t> descriptionBody;
    std::vector<uint8_t> ifscBody;
};

ExpectedFile Expect(const SourceFile& f) {
    ExpectedFile e;
    const size_t headLength = std::min<size_t>(f.content.size(), 16384);
    const Md5Digest head = Md5Of(f.content.data(), headLength);
    const Md5Digest whole = Md5Of(f.content.data(), f.content.size());
    std::vector<uint8_t> idInput;
    test::AppendDigest(idInput, head);
    test::AppendLe64(idInput, f.content.size());
    test::AppendBytes(idInput, f.name.data(), f.name.size());
    e.fileId = Md5Of(idInput.data(), idInput.size());

    test::AppendDigest(e.descriptionBody, e.fileId);
    test::AppendDigest(e.descriptionBody, whole);
    test::AppendDigest(e.descriptionBody, head);
    test::AppendLe64(e.descriptionBody, f.content.size());
    test::AppendBytes(e.descriptionBody, f.name.data(), f.name.size());
    while (e.descriptionBody.size() % 4 != 0) e.descriptionBody.push_back(0);

    test::AppendDigest(e.ifscBody, e.fileId);
    for (size_t start = 0; start < f.content.size(); start += kSliceSize) {
        std::vector<uint8_t> slice(kSliceSize, 0);
        const size_t n = std::min<size_t>(kSliceSize, f.content.size() - start);
        std::copy_n(f.content.begin() + start, n, slice.begin());
        test::AppendDigest(e.ifscBody, Md5Of(slice.data(), slice.size()));
        test::AppendLe32(e.ifscBody, static_cast<uint32_t>(crc32(0, slice.data(), kSliceSize)));
    }
    return e;
}

// Ids in ascending order as 128-bit little-endian numbers: compared as the
// reversed byte strings.
std::vector<Md5Digest> SortedById(std::vector<Md5Digest> ids) {
    auto key = [](const Md5Digest& d) { return std::string(d.bytes.rbegin(), d.bytes.rend()); };
    std::sort(ids.begin(), ids.end(), [&](const Md5Digest& a, const Md5Digest& b) {
        return std::lexicographical_compare(
            key(a).begin(), key(a).end(), key(b).begin(), key(b).end(),
            [](char x, char y) { return static_cast<uint8_t>(x) < static_cast<uint8_t>(y); });
    });
    return ids;
}

// The critical packets as the builders make them.
struct BuiltSet {
    std::vector<FileDescriptionPacket> descriptions;
    std::vector<IfscPacket> ifsc;
    MainPacket main;
    CreatorPacket creator;
};

BuiltSet BuildSet(const test::TempDir& dir, const std::vector<SourceFile>& files) {
    BuiltSet set;
    std::vector<Md5Digest> ids;
    for (const auto& f : files) {
        test::WriteFile(dir.File(f.name), f.content);
        DiskFile source(dir.File(f.name));
        EXPECT_TRUE(source.open());
        FileDescriptionPacket description;
        int error = 0;
        EXPECT_TRUE(description.Build(source, f.name, f.content.size(), true, {}, error));
        ids.push_back(description.fileId());
        set.descriptions.push_back(std::move(description));
    }
    EXPECT_TRUE(set.main.Build(kSliceSize, ids));
    const Md5Digest setId = set.main.setId();
    for (size_t i = 0; i < files.size(); ++i) {
        set.descriptions[i].Seal(setId);
        const auto& content = files[i].content;
        const uint64_t slices = (content.size() + kSliceSize - 1) / kSliceSize;
        IfscPacket ifsc;
        EXPECT_TRUE(ifsc.Build(slices, setId, set.descriptions[i].fileId()));
        for (uint32_t s = 0; s < slices; ++s) {
            const size_t start = s * kSliceSize;
            const size_t n = std::min<size_t>(kSliceSize, content.size() - start);
            Md5Context md5;
            md5.Update(content.data() + start, n);
            md5.UpdateZeros(kSliceSize - n);
            const uint32_t crc =
                Crc32UpdateZeros(Crc32Update(0, content.data() + start, n), kSliceSize - n);
            EXPECT_TRUE(ifsc.SetEntry(s, md5.Final(), crc));
        }
        ifsc.Finish();
        set.ifsc.push_back(std::move(ifsc));
    }
    EXPECT_TRUE(set.creator.Build(setId));
    return set;
}

TEST(Par2Vector, BuildersMatchHandLaidBytes) {
    test::TempDir dir;
    const auto files = TwoFiles();
    const BuiltSet built = BuildSet(dir, files);

    std::vector<ExpectedFile> expected;
    for (const auto& f : files) expected.push_back(Expect(f));

    std::vector<uint8_t> mainBody;
    test::AppendLe64(mainBody, kSliceSize);
    test::AppendLe32(mainBody, 2);
    for (const auto& id : SortedById({expected[0].fileId, expected[1].fileId})) {
        test::AppendDigest(mainBody, id);
    }
    const Md5Digest setId = Md5Of(mainBody.data(), mainBody.size());
    EXPECT_EQ(built.main.setId(), setId);
    EXPECT_EQ(built.main.bytes(), test::HandMadePacket(setId, "PAR 2.0\0Main\0\0\0\0", mainBody));

    for (size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(built.descriptions[i].fileId(), expected[i].fileId) << files[i].name;
        EXPECT_EQ(built.descriptions[i].bytes(),
                  test::HandMadePacket(setId, "PAR 2.0\0FileDesc", expected[i].descriptionBody))
            << files[i].name;
        EXPECT_EQ(built.ifsc[i].bytes(),
                  test::HandMadePacket(setId, "PAR 2.0\0IFSC\0\0\0\0", expected[i].ifscBody))
            << files[i].name;
    }
    const std::string creator = "Vantrove 0.9";
    std::vector<uint8_t> creatorBody(creator.begin(), creator.end());
    EXPECT_EQ(built.creator.bytes(),
              test::HandMadePacket(setId, "PAR 2.0\0Creator\0", creatorBody));
}

// The peer program, when installed, is used strictly as a black box.
bool HavePeer() {
    return std::system("command -v par2 > /dev/null 2>&1") == 0;
}

int RunIn(const std::string& dir, const std::string& command) {
    return std::system(("cd '" + dir + "' && " + command + " > /dev/null 2>&1").c_str());
}

TEST(Par2Vector, PeerCreatedSetHasTheSameCriticalPackets) {
    if (!HavePeer()) GTEST_SKIP() << "par2 is not installed";
    test::TempDir dir;
    const auto files = TwoFiles();
    const BuiltSet built = BuildSet(dir, files);
    ASSERT_EQ(RunIn(dir.path(), "par2 create -q -s1024 -c1 -n1 peer.par2 alpha.txt beta.bin"), 0);

    auto file = test::OpenForReading(dir.File("peer.par2"));
    std::vector<uint8_t> buffer;
    int mains = 0, descriptions = 0, ifscs = 0, creators = 0;
    for (uint64_t offset = 0; offset + 64 <= file->size;) {
        const auto header = test::HeaderAt(*file, offset);
        PacketHeader parsed;
        ASSERT_TRUE(ParsePacketHeader(header.data(), parsed)) << offset;
        ASSERT_EQ(VerifyPacketHash(*file, offset, header.data(), buffer), PacketHashCheck::Valid);
        EXPECT_EQ(parsed.setId, built.main.setId());
        switch (parsed.type()) {
            case PacketType::Main: {
                MainPacket main;
                ASSERT_TRUE(main.Read(*file, offset, header.data()));
                EXPECT_TRUE(main.SameAs(built.main));
                ++mains;
                break;
            }
            case PacketType::FileDescription: {
                FileDescriptionPacket description;
                ASSERT_TRUE(description.Read(*file, offset, header.data()));
                const bool known = std::any_of(
                    built.descriptions.begin(), built.descriptions.end(),
                    [&](const FileDescriptionPacket& p) { return p.SameAs(description); });
                EXPECT_TRUE(known) << description.name();
                ++descriptions;
                break;
            }
            case PacketType::Ifsc: {
                IfscPacket ifsc;
                ASSERT_TRUE(ifsc.Read(*file, offset, header.data()));
                const bool known = std::any_of(built.ifsc.begin(), built.ifsc.end(),
                                               [&](const IfscPacket& p) { return p.SameAs(ifsc); });
                EXPECT_TRUE(known);
                ++ifscs;
                break;
            }
            case PacketType::Creator: {
                CreatorPacket creator;
                ASSERT_TRUE(creator.Read(*file, offset, header.data()));
                const std::string shown = CreatorDisplayText(&creator);
                EXPECT_FALSE(shown.empty());
                EXPECT_NE(shown, creator.text());  // its "Created by " was dropped
                ++creators;
                break;
            }
            default:
                break;
        }
        offset += parsed.length;
    }
    EXPECT_EQ(mains, 1);
    EXPECT_EQ(descriptions, 2);
    EXPECT_EQ(ifscs, 2);
    EXPECT_EQ(creators, 1);
}

TEST(Par2Vector, PeerVerifiesOurCriticalPackets) {
    if (!HavePeer()) GTEST_SKIP() << "par2 is not installed";
    test::TempDir dir;
    const auto files = TwoFiles();
    const BuiltSet built = BuildSet(dir, files);
    std::vector<std::vector<uint8_t>> packets = {built.main.bytes()};
    for (size_t i = 0; i < files.size(); ++i) {
        packets.push_back(built.descriptions[i].bytes());
        packets.push_back(built.ifsc[i].bytes());
    }
    packets.push_back(built.creator.bytes());
    test::WritePackets(dir.File("ours.par2"), packets);
    EXPECT_EQ(RunIn(dir.path(), "par2 verify -q ours.par2"), 0);

    // A damaged data file is noticed through our hashes.
    auto damaged = files[1].content;
    damaged[5000] ^= 1;
    test::WriteFile(dir.File("beta.bin"), damaged);
    EXPECT_NE(RunIn(dir.path(), "par2 verify -q ours.par2"), 0);
}

}  // namespace
}  // namespace vantrove
