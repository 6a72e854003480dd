#pragma once
// RecoverySet: one loaded verification set, whatever its format.
//
// A set knows the files it protects (its SourceFileEntry records), every file
// on disk that it has looked at (the known files, shared SetFile objects),
// the target file of each source file under its expected name, where every
// data block was found, how many recovery blocks it has, and from all that the
// state of the whole set. Its format (a SetFormat it owns) reads the set's
// volumes or checksum list, verifies data files and rebuilds missing data;
// everything format-independent lives here: opening (with the saved state),
// the scan of the folder, the entry states with their counters, the set-state
// rules, the reporting to the SetObserver, the steps of a repair and the base
// part of the saved state. Formats change the set only through its
// operations; the status record is written nowhere else.
//
// The verification worker (or the command line) creates, drives and destroys
// a set through a SetSession; only that thread touches it. The observer is
// called on that thread. The stop flag is the caller's, written by another
// thread and polled here.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/data_block.h"
#include "core/disk_file.h"
#include "engine/path_order.h"
#include "engine/recovery_set_status.h"
#include "engine/repair_options.h"
#include "engine/set_format.h"
#include "engine/set_observer.h"
#include "engine/source_file_entry.h"
#include "engine/state_stream.h"
#include "engine/stop_flag.h"
#include "rs/block_progress_sink.h"

namespace vantrove {

class VerificationCache;

// Map from path to file, ordered by PathLess.
using FileMap = std::map<std::string, SetFileRef, PathLess>;
using SourceFileEntryRef = std::shared_ptr<SourceFileEntry>;

class RecoverySet : public BlockProgressSink {
  public:
    // `observer` and `stopFlag` may be null (nothing reported; never stopped);
    // both must outlive the set. The set has no format until BindFormat.
    RecoverySet(FormatKind formatKind, SetObserver* observer, const StopFlag* stopFlag);
    ~RecoverySet() override;
    RecoverySet(const RecoverySet&) = delete;
    RecoverySet& operator=(const RecoverySet&) = delete;

    // Gives the set its format, made for this set (see MakeRecoverySet).
    void BindFormat(std::unique_ptr<SetFormat> format) { format_ = std::move(format); }
    SetFormat& format() const { return *format_; }
    // The format as its own class, or null when it is of another.
    template <class Format>
    Format* FormatAs() const {
        return dynamic_cast<Format*>(format_.get());
    }

    // ---- The road of a set.

    // Loads the first file of a set, or adds one file to it: a volume of an
    // open set is read as one, another file is verified as a data file.
    // Once the set's files are described, a saved state that matches them
    // is read into a fresh set of the same format and returned: the caller
    // drops this set for it, reports it and scans it. Otherwise this set
    // scans its folder itself, and null is returned.
    std::unique_ptr<RecoverySet> Open(const std::string& path);
    // Does what the set state allows: with recovery data, renames what only
    // needs a new name and, unless renaming was all that was needed,
    // prepares the targets, has the format rebuild them, verifies them again
    // and, on success, deletes what the repair options allow among the
    // format's clean-up candidates (a failed or cancelled rebuild leaves no
    // target behind, and the damaged files it moved aside take their names
    // again: RestoreSteppedAside); a target that cannot be written is
    // reported and the others are still rebuilt; a stop is recorded as
    // Cancelled, whatever step it ended. Without recovery data,
    // RepairByRenaming.
    void Repair();
    // Writes the verification state through the format. False when nothing
    // was written.
    bool SaveState(const std::string& setPath);
    // Stores `done` as the progress position and hands the status record to
    // the observer.
    void ReportProgress(uint64_t done);
    // Progress position `done` of `total` blocks, then NotifyStatus.
    void SetBlockProgress(uint32_t done, uint32_t total) override;
    // Points block i of the entry's target table at the entry's target file,
    // offset i × block size, length min(block size, size − offset).
    void MapBlocksToTarget(SourceFileEntry& entry);
    // Clears every location of the entry's target table.
    void ClearTargetBlocks(SourceFileEntry& entry);

    // ---- Loading.

