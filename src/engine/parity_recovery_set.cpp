#include "engine/parity_recovery_set.h"

namespace vantrove {

void ParityRecoverySet::SetBlockProgress(uint32_t done, uint32_t total) {
    SetProgress(done, total);
    NotifyStatus();
}

}  // namespace vantrove
