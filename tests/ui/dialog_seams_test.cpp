// Tests of the pieces both top-level dialogs share: the paths of a drop, the
// last folder of the file dialogs, the priority submenu and the hand-over of
// the main window.

#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QToolButton>
#include <QMimeData>
#include <QUrl>
#include <QWidget>
#include <QtTest/QtTest>
#include <vector>

#include "app/process_priority.h"
#include "support/qt_test_main.h"
#include "support/test_env.h"
#include "app/localized_message_box.h"
#include "ui/dialog_menu_button.h"
#include "ui/dialog_switch.h"
#include "ui/help_key.h"
#include "ui/dropped_paths.h"
#include "ui/last_folder.h"
#include "ui/priority_menu.h"

namespace vantrove {

namespace {

class CountingMessageBox : public MessageBoxPresenter {
  public:
    int shown = 0;
    std::string text;
    int Show(MessageBoxOwner, const std::string& message, const std::string&, unsigned style) override {
        ++shown;
        text = message;
        return DefaultButton(style);
    }
};

}  // namespace

class DialogSeamsTest : public QObject {
    Q_OBJECT

  private slots:
    void DroppedPathsKeepOnlyLocalFilesInOrder() {
        test::TempDir dir;
        QDir(QString::fromStdString(dir.path())).mkdir(QStringLiteral("a b"));
        const std::string first = dir.File("a b/è.par2");
        const std::string second = dir.File("z.sfv");
        test::WriteFile(first, "x");
        test::WriteFile(second, "y");
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(QString::fromStdString(first)),
                      QUrl(QStringLiteral("https://example.org/x.par2")),
                      QUrl::fromLocalFile(QString::fromStdString(second))});
        std::vector<std::string> paths = DroppedPaths(&data);
        QCOMPARE(paths.size(), size_t{2});
        QCOMPARE(paths[0], first);
        QCOMPARE(paths[1], second);

        QMimeData text;
        text.setText(QStringLiteral("/tmp/not-a-url.par2"));
        QVERIFY(DroppedPaths(&text).empty());
        QVERIFY(DroppedPaths(nullptr).empty());

        // Folders and files that are not there do not count.
        QMimeData others;
        others.setUrls({QUrl::fromLocalFile(QString::fromStdString(dir.path())),
                        QUrl::fromLocalFile(QString::fromStdString(dir.File("gone.par2"))),
                        QUrl::fromLocalFile(QString::fromStdString(second))});
        QCOMPARE(DroppedPaths(&others), std::vector<std::string>{second});
        others.setUrls({QUrl::fromLocalFile(QString::fromStdString(dir.path()))});
        QVERIFY(DroppedPaths(&others).empty());

