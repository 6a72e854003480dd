#pragma once
// CreateDialog: the window in which the user picks the files to protect and
// tunes the recovery data before a creation starts.
//
// A thin view over one CreationParameters: every edit calls one operation of
// the model and then refreshes the fields that depend on it, with the
// model's bounds and steps (a step that changes nothing beeps when sounds
// are on). The dialog opens empty, with files (command line, drops), with
// the parameters of a stopped creation (every choice as it was), or for
// further recovery volumes of a loaded set (file list, block size and names
// then fixed). "Crea" checks the destination folder, stores the choices that
// are settings, hands the parameters to a CreationProgressDialog and closes.
//
// Top-level, modeless, deleted when closed; the user-interface thread only.

#include <QDialog>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/creation_settings.h"
#include "create/creation_job.h"
#include "create/creation_parameters.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QTreeWidget;

namespace vantrove {

class Settings;
class SpinArrows;

// The machine as start-up measured it (defaults when there is no
// application object).
MachineFigures CurrentMachineFigures();

// A file chooser's name filter from a filter text of the string table
// ("Text (*.A, *.B)|*.A;*.B|"): the text with the patterns in both cases,
// since names on this system differ by case; "*.*" becomes "*", so that
// names without a dot are offered too.
QString ChooserNameFilter(int stringId);

// Chooses existing files: several with `multiple`, otherwise one. Tests
// replace the dialogs' choosers.
using FileChooser =
    std::function<QStringList(QWidget* parent, const QString& title, const QString& folder,
                              const QString& filter, bool multiple)>;
using FolderChooser =
    std::function<QString(QWidget* parent, const QString& title, const QString& folder)>;
FileChooser DefaultFileChooser();

class CreateDialog : public QDialog {
    Q_OBJECT

  public:
    // A new creation, with `files` added (in any order; sorted as the list
    // keeps them).
    explicit CreateDialog(Settings& settings, const std::vector<std::string>& files = {},
                          QWidget* parent = nullptr);
    // The parameters of a stopped creation or of the extension of a loaded
    // set, with every choice as it stands.
    CreateDialog(Settings& settings, std::unique_ptr<CreationParameters> parameters,
                 QWidget* parent = nullptr);
    ~CreateDialog() override;

    const CreationParameters& parameters() const { return *parameters_; }

    // Adds files as "Aggiungi File" and drops do: a path already listed is
    // left out, a folder is skipped, a relative path is taken from the
    // current folder ("." components and doubled slashes dropped); then the
    // defaults follow the new list.
    void AddFiles(const std::vector<std::string>& paths);

    // The choosers of files, of a folder and of a set to open.
    void SetFileChooser(FileChooser chooser) { fileChooser_ = std::move(chooser); }
    void SetFolderChooser(FolderChooser chooser) { folderChooser_ = std::move(chooser); }

    // Options for the creation job that "Crea" starts (its worker count,
    // cache, and the hooks tests use); they travel with the parameters to
    // the progress dialog and back.
    void SetJobOptions(const CreationJobOptions& options) { jobOptions_ = options; }
    const CreationJobOptions& jobOptions() const { return jobOptions_; }

  public slots:
    void ChooseFiles();      // "Aggiungi File"
    void RemoveSelected();   // "Rimuovi File"
    void ClearList();        // "Cancella Lista"
    void BrowseFolder();     // "Sfoglia"
    void OpenSet();          // "Apri"
    void Create();           // "Crea"
    void ShowPreferences();  // "Preferenze"
    void ShowAbout();        // "Informazioni"

  protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    // Escape closes the window as "Esci" does.
    void reject() override;
    // The "Priorità" menu.
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    // Tests read the dialog's state through it (tests/ui/dialog_probes.h).
    friend class CreateDialogProbe;

    void BuildControls();
    void ConnectControls();
    void RestoreLayout();
    void SaveLayout();
    // Refills the file list from the model, sorted by path.
    void FillFileList();
    // Every text, position and enabling rule from the model.
    void Refresh();
    void RefreshEnabling();
    void SetFieldText(QLineEdit* field, const QString& text);
    void Beep();
    // The destination check; false keeps the dialog open.
    bool CheckDestination(const std::string& folder);

