#pragma once
// The plan of the pieces into which creation splits a large source file.
//
// A file of P blocks is split when P exceeds the piece size W (in blocks);
// piece k (from 1) holds blocks (k-1)·W … k·W-1 and is named
// "<destination><file name>.<k as three digits>". Pieces are cut on block
// boundaries, so each holds whole blocks and is checked with the set's own
// block hashes. Pure functions; any thread.

#include <cstdint>
#include <string>
#include <vector>

namespace vantrove {

struct SplitPiece {
    std::string path;
    uint64_t size = 0;  // bytes
    uint64_t blockCount = 0;
    uint64_t firstBlock = 0;  // index in the file's own block list
};

// The pieces of a file of `fileSize` bytes with blocks of `blockSize` bytes
// and W = `pieceBlocks` blocks per piece; empty when the file is not split
// (W = 0 or the file has at most W blocks).
std::vector<SplitPiece> PlanSplitPieces(const std::string& destinationPath,
                                        const std::string& fileName, uint64_t fileSize,
                                        uint64_t blockSize, uint64_t pieceBlocks);

}  // namespace vantrove
