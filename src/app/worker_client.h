#pragma once
// WorkerClient: the SetObserver that carries a set's reports from the
// verification worker to whoever shows them (the verify/repair dialog, the
// tests), without that side ever touching the set.
//
// Status records are not queued: StatusChanged copies the whole record into
// a latest-status slot under the client's lock and stamps it; the reader
// samples the slot on its own timer (the dialog every 100 ms), so a record
// that is replaced before it is sampled is simply never seen. Line changes
// are built into LinePackets and handed to the LinePacketSink: the volume and
// source-file lines while holding the same lock and only until the reader
// has marked itself as closing; ClearLists without the lock.
//
// The observer operations run on the worker thread; SampleStatus,
// LatestStatus and MarkClosing on the reader's thread. The client's lock, and
// the listener's lock while the listener is fetched, are the only locks taken
// by the observer operations, and they never call back into the worker. The client must outlive the
// worker's use of it.

#include <cstdint>
#include <functional>
#include <mutex>

#include "app/line_packet.h"
#include "engine/set_observer.h"

namespace vantrove {

class WorkerClient : public SetObserver {
  public:
    // `sink` may be null: the lines are then dropped and only the status is
    // kept.
    explicit WorkerClient(LinePacketSink* sink);

    // ---- SetObserver, on the worker thread.
    void ReportVolumeFile(const SetFile& file) override;
    void RemoveVolumeFile(const SetFile& file) override;
    void StatusChanged(const RecoverySetStatus& status) override;
    void ReportSourceFileLine(SourceRowKind rowKind, FormatKind formatKind, const std::string& name,
                              uint64_t size, uint32_t blockCount,
                              const std::vector<SourcePlace>& places) override;
    void ClearLists() override;

    // ---- The reader's side.

    // Copies the latest status into `out` when it was handed over after the
    // hand-over numbered `seen`, and updates `seen`; false (and `out`
    // untouched) when nothing new arrived. Start with seen = 0.
    bool SampleStatus(RecoverySetStatus& out, uint64_t& seen) const;
    // A copy of the latest status (the default record before any).
    RecoverySetStatus LatestStatus() const;
    // How many status records have been handed over so far.
    uint64_t StatusCount() const;
    // Called on the worker thread with every status, once the reader can
    // sample it: a test holds the worker at a status this way. Empty: none.
    using StatusListener = std::function<void(const RecoverySetStatus&)>;
    void SetStatusListener(StatusListener listener);

    // From now on no more lines are posted (the reader is going away).
    void MarkClosing();
    bool closing() const;

  private:
    void PostLocked(std::unique_ptr<LinePacket> packet);

    LinePacketSink* sink_;
    mutable std::mutex mutex_;
    RecoverySetStatus latest_;
    uint64_t statusCount_ = 0;
    bool closing_ = false;
    std::mutex listenerMutex_;
    StatusListener listener_;
};

}  // namespace vantrove
