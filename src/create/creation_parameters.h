#pragma once
// CreationParameters: the model of one creation of a PAR 2.0 set.
//
// It holds the source file list and every choice of the user (block size,
// source block count, redundancy, recovery block count, first exponent,
// number and size scheme of the recovery files, splitting), keeps each within
// its bounds, recomputes the dependent values whenever one changes, and
// derives the figures the create dialog shows. It has no user-interface code:
// the create dialog and the command line call its operations and read its
// fields; the creation job reads it when it starts.
//
// Fields are public for reading; change them only through the operations so
// the model stays consistent. Counts are unsigned 32-bit, sizes unsigned
// 64-bit, and every formula uses truncating integer arithmetic unless it
// says otherwise.
//
// Ownership: the create dialog (or the command line) owns the object and
// hands it to the creation job for the job's life; one thread at a time.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/machine.h"

namespace vantrove {

class MainPacket;
class FileDescriptionPacket;

// Sizes of the recovery files.
enum SizeScheme : uint32_t {
    kPowersOfTwo = 1,
    kLimitedToLargest = 2,
    kUniform = 3,
};

// The stored options creation starts from (taken from the settings record
// when the dialog or the command line begins).
struct CreationSettings {
    uint32_t preferredBlockSize = 384000;
    bool restrictBlockSize = true;
    uint32_t recoveryBlockFraction = 1000;  // hundredths of a percent
    uint32_t recoveryFileSizeScheme = kLimitedToLargest;
    bool splitSourceFiles = false;
    uint64_t splitSourceLimit = 15000000;
};

// What start-up measured about the machine.
struct MachineFigures {
    uint64_t physicalMemoryBytes = kAssumedPhysicalMemoryBytes;
    int64_t bytesPerSecond = 262144000;
    int64_t tableSetupsPerSecond = 0;  // 0 while unmeasured
};

struct CreationSourceFile {
    std::string path;  // full path
    uint64_t size = 0;
    // The name the set stores, a path relative to the set's folder
    // ("docs/a.txt"); empty for the file's own name.
    std::string storedName;
};

// Result of FindBlockSize.
struct BlockSizeChoice {
    uint64_t blockSize = 0;
    uint64_t count = 0;
    bool hasSmaller = false;  // a smaller multiple of the granule exists
    uint64_t smallerBlockSize = 0;
    uint64_t smallerCount = 0;
};

// The smallest multiple of `granule` for which the sizes need at most
// `limit` blocks, with that count, and the next smaller multiple (whose
// count exceeds the limit) when one exists. When the granule itself fits,
// it is the answer with no smaller size; when there are at least `limit`
// sizes, every file gets one block of the largest size rounded up to the
// granule. REQUIRES: granule > 0, every size > 0.
BlockSizeChoice FindBlockSize(const std::vector<uint64_t>& sizes, uint64_t limit, uint64_t granule);

// Blocks of `count` volumes that start at 1, 2, 4 … and are trimmed or grown
// so that they add up to `total`.
std::vector<uint32_t> PowerOfTwoSizes(uint32_t count, uint32_t total);

// Number of binary digits of v (0 for 0).
uint32_t BitLength(uint64_t v);

// What an existing set gives an extension: its packets, names and the first
// exponent its recovery blocks do not use.
struct ExistingSetInfo {
    std::shared_ptr<MainPacket> mainPacket;
    // In the order of the main packet's file ids.
    std::vector<std::shared_ptr<FileDescriptionPacket>> fileDescriptions;
    std::string baseName;
    std::string folder;  // ends in '/'
    uint32_t firstUnusedExponent = 0;
};

class CreationParameters {
  public:
    explicit CreationParameters(const CreationSettings& settings = {},
                                const MachineFigures& machine = {});
    ~CreationParameters();

    // File list. Each change recomputes names, bounds and the default block
    // size. Removing files (or clearing the list) during an extension ends
    // the extension.
    void AddFiles(const std::vector<CreationSourceFile>& files);
    // Takes the stored names of `named` (the same files, in the same order)
    // without touching anything else.
    void SetStoredNames(const std::vector<CreationSourceFile>& named);
    void RemoveFile(size_t index);
    // Removes the files at these indices (any order; repeats and indices
    // past the end are ignored) with one recomputation.
    void RemoveFiles(std::vector<size_t> indices);
    void ClearFiles();
    const std::vector<CreationSourceFile>& files() const { return files_; }

    void setBlockSize(uint64_t size);
    void setSourceBlockCount(uint64_t n);
    void setRedundancy(uint32_t hundredthsOfPercent);
    void setRecoveryBlockCount(uint64_t r);
    void setRecoveryFileCount(uint32_t n);
    void setSizeScheme(uint32_t scheme);
    void setFirstRecoveryBlock(uint64_t v);
    void setGranuleRestriction(bool on);
    void setSplit(bool on);
    void setSplitLimit(uint64_t bytes);

