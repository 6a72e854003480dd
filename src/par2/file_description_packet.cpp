#include "par2/file_description_packet.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "core/disk_file.h"
#include "par2/packet_coding.h"

namespace vantrove {

using namespace packet_coding;

bool FileDescriptionPacket::Build(DiskFile& file, const std::string& name, uint64_t length,
                                  bool hashNow, const FileHashProgress& progress, int& error) {
    error = 0;
    hashPending_ = false;
    wholeFile_.Reset();
    if (name.empty() || name.find('\0') != std::string::npos ||
        name.size() >= kMaxInMemoryPacketLength - kFileDescNameOffset - 4) {
        error = EINVAL;
        return false;
    }
    const uint64_t packetLength = kFileDescNameOffset + PaddedTo4(name.size());
    if (!Allocate(packetLength, PacketType::FileDescription)) {
        error = ENOMEM;
        return false;
    }

    // The first 16 KiB (or the whole of a shorter file).
    const size_t headLength = static_cast<size_t>(std::min<uint64_t>(length, kFileDescHead));
    uint8_t head[kFileDescHead];
    if (headLength > 0 && !file.read(0, head, headLength)) {
        error = file.lastError() != 0 ? file.lastError() : EIO;
        bytes_.clear();
        return false;
    }
    const Md5Digest head16k = Md5Of(head, headLength);

    StoreDigest(data() + kFileDescHash16kOffset, head16k);
    StoreLe64(data() + kFileDescLengthOffset, length);
    std::memcpy(data() + kFileDescNameOffset, name.data(), name.size());
    StoreDigest(data() + kFileDescFileIdOffset, ComputeFileId());

    if (!hashNow) {
        hashPending_ = true;
        return true;
    }
    if (length <= kFileDescHead) {
        StoreDigest(data() + kFileDescHashOffset, head16k);
        return true;
    }
    std::vector<uint8_t> chunk;
    try {
        chunk.resize(kFileHashChunk);
    } catch (const std::bad_alloc&) {
        error = ENOMEM;
        bytes_.clear();
        return false;
    }
    Md5Context whole;
    for (uint64_t position = 0; position < length;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(length - position, chunk.size()));
        if (!file.read(position, chunk.data(), n)) {
            error = file.lastError() != 0 ? file.lastError() : EIO;
            bytes_.clear();
            return false;
        }
        whole.Update(chunk.data(), n);
        position += n;
        if (progress && !progress(position)) {
            error = ECANCELED;
            bytes_.clear();
            return false;
        }
    }
    StoreDigest(data() + kFileDescHashOffset, whole.Final());
    return true;
}

void FileDescriptionPacket::FinishWholeFileHash() {
    if (empty()) return;
    StoreDigest(data() + kFileDescHashOffset, wholeFile_.Final());
    hashPending_ = false;
}

void FileDescriptionPacket::FinishWholeFileHash(const Md5Digest& digest) {
    if (empty()) return;
    StoreDigest(data() + kFileDescHashOffset, digest);
    hashPending_ = false;
}

bool FileDescriptionPacket::Read(DiskFile& file, uint64_t offset, const uint8_t* header) {
    bytes_.clear();
    hashPending_ = false;
    const uint64_t length = LoadLe64(header + kPacketLengthOffset);
    if (length >= kMaxInMemoryPacketLength || length < kFileDescNameOffset + 1) return false;
    if (!ReadWhole(file, offset, header)) return false;
    if (fileLength() <= kFileDescHead && !(hash16k() == fileHash())) {
        bytes_.clear();
        return false;
    }
    return true;
}

Md5Digest FileDescriptionPacket::fileId() const {
    return empty() ? Md5Digest{} : LoadDigest(data() + kFileDescFileIdOffset);
}

Md5Digest FileDescriptionPacket::fileHash() const {
    return empty() ? Md5Digest{} : LoadDigest(data() + kFileDescHashOffset);
}

Md5Digest FileDescriptionPacket::hash16k() const {
    return empty() ? Md5Digest{} : LoadDigest(data() + kFileDescHash16kOffset);
}

uint64_t FileDescriptionPacket::fileLength() const {
    return empty() ? 0 : LoadLe64(data() + kFileDescLengthOffset);
}

std::string FileDescriptionPacket::name() const {
    if (bytes_.size() <= kFileDescNameOffset) return {};
    const char* begin = reinterpret_cast<const char*>(data() + kFileDescNameOffset);
    const size_t room = bytes_.size() - kFileDescNameOffset;
    return std::string(begin, strnlen(begin, room));
}

Md5Digest FileDescriptionPacket::ComputeFileId() const {
    if (bytes_.size() <= kFileDescNameOffset) return Md5Digest{};
    const size_t nameLength = name().size();
    return Md5Of(data() + kFileDescHash16kOffset,
                 kFileDescNameOffset - kFileDescHash16kOffset + nameLength);
}

}  // namespace vantrove
