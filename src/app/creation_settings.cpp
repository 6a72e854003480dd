#include "app/creation_settings.h"

#include <algorithm>

namespace vantrove {

CreationSettings CreationSettingsFrom(const Settings& settings) {
    CreationSettings s;
    s.preferredBlockSize = settings.preferredBlockSize;
    s.restrictBlockSize = settings.restrictBlockSize;
    s.recoveryBlockFraction = settings.recoveryBlockFraction;
    s.recoveryFileSizeScheme = settings.recoveryFileSizeScheme;
    s.splitSourceFiles = settings.splitSourceFiles;
    s.splitSourceLimit = static_cast<uint64_t>(std::max<int64_t>(settings.splitSourceLimit, 4));
    return s;
}

}  // namespace vantrove
