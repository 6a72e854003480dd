#include "engine/block_scanner.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <random>
#include <string>
#include <vector>

#include "core/crc32.h"
#include "engine/block_lookup.h"
#include "support/test_env.h"

namespace vantrove {
namespace {

using test::RandomBytes;
using test::TempDir;
using test::TestSeed;

// Direct computations over the file's bytes, padded with zeros.
std::vector<uint8_t> PaddedWindow(const std::vector<uint8_t>& data, uint64_t offset,
                                  uint64_t blockSize, uint64_t limit = UINT64_MAX) {
    std::vector<uint8_t> window(blockSize, 0);
    for (uint64_t i = 0; i < blockSize && i < limit && offset + i < data.size(); ++i) {
        window[i] = data[offset + i];
    }
    return window;
}
uint32_t RefCrc(const std::vector<uint8_t>& data, uint64_t offset, uint64_t blockSize,
                uint64_t limit = UINT64_MAX) {
    std::vector<uint8_t> w = PaddedWindow(data, offset, blockSize, limit);
    return Crc32Update(0, w.data(), w.size());
}
Md5Digest RefMd5(const std::vector<uint8_t>& data, uint64_t offset, uint64_t blockSize,
                 uint64_t limit = UINT64_MAX) {
    std::vector<uint8_t> w = PaddedWindow(data, offset, blockSize, limit);
    return Md5Of(w.data(), w.size());
}

// A scanner over a file written with the given bytes.
struct Fixture {
    TempDir dir;
    std::vector<uint8_t> data;
    DiskFile file;
    Crc32Window window;
    BlockScanner scanner;

