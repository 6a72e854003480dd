#pragma once
// The PAR 2.0 descriptions of a source file as the set model holds them: the
// file description packet and the block checksum (IFSC) packet, each a
// FileDescription so that a SourceFileEntry carries it and the saved state
// writes it (whole, as it stands in the volume) and reads it back. Also the
// other packets that a saved state holds whole (main, creator).
//
// The objects are shared between the set's packet groups and its entries;
// the verification worker alone touches them.

#include <memory>
#include <vector>

#include "engine/file_description.h"
#include "engine/state_stream.h"
#include "par2/creator_packet.h"
#include "par2/file_description_packet.h"
#include "par2/ifsc_packet.h"
#include "par2/main_packet.h"

namespace vantrove {

class Par2FileDescription : public FileDescription, public FileDescriptionPacket {
  public:
    void WriteState(StateWriter& writer) const override;
    // Takes a whole packet read from a saved state; false unless it is a
    // valid file description packet with a matching packet hash.
    bool LoadBytes(std::vector<uint8_t> bytes);
    // A copy of this description under another file id (a main packet that
    // lists one id twice gets two entries).
    std::shared_ptr<Par2FileDescription> CopyWithId(const Md5Digest& fileId) const;
};

class Par2BlockChecksums : public FileDescription, public IfscPacket {
  public:
    void WriteState(StateWriter& writer) const override;
    bool LoadBytes(std::vector<uint8_t> bytes);
    std::shared_ptr<Par2BlockChecksums> CopyWithId(const Md5Digest& fileId) const;
    // True when both list the same checksums (file ids aside).
    bool SameEntries(const Par2BlockChecksums& other) const;
};

class Par2MainPacket : public MainPacket {
  public:
    bool LoadBytes(std::vector<uint8_t> bytes);
};

class Par2CreatorPacket : public CreatorPacket {
  public:
    bool LoadBytes(std::vector<uint8_t> bytes);
};

// Reads one whole packet from a saved state: its 64-byte header, then the
// rest of the length the header states (which must fit in what is left).
bool ReadWholePacket(StateReader& reader, std::vector<uint8_t>& bytes);

// The description reader that a PAR 2.0 saved state hands to its reader.
FileDescriptionRef ReadPar2Description(DescriptionSlot slot, StateReader& reader);

}  // namespace vantrove
