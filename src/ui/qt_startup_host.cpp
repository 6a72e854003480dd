#include "ui/qt_startup_host.h"

#include "ui/dialog_switch.h"
#include "ui/preferences_dialog.h"
#include "ui/verify_dialog.h"

namespace vantrove {

std::vector<std::string> ProgramArguments(int argc, const char* const* argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) {
        if (argv[i] != nullptr) arguments.emplace_back(argv[i]);
    }
    return arguments;
}

void QtStartupHost::ShowPreferences(Settings& settings) {
    if (kPreferencesAvailable) ShowPreferencesDialog(settings, nullptr);
}

bool QtStartupHost::OpenMainDialog(const MainDialogChoice& choice) {
    QWidget* window = nullptr;
    if (choice.kind == MainDialogKind::Create && kCreateDialogAvailable) {
        window = OpenCreateDialog(*settings_, choice.createFileNames);
    } else {
        const std::string& file =
            choice.kind == MainDialogKind::Verify ? choice.verifyFileName : std::string();
        auto* dialog = new VerifyDialog(*settings_, file, choice.kind == MainDialogKind::Verify);
        if (!dialog->ok()) {
            delete dialog;
            return false;
        }
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->show();
        window = dialog;
    }
    if (window == nullptr) return false;
    SetMainWindow(window);
    mainDialog_ = window;
    return true;
}

}  // namespace vantrove
