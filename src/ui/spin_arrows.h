#pragma once
// SpinArrows: the up and down arrows beside a number field.
//
// The create dialog keeps its numbers in plain line edits (grouped digits,
// 64-bit values, steps that follow the model's own rules), so the arrows
// only say which way the user stepped; the dialog decides what a step means
// and beeps when it changes nothing. Holding an arrow repeats the step.
// A widget of the user-interface thread.

#include <QSize>
#include <QWidget>

class QToolButton;

namespace vantrove {

// The size of one arrow: wide enough to hit, two of them as tall as a field.
constexpr QSize kSpinArrowSize(20, 13);

class SpinArrows : public QWidget {
    Q_OBJECT

  public:
    explicit SpinArrows(QWidget* parent = nullptr);

    QToolButton* upButton() const { return up_; }
    QToolButton* downButton() const { return down_; }

  signals:
    // +1 for the up arrow, -1 for the down arrow.
    void stepped(int direction);

  private:
    QToolButton* up_;
    QToolButton* down_;
};

}  // namespace vantrove
