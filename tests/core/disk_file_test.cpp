#include "core/disk_file.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <fstream>
#include <functional>

#include "core/path.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

using test::FileExists;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

std::vector<uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

void AppendTo(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out << text;
}

// Installs a fault injector for one scope.
class ScopedInjector {
  public:
    explicit ScopedInjector(FileFaultInjector* injector) { SetFileFaultInjector(injector); }
    ~ScopedInjector() { SetFileFaultInjector(nullptr); }
};

// Counts what reaches the disk and can fail chosen operations.
class RecordingInjector : public FileFaultInjector {
  public:
    int reads = 0;
    int writeError = 0;
    int openError = 0;
    bool refuseNoReplace = false;
    std::function<void(const std::string& to)> beforeRename;

    int BeforeOpen(const std::string&, bool) override { return openError; }
    int BeforeRead(const DiskFile&, uint64_t, size_t) override {
        ++reads;
        return 0;
    }
    int BeforeWrite(const DiskFile&, uint64_t, size_t) override { return writeError; }
    int BeforeRename(const std::string&, const std::string& to) override {
        if (beforeRename) beforeRename(to);
        return 0;
    }
    bool RefuseNoReplaceRename() override { return refuseNoReplace; }
};

// A file that remembers what it last heard of its presence.
class WatchedFile : public DiskFile {
  public:
    using DiskFile::DiskFile;
    std::string heard;  // "created", "missing", or nothing yet

  protected:
    void PresenceChanged(Presence presence) override {
        heard = presence == Presence::Created ? "created" : "missing";
    }
};

// ---------------------------------------------------------------------------
// Opening and creating

TEST(DiskFileOpen, MissingFileIsReportedMissingWithInvalidHandle) {
    TempDir dir;
    WatchedFile file;
    EXPECT_FALSE(file.open(dir.File("absent")));
    EXPECT_FALSE(file.isOpen());
    EXPECT_EQ(file.heard, "missing");
    EXPECT_EQ(file.lastError(), ENOENT);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(file.path, dir.File("absent"));
}

TEST(DiskFileOpen, OtherFailuresDoNotMarkTheFileMissing) {
    TempDir dir;
    WatchedFile file;
    EXPECT_FALSE(file.open(dir.path()));  // a folder is not a file
    EXPECT_EQ(file.lastError(), EISDIR);
    EXPECT_FALSE(file.isOpen());
    EXPECT_EQ(file.heard, "");

    // A FIFO under a data file's name must neither hang nor open.
    ASSERT_EQ(mkfifo(dir.File("pipe").c_str(), 0600), 0);
    EXPECT_FALSE(file.open(dir.File("pipe")));
    EXPECT_FALSE(file.isOpen());
}

TEST(DiskFileOpen, ReadsSizeAndPlausibleTimes) {
    TempDir dir;
    FileTime before = CurrentFileTime();
    WriteFile(dir.File("f"), std::string(1234, 'x'));
    DiskFile file(dir.File("f"));
    ASSERT_TRUE(file.open());
    FileTime after = CurrentFileTime();
    EXPECT_EQ(file.size, 1234u);
    // File system clocks may run a tick behind the wall clock.
    const FileTime slack = 2 * 10000000ULL;
    EXPECT_GE(file.lastWriteTime + slack, before);
    EXPECT_LE(file.lastWriteTime, after + slack);
    EXPECT_GE(file.creationTime + slack, before);
    EXPECT_LE(file.creationTime, file.lastWriteTime);
}

TEST(DiskFileOpen, CloseRefreshesSizeAndTimes) {
    TempDir dir;
    DiskFile file;
    ASSERT_TRUE(file.create(dir.File("f")));
    ASSERT_TRUE(file.write(0, "abcdef", 6));
    file.size = 1;  // stale on purpose: close must take the size from the file
    file.close();
    EXPECT_FALSE(file.isOpen());
    EXPECT_EQ(file.size, 6u);
    EXPECT_NE(file.lastWriteTime, 0u);
}

