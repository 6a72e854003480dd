#pragma once
// CreationJob: turns finished CreationParameters into a PAR 2.0 set.
//
// It hashes the source files, builds the critical packets (file
// descriptions, input file slice checksums, main) and the creator packet,
// lays out an index file and the recovery volumes with every packet's place
// fixed in advance, creates them at their final size, tests its working
// memory, computes the recovery blocks in passes bounded by a third of the
// physical memory (checking every result with the linear block signature),
// writes the splits of large source files when asked, and finally reads
// back the sources, the pieces and every file it wrote. A failure is a
// CreationFailure in the status record; finish() then deletes every volume
// written.
//
// Threads: run() and finish() are called once each, in that order, on the
// job's worker thread. The only data shared with other threads are the
// status slot (locked) and the stop flag (atomic). Internally the
// multiply-accumulate is spread over helper threads and the hashes of the
// data read run beside it; results are the same for any thread count.
//
// The parameters are borrowed and must outlive the job.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "create/creation_parameters.h"
#include "create/creation_status.h"
#include "create/volume_layout.h"
#include "engine/stop_flag.h"

namespace vantrove {

class VerificationCache;

// Lets tests damage memory or files at the points where damage must be
// caught. Never installed outside tests.
class CreationJobTestHooks {
  public:
    virtual ~CreationJobTestHooks() = default;
    // After one memory-test pattern has been written to `bytes` at `area`.
    virtual void AfterPatternWritten(uint8_t* area, size_t bytes) {}
    // Before the signature of recovery chunk `k` of a pass is checked.
    virtual void BeforeSignatureCheck(uint32_t k, uint8_t* data, size_t length) {}
    // After block `block` of pass `pass` has been read and hashed.
    virtual void AfterBlock(uint32_t pass, uint32_t block) {}
    // After the pass, before the sources and split pieces are read back.
    virtual void BeforeVerification() {}
    // After every volume is written and closed, before they are checked.
    virtual void BeforeOutputCheck() {}
};

struct CreationJobOptions {
    // Helper threads for the arithmetic and hashing; 0 takes one per processor.
    uint32_t threads = 0;
    // Where saved verification states live; null takes the default cache.
    VerificationCache* cache = nullptr;
    CreationJobTestHooks* hooks = nullptr;
};

class CreationJob {
  public:
    CreationJob(CreationParameters& parameters, CreationStatusSlot& status, const StopFlag& stop,
                CreationJobOptions options = {});
    ~CreationJob();
    CreationJob(const CreationJob&) = delete;
    CreationJob& operator=(const CreationJob&) = delete;

    // The whole job; true on success. A failure leaves kPhaseFailed with
    // its CreationFailure.
    bool run();
    // Always called after run: closes everything and, when the job failed or
    // was stopped, deletes every output it wrote.
    void finish(bool failed);

    // The output files in the order they were laid out (volumes, then the
    // index file unless extending), with their final names.
    std::vector<std::string> outputPaths() const;
    uint64_t chunkSize() const;
    uint32_t passCount() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace vantrove
