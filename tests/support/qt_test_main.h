#pragma once
// The main of a Qt Test program: the same private sandbox for HOME and the
// XDG folders as the GoogleTest programs get (settings, caches and trash of a
// dialog test never touch the real home folder), the off-screen platform,
// then the test object's slots.
//
//   class VerifyDialogTest : public QObject { Q_OBJECT ... };
//   VANTROVE_QTEST_MAIN(VerifyDialogTest)
//   #include "verify_dialog_test.moc"

#include <QApplication>
#include <QDir>
#include <QtTest/QtTest>

#include "support/test_env.h"

#ifdef VANTROVE_SCREENSHOT_DIR
namespace vantrove::test {
// Where screenshots go: the build's screenshots/ folder, or a folder of its
// own ("scale2") for a run with QT_SCALE_FACTOR set, so that the shots at
// 100 % and 200 % can be compared side by side.
inline QString ScreenshotDir() {
    QString folder = QStringLiteral(VANTROVE_SCREENSHOT_DIR);
    const QByteArray scale = qgetenv("QT_SCALE_FACTOR");
    if (!scale.isEmpty() && scale != "1") folder += QStringLiteral("/scale") + QString::fromLatin1(scale);
    QDir().mkpath(folder);
    return folder;
}
}  // namespace vantrove::test
#endif

#define VANTROVE_QTEST_MAIN(TestObject)                     \
    int main(int argc, char** argv) {                      \
        vantrove::test::EnterSandbox();                    \
        int rc = 0;                                        \
        {                                                  \
            QApplication app(argc, argv);                  \
            TestObject testObject;                         \
            QTEST_SET_MAIN_SOURCE_PATH                     \
            rc = QTest::qExec(&testObject, argc, argv);    \
        }                                                  \
        vantrove::test::LeaveSandbox();                    \
        return rc;                                         \
    }
