// Reading back what a creation job wrote: the split pieces and the source
// files against the block hashes, and every output file packet by packet.

#include <algorithm>
#include <functional>

#include "core/crc32.h"
#include "core/path.h"
#include "create/creation_job_state.h"
#include "par2/packet_header.h"

namespace vantrove {

namespace {

constexpr size_t kVerifyChunk = 1048576;

}  // namespace

namespace {
// Hashes `size` bytes of `file` block by block (the last block padded with
// zeros to `blockSize`), calling `onBlock` with each block's MD5 and CRC-32
// and feeding every byte read to `whole` when given. False on a read error
// or when `progress` asks to stop.
bool HashBlocks(DiskFile& file, uint64_t size, uint64_t blockSize, Md5Context* whole,
                const std::function<bool(uint64_t, const Md5Digest&, uint32_t)>& onBlock,
                const std::function<bool(uint64_t)>& progress) {
    std::vector<uint8_t> buffer(kVerifyChunk);
    uint64_t position = 0;
    uint64_t index = 0;
    while (position < size) {
        const uint64_t length = std::min(blockSize, size - position);
        Md5Context md5;
        uint32_t crc = 0;
        uint64_t at = 0;
        while (at < length) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(kVerifyChunk, length - at));
            if (!file.read(position + at, buffer.data(), n)) return false;
            md5.Update(buffer.data(), n);
            crc = Crc32Update(crc, buffer.data(), n);
            if (whole != nullptr) whole->Update(buffer.data(), n);
            at += n;
            if (progress && !progress(position + at)) return false;
        }
        md5.UpdateZeros(blockSize - length);
        crc = Crc32UpdateZeros(crc, blockSize - length);
        if (!onBlock(index, md5.Final(), crc)) return false;
        position += length;
        ++index;
    }
    return true;
}
}  // namespace

bool CreationJob::State::VerifyPieces() {
    struct Item {
        std::string path;
        uint32_t source;
        size_t piece;
    };
    std::vector<Item> items;
    for (uint32_t s = 0; s < sources.size(); ++s)
        for (size_t k = 0; k < sources[s].pieces.size(); ++k)
            items.push_back({sources[s].pieces[k].path, s, k});
    std::sort(items.begin(), items.end(),
              [](const Item& a, const Item& b) { return a.path < b.path; });
    for (const Item& item : items) {
        const Source& src = sources[item.source];
        const SplitPiece& piece = src.pieces[item.piece];
        Phase(kPhaseVerifySplit, item.path, 0, piece.size);
        DiskFile file;
        if (!file.open(PartPathOf(item.path)) || file.size != piece.size ||
            CeilDiv(file.size, blockSize) != piece.blockCount)
            return Fail(kFailDataVerify, item.path);
        bool ok = HashBlocks(
            file, file.size, blockSize, nullptr,
            [&](uint64_t j, const Md5Digest& md5, uint32_t crc) {
                const Block& block = blocks[src.firstBlock + piece.firstBlock + j];
                return block.md5.Final() == md5 && block.crc == crc;
            },
            [&](uint64_t position) {
                status.SetProgress(position, piece.size);
                return !Stopped();
            });
        if (!ok) return Fail(kFailDataVerify, item.path);
    }
    return true;
}

