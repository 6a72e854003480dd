// The PAR 1.0 header and file list checks, names, the naming rule and the
// creator text.

#include "formats/par1_format.h"

#include <gtest/gtest.h>

#include "par1_builder.h"

namespace vantrove {
namespace {

using test::Bytes;
using test::GetLe64;
using test::MakePar1File;
using test::Par1Build;
using test::PutLe64;

Par1Build TwoFiles() {
    Par1Build build;
    build.files.push_back({"a.bin", Bytes(100, 0x11)});
    build.files.push_back({"bb.bin", Bytes(300, 0x22)});
    return build;
}

bool Usable(const Bytes& file) {
    Par1Header header;
    return ParsePar1Header(file.data(), header) && Par1HeaderUsable(header, file.size());
}

TEST(Par1Header, BuiltFilesPassEveryCheck) {
    Bytes main = MakePar1File(TwoFiles(), 0);
    Par1Header header;
    ASSERT_TRUE(ParsePar1Header(main.data(), header));
    EXPECT_EQ(header.generator, 0x02000900u);
    EXPECT_EQ(header.fileCount, 2u);
    EXPECT_EQ(header.fileListOffset, 96u);
    EXPECT_TRUE(Par1HeaderUsable(header, main.size()));
    EXPECT_TRUE(Usable(MakePar1File(TwoFiles(), 3)));
}

TEST(Par1Header, WrongMagicOrVersionIsNoPar1File) {
    Bytes file = MakePar1File(TwoFiles(), 0);
    Par1Header header;
    Bytes magic = file;
    magic[3] = 1;
    EXPECT_FALSE(ParsePar1Header(magic.data(), header));
    Bytes version = file;
    version[10] = 2;  // 0x00020000
    EXPECT_FALSE(ParsePar1Header(version.data(), header));
}

TEST(Par1Header, FieldsOutOfRangeMakeTheFileUnusable) {
    const Bytes good = MakePar1File(TwoFiles(), 1);
    auto with = [&good](size_t offset, uint64_t value) {
        Bytes f = good;
        PutLe64(f, offset, value);
        return f;
    };
    EXPECT_FALSE(Usable(with(48, 256)));         // volume number
    EXPECT_FALSE(Usable(with(48, 1ull << 32)));  // high half of the volume number
    EXPECT_TRUE(Usable(with(48, 255)));
    EXPECT_FALSE(Usable(with(56, 0)));                      // no files
    EXPECT_FALSE(Usable(with(64, 95)));                     // list inside the header
    EXPECT_FALSE(Usable(with(72, 0)));                      // empty list
    EXPECT_FALSE(Usable(with(72, 200001)));                 // list too large
    EXPECT_FALSE(Usable(with(72, good.size())));            // list past the end
    EXPECT_FALSE(Usable(with(80, 95)));                     // data inside the header
    EXPECT_FALSE(Usable(with(80, 96 + 10)));                // data overlaps the list
    EXPECT_FALSE(Usable(with(88, GetLe64(good, 88) + 1)));  // data past the end
    EXPECT_FALSE(Usable(with(80, ~0ull - 5)));              // offset + size overflows
    // Without recovery data the data offset is not looked at.
    Bytes main = MakePar1File(TwoFiles(), 0);
    PutLe64(main, 80, 5);
    EXPECT_TRUE(Usable(main));
}

TEST(Par1FileList, ProtectedEntriesGiveBlockSizeAndTotal) {
    Par1Build build = TwoFiles();
    build.files.push_back({"skip.txt", Bytes(5000, 1), 0});  // not protected
    Bytes file = MakePar1File(build, 0);
    Par1FileList list;
    ASSERT_TRUE(ParsePar1FileList(file.data() + 96, GetLe64(file, 72), 3, list));
    ASSERT_EQ(list.entries.size(), 2u);
    EXPECT_EQ(list.entries[0].name, "a.bin");
    EXPECT_EQ(list.entries[1].name, "bb.bin");
    EXPECT_EQ(list.blockSize, 300u);
    EXPECT_EQ(list.totalSize, 400u);
    EXPECT_EQ(list.protectedBytes.size(), (56u + 10) + (56u + 12));
}

TEST(Par1FileList, FewerEntriesThanAnnouncedMakeTheFileUnusable) {
    Bytes file = MakePar1File(TwoFiles(), 0);
    Par1FileList list;
    EXPECT_FALSE(ParsePar1FileList(file.data() + 96, GetLe64(file, 72), 3, list));
    // An entry size below 57 stops the walk.
    Bytes shortEntry = file;
    PutLe64(shortEntry, 96, 56);
    EXPECT_FALSE(ParsePar1FileList(shortEntry.data() + 96, GetLe64(file, 72), 2, list));
    // An entry larger than what is left of the list as well.
    Bytes longEntry = file;
    PutLe64(longEntry, 96, GetLe64(file, 72) + 1);
    EXPECT_FALSE(ParsePar1FileList(longEntry.data() + 96, GetLe64(file, 72), 2, list));
    // Announcing fewer than the list holds is fine: the rest is not read.
    EXPECT_TRUE(ParsePar1FileList(file.data() + 96, GetLe64(file, 72), 1, list));
    EXPECT_EQ(list.entries.size(), 1u);
}

TEST(Par1Names, CodeUnitsBecomeUtf8) {
    // 'a', U+00E9 (a Windows "é"), U+20AC, a surrogate pair for U+1F600 and
    // a lone low surrogate.
    const uint8_t units[] = {'a',  0,    0xE9, 0,    0xAC, 0x20, 0x3D,
                             0xD8, 0x00, 0xDE, 0x00, 0xDC};
    EXPECT_EQ(Par1NameToString(units, sizeof units),
              std::string("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80?"));
    // "café.txt" written on Windows finds the UTF-8 name, not the byte 0xE9.
    const uint8_t cafe[] = {'c', 0, 'a', 0, 'f', 0, 0xE9, 0, '.', 0, 't', 0, 'x', 0, 't', 0};
    EXPECT_EQ(Par1NameToString(cafe, sizeof cafe), "caf\xC3\xA9.txt");
    // An odd byte count ignores the last byte; a zero unit ends the name.
    EXPECT_EQ(Par1NameToString(units, 3), "a");
    const uint8_t ended[] = {'a', 0, 0, 0, 'b', 0};
    EXPECT_EQ(Par1NameToString(ended, sizeof ended), "a");
}

TEST(Par1Names, WidenedBytesOfAUtf8NameAreThatName) {
    // The bytes of UTF-8 "é", one per unit, sign-extended or not.
    const uint8_t signExtended[] = {'a', 0, 0xC3, 0xFF, 0xA9, 0xFF};
    EXPECT_EQ(Par1NameToString(signExtended, sizeof signExtended), "a\xC3\xA9");
    const uint8_t zeroExtended[] = {'a', 0, 0xC3, 0, 0xA9, 0};
    EXPECT_EQ(Par1NameToString(zeroExtended, sizeof zeroExtended), "a\xC3\xA9");
    // Bytes that are no UTF-8 are characters: "Ã©" stays two of them only
    // when they do not pair up; "é" alone is U+00E9.
    const uint8_t latin[] = {0xE9, 0, 'x', 0};
    EXPECT_EQ(Par1NameToString(latin, sizeof latin), "\xC3\xA9x");
}

TEST(Par1Names, VolumeNamingRule) {
    EXPECT_EQ(Par1VolumeSetName("x.par"), "x");
    EXPECT_EQ(Par1VolumeSetName("x.PAR"), "x");
    EXPECT_EQ(Par1VolumeSetName("x.Par"), "x");
    EXPECT_EQ(Par1VolumeSetName("/d/x.P07"), "/d/x");
    EXPECT_EQ(Par1VolumeSetName("x.p00"), "x");
    EXPECT_EQ(Par1VolumeSetName("x.p99"), "x");
    EXPECT_EQ(Par1VolumeSetName("x.p7"), "");
    EXPECT_EQ(Par1VolumeSetName("x.pa1"), "");
    EXPECT_EQ(Par1VolumeSetName("x.par2"), "");
    EXPECT_EQ(Par1VolumeSetName("x.q01"), "");
    EXPECT_EQ(Par1VolumeSetName(".par"), "");
    EXPECT_EQ(Par1VolumeSetName("/d/.par"), "");
    EXPECT_EQ(Par1VolumeSetName("/d.x/par"), "");
    EXPECT_EQ(Par1VolumeSetName("ab.p0x"), "");
}

TEST(Par1Creator, ClientAndVersion) {
    EXPECT_EQ(Par1CreatorText(0x02000900), "PAR versione 0.9");
    EXPECT_EQ(Par1CreatorText(0x03000101), "SmartPar versione 0.1.1");
    EXPECT_EQ(Par1CreatorText(0x01020000), "Mirror versione 2");
    EXPECT_EQ(Par1CreatorText(0xAA000000), "PowerPost 2000 A&A");
    EXPECT_EQ(Par1CreatorText(0xFE010203), "Newspost versione 1.2.3");
    EXPECT_EQ(Par1CreatorText(0xFF000000), "FSRaid");
    EXPECT_EQ(Par1CreatorText(0x07010000), "Client sconosciuto 7 versione 1");
}

}  // namespace
}  // namespace vantrove
