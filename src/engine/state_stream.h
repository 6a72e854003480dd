#pragma once
// StateWriter and StateReader: the container of the program's own files (the
// cache index and the state files).
//
// A file is a sequence of little-endian fields followed by the MD5 of every
// byte before it. Writing goes through a 512 KiB buffer into "<name>.tmp",
// the digest running over the bytes as they are flushed; CloseStream appends
// the digest, moves the old file to "<name>.bak" and gives the new file the
// name, so that a failed or interrupted write leaves the previous file (or its
// ".bak") as it was. Reading loads the whole file, and CheckDigest compares
// the MD5 of everything read with the stored digest.
//
// Shared objects (files, source entries, format packets) are written once:
// a reference is a signed 32-bit index, 0 the null reference, -1 "the object
// follows in full and takes the next free index (1, 2, ...)", any other value
// an object that took that index earlier. On reading, an index not yet
// assigned, an object of the wrong type, or objects nested deeper than
// kMaxReferenceDepth are format errors; every failure is sticky and makes all
// further reads return zeros, so a parser can check once at the end.
//
// One stream belongs to one thread. All file access goes through DiskFile.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/disk_file.h"
#include "core/md5.h"
#include "engine/file_description.h"

namespace vantrove {

// The kinds of shared object a stream may hold. Formats take their own
// values from FormatBase upwards.
enum class StateObjectType : int32_t {
    Placeholder = 0,  // an index reserved while its object is being read
    DiskFile = 1,
    SourceFileEntry = 2,
    Description = 3,  // any FileDescription
    FormatBase = 100,
};

class StateWriter {
  public:
    static constexpr size_t kBufferSize = 524288;

    StateWriter();
    // Abandons the write (deleting the ".tmp" file) unless CloseStream ran.
    ~StateWriter();
    StateWriter(const StateWriter&) = delete;
    StateWriter& operator=(const StateWriter&) = delete;

    // Creates "<path>.tmp" for writing. False (and failed()) when it cannot.
    bool Open(const std::string& path);

    void WriteBytes(const void* data, size_t length);
    void WriteU32(uint32_t value);
    void WriteI32(int32_t value) { WriteU32(static_cast<uint32_t>(value)); }
    void WriteU64(uint64_t value);
    // 4-byte length, then the bytes, no terminator.
    void WriteString(std::string_view text);

    // Writes a reference to `object`: 0 for null, the object's index when it
    // was written before, else -1 followed by whatever `writeBody` writes.
    // The index is assigned before `writeBody` runs, so the body may refer to
    // the object itself.
    void WriteReference(const void* object, const std::function<void()>& writeBody);

    // Flushes, appends the digest and puts the new file in place. False when
    // anything failed; the ".tmp" file is then removed and the previous file
    // stays.
    bool CloseStream();
    // Drops what was written and removes the ".tmp" file.
    void Abandon();

    bool failed() const { return failed_; }
    int lastError() const { return lastError_; }
    const std::string& path() const { return path_; }
    uint64_t bytesWritten() const { return flushed_ + buffer_.size(); }
    // The set's folder: file paths are stored relative to it.
    void SetBaseFolder(std::string folder) { baseFolder_ = std::move(folder); }
    const std::string& baseFolder() const { return baseFolder_; }
    // Marks the stream failed (nothing will be kept), e.g. for a path that
    // cannot be stored relative to the base folder.
    void Refuse() { Fail(EINVAL); }

  private:
    void Flush();
    void Fail(int error);

    std::string path_;
    std::string baseFolder_;
    DiskFile file_;
    std::vector<uint8_t> buffer_;
    uint64_t flushed_ = 0;
    Md5Context md5_;
    std::unordered_map<const void*, int32_t> indices_;
    int32_t nextIndex_ = 1;
    bool open_ = false;
    bool failed_ = false;
    int lastError_ = 0;
};

class StateReader {
  public:
    static constexpr int kMaxReferenceDepth = 64;

    // Reads a description of `slot` at the reader's position (the reference
    // before it has been read); null when the bytes are not a valid one.
    using DescriptionReader =
        std::function<FileDescriptionRef(DescriptionSlot slot, StateReader& reader)>;

    StateReader() = default;
    StateReader(const StateReader&) = delete;
    StateReader& operator=(const StateReader&) = delete;

    // Loads the whole file. False when it cannot be read or is too short to
    // hold a digest.
    bool Open(const std::string& path);
    // Reads from memory (tests and the cache index); `bytes` includes the
    // trailing digest.
    void OpenBytes(std::vector<uint8_t> bytes);

    bool ReadBytes(void* out, size_t length);
    uint32_t ReadU32();
    int32_t ReadI32() { return static_cast<int32_t>(ReadU32()); }
    uint64_t ReadU64();
    // 4-byte length then the bytes; fails when the length runs past the data.
    bool ReadString(std::string& out);

    // True when everything before the digest has been read and its MD5 equals
    // the stored digest, and no read failed.
    bool CheckDigest() const;

    // Marks the stream as a format error.
    void Fail() { failed_ = true; }
    bool failed() const { return failed_; }
    // The set's folder: stored file paths are taken relative to it.
    void SetBaseFolder(std::string folder) { baseFolder_ = std::move(folder); }
    const std::string& baseFolder() const { return baseFolder_; }
    // Bytes left before the digest.
    size_t remaining() const { return contentSize_ - position_; }

    // Reference reading, in two halves so that an object can be registered
    // before its body is read (its body may refer back to it). The header
    // read gives null (`newIndex` 0, `existing` null), an earlier object of
    // `type` (`newIndex` 0), or a fresh index that the caller must Register.
    bool ReadReferenceHeader(StateObjectType type, std::shared_ptr<void>& existing,
                             int32_t& newIndex);
    void Register(int32_t index, StateObjectType type, std::shared_ptr<void> object);
    // Leaves the body of an object read after ReadReferenceHeader.
    void EndObject() { --depth_; }

    // Reads a reference to an object of `type`; `create` makes a new empty
    // object, `readBody` fills it and returns false on a format error.
    template <class T, class Create, class ReadBody>
    bool ReadReference(StateObjectType type, std::shared_ptr<T>& out, Create create,
                       ReadBody readBody) {
        std::shared_ptr<void> existing;
        int32_t index = 0;
        if (!ReadReferenceHeader(type, existing, index)) return false;
        if (index == 0) {
            out = std::static_pointer_cast<T>(existing);
            return true;
        }
        out = create();
        Register(index, type, out);
        bool ok = readBody(*out);
        EndObject();
        if (!ok) Fail();
        return ok && !failed_;
    }

    // The hook through which SourceFileEntry records read their descriptions.
    void SetDescriptionReader(DescriptionReader reader) { descriptionReader_ = std::move(reader); }
    const DescriptionReader& descriptionReader() const { return descriptionReader_; }

  private:
    struct Slot {
        StateObjectType type;
        std::shared_ptr<void> object;
    };

    std::vector<uint8_t> data_;
    size_t contentSize_ = 0;
    size_t position_ = 0;
    bool failed_ = false;
    std::string baseFolder_;
    int depth_ = 0;
    std::vector<Slot> objects_;
    DescriptionReader descriptionReader_;
};

}  // namespace vantrove
