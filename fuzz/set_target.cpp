// One fuzz target per set format: the input is the set file the user names
// (VANTROVE_FUZZ_SET_NAME, e.g. "s.par2"), put into a folder holding the data
// files the seeds describe, and goes through the same calls as
// `vantrove-cli repair`: open, scan, repair when possible, save the state.
// VANTROVE_FUZZ_STATE instead keeps a fixed PAR2 set in the folder and
// takes the input as that set's saved state ("s.vt2", kept beside the set
// because the cache folder cannot be made).

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "cli/cli_observer.h"
#include "app/set_session.h"
#include "engine/recovery_set.h"
#include "fuzz/fuzz_support.h"

namespace {

using namespace vantrove;

#ifdef VANTROVE_FUZZ_STATE
constexpr bool kStateTarget = true;
constexpr char kSetName[] = "s.par2";
#else
constexpr bool kStateTarget = false;
constexpr char kSetName[] = VANTROVE_FUZZ_SET_NAME;
#endif

void PutFixture() {
#ifdef VANTROVE_FUZZ_FIXTURE
    for (const auto& e : std::filesystem::directory_iterator(VANTROVE_FUZZ_FIXTURE)) {
        std::filesystem::copy_file(e.path(), fuzz::SetFolder() + e.path().filename().string(),
                                   std::filesystem::copy_options::overwrite_existing);
    }
#endif
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::Setup(!kStateTarget);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::ResetSetFolder();
    std::string path;
    if (kStateTarget) {
        PutFixture();
        fuzz::WriteInput("s.vt2", data, size);
        path = fuzz::SetFolder() + kSetName;
    } else {
        path = fuzz::WriteInput(kSetName, data, size);
    }
    {
        StopFlag stop{0};
        cli::CliObserver observer(false);
        SetSession session(&observer, &stop);
        if (!session.Open(path, ScanMode::ReadEverything)) return 0;
        session.FinishActivity();
        const RecoverySetStatus& status = session.set()->status();
        const bool repairable = status.state == RecoveryState::PartlyJoinable ||
                                status.state == RecoveryState::RepairPossible;
        // Small sets only: a claimed size of terabytes is tried by the scan,
        // not written out a million times.
        if (repairable && status.blockSize * status.totalDataBlocks <= (4u << 20)) {
            RepairOptions options;
            options.deleteDamagedFiles = true;
            options.deleteRecoveryFiles = true;
            options.useRecycleBin = false;
            options.physicalMemoryBytes = 64u << 20;
            session.Repair(options);
            session.FinishActivity();
        }
        session.Save();
    }
    fuzz::CheckOutside();
    return 0;
}
