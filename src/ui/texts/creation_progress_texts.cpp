#include "ui/texts/creation_progress_texts.h"

#include <algorithm>
#include <cmath>

#include "core/string_ids.h"
#include "core/string_table.h"
#include "ui/texts/duration_texts.h"
#include "ui/texts/text_format.h"

namespace vantrove {

namespace {

constexpr double kMiB = 1048576.0;
constexpr size_t kShownNameCharacters = 30;

bool IsContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

}  // namespace

std::string ShownCreationFileName(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash != std::string::npos) return path.substr(slash + 1);
    // Count characters from the end; continuation bytes belong to the
    // character whose lead byte comes before them.
    size_t start = path.size();
    size_t characters = 0;
    while (start > 0 && characters < kShownNameCharacters) {
        --start;
        if (!IsContinuationByte(path[start])) ++characters;
    }
    return path.substr(start);
}

std::string CreationPercentText(uint64_t done, uint64_t total) {
    if (done == 0 || total == 0) return {};
    // done * 1000 / total without overflowing for sizes near 2^64.
    const unsigned __int128 permille128 =
        static_cast<unsigned __int128>(done) * 1000 / static_cast<unsigned __int128>(total);
    const uint64_t permille = permille128 > 1000 ? 1000 : static_cast<uint64_t>(permille128);
    return FormatText("%d.%d %%",
                      {static_cast<int>(permille / 10), static_cast<int>(permille % 10)});
}

std::string CreationTitle(int phase, const std::string& baseName) {
    if (phase == kPhaseFinished) return FormatString(kStrCreationSucceededTitle, {baseName});
    if (phase == kPhaseFailed) return FormatString(kStrCreationFailedTitle, {baseName});
    return FormatString(kStrCreatingTitle, {baseName});
}

double CreationProgressLine::speed() const {
    return estimate_.speed();
}

const std::string& CreationProgressLine::Update(const CreationStatus& status) {
    const bool estimated = estimate_.Update(status);
    const std::string name = ShownCreationFileName(status.fileName);
    switch (status.phase) {
        case kPhaseHashing:
            text_ = GetString(kStrPhaseHashingFile) + " " + name;
            break;
        case kPhaseMemoryTest:
            text_ = GetString(kStrPhaseTestingMemory);
            break;
        case kPhaseMatrix:
            text_ = GetString(kStrActivityComputingMatrix);
            break;
        case kPhaseComputing:
            if (estimated) {
                text_ = FormatText("%s / %s @ %s",
                                   {DurationText(estimate_.remainingSeconds()),
                                    DurationText(estimate_.totalSeconds()), SpeedText(speed())});
            }
            break;
        case kPhaseWriting:
            text_ = GetString(kStrPhaseWritingRecoveryData);
            break;
        case kPhaseVerifySplit:
            text_ = GetString(kStrPhaseVerifyingSplitFile) + " " + name;
            break;
        case kPhaseReverifySource:
            text_ = GetString(kStrPhaseReverifyingDataFile) + " " + name;
            break;
        case kPhaseVerifyOutput:
            text_ = GetString(kStrPhaseVerifyingRecoveryFile) + " " + name;
            break;
        case kPhaseFailed:
            text_ = CreationFailureMessage(status.failureCode);
            break;
        case kPhaseFinished: {
            const uint64_t elapsedMs = status.tick > startTick_ ? status.tick - startTick_ : 0;
            double shownSpeed = speed();
            if (!(shownSpeed > 0) && jobBytes_ > 0)
                shownSpeed = static_cast<double>(jobBytes_) / kMiB /
                             (static_cast<double>(std::max<uint64_t>(elapsedMs, 1)) / 1000);
            // Whole seconds rounded up: a job that took any time never took 0.
            text_ = FormatString(kStrCreationSucceededIn,
                                 {DurationText((elapsedMs + 999) / 1000), SpeedText(shownSpeed)});
            break;
        }
        default:
            break;
    }
    return text_;
}

}  // namespace vantrove
