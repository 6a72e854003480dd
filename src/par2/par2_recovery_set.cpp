#include "par2/par2_recovery_set.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <unordered_set>

#include "core/crc32.h"
#include "core/path.h"
#include "core/stored_name.h"
#include "engine/verification_cache.h"
#include "par2/packet_coding.h"
#include "par2/packet_header.h"
#include "par2/volume_name.h"

namespace vantrove {

using namespace packet_coding;

namespace {

constexpr size_t kReadBuffer = 262144;
constexpr char kStateTag[] = "VT2";

// Object types of the PAR 2.0 part of a saved state.
constexpr StateObjectType kFileRecordObject =
    static_cast<StateObjectType>(static_cast<int32_t>(StateObjectType::FormatBase) + 1);
constexpr StateObjectType kSliceObject =
    static_cast<StateObjectType>(static_cast<int32_t>(StateObjectType::FormatBase) + 2);
constexpr StateObjectType kCreatorObject =
    static_cast<StateObjectType>(static_cast<int32_t>(StateObjectType::FormatBase) + 3);

// Adds one to a file id read as a 128-bit little-endian number.
Md5Digest NextId(Md5Digest id) {
    for (uint8_t& byte : id.bytes) {
        if (++byte != 0) break;
    }
    return id;
}

const Par2FileDescription* DescriptionOf(const SourceFileEntry& entry) {
    return static_cast<const Par2FileDescription*>(
        entry.Description(DescriptionSlot::Par2FileDescription).get());
}

const Par2BlockChecksums* ChecksumsOf(const SourceFileEntry& entry) {
    return static_cast<const Par2BlockChecksums*>(
        entry.Description(DescriptionSlot::Par2BlockChecksums).get());
}

// Keeps the first copy of a packet in `slot`; a later copy that differs
// from it marks the group as holding conflicting packets. True when
// `packet` was kept.
template <class Packet>
bool KeepFirst(std::shared_ptr<Packet>& slot, std::shared_ptr<Packet>& packet, PacketGroup& group,
               bool& conflicting) {
    if (!slot) {
        slot = std::move(packet);
        ++group.packetCount;
        return true;
    }
    if (!slot->SameAs(*packet)) conflicting = true;
    return false;
}

// True when `slot` already keeps a byte-identical copy of the repeated
// packet whose hashed bytes (from the set id on) are `repeated`: filing it
// again would change nothing.
template <class Packet>
bool AlreadyKept(const std::shared_ptr<Packet>& slot, const uint8_t* repeated, uint64_t length) {
    return repeated != nullptr && slot && slot->length() == length &&
           std::memcmp(slot->bytes().data() + kPacketHashedFrom, repeated,
                       static_cast<size_t>(length - kPacketHashedFrom)) == 0;
}

// The file id at the start of a repeated description or IFSC packet's body.
Md5Digest RepeatedFileId(const uint8_t* repeated) {
    Md5Digest id;
    std::memcpy(id.bytes.data(), repeated + (kPacketHeaderSize - kPacketHashedFrom), id.bytes.size());
    return id;
}

// Recovery slices of one volume, for the check side by side.
struct SliceRun {
    size_t count = 0;
    uint64_t offsets[kPacketsSideBySide];
    uint64_t lengths[kPacketsSideBySide];
    Md5Digest hashes[kPacketsSideBySide];

