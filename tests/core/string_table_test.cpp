#include "core/string_table.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "core/string_ids.h"

namespace vantrove {
namespace {

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates, at most U+10FFFF).
bool IsValidUtf8(const char* text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p) {
        unsigned c = *p;
        int more = 0;
        unsigned code = 0;
        if (c < 0x80) {
            ++p;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            more = 1;
            code = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            more = 2;
            code = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            more = 3;
            code = c & 0x07;
        } else {
            return false;
        }
        ++p;
        for (int i = 0; i < more; ++i, ++p) {
            if ((*p & 0xC0) != 0x80) return false;
            code = (code << 6) | (*p & 0x3F);
        }
        static const unsigned kMinimum[] = {0, 0x80, 0x800, 0x10000};
        if (code < kMinimum[more] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
    }
    return true;
}

// True when every '%' of `text` starts a conversion that the program's formatting uses:
// "%%", or flags/width/precision digits followed by d, s or f.
bool HasOnlyKnownConversions(const char* text) {
    for (const char* p = std::strchr(text, '%'); p != nullptr; p = std::strchr(p, '%')) {
        ++p;
        if (*p == '%') {
            ++p;
            continue;
        }
        while (std::isdigit(static_cast<unsigned char>(*p)) || *p == '.') ++p;
        if (*p != 'd' && *p != 's' && *p != 'f') return false;
        ++p;
    }
    return true;
}

TEST(StringTable, EveryIdOfTheRangeHasANonEmptyText) {
    for (int id = kFirstStringId; id <= kLastStringId; ++id) {
        const char* text = LoadStringResource(id);
        ASSERT_NE(text, nullptr) << "id " << id;
        EXPECT_NE(text[0], '\0') << "id " << id;
    }
    EXPECT_EQ(FirstMissingStringId(), std::nullopt);
}

TEST(StringTable, ResourceFileHoldsEachIdOnceAndNothingElse) {
    const std::span<const StringEntry> entries = StringTableEntries();
    EXPECT_EQ(entries.size(), static_cast<size_t>(kStringIdCount));
    EXPECT_EQ(FindDuplicateStringId(entries), std::nullopt);
    EXPECT_EQ(FindStringIdOutOfRange(entries), std::nullopt);
    EXPECT_EQ(FindUncoveredStringId(entries), std::nullopt);
    // What the index hands out is what the file says.
    for (const StringEntry& e : entries) EXPECT_STREQ(LoadStringResource(e.id), e.text);
}

TEST(StringTable, IdsOutsideTheRangeAreMissing) {
    EXPECT_EQ(LoadStringResource(499), nullptr);
    EXPECT_EQ(LoadStringResource(kLastStringId + 1), nullptr);
    EXPECT_EQ(LoadStringResource(-1), nullptr);
    EXPECT_EQ(GetString(10000), "");
}

// The checks that guard the table must themselves notice each kind of fault.
TEST(StringTableChecks, FindDuplicatesOutOfRangeAndMissingIds) {
    std::vector<StringEntry> entries;
    for (int id = kFirstStringId; id <= kLastStringId; ++id) entries.push_back({id, "x"});
    EXPECT_EQ(FindDuplicateStringId(entries), std::nullopt);
    EXPECT_EQ(FindStringIdOutOfRange(entries), std::nullopt);
    EXPECT_EQ(FindUncoveredStringId(entries), std::nullopt);

    std::vector<StringEntry> duplicated = entries;
    duplicated.push_back({612, "y"});
    EXPECT_EQ(FindDuplicateStringId(duplicated), 612);

    std::vector<StringEntry> outside = entries;
    outside.insert(outside.begin() + 3, {kLastStringId + 1, "y"});
    outside.push_back({499, "y"});
    EXPECT_EQ(FindStringIdOutOfRange(outside), kLastStringId + 1);

    std::vector<StringEntry> gap = entries;
    gap.erase(gap.begin() + (577 - kFirstStringId));
    EXPECT_EQ(FindUncoveredStringId(gap), 577);

    std::vector<StringEntry> empty = entries;
    empty[kLastStringId - kFirstStringId].text = "";
    empty[0].text = nullptr;
    EXPECT_EQ(FindUncoveredStringId(empty), kFirstStringId);
    empty[0].text = "x";
    EXPECT_EQ(FindUncoveredStringId(empty), kLastStringId);
}

TEST(StringTable, TextsAreUtf8WithWellFormedConversions) {
    for (int id = kFirstStringId; id <= kLastStringId; ++id) {
        EXPECT_TRUE(IsValidUtf8(GetString(id).c_str())) << "id " << id;
        EXPECT_TRUE(HasOnlyKnownConversions(GetString(id).c_str())) << "id " << id;
    }
    EXPECT_FALSE(IsValidUtf8("Priorit\xE0"));              // Latin-1 byte
    EXPECT_FALSE(IsValidUtf8("\xC3"));                     // cut short
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));                 // overlong
    EXPECT_FALSE(HasOnlyKnownConversions("100% sicuro"));  // stray percent sign
}

