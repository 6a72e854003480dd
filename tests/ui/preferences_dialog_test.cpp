// Tests of the preferences dialog on the off-screen platform: the edit rules
// of the block-size rows, the arrows and their beep, the displays, the
// enabling rule, what "Ok" stores, saves and applies, that "Annulla" stores
// nothing, the first run of start-up, and the Help key. A screenshot goes to
// the build folder's screenshots/.

#include "ui/preferences_dialog.h"

#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QToolButton>
#include <QtTest/QtTest>

#include "app/application.h"
#include "app/digit_grouping.h"
#include "app/process_priority.h"
#include "app/settings.h"
#include "app/shell_integration.h"
#include "app/start_up.h"
#include "support/qt_test_main.h"
#include "support/test_env.h"
#include "ui/dialog_switch.h"
#include "ui/help_key.h"
#include "ui/qt_startup_host.h"

namespace vantrove {

namespace {

using Row = PreferencesDialog::Row;

// "288,000" with the user's separator in place of the comma.
QString Grouped(const char* text) {
    return QString::fromUtf8(text).replace(QLatin1Char(','),
                                           QString::fromStdString(UserThousandsSeparator()));
}

}  // namespace

class PreferencesDialogTest : public QObject {
    Q_OBJECT

  private:
    // A dialog over `settings` whose seams record what they are asked to do.
    struct Harness {
        explicit Harness(Settings& settings) : dialog(settings) {
            dialog.SetBeeper([this] { ++beeps; });
            dialog.SetPriorityApplier([this](uint32_t p) { priorities.push_back(p); });
            dialog.SetShellApplier([this](Settings& s) {
                ++shellApplied;
                // The options are saved before the shell settings are applied.
                Settings saved(s.storePath());
                optionsSavedFirst = saved.Load() && saved.blockSizeChoice == s.blockSizeChoice &&
                                    saved.uuEncodeLineCount == s.uuEncodeLineCount;
            });
            // Laid out as on screen, so that clicks land on the controls.
            dialog.show();
        }
        PreferencesDialog dialog;
        int beeps = 0;
        std::vector<uint32_t> priorities;
        int shellApplied = 0;
        bool optionsSavedFirst = false;
    };

    static void Type(PreferencesDialog& dialog, Row row, const QString& text) {
        QLineEdit* edit = dialog.Edit(row);
        edit->clear();
        QTest::keyClicks(edit, text);
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(edit, &out);
    }
    static QPushButton* Button(QWidget& dialog, const char* id) {
        return dialog.findChild<QPushButton*>(QString::fromLatin1(id));
    }
    template <typename T>
    static T* Control(QWidget& dialog, int id) {
        return dialog.findChild<T*>(QString::number(id));
    }

    test::TempDir dir_;
    std::string Store() const { return dir_.File("settings.reg"); }

  private slots:
    void typedExactSizesAreRounded_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<uint32_t>("expected");
        QTest::newRow("smaller rounds down") << "1001" << 1000u;
        QTest::newRow("larger rounds up") << "500001" << 500004u;
        QTest::newRow("below four") << "2" << 4u;
        QTest::newRow("zero") << "0" << 4u;
        QTest::newRow("letters dropped") << "12a34" << 1232u;
        QTest::newRow("grouped text") << "1,000,001" << 1000004u;
        QTest::newRow("same value") << "384000" << 384000u;
        QTest::newRow("too large") << "99999999999999" << 4294967292u;
        QTest::newRow("no digits") << "abc" << 4u;
    }
    void typedExactSizesAreRounded() {
        QFETCH(QString, typed);
        QFETCH(uint32_t, expected);
        Settings settings(Store());
        settings.blockSizeChoice = kBlockSizeExact;
        Harness h(settings);
        QCOMPARE(h.dialog.Value(PreferencesDialog::kExactRow), 384000u);
        Type(h.dialog, PreferencesDialog::kExactRow, typed);
        QCOMPARE(h.dialog.Value(PreferencesDialog::kExactRow), expected);
        QCOMPARE(h.dialog.Edit(PreferencesDialog::kExactRow)->text(),
                 QString::fromStdString(FormatGrouped(expected)));
        QCOMPARE(h.dialog.BlockSizeDisplay()->text(),
                 QString::fromStdString(FormatGrouped(expected)) + " Byte");
        QCOMPARE(h.dialog.ArticleSizeDisplay()->text(), QStringLiteral("sconosciuto"));
    }