    // Prepares the extension of a loaded set.
    void initFromExistingSet(const ExistingSetInfo& set);

    void recomputeFileCount();
    // Blocks of each recovery volume in volume order; adds up to R.
    std::vector<uint32_t> volumeBlockCounts() const;
    // Copies of the index each of those volumes carries (IndexCopies).
    std::vector<uint32_t> volumeIndexCopies() const;
    // Lays the recovery volumes out with these block counts, in order,
    // instead of by the size scheme, for a caller that follows a layout of
    // its own. They must add up to R (a creation fails otherwise); a volume
    // of 0 blocks is not written. Any later change to the recovery blocks,
    // the file count or the scheme goes back to the scheme's layout.
    void setVolumeBlockCounts(std::vector<uint32_t> counts);

    // Derived figures.
    uint64_t recoveryDataSize() const;
    uint32_t efficiency() const;  // tenths of a percent
    void rebuildableFiles(uint32_t& minimum, uint32_t& maximum) const;
    uint64_t processingSeconds() const;
    uint64_t creatorPacketSize() const;
    // Bytes of one copy of the set's index: the file description, IFSC and
    // main packets.
    uint64_t indexBytes() const;

    // Blocks per split piece (0 when splitting is off).
    uint64_t splitPieceBlocks() const;
    // Lowest split limit the dialog accepts, and its spin step.
    uint64_t splitLowerBound() const;
    uint64_t splitStep() const;

    // Slider scales (positions 0 … 1000000).
    uint32_t sourceBlockPosition() const;
    uint64_t sourceBlocksAt(uint32_t position) const;
    uint32_t recoveryBlockPosition() const;
    uint64_t recoveryBlocksAt(uint32_t position) const;

    // The name offered for the recovery files.
    std::string offeredBaseName() const;

    // Fields (read only from outside).
    std::string baseName;
    std::string destinationPath;  // ends in '/'
    std::string defaultBaseName;
    std::string folderBaseName;
    std::string defaultPath;
    uint64_t totalDataSize = 0;
    uint64_t largestFileSize = 0;
    uint32_t nonEmptyFileCount = 0;
    uint64_t paddedNameBytes = 0;
    uint64_t blockGranule = 4;
    uint64_t blockSize = 4;
    uint64_t minBlockSize = 4;
    uint64_t maxBlockSize = 4;
    uint64_t sourceBlockCount = 0;
    uint64_t minSourceBlocks = 0;
    uint64_t maxSourceBlocks = 0;
    uint32_t sourceEfficiency = 1000;
    uint32_t redundancy = 1000;
    uint64_t recoveryBlockCount = 0;
    uint64_t firstRecoveryBlock = 0;
    uint64_t lowestFirstBlock = 0;
    uint32_t recoveryFileCount = 0;
    uint32_t sizeScheme = kLimitedToLargest;
    uint32_t criticalCopyFactor = 0;
    bool splitSourceFiles = false;
    uint64_t splitLimit = 15000000;
    bool fileListEditable = true;
    bool extendExistingSet = false;
    std::shared_ptr<MainPacket> existingMainPacket;
    std::vector<std::shared_ptr<FileDescriptionPacket>> existingFileDescriptions;

    CreationSettings settings;
    MachineFigures machine;

  private:
    std::vector<uint32_t> volumeCounts_;  // set by setVolumeBlockCounts
    // The file count was given through setRecoveryFileCount since the last
    // change of scheme: it is kept even when its copies of the index cost
    // more than the doubling layout's.
    bool fileCountChosen_ = false;
    // Blocks of the full volumes of the limited scheme: those of the largest
    // file (or split piece), or more when so many volumes would cost more
    // index than the doubling layout.
    uint64_t limitedVolumeBlocks_ = 1;

    void FileListChanged();
    void EndExtension();
    void ComputeNames();
    void ComputeBounds();
    void ChooseDefaultBlockSize();
    void ComputeSourceEfficiency();
    void RecoveryFollowsSource();
    void RefreshCriticalCopyFactor();
    void LimitFirstBlock();
    uint64_t GranuleFromSettings() const;
    std::vector<uint64_t> NonEmptySizes() const;
    uint64_t LargestFileBlocks() const;
    // The most volumes that, carrying one copy of the index each, cost no
    // more index than the doubling layout of the recovery blocks.
    uint64_t IndexedVolumeLimit() const;

    std::vector<CreationSourceFile> files_;
};

}  // namespace vantrove
