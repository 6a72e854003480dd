#include "app/extension_set.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <set>

#include "app/worker_test_support.h"
#include "par2/packet_format.h"
#include "par2/par2_recovery_set.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

namespace fs = std::filesystem;

uint64_t Le(const std::vector<uint8_t>& bytes, size_t at, size_t width) {
    uint64_t value = 0;
    for (size_t i = 0; i < width; ++i) value |= uint64_t{bytes[at + i]} << (8 * i);
    return value;
}

// Offset of the recovery slice packet of `exponent` in the volume at `path`
// (its packets read one after the other); npos when it holds none.
size_t SliceOffset(const std::vector<uint8_t>& bytes, uint32_t exponent) {
    size_t at = 0;
    while (at + kPacketHeaderSize <= bytes.size()) {
        const uint64_t length = Le(bytes, at + kPacketLengthOffset, 8);
        if (length < kPacketHeaderSize) break;
        if (std::memcmp(bytes.data() + at + kPacketTypeOffset, kRecoverySlicePacketType.data(),
                        16) == 0 &&
            Le(bytes, at + kRecoveryExponentOffset, 4) == exponent) {
            return at;
        }
        at += length;
    }
    return std::string::npos;
}

// The volume of the set in `folder` that holds the slice of `exponent`.
std::string VolumeWithSlice(const std::string& folder, uint32_t exponent) {
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string path = entry.path().string();
        if (SliceOffset(test::ReadFile(path), exponent) != std::string::npos) return path;
    }
    return {};
}

Md5Digest SetIdOf(const ExistingSetInfo& info) {
    return info.mainPacket ? info.mainPacket->ComputeSetId() : Md5Digest{};
}

// A PAR 2.0 set "set" of `count` files in a fresh folder: 1024-byte blocks,
// four recovery blocks (exponents 0 to 3).
struct SetFolder {
    test::TempDir dir;
    std::vector<std::string> files;
    SetFolder(int count, std::mt19937_64& rng) {
        files = test::WriteDataFiles(dir.path(), count, 5000, rng);
        EXPECT_TRUE(test::MakePar2Set(dir.path(), files));
    }
    std::string Path(const std::string& name) const { return dir.File(name); }
};

TEST(ExtensionSet, EveryVolumeIsReadAndTheNewBlocksStartPastTheLast) {
    std::mt19937_64 rng(test::TestSeed());
    SetFolder set(2, rng);
    for (const std::string& start : {set.Path("set.par2"), VolumeWithSlice(set.dir.path(), 0)}) {
        ExistingSetInfo info;
        std::string error;
        ASSERT_TRUE(ReadSetForExtension(start, info, error)) << start << ": " << error;
        EXPECT_EQ(info.baseName, "set");
        EXPECT_EQ(info.folder, ResolvedFolder(set.dir.path()));
        EXPECT_EQ(info.firstUnusedExponent, 4u) << start;
        EXPECT_EQ(info.mainPacket->sliceSize(), 1024u);
        ASSERT_EQ(info.fileDescriptions.size(), 2u);
        std::set<std::string> names;
        for (const auto& description : info.fileDescriptions) names.insert(description->name());
        EXPECT_EQ(names, (std::set<std::string>{"f0.bin", "f1.bin"}));
    }
}

TEST(ExtensionSet, ARelativePathGivesTheAbsoluteFolder) {
    std::mt19937_64 rng(test::TestSeed());
    SetFolder set(1, rng);
    const std::string previous = CurrentFolder();
    ASSERT_EQ(chdir(set.dir.path().c_str()), 0);
    ExistingSetInfo info;
    std::string error;
    const bool read = ReadSetForExtension("./set.par2", info, error);
    ASSERT_EQ(chdir(previous.c_str()), 0);
    ASSERT_TRUE(read) << error;
    EXPECT_EQ(info.folder, ResolvedFolder(set.dir.path()));
}

// A slice packet whose exponent was damaged fails its hash: it neither
// counts as a recovery block nor pushes the new volumes' first exponent out.
TEST(ExtensionSet, ADamagedSlicePacketIsNotTaken) {
    std::mt19937_64 rng(test::TestSeed());
    SetFolder set(2, rng);
    const std::string volume = VolumeWithSlice(set.dir.path(), 3);
    ASSERT_FALSE(volume.empty());
    std::vector<uint8_t> bytes = test::ReadFile(volume);
    const size_t at = SliceOffset(bytes, 3);
    bytes[at + kRecoveryExponentOffset] = 0x40;  // exponent 3 becomes 64, hash left as it was
    bytes[at + kRecoveryExponentOffset + 1] = 0x9c;
    test::WriteFile(volume, bytes);

    ExistingSetInfo info;
    std::string error;
    ASSERT_TRUE(ReadSetForExtension(set.Path("set.par2"), info, error)) << error;
    EXPECT_EQ(info.firstUnusedExponent, 3u);
}

