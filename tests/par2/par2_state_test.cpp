// The saved state of a PAR 2.0 set: a reopened, unchanged set hashes
// nothing; a state that does not match the set, or is damaged, is ignored.
#include <dirent.h>
#include <gtest/gtest.h>

#include "par2_set_builder.h"
#include "par2_test_support.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

using test::Bytes;
using test::Par2SetBuilder;

class Par2State : public ::testing::Test {
  protected:
    Par2State()
        : folder_(dir_.path() + "/"), cache_(dir_.path() + "/cache/"), rng_(test::TestSeed()) {}

    void MakeSet(uint64_t seedOffset = 0) {
        Par2SetBuilder b(folder_, 2048);
        std::mt19937_64 rng(test::TestSeed() + seedOffset);
        one_ = test::RandomBytes(rng, 20000);
        b.AddFile("one.bin", one_);
        b.AddFile("two.bin", test::RandomBytes(rng, 5000));
        b.Build();
        test::WriteVolume(folder_ + "set.par2", b.Critical());
        test::WriteVolume(folder_ + "set.vol0+2.par2", {b.Slice(0), b.Slice(1)});
    }

    std::unique_ptr<RecoverySet> OpenSaveAndClose() {
        auto set = test::OpenAndScan(folder_ + "set.par2", cache_);
        EXPECT_TRUE(set->SaveIfLoaded());
        return set;
    }

    // The state files in the cache folder.
    std::vector<std::string> StateFiles() {
        std::vector<std::string> names;
        if (DIR* d = opendir(cache_.folder().c_str())) {
            while (dirent* e = readdir(d)) {
                std::string n = e->d_name;
                if (n.size() > 3 && n.compare(n.size() - 3, 3, ".vt") == 0) names.push_back(n);
            }
            closedir(d);
        }
        return names;
    }

    test::TempDir dir_;
    std::string folder_;
    VerificationCache cache_;
    std::mt19937_64 rng_;
    Bytes one_;
};

TEST_F(Par2State, ReopenedUnchangedSetHashesNothing) {
    MakeSet();
    auto first = OpenSaveAndClose();
    ASSERT_EQ(first->status().state, RecoveryState::AllVerified);

    test::AccessRecorder recorder;
    auto second = test::OpenAndScan(folder_ + "set.par2", cache_);
    EXPECT_EQ(second->status().state, RecoveryState::AllVerified);
    EXPECT_EQ(second->status().dataBlocksAvailable, first->status().dataBlocksAvailable);
    EXPECT_EQ(second->status().recoveryBlocksAvailable, 2);
    EXPECT_EQ(recorder.BytesRead(".bin"), 0u);
    EXPECT_EQ(recorder.BytesRead("set.vol0+2.par2"), 0u);
}

TEST_F(Par2State, DamageFoundBeforeIsRestoredWithoutReading) {
    MakeSet();
    Bytes damaged = one_;
    damaged[5000] ^= 0x10;
    test::WriteFile(folder_ + "one.bin", damaged);
    auto first = OpenSaveAndClose();
    ASSERT_EQ(first->status().state, RecoveryState::RepairPossible);

    test::AccessRecorder recorder;
    auto second = test::OpenAndScan(folder_ + "set.par2", cache_);
    EXPECT_EQ(recorder.BytesRead("one.bin"), 0u);
    EXPECT_EQ(second->status().state, RecoveryState::RepairPossible);
    EXPECT_EQ(second->status().damagedFiles, 1);
    EXPECT_EQ(second->status().dataBlocksAvailable, first->status().dataBlocksAvailable);
}

TEST_F(Par2State, ChangedFileIsVerifiedAgain) {
    MakeSet();
    OpenSaveAndClose();
    Bytes damaged = one_;
    damaged[100] ^= 0x10;
    test::WriteFile(folder_ + "one.bin", damaged);
    test::AccessRecorder recorder;
    auto second = test::OpenAndScan(folder_ + "set.par2", cache_);
    EXPECT_GT(recorder.BytesRead("one.bin"), 0u);
    EXPECT_EQ(recorder.BytesRead("two.bin"), 0u);
    EXPECT_EQ(second->status().damagedFiles, 1);
}

TEST_F(Par2State, StateOfAnotherSetWithTheSameNameIsIgnored) {
    MakeSet();
    OpenSaveAndClose();
    MakeSet(99);  // same names, other contents
    test::AccessRecorder recorder;
    auto second = test::OpenAndScan(folder_ + "set.par2", cache_);
    EXPECT_GT(recorder.BytesRead("one.bin"), 0u);
    EXPECT_EQ(second->status().state, RecoveryState::AllVerified);
}

TEST_F(Par2State, DamagedStateFileIsIgnored) {
    MakeSet();
    OpenSaveAndClose();
    std::vector<std::string> files = StateFiles();
    ASSERT_EQ(files.size(), 1u);
    const std::string path = cache_.folder() + files[0];
    Bytes bytes = test::ReadFile(path);
    ASSERT_GT(bytes.size(), 200u);
    bytes[bytes.size() / 2] ^= 0x5A;
    test::WriteFile(path, bytes);
    test::AccessRecorder recorder;
    auto second = test::OpenAndScan(folder_ + "set.par2", cache_);
    EXPECT_GT(recorder.BytesRead("one.bin"), 0u);
    EXPECT_EQ(second->status().state, RecoveryState::AllVerified);
}

}  // namespace
}  // namespace vantrove
