#include "app/settings.h"

#include <cinttypes>
#include <cstdio>
#include <limits>

namespace vantrove {
namespace {

constexpr char kOptions[] = "Options";
constexpr char kLayout[] = "Layout";
constexpr char kShell[] = "Shell";

// The store kept a string value in a buffer of this many bytes, its
// terminating zero included; a longer text is not read.
constexpr size_t kSplitLimitBufferBytes = 40;

void ReadAny(const SettingsStore& store, const char* key, const char* name, uint32_t& field) {
    uint32_t v;
    if (store.QueryDword(key, name, v)) field = v;
}

void ReadRange(const SettingsStore& store, const char* key, const char* name, uint32_t low,
               uint32_t high, uint32_t& field) {
    uint32_t v;
    if (store.QueryDword(key, name, v) && v >= low && v <= high) field = v;
}

// Values above 3, rounded down to a multiple of 4.
void ReadQuad(const SettingsStore& store, const char* key, const char* name, uint32_t& field) {
    uint32_t v;
    if (store.QueryDword(key, name, v) && v > 3) field = v & ~3u;
}

void ReadFlag(const SettingsStore& store, const char* key, const char* name, bool& field) {
    uint32_t v;
    if (store.QueryDword(key, name, v)) field = v != 0;
}

// Writing a value moves it behind the key's other values, so a save leaves
// its values in the order it writes them.
void Put(SettingsStore& s, const char* key, const char* name, uint32_t value) {
    s.DeleteValue(key, name);
    s.SetDword(key, name, value);
}

void Put(SettingsStore& s, const char* key, const char* name, bool value) {
    Put(s, key, name, uint32_t{value ? 1u : 0u});
}

void PutString(SettingsStore& s, const char* key, const char* name, const std::string& value) {
    s.DeleteValue(key, name);
    s.SetString(key, name, value);
}

}  // namespace

Settings::Settings() : Settings(DefaultSettingsStorePath()) {}

Settings& ProcessSettings() {
    static Settings settings;
    return settings;
}

Settings::Settings(std::string storePath) : storePath_(std::move(storePath)) {}

int64_t ParseSplitSourceLimit(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    // Accumulate as a negative number so that the most negative value fits.
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        int digit = text[i] - '0';
        if (value < (kMin + digit) / 10) {
            value = kMin;
            continue;
        }
        value = value * 10 - digit;
    }
    if (!negative) value = (value == kMin) ? std::numeric_limits<int64_t>::max() : -value;
    // A limit below 4 bytes (negative ones included) makes no sense as a
    // piece size; 4 is the smallest the splitting accepts.
    return value < 4 ? 4 : value;
}

uint32_t PreferredBlockSizeFor(uint32_t choice, uint32_t exactBlockSize, uint32_t yEncLineCount,
                               uint32_t uuEncodeLineCount) {
    uint64_t size;
    switch (choice) {
        case kBlockSizeYEncLines:
            size = uint64_t{yEncLineCount} * kYEncLineBytes;
            break;
        case kBlockSizeUUEncodeLines:
            size = uint64_t{uuEncodeLineCount} * kUUEncodeLineBytes;
            break;
        default:
            size = exactBlockSize;
            break;
    }
    constexpr uint64_t kLargest = 0xFFFFFFFCu;
    return static_cast<uint32_t>(size > kLargest ? kLargest : size);
}

void Settings::ComputePreferredBlockSize() {
    preferredBlockSize =
        PreferredBlockSizeFor(blockSizeChoice, exactBlockSize, yEncLineCount, uuEncodeLineCount);
}

bool Settings::Load() {
    SettingsStore store(storePath_);
    if (store.Read() != StoreReadResult::Loaded) return false;
    if (store.HasKey(kLayout)) LoadLayout(store);
    if (store.HasKey(kOptions)) LoadOptions(store);
    ComputePreferredBlockSize();
    if (store.HasKey(kShell)) LoadShell(store);
    return true;
}

void Settings::LoadLayout(const SettingsStore& store) {
    ReadAny(store, kLayout, "CreateFilenameWidth", createFilenameWidth);
    ReadAny(store, kLayout, "CreateFilesizeWidth", createFilesizeWidth);
    ReadAny(store, kLayout, "VerifyFilenameWidth", verifyFilenameWidth);
    ReadAny(store, kLayout, "VerifyFilesizeWidth", verifyFilesizeWidth);
    ReadAny(store, kLayout, "OpenDialogueHeight", openDialogueHeight);
    ReadAny(store, kLayout, "CreateDialogueHeight", createDialogueHeight);
}

