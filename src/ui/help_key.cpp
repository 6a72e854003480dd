#include "ui/help_key.h"

#include <QKeySequence>
#include <QShortcut>
#include <QWidget>

#include "app/open_document.h"

namespace vantrove {
namespace {

std::function<void()>& HelpOpener() {
    static std::function<void()> open;
    return open;
}

}  // namespace

void SetHelpOpener(std::function<void()> open) {
    HelpOpener() = std::move(open);
}

void InstallHelpKey(QWidget* dialog) {
    auto* shortcut = new QShortcut(QKeySequence(Qt::Key_F1), dialog);
    shortcut->setContext(Qt::WindowShortcut);
    QObject::connect(shortcut, &QShortcut::activated, dialog, [] { RunHelp(); });
}

void RunHelp() {
    if (HelpOpener()) {
        HelpOpener()();
    } else {
        OpenHelp();
    }
}

}  // namespace vantrove
