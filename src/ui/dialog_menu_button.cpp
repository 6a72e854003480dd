#include "ui/dialog_menu_button.h"

#include <QMenu>
#include <QToolButton>

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
    QAction* help = menu->addAction(QStringLiteral("Aiuto"));
    help->setObjectName(QStringLiteral("menuHelp"));
    help->setShortcut(QKeySequence(Qt::Key_F1));
    // F1 itself belongs to the dialog's Help key; the entry only shows it.
    help->setShortcutContext(Qt::WidgetShortcut);
    QObject::connect(help, &QAction::triggered, dialog, [] { RunHelp(); });
    button->setMenu(menu);
    return button;
}

}  // namespace vantrove
