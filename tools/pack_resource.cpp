// Build step: packs a file as the program carries it, a 32-bit little-endian
// length followed by the file compressed as one zlib stream, and writes the
// bytes as a C array initialiser for inclusion in a source file.
//
//   pack_resource <input> <output.inc>

#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <input> <output.inc>\n", argv[0]);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    std::vector<unsigned char> data((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    uLongf packedSize = compressBound(static_cast<uLong>(data.size()));
    std::vector<unsigned char> packed(packedSize);
    if (compress2(packed.data(), &packedSize, data.data(), static_cast<uLong>(data.size()),
                  Z_BEST_COMPRESSION) != Z_OK) {
        std::fprintf(stderr, "cannot compress %s\n", argv[1]);
        return 1;
    }
    packed.resize(packedSize);
    uint32_t length = static_cast<uint32_t>(data.size());
    std::vector<unsigned char> resource = {
        static_cast<unsigned char>(length), static_cast<unsigned char>(length >> 8),
        static_cast<unsigned char>(length >> 16), static_cast<unsigned char>(length >> 24)};
    resource.insert(resource.end(), packed.begin(), packed.end());

    std::FILE* out = std::fopen(argv[2], "w");
    if (out == nullptr) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    for (size_t i = 0; i < resource.size(); ++i) {
        std::fprintf(out, "0x%02x,%s", resource[i], (i % 16 == 15) ? "\n" : "");
    }
    std::fprintf(out, "\n");
    return std::fclose(out) == 0 ? 0 : 1;
}
