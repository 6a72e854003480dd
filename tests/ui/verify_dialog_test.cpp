// Tests of the verify/repair dialog on the off-screen platform, with real
// sets made by the peer tool `par2` in temporary folders: an intact set, a
// damaged one repaired by the button and by the automatic repair, the stop
// question during a repair, closing during a long scan, Apri replacing the
// set, F5, dropping files and the start-up choosing the dialog. Each state
// is saved as a screenshot in the build folder's screenshots/.

#include "ui/verify_dialog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTreeWidget>
#include <QUrl>
#include <QtTest/QtTest>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <mutex>
#include <random>
#include <thread>

#include "app/application.h"
#include "app/localized_message_box.h"
#include "app/settings.h"
#include "app/worker_start.h"
#include "core/disk_file.h"
#include "core/folder_lock.h"
#include "support/qt_test_main.h"
#include "support/shell.h"
#include "support/test_env.h"
#include "support/work_leftover.h"
#include "ui/dialog_probes.h"
#include "ui/dialog_switch.h"
#include "ui/file_context_menu.h"
#include "ui/last_folder.h"
#include "ui/qt_startup_host.h"
#include "ui/segment_bar.h"

namespace vantrove {

using test::TempDir;

namespace {

constexpr int kWaitMs = 60000;  // generous: the machine is shared

// Answers message boxes from a list and remembers what was asked.
class ScriptedMessageBox : public MessageBoxPresenter {
  public:
    struct Question {
        std::string text;
        std::string caption;
        unsigned style;
    };
    std::deque<int> answers;
    std::vector<Question> asked;

    int Show(MessageBoxOwner, const std::string& text, const std::string& caption,
             unsigned style) override {
        asked.push_back({text, caption, style});
        if (answers.empty()) return DefaultButton(style);
        int answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

// A set of three data files protected by `par2`, in its own folder.
struct TestSet {
    TempDir dir;
    std::vector<std::string> names{"alpha.bin", "beta.bin", "gamma.bin"};
    std::vector<std::vector<uint8_t>> contents;
    std::string par2;

    bool Make(uint64_t seedOffset, size_t fileSize = 150000, int redundancy = 50,
              size_t blockSize = 16384) {
        std::mt19937_64 rng(test::TestSeed() + seedOffset);
        for (const std::string& name : names) {
            contents.push_back(test::RandomBytes(rng, fileSize + contents.size() * 777));
            test::WriteFile(dir.File(name), contents.back());
        }
        par2 = dir.File("set.par2");
        std::string command = "cd " + test::ShellQuote(dir.path()) + " && par2 c -q -q -s" +
                              std::to_string(blockSize) + " -r" + std::to_string(redundancy) +
                              " set.par2";
        for (const std::string& name : names) command += " " + test::ShellQuote(name);
        command += " >/dev/null";
        return test::RunShell(command).exitCode == 0;
    }
    // Deletes the first file and damages the second in its middle.
    void Damage() {
        std::remove(dir.File(names[0]).c_str());
        std::vector<uint8_t> damaged = contents[1];
        for (size_t i = damaged.size() / 2; i < damaged.size() / 2 + 100; ++i) damaged[i] ^= 0x5A;
        test::WriteFile(dir.File(names[1]), damaged);
    }
    bool Intact() const {
        for (size_t i = 0; i < names.size(); ++i) {
            if (!test::FileExists(dir.File(names[i]))) return false;
            if (test::ReadFile(dir.File(names[i])) != contents[i]) return false;
        }
        return true;
    }
};

// Holds the worker at the first status of a running repair until the test
// lets it go (or a minute has passed, so that a failing test cannot hang).
class RepairGate {
  public:
    void Pass(const RecoverySetStatus& status) {
        if (status.activity < Activity::Renaming || status.activity > Activity::Writing) return;
        std::unique_lock<std::mutex> lock(mutex_);
        if (used_) return;
        used_ = true;
        holding_ = true;
        released_.wait_for(lock, std::chrono::seconds(60), [this]() { return release_; });
        holding_ = false;
    }
    bool Holding() {
        std::lock_guard<std::mutex> lock(mutex_);
        return holding_;
    }
    void Release() {
        std::lock_guard<std::mutex> lock(mutex_);
        release_ = true;
        released_.notify_all();
    }
    ~RepairGate() { Release(); }

  private:
    std::mutex mutex_;
    std::condition_variable released_;
    bool used_ = false;
    bool holding_ = false;
    bool release_ = false;
};

template <typename T>
T* Child(QWidget* dialog, const char* name) {
    T* child = dialog->findChild<T*>(QString::fromLatin1(name));
    if (child == nullptr) qFatal("no child %s", name);
    return child;
}

void SaveScreenshot(QWidget* widget, const QString& name) {
    QDir dir(test::ScreenshotDir());
    QVERIFY(dir.mkpath(QStringLiteral(".")));
    QVERIFY(widget->grab().save(dir.filePath(name)));
}

// Waits until the worker is idle and every control shows its last status.
void Settle(VerifyDialog& dialog) {
    QTRY_VERIFY_WITH_TIMEOUT(VerifyDialogProbe(dialog).shownStatus().activity == Activity::Idle &&
                                 VerifyDialogProbe(dialog).showsLatestStatus(),
                             kWaitMs);
}

}  // namespace

class VerifyDialogTest : public QObject {
    Q_OBJECT

  private:
    TempDir storeDir_;
    std::unique_ptr<Settings> settings_;
    ScriptedMessageBox boxes_;

    static bool TitleStartsWith(QWidget* dialog, const char* prefix) {
        return dialog->windowTitle().startsWith(QString::fromUtf8(prefix));
    }

  private slots:
    void initTestCase() {
        if (!test::HaveCommand("par2")) QSKIP("the peer tool par2 is not installed");
        SetMessageBoxPresenter(&boxes_);
    }
    void cleanupTestCase() { SetMessageBoxPresenter(nullptr); }
    void init() {
        settings_ = std::make_unique<Settings>(storeDir_.File("settings.reg"));
        boxes_.answers.clear();
        boxes_.asked.clear();
    }

    void EmptyDialogAsksForAVolume() {
        VerifyDialog dialog(*settings_);
        QVERIFY(dialog.ok());
        dialog.show();
        QTRY_COMPARE_WITH_TIMEOUT(dialog.windowTitle(),
                                  QStringLiteral("Vantrove - Seleziona un Volume di Recupero"),
                                  kWaitMs);
        Settle(dialog);
        QVERIFY(Child<QPushButton>(&dialog, "open")->isEnabled());
        QVERIFY(!Child<QPushButton>(&dialog, "add")->isEnabled());
        QVERIFY(!Child<QPushButton>(&dialog, "repair")->isEnabled());
        QVERIFY(!Child<QPushButton>(&dialog, "stop")->isEnabled());
        QCOMPARE(Child<QPushButton>(&dialog, "new")->isEnabled(), kCreateDialogAvailable);
        QCOMPARE(Child<QLabel>(&dialog, "counter0")->text(), QStringLiteral("sconosciuto"));
        QCOMPARE(Child<QPushButton>(&dialog, "stop")->text(), QStringLiteral("Ferma"));
        QVERIFY(Child<QWidget>(&dialog, "dialogMenu")->isVisible());
        QVERIFY(dialog.minimumWidth() > 0 && dialog.minimumHeight() > 0);
        // The block bar is empty, not red with blocks "missing" from no set.
        const QImage bar = Child<SegmentBar>(&dialog, "statusBar")->grab().toImage();
        const QColor middle = bar.pixelColor(bar.width() / 2, bar.height() / 2);
        QVERIFY2(middle.red() == middle.green() && middle.green() == middle.blue(),
                 qPrintable(middle.name()));
        SaveScreenshot(&dialog, QStringLiteral("verify_dialog_empty.png"));
    }