TEST(DiskFileCreate, TruncatesAndAnnouncesTheFreshFile) {
    TempDir dir;
    WriteFile(dir.File("f"), "old contents");
    WatchedFile file;
    ASSERT_TRUE(file.create(dir.File("f")));
    EXPECT_TRUE(file.isOpen());
    EXPECT_EQ(file.size, 0u);
    EXPECT_EQ(file.heard, "created");
    ASSERT_TRUE(file.write(0, "new", 3));
    char back[3];
    ASSERT_TRUE(file.read(0, back, 3));
    EXPECT_EQ(std::string(back, 3), "new");
    file.close();
    EXPECT_EQ(ReadFile(dir.File("f")), Bytes("new"));
}

TEST(DiskFileCreate, RefusesSymbolicLinkAndLeavesItsTargetAlone) {
    TempDir dir;
    WriteFile(dir.File("precious"), "keep me");
    ASSERT_EQ(symlink(dir.File("precious").c_str(), dir.File("link").c_str()), 0);
    DiskFile file;
    EXPECT_FALSE(file.create(dir.File("link")));
    EXPECT_EQ(file.lastError(), ELOOP);
    EXPECT_FALSE(file.isOpen());
    EXPECT_EQ(ReadFile(dir.File("precious")), Bytes("keep me"));

    EXPECT_FALSE(file.openForWrite(dir.File("link")));
    EXPECT_EQ(file.lastError(), ELOOP);
    // Reading through a link is fine.
    EXPECT_TRUE(file.open(dir.File("link")));
    EXPECT_EQ(file.size, 7u);
    file.close();

    // A dangling link must not create its target either.
    ASSERT_EQ(symlink(dir.File("elsewhere").c_str(), dir.File("dangling").c_str()), 0);
    EXPECT_FALSE(file.create(dir.File("dangling")));
    EXPECT_FALSE(FileExists(dir.File("elsewhere")));
}

TEST(DiskFileCreate, IsExclusiveWhileOpen) {
    TempDir dir;
    DiskFile first;
    ASSERT_TRUE(first.create(dir.File("f")));
    ASSERT_TRUE(first.write(0, "data", 4));
    DiskFile second;
    EXPECT_FALSE(second.create(dir.File("f")));
    EXPECT_EQ(second.lastError(), EBUSY);
    EXPECT_FALSE(second.isOpen());
    first.close();
    EXPECT_EQ(ReadFile(dir.File("f")), Bytes("data"));  // not truncated by the loser
    EXPECT_TRUE(second.create(dir.File("f")));
}

TEST(DiskFileCreate, LongNamesWorkUpToTheSystemLimit) {
    TempDir dir;
    // Far beyond 260 characters, through nested folders.
    std::string folder = dir.path();
    for (int i = 0; i < 4; ++i) {
        folder += "/" + std::string(100, 'a' + i);
        ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    }
    DiskFile file;
    ASSERT_TRUE(file.create(folder + "/" + std::string(200, 'z')));
    EXPECT_GT(file.path.size(), 600u);
    file.close();

    DiskFile tooLong;
    EXPECT_FALSE(tooLong.create(dir.path() + "/" + std::string(PATH_MAX, 'q')));
    EXPECT_EQ(tooLong.lastError(), ENAMETOOLONG);
}

TEST(DiskFileCreate, OpenForWriteNeedsAnExistingFileAndKeepsItsData) {
    TempDir dir;
    DiskFile file;
    EXPECT_FALSE(file.openForWrite(dir.File("absent")));
    EXPECT_FALSE(FileExists(dir.File("absent")));

    WriteFile(dir.File("target"), "0123456789");
    ASSERT_TRUE(file.openForWrite(dir.File("target")));
    EXPECT_EQ(file.size, 10u);
    ASSERT_TRUE(file.write(2, "AB", 2));
    file.close();
    EXPECT_EQ(ReadFile(dir.File("target")), Bytes("01AB456789"));
}

