#include "ui/dialog_switch.h"

#include <QPointer>
#include <QWidget>

#include "app/settings.h"
#include "ui/verify_dialog.h"

namespace vantrove {

namespace {

QPointer<QWidget>& MainWindowSlot() {
    static QPointer<QWidget> window;
    return window;
}

}  // namespace

QWidget* MainWindow() {
    return MainWindowSlot().data();
}

void SetMainWindow(QWidget* window) {
    MainWindowSlot() = window;
}

void ReplaceMainWindow(QWidget* current, QWidget* next) {
    if (next != nullptr) {
        SetMainWindow(next);
        // Shown before the current window closes, so the application never
        // finds itself without a window and ends.
        if (!next->isVisible()) next->show();
    }
    if (current != nullptr && current != next) current->close();
}

QWidget* OpenVerifyDialog(Settings& settings, const std::string& fileName) {
    auto* dialog = new VerifyDialog(settings, fileName, false);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
    return dialog;
}

QWidget* OpenCreateDialog(Settings& settings, const std::vector<std::string>& files) {
    return nullptr;
}

QWidget* OpenCreateDialogForSet(Settings& settings, DetachedSet set) {
    return nullptr;
}

}  // namespace vantrove
