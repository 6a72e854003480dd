#pragma once
// Settings: the one record of the program's persistent options.
//
// The record starts with the built-in defaults, is loaded once at start-up
// from the per-user store (SettingsStore, keys "Options", "Layout" and
// "Shell") and is written back by the dialogs that change it: the layout
// when a dialog closes, the options from the preferences and create dialogs,
// the shell values after the associations have been applied. Loading checks
// every value; one that is missing, has the wrong type or fails its check
// keeps the value the record already had. Store failures are silent.
//
// Only the user-interface thread writes the record. Worker threads receive
// the few values they need (deletion flags, block sizes) when their job
// starts rather than reading the shared record while it may change.

#include <cstdint>
#include <string>

#include "app/settings_store.h"

namespace vantrove {

// How the preferred block size is given (BlockSizeChoice).
enum BlockSizeChoiceValue : uint32_t {
    kBlockSizeExact = 0,
    kBlockSizeYEncLines = 1,
    kBlockSizeUUEncodeLines = 2,
};

constexpr uint32_t kYEncLineBytes = 128;
constexpr uint32_t kUUEncodeLineBytes = 45;

class Settings {
  public:
    // Uses the store file of the current user.
    Settings();
    // Uses the given store file (tests, or a portable set-up).
    explicit Settings(std::string storePath);

    // Reads every value. Returns false, with every value left as it was, when
    // the store does not exist or cannot be used (missing, unreadable, not
    // ours, or damaged): the first run.
    bool Load();

    // Each writes its key's values; a failure writes nothing and is silent.
    void SaveLayout() const;
    void SaveOptions() const;
    void SaveShell() const;

    // Derives preferredBlockSize from the block size choice and its three
    // numbers. Called after loading and whenever the preferences change them.
    void ComputePreferredBlockSize();

    const std::string& storePath() const { return storePath_; }

    // Options
    uint32_t blockSizeChoice = kBlockSizeYEncLines;  // 0..2
    uint32_t exactBlockSize = 384000;                // > 3, a multiple of 4
    uint32_t yEncLineCount = 3000;                   // not 0
    uint32_t uuEncodeLineCount = 6400;               // > 3, a multiple of 4
    uint32_t recoveryBlockFraction = 1000;           // hundredths of a percent, 1..10000
    uint32_t recoveryFileSizeScheme = 2;             // 1..3
    uint32_t priority = 0;                           // 0 as started, 1 idle, 2 normal, 3 high
    bool uniformRecoveryFiles = false;
    bool noPacketRepetition = false;
    bool restrictBlockSize = true;
    bool splitSourceFiles = false;
    int64_t splitSourceLimit = 15000000;  // bytes, at least 4
    bool repairAutomatically = false;
    bool monitorAutomatically = false;
    bool joinSplitFiles = false;
    bool deleteDamagedFiles = true;
    bool deleteRecoveryFiles = false;
    bool useRecycleBin = true;
    bool sounds = true;

    // Layout (pixels)
    uint32_t createFilenameWidth = 340;
    uint32_t createFilesizeWidth = 85;
    uint32_t verifyFilenameWidth = 300;
    uint32_t verifyFilesizeWidth = 85;
    uint32_t openDialogueHeight = 0;
    uint32_t createDialogueHeight = 0;

    // Shell
    bool explorerMenu = false;
    bool par2Association = true;
    bool par1Association = false;
    bool sfvMd5Association = false;

    // Derived, not stored: the block size creation starts from.
    uint32_t preferredBlockSize = 384000;

  private:
    // Reads, or writes, the values kept under one key of the store.
    void LoadKey(const SettingsStore& store, const char* key);
    void SaveKey(const char* key) const;

    std::string storePath_;
};

// The settings record of this process, on the store of the current user.
// Created with the defaults on first use; start-up loads it.
Settings& ProcessSettings();

// Reads a split limit the way the store keeps it: leading blanks and a sign
// allowed, digits up to the first other character, no digits giving 0, far
// too large values saturating. Results below 4 become 4.
int64_t ParseSplitSourceLimit(const std::string& text);

// The preferred block size for a choice and its numbers, saturated at the
// largest multiple of 4 that fits in 32 bits.
uint32_t PreferredBlockSizeFor(uint32_t choice, uint32_t exactBlockSize, uint32_t yEncLineCount,
                               uint32_t uuEncodeLineCount);

}  // namespace vantrove
