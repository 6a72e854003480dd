#pragma once
// Md5ChecksumSet: a list of data files with the MD5 of each (.md5).
//
// Six line layouts are accepted (checksum_list.h); the layout of the last
// line that parsed (`md5LineStyle`) names the program that made the list.
// Verification, copies under other names and the rename-only repair are
// those of ChecksumSet, with MD5 in place of CRC-32. Its saved state has the
// extension ".vt5". Used by the verification worker only.

#include <cstdint>
#include <memory>
#include <string>

#include "core/md5.h"
#include "engine/file_description.h"
#include "formats/checksum_set.h"

namespace vantrove {

// One line of an MD5 list: the digest and the name as written.
struct Md5ListEntryDescription : ListLineDescription {
    Md5Digest digest;
    void WriteState(StateWriter& writer) const override;
};

// A recovery set of one MD5 list, not yet loaded.
std::unique_ptr<RecoverySet> NewMd5Set(SetObserver* observer, const StopFlag* stopFlag);

class Md5ChecksumSet final : public ChecksumSet {
  public:
    explicit Md5ChecksumSet(RecoverySet& set);

    std::unique_ptr<SetFormat> NewFormatFor(RecoverySet& set) const override;
    // The program that writes lines of `md5LineStyle`; "unknown" before any.
    std::string CreatorText() const override;

    int32_t md5LineStyle() const { return md5LineStyle_; }

  protected:
    void WriteListState(StateWriter& writer) const override;
    void ReadListState(StateReader& reader) override;
    bool ParseListLine(std::string_view line, std::vector<SourceFileEntryRef>& entries) override;
    void HashUpdate(ChecksumOfFile& hash, const void* data, size_t length) const override;
    void HashFinish(ChecksumOfFile& hash) const override;
    bool HashMatches(const SourceFileEntry& entry, const ChecksumOfFile& hash) const override;
    bool SameEntry(const SourceFileEntry& a, const SourceFileEntry& b) const override;

  private:
    int32_t md5LineStyle_ = 0;
};

}  // namespace vantrove
