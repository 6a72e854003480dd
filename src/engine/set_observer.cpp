#include "engine/set_observer.h"

namespace vantrove {

VolumeDisplayCode VolumeDisplayCodeOf(const SetFile& file) {
    if (file.result == VerifyResult::NotVerified || file.result == VerifyResult::Missing) {
        return VolumeDisplayCode::NotRead;
    }
    if (file.flags.unused) return VolumeDisplayCode::Unused;
    if (file.flags.damaged) return VolumeDisplayCode::Damaged;
    return VolumeDisplayCode::Used;
}

}  // namespace vantrove
