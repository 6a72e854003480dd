// SFV and MD5 sets: loading, matching, misnamed copies and their renaming,
// saved states, names that lead elsewhere, and lists made by cksfv and
// md5sum.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "core/crc32.h"
#include "core/md5.h"
#include "format_test_support.h"
#include "formats/checksum_list.h"
#include "formats/md5_checksum_set.h"
#include "formats/sfv_checksum_set.h"
#include "support/test_env.h"
#include "support/unreadable_file.h"

namespace vantrove {
namespace {

using test::EntryNamed;
using test::FileExists;
using test::OpenLikeWorker;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;
using Bytes = std::vector<uint8_t>;

std::string CrcHex(const Bytes& data) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", Crc32Update(0, data.data(), data.size()));
    return text;
}

std::string Md5Hex(const Bytes& data) {
    return Md5Of(data.data(), data.size()).ToHex();
}

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

class ChecksumSetTest : public ::testing::Test {
  protected:
    ChecksumSetTest() : cache_(dir_.path() + "/cache/") {}

    std::string Folder() const { return dir_.path() + "/set/"; }
    std::string PathOf(const std::string& name) const { return Folder() + name; }
    void Put(const std::string& name, const Bytes& data) {
        std::filesystem::create_directories(std::filesystem::path(PathOf(name)).parent_path());
        WriteFile(PathOf(name), data);
    }
    void Put(const std::string& name, const std::string& text) { Put(name, Text(text)); }

    std::unique_ptr<RecoverySet> Sfv() {
        std::unique_ptr<RecoverySet> set = NewSfvSet(nullptr, nullptr);
        set->SetVerificationCache(&cache_);
        return set;
    }
    std::unique_ptr<RecoverySet> Md5() {
        std::unique_ptr<RecoverySet> set = NewMd5Set(nullptr, nullptr);
        set->SetVerificationCache(&cache_);
        return set;
    }
    std::unique_ptr<RecoverySet> OpenSet(std::unique_ptr<RecoverySet> set,
                                         const std::string& listName) {
        OpenLikeWorker(set, PathOf(listName));
        return set;
    }

