// The message of a failed repair: the kind's text, the file's name without
// its folder, the system's text or "Errore %d" when it has none.
#include "app/repair_error_message.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace vantrove {
namespace {

TEST(RepairErrorMessage, FileKindsNameTheFileAndTheSystemsText) {
    EXPECT_EQ(RepairErrorMessage(ErrorKind::Write, ENOSPC, "/data/set/movie.avi"),
              "Impossibile scrivere in \"movie.avi\": No space left on device");
    EXPECT_EQ(RepairErrorMessage(ErrorKind::Rename, EACCES, "/x/a b"),
              "Impossibile rinominare \"a b\": Permission denied");
    EXPECT_EQ(RepairErrorMessage(ErrorKind::Open, ENOENT, "f"),
              "Impossibile aprire \"f\": No such file or directory");
    EXPECT_EQ(RepairErrorMessage(ErrorKind::Read, 987654, "/y/z"),
              "Impossibile leggere da \"z\": Errore 987654");
    EXPECT_EQ(RepairErrorMessage(ErrorKind::CreateTarget, 0, "/y/z"),
              "Impossibile creare \"z\": Errore 0");
}

TEST(RepairErrorMessage, OtherKindsStandAlone) {
    EXPECT_EQ(RepairErrorMessage(ErrorKind::None, 5, "/a"), "");
    EXPECT_EQ(RepairErrorMessage(ErrorKind::ReedSolomon, 5, "/a"),
              "Errore nella computazione di Reed Solomon");
    EXPECT_EQ(RepairErrorMessage(ErrorKind::VerifyFailed, 0, ""), "Verifica fallita");
    EXPECT_EQ(RepairErrorMessage(ErrorKind::Cancelled, 0, ""), "Riparazione Annullata");
    EXPECT_EQ(RepairErrorMessage(ErrorKind::Signature, 0, ""),
              "Errore Firma di verifica: Probabile errore di memoria");
    EXPECT_EQ(RepairErrorMessage(ErrorKind::Busy, 3, "/a"),
              "Serie occupata: un'altra riparazione o creazione sta lavorando nella sua cartella");
    EXPECT_EQ(RepairErrorMessage(static_cast<ErrorKind>(12), 3, "/a"), "Riparazione fallita");
}

}  // namespace
}  // namespace vantrove
