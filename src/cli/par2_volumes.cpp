#include "cli/par2_volumes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

#include "cli/terminal_name.h"
#include "core/disk_file.h"

namespace vantrove::cli {
namespace {

bool ReadAll(int fd, uint8_t* data, uint64_t length, uint64_t offset) {
    while (length > 0) {
        const ssize_t n = ::pread(fd, data, length, static_cast<off_t>(offset));
        if (n <= 0) return false;
        data += n;
        length -= static_cast<uint64_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

bool WriteAll(int fd, const uint8_t* data, uint64_t length) {
    while (length > 0) {
        const ssize_t n = ::write(fd, data, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        length -= static_cast<uint64_t>(n);
    }
    return true;
}

bool CopyRange(int from, uint64_t offset, uint64_t length, int to, std::vector<uint8_t>& buffer) {
    while (length > 0) {
        const uint64_t chunk = std::min<uint64_t>(length, buffer.size());
        if (!ReadAll(from, buffer.data(), chunk, offset) || !WriteAll(to, buffer.data(), chunk))
            return false;
        offset += chunk;
        length -= chunk;
    }
    return true;
}

}  // namespace

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
    const int index = ::open(indexPath.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat indexStat {};
    if (index < 0 || ::fstat(index, &indexStat) != 0) {
        if (index >= 0) ::close(index);
        error = "cannot read " + TerminalName(indexPath);
        return false;
    }
    const std::string work = path + ".part";
    const int out = ::open(work.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (out < 0) {
        ::close(index);
        error = "cannot create " + TerminalName(path) + ": " + std::strerror(errno);
        return false;
    }
    std::vector<uint8_t> buffer(1 << 20);
    bool ok = CopyRange(index, 0, static_cast<uint64_t>(indexStat.st_size), out, buffer);
    ok = ::fsync(out) == 0 && ok;
    ok = ::close(out) == 0 && ok;
    ::close(index);
    // The work file is ours (made exclusively above); a file at `path` is
    // never replaced.
    if (DiskFile moved(work); !ok || !moved.moveIntoPlace(path)) {
        ::unlink(work.c_str());
        error = "cannot write " + TerminalName(path);
        return false;
    }
    return true;
}

}  // namespace vantrove::cli
