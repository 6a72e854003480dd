// Tests of SegmentBar on the off-screen platform: segment ends and the
// ordering of values, the shaded rows, the text, which areas a change
// repaints, and placement in a dialog. Screenshots of a few bars go to the
// build folder's screenshots/ for a look by eye.

#include "ui/segment_bar.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QPaintEvent>
#include <QPixmap>
#include <QVBoxLayout>
#include <QtTest/QtTest>
#include <cstdlib>

#include "support/qt_test_main.h"
#include "ui/texts/status_texts.h"

namespace vantrove {

// A bar that remembers what it was asked to paint.
class RecordingBar : public SegmentBar {
  public:
    using SegmentBar::SegmentBar;
    QRegion painted;
    int paints = 0;
    void Forget() {
        painted = QRegion();
        paints = 0;
    }

  protected:
    void paintEvent(QPaintEvent* event) override {
        painted += event->region();
        ++paints;
        SegmentBar::paintEvent(event);
    }
};

class SegmentBarTest : public QObject {
    Q_OBJECT

  private:
    // The bar's inner area is 200 x 20 pixels inside a 2-pixel frame.
    static constexpr int kFrame = 2;
    static constexpr int kWidth = 200;
    static constexpr int kHeight = 20;

    static void Show(RecordingBar& bar) {
        bar.resize(kWidth + 2 * kFrame, kHeight + 2 * kFrame);
        bar.show();
        QVERIFY(QTest::qWaitForWindowExposed(&bar));
        Flush();
        bar.Forget();
    }
    // Lets pending repaints happen.
    static void Flush() {
        for (int i = 0; i < 3; ++i) {
            QCoreApplication::sendPostedEvents();
            QCoreApplication::processEvents();
        }
    }
    // Pixel (x, y) of the inner area.
    static QColor Pixel(const QImage& image, int x, int y) {
        return QColor(image.pixel(kFrame + x, kFrame + y));
    }
    static QRect Columns(int from, int to) {
        return QRect(kFrame + from, kFrame, to - from, kHeight);
    }
    static void SaveScreenshot(QWidget& widget, const QString& name) {
        QDir dir(test::ScreenshotDir());
        QVERIFY(dir.mkpath(QStringLiteral(".")));
        QVERIFY(widget.grab().save(dir.filePath(name)));
    }

  private slots:
    void DefaultsAreTwoSegmentsBlueAndWindow() {
        SegmentBar bar;
        QCOMPARE(bar.SegmentCount(), 2);
        QCOMPARE(bar.Value(0), uint64_t{0});
        QCOMPARE(bar.Value(1), uint64_t{1});
        QCOMPARE(bar.GetText(), QString());
        bar.resize(kWidth + 2 * kFrame, kHeight + 2 * kFrame);
        QCOMPARE(bar.End(0), 0);
        QCOMPARE(bar.End(1), kWidth);
        QImage image = bar.grab().toImage();
        QCOMPARE(Pixel(image, 0, 10).rgb(), bar.palette().color(QPalette::Base).rgb());
        bar.SetValue(0, 1);
        image = bar.grab().toImage();
        QCOMPARE(Pixel(image, kWidth - 1, 10).rgb(), QColor(0, 0, 255).rgb());

        bar.SetSegmentCount(0);  // at least one segment
        QCOMPARE(bar.SegmentCount(), 1);
        QCOMPARE(bar.End(0), kWidth);
    }

    // A bar made with its shades: one segment each, painted in the fill.
    void WithShadesGivesOneSegmentPerShade() {
        QWidget parent;
        const SegmentShades green{QColor(0, 255, 0), QColor(0, 128, 0), QColor(0, 64, 0)};
        const SegmentShades red{QColor(255, 0, 0), QColor(128, 0, 0), QColor(64, 0, 0)};
        SegmentBar* bar = SegmentBar::WithShades(&parent, QStringLiteral("bar"),
                                                 {green, red, kProgressRestShades});
        QCOMPARE(bar->parentWidget(), &parent);
        QCOMPARE(bar->objectName(), QStringLiteral("bar"));
        QCOMPARE(bar->SegmentCount(), 3);
        bar->resize(kWidth + 2 * kFrame, kHeight + 2 * kFrame);
        bar->SetValue(2, 4);
        bar->SetValue(1, 2);
        bar->SetValue(0, 1);
        const QImage image = bar->grab().toImage();
        QCOMPARE(Pixel(image, 0, 10).rgb(), green.fill.rgb());
        QCOMPARE(Pixel(image, kWidth / 4, 10).rgb(), red.fill.rgb());
        QCOMPARE(Pixel(image, kWidth - 1, 10).rgb(), kProgressRestShades.fill.rgb());
    }

