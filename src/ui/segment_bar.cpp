#include "ui/segment_bar.h"

#include <QFontMetrics>
#include <QLayout>
#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>
#include <algorithm>

namespace vantrove {

namespace {

const QColor kPureBlue(0, 0, 255);

// a * wa + b * wb over 10, channel by channel, in whole numbers.
QColor Blend(const QColor& a, int wa, const QColor& b, int wb) {
    return QColor((a.red() * wa + b.red() * wb) / 10, (a.green() * wa + b.green() * wb) / 10,
                  (a.blue() * wa + b.blue() * wb) / 10);
}

// The colour of row `y` of a bar `height` rows high: five rows from the top
// colour into the fill, the fill, five rows from the fill into the bottom
// colour. On a bar too low for all eleven, the bottom rows win.
QColor RowColour(int y, int height, const QColor& top, const QColor& fill, const QColor& bottom) {
    // Row k of a blend (1 to 4) takes 2k - 1 tenths of the fill.
    const int fromBottom = height - 1 - y;
    if (fromBottom == 0) return bottom;
    if (fromBottom < 5) return Blend(fill, 2 * fromBottom - 1, bottom, 11 - 2 * fromBottom);
    if (y == 0) return top;
    if (y < 5) return Blend(top, 11 - 2 * y, fill, 2 * y - 1);
    return fill;
}

}  // namespace

const SegmentShades kProgressDoneShades{QColor(0x86, 0x99, 0xFA), QColor(0x09, 0x1D, 0xB3),
                                        QColor(0x08, 0x1C, 0x92)};
const SegmentShades kProgressRestShades{QColor(0xE5, 0xE5, 0xE5), QColor(0x61, 0x61, 0x61),
                                        QColor(0x6C, 0x6C, 0x6C)};

SegmentBar::SegmentBar(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::WinPanel | QFrame::Sunken);
    setCursor(Qt::ArrowCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    SetSegmentCount(2);
}

SegmentBar* SegmentBar::CreateInPlaceOf(QWidget* dialog, const QString& placeholderName) {
    QWidget* placeholder = dialog && !placeholderName.isEmpty()
                               ? dialog->findChild<QWidget*>(placeholderName)
                               : nullptr;
    if (!placeholder) return nullptr;
    QWidget* parent = placeholder->parentWidget();
    auto* bar = new SegmentBar(parent);
    bar->setObjectName(placeholderName);
    bar->setGeometry(placeholder->geometry());
    if (parent && parent->layout()) delete parent->layout()->replaceWidget(placeholder, bar);
    delete placeholder;
    bar->show();
    return bar;
}

SegmentBar* SegmentBar::WithShades(QWidget* parent, const QString& name,
                                   std::initializer_list<SegmentShades> shades) {
    auto* bar = new SegmentBar(parent);
    bar->setObjectName(name);
    bar->SetSegmentCount(static_cast<int>(shades.size()));
    int index = 0;
    for (const SegmentShades& segment : shades) bar->SetColours(index++, segment);
    return bar;
}

void SegmentBar::SetSegmentCount(int count) {
    count = std::max(count, 1);
    segments_.assign(count, Segment{0, 0, kPureBlue, kPureBlue, kPureBlue});
    QColor window = palette().color(QPalette::Base);
    Segment& last = segments_.back();
    last.value = 1;
    last.end = std::max(contentsRect().width(), 0);
    last.top = last.fill = last.bottom = window;
    update();
}

void SegmentBar::SetColours(int index, const QColor& top, const QColor& fill,
                            const QColor& bottom) {
    if (index < 0 || index >= SegmentCount()) return;
    Segment& segment = segments_[index];
    if (segment.top.rgb() == top.rgb() && segment.fill.rgb() == fill.rgb() &&
        segment.bottom.rgb() == bottom.rgb()) {
        return;
    }
    segment.top = top;
    segment.fill = fill;
    segment.bottom = bottom;
    RepaintColumns(index == 0 ? 0 : segments_[index - 1].end, segment.end);
}

void SegmentBar::SetValue(int index, uint64_t value) {
    if (index < 0 || index >= SegmentCount()) return;
    if (index == SegmentCount() - 1 && value == 0) value = 1;
    segments_[index].value = value;
    for (int i = index - 1; i >= 0; --i) {
        if (segments_[i].value <= segments_[i + 1].value) break;
        segments_[i].value = segments_[i + 1].value;
    }
    for (int i = index + 1; i < SegmentCount(); ++i) {
        if (segments_[i].value >= segments_[i - 1].value) break;
        segments_[i].value = segments_[i - 1].value;
    }
    UpdateEnds(true);
}

uint64_t SegmentBar::Value(int index) const {
    return index >= 0 && index < SegmentCount() ? segments_[index].value : 0;
}

int SegmentBar::End(int index) const {
    return index >= 0 && index < SegmentCount() ? EndOf(segments_[index].value) : 0;
}

int SegmentBar::EndOf(uint64_t value) const {
    uint64_t width = static_cast<uint64_t>(std::max(contentsRect().width(), 0));
    uint64_t total = std::max<uint64_t>(segments_.back().value, 1);
    // 128 bits: a width times a value of many terabytes does not fit in 64.
    return static_cast<int>(static_cast<unsigned __int128>(width) * value / total);
}

void SegmentBar::SetText(const QString& text) {
    if (text == text_) return;
    QRect changed = TextRect(text_) | TextRect(text);
    text_ = text;
    if (!changed.isEmpty()) update(changed);
}

QSize SegmentBar::sizeHint() const {
    return QSize(200, fontMetrics().height() + 4 + 2 * frameWidth());
}

QSize SegmentBar::minimumSizeHint() const {
    return QSize(2 * frameWidth(), sizeHint().height());
}

void SegmentBar::UpdateEnds(bool repaint) {
    for (Segment& segment : segments_) {
        int end = EndOf(segment.value);
        if (end == segment.end) continue;
        if (repaint) RepaintColumns(std::min(end, segment.end), std::max(end, segment.end));
        segment.end = end;
    }
}

void SegmentBar::RepaintColumns(int from, int to) {
    if (to <= from) return;
    QRect inner = contentsRect();
    update(QRect(inner.left() + from, inner.top(), to - from, inner.height()));
}

QRect SegmentBar::TextRect(const QString& text) const {
    if (text.isEmpty()) return {};
    QRect inner = contentsRect();
    QRect rect = fontMetrics().boundingRect(inner, Qt::AlignCenter | Qt::TextSingleLine, text);
    return rect.adjusted(-2, -2, 2, 2) & inner;
}

void SegmentBar::PaintSegment(QPainter& painter, const Segment& segment, int left, int end,
                              const QRect& area) const {
    QRect inner = contentsRect();
    int height = inner.height();
    QRect span = QRect(inner.left() + left, inner.top(), end - left, height) & area;
    if (span.isEmpty()) return;
    // Rows 5 to height - 6 are all fill: one rectangle; the shaded rows one by one.
    int firstFill = std::min(5, height);
    int endFill = std::max(height - 5, firstFill);
    for (int y = 0; y < height; ++y) {
        if (y == firstFill && endFill > firstFill) {
            painter.fillRect(QRect(span.left(), inner.top() + y, span.width(), endFill - y) & span,
                             segment.fill);
            y = endFill - 1;
            continue;
        }
        QRect row = QRect(span.left(), inner.top() + y, span.width(), 1) & span;
        if (!row.isEmpty()) {
            painter.fillRect(row, RowColour(y, height, segment.top, segment.fill, segment.bottom));
        }
    }
}

void SegmentBar::paintEvent(QPaintEvent* event) {
    QRect area = event->rect() & contentsRect();
    if (!area.isEmpty()) {
        // Drawn off screen first, then copied in one piece: no flicker.
        qreal ratio = devicePixelRatioF();
        QPixmap buffer(area.size() * ratio);
        buffer.setDevicePixelRatio(ratio);
        {
            QPainter painter(&buffer);
            painter.translate(-area.topLeft());
            // Ends from the current width: a hidden bar may have been resized
            // without its resize event yet.
            int left = 0;
            for (const Segment& segment : segments_) {
                int end = EndOf(segment.value);
                PaintSegment(painter, segment, left, end, area);
                left = std::max(left, end);
            }
            if (!text_.isEmpty()) {
                painter.setFont(font());
                painter.setPen(QColor(255, 255, 255));
                painter.drawText(contentsRect(), Qt::AlignCenter | Qt::TextSingleLine, text_);
            }
        }
        QPainter painter(this);
        painter.drawPixmap(area.topLeft(), buffer);
    }
    QPainter framePainter(this);
    drawFrame(&framePainter);
}

void SegmentBar::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    UpdateEnds(false);
}

}  // namespace vantrove