    // A number typed into `field`: while there are files to apply it to,
    // `apply` gives it to the parameters; then the texts follow.
    template <class Apply>
    void ApplyTyped(const QLineEdit* field, Apply apply);
    // A spin arrow's step of the model's `value` to `target`: `set` takes
    // the target when it differs; a beep says the value stayed; then the
    // texts follow.
    template <class T, class Set>
    void StepValue(const T& value, uint64_t target, Set set);

    void OnSourceSliderAction(int action);
    void OnRedundancySliderAction(int action);
    void OnSourceBlocksTyped();
    void OnSourceBlocksStep(int direction);
    void OnBlockSizeTyped();
    void OnBlockSizeStep(int direction);
    void OnUsenetToggled(bool on);
    void OnRecoveryBlocksTyped();
    void OnRecoveryBlocksStep(int direction);
    void OnFirstBlockTyped();
    void OnFirstBlockStep(int direction);
    void OnSchemeChosen(int index);
    void OnFileCountTyped();
    void OnFileCountStep(int direction);
    void OnSplitToggled(bool on);
    void OnSplitLimitTyped();
    void OnSplitLimitStep(int direction);
    void OnBaseNameEdited(const QString& text);
    void OnPathEdited(const QString& text);

    Settings& settings_;
    std::unique_ptr<CreationParameters> parameters_;
    CreationJobOptions jobOptions_;
    std::string typedBaseName_;  // empty: the default name is used
    std::string typedPath_;      // empty: the default folder is used
    bool settingTexts_ = false;  // the dialog itself is writing the fields
    int beeps_ = 0;
    FileChooser fileChooser_;
    FolderChooser folderChooser_;

    QTreeWidget* fileList_ = nullptr;
    QPushButton* addButton_ = nullptr;
    QPushButton* removeButton_ = nullptr;
    QCheckBox* splitCheck_ = nullptr;
    QLineEdit* splitLimitEdit_ = nullptr;
    SpinArrows* splitLimitSpin_ = nullptr;
    QPushButton* clearButton_ = nullptr;
    QLabel* fileCountValue_ = nullptr;
    QLabel* totalSizeValue_ = nullptr;
    QSlider* sourceSlider_ = nullptr;
    QLineEdit* sourceBlocksEdit_ = nullptr;
    SpinArrows* sourceBlocksSpin_ = nullptr;
    QCheckBox* usenetCheck_ = nullptr;
    QLineEdit* blockSizeEdit_ = nullptr;
    SpinArrows* blockSizeSpin_ = nullptr;
    QLineEdit* baseNameEdit_ = nullptr;
    QLineEdit* pathEdit_ = nullptr;
    QPushButton* browseButton_ = nullptr;
    QSlider* redundancySlider_ = nullptr;
    QLabel* redundancyValue_ = nullptr;
    QLineEdit* firstBlockEdit_ = nullptr;
    SpinArrows* firstBlockSpin_ = nullptr;
    QLineEdit* recoveryBlocksEdit_ = nullptr;
    SpinArrows* recoveryBlocksSpin_ = nullptr;
    QComboBox* schemeCombo_ = nullptr;
    QLineEdit* fileCountEdit_ = nullptr;
    SpinArrows* fileCountSpin_ = nullptr;
    QLabel* recoveryDataSizeValue_ = nullptr;
    QLabel* rebuildableValue_ = nullptr;
    QLabel* efficiencyValue_ = nullptr;
    QLabel* timeCaption_ = nullptr;
    QLabel* timeValue_ = nullptr;
    QPushButton* createButton_ = nullptr;
    QPushButton* openButton_ = nullptr;
    QPushButton* exitButton_ = nullptr;
    QPushButton* preferencesButton_ = nullptr;
    QPushButton* aboutButton_ = nullptr;
};

}  // namespace vantrove
