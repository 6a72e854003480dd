// Loading PAR 2.0 sets: the volume suffix rule, the packet reader's
// resynchronisation and damage handling, the choice between packet groups,
// and hostile volumes.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <set>

#include "par2/packet_format.h"
#include "par2/packet_group.h"
#include "par2/volume_name.h"
#include "packet_test_support.h"
#include "par2_set_builder.h"
#include "par2_test_support.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

using test::Bytes;
using test::Par2SetBuilder;

TEST(Par2VolumeName, SuffixRule) {
    EXPECT_EQ(Par2VolumeSetName("name.par2"), "name");
    EXPECT_EQ(Par2VolumeSetName("name.vol000+01.par2"), "name");
    EXPECT_EQ(Par2VolumeSetName("name.vol7-15.PAR2"), "name");
    EXPECT_EQ(Par2VolumeSetName("name_vol0+1.par2"), "name");
    EXPECT_EQ(Par2VolumeSetName("name.VOL+.par2"), "name");
    EXPECT_EQ(Par2VolumeSetName("namevol0+1.par2"), "namevol0+1");
    EXPECT_EQ(Par2VolumeSetName("name.vox0+1.par2"), "name.vox0+1");
    EXPECT_EQ(Par2VolumeSetName("name.vol0x1.par2"), "name.vol0x1");
    EXPECT_EQ(Par2VolumeSetName("x2004.par2"), "x2004");
    EXPECT_EQ(Par2VolumeSetName("a+5.par2"), "a+5");
    EXPECT_EQ(Par2VolumeSetName(".par2"), "");
    EXPECT_EQ(Par2VolumeSetName("2004.par2"), "");
    EXPECT_EQ(Par2VolumeSetName("vol1+2.par2"), "");
    EXPECT_EQ(Par2VolumeSetName("+5.par2"), "");
    EXPECT_EQ(Par2VolumeSetName(".vol1+2.par2"), "");
    EXPECT_EQ(Par2VolumeSetName("name.par2.bak"), "");
    EXPECT_EQ(Par2VolumeSetName("name.par"), "");
}

class Par2Loading : public ::testing::Test {
  protected:
    Par2Loading() : folder_(dir_.path() + "/"), cache_(dir_.path() + "/cache/") {}

    // A set of two files (3 and 2 blocks of 1024 bytes) in the folder.
    Par2SetBuilder& TwoFileSet(const std::string& prefix = "") {
        builders_.push_back(std::make_unique<Par2SetBuilder>(folder_, 1024));
        Par2SetBuilder& b = *builders_.back();
        std::mt19937_64 rng(test::TestSeed() + builders_.size());
        b.AddFile(prefix + "one.bin", test::RandomBytes(rng, 3000));
        b.AddFile(prefix + "two.bin", test::RandomBytes(rng, 2048));
        b.Build();
        return b;
    }

    std::unique_ptr<RecoverySet> OpenOnly(const std::string& name) {
        auto set = NewPar2Set(nullptr, nullptr);
        set->SetVerificationCache(&cache_);
        EXPECT_EQ(set->Open(folder_ + name), nullptr);
        return set;
    }

    SetFile* Known(RecoverySet& set, const std::string& name) {
        SetFileRef file = set.FindKnownFile(folder_ + name);
        return file.get();
    }

    test::TempDir dir_;
    std::string folder_;
    VerificationCache cache_;
    std::vector<std::unique_ptr<Par2SetBuilder>> builders_;
};

