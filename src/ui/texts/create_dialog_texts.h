#pragma once
// The create dialog's words and the small decisions behind its fields, as
// pure functions: the caption and value of the time estimate, the efficiency
// and rebuildable-files figures, the redundancy label, reading a typed
// number, the block size a typed value asks for, the base name "Crea" uses
// and where the recovery files go. No Qt; any thread.

#include <cstdint>
#include <string>

namespace vantrove {

// "Tempo di calcolo @ … :" naming the measured speed in whole MB/s, tenths,
// hundredths or KB/s, by its size.
std::string CalculationTimeCaption(int64_t bytesPerSecond);

// The estimated processing time: hours and minutes, minutes and seconds, or
// seconds.
std::string EstimatedTimeText(uint64_t seconds);

// Tenths of a percent as "%d.%01d%%" (efficiency).
std::string EfficiencyText(uint32_t tenths);

// "%d - %d" (rebuildable files, minimum and maximum).
std::string RebuildableFilesText(uint32_t minimum, uint32_t maximum);

// Hundredths of a percent as "10.00%" (the redundancy slider's label).
std::string RedundancyText(uint32_t hundredths);

// A number typed by the user: every character that is not a digit is
// dropped ("1.000.000" reads 1000000). False when no digit is left. Values
// beyond 64 bits stop at the largest one.
bool ReadTypedNumber(const std::string& text, uint64_t& value);

// The block size a typed value asks for: a value above `current` is rounded
// up, one below it rounded down, to a multiple of `granule`; then it is held
// within [minimum, maximum].
uint64_t TypedBlockSize(uint64_t typed, uint64_t current, uint64_t granule, uint64_t minimum,
                        uint64_t maximum);

// The base name "Crea" uses: the typed name, else the default name, else
// the folder's name; trailing dots are removed. Empty means nothing to do.
std::string CreationBaseName(const std::string& typed, const std::string& defaultBaseName,
                             const std::string& folderBaseName);

// The message for two files that would be stored under one name.
std::string StoredNameClashText(const std::string& name, const std::string& first,
                                const std::string& second);

// Where the recovery files go: the typed path, else `defaultPath`, made
// absolute and ending in '/'. A leading "~" alone or before a '/' stands
// for `home` (the user's home folder when not given); any other path that
// does not start with '/' is taken below `defaultPath`.
std::string DestinationFolder(const std::string& typed, const std::string& defaultPath);
std::string DestinationFolder(const std::string& typed, const std::string& defaultPath,
                              const std::string& home);

// The folder as tested on disk: without its trailing '/', except for the
// root itself.
std::string DestinationTestPath(const std::string& folder);

}  // namespace vantrove
