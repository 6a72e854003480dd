#pragma once
// VerificationCache: where sets keep what they verified.
//
// The cache folder is "Vantrove/" under the user's application-data folder
// ($XDG_CACHE_HOME, else ~/.cache/, else TMPDIR, TMP, "/tmp/"). Its index
// cache.vtc maps each set's key (the set's folder and name followed by the
// state-file extension of its format, e.g. /x/movie.vt2) to a state file
// "<name>(<n>).vt" in the cache folder and the time it was last used; entries
// not used for seven days are dropped with their state files at the next
// access. When the cache folder cannot be used, the state file lies beside the
// set under the key's own name.
//
// The index is kept in memory only while one call runs. The process-wide
// instance (Default) serves the verification and creation workers; a mutex
// keeps two workers of this process from interleaving their index updates.

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "core/file_time.h"
#include "engine/state_stream.h"

namespace vantrove {

// State-file extensions, one per format.
inline constexpr const char* kStateExtensionPar1 = ".vt1";
inline constexpr const char* kStateExtensionPar2 = ".vt2";
inline constexpr const char* kStateExtensionMd5 = ".vt5";
inline constexpr const char* kStateExtensionSfv = ".vt6";

// Index entries unused for longer than this (in 100 ns) expire: seven days.
inline constexpr uint64_t kCacheExpiry = 6048000000000ULL;

// The application-data folder as the environment gives it now, ending in '/';
// empty when no candidate is an absolute path.
std::string FindApplicationDataFolder();
// FindApplicationDataFolder, taken once for the life of the process.
const std::string& ApplicationDataFolder();

class VerificationCache {
  public:
    using Clock = std::function<FileTime()>;

    // `cacheFolder` ends in '/'; a relative or empty one makes every state
    // file lie beside its set. `clock` gives "now" (tests move it).
    explicit VerificationCache(std::string cacheFolder, Clock clock = {});

    // The instance for ApplicationDataFolder() + "Vantrove/".
    static VerificationCache& Default();

    const std::string& folder() const { return folder_; }
    std::string IndexPath() const { return folder_ + "cache.vtc"; }

    // The state-file path for `key`, keeping the index up to date. With
    // `create` false the key's state is discarded instead and the result is
    // empty.
    std::string CacheFileFor(const std::string& key, bool create);
    // CacheFileFor(key, true), then opens that file for writing.
    bool OpenStateForWrite(const std::string& key, StateWriter& writer);
    // CacheFileFor(key, true), then loads that file; false when there is none.
    bool OpenStateForRead(const std::string& key, StateReader& reader);
    // Forgets the key and deletes its state file.
    void DiscardState(const std::string& key);

  private:
    bool EnsureFolder() const;
    bool IsOwnStateFile(const std::string& path) const;

    std::string folder_;
    Clock clock_;
    std::mutex mutex_;
};

}  // namespace vantrove
