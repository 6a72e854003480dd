// PAR 2.0 sets whose names reach into subfolders, and names that must never
// be written to: names that climb out of the set's folder, names that pass
// through a symbolic link, and names of the set's own volumes. Safe names
// are verified and rebuilt in place; the others are left alone, the rest of
// the set is still repaired, and the repair reports that it could not make
// those files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <dirent.h>

#include <filesystem>
#include <set>

#include "par2_set_builder.h"
#include "par2_test_support.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

using test::Bytes;
using test::FileExists;
using test::Par2SetBuilder;
using test::ReadFile;

constexpr uint64_t kSlice = 1024;

std::set<std::string> Listing(const std::string& folder) {
    std::set<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) names.insert(entry->d_name);
        closedir(dir);
    }
    return names;
}

SourceFileEntry* Named(RecoverySet& set, const std::string& name) {
    for (const auto& entry : set.entries()) {
        if (entry->name == name) return entry.get();
    }
    return nullptr;
}

class Par2Tree : public ::testing::Test {
  protected:
    Par2Tree()
        : outer_(dir_.path() + "/outer/"),
          folder_(outer_ + "set/"),
          cache_(dir_.path() + "/cache/"),
          rng_(test::TestSeed()) {
        mkdir(outer_.c_str(), 0700);
        mkdir(folder_.c_str(), 0700);
    }

    void MakeFolders(const std::string& relative) {
        std::string path = folder_;
        size_t start = 0;
        for (size_t slash; (slash = relative.find('/', start)) != std::string::npos;
             start = slash + 1) {
            path = folder_ + relative.substr(0, slash);
            mkdir(path.c_str(), 0700);
        }
    }

    // Adds a file of `size` random bytes under `name`, written in place.
    Bytes Add(Par2SetBuilder& builder, const std::string& name, size_t size) {
        Bytes content = test::RandomBytes(rng_, size);
        MakeFolders(name);
        builder.AddFile(name, content);
        return content;
    }

    // The index volume and `count` recovery slices from exponent 0.
    void Write(Par2SetBuilder& builder, uint32_t count) {
        builder.Build();
        test::WriteVolume(folder_ + "set.par2", builder.Critical());
        for (uint32_t e = 0; e < count; ++e) {
            test::WriteVolume(folder_ + "set.vol" + std::to_string(e) + "+1.par2",
                              {builder.RealSlice(e)});
        }
    }

    std::unique_ptr<RecoverySet> Open() {
        auto set = test::OpenAndScan(folder_ + "set.par2", cache_);
        RepairOptions options;
        options.useRecycleBin = false;
        set->SetRepairOptions(options);
        return set;
    }

    test::TempDir dir_;
    std::string outer_, folder_;
    VerificationCache cache_;
    std::mt19937_64 rng_;
};

TEST_F(Par2Tree, FilesInSubfoldersAreFoundAndRebuiltInPlace) {
    Par2SetBuilder builder(folder_, kSlice);
    const Bytes deep = Add(builder, "docs/a/report one.pdf", 5 * kSlice + 7);
    const Bytes photo = Add(builder, "img/photo.jpg", 2 * kSlice);
    const Bytes top = Add(builder, "top.bin", 3 * kSlice);
    const Bytes windows = Add(builder, "win/made there.txt", 100);
    Write(builder, 10);
    {
        auto set = Open();
        EXPECT_EQ(set->status().state, RecoveryState::AllVerified);
    }

    // A whole folder gone, a deep file damaged: both rebuilt where their
    // names say, nothing new beside the set.
    ASSERT_EQ(unlink((folder_ + "img/photo.jpg").c_str()), 0);
    ASSERT_EQ(rmdir((folder_ + "img").c_str()), 0);
    Bytes damaged = deep;
    damaged[2 * kSlice + 3] ^= 0x40;
    test::WriteFile(folder_ + "docs/a/report one.pdf", damaged);
    const std::set<std::string> before = Listing(folder_);

    auto set = Open();
    ASSERT_EQ(set->status().state, RecoveryState::RepairPossible);
    set->Repair();
    set->FinishActivity();
    EXPECT_EQ(set->status().errorKind, ErrorKind::None);
    EXPECT_EQ(set->status().state, RecoveryState::Repaired);
    EXPECT_EQ(ReadFile(folder_ + "docs/a/report one.pdf"), deep);
    EXPECT_EQ(ReadFile(folder_ + "img/photo.jpg"), photo);
    EXPECT_EQ(ReadFile(folder_ + "top.bin"), top);
    std::set<std::string> after = Listing(folder_);
    after.erase("img");
    EXPECT_EQ(after, before);
    EXPECT_EQ(Listing(folder_ + "docs/a"), (std::set<std::string>{".", "..", "report one.pdf"}));
}

