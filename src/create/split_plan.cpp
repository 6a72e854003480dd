#include "create/split_plan.h"

#include <algorithm>
#include <cstdio>

namespace vantrove {

std::vector<SplitPiece> PlanSplitPieces(const std::string& destinationPath,
                                        const std::string& fileName, uint64_t fileSize,
                                        uint64_t blockSize, uint64_t pieceBlocks) {
    std::vector<SplitPiece> pieces;
    if (pieceBlocks == 0 || blockSize == 0) return pieces;
    const uint64_t blocks = (fileSize + blockSize - 1) / blockSize;
    if (blocks <= pieceBlocks) return pieces;
    const uint64_t count = (blocks + pieceBlocks - 1) / pieceBlocks;
    const uint64_t pieceBytes = pieceBlocks * blockSize;
    for (uint64_t k = 1; k <= count; ++k) {
        SplitPiece piece;
        char number[32];
        std::snprintf(number, sizeof number, ".%03llu", static_cast<unsigned long long>(k));
        piece.path = destinationPath + fileName + number;
        piece.firstBlock = (k - 1) * pieceBlocks;
        piece.blockCount = std::min(pieceBlocks, blocks - piece.firstBlock);
        piece.size = pieceBytes;
        if (k == count && fileSize % pieceBytes != 0) piece.size = fileSize % pieceBytes;
        pieces.push_back(piece);
    }
    return pieces;
}

}  // namespace vantrove
