#include "par2/packet_header.h"

#include <algorithm>
#include <cstring>

#include "core/disk_file.h"
#include "par2/packet_coding.h"

namespace vantrove {

using namespace packet_coding;

namespace {

constexpr size_t kDefaultChunk = 262144;

// The packet types the program reads, with their type fields.
struct KnownPacketType {
    PacketType type;
    const PacketTypeBytes* bytes;
};
constexpr KnownPacketType kKnownPacketTypes[] = {
    {PacketType::Main, &kMainPacketType},
    {PacketType::FileDescription, &kFileDescriptionPacketType},
    {PacketType::Ifsc, &kIfscPacketType},
    {PacketType::RecoverySlice, &kRecoverySlicePacketType},
    {PacketType::Creator, &kCreatorPacketType},
};

}  // namespace

PacketType PacketHeader::type() const {
    return PacketTypeOf(typeBytes);
}

PacketType PacketTypeOf(const PacketTypeBytes& typeBytes) {
    // Compared as two 64-bit words rather than by a call to memcmp for each
    // known type: every packet of every volume goes through here.
    uint64_t words[2];
    std::memcpy(words, typeBytes.data(), sizeof words);
    for (const KnownPacketType& known : kKnownPacketTypes) {
        uint64_t knownWords[2];
        std::memcpy(knownWords, known.bytes->data(), sizeof knownWords);
        if (((words[0] ^ knownWords[0]) | (words[1] ^ knownWords[1])) == 0) return known.type;
    }
    return PacketType::Other;
}

const PacketTypeBytes& PacketTypeBytesOf(PacketType type) {
    for (const KnownPacketType& known : kKnownPacketTypes) {
        if (type == known.type) return *known.bytes;
    }
    static constexpr PacketTypeBytes kNone{};
    return kNone;
}

bool HasPacketMagic(const uint8_t* bytes) {
    return std::memcmp(bytes, kPacketMagic.data(), kPacketMagic.size()) == 0;
}

bool ParsePacketHeader(const uint8_t* bytes, PacketHeader& header) {
    header.length = LoadLe64(bytes + kPacketLengthOffset);
    header.packetHash = LoadDigest(bytes + kPacketHashOffset);
    header.setId = LoadDigest(bytes + kPacketSetIdOffset);
    std::memcpy(header.typeBytes.data(), bytes + kPacketTypeOffset, header.typeBytes.size());
    return HasPacketMagic(bytes) && header.length >= kPacketHeaderSize && header.length % 4 == 0;
}

void EncodePacketHeader(const PacketHeader& header, uint8_t* bytes) {
    std::memcpy(bytes, kPacketMagic.data(), kPacketMagic.size());
    StoreLe64(bytes + kPacketLengthOffset, header.length);
    StoreDigest(bytes + kPacketHashOffset, header.packetHash);
    StoreDigest(bytes + kPacketSetIdOffset, header.setId);
    std::memcpy(bytes + kPacketTypeOffset, header.typeBytes.data(), header.typeBytes.size());
}

Md5Digest ComputePacketHash(const uint8_t* packet, size_t length) {
    return Md5Of(packet + kPacketHashedFrom, length - kPacketHashedFrom);
}

PacketHashCheck VerifyPacketHash(DiskFile& file, uint64_t offset, const uint8_t* header,
                                 std::vector<uint8_t>& buffer, const PacketProgress& progress) {
    const uint64_t length = LoadLe64(header + kPacketLengthOffset);
    if (length < kPacketHeaderSize || offset > file.size || length > file.size - offset) {
        return PacketHashCheck::PastEnd;
    }
    if (buffer.empty()) buffer.resize(kDefaultChunk);

    Md5Context context;
    context.Update(header + kPacketHashedFrom, kPacketHeaderSize - kPacketHashedFrom);
    uint64_t position = offset + kPacketHeaderSize;
    uint64_t remaining = length - kPacketHeaderSize;
    while (remaining > 0) {
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(remaining, buffer.size()));
        if (!file.read(position, buffer.data(), chunk)) return PacketHashCheck::ReadError;
        context.Update(buffer.data(), chunk);
        position += chunk;
        remaining -= chunk;
        if (progress && !progress(position)) return PacketHashCheck::Cancelled;
    }
    return context.Final() == LoadDigest(header + kPacketHashOffset) ? PacketHashCheck::Valid
                                                                     : PacketHashCheck::Mismatch;
}

bool VerifyPacketHashes(DiskFile& file, const uint64_t* offsets, const uint64_t* lengths,
                        const Md5Digest* hashes, size_t count, PacketHashCheck* results,
                        const PacketProgress& progress) {
    constexpr size_t kPiece = 262144;
    count = std::min(count, kPacketsSideBySide);
    std::vector<uint8_t> buffers(count * kPiece);
    std::vector<Md5Context> contexts(count);
    std::vector<bool> failed(count, false);
    // Bytes 32 .. length-1 of each packet, read in step.
    uint64_t longest = 0;
    for (size_t i = 0; i < count; ++i) longest = std::max(longest, lengths[i] - kPacketHashedFrom);
    std::vector<size_t> pieces(count);
    std::vector<Md5Context*> side;
    std::vector<const uint8_t*> data;
    for (uint64_t at = 0; at < longest; at += kPiece) {
        for (size_t i = 0; i < count; ++i) {
            const uint64_t hashed = lengths[i] - kPacketHashedFrom;
            pieces[i] = failed[i] || at >= hashed
                            ? 0
                            : static_cast<size_t>(std::min<uint64_t>(kPiece, hashed - at));
            if (pieces[i] != 0 && !file.read(offsets[i] + kPacketHashedFrom + at,
                                             buffers.data() + i * kPiece, pieces[i])) {
                failed[i] = true;
                pieces[i] = 0;
            }
        }
        // Packets whose pieces are of one length hash side by side: all of
        // them in whole pieces, and the last pieces of slices of one size.
        for (size_t first = 0; first < count; ++first) {
            const size_t piece = pieces[first];
            if (piece == 0) continue;
            side.clear();
            data.clear();
            for (size_t i = first; i < count; ++i) {
                if (pieces[i] != piece) continue;
                side.push_back(&contexts[i]);
                data.push_back(buffers.data() + i * kPiece);
                pieces[i] = 0;
            }
            Md5Context::UpdateMany(side.data(), data.data(), side.size(), piece);
        }
        if (progress && !progress(offsets[0] + std::min(longest, at + kPiece))) return false;
    }
    for (size_t i = 0; i < count; ++i) {
        results[i] = failed[i]                            ? PacketHashCheck::ReadError
                     : contexts[i].Final() == hashes[i] ? PacketHashCheck::Valid
                                                        : PacketHashCheck::Mismatch;
    }
    return true;
}

}  // namespace vantrove
