#include "create/creation_status.h"

#include <chrono>

#include "core/string_ids.h"
#include "core/string_table.h"

namespace vantrove {

uint64_t CreationTickCount() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

void CreationStatusSlot::Set(CreationStatus status) {
    status.tick = CreationTickCount();
    std::lock_guard<std::mutex> lock(mutex_);
    status_ = std::move(status);
}

void CreationStatusSlot::SetProgress(uint64_t done, uint64_t total) {
    uint64_t tick = CreationTickCount();
    std::lock_guard<std::mutex> lock(mutex_);
    status_.done = done;
    status_.total = total;
    status_.tick = tick;
}

CreationStatus CreationStatusSlot::Snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return status_;
}

std::string CreationFailureMessage(CreationFailure failure) {
    if (failure == kFailBusy) return GetString(kStrCreationFailedBusy);
    // The messages of the other failures follow each other in the string
    // table.
    if (failure < kFailNoSourceFiles || failure > kFailDataVerify)
        return GetString(kStrCreationFailed);
    return GetString(kStrCreationFailedNoSourceFiles + (failure - kFailNoSourceFiles));
}

}  // namespace vantrove
