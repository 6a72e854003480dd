#include "engine/recovery_set_status.h"

#include <chrono>

namespace vantrove {

int32_t& RecoverySetStatus::CounterFor(FileState state) {
    switch (state) {
        case FileState::Damaged:
            return damagedFiles;
        case FileState::Misnamed:
            return misnamedFiles;
        case FileState::Missing:
            return missingFiles;
        case FileState::Complete:
            return completeFiles;
        case FileState::Unverified:
            break;
    }
    return unverifiedFiles;
}

int32_t RecoverySetStatus::CounterFor(FileState state) const {
    return const_cast<RecoverySetStatus*>(this)->CounterFor(state);
}

uint32_t TickCountMs() {
    auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

}  // namespace vantrove