TEST(DiskFileCreate, InjectedOpenFailureLeavesHandleInvalid) {
    TempDir dir;
    WriteFile(dir.File("f"), "abc");
    RecordingInjector injector;
    injector.openError = EACCES;
    ScopedInjector scope(&injector);
    WatchedFile file;
    EXPECT_FALSE(file.open(dir.File("f")));
    EXPECT_FALSE(file.isOpen());
    EXPECT_EQ(file.lastError(), EACCES);
    EXPECT_EQ(file.heard, "");
}

// ---------------------------------------------------------------------------
// Reading and writing

TEST(DiskFileRead, UpToTheRecordedSizeOnlyAndWithoutDiskAccessBeyond) {
    TempDir dir;
    WriteFile(dir.File("f"), "0123456789");
    DiskFile file(dir.File("f"));
    ASSERT_TRUE(file.open());
    // The file grows behind our back: the recorded size still rules.
    AppendTo(dir.File("f"), "abcdef");

    RecordingInjector injector;
    ScopedInjector scope(&injector);
    char buffer[16] = {};
    EXPECT_TRUE(file.read(6, buffer, 4));
    EXPECT_EQ(std::string(buffer, 4), "6789");
    EXPECT_EQ(injector.reads, 1);

    EXPECT_FALSE(file.read(6, buffer, 5));
    EXPECT_EQ(file.lastError(), kErrorHandleEof);
    EXPECT_FALSE(file.read(11, buffer, 0));
    EXPECT_FALSE(file.read(UINT64_MAX, buffer, 2));  // no wrap-around
    EXPECT_EQ(injector.reads, 1);                    // none of these reached the disk

    EXPECT_TRUE(file.read(10, buffer, 0));
}

TEST(DiskFileRead, ClosedHandleFailsWithBadDescriptor) {
    TempDir dir;
    WriteFile(dir.File("f"), "0123456789");
    DiskFile file(dir.File("f"));
    char buffer[4];
    EXPECT_FALSE(file.read(0, buffer, 4));
    EXPECT_EQ(file.lastError(), EBADF);
    EXPECT_EQ(errno, EBADF);
}

TEST(DiskFileRead, FileShrunkUnderneathGivesShortReadFailure) {
    TempDir dir;
    WriteFile(dir.File("f"), "0123456789");
    DiskFile file(dir.File("f"));
    ASSERT_TRUE(file.open());
    ASSERT_EQ(truncate(dir.File("f").c_str(), 5), 0);
    char buffer[10];
    EXPECT_FALSE(file.read(0, buffer, 10));
    EXPECT_EQ(file.lastError(), kErrorHandleEof);
}

// Small reads go through a read-ahead window: whatever the pieces, they give
// the file's bytes; the window never outlives a close, and a file that shrank
// still gives the bytes it kept.
TEST(DiskFileRead, SmallPiecesGiveTheFilesBytesAcrossWindowBorders) {
    TempDir dir;
    std::string content(300000, '\0');
    uint32_t x = 12345;
    for (char& c : content) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    WriteFile(dir.File("f"), content);
    DiskFile file(dir.File("f"));
    ASSERT_TRUE(file.open());
    std::vector<char> buffer(20000);
    uint64_t at = 0;
    for (size_t step = 1; at < content.size(); step = step * 7 % 20011 + 1) {
        const size_t length = std::min<uint64_t>(step, content.size() - at);
        ASSERT_TRUE(file.read(at, buffer.data(), length)) << at;
        ASSERT_EQ(std::string(buffer.data(), length), content.substr(at, length)) << at;
        at += length;
    }
    // Backwards, the last bytes first.
    for (uint64_t back = content.size(); back >= 9000; back -= 9000) {
        ASSERT_TRUE(file.read(back - 64, buffer.data(), 64));
        ASSERT_EQ(std::string(buffer.data(), 64), content.substr(back - 64, 64));
    }
    file.close();

    content[100] ^= 1;
    WriteFile(dir.File("f"), content);
    ASSERT_TRUE(file.open());
    ASSERT_TRUE(file.read(90, buffer.data(), 20));
    EXPECT_EQ(std::string(buffer.data(), 20), content.substr(90, 20));

    file.close();
    ASSERT_TRUE(file.open());
    ASSERT_EQ(truncate(dir.File("f").c_str(), 5000), 0);
    ASSERT_TRUE(file.read(4000, buffer.data(), 1000));
    EXPECT_EQ(std::string(buffer.data(), 1000), content.substr(4000, 1000));
    EXPECT_FALSE(file.read(4500, buffer.data(), 1000));
    EXPECT_EQ(file.lastError(), kErrorHandleEof);
}

