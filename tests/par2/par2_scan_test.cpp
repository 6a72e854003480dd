// The folder scan of a PAR 2.0 set: intact, damaged, shifted, misnamed and
// partial files, the block matching rules, the copy-name rules, and the
// files a scan must leave alone.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <set>

#include "par2_set_builder.h"
#include "par2_test_support.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

using test::Bytes;
using test::Par2SetBuilder;

constexpr uint64_t kSlice = 1024;

class Par2Scan : public ::testing::Test {
  protected:
    Par2Scan()
        : folder_(dir_.path() + "/"),
          cache_(dir_.path() + "/cache/"),
          rng_(test::TestSeed()),
          builder_(folder_, kSlice) {}

    // Files "one.bin" (10 blocks) and "two.bin" (2.5 blocks), then the index
    // volume with `slices` recovery slices.
    void MakeSet(uint32_t slices = 0) {
        one_ = test::RandomBytes(rng_, 10 * kSlice);
        two_ = test::RandomBytes(rng_, 2 * kSlice + 512);
        builder_.AddFile("one.bin", one_);
        builder_.AddFile("two.bin", two_);
        builder_.Build();
        std::vector<Bytes> parts = builder_.Critical();
        for (uint32_t e = 0; e < slices; ++e) parts.push_back(builder_.Slice(e));
        test::WriteVolume(folder_ + "set.par2", parts);
    }

    std::unique_ptr<RecoverySet> Scan() { return test::OpenAndScan(folder_ + "set.par2", cache_); }

    static SourceFileEntry& Entry(RecoverySet& set, const std::string& name) {
        for (const SourceFileEntryRef& e : set.entries()) {
            if (e->name == name) return *e;
        }
        ADD_FAILURE() << "no entry " << name;
        return *set.entries()[0];
    }

    // Where block `i` of `entry` was found: file name and offset.
    std::pair<std::string, uint64_t> Where(SourceFileEntry& entry, uint32_t i) {
        const DataBlock& block = entry.foundBlocks[i];
        if (!block.file) return {"", 0};
        return {block.file->path.substr(folder_.size()), block.offset};
    }

    test::TempDir dir_;
    std::string folder_;
    VerificationCache cache_;
    std::mt19937_64 rng_;
    Par2SetBuilder builder_;
    Bytes one_, two_;
};

TEST_F(Par2Scan, IntactFilesAreFoundInOnePass) {
    MakeSet();
    test::AccessRecorder recorder;
    auto set = Scan();
    EXPECT_EQ(set->status().state, RecoveryState::AllVerified);
    EXPECT_EQ(set->status().dataBlocksAvailable, 13);
    SourceFileEntry& one = Entry(*set, "one.bin");
    EXPECT_EQ(one.state, FileState::Complete);
    for (uint32_t i = 0; i < 10; ++i) {
        EXPECT_EQ(Where(one, i), std::make_pair(std::string("one.bin"), i * kSlice));
    }
    EXPECT_EQ(recorder.BytesRead("/one.bin"), one_.size());
    EXPECT_EQ(recorder.BytesRead("/two.bin"), two_.size());
}

TEST_F(Par2Scan, CorruptedByteInBlockFiveOfTen) {
    MakeSet(1);
    Bytes damaged = one_;
    damaged[4 * kSlice + 100] ^= 0x01;
    test::WriteFile(folder_ + "one.bin", damaged);
    auto set = Scan();
    SourceFileEntry& one = Entry(*set, "one.bin");
    EXPECT_EQ(one.state, FileState::Damaged);
    for (uint32_t i = 0; i < 10; ++i) {
        if (i == 4) {
            EXPECT_EQ(Where(one, i).first, "");
        } else {
            EXPECT_EQ(Where(one, i), std::make_pair(std::string("one.bin"), i * kSlice));
        }
    }
    EXPECT_EQ(set->status().dataBlocksAvailable, 12);
    EXPECT_EQ(set->status().state, RecoveryState::RepairPossible);
    EXPECT_EQ(set->status().subState, SubState::NeedRecoveryBlocks);
}