    TempDir dir_;
    VerificationCache cache_;
};

TEST_F(ChecksumSetTest, IntactFilesUnderTheirNamesVerifyTheSet) {
    Bytes a = Text("alpha contents"), b = Text("second file, longer");
    Put("a.txt", a);
    Put("b.txt", b);
    Put("list.sfv", "; comment\na.txt " + CrcHex(a) + "\r\nb.txt " + CrcHex(b));
    auto set = OpenSet(Sfv(), "list.sfv");
    EXPECT_EQ(set->status().formatKind, FormatKind::Sfv);
    EXPECT_EQ(set->status().sourceFileCount, 2);
    EXPECT_EQ(set->status().completeFiles, 2);
    EXPECT_EQ(set->status().state, RecoveryState::AllVerified);
    EXPECT_EQ(set->status().creatorText, "sconosciuto");
    EXPECT_EQ(set->status().setName, "list");
}

TEST_F(ChecksumSetTest, DamagedAndMissingFilesAreTold) {
    Bytes a = Text("alpha contents");
    Put("a.txt", Text("alpha c0ntents"));
    Put("list.sfv", "a.txt " + CrcHex(a) + "\nb.txt 01234567\n");
    auto set = OpenSet(Sfv(), "list.sfv");
    EXPECT_EQ(EntryNamed(*set, "a.txt")->state, FileState::Damaged);
    EXPECT_EQ(EntryNamed(*set, "b.txt")->state, FileState::Missing);
    EXPECT_EQ(set->status().state, RecoveryState::Incomplete);
}

TEST_F(ChecksumSetTest, AFileThatCannotBeReadIsDamagedWithItsError) {
    const Bytes a = Text("alpha contents"), b = Text("second file, longer");
    Put("a.txt", a);
    Put("b.txt", b);
    Put("list.sfv", "a.txt " + CrcHex(a) + "\nb.txt " + CrcHex(b) + "\n");
    Put("list.md5", Md5Hex(a) + "  a.txt\n" + Md5Hex(b) + "  b.txt\n");
    for (const char* list : {"list.sfv", "list.md5"}) {
        SCOPED_TRACE(list);
        test::UnreadableFile disk(PathOf("b.txt"), 3, 4);
        auto set = OpenSet(std::string(list) == "list.sfv" ? Sfv() : Md5(), list);
        EXPECT_EQ(EntryNamed(*set, "a.txt")->state, FileState::Complete);
        const SourceFileEntry* entry = EntryNamed(*set, "b.txt");
        EXPECT_EQ(entry->state, FileState::Damaged);
        EXPECT_EQ(entry->targetFile->readError, EIO);
        EXPECT_EQ(set->status().unverifiedFiles, 0);
        EXPECT_EQ(set->status().state, RecoveryState::Incomplete);
    }
}

TEST_F(ChecksumSetTest, ListWithoutEntriesNeedsMoreFiles) {
    Put("list.sfv", "; only a comment\nnot an entry\n");
    auto set = OpenSet(Sfv(), "list.sfv");
    EXPECT_EQ(set->status().state, RecoveryState::NeedMoreVolumes);
    EXPECT_EQ(set->status().totalDataBlocks, 0u);
}

TEST_F(ChecksumSetTest, AnEmptyFileIsCompleteUnderItsOwnNameOnly) {
    Put("empty.bin", Bytes{});
    Put("other.bin", Bytes{});
    Put("list.sfv", "empty.bin 00000000\nlost.bin 00000000\nfull.bin 12345678\n");
    auto set = OpenSet(Sfv(), "list.sfv");
    ASSERT_NE(EntryNamed(*set, "empty.bin"), nullptr);
    EXPECT_EQ(EntryNamed(*set, "empty.bin")->state, FileState::Complete);
    // Another empty file is no copy of a listed empty file.
    EXPECT_EQ(EntryNamed(*set, "lost.bin")->state, FileState::Missing);
    // Empty files have no blocks: only full.bin's counts, and it is missing.
    EXPECT_EQ(set->status().totalDataBlocks, 1u);
    EXPECT_EQ(set->status().dataBlocksAvailable, 0);
}

TEST_F(ChecksumSetTest, AnEmptyFileDoesNotMatchANonZeroCrc) {
    Put("empty.bin", Bytes{});
    Put("list.sfv", "empty.bin 12345678\n");
    auto set = OpenSet(Sfv(), "list.sfv");
    EXPECT_EQ(EntryNamed(*set, "empty.bin")->state, FileState::Damaged);
}

TEST_F(ChecksumSetTest, DuplicateCrcsPreferTheEntryWhoseNameTheFileBears) {
    Bytes same = Text("identical content");
    Put("second.txt", same);
    Put("list.sfv", "first.txt " + CrcHex(same) + "\nsecond.txt " + CrcHex(same) + "\n");
    auto set = OpenSet(Sfv(), "list.sfv");
    EXPECT_EQ(EntryNamed(*set, "second.txt")->state, FileState::Complete);
    EXPECT_EQ(EntryNamed(*set, "first.txt")->state, FileState::Missing);
}

TEST_F(ChecksumSetTest, DuplicateCrcsGiveAForeignNameToTheFirstEntryNotFound) {
    Bytes same = Text("identical content");
    Put("copy.txt", same);
    Put("list.sfv", "first.txt " + CrcHex(same) + "\nsecond.txt " + CrcHex(same) + "\n");
    auto set = OpenSet(Sfv(), "list.sfv");
    // copy.txt is no candidate name of either entry: the user adds it.
    set->Open(PathOf("copy.txt"));
    set->FinishActivity();
    EXPECT_EQ(EntryNamed(*set, "first.txt")->state, FileState::Misnamed);
    EXPECT_EQ(EntryNamed(*set, "second.txt")->state, FileState::Missing);
}

TEST_F(ChecksumSetTest, MisnamedCopyIsFoundAndRenamedBack) {
    Bytes a = Text("alpha contents"), b = Text("beta contents!");
    Put("a.txt", a);
    Put("b.txt.1", b);  // a copy-name of b.txt
    Put("list.md5", Md5Hex(a) + "  a.txt\n" + Md5Hex(b) + "  b.txt\n");
    auto set = OpenSet(Md5(), "list.md5");
    ASSERT_EQ(EntryNamed(*set, "b.txt")->state, FileState::Misnamed);
    ASSERT_EQ(set->status().state, RecoveryState::RepairPossible);
    EXPECT_EQ(set->status().subState, SubState::RenameOnly);
    set->Repair();
    EXPECT_EQ(set->status().errorKind, ErrorKind::None);
    EXPECT_EQ(set->status().state, RecoveryState::Repaired);
    EXPECT_EQ(ReadFile(PathOf("b.txt")), b);
    EXPECT_FALSE(FileExists(PathOf("b.txt.1")));
}

TEST_F(ChecksumSetTest, MisnamedCopyTakesThePlaceOfADamagedFile) {
    Bytes a = Text("alpha contents");
    Put("a.txt", Text("garbage"));
    Put("a.txt.2", a);
    Put("list.sfv", "a.txt " + CrcHex(a) + "\n");
    auto set = OpenSet(Sfv(), "list.sfv");
    ASSERT_EQ(EntryNamed(*set, "a.txt")->state, FileState::Misnamed);
    set->Repair();
    EXPECT_EQ(set->status().state, RecoveryState::Repaired);
    EXPECT_EQ(ReadFile(PathOf("a.txt")), a);
    EXPECT_EQ(ReadFile(PathOf("a.txt.1")), Text("garbage"));
}

TEST_F(ChecksumSetTest, RelativePathsAreVerifiedInTheirSubfolder) {
    Bytes a = Text("in a subfolder");
    Put("sub/a.txt", a);
    Put("list.sfv", "sub/a.txt " + CrcHex(a) + "\n");
    auto set = OpenSet(Sfv(), "list.sfv");
    EXPECT_EQ(EntryNamed(*set, "sub/a.txt")->state, FileState::Complete);
    EXPECT_EQ(set->status().state, RecoveryState::AllVerified);
}

TEST_F(ChecksumSetTest, NamesLeadingOutOfTheFolderAreNeverRead) {
    Bytes secret = Text("outside the set");
    WriteFile(dir_.path() + "/secret.txt", secret);
    Put("list.sfv", "../secret.txt " + CrcHex(secret) + "\n" + "/" + dir_.path().substr(1) +
                        "/secret.txt " + CrcHex(secret) + "\n");
    auto set = OpenSet(Sfv(), "list.sfv");
    ASSERT_EQ(set->entries().size(), 2u);
    for (const SourceFileEntryRef& entry : set->entries()) {
        EXPECT_EQ(entry->state, FileState::Missing) << entry->name;
    }
    EXPECT_EQ(set->status().dataBlocksAvailable, 0);
}

TEST_F(ChecksumSetTest, DotDotNameInsideTheFolderIsVerifiedButNeverARenameTarget) {
    Bytes a = Text("alpha contents");
    Put("a.txt", a);
    Put("list.sfv", "sub/../a.txt " + CrcHex(a) + "\n");
    auto set = OpenSet(Sfv(), "list.sfv");
    SourceFileEntry* entry = EntryNamed(*set, "sub/../a.txt");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->state, FileState::Complete);