TEST(DiskFileWrite, PastTheEndRaisesTheSizeInsideLeavesIt) {
    TempDir dir;
    DiskFile file;
    ASSERT_TRUE(file.create(dir.File("f")));
    ASSERT_TRUE(file.write(0, "0123456789", 10));
    EXPECT_EQ(file.size, 10u);
    ASSERT_TRUE(file.write(2, "ab", 2));
    EXPECT_EQ(file.size, 10u);
    ASSERT_TRUE(file.write(8, "XYZ", 3));
    EXPECT_EQ(file.size, 11u);
    ASSERT_TRUE(file.write(20, "!", 1));  // leaves a hole of zeros
    EXPECT_EQ(file.size, 21u);
    file.close();
    std::vector<uint8_t> expected = Bytes("01ab4567XYZ");
    expected.resize(20, 0);
    expected.push_back('!');
    EXPECT_EQ(ReadFile(dir.File("f")), expected);
}

TEST(DiskFileWrite, FailsOnClosedOrReadOnlyHandle) {
    TempDir dir;
    WriteFile(dir.File("f"), "abc");
    DiskFile file(dir.File("f"));
    EXPECT_FALSE(file.write(0, "x", 1));
    EXPECT_EQ(file.lastError(), EBADF);
    ASSERT_TRUE(file.open());
    EXPECT_FALSE(file.write(0, "x", 1));
    EXPECT_EQ(file.lastError(), EBADF);
    EXPECT_EQ(file.size, 3u);
}

TEST(DiskFileWrite, DiskFullIsReportedAndTheSizeKept) {
    TempDir dir;
    DiskFile file;
    ASSERT_TRUE(file.create(dir.File("f")));
    ASSERT_TRUE(file.write(0, "abcd", 4));
    RecordingInjector injector;
    injector.writeError = ENOSPC;
    ScopedInjector scope(&injector);
    EXPECT_FALSE(file.write(4, "efgh", 4));
    EXPECT_EQ(file.lastError(), ENOSPC);
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(file.size, 4u);
    EXPECT_EQ(SystemErrorText(file.lastError()), "No space left on device");
    file.close();
    EXPECT_EQ(file.lastError(), ENOSPC);  // closing keeps the error to report
}

TEST(DiskFileWrite, SetSizeTruncatesAndExtends) {
    TempDir dir;
    DiskFile file;
    ASSERT_TRUE(file.create(dir.File("f")));
    ASSERT_TRUE(file.write(0, "0123456789", 10));
    ASSERT_TRUE(file.setSize(4));
    EXPECT_EQ(file.size, 4u);
    char buffer[8];
    EXPECT_FALSE(file.read(0, buffer, 5));
    ASSERT_TRUE(file.setSize(8));
    ASSERT_TRUE(file.read(0, buffer, 8));
    EXPECT_EQ(std::string(buffer, 8), std::string("0123\0\0\0\0", 8));
    file.close();
    EXPECT_EQ(file.size, 8u);

    DiskFile closed;
    EXPECT_FALSE(closed.setSize(3));
    EXPECT_EQ(closed.lastError(), EBADF);
}

// ---------------------------------------------------------------------------
// Removing

TEST(DiskFileRemove, DeletesAndMarksMissing) {
    TempDir dir;
    WatchedFile file;
    ASSERT_TRUE(file.create(dir.File("f")));
    ASSERT_TRUE(file.write(0, "x", 1));
    ASSERT_TRUE(file.remove());  // even while open
    EXPECT_FALSE(file.isOpen());
    EXPECT_EQ(file.heard, "missing");
    EXPECT_FALSE(FileExists(dir.File("f")));

    file.heard.clear();
    EXPECT_FALSE(file.remove());
    EXPECT_EQ(file.lastError(), ENOENT);
    EXPECT_EQ(file.heard, "missing");
}