TEST_F(Par2Scan, InsertedBytesShiftTheBlocksThatFollow) {
    MakeSet();
    Bytes shifted = one_;
    Bytes extra = test::RandomBytes(rng_, 100);
    shifted.insert(shifted.begin() + 2 * kSlice, extra.begin(), extra.end());
    test::WriteFile(folder_ + "one.bin", shifted);
    auto set = Scan();
    SourceFileEntry& one = Entry(*set, "one.bin");
    EXPECT_EQ(one.state, FileState::Damaged);
    EXPECT_EQ(Where(one, 0), std::make_pair(std::string("one.bin"), uint64_t{0}));
    EXPECT_EQ(Where(one, 1), std::make_pair(std::string("one.bin"), kSlice));
    for (uint32_t i = 2; i < 10; ++i) {
        EXPECT_EQ(Where(one, i), std::make_pair(std::string("one.bin"), i * kSlice + 100));
    }
    // Every block is there: the file can be joined without recovery data.
    EXPECT_EQ(set->status().state, RecoveryState::RepairPossible);
    EXPECT_EQ(set->status().subState, SubState::CanJoin);
}

TEST_F(Par2Scan, CopyUnderAnotherNameIsFoundByTheWholeFileCheck) {
    MakeSet();
    ASSERT_EQ(rename((folder_ + "two.bin").c_str(), (folder_ + "renamed.dat").c_str()), 0);
    auto set = Scan();
    SourceFileEntry& two = Entry(*set, "two.bin");
    EXPECT_EQ(two.state, FileState::Misnamed);
    ASSERT_NE(two.completeCopy, nullptr);
    EXPECT_EQ(two.completeCopy->path, folder_ + "renamed.dat");
    EXPECT_EQ(set->status().state, RecoveryState::RepairPossible);
    EXPECT_EQ(set->status().subState, SubState::RenameOnly);
}

TEST_F(Par2Scan, CopySuffixNameIsScannedAsACandidate) {
    MakeSet();
    ASSERT_EQ(rename((folder_ + "one.bin").c_str(), (folder_ + "one.bin.1").c_str()), 0);
    // Damage it, so that only the block scan of a candidate can find it.
    Bytes damaged = one_;
    damaged[0] ^= 0xFF;
    test::WriteFile(folder_ + "one.bin.1", damaged);
    auto set = Scan();
    SourceFileEntry& one = Entry(*set, "one.bin");
    EXPECT_EQ(one.state, FileState::Missing);
    EXPECT_EQ(Where(one, 1), std::make_pair(std::string("one.bin.1"), kSlice));
    EXPECT_EQ(set->status().dataBlocksAvailable, 12);
}

TEST_F(Par2Scan, IdenticalSourceFilesGetBlocksFromTheirExpectedCopy) {
    Bytes same = test::RandomBytes(rng_, 3 * kSlice);
    builder_.AddFile("a.bin", same);
    builder_.AddFile("b.bin", same);
    builder_.Build();
    test::WriteVolume(folder_ + "set.par2", builder_.Critical());
    ASSERT_EQ(rename((folder_ + "b.bin").c_str(), (folder_ + "b.bin.1").c_str()), 0);
    auto set = Scan();
    SourceFileEntry& a = Entry(*set, "a.bin");
    SourceFileEntry& b = Entry(*set, "b.bin");
    EXPECT_EQ(a.state, FileState::Complete);
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(Where(a, i).first, "a.bin");
        EXPECT_EQ(Where(b, i).first, "b.bin.1");
    }
    EXPECT_EQ(b.state, FileState::Misnamed);
}

