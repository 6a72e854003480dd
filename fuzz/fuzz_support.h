#pragma once
// What every fuzz target shares: a sandbox folder per process with the set's
// folder and, beside it, files that no input may touch; the data files that
// the seed sets describe; and the check, after every input, that nothing
// outside the set's folder changed.

#include <cstddef>
#include <cstdint>
#include <string>

namespace vantrove::fuzz {

// Makes the sandbox (once) and points HOME and the XDG folders into it.
// With `cacheUsable` false the cache folder cannot be made, so that a set
// keeps its state beside itself.
void Setup(bool cacheUsable = true);
// The set's folder, ending in '/'.
const std::string& SetFolder();
// The cache folder the program uses ("…/cache/Vantrove/").
const std::string& CacheFolder();
// Empties the set's folder and puts the data files in it again.
void ResetSetFolder();
// Writes `size` bytes as `name` in the set's folder; returns the path.
std::string WriteInput(const std::string& name, const uint8_t* data, size_t size);
// Aborts (a finding) when anything outside the set's folder and the cache
// folder changed, appeared or went.
void CheckOutside();

// The data files of the seed sets, made by fuzz/make_corpus.sh the same way.
void WriteDataFiles(const std::string& folder);

}  // namespace vantrove::fuzz
