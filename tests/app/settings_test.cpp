#include "app/settings.h"

#include <gtest/gtest.h>

#include <tuple>

#include "support/test_env.h"

namespace vantrove {
namespace {

using test::TempDir;

// Every stored value of the record, for whole-record comparisons.
auto StoredValues(const Settings& s) {
    return std::make_tuple(
        s.blockSizeChoice, s.exactBlockSize, s.yEncLineCount, s.uuEncodeLineCount,
        s.recoveryBlockFraction, s.recoveryFileSizeScheme, s.priority, s.uniformRecoveryFiles,
        s.noPacketRepetition, s.restrictBlockSize, s.splitSourceFiles, s.splitSourceLimit,
        s.repairAutomatically, s.monitorAutomatically, s.joinSplitFiles, s.deleteDamagedFiles,
        s.deleteRecoveryFiles, s.useRecycleBin, s.sounds, s.createFilenameWidth,
        s.createFilesizeWidth, s.verifyFilenameWidth, s.verifyFilesizeWidth, s.openDialogueHeight,
        s.createDialogueHeight, s.explorerMenu, s.par2Association, s.par1Association,
        s.sfvMd5Association, s.preferredBlockSize);
}

// Writes a store file holding `body` (value lines under their keys).
void WriteStore(const std::string& path, const std::string& body) {
    test::WriteFile(path, "Vantrove Settings Version 1\n" + body + "; end of store\n");
}

// Loads a store whose Options key holds the given lines.
Settings LoadOptions(const TempDir& dir, const std::string& lines) {
    WriteStore(dir.File("settings.reg"), "[Options]\n" + lines);
    Settings s(dir.File("settings.reg"));
    EXPECT_TRUE(s.Load());
    return s;
}

TEST(Settings, NoStoreMeansFirstRunWithDefaults) {
    TempDir dir;
    Settings s(dir.File("Vantrove/settings.reg"));
    EXPECT_FALSE(s.Load());
    EXPECT_EQ(StoredValues(s), StoredValues(Settings(dir.File("other"))));
    EXPECT_EQ(s.blockSizeChoice, 1u);
    EXPECT_EQ(s.preferredBlockSize, 384000u);
    EXPECT_EQ(s.splitSourceLimit, 15000000);
    EXPECT_TRUE(s.restrictBlockSize && s.deleteDamagedFiles && s.useRecycleBin && s.sounds);
    EXPECT_TRUE(s.par2Association);
}

TEST(Settings, EveryValueSurvivesSaveAndLoad) {
    TempDir dir;
    std::string path = dir.File("cfg/Vantrove/settings.reg");
    Settings s(path);
    s.blockSizeChoice = 2;
    s.exactBlockSize = 1000;
    s.yEncLineCount = 77;
    s.uuEncodeLineCount = 808;
    s.recoveryBlockFraction = 1;
    s.recoveryFileSizeScheme = 3;
    s.priority = 3;
    s.uniformRecoveryFiles = true;
    s.noPacketRepetition = true;
    s.restrictBlockSize = false;
    s.splitSourceFiles = true;
    s.splitSourceLimit = 9000000000;  // beyond 32 bits
    s.repairAutomatically = true;
    s.monitorAutomatically = true;
    s.joinSplitFiles = true;
    s.deleteDamagedFiles = false;
    s.deleteRecoveryFiles = true;
    s.useRecycleBin = false;
    s.sounds = false;
    s.createFilenameWidth = 1;
    s.createFilesizeWidth = 2;
    s.verifyFilenameWidth = 0xFFFFFFFFu;
    s.verifyFilesizeWidth = 4;
    s.openDialogueHeight = 5;
    s.createDialogueHeight = 6;
    s.explorerMenu = true;
    s.par2Association = false;
    s.par1Association = true;
    s.sfvMd5Association = true;
    s.ComputePreferredBlockSize();
    EXPECT_EQ(s.preferredBlockSize, 808u * 45);
    s.SaveLayout();
    s.SaveOptions();
    s.SaveShell();

    Settings fresh(path);
    ASSERT_TRUE(fresh.Load());
    EXPECT_EQ(StoredValues(fresh), StoredValues(s));
}

TEST(Settings, EachSaveWritesOnlyItsKey) {
    TempDir dir;
    std::string path = dir.File("settings.reg");
    Settings s(path);
    s.createFilenameWidth = 111;
    s.priority = 2;
    s.explorerMenu = true;
    s.SaveLayout();
    Settings afterLayout(path);
    ASSERT_TRUE(afterLayout.Load());
    EXPECT_EQ(afterLayout.createFilenameWidth, 111u);
    EXPECT_EQ(afterLayout.priority, 0u);
    EXPECT_FALSE(afterLayout.explorerMenu);

    s.SaveShell();
    s.createFilenameWidth = 5;
    s.SaveOptions();  // the layout stored before stays as it was
    Settings all(path);
    ASSERT_TRUE(all.Load());
    EXPECT_EQ(all.createFilenameWidth, 111u);
    EXPECT_EQ(all.priority, 2u);
    EXPECT_TRUE(all.explorerMenu);
}

TEST(Settings, OptionsAreWrittenInTheirOrder) {
    TempDir dir;
    std::string path = dir.File("settings.reg");
    // A store that already has some of the values, in another order.
    WriteStore(path,
               "[Options]\n\"Sounds\"=dword:00000001\n\"Future\"=dword:00000007\n"
               "\"BlockSizeChoice\"=dword:00000000\n");
    Settings(path).SaveOptions();
    SettingsStore store(path);
    ASSERT_EQ(store.Read(), StoreReadResult::Loaded);
    const StoreKey* options = store.FindKey("Options");
    ASSERT_NE(options, nullptr);
    std::vector<std::string> names;
    for (const StoreValue& v : options->values) names.push_back(v.name);
    const std::vector<std::string> expected = {"Future",  // a value we do not know is kept
                                               "BlockSizeChoice",
                                               "ExactBlockSize",
                                               "YEncLineCount",
                                               "UUEncodeLineCount",
                                               "RecoveryBlockFraction",
                                               "RecoveryFileSizeScheme",
                                               "Priority",
                                               "UniformRecoveryFiles",
                                               "NoPacketRepetition",
                                               "RestrictBlockSize",
                                               "SplitSourceFiles",
                                               "SplitSourceLimit",
                                               "RepairAutomatically",
                                               "MonitorAutomatically",
                                               "DeleteDamagedFiles",
                                               "DeleteRecoveryFiles",
                                               "UseRecycleBin",
                                               "JoinSplitFiles",
                                               "Sounds"};
    EXPECT_EQ(names, expected);
    const StoreValue* limit = store.FindValue("Options", "SplitSourceLimit");
    ASSERT_NE(limit, nullptr);
    EXPECT_EQ(limit->type, StoreValueType::String);
    EXPECT_EQ(limit->text, "15000000");
}

TEST(Settings, BlockSizeNumbersAreCheckedAndRounded) {
    TempDir dir;
    Settings s = LoadOptions(dir,
                             "\"ExactBlockSize\"=dword:0005dc02\n"     // 384002
                             "\"UUEncodeLineCount\"=dword:00001903\n"  // 6403
                             "\"YEncLineCount\"=dword:00000001\n");
    EXPECT_EQ(s.exactBlockSize, 384000u);
    EXPECT_EQ(s.uuEncodeLineCount, 6400u);
    EXPECT_EQ(s.yEncLineCount, 1u);

    s = LoadOptions(dir,
                    "\"ExactBlockSize\"=dword:00000003\n\"UUEncodeLineCount\"=dword:00000002\n"
                    "\"YEncLineCount\"=dword:00000000\n");
    EXPECT_EQ(s.exactBlockSize, 384000u);
    EXPECT_EQ(s.uuEncodeLineCount, 6400u);
    EXPECT_EQ(s.yEncLineCount, 3000u);

    s = LoadOptions(dir, "\"ExactBlockSize\"=dword:00000004\n");
    EXPECT_EQ(s.exactBlockSize, 4u);
}

TEST(Settings, RangesAreChecked) {
    TempDir dir;
    Settings s = LoadOptions(dir,
                             "\"RecoveryBlockFraction\"=dword:00000000\n"
                             "\"RecoveryFileSizeScheme\"=dword:00000000\n"
                             "\"BlockSizeChoice\"=dword:00000003\n"
                             "\"Priority\"=dword:00000004\n");
    EXPECT_EQ(s.recoveryBlockFraction, 1000u);
    EXPECT_EQ(s.recoveryFileSizeScheme, 2u);
    EXPECT_EQ(s.blockSizeChoice, 1u);
    EXPECT_EQ(s.priority, 0u);

    s = LoadOptions(dir,
                    "\"RecoveryBlockFraction\"=dword:00002711\n"  // 10001
                    "\"RecoveryFileSizeScheme\"=dword:00000004\n");
    EXPECT_EQ(s.recoveryBlockFraction, 1000u);
    EXPECT_EQ(s.recoveryFileSizeScheme, 2u);

    s = LoadOptions(dir,
                    "\"RecoveryBlockFraction\"=dword:00002710\n"  // 10000
                    "\"RecoveryFileSizeScheme\"=dword:00000001\n"
                    "\"BlockSizeChoice\"=dword:00000000\n\"Priority\"=dword:00000003\n");
    EXPECT_EQ(s.recoveryBlockFraction, 10000u);
    EXPECT_EQ(s.recoveryFileSizeScheme, 1u);
    EXPECT_EQ(s.blockSizeChoice, 0u);
    EXPECT_EQ(s.priority, 3u);
}

TEST(Settings, FlagsStoreOneForAnyNonZero) {
    TempDir dir;
    Settings s = LoadOptions(dir,
                             "\"Sounds\"=dword:00000000\n\"SplitSourceFiles\"=dword:80000000\n"
                             "\"UseRecycleBin\"=dword:00000000\n");
    EXPECT_FALSE(s.sounds);
    EXPECT_TRUE(s.splitSourceFiles);
    EXPECT_FALSE(s.useRecycleBin);
}

TEST(Settings, ValuesOfTheWrongTypeAreIgnored) {
    TempDir dir;
    Settings s = LoadOptions(dir,
                             "\"Priority\"=\"3\"\n\"SplitSourceLimit\"=dword:00000010\n"
                             "\"Sounds\"=\"0\"\n\"ExactBlockSize\"=hex:00,10,00,00\n");
    EXPECT_EQ(s.priority, 0u);
    EXPECT_EQ(s.splitSourceLimit, 15000000);
    EXPECT_TRUE(s.sounds);
    EXPECT_EQ(s.exactBlockSize, 384000u);
}

TEST(Settings, SplitSourceLimitText) {
    TempDir dir;
    EXPECT_EQ(LoadOptions(dir, "\"SplitSourceLimit\"=\"2\"\n").splitSourceLimit, 4);
    EXPECT_EQ(LoadOptions(dir, "\"SplitSourceLimit\"=\"  +700000x9\"\n").splitSourceLimit, 700000);
    EXPECT_EQ(LoadOptions(dir, "\"SplitSourceLimit\"=\"abc\"\n").splitSourceLimit, 4);
    // A text that would not fit the 40-byte buffer is not read at all.
    std::string long40(40, '5');
    EXPECT_EQ(LoadOptions(dir, "\"SplitSourceLimit\"=\"" + long40 + "\"\n").splitSourceLimit,
              15000000);
    std::string fits39 = std::string(35, ' ') + "1234";
    EXPECT_EQ(LoadOptions(dir, "\"SplitSourceLimit\"=\"" + fits39 + "\"\n").splitSourceLimit, 1234);

    EXPECT_EQ(ParseSplitSourceLimit("-5"), 4);
    EXPECT_EQ(ParseSplitSourceLimit("3"), 4);
    EXPECT_EQ(ParseSplitSourceLimit("4"), 4);
    EXPECT_EQ(ParseSplitSourceLimit("\t-0"), 4);
    EXPECT_EQ(ParseSplitSourceLimit("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(ParseSplitSourceLimit("99999999999999999999999"), INT64_MAX);
    EXPECT_EQ(ParseSplitSourceLimit("-99999999999999999999999"), 4);
}

TEST(Settings, PreferredBlockSize) {
    TempDir dir;
    Settings s = LoadOptions(dir, "\"BlockSizeChoice\"=dword:00000002\n");
    EXPECT_EQ(s.preferredBlockSize, 288000u);  // 6400 UUEncode lines of 45 bytes
    s = LoadOptions(dir, "\"BlockSizeChoice\"=dword:00000001\n");
    EXPECT_EQ(s.preferredBlockSize, 384000u);  // 3000 yEnc lines of 128 bytes
    s = LoadOptions(dir, "\"BlockSizeChoice\"=dword:00000000\n\"ExactBlockSize\"=dword:00001000\n");
    EXPECT_EQ(s.preferredBlockSize, 4096u);
    // Line counts whose product does not fit 32 bits saturate rather than wrap.
    EXPECT_EQ(PreferredBlockSizeFor(1, 0, 0x02000000, 0), 0xFFFFFFFCu);
    EXPECT_EQ(PreferredBlockSizeFor(2, 0, 0, 0xFFFFFFFCu), 0xFFFFFFFCu);
}

TEST(Settings, DamagedOrForeignStoresLoadAsDefaults) {
    TempDir dir;
    std::string path = dir.File("settings.reg");
    test::WriteFile(path, "Vantrove Settings Version 1\n[Options]\n\"Priority\"=dword:00000003\n");
    Settings damaged(path);
    EXPECT_FALSE(damaged.Load()) << "a truncated store is not read";
    EXPECT_EQ(damaged.priority, 0u);

    const std::string foreign = "[Options]\n\"Priority\"=dword:00000003\n; end of store\n";
    test::WriteFile(path, foreign);
    Settings other(path);
    EXPECT_FALSE(other.Load());
    EXPECT_EQ(other.priority, 0u);
    other.SaveOptions();
    std::vector<uint8_t> kept = test::ReadFile(path + ".foreign");
    EXPECT_EQ(std::string(kept.begin(), kept.end()), foreign);
    EXPECT_TRUE(Settings(path).Load());
}

TEST(Settings, TheProcessRecordUsesTheUsersStore) {
    Settings& settings = ProcessSettings();
    EXPECT_EQ(&settings, &ProcessSettings());
    EXPECT_EQ(settings.storePath(), DefaultSettingsStorePath());
    // The test sandbox points the store into its own configuration folder.
    EXPECT_EQ(settings.storePath().rfind(test::SandboxRoot(), 0), 0u) << settings.storePath();
}

TEST(Settings, MissingKeysAreSkipped) {
    TempDir dir;
    WriteStore(dir.File("settings.reg"), "[Shell]\n\"ExplorerMenu\"=dword:00000001\n");
    Settings s(dir.File("settings.reg"));
    EXPECT_TRUE(s.Load());
    EXPECT_TRUE(s.explorerMenu);
    EXPECT_EQ(s.exactBlockSize, 384000u);
    EXPECT_EQ(s.createFilenameWidth, 340u);
}

}  // namespace
}  // namespace vantrove
