#include "core/file_time.h"

#include <time.h>

namespace vantrove {

FileTime CurrentFileTime() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return FileTimeFromUnix(now.tv_sec, static_cast<uint32_t>(now.tv_nsec));
}

}  // namespace vantrove