    // The same name with its file under another name: found by the user,
    // but the repair does not create "sub/../a.txt".
    TempDir other;
    std::unique_ptr<RecoverySet> second = NewSfvSet(nullptr, nullptr);
    VerificationCache cache(other.path() + "/cache/");
    second->SetVerificationCache(&cache);
    WriteFile(other.File("list.sfv"), "sub/../b.txt " + CrcHex(a) + "\n");
    WriteFile(other.File("elsewhere.bin"), a);
    std::unique_ptr<RecoverySet> set2 = std::move(second);
    OpenLikeWorker(set2, other.File("list.sfv"));
    set2->Open(other.File("elsewhere.bin"));
    set2->FinishActivity();
    ASSERT_EQ(set2->entries()[0]->state, FileState::Misnamed);
    set2->Repair();
    EXPECT_NE(set2->status().state, RecoveryState::Repaired);
    EXPECT_TRUE(FileExists(other.File("elsewhere.bin")));
    EXPECT_FALSE(FileExists(other.File("b.txt")));
}

TEST_F(ChecksumSetTest, ReverifyKeepsTheListAndFindsChanges) {
    Bytes a = Text("alpha contents");
    Put("a.txt", a);
    Put("list.sfv", "a.txt " + CrcHex(a) + "\n");
    auto set = OpenSet(Sfv(), "list.sfv");
    ASSERT_EQ(set->status().state, RecoveryState::AllVerified);
    Put("a.txt", Text("alpha c0ntents"));
    set->Reverify();
    set->FinishActivity();
    EXPECT_EQ(EntryNamed(*set, "a.txt")->state, FileState::Damaged);
    SetFileRef list = set->FindKnownFile(PathOf("list.sfv"));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->result, VerifyResult::NotIntact);
    EXPECT_EQ(list->blocksTaken, 1u);
}