TEST_F(Par2Loading, ChosenFileWithAllCriticalPacketsReadsNoOtherVolumeAtOpening) {
    Par2SetBuilder& b = TwoFileSet();
    test::WriteVolume(folder_ + "set.par2", b.Critical());
    test::WriteVolume(folder_ + "set.vol0+1.par2", {b.Slice(0)});
    test::WriteVolume(folder_ + "set.vol1+2.par2", {b.Slice(1), b.Slice(2)});

    test::AccessRecorder recorder;
    auto set = test::OpenAndScan(folder_ + "set.par2", cache_);
    std::vector<std::string> opened = recorder.opened();
    ASSERT_FALSE(opened.empty());
    EXPECT_EQ(opened[0], folder_ + "set.par2");
    // Before the first data file is verified, no other volume was read.
    auto firstData = std::find_if(opened.begin(), opened.end(), [](const std::string& p) {
        return p.find(".bin") != std::string::npos;
    });
    ASSERT_NE(firstData, opened.end());
    for (auto it = opened.begin() + 1; it != firstData; ++it) {
        EXPECT_EQ(it->find(".par2"), std::string::npos) << *it;
    }
    // The scan then loads the other volumes as the set's own.
    EXPECT_EQ(set->status().recoveryBlocksAvailable, 3);
    EXPECT_EQ(set->status().state, RecoveryState::AllVerified);
}

TEST_F(Par2Loading, ReadsOtherVolumesOnlyUntilTheSetIsComplete) {
    Par2SetBuilder& b = TwoFileSet();
    test::WriteVolume(folder_ + "set.vol0+1.par2", {b.Slice(0)});
    test::WriteVolume(folder_ + "set.vol1+1.par2", {test::Concat(b.Critical()), b.Slice(1)});
    test::WriteVolume(folder_ + "set.vol2+1.par2", {test::Concat(b.Critical()), b.Slice(2)});

    test::AccessRecorder recorder;
    auto set = OpenOnly("set.vol0+1.par2");
    std::vector<std::string> opened = recorder.opened();
    auto firstData = std::find_if(opened.begin(), opened.end(), [](const std::string& p) {
        return p.find(".bin") != std::string::npos;
    });
    ASSERT_NE(firstData, opened.end());
    const long volumes = std::count_if(opened.begin(), firstData, [](const std::string& p) {
        return p.find("set.vol1+1") != std::string::npos ||
               p.find("set.vol2+1") != std::string::npos;
    });
    EXPECT_EQ(volumes, 1) << "exactly one of the two complete volumes is read before the scan";
    EXPECT_EQ(set->status().recoveryBlocksAvailable, 3);
}

TEST_F(Par2Loading, VolumeConcatenatingTwoSetsKeepsOnlyTheChosenSetsSlices) {
    Par2SetBuilder& x = TwoFileSet("x");
    Par2SetBuilder& y = TwoFileSet("y");
    test::WriteVolume(folder_ + "both.par2",
                      {test::Concat(x.Critical()), x.Slice(0), x.Slice(1),
                       test::Concat(y.Critical()), y.Slice(0), y.Slice(1), y.Slice(2)});
    auto set = OpenOnly("both.par2");
    ASSERT_NE(test::Par2Of(*set).chosenGroup(), nullptr);
    ASSERT_EQ(test::Par2Of(*set).groups().size(), 2u);
    const PacketGroup* chosen = test::Par2Of(*set).chosenGroup();
    const bool isX = chosen->setId == x.setId();
    EXPECT_TRUE(isX || chosen->setId == y.setId());
    const uint32_t expected = isX ? 2 : 3;
    EXPECT_EQ(chosen->slices.size(), expected);
    EXPECT_EQ(set->status().recoveryBlocksAvailable, static_cast<int32_t>(expected));
    for (const auto& group : test::Par2Of(*set).groups()) {
        if (group.get() != chosen) {
            EXPECT_TRUE(group->slices.empty());
        }
    }
    const SetFile* volume = Known(*set, "both.par2");
    ASSERT_NE(volume, nullptr);
    EXPECT_FALSE(volume->flags.unused);
    EXPECT_EQ(volume->blocksTaken, expected);
    for (const SourceFileEntryRef& entry : set->entries()) {
        EXPECT_EQ(entry->name[0], isX ? 'x' : 'y') << entry->name;
    }
}