    void HalfTheTotalFillsHalfTheWidth() {
        SegmentBar bar;
        bar.resize(kWidth + 2 * kFrame, kHeight + 2 * kFrame);
        bar.SetValue(1, 100);
        bar.SetValue(0, 50);
        QCOMPARE(bar.End(0), kWidth / 2);
        QImage image = bar.grab().toImage();
        QCOMPARE(Pixel(image, kWidth / 2 - 1, 10).rgb(), QColor(0, 0, 255).rgb());
        QCOMPARE(Pixel(image, kWidth / 2, 10).rgb(), bar.palette().color(QPalette::Base).rgb());
        // The ends follow the width.
        bar.resize(2 * kWidth + 2 * kFrame, kHeight + 2 * kFrame);
        QCOMPARE(bar.End(0), kWidth);
        QCOMPARE(bar.End(1), 2 * kWidth);
    }

    void ValuesNeverDecreaseAlongTheBar() {
        SegmentBar bar;
        bar.resize(kWidth + 2 * kFrame, kHeight + 2 * kFrame);
        bar.SetSegmentCount(3);
        bar.SetValue(2, 100);
        bar.SetValue(0, 60);  // raises segment 1
        QCOMPARE(bar.Value(1), uint64_t{60});
        QCOMPARE(bar.End(0), 120);
        QCOMPARE(bar.End(1), 120);
        bar.SetValue(1, 30);  // lowers segment 0
        QCOMPARE(bar.Value(0), uint64_t{30});
        QCOMPARE(bar.Value(2), uint64_t{100});
        bar.SetValue(1, 200);  // raises the total
        QCOMPARE(bar.Value(2), uint64_t{200});
        QCOMPARE(bar.End(0), 30);
        bar.SetValue(2, 10);  // lowers both
        QCOMPARE(bar.Value(0), uint64_t{10});
        QCOMPARE(bar.Value(1), uint64_t{10});
        QCOMPARE(bar.End(1), kWidth);
        bar.SetValue(3, 5);  // no such segment
        bar.SetValue(-1, 5);
        QCOMPARE(bar.Value(0), uint64_t{10});
    }

    void ZeroTotalIsAnEmptyBar() {
        SegmentBar bar;
        bar.resize(kWidth + 2 * kFrame, kHeight + 2 * kFrame);
        bar.SetValue(0, 0);
        bar.SetValue(1, 0);
        QCOMPARE(bar.Value(1), uint64_t{1});
        QCOMPARE(bar.End(0), 0);
        QCOMPARE(bar.End(1), kWidth);
    }

    void HugeValuesDoNotOverflow() {
        SegmentBar bar;
        bar.resize(kWidth + 2 * kFrame, kHeight + 2 * kFrame);
        bar.SetValue(1, UINT64_MAX);
        bar.SetValue(0, UINT64_MAX / 4);
        QCOMPARE(bar.End(0), kWidth / 4 - 1);  // just under a quarter, rounded down
        QCOMPARE(bar.End(1), kWidth);
    }

    void RowsShadeFromTopThroughFillToBottom() {
        SegmentBar bar;
        bar.resize(kWidth + 2 * kFrame, kHeight + 2 * kFrame);
        bar.SetValue(0, 1);
        bar.SetColours(0, QColor(200, 100, 0), QColor(100, 50, 250), QColor(0, 200, 50));
        QImage image = bar.grab().toImage();
        const QColor expected[kHeight] = {
            {200, 100, 0},  {190, 95, 25},  {170, 85, 75},  {150, 75, 125}, {130, 65, 175},
            {100, 50, 250}, {100, 50, 250}, {100, 50, 250}, {100, 50, 250}, {100, 50, 250},
            {100, 50, 250}, {100, 50, 250}, {100, 50, 250}, {100, 50, 250}, {100, 50, 250},
            {70, 95, 190},  {50, 125, 150}, {30, 155, 110}, {10, 185, 70},  {0, 200, 50},
        };
        for (int y = 0; y < kHeight; ++y) {
            QCOMPARE(Pixel(image, 0, y).rgb(), expected[y].rgb());
            QCOMPARE(Pixel(image, kWidth - 1, y).rgb(), expected[y].rgb());
        }
    }