    bool Begin(const std::vector<uint8_t>& bytes, uint32_t blockSize,
               BlockScanner::Options options = {}) {
        data = bytes;
        std::string path = dir.File("data.bin");
        test::WriteFile(path, data);
        if (!file.open(path)) return false;
        window.Build(blockSize);
        return scanner.Start(file, window, options);
    }
};

BlockScanner::Options SmallBuffers(uint32_t size, bool threaded) {
    BlockScanner::Options options;
    options.bufferSize = size;
    options.digestThreadMinSize = threaded ? 0 : UINT64_MAX;
    return options;
}

void ExpectFileDigests(BlockScanner& scanner, const std::vector<uint8_t>& data) {
    Md5Digest whole, head;
    ASSERT_TRUE(scanner.Finish(&whole, &head));
    EXPECT_EQ(whole, Md5Of(data.data(), data.size()));
    EXPECT_EQ(head, Md5Of(data.data(), std::min<size_t>(data.size(), 16384)));
}

TEST(BlockScannerTest, WindowCrcAndMd5AtEveryOffset) {
    std::mt19937_64 rng(TestSeed());
    const uint32_t blockSizes[] = {1, 4, 100, 1000};
    for (uint32_t b : blockSizes) {
        const uint64_t sizes[] = {0, 1, b - 1ull, b, b + 1ull, 3ull * b + 17, 5000};
        for (uint64_t size : sizes) {
            for (uint32_t buffer : {64u, 32768u}) {
                SCOPED_TRACE("block " + std::to_string(b) + " size " + std::to_string(size) +
                             " buffer " + std::to_string(buffer));
                Fixture f;
                ASSERT_TRUE(f.Begin(RandomBytes(rng, size), b, SmallBuffers(buffer, size & 1)));
                uint64_t expected = 0;
                do {
                    ASSERT_EQ(f.scanner.offset(), expected);
                    uint64_t real = std::min<uint64_t>(b, size - std::min(size, expected));
                    ASSERT_EQ(f.scanner.RealBytes(), real);
                    ASSERT_EQ(f.scanner.IsShort(), real < b);
                    ASSERT_EQ(f.scanner.Crc(), RefCrc(f.data, expected, b));
                    if (expected % 7 == 0 || real < b) {
                        ASSERT_EQ(f.scanner.WindowMd5(), RefMd5(f.data, expected, b));
                    }
                    ++expected;
                } while (f.scanner.Slide());
                EXPECT_EQ(f.scanner.offset(), size);
                EXPECT_FALSE(f.scanner.More());
                EXPECT_FALSE(f.scanner.failed());
                ExpectFileDigests(f.scanner, f.data);
            }
        }
    }
}

TEST(BlockScannerTest, SlideUntilStopsAtEachFilterCandidate) {
    std::mt19937_64 rng(TestSeed());
    // A dense hand-made filter (about one CRC in four passes) exercises the
    // resolution of a hit inside a four-byte round.
    std::vector<uint64_t> words(64);
    for (auto& w : words) w = rng();
    CrcFilter filter{words.data(), 63};
    const uint32_t b = 96;
    for (uint32_t buffer : {64u, 4096u}) {
        Fixture f;
        ASSERT_TRUE(f.Begin(RandomBytes(rng, 20011), b, SmallBuffers(buffer, false)));
        std::vector<uint64_t> expected;
        for (uint64_t o = 1; o <= f.data.size(); ++o) {
            if (filter.MayContain(RefCrc(f.data, o, b))) expected.push_back(o);
        }
        std::vector<uint64_t> stops;
        uint64_t maxStep = 1;
        while (f.scanner.More()) {
            uint64_t before = f.scanner.offset();
            uint64_t slid = f.scanner.SlideUntil(filter, maxStep);
            ASSERT_GT(slid, 0u);
            ASSERT_EQ(f.scanner.offset(), before + slid);
            ASSERT_EQ(f.scanner.Crc(), RefCrc(f.data, f.scanner.offset(), b));
            if (filter.MayContain(f.scanner.Crc())) {
                stops.push_back(f.scanner.offset());
            } else {
                ASSERT_EQ(slid, std::min<uint64_t>(maxStep, f.data.size() - before));
            }
            maxStep = maxStep * 3 % 1000 + 1;  // short and long requests
        }
        EXPECT_EQ(stops, expected);
    }
}

TEST(BlockScannerTest, SkipAndSlideInAnyPatternKeepWindowAndDigestsRight) {
    std::mt19937_64 rng(TestSeed());
    const uint32_t b = 1000;  // spans many 64-byte buffers
    const uint64_t sizes[] = {0, 999, 16383, 16384, 16385, 40000};
    for (uint64_t size : sizes) {
        for (int pattern = 0; pattern < 4; ++pattern) {
            for (bool threaded : {false, true}) {
                SCOPED_TRACE("size " + std::to_string(size) + " pattern " +
                             std::to_string(pattern) + (threaded ? " threaded" : ""));
                Fixture f;
                ASSERT_TRUE(f.Begin(RandomBytes(rng, size), b, SmallBuffers(64, threaded)));
                while (pattern != 0 && f.scanner.More()) {
                    if (pattern == 1 || (pattern == 3 && rng() % 2)) {
                        uint64_t n = pattern == 1 ? b : rng() % (3 * b) + 1;
                        uint64_t before = f.scanner.offset();
                        ASSERT_TRUE(f.scanner.Skip(n));
                        ASSERT_EQ(f.scanner.offset(), std::min<uint64_t>(size, before + n));
                    } else {
                        uint64_t n = rng() % 50 + 1;
                        for (uint64_t i = 0; i < n && f.scanner.Slide(); ++i) {
                        }
                    }
                    uint64_t o = f.scanner.offset();
                    ASSERT_EQ(f.scanner.Crc(), RefCrc(f.data, o, b));
                    ASSERT_EQ(f.scanner.WindowMd5(), RefMd5(f.data, o, b));
                }
                ExpectFileDigests(f.scanner, f.data);
                // Nothing moves after the end.
                EXPECT_FALSE(f.scanner.Slide());
                EXPECT_FALSE(f.scanner.Skip(1));
            }
        }
    }
}

TEST(BlockScannerTest, DigestThreadRunsAheadAndBehindOverALargerFile) {
    std::mt19937_64 rng(TestSeed());
    std::vector<uint8_t> data = RandomBytes(rng, (3 << 20) + 12345);
    for (bool threaded : {false, true}) {
        Fixture f;
        ASSERT_TRUE(f.Begin(data, 65536, SmallBuffers(4096, threaded)));
        // Slide a little at a few places, skip the rest block by block.
        int round = 0;
        while (f.scanner.More()) {
            if (++round % 5 == 0) {
                for (int i = 0; i < 300 && f.scanner.Slide(); ++i) {
                }
                ASSERT_EQ(f.scanner.Crc(), RefCrc(f.data, f.scanner.offset(), 65536));
            } else {
                ASSERT_TRUE(f.scanner.Skip(65536));
            }
        }
        ExpectFileDigests(f.scanner, f.data);
    }
}

TEST(BlockScannerTest, FinishWithoutMovingStillHashesEveryByte) {
    std::mt19937_64 rng(TestSeed());
    for (bool threaded : {false, true}) {
        Fixture f;
        ASSERT_TRUE(f.Begin(RandomBytes(rng, 200000), 4096, SmallBuffers(1024, threaded)));
        ASSERT_TRUE(f.scanner.Slide());
        ExpectFileDigests(f.scanner, f.data);
        Md5Digest again;
        EXPECT_TRUE(f.scanner.Finish(&again, nullptr));
        EXPECT_EQ(again, Md5Of(f.data.data(), f.data.size()));
    }
}

TEST(BlockScannerTest, PaddedPrefixHashesAndTrailingZeros) {
    std::mt19937_64 rng(TestSeed());
    const uint32_t b = 512;
    std::vector<uint8_t> data = RandomBytes(rng, 3000);
    // Zero runs of various lengths, one longer than a block.
    std::fill(data.begin() + 100, data.begin() + 140, 0);
    std::fill(data.begin() + 700, data.begin() + 1300, 0);
    std::fill(data.end() - 10, data.end(), 0);
    Fixture f;
    ASSERT_TRUE(f.Begin(data, b, SmallBuffers(64, false)));
    for (uint64_t o = 0; f.scanner.More(); o = f.scanner.offset()) {
        uint64_t real = f.scanner.RealBytes();
        for (uint64_t n :
             {uint64_t(0), uint64_t(1), real / 3, real - 1, real, real + 5, uint64_t(b)}) {
            ASSERT_EQ(f.scanner.PaddedCrc(n), RefCrc(f.data, o, b, n)) << o << " " << n;
            ASSERT_EQ(f.scanner.PaddedMd5(n), RefMd5(f.data, o, b, n)) << o << " " << n;
        }
        std::vector<uint8_t> w = PaddedWindow(f.data, o, b);
        uint64_t zeros = 0;
        while (zeros < b && w[b - 1 - zeros] == 0) ++zeros;
        ASSERT_EQ(f.scanner.TrailingZeros(), zeros) << o;
        if (o % 3 == 0) {
            f.scanner.Skip(37);
        } else {
            f.scanner.Slide();
        }
    }
}

TEST(BlockScannerTest, RingHoldsTwoOrThreeBlocksAndOnlyOneAboveTheLimit) {
    std::mt19937_64 rng(TestSeed());
    struct Case {
        uint32_t blockSize;
        uint64_t minBytes, maxBytes;
    };
    // A 7,000,000-byte file with 32 KiB buffers: windows touch the first
    // (7,000,000 - 1 + B) / 32,768 + 1 chunks, and the ring never needs more.
    const Case cases[] = {
        {4, 32 * 32768, 32 * 32768},                      // at least 32 buffers
        {384000, 3 * 384000, 3 * 384000 + 32768},         // three block sizes
        {6000000, 2 * 6000000, 2 * 6000000 + 32768},      // two above 5,000,000
        {100000004, 100000004, 100000004 + (33u << 20)},  // one plus read-ahead
        // (cut to the 3,265 chunks that the file can use)
    };
    std::vector<uint8_t> data = RandomBytes(rng, 7000000);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.blockSize);
        Fixture f;
        ASSERT_TRUE(f.Begin(data, c.blockSize, SmallBuffers(32768, true)));
        EXPECT_GE(f.scanner.ringBytes(), c.minBytes);
        EXPECT_LE(f.scanner.ringBytes(), c.maxBytes);
        // The window is right however large the block.
        for (int i = 0; i < 5; ++i) {
            uint64_t o = f.scanner.offset();
            uint64_t real = std::min<uint64_t>(c.blockSize, data.size() - o);
            ASSERT_EQ(f.scanner.Crc(),
                      Crc32UpdateZeros(Crc32Update(0, data.data() + o, real), c.blockSize - real));
            for (int k = 0; k < 999; ++k) f.scanner.Slide();
        }
        ASSERT_TRUE(f.scanner.Skip(150000));
        uint64_t o = f.scanner.offset();
        uint64_t real = std::min<uint64_t>(c.blockSize, data.size() - o);
        Md5Context md5;
        md5.Update(data.data() + o, real);
        md5.UpdateZeros(c.blockSize - real);
        EXPECT_EQ(f.scanner.WindowMd5(), md5.Final());
        ExpectFileDigests(f.scanner, f.data);
    }
    // With larger buffers the least read-ahead stays 1 MiB, not 32 buffers.
    for (const auto& [blockSize, bytes] : {std::pair<uint32_t, uint64_t>{4, 1u << 20},
                                           {768000, 9u * 262144}}) {
        Fixture f;
        ASSERT_TRUE(f.Begin(data, blockSize, SmallBuffers(262144, true)));
        EXPECT_EQ(f.scanner.ringBytes(), bytes) << blockSize;
        ExpectFileDigests(f.scanner, f.data);
    }
}