TEST_F(Par2Loading, VolumeOfAnotherSetGivesNothingToTheChosenSet) {
    Par2SetBuilder& x = TwoFileSet("x");
    Par2SetBuilder& y = TwoFileSet("y");
    test::WriteVolume(folder_ + "set.par2", x.Critical());
    test::WriteVolume(folder_ + "set.vol0+2.par2", {y.Slice(0), y.Slice(1)});
    auto set = test::OpenAndScan(folder_ + "set.par2", cache_);
    SetFileRef foreign = set->FindKnownFile(folder_ + "set.vol0+2.par2");
    ASSERT_NE(foreign, nullptr);
    EXPECT_TRUE(foreign->flags.unused);
    EXPECT_EQ(foreign->blocksTaken, 0u);
    EXPECT_EQ(set->status().recoveryBlocksAvailable, 0);
}

TEST_F(Par2Loading, ChangedByteInARecoverySliceSkipsOnlyThatPacket) {
    Par2SetBuilder& b = TwoFileSet();
    Bytes bad = b.Slice(0);
    bad[200] ^= 0x40;
    test::WriteVolume(folder_ + "set.par2",
                      {test::Concat(b.Critical()), bad, b.Slice(1), b.Slice(2)});
    auto set = OpenOnly("set.par2");
    const SetFile* volume = Known(*set, "set.par2");
    ASSERT_NE(volume, nullptr);
    EXPECT_TRUE(volume->flags.damaged);
    EXPECT_EQ(set->status().recoveryBlocksAvailable, 2);
    EXPECT_EQ(test::Par2Of(*set).chosenGroup()->slices.count(0), 0u);
    EXPECT_EQ(test::Par2Of(*set).chosenGroup()->slices.count(2), 1u);
}

// A packet whose header or hash is wrong costs that packet only, whatever
// its length claims: the reader looks for the next packet right after the
// bad one's start, never past the length it states.
TEST_F(Par2Loading, DamagedPacketCostsOnlyItself) {
    Par2SetBuilder& b = TwoFileSet();
    test::WriteVolume(folder_ + "set.par2", b.Critical());
    const Bytes critical = test::Concat(b.Critical());
    // A packet of the set, 100000 bytes long, of which 500 remain.
    Bytes cut = test::HandMadePacket(b.setId(), "PAR 2.0\0Unknown\0", Bytes(100000 - 64, 3));
    cut.resize(500);
    struct Case {
        const char* what;
        size_t byte;  // of slice 2; SIZE_MAX: the cut packet goes before it instead
        uint8_t flip;
        int expected;
    };
    const Case cases[] = {
        {"length bit that runs past the end", 8 + 5, 0x01, 7},
        {"length bit within the volume", 8 + 1, 0x08, 7},
        {"length bit that makes it shorter", 8 + 0, 0x40, 7},
        {"packet hash", 16 + 3, 0x20, 7},
        {"packet cut short and followed by others", SIZE_MAX, 0, 8},
    };
    uint32_t n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<Bytes> parts = {critical};
        for (uint32_t e = 0; e < 8; ++e) {
            Bytes slice = b.Slice(e);
            if (e == 2 && c.byte != SIZE_MAX) slice[c.byte] ^= c.flip;
            if (e == 2 && c.byte == SIZE_MAX) parts.push_back(cut);
            parts.push_back(slice);
        }
        const std::string name = "c" + std::to_string(n++) + ".par2";
        test::WriteVolume(folder_ + name, parts);
        auto set = OpenOnly(name);
        ASSERT_NE(test::Par2Of(*set).chosenGroup(), nullptr);
        EXPECT_TRUE(Known(*set, name)->flags.damaged);
        EXPECT_EQ(set->status().recoveryBlocksAvailable, c.expected);
        EXPECT_EQ(Known(*set, name)->blocksTaken, static_cast<uint32_t>(c.expected));
    }
}

