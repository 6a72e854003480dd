#pragma once
// VerifyDialog: the window in which the user opens a recovery or checksum
// file, watches its set being verified and repairs it.

#include <QDialog>
#include <string>

namespace vantrove {

class Settings;

class VerifyDialog : public QDialog {
    Q_OBJECT

  public:
    VerifyDialog(Settings& settings, const std::string& fileName = {},
                 bool optionsFromSettings = false, QWidget* parent = nullptr);
    ~VerifyDialog() override;

  private:
    Settings& settings_;
};

}  // namespace vantrove
