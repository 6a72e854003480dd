// Tests of the create dialog on the off-screen platform: files added by the
// chooser and by a drop, the figures the model computes shown in the
// fields, typed numbers with separators, steps that beep, the name and
// destination rules of "Crea", an extension whose list and block size are
// fixed, and whole creations through the progress dialog: a finished set
// that the peer accepts, a failed one, and a stopped one that returns to
// the create dialog with its choices and leaves no file behind.

#include "ui/create_dialog.h"

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <QtTest/QtTest>
#include <atomic>
#include <chrono>
#include <deque>
#include <random>
#include <set>
#include <thread>

#include "app/application.h"
#include "app/digit_grouping.h"
#include "app/localized_message_box.h"
#include "app/make_folders.h"
#include "app/settings.h"
#include "app/start_up.h"
#include "core/disk_file.h"
#include "core/string_ids.h"
#include "app/extension_set.h"
#include "support/qt_test_main.h"
#include "support/test_env.h"
#include "ui/creation_progress_dialog.h"
#include "ui/dialog_switch.h"
#include "ui/preferences_dialog.h"
#include "ui/qt_startup_host.h"
#include "ui/segment_bar.h"
#include "ui/spin_arrows.h"
#include "ui/verify_dialog.h"

namespace vantrove {

namespace {

// Answers message boxes from a queue (Yes when it runs dry) and remembers
// what they said.
class ScriptedMessageBox : public MessageBoxPresenter {
  public:
    struct Shown {
        std::string text;
        std::string caption;
        unsigned style;
    };
    int Show(MessageBoxOwner, const std::string& text, const std::string& caption,
             unsigned style) override {
        shown.push_back({text, caption, style});
        if (answers.empty()) return kIdYes;
        int answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::deque<int> answers;
    std::vector<Shown> shown;
};

// Slows the job down so that a test can stop it while it computes.
class SlowBlocks : public CreationJobTestHooks {
  public:
    void AfterBlock(uint32_t, uint32_t) override {
        reached = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::atomic<bool> reached{false};
};

constexpr int kJobTimeoutMs = 120000;

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

template <typename T>
std::vector<T*> VisibleTopLevels() {
    std::vector<T*> found;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* t = qobject_cast<T*>(w); t != nullptr && t->isVisible()) found.push_back(t);
    return found;
}

void CloseEveryWindow() {
    // Guarded: deleting a dialog also deletes the windows it owns (its menus).
    QList<QPointer<QWidget>> windows;
    for (QWidget* w : QApplication::topLevelWidgets()) windows << w;
    for (QWidget* w : windows) {
        if (w == nullptr) continue;
        if (auto* p = qobject_cast<CreationProgressDialog*>(w)) {
            // A job still running is stopped without a question.
            delete p;
            continue;
        }
        if (w->isWindow() && (qobject_cast<QDialog*>(w) != nullptr)) delete w;
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void SaveShot(QWidget* widget, const QString& name) {
    QDir dir(test::ScreenshotDir());
    dir.mkpath(QStringLiteral("."));
    widget->grab().save(dir.filePath(name));
}

// A file of `size` pseudo-random bytes.
void WriteRandom(const std::string& path, size_t size, std::mt19937_64& rng) {
    test::WriteFile(path, test::RandomBytes(rng, size));
}

// A sparse file of `size` bytes (only its length matters).
void WriteSparse(const std::string& path, off_t size) {
    int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    QVERIFY(fd >= 0);
    QVERIFY(::ftruncate(fd, size) == 0);
    ::close(fd);
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const QString& n : QDir(Q(folder)).entryList(QDir::Files, QDir::Name))
        names.push_back(n.toStdString());
    return names;
}

}  // namespace

class CreateDialogTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<test::TempDir> dir_;
    std::unique_ptr<Settings> settings_;
    ScriptedMessageBox boxes_;

    template <typename T>
    static T* Child(QWidget* dialog, const char* name) {
        T* child = dialog->findChild<T*>(QLatin1String(name));
        if (child == nullptr) qWarning("no child %s", name);
        return child;
    }
    static QString Text(QWidget* dialog, const char* name) {
        if (auto* edit = dialog->findChild<QLineEdit*>(QLatin1String(name))) return edit->text();
        if (auto* label = dialog->findChild<QLabel*>(QLatin1String(name))) return label->text();
        return QStringLiteral("<missing %1>").arg(QLatin1String(name));
    }
    static void Type(QWidget* dialog, const char* name, const QString& text) {
        auto* edit = dialog->findChild<QLineEdit*>(QLatin1String(name));
        QVERIFY(edit != nullptr);
        edit->setText(text);
        emit edit->editingFinished();
    }
    static void Step(QWidget* dialog, const char* spinName, int direction) {
        auto* spin = dialog->findChild<SpinArrows*>(QLatin1String(spinName));
        QVERIFY(spin != nullptr);
        (direction > 0 ? spin->upButton() : spin->downButton())->click();
    }
    static void Press(QWidget* dialog, const char* name) {
        auto* button = dialog->findChild<QPushButton*>(QLatin1String(name));
        QVERIFY(button != nullptr);
        QVERIFY(button->isEnabled());
        button->click();
    }

    std::string Path(const std::string& name) const { return dir_->File(name); }

    CreateDialog* NewDialog(const std::vector<std::string>& files = {}) {
        auto* dialog = new CreateDialog(*settings_, files);
        dialog->SetJobOptions(CreationJobOptions{2, nullptr, nullptr});
        dialog->show();
        return dialog;
    }

    // Presses "Crea" and waits for the job to end; returns its dialog.
    CreationProgressDialog* CreateAndWait(CreateDialog* dialog, const char* shot = nullptr) {
        Press(dialog, "createButton");
        auto progress = VisibleTopLevels<CreationProgressDialog>();
        if (progress.size() != 1) return nullptr;
        QPointer<CreationProgressDialog> p = progress.front();
        if (shot != nullptr) SaveShot(p, QLatin1String(shot));
        if (!QTest::qWaitFor([&] { return p.isNull() || p->finished(); }, kJobTimeoutMs))
            qWarning("the creation did not end in time");
        else if (!p.isNull() && p->shownStatus().phase == kPhaseFailed)
            qWarning("the creation failed: code %d, file \"%s\"", p->shownStatus().failureCode,
                     p->shownStatus().fileName.c_str());
        return p;
    }

  private slots:
    void init() {
        dir_ = std::make_unique<test::TempDir>();
        settings_ = std::make_unique<Settings>(dir_->File("settings.reg"));
        settings_->sounds = false;
        boxes_ = ScriptedMessageBox();
        SetMessageBoxPresenter(&boxes_);
    }
    void cleanup() {
        CloseEveryWindow();
        SetMessageBoxPresenter(nullptr);
        settings_.reset();
        dir_.reset();
    }

