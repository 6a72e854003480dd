#include "ui/creation_progress_dialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/creation_worker.h"
#include "app/digit_grouping.h"
#include "app/localized_message_box.h"
#include "app/settings.h"
#include "core/path.h"
#include "core/string_ids.h"
#include "core/string_table.h"
#include "ui/about_box.h"
#include "ui/create_dialog.h"
#include "ui/dialog_menu_button.h"
#include "ui/dialog_switch.h"
#include "ui/help_key.h"
#include "ui/last_folder.h"
#include "ui/named_button.h"
#include "ui/priority_menu.h"
#include "ui/segment_bar.h"

namespace vantrove {

namespace {

constexpr int kTimerMilliseconds = 250;

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

QLabel* Value(const QString& text, QWidget* parent, const char* name) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

}  // namespace

CreationProgressDialog::CreationProgressDialog(Settings& settings,
                                               std::unique_ptr<CreationParameters> parameters,
                                               const CreationJobOptions& options, QWidget* parent)
    : QDialog(parent),
      settings_(settings),
      parameters_(std::move(parameters)),
      options_(options),
      line_(CreationTickCount()),
      fileChooser_(DefaultFileChooser()) {
    setAttribute(Qt::WA_DeleteOnClose);
    InstallHelpKey(this);
    const CreationParameters& p = *parameters_;
    line_.SetJobBytes(p.totalDataSize);
    indexFileName_ = p.destinationPath + p.baseName + "." + GetString(kStrPar2Extension);
    setWindowTitle(Q(CreationTitle(kPhaseNone, p.baseName)));

    auto* top = new QVBoxLayout(this);
    auto* figures = new QGridLayout;
    int row = 0;
    const auto addFigure = [&](const char* label, uint64_t value, const char* name) {
        figures->addWidget(new QLabel(QString::fromUtf8(label), this), row, 0);
        figures->addWidget(Value(Q(FormatGrouped(value)), this, name), row++, 1);
    };
    addFigure("Numero dei file sorgente:", p.files().size(), "fileCountValue");
    addFigure("Dimensione totale dei file sorgente:", p.totalDataSize, "totalSizeValue");
    addFigure("Numero blocchi dei file sorgente:", p.sourceBlockCount, "sourceBlocksValue");
    addFigure("Dimensione dei blocchi dei file sorgente:", p.blockSize, "blockSizeValue");
    figures->setColumnStretch(0, 1);
    top->addLayout(figures);

    progressBar_ = SegmentBar::WithShades(this, QStringLiteral("progressBar"),
                                          {kProgressDoneShades, kProgressRestShades});
    progressBar_->setMinimumHeight(22);
    top->addWidget(progressBar_);

    statusLine_ = new QLabel(this);
    statusLine_->setObjectName(QStringLiteral("statusLine"));
    statusLine_->setMinimumWidth(420);
    top->addWidget(statusLine_);

    auto* buttons = new QHBoxLayout;
    stopButton_ = NamedButton(Q(GetString(kStrStopButton)), this, "stopButton");
    verifyButton_ = NamedButton(QStringLiteral("Verifica"), this, "verifyButton");
    newButton_ = NamedButton(QStringLiteral("Nuovo"), this, "newButton");
    openButton_ = NamedButton(QStringLiteral("Apri"), this, "openButton");
    aboutButton_ = NamedButton(QStringLiteral("Informazioni"), this, "aboutButton");
    for (QPushButton* b : {stopButton_, verifyButton_, newButton_, openButton_, aboutButton_})
        buttons->addWidget(b);
    // The menu button in the bottom corner: this dialog has no Preferenze.
    buttons->addWidget(MakeDialogMenuButton(this, nullptr, [this] { ShowAbout(); }));
    top->addLayout(buttons);
    verifyButton_->setEnabled(false);
    newButton_->setEnabled(false);
    openButton_->setEnabled(false);
    aboutButton_->setEnabled(kAboutBoxAvailable);

    connect(stopButton_, &QPushButton::clicked, this, &CreationProgressDialog::StopOrExit);
    connect(verifyButton_, &QPushButton::clicked, this, &CreationProgressDialog::VerifySet);
    connect(newButton_, &QPushButton::clicked, this, &CreationProgressDialog::NewCreation);
    connect(openButton_, &QPushButton::clicked, this, &CreationProgressDialog::OpenSet);
    connect(aboutButton_, &QPushButton::clicked, this, &CreationProgressDialog::ShowAbout);
    connect(&timer_, &QTimer::timeout, this, &CreationProgressDialog::Tick);
    timer_.setInterval(kTimerMilliseconds);
}

CreationProgressDialog::~CreationProgressDialog() {
    timer_.stop();
    worker_.reset();  // stops a running job before what it borrows goes
}

bool CreationProgressDialog::Start() {
    if (worker_ || !parameters_) return false;
    worker_ = std::make_unique<CreationWorker>(*parameters_, status_, options_);
    if (!worker_->Start()) {
        worker_.reset();
        return false;
    }
    timer_.start();
    return true;
}

std::unique_ptr<CreationParameters> CreationProgressDialog::TakeParameters() {
    if (worker_ && !worker_->finished()) return nullptr;
    return std::move(parameters_);
}

void CreationProgressDialog::Tick() {
    if (finished_) return;
    const CreationStatus status = status_.Snapshot();
    statusLine_->setText(Q(line_.Update(status)));
    if (status.phase != kPhaseFailed) {
        // A failure keeps the bar where the job stopped.
        progressBar_->SetValue(1, status.total == 0 ? 1 : status.total);
        progressBar_->SetValue(0, status.total == 0 ? 0 : std::min(status.done, status.total));
        progressBar_->SetText(Q(CreationPercentText(status.done, status.total)));
    }
    if (status.phase == kPhaseFinished) {
        // The last record carries no progress: a finished job shows a full bar.
        progressBar_->SetValue(1, 1);
        progressBar_->SetValue(0, 1);
        progressBar_->SetText(Q(CreationPercentText(1, 1)));
    }
    shown_ = status;
    if (status.phase == kPhaseFailed || status.phase == kPhaseFinished) Finish(status);
}

void CreationProgressDialog::Finish(const CreationStatus& status) {
    finished_ = true;
    timer_.stop();
    // The job has ended; its thread is leaving.
    if (worker_) worker_->Wait();
    if (settings_.sounds) QApplication::beep();
    stopButton_->setText(Q(GetString(kStrExitButton)));
    stopButton_->setFocus();
    openButton_->setEnabled(true);
    newButton_->setEnabled(true);
    setWindowTitle(Q(CreationTitle(status.phase, parameters_->baseName)));
    verifyButton_->setEnabled(status.phase == kPhaseFinished);
}

void CreationProgressDialog::StopOrExit() {
    if (finished_) {
        close();
        return;
    }
    AskAndStop();
}

bool CreationProgressDialog::AskAndStop() {
    if (!worker_) return false;  // never started: nothing to stop
    // A job that ended since the last tick has nothing left to stop.
    Tick();
    if (finished_) return false;
    if (LocalizedMessageBox(this, GetString(kStrStopCreationQuestion),
                            GetString(kStrStopCreationCaption),
                            kMbYesNo | kMbIconQuestion) != kIdYes)
        return false;
    // The job may have ended while the question was open: then there is
    // nothing to stop, and the result is shown instead.
    Tick();
    if (finished_) return false;
    hide();
    timer_.stop();
    worker_->Stop();  // the job deletes what it wrote
    worker_.reset();
    auto* next = new CreateDialog(settings_, std::move(parameters_));
    next->SetJobOptions(options_);
    SwitchTo(next);
    return true;
}

void CreationProgressDialog::closeEvent(QCloseEvent* event) {
    if (!leaving_ && !finished_ && worker_) {
        // Closing a running job asks as "Ferma" does; a stop leads to the
        // create dialog, which then closes this window.
        // A stop leads to the create dialog; this window then closes with
        // this very event (a close from within a close does nothing).
        if (!AskAndStop()) {
            event->ignore();
            return;
        }
    }
    // Accepted here: the dialog's own handling would call reject(), which closes.
    event->accept();
}

void CreationProgressDialog::SwitchTo(QWidget* next) {
    // A window that could not be opened has said why; the user stays here.
    if (next == nullptr) return;
    leaving_ = true;
    hide();
    ReplaceMainWindow(this, next);
}

void CreationProgressDialog::contextMenuEvent(QContextMenuEvent* event) {
    ShowDialogContextMenu(this, event->globalPos());
}

void CreationProgressDialog::VerifySet() {
    if (!finished_ || shown_.phase != kPhaseFinished) return;
    // An extension writes no index file; its first new volume names the set.
    std::string path = indexFileName_;
    if (KindOfPath(path) != PathKind::RegularFile && worker_ && !worker_->outputPaths().empty())
        path = worker_->outputPaths().front();
    SwitchTo(OpenVerifyDialog(settings_, path));
}

void CreationProgressDialog::NewCreation() {
    if (!finished_) return;
    SwitchTo(new CreateDialog(settings_));
}

void CreationProgressDialog::OpenSet() {
    if (!finished_) return;
    const QString filter = ChooserNameFilter(kStrFilterRecoveryVolumes) + QStringLiteral(";;") +
                           ChooserNameFilter(kStrFilterChecksumFiles);
    const QStringList files = fileChooser_(this, Q(GetString(kStrSelectRecoveryVolumeTitle)),
                                           Q(LastFolder()), filter, false);
    if (files.isEmpty()) return;
    const std::string path = QFile::encodeName(files.front()).toStdString();
    RememberFolderOf(path);
    SwitchTo(OpenVerifyDialog(settings_, path));
}

void CreationProgressDialog::ShowAbout() {
    ShowAboutBox(this);
}

void CreationProgressDialog::reject() {
    close();
}

}  // namespace vantrove