// Fails every read that touches bytes at or beyond `limit`.
class FailReadsBeyond : public FileFaultInjector {
  public:
    explicit FailReadsBeyond(uint64_t limit) : limit_(limit) { SetFileFaultInjector(this); }
    ~FailReadsBeyond() override { SetFileFaultInjector(nullptr); }
    int BeforeRead(const DiskFile&, uint64_t offset, size_t length) override {
        return offset + length > limit_ ? EIO : 0;
    }

  private:
    const uint64_t limit_;
};

TEST(BlockScannerTest, ReadErrorEndsTheScanWithAnError) {
    std::mt19937_64 rng(TestSeed());
    std::vector<uint8_t> data = RandomBytes(rng, 300000);
    for (uint64_t limit : {uint64_t(0), uint64_t(5000), uint64_t(150000)}) {
        for (bool threaded : {false, true}) {
            for (bool skipping : {false, true}) {
                SCOPED_TRACE("limit " + std::to_string(limit));
                Fixture f;
                std::string path = f.dir.File("data.bin");
                test::WriteFile(path, data);
                ASSERT_TRUE(f.file.open(path));
                f.window.Build(2048);
                FailReadsBeyond injector(limit);
                bool started = f.scanner.Start(f.file, f.window, SmallBuffers(4096, threaded));
                uint64_t steps = 0;
                while (f.scanner.More() && steps < 1000000) {
                    ++steps;
                    if (skipping) {
                        f.scanner.Skip(2048);
                    } else {
                        f.scanner.SlideUntil(BlockLookup().filter(), 100000);
                    }
                    f.scanner.Crc();
                }
                EXPECT_TRUE(f.scanner.failed());
                EXPECT_EQ(f.scanner.error(), EIO);
                EXPECT_FALSE(f.scanner.More());
                if (started && limit >= 150000) {
                    // The scan went as far as the readable data allowed.
                    EXPECT_GT(f.scanner.offset(), 100000u);
                }
                Md5Digest whole;
                EXPECT_FALSE(f.scanner.Finish(&whole, nullptr));
            }
        }
    }
}