// ---------------------------------------------------------------------------
// Renaming, with the atomic no-replace rename and with the link fallback

class DiskFileRename : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        injector_.refuseNoReplace = GetParam();
        SetFileFaultInjector(&injector_);
    }
    void TearDown() override { SetFileFaultInjector(nullptr); }

    RecordingInjector injector_;
    TempDir dir_;
};

TEST_P(DiskFileRename, ToAFreeNameMovesTheFile) {
    WriteFile(dir_.File("a"), "A");
    DiskFile file(dir_.File("a"));
    ASSERT_TRUE(file.rename(dir_.File("b")));
    EXPECT_EQ(file.path, dir_.File("b"));
    EXPECT_FALSE(FileExists(dir_.File("a")));
    EXPECT_EQ(ReadFile(dir_.File("b")), Bytes("A"));
}

TEST_P(DiskFileRename, ToATakenNameUsesTheFirstFreeNumber) {
    WriteFile(dir_.File("a"), "A");
    WriteFile(dir_.File("c"), "A2");
    WriteFile(dir_.File("n"), "N");
    DiskFile file(dir_.File("a"));
    ASSERT_TRUE(file.rename(dir_.File("n")));
    EXPECT_EQ(file.path, dir_.File("n.1"));
    EXPECT_EQ(ReadFile(dir_.File("n")), Bytes("N"));
    EXPECT_EQ(ReadFile(dir_.File("n.1")), Bytes("A"));

    DiskFile second(dir_.File("c"));
    ASSERT_TRUE(second.rename(dir_.File("n")));
    EXPECT_EQ(second.path, dir_.File("n.2"));
    EXPECT_EQ(ReadFile(dir_.File("n.1")), Bytes("A"));
    EXPECT_EQ(ReadFile(dir_.File("n.2")), Bytes("A2"));
}

TEST_P(DiskFileRename, WithoutTargetStepsAsideUnderANumberedName) {
    WriteFile(dir_.File("f"), "first");
    DiskFile file(dir_.File("f"));
    ASSERT_TRUE(file.rename());
    EXPECT_EQ(file.path, dir_.File("f.1"));
    EXPECT_FALSE(FileExists(dir_.File("f")));

    WriteFile(dir_.File("f"), "second");
    DiskFile other(dir_.File("f"));
    ASSERT_TRUE(other.rename());
    EXPECT_EQ(other.path, dir_.File("f.2"));
    EXPECT_EQ(ReadFile(dir_.File("f.1")), Bytes("first"));
    EXPECT_EQ(ReadFile(dir_.File("f.2")), Bytes("second"));
}

TEST_P(DiskFileRename, NeverReplacesAFileThatAppearsAtTheTarget) {
    WriteFile(dir_.File("a"), "mine");
    // Someone else creates each target just before we move there, twice.
    int planted = 0;
    injector_.beforeRename = [&](const std::string& to) {
        if (planted < 2) {
            WriteFile(to, "theirs " + std::to_string(planted++));
        }
    };
    DiskFile file(dir_.File("a"));
    ASSERT_TRUE(file.rename(dir_.File("t")));
    EXPECT_EQ(file.path, dir_.File("t.2"));
    EXPECT_EQ(ReadFile(dir_.File("t")), Bytes("theirs 0"));
    EXPECT_EQ(ReadFile(dir_.File("t.1")), Bytes("theirs 1"));
    EXPECT_EQ(ReadFile(dir_.File("t.2")), Bytes("mine"));
    EXPECT_FALSE(FileExists(dir_.File("a")));
}

