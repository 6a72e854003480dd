#pragma once
// The file description packet: a source file's id, its two MD5 hashes (whole
// file and first 16 KiB), its length and its name. Built by creation for
// every source file, read by the set loader. A plain value; one thread at a
// time.
//
// The file id is the MD5 of the first-16-KiB hash, the 8-byte length and the
// name bytes, so it does not depend on the recovery set. The set id and the
// packet hash are filled in once the main packet exists (Seal).

#include <cstdint>
#include <functional>
#include <string>

#include "core/md5.h"
#include "par2/packet_buffer.h"

namespace vantrove {

// Told the file position reached after each 1 MiB chunk of whole-file
// hashing; returning false stops the hashing (the build then fails with
// ECANCELED).
using FileHashProgress = std::function<bool(uint64_t position)>;

class FileDescriptionPacket : public PacketBuffer {
  public:
    // Builds the packet for `length` bytes of the open `file`, stored under
    // `name` (8-bit characters, no folder, not empty). Reads the first 16384
    // bytes for the 16 KiB hash. With `hashNow` the whole-file hash is made
    // here: a file of at most 16384 bytes takes the 16 KiB hash, a longer
    // one is read from offset 0 in 1 MiB chunks, each reported to
    // `progress`. Without it the whole-file hash is left to the caller, who
    // feeds every byte of the file through FeedWholeFile and then calls
    // FinishWholeFileHash. On failure returns false and sets `error` to the
    // file's errno value (EINVAL for an unusable name, ENOMEM when memory is
    // short, ECANCELED when stopped).
    bool Build(DiskFile& file, const std::string& name, uint64_t length, bool hashNow,
               const FileHashProgress& progress, int& error);

    // Deferred whole-file hash: bytes of the file in order from offset 0.
    void FeedWholeFile(const void* data, size_t length) { wholeFile_.Update(data, length); }
    // Writes the digest of everything fed into the packet.
    void FinishWholeFileHash();
    // Writes a whole-file digest computed by the caller from every byte of
    // the file (in place of FeedWholeFile).
    void FinishWholeFileHash(const Md5Digest& digest);
    bool wholeFileHashPending() const { return hashPending_; }

    // Reads the packet at `offset` whose checked header is `header`; false
    // rejects it. Accepted: length below 2^32, at least 121 (a name of at
    // least one byte), and for a file of at most 16384 bytes both hashes
    // equal.
    bool Read(DiskFile& file, uint64_t offset, const uint8_t* header);

    Md5Digest fileId() const;
    Md5Digest fileHash() const;
    Md5Digest hash16k() const;
    uint64_t fileLength() const;
    // The stored name up to its first zero byte (or the packet's end).
    std::string name() const;

    // MD5 of the 16 KiB hash, the length and the name as stored.
    Md5Digest ComputeFileId() const;

  private:
    Md5Context wholeFile_;
    bool hashPending_ = false;
};

}  // namespace vantrove