TEST(BlockScannerTest, FileShorterThanItsRecordedSizeFailsCleanly) {
    std::mt19937_64 rng(TestSeed());
    Fixture f;
    std::string path = f.dir.File("data.bin");
    test::WriteFile(path, RandomBytes(rng, 100000));
    ASSERT_TRUE(f.file.open(path));
    f.file.size = 200000;  // the file lost its tail after it was listed
    f.window.Build(4096);
    ASSERT_TRUE(f.scanner.Start(f.file, f.window, SmallBuffers(8192, true)));
    while (f.scanner.More()) {
        f.scanner.Crc();
        f.scanner.Skip(4096);
    }
    EXPECT_TRUE(f.scanner.failed());
    EXPECT_GE(f.scanner.offset(), 100000u - 4096);
    EXPECT_FALSE(f.scanner.Finish(nullptr, nullptr));
}

TEST(BlockScannerTest, RefusesClosedFilesAndEmptyWindows) {
    DiskFile closed;
    Crc32Window window;
    window.Build(16);
    BlockScanner scanner;
    EXPECT_FALSE(scanner.Start(closed, window));
    EXPECT_TRUE(scanner.failed());
    EXPECT_FALSE(scanner.More());
    EXPECT_FALSE(scanner.Slide());

    Fixture f;
    ASSERT_FALSE(f.Begin({1, 2, 3}, 0));
    EXPECT_EQ(f.scanner.error(), EINVAL);
}