TEST_P(DiskFileRename, FailureChangesNothing) {
    DiskFile file(dir_.File("absent"));
    EXPECT_FALSE(file.rename(dir_.File("b")));
    EXPECT_EQ(file.lastError(), ENOENT);
    EXPECT_EQ(file.path, dir_.File("absent"));
    EXPECT_FALSE(FileExists(dir_.File("b")));

    WriteFile(dir_.File("a"), "A");
    DiskFile tooLong(dir_.File("a"));
    EXPECT_FALSE(tooLong.rename(dir_.path() + "/" + std::string(PATH_MAX, 'q')));
    EXPECT_EQ(tooLong.lastError(), ENAMETOOLONG);
    EXPECT_EQ(tooLong.path, dir_.File("a"));
    EXPECT_TRUE(FileExists(dir_.File("a")));
}

TEST_P(DiskFileRename, AnOpenFileStaysReadableUnderItsNewName) {
    WriteFile(dir_.File("a"), "payload");
    DiskFile file(dir_.File("a"));
    ASSERT_TRUE(file.open());
    ASSERT_TRUE(file.rename(dir_.File("b")));
    char buffer[7];
    ASSERT_TRUE(file.read(0, buffer, 7));
    EXPECT_EQ(std::string(buffer, 7), "payload");
    file.close();
    ASSERT_TRUE(file.open());
    EXPECT_EQ(file.size, 7u);
}

INSTANTIATE_TEST_SUITE_P(Ways, DiskFileRename, ::testing::Values(false, true),
                         [](const auto& info) {
                             return info.param ? std::string("LinkFallback")
                                               : std::string("NoReplaceRename");
                         });

// ---------------------------------------------------------------------------
// Work files

TEST(WorkFileTest, NamesGoBothWaysOnlyForOurOwn) {
    EXPECT_EQ(PartPathOf("/d/a.bin"), "/d/.a.bin.vantrove-part");
    EXPECT_EQ(PartPathOf("a.bin"), ".a.bin.vantrove-part");
    EXPECT_TRUE(IsPartFileName(".x.vantrove-part"));
    for (const char* other : {"x.vantrove-part", ".vantrove-part", "..vantrove-part.1", "a"})
        EXPECT_FALSE(IsPartFileName(other)) << other;
    // A file merely named like a work file keeps its name.
    EXPECT_EQ(FinalPathOfPart("/d/.a.bin.vantrove-part"), "/d/.a.bin.vantrove-part");
    TempDir dir;
    DiskFile file;
    ASSERT_TRUE(file.createWorkFile(dir.File("a.bin")));
    EXPECT_EQ(file.path, PartPathOf(dir.File("a.bin")));
    EXPECT_EQ(FinalPathOfPart(file.path), dir.File("a.bin"));
}

// A work file is journaled before it is made and never made over another's
// file: names taken by the user (and a journal name of theirs) stay as they
// were, and only the work files of ours are listed and removed.
TEST(WorkFileTest, OnlyJournaledWorkFilesAreOursToRemove) {
    TempDir dir;
    WriteFile(dir.File(".a.bin.vantrove-part"), "user a");
    WriteFile(dir.File(".notes.vantrove-part"), "user notes");
    WriteFile(dir.File(".vantrove-journal"), "user journal");
    WriteFile(dir.File("target"), "linked to");
    ASSERT_EQ(symlink(dir.File("target").c_str(), dir.File(".l.vantrove-part").c_str()), 0);
    ASSERT_EQ(mkdir(dir.File(".f.vantrove-part").c_str(), 0700), 0);

    DiskFile a, b;
    ASSERT_TRUE(a.createWorkFile(dir.File("a.bin")));
    ASSERT_TRUE(b.createWorkFile(dir.File("b.bin")));
    ASSERT_TRUE(a.write(0, "ours", 4));
    a.close();
    b.close();
    EXPECT_NE(a.path, PartPathOf(dir.File("a.bin")));
    EXPECT_TRUE(IsPartFileName(FileNameOfPath(a.path))) << a.path;
    EXPECT_TRUE(IsRecordedWorkFile(a.path));
    EXPECT_FALSE(IsRecordedWorkFile(dir.File(".notes.vantrove-part")));
    EXPECT_TRUE(IsWorkJournal(dir.File(".vantrove-journal-2")));
    EXPECT_FALSE(IsWorkJournal(dir.File(".vantrove-journal")));
    const std::vector<std::string> ours{FileNameOfPath(a.path), ".b.bin.vantrove-part"};
    EXPECT_EQ(ListPartFiles(dir.path()), ours);

    EXPECT_EQ(RemovePartFiles(dir.path()), ours);
    EXPECT_FALSE(FileExists(a.path));
    EXPECT_FALSE(FileExists(dir.File(".vantrove-journal-2")));
    EXPECT_EQ(ReadFile(dir.File(".a.bin.vantrove-part")), Bytes("user a"));
    EXPECT_EQ(ReadFile(dir.File(".notes.vantrove-part")), Bytes("user notes"));
    EXPECT_EQ(ReadFile(dir.File(".vantrove-journal")), Bytes("user journal"));
    EXPECT_TRUE(FileExists(dir.File("target")));
    EXPECT_TRUE(FileExists(dir.File(".f.vantrove-part")));
    EXPECT_TRUE(ListPartFiles(dir.path()).empty());
}

