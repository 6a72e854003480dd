// The cache index: the input is "cache.vtc"; the cache looks a set up in it,
// which may expire and delete state files. Only files of the cache folder
// may ever be touched.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "engine/verification_cache.h"
#include "fuzz/fuzz_support.h"

using namespace vantrove;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::Setup(true);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::ResetSetFolder();
    const std::string folder = fuzz::CacheFolder();
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    std::filesystem::create_directories(folder);
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all, ec);
    {
        FILE* f = std::fopen((folder + "cache.vtc").c_str(), "wb");
        if (f == nullptr) return 0;
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    // State files the index may name, expire or keep.
    for (const char* name : {"s(1).vt", "movie(1).vt", "s(1).vt.bak"}) {
        if (FILE* f = std::fopen((folder + name).c_str(), "wb")) std::fclose(f);
    }
    VerificationCache cache(folder, [] { return FileTime{133000000000000000ULL}; });
    cache.CacheFileFor(fuzz::SetFolder() + "s.vt2", true);
    cache.CacheFileFor("/elsewhere/movie.vt2", false);
    fuzz::CheckOutside();
    return 0;
}