    void typedLineCounts() {
        Settings settings(Store());
        settings.blockSizeChoice = kBlockSizeUUEncodeLines;
        Harness h(settings);
        QTest::mouseClick(h.dialog.ChoiceRadio(PreferencesDialog::kYEncRow), Qt::LeftButton);
        Type(h.dialog, PreferencesDialog::kYEncRow, "12a34");
        QCOMPARE(h.dialog.Value(PreferencesDialog::kYEncRow), 1234u);
        Type(h.dialog, PreferencesDialog::kYEncRow, "0");
        QCOMPARE(h.dialog.Value(PreferencesDialog::kYEncRow), 1u);
        Type(h.dialog, PreferencesDialog::kYEncRow, "99999999999999");
        QCOMPARE(h.dialog.Value(PreferencesDialog::kYEncRow), 4294967295u);
        // UUEncode lines round like the exact size (old value 6400).
        QTest::mouseClick(h.dialog.ChoiceRadio(PreferencesDialog::kUUEncodeRow), Qt::LeftButton);
        Type(h.dialog, PreferencesDialog::kUUEncodeRow, "6401");
        QCOMPARE(h.dialog.Value(PreferencesDialog::kUUEncodeRow), 6404u);
        Type(h.dialog, PreferencesDialog::kUUEncodeRow, "6399");
        QCOMPARE(h.dialog.Value(PreferencesDialog::kUUEncodeRow), 6396u);
        Type(h.dialog, PreferencesDialog::kUUEncodeRow, "3");
        QCOMPARE(h.dialog.Value(PreferencesDialog::kUUEncodeRow), 4u);
        // The displays follow the chosen row.
        QCOMPARE(h.dialog.BlockSizeDisplay()->text(), QStringLiteral("180 Byte"));
        QCOMPARE(h.dialog.ArticleSizeDisplay()->text(), QStringLiteral("252 Byte"));
    }

    void arrowsStepAndBeepAtTheMinimum() {
        Settings settings(Store());
        settings.blockSizeChoice = kBlockSizeExact;
        settings.exactBlockSize = 8;
        Harness h(settings);
        const Row exact = PreferencesDialog::kExactRow;
        QTest::mouseClick(h.dialog.DownArrow(exact), Qt::LeftButton);
        QCOMPARE(h.dialog.Value(exact), 4u);
        QCOMPARE(h.beeps, 0);
        QTest::mouseClick(h.dialog.DownArrow(exact), Qt::LeftButton);
        QCOMPARE(h.dialog.Value(exact), 4u);
        QCOMPARE(h.beeps, 1);
        QCOMPARE(h.dialog.Edit(exact)->text(), QStringLiteral("4"));
        QTest::mouseClick(h.dialog.UpArrow(exact), Qt::LeftButton);
        QCOMPARE(h.dialog.Value(exact), 8u);
        // The arrow keys in the edit do the same.
        QTest::keyClick(h.dialog.Edit(exact), Qt::Key_Up);
        QCOMPARE(h.dialog.Value(exact), 12u);
        QTest::keyClick(h.dialog.Edit(exact), Qt::Key_Down);
        QTest::keyClick(h.dialog.Edit(exact), Qt::Key_Down);
        QTest::keyClick(h.dialog.Edit(exact), Qt::Key_Down);
        QCOMPARE(h.dialog.Value(exact), 4u);
        QCOMPARE(h.beeps, 2);
        QCOMPARE(h.dialog.BlockSizeDisplay()->text(), QStringLiteral("4 Byte"));
    }

