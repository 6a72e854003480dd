#pragma once
// CreationProgressDialog: the window that watches one creation job.
//
// It owns the job's CreationParameters and its CreationWorker. Every 250 ms
// it copies the job's status record and shows the phase, the progress with
// its percentage, and while recovery data are computed the smoothed speed
// with the remaining and total time. At the end it names the result, beeps
// when sounds are on, and "Ferma" becomes "Esci". Stopping the job (after a
// question) hands the parameters, every choice intact, to a new create
// dialog; the stopped job deletes what it had written. After a success
// "Verifica" opens the new set in the verify/repair dialog.
//
// Top-level, modeless, deleted when closed; the user-interface thread only.
// Destroying the window always stops the worker first.

#include <QDialog>
#include <QTimer>
#include <memory>
#include <string>

#include "create/creation_job.h"
#include "create/creation_parameters.h"
#include "create/creation_status.h"
#include "ui/create_dialog.h"
#include "ui/texts/creation_progress_texts.h"

class QLabel;
class QPushButton;

namespace vantrove {

class CreationWorker;
class SegmentBar;
class Settings;

class CreationProgressDialog : public QDialog {
    Q_OBJECT

  public:
    CreationProgressDialog(Settings& settings, std::unique_ptr<CreationParameters> parameters,
                           const CreationJobOptions& options = {}, QWidget* parent = nullptr);
    ~CreationProgressDialog() override;

    // Starts the job's worker and the timer; false when no thread could be
    // started (the parameters can then be taken back).
    bool Start();
    // The parameters, once no job runs with them.
    std::unique_ptr<CreationParameters> TakeParameters();

    bool finished() const { return finished_; }
    // The chooser of "Apri".
    void SetFileChooser(FileChooser chooser) { fileChooser_ = std::move(chooser); }
    // "<destinationPath><baseName>.par2".
    const std::string& indexFileName() const { return indexFileName_; }

  public slots:
    void StopOrExit();   // "Ferma" / "Esci"
    void VerifySet();    // "Verifica"
    void NewCreation();  // "Nuovo"
    void OpenSet();      // "Apri"
    void ShowAbout();    // "Informazioni"
    // One look at the job's status (the timer calls it every 250 ms).
    void Tick();

  protected:
    void closeEvent(QCloseEvent* event) override;
    // Escape closes the window the way its close button does.
    void reject() override;
    // The "Priorità" menu.
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    // Tests read the dialog's state through it (tests/ui/dialog_probes.h).
    friend class CreationProgressDialogProbe;

    void Finish(const CreationStatus& status);
    // Asks whether to stop; on yes stops the job and returns to a create
    // dialog with the same parameters. False when the user said no.
    bool AskAndStop();
    // Makes `next` the window of the program and closes this one.
    void SwitchTo(QWidget* next);

    Settings& settings_;
    std::unique_ptr<CreationParameters> parameters_;
    CreationJobOptions options_;
    CreationStatusSlot status_;
    std::unique_ptr<CreationWorker> worker_;  // after what it borrows
    CreationStatus shown_;
    CreationProgressLine line_;
    std::string indexFileName_;
    bool finished_ = false;
    bool leaving_ = false;  // closing after a stop or a switch: no question
    QTimer timer_;
    FileChooser fileChooser_;

    QLabel* statusLine_ = nullptr;
    SegmentBar* progressBar_ = nullptr;
    QPushButton* stopButton_ = nullptr;
    QPushButton* verifyButton_ = nullptr;
    QPushButton* newButton_ = nullptr;
    QPushButton* openButton_ = nullptr;
    QPushButton* aboutButton_ = nullptr;
};

}  // namespace vantrove
