#pragma once
// Files the program carries inside itself (the file-manager menu, the icon
// of the file types) are packed at build time as a 32-bit little-endian
// length followed by the file compressed as one zlib stream. This unpacks
// them. Any thread.

#include <cstddef>
#include <string>

namespace vantrove {

// The largest file a resource may unpack to; a resource claiming more is
// damaged.
constexpr size_t kLargestPackedResource = 1 << 20;

// Unpacks a resource; false, with `content` untouched, for a short or damaged
// one or one whose stream does not give exactly the stated length.
bool UnpackResource(const unsigned char* data, size_t size, std::string& content);

}  // namespace vantrove
