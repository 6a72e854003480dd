// The container of the program's own files: fields, digest, safe replacement
// and object references.

#include "engine/state_stream.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "support/test_env.h"

namespace vantrove {
namespace {

using test::FileExists;
using test::ReadFile;
using test::TempDir;

// Fails every write to a ".tmp" file once `failAfter` bytes have gone to it.
class FailingTmpWrites : public FileFaultInjector {
  public:
    explicit FailingTmpWrites(uint64_t failAfter) : failAfter_(failAfter) {
        SetFileFaultInjector(this);
    }
    ~FailingTmpWrites() override { SetFileFaultInjector(nullptr); }
    int BeforeWrite(const DiskFile& file, uint64_t offset, size_t length) override {
        const std::string& p = file.path;
        if (p.size() > 4 && p.compare(p.size() - 4, 4, ".tmp") == 0 &&
            offset + length > failAfter_) {
            return ENOSPC;
        }
        return 0;
    }

  private:
    uint64_t failAfter_;
};

bool WriteSample(const std::string& path, uint32_t marker, size_t padding = 0) {
    StateWriter w;
    if (!w.Open(path)) return false;
    w.WriteU32(marker);
    std::vector<uint8_t> pad(padding, 0x5A);
    w.WriteBytes(pad.data(), pad.size());
    return w.CloseStream();
}

uint32_t ReadMarker(const std::string& path) {
    StateReader r;
    if (!r.Open(path)) return 0;
    uint32_t marker = r.ReadU32();
    std::vector<uint8_t> rest(r.remaining());
    r.ReadBytes(rest.data(), rest.size());
    return r.CheckDigest() ? marker : 0;
}

TEST(StateStream, FieldsRoundTripLittleEndianWithTrailingDigest) {
    TempDir dir;
    const std::string path = dir.File("s.vt");
    {
        StateWriter w;
        ASSERT_TRUE(w.Open(path));
        w.WriteU32(0x01020304);
        w.WriteI32(-2);
        w.WriteU64(0x1122334455667788ULL);
        w.WriteString("movie");
        w.WriteString("");
        ASSERT_TRUE(w.CloseStream());
    }
    std::vector<uint8_t> bytes = ReadFile(path);
    ASSERT_EQ(bytes.size(), 4u + 4 + 8 + 4 + 5 + 4 + 16);
    EXPECT_EQ(bytes[0], 0x04);
    EXPECT_EQ(bytes[3], 0x01);
    EXPECT_EQ(bytes[8], 0x88);
    Md5Digest digest = Md5Of(bytes.data(), bytes.size() - 16);
    EXPECT_TRUE(std::equal(digest.bytes.begin(), digest.bytes.end(), bytes.end() - 16));
    EXPECT_FALSE(FileExists(path + ".tmp"));

    StateReader r;
    ASSERT_TRUE(r.Open(path));
    EXPECT_EQ(r.ReadU32(), 0x01020304u);
    EXPECT_EQ(r.ReadI32(), -2);
    EXPECT_EQ(r.ReadU64(), 0x1122334455667788ULL);
    std::string s;
    EXPECT_TRUE(r.ReadString(s));
    EXPECT_EQ(s, "movie");
    EXPECT_FALSE(r.CheckDigest());  // not everything read yet
    EXPECT_TRUE(r.ReadString(s));
    EXPECT_EQ(s, "");
    EXPECT_TRUE(r.CheckDigest());
}

TEST(StateStream, LargeStreamCrossesTheBufferAndKeepsItsDigest) {
    TempDir dir;
    std::mt19937_64 rng(test::TestSeed());
    // More than two buffers, not a multiple of the buffer size.
    std::vector<uint8_t> data = test::RandomBytes(rng, 2 * StateWriter::kBufferSize + 12345);
    StateWriter w;
    ASSERT_TRUE(w.Open(dir.File("big")));
    // Odd-sized pieces so that writes straddle the flush points.
    for (size_t i = 0; i < data.size(); i += 1000) {
        w.WriteBytes(data.data() + i, std::min<size_t>(1000, data.size() - i));
    }
    EXPECT_EQ(w.bytesWritten(), data.size());
    ASSERT_TRUE(w.CloseStream());
    StateReader r;
    ASSERT_TRUE(r.Open(dir.File("big")));
    std::vector<uint8_t> back(data.size());
    ASSERT_TRUE(r.ReadBytes(back.data(), back.size()));
    EXPECT_EQ(back, data);
    EXPECT_TRUE(r.CheckDigest());
}

TEST(StateStream, AnyDamagedByteFailsTheDigest) {
    TempDir dir;
    ASSERT_TRUE(WriteSample(dir.File("s"), 77, 40));
    std::vector<uint8_t> good = ReadFile(dir.File("s"));
    for (size_t i = 0; i < good.size(); i += 7) {
        std::vector<uint8_t> bad = good;
        bad[i] ^= 0x01;
        test::WriteFile(dir.File("s"), bad);
        EXPECT_EQ(ReadMarker(dir.File("s")), 0u) << "byte " << i;
    }
    test::WriteFile(dir.File("s"), good);
    EXPECT_EQ(ReadMarker(dir.File("s")), 77u);
}

TEST(StateStream, ReadsPastTheEndFailAndStayFailed) {
    StateReader r;
    std::vector<uint8_t> bytes(4 + 16, 0);
    bytes[0] = 9;
    r.OpenBytes(bytes);
    EXPECT_EQ(r.ReadU32(), 9u);
    EXPECT_EQ(r.ReadU64(), 0u);
    EXPECT_TRUE(r.failed());
    EXPECT_FALSE(r.CheckDigest());

    // A string whose length runs past the data.
    StateReader s;
    std::vector<uint8_t> hostile = {0xFF, 0xFF, 0xFF, 0x7F, 'a'};
    hostile.resize(hostile.size() + 16);
    s.OpenBytes(hostile);
    std::string text;
    EXPECT_FALSE(s.ReadString(text));
    EXPECT_TRUE(text.empty());

    StateReader tooShort;
    tooShort.OpenBytes(std::vector<uint8_t>(15));
    EXPECT_TRUE(tooShort.failed());
}

TEST(StateStream, SecondWriteKeepsTheFirstAsBak) {
    TempDir dir;
    const std::string path = dir.File("s.vt");
    ASSERT_TRUE(WriteSample(path, 1));
    ASSERT_TRUE(WriteSample(path, 2));
    EXPECT_EQ(ReadMarker(path), 2u);
    EXPECT_EQ(ReadMarker(path + ".bak"), 1u);
    ASSERT_TRUE(WriteSample(path, 3));
    EXPECT_EQ(ReadMarker(path), 3u);
    EXPECT_EQ(ReadMarker(path + ".bak"), 2u);
    EXPECT_FALSE(FileExists(path + ".bak.1"));
}

// A save moves the old file to ".bak" and then the new one to the name: a
// job killed in between leaves no file under the name, and a damaged file
// is no save either. The reader takes the previous save then.
TEST(StateStream, KilledBetweenTheRenamesOrDamagedReadsThePreviousSave) {
    TempDir dir;
    const std::string path = dir.File("s.vt");
    ASSERT_TRUE(WriteSample(path, 1));
    ASSERT_TRUE(WriteSample(path, 2));
    ASSERT_EQ(std::remove((path + ".bak").c_str()), 0);
    ASSERT_EQ(std::rename(path.c_str(), (path + ".bak").c_str()), 0);
    EXPECT_EQ(ReadMarker(path), 2u);
    // The next save puts everything in its place again.
    ASSERT_TRUE(WriteSample(path, 3));
    EXPECT_EQ(ReadMarker(path), 3u);
    EXPECT_FALSE(FileExists(path + ".tmp"));

    std::vector<uint8_t> bytes = ReadFile(path);
    bytes[1] ^= 0x40;
    test::WriteFile(path, bytes);
    EXPECT_EQ(ReadMarker(path), 2u);
    // Without a good previous save the damaged file stays a damaged file.
    ASSERT_EQ(std::remove((path + ".bak").c_str()), 0);
    EXPECT_EQ(ReadMarker(path), 0u);
    EXPECT_EQ(ReadMarker(dir.File("none.vt")), 0u);
}

TEST(StateStream, FailedWriteLeavesThePreviousFileReadable) {
    TempDir dir;
    const std::string path = dir.File("s.vt");
    ASSERT_TRUE(WriteSample(path, 1));
    ASSERT_TRUE(WriteSample(path, 2));
    {
        // Disk full in the middle of the second buffer.
        FailingTmpWrites full(StateWriter::kBufferSize + 100);
        EXPECT_FALSE(WriteSample(path, 3, 3 * StateWriter::kBufferSize));
    }
    EXPECT_EQ(ReadMarker(path), 2u);
    EXPECT_EQ(ReadMarker(path + ".bak"), 1u);
    EXPECT_FALSE(FileExists(path + ".tmp"));

    {
        // The digest itself cannot be written: still nothing replaced.
        FailingTmpWrites full(4);
        EXPECT_FALSE(WriteSample(path, 4));
    }
    EXPECT_EQ(ReadMarker(path), 2u);
    EXPECT_FALSE(FileExists(path + ".tmp"));
}

TEST(StateStream, WriterDroppedBeforeCloseChangesNothing) {
    TempDir dir;
    const std::string path = dir.File("s.vt");
    ASSERT_TRUE(WriteSample(path, 5));
    {
        StateWriter w;
        ASSERT_TRUE(w.Open(path));
        w.WriteU32(6);
    }
    EXPECT_EQ(ReadMarker(path), 5u);
    EXPECT_FALSE(FileExists(path + ".tmp"));
    EXPECT_FALSE(FileExists(path + ".bak"));
}

// A tiny object for reference tests: a value and an optional link.
struct Node {
    uint32_t value = 0;
    std::shared_ptr<Node> next;
};
constexpr auto kNode =
    static_cast<StateObjectType>(static_cast<int>(StateObjectType::FormatBase) + 1);

void WriteNode(StateWriter& w, const Node* node) {
    w.WriteReference(node, [&w, node] {
        w.WriteU32(node->value);
        WriteNode(w, node->next.get());
    });
}

bool ReadNode(StateReader& r, std::shared_ptr<Node>& out) {
    return r.ReadReference(
        kNode, out, [] { return std::make_shared<Node>(); },
        [&r](Node& n) {
            n.value = r.ReadU32();
            return ReadNode(r, n.next);
        });
}

std::vector<uint8_t> WithDigest(std::vector<uint8_t> content) {
    Md5Digest d = Md5Of(content.data(), content.size());
    content.insert(content.end(), d.bytes.begin(), d.bytes.end());
    return content;
}

void PutI32(std::vector<uint8_t>& out, int32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
}

TEST(StateStreamReferences, SharedObjectsAreWrittenOnceAndResolveToOneObject) {
    TempDir dir;
    auto shared = std::make_shared<Node>();
    shared->value = 42;
    auto a = std::make_shared<Node>();
    a->value = 1;
    a->next = shared;
    auto b = std::make_shared<Node>();
    b->value = 2;
    b->next = shared;
    auto loop = std::make_shared<Node>();
    loop->value = 3;
    loop->next = loop;  // refers to itself
    {
        StateWriter w;
        ASSERT_TRUE(w.Open(dir.File("r")));
        WriteNode(w, a.get());
        WriteNode(w, b.get());
        WriteNode(w, nullptr);
        WriteNode(w, loop.get());
        ASSERT_TRUE(w.CloseStream());
    }
    // a: -1, 1, -1, 42, 0 ; b: -1, 2, 2(shared) ; null: 0 ; loop: -1, 3, 4
    std::vector<uint8_t> bytes = ReadFile(dir.File("r"));
    EXPECT_EQ(bytes.size(), 4u * (5 + 3 + 1 + 3) + 16);
    StateReader r;
    ASSERT_TRUE(r.Open(dir.File("r")));
    std::shared_ptr<Node> ra, rb, rnull, rloop;
    ASSERT_TRUE(ReadNode(r, ra));
    ASSERT_TRUE(ReadNode(r, rb));
    ASSERT_TRUE(ReadNode(r, rnull));
    ASSERT_TRUE(ReadNode(r, rloop));
    EXPECT_TRUE(r.CheckDigest());
    EXPECT_EQ(ra->value, 1u);
    EXPECT_EQ(rb->value, 2u);
    EXPECT_EQ(ra->next, rb->next);
    EXPECT_EQ(ra->next->value, 42u);
    EXPECT_EQ(rnull, nullptr);
    EXPECT_EQ(rloop->next, rloop);
    rloop->next.reset();  // break the cycle for the leak checker
    loop->next.reset();
}

TEST(StateStreamReferences, UnassignedIndexIsAFormatError) {
    for (int32_t bad : {1, 2, 7, -2, INT32_MIN}) {
        std::vector<uint8_t> content;
        PutI32(content, -1);
        PutI32(content, 10);  // value
        PutI32(content, 0);   // next: null
        PutI32(content, bad);
        StateReader r;
        r.OpenBytes(WithDigest(content));
        std::shared_ptr<Node> first, second;
        ASSERT_TRUE(ReadNode(r, first));
        if (bad == 1) {
            EXPECT_TRUE(ReadNode(r, second));  // index 1 was assigned
            EXPECT_EQ(second, first);
        } else {
            EXPECT_FALSE(ReadNode(r, second)) << bad;
            EXPECT_TRUE(r.failed());
            EXPECT_FALSE(r.CheckDigest());
        }
    }
}

TEST(StateStreamReferences, ObjectOfAnotherTypeIsAFormatError) {
    std::vector<uint8_t> content;
    PutI32(content, -1);
    PutI32(content, 10);
    PutI32(content, 0);
    PutI32(content, 1);
    StateReader r;
    r.OpenBytes(WithDigest(content));
    std::shared_ptr<Node> node;
    ASSERT_TRUE(ReadNode(r, node));
    std::shared_ptr<Node> wrong;
    bool ok = r.ReadReference(
        StateObjectType::DiskFile, wrong, [] { return std::make_shared<Node>(); },
        [](Node&) { return true; });
    EXPECT_FALSE(ok);
    EXPECT_EQ(wrong, nullptr);
}

TEST(StateStreamReferences, DeepNestingIsRefusedNotRecursedInto) {
    // A chain of a million new objects, each nesting the next.
    std::vector<uint8_t> content;
    for (int i = 0; i < 1000000; ++i) {
        PutI32(content, -1);
        PutI32(content, i);
    }
    PutI32(content, 0);
    StateReader r;
    r.OpenBytes(WithDigest(content));
    std::shared_ptr<Node> head;
    EXPECT_FALSE(ReadNode(r, head));
    EXPECT_TRUE(r.failed());

    // Up to the limit it reads.
    std::vector<uint8_t> shallow;
    for (int i = 0; i < StateReader::kMaxReferenceDepth; ++i) {
        PutI32(shallow, -1);
        PutI32(shallow, i);
    }
    PutI32(shallow, 0);
    StateReader ok;
    ok.OpenBytes(WithDigest(shallow));
    ASSERT_TRUE(ReadNode(ok, head));
    EXPECT_TRUE(ok.CheckDigest());
    int depth = 0;
    for (auto n = head; n; n = n->next) ++depth;
    EXPECT_EQ(depth, StateReader::kMaxReferenceDepth);
}

}  // namespace
}  // namespace vantrove