    void Add(uint64_t offset, const PacketHeader& parsed) {
        offsets[count] = offset;
        lengths[count] = parsed.length;
        hashes[count] = parsed.packetHash;
        ++count;
    }
};

// Volumes repeat the small packets between their recovery slices; a run of
// slices steps over at most this many bytes of them.
constexpr uint64_t kMostBytesBetweenSlices = 1048576;

// The recovery slice at `offset` (its header parsed into `first`) and those
// that follow it in `file`, over the other packets between them, up to
// kPacketsSideBySide in all; the run ends at the first header that is not a
// packet's.
void GatherSlices(DiskFile& file, uint64_t offset, const PacketHeader& first, SliceRun& run) {
    run.Add(offset, first);
    const uint64_t size = file.size;
    uint64_t next = offset + first.length;
    uint64_t between = 0;
    uint8_t header[kPacketHeaderSize];
    while (run.count < kPacketsSideBySide && next <= size - kPacketHeaderSize) {
        PacketHeader packet;
        if (!file.read(next, header, kPacketHeaderSize) || !ParsePacketHeader(header, packet) ||
            packet.length > size - next) {
            break;
        }
        if (packet.type() == PacketType::RecoverySlice) {
            run.Add(next, packet);
        } else if ((between += packet.length) > kMostBytesBetweenSlices) {
            break;
        }
        next += packet.length;
    }
}

// Results of slices checked ahead of their turn, each taken once by the
// slice whose header, at its offset, claims the same length and hash. A
// read error is not kept: that slice is read again in its turn.
class SlicesAhead {
  public:
    void Keep(const SliceRun& run, const PacketHashCheck* results) {
        for (size_t i = 0; i < run.count; ++i) {
            if (results[i] == PacketHashCheck::ReadError) continue;
            results_[run.offsets[i]] = {run.lengths[i], run.hashes[i], results[i]};
        }
    }
    bool Has(uint64_t offset) const { return results_.count(offset) != 0; }
    bool Take(uint64_t offset, const PacketHeader& parsed, PacketHashCheck& result) {
        auto it = results_.find(offset);
        if (it == results_.end()) return false;
        const bool same = it->second.length == parsed.length &&
                          it->second.packetHash == parsed.packetHash;
        if (same) result = it->second.result;
        results_.erase(it);
        return same;
    }

