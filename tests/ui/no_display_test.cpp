// The desktop program started where there is no display: it says that it
// needs a graphical session, shows the command-line forms and fails, instead
// of the toolkit's message about its platform plugin.

#include <QProcess>
#include <QProcessEnvironment>
#include <QtTest/QtTest>

#include "support/qt_test_main.h"

namespace vantrove {

class NoDisplayTest : public QObject {
    Q_OBJECT

  private slots:
    void WithoutADisplayTheProgramSaysSoAndFails() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        QProcess program;
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(VANTROVE_GUI_PATH), {QStringLiteral("/tmp/x.par2")});
        QVERIFY(program.waitForFinished(120000));
        const QString err = QString::fromUtf8(program.readAllStandardError());
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QVERIFY(program.exitCode() != 0);
        QVERIFY2(err.contains(QStringLiteral("sessione grafica")), qPrintable(err));
        QVERIFY2(err.contains(QStringLiteral("vantrove-cli verify FILE")), qPrintable(err));
        QVERIFY2(!err.contains(QStringLiteral("xcb")), qPrintable(err));
    }
};

}  // namespace vantrove

VANTROVE_QTEST_MAIN(vantrove::NoDisplayTest)
#include "no_display_test.moc"
