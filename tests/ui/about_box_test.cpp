// Tests of the About box on the off-screen platform: title, version line,
// the three links with their targets and tooltips, the Help key, "Ok"; and a
// screenshot in the build folder's screenshots/.

#include "ui/about_box.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QFile>
#include <QUrl>
#include <QtTest/QtTest>

#include "support/qt_test_main.h"
#include "ui/help_key.h"
#include "ui/link_text.h"

namespace vantrove {

class AboutBoxTest : public QObject {
    Q_OBJECT

  private slots:
    void contents() {
        AboutBox box;
        QCOMPARE(box.windowTitle(), QStringLiteral("Informazioni su Vantrove"));
        QCOMPARE(box.VersionLabel()->text(), QStringLiteral("Vantrove version 0.9"));
        LinkText* links = box.Links();
        // The format's public site and the manual that ships with the
        // program; no placeholder addresses, and no link without a target.
        QCOMPARE(links->LinkCount(), 2);
        QCOMPARE(links->Target(0), QStringLiteral("https://parchive.github.io/"));
        QCOMPARE(links->Target(1), ManualAddress());
        QVERIFY(ManualAddress().startsWith(QStringLiteral("file:///")));
        QVERIFY(ManualAddress().endsWith(QStringLiteral("/index.htm")));
        QVERIFY(!links->Text().contains(QStringLiteral("example")));
        QVERIFY(links->Text().contains(QStringLiteral("sostenerne lo sviluppo")));
    }

    void linksHoverWithTheirTooltips() {
        AboutBox box;
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        LinkText* links = box.Links();
        QStringList opened;
        links->SetOpener([&opened](const QString& target) { opened << target; });
        const QString expected[2] = {QString::fromLatin1(kFormatProjectAddress),
                                     ManualAddress()};
        for (int i = 0; i < 2; ++i) {
            QVERIFY(!links->LinkRects(i).isEmpty());
            QPoint point = links->LinkRects(i)[0].center();
            QMouseEvent move(QEvent::MouseMove, QPointF(point), QPointF(links->mapToGlobal(point)),
                             Qt::NoButton, Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(links, &move);
            QCOMPARE(links->HoverLink(), i);
            QCOMPARE(links->toolTip(), expected[i]);
            QTest::mouseClick(links, Qt::LeftButton, {}, point);
        }
        QCOMPARE(opened, (QStringList{QString::fromLatin1(kFormatProjectAddress),
                                      ManualAddress()}));
    }

    void f1AndOk() {
        int help = 0;
        SetHelpOpener([&help] { ++help; });
        AboutBox box;
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        QApplication::setActiveWindow(&box);
        QTest::keyClick(&box, Qt::Key_F1);
        QCOMPARE(help, 1);
        SetHelpOpener({});
        QTest::mouseClick(box.findChild<QPushButton*>(QStringLiteral("1")), Qt::LeftButton);
        QCOMPARE(box.result(), int(QDialog::Accepted));
    }

    void screenshot() {
        AboutBox box;
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        QDir dir(test::ScreenshotDir());
        QVERIFY(dir.mkpath(QStringLiteral(".")));
        QVERIFY(box.grab().save(dir.filePath(QStringLiteral("about_box.png"))));
        QVERIFY(!ProgramIcon().isNull());
    }
};

}  // namespace vantrove

VANTROVE_QTEST_MAIN(vantrove::AboutBoxTest)
#include "about_box_test.moc"
