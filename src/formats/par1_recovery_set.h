#pragma once
// Par1RecoverySet: the PAR 1.0 format of a recovery set.
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
// Owned by its RecoverySet (NewPar1Set), used on the set's thread only.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/md5.h"
#include "engine/file_description.h"
#include "engine/recovery_set.h"
#include "engine/set_format.h"

namespace vantrove {

// One protected file of a PAR 1.0 list.
struct Par1EntryDescription : FileDescription {
    Md5Digest hash;
    Md5Digest hash16k;
    uint64_t size = 0;
    std::string name;
    void WriteState(StateWriter& writer) const override;
};

// A recovery set of PAR 1.0 files, not yet loaded.
std::unique_ptr<RecoverySet> NewPar1Set(SetObserver* observer, const StopFlag* stopFlag);

class Par1RecoverySet final : public SetFormat {
  public:
    explicit Par1RecoverySet(RecoverySet& set);

    // SetFormat
    std::string VolumeSetName(const std::string& fileName) const override;
    // Reads one PAR 1.0 file. With `deferHashCheck` its control hash is
    // checked only when it brings a recovery block.
    bool LoadVolume(const SetFileRef& file, bool deferHashCheck) override;
    // The other "<set name>.p??" files of the folder, until one gives the
    // file list.
    void LoadFolderVolumes(const std::string& setName) override;
    bool TakesMoreVolumes() const override { return true; }
    bool Described() const override { return hasFileList_; }
    void ForgetVolume(SetFile& file) override;
    std::string CreatorText() const override;
    bool SearchesOtherFiles() const override { return true; }
    bool TriesForeignVolumes() const override { return true; }
    void VerifyDataFile(const SetFileRef& file, SourceFileEntry*& entryOut,
                        DataFileOutcome& outcome, bool checkOnly) override;
    bool HasRecoveryData() const override { return true; }
    // Repair: the damaged targets and the volumes, and the rebuild of the
    // missing files into their prepared targets.
    std::vector<SetFileRef> CleanUpCandidates(RecoveryState state,
                                              SubState subState) const override;
    bool RebuildTargets(RecoveryState state, const std::vector<SourceFileEntry*>& targets,
                        bool& cancelled) override;
    bool SaveState(const std::string& setPath) override;
    bool LoadState(const std::string& setPath) override;
    bool SameSetAs(const SetFormat& other) const override;
    std::unique_ptr<SetFormat> NewFormatFor(RecoverySet& set) const override;

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
    // Whether the MD5 of the file from offset 32 to its end equals
    // `expected`; Interrupted by a read failure or a stop.
    enum class ControlHash { Matches, Differs, Interrupted };
    ControlHash CheckControlHash(SetFile& file, const Md5Digest& expected);
    bool TargetOutsideFolder(const SetFile& file) const;
    uint64_t PhysicalMemory() const;

    RecoverySet& set_;
    uint32_t generator_ = 0;
    bool hash16kUntrusted_ = false;
    bool hasFileList_ = false;
    std::vector<uint8_t> protectedEntries_;
    std::map<uint32_t, DataBlock> volumes_;
};

}  // namespace vantrove
