#pragma once

#include <functional>
#include <string>

namespace vantrove {

// An exclusive lock that a job takes on the folder whose files it changes
// (a repair on its set's folder, a creation on the folder of its outputs),
// so that two such jobs never work in one folder at once. The lock is an
// advisory flock on the folder itself: it creates no file and goes away
// with the process, however the process ends.
//
// Whoever only looks (a verification) asks JobWorksIn, which holds a shared
// lock for an instant. A job that finds the lock taken tells such a look
// from another job (which holds it exclusively) and tries again while only
// looks are in the way, so that a look never makes a job report Busy.
class FolderLock {
  public:
    enum class Outcome {
        Locked,  // held until the object goes
        Busy,    // another job holds it (only without waiting)
        Failed,  // the folder cannot be opened; error() tells why
    };

    FolderLock() = default;
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // Takes the lock on `folder`. With `wait`, blocks until the other job
    // lets go (`keepWaiting` is asked again after each interrupting signal
    // and ends the wait with Busy when it says no). A file system without
    // locks counts as Locked.
    Outcome Acquire(const std::string& folder, bool wait,
                    const std::function<bool()>& keepWaiting = {});
    void Release();
    int error() const { return error_; }

    // Whether a job (of this process or another) holds the lock on
    // `folder` now. Never disturbs the job; false where the folder cannot
    // be opened or the file system has no locks.
    static bool JobWorksIn(const std::string& folder);

  private:
    int fd_ = -1;
    int error_ = 0;
};

}  // namespace vantrove
