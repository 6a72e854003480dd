#include "ui/dialog_menu_button.h"

#include <QBoxLayout>
#include <QMenu>
#include <QToolButton>
#include <utility>

#include "ui/help_key.h"
#include "ui/priority_menu.h"

namespace vantrove {

QToolButton* MakeDialogMenuButton(QWidget* dialog, std::function<void()> preferences,
                                  std::function<void()> about) {
    auto* button = new QToolButton(dialog);
    button->setObjectName(QStringLiteral("dialogMenu"));
    button->setText(QStringLiteral("\u22ee"));
    button->setToolTip(QStringLiteral("Menu"));
    button->setAutoRaise(true);
    // The three dots are the whole sign; no extra arrow below them.
    button->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; }"));
    button->setPopupMode(QToolButton::InstantPopup);
    button->setFocusPolicy(Qt::TabFocus);
    auto* menu = new QMenu(button);
    AddPriorityMenu(menu);
    menu->addSeparator();
    if (preferences) {
        QAction* entry = menu->addAction(QStringLiteral("Preferenze"));
        entry->setObjectName(QStringLiteral("menuPreferences"));
        QObject::connect(entry, &QAction::triggered, dialog, [preferences] { preferences(); });
    }
    QAction* info = menu->addAction(QStringLiteral("Informazioni"));
    info->setObjectName(QStringLiteral("menuAbout"));
    QObject::connect(info, &QAction::triggered, dialog, [about] {
        if (about) about();
    });
    // F1 itself belongs to the dialog's Help key (a second shortcut for the
    // same key would make it ambiguous): the entry only names it.
    QAction* help = menu->addAction(QStringLiteral("Aiuto\tF1"));
    help->setObjectName(QStringLiteral("menuHelp"));
    QObject::connect(help, &QAction::triggered, dialog, [] { RunHelp(); });
    button->setMenu(menu);
    return button;
}

void AddTopRowWithMenu(QBoxLayout* layout, QWidget* dialog, QWidget* left,
                       std::function<void()> preferences, std::function<void()> about) {
    auto* row = new QHBoxLayout;
    row->addWidget(left, 1);
    row->addWidget(MakeDialogMenuButton(dialog, std::move(preferences), std::move(about)));
    layout->addLayout(row);
}

}  // namespace vantrove