TEST(ExtensionSet, WithoutACompleteSetNothingIsExtended) {
    std::mt19937_64 rng(test::TestSeed());
    test::TempDir dir;
    test::WriteFile(dir.File("junk.par2"), test::RandomBytes(rng, 5000));
    test::WriteFile(dir.File("notes.txt"), std::string("text"));
    ExistingSetInfo info;
    info.baseName = "kept";
    std::string error;
    EXPECT_FALSE(ReadSetForExtension(dir.File("junk.par2"), info, error));
    EXPECT_NE(error.find("no complete PAR2 set"), std::string::npos) << error;
    EXPECT_FALSE(ReadSetForExtension(dir.File("notes.txt"), info, error));
    EXPECT_NE(error.find("not a PAR2 file name"), std::string::npos) << error;
    EXPECT_FALSE(ReadSetForExtension(dir.File("missing.par2"), info, error));
    EXPECT_EQ(info.baseName, "kept");  // untouched on failure

    // An index whose main packet is damaged, with no volume beside it, is no
    // complete set.
    SetFolder set(1, rng);
    for (const auto& entry : fs::directory_iterator(set.dir.path())) {
        const std::string path = entry.path().string();
        if (path.find(".vol") != std::string::npos) fs::remove(path);
    }
    std::vector<uint8_t> index = test::ReadFile(set.Path("set.par2"));
    for (size_t at = 0; at + kPacketHeaderSize <= index.size();) {
        const uint64_t length = Le(index, at + kPacketLengthOffset, 8);
        if (std::memcmp(index.data() + at + kPacketTypeOffset, kMainPacketType.data(), 16) == 0)
            index[at + length - 1] ^= 0x01;
        at += length;
    }
    test::WriteFile(set.Path("set.par2"), index);
    EXPECT_FALSE(ReadSetForExtension(set.Path("set.par2"), info, error));
    EXPECT_NE(error.find("no complete PAR2 set"), std::string::npos) << error;
}

// Two sets of one base name in one folder: set A with its index and
// volumes, and a volume of set B (other files) named like one of A's. Each
// extension takes the set it was asked for, and the desktop's Extra takes
// the set the verification loaded, whichever volume its list names first.
TEST(ExtensionSet, TwoSetsOfOneBaseNameEachExtendTheirOwn) {
    std::mt19937_64 rng(test::TestSeed());
    SetFolder a(2, rng);
    SetFolder b(3, rng);
    const std::string bVolume = a.Path("set.vol0+01.par2");
    fs::copy_file(VolumeWithSlice(b.dir.path(), 3), bVolume);

    ExistingSetInfo fromA, fromB;
    std::string error;
    ASSERT_TRUE(ReadSetForExtension(a.Path("set.par2"), fromA, error)) << error;
    ASSERT_TRUE(ReadSetForExtension(bVolume, fromB, error)) << error;
    EXPECT_FALSE(SetIdOf(fromA) == SetIdOf(fromB));
    EXPECT_EQ(fromA.fileDescriptions.size(), 2u);
    EXPECT_EQ(fromB.fileDescriptions.size(), 3u);
    EXPECT_EQ(fromA.firstUnusedExponent, 4u);
    EXPECT_EQ(fromB.firstUnusedExponent, 4u);

    // Asked for A by its id, from B's volume.
    const Md5Digest idA = SetIdOf(fromA);
    ExistingSetInfo byId;
    ASSERT_TRUE(ReadSetForExtension(bVolume, byId, error, &idA)) << error;
    EXPECT_TRUE(SetIdOf(byId) == idA);
    EXPECT_EQ(byId.fileDescriptions.size(), 2u);

    // The verification opens A from one of its own volumes, without the
    // index; B's volume is among the files it has seen.
    fs::remove(a.Path("set.par2"));
    std::unique_ptr<RecoverySet> loaded = NewPar2Set(nullptr, nullptr);
    std::unique_ptr<RecoverySet> replacement = loaded->Open(VolumeWithSlice(a.dir.path(), 1));
    const RecoverySet& verified = replacement ? *replacement : *loaded;
    ASSERT_TRUE(verified.knownFiles().count(bVolume)) << "B's volume was not looked at";
    ExistingSetInfo extra;
    ASSERT_TRUE(ReadLoadedSetForExtension(verified, extra, error)) << error;
    EXPECT_TRUE(SetIdOf(extra) == idA);
    EXPECT_EQ(extra.fileDescriptions.size(), 2u);
    EXPECT_EQ(extra.firstUnusedExponent, 4u);
}

}  // namespace
}  // namespace vantrove
