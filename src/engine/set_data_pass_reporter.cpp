#include "engine/set_data_pass_reporter.h"

#include "core/string_table.h"
#include "engine/recovery_set.h"

namespace vantrove {

void SetDataPassReporter::SetActivity(int32_t activity, uint32_t textId) {
    // Without a text the current file stays what it was.
    set_.SetActivity(static_cast<Activity>(activity),
                     textId != 0 ? GetString(static_cast<int>(textId)) : set_.status().currentFile);
    set_.NotifyStatus();
}

void SetDataPassReporter::SetProgress(uint64_t position, uint64_t total) {
    set_.SetProgress(position, total);
    set_.NotifyStatus();
}

void SetDataPassReporter::RecordError(int32_t kind, uint32_t systemErrorCode,
                                      const std::string& filePath) {
    // The first failure is the one to report: once a disk is full, the writes
    // of every other output fail after it.
    if (set_.status().errorKind != ErrorKind::None) return;
    // A file being rebuilt is named as the user knows it, not by its work name.
    set_.RecordError(static_cast<ErrorKind>(kind), static_cast<int>(systemErrorCode),
                     FinalPathOfPart(filePath));
}

const std::atomic<uint32_t>* SetDataPassReporter::StopFlag() const {
    return set_.stopFlag();
}

}  // namespace vantrove
