#include "ui/priority_menu.h"

#include <QActionGroup>
#include <QMenu>
#include <QPoint>
#include <QString>

#include "app/localized_message_box.h"
#include "app/process_priority.h"
#include "core/string_ids.h"
#include "core/string_table.h"

namespace vantrove {

namespace {

QString Text(int id) {
    return QString::fromStdString(GetString(id));
}

bool& RefusalReported() {
    static bool reported = false;
    return reported;
}

}  // namespace

uint32_t CurrentPriorityClass() {
    int base = ProcessBaseNice();
    for (uint32_t priority : {kPriorityIdle, kPriorityNormal, kPriorityHigh}) {
        int nice = 0;
        if (NiceForPriorityClass(priority, nice) && nice == base) return priority;
    }
    return kPriorityAsStarted;
}

void ApplyPriorityFromMenu(uint32_t priority, QWidget* owner,
                           const std::function<bool(uint32_t)>& apply) {
    const bool applied = apply ? apply(priority) : ApplyPriorityClass(priority);
    if (applied || RefusalReported()) return;
    RefusalReported() = true;
    LocalizedMessageBox(owner,
                        "La priorità non può essere alzata di nuovo: sul sistema serve il "
                        "permesso di aumentare la priorità dei processi (nice). Resta quella "
                        "attuale.",
                        GetString(kStrPriorityMenu), kMbOk | kMbIconInformation);
}

bool PriorityRefusalReported() {
    return RefusalReported();
}

void ResetPriorityRefusalReport() {
    RefusalReported() = false;
}

QMenu* AddPriorityMenu(QMenu* menu, PriorityApplier apply) {
    if (!apply) {
        QWidget* owner = menu->parentWidget();
        apply = [owner](uint32_t priority) { ApplyPriorityFromMenu(priority, owner); };
    }
    menu->addSeparator();
    QMenu* submenu = menu->addMenu(Text(kStrPriorityMenu));
    auto* group = new QActionGroup(submenu);
    group->setExclusive(true);
    const struct {
        int textId;
        uint32_t priority;
    } entries[] = {
        {kStrPriorityLowest, kPriorityIdle},
        {kStrPriorityNormal, kPriorityNormal},
        {kStrPriorityHigh, kPriorityHigh},
    };
    for (const auto& entry : entries) {
        QAction* action = submenu->addAction(Text(entry.textId));
        action->setData(entry.priority);
        action->setCheckable(true);
        group->addAction(action);
        uint32_t priority = entry.priority;
        QObject::connect(action, &QAction::triggered, submenu,
                         [apply, priority]() { apply(priority); });
    }
    // The check mark follows the class the process has when the menu opens.
    QObject::connect(submenu, &QMenu::aboutToShow, submenu, [submenu]() {
        uint32_t current = CurrentPriorityClass();
        for (QAction* action : submenu->actions())
            action->setChecked(action->data().toUInt() == current);
    });
    return submenu;
}

void ShowDialogContextMenu(QWidget* dialog, const QPoint& globalPos) {
    QMenu menu(dialog);
    AddPriorityMenu(&menu);
    menu.exec(globalPos);
}

}  // namespace vantrove