    void arrowsOfTheLineRows() {
        Settings settings(Store());
        settings.yEncLineCount = 2;
        settings.sounds = false;  // no beep without sounds
        Harness h(settings);
        const Row yEnc = PreferencesDialog::kYEncRow;
        QTest::mouseClick(h.dialog.DownArrow(yEnc), Qt::LeftButton);
        QCOMPARE(h.dialog.Value(yEnc), 1u);
        QTest::mouseClick(h.dialog.DownArrow(yEnc), Qt::LeftButton);
        QCOMPARE(h.dialog.Value(yEnc), 1u);
        QCOMPARE(h.beeps, 0);
        QTest::mouseClick(h.dialog.UpArrow(yEnc), Qt::LeftButton);
        QCOMPARE(h.dialog.Value(yEnc), 2u);
        QCOMPARE(h.dialog.BlockSizeDisplay()->text(), QStringLiteral("256 Byte"));
        QCOMPARE(h.dialog.ArticleSizeDisplay()->text(), QStringLiteral("268 Byte"));
        // Disabled rows do not react.
        QVERIFY(!h.dialog.DownArrow(PreferencesDialog::kUUEncodeRow)->isEnabled());
        QTest::mouseClick(h.dialog.DownArrow(PreferencesDialog::kUUEncodeRow), Qt::LeftButton);
        QCOMPARE(h.dialog.Value(PreferencesDialog::kUUEncodeRow), 6400u);
        // Stepping stops at the largest number instead of wrapping.
        QCOMPARE(SteppedValue(PreferencesDialog::kExactRow, 4294967292u, -1), 4294967292u);
        QCOMPARE(SteppedValue(PreferencesDialog::kYEncRow, 4294967295u, -1), 4294967295u);
        QCOMPARE(SteppedValue(PreferencesDialog::kUUEncodeRow, 100, 3), 88u);
    }

    void arrowsStepFromANumberStillBeingTyped() {
        Settings settings(Store());
        settings.blockSizeChoice = kBlockSizeExact;
        Harness h(settings);
        const Row exact = PreferencesDialog::kExactRow;
        QLineEdit* edit = h.dialog.Edit(exact);
        edit->setFocus();
        edit->clear();
        QTest::keyClicks(edit, QStringLiteral("1001"));
        // The arrows take no focus, so the edit has not been left.
        QTest::mouseClick(h.dialog.UpArrow(exact), Qt::LeftButton);
        QCOMPARE(h.dialog.Value(exact), 1004u);
        QCOMPARE(edit->text(), Grouped("1,004"));
        QCOMPARE(h.dialog.BlockSizeDisplay()->text(), Grouped("1,004 Byte"));
        edit->clear();
        QTest::keyClicks(edit, QStringLiteral("5"));
        QTest::mouseClick(h.dialog.DownArrow(exact), Qt::LeftButton);
        QCOMPARE(h.dialog.Value(exact), 4u);
        QCOMPARE(h.beeps, 1);
    }

    void choosingARowEnablesItAndShowsItsSizes() {
        Settings settings(Store());
        Harness h(settings);  // defaults: yEnc, 3000 lines
        QVERIFY(h.dialog.Edit(PreferencesDialog::kYEncRow)->isEnabled());
        QVERIFY(!h.dialog.Edit(PreferencesDialog::kExactRow)->isEnabled());
        QVERIFY(!h.dialog.Edit(PreferencesDialog::kUUEncodeRow)->isEnabled());
        QCOMPARE(h.dialog.BlockSizeDisplay()->text(), Grouped("384,000 Byte"));
        QCOMPARE(h.dialog.ArticleSizeDisplay()->text(), Grouped("402,000 Byte"));
        QCOMPARE(h.dialog.Edit(PreferencesDialog::kExactRow)->text(), Grouped("384,000"));

        QTest::mouseClick(h.dialog.ChoiceRadio(PreferencesDialog::kUUEncodeRow), Qt::LeftButton);
        QVERIFY(h.dialog.Edit(PreferencesDialog::kUUEncodeRow)->isEnabled());
        QVERIFY(h.dialog.UpArrow(PreferencesDialog::kUUEncodeRow)->isEnabled());
        QVERIFY(!h.dialog.Edit(PreferencesDialog::kYEncRow)->isEnabled());
        QVERIFY(!h.dialog.DownArrow(PreferencesDialog::kYEncRow)->isEnabled());
        QCOMPARE(h.dialog.BlockSizeDisplay()->text(), Grouped("288,000 Byte"));
        QCOMPARE(h.dialog.ArticleSizeDisplay()->text(), Grouped("403,200 Byte"));
    }

