#include "app/settings.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <limits>

namespace vantrove {
namespace {

constexpr char kOptions[] = "Options";
constexpr char kLayout[] = "Layout";
constexpr char kShell[] = "Shell";

// The store kept a string value in a buffer of this many bytes, its
// terminating zero included; a longer text is not read.
constexpr size_t kSplitLimitBufferBytes = 40;

// How a stored value becomes its field. A value that is missing, has the
// wrong type or fails the check leaves the field as it was.
enum class Check {
    Any,         // any number
    Range,       // a number from `low` to `high`
    Quad,        // a number above 3, rounded down to a multiple of 4
    Flag,        // zero or not
    SplitLimit,  // the split limit, kept as text
};

struct StoredValue {
    const char* key;
    const char* name;
    Check check;
    uint32_t Settings::*number = nullptr;  // the field, unless a flag or the split limit
    bool Settings::*flag = nullptr;        // the field of a flag
    uint32_t low = 0;
    uint32_t high = UINT32_MAX;
};

// Every stored value, in the order a save writes them.
const StoredValue kStoredValues[] = {
    {kLayout, "CreateFilenameWidth", Check::Any, &Settings::createFilenameWidth},
    {kLayout, "CreateFilesizeWidth", Check::Any, &Settings::createFilesizeWidth},
    {kLayout, "VerifyFilenameWidth", Check::Any, &Settings::verifyFilenameWidth},
    {kLayout, "VerifyFilesizeWidth", Check::Any, &Settings::verifyFilesizeWidth},
    {kLayout, "OpenDialogueHeight", Check::Any, &Settings::openDialogueHeight},
    {kLayout, "CreateDialogueHeight", Check::Any, &Settings::createDialogueHeight},
    {kOptions, "BlockSizeChoice", Check::Range, &Settings::blockSizeChoice, nullptr, 0, 2},
    {kOptions, "ExactBlockSize", Check::Quad, &Settings::exactBlockSize},
    {kOptions, "YEncLineCount", Check::Range, &Settings::yEncLineCount, nullptr, 1, UINT32_MAX},
    {kOptions, "UUEncodeLineCount", Check::Quad, &Settings::uuEncodeLineCount},
    {kOptions, "RecoveryBlockFraction", Check::Range, &Settings::recoveryBlockFraction, nullptr, 1,
     10000},
    {kOptions, "RecoveryFileSizeScheme", Check::Range, &Settings::recoveryFileSizeScheme, nullptr,
     1, 3},
    {kOptions, "Priority", Check::Range, &Settings::priority, nullptr, 0, 3},
    {kOptions, "UniformRecoveryFiles", Check::Flag, nullptr, &Settings::uniformRecoveryFiles},
    {kOptions, "NoPacketRepetition", Check::Flag, nullptr, &Settings::noPacketRepetition},
    {kOptions, "RestrictBlockSize", Check::Flag, nullptr, &Settings::restrictBlockSize},
    {kOptions, "SplitSourceFiles", Check::Flag, nullptr, &Settings::splitSourceFiles},
    {kOptions, "SplitSourceLimit", Check::SplitLimit},
    {kOptions, "RepairAutomatically", Check::Flag, nullptr, &Settings::repairAutomatically},
    {kOptions, "MonitorAutomatically", Check::Flag, nullptr, &Settings::monitorAutomatically},
    {kOptions, "DeleteDamagedFiles", Check::Flag, nullptr, &Settings::deleteDamagedFiles},
    {kOptions, "DeleteRecoveryFiles", Check::Flag, nullptr, &Settings::deleteRecoveryFiles},
    {kOptions, "UseRecycleBin", Check::Flag, nullptr, &Settings::useRecycleBin},
    {kOptions, "JoinSplitFiles", Check::Flag, nullptr, &Settings::joinSplitFiles},
    {kOptions, "Sounds", Check::Flag, nullptr, &Settings::sounds},
    {kShell, "ExplorerMenu", Check::Flag, nullptr, &Settings::explorerMenu},
    {kShell, "PAR2Association", Check::Flag, nullptr, &Settings::par2Association},
    {kShell, "PAR1Association", Check::Flag, nullptr, &Settings::par1Association},
    {kShell, "SFVMD5Association", Check::Flag, nullptr, &Settings::sfvMd5Association},
};

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
    for (const char* key : {kLayout, kOptions, kShell}) {
        if (store.HasKey(key)) LoadKey(store, key);
    }
    ComputePreferredBlockSize();
    return true;
}

void Settings::LoadKey(const SettingsStore& store, const char* key) {
    for (const StoredValue& value : kStoredValues) {
        if (std::strcmp(value.key, key) != 0) continue;
        if (value.check == Check::SplitLimit) {
            std::string limit;
            if (store.QueryString(key, value.name, limit) &&
                limit.size() < kSplitLimitBufferBytes) {
                splitSourceLimit = ParseSplitSourceLimit(limit);
            }
            continue;
        }
        uint32_t v;
        if (!store.QueryDword(key, value.name, v)) continue;
        switch (value.check) {
            case Check::Any:
                this->*value.number = v;
                break;
            case Check::Range:
                if (v >= value.low && v <= value.high) this->*value.number = v;
                break;
            case Check::Quad:
                if (v > 3) this->*value.number = v & ~3u;
                break;
            case Check::Flag:
                this->*value.flag = v != 0;
                break;
            case Check::SplitLimit:
                break;
        }
    }
}

// Writing a value moves it behind the key's other values, so a save leaves
// its values in the order it writes them.
void Settings::SaveKey(const char* key) const {
    SettingsStore store(storePath_);
    store.Update([this, key](SettingsStore& s) {
        for (const StoredValue& value : kStoredValues) {
            if (std::strcmp(value.key, key) != 0) continue;
            s.DeleteValue(key, value.name);
            if (value.check == Check::SplitLimit) {
                char limit[32];
                std::snprintf(limit, sizeof limit, "%" PRId64, splitSourceLimit);
                s.SetString(key, value.name, limit);
            } else if (value.check == Check::Flag) {
                s.SetDword(key, value.name, this->*value.flag ? 1u : 0u);
            } else {
                s.SetDword(key, value.name, this->*value.number);
            }
        }
    });
}

void Settings::SaveLayout() const {
    SaveKey(kLayout);
}

void Settings::SaveOptions() const {
    SaveKey(kOptions);
}

void Settings::SaveShell() const {
    SaveKey(kShell);
}

}  // namespace vantrove