    void IntactSetIsAllVerified() {
        TestSet set;
        QVERIFY(set.Make(1));
        VerifyDialog dialog(*settings_, set.par2);
        dialog.show();
        QTRY_VERIFY_WITH_TIMEOUT(TitleStartsWith(&dialog, "Vantrove - Tutti i dati Verificati - "),
                                 kWaitMs);
        Settle(dialog);
        QCOMPARE(VerifyDialogProbe(dialog).shownStatus().state, RecoveryState::AllVerified);
        QCOMPARE(dialog.windowTitle(),
                 QStringLiteral("Vantrove - Tutti i dati Verificati - \"set\""));
        QTRY_COMPARE_WITH_TIMEOUT(VerifyDialogProbe(dialog).RowsOfKind(SourceRowKind::Complete), 3,
                                  kWaitMs);
        QCOMPARE(Child<QLabel>(&dialog, "counter0")->text(), QStringLiteral("3"));
        QCOMPARE(Child<QLabel>(&dialog, "counter4")->text(), QStringLiteral("3"));
        QCOMPARE(Child<SegmentBar>(&dialog, "statusBar")->GetText(),
                 QStringLiteral("Riparazione non necessaria"));
        QVERIFY(!Child<QPushButton>(&dialog, "repair")->isEnabled());
        // A complete PAR2 set offers further volumes, which wait for the
        // create dialog.
        QCOMPARE(Child<QPushButton>(&dialog, "stop")->text(), QStringLiteral("Extra"));
        QTRY_COMPARE_WITH_TIMEOUT(Child<QPushButton>(&dialog, "stop")->isEnabled(),
                                  kCreateDialogAvailable, kWaitMs);
        QVERIFY(Child<QLabel>(&dialog, "creatorLine")
                    ->text()
                    .startsWith(QStringLiteral("File di recupero creati da :- ")));
        // The list: the recovery group with the volumes, the data group with
        // the three files.
        auto* list = Child<QTreeWidget>(&dialog, "fileList");
        QCOMPARE(list->topLevelItemCount(), 2);
        QCOMPARE(list->topLevelItem(0)->text(0), QStringLiteral("File di recupero"));
        QVERIFY(list->topLevelItem(0)->childCount() >= 2);
        QCOMPARE(list->topLevelItem(1)->text(0), QStringLiteral("File di dati"));
        QCOMPARE(list->topLevelItem(1)->childCount(), 3);
        QCOMPARE(list->topLevelItem(1)->child(0)->text(2), QStringLiteral("Completi"));
        QVERIFY(!list->topLevelItem(1)->child(0)->icon(0).isNull());
        // A file opened from the command line by a user play the sound once
        // it is verified.
        QCOMPARE(VerifyDialogProbe(dialog).soundsPlayed(), 1);
        SaveScreenshot(&dialog, QStringLiteral("verify_dialog_verified.png"));
    }

