#pragma once
// Par2RecoverySet: a PAR 2.0 set opened from any of its volume files.
//
// Open reads the chosen volume packet by packet (each checked by its MD5),
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
// "<folder><base name>.vt2" and read back by Open; a state that matches the
// freshly loaded set in every respect replaces it, so that unchanged files
// are not hashed again.
//
// Created, driven and destroyed by the verification worker, like every set.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/crc32_window.h"
#include "engine/block_lookup.h"
#include "engine/parity_recovery_set.h"
#include "par2/packet_group.h"

namespace vantrove {

class Par2RecoverySet : public ParityRecoverySet {
  public:
    Par2RecoverySet(SetObserver* observer, const StopFlag* stopFlag);
    ~Par2RecoverySet() override;

    // RecoverySet
    bool SaveState(const std::string& setPath) override;
    std::unique_ptr<RecoverySet> Open(const std::string& path) override;
    bool SearchesOtherFiles() const override { return true; }
    bool TriesForeignVolumes() const override { return false; }
    std::string VolumeSetName(const std::string& fileName) const override;
    bool LoadVolume(const SetFileRef& file, bool checkOnly) override;
    void VerifyDataFile(const SetFileRef& file, SourceFileEntry*& entryOut, DataFileOutcome& outcome,
                        bool checkOnly) override;
    std::string CreatorText() const override;
    void ForgetVolume(SetFile& file) override;
    // Writes single blocks that straddle two found pieces of a file to files
    // of their own (par2_repair.cpp).
    void SearchGaps() override;

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
    // Reads the saved state of `key` into this fresh set. False when there
    // is none or it cannot be used.
    bool LoadState(const std::string& key);
    // True when `other` describes the same set as this one: folder, base
    // name, blocks, slice size, data size and every file with its hashes,
    // name and block checksums.
    bool SameSetAs(const Par2RecoverySet& other) const;

  private:
    // The packet reader for one volume file.
    bool ReadPackets(const SetFileRef& file, bool& cancelled);
    // Files one checked packet at `offset`; false when it is not usable.
    void FilePacket(const SetFileRef& file, uint64_t offset, const uint8_t* header,
                    PacketGroup& group, bool& conflicting);
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
    // Tries the saved state once the set is complete.
    std::unique_ptr<RecoverySet> TrySavedState();
    // Once complete: the saved state if it matches, else a scan of the folder.
    std::unique_ptr<RecoverySet> CompleteOpen();

    // Repair (par2_repair.cpp): the files that a successful repair may
    // delete, by the state the repair began in; and the copy and
    // Reed-Solomon step.
    std::vector<SetFileRef> CleanUpCandidates(RecoveryState state,
                                               SubState subState) const override;
    bool RebuildTargets(RecoveryState state, const std::vector<SourceFileEntry*>& targets,
                        bool& cancelled) override;

    // Whole-file check and sliding block scan (par2_verify.cpp).
    void CheckWholeFile(SetFile& file, SourceFileEntry*& entryOut, DataFileOutcome& outcome);
    void ScanBlocks(const SetFileRef& file, SourceFileEntry*& entryOut, DataFileOutcome& outcome,
                    bool& stopped);
    bool IntactAtItsPlace(const SetFileRef& file, SourceFileEntry& entry, bool& stopped);
    void ScanSmallFile(const SetFileRef& file, SourceFileEntry*& entryOut, DataFileOutcome& outcome,
                       bool& stopped);

    std::vector<std::unique_ptr<PacketGroup>> groups_;
    PacketGroup* chosen_ = nullptr;
    uint64_t nextGroupSequence_ = 0;
    BlockLookup lookup_;
    Crc32Window window_;
    uint32_t zeroCrc_ = 0;
    mutable Md5Digest zeroMd5_;
    mutable bool zeroMd5Known_ = false;
};

}  // namespace vantrove
