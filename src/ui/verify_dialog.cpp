#include "ui/verify_dialog.h"

#include "app/settings.h"

namespace vantrove {

VerifyDialog::VerifyDialog(Settings& settings, const std::string& fileName,
                           bool optionsFromSettings, QWidget* parent)
    : QDialog(parent), settings_(settings) {
    setWindowTitle(QStringLiteral("Vantrove - Apri file di Recupero"));
}

VerifyDialog::~VerifyDialog() = default;

}  // namespace vantrove
