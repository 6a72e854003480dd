#include "create/volume_layout.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "core/string_ids.h"
#include "core/string_table.h"
#include "create/creation_parameters.h"
#include "par2/recovery_slice_packet.h"

namespace vantrove {

std::string VolumeFileName(const std::string& path, const std::string& base, uint32_t first,
                           uint32_t count, int exponentDigits, int countDigits) {
    std::string extension = GetString(kStrPar2Extension);
    for (char& ch : extension) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    char format[64];
    std::snprintf(format, sizeof format, "%%s%%s.vol%%0%dd+%%0%dd.%s", exponentDigits, countDigits,
                  extension.c_str());
    int length = std::snprintf(nullptr, 0, format, path.c_str(), base.c_str(), first, count);
    std::string name(static_cast<size_t>(std::max(length, 0)) + 1, '\0');
    std::snprintf(name.data(), name.size(), format, path.c_str(), base.c_str(), first, count);
    name.resize(name.size() - 1);
    return name;
}

uint64_t DoublingIndexBytes(uint32_t recoveryBlocks, uint64_t indexBytes, uint64_t creatorBytes) {
    uint64_t bytes = 0;
    for (uint32_t count : PowerOfTwoSizes(BitLength(recoveryBlocks), recoveryBlocks)) {
        if (count > 0) bytes += BitLength(count) * indexBytes + creatorBytes;
    }
    return bytes;
}

std::vector<uint32_t> IndexCopies(const std::vector<uint32_t>& counts, uint64_t indexBytes,
                                  uint64_t creatorBytes) {
    uint64_t total = 0;
    uint32_t most = 0;
    for (uint32_t count : counts) {
        total += count;
        most = std::max(most, BitLength(count));
    }
    const uint64_t budget = DoublingIndexBytes(
        static_cast<uint32_t>(std::min<uint64_t>(total, UINT32_MAX)), indexBytes, creatorBytes);
    auto bytesUnder = [&](uint32_t ceiling) {
        uint64_t bytes = 0;
        for (uint32_t count : counts) {
            if (count > 0) bytes += std::min(BitLength(count), ceiling) * indexBytes + creatorBytes;
        }
        return bytes;
    };
    uint32_t ceiling = most;
    while (ceiling > 1 && bytesUnder(ceiling) > budget) --ceiling;
    std::vector<uint32_t> copies;
    copies.reserve(counts.size());
    for (uint32_t count : counts)
        copies.push_back(count > 0 ? std::min(BitLength(count), ceiling) : 0);
    return copies;
}

uint64_t LayOutVolume(uint32_t count, uint32_t copies, uint64_t blockSize,
                      const std::vector<uint64_t>& criticalSizes, uint64_t creatorSize,
                      std::vector<VolumeLayoutEntry>& entries) {
    const uint64_t L = criticalSizes.size();
    // starts[k]: bytes of the critical packets before packet k.
    std::vector<uint64_t> starts(L + 1, 0);
    for (uint64_t k = 0; k < L; ++k) starts[k + 1] = starts[k] + criticalSizes[k];
    uint64_t offset = 0;
    // The next packet of the current round; a round starts at packet 0.
    uint64_t position = L;
    // Places the next `n` packets, one run up to the end of the list and
    // another from its start.
    auto placeCritical = [&](uint64_t n) {
        while (n > 0) {
            if (position == L) position = 0;
            const uint64_t take = std::min(n, L - position);
            entries.push_back({VolumeLayoutEntry::kCritical, static_cast<uint32_t>(position),
                               static_cast<uint32_t>(take), offset});
            offset += starts[position + take] - starts[position];
            position += take;
            n -= take;
        }
    };
    // After each slice come as many packets as spread L × copies of them
    // evenly over the slices.
    uint64_t accumulator = 0;
    for (uint32_t slice = 0; slice < count; ++slice) {
        entries.push_back({VolumeLayoutEntry::kSlice, slice, 1, offset});
        offset += kRecoveryDataOffset + blockSize;
        accumulator += L * copies;
        placeCritical(accumulator / count);
        accumulator %= count;
    }
    // A round begun is completed.
    if (position < L) placeCritical(L - position);
    entries.push_back({VolumeLayoutEntry::kCreator, 0, 1, offset});
    return offset + creatorSize;
}

}  // namespace vantrove
