// Tests of the creation progress dialog on the off-screen platform, with
// real creation jobs on small data slowed down where a test must catch
// them running: the figures and title, the status line with its estimate
// while recovery data are computed, the percentage, the question of
// "Ferma", the end of the job with "Esci", "Apri" handing over to the
// verify dialog, and a window destroyed in the middle of a job.

#include "ui/creation_progress_dialog.h"

#include <sys/stat.h>

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest/QtTest>
#include <atomic>
#include <chrono>
#include <deque>
#include <random>
#include <thread>

#include "app/digit_grouping.h"
#include "app/localized_message_box.h"
#include "app/settings.h"
#include "support/qt_test_main.h"
#include "support/test_env.h"
#include "ui/dialog_probes.h"
#include "ui/dialog_switch.h"
#include "ui/segment_bar.h"
#include "ui/verify_dialog.h"

namespace vantrove {

namespace {

class AnsweringBox : public MessageBoxPresenter {
  public:
    int Show(MessageBoxOwner, const std::string& text, const std::string&, unsigned) override {
        texts.push_back(text);
        if (answers.empty()) return kIdNo;
        int a = answers.front();
        answers.pop_front();
        return a;
    }
    std::deque<int> answers;
    std::vector<std::string> texts;
};

// Each block of each pass takes a little while, so the job can be watched.
class SlowBlocks : public CreationJobTestHooks {
  public:
    explicit SlowBlocks(int ms) : ms_(ms) {}
    void AfterBlock(uint32_t, uint32_t) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms_.load()));
    }
    void Speed(int ms) { ms_ = ms; }

  private:
    std::atomic<int> ms_;
};

constexpr int kTimeoutMs = 120000;

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

class CreationProgressDialogTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<test::TempDir> dir_;
    std::unique_ptr<Settings> settings_;
    AnsweringBox boxes_;

    // Parameters for `blocks` source blocks of 4096 bytes over two files and
    // `recovery` recovery blocks, written to the temporary folder as "set".
    std::unique_ptr<CreationParameters> Parameters(uint64_t blocks, uint64_t recovery) {
        std::mt19937_64 rng(test::TestSeed());
        const size_t half = static_cast<size_t>(blocks / 2 * 4096);
        test::WriteFile(dir_->File("first.bin"), test::RandomBytes(rng, half));
        test::WriteFile(dir_->File("second.bin"), test::RandomBytes(rng, half - 100));
        CreationSettings s;
        s.restrictBlockSize = false;
        auto p = std::make_unique<CreationParameters>(s, MachineFigures{});
        p->AddFiles({{dir_->File("first.bin"), half}, {dir_->File("second.bin"), half - 100}});
        p->setBlockSize(4096);
        p->setRecoveryBlockCount(recovery);
        p->baseName = "set";
        p->destinationPath = dir_->path() + "/";
        return p;
    }

    static QString Text(QWidget* w, const char* name) {
        auto* label = w->findChild<QLabel*>(QLatin1String(name));
        return label != nullptr ? label->text() : QStringLiteral("<missing>");
    }
    static QPushButton* ButtonOf(QWidget* w, const char* name) {
        return w->findChild<QPushButton*>(QLatin1String(name));
    }

  private slots:
    void init() {
        dir_ = std::make_unique<test::TempDir>();
        settings_ = std::make_unique<Settings>(dir_->File("settings.reg"));
        boxes_ = AnsweringBox();
        SetMessageBoxPresenter(&boxes_);
    }
    void cleanup() {
        // Guarded: deleting a dialog also deletes the windows it owns (its menus).
        QList<QPointer<QWidget>> windows;
        for (QWidget* w : QApplication::topLevelWidgets()) windows << w;
        for (QWidget* w : windows)
            if (w != nullptr && qobject_cast<QDialog*>(w) != nullptr) delete w;
        SetMessageBoxPresenter(nullptr);
        settings_.reset();
        dir_.reset();
    }

    void ShowsFiguresPhasesEstimateAndTheEnd() {
        SlowBlocks slow(10);
        auto parameters = Parameters(400, 40);
        const uint64_t s = parameters->sourceBlockCount;
        const uint64_t total = parameters->totalDataSize;
        QPointer<CreationProgressDialog> p = new CreationProgressDialog(
            *settings_, std::move(parameters), CreationJobOptions{1, nullptr, &slow});
        p->show();
        QCOMPARE(p->windowTitle(), QStringLiteral("Vantrove - Creazionde di \"set.PAR2\""));
        QCOMPARE(Text(p, "fileCountValue"), QStringLiteral("2"));
        QCOMPARE(Text(p, "totalSizeValue"), Q(FormatGrouped(total)));
        QCOMPARE(Text(p, "sourceBlocksValue"), Q(FormatGrouped(s)));
        QCOMPARE(Text(p, "blockSizeValue"), Q(FormatGrouped(uint64_t{4096})));
        QCOMPARE(ButtonOf(p, "stopButton")->text(), QStringLiteral("Ferma"));
        for (const char* name : {"verifyButton", "newButton", "openButton"})
            QVERIFY2(!ButtonOf(p, name)->isEnabled(), name);
        QCOMPARE(p->indexFileName(), dir_->path() + "/set.par2");
        QVERIFY(p->Start());

        // While recovery data are computed, the estimate follows a second
        // record of that phase: "remaining / total @ speed".
        const QRegularExpression estimate(
            QStringLiteral("^\\d+ (secondi|minuti, \\d+ secondi) / .+ @ \\d+(\\.\\d)? [KM]B/s$"));
        QTRY_VERIFY_WITH_TIMEOUT(estimate.match(Text(p, "statusLine")).hasMatch(), kTimeoutMs);
        const QString percent = p->findChild<SegmentBar*>(QStringLiteral("progressBar"))->GetText();
        QVERIFY2(QRegularExpression(QStringLiteral("^\\d+\\.\\d %$")).match(percent).hasMatch(),
                 qPrintable(percent));
        QDir(QStringLiteral(VANTROVE_SCREENSHOT_DIR)).mkpath(QStringLiteral("."));
        p->grab().save(test::ScreenshotDir() + QStringLiteral("/creation_progress_computing.png"));

        // "Ferma" answered No: nothing changes.
        Q_ASSERT(boxes_.answers.empty());
        ButtonOf(p, "stopButton")->click();
        QCOMPARE(boxes_.texts.size(), size_t{1});
        QVERIFY(!p.isNull() && p->isVisible());
        // Escape asks the same question; No again.
        QTest::keyClick(p, Qt::Key_Escape);
        QCOMPARE(boxes_.texts.size(), size_t{2});
        QVERIFY(!p.isNull() && p->isVisible() && !p->finished());
        slow.Speed(0);
        QTRY_VERIFY_WITH_TIMEOUT(p->finished(), kTimeoutMs);
        QCOMPARE(CreationProgressDialogProbe(p).shownStatus().phase, int{kPhaseFinished});
        QCOMPARE(p->windowTitle(), QStringLiteral("Vantrove - Riuscita - \"set.PAR2\""));
        QCOMPARE(ButtonOf(p, "stopButton")->text(), QStringLiteral("Esci"));
        QVERIFY(ButtonOf(p, "verifyButton")->isEnabled());
        QVERIFY(Exists(dir_->path() + "/set.par2"));

        // "Apri" chooses a set and hands over to the verify dialog.
        p->SetFileChooser([&](QWidget*, const QString& title, const QString&, const QString& filter,
                              bool multiple) {
            [&] {
                QCOMPARE(title, QStringLiteral("Seleziona volume di recupero"));
                QVERIFY(filter.contains(QStringLiteral("*.par2")));
                QVERIFY(!multiple);
            }();
            return QStringList{Q(dir_->path() + "/set.par2")};
        });
        ButtonOf(p, "openButton")->click();
        QTRY_VERIFY(p.isNull());
        VerifyDialog* verify = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* v = qobject_cast<VerifyDialog*>(w); v != nullptr && v->isVisible())
                verify = v;
        QVERIFY(verify != nullptr);
        QCOMPARE(MainWindow(), static_cast<QWidget*>(verify));
    }

    void EsciClosesAFinishedJob() {
        auto parameters = Parameters(20, 2);
        QPointer<CreationProgressDialog> p =
            new CreationProgressDialog(*settings_, std::move(parameters));
        p->show();
        QVERIFY(p->Start());
        QTRY_VERIFY_WITH_TIMEOUT(p->finished(), kTimeoutMs);
        ButtonOf(p, "stopButton")->click();  // "Esci": no question
        QTRY_VERIFY(p.isNull());
        QVERIFY(boxes_.texts.empty());
        QVERIFY(Exists(dir_->path() + "/set.par2"));
    }

    void DestroyingTheWindowStopsTheJobAndItsFilesGo() {
        SlowBlocks slow(20);
        auto parameters = Parameters(300, 30);
        auto* p = new CreationProgressDialog(*settings_, std::move(parameters),
                                             CreationJobOptions{1, nullptr, &slow});
        p->show();
        QVERIFY(p->Start());
        QTRY_VERIFY_WITH_TIMEOUT(
            CreationProgressDialogProbe(p).shownStatus().phase == kPhaseComputing, kTimeoutMs);
        delete p;  // must stop the worker before the parameters go
        const QStringList left = QDir(Q(dir_->path())).entryList(QDir::Files);
        for (const QString& name : left)
            QVERIFY2(!name.contains(QStringLiteral("set."), Qt::CaseInsensitive), qPrintable(name));
    }
};

}  // namespace vantrove

VANTROVE_QTEST_MAIN(vantrove::CreationProgressDialogTest)
#include "creation_progress_dialog_test.moc"
