#pragma once
// LinkText: a small text control that lays out a paragraph with embedded
// links and lets the user open them.
//
// Markup: words are separated by blanks, a line feed ends the line, and a
// run in braces is a link: "Visita il {sito del programma}." Inside a link a
// '|' ends the shown text; what follows it up to the closing brace is the
// link's target ("{sito|https://...}"), which SetLink may replace. Words wrap
// at the control's width.
//
// Links are underlined and drawn blue, purple once visited (until the control
// is destroyed) and red under the mouse; over a link the cursor is a hand and
// the tooltip shows the target when the link allows it. A click on a link
// with a target marks it visited and opens the target with the desktop's
// browser. User-interface thread only.

#include <QFont>
#include <QRect>
#include <QString>
#include <QTimer>
#include <QVector>
#include <QWidget>
#include <functional>

namespace vantrove {

class LinkText : public QWidget {
    Q_OBJECT

  public:
    explicit LinkText(const QString& text = {}, QWidget* parent = nullptr);

    // Parses `text` and lays it out again.
    void SetText(const QString& text);
    const QString& Text() const { return text_; }

    // Binds link `index` (in order of appearance) to `target`; an index
    // beyond the links is ignored.
    void SetLink(int index, const QString& target, bool showTooltip);

    // How a target is opened: QDesktopServices by default; tests record.
    void SetOpener(std::function<void(const QString&)> open) { open_ = std::move(open); }

    // Queries, for the About box and for tests.
    int LinkCount() const { return links_.size(); }
    int LinkAt(const QPoint& point) const;  // -1 when no link is there
    int HoverLink() const { return hover_; }
    bool IsVisited(int index) const;
    QString Target(int index) const;
    QVector<QRect> LinkRects(int index) const;
    int LineCount() const;

    // The colours of the control (RGB).
    static QColor LinkColour() { return QColor(0x00, 0x00, 0xFF); }
    static QColor VisitedColour() { return QColor(0x55, 0x1A, 0x8B); }
    static QColor HoverColour() { return QColor(0xFF, 0x00, 0x00); }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    struct Word {
        QString text;
        int link = -1;       // index of its link, -1 for plain text
        int lineBreaks = 0;  // line feeds before this word
        bool glued = false;  // follows the previous word without a blank ("{link},")
        QRect rect;          // after layout
    };
    struct Link {
        QString target;
        bool showTooltip = true;
        bool visited = false;
    };

    void Parse();
    // Places the words for `width`; returns the height used.
    int Layout(int width, QVector<Word>* words, int* lines) const;
    // Lays the words out again when the width changed since the last time.
    void EnsureLayout() const;
    void UpdateHover(const QPoint& point);
    QFont LinkFont() const;

    QString text_;
    mutable QVector<Word> words_;
    QVector<Link> links_;
    int hover_ = -1;
    mutable int lineCount_ = 0;
    mutable int laidOutWidth_ = -1;  // -1: not laid out
    QTimer poll_;
    std::function<void(const QString&)> open_;
};

}  // namespace vantrove