// The source files are read again in lockstep, up to sixteen at a time, a
// piece of 1 MiB (or to the next block boundary) from each per step: the
// MD5s of their blocks and of the whole files then run as sixteen streams
// side by side, the block hashes on one thread and the file hashes on
// another. The status names the first file of the batch; files are taken in
// order of name compared without regard to case.
bool CreationJob::State::ReverifySources() {
    std::vector<uint32_t> order(sources.size());
    for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        return LessNoCase(sources[a].name, sources[b].name);
    });
    constexpr size_t kLanes = 16;
    const uint64_t piece = std::min<uint64_t>(kVerifyChunk, blockSize);
    std::vector<std::vector<uint8_t>> buffers(kLanes, std::vector<uint8_t>(piece));
    for (size_t start = 0; start < order.size(); start += kLanes) {
        const size_t lanes = std::min(kLanes, order.size() - start);
        std::vector<DiskFile> files(lanes);
        std::vector<Md5Context> whole(lanes), block(lanes);
        std::vector<uint32_t> crc(lanes, 0);
        uint64_t longest = 0;
        for (size_t l = 0; l < lanes; ++l) {
            const Source& src = sources[order[start + l]];
            if (!files[l].open(src.path) || files[l].size != src.size ||
                CeilDiv(files[l].size, blockSize) != src.blockCount)
                return Fail(kFailDataVerify, src.path);
            longest = std::max(longest, src.size);
        }
        const Source& shown = sources[order[start]];
        Phase(kPhaseReverifySource, shown.name, 0, longest > 0 ? longest : 1);
        uint64_t position = 0;
        while (position < longest) {
            const uint64_t blockEnd = (position / blockSize + 1) * blockSize;
            const uint64_t step = std::min(piece, blockEnd - position);
            // Lanes that read the whole step go side by side; a file's tail
            // is hashed on its own.
            std::vector<size_t> full, partial;
            std::vector<uint64_t> got(lanes, 0);
            for (size_t l = 0; l < lanes; ++l) {
                const uint64_t size = files[l].size;
                if (position >= size) continue;
                got[l] = std::min(step, size - position);
                if (!files[l].read(position, buffers[l].data(), got[l]))
                    return Fail(kFailDataVerify, files[l].path);
                (got[l] == step ? full : partial).push_back(l);
            }
            auto hash = [&](bool wholeFile) {
                std::vector<Md5Context*> contexts;
                std::vector<const uint8_t*> inputs;
                for (size_t l : full) {
                    contexts.push_back(wholeFile ? &whole[l] : &block[l]);
                    inputs.push_back(buffers[l].data());
                }
                Md5Context::UpdateMany(contexts.data(), inputs.data(), contexts.size(), step);
                for (size_t l : partial)
                    (wholeFile ? whole[l] : block[l]).Update(buffers[l].data(), got[l]);
                if (!wholeFile)
                    for (size_t l = 0; l < lanes; ++l)
                        if (got[l] > 0) crc[l] = Crc32Update(crc[l], buffers[l].data(), got[l]);
            };
            team->Run([&](unsigned t) {
                if (team->Size() == 1) {
                    hash(false);
                    hash(true);
                } else if (t < 2) {
                    hash(t == 1);
                }
            });
            position += step;
            // At a block boundary (or a file's end) the block hashes are due.
            for (size_t l = 0; l < lanes; ++l) {
                if (got[l] == 0) continue;
                const uint64_t size = files[l].size;
                if (position != blockEnd && position < size) continue;
                const uint64_t blockStart = blockEnd - blockSize;
                const uint64_t real = std::min(size, blockEnd) - blockStart;
                block[l].UpdateZeros(blockSize - real);
                crc[l] = Crc32UpdateZeros(crc[l], blockSize - real);
                const Source& src = sources[order[start + l]];
                const SliceChecksum entry =
                    src.ifsc->entry(static_cast<uint32_t>(blockStart / blockSize));
                if (!(entry.md5 == block[l].Final()) || entry.crc32 != crc[l])
                    return Fail(kFailDataVerify, src.path);
                block[l].Reset();
                crc[l] = 0;
            }
            status.SetProgress(position, longest);
            if (Stopped()) return Fail(kFailDataVerify);
        }
        for (size_t l = 0; l < lanes; ++l) {
            const Source& src = sources[order[start + l]];
            if (!(whole[l].Final() == src.description->fileHash()))
                return Fail(kFailDataVerify, src.path);
        }
    }
    return true;
}

bool CreationJob::State::CheckWrittenFile(Output& output) {
    DiskFile file;
    if (!file.open(output.file->path) || file.size == 0) return false;
    std::vector<uint8_t> buffer(262144);
    uint64_t offset = 0;
    uint8_t header[kPacketHeaderSize];
    while (offset < file.size) {
        if (file.size - offset < kPacketHeaderSize) return false;
        if (!file.read(offset, header, kPacketHeaderSize)) return false;
        PacketHeader parsed;
        if (!ParsePacketHeader(header, parsed)) return false;
        if (!(parsed.setId == setId)) return false;
        if (parsed.length > file.size - offset) return false;
        if (VerifyPacketHash(file, offset, header, buffer) != PacketHashCheck::Valid) return false;
        offset += parsed.length;
        status.SetProgress(offset, file.size);
        if (Stopped()) return false;
    }
    return offset == file.size;
}

bool CreationJob::State::VerifyOutputs() {
    bool ok = true;
    std::string failedName;
    for (Output& o : outputs) {
        Phase(kPhaseVerifyOutput, FileNameOfPath(o.path), 0, o.size);
        if (!CheckWrittenFile(o)) {
            o.damaged = true;
            if (failedName.empty()) failedName = o.path;
            ok = false;
        }
    }
    if (!ok) return Fail(kFailPar2Verify, failedName);
    return true;
}

}  // namespace vantrove