    void initialStateFollowsTheSettings() {
        Settings settings(Store());
        settings.par2Association = false;
        settings.sfvMd5Association = true;
        settings.sounds = false;
        settings.priority = kPriorityAsStarted;
        settings.blockSizeChoice = 7;  // not a choice: the exact row
        settings.joinSplitFiles = true;
        Harness h(settings);
        QVERIFY(!Control<QCheckBox>(h.dialog, 1051)->isChecked());
        QVERIFY(Control<QCheckBox>(h.dialog, 1117)->isChecked());
        QVERIFY(Control<QCheckBox>(h.dialog, 1121)->isChecked());
        QVERIFY(Control<QRadioButton>(h.dialog, 1076)->isChecked());
        QVERIFY(h.dialog.ChoiceRadio(PreferencesDialog::kExactRow)->isChecked());
        QVERIFY(Control<QCheckBox>(h.dialog, 1120)->isHidden());
        QCOMPARE(h.dialog.windowTitle(), QStringLiteral("Preferenze Vantrove "));
    }

    void okStoresSavesAndAppliesTheShell() {
        unlink(Store().c_str());
        Settings settings(Store());
        Harness h(settings);
        Control<QCheckBox>(h.dialog, 1061)->setChecked(true);   // PAR1
        Control<QCheckBox>(h.dialog, 1062)->setChecked(true);   // menu
        Control<QCheckBox>(h.dialog, 1121)->setChecked(true);   // silent
        Control<QCheckBox>(h.dialog, 1128)->setChecked(false);  // recycle bin
        QTest::mouseClick(h.dialog.ChoiceRadio(PreferencesDialog::kUUEncodeRow), Qt::LeftButton);
        QTest::mouseClick(h.dialog.UpArrow(PreferencesDialog::kUUEncodeRow), Qt::LeftButton);
        QTest::mouseClick(Button(h.dialog, "1"), Qt::LeftButton);

        QCOMPARE(h.dialog.result(), int(QDialog::Accepted));
        QCOMPARE(h.shellApplied, 1);
        QVERIFY(h.optionsSavedFirst);
        QVERIFY(h.priorities.empty());  // no priority radio was clicked
        QCOMPARE(settings.priority, kPriorityNormal);
        Settings saved(Store());
        QVERIFY(saved.Load());
        QCOMPARE(saved.blockSizeChoice, uint32_t{kBlockSizeUUEncodeLines});
        QCOMPARE(saved.uuEncodeLineCount, 6404u);
        QCOMPARE(saved.preferredBlockSize, 6404u * 45);
        QCOMPARE(settings.preferredBlockSize, 6404u * 45);
        QVERIFY(!saved.sounds);
        QVERIFY(!saved.useRecycleBin);
        QCOMPARE(saved.priority, kPriorityNormal);
        // The Shell values are saved by applying them (the seam here).
        QVERIFY(settings.par1Association);
        QVERIFY(settings.explorerMenu);
    }

    void clickingAltaRaisesThePriorityAtOnce() {
        Settings settings(Store());
        Harness h(settings);
        QTest::mouseClick(Control<QRadioButton>(h.dialog, 1077), Qt::LeftButton);
        QVERIFY(h.dialog.PriorityChanged());
        QTest::mouseClick(Button(h.dialog, "1"), Qt::LeftButton);
        QCOMPARE(h.priorities, std::vector<uint32_t>{kPriorityHigh});
        QCOMPARE(settings.priority, kPriorityHigh);
    }

    void enterInAnEditKeepsTheTypedValue() {
        Settings settings(Store());
        settings.blockSizeChoice = kBlockSizeExact;
        Harness h(settings);
        QLineEdit* edit = h.dialog.Edit(PreferencesDialog::kExactRow);
        edit->clear();
        QTest::keyClicks(edit, "1001");
        h.dialog.accept();
        QCOMPARE(settings.exactBlockSize, 1000u);
    }

    void annullaStoresNothing() {
        unlink(Store().c_str());
        Settings settings(Store());
        Harness h(settings);
        Control<QCheckBox>(h.dialog, 1051)->setChecked(false);
        QTest::mouseClick(Control<QRadioButton>(h.dialog, 1075), Qt::LeftButton);
        Type(h.dialog, PreferencesDialog::kYEncRow, "17");
        QTest::mouseClick(Button(h.dialog, "2"), Qt::LeftButton);
        QCOMPARE(h.dialog.result(), int(QDialog::Rejected));
        QVERIFY(settings.par2Association);
        QCOMPARE(settings.yEncLineCount, 3000u);
        QCOMPARE(settings.priority, kPriorityAsStarted);
        QVERIFY(h.priorities.empty());
        QCOMPARE(h.shellApplied, 0);
        QVERIFY(!test::FileExists(Store()));
    }