    void EmptyDialogHasItsTextsAndDisabledControls() {
        CreateDialog* d = NewDialog();
        QCOMPARE(d->windowTitle(), QStringLiteral("Vantrove - Seleziona i File da Proteggere"));
        QVERIFY(Child<QPushButton>(d, "addButton")->isEnabled());
        for (const char* name : {"removeButton", "clearButton", "createButton", "browseButton"})
            QVERIFY2(!Child<QPushButton>(d, name)->isEnabled(), name);
        for (const char* name : {"sourceBlocksEdit", "blockSizeEdit", "baseNameEdit", "pathEdit",
                                 "recoveryBlocksEdit", "firstBlockEdit", "fileCountEdit"})
            QVERIFY2(!Child<QLineEdit>(d, name)->isEnabled(), name);
        QVERIFY(!Child<QSlider>(d, "sourceSlider")->isEnabled());
        QVERIFY(!Child<QSlider>(d, "redundancySlider")->isEnabled());
        QVERIFY(!Child<QComboBox>(d, "schemeCombo")->isEnabled());
        // The scheme of the settings (2) is the second item.
        QCOMPARE(Child<QComboBox>(d, "schemeCombo")->currentIndex(), 1);
        QCOMPARE(Child<QComboBox>(d, "schemeCombo")->itemText(0),
                 QStringLiteral("Variabile (schema di dimesionamento Potenze di due)"));
        QCOMPARE(Text(d, "timeCaption"), QStringLiteral("Tempo di calcolo @ 250 MB/s:"));
        QCOMPARE(Text(d, "efficiencyValue"), QStringLiteral("100.0%"));
        QCOMPARE(Text(d, "rebuildableValue"), QStringLiteral("0 - 0"));
        QCOMPARE(Text(d, "sourceBlocksEdit"), QStringLiteral("0"));
        // Figures keep clear of the label after them, and every arrow is
        // wide enough to hit.
        QVERIFY(QTest::qWaitForWindowExposed(d));
        QWidget* count = Child<QWidget>(d, "fileCountValue");
        for (QLabel* label : d->findChildren<QLabel*>()) {
            if (label->text() != QStringLiteral("Dimensione totale dei dati:")) continue;
            QVERIFY2(label->geometry().left() - count->geometry().right() >= 12,
                     qPrintable(QStringLiteral("%1 %2")
                                    .arg(count->geometry().right())
                                    .arg(label->geometry().left())));
        }
        for (QToolButton* arrow : d->findChildren<QToolButton*>()) {
            if (arrow->arrowType() != Qt::NoArrow) QVERIFY(arrow->width() >= 16);
        }
        SaveShot(d, QStringLiteral("create_dialog_empty.png"));
    }

    void ApriHandsOverToTheVerifyDialog() {
        CreateDialog* d = NewDialog();
        QPointer<CreateDialog> guard(d);
        QString filterSeen;
        d->SetFileChooser(
            [&](QWidget*, const QString&, const QString&, const QString& filter, bool multiple) {
                filterSeen = filter;
                return multiple ? QStringList() : QStringList{Q(Path("some.par2"))};
            });
        Press(d, "openButton");
        QVERIFY(filterSeen.startsWith(QStringLiteral("Volumi di Recupero (*.PAR2 ")));
        QCOMPARE(filterSeen.count(QStringLiteral("*.PAR2")), 1);
        QVERIFY(filterSeen.contains(QStringLiteral("*.sfv")));
        QTRY_VERIFY(guard.isNull());
        QCOMPARE(VisibleTopLevels<VerifyDialog>().size(), size_t{1});
        QCOMPARE(MainWindow(), static_cast<QWidget*>(VisibleTopLevels<VerifyDialog>().front()));
    }

    void LayoutIsSavedOnClosingAndRestored() {
        QPointer<CreateDialog> d = NewDialog();
        const int base = d->height();
        d->resize(d->width(), base + 150);
        QTRY_COMPARE(d->height(), base + 150);
        Child<QTreeWidget>(d, "fileList")->setColumnWidth(0, 222);
        QTest::keyClick(d, Qt::Key_Escape);  // closes as "Esci" does
        QTRY_VERIFY(d.isNull());
        Settings stored(dir_->File("settings.reg"));
        QVERIFY(stored.Load());
        QCOMPARE(stored.createDialogueHeight, uint32_t(base + 150));
        QCOMPARE(stored.createFilenameWidth, uint32_t{222});
        CreateDialog* again = new CreateDialog(stored);
        again->show();
        QCOMPARE(again->height(), base + 150);
        QCOMPARE(Child<QTreeWidget>(again, "fileList")->columnWidth(0), 222);
        // A stored height below the laid-out one is not taken.
        stored.createDialogueHeight = 10;
        CreateDialog* small = new CreateDialog(stored);
        small->show();
        QCOMPARE(small->height(), base);
    }

    void AddedFilesAreSortedListedOnceAndFigured() {
        std::mt19937_64 rng(test::TestSeed());
        const std::vector<std::pair<std::string, size_t>> files = {
            {"Movie.part2.rar", 300000}, {"movie.part1.rar", 1000000}, {"movie.part3.rar", 5000}};
        for (const auto& [name, size] : files) WriteRandom(Path(name), size, rng);
        CreateDialog* d = NewDialog({Path("Movie.part2.rar"), Path("movie.part3.rar")});
        d->AddFiles({Path("movie.part1.rar"), Path("Movie.part2.rar")});  // one repeat
        // The same files written other ways are repeats too: from the
        // current folder, through "." and doubled slashes.
        const QString cwd = QDir::currentPath();
        QVERIFY(QDir::setCurrent(Q(dir_->path())));
        d->AddFiles({"movie.part3.rar", "./Movie.part2.rar", dir_->path() + "//./movie.part1.rar"});
        QDir::setCurrent(cwd);
        auto* list = Child<QTreeWidget>(d, "fileList");
        QCOMPARE(list->topLevelItemCount(), 3);
        for (const auto& file : d->parameters().files())
            QVERIFY2(file.path.find("/.") == std::string::npos &&
                         file.path.find("//") == std::string::npos,
                     file.path.c_str());
        // Sorted by path without regard to case.
        QCOMPARE(list->topLevelItem(0)->text(0), QStringLiteral("movie.part1.rar"));
        QCOMPARE(list->topLevelItem(1)->text(0), QStringLiteral("Movie.part2.rar"));
        QCOMPARE(list->topLevelItem(2)->text(0), QStringLiteral("movie.part3.rar"));
        QCOMPARE(list->topLevelItem(0)->text(1), Q(FormatGrouped(uint64_t{1000000})));
        QCOMPARE(list->topLevelItem(0)->text(2), Q(dir_->path() + "/"));

        // The same files in the model, independently: the dialog shows its figures.
        CreationParameters p(CreationSettingsFrom(*settings_), CurrentMachineFigures());
        p.AddFiles({{Path("movie.part1.rar"), 1000000},
                    {Path("Movie.part2.rar"), 300000},
                    {Path("movie.part3.rar"), 5000}});
        const CreationParameters& shown = d->parameters();
        QCOMPARE(shown.blockSize, p.blockSize);
        QCOMPARE(shown.sourceBlockCount, p.sourceBlockCount);
        QCOMPARE(shown.recoveryBlockCount, p.recoveryBlockCount);
        QCOMPARE(Text(d, "fileCountValue"), QStringLiteral("3"));
        QCOMPARE(Text(d, "totalSizeValue"), Q(FormatGrouped(uint64_t{1305000})));
        QCOMPARE(Text(d, "sourceBlocksEdit"), Q(FormatGrouped(p.sourceBlockCount)));
        QCOMPARE(Text(d, "blockSizeEdit"), Q(FormatGrouped(p.blockSize)));
        QCOMPARE(Text(d, "recoveryBlocksEdit"), Q(FormatGrouped(p.recoveryBlockCount)));
        QCOMPARE(Text(d, "fileCountEdit"), Q(FormatGrouped(uint64_t{p.recoveryFileCount})));
        QCOMPARE(Text(d, "recoveryDataSizeValue"), Q(FormatGrouped(p.recoveryDataSize())));
        QCOMPARE(Text(d, "efficiencyValue"),
                 QStringLiteral("%1.%2%").arg(p.efficiency() / 10).arg(p.efficiency() % 10));
        uint32_t lo = 0, hi = 0;
        p.rebuildableFiles(lo, hi);
        QCOMPARE(Text(d, "rebuildableValue"), QStringLiteral("%1 - %2").arg(lo).arg(hi));
        QCOMPARE(Text(d, "redundancyValue"), QStringLiteral("10.00%"));
        QVERIFY(!Text(d, "timeValue").isEmpty());
        // The default base name is the common prefix, cut at its last dot.
        QCOMPARE(Text(d, "baseNameEdit"), QStringLiteral("movie"));
        QCOMPARE(Text(d, "pathEdit"), Q(dir_->path() + "/"));
        QVERIFY(Child<QPushButton>(d, "createButton")->isEnabled());
        QVERIFY(!Child<QPushButton>(d, "removeButton")->isEnabled());

        list->topLevelItem(1)->setSelected(true);
        QVERIFY(Child<QPushButton>(d, "removeButton")->isEnabled());
        Press(d, "removeButton");
        QCOMPARE(list->topLevelItemCount(), 2);
        QCOMPARE(d->parameters().totalDataSize, uint64_t{1005000});
        QCOMPARE(list->topLevelItem(1)->text(0), QStringLiteral("movie.part3.rar"));
        SaveShot(d, QStringLiteral("create_dialog_filled.png"));

        Press(d, "clearButton");
        QCOMPARE(list->topLevelItemCount(), 0);
        QVERIFY(!Child<QPushButton>(d, "createButton")->isEnabled());
        QVERIFY(!Child<QPushButton>(d, "clearButton")->isEnabled());
    }

