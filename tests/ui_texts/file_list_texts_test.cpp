#include "ui/texts/file_list_texts.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "app/digit_grouping.h"
#include "core/disk_file.h"

namespace vantrove {
namespace {

// Digit groups joined with the user's thousands separator.
std::string Grouped(std::initializer_list<const char*> groups) {
    std::string text;
    for (const char* group : groups) {
        if (!text.empty()) text += UserThousandsSeparator();
        text += group;
    }
    return text;
}

std::vector<SourcePlace> Places(std::initializer_list<uint32_t> counts) {
    std::vector<SourcePlace> places;
    int i = 0;
    for (uint32_t count : counts) places.push_back({"/d/f" + std::to_string(i++), count, 1000});
    return places;
}

TEST(FileListTexts, GroupRowsByFormat) {
    EXPECT_EQ(RecoveryGroupName(FormatKind::Par2), "File di recupero");
    EXPECT_EQ(RecoveryGroupName(FormatKind::Par1), "File di recupero");
    EXPECT_EQ(RecoveryGroupName(FormatKind::Sfv), "File delle Firme di Verifica");
    EXPECT_EQ(RecoveryGroupName(FormatKind::Md5), "File delle Firme di Verifica");
    EXPECT_EQ(DataGroupName(), "File di dati");

    EXPECT_EQ(RecoveryGroupStatus(FormatKind::Par2, 1), "1 blocco di recupero");
    EXPECT_EQ(RecoveryGroupStatus(FormatKind::Par2, 0), "0 blocchi di recupero");
    EXPECT_EQ(RecoveryGroupStatus(FormatKind::Par2, 2500),
              Grouped({"2", "500"}) + " blocchi di recupero");
    EXPECT_EQ(RecoveryGroupStatus(FormatKind::Par1, 1), "1 file di recupero");
    EXPECT_EQ(RecoveryGroupStatus(FormatKind::Par1, 3), "3 file di recupero");
    EXPECT_EQ(RecoveryGroupStatus(FormatKind::Sfv, 3), "");

    EXPECT_EQ(DataGroupStatus(FormatKind::Par2, 1), "1 blocco trovato");
    EXPECT_EQ(DataGroupStatus(FormatKind::Par2, 1000), Grouped({"1", "000"}) + " blocchi trovati");
    EXPECT_EQ(DataGroupStatus(FormatKind::Md5, 1), "1 file trovato");
    EXPECT_EQ(DataGroupStatus(FormatKind::Par1, 4), "4 file trovati");
}

TEST(FileListTexts, SizeIsGrouped) {
    EXPECT_EQ(SizeText(0), "0");
    EXPECT_EQ(SizeText(123), "123");
    EXPECT_EQ(SizeText(4294967296ULL), Grouped({"4", "294", "967", "296"}));
}

TEST(FileListTexts, VolumeRows) {
    using C = VolumeDisplayCode;
    EXPECT_EQ(VolumeRowStatus(FormatKind::Par2, C::Used, 1), "1 blocco");
    EXPECT_EQ(VolumeRowStatus(FormatKind::Par2, C::Used, 1234), Grouped({"1", "234"}) + " blocchi");
    EXPECT_EQ(VolumeRowStatus(FormatKind::Par2, C::Used, 0), "0 blocchi");  // the index file
    EXPECT_EQ(VolumeRowStatus(FormatKind::Par1, C::Used, 1), "Buono");
    EXPECT_EQ(VolumeRowStatus(FormatKind::Sfv, C::Used, 12), "Buono");

    EXPECT_EQ(VolumeRowStatus(FormatKind::Par2, C::Damaged, 1),
              "Danneggiato (1 blocco disponibile)");
    EXPECT_EQ(VolumeRowStatus(FormatKind::Par2, C::Damaged, 7),
              "Danneggiato (7 blocchi disponibili)");
    EXPECT_EQ(VolumeRowStatus(FormatKind::Par1, C::Damaged, 0), "Incompleto");
    EXPECT_EQ(VolumeRowStatus(FormatKind::Md5, C::Damaged, 3), "Incompleto");

    EXPECT_EQ(VolumeRowStatus(FormatKind::Par2, C::Unused, 0), "Serie Errata");
    EXPECT_EQ(VolumeRowStatus(FormatKind::Par1, C::Unused, 0), "Serie Errata");

    EXPECT_EQ(VolumeRowStatus(FormatKind::Par2, C::NotRead, 1),
              "Sconosciuto (1 blocco disponibile)");
    EXPECT_EQ(VolumeRowStatus(FormatKind::Par2, C::NotRead, 16),
              "Sconosciuto (16 blocchi disponibili)");
    EXPECT_EQ(VolumeRowStatus(FormatKind::Par2, C::NotRead, 0), "Sconosciuto");
    EXPECT_EQ(VolumeRowStatus(FormatKind::Par1, C::NotRead, 5), "Sconosciuto");
}

TEST(FileListTexts, SourceRowsOfEveryKind) {
    using K = SourceRowKind;
    for (FormatKind f : {FormatKind::Par1, FormatKind::Par2, FormatKind::Sfv, FormatKind::Md5}) {
        EXPECT_EQ(SourceRowStatus(f, K::Complete, 1, {}), "Completi");
        EXPECT_EQ(SourceRowStatus(f, K::Repaired, 1, {}), "Riparati");
        EXPECT_EQ(SourceRowStatus(f, K::Misnamed, 1, {}), "Mal Rinominati");
        EXPECT_EQ(SourceRowStatus(f, K::NotVerified, 1, {}), "Sconosciuto");
    }
    EXPECT_EQ(SourceRowStatus(FormatKind::Sfv, K::Damaged, 1, Places({1})), "Incompleto");
    EXPECT_EQ(SourceRowStatus(FormatKind::Md5, K::Missing, 1, Places({1})), "Mancante");
}

TEST(FileListTexts, DamagedAndMissingPar2RowsCountFoundBlocks) {
    using K = SourceRowKind;
    EXPECT_EQ(SourceRowStatus(FormatKind::Par2, K::Damaged, 2000, Places({700, 500})),
              Grouped({"Incompleto (1", "200/2", "000"}) + " blocchi disponibili)");
    EXPECT_EQ(SourceRowStatus(FormatKind::Par2, K::Damaged, 1, {}),
              "Incompleto (0/1 blocco disponibile)");
    EXPECT_EQ(SourceRowStatus(FormatKind::Par2, K::Damaged, 10, {}),
              "Incompleto (0/10 blocchi disponibili)");
    // Places never claim more blocks than the file has.
    EXPECT_EQ(SourceRowStatus(FormatKind::Par2, K::Damaged, 10, Places({8, 8})),
              "Incompleto (10/10 blocchi disponibili)");

    EXPECT_EQ(SourceRowStatus(FormatKind::Par2, K::Missing, 10, Places({3})),
              "Mancante (3/10 blocchi disponibili)");
    EXPECT_EQ(SourceRowStatus(FormatKind::Par2, K::Missing, 1, Places({1})),
              "Mancante (1/1 blocco disponibile)");
    EXPECT_EQ(SourceRowStatus(FormatKind::Par2, K::Missing, 10, {}), "Mancante");
    EXPECT_EQ(SourceRowStatus(FormatKind::Par2, K::Missing, 10, Places({0})), "Mancante");
}

TEST(FileListTexts, Par1RowsInPercent) {
    using K = SourceRowKind;
    EXPECT_EQ(SourceRowStatus(FormatKind::Par1, K::Damaged, 1, {}),
              "Incompleto (0.0% disponibile)");
    EXPECT_EQ(SourceRowStatus(FormatKind::Par1, K::Damaged, 3, Places({1})),
              "Incompleto (33.3% disponibile)");
    EXPECT_EQ(SourceRowStatus(FormatKind::Par1, K::Missing, 1, Places({1})),
              "Mancante (100.0% disponibile)");
    EXPECT_EQ(SourceRowStatus(FormatKind::Par1, K::Missing, 1, {}), "Mancante");
    EXPECT_EQ(SourceRowStatus(FormatKind::Par1, K::Missing, 0, Places({1})), "Mancante");
}

TEST(FileListTexts, PlaceRows) {
    SourcePlace place{"/d/other.bin", 1, 5000};
    EXPECT_EQ(PlaceRowStatus(FormatKind::Par2, place, 10), "1 blocco");
    place.blockCount = 12000;
    EXPECT_EQ(PlaceRowStatus(FormatKind::Par2, place, 20000), Grouped({"12", "000"}) + " blocchi");
    place.blockCount = 2;
    EXPECT_EQ(PlaceRowStatus(FormatKind::Par1, place, 3), "66.6%");
    EXPECT_EQ(PlaceRowStatus(FormatKind::Par1, place, 1), "100.0%");
    EXPECT_EQ(PlaceRowStatus(FormatKind::Par1, place, 0), "0.0%");
    EXPECT_EQ(PlaceRowStatus(FormatKind::Sfv, place, 1), "");
    // A file of which some data could not be read says so, with the reason.
    place.readError = EIO;
    EXPECT_EQ(PlaceRowStatus(FormatKind::Par2, place, 3),
              "2 blocchi - Illeggibile in parte: " + SystemErrorText(EIO));
    EXPECT_EQ(PlaceRowStatus(FormatKind::Sfv, place, 1),
              "Illeggibile in parte: " + SystemErrorText(EIO));
}

}  // namespace
}  // namespace vantrove
