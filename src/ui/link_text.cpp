#include "ui/link_text.h"

#include <QCursor>
#include <QDesktopServices>
#include <QEvent>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <QUrl>

namespace vantrove {
namespace {

constexpr int kPollMilliseconds = 100;

}  // namespace

LinkText::LinkText(const QString& text, QWidget* parent)
    : QWidget(parent),
      open_([](const QString& target) { QDesktopServices::openUrl(QUrl::fromUserInput(target)); }) {
    setMouseTracking(true);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    // The mouse can leave without an event reaching us (a window on top), so
    // its position is also looked at regularly.
    poll_.setInterval(kPollMilliseconds);
    connect(&poll_, &QTimer::timeout, this, [this] {
        if (isVisible()) UpdateHover(mapFromGlobal(QCursor::pos()));
    });
    poll_.start();
    SetText(text);
}

void LinkText::SetText(const QString& text) {
    text_ = text;
    Parse();
    laidOutWidth_ = -1;
    hover_ = -1;
    setToolTip(QString());
    unsetCursor();
    updateGeometry();
    update();
}

void LinkText::Parse() {
    words_.clear();
    links_.clear();
    int link = -1;          // the link being read, -1 outside braces
    bool inTarget = false;  // after '|' inside a link
    int lineBreaks = 0;
    bool separated = true;  // a blank or line feed since the last word
    Word word;
    auto finish = [&] {
        if (!word.text.isEmpty()) {
            word.link = link;
            word.lineBreaks = lineBreaks;
            word.glued = !separated && !words_.isEmpty();
            lineBreaks = 0;
            separated = false;
            words_.push_back(word);
        }
        word = Word();
    };
    for (QChar c : text_) {
        if (inTarget) {
            if (c == QLatin1Char('}')) {
                inTarget = false;
                link = -1;
            } else {
                links_[link].target += c;
            }
        } else if (c == QLatin1Char('{')) {
            finish();
            links_.push_back(Link());
            link = links_.size() - 1;
        } else if (c == QLatin1Char('}') && link >= 0) {
            finish();
            link = -1;
        } else if (c == QLatin1Char('|') && link >= 0) {
            finish();
            inTarget = true;
        } else if (c == QLatin1Char('\n')) {
            finish();
            ++lineBreaks;
            separated = true;
        } else if (c == QLatin1Char(' ') || c == QLatin1Char('\t')) {
            finish();
            separated = true;
        } else {
            word.text += c;
        }
    }
    finish();
    for (Link& l : links_) l.target = l.target.trimmed();
}

QFont LinkText::LinkFont() const {
    QFont underlined = font();
    underlined.setUnderline(true);
    return underlined;
}

int LinkText::Layout(int width, QVector<Word>* words, int* lines) const {
    QFontMetrics plain(font());
    QFontMetrics linked(LinkFont());
    const int space = plain.horizontalAdvance(QLatin1Char(' '));
    int x = 0, y = 0, lineHeight = 0, count = 0;
    bool lineEmpty = true;
    for (Word& word : *words) {
        const QFontMetrics& metrics = word.link >= 0 ? linked : plain;
        int w = metrics.horizontalAdvance(word.text);
        int h = metrics.height();
        if (word.glued && !lineEmpty && word.lineBreaks == 0) x -= space;
        // A line feed, or a word that does not fit, begins the next line; a
        // word wider than the control stands alone on its line.
        if (!lineEmpty && (word.lineBreaks > 0 || x + w > width)) {
            y += lineHeight;
            x = 0;
            lineHeight = 0;
            lineEmpty = true;
            // Further line feeds leave empty lines.
            if (word.lineBreaks > 1) y += (word.lineBreaks - 1) * plain.height();
        }
        if (lineEmpty) ++count;
        word.rect = QRect(x, y, w, h);
        x += w + space;
        lineHeight = std::max(lineHeight, h);
        lineEmpty = false;
    }
    if (lines != nullptr) *lines = count;
    return y + lineHeight;
}

int LinkText::heightForWidth(int width) const {
    QVector<Word> words = words_;
    return Layout(width, &words, nullptr);
}

QSize LinkText::sizeHint() const {
    const int width = std::max(this->width(), 300);
    return QSize(width, heightForWidth(width));
}

QSize LinkText::minimumSizeHint() const {
    return QSize(100, fontMetrics().height());
}

void LinkText::EnsureLayout() const {
    if (laidOutWidth_ == width()) return;
    Layout(width(), &words_, &lineCount_);
    laidOutWidth_ = width();
}

int LinkText::LineCount() const {
    EnsureLayout();
    return lineCount_;
}

void LinkText::resizeEvent(QResizeEvent* event) {
    EnsureLayout();
    QWidget::resizeEvent(event);
}

void LinkText::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) {
        laidOutWidth_ = -1;
        updateGeometry();
    }
    QWidget::changeEvent(event);
}

