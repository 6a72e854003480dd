#include "par1_builder.h"

#include <algorithm>
#include <cstring>

#include "core/md5.h"

namespace vantrove::test {

uint8_t SlowGf8Multiply(uint8_t a, uint8_t b) {
    uint32_t result = 0, x = a;
    for (int bit = 0; bit < 8; ++bit) {
        if (b & (1u << bit)) result ^= x;
        x <<= 1;
        if (x & 0x100) x ^= 0x11D;
    }
    return static_cast<uint8_t>(result);
}

namespace {

uint8_t SlowPower(uint8_t base, uint32_t exponent) {
    uint8_t result = 1;
    for (uint32_t i = 0; i < exponent; ++i) result = SlowGf8Multiply(result, base);
    return result;
}

void PutLe32(Bytes& file, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) file[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

void PutDigest(Bytes& file, size_t offset, const Md5Digest& digest) {
    std::memcpy(file.data() + offset, digest.bytes.data(), 16);
}

}  // namespace

void PutLe64(Bytes& file, size_t offset, uint64_t value) {
    for (int i = 0; i < 8; ++i) file[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint64_t GetLe64(const Bytes& file, size_t offset) {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = value << 8 | file[offset + i];
    return value;
}

Bytes Par1RecoveryBlock(const Par1Build& build, uint32_t exponent) {
    size_t blockSize = 0;
    for (const Par1BuildFile& f : build.files) {
        if (f.status & 1) blockSize = std::max(blockSize, f.data.size());
    }
    Bytes block(blockSize, 0);
    uint32_t index = 0;
    for (const Par1BuildFile& f : build.files) {
        if (!(f.status & 1)) continue;
        const uint8_t factor = SlowPower(static_cast<uint8_t>(index + 1), exponent);
        for (size_t i = 0; i < f.data.size(); ++i) block[i] ^= SlowGf8Multiply(factor, f.data[i]);
        ++index;
    }
    return block;
}

Bytes MakePar1File(const Par1Build& build, uint64_t volumeNumber) {
    Bytes list;
    for (const Par1BuildFile& f : build.files) {
        Bytes entry(56 + 2 * f.name.size(), 0);
        PutLe64(entry, 0, entry.size());
        PutLe64(entry, 8, f.status);
        PutLe64(entry, 16, f.data.size());
        PutDigest(entry, 24, Md5Of(f.data.data(), f.data.size()));
        PutDigest(entry, 40, Md5Of(f.data.data(), std::min<size_t>(f.data.size(), 16384)));
        for (size_t i = 0; i < f.name.size(); ++i)
            entry[56 + 2 * i] = static_cast<uint8_t>(f.name[i]);
        list.insert(list.end(), entry.begin(), entry.end());
    }
    Bytes data;
    if (volumeNumber > 0) data = Par1RecoveryBlock(build, static_cast<uint32_t>(volumeNumber - 1));

    Bytes file(96 + list.size() + data.size(), 0);
    const uint8_t magic[8] = {'P', 'A', 'R', 0, 0, 0, 0, 0};
    std::memcpy(file.data(), magic, 8);
    PutLe32(file, 8, 0x00010000);
    PutLe32(file, 12, build.generator);
    PutLe64(file, 48, volumeNumber);
    PutLe64(file, 56, build.files.size());
    PutLe64(file, 64, 96);
    PutLe64(file, 72, list.size());
    PutLe64(file, 80, data.empty() ? 0 : 96 + list.size());
    PutLe64(file, 88, data.size());
    std::copy(list.begin(), list.end(), file.begin() + 96);
    std::copy(data.begin(), data.end(), file.begin() + 96 + static_cast<long>(list.size()));
    FixPar1ControlHash(file);
    return file;
}

void FixPar1ControlHash(Bytes& file) {
    PutDigest(file, 16, Md5Of(file.data() + 32, file.size() - 32));
}

}  // namespace vantrove::test