TEST_F(Par2Scan, ShortLastBlockFoundThroughTheHintWhenDataFollows) {
    MakeSet();
    Bytes longer = two_;
    Bytes tail = test::RandomBytes(rng_, 3000);
    longer.insert(longer.end(), tail.begin(), tail.end());
    test::WriteFile(folder_ + "two.bin", longer);
    auto set = Scan();
    SourceFileEntry& two = Entry(*set, "two.bin");
    EXPECT_EQ(two.state, FileState::Damaged);
    EXPECT_EQ(Where(two, 2), std::make_pair(std::string("two.bin"), 2 * kSlice));
    EXPECT_EQ(two.MissingBlockCount(), 0u);
}

TEST_F(Par2Scan, ShortLastBlockFoundInAZeroPaddedWindowAtTheEnd) {
    MakeSet();
    // two.bin is gone; a candidate holds junk, then only its last 512 bytes.
    ASSERT_EQ(unlink((folder_ + "two.bin").c_str()), 0);
    Bytes piece = test::RandomBytes(rng_, 700);
    piece.insert(piece.end(), two_.end() - 512, two_.end());
    test::WriteFile(folder_ + "two.bin.2", piece);
    auto set = Scan();
    SourceFileEntry& two = Entry(*set, "two.bin");
    EXPECT_EQ(two.state, FileState::Missing);
    EXPECT_EQ(Where(two, 2), std::make_pair(std::string("two.bin.2"), uint64_t{700}));
    EXPECT_EQ(Where(two, 0).first, "");
}

TEST_F(Par2Scan, FilesShorterThanABlockAreSearchedWithoutABlockSizedWindow) {
    MakeSet();
    ASSERT_EQ(unlink((folder_ + "two.bin").c_str()), 0);
    // 300 bytes of junk, then the 512-byte last block: 812 bytes in all.
    Bytes piece = test::RandomBytes(rng_, 300);
    piece.insert(piece.end(), two_.end() - 512, two_.end());
    test::WriteFile(folder_ + "two.bin.3", piece);
    // Only the last block itself.
    test::WriteFile(folder_ + "two.bin.4", Bytes(two_.end() - 512, two_.end()));
    // Not a block: the last block with one byte more at its end.
    Bytes longer(two_.end() - 512, two_.end());
    longer.push_back(0);
    test::WriteFile(folder_ + "two.bin.5", longer);
    auto set = Scan();
    SourceFileEntry& two = Entry(*set, "two.bin");
    EXPECT_EQ(Where(two, 2), std::make_pair(std::string("two.bin.3"), uint64_t{300}));
    // The block was located already when the later copies were searched.
    SetFileRef exact = set->FindKnownFile(folder_ + "two.bin.4");
    ASSERT_NE(exact, nullptr);
    EXPECT_EQ(exact->blocksTaken, 0u);
    EXPECT_EQ(set->FindKnownFile(folder_ + "two.bin.5")->blocksTaken, 0u);
}

// Many files shorter than a block, each of its own length: every length is
// a place where a short block may end a file, yet each file is read in whole
// buffers, and a copy larger than the read buffer still yields its block.
TEST_F(Par2Scan, ManyShortFilesOfDistinctLengthsAreReadInWholeBuffers) {
    constexpr uint64_t kLargeSlice = 1536 * 1024;
    Par2SetBuilder builder(folder_, kLargeSlice);
    std::vector<Bytes> files;
    for (int i = 0; i < 40; ++i) {
        files.push_back(test::RandomBytes(rng_, 1000 + 997 * i));
        builder.AddFile("f" + std::to_string(i) + ".bin", files.back());
    }
    // One file longer than the read buffer but shorter than a block.
    Bytes large = test::RandomBytes(rng_, 1200 * 1024);
    builder.AddFile("large.bin", large);
    builder.Build();
    test::WriteVolume(folder_ + "set.par2", builder.Critical());
    // f7.bin is gone; its data ends a file of junk larger than the buffer.
    ASSERT_EQ(unlink((folder_ + "f7.bin").c_str()), 0);
    Bytes piece = test::RandomBytes(rng_, 1100 * 1024);
    piece.insert(piece.end(), files[7].begin(), files[7].end());
    test::WriteFile(folder_ + "f7.bin.1", piece);

    test::AccessRecorder recorder;
    auto set = Scan();
    for (int i = 0; i < 40; ++i) {
        if (i == 7) continue;
        const std::string name = "f" + std::to_string(i) + ".bin";
        EXPECT_EQ(Entry(*set, name).state, FileState::Complete) << name;
        EXPECT_EQ(recorder.ReadsOf("/" + name), 1u) << name;
    }
    EXPECT_EQ(Entry(*set, "large.bin").state, FileState::Complete);
    // Read once, in pieces of at least 128 KiB.
    EXPECT_EQ(recorder.BytesRead("/large.bin"), large.size());
    EXPECT_LE(recorder.ReadsOf("/large.bin"), 10u);
    SourceFileEntry& seven = Entry(*set, "f7.bin");
    EXPECT_EQ(seven.state, FileState::Missing);
    EXPECT_EQ(Where(seven, 0), std::make_pair(std::string("f7.bin.1"), uint64_t{1100 * 1024}));
}

