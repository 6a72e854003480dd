#include "app/packed_resource.h"

#include <zlib.h>

namespace vantrove {

bool UnpackResource(const unsigned char* data, size_t size, std::string& content) {
    if (data == nullptr || size < 4) return false;
    uLongf length = static_cast<uLongf>(data[0]) | (static_cast<uLongf>(data[1]) << 8) |
                    (static_cast<uLongf>(data[2]) << 16) | (static_cast<uLongf>(data[3]) << 24);
    if (length > kLargestPackedResource) return false;
    std::string buffer(length, '\0');
    uLongf unpacked = length;
    int rc = uncompress(reinterpret_cast<Bytef*>(buffer.data()), &unpacked, data + 4,
                        static_cast<uLong>(size - 4));
    if (rc != Z_OK || unpacked != length) return false;
    content = std::move(buffer);
    return true;
}

}  // namespace vantrove
