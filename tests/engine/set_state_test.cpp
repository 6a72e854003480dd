// The saved state of a set: the base part with its SetFile, SourceFileEntry
// and block records written and read back, and the ways a state file is
// refused.

#include <gtest/gtest.h>

#include <algorithm>

#include <cstring>
#include <random>

#include "engine/recovery_set.h"
#include "engine/test_set.h"
#include "engine/verification_cache.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

using test::TempDir;
using test::TestSet;

constexpr uint64_t kBlock = 100;
const std::string kKey = "/sets/movie.vt6";

class SetStateTest : public ::testing::Test {
  protected:
    SetStateTest() : cache(dir.path() + "/Vantrove/") {}

    // A set with one of everything: a complete file, a misnamed one with its
    // copy elsewhere, a damaged one with blocks in two files and a place
    // without blocks, an empty file, a volume and a repaired target.
    void Fill(TestSet& set) {
        set.SetVerificationCache(&cache);
        auto& a = set.AddEntry("a.bin", 250);
        auto& b = set.AddEntry("b.bin", 100);
        auto& c = set.AddEntry("c.bin", 300);
        set.AddEntry("empty", 0);
        ASSERT_TRUE(set.Finish(folder, kBlock));

        a.targetFile->size = 250;
        a.targetFile->creationTime = 131000000000000001ULL;
        a.targetFile->lastWriteTime = 131000000000000002ULL;
        a.targetFile->flags.repaired = true;
        a.targetFile->flags.formatFlag = true;
        set.SetTargetResult(a, VerifyResult::IntactCopy);

        b.targetFile->result = VerifyResult::Missing;
        auto copy = set.AddOtherFile("b copy.bin", 100);
        copy->result = VerifyResult::IntactCopy;
        copy->flags.misnamed = true;
        copy->lastWriteTime = 99;
        b.completeCopy = copy;
        set.LocateAll(b, copy);
        set.UpdateEntryState(b);

        c.targetFile->result = VerifyResult::NotIntact;
        c.targetFile->flags.damaged = true;
        c.targetFile->size = 310;
        auto piece = set.AddOtherFile("piece", 4096);
        piece->flags.damaged = true;
        set.LocateBlock(c, 0, c.targetFile, 0);
        set.LocateBlock(c, 2, piece, 1234);
        c.AddToPlace(set.AddOtherFile("nothing here", 7), 0);
        set.UpdateEntryState(c);

        auto volume = std::make_shared<SetFile>(folder + "movie.sfv");
        volume->kind = FileKind::Volume;
        volume->result = VerifyResult::NotIntact;
        volume->blocksTaken = 4;
        volume->flags.unused = true;
        volume->flags.outOfVolumeList = true;
        volume->size = 1000;
        set.AddKnownFile(volume);
        set.FinishActivity();
    }

    static void ExpectSameFile(const SetFile& x, const SetFile& y) {
        EXPECT_EQ(x.path, y.path);
        EXPECT_EQ(x.size, y.size) << x.path;
        EXPECT_EQ(x.creationTime, y.creationTime) << x.path;
        EXPECT_EQ(x.lastWriteTime, y.lastWriteTime) << x.path;
        EXPECT_EQ(x.kind, y.kind) << x.path;
        EXPECT_EQ(x.result, y.result) << x.path;
        EXPECT_EQ(x.flags, y.flags) << x.path;
        EXPECT_EQ(x.blocksTaken, y.blocksTaken) << x.path;
        EXPECT_EQ(x.sourceBlockCount, y.sourceBlockCount) << x.path;
        EXPECT_EQ(x.sourceFile != nullptr, y.sourceFile != nullptr) << x.path;
        if (x.sourceFile && y.sourceFile) {
            EXPECT_EQ(x.sourceFile->name, y.sourceFile->name);
        }
    }

    std::string StatePath() { return cache.CacheFileFor(kKey, true); }

    TempDir dir;
    VerificationCache cache;
    std::string folder = "/sets/";
};