TEST(StringTable, TextsWithFixedIds) {
    EXPECT_EQ(GetString(500), "Vantrove 0.9");
    EXPECT_EQ(GetString(502), "Calcolo matrice Reed-Solomon");
    EXPECT_EQ(GetString(503), "Dati di recupero");
    EXPECT_EQ(GetString(504), "Scrittura dati recuperati sul disco");
    EXPECT_EQ(GetString(508), " versione %d.%d.%d");
    EXPECT_EQ(GetString(510), " versione %d");
    EXPECT_EQ(GetString(511), "Client sconosciuto %d");
    EXPECT_EQ(GetString(518), "Esci");
    EXPECT_EQ(GetString(520), "Seleziona Cartella");
    EXPECT_EQ(GetString(528), "Tempo di calcolo @ %d.%02d MB/s:");
    EXPECT_EQ(GetString(536), "%0.0f KB/s");
    EXPECT_EQ(GetString(537), "%d ore, %d minuti");
    EXPECT_EQ(GetString(541), "%d minuti, %d secondi");
    EXPECT_EQ(GetString(622), "Volume di Recupero PAR");
    EXPECT_EQ(GetString(648), "Vantrove - Creazionde di \"%s.PAR2\"");
    EXPECT_EQ(GetString(650), "Vantrove - Fallita - \"%s.PAR2\"");
    EXPECT_EQ(GetString(652), "Impossibile rinominare \"%s\"");
    EXPECT_EQ(GetString(657), "Errore Firma di verifica: Probabile errore di memoria");
    EXPECT_EQ(GetString(660), "Errore %d");
    EXPECT_EQ(GetString(662), "Riparazione Annullata");
    EXPECT_EQ(GetString(663), "Tutti i file (*.*)|*.*|");
    // The "??" must survive compilation as two question marks.
    EXPECT_EQ(GetString(665),
              std::string("Volumi di Recupero (*.PAR2, *.P") + "?" + "?)|*.PAR2;*.P" + "?" + "?|");
    EXPECT_EQ(GetString(666), "Seleziona volume di recupero");
    EXPECT_EQ(GetString(672),
              "Estenzione per la Shell cambiata.\n\nPer favore disconnettere l'utente corrente e "
              "riconnetterlo nuovamente  per consentire l'aggiornamento dell'estensione per la "
              "Shell.");
    EXPECT_EQ(GetString(673), "Apri con Vantrove");
    EXPECT_EQ(GetString(674), "Apri con Vantrove");
    EXPECT_EQ(GetString(675), "sconosciuto");
    EXPECT_EQ(GetString(676), " Byte");
    EXPECT_EQ(GetString(678), "par2");
}

TEST(StringTable, NamedIdsMatchTheirTexts) {
    EXPECT_EQ(kStrCreatorText, 500);
    EXPECT_EQ(kStrPar2Extension, 678);
    EXPECT_EQ(GetString(kStrUnknown), "sconosciuto");
    EXPECT_EQ(GetString(kStrActivityComputingMatrix), "Calcolo matrice Reed-Solomon");
    EXPECT_EQ(GetString(kStrRepairCancelled), "Riparazione Annullata");
    EXPECT_EQ(GetString(kStrActivityRenamingFiles), "Rinomina file");
    EXPECT_EQ(GetString(kStrTitleRenaming), "Vantrove - Rinomina fiile - \"%s\"");
    EXPECT_EQ(GetString(kStrTitleSelectMoreVolumes),
              "Vantrove - Seleziona pi\xC3\xB9 Volumi di Recupero");
    EXPECT_EQ(GetString(kStrPriorityMenu), "Priorit\xC3\xA0");
    EXPECT_EQ(GetString(kStrPhaseHashingFile), "Calcola file hash per ");
    EXPECT_EQ(GetString(kStrPhaseVerifyingSplitFile), "Verifying Split File");
    EXPECT_EQ(GetString(kStrSchemePowersOfTwo),
              "Variabile (schema di dimesionamento Potenze di due)");
    EXPECT_EQ(GetString(kStrDestinationIsFile),
              "Impossibile usare la cartella di destinazione richiesta:\n\nItE' un file");
    EXPECT_EQ(GetString(kStrCreateDestinationQuestion),
              "La cartella di destinazione richiesta non esiste.\n\n%s\n\nVolete crearla?");
    EXPECT_EQ(GetString(kStrCreationFailedBlockSignature),
              "Fallito:  Firma di verifica del  blocco di recupero non corrispondente");
    EXPECT_EQ(GetString(kStrCreationFailedDataVerify), "Fallito:  Verifica Dati Fallita");
    EXPECT_EQ(GetString(kStrCreationFailed), "Fallito");
    EXPECT_EQ(GetString(kStrStatusReadyToRename), "Pronto a rinominare %d file");
    EXPECT_EQ(GetString(kStrRowIncompletePercent), "Incompleto (%d.%1d%% disponibile)");
    EXPECT_EQ(GetString(kStrRowMissingOfBlocks), "Mancante (%s/%s blocchi disponibili)");
    EXPECT_EQ(GetString(kStrRepairSucceededIn), "Riparazione riuscita in %s @ %s");
    EXPECT_EQ(GetString(kStrJoinButton), "Unisci");
    EXPECT_EQ(GetString(kStrStopButton), "Ferma");
}

}  // namespace
}  // namespace vantrove