    void LowBarsStillPaintEveryRow() {
        SegmentBar bar;
        bar.resize(kWidth + 2 * kFrame, 6 + 2 * kFrame);
        bar.SetValue(0, 1);
        bar.SetColours(0, QColor(200, 0, 0), QColor(0, 200, 0), QColor(0, 0, 200));
        QImage image = bar.grab().toImage();
        QCOMPARE(Pixel(image, 5, 0).rgb(), QColor(200, 0, 0).rgb());
        QCOMPARE(Pixel(image, 5, 5).rgb(), QColor(0, 0, 200).rgb());
        QCOMPARE(Pixel(image, 5, 1).rgb(), QColor(0, 140, 60).rgb());  // (7f + 3b) / 10
    }

    void TextIsWhiteAndCentred() {
        SegmentBar bar;
        bar.resize(kWidth + 2 * kFrame, kHeight + 2 * kFrame);
        bar.SetValue(0, 1);
        bar.SetColours(0, QColor(0, 0, 128), QColor(0, 0, 128), QColor(0, 0, 128));
        auto textColumns = [&bar]() {
            QImage image = bar.grab().toImage();
            int first = -1, last = -1;
            for (int x = 0; x < kWidth; ++x) {
                for (int y = 0; y < kHeight; ++y) {
                    // Over a fill without red, red shows the white text,
                    // anti-aliased edges included.
                    if (Pixel(image, x, y).red() > 100) {
                        if (first < 0) first = x;
                        last = x;
                    }
                }
            }
            return std::make_pair(first, last);
        };
        QCOMPARE(textColumns().first, -1);
        bar.SetText(QStringLiteral("HHHHHH"));
        QCOMPARE(bar.GetText(), QStringLiteral("HHHHHH"));
        auto [first, last] = textColumns();
        QVERIFY(first > 0);
        // Some pixels are pure white.
        QImage image = bar.grab().toImage();
        bool white = false;
        for (int y = 0; y < kHeight && !white; ++y) {
            for (int x = first; x <= last && !white; ++x) {
                white = Pixel(image, x, y).rgb() == qRgb(255, 255, 255);
            }
        }
        QVERIFY(white);
        QVERIFY(last < kWidth - 1);
        QVERIFY2(std::abs((first + last) - (kWidth - 1)) <= 4,
                 qPrintable(QStringLiteral("%1 %2").arg(first).arg(last)));  // centred
    }

    void SameColoursValuesOrTextRepaintNothing() {
        RecordingBar bar;
        bar.SetValue(1, 100);
        bar.SetValue(0, 50);
        bar.SetColours(0, QColor(1, 2, 3), QColor(4, 5, 6), QColor(7, 8, 9));
        bar.SetText(QStringLiteral("50.0 %"));
        Show(bar);
        bar.SetColours(0, QColor(1, 2, 3), QColor(4, 5, 6), QColor(7, 8, 9));
        bar.SetValue(0, 50);
        bar.SetValue(1, 100);
        bar.SetText(QStringLiteral("50.0 %"));
        Flush();
        QCOMPARE(bar.paints, 0);
    }

    void ChangesRepaintOnlyWhatTheyTouch() {
        RecordingBar bar;
        bar.SetSegmentCount(3);
        bar.SetValue(2, 100);
        bar.SetValue(1, 75);
        bar.SetValue(0, 50);
        Show(bar);

        bar.SetValue(0, 60);  // the strip from 100 to 120
        Flush();
        QVERIFY(bar.paints > 0);
        QVERIFY(!bar.painted.isEmpty());
        QVERIFY(Columns(100, 120).contains(bar.painted.boundingRect()));
        bar.Forget();

        bar.SetColours(2, QColor(9, 9, 9), QColor(9, 9, 9), QColor(9, 9, 9));  // 150 to 200
        Flush();
        QVERIFY(Columns(150, 200).contains(bar.painted.boundingRect()));
        QVERIFY(bar.painted.boundingRect().width() > 0);
        bar.Forget();

        // Raising segment 0 past segment 1 moves both ends: 120 to 160, 150 to 160.
        bar.SetValue(0, 80);
        Flush();
        QVERIFY(Columns(120, 160).contains(bar.painted.boundingRect()));
        bar.Forget();

        bar.SetText(QStringLiteral("i"));
        Flush();
        QRect narrow = bar.painted.boundingRect();
        QVERIFY(!narrow.isEmpty());
        QVERIFY(narrow.width() < kWidth / 2);
        bar.Forget();
        bar.SetText(QStringLiteral("a much longer text"));  // the old and the new text
        Flush();
        QVERIFY(bar.painted.boundingRect().contains(narrow));
        QVERIFY(bar.painted.boundingRect().width() < kWidth);
        bar.Forget();
        bar.SetText(QString());
        Flush();
        QVERIFY(bar.paints > 0);
    }