    void firstRunShowsThePreferencesBeforeAnyWindow() {
        struct Host : StartupHost {
            void ShowPreferences(Settings& settings) override {
                events.push_back("preferences");
                // Answer the dialog with "Annulla" once it is up.
                QTimer::singleShot(0, [] {
                    auto* dialog =
                        qobject_cast<PreferencesDialog*>(QApplication::activeModalWidget());
                    if (dialog != nullptr) {
                        dialog->findChild<QPushButton*>(QStringLiteral("2"))->click();
                    }
                });
                accepted = ShowPreferencesDialog(settings);
            }
            bool OpenMainDialog(const MainDialogChoice&) override {
                events.push_back(QApplication::topLevelWidgets().isEmpty() ? "main"
                                                                           : "main after a window");
                return true;
            }
            void ApplyPriority(uint32_t) override {}
            std::vector<std::string> events;
            bool accepted = true;
        };
        unlink(Store().c_str());
        Settings settings(Store());
        Application application;
        Host host;
        QCOMPARE(int(RunStartup(application, settings, {}, host)), int(StartupResult::Running));
        QCOMPARE(host.events, (std::vector<std::string>{"preferences", "main"}));
        QVERIFY(!host.accepted);
        QVERIFY(!test::FileExists(Store()));
        QVERIFY(settings.par2Association);
        QCOMPARE(settings.preferredBlockSize, 384000u);
    }

    // The desktop program's own start-up host: on the first run the dialog is
    // the only window; Annulla leaves no store, Ok saves and applies.
    void firstRunOfTheDesktopProgram_data() {
        QTest::addColumn<bool>("confirm");
        QTest::newRow("Annulla") << false;
        QTest::newRow("Ok") << true;
    }
    void firstRunOfTheDesktopProgram() {
        QFETCH(bool, confirm);
        unlink(Store().c_str());
        const std::string entry =
            std::string(std::getenv("XDG_DATA_HOME")) + "/applications/vantrove.desktop";
        unlink(entry.c_str());
        Settings settings(Store());
        QtStartupHost host(settings);
        Application application;
        QStringList windowsAtPreferences;
        QTimer::singleShot(0, [&windowsAtPreferences, confirm] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal == nullptr) return;
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (w->isVisible()) windowsAtPreferences << w->metaObject()->className();
            }
            modal->findChild<QPushButton*>(QString::fromLatin1(confirm ? "1" : "2"))->click();
        });
        QCOMPARE(int(RunStartup(application, settings, {}, host)), int(StartupResult::Running));
        QCOMPARE(windowsAtPreferences, QStringList{QStringLiteral("vantrove::PreferencesDialog")});
        QPointer<QWidget> main = host.mainDialog();
        QVERIFY(!main.isNull());
        QCOMPARE(test::FileExists(Store()), confirm);
        // The PAR2 association is on by default: Ok applied it for real.
        QCOMPARE(test::FileExists(entry), confirm);
        if (confirm) {
            Settings saved(Store());
            QVERIFY(saved.Load());
            QVERIFY(saved.par2Association);
            QCOMPARE(saved.priority, kPriorityNormal);
        }
        main->setAttribute(Qt::WA_DeleteOnClose);
        main->close();
        QTRY_VERIFY(main.isNull());
        // Take the association away again for the other tests.
        if (confirm) {
            settings.par2Association = false;
            ApplyShellSettings(settings);
            QVERIFY(!test::FileExists(entry));
        }
    }

    void f1OpensTheManual() {
        int opened = 0;
        SetHelpOpener([&opened] { ++opened; });
        Settings settings(Store());
        Harness h(settings);
        h.dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&h.dialog));
        QApplication::setActiveWindow(&h.dialog);
        QTest::keyClick(&h.dialog, Qt::Key_F1);
        QCOMPARE(opened, 1);
        SetHelpOpener({});
    }

    void screenshot() {
        Settings settings(Store());
        settings.blockSizeChoice = kBlockSizeUUEncodeLines;
        Harness h(settings);
        h.dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&h.dialog));
        QDir dir(test::ScreenshotDir());
        QVERIFY(dir.mkpath(QStringLiteral(".")));
        QVERIFY(h.dialog.grab().save(dir.filePath(QStringLiteral("preferences_dialog.png"))));
    }
};

}  // namespace vantrove

VANTROVE_QTEST_MAIN(vantrove::PreferencesDialogTest)
#include "preferences_dialog_test.moc"
