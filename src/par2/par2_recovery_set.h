#pragma once
// Par2RecoverySet: the PAR 2.0 format of a recovery set, opened from any of
// its volume files.
//
// The set's Open reads the chosen volume packet by packet (each checked by its MD5),
// searches the folder for the other volumes of the same base name, and reads
// them until one recovery set id has a main packet and complete descriptions
// of its files. That group becomes the set: its files become the source
// entries in main-packet order, their block checksums fill the block lookup
// through which the data-file scan finds blocks at any offset, and its
// recovery slices (kept as locations in the volume files, never in memory)
// are the recovery blocks available. Packets of other sets found in the same
// volumes are dropped once the set is chosen.
//
// The set's verification state is saved in the cache under the key
// "<folder><base name>.vt2" and read back by the set's Open; a state that matches the
// freshly loaded set in every respect replaces it, so that unchanged files
// are not hashed again.
//
// Owned by its RecoverySet (NewPar2Set), used on the set's thread only.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/crc32_window.h"
#include "engine/block_lookup.h"
#include "engine/recovery_set.h"
#include "engine/set_format.h"
#include "par2/packet_group.h"
#include "par2/verified_packets.h"

namespace vantrove {

// A recovery set of PAR 2.0 volumes, not yet loaded.
std::unique_ptr<RecoverySet> NewPar2Set(SetObserver* observer, const StopFlag* stopFlag);

class Par2RecoverySet final : public SetFormat {
  public:
    explicit Par2RecoverySet(RecoverySet& set);
    ~Par2RecoverySet() override;

    // SetFormat
    std::string VolumeSetName(const std::string& fileName) const override;
    bool LoadVolume(const SetFileRef& file, bool checkOnly) override;
    void LoadFolderVolumes(const std::string& setName) override;
    bool TakesMoreVolumes() const override { return true; }
    bool Described() const override { return chosen_ != nullptr; }
    void ForgetVolume(SetFile& file) override;
    std::string CreatorText() const override;
    bool SearchesOtherFiles() const override { return true; }
    bool TriesForeignVolumes() const override { return false; }
    void VerifyDataFile(const SetFileRef& file, SourceFileEntry*& entryOut,
                        DataFileOutcome& outcome, bool checkOnly) override;
    void ExpectDataFiles(const std::vector<SetFileRef>& files) override;
    void ExpectRebuiltFiles(const std::vector<SetFileRef>& files) override;
    // Writes single blocks that straddle two found pieces of a file to files
    // of their own (par2_repair.cpp).
    void SearchGaps() override;
    bool HasRecoveryData() const override { return true; }
    // Repair (par2_repair.cpp): the files that a successful repair may
    // delete, by the state the repair began in; and the copy and
    // Reed-Solomon step.
    std::vector<SetFileRef> CleanUpCandidates(RecoveryState state,
                                              SubState subState) const override;
    bool RebuildTargets(RecoveryState state, const std::vector<SourceFileEntry*>& targets,
                        bool& cancelled) override;
    bool SaveState(const std::string& setPath) override;
    bool LoadState(const std::string& setPath) override;
    // True when `other` describes the same set as this one: folder, base
    // name, blocks, slice size, data size and every file with its hashes,
    // name and block checksums.
    bool SameSetAs(const SetFormat& other) const override;
    std::unique_ptr<SetFormat> NewFormatFor(RecoverySet& set) const override;

    // Reads the volume at `path`, then the other volumes of its base name in
    // its folder, as Open does for a fresh set, but looks at no data file and
    // takes no saved state. With `everyVolume` the reading goes on once a set
    // is complete, so that every recovery slice in the folder is known. True
    // when a set was chosen.
    bool LoadVolumes(const std::string& path, bool everyVolume);

    // The group that became the set (null while the set is incomplete).
    const PacketGroup* chosenGroup() const { return chosen_; }
    const std::vector<std::unique_ptr<PacketGroup>>& groups() const { return groups_; }
    const BlockLookup& blockLookup() const { return lookup_; }
    uint32_t zeroBlockCrc() const { return zeroCrc_; }
    // The MD5 of one slice of zeros, computed when first asked for.
    const Md5Digest& zeroBlockMd5() const;

    // The cache key of a set: folder + base name + ".vt2".
    static std::string StateKey(const std::string& setPath);

