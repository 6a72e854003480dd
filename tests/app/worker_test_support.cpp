#include "app/worker_test_support.h"

#include <cstdio>
#include <filesystem>

#include "core/crc32.h"
#include "create/creation_job.h"
#include "create/creation_parameters.h"
#include "create/creation_status.h"
#include "support/test_env.h"

namespace vantrove::test {

namespace fs = std::filesystem;

std::vector<std::string> WriteDataFiles(const std::string& folder, int count, size_t size,
                                        std::mt19937_64& rng) {
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) {
        std::string path = folder + "/f" + std::to_string(i) + ".bin";
        WriteFile(path, RandomBytes(rng, size));
        paths.push_back(path);
    }
    return paths;
}

bool MakePar2Set(const std::string& folder, const std::vector<std::string>& files) {
    std::vector<CreationSourceFile> sources;
    for (const std::string& path : files) sources.push_back({path, fs::file_size(path)});
    return MakePar2SetOf(folder, sources);
}

bool MakePar2SetOf(const std::string& folder, const std::vector<CreationSourceFile>& sources) {
    CreationSettings settings;
    settings.restrictBlockSize = false;
    CreationParameters parameters(settings);
    parameters.AddFiles(sources);
    parameters.setBlockSize(1024);
    parameters.setRecoveryBlockCount(4);
    parameters.baseName = "set";
    parameters.destinationPath = folder + "/";
    CreationStatusSlot slot;
    StopFlag stop{0};
    CreationJobOptions options;
    options.threads = 1;
    CreationJob job(parameters, slot, stop, options);
    const bool ok = job.run();
    job.finish(!ok);
    return ok;
}

std::string MakeSfvList(const std::string& folder, const std::vector<std::string>& files) {
    std::string text = "; list\n";
    for (const std::string& path : files) {
        const std::vector<uint8_t> data = ReadFile(path);
        char crc[16];
        std::snprintf(crc, sizeof crc, "%08X", Crc32Update(0, data.data(), data.size()));
        text += fs::path(path).filename().string() + " " + crc + "\n";
    }
    const std::string list = folder + "/set.sfv";
    WriteFile(list, text);
    return list;
}

std::vector<std::string> FilesEndingIn(const std::string& folder, const std::string& suffix) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.size() >= suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
            names.push_back(name);
        }
    }
    return names;
}

void PacketRecorder::PostLinePacket(std::unique_ptr<LinePacket> packet) {
    std::lock_guard<std::mutex> lock(mutex_);
    packets_.push_back(std::move(packet));
}

std::vector<LinePacket> PacketRecorder::Packets() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<LinePacket> copies;
    for (const auto& packet : packets_) copies.push_back(*packet);
    return copies;
}

size_t PacketRecorder::Count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return packets_.size();
}

void RecordingClient::StatusChanged(const RecoverySetStatus& status) {
    {
        std::lock_guard<std::mutex> lock(historyMutex_);
        history_.push_back({std::chrono::steady_clock::now(), status});
    }
    WorkerClient::StatusChanged(status);
    const bool busy = status.activity != Activity::Idle;
    const bool verifying = status.activity == Activity::VerifyingDataFile ||
                           status.activity == Activity::ScanningFile ||
                           status.activity == Activity::CheckingFile;
    if (verifying) {
        std::unique_lock<std::mutex> lock(holdMutex_);
        if (armed_) {
            armed_ = false;
            holding_ = true;
            holdSignal_.notify_all();
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (!released_ && holdStop_->load() == 0 && std::chrono::steady_clock::now() < end)
                holdSignal_.wait_for(lock, std::chrono::milliseconds(1));
            holding_ = false;
        }
    }
    if (busy && sleepOnBusy_.count() > 0) std::this_thread::sleep_for(sleepOnBusy_);
}

void RecordingClient::HoldNextFile(const StopFlag* stop) {
    std::lock_guard<std::mutex> lock(holdMutex_);
    holdStop_ = stop;
    armed_ = true;
    released_ = false;
}

bool RecordingClient::WaitUntilHeld() {
    std::unique_lock<std::mutex> lock(holdMutex_);
    return holdSignal_.wait_for(lock, std::chrono::seconds(20), [this] { return holding_; });
}

void RecordingClient::Release() {
    std::lock_guard<std::mutex> lock(holdMutex_);
    released_ = true;
    holdSignal_.notify_all();
}

std::vector<RecordedStatus> RecordingClient::History() const {
    std::lock_guard<std::mutex> lock(historyMutex_);
    return history_;
}

bool IsIdle(const RecoverySetStatus& status) {
    return status.activity == Activity::Idle && status.progressPosition == 1 &&
           status.progressTotal == 1;
}

}  // namespace vantrove::test