void LinkText::SetLink(int index, const QString& target, bool showTooltip) {
    if (index < 0 || index >= links_.size()) return;
    links_[index].target = target;
    links_[index].showTooltip = showTooltip;
    if (index == hover_) setToolTip(showTooltip ? target : QString());
}

int LinkText::LinkAt(const QPoint& point) const {
    EnsureLayout();
    for (const Word& word : words_) {
        if (word.link >= 0 && word.rect.contains(point)) return word.link;
    }
    return -1;
}

bool LinkText::IsVisited(int index) const {
    return index >= 0 && index < links_.size() && links_[index].visited;
}

QString LinkText::Target(int index) const {
    return index >= 0 && index < links_.size() ? links_[index].target : QString();
}

QVector<QRect> LinkText::LinkRects(int index) const {
    EnsureLayout();
    QVector<QRect> rects;
    for (const Word& word : words_) {
        if (word.link == index) rects.push_back(word.rect);
    }
    return rects;
}

void LinkText::UpdateHover(const QPoint& point) {
    int link = rect().contains(point) ? LinkAt(point) : -1;
    if (link == hover_) return;
    hover_ = link;
    if (link >= 0) {
        setCursor(Qt::PointingHandCursor);
        setToolTip(links_[link].showTooltip ? links_[link].target : QString());
    } else {
        unsetCursor();
        setToolTip(QString());
        QToolTip::hideText();
    }
    update();
}

void LinkText::mouseMoveEvent(QMouseEvent* event) {
    UpdateHover(event->position().toPoint());
    QWidget::mouseMoveEvent(event);
}

void LinkText::leaveEvent(QEvent* event) {
    UpdateHover(QPoint(-1, -1));
    QWidget::leaveEvent(event);
}

void LinkText::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    UpdateHover(event->position().toPoint());
    if (hover_ < 0 || links_[hover_].target.isEmpty()) return;
    links_[hover_].visited = true;
    update();
    open_(links_[hover_].target);
}

void LinkText::paintEvent(QPaintEvent*) {
    EnsureLayout();
    QPainter painter(this);
    const QColor plainColour = palette().color(QPalette::WindowText);
    const QFont plainFont = font();
    const QFont linkFont = LinkFont();
    for (int i = 0; i < words_.size(); ++i) {
        const Word& word = words_[i];
        QRect area = word.rect;
        QString shown = word.text;
        // The blank to the next word of the same link on the same line is
        // part of the link's underline.
        if (word.link >= 0 && i + 1 < words_.size() && words_[i + 1].link == word.link &&
            words_[i + 1].rect.top() == word.rect.top() &&
            words_[i + 1].rect.left() > word.rect.right() + 1) {
            area.setRight(words_[i + 1].rect.left() - 1);
            shown += QLatin1Char(' ');
        }
        if (word.link < 0) {
            painter.setFont(plainFont);
            painter.setPen(plainColour);
        } else {
            painter.setFont(linkFont);
            painter.setPen(word.link == hover_         ? HoverColour()
                           : links_[word.link].visited ? VisitedColour()
                                                       : LinkColour());
        }
        painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
    }
}

}  // namespace vantrove