// The search for the next packet after a damaged one reads the volume
// through a window: a long run of damaged packets is read about once, not
// once more for each of them.
TEST_F(Par2Loading, RunOfDamagedPacketsIsReadAboutOnce) {
    Par2SetBuilder& b = TwoFileSet();
    std::vector<Bytes> parts = {test::Concat(b.Critical())};
    for (int i = 0; i < 400; ++i) {
        Bytes bad = b.creator();
        bad[20] ^= 0x01;  // its packet hash
        parts.push_back(bad);
    }
    parts.push_back(b.Slice(0));
    test::WriteVolume(folder_ + "run.par2", parts);
    const uint64_t size = test::Concat(parts).size();
    test::AccessRecorder recorder;
    auto set = OpenOnly("run.par2");
    EXPECT_EQ(set->status().recoveryBlocksAvailable, 1);
    EXPECT_TRUE(Known(*set, "run.par2")->flags.damaged);
    EXPECT_LT(recorder.BytesRead("run.par2"), 4 * size);
}

// Copies of packets that every volume repeats are checked by their bytes:
// a copy that keeps the packet hash of a checked packet but differs from it
// in any byte is refused, wherever the byte lies, and the copy checked first
// stays the set's.
TEST_F(Par2Loading, RepeatedPacketChangedInOneByteIsRefused) {
    Par2SetBuilder& b = TwoFileSet();
    test::WriteVolume(folder_ + "set.par2", b.Critical());
    const Bytes& description = b.description(0);
    const Bytes& checksums = b.checksums(1);
    // The set id, the body's first byte, a byte of the name, the last byte.
    const size_t places[] = {32, 64, description.size() - 5, description.size() - 1};
    uint32_t exponent = 0;
    for (size_t place : places) {
        Bytes bad = description;
        bad[place] ^= 0x01;
        Bytes badChecksums = checksums;
        badChecksums[std::min(place, checksums.size() - 1)] ^= 0x80;
        const std::string name = "set.vol" + std::to_string(exponent) + "+1.par2";
        test::WriteVolume(folder_ + name, {bad, badChecksums, b.main(), b.Slice(exponent)});
        ++exponent;
    }
    // A volume whose repeated packets are all intact.
    test::WriteVolume(folder_ + "set.vol9+1.par2",
                      {test::Concat(b.Critical()), b.Slice(9)});

    auto set = test::OpenAndScan(folder_ + "set.par2", cache_);
    EXPECT_EQ(set->status().state, RecoveryState::AllVerified);
    EXPECT_EQ(set->status().recoveryBlocksAvailable, 5);
    for (uint32_t e = 0; e < exponent; ++e) {
        const SetFile* volume = Known(*set, "set.vol" + std::to_string(e) + "+1.par2");
        ASSERT_NE(volume, nullptr);
        EXPECT_TRUE(volume->flags.damaged) << e;
    }
    const SetFile* intact = Known(*set, "set.vol9+1.par2");
    ASSERT_NE(intact, nullptr);
    EXPECT_FALSE(intact->flags.damaged);
    const PacketGroup* group = test::Par2Of(*set).chosenGroup();
    ASSERT_NE(group, nullptr);
    auto record = group->files.find(b.fileId(0));
    ASSERT_NE(record, group->files.end());
    EXPECT_EQ(record->second.description->bytes(), description);
}

// The records of a group are found whatever order the lookups come in:
// the order of a first volume replayed, another order, repeats, unknown
// ids, records added between lookups.
TEST(Par2PacketGroup, FindFileAnswersAsTheMapDoes) {
    PacketGroup group(Md5Of("set", 3), 0);
    std::vector<Md5Digest> ids;
    for (int i = 0; i < 60; ++i) {
        ids.push_back(Md5Of(&i, sizeof i));
        if (i < 50) group.files[ids.back()].name = std::to_string(i);
    }
    std::mt19937_64 rng(test::TestSeed());
    std::vector<Md5Digest> first = ids;
    std::shuffle(first.begin(), first.end(), rng);
    auto check = [&](const Md5Digest& id) {
        auto it = group.files.find(id);
        Par2FileRecord* found = group.FindFile(id);
        ASSERT_EQ(found, it == group.files.end() ? nullptr : &it->second);
    };
    for (int round = 0; round < 6; ++round) {
        std::vector<Md5Digest> order = first;
        if (round == 3) std::shuffle(order.begin(), order.end(), rng);
        if (round == 4) std::reverse(order.begin(), order.end());
        for (const Md5Digest& id : order) {
            check(id);
            check(id);  // a description and its checksums
        }
        if (round == 2) group.files[ids[55]].name = "late";
        for (int k = 0; k < 20; ++k) check(ids[rng() % ids.size()]);
    }
}

