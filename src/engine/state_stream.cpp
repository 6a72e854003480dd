#include "engine/state_stream.h"

#include <sys/stat.h>

#include <cstring>

namespace vantrove {
namespace {

constexpr size_t kDigestSize = 16;
// A state file larger than this is not ours (a set with millions of blocks
// needs a few tens of MiB).
constexpr uint64_t kMaxStateFileSize = 1ULL << 30;

void PutU32(uint8_t* out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Removes `path`; a file that is not there counts as removed.
bool RemoveIfPresent(const std::string& path, int& error) {
    DiskFile file(path);
    if (file.remove() || file.lastError() == ENOENT) return true;
    error = file.lastError();
    return false;
}

}  // namespace

StateWriter::StateWriter() = default;

StateWriter::~StateWriter() {
    if (open_) Abandon();
}

bool StateWriter::Open(const std::string& path) {
    if (open_) Abandon();
    path_ = path;
    buffer_.clear();
    buffer_.reserve(kBufferSize);
    flushed_ = 0;
    md5_.Reset();
    indices_.clear();
    nextIndex_ = 1;
    failed_ = false;
    lastError_ = 0;
    if (!file_.create(path + ".tmp")) {
        Fail(file_.lastError());
        return false;
    }
    open_ = true;
    return true;
}

void StateWriter::Fail(int error) {
    if (!failed_) lastError_ = error != 0 ? error : EIO;
    failed_ = true;
}

void StateWriter::Flush() {
    if (buffer_.empty()) return;
    if (!failed_) {
        md5_.Update(buffer_.data(), buffer_.size());
        if (!file_.write(flushed_, buffer_.data(), buffer_.size())) Fail(file_.lastError());
    }
    flushed_ += buffer_.size();
    buffer_.clear();
}

void StateWriter::WriteBytes(const void* data, size_t length) {
    if (!open_ || failed_) return;
    const uint8_t* p = static_cast<const uint8_t*>(data);
    while (length > 0) {
        size_t room = kBufferSize - buffer_.size();
        size_t n = length < room ? length : room;
        buffer_.insert(buffer_.end(), p, p + n);
        p += n;
        length -= n;
        if (buffer_.size() == kBufferSize) Flush();
    }
}

void StateWriter::WriteU32(uint32_t value) {
    uint8_t bytes[4];
    PutU32(bytes, value);
    WriteBytes(bytes, 4);
}

void StateWriter::WriteU64(uint64_t value) {
    uint8_t bytes[8];
    PutU32(bytes, static_cast<uint32_t>(value));
    PutU32(bytes + 4, static_cast<uint32_t>(value >> 32));
    WriteBytes(bytes, 8);
}

void StateWriter::WriteString(std::string_view text) {
    WriteU32(static_cast<uint32_t>(text.size()));
    WriteBytes(text.data(), text.size());
}

void StateWriter::WriteReference(const void* object, const std::function<void()>& writeBody) {
    if (object == nullptr) {
        WriteI32(0);
        return;
    }
    auto it = indices_.find(object);
    if (it != indices_.end()) {
        WriteI32(it->second);
        return;
    }
    indices_.emplace(object, nextIndex_++);
    WriteI32(-1);
    writeBody();
}

void StateWriter::Abandon() {
    if (!open_) return;
    open_ = false;
    if (file_.isOpen()) file_.close();
    int ignored = 0;
    RemoveIfPresent(path_ + ".tmp", ignored);
    buffer_.clear();
}

bool StateWriter::CloseStream() {
    if (!open_) return false;
    Flush();
    if (!failed_) {
        Md5Digest digest = md5_.Final();
        if (!file_.write(flushed_, digest.bytes.data(), kDigestSize)) Fail(file_.lastError());
    }
    if (failed_) {
        Abandon();
        return false;
    }
    file_.close();
    const std::string tmpPath = path_ + ".tmp";
    const std::string bakPath = path_ + ".bak";
    int error = 0;
    // The old ".bak" goes first, so that the old file can take its name.
    // Without an old file (a save killed between its renames) the ".bak" is
    // the previous save and stays.
    struct stat st {};
    if (lstat(path_.c_str(), &st) == 0) {
        if (!RemoveIfPresent(bakPath, error)) {
            Fail(error);
            Abandon();
            return false;
        }
        DiskFile old(path_);
        if (!old.rename(bakPath) && old.lastError() != ENOENT) {
            Fail(old.lastError());
            Abandon();
            return false;
        }
    }
    open_ = false;
    if (!file_.rename(path_)) {
        Fail(file_.lastError());
        RemoveIfPresent(tmpPath, error);
        return false;
    }
    if (file_.path != path_) {
        // Something took the name in the meantime; never leave our file under
        // a name nobody looks for.
        Fail(EEXIST);
        RemoveIfPresent(file_.path, error);
        return false;
    }
    return true;
}

namespace {

// The bytes of a state file whose trailing digest holds, or nothing.
bool ReadWholeState(const std::string& path, std::vector<uint8_t>& bytes, bool& present) {
    DiskFile file;
    present = file.open(path) || file.lastError() != ENOENT;
    if (!file.isOpen()) return false;
    if (file.size < kDigestSize || file.size > kMaxStateFileSize) {
        file.close();
        return false;
    }
    bytes.assign(static_cast<size_t>(file.size), 0);
    bool ok = file.read(0, bytes.data(), bytes.size());
    file.close();
    if (!ok) {
        bytes.clear();
        return false;
    }
    const size_t content = bytes.size() - kDigestSize;
    const Md5Digest digest = Md5Of(bytes.data(), content);
    return std::memcmp(digest.bytes.data(), bytes.data() + content, kDigestSize) == 0;
}

}  // namespace

bool StateReader::Open(const std::string& path) {
    data_.clear();
    // A save puts the previous file aside as ".bak" before the new one takes
    // the name: when the job was killed in between, or the file at the name
    // is damaged, the previous save is what there is.
    std::vector<uint8_t> bytes;
    bool present = false;
    if (!ReadWholeState(path, bytes, present)) {
        std::vector<uint8_t> previous;
        bool previousPresent = false;
        if (ReadWholeState(path + ".bak", previous, previousPresent)) {
            bytes = std::move(previous);
        } else if (!present || bytes.empty()) {
            return false;
        }
    }
    OpenBytes(std::move(bytes));
    return true;
}

void StateReader::OpenBytes(std::vector<uint8_t> bytes) {
    data_ = std::move(bytes);
    failed_ = data_.size() < kDigestSize;
    contentSize_ = failed_ ? 0 : data_.size() - kDigestSize;
    position_ = 0;
    depth_ = 0;
    objects_.clear();
}

bool StateReader::ReadBytes(void* out, size_t length) {
    if (failed_ || length > remaining()) {
        failed_ = true;
        if (length > 0) std::memset(out, 0, length);
        return false;
    }
    if (length > 0) std::memcpy(out, data_.data() + position_, length);
    position_ += length;
    return true;
}

uint32_t StateReader::ReadU32() {
    uint8_t b[4];
    if (!ReadBytes(b, 4)) return 0;
    return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
           static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
}

uint64_t StateReader::ReadU64() {
    uint64_t low = ReadU32();
    uint64_t high = ReadU32();
    return low | high << 32;
}

bool StateReader::ReadString(std::string& out) {
    out.clear();
    uint32_t length = ReadU32();
    if (failed_ || length > remaining()) {
        failed_ = true;
        return false;
    }
    out.assign(reinterpret_cast<const char*>(data_.data() + position_), length);
    position_ += length;
    return true;
}

bool StateReader::CheckDigest() const {
    if (failed_ || position_ != contentSize_ || data_.size() < kDigestSize) return false;
    Md5Digest digest = Md5Of(data_.data(), contentSize_);
    return std::memcmp(digest.bytes.data(), data_.data() + contentSize_, kDigestSize) == 0;
}

bool StateReader::ReadReferenceHeader(StateObjectType type, std::shared_ptr<void>& existing,
                                      int32_t& newIndex) {
    existing.reset();
    newIndex = 0;
    int32_t value = ReadI32();
    if (failed_) return false;
    if (value == 0) return true;
    if (value == -1) {
        if (depth_ >= kMaxReferenceDepth) {
            failed_ = true;
            return false;
        }
        objects_.push_back({StateObjectType::Placeholder, nullptr});
        newIndex = static_cast<int32_t>(objects_.size());
        ++depth_;
        return true;
    }
    if (value < 0 || static_cast<size_t>(value) > objects_.size()) {
        failed_ = true;
        return false;
    }
    const Slot& slot = objects_[static_cast<size_t>(value) - 1];
    if (slot.type != type || !slot.object) {
        failed_ = true;
        return false;
    }
    existing = slot.object;
    return true;
}

void StateReader::Register(int32_t index, StateObjectType type, std::shared_ptr<void> object) {
    if (index <= 0 || static_cast<size_t>(index) > objects_.size()) return;
    objects_[static_cast<size_t>(index) - 1] = {type, std::move(object)};
}

}  // namespace vantrove