void Settings::LoadOptions(const SettingsStore& store) {
    ReadRange(store, kOptions, "BlockSizeChoice", 0, 2, blockSizeChoice);
    ReadQuad(store, kOptions, "ExactBlockSize", exactBlockSize);
    ReadRange(store, kOptions, "YEncLineCount", 1, UINT32_MAX, yEncLineCount);
    ReadQuad(store, kOptions, "UUEncodeLineCount", uuEncodeLineCount);
    ReadRange(store, kOptions, "RecoveryBlockFraction", 1, 10000, recoveryBlockFraction);
    ReadRange(store, kOptions, "RecoveryFileSizeScheme", 1, 3, recoveryFileSizeScheme);
    ReadRange(store, kOptions, "Priority", 0, 3, priority);
    ReadFlag(store, kOptions, "UniformRecoveryFiles", uniformRecoveryFiles);
    ReadFlag(store, kOptions, "NoPacketRepetition", noPacketRepetition);
    ReadFlag(store, kOptions, "RestrictBlockSize", restrictBlockSize);
    ReadFlag(store, kOptions, "SplitSourceFiles", splitSourceFiles);
    std::string limit;
    if (store.QueryString(kOptions, "SplitSourceLimit", limit) &&
        limit.size() < kSplitLimitBufferBytes) {
        splitSourceLimit = ParseSplitSourceLimit(limit);
    }
    ReadFlag(store, kOptions, "RepairAutomatically", repairAutomatically);
    ReadFlag(store, kOptions, "MonitorAutomatically", monitorAutomatically);
    ReadFlag(store, kOptions, "JoinSplitFiles", joinSplitFiles);
    ReadFlag(store, kOptions, "DeleteDamagedFiles", deleteDamagedFiles);
    ReadFlag(store, kOptions, "DeleteRecoveryFiles", deleteRecoveryFiles);
    ReadFlag(store, kOptions, "UseRecycleBin", useRecycleBin);
    ReadFlag(store, kOptions, "Sounds", sounds);
}

void Settings::LoadShell(const SettingsStore& store) {
    ReadFlag(store, kShell, "ExplorerMenu", explorerMenu);
    ReadFlag(store, kShell, "PAR2Association", par2Association);
    ReadFlag(store, kShell, "PAR1Association", par1Association);
    ReadFlag(store, kShell, "SFVMD5Association", sfvMd5Association);
}

void Settings::SaveLayout() const {
    SettingsStore store(storePath_);
    store.Update([this](SettingsStore& s) {
        Put(s, kLayout, "CreateFilenameWidth", createFilenameWidth);
        Put(s, kLayout, "CreateFilesizeWidth", createFilesizeWidth);
        Put(s, kLayout, "VerifyFilenameWidth", verifyFilenameWidth);
        Put(s, kLayout, "VerifyFilesizeWidth", verifyFilesizeWidth);
        Put(s, kLayout, "OpenDialogueHeight", openDialogueHeight);
        Put(s, kLayout, "CreateDialogueHeight", createDialogueHeight);
    });
}

void Settings::SaveOptions() const {
    SettingsStore store(storePath_);
    store.Update([this](SettingsStore& s) {
        Put(s, kOptions, "BlockSizeChoice", blockSizeChoice);
        Put(s, kOptions, "ExactBlockSize", exactBlockSize);
        Put(s, kOptions, "YEncLineCount", yEncLineCount);
        Put(s, kOptions, "UUEncodeLineCount", uuEncodeLineCount);
        Put(s, kOptions, "RecoveryBlockFraction", recoveryBlockFraction);
        Put(s, kOptions, "RecoveryFileSizeScheme", recoveryFileSizeScheme);
        Put(s, kOptions, "Priority", priority);
        Put(s, kOptions, "UniformRecoveryFiles", uniformRecoveryFiles);
        Put(s, kOptions, "NoPacketRepetition", noPacketRepetition);
        Put(s, kOptions, "RestrictBlockSize", restrictBlockSize);
        Put(s, kOptions, "SplitSourceFiles", splitSourceFiles);
        char limit[32];
        std::snprintf(limit, sizeof limit, "%" PRId64, splitSourceLimit);
        PutString(s, kOptions, "SplitSourceLimit", limit);
        Put(s, kOptions, "RepairAutomatically", repairAutomatically);
        Put(s, kOptions, "MonitorAutomatically", monitorAutomatically);
        Put(s, kOptions, "DeleteDamagedFiles", deleteDamagedFiles);
        Put(s, kOptions, "DeleteRecoveryFiles", deleteRecoveryFiles);
        Put(s, kOptions, "UseRecycleBin", useRecycleBin);
        Put(s, kOptions, "JoinSplitFiles", joinSplitFiles);
        Put(s, kOptions, "Sounds", sounds);
    });
}

void Settings::SaveShell() const {
    SettingsStore store(storePath_);
    store.Update([this](SettingsStore& s) {
        Put(s, kShell, "ExplorerMenu", explorerMenu);
        Put(s, kShell, "PAR2Association", par2Association);
        Put(s, kShell, "PAR1Association", par1Association);
        Put(s, kShell, "SFVMD5Association", sfvMd5Association);
    });
}

}  // namespace vantrove