TEST_F(Par2Tree, AMisnamedCopyMovesIntoItsSubfolder) {
    Par2SetBuilder builder(folder_, kSlice);
    const Bytes deep = Add(builder, "x/y/deep.bin", 4 * kSlice);
    Add(builder, "other.bin", kSlice);
    Write(builder, 0);
    ASSERT_EQ(rename((folder_ + "x/y/deep.bin").c_str(), (folder_ + "deep copy").c_str()), 0);
    ASSERT_EQ(rmdir((folder_ + "x/y").c_str()), 0);

    auto set = Open();
    ASSERT_EQ(set->status().state, RecoveryState::RepairPossible);
    set->Repair();
    set->FinishActivity();
    EXPECT_EQ(set->status().errorKind, ErrorKind::None);
    EXPECT_EQ(ReadFile(folder_ + "x/y/deep.bin"), deep);
    EXPECT_FALSE(FileExists(folder_ + "deep copy"));
}

TEST_F(Par2Tree, HostileNamesAreNeverWrittenAndTheRestIsRepaired) {
    // "link" leads out of the set's folder.
    ASSERT_EQ(mkdir((outer_ + "elsewhere").c_str(), 0700), 0);
    ASSERT_EQ(symlink((outer_ + "elsewhere").c_str(), (folder_ + "link").c_str()), 0);
    Par2SetBuilder builder(folder_, kSlice);
    const Bytes good = Add(builder, "sub/good.bin", 3 * kSlice);
    Add(builder, "../victim.dat", 2 * kSlice);
    Add(builder, "a/../../up.dat", kSlice);
    Add(builder, "link/through.dat", kSlice);
    Write(builder, 20);

    // The victims outside are changed by someone else; inside, the good
    // file is lost.
    test::WriteFile(outer_ + "victim.dat", Bytes(10, 'v'));
    ASSERT_EQ(unlink((outer_ + "up.dat").c_str()), 0);
    test::WriteFile(outer_ + "elsewhere/through.dat", Bytes(20, 't'));
    ASSERT_EQ(unlink((folder_ + "sub/good.bin").c_str()), 0);
    const std::set<std::string> outside = Listing(outer_);

    auto set = Open();
    for (const char* name : {"../victim.dat", "a/../../up.dat"}) {
        ASSERT_NE(Named(*set, name), nullptr) << name;
        EXPECT_TRUE(Named(*set, name)->unusableName) << name;
        // Never read out there either.
        EXPECT_EQ(Named(*set, name)->state, FileState::Missing) << name;
    }
    EXPECT_EQ(Named(*set, "link/through.dat")->state, FileState::Missing);
    ASSERT_EQ(set->status().state, RecoveryState::RepairPossible);
    set->Repair();
    set->FinishActivity();

    EXPECT_EQ(ReadFile(folder_ + "sub/good.bin"), good);
    EXPECT_EQ(set->status().errorKind, ErrorKind::CreateTarget);
    EXPECT_NE(set->status().state, RecoveryState::Repaired);
    EXPECT_EQ(ReadFile(outer_ + "victim.dat"), Bytes(10, 'v'));
    EXPECT_FALSE(FileExists(outer_ + "up.dat"));
    EXPECT_EQ(ReadFile(outer_ + "elsewhere/through.dat"), Bytes(20, 't'));
    EXPECT_EQ(Listing(outer_), outside);
    EXPECT_EQ(Listing(outer_ + "elsewhere"), (std::set<std::string>{".", "..", "through.dat"}));
    // The recovery volumes stay: they are needed for what was not restored.
    EXPECT_TRUE(FileExists(folder_ + "set.vol0+1.par2"));
}

TEST_F(Par2Tree, ASetNamingItsOwnVolumeLeavesTheVolumeAlone) {
    Par2SetBuilder builder(folder_, kSlice);
    const Bytes a = Add(builder, "a.bin", 2 * kSlice);
    Add(builder, "set.vol0+1.par2", kSlice);
    Write(builder, 3);  // the real volume replaces the data file of that name
    const Bytes volume = ReadFile(folder_ + "set.vol0+1.par2");
    ASSERT_EQ(unlink((folder_ + "a.bin").c_str()), 0);

    auto set = Open();
    ASSERT_NE(Named(*set, "set.vol0+1.par2"), nullptr);
    EXPECT_TRUE(Named(*set, "set.vol0+1.par2")->unusableName);
    EXPECT_EQ(set->status().state, RecoveryState::RepairPossible);
    set->Repair();
    set->FinishActivity();
    EXPECT_EQ(ReadFile(folder_ + "a.bin"), a);
    EXPECT_EQ(ReadFile(folder_ + "set.vol0+1.par2"), volume);
    EXPECT_FALSE(FileExists(folder_ + "set.vol0+1.par2.1"));
    EXPECT_EQ(set->status().errorKind, ErrorKind::CreateTarget);
}