TEST_F(Par2Scan, SingleBlockFileShorterThanABlockIsComplete) {
    Bytes small = test::RandomBytes(rng_, 63);
    builder_.AddFile("small.txt", small);
    builder_.AddFile("big.bin", test::RandomBytes(rng_, 3 * kSlice));
    builder_.Build();
    test::WriteVolume(folder_ + "set.par2", builder_.Critical());
    auto set = Scan();
    EXPECT_EQ(Entry(*set, "small.txt").state, FileState::Complete);
    EXPECT_EQ(set->status().state, RecoveryState::AllVerified);
    // Damaged: the block is not found, the file is damaged.
    small[62] ^= 1;
    test::WriteFile(folder_ + "small.txt", small);
    set->Scan();
    set->FinishActivity();
    EXPECT_EQ(Entry(*set, "small.txt").state, FileState::Damaged);
    EXPECT_EQ(set->status().dataBlocksAvailable, 3);
}

TEST_F(Par2Scan, OwnWorkFilesAreNeverScanned) {
    MakeSet();
    ASSERT_EQ(rename((folder_ + "two.bin").c_str(), (folder_ + "two.vt2").c_str()), 0);
    test::WriteFile(folder_ + "two.vt1", two_);
    test::AccessRecorder recorder;
    auto set = Scan();
    EXPECT_EQ(Entry(*set, "two.bin").state, FileState::Missing);
    for (const std::string& path : recorder.opened()) {
        EXPECT_EQ(path.find(".vt1"), std::string::npos);
        EXPECT_EQ(path.find("two.vt2"), std::string::npos);
    }
}

TEST_F(Par2Scan, MissingFileWithoutRecoveryDataLeavesTheSetIncomplete) {
    MakeSet(1);
    ASSERT_EQ(unlink((folder_ + "one.bin").c_str()), 0);
    auto set = Scan();
    EXPECT_EQ(Entry(*set, "one.bin").state, FileState::Missing);
    EXPECT_EQ(set->status().state, RecoveryState::Incomplete);
    EXPECT_EQ(set->status().recoveryBlocksAvailable, 1);
}

TEST_F(Par2Scan, ReverifyFindsTheSameAndKeepsMissingFilesMissing) {
    MakeSet(3);
    ASSERT_EQ(unlink((folder_ + "two.bin").c_str()), 0);
    auto set = Scan();
    EXPECT_EQ(Entry(*set, "two.bin").state, FileState::Missing);
    set->Reverify();
    set->FinishActivity();
    EXPECT_EQ(Entry(*set, "two.bin").state, FileState::Missing);
    EXPECT_EQ(Entry(*set, "one.bin").state, FileState::Complete);
    EXPECT_EQ(set->status().state, RecoveryState::RepairPossible);
    EXPECT_EQ(set->status().recoveryBlocksAvailable, 3);
}

