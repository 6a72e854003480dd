#pragma once
// The texts of the verify/repair dialog's file list: the names of the two
// group rows and the Size and Status columns of every row kind, worded for
// the set's format (blocks for PAR2, files or percentages for PAR1, plain
// words for checksum sets). The dialog owns the rows; these functions only
// word what the observer reported. Pure functions over the string table;
// any thread.

#include <cstdint>
#include <string>
#include <vector>

#include "engine/recovery_set_status.h"
#include "engine/set_observer.h"

namespace vantrove {

// Name column of the group rows: "File di recupero" (parity sets) or "File
// delle Firme di Verifica" (checksum sets), and "File di dati". Other rows
// show their file name without folder (FileNameOfPath), place rows their path.
std::string RecoveryGroupName(FormatKind format);
std::string DataGroupName();

// Size column: the size in bytes, digits grouped.
std::string SizeText(uint64_t size);

// Status of the recovery group row: the recovery blocks (PAR2) or recovery
// files (PAR1) available; empty for checksum sets.
std::string RecoveryGroupStatus(FormatKind format, int64_t recoveryBlocks);

// Status of the data group row: the data blocks found (PAR2) or the files
// found (other formats, whose files are one block each).
std::string DataGroupStatus(FormatKind format, int64_t found);

// Status of a volume or checksum file row from its display code and the
// recovery blocks (or checksums) taken from it.
std::string VolumeRowStatus(FormatKind format, VolumeDisplayCode code, uint32_t blocksTaken);

// Blocks of a source file found in its places, at most its block count.
uint32_t FoundBlocks(uint32_t blockCount, const std::vector<SourcePlace>& places);

// Status of a source file row, from what ReportSourceFileLine gave. The
// found blocks of a damaged or missing file are those of its places; for
// PAR1, whose files are one block each, they are shown as a percentage of the
// file.
std::string SourceRowStatus(FormatKind format, SourceRowKind kind, uint32_t blockCount,
                            const std::vector<SourcePlace>& places);

// Status of a place row (a file holding blocks of a source file of
// `sourceBlockCount` blocks): its blocks (PAR2) or the share of the source
// file they make (PAR1); empty for checksum sets. A file that could not be
// read throughout adds "Illeggibile in parte: " and the system's reason.
std::string PlaceRowStatus(FormatKind format, const SourcePlace& place, uint32_t sourceBlockCount);

}  // namespace vantrove
