#include "ui/dialog_switch.h"

#include <QApplication>
#include <QPointer>
#include <QWidget>

#include "app/extension_set.h"
#include "app/localized_message_box.h"
#include "app/settings.h"
#include "create/creation_parameters.h"
#include "engine/recovery_set.h"
#include "ui/create_dialog.h"
#include "ui/verify_dialog.h"

namespace vantrove {

namespace {

constexpr const char* kNoWorkerMessage =
    "Impossibile aprire la finestra di verifica: il sistema non ha concesso il thread "
    "che legge i file.";

QPointer<QWidget>& MainWindowSlot() {
    static QPointer<QWidget> window;
    return window;
}

}  // namespace

bool AnyWindowVisible() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && widget->isWindow() &&
            widget->windowType() != Qt::ToolTip && widget->windowType() != Qt::Popup)
            return true;
    }
    return false;
}

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
    // A window that was hidden before it closed does not end the program by
    // itself: without a visible window left, the program ends here rather
    // than running on with nothing on screen.
    if (next == nullptr && !AnyWindowVisible()) QCoreApplication::quit();
}

QWidget* OpenVerifyDialog(Settings& settings, const std::string& fileName) {
    auto* dialog = new VerifyDialog(settings, fileName, false);
    if (!dialog->ok()) {
        // Without its worker the dialog could show nothing: it is not opened.
        delete dialog;
        LocalizedMessageBox(MainWindow(), kNoWorkerMessage, "Vantrove",
                            kMbOk | kMbIconExclamation);
        return nullptr;
    }
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
    return dialog;
}

QWidget* OpenCreateDialog(Settings& settings, const std::vector<std::string>& files) {
    auto* dialog = new CreateDialog(settings, files);
    dialog->show();
    return dialog;
}

QWidget* OpenCreateDialogForSet(Settings& settings, DetachedSet set) {
    if (!set.set) return nullptr;
    // The set's packets are read again from its volumes, so the new volumes
    // take exactly what is on disk.
    ExistingSetInfo info;
    std::string error;
    if (!ReadLoadedSetForExtension(*set.set, info, error)) return nullptr;
    auto parameters = std::make_unique<CreationParameters>(CreationSettingsFrom(settings),
                                                           CurrentMachineFigures());
    parameters->initFromExistingSet(info);
    auto* dialog = new CreateDialog(settings, std::move(parameters));
    dialog->show();
    return dialog;
}

}  // namespace vantrove
