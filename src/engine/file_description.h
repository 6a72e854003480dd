#pragma once
// FileDescription: what a format knows about one protected file.
//
// Each format keeps its own description objects (a PAR2 file description and
// its block checksum packet, a PAR1 file entry, an MD5-list or SFV line); a
// SourceFileEntry holds them in five slots, of which only the slots of the
// set's own format are filled. Descriptions are shared objects: the saved
// state writes each one once and refers to it afterwards, so the same object
// may also be held by the format's own tables. Used by the worker thread only.

#include <cstdint>
#include <memory>

namespace vantrove {

class StateWriter;

// The five description slots of an entry, numbered from 0 in the order the
// saved state writes them.
enum class DescriptionSlot : int {
    Par2FileDescription,
    Par2BlockChecksums,
    Par1FileEntry,
    Md5ListEntry,
    SfvEntry
};
constexpr int kDescriptionSlotCount = 5;

class FileDescription {
  public:
    virtual ~FileDescription() = default;
    // Writes the object's own bytes to a state file (the reference that
    // precedes them is written by the caller). The format reads them back
    // through the description reader it hands to the state reader.
    virtual void WriteState(StateWriter& writer) const = 0;
};

using FileDescriptionRef = std::shared_ptr<FileDescription>;

}  // namespace vantrove
