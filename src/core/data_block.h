#pragma once
// DataBlock: a slice of a DiskFile (offset and length), read with zero
// padding. Source blocks and the data part of recovery slices are described
// this way.

#include <cstddef>
#include <cstdint>

#include "core/disk_file.h"

namespace vantrove {

struct DataBlock {
    DiskFileRef file;
    uint64_t offset = 0;
    uint64_t length = 0;

    // Reads `count` bytes starting `offsetInBlock` into the slice; whatever
    // lies at or beyond the slice's end is returned as zeros. Fails when
    // there is no file or it is not open.
    bool readPadded(uint64_t offsetInBlock, void* buffer, size_t count) const;
};

}  // namespace vantrove