// Once its work files are in place or deleted the journal goes; a name it
// recorded then proves nothing, so a file made there later is not removed.
TEST(WorkFileTest, JournalGoesWithItsLastWorkFile) {
    TempDir dir;
    DiskFile a, b;
    ASSERT_TRUE(a.createWorkFile(dir.File("a.bin")));
    ASSERT_TRUE(b.createWorkFile(dir.File("b.bin")));
    ASSERT_TRUE(a.moveIntoPlace(dir.File("a.bin")));
    EXPECT_TRUE(FileExists(dir.File(".vantrove-journal")));
    ASSERT_TRUE(b.remove());
    EXPECT_FALSE(FileExists(dir.File(".vantrove-journal")));
    WriteFile(PartPathOf(dir.File("a.bin")), "made later");
    EXPECT_TRUE(RemovePartFiles(dir.path()).empty());
    EXPECT_EQ(ReadFile(PartPathOf(dir.File("a.bin"))), Bytes("made later"));
}

TEST(WorkFileTest, MoveIntoPlaceNeverReplacesUnlessAsked) {
    TempDir dir;
    DiskFile file;
    ASSERT_TRUE(file.create(PartPathOf(dir.File("out"))));
    ASSERT_TRUE(file.write(0, "new", 3));
    WriteFile(dir.File("out"), "old");
    EXPECT_FALSE(file.moveIntoPlace(dir.File("out")));
    EXPECT_EQ(file.lastError(), EEXIST);
    EXPECT_EQ(file.path, PartPathOf(dir.File("out")));
    EXPECT_EQ(ReadFile(dir.File("out")), (std::vector<uint8_t>{'o', 'l', 'd'}));
    ASSERT_TRUE(file.moveIntoPlace(dir.File("out"), true));
    EXPECT_EQ(file.path, dir.File("out"));
    EXPECT_FALSE(FileExists(PartPathOf(dir.File("out"))));
    file.close();
    EXPECT_EQ(ReadFile(dir.File("out")), (std::vector<uint8_t>{'n', 'e', 'w'}));
}

// ---------------------------------------------------------------------------
// Times and error texts

TEST(FileTimeTest, CountsHundredNanosecondsSince1601) {
    EXPECT_EQ(FileTimeFromUnix(0, 0), kFileTimeUnixEpoch);
    EXPECT_EQ(FileTimeFromUnix(1, 250), kFileTimeUnixEpoch + 10000002ULL);
    // 1601-01-01 itself.
    EXPECT_EQ(FileTimeFromUnix(-11644473600LL, 0), 0u);
    FileTime now = CurrentFileTime();
    FileTime expected = FileTimeFromUnix(time(nullptr), 0);
    EXPECT_LE(now > expected ? now - expected : expected - now, 20000000ULL);
}

TEST(SystemErrorTextTest, GivesTheSystemsTextForAnErrno) {
    EXPECT_EQ(SystemErrorText(ENOENT), "No such file or directory");
    EXPECT_EQ(SystemErrorText(kErrorHandleEof), "No data available");
    EXPECT_FALSE(SystemErrorText(987654).empty());
}

}  // namespace
}  // namespace vantrove
