#include "core/data_block.h"

#include <cstring>

namespace vantrove {

bool DataBlock::readPadded(uint64_t offsetInBlock, void* buffer, size_t count) const {
    if (!file || !file->isOpen()) {
        errno = EBADF;
        return false;
    }
    uint8_t* out = static_cast<uint8_t*>(buffer);
    if (offsetInBlock < length && offsetInBlock > UINT64_MAX - offset) {
        errno = kErrorHandleEof;
        return false;
    }
    size_t fromFile = 0;
    if (offsetInBlock < length) {
        uint64_t available = length - offsetInBlock;
        fromFile = available < count ? static_cast<size_t>(available) : count;
    }
    if (fromFile > 0 && !file->read(offset + offsetInBlock, out, fromFile)) return false;
    std::memset(out + fromFile, 0, count - fromFile);
    return true;
}

}  // namespace vantrove
