#pragma once
// SfvChecksumSet: a simple file verification list (.sfv), one data file per
// line with the CRC-32 of its content.
//
// The set verifies files by their CRC-32 (the whole file, zero-length files
// never match), finds copies under other names and repairs by renaming only
// (ChecksumSet). Its saved state has the extension ".vt6". Used by the
// verification worker only.

#include <cstdint>
#include <memory>
#include <string>

#include "engine/file_description.h"
#include "formats/checksum_set.h"

namespace vantrove {

// One line of an SFV list: the CRC-32 and the name as written.
struct SfvEntryDescription : ListLineDescription {
    uint32_t crc = 0;
    void WriteState(StateWriter& writer) const override;
};

// A recovery set of one SFV list, not yet loaded.
std::unique_ptr<RecoverySet> NewSfvSet(SetObserver* observer, const StopFlag* stopFlag);

class SfvChecksumSet final : public ChecksumSet {
  public:
    explicit SfvChecksumSet(RecoverySet& set);

    std::unique_ptr<SetFormat> NewFormatFor(RecoverySet& set) const override;
    // "sconosciuto": a list does not tell who made it.
    std::string CreatorText() const override;

  protected:
    bool ParseListLine(std::string_view line, std::vector<SourceFileEntryRef>& entries) override;
    void HashUpdate(ChecksumOfFile& hash, const void* data, size_t length) const override;
    bool HashMatches(const SourceFileEntry& entry, const ChecksumOfFile& hash) const override;
    bool SameEntry(const SourceFileEntry& a, const SourceFileEntry& b) const override;
};

}  // namespace vantrove
