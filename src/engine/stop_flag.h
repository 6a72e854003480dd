#pragma once
// StopFlag: the one value that crosses threads outside a lock.
//
// The worker object owns it; the user-interface thread sets it to non-zero to
// ask every running loop to stop, and the loops of the set poll it at fixed
// points (after every file, after every block size of data, every 16 folder
// entries). The worker clears it between batches of requests.

#include <atomic>
#include <cstdint>

namespace vantrove {

using StopFlag = std::atomic<uint32_t>;

}  // namespace vantrove