    // Gives every entry without one its target file (a Target, under the set's
    // folder + its stored name, made unique as "%s(%d)%s") and enters it into
    // the expected names. A name that is no safe path below the folder gets
    // its lexically resolved path (where it may be read, if that lies
    // inside); such entries, and names of the set's own recovery files, are
    // marked as unusable names.
    void CreateTargets();
    // Called once the source entries are known (freshly loaded or read from a
    // saved state): creates missing targets, builds the name-sorted list,
    // enters the targets into the known files and expected names, allocates
    // the found-block array if the format left it empty and the target-block
    // array, hands each entry its slices, rebuilds the block counts of its
    // places, resets the counters (all unverified) and evaluates every entry.
    // False when the format's found-block array does not match the entries.
    bool FinishLoading();
    // Replaces the entries (set order).
    void SetEntries(std::vector<SourceFileEntryRef> entries) { entries_ = std::move(entries); }
    // Drops the entries and the found blocks (a described set that could
    // not be held).
    void ForgetEntries();

    // ---- State.

    // Recomputes an entry's state from its target file and complete copy.
    void UpdateEntryState(SourceFileEntry& entry);
    // Moves an entry to `state`, moving the counters when it changes.
    void SetEntryState(SourceFileEntry& entry, FileState state);
    // Recomputes set state and sub-state from the counters.
    void UpdateState();
    // UpdateState, then hands the status record to the observer.
    void NotifyStatus();
    // End of a batch of requests: idle, joinable files recounted, progress 1
    // of 1, NotifyStatus.
    void FinishActivity();
    // Clears every found block that lies in `file`; an entry that loses blocks
    // is marked dirty and, if it had a complete copy, loses it and takes its
    // state from its target file.
    void ForgetDataFile(SetFile& file);
    // Records block `index` of `entry` as found in `file` at `offset`, keeping
    // the data-block count, the places and the files' block counts right.
    void LocateBlock(SourceFileEntry& entry, uint32_t index, const SetFileRef& file,
                     uint64_t offset);
    // Clears the location of block `index` of `entry`.
    void ClearFoundBlock(SourceFileEntry& entry, uint32_t index);

    // The files of the set's folder whose names the format gives the set
    // name `setName` (compared without regard to case), in the order the
    // folder lists them; folders are left out.
    std::vector<std::string> VolumesNamed(const std::string& setName) const;
    // A volume or list file is about to be read: marks it a volume and
    // opens it. When that fails it is missing (reported, false); else the
    // status shows it being loaded, with its size as the progress total.
    bool BeginReadingVolume(const SetFileRef& file);

    // ---- Scanning the folder (scan.cpp).

    // Looks at the set's folder (and the subfolders its names reach into)
    // and verifies everything new or changed.
    void Scan();
    // The folders below the set's folder that safe names reach into, each
    // with all its parents ("a", "a/b"), sorted.
    std::vector<std::string> SubfoldersNamed() const;
    // Forgets every result and scans again.
    void Reverify();
    // Verifies one file that may be a copy of `entry` (any source file when
    // null); `checkOnly` asks for the whole-file check only.
    void ScanFile(SourceFileEntry* entry, const std::string& path, bool checkOnly);
    // Opens `file`, has the format verify it and records the result.
    void VerifyFile(SourceFileEntry* expected, const SetFileRef& file, bool checkOnly, bool again);
    // The source file whose expected name `path` is, after the copy-name
    // rules; null when none. `exact` tells whether the name matched as it is.
    SourceFileEntry* MatchName(const std::string& path, bool* exact = nullptr) const;

    // ---- Repair support.

    // Before a rebuild: for every entry that the repair will write
    // (RepairPossible: every entry that is not complete or misnamed;
    // PartlyJoinable: the joinable ones) opens its target for writing or creates it, sizes it and
    // maps its target blocks. Each entry is appended to `list` once its file exists, so
    // DiscardTargets can undo a failure. A target that cannot be created or
    // opened (a read-only folder, a name too long) records its error (the
    // first one only) and is left out, so the others are still rebuilt; false
    // when sizing a target fails (the disk is full) or no target is left.
    bool PrepareTargets(std::vector<SourceFileEntry*>& list);

    // ---- Renaming, joining and cleanup (renaming.cpp).

