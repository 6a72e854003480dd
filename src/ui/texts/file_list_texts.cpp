#include "ui/texts/file_list_texts.h"

#include <algorithm>

#include "app/digit_grouping.h"
#include "app/repair_error_message.h"
#include "core/string_ids.h"
#include "core/string_table.h"
#include "ui/texts/text_format.h"

namespace vantrove {

namespace {

// One text for a count of 1, another (with the grouped count) for any other.
std::string Counted(int64_t count, int oneId, int manyId) {
    return count == 1 ? GetString(oneId) : FormatString(manyId, {FormatGrouped(count)});
}

// `part` of `whole` in permille, rounded down and at most 1000; 0 when whole is 0.
uint64_t Permille(uint64_t part, uint64_t whole) {
    if (whole == 0) return 0;
    uint64_t permille = static_cast<uint64_t>(static_cast<unsigned __int128>(part) * 1000 / whole);
    return std::min<uint64_t>(permille, 1000);
}

std::string PercentOf(int id, uint64_t part, uint64_t whole) {
    uint64_t permille = Permille(part, whole);
    return FormatString(id, {permille / 10, permille % 10});
}

// "n/1 blocco" or "n/m blocchi" of a damaged or missing PAR2 file.
std::string FoundOfTotal(uint32_t found, uint32_t total, int oneId, int manyId) {
    if (total == 1) return FormatString(oneId, {FormatGrouped(found)});
    return FormatString(manyId, {FormatGrouped(found), FormatGrouped(total)});
}

}  // namespace

std::string RecoveryGroupName(FormatKind format) {
    bool parity = format == FormatKind::Par1 || format == FormatKind::Par2;
    return GetString(parity ? kStrGroupRecoveryFiles : kStrGroupChecksumFiles);
}

std::string DataGroupName() {
    return GetString(kStrGroupDataFiles);
}

std::string SizeText(uint64_t size) {
    return FormatGrouped(size);
}

std::string RecoveryGroupStatus(FormatKind format, int64_t recoveryBlocks) {
    switch (format) {
        case FormatKind::Par1:
            return Counted(recoveryBlocks, kStrRowOneRecoveryFile, kStrRowRecoveryFiles);
        case FormatKind::Par2:
            return Counted(recoveryBlocks, kStrRowOneRecoveryBlock, kStrRowRecoveryBlocks);
        default:
            return {};
    }
}

std::string DataGroupStatus(FormatKind format, int64_t found) {
    if (format == FormatKind::Par2) return Counted(found, kStrRowOneBlockFound, kStrRowBlocksFound);
    return Counted(found, kStrRowOneFileFound, kStrRowFilesFound);
}

std::string VolumeRowStatus(FormatKind format, VolumeDisplayCode code, uint32_t blocksTaken) {
    bool par2 = format == FormatKind::Par2;
    switch (code) {
        case VolumeDisplayCode::Used:
            return par2 ? Counted(blocksTaken, kStrRowOneBlock, kStrRowBlocks)
                        : GetString(kStrRowGood);
        case VolumeDisplayCode::Damaged:
            return par2 ? Counted(blocksTaken, kStrRowDamagedOneBlock, kStrRowDamagedBlocks)
                        : GetString(kStrRowIncomplete);
        case VolumeDisplayCode::Unused:
            return GetString(kStrRowWrongSet);
        case VolumeDisplayCode::NotRead:
        default:
            if (par2 && blocksTaken > 0) {
                return Counted(blocksTaken, kStrRowUnknownOneBlock, kStrRowUnknownBlocks);
            }
            return GetString(kStrRowUnknown);
    }
}

uint32_t FoundBlocks(uint32_t blockCount, const std::vector<SourcePlace>& places) {
    uint64_t found = 0;
    for (const SourcePlace& place : places) found += place.blockCount;
    return static_cast<uint32_t>(std::min<uint64_t>(found, blockCount));
}

std::string SourceRowStatus(FormatKind format, SourceRowKind kind, uint32_t blockCount,
                            const std::vector<SourcePlace>& places) {
    switch (kind) {
        case SourceRowKind::Complete:
            return GetString(kStrRowComplete);
        case SourceRowKind::Repaired:
            return GetString(kStrRowRepaired);
        case SourceRowKind::Misnamed:
            return GetString(kStrRowMisnamed);
        case SourceRowKind::Damaged: {
            uint32_t found = FoundBlocks(blockCount, places);
            if (format == FormatKind::Par1) {
                return PercentOf(kStrRowIncompletePercent, found, blockCount);
            }
            if (format == FormatKind::Par2) {
                return FoundOfTotal(found, blockCount, kStrRowIncompleteOfOneBlock,
                                    kStrRowIncompleteOfBlocks);
            }
            return GetString(kStrRowIncomplete);
        }
        case SourceRowKind::Missing: {
            uint32_t found = FoundBlocks(blockCount, places);
            if (format == FormatKind::Par1 && found > 0) {
                return PercentOf(kStrRowMissingPercent, found, blockCount);
            }
            if (format == FormatKind::Par2 && found > 0) {
                return FoundOfTotal(found, blockCount, kStrRowMissingOfOneBlock,
                                    kStrRowMissingOfBlocks);
            }
            return GetString(kStrRowMissing);
        }
        case SourceRowKind::NotVerified:
        default:
            return GetString(kStrRowUnknown);
    }
}

std::string PlaceRowStatus(FormatKind format, const SourcePlace& place, uint32_t sourceBlockCount) {
    std::string text;
    if (format == FormatKind::Par2) {
        text = Counted(place.blockCount, kStrRowOneBlock, kStrRowBlocks);
    } else if (format == FormatKind::Par1) {
        uint64_t permille = Permille(place.blockCount, sourceBlockCount);
        text = FormatText("%d.%1d%%", {permille / 10, permille % 10});
    }
    if (place.readError == 0) return text;
    const std::string unreadable = FormatString(
        kStrRowPartlyUnreadable, {SystemErrorMessage(static_cast<uint32_t>(place.readError))});
    return text.empty() ? unreadable : text + " - " + unreadable;
}

}  // namespace vantrove
