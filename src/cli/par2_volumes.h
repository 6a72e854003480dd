#pragma once
// Volumes laid out as the classic `par2` command lays them out: the block
// counts of its schemes, their names, and the volumes of no blocks that a
// file count beyond the blocks asks for.

#include <cstdint>
#include <string>
#include <vector>

namespace vantrove::cli {

// The recovery block count the classic tool gives a target size of recovery
// data (-r<k|m|g><n>). Each recovery file is budgeted 21 bytes per source
// block for its copy of the index and each recovery block its size plus 70
// bytes. `files` is the number of recovery files asked for; when it is 0 the
// scheme decides: below fifteen files' budget one file, else as many files
// as the scheme (doubling, or held to `limit` blocks) lays out for the blocks
// the rest of the target holds. Negative when the target does not cover the
// budgeted files.
int64_t ClassicBlocksForSize(uint64_t target, uint64_t blockSize, uint64_t sourceBlocks,
                             uint32_t files, uint64_t limit);

// The block counts of the volumes for `total` recovery blocks: doubling from
// 1 until all are placed, the last cut to what is left; with `files` > 0,
// `files` volumes doubling from the smallest power of two that lets them
// hold all, the last taking the rest; with `limit` > 0 (sizes held to the
// largest source file), volumes of `limit` blocks at the end while at least
// twice that is left, doubling ones before them for the rest. With `files`
// given, volumes left over once all blocks are placed hold none.
std::vector<uint32_t> ClassicVolumeCounts(uint32_t total, uint32_t files, uint64_t limit);

// The exponent whose digits set the width of the exponents in the volume
// names of `total` blocks from `first`: the end of the last volume, or with
// volumes held to `limit` blocks the start of the last one.
uint64_t ClassicNamingExponent(uint64_t first, uint32_t total, uint64_t limit);

// "<folderAndBase>.vol<first>+<count>.par2" with the exponent written in as
// many digits as `lastExponent` has and the count in as many as `largest`.
std::string ClassicVolumePath(const std::string& folderAndBase, uint64_t first, uint32_t count,
                              uint64_t lastExponent, uint32_t largest);

// Writes a recovery volume of no blocks at `path`: the packets of the index
// file `indexPath` alone. The file is complete under its name or not there
// at all; false with `error` on failure.
bool WriteIndexVolume(const std::string& indexPath, const std::string& path, std::string& error);

}  // namespace vantrove::cli