// Runs of recovery slices are checked side by side: every good slice of a
// run longer than one batch is counted, a changed one (first, in the middle,
// at a batch's edge, last) loses only itself, and a slice cut short at the
// end of the volume is left out.
TEST_F(Par2Loading, LongRunsOfSlicesLoseOnlyTheirChangedSlices) {
    Par2SetBuilder& b = TwoFileSet();
    test::WriteVolume(folder_ + "set.par2", b.Critical());
    std::vector<Bytes> parts;
    std::set<uint32_t> bad = {0, 7, 15, 16, 33};
    for (uint32_t e = 0; e < 40; ++e) {
        Bytes slice = b.Slice(e);
        if (bad.count(e)) slice[slice.size() - 1 - e] ^= 0x10;
        parts.push_back(slice);
    }
    Bytes cut = b.Slice(40);
    cut.resize(cut.size() - 3);
    parts.push_back(cut);
    test::WriteVolume(folder_ + "set.vol0+41.par2", parts);

    auto set = test::OpenAndScan(folder_ + "set.par2", cache_);
    const SetFile* volume = Known(*set, "set.vol0+41.par2");
    ASSERT_NE(volume, nullptr);
    EXPECT_TRUE(volume->flags.damaged);
    EXPECT_EQ(set->status().recoveryBlocksAvailable, 40 - static_cast<int32_t>(bad.size()));
    const PacketGroup* group = test::Par2Of(*set).chosenGroup();
    ASSERT_NE(group, nullptr);
    for (uint32_t e = 0; e <= 40; ++e) {
        EXPECT_EQ(group->slices.count(e), e < 40 && !bad.count(e) ? 1u : 0u) << e;
    }
}

// Volumes put other packets between their recovery slices; the slices are
// still checked several at a time across them, and every packet is filed in
// its order: a changed slice loses only itself, a changed copy of another
// packet between them is stepped over, of two valid slices of one exponent
// the first is kept, and neither a long packet nor bytes that are no packet
// between two slices lose anything.
TEST_F(Par2Loading, SlicesBetweenOtherPacketsAreCheckedInTheirOrder) {
    Par2SetBuilder& b = TwoFileSet();
    test::WriteVolume(folder_ + "set.par2", b.Critical());
    const std::vector<Bytes> critical = b.Critical();
    const std::set<uint32_t> bad = {0, 7, 15, 16, 33, 39};
    std::vector<Bytes> parts;
    uint64_t at = 0;
    uint64_t firstOf20 = 0;
    auto add = [&](const Bytes& part) {
        parts.push_back(part);
        at += part.size();
    };
    for (uint32_t e = 0; e < 40; ++e) {
        Bytes between = critical[e % critical.size()];
        if (e == 9) between[between.size() - 1] ^= 0x01;  // a changed copy
        add(between);
        if (e == 12) add(test::HandMadePacket(b.setId(), "PAR 2.0\0Unknown\0", Bytes(1100000, 7)));
        if (e == 25) add(Bytes(100, 'x'));  // no packet at all
        if (e == 20) {
            // A valid slice of the same exponent with other data comes first.
            Bytes other = b.Slice(20);
            other[other.size() - 1] ^= 0x22;
            test::FixPacketHash(other);
            firstOf20 = at;
            add(other);
        }
        Bytes slice = b.Slice(e);
        if (bad.count(e)) slice[slice.size() - 1 - e] ^= 0x10;
        add(slice);
    }
    test::WriteVolume(folder_ + "set.vol0+40.par2", parts);

    auto set = test::OpenAndScan(folder_ + "set.par2", cache_);
    const SetFile* volume = Known(*set, "set.vol0+40.par2");
    ASSERT_NE(volume, nullptr);
    EXPECT_TRUE(volume->flags.damaged);
    EXPECT_EQ(set->status().recoveryBlocksAvailable, 40 - static_cast<int32_t>(bad.size()));
    const PacketGroup* group = test::Par2Of(*set).chosenGroup();
    ASSERT_NE(group, nullptr);
    for (uint32_t e = 0; e < 40; ++e) EXPECT_EQ(group->slices.count(e), bad.count(e) ? 0u : 1u) << e;
    ASSERT_EQ(group->slices.count(20), 1u);
    EXPECT_EQ(group->slices.at(20)->data().offset, firstOf20 + b.Slice(20).size() - b.sliceSize());
}

