// Tests of LinkText on the off-screen platform: markup, word wrap and line
// feeds, hit tests on wrapped links, hover (colour, hand cursor, tooltip),
// clicks with and without a target, the visited colour.

#include "ui/link_text.h"

#include <QApplication>
#include <QFontMetrics>
#include <QImage>
#include <QMouseEvent>
#include <QtTest/QtTest>

#include "support/qt_test_main.h"

namespace vantrove {

class LinkTextTest : public QObject {
    Q_OBJECT

  private:
    static void Move(LinkText& text, const QPoint& point) {
        QMouseEvent move(QEvent::MouseMove, QPointF(point), QPointF(text.mapToGlobal(point)),
                         Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&text, &move);
    }
    // Whether the widget shows a pixel of exactly `colour` (the underline of a
    // link is drawn solid in its colour).
    static bool Shows(LinkText& text, const QColor& colour) {
        QImage image = text.grab().toImage().convertToFormat(QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                if (image.pixel(x, y) == colour.rgb()) return true;
            }
        }
        return false;
    }
    static int Advance(const LinkText& text, const QString& s, bool underlined = false) {
        QFont font = text.font();
        font.setUnderline(underlined);
        return QFontMetrics(font).horizontalAdvance(s);
    }

  private slots:
    void plainTextWrapsAndHasNoLinks() {
        LinkText text(QStringLiteral("aaa bbb ccc"));
        const int space = Advance(text, QStringLiteral(" "));
        const int two =
            Advance(text, QStringLiteral("aaa")) + space + Advance(text, QStringLiteral("bbb"));
        text.resize(two + space + Advance(text, QStringLiteral("ccc")) + 10, 100);
        QCOMPARE(text.LineCount(), 1);
        text.resize(two + 2, 100);  // room for two words, not three
        QCOMPARE(text.LineCount(), 2);
        QCOMPARE(text.LinkCount(), 0);
        QCOMPARE(text.heightForWidth(two + 2), 2 * QFontMetrics(text.font()).height());
        int opened = 0;
        text.SetOpener([&opened](const QString&) { ++opened; });
        text.show();
        QVERIFY(QTest::qWaitForWindowExposed(&text));
        for (int x = 0; x < text.width(); x += 5) {
            Move(text, QPoint(x, 5));
            QCOMPARE(text.HoverLink(), -1);
            QTest::mouseClick(&text, Qt::LeftButton, {}, QPoint(x, 5));
        }
        QCOMPARE(opened, 0);
        QCOMPARE(text.cursor().shape(), Qt::ArrowCursor);
        // A word wider than the control stands alone on its line.
        text.resize(5, 100);
        QCOMPARE(text.LineCount(), 3);
    }

    void lineFeedsEndLines() {
        LinkText text(QStringLiteral("a\nb\n\nc"));
        text.resize(400, 200);
        QCOMPARE(text.LineCount(), 3);
        const int h = QFontMetrics(text.font()).height();
        // "c" comes after an empty line.
        QCOMPARE(text.heightForWidth(400), 4 * h);
    }

    void markupMakesLinksWithTargets() {
        LinkText text(
            QStringLiteral("Vai al {sito del programma|https://a.example/} ora {qui} "
                           "e } | resta testo"));
        text.resize(1000, 100);
        QCOMPARE(text.LinkCount(), 2);
        QCOMPARE(text.Target(0), QStringLiteral("https://a.example/"));
        QCOMPARE(text.Target(1), QString());
        QCOMPARE(text.LinkRects(0).size(), 3);
        QCOMPARE(text.LinkRects(1).size(), 1);
        for (const QRect& r : text.LinkRects(0)) QCOMPARE(text.LinkAt(r.center()), 0);
        QCOMPARE(text.LinkAt(text.LinkRects(1)[0].center()), 1);
        QCOMPARE(text.LinkAt(QPoint(1, 1)), -1);  // "Vai"
        // Binding: an index beyond the links is ignored.
        text.SetLink(5, QStringLiteral("x"), true);
        text.SetLink(1, QStringLiteral("https://b.example/"), false);
        QCOMPARE(text.Target(1), QStringLiteral("https://b.example/"));
        QCOMPARE(text.LinkCount(), 2);
    }

