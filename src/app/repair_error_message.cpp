#include "app/repair_error_message.h"

#include <cstdio>
#include <cstring>

#include "core/disk_file.h"
#include "core/path.h"
#include "core/string_ids.h"
#include "core/string_table.h"
#include "core/table_lookup.h"

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

bool ErrorKindNamesFile(ErrorKind kind) {
    return kind == ErrorKind::Rename || kind == ErrorKind::CreateTarget ||
           kind == ErrorKind::Open || kind == ErrorKind::Read || kind == ErrorKind::Write;
}

std::string RepairErrorMessage(ErrorKind kind, uint32_t systemErrorCode,
                               const std::string& errorFile) {
    static constexpr std::pair<ErrorKind, int> kTexts[] = {
        {ErrorKind::Rename, kStrErrorCannotRename},
        {ErrorKind::CreateTarget, kStrErrorCannotCreate},
        {ErrorKind::Open, kStrErrorCannotOpen},
        {ErrorKind::Read, kStrErrorCannotRead},
        {ErrorKind::Write, kStrErrorCannotWrite},
        {ErrorKind::ReedSolomon, kStrErrorReedSolomon},
        {ErrorKind::MemoryTest, kStrErrorMemoryTest},
        {ErrorKind::Signature, kStrErrorSignatureMismatch},
        {ErrorKind::VerifyFailed, kStrErrorVerificationFailed},
        {ErrorKind::Cancelled, kStrRepairCancelled},
        {ErrorKind::Busy, kStrErrorSetBusy},
    };
    if (kind == ErrorKind::None) return {};
    std::string text = GetString(LookUp(kTexts, kind, kStrRepairFailed));
    if (!ErrorKindNamesFile(kind)) return text;
    return Fill(text, "%s", FileNameOfPath(errorFile)) + ": " + SystemErrorMessage(systemErrorCode);
}

}  // namespace vantrove