TEST_F(Par2Loading, GarbageBeforeThePacketsIsSkippedWhereverTheMagicFalls) {
    Par2SetBuilder& b = TwoFileSet();
    // Sizes put the first magic inside the first chunk, across the border
    // of the first two 256 KiB chunks, and right after it.
    for (size_t garbage : {size_t{1}, size_t{262144 - 64}, size_t{262144 - 63}, size_t{262144 - 4},
                           size_t{262144 + 5}}) {
        SCOPED_TRACE(garbage);
        Bytes junk(garbage);
        for (size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<uint8_t>(i * 13 + 1);
        // A false start: the magic followed by an impossible length.
        if (garbage > 100) std::memcpy(junk.data() + 10, kPacketMagic.data(), kPacketMagic.size());
        std::string name = std::to_string(garbage);
        name += ".par2";
        test::WriteVolume(folder_ + name, {junk, test::Concat(b.Critical()), b.Slice(0)});
        auto set = OpenOnly(name);
        ASSERT_NE(test::Par2Of(*set).chosenGroup(), nullptr);
        EXPECT_EQ(set->entries().size(), 2u);
        EXPECT_EQ(set->status().recoveryBlocksAvailable, 1);
        EXPECT_TRUE(Known(*set, name)->flags.damaged);
    }
}

TEST_F(Par2Loading, FileOf63BytesYieldsNoPacketAndNoError) {
    test::WriteFile(folder_ + "tiny.par2", Bytes(63, 'P'));
    auto set = OpenOnly("tiny.par2");
    EXPECT_EQ(set->status().state, RecoveryState::NeedMoreVolumes);
    const SetFile* volume = Known(*set, "tiny.par2");
    ASSERT_NE(volume, nullptr);
    EXPECT_EQ(volume->result, VerifyResult::NotIntact);
    EXPECT_FALSE(volume->flags.damaged);
    EXPECT_TRUE(test::Par2Of(*set).groups().empty());
}

TEST_F(Par2Loading, DuplicateExponentKeepsTheFirstSliceRead) {
    Par2SetBuilder& b = TwoFileSet();
    test::WriteVolume(folder_ + "set.par2", {test::Concat(b.Critical()), b.Slice(5)});
    test::WriteVolume(folder_ + "set.vol5+1.par2", {b.Slice(5)});
    auto set = test::OpenAndScan(folder_ + "set.par2", cache_);
    EXPECT_EQ(set->status().recoveryBlocksAvailable, 1);
    SetFileRef second = set->FindKnownFile(folder_ + "set.vol5+1.par2");
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->blocksTaken, 0u);
    SetFileRef first = set->FindKnownFile(folder_ + "set.par2");
    EXPECT_EQ(first->blocksTaken, 1u);
}

TEST_F(Par2Loading, MainPacketListingOneFileTwiceGivesTwoEntries) {
    Par2SetBuilder b(folder_, 1024);
    std::mt19937_64 rng(test::TestSeed());
    b.AddFile("only.bin", test::RandomBytes(rng, 1500));
    b.Build();  // the file id is known only after a build
    b.Build({b.fileId(0)});
    test::WriteVolume(folder_ + "dup.par2", b.Critical());
    auto set = OpenOnly("dup.par2");
    ASSERT_NE(test::Par2Of(*set).chosenGroup(), nullptr);
    ASSERT_EQ(set->entries().size(), 2u);
    EXPECT_EQ(set->entries()[0]->name, "only.bin");
    EXPECT_EQ(set->entries()[1]->name, "only.bin");
    EXPECT_NE(set->entries()[0]->targetPath, set->entries()[1]->targetPath);
    EXPECT_EQ(set->status().totalDataBlocks, 4u);
    EXPECT_EQ(test::Par2Of(*set).chosenGroup()->files.size(), 2u);
}

