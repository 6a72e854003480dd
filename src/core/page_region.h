#pragma once
// PageRegion: page-aligned anonymous memory from the system, released on
// destruction. Large working areas (recovery outputs, read buffers) live in
// one of these so that their size is bounded by what the system grants and
// not by the heap's fragmentation. Owned by one computation at a time.

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>

namespace vantrove {

class PageRegion {
  public:
    PageRegion() = default;
    ~PageRegion() { Release(); }
    PageRegion(const PageRegion&) = delete;
    PageRegion& operator=(const PageRegion&) = delete;
    PageRegion(PageRegion&& other) noexcept : data_(other.data_), size_(other.size_) {
        other.data_ = nullptr;
        other.size_ = 0;
    }

    // Replaces any earlier area with `bytes` zeroed bytes; false when the
    // system refuses (data() is then null).
    bool Allocate(size_t bytes) {
        Release();
        if (bytes == 0) return true;
        void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) return false;
        data_ = static_cast<uint8_t*>(p);
        size_ = bytes;
        return true;
    }
    void Release() {
        if (data_ != nullptr) munmap(data_, size_);
        data_ = nullptr;
        size_ = 0;
    }

    uint8_t* data() const { return data_; }
    size_t size() const { return size_; }

  private:
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

}  // namespace vantrove
