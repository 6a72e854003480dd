#pragma once
// PreferencesDialog: the modal window "Preferenze Vantrove " that edits the
// settings not chosen in the create dialog: the file associations and the
// file-manager menu, the preferred block size (exact bytes, yEnc lines or
// UUEncode lines), the verify/repair defaults, the deletions after a repair,
// the process priority and the sounds.
//
// The dialog works on its own copies of the three block-size numbers; edits
// are cleaned (digits only, rounded to what the row allows) when they lose
// the focus, and the arrows step them by 4 bytes, 1 yEnc line or 4 UUEncode
// lines. "Ok" stores everything into the settings record, saves the options,
// applies the shell settings (which also saves them) and, only when a
// priority radio was clicked, sets the process priority at once. "Annulla"
// and closing the window store nothing.
//
// Start-up shows it on the first run before any other window; the create and
// verify dialogs open it from their "Preferenze" buttons. User-interface
// thread only.

#include <QDialog>
#include <cstdint>
#include <functional>

class QAbstractButton;
class QCheckBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QToolButton;

namespace vantrove {

class Settings;

class PreferencesDialog : public QDialog {
    Q_OBJECT

  public:
    // The three block-size rows, in the order of the block size choice.
    enum Row { kExactRow = 0, kYEncRow = 1, kUUEncodeRow = 2 };

    explicit PreferencesDialog(Settings& settings, QWidget* parent = nullptr);

    // Seams, with working defaults: the warning beep, setting the process
    // priority class, and applying the shell settings.
    void SetBeeper(std::function<void()> beep) { beep_ = std::move(beep); }
    void SetPriorityApplier(std::function<void(uint32_t)> apply) {
        applyPriority_ = std::move(apply);
    }
    void SetShellApplier(std::function<void(Settings&)> apply) { applyShell_ = std::move(apply); }

    // The working copy of a row's number.
    uint32_t Value(Row row) const { return values_[row]; }
    QLineEdit* Edit(Row row) const { return edits_[row]; }
    QToolButton* UpArrow(Row row) const { return ups_[row]; }
    QToolButton* DownArrow(Row row) const { return downs_[row]; }
    QRadioButton* ChoiceRadio(Row row) const { return choices_[row]; }
    QLabel* BlockSizeDisplay() const { return blockSizeDisplay_; }
    QLabel* ArticleSizeDisplay() const { return articleSizeDisplay_; }
    bool PriorityChanged() const { return priorityChanged_; }

    // An arrow of a row: `delta` -1 for the upper arrow, +1 for the lower.
    void Step(Row row, int delta);

    void accept() override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void BuildLayout();
    void Initialise();
    void ApplyEnabling();
    void Refresh(Row row);
    void EditFinished(Row row);
    // EditFinished when the edit's text is not the shown value (typed over).
    void TakeTypedText(Row row);
    Row CheckedRow() const;
    QCheckBox* Check(int id, const char* text);

    Settings& settings_;
    uint32_t values_[3] = {384000, 3000, 6400};
    bool priorityChanged_ = false;

    QCheckBox* par2_ = nullptr;
    QCheckBox* par1_ = nullptr;
    QCheckBox* sfvMd5_ = nullptr;
    QCheckBox* explorerMenu_ = nullptr;
    QRadioButton* choices_[3] = {};
    QLineEdit* edits_[3] = {};
    QToolButton* ups_[3] = {};
    QToolButton* downs_[3] = {};
    QLabel* blockSizeDisplay_ = nullptr;
    QLabel* articleSizeDisplay_ = nullptr;
    QCheckBox* monitor_ = nullptr;
    QCheckBox* repair_ = nullptr;
    QCheckBox* join_ = nullptr;
    QCheckBox* deleteDamaged_ = nullptr;
    QCheckBox* deleteRecovery_ = nullptr;
    QCheckBox* recycleBin_ = nullptr;
    QRadioButton* idle_ = nullptr;
    QRadioButton* normal_ = nullptr;
    QRadioButton* high_ = nullptr;
    QCheckBox* silent_ = nullptr;

    std::function<void()> beep_;
    std::function<void(uint32_t)> applyPriority_;
    std::function<void(Settings&)> applyShell_;
};

// The edit rules of the rows, without a window. Clean: the digits of `text`
// (at most its first 100 characters) as a number, saturated at 2^32 - 1.
uint32_t DigitsValue(const QString& text);
// The value a row takes when `typed` replaces `old`.
uint32_t CorrectedValue(PreferencesDialog::Row row, uint32_t old, uint32_t typed);
// The value after one arrow step (`delta` -1 up, +1 down); equal to `old`
// when it is at the row's minimum (or maximum) already.
uint32_t SteppedValue(PreferencesDialog::Row row, uint32_t old, int delta);

// Shows the dialog modally; true when the user confirmed it.
bool ShowPreferencesDialog(Settings& settings, QWidget* parent = nullptr);

}  // namespace vantrove