// The way the data-file scan drives the two parts: candidates from the
// lookup, MD5 to confirm, a whole block skipped per match, the next block of
// the file tried first, the short last block found through the padded
// prefix of the window.
struct Found {
    uint32_t index;
    uint64_t offset;
    bool operator==(const Found&) const = default;
};

std::vector<Found> ScanForBlocks(BlockScanner& scanner, const BlockLookup& lookup) {
    std::vector<Found> found;
    const BlockLookup::Node* hint = nullptr;
    const uint64_t b = scanner.blockSize();
    while (scanner.More()) {
        const BlockLookup::Node* match = nullptr;
        if (hint != nullptr) {
            uint64_t l = hint->length();
            if ((scanner.RealBytes() >= l || !scanner.IsShort()) &&
                scanner.PaddedCrc(l) == hint->crc && scanner.PaddedMd5(l) == hint->md5) {
                match = hint;
            }
        }
        if (match == nullptr && lookup.filter().MayContain(scanner.Crc())) {
            const BlockLookup::Node* node = lookup.FindCrc(scanner.Crc());
            if (node != nullptr) node = lookup.FindMd5(node, scanner.WindowMd5());
            if (node != nullptr && (!scanner.IsShort() || node->length() == scanner.RealBytes())) {
                match = node;
            }
        }
        if (match != nullptr) {
            found.push_back({match->indexInFile, scanner.offset()});
            hint = match->nextInFile;
            scanner.Skip(match->length());
        } else {
            hint = nullptr;
            scanner.SlideUntil(lookup.filter(), b);
        }
    }
    return found;
}

TEST(BlockScannerTest, DrivesABlockSearchOverIntactAndShiftedData) {
    std::mt19937_64 rng(TestSeed());
    const uint32_t b = 4096;
    std::vector<uint8_t> source = RandomBytes(rng, 10 * b + 1234);
    BlockLookup lookup;
    uint32_t blocks = 0;
    for (uint64_t o = 0; o < source.size(); o += b, ++blocks) {
        uint64_t length = std::min<uint64_t>(b, source.size() - o);
        lookup.Add(nullptr, blocks, length, RefCrc(source, o, b), RefMd5(source, o, b));
    }
    lookup.Finish();

    for (bool threaded : {false, true}) {
        // Intact: every block at its own offset.
        Fixture intact;
        ASSERT_TRUE(intact.Begin(source, b, SmallBuffers(32768, threaded)));
        std::vector<Found> expected;
        for (uint32_t i = 0; i < blocks; ++i) expected.push_back({i, uint64_t(i) * b});
        EXPECT_EQ(ScanForBlocks(intact.scanner, lookup), expected);
        ExpectFileDigests(intact.scanner, intact.data);

        // 100 bytes inserted before block 3, one byte of block 5 damaged,
        // other data after the short last block.
        std::vector<uint8_t> shifted = source;
        std::vector<uint8_t> junk = RandomBytes(rng, 100);
        shifted.insert(shifted.begin() + 3 * b, junk.begin(), junk.end());
        shifted[5 * b + 100 + 17] ^= 1;
        std::vector<uint8_t> tail = RandomBytes(rng, 3 * b);
        shifted.insert(shifted.end(), tail.begin(), tail.end());
        Fixture damaged;
        ASSERT_TRUE(damaged.Begin(shifted, b, SmallBuffers(32768, threaded)));
        expected.clear();
        for (uint32_t i = 0; i < blocks; ++i) {
            if (i == 5) continue;
            expected.push_back({i, uint64_t(i) * b + (i >= 3 ? 100 : 0)});
        }
        EXPECT_EQ(ScanForBlocks(damaged.scanner, lookup), expected);
        ExpectFileDigests(damaged.scanner, damaged.data);
    }
}

}  // namespace
}  // namespace vantrove
