#pragma once
// SetFormat: what one file format brings to a recovery set.
//
// A RecoverySet holds everything about a set that does not depend on how its
// files are written: the entries, the known files, the counters, the status
// record and the observer, the scan of the folder and the steps of a repair.
// It owns one SetFormat, made for it and bound to it for life (see
// MakeRecoverySet). The format reads volumes and checksum lists into the set,
// verifies data files, rebuilds missing data and keeps its own part of the
// saved state; it changes the set only through the set's operations.

#include <memory>
#include <string>
#include <vector>

#include "engine/recovery_set_status.h"
#include "engine/set_file.h"

namespace vantrove {

class RecoverySet;
struct SourceFileEntry;

// What verifying one data file found.
enum class DataFileOutcome {
    NothingFound,  // nothing of the set
    BlocksFound,   // blocks of the set, not a whole intact file
    IntactCopy,    // an intact copy of the entry handed back
};

class SetFormat {
  public:
    virtual ~SetFormat() = default;

    // ---- Loading.

    // The set name `fileName` gives as a volume or checksum file of this
    // format; empty when it is not one.
    virtual std::string VolumeSetName(const std::string& fileName) const = 0;
    // Reads one volume or checksum file into the set.
    virtual bool LoadVolume(const SetFileRef& file, bool checkOnly) = 0;
    // Reads the other volumes named `setName` in the set's folder until the
    // set's files are described. A checksum list is a single file: nothing.
    virtual void LoadFolderVolumes(const std::string& setName) {}
    // True when a file of this format given to an open set is read as one
    // more volume; false when it is looked at as a data file.
    virtual bool TakesMoreVolumes() const = 0;
    // True once the set's files are described, so that they can be looked
    // for (and a saved state tried).
    virtual bool Described() const = 0;
    // Drops everything taken from a volume file.
    virtual void ForgetVolume(SetFile& file) {}
    // The program that made the set, as far as its files tell.
    virtual std::string CreatorText() const = 0;

    // ---- Verifying.

    // While blocks are missing, check other files of the folder as copies.
    virtual bool SearchesOtherFiles() const = 0;
    // While blocks are missing, load volumes that name another set.
    virtual bool TriesForeignVolumes() const = 0;
    // Verifies one data file into `outcome`; `entryOut` holds the expected
    // entry (or null) on entry and the entry of an intact copy on return.
    virtual void VerifyDataFile(const SetFileRef& file, SourceFileEntry*& entryOut,
                                DataFileOutcome& outcome, bool checkOnly) = 0;
    // The data files that VerifyDataFile is about to be asked about, in that
    // order, so that a format may read several of them at once; an empty
    // list when that run of calls is over (whatever was read ahead goes).
    virtual void ExpectDataFiles(const std::vector<SetFileRef>& files) {}
    // The same for files that a repair has just written: each one's entry
    // forgets where its blocks were found (and the file as its intact copy)
    // before its turn, so what the entries hold now says nothing about
    // whether a file will be checked.
    virtual void ExpectRebuiltFiles(const std::vector<SetFileRef>& files) {
        ExpectDataFiles(files);
    }
    // After a scan: recovers single blocks that straddle two found pieces.
    virtual void SearchGaps() {}

    // ---- Repair.

    // True when the format holds recovery data; a set without it is
    // repaired by renaming alone.
    virtual bool HasRecoveryData() const = 0;
    // The files that a successful repair may delete, gathered before
    // anything is renamed, by the state the repair began in. The clean-up
    // itself keeps targets and intact copies.
    virtual std::vector<SetFileRef> CleanUpCandidates(RecoveryState state,
                                                      SubState subState) const {
        return {};
    }
    // Writes the missing data into the prepared `targets` (opened and sized,
    // their target blocks mapped). False on a failure (recorded); `cancelled`
    // when the stop flag ended it.
    virtual bool RebuildTargets(RecoveryState state, const std::vector<SourceFileEntry*>& targets,
                                bool& cancelled) {
        return true;
    }

    // ---- Saved state.

    // Writes the verification state to the set's state file. `setPath` is
    // the set's folder followed by its base name; the format adds its
    // extension to form the cache key. False when nothing was written.
    virtual bool SaveState(const std::string& setPath) = 0;
    // Reads the saved state of `setPath` into its (fresh) set. False when
    // there is none or it cannot be used.
    virtual bool LoadState(const std::string& setPath) = 0;
    // True when `other` (a format of the same kind) describes the same set
    // with the same files as this one.
    virtual bool SameSetAs(const SetFormat& other) const = 0;
    // A fresh format of the same kind, bound to the empty `set`.
    virtual std::unique_ptr<SetFormat> NewFormatFor(RecoverySet& set) const = 0;
};

// Tells `format` which data files come next and, going out of scope, that
// the run of them is over (whatever was read ahead goes, however it ends).
class ExpectedDataFiles {
  public:
    ExpectedDataFiles(SetFormat& format, const std::vector<SetFileRef>& files, bool rebuilt)
        : format_(format) {
        if (rebuilt) {
            format_.ExpectRebuiltFiles(files);
        } else {
            format_.ExpectDataFiles(files);
        }
    }
    ~ExpectedDataFiles() { format_.ExpectDataFiles({}); }
    ExpectedDataFiles(const ExpectedDataFiles&) = delete;
    ExpectedDataFiles& operator=(const ExpectedDataFiles&) = delete;

  private:
    SetFormat& format_;
};

}  // namespace vantrove