    void DamagedSetIsRepairedByTheButton() {
        TestSet set;
        QVERIFY(set.Make(2));
        set.Damage();
        VerifyDialog dialog(*settings_, set.par2);
        dialog.show();
        QTRY_VERIFY_WITH_TIMEOUT(TitleStartsWith(&dialog, "Vantrove - Riparazione Necessaria - "),
                                 kWaitMs);
        Settle(dialog);
        QCOMPARE(VerifyDialogProbe(dialog).shownStatus().state, RecoveryState::RepairPossible);
        QTRY_COMPARE_WITH_TIMEOUT(VerifyDialogProbe(dialog).RowsOfKind(SourceRowKind::Missing), 1,
                                  kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(VerifyDialogProbe(dialog).RowsOfKind(SourceRowKind::Damaged), 1,
                                  kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(VerifyDialogProbe(dialog).RowsOfKind(SourceRowKind::Complete), 1,
                                  kWaitMs);
        const RecoverySetStatus status = VerifyDialogProbe(dialog).shownStatus();
        const QString expected =
            QStringLiteral("Pronto per il recupero usando %1/%2 Blocchi di recupero")
                .arg(status.totalDataBlocks - status.dataBlocksAvailable)
                .arg(status.recoveryBlocksAvailable);
        QCOMPARE(Child<SegmentBar>(&dialog, "statusBar")->GetText(), expected);
        auto* repair = Child<QPushButton>(&dialog, "repair");
        QVERIFY(repair->isEnabled());
        QCOMPARE(repair->text(), QStringLiteral("Ripara"));
        QCOMPARE(Child<QLabel>(&dialog, "counter7")->text(), QStringLiteral("1"));
        QCOMPARE(Child<QLabel>(&dialog, "counter5")->text(), QStringLiteral("1"));
        QCOMPARE(VerifyDialogProbe(dialog).soundsPlayed(), 0);
        SaveScreenshot(&dialog, QStringLiteral("verify_dialog_repair_needed.png"));

        QTest::mouseClick(repair, Qt::LeftButton);
        QVERIFY(!repair->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(TitleStartsWith(&dialog, "Vantrove - Riparazione completata - "),
                                 kWaitMs);
        Settle(dialog);
        QVERIFY(set.Intact());
        QCOMPARE(VerifyDialogProbe(dialog).shownStatus().state, RecoveryState::Repaired);
        auto* timeLine = Child<QLabel>(&dialog, "timeLine");
        // The time line follows the status that the dialog samples: under
        // load it may come a tick after the title.
        QTRY_VERIFY_WITH_TIMEOUT(timeLine->isVisible(), kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(
            timeLine->text().startsWith(QStringLiteral("Riparazione riuscita in ")), kWaitMs);
        // A repair of a few hundred kilobytes is over within a tick or two:
        // it still took some time at some speed.
        QVERIFY2(!timeLine->text().contains(QStringLiteral(" 0 secondi")) &&
                     !timeLine->text().contains(QStringLiteral("@ 0 KB/s")),
                 qPrintable(timeLine->text()));
        QVERIFY(!Child<SegmentBar>(&dialog, "statusBar")->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(VerifyDialogProbe(dialog).RowsOfKind(SourceRowKind::Missing), 0,
                                  kWaitMs);
        QCOMPARE(VerifyDialogProbe(dialog).soundsPlayed(), 1);
        SaveScreenshot(&dialog, QStringLiteral("verify_dialog_repaired.png"));
    }

    // A checksum list is worded as one: its group row, the creator line, and
    // a title that says "missing" when the file it lacks is missing.
    // Another job holds the folder: the repair does not start, the error line
    // says why, and nothing changes. Work files of an interrupted job are
    // noted until the repair that gets the lock removes them.
    void BusyFolderStopsTheRepairAndLeftoversAreNoted() {
        TestSet set;
        QVERIFY(set.Make(7));
        set.Damage();
        const std::vector<uint8_t> damaged = test::ReadFile(set.dir.File(set.names[1]));
        test::MakeLeftoverWorkFile(set.dir.File("alpha.bin"), "half");
        VerifyDialog dialog(*settings_, set.par2);
        dialog.show();
        QTRY_VERIFY_WITH_TIMEOUT(TitleStartsWith(&dialog, "Vantrove - Riparazione Necessaria - "),
                                 kWaitMs);
        Settle(dialog);
        auto* note = Child<QLabel>(&dialog, "leftoverNote");
        QTRY_VERIFY_WITH_TIMEOUT(note->isVisible(), kWaitMs);
        QVERIFY2(note->text().startsWith(QStringLiteral("Nella cartella c'è 1 file di lavoro")),
                 qPrintable(note->text()));

        FolderLock other;
        QCOMPARE(other.Acquire(set.dir.path() + "/", false), FolderLock::Outcome::Locked);
        auto* repair = Child<QPushButton>(&dialog, "repair");
        QTest::mouseClick(repair, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(TitleStartsWith(&dialog, "Vantrove - Riparazione fallita - "),
                                 kWaitMs);
        Settle(dialog);
        QCOMPARE(VerifyDialogProbe(dialog).shownStatus().errorKind, ErrorKind::Busy);
        auto* errorLine = Child<QLabel>(&dialog, "errorLine");
        QVERIFY(errorLine->isVisible());
        QCOMPARE(errorLine->text(),
                 QStringLiteral("Serie occupata: un'altra riparazione o creazione sta lavorando "
                                "nella sua cartella"));
        QVERIFY(!test::FileExists(set.dir.File(set.names[0])));
        QVERIFY(test::ReadFile(set.dir.File(set.names[1])) == damaged);
        QVERIFY(test::FileExists(set.dir.File(".alpha.bin.vantrove-part")));

        other.Release();
        QTRY_VERIFY_WITH_TIMEOUT(repair->isEnabled(), kWaitMs);
        QTest::mouseClick(repair, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(TitleStartsWith(&dialog, "Vantrove - Riparazione completata - "),
                                 kWaitMs);
        Settle(dialog);
        QVERIFY(set.Intact());
        QVERIFY(!test::FileExists(set.dir.File(".alpha.bin.vantrove-part")));
        QTRY_VERIFY_WITH_TIMEOUT(!note->isVisible(), kWaitMs);
    }

    void ChecksumListWithAMissingFile() {
        if (!test::HaveCommand("md5sum")) QSKIP("md5sum is not installed");
        TestSet set;
        std::mt19937_64 rng(test::TestSeed() + 20);
        std::string command = "cd " + test::ShellQuote(set.dir.path()) + " && md5sum";
        for (const std::string& name : set.names) {
            test::WriteFile(set.dir.File(name), test::RandomBytes(rng, 5000));
            command += " " + name;
        }
        QCOMPARE(test::RunShell(command + " > set.md5").exitCode, 0);
        std::remove(set.dir.File(set.names[1]).c_str());
        VerifyDialog dialog(*settings_, set.dir.File("set.md5"));
        dialog.show();
        QTRY_VERIFY2_WITH_TIMEOUT(TitleStartsWith(&dialog, "Vantrove - 1 File Mancante - "),
                                  qPrintable(dialog.windowTitle()), kWaitMs);
        Settle(dialog);
        QCOMPARE(Child<SegmentBar>(&dialog, "statusBar")->GetText(),
                 QStringLiteral("1 File Mancante"));
        auto* list = Child<QTreeWidget>(&dialog, "fileList");
        QCOMPARE(list->topLevelItem(0)->text(0), QStringLiteral("File delle Firme di Verifica"));
        QCOMPARE(list->topLevelItem(0)->childCount(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(VerifyDialogProbe(dialog).RowsOfKind(SourceRowKind::Missing), 1,
                                  kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(VerifyDialogProbe(dialog).RowsOfKind(SourceRowKind::Complete), 2,
                                  kWaitMs);
        QVERIFY(Child<QLabel>(&dialog, "creatorLine")
                    ->text()
                    .startsWith(QStringLiteral("File di Verifica creati da :- ")));
        QVERIFY(!Child<QPushButton>(&dialog, "repair")->isEnabled());
        SaveScreenshot(&dialog, QStringLiteral("verify_dialog_checksum_missing.png"));
    }

    void AutomaticRepairNeedsNoClickAndSoundsOnce() {
        TestSet set;
        QVERIFY(set.Make(3));
        set.Damage();
        settings_->repairAutomatically = true;
        settings_->monitorAutomatically = false;
        VerifyDialog dialog(*settings_, set.par2, true);
        // The box comes checked from the settings. The worker may already
        // have found the damage by the time the constructor takes its first
        // look, and then the automatic repair has begun and cleared the box.
        QVERIFY(Child<QCheckBox>(&dialog, "autoRepair")->isChecked() ||
                VerifyDialogProbe(dialog).repairsRequested() == 1);
        dialog.show();
        QTRY_VERIFY_WITH_TIMEOUT(TitleStartsWith(&dialog, "Vantrove - Riparazione completata - "),
                                 kWaitMs);
        Settle(dialog);
        QVERIFY(set.Intact());
        QCOMPARE(VerifyDialogProbe(dialog).repairsRequested(), 1);
        QCOMPARE(VerifyDialogProbe(dialog).soundsPlayed(), 1);
        // Repairing a set that needed it clears the automatic options.
        QVERIFY(!Child<QCheckBox>(&dialog, "autoRepair")->isChecked());
    }

    void SoundFollowsTheSetting() {
        TestSet set;
        QVERIFY(set.Make(4));
        settings_->sounds = false;
        VerifyDialog dialog(*settings_, set.par2);
        QTRY_VERIFY_WITH_TIMEOUT(
            VerifyDialogProbe(dialog).shownStatus().state == RecoveryState::AllVerified, kWaitMs);
        Settle(dialog);
        QCOMPARE(VerifyDialogProbe(dialog).soundsPlayed(), 0);
    }

    // The options from the settings only when asked for (the start-up's
    // dialog); a dialog opened by another window starts with them clear.
    void OptionsComeFromTheSettingsOnlyWhenAsked() {
        settings_->repairAutomatically = true;
        settings_->monitorAutomatically = true;
        TestSet set;
        QVERIFY(set.Make(5));
        {
            VerifyDialog dialog(*settings_, set.par2, false);
            QVERIFY(!Child<QCheckBox>(&dialog, "autoRepair")->isChecked());
            QVERIFY(!Child<QCheckBox>(&dialog, "monitor")->isChecked());
        }
        {
            VerifyDialog dialog(*settings_, set.par2, true);
            QVERIFY(Child<QCheckBox>(&dialog, "autoRepair")->isChecked());
            QVERIFY(Child<QCheckBox>(&dialog, "monitor")->isChecked());
        }
    }

    // Automatic repair of a set that stays repairable: one attempt at first,
    // then never more than one a second. The worker has no set, so the test
    // hands the dialog the status of a repairable set again and again.
    void AutomaticRepairAtMostOnceASecond() {
        VerifyDialog dialog(*settings_);
        Child<QCheckBox>(&dialog, "autoRepair")->setChecked(true);
        RecoverySetStatus repairable;
        repairable.formatKind = FormatKind::Par2;
        // Joining leaves the automatic repair checked (a repair of a damaged
        // set clears it).
        repairable.state = RecoveryState::PartlyJoinable;
        repairable.subState = SubState::CanJoin;
        repairable.totalDataBlocks = 10;
        repairable.dataBlocksAvailable = 10;
        repairable.recoveryBlocksAvailable = 4;
        QTimer feeder;
        connect(&feeder, &QTimer::timeout,
                [&]() { VerifyDialogProbe(dialog).workerClient().StatusChanged(repairable); });
        feeder.start(10);
        QElapsedTimer clock;
        clock.start();
        QTRY_VERIFY_WITH_TIMEOUT(VerifyDialogProbe(dialog).repairsRequested() >= 1, kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(VerifyDialogProbe(dialog).repairsRequested() >= 3, kWaitMs);
        feeder.stop();
        const qint64 elapsed = clock.elapsed();
        // n attempts need more than n - 1 seconds between the first and the last.
        QVERIFY2(VerifyDialogProbe(dialog).repairsRequested() <= 1 + elapsed / 1000,
                 qPrintable(QStringLiteral("%1 attempts in %2 ms")
                                .arg(VerifyDialogProbe(dialog).repairsRequested())
                                .arg(elapsed)));
    }

    // The question while a repair runs: No goes on, Yes stops. The test hands
    // the dialog the status of a running repair.
    void StopDuringARepairAsksFirst() {
        VerifyDialog dialog(*settings_);
        dialog.show();
        RecoverySetStatus running;
        running.formatKind = FormatKind::Par2;
        running.state = RecoveryState::RepairPossible;
        running.activity = Activity::Recovering;
        running.setName = "film";
        running.progressPosition = 1;
        running.progressTotal = 3;
        auto* monitor = Child<QCheckBox>(&dialog, "monitor");
        auto* stop = Child<QPushButton>(&dialog, "stop");
        monitor->setChecked(true);
        // The worker hands over its own idle status now and then (after each
        // request), so the running status is handed over again and again.
        QTimer feeder;
        connect(&feeder, &QTimer::timeout,
                [&]() { VerifyDialogProbe(dialog).workerClient().StatusChanged(running); });
        feeder.start(10);
        QTRY_VERIFY_WITH_TIMEOUT(
            stop->isEnabled() &&
                VerifyDialogProbe(dialog).shownStatus().activity == Activity::Recovering,
            kWaitMs);
        QCOMPARE(Child<SegmentBar>(&dialog, "progressBar")->GetText(), QStringLiteral("33.3 %"));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Vantrove - Recupero dati - \"film\""));
        SaveScreenshot(&dialog, QStringLiteral("verify_dialog_recovering.png"));

        boxes_.answers = {kIdNo};
        QTest::mouseClick(stop, Qt::LeftButton);
        QCOMPARE(boxes_.asked.size(), size_t{1});
        QCOMPARE(boxes_.asked[0].text,
                 std::string("Siete sicuri di voler interrompere la riparazione?"));
        QCOMPARE(boxes_.asked[0].caption, std::string("Interrompi Riparazione"));
        QCOMPARE(boxes_.asked[0].style, kMbYesNo | kMbIconQuestion);
        QVERIFY(stop->isEnabled());  // nothing happened
        QVERIFY(monitor->isChecked());

        boxes_.answers = {kIdYes};
        QTest::mouseClick(stop, Qt::LeftButton);
        QCOMPARE(boxes_.asked.size(), size_t{2});
        QVERIFY(!stop->isEnabled());
        QVERIFY(!monitor->isChecked());

        // While only scanning, Ferma stops without asking.
        running.activity = Activity::ScanningFile;
        monitor->setChecked(true);
        QTRY_VERIFY_WITH_TIMEOUT(
            stop->isEnabled() &&
                VerifyDialogProbe(dialog).shownStatus().activity == Activity::ScanningFile,
            kWaitMs);
        // The worker's own idle status, handed over once it has taken the
        // stop just asked for, may still come between the feeder's; a click
        // that finds it does nothing. Click until one finds the scan running.
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                if (stop->isEnabled()) QTest::mouseClick(stop, Qt::LeftButton);
                return !monitor->isChecked();
            }(),
            kWaitMs);
        QCOMPARE(boxes_.asked.size(), size_t{2});
    }

    // A real repair held by the test at its first repair status, so that
    // Ferma certainly comes while it runs. Yes: the repair stops and the set
    // stays unrepaired with the cancelled message. No: it goes on.
    void YesStopsARealRepairNoLetsItGoOn() {
        for (int answer : {kIdYes, kIdNo}) {
            TestSet set;
            QVERIFY(set.Make(answer == kIdYes ? 6 : 66));
            set.Damage();
            VerifyDialog dialog(*settings_);
            RepairGate gate;
            VerifyDialogProbe(dialog).workerClient().SetStatusListener(
                [&gate](const RecoverySetStatus& status) { gate.Pass(status); });
            dialog.show();
            dialog.OpenDroppedPaths({set.par2});
            QTRY_VERIFY2_WITH_TIMEOUT(
                VerifyDialogProbe(dialog).shownStatus().state == RecoveryState::RepairPossible &&
                    VerifyDialogProbe(dialog).shownStatus().activity == Activity::Idle,
                qPrintable(dialog.windowTitle()), kWaitMs);
            QTest::mouseClick(Child<QPushButton>(&dialog, "repair"), Qt::LeftButton);
            auto* stop = Child<QPushButton>(&dialog, "stop");
            QTRY_VERIFY_WITH_TIMEOUT(gate.Holding(), kWaitMs);
            QTRY_VERIFY_WITH_TIMEOUT(
                stop->isEnabled() &&
                    VerifyDialogProbe(dialog).shownStatus().activity >= Activity::Renaming,
                kWaitMs);
            boxes_.answers = {answer};
            QTest::mouseClick(stop, Qt::LeftButton);
            QCOMPARE(boxes_.asked.size(), size_t{1});
            boxes_.asked.clear();
            QCOMPARE(stop->isEnabled(), answer == kIdNo);
            gate.Release();
            QTRY_VERIFY2_WITH_TIMEOUT(
                VerifyDialogProbe(dialog).shownStatus().activity == Activity::Idle &&
                    (VerifyDialogProbe(dialog).shownStatus().state !=
                         RecoveryState::RepairPossible ||
                     VerifyDialogProbe(dialog).shownStatus().errorKind != ErrorKind::None),
                qPrintable(dialog.windowTitle()), kWaitMs);
            Settle(dialog);
            if (answer == kIdNo) {
                QCOMPARE(VerifyDialogProbe(dialog).shownStatus().state, RecoveryState::Repaired);
                QVERIFY(set.Intact());
                continue;
            }
            QCOMPARE(VerifyDialogProbe(dialog).shownStatus().errorKind, ErrorKind::Cancelled);
            QCOMPARE(VerifyDialogProbe(dialog).shownStatus().state, RecoveryState::RepairPossible);
            auto* errorLine = Child<QLabel>(&dialog, "errorLine");
            QVERIFY(errorLine->isVisible());
            QCOMPARE(errorLine->text(), QStringLiteral("Riparazione Annullata"));
            QVERIFY(!Child<SegmentBar>(&dialog, "progressBar")->isVisible());
            QVERIFY(TitleStartsWith(&dialog, "Vantrove - Riparazione fallita - "));
            SaveScreenshot(&dialog, QStringLiteral("verify_dialog_cancelled.png"));
        }
    }

    // The worker is held at the start of the search of a large file (a copy
    // candidate of the missing file); closing the dialog then stops the search
    // at its next check instead of letting it run through the file.
    void ClosingDuringALongScanReturnsPromptly() {
        TestSet set;
        QVERIFY(set.Make(7));
        set.Damage();
        const std::string junk = set.dir.File(set.names[0] + ".1");
        std::mt19937_64 rng(test::TestSeed() + 7);
        test::WriteFile(junk, test::RandomBytes(rng, 128u << 20));

        std::mutex mutex;
        bool held = false;
        uint64_t furthest = 0, total = 0;
        auto dialog = std::make_unique<VerifyDialog>(*settings_);
        VerifyDialog* raw = dialog.get();
        VerifyDialogProbe(dialog.get())
            .workerClient()
            .SetStatusListener([&](const RecoverySetStatus& status) {
                if (status.currentFile != junk || status.activity == Activity::Idle) return;
                std::unique_lock<std::mutex> lock(mutex);
                furthest = std::max(furthest, status.progressPosition);
                total = status.progressTotal;
                if (held) return;
                held = true;
                lock.unlock();
                // Until the dialog asks the worker to stop (a minute at most).
                for (int i = 0; i < 6000 && !VerifyDialogProbe(raw).stopRequested(); ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
            });
        dialog->show();
        dialog->OpenDroppedPaths({set.par2});
        QTRY_VERIFY_WITH_TIMEOUT(
            [&]() {
                std::lock_guard<std::mutex> lock(mutex);
                return held;
            }(),
            kWaitMs);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(dialog->close());
        qInfo("closed after %lld ms", static_cast<long long>(clock.elapsed()));
        std::lock_guard<std::mutex> lock(mutex);
        QVERIFY(total >= (128u << 20));
        QVERIFY2(furthest < total / 2,
                 qPrintable(QStringLiteral("searched %1 of %2 bytes").arg(furthest).arg(total)));
    }

    void OpeningAnotherSetClearsTheListFirst() {
        TestSet first;
        QVERIFY(first.Make(8));
        TestSet second;
        second.names = {"delta.bin", "epsilon.bin"};
        QVERIFY(second.Make(9));
        VerifyDialog dialog(*settings_, first.par2);
        dialog.show();
        // The verified state comes before the worker is idle; Apri works
        // only then.
        QTRY_VERIFY_WITH_TIMEOUT(
            VerifyDialogProbe(dialog).shownStatus().state == RecoveryState::AllVerified &&
                VerifyDialogProbe(dialog).shownStatus().activity == Activity::Idle &&
                Child<QPushButton>(&dialog, "open")->isEnabled(),
            kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(VerifyDialogProbe(dialog).RowsOfKind(SourceRowKind::Complete), 3,
                                  kWaitMs);

        bool asked = false;
        dialog.SetFileChooser([&](QWidget*, bool addMode) {
            asked = true;
            return addMode ? std::vector<std::string>{} : std::vector<std::string>{second.par2};
        });
        auto* list = Child<QTreeWidget>(&dialog, "fileList");
        QTest::mouseClick(Child<QPushButton>(&dialog, "open"), Qt::LeftButton);
        QVERIFY(asked);
        // Cleared at once, before anything of the new set arrives.
        QCOMPARE(list->topLevelItem(0)->childCount(), 0);
        QCOMPARE(list->topLevelItem(1)->childCount(), 0);
        QVERIFY(!Child<QPushButton>(&dialog, "open")->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(
            VerifyDialogProbe(dialog).shownStatus().state == RecoveryState::AllVerified &&
                VerifyDialogProbe(dialog).RowsOfKind(SourceRowKind::Complete) == 2,
            kWaitMs);
        Settle(dialog);
        QCOMPARE(list->topLevelItem(1)->childCount(), 2);
        for (int i = 0; i < list->topLevelItem(1)->childCount(); ++i)
            QVERIFY(!list->topLevelItem(1)->child(i)->text(0).startsWith(QStringLiteral("alpha")));
        QCOMPARE(QString::fromStdString(VerifyDialogProbe(dialog).shownStatus().setName),
                 QStringLiteral("set"));
    }

    // Checking Rileva scans the folder at once: a file deleted behind the
    // dialog's back is seen as missing.
    void MonitoringScansAtOnce() {
        TestSet set;
        QVERIFY(set.Make(15));
        VerifyDialog dialog(*settings_, set.par2);
        dialog.show();
        QTRY_VERIFY_WITH_TIMEOUT(
            VerifyDialogProbe(dialog).shownStatus().state == RecoveryState::AllVerified &&
                VerifyDialogProbe(dialog).shownStatus().activity == Activity::Idle,
            kWaitMs);
        std::remove(set.dir.File(set.names[2]).c_str());
        QTest::qWait(300);
        QCOMPARE(VerifyDialogProbe(dialog).shownStatus().state, RecoveryState::AllVerified);
        auto* monitor = Child<QCheckBox>(&dialog, "monitor");
        monitor->click();  // as the user does: toggled and clicked
        QVERIFY(monitor->isChecked());
        QTRY_VERIFY_WITH_TIMEOUT(
            VerifyDialogProbe(dialog).RowsOfKind(SourceRowKind::Missing) == 1 &&
                VerifyDialogProbe(dialog).shownStatus().state == RecoveryState::RepairPossible,
            kWaitMs);
    }

    // Aggiungi adds a file to the set that is open: a volume kept in another
    // folder brings the recovery blocks that the repair lacked.
    void AddingAVolumeFromAnotherFolder() {
        TestSet set;
        QVERIFY(set.Make(16));
        set.Damage();
        TempDir elsewhere;
        // The largest volume goes away.
        std::string largest;
        uint64_t largestSize = 0;
        for (const auto& entry : std::filesystem::directory_iterator(set.dir.path())) {
            const std::string name = entry.path().filename().string();
            if (name.find(".vol") == std::string::npos) continue;
            if (entry.file_size() > largestSize) {
                largestSize = entry.file_size();
                largest = name;
            }
        }
        QVERIFY(!largest.empty());
        const std::string moved = elsewhere.File(largest);
        std::filesystem::rename(set.dir.File(largest), moved);

        VerifyDialog dialog(*settings_, set.par2);
        dialog.show();
        QTRY_VERIFY2_WITH_TIMEOUT(
            VerifyDialogProbe(dialog).shownStatus().activity == Activity::Idle &&
                VerifyDialogProbe(dialog).shownStatus().state == RecoveryState::Incomplete,
            qPrintable(dialog.windowTitle()), kWaitMs);
        auto* add = Child<QPushButton>(&dialog, "add");
        QTRY_VERIFY_WITH_TIMEOUT(add->isEnabled(), kWaitMs);
        const int volumesBefore =
            Child<QTreeWidget>(&dialog, "fileList")->topLevelItem(0)->childCount();
        bool addMode = false;
        dialog.SetFileChooser([&](QWidget*, bool mode) {
            addMode = mode;
            return std::vector<std::string>{moved};
        });
        QTest::mouseClick(add, Qt::LeftButton);
        QVERIFY(addMode);
        // Nothing was cleared.
        QCOMPARE(Child<QTreeWidget>(&dialog, "fileList")->topLevelItem(0)->childCount(),
                 volumesBefore);
        QTRY_VERIFY2_WITH_TIMEOUT(
            VerifyDialogProbe(dialog).shownStatus().activity == Activity::Idle &&
                VerifyDialogProbe(dialog).shownStatus().state == RecoveryState::RepairPossible,
            qPrintable(dialog.windowTitle()), kWaitMs);
        QCOMPARE(QString::fromStdString(LastFolder()),
                 QString::fromStdString(elsewhere.path() + "/"));
    }

    // F5 forgets what was verified: damage that keeps the file's size and
    // time is found only by verifying again.
    void F5VerifiesEverythingAgain() {
        TestSet set;
        QVERIFY(set.Make(10));
        VerifyDialog dialog(*settings_, set.par2);
        dialog.show();
        QTRY_VERIFY_WITH_TIMEOUT(
            VerifyDialogProbe(dialog).shownStatus().state == RecoveryState::AllVerified &&
                VerifyDialogProbe(dialog).shownStatus().activity == Activity::Idle,
            kWaitMs);
        const std::string path = set.dir.File(set.names[2]);
        struct stat before {};
        QCOMPARE(stat(path.c_str(), &before), 0);
        std::vector<uint8_t> damaged = set.contents[2];
        damaged[10] ^= 0xFF;
        test::WriteFile(path, damaged);
        struct timespec times[2] = {before.st_atim, before.st_mtim};
        QCOMPARE(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);

        // F5 is a window shortcut: a key that comes before the new dialog is
        // the active window goes nowhere. Press it again while the set still
        // shows as verified and idle (a second re-verification is harmless).
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                const RecoverySetStatus shown = VerifyDialogProbe(dialog).shownStatus();
                if (shown.state == RecoveryState::AllVerified && shown.activity == Activity::Idle)
                    QTest::keyClick(&dialog, Qt::Key_F5);
                return shown.state == RecoveryState::RepairPossible &&
                       shown.activity == Activity::Idle;
            }(),
            kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(VerifyDialogProbe(dialog).RowsOfKind(SourceRowKind::Damaged), 1,
                                  kWaitMs);
    }

    void DroppedFilesAreOpened() {
        TestSet set;
        QVERIFY(set.Make(11));
        VerifyDialog dialog(*settings_);
        dialog.show();
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(QString::fromStdString(set.par2))});
        // Dropped on the list, the files reach the dialog.
        QWidget* target = Child<QTreeWidget>(&dialog, "fileList")->viewport();
        const QPoint at(20, 20);
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &drop);
        QTRY_VERIFY_WITH_TIMEOUT(
            VerifyDialogProbe(dialog).shownStatus().state == RecoveryState::AllVerified, kWaitMs);
        QCOMPARE(QString::fromStdString(LastFolder()),
                 QString::fromStdString(set.dir.path() + "/"));
    }

    // The file list's menu follows the row: the desktop's actions for a file
    // that exists, nothing for the data group and for a missing file; a
    // click outside the rows gives the dialog's own menu with the priority.
    void ContextMenusFollowTheRow() {
        TestSet set;
        QVERIFY(set.Make(14));
        std::remove(set.dir.File(set.names[0]).c_str());
        VerifyDialog dialog(*settings_, set.par2);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTRY_VERIFY_WITH_TIMEOUT(
            VerifyDialogProbe(dialog).shownStatus().activity == Activity::Idle &&
                VerifyDialogProbe(dialog).RowsOfKind(SourceRowKind::Missing) == 1 &&
                VerifyDialogProbe(dialog).RowsOfKind(SourceRowKind::Complete) == 2,
            kWaitMs);
        auto* list = Child<QTreeWidget>(&dialog, "fileList");
        QTreeWidgetItem* dataGroup = list->topLevelItem(1);
        auto menuAt = [&](QTreeWidgetItem* row) {
            QStringList seen;
            bool looked = false;
            QTimer::singleShot(300, [&seen, &looked]() {
                looked = true;
                auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
                if (menu == nullptr) return;
                for (QAction* action : menu->actions()) {
                    if (!action->isSeparator()) seen.append(action->text());
                }
                menu->close();
            });
            const QPoint at = row ? list->visualItemRect(row).center()
                                  : QPoint(5, list->viewport()->height() - 3);
            emit list->customContextMenuRequested(at);
            QTest::qWaitFor([&looked] { return looked; }, kWaitMs);
            return seen;
        };
        QTreeWidgetItem* missing = nullptr;
        QTreeWidgetItem* complete = nullptr;
        for (int i = 0; i < dataGroup->childCount(); ++i) {
            QTreeWidgetItem* row = dataGroup->child(i);
            if (row->text(0).endsWith(QString::fromStdString(set.names[0]))) missing = row;
            if (row->text(0).endsWith(QString::fromStdString(set.names[2]))) complete = row;
        }
        QVERIFY(missing != nullptr && complete != nullptr);
        QCOMPARE(menuAt(complete),
                 (QStringList{QStringLiteral("Apri"), QStringLiteral("Apri cartella"),
                              QStringLiteral("Copia percorso")}));
        QVERIFY(menuAt(missing).isEmpty());
        QVERIFY(menuAt(dataGroup).isEmpty());
        // Below the rows (the groups closed, so that there is room).
        list->collapseAll();
        QCOMPARE(menuAt(nullptr), QStringList{QStringLiteral("Priorità")});
    }

    // Esci and the Esc key both close the dialog through its closing (the
    // worker is quit and the layout written).
    void EsciAndEscapeClose() {
        for (bool escape : {false, true}) {
            settings_->openDialogueHeight = 0;
            auto* dialog = new VerifyDialog(*settings_);
            dialog->setAttribute(Qt::WA_DeleteOnClose);
            QPointer<VerifyDialog> alive(dialog);
            dialog->show();
            QVERIFY(QTest::qWaitForWindowExposed(dialog));
            auto* exit = Child<QPushButton>(dialog, "exit");
            QTRY_VERIFY_WITH_TIMEOUT(exit->isEnabled(), kWaitMs);
            if (escape) {
                QTest::keyClick(dialog, Qt::Key_Escape);
            } else {
                QTest::mouseClick(exit, Qt::LeftButton);
                QVERIFY(!exit->isEnabled());
            }
            QTRY_VERIFY_WITH_TIMEOUT(alive.isNull(), kWaitMs);
            QVERIFY(settings_->openDialogueHeight != 0);
        }
    }

    // Esc is Esci: while a repair runs it neither closes the dialog nor
    // stops the repair (only Ferma does, after asking); once idle it closes.
    void EscapeWaitsForARunningJob() {
        VerifyDialog dialog(*settings_);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        RecoverySetStatus running;
        running.formatKind = FormatKind::Par2;
        running.state = RecoveryState::RepairPossible;
        running.activity = Activity::Recovering;
        running.progressPosition = 1;
        running.progressTotal = 3;
        QTimer feeder;
        connect(&feeder, &QTimer::timeout,
                [&]() { VerifyDialogProbe(dialog).workerClient().StatusChanged(running); });
        feeder.start(10);
        auto* exit = Child<QPushButton>(&dialog, "exit");
        QTRY_VERIFY_WITH_TIMEOUT(
            !exit->isEnabled() &&
                VerifyDialogProbe(dialog).shownStatus().activity == Activity::Recovering,
            kWaitMs);
        const size_t asked = boxes_.asked.size();
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QCoreApplication::processEvents();
        QVERIFY(dialog.isVisible());
        QVERIFY(!VerifyDialogProbe(dialog).stopRequested());
        QCOMPARE(boxes_.asked.size(), asked);

        running.activity = Activity::Idle;
        QTRY_VERIFY_WITH_TIMEOUT(exit->isEnabled(), kWaitMs);
        feeder.stop();
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.isVisible(), kWaitMs);
    }

    void ClosingSavesTheLayout() {
        settings_->verifyFilenameWidth = 250;
        settings_->openDialogueHeight = 600;
        {
            VerifyDialog dialog(*settings_);
            dialog.show();
            QCOMPARE(dialog.height(), 600);
            QCOMPARE(Child<QTreeWidget>(&dialog, "fileList")->columnWidth(0), 250);
            Child<QTreeWidget>(&dialog, "fileList")->setColumnWidth(0, 222);
            dialog.resize(dialog.width(), 640);
            QVERIFY(dialog.close());
        }
        QCOMPARE(settings_->verifyFilenameWidth, 222u);
        QCOMPARE(settings_->openDialogueHeight, 640u);
        Settings reloaded(settings_->storePath());
        QVERIFY(reloaded.Load());
        QCOMPARE(reloaded.verifyFilenameWidth, 222u);
        QCOMPARE(reloaded.openDialogueHeight, 640u);
        // A stored height below the minimum is raised to it.
        settings_->openDialogueHeight = 50;
        VerifyDialog small(*settings_);
        QCOMPARE(small.height(), small.minimumHeight());
    }

    void StartUpOpensTheDialogOfTheCommandLine() {
        TestSet set;
        QVERIFY(set.Make(12));
        settings_->SaveOptions();  // not a first run: no preferences dialog
        Application application;
        QtStartupHost host(*settings_);
        QCOMPARE(RunStartup(application, *settings_, {set.par2}, host), StartupResult::Running);
        auto* dialog = qobject_cast<VerifyDialog*>(host.mainDialog());
        QVERIFY(dialog != nullptr);
        QCOMPARE(MainWindow(), dialog);
        QPointer<VerifyDialog> alive(dialog);
        QTRY_VERIFY_WITH_TIMEOUT(TitleStartsWith(dialog, "Vantrove - Tutti i dati Verificati - "),
                                 kWaitMs);
        dialog->close();
        QTRY_VERIFY_WITH_TIMEOUT(alive.isNull(), kWaitMs);

        // Without a file: the create dialog, or an empty verify/repair dialog
        // in its place where there is none.
        QtStartupHost empty(*settings_);
        QCOMPARE(RunStartup(application, *settings_, {}, empty), StartupResult::Running);
        QWidget* window = empty.mainDialog();
        QVERIFY(window != nullptr);
        QCOMPARE(MainWindow(), window);
        QCOMPARE(qobject_cast<VerifyDialog*>(window) == nullptr, kCreateDialogAvailable);
        QVERIFY(window->isVisible());
        QPointer<QWidget> windowAlive(window);
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->close();
        QTRY_VERIFY_WITH_TIMEOUT(windowAlive.isNull(), kWaitMs);
    }

    // A file name is bytes: one that is not valid UTF-8 (Latin-1 "caf\xe9")
    // reaches start-up unchanged and its set is opened and verified.
    void StartUpKeepsTheBytesOfAFileName() {
        TestSet set;
        QVERIFY(set.Make(14));
        const std::string odd = set.dir.File("caf\xe9.par2");
        QCOMPARE(std::rename(set.par2.c_str(), odd.c_str()), 0);
        std::string program = "vantrove";
        std::string fileArgument = odd;
        char* argv[] = {program.data(), fileArgument.data(), nullptr};
        const std::vector<std::string> arguments = ProgramArguments(2, argv);
        QCOMPARE(arguments.size(), size_t{1});
        QVERIFY(arguments[0] == odd);

        settings_->SaveOptions();  // not a first run: no preferences dialog
        Application application;
        QtStartupHost host(*settings_);
        QCOMPARE(RunStartup(application, *settings_, arguments, host), StartupResult::Running);
        auto* dialog = qobject_cast<VerifyDialog*>(host.mainDialog());
        QVERIFY(dialog != nullptr);
        QPointer<VerifyDialog> alive(dialog);
        QTRY_VERIFY_WITH_TIMEOUT(
            VerifyDialogProbe(dialog).shownStatus().state == RecoveryState::AllVerified, kWaitMs);
        QVERIFY(VerifyDialogProbe(dialog).shownStatus().setName == "caf\xe9");
        dialog->close();
        QTRY_VERIFY_WITH_TIMEOUT(alive.isNull(), kWaitMs);
    }

    // The first size fits a set of ten volumes and ten files without
    // scrolling, and the window stays within a 1366 x 768 screen.
    void DefaultSizeShowsTenVolumesAndTenFiles() {
        TestSet set;
        set.names.clear();
        for (int i = 0; i < 10; ++i) set.names.push_back("file" + std::to_string(i) + ".bin");
        QVERIFY(set.Make(24, 20000, 50, 4096));
        // Ten volumes in all: the index and nine recovery files.
        QCOMPARE(test::RunShell("cd " + test::ShellQuote(set.dir.path()) +
                                " && rm -f set*.par2 && par2 c -q -q -s4096 -r50 -n9 -u "
                                "set.par2 file*.bin >/dev/null")
                     .exitCode,
                 0);
        VerifyDialog dialog(*settings_, set.par2);
        dialog.show();
        QTRY_VERIFY_WITH_TIMEOUT(
            VerifyDialogProbe(dialog).shownStatus().state == RecoveryState::AllVerified, kWaitMs);
        Settle(dialog);
        auto* list = Child<QTreeWidget>(&dialog, "fileList");
        QCOMPARE(list->topLevelItem(0)->childCount(), 10);
        QCOMPARE(list->topLevelItem(1)->childCount(), 10);
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY(dialog.height() <= std::max(screen.height() - 40, dialog.minimumHeight()));
        QVERIFY(dialog.height() <= 768 - 40);
        QVERIFY(dialog.width() <= 1366);
        // Where the screen has the room (not with a large scaling factor).
        if (screen.height() >= 768) QCOMPARE(list->verticalScrollBar()->maximum(), 0);
        SaveScreenshot(&dialog, QStringLiteral("verify_dialog_ten_volumes_ten_files.png"));
    }

    // A double click on a row opens its file with the desktop's program, by
    // the bytes of its name; a missing file and the group rows open nothing.
    void DoubleClickOpensTheFile() {
        TestSet set;
        set.names = {"caf\xe9.bin", "gone.bin", "plain.bin"};
        QVERIFY(set.Make(25));
        std::remove(set.dir.File("gone.bin").c_str());
        VerifyDialog dialog(*settings_, set.par2);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTRY_VERIFY_WITH_TIMEOUT(
            VerifyDialogProbe(dialog).RowsOfKind(SourceRowKind::Missing) == 1 &&
                VerifyDialogProbe(dialog).RowsOfKind(SourceRowKind::Complete) == 2,
            kWaitMs);
        Settle(dialog);
        std::vector<std::string> opened;
        SetDesktopOpenerForTests([&](const std::string& path) { opened.push_back(path); });
        auto* list = Child<QTreeWidget>(&dialog, "fileList");
        QTreeWidgetItem* data = list->topLevelItem(1);
        for (int i = 0; i < data->childCount(); ++i) emit list->itemDoubleClicked(data->child(i), 0);
        emit list->itemDoubleClicked(data, 0);
        emit list->itemDoubleClicked(list->topLevelItem(0)->child(0), 0);
        SetDesktopOpenerForTests(nullptr);
        std::sort(opened.begin(), opened.end());
        QCOMPARE(opened, (std::vector<std::string>{set.dir.File("caf\xe9.bin"),
                                                   set.dir.File("plain.bin"), set.par2}));
    }

    // A name that is not there is reported as a failed open, in the error
    // line; the dialog stays as it was and usable.
    void FileThatDoesNotExistIsReported() {
        TempDir dir;
        const std::string missing = dir.File("x/nonexistent.par2");
        VerifyDialog dialog(*settings_, missing);
        dialog.show();
        Settle(dialog);
        auto* errorLine = Child<QLabel>(&dialog, "errorLine");
        QVERIFY(errorLine->isVisible());
        QCOMPARE(errorLine->text(),
                 QString::fromStdString("Impossibile aprire \"nonexistent.par2\": " +
                                        SystemErrorText(ENOENT)));
        QVERIFY(!dialog.windowTitle().contains(QStringLiteral("Seleziona più")));
        QVERIFY(Child<QLabel>(&dialog, "creatorLine")->text().isEmpty());
        QVERIFY(Child<QPushButton>(&dialog, "open")->isEnabled());
        QCOMPARE(VerifyDialogProbe(dialog).shownStatus().state, RecoveryState::NothingLoaded);
        SaveScreenshot(&dialog, QStringLiteral("verify_dialog_file_not_found.png"));

        // A real set opened next replaces the message.
        TestSet set;
        QVERIFY(set.Make(21));
        dialog.SetFileChooser([&](QWidget*, bool) { return std::vector<std::string>{set.par2}; });
        QTest::mouseClick(Child<QPushButton>(&dialog, "open"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(
            VerifyDialogProbe(dialog).shownStatus().state == RecoveryState::AllVerified, kWaitMs);
        Settle(dialog);
        QVERIFY(!errorLine->isVisible());
    }

    // Without its worker a verify dialog is not opened: the switch says so
    // and the window the user came from stays.
    void DialogWithoutWorkerIsNotOpened() {
        SetWorkerStarter([](VerificationWorker&) { return false; });
        auto* owner = new QWidget;
        owner->setAttribute(Qt::WA_DeleteOnClose);
        owner->show();
        SetMainWindow(owner);
        QWidget* dialog = OpenVerifyDialog(*settings_, {});
        SetWorkerStarter(nullptr);
        QVERIFY(dialog == nullptr);
        QCOMPARE(boxes_.asked.size(), size_t{1});
        QVERIFY(boxes_.asked[0].text.find("thread") != std::string::npos);
        QCOMPARE(MainWindow(), owner);
        QVERIFY(owner->isVisible());
        for (QWidget* window : QApplication::topLevelWidgets())
            QVERIFY(qobject_cast<VerifyDialog*>(window) == nullptr);
        QPointer<QWidget> alive(owner);
        owner->close();
        QTRY_VERIFY_WITH_TIMEOUT(alive.isNull(), kWaitMs);
    }

    // Extra extends the set from its recovery volumes. After a repair that
    // deleted the volumes it used, the rest (the index) still serve; once
    // every volume has gone from the list there is nothing to extend from
    // and Extra stays disabled.
    void ExtraNeedsRecoveryVolumes() {
        if (!kCreateDialogAvailable) QSKIP("no create dialog in this build");
        settings_->deleteRecoveryFiles = true;
        TestSet set;
        QVERIFY(set.Make(22));
        set.Damage();
        VerifyDialog dialog(*settings_, set.par2);
        dialog.show();
        QTRY_VERIFY_WITH_TIMEOUT(
            VerifyDialogProbe(dialog).shownStatus().state == RecoveryState::RepairPossible,
            kWaitMs);
        auto* volumes = Child<QTreeWidget>(&dialog, "fileList")->topLevelItem(0);
        const int listed = volumes->childCount();
        QTest::mouseClick(Child<QPushButton>(&dialog, "repair"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(
            VerifyDialogProbe(dialog).shownStatus().state == RecoveryState::Repaired &&
                VerifyDialogProbe(dialog).shownStatus().activity == Activity::Idle &&
                volumes->childCount() < listed,
            kWaitMs);
        Settle(dialog);
        QVERIFY(set.Intact());
        auto* stop = Child<QPushButton>(&dialog, "stop");
        QCOMPARE(stop->text(), QStringLiteral("Extra"));
        QVERIFY(stop->isEnabled());

        // Every volume deleted behind the dialog's back, seen by monitoring.
        for (const auto& entry : std::filesystem::directory_iterator(set.dir.path())) {
            if (entry.path().extension() == ".par2") std::filesystem::remove(entry.path());
        }
        Child<QCheckBox>(&dialog, "monitor")->click();
        QTRY_VERIFY_WITH_TIMEOUT(volumes->childCount() == 0, kWaitMs);
        Settle(dialog);
        QCOMPARE(stop->text(), QStringLiteral("Extra"));
        QVERIFY(!stop->isEnabled());
        SaveScreenshot(&dialog, QStringLiteral("verify_dialog_no_volumes_left.png"));
    }

    // Extra on a set whose volumes went away after they were listed: the
    // program does not run on without a window, a fresh verify dialog takes
    // over and says why.
    void ExtraThatCannotReadTheSetLeavesAWindow() {
        if (!kCreateDialogAvailable) QSKIP("no create dialog in this build");
        TestSet set;
        QVERIFY(set.Make(23));
        auto* dialog = new VerifyDialog(*settings_, set.par2);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        QPointer<VerifyDialog> alive(dialog);
        SetMainWindow(dialog);
        dialog->show();
        QTRY_VERIFY_WITH_TIMEOUT(
            VerifyDialogProbe(dialog).shownStatus().state == RecoveryState::AllVerified &&
                Child<QPushButton>(dialog, "stop")->isEnabled(),
            kWaitMs);
        for (const auto& entry : std::filesystem::directory_iterator(set.dir.path())) {
            if (entry.path().extension() == ".par2") std::filesystem::remove(entry.path());
        }
        QTest::mouseClick(Child<QPushButton>(dialog, "stop"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(alive.isNull(), kWaitMs);
        QWidget* next = MainWindow();
        QVERIFY(next != nullptr);
        QVERIFY(qobject_cast<VerifyDialog*>(next) != nullptr);
        QVERIFY(next->isVisible());
        QCOMPARE(boxes_.asked.size(), size_t{1});
        QVERIFY(boxes_.asked[0].text.find("Volumi di Recupero") != std::string::npos);
        QPointer<QWidget> nextAlive(next);
        next->close();
        QTRY_VERIFY_WITH_TIMEOUT(nextAlive.isNull(), kWaitMs);
    }

    // Nuovo and Extra hand the program over to the create dialog; Extra
    // takes the loaded set with it.
    void NewAndExtraSwitchToTheCreateDialog() {
        if (!kCreateDialogAvailable) QSKIP("no create dialog in this build");
        for (const char* button : {"new", "stop"}) {
            TestSet set;
            QVERIFY(set.Make(13));
            auto* dialog = new VerifyDialog(*settings_, set.par2);
            dialog->setAttribute(Qt::WA_DeleteOnClose);
            QPointer<VerifyDialog> alive(dialog);
            SetMainWindow(dialog);
            dialog->show();
            QTRY_VERIFY_WITH_TIMEOUT(
                VerifyDialogProbe(dialog).shownStatus().state == RecoveryState::AllVerified &&
                    VerifyDialogProbe(dialog).shownStatus().activity == Activity::Idle &&
                    Child<QPushButton>(dialog, button)->isEnabled(),
                kWaitMs);
            if (QByteArray(button) == "stop")
                QCOMPARE(Child<QPushButton>(dialog, button)->text(), QStringLiteral("Extra"));
            QTest::mouseClick(Child<QPushButton>(dialog, button), Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(alive.isNull(), kWaitMs);
            QWidget* next = MainWindow();
            QVERIFY(next != nullptr);
            QVERIFY(qobject_cast<VerifyDialog*>(next) == nullptr);
            QVERIFY(next->isVisible());
            SaveScreenshot(next, QStringLiteral("verify_dialog_then_%1.png").arg(button));
            QPointer<QWidget> nextAlive(next);
            next->setAttribute(Qt::WA_DeleteOnClose);
            next->close();
            QTRY_VERIFY_WITH_TIMEOUT(nextAlive.isNull(), kWaitMs);
        }
    }
};

}  // namespace vantrove

VANTROVE_QTEST_MAIN(vantrove::VerifyDialogTest)
#include "verify_dialog_test.moc"
