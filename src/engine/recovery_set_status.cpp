#include "engine/recovery_set_status.h"

#include <chrono>
#include <iterator>

namespace vantrove {

int32_t& RecoverySetStatus::CounterFor(FileState state) {
    // In the order of FileState.
    int32_t* const counters[] = {&unverifiedFiles, &missingFiles, &completeFiles, &misnamedFiles,
                                 &damagedFiles};
    const auto index = static_cast<size_t>(state);
    return index < std::size(counters) ? *counters[index] : unverifiedFiles;
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
