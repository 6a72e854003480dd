#pragma once
// IntactCheck: reads several data files side by side and tells, for each,
// whether every block's CRC-32 is the expected one at its place, together
// with the MD5 of the whole file and of its first 16,384 bytes.
//
// This is the work of the check of a file that should be an intact copy
// (block i at offset i x block size, the last block zero-padded to the block
// size), done for many files at once: the files advance in lockstep, one
// piece of each per round, so that their MD5 streams run side by side in
// Md5Context::UpdateMany, and the files are shared between the calling
// thread and one more. A file whose size differs or one of whose CRCs
// differs leaves the lockstep at once and is read no further; a file that
// cannot be opened or read is reported as not matching.
//
// A file given with the MD5 of every block is checked by blocks instead:
// each block's MD5 and CRC are compared, and together they stand in for the
// hash of the whole file, which is not computed. Equal blocks at every place
// make an equal file, and a block's 128-bit MD5 misses a change no more
// often than the whole file's does; but unlike the one MD5 stream of a
// whole file, the blocks can be hashed side by side. Such a file is read as
// several streams, each a run of whole blocks, that take their places in
// the lockstep as files do.
//
// Run drives everything from the calling thread, which also asks `progress`
// (with the bytes of the first file checked so far) whether to go on; a
// false answer ends the run with every file not yet finished left
// unfinished.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/md5.h"

namespace vantrove {

struct IntactCheckFile {
    std::string path;
    uint64_t size = 0;                // the size the file should have
    std::vector<uint32_t> blockCrcs;  // CRC-32 of each block, padded to the block size
    // MD5 of each block, padded to the block size; empty to hash the whole
    // file instead.
    std::vector<Md5Digest> blockMd5s;

    // Results.
    bool finished = false;     // read to its end (or stopped at a difference)
    bool blocksMatch = false;  // finished, of the right size, every CRC (and
                               // block MD5 when given) as expected
    Md5Digest whole;           // valid when blocksMatch and no block MD5s were given
    Md5Digest head;            // valid when blocksMatch
};

class IntactCheck {
  public:
    struct Options {
        // Bytes read of each file per round; a multiple of 16,384.
        uint32_t pieceSize = 131072;
        // Threads, the calling one included.
        unsigned threads = 2;
        // The streams a file checked by blocks is read as, at most (one per
        // block at most).
        unsigned streamsPerFile = 16;
    };

    // The buffer memory that a file of `size` bytes takes while it is
    // checked: two pieces, so that one is read while the other is hashed,
    // or its size when it fits in one.
    static uint64_t BufferBytes(uint64_t size, const Options& options);

    // Returns false when `progress` asked to stop.
    static bool Run(std::vector<IntactCheckFile>& files, uint64_t blockSize,
                    const std::function<bool(uint64_t position)>& progress);
    static bool Run(std::vector<IntactCheckFile>& files, uint64_t blockSize,
                    const std::function<bool(uint64_t position)>& progress, const Options& options);
};

}  // namespace vantrove