TEST_F(ChecksumSetTest, SavedStateReplacesTheSetWhenOpenedAgain) {
    Bytes a = Text("alpha contents");
    Put("a.txt", a);
    Put("list.sfv", "a.txt " + CrcHex(a) + "\n");
    {
        auto set = OpenSet(Sfv(), "list.sfv");
        ASSERT_EQ(set->status().state, RecoveryState::AllVerified);
        ASSERT_TRUE(set->SaveIfLoaded());
    }
    std::unique_ptr<RecoverySet> set = Sfv();
    std::unique_ptr<RecoverySet> replacement = set->Open(PathOf("list.sfv"));
    ASSERT_NE(replacement, nullptr);
    replacement->Scan();
    replacement->FinishActivity();
    EXPECT_EQ(replacement->status().state, RecoveryState::AllVerified);
    EXPECT_EQ(replacement->status().formatKind, FormatKind::Sfv);

    // A changed list is another set: the state is not taken.
    Put("list.sfv", "a.txt " + CrcHex(a) + "\nb.txt 00000001\n");
    std::unique_ptr<RecoverySet> fresh = Sfv();
    EXPECT_EQ(fresh->Open(PathOf("list.sfv")), nullptr);
    EXPECT_EQ(fresh->status().sourceFileCount, 2);
}

TEST_F(ChecksumSetTest, Md5StateKeepsTheLineStyle) {
    Bytes a = Text("alpha contents");
    Put("a.txt", a);
    Put("list.md5", "MD5 (a.txt) = " + Md5Hex(a) + "\n");
    {
        auto set = OpenSet(Md5(), "list.md5");
        ASSERT_EQ(set->status().state, RecoveryState::AllVerified);
        EXPECT_EQ(set->status().creatorText, "UNIX MD5 sum");
        ASSERT_TRUE(set->SaveIfLoaded());
    }
    std::unique_ptr<RecoverySet> set = Md5();
    std::unique_ptr<RecoverySet> replacement = set->Open(PathOf("list.md5"));
    ASSERT_NE(replacement, nullptr);
    EXPECT_EQ(replacement->format().CreatorText(), "UNIX MD5 sum");
    EXPECT_EQ(replacement->FormatAs<Md5ChecksumSet>()->md5LineStyle(), kMd5StyleBsd);
}

TEST_F(ChecksumSetTest, MixedLayoutsNameTheProgramOfTheLastEntry) {
    Bytes a = Text("a"), b = Text("b");
    Put("a.txt", a);
    Put("b.txt", b);
    Put("list.md5", Md5Hex(a) + "\ta.txt\nb.txt=" + Md5Hex(b) + "\n; trailing comment\n");
    auto set = OpenSet(Md5(), "list.md5");
    EXPECT_EQ(set->status().creatorText, "MD5-it");
    EXPECT_EQ(set->status().state, RecoveryState::AllVerified);
}

TEST_F(ChecksumSetTest, VolumeSetNamesNeedTheirOwnExtension) {
    std::unique_ptr<RecoverySet> sfvSet = NewSfvSet(nullptr, nullptr);
    std::unique_ptr<RecoverySet> md5Set = NewMd5Set(nullptr, nullptr);
    SetFormat& sfv = sfvSet->format();
    SetFormat& md5 = md5Set->format();
    EXPECT_EQ(sfv.VolumeSetName("movie.SFV"), "movie");
    EXPECT_EQ(sfv.VolumeSetName("movie.sfvx"), "");
    EXPECT_EQ(sfv.VolumeSetName("movie.md5"), "");
    EXPECT_EQ(md5.VolumeSetName("x.y.Md5"), "x.y");
    EXPECT_EQ(md5.VolumeSetName("md5"), "");
    EXPECT_EQ(md5.CreatorText(), "unknown");
}

