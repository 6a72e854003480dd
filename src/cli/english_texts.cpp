#include "cli/english_texts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "app/repair_error_message.h"
#include "cli/terminal_name.h"
#include "core/path.h"
#include "core/table_lookup.h"
#include "create/creation_status.h"

namespace vantrove::cli {

namespace {

std::string Count(uint64_t n, const char* unit) {
    return std::to_string(n) + " " + unit + (n == 1 ? "" : "s");
}

}  // namespace

std::string EnglishDuration(uint64_t seconds) {
    if (seconds >= 3600) return Count(seconds / 3600, "hour") + ", " + Count(seconds / 60 % 60, "minute");
    if (seconds >= 60) return Count(seconds / 60, "minute") + ", " + Count(seconds % 60, "second");
    return Count(seconds, "second");
}

std::string EnglishSpeed(double mibPerSecond) {
    if (!std::isfinite(mibPerSecond) || mibPerSecond < 0) mibPerSecond = 0;
    char text[64];
    if (mibPerSecond > 10) {
        std::snprintf(text, sizeof text, "%.0f MB/s", mibPerSecond);
    } else if (mibPerSecond >= 1) {
        std::snprintf(text, sizeof text, "%.1f MB/s", mibPerSecond);
    } else {
        std::snprintf(text, sizeof text, "%.0f KB/s", mibPerSecond * 1024);
    }
    return text;
}

double JobSpeed(uint64_t bytes, uint64_t milliseconds) {
    return static_cast<double>(bytes) / 1048576.0 /
           (static_cast<double>(std::max<uint64_t>(milliseconds, 1)) / 1000.0);
}

std::string EnglishCreationPhase(int phase) {
    switch (phase) {
        case kPhaseHashing:
            return "Hashing";
        case kPhaseMemoryTest:
            return "Testing memory";
        case kPhaseMatrix:
            return "Computing the Reed-Solomon matrix";
        case kPhaseWriting:
            return "Writing recovery data";
        case kPhaseVerifySplit:
            return "Verifying the piece";
        case kPhaseReverifySource:
            return "Verifying the data file";
        case kPhaseVerifyOutput:
            return "Verifying the recovery file";
        default:
            return {};
    }
}

std::string EnglishCreationFailure(int code) {
    static const char* const kFailures[] = {
        "no source files",
        "no source blocks",
        "not enough memory for the Reed-Solomon matrix",
        "the description packets could not be made",
        "wrong number of source slices",
        "a recovery file could not be created",
        "a recovery file could not be given its size",
        "no memory for the output buffer",
        "the Reed-Solomon computation failed",
        "a source file could not be read",
        "recovery data could not be written",
        "a recovery packet header could not be written",
        "the critical packets could not be written",
        "a recovery block does not match its checksum",
        "a memory error was found",
        "the new recovery files did not verify",
        "the source data did not verify",
    };
    constexpr int kCount = static_cast<int>(sizeof kFailures / sizeof kFailures[0]);
    if (code < 1 || code > kCount) return "Creation failed";
    return std::string("Creation failed: ") + kFailures[code - 1];
}

std::string EnglishRepairError(ErrorKind kind, uint32_t systemErrorCode,
                               const std::string& errorFile) {
    static constexpr std::pair<ErrorKind, const char*> kTexts[] = {
        {ErrorKind::Rename, "Cannot rename"},
        {ErrorKind::CreateTarget, "Cannot create"},
        {ErrorKind::Open, "Cannot open"},
        {ErrorKind::Read, "Cannot read from"},
        {ErrorKind::Write, "Cannot write to"},
        {ErrorKind::ReedSolomon, "error in the Reed-Solomon computation"},
        {ErrorKind::MemoryTest, "a memory error was found"},
        {ErrorKind::Signature, "computed data failed its checksum: probably a memory error"},
        {ErrorKind::VerifyFailed, "a rebuilt file failed its verification"},
        {ErrorKind::Cancelled,
         "stopped: the repair was interrupted; the files it did not finish are as they were"},
        {ErrorKind::Busy, "the set is busy: another repair or creation is working in its folder"},
    };
    if (kind == ErrorKind::None) return {};
    const std::string text = LookUp(kTexts, kind, "repair failed");
    // For a kind that names a file, the text is the verb before its name.
    if (!ErrorKindNamesFile(kind)) return text;
    const int code = static_cast<int>(systemErrorCode);
    const std::string reason =
        code != 0 ? std::string(std::strerror(code)) : "error " + std::to_string(code);
    return text + " \"" + TerminalName(FileNameOfPath(errorFile)) + "\": " + reason;
}

}  // namespace vantrove::cli
