#pragma once
// A small format for the engine tests: entries are added by hand, blocks are
// located by hand, and the saved state carries a one-line description per
// entry (a CRC and a name, as a checksum-file format would). Also an observer
// that records everything it is told.

#include <memory>
#include <string>
#include <vector>

#include "engine/recovery_set.h"
#include "engine/set_format.h"
#include "engine/set_observer.h"
#include "engine/state_stream.h"

namespace vantrove::test {

struct TestDescription : FileDescription {
    uint32_t crc = 0;
    uint64_t size = 0;
    std::string name;
    void WriteState(StateWriter& writer) const override;
    static FileDescriptionRef Read(DescriptionSlot slot, StateReader& reader);
};

// A set of the test format: a RecoverySet bound to a TestFormat, with helpers
// that fill it by hand.
class TestSet : public RecoverySet {
  public:
    explicit TestSet(SetObserver* observer = nullptr, const StopFlag* stop = nullptr);

    // Adds an entry (before Finish) with a description in the SFV slot.
    SourceFileEntry& AddEntry(const std::string& name, uint64_t size);
    // Folder, block size, then FinishLoading. Block counts follow the sizes.
    bool Finish(const std::string& folder, uint64_t blockSize);
    SourceFileEntry& Entry(size_t i) { return *entries()[i]; }
    void SetRecoveryBlocks(int32_t n) { SetRecoveryBlocksAvailable(n); }
    void ForceState(RecoveryState state) { SetSetState(state); }
    std::vector<DataBlock>& MutableFoundBlocks() { return foundBlocksToFill(); }

    // An other data file in the set's folder, entered into the known files.
    SetFileRef AddOtherFile(const std::string& name, uint64_t size);
    // Marks the entry's target verified with `result` and re-evaluates it.
    void SetTargetResult(SourceFileEntry& entry, VerifyResult result);
    // Locates every block of `entry` in `file` at consecutive offsets.
    void LocateAll(SourceFileEntry& entry, const SetFileRef& file);

    // Saved state through the set's cache under `key` ("VT6" magic).
    bool SaveAs(const std::string& key);
    bool LoadFrom(const std::string& key);
    uint64_t secondValue = 0x1122334455667788ULL;
    // Writes only the first entry into the format part's list (a damaged
    // writer: the other entries are then only reachable through files).
    bool listOnlyFirstEntry = false;
};

// The format of a TestSet: recovery data that rebuilds nothing, no volumes.
class TestFormat final : public SetFormat {
  public:
    explicit TestFormat(TestSet& set) : set_(set) {}

    std::string VolumeSetName(const std::string& fileName) const override { return {}; }
    bool LoadVolume(const SetFileRef& file, bool checkOnly) override { return false; }
    bool TakesMoreVolumes() const override { return false; }
    bool Described() const override { return true; }
    std::string CreatorText() const override { return "test"; }
    bool SearchesOtherFiles() const override { return true; }
    bool TriesForeignVolumes() const override { return false; }
    void VerifyDataFile(const SetFileRef& file, SourceFileEntry*& entryOut,
                        DataFileOutcome& outcome, bool checkOnly) override {
        outcome = DataFileOutcome::NothingFound;
    }
    bool HasRecoveryData() const override { return true; }
    bool SaveState(const std::string& setPath) override { return set_.SaveAs(setPath + ".vt6"); }
    bool LoadState(const std::string& setPath) override { return set_.LoadFrom(setPath + ".vt6"); }
    bool SameSetAs(const SetFormat& other) const override { return false; }
    std::unique_ptr<SetFormat> NewFormatFor(RecoverySet& set) const override { return nullptr; }

  private:
    TestSet& set_;
};

class RecordingObserver : public SetObserver {
  public:
    struct Line {
        SourceRowKind row;
        FormatKind format;
        std::string name;
        uint64_t size;
        uint32_t blockCount;
        std::vector<SourcePlace> places;
    };
    void ReportVolumeFile(const SetFile& file) override;
    void RemoveVolumeFile(const SetFile& file) override { removed.push_back(file.path); }
    void StatusChanged(const RecoverySetStatus& status) override { statuses.push_back(status); }
    void ReportSourceFileLine(SourceRowKind rowKind, FormatKind formatKind, const std::string& name,
                              uint64_t size, uint32_t blockCount,
                              const std::vector<SourcePlace>& places) override;
    void ClearLists() override { ++clears; }

    std::vector<std::pair<std::string, VolumeDisplayCode>> volumes;
    std::vector<std::string> removed;
    std::vector<RecoverySetStatus> statuses;
    std::vector<Line> lines;
    int clears = 0;
};

}  // namespace vantrove::test