TEST_F(Par2Loading, NamesWithoutABaseNameAreNeverSearchedFor) {
    Par2SetBuilder& b = TwoFileSet();
    test::WriteVolume(folder_ + "2004.par2", b.Critical());
    test::WriteVolume(folder_ + "x2004.par2", {b.Slice(0)});
    // Opening x2004 finds no critical packets: 2004.par2 is not its volume.
    auto x = OpenOnly("x2004.par2");
    EXPECT_EQ(x->status().state, RecoveryState::NeedMoreVolumes);
    EXPECT_EQ(Known(*x, "2004.par2"), nullptr);
    // 2004.par2 itself loads, and searches nothing.
    test::AccessRecorder recorder;
    auto set = NewPar2Set(nullptr, nullptr);
    set->SetVerificationCache(&cache_);
    set->Open(folder_ + "2004.par2");
    EXPECT_NE(test::Par2Of(*set).chosenGroup(), nullptr);
    for (const std::string& path : recorder.opened()) {
        EXPECT_EQ(path.find("x2004"), std::string::npos);
    }
}

TEST_F(Par2Loading, TruncatedAndHostileVolumesGiveNoSet) {
    Par2SetBuilder& b = TwoFileSet();
    Bytes critical = test::Concat(b.Critical());

    // Truncated in the middle of the last packet.
    Bytes withoutCreator = test::Concat(
        {b.main(), b.description(0), b.description(1), b.checksums(0), b.checksums(1)});
    Bytes truncated(withoutCreator.begin(), withoutCreator.end() - 10);
    test::WriteFile(folder_ + "cut.par2", truncated);
    auto cut = OpenOnly("cut.par2");
    EXPECT_EQ(cut->status().state, RecoveryState::NeedMoreVolumes);
    EXPECT_TRUE(Known(*cut, "cut.par2")->flags.damaged);

    // A header that claims 2^62 bytes.
    Bytes huge = b.main();
    for (int i = 0; i < 8; ++i) huge[8 + i] = i == 7 ? 0x40 : 0;
    test::WriteVolume(folder_ + "huge.par2", {huge, critical});
    auto h = OpenOnly("huge.par2");
    EXPECT_TRUE(Known(*h, "huge.par2")->flags.damaged);

    // Random bytes only.
    std::mt19937_64 rng(test::TestSeed());
    test::WriteFile(folder_ + "noise.par2", test::RandomBytes(rng, 600000));
    auto noise = OpenOnly("noise.par2");
    EXPECT_EQ(noise->status().state, RecoveryState::NeedMoreVolumes);
}

TEST_F(Par2Loading, ChecksumPacketWhoseCountDoesNotFitTheLengthLeavesTheSetIncomplete) {
    Par2SetBuilder& b = TwoFileSet();
    std::vector<Bytes> critical = b.Critical();
    // The first file's description, claiming an enormous length.
    Bytes description = b.description(0);
    for (int i = 0; i < 8; ++i) description[112 + i] = 0xFF;
    description[112 + 7] = 0x7F;
    // Keep the packet valid: recompute its hash.
    Md5Digest hash = Md5Of(description.data() + 32, description.size() - 32);
    std::memcpy(description.data() + 16, hash.bytes.data(), 16);
    critical[1] = description;
    test::WriteVolume(folder_ + "lie.par2", critical);
    auto set = OpenOnly("lie.par2");
    EXPECT_EQ(test::Par2Of(*set).chosenGroup(), nullptr);
    EXPECT_EQ(set->status().state, RecoveryState::NeedMoreVolumes);
    EXPECT_EQ(set->status().totalDataBlocks, 0u);
}

