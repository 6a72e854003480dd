#pragma once
// Helpers of the worker tests: small PAR 2.0 sets made with the program's
// own creation job, SFV lists, and an observer that records what the worker
// hands over and can hold the worker inside a scan.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/line_packet.h"
#include "app/verification_worker.h"
#include "app/worker_client.h"
#include "create/creation_parameters.h"
#include "engine/verification_cache.h"
#include "engine/stop_flag.h"
#include "support/test_env.h"

namespace vantrove::test {

// Writes `count` files "f<i>.bin" of `size` random bytes into `folder`.
std::vector<std::string> WriteDataFiles(const std::string& folder, int count, size_t size,
                                        std::mt19937_64& rng);
// Makes the PAR 2.0 set "<folder>/set.par2" (with volumes) for `files`;
// false when the creation job failed.
bool MakePar2Set(const std::string& folder, const std::vector<std::string>& files);
// The same for `sources` with their stored names (1024-byte blocks, 4
// recovery blocks).
bool MakePar2SetOf(const std::string& folder, const std::vector<CreationSourceFile>& sources);
// Writes "<folder>/set.sfv" listing `files` with their CRC-32.
std::string MakeSfvList(const std::string& folder, const std::vector<std::string>& files);
// Names of the files in `folder` ending in `suffix`.
std::vector<std::string> FilesEndingIn(const std::string& folder, const std::string& suffix);

class PacketRecorder : public LinePacketSink {
  public:
    void PostLinePacket(std::unique_ptr<LinePacket> packet) override;
    std::vector<LinePacket> Packets() const;
    size_t Count() const;

  private:
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<LinePacket>> packets_;
};

struct RecordedStatus {
    std::chrono::steady_clock::time_point at;
    RecoverySetStatus status;
};

// A WorkerClient that also keeps every status it is handed. Optionally it
// sleeps on every busy status (making scans slow), or holds the worker at
// the first status of a file being verified until the worker's stop flag is
// set or Release() is called.
class RecordingClient : public WorkerClient {
  public:
    explicit RecordingClient(LinePacketSink* sink) : WorkerClient(sink) {}

    void StatusChanged(const RecoverySetStatus& status) override;

    void SleepOnBusy(std::chrono::milliseconds each) { sleepOnBusy_ = each; }
    // Holds the next verification of a file until `stop` is set or Release.
    void HoldNextFile(const StopFlag* stop);
    // Waits until the worker is held; false after the time-out.
    bool WaitUntilHeld();
    void Release();

    std::vector<RecordedStatus> History() const;
    // Waits until the latest status satisfies `predicate`; false after 20 s.
    template <class Predicate>
    bool WaitFor(Predicate predicate) const {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < end) {
            if (StatusCount() > 0 && predicate(LatestStatus())) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }

  private:
    std::chrono::milliseconds sleepOnBusy_{0};
    mutable std::mutex historyMutex_;
    std::vector<RecordedStatus> history_;
    std::mutex holdMutex_;
    std::condition_variable holdSignal_;
    const StopFlag* holdStop_ = nullptr;
    bool holding_ = false;
    bool armed_ = false;
    bool released_ = false;
};

// What a worker test needs: a folder for the set, a cache of its own and a
// client that records what the worker hands over.
struct WorkerFixture {
    TempDir dir;
    TempDir cacheDir;
    std::mt19937_64 rng{TestSeed()};
    VerificationCache cache{cacheDir.path() + "/"};
    PacketRecorder packets;
    RecordingClient client{&packets};

    VerificationWorkerOptions Options(
        std::chrono::milliseconds rescan = std::chrono::milliseconds(30000)) {
        VerificationWorkerOptions options;
        options.rescanPeriod = rescan;
        options.cache = &cache;
        return options;
    }
    bool StateSaved() { return !FilesEndingIn(cacheDir.path(), ".vt").empty(); }
};

// The worker's end of a batch: idle with a progress of 1 of 1.
bool IsIdle(const RecoverySetStatus& status);

}  // namespace vantrove::test
