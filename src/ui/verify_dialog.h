#pragma once
// VerifyDialog: the window in which the user opens a recovery or checksum
// file, watches its set being verified and repairs it.
//
// The dialog owns one VerificationWorker for its whole life and never touches
// the set the worker holds: it sends requests (Open, CloseSet, Repair,
// SetRescan, Reverify, stop) and shows what comes back. The worker's line
// changes (volume and source-file rows) reach the dialog as queued calls on
// its own thread; its status records are left in the WorkerClient's
// latest-status slot, which a 100 ms timer samples to redraw every text,
// button, bar and counter. A second timer (500 ms) keeps the marker on the
// file being worked on moving.
//
// Closing (the window's close button, Esci, Esc) marks the client as closing
// so that no more lines are posted, stops and quits the worker (which saves
// the set's state) and writes the layout settings. Made on the heap with
// Qt::WA_DeleteOnClose when it is a main window (dialog_switch.h).
//
// A widget of the user-interface thread. The child widgets carry object
// names ("open", "add", "monitor", "autoRepair", "repair", "stop", "new",
// "about", "preferences", "exit", "fileList", "creatorLine", "progressBar",
// "statusBar", "timeLine", "errorLine" and "counter0".."counter7") by which
// tests find them.

#include <QDialog>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/line_packet.h"
#include "app/verification_worker.h"
#include "app/worker_client.h"
#include "engine/recovery_set_status.h"
#include "ui/texts/repair_time_line.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace vantrove {

class Settings;
class SegmentBar;

class VerifyDialog : public QDialog {
    Q_OBJECT

  public:
    // Starts the worker. With a `fileName` the set is opened at once; with
    // `optionsFromSettings` the monitoring and automatic-repair boxes start
    // as the settings MonitorAutomatically and RepairAutomatically say
    // (otherwise unchecked). `settings` must outlive the dialog.
    VerifyDialog(Settings& settings, const std::string& fileName = {},
                 bool optionsFromSettings = false, QWidget* parent = nullptr);
    ~VerifyDialog() override;

    // False when the worker could not be started: the dialog is then not
    // to be shown.
    bool ok() const { return workerStarted_; }

