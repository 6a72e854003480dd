#include "ui/texts/creation_progress_texts.h"

#include <gtest/gtest.h>

namespace vantrove {
namespace {

constexpr uint64_t kMiB = 1024 * 1024;

CreationStatus At(CreationPhase phase, uint64_t tick, uint64_t done = 0, uint64_t total = 1,
                  std::string name = {}) {
    CreationStatus s;
    s.phase = phase;
    s.tick = tick;
    s.done = done;
    s.total = total;
    s.fileName = std::move(name);
    return s;
}

TEST(CreationProgressTexts, ShownNameIsTheLastComponentOrTheLast30Characters) {
    EXPECT_EQ(ShownCreationFileName("/data/films/movie.mkv"), "movie.mkv");
    EXPECT_EQ(ShownCreationFileName("movie.mkv"), "movie.mkv");
    const std::string longName(40, 'a');
    EXPECT_EQ(ShownCreationFileName(longName + "b"), std::string(29, 'a') + "b");
    // Characters, not bytes: 31 two-byte letters keep the last 30 whole.
    std::string accented;
    for (int i = 0; i < 31; ++i) accented += "\xC3\xA8";  // è
    EXPECT_EQ(ShownCreationFileName(accented), accented.substr(2));
    EXPECT_EQ(ShownCreationFileName("/data/"), "");
}

TEST(CreationProgressTexts, PercentInTenthsOrNothing) {
    EXPECT_EQ(CreationPercentText(0, 100), "");
    EXPECT_EQ(CreationPercentText(5, 0), "");
    EXPECT_EQ(CreationPercentText(1, 3), "33.3 %");
    EXPECT_EQ(CreationPercentText(100, 100), "100.0 %");
    EXPECT_EQ(CreationPercentText(250, 100), "100.0 %");
    // Sizes whose product with 1000 does not fit in 64 bits.
    EXPECT_EQ(CreationPercentText(UINT64_MAX / 2, UINT64_MAX), "49.9 %");
}

TEST(CreationProgressTexts, TitlesByResult) {
    EXPECT_EQ(CreationTitle(kPhaseHashing, "movie"), "Vantrove - Creazionde di \"movie.PAR2\"");
    EXPECT_EQ(CreationTitle(kPhaseFinished, "movie"), "Vantrove - Riuscita - \"movie.PAR2\"");
    EXPECT_EQ(CreationTitle(kPhaseFailed, "movie"), "Vantrove - Fallita - \"movie.PAR2\"");
}

TEST(CreationProgressTexts, StatusLineOfEachPhase) {
    CreationProgressLine line(0);
    EXPECT_EQ(line.Update(At(kPhaseHashing, 10, 0, 1, "/d/a.bin")), "Calcola file hash per  a.bin");
    EXPECT_EQ(line.Update(At(kPhaseMemoryTest, 20)), "Test della memoria in corso");
    EXPECT_EQ(line.Update(At(kPhaseMatrix, 30)), "Calcolo matrice Reed-Solomon");
    // The first computing record says nothing new: the line stays.
    EXPECT_EQ(line.Update(At(kPhaseComputing, 40, 0, 10 * kMiB)), "Calcolo matrice Reed-Solomon");
    EXPECT_EQ(line.Update(At(kPhaseWriting, 50)), "Scrittura dati di recupero sul disco");
    EXPECT_EQ(line.Update(At(kPhaseVerifySplit, 60, 0, 1, "/d/a.bin.001")),
              "Verifying Split File a.bin.001");
    EXPECT_EQ(line.Update(At(kPhaseReverifySource, 70, 0, 1, "/d/a.bin")),
              "Ri-verifica file di dati a.bin");
    EXPECT_EQ(line.Update(At(kPhaseVerifyOutput, 80, 0, 1, "/d/a.vol0+1.PAR2")),
              "Verifica dei file di recupero a.vol0+1.PAR2");
    CreationStatus failed = At(kPhaseFailed, 90);
    failed.failureCode = kFailCreateOutput;
    EXPECT_EQ(line.Update(failed), "Fallito: Impossibile creare il file di destinazione");
    failed.failureCode = static_cast<CreationFailure>(99);
    EXPECT_EQ(line.Update(failed), "Fallito");
}

TEST(CreationProgressTexts, EstimateFromASteadySpeed) {
    CreationProgressLine line(1000);
    line.Update(At(kPhaseMatrix, 1500));
    line.Update(At(kPhaseComputing, 2000, 0, 100 * kMiB));
    // 4 MiB per second for 5 seconds.
    for (uint64_t t = 1; t <= 5; ++t)
        line.Update(At(kPhaseComputing, 2000 + t * 1000, t * 4 * kMiB, 100 * kMiB));
    EXPECT_NEAR(line.speed(), 4.0, 1e-9);
    // 80 MiB left at 4 MiB/s: 20 s; 6 s since the dialog started.
    EXPECT_EQ(line.text(), "20 secondi / 26 secondi @ 4.0 MB/s");
}

TEST(CreationProgressTexts, NoEstimateWithoutTimeOrProgress) {
    CreationProgressLine line(0);
    line.Update(At(kPhaseMemoryTest, 10));
    line.Update(At(kPhaseComputing, 100, 0, 10 * kMiB));
    // Same tick again: no time has passed, nothing is computed.
    line.Update(At(kPhaseComputing, 100, kMiB, 10 * kMiB));
    EXPECT_EQ(line.text(), "Test della memoria in corso");
    EXPECT_EQ(line.speed(), 0);
    // Time passes without progress: speed 0, no estimate and no division by 0.
    line.Update(At(kPhaseComputing, 1100, kMiB, 10 * kMiB));
    EXPECT_EQ(line.text(), "Test della memoria in corso");
    EXPECT_EQ(line.speed(), 0);
    // A record whose progress went backwards counts as a standstill too.
    line.Update(At(kPhaseComputing, 2100, 0, 10 * kMiB));
    EXPECT_EQ(line.speed(), 0);
}

TEST(CreationProgressTexts, SmoothingWeighsRecentSpeedsMore) {
    CreationProgressLine line(0);
    line.Update(At(kPhaseComputing, 0, 0, 1000 * kMiB));
    line.Update(At(kPhaseComputing, 1000, 10 * kMiB, 1000 * kMiB));  // 10 MiB/s
    EXPECT_NEAR(line.speed(), 10.0, 1e-9);
    line.Update(At(kPhaseComputing, 2000, 12 * kMiB, 1000 * kMiB));  // then 2 MiB/s
    // g = 0.1 + 0.9 * 0.1 = 0.19; h = 0.9 * 1 + 0.1 * 2 = 1.1.
    EXPECT_NEAR(line.speed(), 1.1 / 0.19, 1e-9);
}

TEST(CreationProgressTexts, SuccessLineWithElapsedTimeAndSpeed) {
    CreationProgressLine line(5000);
    line.Update(At(kPhaseComputing, 6000, 0, 100 * kMiB));
    line.Update(At(kPhaseComputing, 7000, 20 * kMiB, 100 * kMiB));
    EXPECT_EQ(line.Update(At(kPhaseFinished, 5000 + 125000)),
              "Completato con Successo in 2 minuti, 5 secondi @ 20 MB/s");
    // A job too short for a sample of its computing phase: its time rounds
    // up to a whole second and its speed is its bytes over that time.
    CreationProgressLine quick(0);
    quick.SetJobBytes(4 * kMiB);
    EXPECT_EQ(quick.Update(At(kPhaseFinished, 800)),
              "Completato con Successo in 1 secondi @ 5.0 MB/s");
    // Without any bytes known there is nothing to divide.
    CreationProgressLine empty(0);
    EXPECT_EQ(empty.Update(At(kPhaseFinished, 0)),
              "Completato con Successo in 0 secondi @ 0 KB/s");
}

}  // namespace
}  // namespace vantrove
