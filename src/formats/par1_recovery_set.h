#pragma once
// Par1RecoverySet: a set in the PAR 1.0 format.
//
// The main file "x.par" and the recovery volumes "x.p01", "x.p02", ... all
// carry the list of protected files (size, MD5 of the whole file and of its
// first 16 KiB, name); each volume adds one recovery block over all
// protected files, computed in GF(2^8). Every protected file is one block of
// the set's block size (the largest protected file). The set loads the list
// from the first usable file, registers one recovery block per volume
// number, verifies data files by size and hashes, and rebuilds missing files
// from the present files and the lowest-numbered volumes. Its saved state
// has the extension ".vt1".
//
// Used by the verification worker only, like every RecoverySet.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/md5.h"
#include "engine/file_description.h"
#include "engine/parity_recovery_set.h"

namespace vantrove {

// One protected file of a PAR 1.0 list.
struct Par1EntryDescription : FileDescription {
    Md5Digest hash;
    Md5Digest hash16k;
    uint64_t size = 0;
    std::string name;
    void WriteState(StateWriter& writer) const override;
};

class Par1RecoverySet : public ParityRecoverySet {
  public:
    Par1RecoverySet(SetObserver* observer, const StopFlag* stopFlag);

    bool SaveState(const std::string& setPath) override;
    std::unique_ptr<RecoverySet> Open(const std::string& path) override;
    bool SearchesOtherFiles() const override { return true; }
    bool TriesForeignVolumes() const override { return true; }
    std::string VolumeSetName(const std::string& fileName) const override;
    // Reads one PAR 1.0 file. With `deferHashCheck` its control hash is
    // checked only when it brings a recovery block.
    bool LoadVolume(const SetFileRef& file, bool deferHashCheck) override;
    void VerifyDataFile(const SetFileRef& file, SourceFileEntry*& entryOut, DataFileOutcome& outcome,
                        bool checkOnly) override;
    std::string CreatorText() const override;
    void ForgetVolume(SetFile& file) override;

    // The whole-file check used when a file is verified again: size, 16 KiB
    // hash (unless untrusted) and MD5 against `entry`.
    bool CheckWholeFile(SetFile& file, const SourceFileEntry& entry, bool& stopped);

    uint32_t generator() const { return generator_; }
    bool hash16kUntrusted() const { return hash16kUntrusted_; }
    bool hasFileList() const { return hasFileList_; }
    // Exponent (volume number − 1) → the recovery block of that volume.
    const std::map<uint32_t, DataBlock>& recoveryVolumes() const { return volumes_; }
    static const Par1EntryDescription* DescriptionOf(const SourceFileEntry& entry);

  private:
    void LoadFolderVolumes(const std::string& setName);
    std::unique_ptr<RecoverySet> ListObtained();
    std::unique_ptr<RecoverySet> TrySavedState();
    bool LoadState(const std::string& key);
    bool SameSetAs(const Par1RecoverySet& other) const;
    // Whether the MD5 of the file from offset 32 to its end equals
    // `expected`; Interrupted by a read failure or a stop.
    enum class ControlHash { Matches, Differs, Interrupted };
    ControlHash CheckControlHash(SetFile& file, const Md5Digest& expected);
    bool TargetOutsideFolder(const SetFile& file) const;
    // Repair: the damaged targets and the volumes, and the rebuild of the
    // missing files into their prepared targets.
    std::vector<SetFileRef> CleanUpCandidates(RecoveryState state,
                                               SubState subState) const override;
    bool RebuildTargets(RecoveryState state, const std::vector<SourceFileEntry*>& targets,
                        bool& cancelled) override;
    uint64_t PhysicalMemory() const;

    uint32_t generator_ = 0;
    bool hash16kUntrusted_ = false;
    bool hasFileList_ = false;
    std::vector<uint8_t> protectedEntries_;
    std::map<uint32_t, DataBlock> volumes_;
};

}  // namespace vantrove