    void punctuationStaysAtTheLink() {
        LinkText text(QStringLiteral("({uno}), {due} ."));
        text.resize(400, 40);
        QCOMPARE(text.LinkCount(), 2);
        QRect uno = text.LinkRects(0)[0];
        QRect due = text.LinkRects(1)[0];
        // "(" sits right before "uno", ")," right after it; a blank stays a blank.
        QCOMPARE(uno.left(), Advance(text, QStringLiteral("(")));
        QCOMPARE(text.LinkAt(QPoint(uno.right() + 2, uno.center().y())), -1);
        QCOMPARE(due.left(), uno.right() + 1 + Advance(text, QStringLiteral("),")) +
                                 Advance(text, QStringLiteral(" ")));
    }

    void hitTestsFollowTheWrap() {
        LinkText text(QStringLiteral("xx {uno due tre quattro}"));
        const int width = Advance(text, QStringLiteral("xx uno")) + 4;
        text.resize(width, 200);
        QVERIFY(text.LineCount() >= 3);
        QVector<QRect> rects = text.LinkRects(0);
        QCOMPARE(rects.size(), 4);
        QCOMPARE(rects[1].left(), 0);  // "due" begins the second line
        QVERIFY(rects[1].top() > rects[0].top());
        for (const QRect& r : rects) {
            QVERIFY(r.right() < width || r.left() == 0);
            QCOMPARE(text.LinkAt(r.center()), 0);
        }
        // Right of "uno" on the first line is nothing.
        QCOMPARE(text.LinkAt(QPoint(rects[0].right() + 3, rects[0].center().y())), -1);
    }

    void hoverShowsHandTooltipAndColour() {
        LinkText text(QStringLiteral("testo {primo} e {secondo}"));
        text.SetLink(0, QStringLiteral("https://a.example/"), true);
        text.SetLink(1, QStringLiteral("https://b.example/"), false);
        text.resize(400, 40);
        text.show();
        QVERIFY(QTest::qWaitForWindowExposed(&text));
        QVERIFY(Shows(text, LinkText::LinkColour()));
        QVERIFY(!Shows(text, LinkText::HoverColour()));

        Move(text, text.LinkRects(0)[0].center());
        QCOMPARE(text.HoverLink(), 0);
        QCOMPARE(text.cursor().shape(), Qt::PointingHandCursor);
        QCOMPARE(text.toolTip(), QStringLiteral("https://a.example/"));
        QVERIFY(Shows(text, LinkText::HoverColour()));

        Move(text, text.LinkRects(1)[0].center());
        QCOMPARE(text.HoverLink(), 1);
        QCOMPARE(text.toolTip(), QString());  // this link shows no tooltip

        Move(text, QPoint(1, 1));
        QCOMPARE(text.HoverLink(), -1);
        QCOMPARE(text.cursor().shape(), Qt::ArrowCursor);
        QVERIFY(!Shows(text, LinkText::HoverColour()));
    }

    void clickOpensAndMarksVisited() {
        LinkText text(QStringLiteral("{con indirizzo} e {senza}"));
        text.SetLink(0, QStringLiteral("https://a.example/"), true);
        QStringList opened;
        text.SetOpener([&opened](const QString& target) { opened << target; });
        text.resize(400, 40);
        text.show();
        QVERIFY(QTest::qWaitForWindowExposed(&text));

        QTest::mouseClick(&text, Qt::LeftButton, {}, text.LinkRects(1)[0].center());
        QVERIFY(opened.isEmpty());  // no target: nothing happens
        QVERIFY(!text.IsVisited(1));

        QTest::mouseClick(&text, Qt::LeftButton, {}, text.LinkRects(0)[0].center());
        QCOMPARE(opened, QStringList{QStringLiteral("https://a.example/")});
        QVERIFY(text.IsVisited(0));
        Move(text, QPoint(text.width() - 1, text.height() - 1));
        QVERIFY(Shows(text, LinkText::VisitedColour()));
        // The other link keeps the link colour.
        QVERIFY(Shows(text, LinkText::LinkColour()));
        // A right click opens nothing.
        QTest::mouseClick(&text, Qt::RightButton, {}, text.LinkRects(0)[0].center());
        QCOMPARE(opened.size(), 1);
    }

    void newTextForgetsTheOldLinks() {
        LinkText text(QStringLiteral("{uno|https://a.example/}"));
        text.resize(300, 40);
        text.SetText(QStringLiteral("solo testo"));
        QCOMPARE(text.LinkCount(), 0);
        QCOMPARE(text.Target(0), QString());
        QCOMPARE(text.LinkAt(QPoint(2, 2)), -1);
    }
};

}  // namespace vantrove

VANTROVE_QTEST_MAIN(vantrove::LinkTextTest)
#include "link_text_test.moc"