TEST_F(Par2Tree, AnEmptyFileIsCompleteAndMadeAgainWhenDeleted) {
    Par2SetBuilder builder(folder_, kSlice);
    Add(builder, "data.bin", 2 * kSlice);
    Add(builder, "sub/empty", 0);
    Write(builder, 2);
    {
        auto set = Open();
        EXPECT_EQ(set->status().state, RecoveryState::AllVerified);
        EXPECT_EQ(Named(*set, "sub/empty")->state, FileState::Complete);
    }
    ASSERT_EQ(unlink((folder_ + "sub/empty").c_str()), 0);
    auto set = Open();
    EXPECT_EQ(Named(*set, "sub/empty")->state, FileState::Missing);
    ASSERT_NE(set->status().state, RecoveryState::AllVerified);
    set->Repair();
    set->FinishActivity();
    EXPECT_EQ(set->status().errorKind, ErrorKind::None);
    EXPECT_TRUE(FileExists(folder_ + "sub/empty"));
    EXPECT_TRUE(ReadFile(folder_ + "sub/empty").empty());
    // An unrelated empty file is no copy of it.
    ASSERT_EQ(unlink((folder_ + "sub/empty").c_str()), 0);
    test::WriteFile(folder_ + "sub/unrelated", Bytes{});
    auto again = Open();
    EXPECT_EQ(Named(*again, "sub/empty")->state, FileState::Missing);
}

// Refuses, as a read-only folder does, to create or rename anything in
// `folder` (permission bits do not bind root, so the refusal is made here).
class ReadOnlyFolder : public FileFaultInjector {
  public:
    explicit ReadOnlyFolder(std::string folder) : folder_(std::move(folder)) {
        SetFileFaultInjector(this);
    }
    ~ReadOnlyFolder() override { SetFileFaultInjector(nullptr); }
    int BeforeOpen(const std::string& path, bool forWrite) override {
        return forWrite && Inside(path) ? EACCES : 0;
    }
    int BeforeRename(const std::string& from, const std::string& to) override {
        return Inside(from) || Inside(to) ? EACCES : 0;
    }

  private:
    bool Inside(const std::string& path) const { return path.rfind(folder_, 0) == 0; }
    std::string folder_;
};

// A file that cannot be written (in a read-only subfolder, missing or
// damaged; or whose work name is too long for the file system) is named
// by the failed repair, and the other files are still rebuilt.
TEST_F(Par2Tree, AnUnwritableTargetLeavesTheOthersRebuiltAndIsNamed) {
    const std::string longName = std::string(245, 'n') + ".bin";
    struct Case {
        std::string name;
        bool damaged;
        ErrorKind kind;
        int error;
    };
    for (const Case& c : {Case{"ro/locked.bin", false, ErrorKind::CreateTarget, EACCES},
                          Case{"ro/locked.bin", true, ErrorKind::Rename, EACCES},
                          Case{longName, false, ErrorKind::CreateTarget, ENAMETOOLONG}}) {
        Par2SetBuilder builder(folder_, kSlice);
        const Bytes a = Add(builder, "a.bin", 3 * kSlice);
        const Bytes other = Add(builder, "sub/other.bin", 2 * kSlice + 10);
        const Bytes hard = Add(builder, c.name, 2 * kSlice);
        Write(builder, 12);
        test::WriteFile(folder_ + "a.bin", Bytes(3 * kSlice, 'x'));  // damaged
        ASSERT_EQ(unlink((folder_ + "sub/other.bin").c_str()), 0);
        Bytes damaged = hard;
        damaged[5] ^= 1;
        if (c.damaged) {
            test::WriteFile(folder_ + c.name, damaged);
        } else {
            ASSERT_EQ(unlink((folder_ + c.name).c_str()), 0);
        }
        auto set = Open();
        ASSERT_EQ(set->status().state, RecoveryState::RepairPossible) << c.name;
        {
            ReadOnlyFolder readOnly(folder_ + "ro/");
            chmod((folder_ + "ro").c_str(), 0555);
            set->Repair();
            chmod((folder_ + "ro").c_str(), 0755);
        }
        EXPECT_EQ(set->status().errorKind, c.kind) << c.name;
        EXPECT_EQ(set->status().systemErrorCode, static_cast<uint32_t>(c.error)) << c.name;
        EXPECT_EQ(set->status().errorFile, folder_ + c.name);
        EXPECT_NE(set->status().state, RecoveryState::Repaired);
        EXPECT_EQ(ReadFile(folder_ + "a.bin"), a) << c.name;
        EXPECT_EQ(ReadFile(folder_ + "sub/other.bin"), other) << c.name;
        if (c.damaged) {
            EXPECT_EQ(ReadFile(folder_ + c.name), damaged);
        } else {
            EXPECT_FALSE(FileExists(folder_ + c.name));
        }
        EXPECT_EQ(Named(*set, c.name)->state, c.damaged ? FileState::Damaged : FileState::Missing);
        set.reset();
        std::filesystem::remove_all(folder_);
        mkdir(folder_.c_str(), 0700);
    }
}

}  // namespace
}  // namespace vantrove
