#pragma once
// PacketGroup: every packet read so far for one recovery set id.
//
// Volume files may hold packets of several sets; the loader files each packet
// into the group of its set id and later chooses the first group that is
// complete. A group holds its main and creator packets, per file id the
// file's description and block checksum packets, and its recovery slices by
// exponent (only their location: the data stays in the volume files).
// Groups belong to their Par2RecoverySet; the verification worker alone
// touches them.

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/disk_file.h"
#include "core/md5.h"
#include "par2/par2_descriptions.h"
#include "par2/recovery_slice_packet.h"

namespace vantrove {

struct DigestLess {
    // Byte-wise order, compared as two big-endian words: a set of many
    // files looks its records up hundreds of thousands of times.
    bool operator()(const Md5Digest& a, const Md5Digest& b) const {
        const uint64_t a0 = Word(a, 0), b0 = Word(b, 0);
        if (a0 != b0) return a0 < b0;
        return Word(a, 8) < Word(b, 8);
    }
    static uint64_t Word(const Md5Digest& digest, size_t at) {
        uint64_t word;
        std::memcpy(&word, digest.bytes.data() + at, sizeof word);
        return __builtin_bswap64(word);
    }
};

// What a group knows of one file id.
struct Par2FileRecord {
    std::shared_ptr<Par2FileDescription> description;
    std::shared_ptr<Par2BlockChecksums> checksums;
    std::string name;  // the description's name as a path of this system
    // Where PacketGroup::FindFile recorded its first lookup of this record.
    uint32_t lookupIndex = UINT32_MAX;
};

class PacketGroup {
  public:
    explicit PacketGroup(const Md5Digest& id, uint64_t sequence) : setId(id), sequence(sequence) {}

    // Hash-table bucket of a set id: its first little-endian 32-bit word
    // modulo 17. Groups are tried bucket by bucket, the newest first within
    // one bucket.
    static uint32_t BucketOf(const Md5Digest& id);

    // True when the main packet lists at least one recoverable file and every
    // one of them has a description and a checksum packet whose slice count
    // fits the file length. A file whose two packets disagree loses both.
    bool IsComplete();

    // The record of `id`, or nullptr. Volumes repeat their packets in the
    // same order, so the records are kept in the order first looked up, and
    // a lookup first tries the record looked up last and the one recorded
    // after it.
    Par2FileRecord* FindFile(const Md5Digest& id);

    // Removes every slice held by `file`; returns how many went.
    uint32_t RemoveSlicesOf(const DiskFile* file);
    bool HasSlicesOf(const DiskFile* file) const;

    Md5Digest setId;
    uint64_t sequence;  // order of creation
    uint32_t packetCount = 0;
    uint32_t exponentEnd = 0;  // one past the highest exponent seen
    std::map<Md5Digest, Par2FileRecord, DigestLess> files;
    std::map<uint32_t, std::shared_ptr<RecoverySlicePacket>> slices;
    std::shared_ptr<Par2MainPacket> main;
    std::shared_ptr<Par2CreatorPacket> creator;

  private:
    using FileIterator = std::map<Md5Digest, Par2FileRecord, DigestLess>::iterator;
    // FindFile's recorded answers and where the replay stands. Records are
    // erased only by IsComplete, which forgets the recording.
    std::vector<FileIterator> lookups_;
    size_t replayAt_ = 0;
    FileIterator last_;
    bool lastValid_ = false;
};

// ceil(length / sliceSize); 0 for a slice size of 0.
uint64_t SliceCountFor(uint64_t length, uint64_t sliceSize);

}  // namespace vantrove
