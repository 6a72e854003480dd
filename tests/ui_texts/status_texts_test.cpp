#include "ui/texts/status_texts.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>

#include "app/digit_grouping.h"
#include "app/repair_error_message.h"
#include "ui/texts/duration_texts.h"

namespace vantrove {
namespace {

// An idle PAR2 set "movie" of 10 files and 1000 blocks, all verified.
RecoverySetStatus Par2Set() {
    RecoverySetStatus s;
    s.formatKind = FormatKind::Par2;
    s.setName = "movie";
    s.totalDataBlocks = 1000;
    s.sourceFileCount = 10;
    s.dataBlocksAvailable = 1000;
    s.completeFiles = 10;
    s.state = RecoveryState::AllVerified;
    return s;
}

RecoverySetStatus ChecksumSet(FormatKind format, int files) {
    RecoverySetStatus s;
    s.formatKind = format;
    s.setName = "list";
    s.totalDataBlocks = files;
    s.sourceFileCount = files;
    s.dataBlocksAvailable = files;
    s.completeFiles = files;
    s.state = RecoveryState::AllVerified;
    return s;
}

// Digit groups joined with the user's thousands separator.
std::string Grouped(std::initializer_list<const char*> groups) {
    std::string text;
    for (const char* group : groups) {
        if (!text.empty()) text += UserThousandsSeparator();
        text += group;
    }
    return text;
}

TEST(WindowTitle, BusyTitlesNameTheFileOrTheSet) {
    RecoverySetStatus s = Par2Set();
    s.currentFile = "/data/x/movie.vol03+04.par2";
    struct Case {
        Activity activity;
        const char* title;
    } cases[] = {
        {Activity::LoadingVolume, "Vantrove - Caricamento di \"movie.vol03+04.par2\""},
        {Activity::VerifyingDataFile, "Vantrove - Verifica di \"movie.vol03+04.par2\""},
        {Activity::Reverifying, "Vantrove - Verifica di \"movie.vol03+04.par2\""},
        {Activity::ScanningFile, "Vantrove - Scansione di \"movie.vol03+04.par2\""},
        {Activity::CheckingFile, "Vantrove - Controllo di \"movie.vol03+04.par2\""},
        {Activity::SearchingNewFiles, "Vantrove - Ricerca di nuovi file - \"movie\""},
        {Activity::Renaming, "Vantrove - Rinomina fiile - \"movie\""},
        {Activity::ComputingMatrix, "Vantrove - Calcola matrice RS - \"movie\""},
        {Activity::MemoryTest, "Vantrove - Test della Memoria - \"movie\""},
        {Activity::Recovering, "Vantrove - Recupero dati - \"movie\""},
        {Activity::Writing, "Vantrove - Scrittura dati sul disco - \"movie\""},
    };
    for (const Case& c : cases) {
        s.activity = c.activity;
        EXPECT_EQ(WindowTitle(s, 0), c.title) << static_cast<int>(c.activity);
    }
    s.activity = static_cast<Activity>(12);
    EXPECT_EQ(WindowTitle(s, 0), std::nullopt);
}

TEST(WindowTitle, SetAndFileNamesAreNotFormats) {
    RecoverySetStatus s = Par2Set();
    s.setName = "100%s%d";
    s.state = RecoveryState::Repaired;
    EXPECT_EQ(WindowTitle(s, 0), "Vantrove - Riparazione completata - \"100%s%d\"");
}

TEST(WindowTitle, IdleTitlesBySetState) {
    RecoverySetStatus s = Par2Set();
    EXPECT_EQ(WindowTitle(s, 0), "Vantrove - Tutti i dati Verificati - \"movie\"");
    s.state = RecoveryState::Repaired;
    EXPECT_EQ(WindowTitle(s, 0), "Vantrove - Riparazione completata - \"movie\"");
    s.state = RecoveryState::NothingLoaded;
    EXPECT_EQ(WindowTitle(s, 0), "Vantrove - Seleziona un Volume di Recupero");
    s.state = RecoveryState::NeedMoreVolumes;
    EXPECT_EQ(WindowTitle(s, 0), "Vantrove - Seleziona più Volumi di Recupero");

    // Repair possible: failed when an error is recorded, needed when enough
    // blocks are there, unchanged otherwise.
    s.state = RecoveryState::RepairPossible;
    s.dataBlocksAvailable = 990;
    s.recoveryBlocksAvailable = 10;
    EXPECT_EQ(WindowTitle(s, 0), "Vantrove - Riparazione Necessaria - \"movie\"");
    s.errorKind = ErrorKind::Write;
    EXPECT_EQ(WindowTitle(s, 0), "Vantrove - Riparazione fallita - \"movie\"");
    s.errorKind = ErrorKind::None;
    s.recoveryBlocksAvailable = 9;
    EXPECT_EQ(WindowTitle(s, 0), std::nullopt);
}

TEST(WindowTitle, IncompleteSetsSayWhatIsNeeded) {
    RecoverySetStatus s = Par2Set();
    s.state = RecoveryState::Incomplete;
    s.dataBlocksAvailable = 900;
    s.recoveryBlocksAvailable = 99;
    EXPECT_EQ(WindowTitle(s, 0), "Vantrove - 1 blocco necessario - \"movie\"");
    s.recoveryBlocksAvailable = 40;
    EXPECT_EQ(WindowTitle(s, 0), "Vantrove - 60 blocchi necessari - \"movie\"");
    s.state = RecoveryState::PartlyJoinable;
    EXPECT_EQ(WindowTitle(s, 0), "Vantrove - 60 blocchi necessari - \"movie\"");
    s.unverifiedFiles = 1;  // an unverified file comes first
    EXPECT_EQ(WindowTitle(s, 0), "Vantrove - Scansione Incompleta - \"movie\"");
    s.unverifiedFiles = 0;
    s.recoveryBlocksAvailable = 100;  // n = 0: unchanged
    EXPECT_EQ(WindowTitle(s, 0), std::nullopt);
    s.recoveryBlocksAvailable = 500;  // n < 0: unchanged
    EXPECT_EQ(WindowTitle(s, 0), std::nullopt);

    s.formatKind = FormatKind::Par1;
    s.recoveryBlocksAvailable = 99;
    EXPECT_EQ(WindowTitle(s, 0), "Vantrove - 1 file necessario - \"movie\"");
    s.recoveryBlocksAvailable = 97;
    EXPECT_EQ(WindowTitle(s, 0), "Vantrove - 3 file necessari - \"movie\"");
}

TEST(WindowTitle, ChecksumSetsTellMissingFromDamaged) {
    for (FormatKind format : {FormatKind::Md5, FormatKind::Sfv}) {
        RecoverySetStatus s = ChecksumSet(format, 5);
        s.state = RecoveryState::Incomplete;
        s.dataBlocksAvailable = 4;
        s.missingFiles = 1;
        EXPECT_EQ(WindowTitle(s, 1), "Vantrove - 1 File Mancante - \"list\"");
        s.missingFiles = 0;
        s.damagedFiles = 1;
        EXPECT_EQ(WindowTitle(s, 0), "Vantrove - 1 file mancante o danneggiato - \"list\"");
        s.dataBlocksAvailable = 2;
        EXPECT_EQ(WindowTitle(s, 3), "Vantrove - 3 File Mancanti - \"list\"");
        EXPECT_EQ(WindowTitle(s, 2), "Vantrove - 3 file mancanti o danneggiati - \"list\"");
    }
}

TEST(StatusLine, ShownExceptDuringRepairAndWhenRepaired) {
    RecoverySetStatus s = Par2Set();
    EXPECT_TRUE(StatusLineShown(s));
    for (int a = 0; a <= 11; ++a) {
        s.activity = static_cast<Activity>(a);
        EXPECT_EQ(StatusLineShown(s), a < 6 || a > 10) << a;
    }
    s.activity = Activity::Idle;
    s.state = RecoveryState::Repaired;
    EXPECT_FALSE(StatusLineShown(s));
    s.activity = Activity::Reverifying;
    EXPECT_TRUE(StatusLineShown(s));
}

TEST(StatusLine, WhatIsMissing) {
    RecoverySetStatus s = Par2Set();
    s.state = RecoveryState::Incomplete;
    s.dataBlocksAvailable = 990;
    s.recoveryBlocksAvailable = 9;
    EXPECT_EQ(StatusLineText(s, 0), "1 Blocco in più necessario");
    s.recoveryBlocksAvailable = 5;
    EXPECT_EQ(StatusLineText(s, 0), "5 blocchi in più necessari");
    s.formatKind = FormatKind::Par1;
    EXPECT_EQ(StatusLineText(s, 0), "5 file in più necessari");
    s.recoveryBlocksAvailable = 9;
    EXPECT_EQ(StatusLineText(s, 0), "1 File in più necessario");

    RecoverySetStatus c = ChecksumSet(FormatKind::Sfv, 4);
    c.state = RecoveryState::Incomplete;
    c.dataBlocksAvailable = 3;
    EXPECT_EQ(StatusLineText(c, 1), "1 File Mancante");
    EXPECT_EQ(StatusLineText(c, 0), "1 file mancante o danneggiato");
    c.dataBlocksAvailable = 1;
    EXPECT_EQ(StatusLineText(c, 3), "3 File Mancanti");
    EXPECT_EQ(StatusLineText(c, 1), "3 file mancanti o danneggiati");
}

TEST(StatusLine, EmptyWithoutBlocksAndNothingNeededWhenComplete) {
    RecoverySetStatus s;
    EXPECT_EQ(StatusLineText(s, 0), "");
    s = Par2Set();
    EXPECT_EQ(StatusLineText(s, 0), "Riparazione non necessaria");
    s.state = RecoveryState::Repaired;
    EXPECT_EQ(StatusLineText(s, 0), "Riparazione non necessaria");
}

TEST(StatusLine, ReadyToRecoverJoinOrRename) {
    RecoverySetStatus s = Par2Set();
    s.state = RecoveryState::RepairPossible;
    s.dataBlocksAvailable = 950;
    s.recoveryBlocksAvailable = 70;
    EXPECT_EQ(StatusLineText(s, 0), "Pronto per il recupero usando 50/70 Blocchi di recupero");
    s.formatKind = FormatKind::Par1;
    EXPECT_EQ(StatusLineText(s, 0), "Pronto per il recupero usando 50/70 File di recupero");

    // Every block present, two files misnamed, the rest complete.
    s = Par2Set();
    s.state = RecoveryState::RepairPossible;
    s.subState = SubState::RenameOnly;
    s.completeFiles = 8;
    s.misnamedFiles = 2;
    EXPECT_EQ(StatusLineText(s, 0), "Pronto a rinominare 2 file");
    EXPECT_EQ(RepairButtonCaption(s), "Rinomina");
    s.completeFiles = 9;
    s.misnamedFiles = 1;
    EXPECT_EQ(StatusLineText(s, 0), "Pronto a rinominare 1 file");

    // One misnamed, one to be joined from blocks found elsewhere.
    s.completeFiles = 8;
    s.missingFiles = 1;
    s.subState = SubState::CanJoin;
    EXPECT_EQ(StatusLineText(s, 0), "Pronto ad unire blocchi per 1 file");
    EXPECT_EQ(RepairButtonCaption(s), "Unisci");
    s.completeFiles = 6;
    s.missingFiles = 3;
    EXPECT_EQ(StatusLineText(s, 0), "Pronto ad unire blocchi per 3 file");
}

TEST(StatusBarValues, MarksStayWithinTheTotal) {
    RecoverySetStatus s = Par2Set();
    s.dataBlocksAvailable = 600;
    s.recoveryBlocksAvailable = 100;
    BlockBarValues bar = StatusBarValues(s);
    EXPECT_EQ(bar.available, 600u);
    EXPECT_EQ(bar.covered, 700u);
    EXPECT_EQ(bar.total, 1000u);
    s.recoveryBlocksAvailable = 5000;
    EXPECT_EQ(StatusBarValues(s).covered, 1000u);
    s.dataBlocksAvailable = -3;
    s.recoveryBlocksAvailable = -1;
    bar = StatusBarValues(s);
    EXPECT_EQ(bar.available, 0u);
    EXPECT_EQ(bar.covered, 0u);
}

TEST(Buttons, RepairAndStopFollowActivityAndState) {
    RecoverySetStatus s = Par2Set();
    EXPECT_EQ(RepairButtonCaption(s), "Ripara");
    s.subState = SubState::NeedRecoveryBlocks;
    EXPECT_EQ(RepairButtonCaption(s), "Ripara");
    for (int st = 0; st <= 6; ++st) {
        s.state = static_cast<RecoveryState>(st);
        s.activity = Activity::Idle;
        EXPECT_EQ(RepairButtonEnabled(s), st == 3 || st == 4) << st;
        s.activity = Activity::ScanningFile;
        EXPECT_FALSE(RepairButtonEnabled(s)) << st;
    }

    s = Par2Set();
    StopButtonState stop = StopButton(s);
    EXPECT_EQ(stop.caption, "Extra");
    EXPECT_TRUE(stop.enabled);
    EXPECT_TRUE(stop.extra);
    s.state = RecoveryState::Repaired;
    EXPECT_TRUE(StopButton(s).extra);
    s.activity = Activity::Recovering;
    stop = StopButton(s);
    EXPECT_EQ(stop.caption, "Ferma");
    EXPECT_TRUE(stop.enabled);
    EXPECT_FALSE(stop.extra);
    s.activity = Activity::Idle;
    s.state = RecoveryState::RepairPossible;
    stop = StopButton(s);
    EXPECT_EQ(stop.caption, "Ferma");
    EXPECT_FALSE(stop.enabled);
    // Extra makes further PAR2 volumes only.
    RecoverySetStatus c = ChecksumSet(FormatKind::Md5, 2);
    EXPECT_EQ(StopButton(c).caption, "Ferma");
    EXPECT_FALSE(StopButton(c).enabled);
    c.formatKind = FormatKind::Par1;
    EXPECT_FALSE(StopButton(c).extra);
}

TEST(LeftoverNote, SaysHowManyWorkFilesWaitWhileIdle) {
    RecoverySetStatus s = Par2Set();
    EXPECT_EQ(LeftoverNote(s), "");
    s.leftoverFiles = 1;
    EXPECT_EQ(LeftoverNote(s),
              "Nella cartella c'è 1 file di lavoro di un'operazione interrotta: la prossima "
              "riparazione lo rimuove");
    s.leftoverFiles = 3;
    EXPECT_EQ(LeftoverNote(s),
              "Nella cartella ci sono 3 file di lavoro di un'operazione interrotta: la prossima "
              "riparazione li rimuove");
    // While another job works in the folder, its work files are no leftovers.
    s.otherJobWorking = true;
    EXPECT_EQ(LeftoverNote(s),
              "Serie occupata: un'altra riparazione o creazione sta lavorando nella sua cartella");
    s.errorKind = ErrorKind::Busy;  // the error line says it already
    EXPECT_EQ(LeftoverNote(s), "");
    s.activity = Activity::ScanningFile;
    EXPECT_EQ(LeftoverNote(s), "");
}

TEST(ErrorLine, ShownOnlyWhenIdleInARepairableStateWithAnError) {
    RecoverySetStatus s = Par2Set();
    s.state = RecoveryState::RepairPossible;
    EXPECT_FALSE(ErrorLineShown(s));
    s.errorKind = ErrorKind::Cancelled;
    EXPECT_TRUE(ErrorLineShown(s));
    s.state = RecoveryState::PartlyJoinable;
    EXPECT_TRUE(ErrorLineShown(s));
    s.activity = Activity::Recovering;
    EXPECT_FALSE(ErrorLineShown(s));
    s.activity = Activity::Idle;
    s.state = RecoveryState::Incomplete;
    EXPECT_FALSE(ErrorLineShown(s));
}

TEST(ErrorLine, TextByKindWithFileAndSystemText) {
    RecoverySetStatus s = Par2Set();
    s.errorFile = "/data/x/part1.rar";
    s.systemErrorCode = ENOSPC;
    std::string system = SystemErrorMessage(ENOSPC);
    EXPECT_NE(system, "Errore 28");
    struct Case {
        int kind;
        std::string text;
    } cases[] = {
        {1, "Impossibile rinominare \"part1.rar\": " + system},
        {2, "Impossibile creare \"part1.rar\": " + system},
        {3, "Impossibile aprire \"part1.rar\": " + system},
        {4, "Errore nella computazione di Reed Solomon"},
        {5, "Rilevato Errore di memoria"},
        {6, "Impossibile leggere da \"part1.rar\": " + system},
        {7, "Impossibile scrivere in \"part1.rar\": " + system},
        {8, "Errore Firma di verifica: Probabile errore di memoria"},
        {9, "Verifica fallita"},
        {10, "Riparazione Annullata"},
        {11, "Serie occupata: un'altra riparazione o creazione sta lavorando nella sua cartella"},
        {12, "Riparazione fallita"},
        {-1, "Riparazione fallita"},
    };
    for (const Case& c : cases) {
        s.errorKind = static_cast<ErrorKind>(c.kind);
        EXPECT_EQ(ErrorLineText(s), c.text) << c.kind;
    }
}

TEST(CreatorLine, PrefixByFormatControlCharactersAndAmpersands) {
    RecoverySetStatus s = Par2Set();
    s.creatorText = "Tools & Co\tv1\n2";
    EXPECT_EQ(CreatorLine(s), "File di recupero creati da :- Tools && Co v1 2");
    EXPECT_EQ(CreatorLine(s, Ampersands::Literal), "File di recupero creati da :- Tools & Co v1 2");
    s.formatKind = FormatKind::Par1;
    EXPECT_EQ(CreatorLine(s, Ampersands::Literal), "File di recupero creati da :- Tools & Co v1 2");
    s.formatKind = FormatKind::Sfv;
    s.creatorText = "";
    EXPECT_EQ(CreatorLine(s), "File di Verifica creati da :- ");
    s.formatKind = FormatKind::Md5;
    s.creatorText = "più";  // bytes above 127 are kept
    EXPECT_EQ(CreatorLine(s), "File di Verifica creati da :- più");
}

TEST(ProgressText, TenthsOfAPercentRoundedDown) {
    EXPECT_EQ(ProgressText(1, 3), "33.3 %");
    EXPECT_EQ(ProgressText(2, 3), "66.6 %");
    EXPECT_EQ(ProgressText(0, 7), "0.0 %");
    EXPECT_EQ(ProgressText(1, 1), "100.0 %");
    EXPECT_EQ(ProgressText(5, 0), "");
    EXPECT_EQ(ProgressText(7, 5), "100.0 %");
    // A product past 64 bits must not wrap.
    uint64_t huge = UINT64_MAX / 2;
    EXPECT_EQ(ProgressText(huge, huge + 1000), "99.9 %");
    RecoverySetStatus s;
    s.progressPosition = 1;
    s.progressTotal = 8;
    EXPECT_EQ(ProgressText(s), "12.5 %");
}

TEST(Counters, UnknownWithoutBlocksElseGroupedNumbers) {
    RecoverySetStatus s;
    s.sourceFileCount = 3;
    CounterTexts t = Counters(s);
    for (const std::string* text :
         {&t.sourceFiles, &t.totalSize, &t.dataBlocks, &t.blockSize, &t.completeFiles,
          &t.damagedFiles, &t.misnamedFiles, &t.missingFiles}) {
        EXPECT_EQ(*text, "sconosciuto");
    }
    s = Par2Set();
    s.totalDataBlocks = 1234567;
    s.sourceFileCount = 1200;
    s.totalSourceSize = 9876543210ULL;
    s.blockSize = 384000;
    s.completeFiles = 1100;
    s.damagedFiles = 4;
    s.misnamedFiles = 0;
    s.missingFiles = 96;
    t = Counters(s);
    EXPECT_EQ(t.sourceFiles, Grouped({"1", "200"}));
    EXPECT_EQ(t.totalSize, Grouped({"9", "876", "543", "210"}) + " Byte");
    EXPECT_EQ(t.dataBlocks, Grouped({"1", "234", "567"}));
    EXPECT_EQ(t.blockSize, Grouped({"384", "000"}) + " Byte");
    EXPECT_EQ(t.completeFiles, Grouped({"1", "100"}));
    EXPECT_EQ(t.damagedFiles, "4");
    EXPECT_EQ(t.misnamedFiles, "0");
    EXPECT_EQ(t.missingFiles, "96");
}

TEST(DurationText, HoursMinutesOrSeconds) {
    EXPECT_EQ(DurationText(uint64_t{3725}), "1 ore, 2 minuti");
    EXPECT_EQ(DurationText(uint64_t{125}), "2 minuti, 5 secondi");
    EXPECT_EQ(DurationText(uint64_t{59}), "59 secondi");
    EXPECT_EQ(DurationText(uint64_t{60}), "1 minuti, 0 secondi");
    EXPECT_EQ(DurationText(uint64_t{3600}), "1 ore, 0 minuti");
    EXPECT_EQ(DurationText(uint64_t{0}), "0 secondi");
    EXPECT_EQ(DurationText(59.9), "59 secondi");
    EXPECT_EQ(DurationText(-5.0), "0 secondi");
    EXPECT_EQ(DurationText(std::nan("")), "0 secondi");
    EXPECT_EQ(DurationText(1e300), "2147483647 ore, 59 minuti");
    EXPECT_EQ(DurationText(UINT64_MAX), "2147483647 ore, 59 minuti");
}

TEST(SpeedText, WholeTenthsOrKilobytes) {
    EXPECT_EQ(SpeedText(12.3), "12 MB/s");
    EXPECT_EQ(SpeedText(10.0), "10.0 MB/s");
    EXPECT_EQ(SpeedText(5.26), "5.3 MB/s");
    EXPECT_EQ(SpeedText(1.0), "1.0 MB/s");
    EXPECT_EQ(SpeedText(0.5), "512 KB/s");
    EXPECT_EQ(SpeedText(0), "0 KB/s");
    EXPECT_EQ(SpeedText(-1), "0 KB/s");
    EXPECT_EQ(SpeedText(std::nan("")), "0 KB/s");
}

}  // namespace
}  // namespace vantrove
