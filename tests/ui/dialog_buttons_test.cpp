// The "Preferenze" and "Informazioni" buttons of the create dialog open the
// preferences dialog and the About box modally, and F1 opens the manual.

#include <QApplication>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QtTest/QtTest>

#include "app/settings.h"
#include "support/qt_test_main.h"
#include "support/test_env.h"
#include "ui/about_box.h"
#include "ui/create_dialog.h"
#include "ui/help_key.h"
#include "ui/preferences_dialog.h"

namespace vantrove {

class DialogButtonsTest : public QObject {
    Q_OBJECT

  private:
    // Presses the button `name` of the modal dialog once it is up, and
    // remembers which class of dialog it was.
    static void AnswerModal(QString* seen, const char* name) {
        QTimer::singleShot(0, [seen, name] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal == nullptr) return;
            *seen = QString::fromLatin1(modal->metaObject()->className());
            if (auto* button = modal->findChild<QPushButton*>(QString::fromLatin1(name))) {
                button->click();
            }
        });
    }

  private slots:
    void createDialogOpensPreferencesAboutAndHelp() {
        test::TempDir dir;
        Settings settings(dir.File("settings.reg"));
        QPointer<CreateDialog> create = new CreateDialog(settings, std::vector<std::string>{});
        create->show();
        QVERIFY(QTest::qWaitForWindowExposed(create));
        auto* preferences = create->findChild<QPushButton*>(QStringLiteral("preferencesButton"));
        auto* about = create->findChild<QPushButton*>(QStringLiteral("aboutButton"));
        QVERIFY(preferences != nullptr && about != nullptr);
        QVERIFY(preferences->isEnabled());
        QVERIFY(about->isEnabled());

        QString seen;
        AnswerModal(&seen, "2");  // Annulla
        preferences->click();
        QCOMPARE(seen, QStringLiteral("vantrove::PreferencesDialog"));
        QVERIFY(!test::FileExists(dir.File("settings.reg")));

        seen.clear();
        AnswerModal(&seen, "1");  // Ok
        about->click();
        QCOMPARE(seen, QStringLiteral("vantrove::AboutBox"));

        int help = 0;
        SetHelpOpener([&help] { ++help; });
        QApplication::setActiveWindow(create);
        QTest::keyClick(create, Qt::Key_F1);
        QCOMPARE(help, 1);
        SetHelpOpener({});
        delete create;
    }
};

}  // namespace vantrove

VANTROVE_QTEST_MAIN(vantrove::DialogButtonsTest)
#include "dialog_buttons_test.moc"
