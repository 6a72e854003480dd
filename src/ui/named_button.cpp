#include "ui/named_button.h"

#include <QPushButton>
#include <QString>

namespace vantrove {

QPushButton* NamedButton(const QString& text, QWidget* parent, const char* name) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(false);
    return button;
}

}  // namespace vantrove