    // Puts the files on disk in order without arithmetic, in four passes
    // over the entries: damaged targets step aside to a free name, missing
    // targets that have an intact copy elsewhere are forgotten, intact copies
    // are renamed to their entry's name, and entries still without a target
    // get a fresh (missing) one. False when a rename failed (the first
    // Rename recorded; the other files are still processed, and a damaged
    // file that could not step aside is not rebuilt).
    bool RenameFiles();
    // After a rebuild: verifies again every file of `list` (the entries the
    // repair wrote). One that is not intact records VerifyFailed unless an
    // error is already recorded; one that is gets the repaired flag. Empties
    // the list; without any error recorded the set becomes repaired.
    void VerifyRebuiltFiles(std::vector<SourceFileEntry*>& list);
    // VerifyRebuiltFiles, and when that records an error, the targets of
    // `list` that did not verify are deleted again (a failed repair keeps
    // nothing half-made; the damaged originals were moved aside, never
    // written to). Empties the list; returns whether no error is recorded.
    bool VerifyRebuiltFilesOrDiscard(std::vector<SourceFileEntry*>& list);
    // After a successful repair (Repaired or AllVerified): deletes the
    // other data files and volumes among `files` as the repair options
    // allow, into the trash when they say so. Targets, and files that hold
    // an entry's intact copy, are never deleted. Deletion failures are
    // ignored.
    void CleanUp(const std::vector<SetFileRef>& files);
    // After a failed or cancelled rebuild: closes and deletes the target of
    // every entry of `list` (the targets the preparation created), and the
    // entries count as missing again. Empties the list.
    void DiscardTargets(std::vector<SourceFileEntry*>& list);
    // The repair of formats without recovery data: when PartlyJoinable or
    // RepairPossible,
    // RenameFiles and CreateEmptyFiles, and the set is repaired when that
    // recorded no error.
    void RepairByRenaming();
    // Makes every missing empty file that has no blocks (nothing to rebuild)
    // and verifies it. False when one could not be made (error recorded).
    bool CreateEmptyFiles();
    // After a failed or stopped repair: every file that RenameFiles moved
    // aside, whose entry is not whole now and whose own name is free again,
    // goes back under that name and is its entry's target once more, so that
    // the folder looks as it did before the repair.
    void RestoreSteppedAside();

    // What a successful repair deletes (the user's settings; the worker or
    // the command line hands them over before a repair).
    void SetRepairOptions(const RepairOptions& options) { repairOptions_ = options; }
    const RepairOptions& repairOptions() const { return repairOptions_; }
    // True when `path` lies below the set's folder under a safe relative
    // name and no folder on its way is a symbolic link: the only places
    // the engine renames, writes or deletes. Missing folders on the way
    // count as inside.
    bool IsInsideSetFolder(const std::string& path) const;
    // IsInsideSetFolder, and not one of the set's recovery files: the only
    // places a repair creates files or renames files to.
    bool IsWritablePlace(const std::string& path) const;
    // IsWritablePlace, then the missing folders on the way are created, one
    // component at a time. False (with `error`, an errno value) otherwise.
    bool MakeWritablePlace(const std::string& path, int& error);
    // True when the file of `entry` may be read where its target lies: inside
    // the set's folder, reached through real folders only.
    bool TargetReadable(const SourceFileEntry& entry) const;
    // Entries that a repair had to leave alone because of their names.
    const std::vector<SourceFileEntry*>& refusedTargets() const { return refusedTargets_; }

    // ---- Reporting.

    void ReportSourceFile(SourceFileEntry& entry);
    // Reports the entries marked dirty and clears their marks.
    void ReportChangedSourceFiles();
    // The same after one of many files of a pass: for a large set the
    // entries are looked through only once every sortedEntries_.size() / 64
    // calls, so that a pass over every file costs no more than linear time.
    // The pass ends with ReportChangedSourceFiles.
    void ReportChangedSourceFilesInPass();
    // Every volume file not kept out of the volume list, then every entry.
    void ReportAll();
    // Saves the state if something was loaded (the set has a base name).
    bool SaveIfLoaded();

    // ---- Status helpers for the formats and the scan.

