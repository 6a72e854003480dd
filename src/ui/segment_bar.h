#pragma once
// SegmentBar: a horizontal bar of consecutive coloured segments with a line
// of text over it.
//
// The verify/repair dialog shows its progress (done / rest, with the
// percentage) and the state of the set's blocks (available / covered by
// recovery blocks / missing, with the status line) in one each. Segment i
// runs from the end of segment i - 1 (the left edge for the first) to its own
// end; each end follows the segment's 64-bit value measured against the last
// segment's value, the total. Values never decrease from one segment to the
// next and the total is never 0: every change restores that. Each segment is
// shaded from a top colour through its fill colour to a bottom colour over
// its first and last five rows. Changes repaint only what they touch, and
// painting goes through an off-screen image, so a bar refreshed ten times a
// second does not flicker. A widget of the user-interface thread.

#include <QColor>
#include <QFrame>
#include <QString>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace vantrove {

// The three shades a segment is painted in: its top edge, its fill and its
// bottom edge.
struct SegmentShades {
    QColor top;
    QColor fill;
    QColor bottom;
};

// A progress bar's done part, in blue, and its rest, in grey.
extern const SegmentShades kProgressDoneShades;
extern const SegmentShades kProgressRestShades;

class SegmentBar : public QFrame {
    Q_OBJECT

  public:
    // Two segments: the first with value 0, all pure blue; the last with
    // value 1, all in the window background colour.
    explicit SegmentBar(QWidget* parent = nullptr);

    // Puts a new bar in the place of the child of `dialog` named
    // `placeholderName`: same parent, geometry, object name and place in a
    // layout; the placeholder is deleted. nullptr when there is no such child.
    static SegmentBar* CreateInPlaceOf(QWidget* dialog, const QString& placeholderName);

    // A new bar named `name` with one segment for each of `shades`, painted
    // in them (values as SetSegmentCount leaves them).
    static SegmentBar* WithShades(QWidget* parent, const QString& name,
                                  std::initializer_list<SegmentShades> shades);

    // Replaces the segments by `count` new ones (at least 1): all but the
    // last with value 0 and pure blue; the last with value 1, reaching the
    // right edge, in the window background colour.
    void SetSegmentCount(int count);
    int SegmentCount() const { return static_cast<int>(segments_.size()); }

    // Colours of segment `index`; repaints its span only if they changed.
    void SetColours(int index, const QColor& top, const QColor& fill, const QColor& bottom);
    void SetColours(int index, const SegmentShades& shades) {
        SetColours(index, shades.top, shades.fill, shades.bottom);
    }

    // Value of segment `index` (0 for the last is taken as 1). Earlier
    // segments above it are lowered to it, later ones below it raised to it;
    // then every end follows its value, and only the strips between old and
    // new ends are repainted. An index out of range is ignored.
    void SetValue(int index, uint64_t value);
    uint64_t Value(int index) const;

    // Right end of segment `index`, in pixels from the left of the area
    // inside the frame.
    int End(int index) const;

    // The text, drawn in white and centred over the whole bar. Setting a
    // different text repaints the old and the new text's rectangles.
    void SetText(const QString& text);
    QString GetText() const { return text_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    struct Segment {
        uint64_t value = 0;
        int end = 0;  // as last painted: the strips that a change repaints
        QColor top;
        QColor fill;
        QColor bottom;
    };

    // Ends from values for the current width; with `repaint`, the strips
    // between old and new ends are scheduled for painting.
    void UpdateEnds(bool repaint);
    // Schedules the columns [from, to) of the inner area for painting.
    void RepaintColumns(int from, int to);
    // Where `text` is drawn, a little enlarged for its anti-aliased edges.
    QRect TextRect(const QString& text) const;
    // The right end of a segment of `value` at the current width.
    int EndOf(uint64_t value) const;
    // The columns [left, end) of `segment`, within `area`.
    void PaintSegment(QPainter& painter, const Segment& segment, int left, int end,
                      const QRect& area) const;

    std::vector<Segment> segments_;
    QString text_;
};

}  // namespace vantrove