        // A name that is not UTF-8 comes as the bytes of its percent-encoding.
        const std::string odd = dir.File("caf\xe9 \xff.par2");
        test::WriteFile(odd, "z");
        QMimeData bytes;
        bytes.setUrls(
            {QUrl::fromEncoded("file://" + QByteArray::fromStdString(odd).toPercentEncoding("/"))});
        QCOMPARE(DroppedPaths(&bytes), std::vector<std::string>{odd});
    }

    void LastFolderIsTheFolderOfTheLastPath() {
        SetLastFolder({});
        QVERIFY(LastFolder().empty());
        RememberFolderOf("/data/sets/movie.par2");
        QCOMPARE(LastFolder(), std::string("/data/sets/"));
        RememberFolderOf("no-folder.par2");  // nothing to learn
        QCOMPARE(LastFolder(), std::string("/data/sets/"));
        SetLastFolder("/other");
        QCOMPARE(LastFolder(), std::string("/other/"));
        RememberFolderOf("/x.par2");
        QCOMPARE(LastFolder(), std::string("/"));
    }

    void PriorityMenuOffersThreeClassesInOrder() {
        QMenu menu;
        std::vector<uint32_t> applied;
        QMenu* submenu = AddPriorityMenu(&menu, [&](uint32_t p) { applied.push_back(p); });
        QCOMPARE(submenu->title(), QStringLiteral("Priorità"));
        QList<QAction*> actions = submenu->actions();
        QCOMPARE(actions.size(), 3);
        QCOMPARE(actions[0]->text(), QStringLiteral("Minima"));
        QCOMPARE(actions[1]->text(), QStringLiteral("Normale"));
        QCOMPARE(actions[2]->text(), QStringLiteral("Alta"));
        actions[2]->trigger();
        actions[0]->trigger();
        actions[1]->trigger();
        QCOMPARE(applied, (std::vector<uint32_t>{kPriorityHigh, kPriorityIdle, kPriorityNormal}));
    }

    // The "⋮" button holds the priority, the preferences, the About box and
    // the help, each running the dialog's own command.
    void MenuButtonHoldsPriorityPreferencesAboutAndHelp() {
        QWidget dialog;
        int preferences = 0, about = 0, help = 0;
        SetHelpOpener([&help] { ++help; });
        QToolButton* button = MakeDialogMenuButton(
            &dialog, [&] { ++preferences; }, [&] { ++about; });
        QCOMPARE(button->objectName(), QStringLiteral("dialogMenu"));
        QCOMPARE(button->text(), QStringLiteral("\u22ee"));
        QStringList texts;
        for (QAction* action : button->menu()->actions())
            if (!action->isSeparator()) texts << action->text();
        QCOMPARE(texts, (QStringList{QStringLiteral("Priorità"), QStringLiteral("Preferenze"),
                                     QStringLiteral("Informazioni"), QStringLiteral("Aiuto\tF1")}));
        for (const char* name : {"menuPreferences", "menuAbout", "menuHelp"})
            button->menu()->findChild<QAction*>(QLatin1String(name))->trigger();
        SetHelpOpener({});
        QCOMPARE(preferences, 1);
        QCOMPARE(about, 1);
        QCOMPARE(help, 1);
        // Without a Preferenze command the entry is left out.
        QToolButton* plain = MakeDialogMenuButton(&dialog, nullptr, [] {});
        QVERIFY(plain->menu()->findChild<QAction*>(QStringLiteral("menuPreferences")) == nullptr);
    }

    // A class the process may not take (a raise back needs privileges) is
    // reported once, not at every try and not when it works.
    void RefusedPriorityIsReportedOnce() {
        CountingMessageBox boxes;
        SetMessageBoxPresenter(&boxes);
        ResetPriorityRefusalReport();
        ApplyPriorityFromMenu(kPriorityHigh, nullptr, [](uint32_t) { return true; });
        QCOMPARE(boxes.shown, 0);
        ApplyPriorityFromMenu(kPriorityHigh, nullptr, [](uint32_t) { return false; });
        ApplyPriorityFromMenu(kPriorityNormal, nullptr, [](uint32_t) { return false; });
        QCOMPARE(boxes.shown, 1);
        QVERIFY(boxes.text.find("priorit") != std::string::npos);
        QVERIFY(PriorityRefusalReported());
        SetMessageBoxPresenter(nullptr);
    }

    // Runs last among the priority tests: the process cannot come back from
    // idle without privileges.
    void PriorityMenuSetsTheProcessClass() {
        QMenu menu;
        QMenu* submenu = AddPriorityMenu(&menu);
        submenu->actions()[0]->trigger();  // Minima
        int nice = 0;
        QVERIFY(NiceForPriorityClass(kPriorityIdle, nice));
        QCOMPARE(ProcessBaseNice(), nice);
        QCOMPARE(CurrentPriorityClass(), kPriorityIdle);
        // The check mark follows the class when the menu opens.
        emit submenu->aboutToShow();
        QVERIFY(submenu->actions()[0]->isChecked());
        QVERIFY(!submenu->actions()[1]->isChecked());
    }

    // The application's own loop runs here, so that the end of the program
    // when its last window closes can be seen: exit code 42 means a guard
    // timer ended the loop, 0 that the application quit by itself.
    void ReplacingTheMainWindowKeepsTheProgramRunning() {
        auto* first = new QWidget;
        first->setAttribute(Qt::WA_DeleteOnClose);
        QPointer<QWidget> firstAlive(first);
        first->show();
        SetMainWindow(first);
        auto* second = new QWidget;
        second->setAttribute(Qt::WA_DeleteOnClose);
        QPointer<QWidget> secondAlive(second);

        QTimer::singleShot(0, [&]() { ReplaceMainWindow(first, second); });
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, []() { QCoreApplication::exit(42); });
        guard.start(500);
        QCOMPARE(QCoreApplication::exec(), 42);  // still running with the second window
        QCOMPARE(MainWindow(), second);
        QVERIFY(second->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(firstAlive.isNull(), 5000);  // closed and freed

        // Without a next window the current one closes and the program ends.
        QTimer::singleShot(0, [&]() { ReplaceMainWindow(second, nullptr); });
        guard.start(10000);
        QCOMPARE(QCoreApplication::exec(), 0);
        guard.stop();
        QTRY_VERIFY_WITH_TIMEOUT(secondAlive.isNull(), 5000);
        QCOMPARE(MainWindow(), nullptr);

        // A window hidden before its switch failed: closing it would not end
        // the program by itself, so the switch ends it.
        auto* third = new QWidget;
        third->setAttribute(Qt::WA_DeleteOnClose);
        QPointer<QWidget> thirdAlive(third);
        third->show();
        SetMainWindow(third);
        QTimer::singleShot(0, [&]() {
            third->hide();
            ReplaceMainWindow(third, nullptr);
        });
        guard.start(10000);
        QCOMPARE(QCoreApplication::exec(), 0);
        guard.stop();
        QTRY_VERIFY_WITH_TIMEOUT(thirdAlive.isNull(), 5000);
    }
};

}  // namespace vantrove

VANTROVE_QTEST_MAIN(vantrove::DialogSeamsTest)
#include "dialog_seams_test.moc"
