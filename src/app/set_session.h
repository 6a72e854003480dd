#pragma once
// SetSession: the one road a set travels, whoever drives it (the
// verification worker, the command line, the tests).
//
//   Open     the first file of a set chooses the format and loads it; a set
//            that comes back as a replacement (its saved state was taken,
//            or the volume named another set) takes the place of the empty
//            one, reports every file and scans the folder, or verifies
//            everything again when the saved results are not to be trusted.
//            A later Open adds one more file to the current set.
//   Scan / Reverify
//   Repair   under the folder's lock: when the session does not hold it yet,
//            the repair takes it without waiting; when another job holds
//            it, the repair does not start and the set records
//            ErrorKind::Busy. Holding the lock, the session deletes the
//            work files that an interrupted job left in the set's folder and
//            in the subfolders the set names.
//   Save / Close
//
// A caller that must keep other jobs out for longer (the command line locks
// before it opens, so that the scan never reads a folder being repaired)
// takes the lock first with LockFolderOf.
//
// The session owns its set; it is used from one thread at a time, and the
// observer and stop flag outlive it.

#include <memory>
#include <string>

#include "core/folder_lock.h"
#include "engine/recovery_set.h"
#include "engine/repair_options.h"
#include "engine/set_observer.h"
#include "engine/stop_flag.h"

namespace vantrove {

class Settings;
class VerificationCache;

// How a set opened with a saved state checks the files.
enum class ScanMode {
    // Unchanged files (same size and times) keep their saved results.
    Cached,
    // Every file is read again: silent damage keeps a file's size and times.
    ReadEverything,
};

// Takes `lock` on `folder` (with its '/') for a job that changes files there
// and, once it holds it, deletes the work files that an interrupted job left
// in the folder. With `wait`, waits for another job to let go while `stop`
// (may be null) stays clear.
FolderLock::Outcome LockJobFolder(FolderLock& lock, const std::string& folder, bool wait,
                                  const StopFlag* stop);

// The options of a repair: the clean-up choices of `settings` and the
// machine's memory and cores. Callers adjust the result for their own switches.
RepairOptions RepairOptionsFrom(const Settings& settings);
// The default clean-up choices with the machine's figures, for a caller that
// decides the clean-up itself.
RepairOptions RepairOptionsForMachine();

class SetSession {
  public:
    // `cache` null: the process-wide verification cache.
    SetSession(SetObserver* observer, const StopFlag* stop, VerificationCache* cache = nullptr);
    ~SetSession();
    SetSession(const SetSession&) = delete;
    SetSession& operator=(const SetSession&) = delete;

    // Takes the folder lock on the folder of `path` (see LockJobFolder) and
    // keeps it until the session ends or Unlock.
    FolderLock::Outcome LockFolderOf(const std::string& path, bool wait);
    bool locked() const { return locked_; }
    int lockError() const { return lock_.error(); }
    void Unlock();

    // Opens `path` (see above). False when no set is open and no format
    // knows the name; nothing changes then.
    bool Open(const std::string& path, ScanMode mode = ScanMode::Cached);
    void Scan();
    void Reverify();
    // Repairs the open set with `options` (see above). False when there is
    // no set, or when the folder is busy or cannot be locked (the set then
    // records the error).
    bool Repair(const RepairOptions& options);
    // End of a batch: counts the work files of interrupted jobs in the set's
    // folder into the status (or, while another job holds the folder, says
    // so instead) and hands the status to the observer.
    void FinishActivity();
    // Saves the set's state when a set is loaded.
    void Save();
    // Saves and destroys the set.
    void Close();

    RecoverySet* set() { return set_.get(); }
    const RecoverySet* set() const { return set_.get(); }
    // Takes `set`, an empty set the caller made (of a format chosen by other
    // means than the name), as the current set; the current one is dropped.
    void Adopt(std::unique_ptr<RecoverySet> set) { Take(std::move(set)); }
    // Hands the set over to the caller; the session is empty afterwards.
    std::unique_ptr<RecoverySet> ReleaseSet() { return std::move(set_); }

  private:
    FolderLock::Outcome LockFolder(const std::string& folder, bool wait);
    void Take(std::unique_ptr<RecoverySet> set);
    void RemoveLeftoversInSubfolders();

    SetObserver* observer_;
    const StopFlag* stop_;
    VerificationCache* cache_;
    std::unique_ptr<RecoverySet> set_;
    FolderLock lock_;
    bool locked_ = false;
};

}  // namespace vantrove