TEST_F(SetStateTest, BasePartRoundTripsFilesEntriesAndBlocks) {
    TestSet saved;
    Fill(saved);
    ASSERT_TRUE(saved.SaveAs(kKey));

    TestSet loaded;
    loaded.SetVerificationCache(&cache);
    loaded.secondValue = 0;
    ASSERT_TRUE(loaded.LoadFrom(kKey));

    EXPECT_EQ(loaded.folder(), "/sets/");
    EXPECT_EQ(loaded.baseName(), "set");
    EXPECT_EQ(loaded.secondValue, saved.secondValue);
    EXPECT_EQ(loaded.status().blockSize, kBlock);
    EXPECT_EQ(loaded.status().totalDataBlocks, saved.status().totalDataBlocks);

    // Files: the same set of paths with equal records.
    ASSERT_EQ(loaded.knownFiles().size(), saved.knownFiles().size());
    for (const auto& [path, file] : saved.knownFiles()) {
        SetFileRef other = loaded.FindKnownFile(path);
        ASSERT_TRUE(other) << path;
        ExpectSameFile(*file, *other);
    }

    // Entries in set order, pointing at the loaded set's own objects.
    ASSERT_EQ(loaded.entries().size(), saved.entries().size());
    for (size_t i = 0; i < saved.entries().size(); ++i) {
        const SourceFileEntry& x = *saved.entries()[i];
        const SourceFileEntry& y = *loaded.entries()[i];
        EXPECT_EQ(y.name, x.name);
        EXPECT_EQ(y.targetPath, x.targetPath);
        EXPECT_EQ(y.size, x.size);
        EXPECT_EQ(y.blockCount, x.blockCount);
        EXPECT_EQ(y.firstBlock, x.firstBlock);
        EXPECT_EQ(y.state, x.state) << x.name;
        EXPECT_EQ(y.targetFile, loaded.FindKnownFile(x.targetPath));
        EXPECT_EQ(y.targetFile->sourceFile, &y);
        EXPECT_EQ(loaded.FindExpected(x.targetPath), y.targetFile);
        EXPECT_EQ(y.completeCopy != nullptr, x.completeCopy != nullptr);
        if (y.completeCopy) {
            EXPECT_EQ(y.completeCopy, loaded.FindKnownFile(x.completeCopy->path));
        }
        ASSERT_EQ(y.foundIn.size(), x.foundIn.size());
        for (size_t p = 0; p < x.foundIn.size(); ++p) {
            EXPECT_EQ(y.foundIn[p].file, loaded.FindKnownFile(x.foundIn[p].file->path));
            EXPECT_EQ(y.foundIn[p].blocks, x.foundIn[p].blocks) << x.name;
        }
        auto dx = std::dynamic_pointer_cast<test::TestDescription>(
            x.Description(DescriptionSlot::SfvEntry));
        auto dy = std::dynamic_pointer_cast<test::TestDescription>(
            y.Description(DescriptionSlot::SfvEntry));
        ASSERT_TRUE(dy);
        EXPECT_EQ(dy->crc, dx->crc);
        EXPECT_EQ(dy->name, dx->name);
        for (int slot = 0; slot < kDescriptionSlotCount; ++slot) {
            if (slot != static_cast<int>(DescriptionSlot::SfvEntry)) {
                EXPECT_FALSE(y.descriptions[slot]);
            }
        }
    }

    // Block records: same places, resolving to the loaded files.
    ASSERT_EQ(loaded.foundBlocks().size(), saved.foundBlocks().size());
    for (size_t i = 0; i < saved.foundBlocks().size(); ++i) {
        const DataBlock& x = saved.foundBlocks()[i];
        const DataBlock& y = loaded.foundBlocks()[i];
        EXPECT_EQ(y.offset, x.offset) << i;
        EXPECT_EQ(y.length, x.length) << i;
        ASSERT_EQ(y.file != nullptr, x.file != nullptr) << i;
        if (y.file) {
            EXPECT_EQ(y.file, loaded.FindKnownFile(x.file->path)) << i;
        }
    }

    // The counters follow.
    loaded.FinishActivity();
    const RecoverySetStatus& s = saved.status();
    const RecoverySetStatus& t = loaded.status();
    EXPECT_EQ(t.dataBlocksAvailable, s.dataBlocksAvailable);
    EXPECT_EQ(t.completeFiles, s.completeFiles);
    EXPECT_EQ(t.misnamedFiles, s.misnamedFiles);
    EXPECT_EQ(t.damagedFiles, s.damagedFiles);
    EXPECT_EQ(t.missingFiles, s.missingFiles);
    EXPECT_EQ(t.unverifiedFiles, s.unverifiedFiles);
    EXPECT_EQ(t.joinableFiles, s.joinableFiles);
}

TEST_F(SetStateTest, FlagsWordKeepsEveryBitInItsPlace) {
    SetFile f;
    f.kind = FileKind::Volume;
    f.flags.misnamed = true;
    f.result = VerifyResult::Missing;
    f.flags.unused = true;
    EXPECT_EQ(PackDiskFileFlags(f), 3u | 1u << 3 | 1u << 6 | 1u << 10);
    SetFile g;
    UnpackDiskFileFlags(7u | 1u << 4 | 1u << 5 | 3u << 6 | 1u << 8 | 1u << 9, g);
    EXPECT_EQ(g.kind, FileKind::None);  // kind 7 is no kind
    EXPECT_TRUE(g.flags.damaged && g.flags.outOfVolumeList && g.flags.repaired &&
                g.flags.formatFlag);
    EXPECT_FALSE(g.flags.misnamed || g.flags.unused);
    EXPECT_EQ(g.result, VerifyResult::IntactCopy);
}

