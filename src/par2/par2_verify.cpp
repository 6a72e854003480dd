// Verification of one data file against a PAR 2.0 set: the whole-file check
// (sizes, then the hash of the first 16 KiB, then the whole file) and the
// sliding block search, which finds every block of the set at any byte
// offset by its CRC-32 and confirms it by MD5.

#include <algorithm>
#include <memory>
#include <vector>

#include "core/crc32.h"
#include "core/md5.h"
#include "core/page_residency.h"
#include "engine/block_scanner.h"
#include "engine/intact_check.h"
#include "par2/par2_recovery_set.h"

namespace vantrove {
namespace {

constexpr size_t kWholeFileBuffer = 1048576;
// A file this much in the page cache is read as several streams at once.
constexpr double kMostlyResident = 0.75;
// MD5 streams one thread hashes side by side.
constexpr size_t kSideBySide = 16;

// The scanner reads data files in pieces of 256 KiB: every piece costs a read
// and a hand-over to the thread that hashes the whole file, and on a file of
// gigabytes smaller pieces cost more in those than in the hashing itself.
BlockScanner::Options ScannerOptions() {
    BlockScanner::Options options;
    options.bufferSize = 256u << 10;
    return options;
}

const Par2FileDescription* DescriptionOf(const SourceFileEntry& entry) {
    return static_cast<const Par2FileDescription*>(
        entry.Description(DescriptionSlot::Par2FileDescription).get());
}

bool Located(const BlockLookup::Node* node) {
    return node->entry->foundBlocks[node->indexInFile].file != nullptr;
}

const DiskFile* LocationFile(const BlockLookup::Node* node) {
    return node->entry->foundBlocks[node->indexInFile].file.get();
}

}  // namespace

void Par2RecoverySet::VerifyDataFile(const SetFileRef& file, SourceFileEntry*& entryOut,
                                     DataFileOutcome& outcome, bool checkOnly) {
    outcome = DataFileOutcome::NothingFound;
    SourceFileEntry* expected = entryOut;
    if (chosen_ && file->size == 0 && expected && expected->size == 0 && !expected->completeCopy) {
        // An empty file has no blocks: it is the listed empty file of its
        // own name when the description's hash is the hash of nothing. Never
        // a copy of another name, as every empty file would match.
        const Par2FileDescription* description = DescriptionOf(*expected);
        file->result = VerifyResult::NotIntact;
        file->flags.formatFlag = checkOnly;
        if (description && description->fileHash() == Md5Of(nullptr, 0))
            outcome = DataFileOutcome::IntactCopy;
        return;
    }
    if (!chosen_ || file->size == 0) {
        file->result = VerifyResult::NotIntact;
        file->flags.formatFlag = checkOnly;
        return;
    }
    bool stopped = false;
    if (checkOnly) {
        CheckWholeFile(*file, entryOut, outcome);
        stopped = set_.StopRequested();
    } else {
        ScanBlocks(file, entryOut, outcome, stopped);
    }
    if (stopped) {
        // Not looked at to its end: leave it unverified so that the next
        // scan takes it up again, and claim nothing about it.
        file->result = VerifyResult::NotVerified;
        if (outcome == DataFileOutcome::IntactCopy) outcome = DataFileOutcome::BlocksFound;
        return;
    }
    file->result = VerifyResult::NotIntact;
    file->flags.formatFlag = checkOnly;
    if (expected && outcome == DataFileOutcome::NothingFound && !expected->FindPlace(file.get())) {
        expected->AddToPlace(file, 0);
        expected->dirty = true;
    }
}

void Par2RecoverySet::CheckWholeFile(SetFile& file, SourceFileEntry*& entryOut,
                                     DataFileOutcome& outcome) {
    const uint64_t size = file.size;
    SourceFileEntry* expected = entryOut;
    set_.SetProgress(0, size);
    bool anySize = false;
    for (const SourceFileEntryRef& entry : set_.entries()) anySize |= entry->size == size;
    if (!anySize) return;

    const size_t headLength = static_cast<size_t>(std::min<uint64_t>(size, 16384));
    std::vector<uint8_t> buffer(static_cast<size_t>(std::min<uint64_t>(size, kWholeFileBuffer)));
    auto unreadable = [&file]() {
        file.readError = file.lastError() != 0 ? file.lastError() : EIO;
    };
    if (!file.read(0, buffer.data(), headLength)) return unreadable();
    Md5Context md5;
    md5.Update(buffer.data(), headLength);
    const Md5Digest head = md5.Final();

    bool headMatches = false;
    for (const SourceFileEntryRef& entry : set_.entries()) {
        if (entry->size == size && DescriptionOf(*entry)->hash16k() == head) headMatches = true;
    }
    if (!headMatches) return;

    uint64_t position = headLength;
    while (position < size) {
        const size_t chunk =
            static_cast<size_t>(std::min<uint64_t>(buffer.size(), size - position));
        if (!file.read(position, buffer.data(), chunk)) return unreadable();
        md5.Update(buffer.data(), chunk);
        position += chunk;
        set_.ReportProgress(position);
        if (set_.StopRequested()) return;
    }
    const Md5Digest whole = md5.Final();

    SourceFileEntry* match = nullptr;
    for (const SourceFileEntryRef& entry : set_.entries()) {
        const Par2FileDescription* d = DescriptionOf(*entry);
        if (entry->size != size || !(d->hash16k() == head) || !(d->fileHash() == whole)) continue;
        if (entry->MissingBlockCount() == 0) continue;
        if (!match) match = entry.get();
        if (entry.get() == expected) {
            match = entry.get();
            break;
        }
    }
    if (!match) return;
    outcome = DataFileOutcome::IntactCopy;
    entryOut = match;
    SetFileRef self = set_.FindKnownFile(file.path);
    for (uint32_t i = 0; i < match->blockCount; ++i) {
        set_.LocateBlock(*match, i, self, static_cast<uint64_t>(i) * set_.status().blockSize);
    }
    match->dirty = true;
    set_.ReportProgress(size);
}

void Par2RecoverySet::ScanBlocks(const SetFileRef& file, SourceFileEntry*& entryOut,
                                 DataFileOutcome& outcome, bool& stopped) {
    const uint64_t size = file->size;
    const uint64_t blockSize = set_.status().blockSize;
    SourceFileEntry* expected = entryOut;
    set_.SetProgress(0, size);
    if (expected && IntactAtItsPlace(file, *expected, stopped)) {
        entryOut = expected;
        outcome = DataFileOutcome::IntactCopy;
        return;
    }
    if (stopped) return;
    if (size < blockSize) {
        ScanSmallFile(file, entryOut, outcome, stopped);
        return;
    }

    auto scanner = std::make_unique<BlockScanner>();
    if (!scanner->Start(*file, window_, ScannerOptions())) {
        set_.RecordError(ErrorKind::Read, scanner->error(), file->path);
        return;
    }
    const CrcFilter filter = lookup_.filter();

    BlockLookup::Node* hint = nullptr;
    uint32_t matches = 0;
    DataFileOutcome result = DataFileOutcome::IntactCopy;
    uint64_t lastReport = 0;

    // The block at the window, by the matching rules; `accounted` tells that
    // the window holds a block that is already located.
    auto matchWindow = [&](bool& accounted) -> BlockLookup::Node* {
        accounted = false;
        const uint64_t real = scanner->RealBytes();
        const bool full = real == blockSize;
        if (hint) {
            if (hint->IsLastInFile()) {
                const uint64_t length = hint->length();
                if (real >= length || full) {
                    if (scanner->PaddedCrc(length) == hint->crc &&
                        scanner->PaddedMd5(length) == hint->md5) {
                        return hint;
                    }
                }
            } else if (!Located(hint) && full && scanner->Crc() == hint->crc) {
                if (scanner->WindowMd5() == hint->md5) return hint;
            }
        }
        const uint32_t crc = scanner->Crc();
        if (!filter.MayContain(crc)) return nullptr;
        BlockLookup::Node* crcNode = lookup_.FindCrc(crc);
        if (!crcNode) return nullptr;
        BlockLookup::Node* node = lookup_.FindMd5(crcNode, scanner->WindowMd5());
        if (!node) return nullptr;

        auto fits = [&](const BlockLookup::Node* n) { return full || n->length() == real; };
        // Among the blocks of this content, the one this place continues
        // comes first: the block after the last one found here, or a file's
        // first block at the start (the expected file's first). An intact
        // file whose blocks repeat is so read in order even when its blocks
        // were located in another file before.
        const bool atStart = scanner->offset() == 0;
        BlockLookup::Node* startBlock = nullptr;
        for (BlockLookup::Node* n = node; n; n = n->nextSame) {
            if (n->entry->completeCopy || !fits(n)) continue;
            if (n == hint && LocationFile(n) != file.get()) return n;
            if (atStart && n->indexInFile == 0 && (!startBlock || n->entry == expected))
                startBlock = n;
        }
        if (startBlock) return startBlock;
        if (node->nextSame) {
            bool allLocated = true;
            for (BlockLookup::Node* n = node; n; n = n->nextSame) {
                if (!Located(n)) allLocated = false;
                if (n->entry == expected && !Located(n) && fits(n)) return n;
            }
            for (BlockLookup::Node* n = node; n; n = n->nextSame) {
                if (!Located(n) && fits(n)) return n;
            }
            accounted = allLocated;
            return nullptr;
        }
        if (node->entry->completeCopy) {
            accounted = true;
            return nullptr;
        }
        if (!fits(node)) return nullptr;
        if (node->indexInFile == 0 && scanner->offset() == 0) return node;
        if (node == hint) {
            if (LocationFile(node) != file.get()) return node;
        } else if (!Located(node)) {
            return node;
        }
        accounted = true;
        return nullptr;
    };

    while (scanner->More()) {
        bool accounted = false;
        BlockLookup::Node* found = matchWindow(accounted);
        const uint64_t offset = scanner->offset();
        if (found) {
            if (matches == 0) {
                entryOut = found->entry;
                result = (found->indexInFile == 0 && offset == 0) ? DataFileOutcome::IntactCopy
                                                                  : DataFileOutcome::BlocksFound;
            } else if (found != hint) {
                result = DataFileOutcome::BlocksFound;
            }
            set_.LocateBlock(*found->entry, found->indexInFile, file, offset);
            ++matches;
            hint = found->nextInFile;
            scanner->Skip(found->length());
        } else {
            result = DataFileOutcome::BlocksFound;
            hint = nullptr;
            if (accounted) {
                scanner->Skip(blockSize);
            } else if (scanner->Slide()) {
                // Slide on to the next window whose CRC may be a block's.
                if (!filter.MayContain(scanner->Crc())) {
                    uint64_t limit = lastReport + blockSize > scanner->offset()
                                         ? lastReport + blockSize - scanner->offset()
                                         : 1;
                    scanner->SlideUntil(filter, limit);
                }
            }
        }
        if (scanner->offset() - lastReport >= blockSize || !scanner->More()) {
            lastReport = scanner->offset();
            set_.SetProgressPosition(std::min(lastReport, size));
            set_.NotifyStatus();
            if (set_.StopRequested()) {
                stopped = true;
                break;
            }
        }
    }
    // Data that cannot be read make a damaged file, not a failed scan: what
    // was found before them stays found, and the blocks expected after them
    // are taken where they can be read.
    auto unreadable = [&](int error) {
        scanner.reset();
        matches += TakeReadableBlocks(file, entryOut, error);
        stopped = set_.StopRequested();
        outcome = matches == 0 ? DataFileOutcome::NothingFound : DataFileOutcome::BlocksFound;
    };
    if (scanner->failed() && !stopped) return unreadable(scanner->error());
    if (stopped) {
        outcome = matches == 0 ? DataFileOutcome::NothingFound : DataFileOutcome::BlocksFound;
        return;
    }
    Md5Digest whole, head;
    bool hashed = scanner->Finish(&whole, &head);
    set_.SetProgress(size, size);
    if (!hashed) return unreadable(scanner->error());
    if (matches == 0) {
        outcome = DataFileOutcome::NothingFound;
        return;
    }
    if (result == DataFileOutcome::IntactCopy) {
        const Par2FileDescription* d = DescriptionOf(*entryOut);
        if (matches != entryOut->blockCount || size != entryOut->size ||
            !(whole == d->fileHash()) || !(head == d->hash16k())) {
            result = DataFileOutcome::BlocksFound;
        }
    }
    outcome = result;
}

// The common case first: a file that is an intact copy of the source file it
// is expected to be, none of whose blocks has been found yet. The sliding
// search would find block i at offset i x block size, each through the hint,
// and then compare the whole-file hashes; here each block's CRC is compared
// at its place while the whole file is hashed (on the scanner's second
// thread), and the hashes of the whole file stand in for the MD5 of every
// block. The first CRC that differs ends this check and the file goes to the
// sliding search; so does a whole-file hash that differs. Either way nothing
// is recorded here unless the file is intact. When further data files are
// expected after this one, the same check runs for them together with this
// one (CheckAhead) and each takes its result when its turn comes. A file of
// several blocks checked alone is checked by blocks (IntactByBlocks) when it
// is mostly in memory, so that both cores hash it; any other goes through
// the scanner.
bool Par2RecoverySet::IntactAtItsPlace(const SetFileRef& file, SourceFileEntry& entry,
                                       bool& stopped) {
    const uint64_t size = file->size;
    const uint64_t blockSize = set_.status().blockSize;
    if (size != entry.size || entry.blockCount == 0 || entry.completeCopy ||
        entry.MissingBlockCount() != entry.blockCount) {
        return false;
    }
    const Par2FileDescription* description = DescriptionOf(entry);
    BlockLookup::Node* node = lookup_.FirstBlockOf(&entry);
    if (!description || !node || node->indexInFile != 0) return false;

    if (std::find(expectedFiles_.begin(), expectedFiles_.end(), file) != expectedFiles_.end()) {
        if (!checkedAhead_.count(file.get())) CheckAhead(file, entry, stopped);
        if (stopped) return false;
        auto checked = checkedAhead_.find(file.get());
        if (checked != checkedAhead_.end() && checked->second.entry == &entry) {
            const bool intact = checked->second.blocksMatch &&
                                (checked->second.byBlocks ||
                                 checked->second.whole == description->fileHash()) &&
                                checked->second.head == description->hash16k();
            checkedAhead_.erase(checked);
            if (!intact) return false;
            for (uint32_t i = 0; i < entry.blockCount; ++i) {
                set_.LocateBlock(entry, i, file, static_cast<uint64_t>(i) * blockSize);
            }
            set_.SetProgress(size, size);
            return true;
        }
    }
    // A file shorter than a block is checked alone by the search for short
    // blocks, which reads it once as this would.
    if (size < blockSize) return false;
    // Several streams at once are for data in memory: on a rotating disk
    // they would seek between each other, and one stream reads in order.
    if (entry.blockCount >= 2 && ResidentShare(file->path) >= kMostlyResident)
        return IntactByBlocks(file, entry, stopped);

    auto scanner = std::make_unique<BlockScanner>();
    if (!scanner->Start(*file, window_, ScannerOptions())) return false;
    uint32_t checked = 0;
    for (; node; node = node->nextInFile, ++checked) {
        const uint64_t offset = static_cast<uint64_t>(node->indexInFile) * blockSize;
        if (scanner->offset() != offset || !scanner->More()) return false;
        const uint32_t crc =
            node->IsLastInFile() ? scanner->PaddedCrc(node->length()) : scanner->Crc();
        if (crc != node->crc) return false;
        scanner->Skip(node->length());
        set_.SetProgressPosition(scanner->offset());
        set_.NotifyStatus();
        if (set_.StopRequested()) {
            stopped = true;
            return false;
        }
    }
    if (checked != entry.blockCount || scanner->More() || scanner->offset() != size) return false;
    Md5Digest whole, head;
    if (!scanner->Finish(&whole, &head) || !(whole == description->fileHash()) ||
        !(head == description->hash16k())) {
        return false;
    }
    for (uint32_t i = 0; i < entry.blockCount; ++i) {
        set_.LocateBlock(entry, i, file, static_cast<uint64_t>(i) * blockSize);
    }
    set_.SetProgress(size, size);
    return true;
}

// The check at its place of one file, block by block: each block's CRC and
// MD5 at its place, and the MD5 of the first 16 KiB. The block MD5s stand in
// for the whole-file hash (equal blocks at every place make an equal file),
// and unlike the whole-file hash they are computed side by side on both
// cores, the file read as several runs of blocks at once.
bool Par2RecoverySet::IntactByBlocks(const SetFileRef& file, SourceFileEntry& entry,
                                     bool& stopped) {
    const uint64_t size = file->size;
    const uint64_t blockSize = set_.status().blockSize;
    std::vector<IntactCheckFile> batch(1);
    IntactCheckFile& checked = batch[0];
    if (!CrcsInPlace(entry, checked.blockCrcs)) return false;
    checked.blockMd5s = BlockMd5sOf(entry);
    checked.path = file->path;
    checked.size = size;
    const bool finished = IntactCheck::Run(batch, blockSize, [&](uint64_t position) {
        set_.SetProgressPosition(position);
        set_.NotifyStatus();
        return !set_.StopRequested();
    });
    if (!finished) {
        stopped = true;
        return false;
    }
    if (!checked.blocksMatch || !(checked.head == DescriptionOf(entry)->hash16k())) return false;
    for (uint32_t i = 0; i < entry.blockCount; ++i) {
        set_.LocateBlock(entry, i, file, static_cast<uint64_t>(i) * blockSize);
    }
    set_.SetProgress(size, size);
    return true;
}

void Par2RecoverySet::ExpectDataFiles(const std::vector<SetFileRef>& files) {
    expectedFiles_ = files;
    expectedRebuilt_ = false;
    checkedAhead_.clear();
}

void Par2RecoverySet::ExpectRebuiltFiles(const std::vector<SetFileRef>& files) {
    ExpectDataFiles(files);
    expectedRebuilt_ = true;
}

bool Par2RecoverySet::CrcsInPlace(SourceFileEntry& entry, std::vector<uint32_t>& crcs) const {
    const uint64_t blockSize = set_.status().blockSize;
    crcs.clear();
    for (const BlockLookup::Node* node = lookup_.FirstBlockOf(&entry); node;
         node = node->nextInFile) {
        const uint64_t offset = static_cast<uint64_t>(crcs.size()) * blockSize;
        if (node->indexInFile != crcs.size() || offset >= entry.size ||
            node->length() != std::min(blockSize, entry.size - offset)) {
            return false;
        }
        crcs.push_back(node->crc);
    }
    return crcs.size() == entry.blockCount && !crcs.empty();
}

std::vector<Md5Digest> Par2RecoverySet::BlockMd5sOf(SourceFileEntry& entry) const {
    std::vector<Md5Digest> md5s;
    for (const BlockLookup::Node* node = lookup_.FirstBlockOf(&entry); node;
         node = node->nextInFile) {
        md5s.push_back(node->md5);
    }
    return md5s;
}

bool Par2RecoverySet::MayCheckAhead(const SetFile& file, SourceFileEntry& entry) const {
    // A rebuilt file's entry loses its found blocks, and the file as its
    // copy, just before the file's turn.
    const bool whollyMissing =
        expectedRebuilt_ ? !entry.completeCopy || entry.completeCopy.get() == &file
                         : !entry.completeCopy && entry.MissingBlockCount() == entry.blockCount;
    return file.kind == FileKind::Target && !file.flags.formatFlag && entry.size > 0 &&
           entry.blockCount > 0 && whollyMissing && DescriptionOf(entry) &&
           set_.TargetReadable(entry);
}

// The check at its place of `file` and of the expected files after it that
// will take the same check, all at once: their pieces are read side by side
// so that their MD5s share the vector unit and both cores. Progress is that
// of `file`, which is among the first to end. The results wait in
// checkedAhead_ for each file's turn; a stop request leaves none.
void Par2RecoverySet::CheckAhead(const SetFileRef& file, SourceFileEntry& entry, bool& stopped) {
    constexpr size_t kMostFiles = 32;
    // The buffers of a batch of whole files stay within 2 MiB: eight files
    // read in two pieces of 128 KiB, or more files that fit in one piece
    // each (files checked by blocks below take up to 4 MiB).
    constexpr uint64_t kMostBufferBytes = 2u << 20;
    // Files read in many pieces are read side by side only from memory: on
    // a rotating disk, pieces of several files in turn would make it seek
    // between them.
    constexpr uint64_t kFewPieces = 1u << 20;
    auto mayInterleave = [](const std::string& path, uint64_t bytes) {
        return bytes <= kFewPieces || ResidentShare(path) >= kMostlyResident;
    };
    const uint64_t size = file->size;
    const IntactCheck::Options options;
    uint64_t bufferBytes = IntactCheck::BufferBytes(size, options);
    std::vector<IntactCheckFile> batch(1);
    std::vector<std::pair<const SetFile*, SourceFileEntry*>> owners;
    if (!mayInterleave(file->path, size) || !CrcsInPlace(entry, batch[0].blockCrcs)) return;
    batch[0].path = file->path;
    batch[0].size = size;
    owners.emplace_back(file.get(), &entry);
    auto at = std::find(expectedFiles_.begin(), expectedFiles_.end(), file);
    for (++at; at != expectedFiles_.end() && batch.size() < kMostFiles; ++at) {
        const SetFile& next = **at;
        SourceFileEntry* nextEntry = next.sourceFile;
        if (!nextEntry || checkedAhead_.count(&next) || !MayCheckAhead(next, *nextEntry)) continue;
        const uint64_t more = IntactCheck::BufferBytes(nextEntry->size, options);
        if (bufferBytes + more > kMostBufferBytes) break;
        IntactCheckFile checked;
        if (!mayInterleave(next.path, nextEntry->size) ||
            !CrcsInPlace(*nextEntry, checked.blockCrcs)) {
            continue;
        }
        bufferBytes += more;
        checked.path = next.path;
        checked.size = nextEntry->size;
        batch.push_back(std::move(checked));
        owners.emplace_back(&next, nextEntry);
    }
    // One file alone is checked by IntactAtItsPlace itself.
    if (batch.size() == 1) return;
    // At most half as many files as the MD5 of one thread takes side by
    // side: those of several blocks are checked by their blocks, each read
    // as a few runs of blocks, so that the lanes fill (the buffers then take
    // up to 16 x 2 pieces, 4 MiB).
    IntactCheck::Options run = options;
    if (2 * batch.size() <= kSideBySide) {
        run.streamsPerFile = static_cast<unsigned>(kSideBySide / batch.size());
        for (size_t i = 0; i < batch.size(); ++i) {
            SourceFileEntry& owner = *owners[i].second;
            if (owner.blockCount >= 2) batch[i].blockMd5s = BlockMd5sOf(owner);
        }
    }
    const bool finished = IntactCheck::Run(
        batch, set_.status().blockSize,
        [&](uint64_t position) {
            set_.SetProgressPosition(std::min(position, size));
            set_.NotifyStatus();
            return !set_.StopRequested();
        },
        run);
    if (!finished) {
        stopped = true;
        return;
    }
    for (size_t i = 0; i < batch.size(); ++i) {
        if (!batch[i].finished) continue;
        checkedAhead_[owners[i].first] = {owners[i].second, batch[i].blocksMatch,
                                          !batch[i].blockMd5s.empty(), batch[i].whole,
                                          batch[i].head};
    }
}

// A file shorter than one block: every window of the sliding search is
// short, and a window of n real bytes can only be a block of length n, so
// only the offsets size - L, for the lengths L of the set's short blocks, can
// hold a block, and a match there reaches the end of the file. Those windows
// are checked directly: one pass gives the whole-file digests and the CRC of
// the file up to each such offset, from which the CRC of the rest follows;
// MD5 is computed only where the CRC is a block's. No ring of block-size
// buffers is needed, whatever block size the set states.
void Par2RecoverySet::ScanSmallFile(const SetFileRef& file, SourceFileEntry*& entryOut,
                                    DataFileOutcome& outcome, bool& stopped) {
    const uint64_t size = file->size;
    const uint64_t blockSize = set_.status().blockSize;
    SourceFileEntry* expected = entryOut;

    // Where a block of each length would end at the file's end, in
    // ascending order: the longest blocks first.
    std::vector<uint64_t> offsets;
    const auto fitting = std::upper_bound(blockLengths_.begin(), blockLengths_.end(), size);
    for (auto length = fitting; length != blockLengths_.begin();) {
        --length;
        offsets.push_back(size - *length);
    }

    // One pass: whole-file MD5 (and of its first 16 KiB), CRC up to each
    // offset. The file is read in whole buffers; the offsets only split the
    // CRC of the bytes in memory, never a read.
    std::vector<uint32_t> prefixCrc(offsets.size());
    std::vector<uint8_t> buffer(static_cast<size_t>(std::min<uint64_t>(size, kWholeFileBuffer)));
    Md5Context md5;
    Md5Digest head;
    bool headDone = false;
    uint32_t crc = 0;
    uint64_t position = 0;
    size_t next = 0;
    while (position < size) {
        const size_t chunk = ReadNext(*file, position, buffer);
        if (chunk == 0) {
            // Unreadable: its one block cannot be taken from it.
            set_.SetProgress(size, size);
            return;
        }
        const uint64_t end = position + chunk;
        if (!headDone && end >= std::min<uint64_t>(size, 16384)) {
            const size_t headPart = static_cast<size_t>(std::min<uint64_t>(size, 16384) - position);
            md5.Update(buffer.data(), headPart);
            head = md5.Final();
            headDone = true;
            md5.Update(buffer.data() + headPart, chunk - headPart);
        } else {
            md5.Update(buffer.data(), chunk);
        }
        uint64_t at = position;
        while (at < end) {
            while (next < offsets.size() && offsets[next] == at) prefixCrc[next++] = crc;
            const uint64_t until = next < offsets.size() ? std::min(end, offsets[next]) : end;
            crc =
                Crc32Update(crc, buffer.data() + (at - position), static_cast<size_t>(until - at));
            at = until;
        }
        position = end;
    }
    while (next < offsets.size() && offsets[next] == position) prefixCrc[next++] = crc;
    if (!headDone) head = md5.Final();
    const Md5Digest whole = md5.Final();
    const uint32_t wholeCrc = crc;
    const CrcFilter filter = lookup_.filter();

    // The MD5 of the window at `offset` (to the file's end, then zeros to
    // the block size). A window of the whole file continues the pass's MD5;
    // a file that fits the buffer is still in it from the pass. False on a
    // read error.
    auto windowMd5 = [&](uint64_t offset, Md5Digest& digest) {
        Md5Context window;
        uint64_t at = offset;
        if (offset == 0) {
            window = md5;
            at = size;
        } else if (size <= buffer.size()) {
            window.Update(buffer.data() + offset, static_cast<size_t>(size - offset));
            at = size;
        }
        while (at < size) {
            const size_t chunk = ReadNext(*file, at, buffer);
            if (chunk == 0) return false;
            window.Update(buffer.data(), chunk);
            at += chunk;
        }
        window.UpdateZeros(blockSize - (size - offset));
        digest = window.Final();
        return true;
    };

    BlockLookup::Node* found = nullptr;
    uint64_t foundAt = 0;
    for (size_t i = 0; i < offsets.size() && !found; ++i) {
        const uint64_t offset = offsets[i];
        const uint64_t real = size - offset;
        const uint32_t tailCrc =
            wholeCrc ^ Crc32UpdateZeros(prefixCrc[i], real) ^ Crc32UpdateZeros(0, real);
        const uint32_t windowCrc = Crc32UpdateZeros(tailCrc, blockSize - real);
        if (!filter.MayContain(windowCrc)) continue;
        BlockLookup::Node* crcNode = lookup_.FindCrc(windowCrc);
        if (!crcNode) continue;
        // The whole file as the expected file's one block: when its size,
        // both whole-file digests and the window's CRC are that block's, the
        // window holds the very bytes the block was hashed from, so its MD5
        // is the recorded one and the block-size run of zeros that pads it
        // need not be hashed again.
        BlockLookup::Node* node = nullptr;
        if (offset == 0 && expected && expected->size == size) {
            BlockLookup::Node* first = lookup_.FirstBlockOf(expected);
            const Par2FileDescription* d = DescriptionOf(*expected);
            if (first && first->indexInFile == 0 && first->crc == windowCrc &&
                d->fileHash() == whole && d->hash16k() == head) {
                node = lookup_.FindMd5(crcNode, first->md5);
            }
        }
        if (!node) {
            Md5Digest digest;
            if (!windowMd5(offset, digest)) {
                set_.SetProgress(size, size);
                return;
            }
            node = lookup_.FindMd5(crcNode, digest);
        }
        if (!node) continue;

        // The matching rules, for a short window without a hint.
        bool accounted = false;
        if (node->nextSame) {
            bool allLocated = true;
            for (BlockLookup::Node* n = node; n && !found; n = n->nextSame) {
                if (!Located(n)) allLocated = false;
                if (n->entry == expected && !Located(n) && n->length() == real) found = n;
            }
            for (BlockLookup::Node* n = node; n && !found; n = n->nextSame) {
                if (!Located(n) && n->length() == real) found = n;
            }
            accounted = !found && allLocated;
        } else if (node->entry->completeCopy) {
            accounted = true;
        } else if (node->length() == real) {
            if ((node->indexInFile == 0 && offset == 0) || !Located(node)) {
                found = node;
            } else {
                accounted = true;
            }
        }
        if (found) {
            foundAt = offset;
        } else if (accounted) {
            break;  // the search skips a whole block: past the end
        }
    }
    set_.SetProgress(size, size);
    if (!found) {
        outcome = DataFileOutcome::NothingFound;
        return;
    }
    entryOut = found->entry;
    // Every window before the match held nothing.
    DataFileOutcome result = (found->indexInFile == 0 && foundAt == 0)
                                 ? DataFileOutcome::IntactCopy
                                 : DataFileOutcome::BlocksFound;
    set_.LocateBlock(*found->entry, found->indexInFile, file, foundAt);
    if (result == DataFileOutcome::IntactCopy) {
        const Par2FileDescription* d = DescriptionOf(*entryOut);
        if (entryOut->blockCount != 1 || size != entryOut->size || !(whole == d->fileHash()) ||
            !(head == d->hash16k())) {
            result = DataFileOutcome::BlocksFound;
        }
    }
    outcome = result;
}

size_t Par2RecoverySet::ReadNext(SetFile& file, uint64_t at, std::vector<uint8_t>& buffer) {
    if (at >= file.size) return 0;
    const size_t chunk = static_cast<size_t>(std::min<uint64_t>(buffer.size(), file.size - at));
    if (!file.read(at, buffer.data(), chunk)) {
        file.readError = file.lastError() != 0 ? file.lastError() : EIO;
        return 0;
    }
    return chunk;
}

uint32_t Par2RecoverySet::TakeReadableBlocks(const SetFileRef& file, SourceFileEntry* entry,
                                             int error) {
    file->readError = error != 0 ? error : EIO;
    const uint64_t size = file->size;
    const uint64_t blockSize = set_.status().blockSize;
    uint32_t located = 0;
    if (!entry || blockSize == 0) return 0;
    std::vector<uint8_t> buffer;
    for (BlockLookup::Node* node = lookup_.FirstBlockOf(entry); node; node = node->nextInFile) {
        if (Located(node)) continue;
        const uint64_t offset = static_cast<uint64_t>(node->indexInFile) * blockSize;
        const uint64_t length = node->length();
        if (offset > size || length > size - offset || length > blockSize) continue;
        buffer.resize(static_cast<size_t>(length));
        if (!file->read(offset, buffer.data(), buffer.size())) continue;
        if (Crc32UpdateZeros(Crc32Update(0, buffer.data(), buffer.size()), blockSize - length) !=
            node->crc) {
            continue;
        }
        Md5Context md5;
        md5.Update(buffer.data(), buffer.size());
        md5.UpdateZeros(blockSize - length);
        if (!(md5.Final() == node->md5)) continue;
        set_.LocateBlock(*entry, node->indexInFile, file, offset);
        ++located;
        set_.SetProgressPosition(std::min(offset + length, size));
        set_.NotifyStatus();
        if (set_.StopRequested()) break;
    }
    return located;
}

}  // namespace vantrove