  private:
    struct Checked {
        uint64_t length;
        Md5Digest packetHash;
        PacketHashCheck result;
    };
    std::map<uint64_t, Checked> results_;
};

}  // namespace

std::unique_ptr<RecoverySet> NewPar2Set(SetObserver* observer, const StopFlag* stopFlag) {
    return MakeRecoverySet<Par2RecoverySet>(FormatKind::Par2, observer, stopFlag);
}

Par2RecoverySet::Par2RecoverySet(RecoverySet& set) : set_(set) {}

Par2RecoverySet::~Par2RecoverySet() = default;

std::string Par2RecoverySet::VolumeSetName(const std::string& fileName) const {
    return Par2VolumeSetName(FileNameOfPath(fileName));
}

std::string Par2RecoverySet::CreatorText() const {
    if (!chosen_) return {};
    return CreatorDisplayText(chosen_->creator.get());
}

const Md5Digest& Par2RecoverySet::zeroBlockMd5() const {
    if (!zeroMd5Known_) {
        Md5Context zeros;
        zeros.UpdateZeros(set_.status().blockSize);
        zeroMd5_ = zeros.Final();
        zeroMd5Known_ = true;
    }
    return zeroMd5_;
}

std::string Par2RecoverySet::StateKey(const std::string& setPath) {
    return setPath + kStateExtensionPar2;
}

// ---------------------------------------------------------------------------
// Opening

bool Par2RecoverySet::LoadVolumes(const std::string& path, bool everyVolume) {
    const std::string name = FileNameOfPath(path);
    const std::string setName = VolumeSetName(name);
    set_.SetFolderAndBaseName(FolderOfPath(path), setName);
    set_.BeginLoading(setName.empty() ? name : setName);

    SetFileRef chosen = set_.KnownOrNewVolume(path);
    LoadVolume(chosen, false);
    if ((everyVolume || !chosen_) && !setName.empty() && !set_.StopRequested()) {
        LoadFolderVolumes(setName, everyVolume);
    }
    return chosen_ != nullptr;
}

void Par2RecoverySet::LoadFolderVolumes(const std::string& setName) {
    LoadFolderVolumes(setName, false);
}

void Par2RecoverySet::LoadFolderVolumes(const std::string& setName, bool everyVolume) {
    // The other volumes of the set, in the order the folder lists them.
    for (const std::string& path : set_.VolumesNamed(setName)) {
        if ((chosen_ && !everyVolume) || set_.StopRequested()) break;
        SetFileRef file = set_.KnownOrNewVolume(path);
        if (file->result == VerifyResult::NotIntact) continue;  // read already
        LoadVolume(file, false);
    }
}

std::unique_ptr<SetFormat> Par2RecoverySet::NewFormatFor(RecoverySet& set) const {
    return std::make_unique<Par2RecoverySet>(set);
}

// ---------------------------------------------------------------------------
// The packet reader

PacketGroup& Par2RecoverySet::GroupFor(const Md5Digest& setId) {
    auto [it, added] = groupsById_.emplace(setId, nullptr);
    if (added) {
        groups_.push_back(std::make_unique<PacketGroup>(setId, nextGroupSequence_++));
        it->second = groups_.back().get();
    }
    return *it->second;
}

std::vector<PacketGroup*> Par2RecoverySet::GroupsInOrder() const {
    std::vector<PacketGroup*> order;
    for (const auto& group : groups_) order.push_back(group.get());
    std::sort(order.begin(), order.end(), [](const PacketGroup* a, const PacketGroup* b) {
        uint32_t ba = PacketGroup::BucketOf(a->setId), bb = PacketGroup::BucketOf(b->setId);
        if (ba != bb) return ba < bb;
        return a->sequence > b->sequence;
    });
    return order;
}

void Par2RecoverySet::FilePacket(const SetFileRef& file, uint64_t offset, const uint8_t* header,
                                 PacketGroup& group, bool& conflicting, const uint8_t* repeated) {
    PacketHeader parsed;
    ParsePacketHeader(header, parsed);
    if (repeated != nullptr) {
        const PacketType type = parsed.type();
        if (type == PacketType::FileDescription || type == PacketType::Ifsc) {
            const Par2FileRecord* record = group.FindFile(RepeatedFileId(repeated));
            if (record != nullptr &&
                (type == PacketType::FileDescription
                     ? AlreadyKept(record->description, repeated, parsed.length)
                     : AlreadyKept(record->checksums, repeated, parsed.length))) {
                return;
            }
        } else if (type == PacketType::Main ? AlreadyKept(group.main, repeated, parsed.length)
                   : type == PacketType::Creator
                       ? AlreadyKept(group.creator, repeated, parsed.length)
                       : false) {
            return;
        }
    }
    switch (parsed.type()) {
        case PacketType::FileDescription: {
            auto packet = std::make_shared<Par2FileDescription>();
            if (!packet->Read(*file, offset, header)) return;
            Par2FileRecord& record = group.files[packet->fileId()];
            const std::string name = packet->name();
            if (KeepFirst(record.description, packet, group, conflicting)) {
                record.name = StoredName(name);
                ++file->packetsAdded;
            }
            return;
        }
        case PacketType::Ifsc: {
            auto packet = std::make_shared<Par2BlockChecksums>();
            if (!packet->Read(*file, offset, header)) return;
            if (KeepFirst(group.files[packet->fileId()].checksums, packet, group, conflicting))
                ++file->packetsAdded;
            return;
        }
        case PacketType::Main: {
            auto packet = std::make_shared<Par2MainPacket>();
            if (!packet->Read(*file, offset, header)) return;
            if (KeepFirst(group.main, packet, group, conflicting)) ++file->packetsAdded;
            return;
        }
        case PacketType::Creator: {
            // Creators may differ between volumes without harm.
            auto packet = std::make_shared<Par2CreatorPacket>();
            if (!packet->Read(*file, offset, header)) return;
            bool differs = false;
            if (KeepFirst(group.creator, packet, group, differs)) ++file->packetsAdded;
            return;
        }
        case PacketType::RecoverySlice: {
            auto packet = std::make_shared<RecoverySlicePacket>();
            if (!packet->Read(file, offset, header)) return;
            const uint32_t exponent = packet->exponent();
            if (group.slices.count(exponent)) return;
            group.slices.emplace(exponent, std::move(packet));
            ++group.packetCount;
            ++file->blocksTaken;
            ++file->packetsAdded;
            if (exponent >= group.exponentEnd) group.exponentEnd = exponent + 1;
            if (&group == chosen_) UpdateRecoveryCount();
            return;
        }
        case PacketType::Other:
            return;
    }
}

bool Par2RecoverySet::ReadPackets(const SetFileRef& file, bool& cancelled) {
    cancelled = false;
    if (!file->open()) {
        file->result = VerifyResult::Missing;
        return false;
    }
    file->flags.damaged = false;
    file->packetsAdded = 0;
    set_.SetActivity(Activity::LoadingVolume, file->path);
    set_.SetProgress(0, std::max<uint64_t>(file->size, 1));
    set_.NotifyStatus();

    std::vector<uint8_t> buffer(kReadBuffer);
    std::vector<PacketGroup*> contributed;  // in the order of their first packets
    std::unordered_set<const PacketGroup*> contributedSet;
    SlicesAhead slicesAhead;
    bool conflicting = false;
    const uint64_t size = file->size;
    uint64_t position = 0;
    uint8_t header[kPacketHeaderSize];
    auto progress = [this](uint64_t at) {
        set_.ReportProgress(at);
        return !set_.StopRequested();
    };

    // Files a packet whose hash was checked, noting the group it went to.
    auto fileChecked = [&](uint64_t at, const uint8_t* bytes, const PacketHeader& packet,
                           const uint8_t* repeated) {
        PacketGroup& group = GroupFor(packet.setId);
        FilePacket(file, at, bytes, group, conflicting, repeated);
        if (contributedSet.insert(&group).second) contributed.push_back(&group);
    };

    // A packet that fails any check costs that packet only: the search for
    // the next one starts at the byte after its first. (The magic cannot
    // begin at any of the next three bytes, so this finds the same packet
    // as a search from the next multiple of 4 would, and also one that
    // lies off the 4-byte grid after bytes were lost or inserted.) Its
    // length is never trusted to step over anything.
    bool searching = false;
    std::vector<uint8_t> window;  // sized at the first search
    uint64_t windowStart = 0;  // the bytes of the file that `window` holds
    size_t windowLength = 0;
    auto skipBadPacket = [&] {
        file->flags.damaged = true;
        ++position;
        searching = true;
    };

    while (size >= kPacketHeaderSize && position <= size - kPacketHeaderSize) {
        if (set_.StopRequested()) {
            cancelled = true;
            break;
        }
        if (!searching) {
            if (!file->read(position, header, kPacketHeaderSize)) break;
            if (!HasPacketMagic(header)) {
                file->flags.damaged = true;
                searching = true;
            }
        }
        if (searching) {
            // Search forward for the magic through a window of the file.
            // The window is read again only when the search leaves it, so a
            // run of damaged packets costs one read per window, not one per
            // packet; consecutive windows overlap so that a packet header
            // across their border is found.
            bool found = false;
            while (!found && position <= size - kPacketHeaderSize) {
                if (position < windowStart ||
                    position + kPacketHeaderSize > windowStart + windowLength) {
                    const size_t chunk =
                        static_cast<size_t>(std::min<uint64_t>(kReadBuffer, size - position));
                    windowLength = 0;
                    if (window.empty()) window.resize(kReadBuffer);
                    if (!file->read(position, window.data(), chunk)) break;
                    windowStart = position;
                    windowLength = chunk;
                }
                const size_t last = windowLength - kPacketHeaderSize;  // last whole header
                for (size_t i = static_cast<size_t>(position - windowStart); i <= last;) {
                    const void* p = std::memchr(window.data() + i, kPacketMagic[0], last + 1 - i);
                    if (p == nullptr) break;
                    i = static_cast<size_t>(static_cast<const uint8_t*>(p) - window.data());
                    if (HasPacketMagic(window.data() + i)) {
                        std::memcpy(header, window.data() + i, kPacketHeaderSize);
                        position = windowStart + i;
                        found = true;
                        break;
                    }
                    ++i;
                }
                if (!found) {
                    position = windowStart + last + 1;
                    if (!progress(position)) {
                        cancelled = true;
                        break;
                    }
                }
            }
            if (cancelled || !found) break;
            searching = false;
        }

        PacketHeader parsed;
        if (!ParsePacketHeader(header, parsed) || parsed.length > size - position) {
            skipBadPacket();
            continue;
        }
        if (parsed.type() == PacketType::RecoverySlice && !slicesAhead.Has(position)) {
            // This slice and the next ones of the volume have their hashes
            // checked side by side. Each result waits for its slice's turn,
            // so the packets are filed (and a slice that fails is stepped
            // over) just as a check of one packet at a time would do it.
            SliceRun run;
            GatherSlices(*file, position, parsed, run);
            if (run.count > 1) {
                PacketHashCheck results[kPacketsSideBySide];
                if (!VerifyPacketHashes(*file, run.offsets, run.lengths, run.hashes, run.count,
                                        results, progress)) {
                    cancelled = true;
                    break;
                }
                slicesAhead.Keep(run, results);
            }
        }
        PacketHashCheck check;
        const uint8_t* repeated = nullptr;  // a recovery slice is never a repeated copy
        if (parsed.type() != PacketType::RecoverySlice ||
            !slicesAhead.Take(position, parsed, check)) {
            check = verified_.Check(*file, position, header, parsed, buffer, progress);
            repeated = verified_.repeated();
        }
        if (check == PacketHashCheck::Cancelled) {
            cancelled = true;
            break;
        }
        if (check == PacketHashCheck::ReadError) {
            file->flags.damaged = true;
            break;
        }
        if (check != PacketHashCheck::Valid) {
            skipBadPacket();
            continue;
        }
        fileChecked(position, header, parsed, repeated);
        position += parsed.length;
    }
    file->close();
    set_.ReportProgress(size);
    if (!cancelled) file->result = VerifyResult::NotIntact;  // read to its end

    bool becameComplete = false;
    if (!chosen_) becameComplete = ChooseGroup();
    if (chosen_) DropForeignSlices(file, contributed, conflicting, cancelled, becameComplete);
    if (set_.observer() && !file->flags.outOfVolumeList) set_.observer()->ReportVolumeFile(*file);
    return !cancelled;
}

bool Par2RecoverySet::LoadVolume(const SetFileRef& file, bool checkOnly) {
    if (!file) return false;
    file->kind = FileKind::Volume;
    bool cancelled = false;
    bool read = ReadPackets(file, cancelled);
    set_.NotifyStatus();
    return read;
}

void Par2RecoverySet::RemoveAllSlicesOf(SetFile& file) {
    for (const auto& group : groups_) group->RemoveSlicesOf(&file);
    file.blocksTaken = 0;
    UpdateRecoveryCount();
}

void Par2RecoverySet::DropForeignSlices(const SetFileRef& file,
                                        const std::vector<PacketGroup*>& contributed,
                                        bool conflicting, bool cancelled, bool becameComplete) {
    if (becameComplete) {
        // Files read before the set was chosen keep only its slices.
        for (const auto& [path, known] : set_.knownFiles()) {
            if (known->kind != FileKind::Volume || known->result != VerifyResult::NotIntact ||
                known->blocksTaken == 0) {
                continue;
            }
            for (const auto& group : groups_) {
                if (group.get() != chosen_)
                    known->blocksTaken -= group->RemoveSlicesOf(known.get());
            }
            if (known->blocksTaken == 0 && !chosen_->HasSlicesOf(known.get())) {
                known->flags.unused = true;
                if (set_.observer() && known != file && !known->flags.outOfVolumeList) {
                    set_.observer()->ReportVolumeFile(*known);
                }
            }
        }
    }
    if (!contributed.empty() && !cancelled) {
        const bool toChosen =
            std::find(contributed.begin(), contributed.end(), chosen_) != contributed.end();
        if (!toChosen) {
            file->flags.unused = true;
            file->flags.damaged = true;
            RemoveAllSlicesOf(*file);
        } else {
            for (PacketGroup* group : contributed) {
                if (group != chosen_) file->blocksTaken -= group->RemoveSlicesOf(file.get());
            }
        }
    }
    if (conflicting) {
        file->flags.unused = true;
        file->flags.damaged = true;
        RemoveAllSlicesOf(*file);
    }
    UpdateRecoveryCount();
}

void Par2RecoverySet::UpdateRecoveryCount() {
    set_.SetRecoveryBlocksAvailable(
        chosen_ ? static_cast<int32_t>(std::min<size_t>(chosen_->slices.size(), INT32_MAX)) : 0);
}

void Par2RecoverySet::ForgetVolume(SetFile& file) {
    RemoveAllSlicesOf(file);
}

// ---------------------------------------------------------------------------
// Choosing and building the set

bool Par2RecoverySet::ChooseGroup() {
    for (PacketGroup* group : GroupsInOrder()) {
        if (!group->IsComplete()) continue;
        chosen_ = group;
        if (!BuildSet()) {
            // A set that cannot be held (too many blocks) stays incomplete.
            chosen_ = nullptr;
            set_.ForgetEntries();
            continue;
        }
        return true;
    }
    return false;
}

bool Par2RecoverySet::BuildSet() {
    const Par2MainPacket& main = *chosen_->main;
    std::vector<SourceFileEntryRef> entries;
    // Ids as sets, so that a main packet of many files costs n log n.
    std::set<Md5Digest, DigestLess> usedIds;
    for (uint32_t i = 0; i < main.recoverableFileCount(); ++i) usedIds.insert(main.fileId(i));
    std::set<Md5Digest, DigestLess> seen;
    std::map<Md5Digest, Md5Digest, DigestLess> lastCopyOf;
    uint64_t totalBlocks = 0;
    for (uint32_t i = 0; i < main.recoverableFileCount(); ++i) {
        Md5Digest id = main.fileId(i);
        Par2FileRecord record = chosen_->files[id];
        if (seen.count(id) != 0) {
            // A second mention of one id: a copy of the file under the next
            // unused id.
            // Every id between one and its last copy is in use, so the next
            // copy is looked for after the last one.
            Md5Digest& lastCopy = lastCopyOf.try_emplace(id, id).first->second;
            Md5Digest copyId = NextId(lastCopy);
            while (usedIds.count(copyId) != 0 || chosen_->files.count(copyId)) {
                copyId = NextId(copyId);
            }
            lastCopy = copyId;
            usedIds.insert(copyId);
            record.description = record.description->CopyWithId(copyId);
            record.checksums = record.checksums->CopyWithId(copyId);
            chosen_->files[copyId] = record;
            id = copyId;
        }
        seen.insert(id);
        auto entry = std::make_shared<SourceFileEntry>();
        entry->Description(DescriptionSlot::Par2FileDescription) = record.description;
        entry->Description(DescriptionSlot::Par2BlockChecksums) = record.checksums;
        entry->name = record.name;
        entry->size = record.description->fileLength();
        entry->blockCount = record.checksums->sliceCount();
        totalBlocks += entry->blockCount;
        entries.push_back(std::move(entry));
    }
    // Empty files are listed among the files that are not recoverable (they
    // have no blocks): they are verified all the same, so that a deleted
    // one is noticed and made again.
    for (const Md5Digest& id : main.otherFileIds()) {
        auto it = chosen_->files.find(id);
        if (it == chosen_->files.end() || !it->second.description ||
            it->second.description->fileLength() != 0 || seen.count(id) != 0) {
            continue;
        }
        seen.insert(id);
        auto entry = std::make_shared<SourceFileEntry>();
        entry->Description(DescriptionSlot::Par2FileDescription) = it->second.description;
        entry->Description(DescriptionSlot::Par2BlockChecksums) = it->second.checksums;
        entry->name = it->second.name;
        entry->size = 0;
        entry->blockCount = 0;
        entries.push_back(std::move(entry));
    }
    if (totalBlocks > UINT32_MAX) return false;
    set_.ForgetEntries();
    set_.SetEntries(std::move(entries));
    set_.SetBlockSize(main.sliceSize());
    if (!set_.FinishLoading()) return false;
    return PrepareScan();
}

bool Par2RecoverySet::PrepareScan() {
    const uint64_t blockSize = set_.status().blockSize;
    if (blockSize == 0 || blockSize > UINT32_MAX) return false;
    zeroCrc_ = Crc32UpdateZeros(0, blockSize);
    zeroMd5Known_ = false;
    window_.Build(static_cast<uint32_t>(blockSize));

    lookup_.Clear();
    for (const SourceFileEntryRef& entry : set_.entries()) {
        const Par2BlockChecksums* checksums = ChecksumsOf(*entry);
        if (!checksums && entry->blockCount == 0) continue;  // an empty file
        if (!checksums) return false;
        for (uint32_t i = 0; i < entry->blockCount; ++i) {
            const uint64_t offset = static_cast<uint64_t>(i) * blockSize;
            const uint64_t length = std::min(blockSize, entry->size - offset);
            SliceChecksum sum = checksums->entry(i);
            lookup_.Add(entry.get(), i, length, sum.crc32, sum.md5);
        }
    }
    lookup_.Finish();
    // The distinct block lengths, shortest first, for the scan of files
    // shorter than a block.
    blockLengths_.clear();
    for (const BlockLookup::Node& node : lookup_.nodes()) {
        if (node.length() > 0) blockLengths_.push_back(node.length());
    }
    std::sort(blockLengths_.begin(), blockLengths_.end());
    blockLengths_.erase(std::unique(blockLengths_.begin(), blockLengths_.end()),
                        blockLengths_.end());
    UpdateRecoveryCount();
    set_.UpdateCreatorText();
    if (set_.status().setName.empty()) set_.SetSetName(set_.baseName());
    return true;
}

// ---------------------------------------------------------------------------
// Saved state

bool Par2RecoverySet::SaveState(const std::string& setPath) {
    if (!chosen_) return false;
    const PacketGroup& group = *chosen_;
    return set_.SaveStateFile(
        StateKey(setPath), kStateTag, set_.status().totalSourceSize,
        [this, &group](StateWriter& writer) {
            writer.WriteBytes(group.setId.bytes.data(), 16);
            writer.WriteU32(group.packetCount);
            writer.WriteU32(static_cast<uint32_t>(group.files.size()));
            for (const auto& [id, fileRecord] : group.files) {
                writer.WriteBytes(id.bytes.data(), 16);
                const auto& record = fileRecord;  // a lambda may not capture a binding in clang 14
                writer.WriteReference(&record, [&writer, &record] {
                    WriteDescriptionReference(writer, record.description.get());
                    WriteDescriptionReference(writer, record.checksums.get());
                    writer.WriteString(record.name);
                });
            }
            writer.WriteU32(static_cast<uint32_t>(group.slices.size()));
            for (const auto& [exponent, slice] : group.slices) {
                writer.WriteU32(exponent);
                const RecoverySlicePacket* packet = slice.get();
                writer.WriteReference(packet, [&writer, packet] {
                    writer.WriteBytes(packet->head(), kRecoveryDataOffset);
                    WriteDiskFileReference(writer, packet->data().file.get());
                    writer.WriteU64(packet->data().offset);
                    writer.WriteU64(packet->data().length);
                });
            }
            writer.WriteBytes(group.main->bytes().data(), group.main->bytes().size());
            const Par2CreatorPacket* creator = group.creator.get();
            writer.WriteReference(creator, [&writer, creator] {
                writer.WriteBytes(creator->bytes().data(), creator->bytes().size());
            });
            writer.WriteU32(group.exponentEnd);
            writer.WriteU32(static_cast<uint32_t>(set_.entries().size()));
            for (const SourceFileEntryRef& entry : set_.entries()) {
                WriteEntryReference(writer, entry.get());
                writer.WriteI32(static_cast<int32_t>(entry->state));
            }
        });
}

namespace {

// A description reference inside the PAR 2.0 part, of the expected kind.
template <class T>
bool ReadTypedDescription(StateReader& reader, DescriptionSlot slot, std::shared_ptr<T>& out) {
    FileDescriptionRef description;
    if (!ReadDescriptionReference(reader, slot, description)) return false;
    out = std::dynamic_pointer_cast<T>(description);
    if (!out) reader.Fail();
    return out != nullptr;
}

}  // namespace

bool Par2RecoverySet::LoadState(const std::string& setPath) {
    const std::string key = StateKey(setPath);
    auto group = std::make_unique<PacketGroup>(Md5Digest{}, 0);
    uint64_t secondValue = 0;
    auto readPart = [this, &group](StateReader& reader) -> bool {
        if (!reader.ReadBytes(group->setId.bytes.data(), 16)) return false;
        group->packetCount = reader.ReadU32();
        uint32_t fileCount = reader.ReadU32();
        if (reader.failed() || fileCount > reader.remaining() / 20) return false;
        for (uint32_t i = 0; i < fileCount; ++i) {
            Md5Digest id;
            if (!reader.ReadBytes(id.bytes.data(), 16)) return false;
            std::shared_ptr<Par2FileRecord> record;
            bool ok = reader.ReadReference(
                kFileRecordObject, record, [] { return std::make_shared<Par2FileRecord>(); },
                [&reader](Par2FileRecord& r) {
                    return ReadTypedDescription(reader, DescriptionSlot::Par2FileDescription,
                                                r.description) &&
                           ReadTypedDescription(reader, DescriptionSlot::Par2BlockChecksums,
                                                r.checksums) &&
                           reader.ReadString(r.name);
                });
            if (!ok || !record) return false;
            group->files[id] = *record;
        }
        uint32_t sliceCount = reader.ReadU32();
        if (reader.failed() || sliceCount > reader.remaining() / 8) return false;
        for (uint32_t i = 0; i < sliceCount; ++i) {
            uint32_t exponent = reader.ReadU32();
            std::shared_ptr<RecoverySlicePacket> slice;
            bool ok = reader.ReadReference(
                kSliceObject, slice, [] { return std::make_shared<RecoverySlicePacket>(); },
                [&reader](RecoverySlicePacket& packet) {
                    uint8_t head[kRecoveryDataOffset];
                    if (!reader.ReadBytes(head, sizeof head)) return false;
                    SetFileRef file;
                    if (!ReadDiskFileReference(reader, file) || !file) return false;
                    uint64_t offset = reader.ReadU64();
                    uint64_t length = reader.ReadU64();
                    if (reader.failed() || offset < kRecoveryDataOffset ||
                        LoadLe64(head + kPacketLengthOffset) != length + kRecoveryDataOffset) {
                        return false;
                    }
                    packet.SetFromState(head, file, offset, length);
                    return true;
                });
            if (!ok || !slice || slice->exponent() != exponent) return false;
            group->slices[exponent] = slice;
        }
        std::vector<uint8_t> mainBytes;
        if (!ReadWholePacket(reader, mainBytes)) return false;
        group->main = std::make_shared<Par2MainPacket>();
        if (!group->main->LoadBytes(std::move(mainBytes))) return false;
        std::shared_ptr<Par2CreatorPacket> creator;
        bool ok = reader.ReadReference(
            kCreatorObject, creator, [] { return std::make_shared<Par2CreatorPacket>(); },
            [&reader](Par2CreatorPacket& packet) {
                std::vector<uint8_t> bytes;
                return ReadWholePacket(reader, bytes) && packet.LoadBytes(std::move(bytes));
            });
        if (!ok) return false;
        group->creator = creator;
        group->exponentEnd = reader.ReadU32();
        uint32_t entryCount = reader.ReadU32();
        if (reader.failed() || entryCount > reader.remaining() / 8) return false;
        std::vector<SourceFileEntryRef> entries;
        for (uint32_t i = 0; i < entryCount; ++i) {
            SourceFileEntryRef entry;
            if (!ReadEntryReference(reader, entry) || !entry) return false;
            reader.ReadI32();
            const Par2FileDescription* description = DescriptionOf(*entry);
            const Par2BlockChecksums* checksums = ChecksumsOf(*entry);
            // An empty file that is not recoverable may come without block
            // checksums.
            if (!description || (!checksums && description->fileLength() != 0)) return false;
            entry->size = description->fileLength();
            if (entry->blockCount != (checksums ? checksums->sliceCount() : 0)) return false;
            entries.push_back(std::move(entry));
        }
        set_.SetEntries(std::move(entries));
        return !reader.failed();
    };
    if (!set_.LoadStateFile(key, kStateTag, secondValue, ReadPar2Description, readPart))
        return false;
    if (set_.entries().empty() || secondValue != set_.status().totalSourceSize) return false;
    for (const SourceFileEntryRef& entry : set_.entries()) {
        if (SliceCountFor(entry->size, set_.status().blockSize) != entry->blockCount) return false;
    }
    if (group->main->sliceSize() != set_.status().blockSize) return false;
    // The volumes read before keep their slices; the set is complete.
    groups_.clear();
    groupsById_.clear();
    groupsById_.emplace(group->setId, group.get());
    groups_.push_back(std::move(group));
    chosen_ = groups_.back().get();
    set_.SetSetName(set_.baseName());
    set_.SetSetState(RecoveryState::Incomplete);
    if (!PrepareScan()) return false;
    set_.NotifyStatus();
    return true;
}

bool Par2RecoverySet::SameSetAs(const SetFormat& format) const {
    const auto* theirs = dynamic_cast<const Par2RecoverySet*>(&format);
    if (theirs == nullptr) return false;
    const RecoverySet& other = theirs->set_;
    if (other.formatKind() != FormatKind::Par2 || set_.folder() != other.folder() ||
        set_.baseName() != other.baseName() ||
        set_.status().totalDataBlocks != other.status().totalDataBlocks ||
        set_.status().blockSize != other.status().blockSize ||
        set_.status().totalSourceSize != other.status().totalSourceSize ||
        set_.entries().size() != other.entries().size()) {
        return false;
    }
    for (size_t i = 0; i < set_.entries().size(); ++i) {
        const SourceFileEntry& a = *set_.entries()[i];
        const SourceFileEntry& b = *other.entries()[i];
        const Par2FileDescription* da = DescriptionOf(a);
        const Par2FileDescription* db = DescriptionOf(b);
        const Par2BlockChecksums* ca = ChecksumsOf(a);
        const Par2BlockChecksums* cb = ChecksumsOf(b);
        if (!da || !db || !ca != !cb) return false;
        if (a.size != b.size || a.name != b.name || a.blockCount != b.blockCount ||
            !(da->fileHash() == db->fileHash()) || !(da->hash16k() == db->hash16k()) ||
            (ca && !ca->SameEntries(*cb))) {
            return false;
        }
    }
    return true;
}

}  // namespace vantrove