    void SetActivity(Activity activity, const std::string& currentFile);
    void SetProgress(uint64_t position, uint64_t total);
    void SetProgressPosition(uint64_t position);
    // The first volume of a set is being read: the set is shown as
    // `setName` and needs more volumes until its files are described.
    void BeginLoading(const std::string& setName);
    // The set's files are described (by a volume or a saved state): it is
    // incomplete until verified, and shows the program that made it.
    void MarkDescribed();
    // Shows the program that made the set, as its files now tell.
    void UpdateCreatorText();
    void SetSetName(const std::string& name);
    void SetBlockSize(uint64_t blockSize);
    void SetRecoveryBlocksAvailable(int32_t count);
    // Work files of an interrupted job lying in the set's folder, and
    // whether another job is working there now (its work files are in use).
    void SetLeftoverFiles(int32_t count, bool otherJobWorking = false);
    // Puts the set into `state` outright (a repair resumes the state it
    // began in); UpdateState recomputes it from the counters.
    void SetSetState(RecoveryState state);
    // A repair that recorded no error leaves the set repaired; with
    // `onlyIfAllVerified`, only when every file is now complete.
    void MarkRepairedUnlessFailed(bool onlyIfAllVerified);
    void RecordError(ErrorKind kind, int systemError, const std::string& file);
    void ClearError();
    bool StopRequested() const override;

    // ---- Files.

    // Enters `file` into the known files under its path (replacing a record
    // with the same path).
    void AddKnownFile(const SetFileRef& file);
    SetFileRef FindKnownFile(const std::string& path) const;
    // The known file at `path`, or a new record for it entered as a volume.
    SetFileRef KnownOrNewVolume(const std::string& path);
    // Removes `file` from the known files (if that record is this object).
    void RemoveKnownFile(const SetFile& file);
    // After `file` was renamed from `oldPath`: files it under its new path
    // in the known files (and in the expected names, if it was there).
    void RekeyKnownFile(const SetFileRef& file, const std::string& oldPath);
    // The target recorded under `path`, or null.
    SetFileRef FindExpected(const std::string& path) const;
    // Enters `file`, just written by the set for itself (a block that lies
    // across two pieces of a split file, put together), as a known file. The
    // set deletes it again after a repair and when the set goes.
    void AddMadeFile(const SetFileRef& file);
    // Forgets the files AddMadeFile entered (their blocks are lost) and
    // deletes each that is still the file the set wrote.
    void RemoveMadeFiles();

    // ---- Accessors.

    const RecoverySetStatus& status() const { return status_; }
    FormatKind formatKind() const { return status_.formatKind; }
    const std::string& folder() const { return folder_; }
    const std::string& baseName() const { return baseName_; }
    void SetFolderAndBaseName(std::string folder, std::string baseName);
    const std::vector<SourceFileEntryRef>& entries() const { return entries_; }
    const std::vector<SourceFileEntry*>& sortedEntries() const { return sortedEntries_; }
    const std::vector<DataBlock>& foundBlocks() const { return foundBlocks_; }
    const std::vector<DataBlock>& targetBlocks() const { return targetBlocks_; }
    const FileMap& knownFiles() const { return knownFiles_; }
    const FileMap& expectedNames() const { return expectedNames_; }
    SetObserver* observer() const { return observer_; }
    const StopFlag* stopFlag() const { return stopFlag_; }

    // The cache the set keeps its state in (the process-wide one unless set).
    VerificationCache& cache() const;
    void SetVerificationCache(VerificationCache* cache) { cache_ = cache; }

    // ---- Saved state: the format-independent part.

    // Writes a whole state file through the cache: magic with `tag` ("VT1",
    // "VT2", "VT5", "VT6"), base part, `writeFormatPart`, digest.
    bool SaveStateFile(const std::string& key, const char* tag, uint64_t secondValue,
                       const std::function<void(StateWriter&)>& writeFormatPart);
    // Reads a state file written by SaveStateFile into this fresh set.
    // `readFormatPart` must give the set its entries in set order
    // (SetEntries). Then FinishLoading. False, leaving the set to be
    // discarded, on any mismatch.
    bool LoadStateFile(const std::string& key, const char* tag, uint64_t& secondValue,
                       StateReader::DescriptionReader readDescription,
                       const std::function<bool(StateReader&)>& readFormatPart);

  protected:
    // The found-block table itself, for sets filled by hand in tests.
    std::vector<DataBlock>& foundBlocksToFill() { return foundBlocks_; }

