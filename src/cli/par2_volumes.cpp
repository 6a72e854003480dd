#include "cli/par2_volumes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <map>

#include "par2/packet_format.h"

namespace vantrove::cli {
namespace {

struct SlicePlace {
    std::string path;
    uint64_t offset = 0;
    uint64_t length = 0;
};

uint64_t ReadLe64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

uint32_t ReadLe32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

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

// Walks the packets of `path`, calling `visit(header, offset, length)` for each.
template <typename Visit>
bool ForEachPacket(const std::string& path, Visit visit) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    fstat(fd, &st);
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    uint64_t offset = 0;
    uint8_t header[kPacketHeaderSize + 4];
    bool ok = true;
    while (offset + kPacketHeaderSize <= size) {
        if (!ReadAll(fd, header, std::min<uint64_t>(sizeof header, size - offset), offset)) {
            ok = false;
            break;
        }
        const uint64_t length = ReadLe64(header + kPacketLengthOffset);
        if (std::memcmp(header, kPacketMagic.data(), kPacketMagic.size()) != 0 ||
            length < kPacketHeaderSize || length % 4 != 0 || offset + length > size) {
            ok = false;
            break;
        }
        visit(fd, header, offset, length);
        offset += length;
    }
    ::close(fd);
    return ok;
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

bool RepackVolumes(const std::string& indexPath, const std::vector<std::string>& volumes,
                   const std::string& folderAndBase, uint64_t first,
                   const std::vector<uint32_t>& counts, uint64_t lastExponent,
                   std::vector<std::string>& written, std::string& error) {
    // Where every slice lies, by exponent.
    std::map<uint32_t, SlicePlace> slices;
    for (const std::string& volume : volumes) {
        const bool read = ForEachPacket(volume, [&](int, const uint8_t* header, uint64_t offset,
                                                    uint64_t length) {
            if (length >= kPacketHeaderSize + 4 &&
                std::memcmp(header + kPacketTypeOffset, kRecoverySlicePacketType.data(),
                            kRecoverySlicePacketType.size()) == 0) {
                slices[ReadLe32(header + kPacketHeaderSize)] = {volume, offset, length};
            }
        });
        if (!read) {
            error = "cannot read " + volume;
            return false;
        }
    }
    uint64_t total = 0;
    uint32_t largest = 0;
    for (uint32_t c : counts) {
        total += c;
        largest = std::max(largest, c);
    }
    if (slices.size() != total) {
        error = "the recovery volumes do not hold the expected blocks";
        return false;
    }
    struct stat indexStat {};
    if (stat(indexPath.c_str(), &indexStat) != 0) {
        error = "cannot read " + indexPath;
        return false;
    }
    const int index = ::open(indexPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (index < 0) {
        error = "cannot read " + indexPath;
        return false;
    }
    std::vector<uint8_t> buffer(1 << 20);
    std::vector<std::string> made;
    std::map<std::string, int> sources;
    bool ok = true;
    uint64_t exponent = first;
    for (uint32_t count : counts) {
        const std::string path =
            ClassicVolumePath(folderAndBase, exponent, count, lastExponent, largest);
        const std::string work = path + ".part";
        const int out = ::open(work.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (out < 0) {
            error = "cannot create " + path + ": " + std::strerror(errno);
            ok = false;
            break;
        }
        made.push_back(work);
        for (uint32_t k = 0; ok && k < count; ++k) {
            const auto found = slices.find(static_cast<uint32_t>(exponent + k));
            if (found == slices.end()) {
                error = "a recovery block is missing";
                ok = false;
                break;
            }
            int& fd = sources[found->second.path];
            if (fd == 0) fd = ::open(found->second.path.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0 || !CopyRange(fd, found->second.offset, found->second.length, out, buffer)) {
                error = "cannot copy the recovery data to " + path;
                ok = false;
            }
        }
        if (ok && !CopyRange(index, 0, static_cast<uint64_t>(indexStat.st_size), out, buffer)) {
            error = "cannot write " + path;
            ok = false;
        }
        if (::fsync(out) != 0 || ::close(out) != 0) ok = false;
        if (!ok) break;
        exponent += count;
    }
    ::close(index);
    for (auto& [path, fd] : sources)
        if (fd > 0) ::close(fd);
    if (!ok) {
        for (const std::string& work : made) ::unlink(work.c_str());
        if (error.empty()) error = "cannot write the recovery volumes";
        return false;
    }
    for (const std::string& volume : volumes) ::unlink(volume.c_str());
    written.clear();
    for (const std::string& work : made) {
        const std::string path = work.substr(0, work.size() - 5);
        if (std::rename(work.c_str(), path.c_str()) != 0) {
            error = "cannot rename " + work;
            return false;
        }
        written.push_back(path);
    }
    return true;
}

}  // namespace vantrove::cli