    // How Apri and Aggiungi ask for files: the chosen paths (empty when the
    // user cancelled). `addMode` is Aggiungi. The default shows the "Seleziona
    // File" dialog; tests put their own answer in its place.
    using FileChooser = std::function<std::vector<std::string>(QWidget* parent, bool addMode)>;
    void SetFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }

    // For tests: how every dialog made from now on starts its worker (null:
    // the worker's own Start), so that a thread that cannot be made can be
    // played.
    using WorkerStarter = std::function<bool(VerificationWorker&)>;
    static void SetWorkerStarterForTests(WorkerStarter starter);

    // Opens the paths as if they had been dropped on the dialog.
    void OpenDroppedPaths(const std::vector<std::string>& paths);

    // ---- For tests: what the dialog sees of its worker.
    WorkerClient& workerClient() { return client_; }
    // Called on the worker thread with every status the set hands over, after
    // the dialog can sample it; a test may hold the worker there.
    using StatusHook = std::function<void(const RecoverySetStatus&)>;
    void SetStatusHook(StatusHook hook) { client_.SetHook(std::move(hook)); }
    const RecoverySetStatus& shownStatus() const { return previous_; }
    // True once the controls show the last status the worker handed over.
    bool showsLatestStatus() const { return seen_ == client_.StatusCount(); }
    bool stopRequested() const;
    int soundsPlayed() const { return soundsPlayed_; }
    int repairsRequested() const { return repairsRequested_; }
    // The number of source-file rows of each kind now in the list.
    int RowsOfKind(SourceRowKind kind) const;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  public slots:
    // Esc acts as Esci: it closes the dialog while Esci is enabled (idle)
    // and does nothing while a job runs.
    void reject() override;

  private:
    // The worker client with the test hook.
    class DialogClient : public WorkerClient {
      public:
        using WorkerClient::WorkerClient;
        void StatusChanged(const RecoverySetStatus& status) override;
        void SetHook(StatusHook hook);

      private:
        std::mutex hookMutex_;
        StatusHook hook_;
    };

    class PacketSink : public LinePacketSink {
      public:
        explicit PacketSink(VerifyDialog* dialog) : dialog_(dialog) {}
        void PostLinePacket(std::unique_ptr<LinePacket> packet) override;

      private:
        VerifyDialog* dialog_;
    };

    // Kinds of rows and of the 16 x 16 icons.
    enum class RowType { RecoveryGroup, DataGroup, Volume, SourceFile, Place };

    void BuildControls();
    void RestoreLayout();
    int DefaultHeight() const;
    void SaveLayout();

    // ---- Lines from the worker.
    void HandlePacket(const LinePacket& packet);
    void ShowVolume(const LinePacket& packet);
    void RemoveVolume(const std::string& path);
    void ShowSourceFile(const LinePacket& packet);
    void ClearList();
    void UpdateGroupRows();
    void RewordRows();

    // ---- Timers.
    void Refresh();
    void AnimateList();
    void UpdateButtons(const RecoverySetStatus& status);
    void UpdateTexts(const RecoverySetStatus& status);
    void MarkCurrentFile(const RecoverySetStatus& status);

    // ---- Commands.
    void OnOpen();
    void OnAdd();
    void ChooseFiles(bool addMode);
    void OnRepair();
    void OnStop();
    void OnExtra();
    void OnMonitor(bool checked);
    void OnReverify();
    void OnNew();
    void OnExit();
    void OnAbout();
    void OnPreferences();
    void DisableMainButtons();
    void PostOpen(const std::string& path);
    void ShowRowMenu(const QPoint& pos);
    std::string RowPath(const QTreeWidgetItem* row) const;

    // The shutdown of the worker, once: closing flag, stop, quit, layout.
    void Shutdown();

    Settings& settings_;
    PacketSink sink_{this};
    DialogClient client_{&sink_};
    std::unique_ptr<VerificationWorker> worker_;
    bool workerStarted_ = false;
    bool shutDown_ = false;

    QTimer refreshTimer_;
    QTimer listTimer_;
    FileChooser chooser_;

    // Sampled status: the latest copy and the one of the previous tick.
    RecoverySetStatus latest_;
    RecoverySetStatus previous_;
    uint64_t seen_ = 0;
    bool beepPending_ = false;
    bool soundPending_ = false;
    int soundsPlayed_ = 0;
    int repairsRequested_ = 0;
    int64_t lastAutoRepairMs_ = -1;
    RepairTimeLine timeLine_;
    // Why the last file given could not be opened; shown in the error line
    // while no job runs, until the next file or repair.
    std::string openError_;
    int animationPhase_ = 0;

    // The list: the format its texts are worded for, the folder of the set
    // (from its volumes) and the rows by path or name.
    FormatKind listFormat_ = FormatKind::None;
    std::string setFolder_;
    std::map<std::string, QTreeWidgetItem*> volumeRows_;
    std::map<std::string, QTreeWidgetItem*> sourceRows_;
    QTreeWidgetItem* currentRow_ = nullptr;

    // Controls.
    QLabel* creatorLine_ = nullptr;
    QTreeWidget* fileList_ = nullptr;
    QTreeWidgetItem* recoveryGroup_ = nullptr;
    QTreeWidgetItem* dataGroup_ = nullptr;
    QPushButton* openButton_ = nullptr;
    QPushButton* addButton_ = nullptr;
    QCheckBox* monitorBox_ = nullptr;
    QCheckBox* autoRepairBox_ = nullptr;
    QPushButton* repairButton_ = nullptr;
    QPushButton* stopButton_ = nullptr;
    QPushButton* newButton_ = nullptr;
    QPushButton* aboutButton_ = nullptr;
    QPushButton* preferencesButton_ = nullptr;
    QPushButton* exitButton_ = nullptr;
    QLabel* counters_[8] = {};
    SegmentBar* progressBar_ = nullptr;
    SegmentBar* statusBar_ = nullptr;
    QLabel* timeLineLabel_ = nullptr;
    QLabel* errorLine_ = nullptr;
    QLabel* leftoverNote_ = nullptr;
};

}  // namespace vantrove
