#include "core/page_residency.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace vantrove {

double ResidentShare(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) {
        ::close(fd);
        return 0;
    }
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    const uint64_t page = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
    // The file is mapped a window at a time, which reads nothing: the
    // mapping only lets mincore name the pages.
    const uint64_t window = page * 65536;
    std::vector<unsigned char> resident(65536);
    uint64_t pages = 0, inMemory = 0;
    bool told = true;
    for (uint64_t at = 0; at < size && told; at += window) {
        const size_t length = static_cast<size_t>(std::min(window, size - at));
        void* map = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, static_cast<off_t>(at));
        if (map == MAP_FAILED) {
            told = false;
            break;
        }
        const size_t count = static_cast<size_t>((length + page - 1) / page);
        if (::mincore(map, length, resident.data()) == 0) {
            pages += count;
            for (size_t i = 0; i < count; ++i) inMemory += resident[i] & 1;
        } else {
            told = false;
        }
        ::munmap(map, length);
    }
    ::close(fd);
    return told && pages > 0 ? static_cast<double>(inMemory) / static_cast<double>(pages) : 0;
}

}  // namespace vantrove