  private:
    // The packet reader for one volume file.
    bool ReadPackets(const SetFileRef& file, bool& cancelled);
    // Files one checked packet at `offset`. `repeated` (the hashed bytes of
    // a packet that repeats one checked before, or nullptr) lets a copy the
    // group already keeps pass without being read again.
    void FilePacket(const SetFileRef& file, uint64_t offset, const uint8_t* header,
                    PacketGroup& group, bool& conflicting, const uint8_t* repeated);
    PacketGroup& GroupFor(const Md5Digest& setId);
    // Groups in the order in which completeness is tried.
    std::vector<PacketGroup*> GroupsInOrder() const;
    // Looks for a complete group; builds the set from the first one found.
    bool ChooseGroup();
    // Fills entries, blocks and the lookup from the chosen group.
    bool BuildSet();
    // Entries known: block size, zero block, lookup, window, counts.
    bool PrepareScan();
    // Clean-up of other sets' slices after a load.
    void DropForeignSlices(const SetFileRef& file, const std::vector<PacketGroup*>& contributed,
                           bool conflicting, bool cancelled, bool becameComplete);
    void RemoveAllSlicesOf(SetFile& file);
    void UpdateRecoveryCount();
    // LoadFolderVolumes, going on after the set is complete with
    // `everyVolume`.
    void LoadFolderVolumes(const std::string& setName, bool everyVolume);

    // Whole-file check and sliding block scan (par2_verify.cpp).
    void CheckWholeFile(SetFile& file, SourceFileEntry*& entryOut, DataFileOutcome& outcome);
    void ScanBlocks(const SetFileRef& file, SourceFileEntry*& entryOut, DataFileOutcome& outcome,
                    bool& stopped);
    bool IntactAtItsPlace(const SetFileRef& file, SourceFileEntry& entry, bool& stopped);
    bool IntactByBlocks(const SetFileRef& file, SourceFileEntry& entry, bool& stopped);
    // The CRCs of the entry's blocks when they lie one after another from
    // block 0, each of the block size but the last; false otherwise.
    bool CrcsInPlace(SourceFileEntry& entry, std::vector<uint32_t>& crcs) const;
    // The MD5s of the entry's blocks, in the order CrcsInPlace checked.
    std::vector<Md5Digest> BlockMd5sOf(SourceFileEntry& entry) const;
    // Whether the next data files expected may be checked at their places
    // together with `file`: targets that are still wholly missing (or that
    // will be, rebuilt files whose found blocks go before their turn).
    bool MayCheckAhead(const SetFile& file, SourceFileEntry& entry) const;
    // Checks `file` at its place together with the expected files after it,
    // keeping the results in checkedAhead_.
    void CheckAhead(const SetFileRef& file, SourceFileEntry& entry, bool& stopped);
    // A file that could not be read throughout (`error` the errno): it is
    // damaged, and the blocks of `entry` not located yet are looked for at
    // their places, each read alone, so that those that can be read still
    // count. Returns how many were located there.
    uint32_t TakeReadableBlocks(const SetFileRef& file, SourceFileEntry* entry, int error);
    // Reads the next piece of `file` from `at` (up to the buffer's size and
    // the file's end) into `buffer`: its length, or 0 at the end or after a
    // read error (kept as the file's readError).
    size_t ReadNext(SetFile& file, uint64_t at, std::vector<uint8_t>& buffer);
    void ScanSmallFile(const SetFileRef& file, SourceFileEntry*& entryOut, DataFileOutcome& outcome,
                       bool& stopped);

    RecoverySet& set_;
    std::vector<std::unique_ptr<PacketGroup>> groups_;
    // The groups by set id: a volume may hold packets of any number of sets.
    std::map<Md5Digest, PacketGroup*, DigestLess> groupsById_;
    PacketGroup* chosen_ = nullptr;
    uint64_t nextGroupSequence_ = 0;
    BlockLookup lookup_;
    std::vector<uint64_t> blockLengths_;  // distinct, ascending
    Crc32Window window_;
    uint32_t zeroCrc_ = 0;
    // The data files to be verified next (ExpectDataFiles) and what the
    // check at their places found, taken once each.
    struct CheckedAhead {
        SourceFileEntry* entry = nullptr;
        bool blocksMatch = false;
        bool byBlocks = false;  // checked by its block MD5s; `whole` not taken
        Md5Digest whole, head;
    };
    std::vector<SetFileRef> expectedFiles_;
    bool expectedRebuilt_ = false;  // ExpectRebuiltFiles
    std::map<const SetFile*, CheckedAhead> checkedAhead_;
    mutable Md5Digest zeroMd5_;
    mutable bool zeroMd5Known_ = false;
    // Packets already checked, for the copies the volumes repeat.
    VerifiedPackets verified_;
};

}  // namespace vantrove