TEST_F(SetStateTest, StateWithAWrongDigestIsIgnored) {
    TestSet saved;
    Fill(saved);
    ASSERT_TRUE(saved.SaveAs(kKey));
    std::string path = StatePath();
    std::vector<uint8_t> bytes = test::ReadFile(path);
    bytes[bytes.size() - 3] ^= 0x10;
    test::WriteFile(path, bytes);
    TestSet loaded;
    loaded.SetVerificationCache(&cache);
    EXPECT_FALSE(loaded.LoadFrom(kKey));
}

TEST_F(SetStateTest, OtherMagicIsIgnored) {
    TestSet saved;
    Fill(saved);
    ASSERT_TRUE(saved.SaveAs(kKey));
    std::string path = StatePath();
    std::vector<uint8_t> bytes = test::ReadFile(path);
    EXPECT_EQ(std::memcmp(bytes.data(), "VT6\0\0\0\x0A\x04", 8), 0);
    bytes[2] = '2';  // a PAR2 state under this key
    Md5Digest d = Md5Of(bytes.data(), bytes.size() - 16);
    std::copy(d.bytes.begin(), d.bytes.end(), bytes.end() - 16);
    test::WriteFile(path, bytes);
    TestSet loaded;
    loaded.SetVerificationCache(&cache);
    EXPECT_FALSE(loaded.LoadFrom(kKey));
}

// A crafted state whose record points out of the set's folder (digest
// fixed) must be refused as a whole, never followed by a repair.
TEST_F(SetStateTest, ARecordThatLeavesTheFolderRefusesTheState) {
    TestSet saved;
    Fill(saved);
    ASSERT_TRUE(saved.SaveAs(kKey));
    std::string path = StatePath();
    const std::vector<uint8_t> bytes = test::ReadFile(path);
    for (const std::string& hostile : {std::string("../xx"), std::string("/e/xx"),
                                       std::string("a//xx"), std::string("./.xx")}) {
        std::vector<uint8_t> bad = bytes;
        const std::string stored = "a.bin";  // relative, as every path is kept
        auto at = std::search(bad.begin(), bad.end(), stored.begin(), stored.end());
        ASSERT_NE(at, bad.end());
        std::copy(hostile.begin(), hostile.end(), at);
        Md5Digest d = Md5Of(bad.data(), bad.size() - 16);
        std::copy(d.bytes.begin(), d.bytes.end(), bad.end() - 16);
        test::WriteFile(path, bad);
        TestSet loaded;
        loaded.SetVerificationCache(&cache);
        EXPECT_FALSE(loaded.LoadFrom(kKey)) << hostile;
    }
}

// A file the user added from another folder cannot be kept relative to the
// set's folder: nothing is saved rather than an absolute path.
TEST_F(SetStateTest, AFileOutsideTheFolderKeepsNoState) {
    TestSet saved;
    Fill(saved);
    auto outside = std::make_shared<SetFile>("/elsewhere/added.bin");
    outside->kind = FileKind::OtherData;
    saved.AddKnownFile(outside);
    EXPECT_FALSE(saved.SaveAs(kKey));
    TestSet loaded;
    loaded.SetVerificationCache(&cache);
    EXPECT_FALSE(loaded.LoadFrom(kKey));
}

TEST_F(SetStateTest, UnassignedReferenceIndexIsAFormatError) {
    TestSet saved;
    Fill(saved);
    ASSERT_TRUE(saved.SaveAs(kKey));
    std::string path = StatePath();
    std::vector<uint8_t> bytes = test::ReadFile(path);
    // The first reference of the known files follows magic, folder, name,
    // block total, block size, second value and the file count.
    size_t at = 8 + 4 + folder.size() + 4 + 3 + 4 + 8 + 8 + 4;
    ASSERT_EQ(bytes[at], 0xFF);
    for (uint8_t index : {1, 2, 99}) {
        std::vector<uint8_t> bad = bytes;
        bad[at] = index;
        bad[at + 1] = bad[at + 2] = bad[at + 3] = 0;
        Md5Digest d = Md5Of(bad.data(), bad.size() - 16);
        std::copy(d.bytes.begin(), d.bytes.end(), bad.end() - 16);
        test::WriteFile(path, bad);
        TestSet loaded;
        loaded.SetVerificationCache(&cache);
        EXPECT_FALSE(loaded.LoadFrom(kKey)) << int(index);
    }
}