TEST_F(Par2Scan, RescanVerifiesOnlyWhatChanged) {
    MakeSet();
    auto set = Scan();
    ASSERT_EQ(set->status().state, RecoveryState::AllVerified);
    Bytes damaged = two_;
    damaged[10] ^= 1;
    test::WriteFile(folder_ + "two.bin", damaged);
    test::AccessRecorder recorder;
    set->Scan();
    set->FinishActivity();
    EXPECT_EQ(recorder.BytesRead("/one.bin"), 0u);
    EXPECT_GT(recorder.BytesRead("/two.bin"), 0u);
    EXPECT_EQ(Entry(*set, "two.bin").state, FileState::Damaged);
    EXPECT_EQ(Entry(*set, "one.bin").state, FileState::Complete);
}

TEST_F(Par2Scan, IntactFileWithRepeatedBlocksIsCompleteAfterADamagedCopyWasReadFirst) {
    // Blocks of 4 bytes drawn from three byte values repeat all over the file.
    Par2SetBuilder small(folder_, 4);
    Bytes data(899);
    for (uint8_t& b : data) b = static_cast<uint8_t>(rng_() % 3);
    small.AddFile("f.pack", data);
    small.Build();
    test::WriteVolume(folder_ + "set.par2", small.Critical());
    Bytes damaged = data;
    for (size_t i = 400; i < 410; ++i) damaged[i] ^= 0x55;
    test::WriteFile(folder_ + "a.bin", damaged);

    auto set = Scan();
    ASSERT_EQ(Entry(*set, "f.pack").state, FileState::Complete);
    // The damaged copy becomes one of the set's files; read again, it comes
    // first by name and holds most of the blocks when the intact file is read.
    set->ScanFile(nullptr, folder_ + "a.bin", false);
    set->Reverify();
    set->FinishActivity();
    EXPECT_EQ(Entry(*set, "f.pack").state, FileState::Complete);
    EXPECT_EQ(set->status().state, RecoveryState::AllVerified);
}

