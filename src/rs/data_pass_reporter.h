#pragma once
// DataPassReporter: how the data pass tells its set what it is doing.
//
// The set that runs a repair implements it over its status record: the
// activity with the string-table id of the current-file text, the 64-bit
// progress, the error kind with the system error code and the failing path,
// and the stop flag that the user interface sets. The data pass calls every
// operation on the thread that called it (the set's worker); only the stop
// flag is read by its helper threads as well.

#include <atomic>
#include <cstdint>
#include <string>

namespace vantrove {

// Activities of a rebuild, as the status record numbers them.
inline constexpr int32_t kActivityMemoryTest = 8;
inline constexpr int32_t kActivityRecoveringData = 9;
inline constexpr int32_t kActivityWritingData = 10;

// String-table ids of the current-file texts of those activities.
inline constexpr uint32_t kTextRecoveryData = 503;          // "Dati di recupero"
inline constexpr uint32_t kTextWritingRecoveredData = 504;  // "Scrittura dati recuperati sul disco"

// Error kinds the data pass records (the status record's numbering).
inline constexpr int32_t kErrorMemory = 5;             // the memory test found a difference
inline constexpr int32_t kErrorRead = 6;               // an input could not be read
inline constexpr int32_t kErrorWrite = 7;              // a target could not be written
inline constexpr int32_t kErrorSignatureMismatch = 8;  // a computed block failed its signature
inline constexpr int32_t kErrorCancelled = 10;         // the stop flag was set
// Working memory could not be obtained, or the job was inconsistent; outside
// the specific kinds, so it reads as a general repair failure.
inline constexpr int32_t kErrorDataPassFailed = 11;

class DataPassReporter {
  public:
    virtual ~DataPassReporter() = default;
    // `textId` names the current-file text; 0 leaves it as it is.
    virtual void SetActivity(int32_t activity, uint32_t textId) = 0;
    virtual void SetProgress(uint64_t position, uint64_t total) = 0;
    // `systemErrorCode` is an errno value (0 for none), `filePath` may be empty.
    virtual void RecordError(int32_t kind, uint32_t systemErrorCode,
                             const std::string& filePath) = 0;
    // The stop flag (non-zero: stop), or null when the pass cannot be stopped.
    virtual const std::atomic<uint32_t>* StopFlag() const = 0;
};

}  // namespace vantrove