    void TakesThePlaceOfAPlaceholder() {
        QWidget dialog;
        auto* layout = new QVBoxLayout(&dialog);
        auto* above = new QLabel(QStringLiteral("above"), &dialog);
        auto* placeholder = new QLabel(QStringLiteral("placeholder"), &dialog);
        placeholder->setObjectName(QStringLiteral("statusBar"));
        layout->addWidget(above);
        layout->addWidget(placeholder);
        QPointer<QLabel> watch(placeholder);

        QCOMPARE(SegmentBar::CreateInPlaceOf(&dialog, QStringLiteral("noSuchControl")), nullptr);
        QCOMPARE(SegmentBar::CreateInPlaceOf(nullptr, QStringLiteral("statusBar")), nullptr);
        SegmentBar* bar = SegmentBar::CreateInPlaceOf(&dialog, QStringLiteral("statusBar"));
        QVERIFY(bar);
        QVERIFY(watch.isNull());
        QCOMPARE(bar->parentWidget(), &dialog);
        QCOMPARE(bar->objectName(), QStringLiteral("statusBar"));
        QCOMPARE(layout->indexOf(bar), 1);
        QCOMPARE(dialog.findChild<SegmentBar*>(QStringLiteral("statusBar")), bar);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QVERIFY(bar->isVisible());
        QCOMPARE(bar->End(1), bar->contentsRect().width());
    }

    void Screenshots() {
        // The dialog's progress bar at a third, its block bar of a set that can
        // be repaired, and an empty block bar.
        SegmentBar progress;
        progress.resize(480, 24);
        progress.SetColours(0, QColor(0x86, 0x99, 0xFA), QColor(0x09, 0x1D, 0xB3),
                            QColor(0x08, 0x1C, 0x92));
        progress.SetColours(1, QColor(0xE5, 0xE5, 0xE5), QColor(0x61, 0x61, 0x61),
                            QColor(0x6C, 0x6C, 0x6C));
        progress.SetValue(1, 3);
        progress.SetValue(0, 1);
        progress.SetText(QString::fromStdString(ProgressText(1, 3)));
        SaveScreenshot(progress, QStringLiteral("segment_bar_progress.png"));

        RecoverySetStatus status;
        status.formatKind = FormatKind::Par2;
        status.state = RecoveryState::RepairPossible;
        status.totalDataBlocks = 1000;
        status.dataBlocksAvailable = 700;
        status.recoveryBlocksAvailable = 450;
        BlockBarValues values = StatusBarValues(status);
        SegmentBar blocks;
        blocks.resize(480, 24);
        blocks.SetSegmentCount(3);
        blocks.SetColours(0, QColor(0xAE, 0xF8, 0xB3), QColor(0x00, 0x47, 0x10),
                          QColor(0x00, 0x6A, 0x23));
        blocks.SetColours(1, QColor(0xFD, 0xE6, 0xC1), QColor(0x66, 0x4E, 0x0C),
                          QColor(0x7E, 0x71, 0x00));
        blocks.SetColours(2, QColor(0xFF, 0xD9, 0xD9), QColor(0x66, 0x14, 0x0C),
                          QColor(0x80, 0x21, 0x00));
        blocks.SetValue(2, values.total);
        blocks.SetValue(1, values.covered);
        blocks.SetValue(0, values.available);
        blocks.SetText(QString::fromStdString(StatusLineText(status, 0)));
        SaveScreenshot(blocks, QStringLiteral("segment_bar_blocks.png"));

        status.recoveryBlocksAvailable = 100;
        values = StatusBarValues(status);
        blocks.SetValue(2, values.total);
        blocks.SetValue(1, values.covered);
        blocks.SetValue(0, values.available);
        blocks.SetText(QString::fromStdString(StatusLineText(status, 0)));
        SaveScreenshot(blocks, QStringLiteral("segment_bar_blocks_short.png"));
    }
};

}  // namespace vantrove

VANTROVE_QTEST_MAIN(vantrove::SegmentBarTest)

#include "segment_bar_test.moc"