// Several data files verified in one scan, intact and damaged in every way
// at once: each gets what it would get alone, and an intact file is read once.
TEST_F(Par2Scan, ManyFilesOfEveryKindInOneScan) {
    std::map<std::string, Bytes> original;
    const std::pair<const char*, uint64_t> sizes[] = {
        {"a.bin", 5 * kSlice},       {"b.bin", 4 * kSlice + 512}, {"c.bin", 6 * kSlice},
        {"d.bin", 5 * kSlice + 300}, {"e.bin", 4 * kSlice},       {"f.bin", 3 * kSlice},
        {"g.bin", 3 * kSlice},       {"h.bin", 7 * kSlice + 1}};
    for (const auto& [name, size] : sizes) original[name] = test::RandomBytes(rng_, size);
    // h.bin's last block is a single byte. A byte that ends another file of
    // the folder (or e.bin's padding) would be that block too, found there:
    // make it one that nothing else ends with.
    std::set<uint8_t> endings = {0x55, original["d.bin"][original["d.bin"].size() - 201]};
    for (const auto& [name, bytes] : original)
        if (name != "h.bin") endings.insert(bytes.back());
    while (endings.count(original["h.bin"].back())) ++original["h.bin"].back();
    for (const auto& [name, size] : sizes) builder_.AddFile(name, original[name]);
    builder_.Build();
    test::WriteVolume(folder_ + "set.par2", builder_.Critical());
    Bytes c = original["c.bin"];
    c[3 * kSlice + 7] ^= 0x10;
    test::WriteFile(folder_ + "c.bin", c);
    const Bytes& d = original["d.bin"];
    test::WriteFile(folder_ + "d.bin", Bytes(d.begin(), d.end() - 200));
    Bytes e = original["e.bin"];
    e.resize(e.size() + 50, 0x55);
    test::WriteFile(folder_ + "e.bin", e);
    test::WriteFile(folder_ + "f.bin", original["g.bin"]);
    test::WriteFile(folder_ + "g.bin", original["f.bin"]);
    // The last byte differs: only the last block is bad.
    Bytes h = original["h.bin"];
    h.back() ^= 1;
    test::WriteFile(folder_ + "h.bin", h);

    test::AccessRecorder recorder;
    auto set = Scan();
    auto expectAtPlace = [&](const std::string& name, std::vector<uint32_t> missing) {
        SourceFileEntry& entry = Entry(*set, name);
        for (uint32_t i = 0; i < entry.blockCount; ++i) {
            const bool gone = std::count(missing.begin(), missing.end(), i) > 0;
            EXPECT_EQ(Where(entry, i), gone ? std::make_pair(std::string(), uint64_t{0})
                                            : std::make_pair(name, i * kSlice))
                << name << " block " << i;
        }
    };
    for (const char* name : {"a.bin", "b.bin"}) {
        EXPECT_EQ(Entry(*set, name).state, FileState::Complete) << name;
        expectAtPlace(name, {});
        std::string path = "/";
        path += name;
        EXPECT_EQ(recorder.BytesRead(path), original[name].size()) << name;
    }
    EXPECT_EQ(Entry(*set, "c.bin").state, FileState::Damaged);
    expectAtPlace("c.bin", {3});
    EXPECT_EQ(Entry(*set, "d.bin").state, FileState::Damaged);
    expectAtPlace("d.bin", {5});
    EXPECT_EQ(Entry(*set, "e.bin").state, FileState::Damaged);
    expectAtPlace("e.bin", {});
    EXPECT_EQ(Entry(*set, "h.bin").state, FileState::Damaged);
    expectAtPlace("h.bin", {7});
    // The swapped pair: each one's blocks are found in the other.
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(Where(Entry(*set, "f.bin"), i), std::make_pair(std::string("g.bin"), i * kSlice));
        EXPECT_EQ(Where(Entry(*set, "g.bin"), i), std::make_pair(std::string("f.bin"), i * kSlice));
    }
    EXPECT_EQ(Entry(*set, "f.bin").state, FileState::Misnamed);
    EXPECT_EQ(Entry(*set, "g.bin").state, FileState::Misnamed);
    // No recovery data: c, d and h cannot be made whole.
    EXPECT_EQ(set->status().state, RecoveryState::PartlyJoinable);
}

// Stops the scan as soon as a data file's verification reports progress.
class StoppingObserver : public SetObserver {
  public:
    explicit StoppingObserver(StopFlag& stop) : stop_(stop) {}
    void ReportVolumeFile(const SetFile&) override {}
    void RemoveVolumeFile(const SetFile&) override {}
    void StatusChanged(const RecoverySetStatus& s) override {
        if (armed_ && s.activity == Activity::VerifyingDataFile && s.progressPosition > 0) {
            stop_.store(1);
            armed_ = false;
        }
    }
    void ReportSourceFileLine(SourceRowKind, FormatKind, const std::string&, uint64_t, uint32_t,
                              const std::vector<SourcePlace>&) override {}
    void ClearLists() override {}

  private:
    StopFlag& stop_;
    bool armed_ = true;
};

TEST_F(Par2Scan, StoppedVerificationLeavesTheFileToBeVerifiedAgain) {
    MakeSet();
    StopFlag stop{0};
    StoppingObserver observer(stop);
    auto set = test::OpenAndScan(folder_ + "set.par2", cache_, &observer, &stop);
    ASSERT_EQ(stop.load(), 1u);
    int unverified = 0;
    for (const SourceFileEntryRef& e : set->entries()) {
        if (e->state == FileState::Unverified) ++unverified;
        EXPECT_NE(e->state, FileState::Damaged) << e->name;
    }
    EXPECT_GT(unverified, 0);
    stop.store(0);
    set->Scan();
    set->FinishActivity();
    EXPECT_EQ(set->status().state, RecoveryState::AllVerified);
}

}  // namespace
}  // namespace vantrove
