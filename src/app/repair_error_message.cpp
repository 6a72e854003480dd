#include "app/repair_error_message.h"

#include <cstdio>
#include <cstring>

#include "core/disk_file.h"
#include "core/path.h"
#include "core/string_ids.h"
#include "core/string_table.h"

namespace vantrove {
namespace {

// Replaces the first "%s" or "%d" of `format` by `value`.
std::string Fill(const std::string& format, const char* marker, const std::string& value) {
    std::string text = format;
    size_t at = text.find(marker);
    if (at != std::string::npos) text.replace(at, 2, value);
    return text;
}

}  // namespace

std::string SystemErrorMessage(uint32_t systemErrorCode) {
    const int code = static_cast<int>(systemErrorCode);
    std::string text = SystemErrorText(code);
    // The C library calls every number it has no text for "Unknown error N".
    if (code == 0 || text.empty() || text.rfind("Unknown error", 0) == 0) {
        return Fill(GetString(kStrErrorSystemCode), "%d", std::to_string(code));
    }
    return text;
}

std::string RepairErrorMessage(ErrorKind kind, uint32_t systemErrorCode,
                               const std::string& errorFile) {
    int id = 0;
    bool withFile = true;
    switch (kind) {
        case ErrorKind::None:
            return {};
        case ErrorKind::Rename:
            id = kStrErrorCannotRename;
            break;
        case ErrorKind::CreateTarget:
            id = kStrErrorCannotCreate;
            break;
        case ErrorKind::Open:
            id = kStrErrorCannotOpen;
            break;
        case ErrorKind::Read:
            id = kStrErrorCannotRead;
            break;
        case ErrorKind::Write:
            id = kStrErrorCannotWrite;
            break;
        case ErrorKind::ReedSolomon:
            id = kStrErrorReedSolomon;
            withFile = false;
            break;
        case ErrorKind::MemoryTest:
            id = kStrErrorMemoryTest;
            withFile = false;
            break;
        case ErrorKind::Signature:
            id = kStrErrorSignatureMismatch;
            withFile = false;
            break;
        case ErrorKind::VerifyFailed:
            id = kStrErrorVerificationFailed;
            withFile = false;
            break;
        case ErrorKind::Cancelled:
            id = kStrRepairCancelled;
            withFile = false;
            break;
        case ErrorKind::Busy:
            id = kStrErrorSetBusy;
            withFile = false;
            break;
        default:
            id = kStrRepairFailed;
            withFile = false;
            break;
    }
    std::string text = GetString(id);
    if (!withFile) return text;
    return Fill(text, "%s", FileNameOfPath(errorFile)) + ": " + SystemErrorMessage(systemErrorCode);
}

}  // namespace vantrove