TEST_F(ChecksumSetTest, WholeFileCheckComparesTheHash) {
    Bytes a = Text("alpha contents");
    Put("a.txt", a);
    Put("list.sfv", "a.txt " + CrcHex(a) + "\n");
    auto set = OpenSet(Sfv(), "list.sfv");
    auto& sfv = *set->FormatAs<SfvChecksumSet>();
    SetFile file;
    ASSERT_TRUE(file.open(PathOf("a.txt")));
    bool stopped = true;
    EXPECT_TRUE(sfv.CheckWholeFile(file, *set->entries()[0], stopped));
    EXPECT_FALSE(stopped);
    Put("a.txt", Text("alpha_contents"));
    SetFile changed;
    ASSERT_TRUE(changed.open(PathOf("a.txt")));
    EXPECT_FALSE(sfv.CheckWholeFile(changed, *set->entries()[0], stopped));
}

// ---- Lists made by other programs.

TEST_F(ChecksumSetTest, CksfvListVerifiesAndFindsAMisnamedFile) {
    if (!test::HaveCommand("cksfv")) GTEST_SKIP() << "cksfv is not installed";
    std::mt19937_64 rng(test::TestSeed());
    Bytes a = test::RandomBytes(rng, 70000), b = test::RandomBytes(rng, 12345);
    Put("a.bin", a);
    Put("b file.bin", b);
    ASSERT_EQ(test::RunShell("cd " + test::ShellQuote(Folder()) +
                             " && cksfv 'a.bin' 'b file.bin' > made.sfv"),
              0);
    auto set = OpenSet(Sfv(), "made.sfv");
    ASSERT_EQ(set->status().sourceFileCount, 2);
    EXPECT_EQ(set->status().state, RecoveryState::AllVerified);

    ASSERT_EQ(std::rename(PathOf("b file.bin").c_str(), PathOf("renamed.bin").c_str()), 0);
    auto again = Sfv();
    OpenLikeWorker(again, PathOf("made.sfv"));
    again->Open(PathOf("renamed.bin"));
    again->FinishActivity();
    ASSERT_EQ(EntryNamed(*again, "b file.bin")->state, FileState::Misnamed);
    again->Repair();
    EXPECT_EQ(again->status().state, RecoveryState::Repaired);
    EXPECT_EQ(ReadFile(PathOf("b file.bin")), b);
    EXPECT_EQ(test::RunShell("cd " + test::ShellQuote(Folder()) + " && cksfv -q -f made.sfv"), 0);
}

TEST_F(ChecksumSetTest, Md5sumListsInBothLayoutsVerify) {
    if (!test::HaveCommand("md5sum")) GTEST_SKIP() << "md5sum is not installed";
    std::mt19937_64 rng(test::TestSeed());
    Bytes a = test::RandomBytes(rng, 40000), b = test::RandomBytes(rng, 3);
    Put("a.bin", a);
    Put("b.bin", b);
    const std::string cd = "cd " + test::ShellQuote(Folder()) + " && ";
    ASSERT_EQ(test::RunShell(cd + "md5sum a.bin b.bin > plain.md5"), 0);
    ASSERT_EQ(test::RunShell(cd + "md5sum -b a.bin b.bin > binary.md5"), 0);
    ASSERT_EQ(test::RunShell(cd + "md5sum --tag a.bin b.bin > tagged.md5"), 0);
    struct Case {
        const char* list;
        const char* creator;
    } cases[] = {
        {"plain.md5", "MD5Summer"}, {"binary.md5", "MD5Summer"}, {"tagged.md5", "UNIX MD5 sum"}};
    for (const Case& c : cases) {
        auto set = OpenSet(Md5(), c.list);
        EXPECT_EQ(set->status().sourceFileCount, 2) << c.list;
        EXPECT_EQ(set->status().state, RecoveryState::AllVerified) << c.list;
        EXPECT_EQ(set->status().creatorText, c.creator) << c.list;
    }

    // A misnamed file is found and renamed back; md5sum agrees afterwards.
    ASSERT_EQ(std::rename(PathOf("a.bin").c_str(), PathOf("a.bin.1").c_str()), 0);
    auto set = OpenSet(Md5(), "tagged.md5");
    ASSERT_EQ(EntryNamed(*set, "a.bin")->state, FileState::Misnamed);
    set->Repair();
    EXPECT_EQ(set->status().state, RecoveryState::Repaired);
    EXPECT_EQ(test::RunShell(cd + "md5sum --quiet -c plain.md5"), 0);
}

}  // namespace
}  // namespace vantrove
