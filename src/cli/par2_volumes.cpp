#include "cli/par2_volumes.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <vector>

#include "cli/terminal_name.h"
#include "core/disk_file.h"

namespace vantrove::cli {

int64_t ClassicBlocksForSize(uint64_t target, uint64_t blockSize, uint64_t sourceBlocks,
                             uint32_t files, uint64_t limit) {
    const int64_t perFile = static_cast<int64_t>(21 * sourceBlocks);
    const int64_t perBlock = static_cast<int64_t>(blockSize + 70);
    const int64_t size = static_cast<int64_t>(std::min<uint64_t>(target, INT64_MAX / 2));
    int64_t budgeted = files;
    if (files == 0) {
        budgeted = 1;
        if (size >= 15 * perFile) {
            const int64_t rest = (size - 15 * perFile) / perBlock;
            budgeted = static_cast<int64_t>(
                ClassicVolumeCounts(static_cast<uint32_t>(std::min<int64_t>(rest, UINT32_MAX)), 0,
                                    limit)
                    .size());
        }
    }
    const int64_t left = size - budgeted * perFile;
    return left < 0 ? -1 : left / perBlock;
}

uint64_t ClassicNamingExponent(uint64_t first, uint32_t total, uint64_t limit) {
    return first + (limit > 0 && total >= 2 * limit ? total - limit : total);
}

std::vector<uint32_t> ClassicVolumeCounts(uint32_t total, uint32_t files, uint64_t limit) {
    std::vector<uint32_t> counts;
    if (total == 0) return counts;
    if (limit > 0) {
        // Volumes of `limit` blocks at the end, doubling ones before them
        // for the rest.
        uint32_t rest = total;
        if (rest >= 2 * limit) rest -= static_cast<uint32_t>((rest - limit) / limit * limit);
        counts = ClassicVolumeCounts(rest, 0, 0);
        counts.insert(counts.end(), (total - rest) / limit, static_cast<uint32_t>(limit));
        return counts;
    }
    uint64_t size = 1;
    if (files > 0) {
        const uint64_t span = files >= 32 ? UINT64_MAX : (uint64_t{1} << files) - 1;
        while (size * span < total && size < total) size <<= 1;
    }
    uint64_t left = total;
    while (left > 0 || counts.size() < files) {
        const bool last = files > 0 && counts.size() + 1 == files;
        const uint64_t take = last ? left : std::min(size, left);
        counts.push_back(static_cast<uint32_t>(take));
        left -= take;
        size <<= 1;
    }
    return counts;
}

std::string ClassicVolumePath(const std::string& folderAndBase, uint64_t first, uint32_t count,
                              uint64_t lastExponent, uint32_t largest) {
    const int exponentDigits = static_cast<int>(std::to_string(lastExponent).size());
    const int countDigits = static_cast<int>(std::to_string(largest).size());
    char tail[64];
    std::snprintf(tail, sizeof tail, ".vol%0*llu+%0*u.par2", exponentDigits,
                  static_cast<unsigned long long>(first), countDigits, count);
    return folderAndBase + tail;
}

bool WriteIndexVolume(const std::string& indexPath, const std::string& path, std::string& error) {
    DiskFile index(indexPath);
    if (!index.open()) {
        error = "cannot read " + TerminalName(indexPath);
        return false;
    }
    // Written as every file the program makes: under a journaled work name,
    // made only where no file is, and moved into place, never over a file
    // that is there already; a crash leaves only what the next job removes.
    DiskFile out;
    if (!out.createWorkFile(path)) {
        error = "cannot create " + TerminalName(path) + ": " + SystemErrorText(out.lastError());
        return false;
    }
    std::vector<uint8_t> buffer(1 << 20);
    bool ok = true;
    for (uint64_t at = 0; ok && at < index.size; at += buffer.size()) {
        const size_t length = static_cast<size_t>(std::min<uint64_t>(buffer.size(), index.size - at));
        ok = index.read(at, buffer.data(), length) && out.write(at, buffer.data(), length);
    }
    index.close();
    if (!ok || !out.moveIntoPlace(path)) {
        out.remove();
        error = "cannot write " + TerminalName(path);
        return false;
    }
    return true;
}

}  // namespace vantrove::cli
