#include "create/creation_parameters.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>

#include "core/path.h"
#include "core/string_ids.h"
#include "core/string_table.h"
#include "create/volume_layout.h"
#include "par2/file_description_packet.h"
#include "par2/main_packet.h"

namespace vantrove {

namespace {

constexpr uint64_t kMaxSourceBlocks = 32767;
constexpr uint64_t kExponentLimit = 65536;  // first exponent + R stays within it
constexpr uint64_t kMaxRecoveryBlocks = 65535;
constexpr uint32_t kMaxVolumesPowers = 30;
constexpr double kSliderRange = 1000000.0;

uint64_t CeilDiv(uint64_t a, uint64_t b) {
    return b == 0 ? 0 : (a + b - 1) / b;
}

uint64_t RoundUp(uint64_t v, uint64_t granule) {
    return CeilDiv(v, granule) * granule;
}

uint64_t BlockCount(const std::vector<uint64_t>& sizes, uint64_t blockSize) {
    uint64_t count = 0;
    for (uint64_t s : sizes) count += CeilDiv(s, blockSize);
    return count;
}

// The names the file descriptions store, each padded to whole 32-bit words.
uint64_t PaddedNameBytes(const std::vector<CreationSourceFile>& files) {
    uint64_t bytes = 0;
    for (const auto& f : files) {
        const size_t length =
            f.storedName.empty() ? FileNameOfPath(f.path).size() : f.storedName.size();
        bytes += (length + 3) & ~uint64_t{3};
    }
    return bytes;
}

// The longest common prefix of a and b without regard to case.
size_t CommonPrefix(const std::string& a, const std::string& b) {
    size_t n = std::min(a.size(), b.size());
    size_t i = 0;
    while (i < n && std::tolower(static_cast<unsigned char>(a[i])) ==
                        std::tolower(static_cast<unsigned char>(b[i])))
        ++i;
    return i;
}

}  // namespace

uint32_t BitLength(uint64_t v) {
    uint32_t bits = 0;
    while (v != 0) {
        ++bits;
        v >>= 1;
    }
    return bits;
}

BlockSizeChoice FindBlockSize(const std::vector<uint64_t>& sizes, uint64_t limit,
                              uint64_t granule) {
    BlockSizeChoice choice;
    uint64_t largest = 0;
    for (uint64_t s : sizes) largest = std::max(largest, s);
    uint64_t atGranule = BlockCount(sizes, granule);
    if (atGranule <= limit) {
        choice.blockSize = granule;
        choice.count = atGranule;
        return choice;
    }
    if (sizes.size() >= limit) {
        choice.blockSize = RoundUp(largest, granule);
        choice.count = sizes.size();
        return choice;
    }
    // The count falls as the block size grows; at the largest size rounded up
    // it is one block per file, below the limit. Search the multiples.
    uint64_t low = 1;                           // count(low * granule) > limit
    uint64_t high = CeilDiv(largest, granule);  // count(high * granule) <= limit
    while (high - low > 1) {
        uint64_t mid = low + (high - low) / 2;
        if (BlockCount(sizes, mid * granule) <= limit)
            high = mid;
        else
            low = mid;
    }
    choice.blockSize = high * granule;
    choice.count = BlockCount(sizes, choice.blockSize);
    choice.hasSmaller = true;
    choice.smallerBlockSize = low * granule;
    choice.smallerCount = BlockCount(sizes, choice.smallerBlockSize);
    return choice;
}

std::vector<uint32_t> PowerOfTwoSizes(uint32_t count, uint32_t total) {
    std::vector<uint32_t> sizes(count);
    if (count == 0) return sizes;
    int64_t sum = 0;
    for (uint32_t k = 0; k < count; ++k) {
        sizes[k] = k < 32 ? (1u << k) : 0;
        sum += sizes[k];
    }
    int64_t excess = sum - static_cast<int64_t>(total);
    if (excess > 0) {
        for (int64_t k = count - 1; k >= 0 && excess > 0; --k) {
            int64_t take = std::min<int64_t>(excess, (k + excess) / 2);
            take = std::min<int64_t>(take, sizes[k]);
            sizes[k] -= static_cast<uint32_t>(take);
            excess -= take;
        }
    } else if (excess < 0) {
        uint64_t d = static_cast<uint64_t>(-excess);
        while (d > 0) {
            for (uint32_t j = 0; j < count && j < 63; ++j) {
                uint64_t unit = uint64_t{1} << j;
                sizes[count - 1 - j] += static_cast<uint32_t>((unit + d) / (unit << 1));
            }
            d = count >= 63 ? 0 : d >> count;
        }
    }
    // The rounding above always lands on the total; should it not, the last
    // volume takes the difference so that no block is lost.
    int64_t placed = 0;
    for (uint32_t s : sizes) placed += s;
    int64_t diff = static_cast<int64_t>(total) - placed;
    for (int64_t k = count - 1; k >= 0 && diff != 0; --k) {
        int64_t change = diff > 0 ? diff : std::max<int64_t>(diff, -int64_t{sizes[k]});
        sizes[k] = static_cast<uint32_t>(sizes[k] + change);
        diff -= change;
    }
    return sizes;
}

CreationParameters::CreationParameters(const CreationSettings& s, const MachineFigures& m)
    : settings(s), machine(m) {
    redundancy = std::clamp<uint32_t>(s.recoveryBlockFraction, 1, 10000);
    sizeScheme = s.recoveryFileSizeScheme;
    splitSourceFiles = s.splitSourceFiles;
    splitLimit = std::max<uint64_t>(s.splitSourceLimit, 4);
    blockGranule = GranuleFromSettings();
    blockSize = 4;
}

CreationParameters::~CreationParameters() = default;

uint64_t CreationParameters::GranuleFromSettings() const {
    if (!settings.restrictBlockSize) return 4;
    uint64_t g = settings.preferredBlockSize & ~uint64_t{3};
    return g < 4 ? 4 : g;
}

std::vector<uint64_t> CreationParameters::NonEmptySizes() const {
    std::vector<uint64_t> sizes;
    for (const auto& f : files_)
        if (f.size > 0) sizes.push_back(f.size);
    return sizes;
}

void CreationParameters::AddFiles(const std::vector<CreationSourceFile>& files) {
    files_.insert(files_.end(), files.begin(), files.end());
    FileListChanged();
}

void CreationParameters::SetStoredNames(const std::vector<CreationSourceFile>& named) {
    for (size_t i = 0; i < files_.size() && i < named.size(); ++i) {
        if (files_[i].path == named[i].path) files_[i].storedName = named[i].storedName;
    }
    // The stored names make the index longer: its copies are counted again
    // (the volume counts stay as shown).
    paddedNameBytes = PaddedNameBytes(files_);
    RefreshCriticalCopyFactor();
}

void CreationParameters::RemoveFile(size_t index) {
    RemoveFiles({index});
}

void CreationParameters::RemoveFiles(std::vector<size_t> indices) {
    std::sort(indices.begin(), indices.end());
    indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
    while (!indices.empty() && indices.back() >= files_.size()) indices.pop_back();
    if (indices.empty()) return;
    for (auto it = indices.rbegin(); it != indices.rend(); ++it)
        files_.erase(files_.begin() + static_cast<ptrdiff_t>(*it));
    EndExtension();
    FileListChanged();
}

void CreationParameters::ClearFiles() {
    if (!files_.empty()) EndExtension();
    files_.clear();
    FileListChanged();
}

// The list no longer describes the loaded set: what follows is a new
// creation with the remaining files.
void CreationParameters::EndExtension() {
    if (!extendExistingSet) return;
    existingMainPacket.reset();
    existingFileDescriptions.clear();
    extendExistingSet = false;
    fileListEditable = true;
    blockGranule = GranuleFromSettings();
    lowestFirstBlock = 0;
    baseName.clear();
    destinationPath.clear();
    defaultBaseName.clear();
    folderBaseName.clear();
}

void CreationParameters::FileListChanged() {
    ComputeNames();
    ComputeBounds();
    ChooseDefaultBlockSize();
}

void CreationParameters::ComputeNames() {
    defaultBaseName.clear();
    defaultPath.clear();
    folderBaseName.clear();
    if (files_.empty()) return;
    bool first = true;
    for (const auto& f : files_) {
        std::string folder = FolderOfPath(f.path);
        const std::string name = FileNameOfPath(f.path);
        if (folder.empty()) {
            folder = CurrentFolder();
            if (folder.empty() && first) folder = "./";
        }
        if (first) {
            if (folder.empty() || folder.back() != '/') folder += '/';
            defaultPath = folder;
            defaultBaseName = name;
            first = false;
            continue;
        }
        if (folder.size() >= 2 && folder.back() != '/') folder += '/';
        size_t common = CommonPrefix(defaultBaseName, name);
        size_t shorter = std::min(defaultBaseName.size(), name.size());
        defaultBaseName.resize(common);
        if (common < shorter) {
            while (!defaultBaseName.empty() &&
                   std::ispunct(static_cast<unsigned char>(defaultBaseName.back())))
                defaultBaseName.pop_back();
            size_t dot = defaultBaseName.rfind('.');
            if (dot != std::string::npos) defaultBaseName.resize(dot);
        }
        size_t commonPath = CommonPrefix(defaultPath, folder);
        defaultPath.resize(commonPath);
        size_t lastSlash = defaultPath.rfind('/');
        defaultPath.resize(lastSlash == std::string::npos ? 0 : lastSlash + 1);
    }
    std::string trimmed = defaultPath;
    if (!trimmed.empty() && trimmed.back() == '/') trimmed.pop_back();
    size_t slash = trimmed.rfind('/');
    folderBaseName = slash == std::string::npos ? std::string() : trimmed.substr(slash + 1);
}

std::string CreationParameters::offeredBaseName() const {
    return defaultBaseName.empty() ? folderBaseName : defaultBaseName;
}

void CreationParameters::ComputeBounds() {
    totalDataSize = 0;
    largestFileSize = 0;
    nonEmptyFileCount = 0;
    for (const auto& f : files_) {
        totalDataSize += f.size;
        largestFileSize = std::max(largestFileSize, f.size);
        if (f.size > 0) ++nonEmptyFileCount;
    }
    paddedNameBytes = PaddedNameBytes(files_);
    if (nonEmptyFileCount == 0) {
        minBlockSize = maxBlockSize = blockGranule;
        minSourceBlocks = maxSourceBlocks = 0;
        return;
    }
    BlockSizeChoice c = FindBlockSize(NonEmptySizes(), kMaxSourceBlocks, blockGranule);
    minBlockSize = c.blockSize;
    maxSourceBlocks = c.count;
    maxBlockSize = RoundUp(largestFileSize, blockGranule);
    minSourceBlocks = nonEmptyFileCount;
}

void CreationParameters::ChooseDefaultBlockSize() {
    setBlockSize(settings.preferredBlockSize & ~uint64_t{3});
    if (sourceBlockCount > 3000)
        setSourceBlockCount(3000);
    else if (sourceBlockCount < 200)
        setSourceBlockCount(200);
}

void CreationParameters::ComputeSourceEfficiency() {
    if (sourceBlockCount == 0 || blockSize == 0) {
        sourceEfficiency = 1000;
        return;
    }
    long double ratio = static_cast<long double>(totalDataSize) * 1000 /
                        (static_cast<long double>(sourceBlockCount) * blockSize);
    sourceEfficiency = static_cast<uint32_t>(ratio);
}

void CreationParameters::setBlockSize(uint64_t size) {
    size = std::clamp(size, minBlockSize, maxBlockSize);
    // Packets need whole 32-bit words; the bounds already are, a size typed
    // between them may not be.
    size = RoundUp(std::max<uint64_t>(size, 4), 4);
    blockSize = size;
    uint64_t s = 0;
    for (const auto& f : files_) s += CeilDiv(f.size, blockSize);
    sourceBlockCount = s;
    ComputeSourceEfficiency();
    RecoveryFollowsSource();
}

void CreationParameters::setSourceBlockCount(uint64_t n) {
    n = std::clamp(n, minSourceBlocks, std::max(minSourceBlocks, maxSourceBlocks));
    uint64_t previous = sourceBlockCount;
    if (nonEmptyFileCount == 0) {
        blockSize = blockGranule;
        sourceBlockCount = n;
    } else {
        BlockSizeChoice c = FindBlockSize(NonEmptySizes(), n, blockGranule);
        blockSize = c.blockSize;
        sourceBlockCount = c.count;
        if (previous >= c.count && previous < n && c.hasSmaller && c.smallerCount > previous &&
            c.smallerCount <= kMaxSourceBlocks) {
            blockSize = c.smallerBlockSize;
            sourceBlockCount = c.smallerCount;
        }
    }
    ComputeSourceEfficiency();
    RecoveryFollowsSource();
}

void CreationParameters::RecoveryFollowsSource() {
    uint64_t s = sourceBlockCount;
    uint64_t r = (s * redundancy + 5000) / 10000;
    if (s > 0 && r == 0) r = 1;
    recoveryBlockCount = std::min(r, kMaxRecoveryBlocks);
    LimitFirstBlock();
    recomputeFileCount();
}

void CreationParameters::LimitFirstBlock() {
    if (firstRecoveryBlock + recoveryBlockCount <= kExponentLimit) return;
    if (firstRecoveryBlock >= lowestFirstBlock)
        firstRecoveryBlock = std::max(kExponentLimit - recoveryBlockCount, lowestFirstBlock);
    // The first exponent may not move below the lowest one of an extended
    // set: fewer recovery blocks keep the last exponent within range.
    if (firstRecoveryBlock + recoveryBlockCount > kExponentLimit)
        recoveryBlockCount = kExponentLimit - std::min(firstRecoveryBlock, kExponentLimit);
}

void CreationParameters::setRedundancy(uint32_t hundredthsOfPercent) {
    redundancy = std::clamp<uint32_t>(hundredthsOfPercent, 1, 10000);
    RecoveryFollowsSource();
}

void CreationParameters::setRecoveryBlockCount(uint64_t r) {
    recoveryBlockCount = std::min(r, kMaxRecoveryBlocks);
    LimitFirstBlock();
    if (sourceBlockCount > 0)
        redundancy = static_cast<uint32_t>(
            std::min<uint64_t>(recoveryBlockCount * 10000 / sourceBlockCount, UINT32_MAX));
    recomputeFileCount();
}

void CreationParameters::setRecoveryFileCount(uint32_t n) {
    volumeCounts_.clear();
    fileCountChosen_ = sizeScheme != kLimitedToLargest;
    n = std::max<uint32_t>(n, 1);
    if (sizeScheme != kLimitedToLargest) {
        n = static_cast<uint32_t>(std::min<uint64_t>(n, recoveryBlockCount));
        if (sizeScheme != kUniform) n = std::min(n, kMaxVolumesPowers);
        recoveryFileCount = n;
    }
    RefreshCriticalCopyFactor();
}

void CreationParameters::setSizeScheme(uint32_t scheme) {
    sizeScheme = scheme;
    fileCountChosen_ = false;
    recomputeFileCount();
}

void CreationParameters::setFirstRecoveryBlock(uint64_t v) {
    v = std::min(v, kExponentLimit - std::min(recoveryBlockCount, kExponentLimit));
    firstRecoveryBlock = std::max(v, lowestFirstBlock);
    LimitFirstBlock();
    recomputeFileCount();
}

void CreationParameters::setGranuleRestriction(bool on) {
    settings.restrictBlockSize = on;
    if (on) {
        uint64_t g = settings.preferredBlockSize & ~uint64_t{3};
        blockGranule = g <= 3 ? 4 : g;
        if (blockGranule > 4 && blockSize % blockGranule != 0)
            blockSize = (blockSize + blockGranule / 2) / blockGranule * blockGranule;
    } else {
        blockGranule = 4;
    }
    ComputeBounds();
    setBlockSize(blockSize);
}

uint64_t CreationParameters::LargestFileBlocks() const {
    return CeilDiv(largestFileSize, blockSize);
}

uint64_t CreationParameters::splitPieceBlocks() const {
    if (!splitSourceFiles || blockSize == 0) return 0;
    return std::max(CeilDiv(CeilDiv(largestFileSize, 999), blockSize), splitLimit / blockSize);
}

uint64_t CreationParameters::splitLowerBound() const {
    if (blockSize == 0) return 4;
    return CeilDiv(largestFileSize / 999, blockSize) * blockSize;
}

uint64_t CreationParameters::splitStep() const {
    uint64_t l = largestFileSize;
    if (l < 1000) return 1;
    if (l <= 9999) return 10;
    if (l <= 99999) return 100;
    if (l <= 999999) return 1000;
    if (l <= 9999999) return 10000;
    return 100000;
}

void CreationParameters::setSplit(bool on) {
    splitSourceFiles = on;
    if (on)
        splitLimit =
            std::max({settings.splitSourceLimit, splitLowerBound(), blockSize, uint64_t{4}});
    if (sizeScheme == kLimitedToLargest) recomputeFileCount();
}

void CreationParameters::setSplitLimit(uint64_t bytes) {
    bytes = std::max(bytes, splitLowerBound());
    bytes = std::max({bytes, blockSize, uint64_t{4}});
    splitLimit = bytes;
    if (sizeScheme == kLimitedToLargest) recomputeFileCount();
}

void CreationParameters::recomputeFileCount() {
    volumeCounts_.clear();
    uint64_t r = recoveryBlockCount;
    if (r == 0) {
        recoveryFileCount = 0;
    } else if (sizeScheme == kUniform) {
        if (recoveryFileCount == 0) recoveryFileCount = 10;
        recoveryFileCount = static_cast<uint32_t>(std::min<uint64_t>(recoveryFileCount, r));
        // A count the user did not give falls until the volumes, with one
        // copy of the index each, cost no more than the doubling layout's.
        if (!fileCountChosen_)
            recoveryFileCount = static_cast<uint32_t>(
                std::clamp<uint64_t>(IndexedVolumeLimit(), 1, recoveryFileCount));
    } else if (sizeScheme == kLimitedToLargest) {
        uint64_t w = splitSourceFiles ? splitPieceBlocks() : LargestFileBlocks();
        w = std::max<uint64_t>(w, 1);
        auto volumesOf = [r](uint64_t blocks) {
            uint64_t f = r / blocks >= 1 ? r / blocks - 1 : 0;
            return blocks * f == r ? f : f + BitLength(r - blocks * f);
        };
        // With many small files the largest is small, and volumes of its
        // size would each repeat an index larger than their blocks: the
        // volumes grow until their index costs no more than the doubling
        // layout's (at w = r they are that layout).
        const uint64_t most = IndexedVolumeLimit();
        while (w < r && volumesOf(w) > most) ++w;
        limitedVolumeBlocks_ = w;
        recoveryFileCount = static_cast<uint32_t>(volumesOf(w));
    } else {
        recoveryFileCount = BitLength(r);
    }
    RefreshCriticalCopyFactor();
}

uint64_t CreationParameters::IndexedVolumeLimit() const {
    const uint64_t index = indexBytes();
    const uint64_t creator = creatorPacketSize();
    return DoublingIndexBytes(static_cast<uint32_t>(recoveryBlockCount), index, creator) /
           (index + creator);
}

void CreationParameters::setVolumeBlockCounts(std::vector<uint32_t> counts) {
    volumeCounts_ = std::move(counts);
    recoveryFileCount = static_cast<uint32_t>(
        std::count_if(volumeCounts_.begin(), volumeCounts_.end(), [](uint32_t c) { return c > 0; }));
    RefreshCriticalCopyFactor();
}

std::vector<uint32_t> CreationParameters::volumeBlockCounts() const {
    if (!volumeCounts_.empty()) return volumeCounts_;
    const uint32_t r = static_cast<uint32_t>(recoveryBlockCount);
    const uint32_t count = recoveryFileCount;
    if (r == 0) return {};
    if (count < 2) return {r};
    if (sizeScheme == kUniform) {
        std::vector<uint32_t> sizes(count, r / count);
        for (uint32_t k = 0; k < r % count; ++k) ++sizes[k];
        return sizes;
    }
    if (sizeScheme != kLimitedToLargest) return PowerOfTwoSizes(count, r);
    const uint64_t w = limitedVolumeBlocks_;
    std::vector<uint32_t> sizes(count, 0);
    uint64_t rest = r;
    uint32_t front = count;
    while (rest >= 2 * w && front > 0) {
        sizes[front - 1] = static_cast<uint32_t>(w);
        rest -= w;
        --front;
    }
    if (front == 0) {
        sizes[0] += static_cast<uint32_t>(rest);
        return sizes;
    }
    std::vector<uint32_t> head = PowerOfTwoSizes(front, static_cast<uint32_t>(rest));
    std::copy(head.begin(), head.end(), sizes.begin());
    return sizes;
}

std::vector<uint32_t> CreationParameters::volumeIndexCopies() const {
    return IndexCopies(volumeBlockCounts(), indexBytes(), creatorPacketSize());
}

void CreationParameters::RefreshCriticalCopyFactor() {
    uint32_t factor = 0;
    for (uint32_t c : volumeIndexCopies()) factor += c;
    criticalCopyFactor = factor;
}

uint64_t CreationParameters::creatorPacketSize() const {
    return 64 + ((GetString(kStrCreatorText).size() + 3) & ~size_t{3});
}

uint64_t CreationParameters::indexBytes() const {
    const uint64_t n = files_.size();
    return 120 * n + paddedNameBytes + 20 * sourceBlockCount + 80 * n + 16 * n + 76;
}

uint64_t CreationParameters::recoveryDataSize() const {
    const uint64_t c = indexBytes();
    return (uint64_t{criticalCopyFactor} + 1) * c +
           (uint64_t{recoveryFileCount} + 1) * creatorPacketSize() +
           recoveryBlockCount * (blockSize + 68);
}

uint32_t CreationParameters::efficiency() const {
    uint64_t size = recoveryDataSize();
    uint64_t data = recoveryBlockCount * blockSize;
    if (size == 0 || data == 0) return sourceEfficiency;
    return static_cast<uint32_t>(static_cast<long double>(sourceEfficiency) * data / size);
}

void CreationParameters::rebuildableFiles(uint32_t& minimum, uint32_t& maximum) const {
    minimum = maximum = 0;
    if (recoveryBlockCount == 0) return;
    std::vector<uint64_t> blocks;
    for (const auto& f : files_) blocks.push_back(CeilDiv(f.size, blockSize));
    std::sort(blocks.begin(), blocks.end());
    uint64_t sum = 0;
    for (uint64_t b : blocks) {
        if (sum + b > recoveryBlockCount) break;
        sum += b;
        ++maximum;
    }
    sum = 0;
    for (auto it = blocks.rbegin(); it != blocks.rend() && *it > 0; ++it) {
        if (sum + *it > recoveryBlockCount) break;
        sum += *it;
        ++minimum;
    }
}

uint64_t CreationParameters::processingSeconds() const {
    uint32_t pairs = static_cast<uint32_t>(sourceBlockCount * recoveryBlockCount);
    double seconds = 0;
    if (machine.bytesPerSecond > 0)
        seconds += static_cast<double>(pairs) * static_cast<double>(blockSize) /
                   static_cast<double>(machine.bytesPerSecond);
    // Without a measured table rate the fixed cost is left out.
    if (machine.tableSetupsPerSecond > 0)
        seconds += static_cast<double>(pairs) / static_cast<double>(machine.tableSetupsPerSecond);
    return static_cast<uint64_t>(seconds);
}

uint32_t CreationParameters::sourceBlockPosition() const {
    if (minSourceBlocks >= maxSourceBlocks || minSourceBlocks == 0) return 1;
    double lmin = std::log(static_cast<double>(minSourceBlocks));
    double lmax = std::log(static_cast<double>(maxSourceBlocks));
    double s = std::max<double>(static_cast<double>(sourceBlockCount), 1.0);
    double pos = (std::log(s) - lmin) * kSliderRange / (lmax - lmin);
    return static_cast<uint32_t>(std::clamp(pos, 0.0, kSliderRange));
}

uint64_t CreationParameters::sourceBlocksAt(uint32_t position) const {
    if (minSourceBlocks >= maxSourceBlocks || minSourceBlocks == 0) return minSourceBlocks;
    double lmin = std::log(static_cast<double>(minSourceBlocks));
    double lmax = std::log(static_cast<double>(maxSourceBlocks));
    double s = std::exp(lmin + position * 1e-6 * (lmax - lmin)) + 0.5;
    return std::clamp(static_cast<uint64_t>(s), minSourceBlocks, maxSourceBlocks);
}

uint32_t CreationParameters::recoveryBlockPosition() const {
    double s = static_cast<double>(sourceBlockCount);
    if (sourceBlockCount <= 1) return 1;
    const double f = -std::log10(2.0);
    double r = static_cast<double>(std::max<uint64_t>(recoveryBlockCount, 1));
    double pos = (1 - (std::pow(s / r, f) - 1) / (std::pow(s, f) - 1)) * kSliderRange + 0.5;
    return static_cast<uint32_t>(std::clamp(pos, 0.0, kSliderRange));
}

uint64_t CreationParameters::recoveryBlocksAt(uint32_t position) const {
    if (sourceBlockCount <= 1) return 1;
    double s = static_cast<double>(sourceBlockCount);
    const double f = -std::log10(2.0);
    double r = s / std::pow(1 + (1 - position * 1e-6) * (std::pow(s, f) - 1), 1 / f) + 0.5;
    return std::clamp<uint64_t>(static_cast<uint64_t>(std::max(r, 0.0)), 1, sourceBlockCount);
}

void CreationParameters::initFromExistingSet(const ExistingSetInfo& set) {
    files_.clear();
    for (const auto& fd : set.fileDescriptions)
        files_.push_back({set.folder + fd->name(), fd->fileLength()});
    extendExistingSet = true;
    fileListEditable = false;
    existingMainPacket = set.mainPacket;
    existingFileDescriptions = set.fileDescriptions;
    baseName = set.baseName;
    destinationPath = set.folder;
    ComputeNames();
    uint64_t setBlockSizeValue = set.mainPacket ? set.mainPacket->sliceSize() : 4;
    // The set's block size is fixed: bounds that admit it.
    blockGranule = 4;
    ComputeBounds();
    minBlockSize = std::min(minBlockSize, setBlockSizeValue);
    maxBlockSize = std::max(maxBlockSize, setBlockSizeValue);
    lowestFirstBlock = set.firstUnusedExponent;
    firstRecoveryBlock = set.firstUnusedExponent;
    setBlockSize(setBlockSizeValue);
}

}  // namespace vantrove