TEST_F(Par2Loading, HugeSliceSizeCostsNoBlockSizedMemory) {
    // A set that states 128 MiB slices for two small files.
    Par2SetBuilder b(folder_, uint64_t{1} << 27);
    std::mt19937_64 rng(test::TestSeed());
    Bytes content = test::RandomBytes(rng, 5000);
    b.AddFile("a.bin", content);
    b.AddFile("b.bin", test::RandomBytes(rng, 100));
    b.Build();
    test::WriteVolume(folder_ + "big.par2", b.Critical());
    content[10] ^= 1;
    test::WriteFile(folder_ + "a.bin", content);

    struct rusage before {};
    getrusage(RUSAGE_SELF, &before);
    auto set = test::OpenAndScan(folder_ + "big.par2", cache_);
    struct rusage after {};
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024) << "KiB of peak memory grew";
    ASSERT_EQ(set->entries().size(), 2u);
    EXPECT_EQ(set->status().totalDataBlocks, 2u);
    EXPECT_EQ(set->status().damagedFiles, 1);
    EXPECT_EQ(set->status().completeFiles, 1);
}

TEST_F(Par2Loading, MissingVolumeIsMarkedAndLoadingGoesOn) {
    auto set = NewPar2Set(nullptr, nullptr);
    set->SetVerificationCache(&cache_);
    set->Open(folder_ + "absent.par2");
    SetFileRef file = set->FindKnownFile(folder_ + "absent.par2");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->result, VerifyResult::Missing);
    EXPECT_EQ(set->status().state, RecoveryState::NeedMoreVolumes);
}

}  // namespace
}  // namespace vantrove

namespace vantrove {
namespace {

// Mutated volumes: bit flips, overwritten length fields, cut and doubled
// ranges of a valid volume. Each must load or be refused without a crash or
// a sanitizer report, and a set that loads must be consistent.
TEST(Par2HostileVolumes, MutatedVolumesNeverCrash) {
    test::TempDir dir;
    const std::string folder = dir.path() + "/";
    VerificationCache cache(folder + "cache/");
    test::Par2SetBuilder b(folder, 512);
    std::mt19937_64 rng(test::TestSeed());
    b.AddFile("a.bin", test::RandomBytes(rng, 1500));
    b.AddFile("b.bin", test::RandomBytes(rng, 700));
    b.Build();
    const test::Bytes valid = test::Concat({test::Concat(b.Critical()), b.Slice(0), b.Slice(1)});

    for (int round = 0; round < 300; ++round) {
        test::Bytes bytes = valid;
        const int edits = 1 + static_cast<int>(rng() % 4);
        for (int e = 0; e < edits && !bytes.empty(); ++e) {
            const size_t at = rng() % bytes.size();
            switch (rng() % 4) {
                case 0:
                    bytes[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
                    break;
                case 1: {
                    // A packet length field (or any 8 bytes) set to something large.
                    const uint64_t value = rng() >> (rng() % 64);
                    for (int i = 0; i < 8 && at + i < bytes.size(); ++i) {
                        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
                    }
                    break;
                }
                case 2:
                    bytes.resize(at);
                    break;
                case 3: {
                    const size_t length = std::min<size_t>(rng() % 300, bytes.size() - at);
                    test::Bytes copy(bytes.begin() + at, bytes.begin() + at + length);
                    bytes.insert(bytes.begin() + rng() % bytes.size(), copy.begin(), copy.end());
                    break;
                }
            }
        }
        test::WriteFile(folder + "set.par2", bytes);
        auto set = test::OpenAndScan(folder + "set.par2", cache);
        const RecoverySetStatus& s = set->status();
        uint64_t blocks = 0;
        for (const SourceFileEntryRef& entry : set->entries()) blocks += entry->blockCount;
        ASSERT_EQ(blocks, s.totalDataBlocks) << "round " << round;
        ASSERT_LE(static_cast<uint32_t>(s.dataBlocksAvailable), s.totalDataBlocks);
        ASSERT_LE(s.recoveryBlocksAvailable, 2);
    }
}

}  // namespace
}  // namespace vantrove
