#include "app/set_session.h"

#include "app/application.h"
#include "app/set_format.h"
#include "app/settings.h"
#include "core/disk_file.h"
#include "core/machine.h"
#include "core/folder_walk.h"
#include "core/path.h"

namespace vantrove {
namespace {

// What a repair learns of the machine, in one place. The desktop measured
// the memory at start-up; elsewhere the system is asked (0 when it does not
// say: the rebuild then takes its own default).
uint64_t MachineMemoryBytes() {
    if (const Application* application = Application::Current())
        return application->physicalMemoryBytes;
    return PhysicalMemoryBytes();
}

uint32_t MachineThreads() {
    return ProcessorThreads();
}

}  // namespace

FolderLock::Outcome LockJobFolder(FolderLock& lock, const std::string& folder, bool wait,
                                  const StopFlag* stop) {
    const auto keepWaiting = [stop] { return stop == nullptr || stop->load() == 0; };
    const FolderLock::Outcome outcome = lock.Acquire(folder, wait, keepWaiting);
    // No other job of ours works here now: a work file is a leftover.
    if (outcome == FolderLock::Outcome::Locked) RemovePartFiles(folder);
    return outcome;
}

RepairOptions RepairOptionsForMachine() {
    RepairOptions options;
    options.physicalMemoryBytes = MachineMemoryBytes();
    options.threads = MachineThreads();
    return options;
}

RepairOptions RepairOptionsFrom(const Settings& settings) {
    RepairOptions options = RepairOptionsForMachine();
    options.deleteDamagedFiles = settings.deleteDamagedFiles;
    options.deleteRecoveryFiles = settings.deleteRecoveryFiles;
    options.useRecycleBin = settings.useRecycleBin;
    return options;
}

SetSession::SetSession(SetObserver* observer, const StopFlag* stop, VerificationCache* cache)
    : observer_(observer), stop_(stop), cache_(cache) {}

SetSession::~SetSession() = default;

FolderLock::Outcome SetSession::LockFolderOf(const std::string& path, bool wait) {
    const std::string folder = FolderOfPath(path);
    return LockFolder(folder.empty() ? "./" : folder, wait);
}

FolderLock::Outcome SetSession::LockFolder(const std::string& folder, bool wait) {
    if (locked_) return FolderLock::Outcome::Locked;
    const FolderLock::Outcome outcome = LockJobFolder(lock_, folder, wait, stop_);
    locked_ = outcome == FolderLock::Outcome::Locked;
    if (locked_) RemoveLeftoversInSubfolders();
    return outcome;
}

void SetSession::Unlock() {
    lock_.Release();
    locked_ = false;
}

void SetSession::Take(std::unique_ptr<RecoverySet> set) {
    if (set != nullptr && cache_ != nullptr) set->SetVerificationCache(cache_);
    set_ = std::move(set);
}

bool SetSession::Open(const std::string& path, ScanMode mode) {
    if (set_ == nullptr) {
        const FormatKind kind = ChooseSetFormat(path);
        if (kind == FormatKind::None) return false;
        Take(NewEmptySet(kind, observer_, stop_));
        if (set_ == nullptr) return false;
    }
    std::unique_ptr<RecoverySet> replacement = set_->Open(path);
    if (replacement == nullptr) {
        // The set took the file in itself (and scanned what it needed).
        if (locked_) RemoveLeftoversInSubfolders();
        return true;
    }
    if (observer_ != nullptr) observer_->ClearLists();
    set_.reset();
    Take(std::move(replacement));
    // Before the scan, so that it never reads a leftover.
    if (locked_) RemoveLeftoversInSubfolders();
    set_->ReportAll();
    if (mode == ScanMode::Cached) {
        set_->Scan();
    } else {
        set_->Reverify();
    }
    return true;
}

void SetSession::Scan() {
    if (set_ != nullptr) set_->Scan();
}

void SetSession::Reverify() {
    if (set_ != nullptr) set_->Reverify();
}

bool SetSession::Repair(const RepairOptions& options) {
    if (set_ == nullptr) return false;
    const bool lockedHere = !locked_;
    if (lockedHere) {
        switch (LockFolder(set_->folder(), false)) {
            case FolderLock::Outcome::Locked:
                break;
            case FolderLock::Outcome::Busy:
                set_->RecordError(ErrorKind::Busy, 0, set_->folder());
                return false;
            case FolderLock::Outcome::Failed:
                set_->RecordError(ErrorKind::Open, lock_.error(), set_->folder());
                return false;
        }
    }
    set_->SetRepairOptions(options);
    set_->Repair();
    if (lockedHere) Unlock();
    return true;
}

void SetSession::FinishActivity() {
    if (set_ == nullptr) return;
    // Under the lock the leftovers are gone already; without it they stay
    // visible until the next job in the folder removes them. While another
    // job holds the folder, its work files are in use, not left over.
    const bool unlocked = !locked_ && !set_->folder().empty();
    const bool otherJob = unlocked && FolderLock::JobWorksIn(set_->folder());
    set_->SetLeftoverFiles(unlocked && !otherJob
                               ? static_cast<int32_t>(ListPartFiles(set_->folder()).size())
                               : 0,
                           otherJob);
    set_->FinishActivity();
}

void SetSession::Save() {
    if (set_ != nullptr) set_->SaveIfLoaded();
}

void SetSession::Close() {
    Save();
    set_.reset();
}

void SetSession::RemoveLeftoversInSubfolders() {
    if (set_ == nullptr || set_->folder().empty()) return;
    // Only real folders below the set's are looked into.
    for (const std::string& sub : set_->SubfoldersNamed()) {
        if (PrepareFoldersOf(set_->folder(), sub + "/x", false)) {
            RemovePartFiles(set_->folder() + sub + "/");
        }
    }
}

}  // namespace vantrove
