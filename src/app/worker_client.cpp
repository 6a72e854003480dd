#include "app/worker_client.h"

#include <utility>

namespace vantrove {

WorkerClient::WorkerClient(LinePacketSink* sink) : sink_(sink) {}

void WorkerClient::PostLocked(std::unique_ptr<LinePacket> packet) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closing_ || sink_ == nullptr) return;
    sink_->PostLinePacket(std::move(packet));
}

void WorkerClient::ReportVolumeFile(const SetFile& file) {
    auto packet = std::make_unique<LinePacket>();
    packet->kind = LinePacketKind::VolumeFile;
    packet->path = file.path;
    packet->size = file.size;
    packet->blocksTaken = file.blocksTaken;
    packet->displayCode = VolumeDisplayCodeOf(file);
    PostLocked(std::move(packet));
}

void WorkerClient::RemoveVolumeFile(const SetFile& file) {
    auto packet = std::make_unique<LinePacket>();
    packet->kind = LinePacketKind::RemoveVolumeFile;
    packet->path = file.path;
    PostLocked(std::move(packet));
}

void WorkerClient::StatusChanged(const RecoverySetStatus& status) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        latest_ = status;
        latest_.timeStamp = TickCountMs();
        ++statusCount_;
    }
    StatusListener listener;
    {
        std::lock_guard<std::mutex> lock(listenerMutex_);
        listener = listener_;
    }
    if (listener) listener(status);
}

void WorkerClient::SetStatusListener(StatusListener listener) {
    std::lock_guard<std::mutex> lock(listenerMutex_);
    listener_ = std::move(listener);
}

void WorkerClient::ReportSourceFileLine(SourceRowKind rowKind, FormatKind formatKind,
                                        const std::string& name, uint64_t size, uint32_t blockCount,
                                        const std::vector<SourcePlace>& places) {
    auto packet = std::make_unique<LinePacket>();
    packet->kind = LinePacketKind::SourceFileLine;
    packet->path = name;
    packet->size = size;
    packet->rowKind = rowKind;
    packet->formatKind = formatKind;
    packet->blockCount = blockCount;
    packet->places = places;
    PostLocked(std::move(packet));
}

void WorkerClient::ClearLists() {
    if (sink_ == nullptr) return;
    auto packet = std::make_unique<LinePacket>();
    packet->kind = LinePacketKind::ClearLists;
    sink_->PostLinePacket(std::move(packet));
}

bool WorkerClient::SampleStatus(RecoverySetStatus& out, uint64_t& seen) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (statusCount_ == seen) return false;
    out = latest_;
    seen = statusCount_;
    return true;
}

RecoverySetStatus WorkerClient::LatestStatus() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return latest_;
}

uint64_t WorkerClient::StatusCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return statusCount_;
}

void WorkerClient::MarkClosing() {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
}

bool WorkerClient::closing() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return closing_;
}

}  // namespace vantrove
