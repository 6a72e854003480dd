#include "ui/texts/status_texts.h"

#include <algorithm>

#include "app/digit_grouping.h"
#include "app/repair_error_message.h"
#include "core/string_ids.h"
#include "core/string_table.h"
#include "ui/texts/text_format.h"

namespace vantrove {

namespace {

bool IsParity(FormatKind format) {
    return format == FormatKind::Par1 || format == FormatKind::Par2;
}

bool IsRepairActivity(Activity activity) {
    return activity >= Activity::Renaming && activity <= Activity::Writing;
}

// Title while busy: the text of each activity and whether it names the
// current file (else the set). An activity not listed has no title of its own.
struct BusyTitle {
    Activity activity;
    int id;
    bool namesFile;
};

constexpr BusyTitle kBusyTitles[] = {
    {Activity::LoadingVolume, kStrTitleLoading, true},
    {Activity::VerifyingDataFile, kStrTitleVerifying, true},
    {Activity::Reverifying, kStrTitleVerifying, true},
    {Activity::ScanningFile, kStrTitleScanning, true},
    {Activity::CheckingFile, kStrTitleChecking, true},
    {Activity::SearchingNewFiles, kStrTitleSearchingNewFiles, false},
    {Activity::Renaming, kStrTitleRenaming, false},
    {Activity::ComputingMatrix, kStrTitleComputingMatrix, false},
    {Activity::MemoryTest, kStrTitleTestingMemory, false},
    {Activity::Recovering, kStrTitleRecoveringData, false},
    {Activity::Writing, kStrTitleWritingData, false},
};

// Blocks (or, for PAR1, files) the set still lacks: total less those found
// and the recovery blocks that can stand in for the rest.
int64_t BlocksStillNeeded(const RecoverySetStatus& s) {
    return static_cast<int64_t>(s.totalDataBlocks) -
           std::max<int64_t>(s.recoveryBlocksAvailable, 0) -
           std::max<int64_t>(s.dataBlocksAvailable, 0);
}

std::optional<std::string> IdleTitle(const RecoverySetStatus& s, int missingFiles) {
    const std::string& name = s.setName;
    switch (s.state) {
        case RecoveryState::NothingLoaded:
            return GetString(kStrTitleSelectVolume);
        case RecoveryState::NeedMoreVolumes:
            return GetString(kStrTitleSelectMoreVolumes);
        case RecoveryState::RepairPossible:
            if (s.errorKind != ErrorKind::None) return FormatString(kStrTitleRepairFailed, {name});
            if (BlocksStillNeeded(s) <= 0) return FormatString(kStrTitleRepairNeeded, {name});
            return std::nullopt;
        case RecoveryState::Repaired:
            return FormatString(kStrTitleRepairCompleted, {name});
        case RecoveryState::AllVerified:
            return FormatString(kStrTitleAllVerified, {name});
        case RecoveryState::Incomplete:
        case RecoveryState::PartlyJoinable:
            break;
        default:
            return std::nullopt;
    }
    if (s.unverifiedFiles > 0) return FormatString(kStrTitleScanIncomplete, {name});
    int64_t n = BlocksStillNeeded(s);
    if (n <= 0) return std::nullopt;
    switch (s.formatKind) {
        case FormatKind::Par1:
            return n == 1 ? FormatString(kStrTitleOneFileNeeded, {name})
                          : FormatString(kStrTitleFilesNeeded, {n, name});
        case FormatKind::Par2:
            return n == 1 ? FormatString(kStrTitleOneBlockNeeded, {name})
                          : FormatString(kStrTitleBlocksNeeded, {n, name});
        default:
            if (n == 1) {
                return FormatString(
                    missingFiles == 1 ? kStrTitleOneFileMissing : kStrTitleOneFileMissingOrDamaged,
                    {name});
            }
            return FormatString(
                missingFiles == n ? kStrTitleFilesMissing : kStrTitleFilesMissingOrDamaged,
                {n, name});
    }
}

}  // namespace

std::optional<std::string> WindowTitle(const RecoverySetStatus& status, int missingFiles) {
    if (status.activity == Activity::Idle) return IdleTitle(status, missingFiles);
    for (const BusyTitle& title : kBusyTitles) {
        if (title.activity != status.activity) continue;
        return FormatString(
            title.id, {title.namesFile ? FileNameOfPath(status.currentFile) : status.setName});
    }
    return std::nullopt;
}

bool StatusLineShown(const RecoverySetStatus& status) {
    if (IsRepairActivity(status.activity)) return false;
    return !(status.activity == Activity::Idle && status.state == RecoveryState::Repaired);
}

BlockBarValues StatusBarValues(const RecoverySetStatus& status) {
    BlockBarValues bar;
    bar.total = status.totalDataBlocks;
    bar.available = std::min<uint64_t>(std::max(status.dataBlocksAvailable, 0), bar.total);
    bar.covered = std::min<uint64_t>(
        bar.available + static_cast<uint64_t>(std::max(status.recoveryBlocksAvailable, 0)),
        bar.total);
    return bar;
}

std::string StatusLineText(const RecoverySetStatus& s, int missingFiles) {
    int64_t total = s.totalDataBlocks;
    if (total == 0) return {};
    int64_t data = std::max<int64_t>(s.dataBlocksAvailable, 0);
    int64_t recovery = std::max<int64_t>(s.recoveryBlocksAvailable, 0);
    if (data + recovery < total) {
        int64_t n = total - (data + recovery);
        switch (s.formatKind) {
            case FormatKind::Par1:
                return n == 1 ? GetString(kStrStatusOneMoreFileNeeded)
                              : FormatString(kStrStatusMoreFilesNeeded, {n});
            case FormatKind::Par2:
                return n == 1 ? GetString(kStrStatusOneMoreBlockNeeded)
                              : FormatString(kStrStatusMoreBlocksNeeded, {n});
            default:
                if (n == 1) {
                    return GetString(missingFiles == 1 ? kStrStatusOneFileMissing
                                                       : kStrStatusOneFileMissingOrDamaged);
                }
                return FormatString(
                    missingFiles == n ? kStrStatusFilesMissing : kStrStatusFilesMissingOrDamaged,
                    {n});
        }
    }
    if (s.state == RecoveryState::Repaired || s.state == RecoveryState::AllVerified) {
        return GetString(kStrStatusRepairNotNeeded);
    }
    if (data < total) {
        return FormatString(s.formatKind == FormatKind::Par1 ? kStrStatusReadyUsingFiles
                                                             : kStrStatusReadyUsingBlocks,
                            {total - data, recovery});
    }
    int64_t misnamed = s.misnamedFiles;
    int64_t complete = s.completeFiles;
    int64_t files = s.sourceFileCount;
    if (misnamed > 0 && misnamed + complete == files) {
        return misnamed == 1 ? GetString(kStrStatusReadyToRenameOne)
                             : FormatString(kStrStatusReadyToRename, {misnamed});
    }
    int64_t join = files - complete - misnamed;
    return join == 1 ? GetString(kStrStatusReadyToJoinOne)
                     : FormatString(kStrStatusReadyToJoin, {join});
}

std::string RepairButtonCaption(const RecoverySetStatus& status) {
    switch (status.subState) {
        case SubState::CanJoin:
            return GetString(kStrJoinButton);
        case SubState::RenameOnly:
            return GetString(kStrRenameButton);
        default:
            return GetString(kStrRepairButton);
    }
}

bool RepairButtonEnabled(const RecoverySetStatus& status) {
    return status.activity == Activity::Idle && (status.state == RecoveryState::PartlyJoinable ||
                                                 status.state == RecoveryState::RepairPossible);
}

StopButtonState StopButton(const RecoverySetStatus& status) {
    StopButtonState button;
    if (status.activity != Activity::Idle) {
        button.caption = GetString(kStrStopButton);
        button.enabled = true;
    } else if (status.formatKind == FormatKind::Par2 &&
               (status.state == RecoveryState::Repaired ||
                status.state == RecoveryState::AllVerified)) {
        button.caption = GetString(kStrExtraButton);
        button.enabled = true;
        button.extra = true;
    } else {
        button.caption = GetString(kStrStopButton);
    }
    return button;
}

bool ErrorLineShown(const RecoverySetStatus& status) {
    return status.activity == Activity::Idle && status.errorKind != ErrorKind::None &&
           (status.state == RecoveryState::PartlyJoinable ||
            status.state == RecoveryState::RepairPossible);
}

std::string LeftoverNote(const RecoverySetStatus& status) {
    if (status.activity != Activity::Idle) return {};
    // The work files of a job working in the folder now are not left over
    // (a repair that found the folder busy says so on its error line).
    if (status.otherJobWorking)
        return status.errorKind == ErrorKind::Busy ? std::string() : GetString(kStrErrorSetBusy);
    if (status.leftoverFiles <= 0) return {};
    if (status.leftoverFiles == 1) return GetString(kStrLeftoverFilesOne);
    return FormatString(kStrLeftoverFiles, {status.leftoverFiles});
}

std::string ErrorLineText(const RecoverySetStatus& status) {
    if (status.errorKind == ErrorKind::None) return GetString(kStrRepairFailed);
    return RepairErrorMessage(status.errorKind, status.systemErrorCode, status.errorFile);
}

std::string CreatorLine(const RecoverySetStatus& status, Ampersands ampersands) {
    std::string line =
        GetString(IsParity(status.formatKind) ? kStrCreatorLineRecovery : kStrCreatorLineChecksum);
    line += " :- ";
    for (char c : status.creatorText) {
        if (static_cast<unsigned char>(c) < 32) {
            line += ' ';
        } else if (c == '&' && ampersands == Ampersands::Doubled) {
            line += "&&";
        } else {
            line += c;
        }
    }
    return line;
}

std::string ProgressText(uint64_t position, uint64_t total) {
    if (total == 0) return {};
    // 128-bit product: a position of many exabytes must not wrap.
    unsigned __int128 scaled = static_cast<unsigned __int128>(position) * 1000 / total;
    uint64_t permille = scaled > 1000 ? 1000 : static_cast<uint64_t>(scaled);
    return FormatText("%d.%d %%", {permille / 10, permille % 10});
}

std::string ProgressText(const RecoverySetStatus& status) {
    return ProgressText(status.progressPosition, status.progressTotal);
}

CounterTexts Counters(const RecoverySetStatus& s) {
    CounterTexts texts;
    if (s.totalDataBlocks == 0) {
        std::string unknown = GetString(kStrUnknown);
        texts = {unknown, unknown, unknown, unknown, unknown, unknown, unknown, unknown};
        return texts;
    }
    std::string bytes = GetString(kStrByteSuffix);
    texts.sourceFiles = FormatGrouped(s.sourceFileCount);
    texts.totalSize = FormatGrouped(s.totalSourceSize) + bytes;
    texts.dataBlocks = FormatGrouped(s.totalDataBlocks);
    texts.blockSize = FormatGrouped(s.blockSize) + bytes;
    texts.completeFiles = FormatGrouped(s.completeFiles);
    texts.damagedFiles = FormatGrouped(s.damagedFiles);
    texts.misnamedFiles = FormatGrouped(s.misnamedFiles);
    texts.missingFiles = FormatGrouped(s.missingFiles);
    return texts;
}

}  // namespace vantrove