    // A file whose name is not UTF-8, dropped as the file manager sends it
    // (percent-encoded bytes): the same bytes are listed, protected, and the
    // progress dialog's Verifica opens the set made from them.
    void NameThatIsNotUtf8IsProtectedAsItIs() {
        const std::string odd = Path("caf\xe9 \xff.bin");
        std::mt19937_64 rng(test::TestSeed() + 5);
        WriteRandom(odd, 50000, rng);
        CreateDialog* d = NewDialog();
        QMimeData data;
        data.setUrls({QUrl::fromEncoded(
            "file://" + QByteArray::fromStdString(odd).toPercentEncoding("/"))});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(d, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(d, &drop);
        QCOMPARE(d->parameters().files().size(), size_t{1});
        QCOMPARE(d->parameters().files()[0].path, odd);
        QCOMPARE(d->parameters().files()[0].size, uint64_t{50000});
        // A destination typed in the field goes to the engine as its bytes.
        Child<QLineEdit>(d, "pathEdit")->setText(QStringLiteral("uscita è"));
        CreationProgressDialog* progress = CreateAndWait(d);
        QVERIFY(progress != nullptr);
        QCOMPARE(progress->shownStatus().phase, int{kPhaseFinished});
        const std::string made = Path("uscita \xc3\xa8/caf\xe9 \xff.bin.par2");
        QCOMPARE(progress->indexFileName(), made);
        QVERIFY(Exists(made));
        Press(progress, "verifyButton");
        QWidget* next = MainWindow();
        auto* verify = qobject_cast<VerifyDialog*>(next);
        QVERIFY(verify != nullptr);
        // The set was read from its volumes; its data file lies in another
        // folder than the set, so it is to be found again.
        QTRY_COMPARE_WITH_TIMEOUT(int(verify->shownStatus().state),
                                  int(RecoveryState::RepairPossible), kJobTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(verify->shownStatus().activity == Activity::Idle, kJobTimeoutMs);
        QPointer<QWidget> alive(verify);
        verify->close();
        QTRY_VERIFY_WITH_TIMEOUT(alive.isNull(), kJobTimeoutMs);
    }

    void DroppedFilesAndFoldersAreAdded() {
        WriteSparse(Path("dropped.bin"), 70000);
        QDir(Q(dir_->path())).mkpath(QStringLiteral("folder/sub"));
        WriteSparse(Path("folder/a.bin"), 100);
        WriteSparse(Path("folder/sub/b.bin"), 200);
        QVERIFY(symlink(Path("dropped.bin").c_str(), Path("folder/link").c_str()) == 0);
        CreateDialog* d = NewDialog();
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(Q(Path("dropped.bin"))),
                      QUrl::fromLocalFile(Q(Path("folder"))),
                      QUrl(QStringLiteral("https://example.org/remote.bin"))});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(d, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(d, &drop);
        // The folder's files, the link inside it not followed.
        QCOMPARE(d->parameters().files().size(), size_t{3});
        QCOMPARE(d->parameters().files()[0].path, Path("dropped.bin"));
        QCOMPARE(d->parameters().files()[0].size, uint64_t{70000});
        QCOMPARE(d->parameters().files()[1].path, Path("folder/a.bin"));
        QCOMPARE(d->parameters().files()[2].path, Path("folder/sub/b.bin"));
        // The list shows the names the set will store, below the destination.
        auto* list = Child<QTreeWidget>(d, "fileList");
        QStringList shown;
        for (int i = 0; i < list->topLevelItemCount(); ++i) shown << list->topLevelItem(i)->text(0);
        QCOMPARE(shown, (QStringList{QStringLiteral("dropped.bin"), QStringLiteral("folder/a.bin"),
                                     QStringLiteral("folder/sub/b.bin")}));
        // A second drop of the same things changes nothing.
        QDropEvent again(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(d, &again);
        QCOMPARE(d->parameters().files().size(), size_t{3});
    }

    // A tree keeps its shape in the set: the peer finds every file in its
    // folder. Two files that would be stored under one name are refused.
    void ATreeIsCreatedWithRelativeNamesAndClashesAreRefused() {
        QDir(Q(dir_->path())).mkpath(QStringLiteral("tree/deep/er"));
        std::mt19937_64 rng(test::TestSeed());
        WriteRandom(Path("tree/top.bin"), 30000, rng);
        WriteRandom(Path("tree/deep/er/x.bin"), 50000, rng);
        test::TempDir other;
        WriteRandom(other.File("x.bin"), 100, rng);

        CreateDialog* clash = NewDialog({Path("tree/top.bin"), Path("tree/deep/er/x.bin")});
        Child<QLineEdit>(clash, "pathEdit")->setText(Q(Path("tree/deep/er/")));
        std::vector<std::string> outside = {other.File("x.bin")};
        clash->AddFiles(outside);
        Child<QLineEdit>(clash, "pathEdit")->setText(Q(Path("tree/deep/er/")));
        Press(clash, "createButton");
        QCOMPARE(boxes_.shown.size(), size_t{1});
        QVERIFY2(boxes_.shown[0].text.find("\"x.bin\"") != std::string::npos,
                 boxes_.shown[0].text.c_str());
        QCOMPARE(VisibleTopLevels<CreationProgressDialog>().size(), size_t{0});
        CloseEveryWindow();

        CreateDialog* d = NewDialog({Path("tree")});
        Child<QLineEdit>(d, "pathEdit")->setText(Q(Path("tree/")));
        Child<QLineEdit>(d, "baseNameEdit")->setText(QStringLiteral("tree"));
        CreationProgressDialog* p = CreateAndWait(d);
        QVERIFY(p != nullptr);
        QCOMPARE(p->shownStatus().phase, int{kPhaseFinished});
        if (Exists("/usr/bin/par2")) {
            QProcess peer;
            peer.setWorkingDirectory(Q(Path("tree")));
            peer.start(QStringLiteral("/usr/bin/par2"), {QStringLiteral("v"), QStringLiteral("tree.par2")});
            QVERIFY(peer.waitForFinished(60000));
            const QByteArray out = peer.readAllStandardOutput();
            QVERIFY2(peer.exitCode() == 0, out.constData());
            QVERIFY2(out.contains("deep/er/x.bin"), out.constData());
        }
    }

    void ChooserSelectionTooLargeForItsBufferAddsNothing() {
        WriteSparse(Path("one.bin"), 100);
        CreateDialog* d = NewDialog();
        QStringList many;
        for (int i = 0; i < 2000; ++i)
            many << Q(dir_->path() + "/" + std::string(20, 'x') + std::to_string(i));
        d->SetFileChooser([&](QWidget*, const QString& title, const QString&, const QString& filter,
                              bool multiple) {
            [&] {
                QCOMPARE(title, QStringLiteral("Seleziona File"));
                QVERIFY(filter.startsWith(QStringLiteral("Tutti i file (*)")));
                QVERIFY(multiple);
            }();
            return many;
        });
        Press(d, "addButton");
        QCOMPARE(boxes_.shown.size(), size_t{1});
        QCOMPARE(boxes_.shown[0].text, std::string("Troppi file selezionati"));
        QCOMPARE(boxes_.shown[0].caption, std::string("Seleziona File"));
        QCOMPARE(boxes_.shown[0].style & kMbIconMask, kMbIconExclamation);
        QVERIFY(d->parameters().files().empty());
        // A selection that fits is taken, and its folder remembered.
        many = {Q(Path("one.bin"))};
        Press(d, "addButton");
        QCOMPARE(d->parameters().files().size(), size_t{1});
    }

    // The chooser of "Aggiungi File" must offer every file, also those
    // whose names have no dot; the recovery-volume filter stays narrow.
    void AllFilesFilterOffersNamesWithoutADot() {
        for (const char* name : {"README", "data.bin", "set.par2"}) WriteSparse(Path(name), 10);
        // The chooser's model fills in the background: read it until the
        // names that must be offered are there (a name that must not be
        // offered never shows up, however long the wait).
        const auto listed = [&](const QString& filter, const std::set<std::string>& offered) {
            QFileDialog chooser(nullptr, QString(), Q(dir_->path()), filter);
            chooser.setOption(QFileDialog::DontUseNativeDialog);
            chooser.show();
            auto* model = chooser.findChild<QFileSystemModel*>();
            std::set<std::string> names;
            if (model == nullptr) return names;
            const QModelIndex root = model->index(Q(dir_->path()));
            const auto read = [&] {
                names.clear();
                for (int row = 0; row < model->rowCount(root); ++row) {
                    const QModelIndex index = model->index(row, 0, root);
                    if (model->flags(index) & Qt::ItemIsEnabled)
                        names.insert(model->fileName(index).toStdString());
                }
                return std::includes(names.begin(), names.end(), offered.begin(), offered.end());
            };
            QTest::qWaitFor(read, kJobTimeoutMs);
            return names;
        };
        const std::set<std::string> all =
            listed(ChooserNameFilter(kStrFilterAllFiles), {"README", "data.bin", "set.par2"});
        QVERIFY2(all.count("README") == 1, "a name without a dot is offered");
        QVERIFY(all.count("data.bin") == 1 && all.count("set.par2") == 1);
        const std::set<std::string> volumes =
            listed(ChooserNameFilter(kStrFilterRecoveryVolumes), {"set.par2"});
        QVERIFY(volumes.count("set.par2") == 1);
        QVERIFY(volumes.count("README") == 0 && volumes.count("data.bin") == 0);
    }

    void TypedBlockSizeDropsSeparatorsAndRoundsToTheGranule() {
        WriteSparse(Path("big.bin"), 2000000);
        CreateDialog* d = NewDialog({Path("big.bin")});
        // Usenet restriction on: the granule is the preferred 384000 bytes.
        QVERIFY(Child<QCheckBox>(d, "usenetCheck")->isChecked());
        QCOMPARE(d->parameters().blockGranule, uint64_t{384000});
        QCOMPARE(d->parameters().blockSize, uint64_t{384000});
        Type(d, "blockSizeEdit", QStringLiteral("1.000.000"));
        QCOMPARE(d->parameters().blockSize, uint64_t{1152000});
        QCOMPARE(Text(d, "blockSizeEdit"), Q(FormatGrouped(uint64_t{1152000})));
        QCOMPARE(d->parameters().sourceBlockCount, uint64_t{2});
        // Below the current size it rounds down.
        Type(d, "blockSizeEdit", QStringLiteral("800,000"));
        QCOMPARE(d->parameters().blockSize, uint64_t{768000});
        // Arrows step by the granule; at the top a step changes nothing and beeps.
        Step(d, "blockSizeSpin", +1);
        QCOMPARE(d->parameters().blockSize, uint64_t{1152000});
        Type(d, "blockSizeEdit", QStringLiteral("99999999"));
        QCOMPARE(d->parameters().blockSize, uint64_t{2304000});
        const int beeps = d->beepCount();
        Step(d, "blockSizeSpin", +1);
        QCOMPARE(d->parameters().blockSize, uint64_t{2304000});
        QCOMPARE(d->beepCount(), beeps + 1);
        Step(d, "blockSizeSpin", -1);
        QCOMPARE(d->parameters().blockSize, uint64_t{1920000});
        QCOMPARE(d->beepCount(), beeps + 1);

        // Without the restriction the granule is 4.
        Child<QCheckBox>(d, "usenetCheck")->click();
        QCOMPARE(d->parameters().blockGranule, uint64_t{4});
        Type(d, "blockSizeEdit", QStringLiteral("1.000.001"));
        QCOMPARE(d->parameters().blockSize, uint64_t{1000000});  // below 1920000: down
    }

    void SourceAndRecoveryControlsFollowTheirBounds() {
        std::mt19937_64 rng(test::TestSeed());
        WriteSparse(Path("a.bin"), 4000000);
        WriteSparse(Path("b.bin"), 3000000);
        CreateDialog* d = NewDialog({Path("a.bin"), Path("b.bin")});
        Child<QCheckBox>(d, "usenetCheck")->click();  // granule 4: many block sizes
        const CreationParameters& p = d->parameters();
        // S typed beyond its bounds is held within them.
        Type(d, "sourceBlocksEdit", QStringLiteral("1"));
        QCOMPARE(p.sourceBlockCount, p.minSourceBlocks);
        Type(d, "sourceBlocksEdit", QStringLiteral("999.999"));
        QCOMPARE(p.sourceBlockCount, p.maxSourceBlocks);
        // The slider's ends are the bounds; a line step moves S by at least one.
        auto* slider = Child<QSlider>(d, "sourceSlider");
        slider->triggerAction(QAbstractSlider::SliderToMinimum);
        QCOMPARE(p.sourceBlockCount, p.minSourceBlocks);
        QCOMPARE(slider->value(), 0);
        slider->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        QVERIFY(p.sourceBlockCount > p.minSourceBlocks);
        Type(d, "sourceBlocksEdit", QStringLiteral("1000"));
        const uint64_t s = p.sourceBlockCount;
        QVERIFY(s >= 999 && s <= 1001);
        slider->triggerAction(QAbstractSlider::SliderSingleStepSub);
        QVERIFY(p.sourceBlockCount < s);
        // A drag goes through the logarithmic scale.
        CreationParameters expected = p;
        const uint64_t wanted = expected.sourceBlocksAt(500000);
        expected.setSourceBlockCount(wanted);
        slider->setSliderDown(true);
        slider->setSliderPosition(500000);
        slider->setSliderDown(false);
        QVERIFY(p.sourceBlockCount != s);
        QCOMPARE(p.sourceBlockCount, expected.sourceBlockCount);
        QCOMPARE(slider->value(), static_cast<int>(p.sourceBlockPosition()));
        Type(d, "sourceBlocksEdit", QStringLiteral("1000"));

        // R: typed values stop at S; the slider's ends are 1 and S.
        Type(d, "recoveryBlocksEdit", QStringLiteral("1.000.000"));
        QCOMPARE(p.recoveryBlockCount, p.sourceBlockCount);
        QCOMPARE(Text(d, "redundancyValue"), QStringLiteral("100.00%"));
        auto* redundancy = Child<QSlider>(d, "redundancySlider");
        redundancy->triggerAction(QAbstractSlider::SliderToMinimum);
        QCOMPARE(p.recoveryBlockCount, uint64_t{1});
        redundancy->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        QCOMPARE(p.recoveryBlockCount, uint64_t{2});
        redundancy->triggerAction(QAbstractSlider::SliderToMaximum);
        QCOMPARE(p.recoveryBlockCount, p.sourceBlockCount);
        int beeps = d->beepCount();
        Step(d, "recoveryBlocksSpin", +1);  // already S
        QCOMPARE(d->beepCount(), beeps + 1);
        Step(d, "recoveryBlocksSpin", -1);
        QCOMPARE(p.recoveryBlockCount, p.sourceBlockCount - 1);

        // First block: the last exponent stays below 65536.
        Type(d, "firstBlockEdit", QStringLiteral("70000"));
        QCOMPARE(p.firstRecoveryBlock + p.recoveryBlockCount, uint64_t{65536});
        Type(d, "firstBlockEdit", QStringLiteral("0"));
        beeps = d->beepCount();
        Step(d, "firstBlockSpin", -1);
        QCOMPARE(d->beepCount(), beeps + 1);
        QCOMPARE(p.firstRecoveryBlock, uint64_t{0});

        // File count: disabled for scheme 2, at most 30 for powers of two.
        QVERIFY(!Child<QLineEdit>(d, "fileCountEdit")->isEnabled());
        auto* combo = Child<QComboBox>(d, "schemeCombo");
        combo->setCurrentIndex(0);
        emit combo->activated(0);
        QCOMPARE(p.sizeScheme, uint32_t{kPowersOfTwo});
        QVERIFY(Child<QLineEdit>(d, "fileCountEdit")->isEnabled());
        Type(d, "fileCountEdit", QStringLiteral("500"));
        QCOMPARE(p.recoveryFileCount, uint32_t{30});
        combo->setCurrentIndex(2);
        emit combo->activated(2);
        Type(d, "fileCountEdit", QStringLiteral("500"));
        QCOMPARE(p.recoveryFileCount, uint32_t{500});
        Type(d, "fileCountEdit", QStringLiteral("0"));
        QCOMPARE(p.recoveryFileCount, uint32_t{1});
        beeps = d->beepCount();
        Step(d, "fileCountSpin", -1);
        QCOMPARE(d->beepCount(), beeps + 1);
    }

    void SplitLimitStepsAndBounds() {
        WriteSparse(Path("big.bin"), 50000000);
        CreateDialog* d = NewDialog({Path("big.bin")});
        const CreationParameters& p = d->parameters();
        QVERIFY(!Child<QLineEdit>(d, "splitLimitEdit")->isEnabled());
        Child<QCheckBox>(d, "splitCheck")->click();
        QVERIFY(p.splitSourceFiles);
        QVERIFY(Child<QLineEdit>(d, "splitLimitEdit")->isEnabled());
        QCOMPARE(p.splitLimit, uint64_t{15000000});
        // Steps of 100000 for a file this large, from the nearest multiple.
        Type(d, "splitLimitEdit", QStringLiteral("15.049.999"));
        QCOMPARE(p.splitLimit, uint64_t{15049999});
        Step(d, "splitLimitSpin", +1);
        QCOMPARE(p.splitLimit, uint64_t{15100000});
        // The largest limit that can be typed steps down by one step and
        // no further up (it does not wrap round to the smallest).
        Type(d, "splitLimitEdit", QStringLiteral("99.999.999.999.999.999.999"));
        QCOMPARE(p.splitLimit, UINT64_MAX);
        int beeps = d->beepCount();
        Step(d, "splitLimitSpin", +1);
        QCOMPARE(p.splitLimit, UINT64_MAX);
        QCOMPARE(d->beepCount(), beeps + 1);
        const uint64_t topStep = UINT64_MAX / 100000 * 100000;
        Step(d, "splitLimitSpin", -1);
        QCOMPARE(p.splitLimit, topStep);
        Step(d, "splitLimitSpin", -1);
        QCOMPARE(p.splitLimit, topStep - 100000);
        Step(d, "splitLimitSpin", +1);
        QCOMPARE(p.splitLimit, topStep);
        beeps = d->beepCount();
        Step(d, "splitLimitSpin", +1);
        QCOMPARE(p.splitLimit, topStep);
        QCOMPARE(d->beepCount(), beeps + 1);
        // Never below the block size.
        Type(d, "splitLimitEdit", QStringLiteral("5"));
        QCOMPARE(p.splitLimit, std::max(p.blockSize, p.splitLowerBound()));
    }

    void BaseNameOfDotsDoesNothingAndEmptiedFieldsTakeTheDefault() {
        WriteSparse(Path("movie.mkv"), 100000);
        CreateDialog* d = NewDialog({Path("movie.mkv")});
        auto* name = Child<QLineEdit>(d, "baseNameEdit");
        QCOMPARE(name->text(), QStringLiteral("movie.mkv"));
        name->setText(QStringLiteral("..."));
        QVERIFY(Child<QPushButton>(d, "createButton")->isEnabled());
        Press(d, "createButton");
        QVERIFY(d->isVisible());
        QVERIFY(VisibleTopLevels<CreationProgressDialog>().empty());
        QVERIFY(boxes_.shown.empty());
        for (const std::string& name : FilesIn(dir_->path()))
            QVERIFY2(name == "movie.mkv" || name == "settings.reg" ||
                     name == "settings.reg.lock",
                     name.c_str());
        // Emptying a field puts the default back.
        name->setText(QString());
        QCOMPARE(name->text(), QStringLiteral("movie.mkv"));
        auto* path = Child<QLineEdit>(d, "pathEdit");
        path->setText(QString());
        QCOMPARE(path->text(), Q(dir_->path() + "/"));
    }

    // A block size chosen in "Preferenze" counts in the open dialog: the
    // Usenet granule and the default block size of a changed list use it.
    void PreferredBlockSizeFromPreferenzeAppliesAtOnce() {
        settings_->blockSizeChoice = kBlockSizeExact;
        settings_->restrictBlockSize = false;
        WriteSparse(Path("first.bin"), 1000);
        CreateDialog* d = NewDialog({Path("first.bin")});
        QTimer::singleShot(0, [] {
            auto* preferences = qobject_cast<PreferencesDialog*>(QApplication::activeModalWidget());
            if (preferences == nullptr) return;
            preferences->ChoiceRadio(PreferencesDialog::kUUEncodeRow)->click();
            preferences->findChild<QPushButton*>(QStringLiteral("1"))->click();  // Ok
        });
        Press(d, "preferencesButton");
        const uint64_t preferred = uint64_t{settings_->uuEncodeLineCount} * 45;
        QCOMPARE(uint64_t{settings_->preferredBlockSize}, preferred);
        // 1000 blocks of the new size: within the range a new list keeps.
        WriteSparse(Path("second.bin"), static_cast<off_t>(preferred * 1000 - 500));
        d->AddFiles({Path("second.bin")});
        QCOMPARE(d->parameters().blockSize, preferred);
        Child<QCheckBox>(d, "usenetCheck")->click();
        QCOMPARE(d->parameters().blockGranule, preferred);
    }

    void SfogliaPutsTheChosenFolderInThePathField() {
        WriteSparse(Path("data.bin"), 1000);
        CreateDialog* d = NewDialog({Path("data.bin")});
        QString startedIn;
        d->SetFolderChooser([&](QWidget*, const QString& title, const QString& folder) {
            [&] { QCOMPARE(title, QStringLiteral("Seleziona Cartella")); }();
            startedIn = folder;
            return QStringLiteral("/chosen/folder");
        });
        Press(d, "browseButton");
        QCOMPARE(startedIn, Q(dir_->path() + "/"));
        QCOMPARE(Text(d, "pathEdit"), QStringLiteral("/chosen/folder/"));
        // A cancelled chooser changes nothing.
        d->SetFolderChooser([](QWidget*, const QString&, const QString&) { return QString(); });
        Press(d, "browseButton");
        QCOMPARE(Text(d, "pathEdit"), QStringLiteral("/chosen/folder/"));
        // The typed path survives a change of the file list.
        WriteSparse(Path("more.bin"), 1000);
        d->AddFiles({Path("more.bin")});
        QCOMPARE(Text(d, "pathEdit"), QStringLiteral("/chosen/folder/"));
    }

    void DestinationQuestionsAndRelativeAndRootedPaths() {
        WriteSparse(Path("data.bin"), 100000);
        CreateDialog* d = NewDialog({Path("data.bin")});
        auto* path = Child<QLineEdit>(d, "pathEdit");
        // Relative: below the files' folder. No: nothing is created.
        path->setText(QStringLiteral("out"));
        boxes_.answers = {kIdNo};
        Press(d, "createButton");
        QCOMPARE(boxes_.shown.size(), size_t{1});
        QCOMPARE(boxes_.shown[0].text, "La cartella di destinazione richiesta non esiste.\n\n" +
                                           Path("out") + "\n\nVolete crearla?");
        QCOMPARE(boxes_.shown[0].caption, std::string("Percorso di destinazione errato"));
        QCOMPARE(boxes_.shown[0].style & kMbButtonMask, kMbYesNo);
        QVERIFY(!Exists(Path("out")));
        QVERIFY(d->isVisible());

        // A file in the way.
        WriteSparse(Path("afile"), 1);
        path->setText(Q(Path("afile")));  // rooted: taken as it is
        Press(d, "createButton");
        QCOMPARE(boxes_.shown.size(), size_t{2});
        QCOMPARE(boxes_.shown[1].text,
                 std::string(
                     "Impossibile usare la cartella di destinazione richiesta:\n\nItE' un file"));
        QVERIFY(d->isVisible());

        // A folder below a file cannot be made: the message names the
        // folder that failed and why.
        path->setText(QStringLiteral("afile/x/y"));
        boxes_.answers = {kIdYes};
        Press(d, "createButton");
        QCOMPARE(boxes_.shown.size(), size_t{4});
        QCOMPARE(boxes_.shown[3].text, "Impossibile creare la cartella di destinazione.\n\n" +
                                           Path("afile") + "\n\n" + SystemErrorText(ENOTDIR));
        QVERIFY(d->isVisible());
        QVERIFY(!Exists(Path("afile/x")));

        // "~" is the home folder, not a folder named "~" below the files.
        path->setText(QStringLiteral("~/backup/deep"));
        boxes_.answers = {kIdNo};
        Press(d, "createButton");
        QCOMPARE(boxes_.shown.size(), size_t{5});
        QCOMPARE(boxes_.shown[4].text, "La cartella di destinazione richiesta non esiste.\n\n" +
                                           HomeFolder() + "/backup/deep\n\nVolete crearla?");
        QVERIFY(!Exists(Path("~")));

        // A rooted path two folders deep that does not exist yet: Yes
        // creates both, and the set goes there.
        const std::string elsewhere = Path("elsewhere/deeper");
        path->setText(Q(elsewhere + "/"));
        boxes_.answers = {kIdYes};
        QPointer<CreateDialog> guard(d);
        CreationProgressDialog* progress = CreateAndWait(d);
        QVERIFY(progress != nullptr);
        QVERIFY(guard.isNull());  // the create dialog closed
        QCOMPARE(progress->shownStatus().phase, int{kPhaseFinished});
        QVERIFY(Exists(elsewhere + "/data.bin.par2"));
    }

    void CreationRunsToTheEndAndThePeerAcceptsTheSet() {
        std::mt19937_64 rng(test::TestSeed());
        WriteRandom(Path("one.dat"), 700000, rng);
        WriteRandom(Path("two.dat"), 123457, rng);
        CreateDialog* d = NewDialog({Path("one.dat"), Path("two.dat")});
        Child<QCheckBox>(d, "usenetCheck")->click();  // small blocks for small files
        Type(d, "sourceBlocksEdit", QStringLiteral("200"));
        Type(d, "recoveryBlocksEdit", QStringLiteral("40"));
        Child<QLineEdit>(d, "baseNameEdit")->setText(QStringLiteral("myset..."));
        const uint64_t s = d->parameters().sourceBlockCount;
        const uint32_t redundancy = d->parameters().redundancy;
        CreationProgressDialog* p = CreateAndWait(d, "creation_progress_running.png");
        QVERIFY(p != nullptr);
        QCOMPARE(p->shownStatus().phase, int{kPhaseFinished});
        QCOMPARE(p->windowTitle(), QStringLiteral("Vantrove - Riuscita - \"myset.PAR2\""));
        QVERIFY(Text(p, "statusLine").startsWith(QStringLiteral("Completato con Successo in ")));
        QCOMPARE(Child<QPushButton>(p, "stopButton")->text(), QStringLiteral("Esci"));
        QVERIFY(Child<QPushButton>(p, "verifyButton")->isEnabled());
        QVERIFY(Child<QPushButton>(p, "newButton")->isEnabled());
        QVERIFY(Child<QPushButton>(p, "openButton")->isEnabled());
        QCOMPARE(Text(p, "sourceBlocksValue"), Q(FormatGrouped(s)));
        QCOMPARE(Text(p, "fileCountValue"), QStringLiteral("2"));
        QCOMPARE(Child<SegmentBar>(p, "progressBar")->GetText(), QStringLiteral("100.0 %"));
        SaveShot(p, QStringLiteral("creation_progress_finished.png"));
        QVERIFY(Exists(Path("myset.par2")));
        // The choices that are settings were stored.
        Settings reloaded(dir_->File("settings.reg"));
        QVERIFY(reloaded.Load());
        QCOMPARE(reloaded.recoveryBlockFraction, redundancy);
        QCOMPARE(reloaded.restrictBlockSize, false);
        QCOMPARE(reloaded.recoveryFileSizeScheme, uint32_t{2});

        if (Exists("/usr/bin/par2")) {
            QProcess peer;
            peer.setWorkingDirectory(Q(dir_->path()));
            peer.start(QStringLiteral("/usr/bin/par2"),
                       {QStringLiteral("v"), QStringLiteral("myset.par2")});
            QVERIFY(peer.waitForFinished(60000));
            QVERIFY2(peer.exitCode() == 0, peer.readAllStandardOutput().constData());
        } else {
            qWarning("par2 is not installed: the peer's check is skipped");
        }

        // "Verifica" hands the new set to the verify dialog.
        QPointer<CreationProgressDialog> guard(p);
        Press(p, "verifyButton");
        QTRY_VERIFY_WITH_TIMEOUT(guard.isNull(), 10000);
        QCOMPARE(VisibleTopLevels<VerifyDialog>().size(), size_t{1});
        VerifyDialog* verify = VisibleTopLevels<VerifyDialog>().front();
        QCOMPARE(MainWindow(), static_cast<QWidget*>(verify));
        // The new set is whole: every file verified.
        QTRY_VERIFY_WITH_TIMEOUT(verify->shownStatus().state == RecoveryState::AllVerified &&
                                     verify->shownStatus().activity == Activity::Idle,
                                 kJobTimeoutMs);
        QVERIFY(
            verify->windowTitle().startsWith(QStringLiteral("Vantrove - Tutti i dati Verificati")));
        SaveShot(verify, QStringLiteral("create_then_verified.png"));
    }

    void StartUpOpensTheCreateDialogForCreateListAndNothing() {
        WriteSparse(Path("b.bin"), 500);
        WriteSparse(Path("a.bin"), 700);
        WriteSparse(Path("c.bin"), 900);
        // Not the first run: no preferences dialog before the main one.
        settings_->SaveOptions();
        Application application;
        {
            QtStartupHost host(*settings_);
            QCOMPARE(RunStartup(application, *settings_, {"-CREATE", Path("b.bin"), Path("a.bin")},
                                host),
                     StartupResult::Running);
            auto* d = qobject_cast<CreateDialog*>(host.mainDialog());
            QVERIFY(d != nullptr);
            QCOMPARE(MainWindow(), static_cast<QWidget*>(d));
            QCOMPARE(d->parameters().files().size(), size_t{2});
            QCOMPARE(d->parameters().files()[0].path, Path("a.bin"));
            QCOMPARE(d->parameters().files()[1].size, uint64_t{500});
        }
        CloseEveryWindow();
        {
            // A list file: one path a line, read and then deleted.
            test::WriteFile(Path("list.txt"), Path("c.bin") + "\n" + Path("a.bin") + "\n\n");
            QtStartupHost host(*settings_);
            QCOMPARE(
                RunStartup(application, *settings_, {"/create", "/list", Path("list.txt")}, host),
                StartupResult::Running);
            auto* d = qobject_cast<CreateDialog*>(host.mainDialog());
            QVERIFY(d != nullptr);
            QCOMPARE(d->parameters().files().size(), size_t{2});
            QCOMPARE(d->parameters().files()[1].path, Path("c.bin"));
            QVERIFY(!Exists(Path("list.txt")));
        }
        CloseEveryWindow();
        {
            QtStartupHost host(*settings_);
            QCOMPARE(RunStartup(application, *settings_, {}, host), StartupResult::Running);
            auto* d = qobject_cast<CreateDialog*>(host.mainDialog());
            QVERIFY(d != nullptr);
            QVERIFY(d->parameters().files().empty());
        }
    }

    void FailedCreationSaysWhyAndOffersEsci() {
        WriteSparse(Path("gone.bin"), 50000);
        CreateDialog* d = NewDialog({Path("gone.bin")});
        ::unlink(Path("gone.bin").c_str());  // vanishes before the job reads it
        CreationProgressDialog* p = CreateAndWait(d);
        QVERIFY(p != nullptr);
        QCOMPARE(p->shownStatus().phase, int{kPhaseFailed});
        QCOMPARE(p->windowTitle(), QStringLiteral("Vantrove - Fallita - \"gone.bin.PAR2\""));
        QVERIFY(Text(p, "statusLine").startsWith(QStringLiteral("Fallito")));
        QVERIFY(!Child<QPushButton>(p, "verifyButton")->isEnabled());
        QCOMPARE(Child<QPushButton>(p, "stopButton")->text(), QStringLiteral("Esci"));
        SaveShot(p, QStringLiteral("creation_progress_failed.png"));
        // "Nuovo": an empty create dialog takes over.
        QPointer<CreationProgressDialog> guard(p);
        Press(p, "newButton");
        QTRY_VERIFY(guard.isNull());
        auto created = VisibleTopLevels<CreateDialog>();
        QCOMPARE(created.size(), size_t{1});
        QVERIFY(created.front()->parameters().files().empty());
    }

    void StoppedCreationReturnsWithItsChoicesAndLeavesNoFile() {
        std::mt19937_64 rng(test::TestSeed());
        WriteRandom(Path("src.bin"), 400000, rng);
        CreateDialog* d = NewDialog({Path("src.bin")});
        Child<QCheckBox>(d, "usenetCheck")->click();
        Type(d, "sourceBlocksEdit", QStringLiteral("400"));
        Type(d, "recoveryBlocksEdit", QStringLiteral("30"));
        Child<QLineEdit>(d, "baseNameEdit")->setText(QStringLiteral("stopped"));
        SlowBlocks slow;
        CreationJobOptions options{2, nullptr, &slow};
        d->SetJobOptions(options);
        const uint64_t s = d->parameters().sourceBlockCount;
        const uint64_t blockSize = d->parameters().blockSize;
        Press(d, "createButton");
        auto found = VisibleTopLevels<CreationProgressDialog>();
        QCOMPARE(found.size(), size_t{1});
        QPointer<CreationProgressDialog> p = found.front();
        QTRY_VERIFY_WITH_TIMEOUT(slow.reached.load(), kJobTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(p->shownStatus().phase == kPhaseComputing, kJobTimeoutMs);
        // No: the job goes on.
        boxes_.answers = {kIdNo};
        Press(p, "stopButton");
        QCOMPARE(boxes_.shown.back().text,
                 std::string("Siete sicuri di voler interrompere la creazione dei file PAR2?"));
        QCOMPARE(boxes_.shown.back().caption, std::string("Interrompi Creazione PAR2"));
        QCOMPARE(boxes_.shown.back().style, kMbYesNo | kMbIconQuestion);
        QVERIFY(!p.isNull() && p->isVisible() && !p->finished());
        // Closing the window asks too; Yes stops the job.
        boxes_.answers = {kIdYes};
        p->close();
        QTRY_VERIFY(p.isNull());
        auto back = VisibleTopLevels<CreateDialog>();
        QCOMPARE(back.size(), size_t{1});
        CreateDialog* again = back.front();
        QCOMPARE(again->parameters().sourceBlockCount, s);
        QCOMPARE(again->parameters().blockSize, blockSize);
        QCOMPARE(again->parameters().recoveryBlockCount, uint64_t{30});
        QCOMPARE(Text(again, "baseNameEdit"), QStringLiteral("stopped"));
        QCOMPARE(again->jobOptions().hooks, static_cast<CreationJobTestHooks*>(&slow));
        for (const std::string& name : FilesIn(dir_->path()))
            QVERIFY2(name == "src.bin" || name == "settings.reg" ||
                     name == "settings.reg.lock",
                     name.c_str());
    }

    void ExtensionFixesTheListUntilItIsCleared() {
        std::mt19937_64 rng(test::TestSeed());
        WriteRandom(Path("base.dat"), 200000, rng);
        CreateDialog* d = NewDialog({Path("base.dat")});
        QVERIFY(CreateAndWait(d) != nullptr);
        CloseEveryWindow();

        ExistingSetInfo info;
        std::string error;
        QVERIFY2(ReadSetForExtension(Path("base.dat.par2"), info, error),
                 error.c_str());
        auto parameters = std::make_unique<CreationParameters>(CreationSettingsFrom(*settings_),
                                                               CurrentMachineFigures());
        parameters->initFromExistingSet(info);
        const uint64_t firstFree = parameters->lowestFirstBlock;
        QVERIFY(firstFree > 0);
        auto* e = new CreateDialog(*settings_, std::move(parameters));
        e->show();
        for (const char* name : {"addButton", "browseButton"})
            QVERIFY2(!Child<QPushButton>(e, name)->isEnabled(), name);
        for (const char* name : {"blockSizeEdit", "sourceBlocksEdit", "baseNameEdit", "pathEdit"})
            QVERIFY2(!Child<QLineEdit>(e, name)->isEnabled(), name);
        for (const char* name : {"recoveryBlocksEdit", "firstBlockEdit"})
            QVERIFY2(Child<QLineEdit>(e, name)->isEnabled(), name);
        QVERIFY(Child<QSlider>(e, "redundancySlider")->isEnabled());
        QVERIFY(Child<QPushButton>(e, "clearButton")->isEnabled());
        QVERIFY(Child<QPushButton>(e, "createButton")->isEnabled());
        QCOMPARE(Text(e, "baseNameEdit"), QStringLiteral("base.dat"));
        QCOMPARE(Text(e, "firstBlockEdit"), Q(FormatGrouped(firstFree)));
        // The first block never goes below the set's first free exponent.
        Type(e, "firstBlockEdit", QStringLiteral("0"));
        QCOMPARE(e->parameters().firstRecoveryBlock, firstFree);
        // Drops are refused while the list belongs to the set.
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(Q(Path("base.dat")))});
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(e, &enter);
        QVERIFY(!enter.isAccepted());
        SaveShot(e, QStringLiteral("create_dialog_extension.png"));

        Press(e, "clearButton");
        QVERIFY(!e->parameters().extendExistingSet);
        QVERIFY(Child<QPushButton>(e, "addButton")->isEnabled());
        QCOMPARE(Text(e, "baseNameEdit"), QString());
        delete e;

        // The same set again, from a relative folder: further volumes are
        // written beside the old ones, and the peer accepts the whole set.
        const QString cwd = QDir::currentPath();
        QVERIFY(QDir::setCurrent(Q(dir_->path())));
        const bool read = ReadSetForExtension("./base.dat.par2", info, error);
        QDir::setCurrent(cwd);
        QVERIFY2(read, error.c_str());
        QCOMPARE(info.folder, dir_->path() + "/");
        parameters = std::make_unique<CreationParameters>(CreationSettingsFrom(*settings_),
                                                          CurrentMachineFigures());
        parameters->initFromExistingSet(info);
        auto* more = new CreateDialog(*settings_, std::move(parameters));
        more->show();
        Type(more, "recoveryBlocksEdit", QStringLiteral("3"));
        CreationProgressDialog* p = CreateAndWait(more);
        QVERIFY(p != nullptr);
        QCOMPARE(p->shownStatus().phase, int{kPhaseFinished});
        int volumes = 0;
        for (const std::string& name : FilesIn(dir_->path()))
            if (name.find(".vol") != std::string::npos) ++volumes;
        QVERIFY(volumes >= 2);
        if (Exists("/usr/bin/par2")) {
            QProcess peer;
            peer.setWorkingDirectory(Q(dir_->path()));
            peer.start(QStringLiteral("/usr/bin/par2"),
                       {QStringLiteral("v"), QStringLiteral("base.dat.par2")});
            QVERIFY(peer.waitForFinished(60000));
            QVERIFY2(peer.exitCode() == 0, peer.readAllStandardOutput().constData());
        }
    }
};

}  // namespace vantrove

VANTROVE_QTEST_MAIN(vantrove::CreateDialogTest)
#include "create_dialog_test.moc"
