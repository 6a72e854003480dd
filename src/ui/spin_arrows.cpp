#include "ui/spin_arrows.h"

#include <QToolButton>
#include <QVBoxLayout>

namespace vantrove {

namespace {

QToolButton* MakeArrow(Qt::ArrowType type, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setArrowType(type);
    button->setAutoRepeat(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setFixedSize(kSpinArrowSize);
    return button;
}

}  // namespace

SpinArrows::SpinArrows(QWidget* parent) : QWidget(parent) {
    up_ = MakeArrow(Qt::UpArrow, this);
    down_ = MakeArrow(Qt::DownArrow, this);
    up_->setObjectName(QStringLiteral("up"));
    down_->setObjectName(QStringLiteral("down"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(up_);
    layout->addWidget(down_);
    connect(up_, &QToolButton::clicked, this, [this] { emit stepped(1); });
    connect(down_, &QToolButton::clicked, this, [this] { emit stepped(-1); });
}

}  // namespace vantrove