  private:
    // Once the files are described: the saved state if it matches (returned
    // for the caller to take), else a scan of the folder.
    std::unique_ptr<RecoverySet> CompleteOpen();
    // A fresh set of the same format holding the saved state, when that
    // state describes the same set; else null.
    std::unique_ptr<RecoverySet> TrySavedState();

    // Writes the base part: folder, base name, total data blocks, block size,
    // `secondValue`, the known files and one record per found block.
    void WriteBaseState(StateWriter& writer, uint64_t secondValue) const;
    // Reads what WriteBaseState wrote into this (fresh) set.
    bool ReadBaseState(StateReader& reader, uint64_t& secondValue);

    // Records the first refused target as the repair's error; false if none.
    bool RecordRefusedTargets();
    // True when `name` is one of the set's own recovery files.
    bool NamesOwnVolume(const std::string& name) const;

    std::unique_ptr<SetFormat> format_;
    std::string folder_;                           // ends in '/'
    std::string baseName_;                         // file name without folder
    std::vector<SourceFileEntryRef> entries_;      // set order
    std::vector<SourceFileEntry*> sortedEntries_;  // by name
    size_t reportsPassed_ = 0;  // calls of ReportChangedSourceFilesInPass since its last report
    bool inScanPass_ = false;   // ScanFile runs inside Scan: its report may wait
    std::vector<DataBlock> foundBlocks_;           // set-wide, in set order
    std::vector<DataBlock> targetBlocks_;          // set-wide, in set order
    FileMap knownFiles_;
    FileMap expectedNames_;
    // Written only through the operations above.
    RecoverySetStatus status_;
    SetObserver* observer_;
    const StopFlag* stopFlag_;
    VerificationCache* cache_ = nullptr;
    RepairOptions repairOptions_;
    // Entries whose names PrepareTargets or RenameFiles refused this repair;
    // VerifyRebuiltFilesOrDiscard reports them as a failure to create.
    std::vector<SourceFileEntry*> refusedTargets_;
    // Files RenameFiles moved aside this repair, with the names they had.
    struct SteppedAside {
        SetFileRef file;
        SourceFileEntry* entry;
        std::string path;
        bool misnamed;
    };
    std::vector<SteppedAside> steppedAside_;
    // Damaged targets RenameFiles could not move aside: not rebuilt.
    std::vector<SourceFileEntry*> unmovable_;
    // The files AddMadeFile entered, with the identity of what was written.
    struct MadeFile {
        SetFileRef file;
        uint64_t device = 0;
        uint64_t inode = 0;
    };
    std::vector<MadeFile> madeFiles_;
};

// A set of `kind` bound to a fresh `Format`; `Format` is constructed from
// the set it serves.
template <class Format>
std::unique_ptr<RecoverySet> MakeRecoverySet(FormatKind kind, SetObserver* observer,
                                             const StopFlag* stopFlag) {
    auto set = std::make_unique<RecoverySet>(kind, observer, stopFlag);
    set->BindFormat(std::make_unique<Format>(*set));
    return set;
}

// State-file magic: the three-letter tag, a zero byte and 00 00 0A 03.
void WriteStateMagic(StateWriter& writer, const char* tag);
bool ReadStateMagic(StateReader& reader, const char* tag);

// References to the shared objects of the base part, for the format parts.
void WriteDiskFileReference(StateWriter& writer, const DiskFile* file);
bool ReadDiskFileReference(StateReader& reader, SetFileRef& file);
// The same record read into a data block's file.
bool ReadDiskFileReference(StateReader& reader, DiskFileRef& file);
void WriteEntryReference(StateWriter& writer, const SourceFileEntry* entry);
bool ReadEntryReference(StateReader& reader, SourceFileEntryRef& entry);
// A format that refers to a description from its own part uses these, with
// the FileDescription pointer as the object's identity, so that it meets the
// same index as the entry's record. Reading calls the reader's description
// reader for `slot`; an object met again may have been read for another
// slot, so a format checks the type of what it gets.
void WriteDescriptionReference(StateWriter& writer, const FileDescription* description);
bool ReadDescriptionReference(StateReader& reader, DescriptionSlot slot,
                              FileDescriptionRef& description);

// The 32-bit flags word of a SetFile record.
uint32_t PackDiskFileFlags(const SetFile& file);
void UnpackDiskFileFlags(uint32_t bits, SetFile& file);

}  // namespace vantrove