TEST_F(SetStateTest, EntryMissingFromTheListIsRefused) {
    // Files name entries that the format part does not list: taking such a
    // state would leave files pointing at entries nobody owns.
    TestSet saved;
    Fill(saved);
    saved.listOnlyFirstEntry = true;
    ASSERT_TRUE(saved.SaveAs(kKey));
    TestSet loaded;
    loaded.SetVerificationCache(&cache);
    EXPECT_FALSE(loaded.LoadFrom(kKey));
}

TEST_F(SetStateTest, BlockCountsThatDisagreeWithTheBlockRecordsAreRefused) {
    // An entry claiming four billion blocks in a state with no block records
    // must be refused, not allocated.
    TestSet saved;
    saved.SetVerificationCache(&cache);
    auto& e = saved.AddEntry("empty", 0);
    ASSERT_TRUE(saved.Finish(folder, kBlock));
    e.targetFile->sourceBlockCount = 0xFFFFFFF0u;
    ASSERT_TRUE(saved.SaveAs(kKey));
    TestSet loaded;
    loaded.SetVerificationCache(&cache);
    EXPECT_FALSE(loaded.LoadFrom(kKey));

    e.targetFile->sourceBlockCount = 1;
    ASSERT_TRUE(saved.SaveAs(kKey));
    TestSet again;
    again.SetVerificationCache(&cache);
    EXPECT_FALSE(again.LoadFrom(kKey));
}

TEST_F(SetStateTest, DamagedContentWithARepairedDigestNeverCrashes) {
    TestSet saved;
    Fill(saved);
    ASSERT_TRUE(saved.SaveAs(kKey));
    std::string path = StatePath();
    const std::vector<uint8_t> good = test::ReadFile(path);
    std::mt19937_64 rng(test::TestSeed());
    int accepted = 0;
    for (int round = 0; round < 400; ++round) {
        std::vector<uint8_t> bad = good;
        int flips = 1 + static_cast<int>(rng() % 3);
        for (int k = 0; k < flips; ++k) {
            size_t at = 8 + rng() % (bad.size() - 16 - 8);
            bad[at] = static_cast<uint8_t>(rng() % 3 == 0 ? 0xFF : rng());
        }
        if (rng() % 4 == 0) bad.resize(16 + rng() % (bad.size() - 16));
        if (bad.size() >= 16) {
            Md5Digest d = Md5Of(bad.data(), bad.size() - 16);
            std::copy(d.bytes.begin(), d.bytes.end(), bad.end() - 16);
        }
        test::WriteFile(path, bad);
        TestSet loaded;
        loaded.SetVerificationCache(&cache);
        if (loaded.LoadFrom(kKey)) {
            ++accepted;
            // Whatever was taken is consistent enough to be worked with.
            loaded.FinishActivity();
            loaded.ReportAll();
            for (const auto& e : loaded.entries()) {
                EXPECT_EQ(e->foundBlocks.size(), e->blockCount);
                EXPECT_EQ(e->targetFile->sourceFile, e.get());
            }
        }
    }
    SUCCEED() << accepted << " damaged states were still well-formed";
}

TEST_F(SetStateTest, InterruptedSaveLeavesThePreviousStateReadable) {
    TestSet first;
    Fill(first);
    ASSERT_TRUE(first.SaveAs(kKey));

    class FailTmp : public FileFaultInjector {
      public:
        int BeforeWrite(const DiskFile& file, uint64_t, size_t) override {
            const std::string& p = file.path;
            bool isTmp = p.size() > 4 && p.compare(p.size() - 4, 4, ".tmp") == 0;
            bool isIndex = p.find("cache.vtc") != std::string::npos;
            return isTmp && !isIndex ? ENOSPC : 0;
        }
    } fail;
    TestSet second;
    Fill(second);
    second.secondValue = 5;
    SetFileFaultInjector(&fail);
    bool saved = second.SaveAs(kKey);
    SetFileFaultInjector(nullptr);
    EXPECT_FALSE(saved);

    TestSet loaded;
    loaded.SetVerificationCache(&cache);
    ASSERT_TRUE(loaded.LoadFrom(kKey));
    EXPECT_EQ(loaded.secondValue, first.secondValue);
}

TEST_F(SetStateTest, SaveIfLoadedWritesOnlyASetWithAName) {
    TestSet nothing;
    nothing.SetVerificationCache(&cache);
    EXPECT_FALSE(nothing.SaveIfLoaded());
    TestSet set;
    Fill(set);
    EXPECT_TRUE(set.SaveIfLoaded());  // key: folder + base name + ".vt6"
    TestSet loaded;
    loaded.SetVerificationCache(&cache);
    EXPECT_TRUE(loaded.LoadFrom("/sets/set.vt6"));
}

}  // namespace
}  // namespace vantrove
