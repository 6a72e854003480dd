#include "ui/verify_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QShortcut>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <cerrno>
#include <chrono>
#include <climits>

#include "app/localized_message_box.h"
#include "app/repair_error_message.h"
#include "app/set_session.h"
#include "app/settings.h"
#include "app/worker_start.h"
#include "core/path.h"
#include "core/string_ids.h"
#include "core/string_table.h"
#include "core/table_lookup.h"
#include "ui/about_box.h"
#include "ui/dialog_menu_button.h"
#include "ui/dialog_switch.h"
#include "ui/dropped_paths.h"
#include "ui/file_context_menu.h"
#include "ui/file_dialog_filters.h"
#include "ui/file_list_icons.h"
#include "ui/file_list_view.h"
#include "ui/help_key.h"
#include "ui/last_folder.h"
#include "ui/named_button.h"
#include "ui/preferences_dialog.h"
#include "ui/priority_menu.h"
#include "ui/segment_bar.h"
#include "ui/texts/file_list_texts.h"
#include "ui/texts/status_texts.h"

namespace vantrove {

namespace {

constexpr int kRefreshMs = 100;
constexpr int kListTimerMs = 500;
constexpr int64_t kAutoRepairIntervalMs = 1000;
constexpr QSize kMinimumSize(600, 440);
constexpr QSize kDefaultSize(720, 520);

constexpr const char* kExtraFailedMessage =
    "Impossibile leggere di nuovo i Volumi di Recupero del set: non è possibile aggiungerne "
    "altri.";

// The block bar: blocks found in green, blocks the recovery data stand in
// for in amber, missing blocks in red.
const SegmentShades kFoundShades{QColor(0xAE, 0xF8, 0xB3), QColor(0x00, 0x47, 0x10),
                                 QColor(0x00, 0x6A, 0x23)};
const SegmentShades kCoveredShades{QColor(0xFD, 0xE6, 0xC1), QColor(0x66, 0x4E, 0x0C),
                                   QColor(0x7E, 0x71, 0x00)};
const SegmentShades kMissingShades{QColor(0xFF, 0xD9, 0xD9), QColor(0x66, 0x14, 0x0C),
                                   QColor(0x80, 0x21, 0x00)};

// Item data of the list's rows.
constexpr int kRowTypeRole = Qt::UserRole;
constexpr int kPathRole = Qt::UserRole + 1;
constexpr int kSourceKindRole = Qt::UserRole + 2;
constexpr int kBlocksRole = Qt::UserRole + 3;
constexpr int kDisplayCodeRole = Qt::UserRole + 4;
constexpr int kBlockCountRole = Qt::UserRole + 5;
constexpr int kSizeRole = Qt::UserRole + 6;
constexpr int kReadErrorRole = Qt::UserRole + 7;

enum Column { kNameColumn = 0, kSizeColumn = 1, kStatusColumn = 2 };

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

QString Str(int id) {
    return Q(GetString(id));
}

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool Busy(const RecoverySetStatus& status) {
    return status.activity != Activity::Idle;
}

bool RepairRunning(const RecoverySetStatus& status) {
    return status.activity >= Activity::Renaming && status.activity <= Activity::Reverifying;
}

FileListIcon VolumeIcon(VolumeDisplayCode code) {
    static constexpr std::pair<VolumeDisplayCode, FileListIcon> kIcons[] = {
        {VolumeDisplayCode::Used, FileListIcon::VolumeGood},
        {VolumeDisplayCode::Damaged, FileListIcon::VolumeBad},
        {VolumeDisplayCode::Unused, FileListIcon::VolumeBad},
    };
    return LookUp(kIcons, code, FileListIcon::VolumeUnknown);
}

FileListIcon SourceIcon(SourceRowKind kind) {
    static constexpr std::pair<SourceRowKind, FileListIcon> kIcons[] = {
        {SourceRowKind::Complete, FileListIcon::FileGood},
        {SourceRowKind::Repaired, FileListIcon::FileGood},
        {SourceRowKind::Misnamed, FileListIcon::FileMisnamed},
        {SourceRowKind::Damaged, FileListIcon::FileBad},
        {SourceRowKind::Missing, FileListIcon::FileBad},
    };
    return LookUp(kIcons, kind, FileListIcon::FileUnknown);
}

void SetTextIfChanged(QLabel* label, const QString& text) {
    if (label->text() != text) label->setText(text);
}

void SetItemText(QTreeWidgetItem* item, int column, const QString& text) {
    if (item->text(column) != text) item->setText(column, text);
}

// Paths travel in the rows as the bytes of their names, never through a
// QString, so that a name that is not UTF-8 stays the same name.
QByteArray Bytes(const std::string& path) {
    return QByteArray::fromStdString(path);
}

std::string PathOf(const QTreeWidgetItem* row) {
    return row->data(kNameColumn, kPathRole).toByteArray().toStdString();
}

// The places of a source row, from its child rows.
std::vector<SourcePlace> PlacesOf(const QTreeWidgetItem* row) {
    std::vector<SourcePlace> places;
    for (int i = 0; i < row->childCount(); ++i) {
        const QTreeWidgetItem* child = row->child(i);
        places.push_back({PathOf(child),
                          child->data(kNameColumn, kBlocksRole).toUInt(),
                          child->data(kNameColumn, kSizeRole).toULongLong(),
                          child->data(kNameColumn, kReadErrorRole).toInt()});
    }
    return places;
}

}  // namespace

// ---- Lines from the worker thread.

void VerifyDialog::PacketSink::PostLinePacket(std::unique_ptr<LinePacket> packet) {
    // The packet changes owner: the queued call holds it until the dialog's
    // thread runs it, and frees it also when the dialog is gone by then.
    std::shared_ptr<LinePacket> shared(std::move(packet));
    VerifyDialog* dialog = dialog_;
    QMetaObject::invokeMethod(
        dialog, [dialog, shared]() { dialog->HandlePacket(*shared); }, Qt::QueuedConnection);
}

// ---- Creation.

VerifyDialog::VerifyDialog(Settings& settings, const std::string& fileName,
                           bool optionsFromSettings, QWidget* parent)
    : QDialog(parent), settings_(settings) {
    setWindowTitle(QStringLiteral("Vantrove - Apri file di Recupero"));
    setWindowFlags(windowFlags() | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    setSizeGripEnabled(true);
    setAcceptDrops(true);
    setWindowIcon(ProgramIcon());
    BuildControls();
    InstallHelpKey(this);

    chooser_ = [](QWidget* parent, bool addMode) {
        QFileDialog dialog(parent, Str(kStrSelectFilesTitle), Q(LastFolder()));
        dialog.setFileMode(QFileDialog::ExistingFiles);
        dialog.setOption(QFileDialog::ReadOnly, false);
        dialog.setNameFilters(
            addMode ? FileDialogFiltersOf(
                          {kStrFilterAllFiles, kStrFilterRecoveryVolumes, kStrFilterChecksumFiles})
                    : FileDialogFiltersOf({kStrFilterRecoveryVolumes, kStrFilterChecksumFiles,
                                           kStrFilterAllFiles}));
        std::vector<std::string> paths;
        if (dialog.exec() != QDialog::Accepted) return paths;
        for (const QString& file : dialog.selectedFiles())
            paths.push_back(QFile::encodeName(file).toStdString());
        return paths;
    };

    connect(&refreshTimer_, &QTimer::timeout, this, &VerifyDialog::Refresh);
    connect(&listTimer_, &QTimer::timeout, this, &VerifyDialog::AnimateList);
    refreshTimer_.start(kRefreshMs);
    listTimer_.start(kListTimerMs);

    worker_ = std::make_unique<VerificationWorker>(&client_);
    workerStarted_ = StartWorker(*worker_);
    if (!workerStarted_) worker_.reset();

    openButton_->setFocus();
    RestoreLayout();

    if (!fileName.empty()) {
        monitorBox_->setChecked(optionsFromSettings && settings_.monitorAutomatically);
        autoRepairBox_->setChecked(optionsFromSettings && settings_.repairAutomatically);
        if (worker_) worker_->SetRescan(monitorBox_->isChecked());
        beepPending_ = true;
        PostOpen(fileName);
    }
    Refresh();
}

VerifyDialog::~VerifyDialog() {
    Shutdown();
}

void VerifyDialog::BuildControls() {
    auto* layout = new QVBoxLayout(this);

    creatorLine_ = new QLabel(this);
    creatorLine_->setObjectName(QStringLiteral("creatorLine"));
    creatorLine_->setTextFormat(Qt::PlainText);
    AddTopRowWithMenu(
        layout, this, creatorLine_, [this] { OnPreferences(); }, [this] { OnAbout(); });

    fileList_ = MakeFileList(this, kStrColumnStatus);
    fileList_->setRootIsDecorated(true);
    fileList_->setSelectionBehavior(QAbstractItemView::SelectRows);
    fileList_->setSelectionMode(QAbstractItemView::SingleSelection);
    fileList_->setIconSize(QSize(16, 16));
    fileList_->setContextMenuPolicy(Qt::CustomContextMenu);
    fileList_->viewport()->setAcceptDrops(false);
    fileList_->header()->setStretchLastSection(true);
    fileList_->header()->setSectionsMovable(false);
    connect(fileList_, &QWidget::customContextMenuRequested, this, &VerifyDialog::ShowRowMenu);
    // A double click does what the row menu's first entry does: it opens
    // the file with the desktop's default application.
    connect(fileList_, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* row, int) {
                if (row == nullptr) return;
                const auto type = RowType(row->data(kNameColumn, kRowTypeRole).toInt());
                // A group row opens and closes as usual.
                if (type == RowType::RecoveryGroup || type == RowType::DataGroup) return;
                const std::string path = RowPath(row);
                if (!path.empty()) OpenWithDesktop(path);
            });
    layout->addWidget(fileList_, 1);

    recoveryGroup_ = new QTreeWidgetItem(fileList_);
    recoveryGroup_->setData(kNameColumn, kRowTypeRole, int(RowType::RecoveryGroup));
    recoveryGroup_->setIcon(kNameColumn, FileListIconOf(FileListIcon::RecoveryGroup));
    dataGroup_ = new QTreeWidgetItem(fileList_);
    dataGroup_->setData(kNameColumn, kRowTypeRole, int(RowType::DataGroup));
    dataGroup_->setIcon(kNameColumn, FileListIconOf(FileListIcon::DataGroup));
    dataGroup_->setText(kNameColumn, Q(DataGroupName()));
    for (QTreeWidgetItem* group : {recoveryGroup_, dataGroup_}) {
        QFont font = group->font(kNameColumn);
        font.setBold(true);
        group->setFont(kNameColumn, font);
        group->setExpanded(true);
        group->setHidden(true);
    }

    // The block bar with the status line, the progress bar (or the error line
    // in its place) and the time line.
    statusBar_ = SegmentBar::WithShades(this, QStringLiteral("statusBar"),
                                        {kFoundShades, kCoveredShades, kProgressRestShades});
    QSizePolicy keep = statusBar_->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    statusBar_->setSizePolicy(keep);
    layout->addWidget(statusBar_);

    progressBar_ = SegmentBar::WithShades(this, QStringLiteral("progressBar"),
                                          {kProgressDoneShades, kProgressRestShades});
    errorLine_ = new QLabel(this);
    errorLine_->setObjectName(QStringLiteral("errorLine"));
    errorLine_->setTextFormat(Qt::PlainText);
    errorLine_->setStyleSheet(QStringLiteral("color: #B00000; font-weight: bold;"));
    errorLine_->setMinimumHeight(progressBar_->sizeHint().height());
    errorLine_->hide();
    auto* progressCell = new QGridLayout;
    progressCell->setContentsMargins(0, 0, 0, 0);
    progressCell->addWidget(progressBar_, 0, 0);
    progressCell->addWidget(errorLine_, 0, 0);
    layout->addLayout(progressCell);

    timeLineLabel_ = new QLabel(this);
    timeLineLabel_->setObjectName(QStringLiteral("timeLine"));
    timeLineLabel_->setTextFormat(Qt::PlainText);
    QSizePolicy keepTime = timeLineLabel_->sizePolicy();
    keepTime.setRetainSizeWhenHidden(true);
    timeLineLabel_->setSizePolicy(keepTime);
    timeLineLabel_->hide();
    layout->addWidget(timeLineLabel_);

    leftoverNote_ = new QLabel(this);
    leftoverNote_->setObjectName(QStringLiteral("leftoverNote"));
    leftoverNote_->setTextFormat(Qt::PlainText);
    leftoverNote_->setWordWrap(true);
    leftoverNote_->hide();
    layout->addWidget(leftoverNote_);

    // Counters on the left, commands on the right.
    auto* bottom = new QHBoxLayout;
    auto* counters = new QGridLayout;
    const char* labels[8] = {
        "Numero dei file sorgente:",
        "Dimensione totale dei file sorgente:",
        "Numero blocchi dei file sorgente:",
        "Dimensione dei blocchi dei file sorgente:",
        "File completi:",
        "File danneggiati:",
        "File mal rinominati:",
        "File mancanti:",
    };
    for (int i = 0; i < 8; ++i) {
        auto* label = new QLabel(QString::fromUtf8(labels[i]), this);
        counters_[i] = new QLabel(this);
        counters_[i]->setObjectName(QStringLiteral("counter%1").arg(i));
        counters_[i]->setTextFormat(Qt::PlainText);
        counters_[i]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        counters_[i]->setMinimumWidth(110);
        counters->addWidget(label, i, 0);
        counters->addWidget(counters_[i], i, 1);
    }
    counters->setColumnStretch(0, 1);
    bottom->addLayout(counters, 1);
    bottom->addSpacing(12);

    auto makeButton = [this](const char* name, const QString& caption) {
        return NamedButton(caption, this, name);
    };
    openButton_ = makeButton("open", QStringLiteral("Apri"));
    addButton_ = makeButton("add", QStringLiteral("&Aggiungi"));
    monitorBox_ = new QCheckBox(QStringLiteral("Rileva"), this);
    monitorBox_->setObjectName(QStringLiteral("monitor"));
    autoRepairBox_ = new QCheckBox(QStringLiteral("Riparazione Automatica"), this);
    autoRepairBox_->setObjectName(QStringLiteral("autoRepair"));
    repairButton_ = makeButton("repair", Str(kStrRepairButton));
    stopButton_ = makeButton("stop", Str(kStrStopButton));
    newButton_ = makeButton("new", QStringLiteral("&Nuovo"));
    aboutButton_ = makeButton("about", QStringLiteral("Infromazioni"));
    preferencesButton_ = makeButton("preferences", QStringLiteral("Preferenze"));
    exitButton_ = makeButton("exit", QStringLiteral("Esci"));

    auto* commands = new QGridLayout;
    commands->addWidget(openButton_, 0, 0);
    commands->addWidget(addButton_, 0, 1);
    commands->addWidget(monitorBox_, 1, 0, 1, 2);
    commands->addWidget(autoRepairBox_, 2, 0, 1, 2);
    commands->addWidget(repairButton_, 3, 0);
    commands->addWidget(stopButton_, 3, 1);
    commands->addWidget(newButton_, 4, 0);
    commands->addWidget(preferencesButton_, 4, 1);
    commands->addWidget(aboutButton_, 5, 0);
    commands->addWidget(exitButton_, 5, 1);
    commands->setRowStretch(6, 1);
    bottom->addLayout(commands);
    layout->addLayout(bottom);

    // The command buttons and what each runs.
    const std::pair<QPushButton*, void (VerifyDialog::*)()> commandButtons[] = {
        {openButton_, &VerifyDialog::OnOpen},
        {addButton_, &VerifyDialog::OnAdd},
        {repairButton_, &VerifyDialog::OnRepair},
        {stopButton_, &VerifyDialog::OnStop},
        {newButton_, &VerifyDialog::OnNew},
        {aboutButton_, &VerifyDialog::OnAbout},
        {preferencesButton_, &VerifyDialog::OnPreferences},
        {exitButton_, &VerifyDialog::OnExit},
    };
    for (const auto& [button, command] : commandButtons)
        connect(button, &QPushButton::clicked, this, command);
    connect(monitorBox_, &QCheckBox::clicked, this, &VerifyDialog::OnMonitor);
    auto* reverify = new QShortcut(QKeySequence(Qt::Key_F5), this);
    connect(reverify, &QShortcut::activated, this, &VerifyDialog::OnReverify);

    addButton_->setEnabled(false);
    repairButton_->setEnabled(false);
    stopButton_->setEnabled(false);
    newButton_->setEnabled(kCreateDialogAvailable);
    aboutButton_->setEnabled(kAboutBoxAvailable);
    preferencesButton_->setEnabled(kPreferencesAvailable);

    setMinimumSize(kMinimumSize);
}

void VerifyDialog::RestoreLayout() {
    auto pixels = [](uint32_t value) { return int(std::min<uint32_t>(value, 16384)); };
    fileList_->setColumnWidth(kNameColumn, pixels(settings_.verifyFilenameWidth));
    fileList_->setColumnWidth(kSizeColumn, pixels(settings_.verifyFilesizeWidth));
    // The stored height (0 before the first close), never below the minimum;
    // the first time, tall enough for a set of ten volumes and ten files
    // without scrolling, within the screen.
    const int width = std::max(sizeHint().width(), kDefaultSize.width());
    int height = settings_.openDialogueHeight != 0
                     ? std::max(pixels(settings_.openDialogueHeight), minimumHeight())
                     : std::max(sizeHint().height(), DefaultHeight());
    if (settings_.openDialogueHeight == 0) {
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            height = std::min(height, std::max(minimumHeight(),
                                               screen->availableGeometry().height() - 40));
    }
    resize(std::max(width, minimumWidth()), height);
}

// The list shows kRowsShown rows (two groups, ten volumes, ten files) with
// its header; the rest of the dialog keeps the height its layout asks for.
int VerifyDialog::DefaultHeight() const {
    constexpr int kRowsShown = 22;
    const int row = std::max(fileList_->fontMetrics().height() + 4,
                             fileList_->iconSize().height() + 2);
    const int list = fileList_->header()->sizeHint().height() + kRowsShown * row +
                     2 * fileList_->frameWidth() + 4;
    return std::max(kDefaultSize.height(),
                    sizeHint().height() - fileList_->sizeHint().height() + list);
}

void VerifyDialog::SaveLayout() {
    settings_.verifyFilenameWidth = uint32_t(std::max(0, fileList_->columnWidth(kNameColumn)));
    settings_.verifyFilesizeWidth = uint32_t(std::max(0, fileList_->columnWidth(kSizeColumn)));
    settings_.openDialogueHeight = uint32_t(std::max(0, height()));
    settings_.SaveLayout();
}

// ---- Closing.

void VerifyDialog::Shutdown() {
    if (shutDown_) return;
    shutDown_ = true;
    refreshTimer_.stop();
    listTimer_.stop();
    // From here on the worker posts no more lines; the running job stops at
    // its next check, and Quit waits for the thread, which saves the set.
    client_.MarkClosing();
    if (worker_) {
        worker_->RequestStop();
        worker_->Quit();
    }
    SaveLayout();
}

void VerifyDialog::closeEvent(QCloseEvent* event) {
    Shutdown();
    event->accept();
}

// Esc is Esci: it closes the dialog only while Esci may be pressed, so that
// a stray key cannot break off a running job (Ferma asks before it stops a
// repair). The window's close button still closes at any time.
void VerifyDialog::reject() {
    if (shutDown_ || !exitButton_->isEnabled()) return;
    OnExit();
}

// ---- The list.

void VerifyDialog::HandlePacket(const LinePacket& packet) {
    if (shutDown_) return;
    switch (packet.kind) {
        case LinePacketKind::VolumeFile:
            ShowVolume(packet);
            break;
        case LinePacketKind::RemoveVolumeFile:
            RemoveVolume(packet.path);
            break;
        case LinePacketKind::SourceFileLine:
            ShowSourceFile(packet);
            break;
        case LinePacketKind::ClearLists:
            ClearList();
            break;
    }
}

void VerifyDialog::ShowVolume(const LinePacket& packet) {
    if (listFormat_ == FormatKind::None) {
        listFormat_ = client_.LatestStatus().formatKind;
        if (listFormat_ != FormatKind::None) RewordRows();
    }
    if (setFolder_.empty()) setFolder_ = FolderOfPath(packet.path);
    QTreeWidgetItem*& row = volumeRows_[packet.path];
    if (row == nullptr) {
        row = new QTreeWidgetItem(recoveryGroup_);
        row->setData(kNameColumn, kRowTypeRole, int(RowType::Volume));
        row->setData(kNameColumn, kPathRole, Bytes(packet.path));
        row->setText(kNameColumn, Q(FileNameOfPath(packet.path)));
        row->setTextAlignment(kSizeColumn, Qt::AlignRight | Qt::AlignVCenter);
        row->setToolTip(kNameColumn, Q(packet.path));
    }
    row->setData(kNameColumn, kBlocksRole, packet.blocksTaken);
    row->setData(kNameColumn, kDisplayCodeRole, int(packet.displayCode));
    row->setIcon(kNameColumn, FileListIconOf(VolumeIcon(packet.displayCode)));
    SetItemText(row, kSizeColumn, Q(SizeText(packet.size)));
    SetItemText(row, kStatusColumn,
                Q(VolumeRowStatus(listFormat_, packet.displayCode, packet.blocksTaken)));
    UpdateGroupRows();
    // Extra depends on the listed volumes as well as on the status, and the
    // rows may arrive after the status they belong to.
    UpdateButtons(previous_);
}

void VerifyDialog::RemoveVolume(const std::string& path) {
    auto it = volumeRows_.find(path);
    if (it == volumeRows_.end()) return;
    if (currentRow_ == it->second) currentRow_ = nullptr;
    delete it->second;
    volumeRows_.erase(it);
    UpdateGroupRows();
    UpdateButtons(previous_);
}

void VerifyDialog::ShowSourceFile(const LinePacket& packet) {
    if (packet.formatKind != FormatKind::None && packet.formatKind != listFormat_) {
        listFormat_ = packet.formatKind;
        RewordRows();
    }
    QTreeWidgetItem*& row = sourceRows_[packet.path];
    if (row == nullptr) {
        row = new QTreeWidgetItem(dataGroup_);
        row->setData(kNameColumn, kRowTypeRole, int(RowType::SourceFile));
        row->setText(kNameColumn, Q(FileNameOfPath(packet.path)));
        row->setTextAlignment(kSizeColumn, Qt::AlignRight | Qt::AlignVCenter);
    }
    const std::string path = setFolder_ + FileNameOfPath(packet.path);
    row->setData(kNameColumn, kPathRole, Bytes(path));
    row->setToolTip(kNameColumn, Q(path));
    row->setData(kNameColumn, kSourceKindRole, int(packet.rowKind));
    row->setData(kNameColumn, kBlockCountRole, packet.blockCount);
    row->setIcon(kNameColumn, FileListIconOf(SourceIcon(packet.rowKind)));
    SetItemText(row, kSizeColumn, Q(SizeText(packet.size)));
    SetItemText(row, kStatusColumn,
                Q(SourceRowStatus(listFormat_, packet.rowKind, packet.blockCount, packet.places)));

    // One place row for each file that holds blocks of this one.
    while (row->childCount() > int(packet.places.size())) {
        QTreeWidgetItem* child = row->takeChild(row->childCount() - 1);
        if (currentRow_ == child) currentRow_ = nullptr;
        delete child;
    }
    for (size_t i = 0; i < packet.places.size(); ++i) {
        const SourcePlace& place = packet.places[i];
        QTreeWidgetItem* child = int(i) < row->childCount() ? row->child(int(i)) : nullptr;
        if (child == nullptr) {
            child = new QTreeWidgetItem(row);
            child->setData(kNameColumn, kRowTypeRole, int(RowType::Place));
            child->setIcon(kNameColumn, FileListIconOf(FileListIcon::FileUnknown));
            child->setTextAlignment(kSizeColumn, Qt::AlignRight | Qt::AlignVCenter);
        }
        child->setData(kNameColumn, kPathRole, Bytes(place.path));
        child->setData(kNameColumn, kBlocksRole, place.blockCount);
        child->setData(kNameColumn, kSizeRole, qulonglong(place.size));
        child->setData(kNameColumn, kReadErrorRole, place.readError);
        SetItemText(child, kNameColumn, Q(place.path));
        SetItemText(child, kSizeColumn, Q(SizeText(place.size)));
        SetItemText(child, kStatusColumn, Q(PlaceRowStatus(listFormat_, place, packet.blockCount)));
    }
    row->setExpanded(true);
    UpdateGroupRows();
}

void VerifyDialog::ClearList() {
    currentRow_ = nullptr;
    for (QTreeWidgetItem* group : {recoveryGroup_, dataGroup_}) qDeleteAll(group->takeChildren());
    volumeRows_.clear();
    sourceRows_.clear();
    listFormat_ = FormatKind::None;
    setFolder_.clear();
    UpdateGroupRows();
}

void VerifyDialog::UpdateGroupRows() {
    const bool shown = listFormat_ != FormatKind::None || recoveryGroup_->childCount() > 0 ||
                       dataGroup_->childCount() > 0;
    for (QTreeWidgetItem* group : {recoveryGroup_, dataGroup_}) {
        if (group->isHidden() == shown) group->setHidden(!shown);
        if (shown && !group->isExpanded()) group->setExpanded(true);
    }
}

// The format decides the wording of every row: reword them when it becomes
// known after the first rows arrived.
void VerifyDialog::RewordRows() {
    SetItemText(recoveryGroup_, kNameColumn, Q(RecoveryGroupName(listFormat_)));
    for (auto& [path, row] : volumeRows_) {
        auto code = VolumeDisplayCode(row->data(kNameColumn, kDisplayCodeRole).toInt());
        SetItemText(
            row, kStatusColumn,
            Q(VolumeRowStatus(listFormat_, code, row->data(kNameColumn, kBlocksRole).toUInt())));
    }
    for (auto& [name, row] : sourceRows_) {
        auto kind = SourceRowKind(row->data(kNameColumn, kSourceKindRole).toInt());
        uint32_t blockCount = row->data(kNameColumn, kBlockCountRole).toUInt();
        std::vector<SourcePlace> places = PlacesOf(row);
        SetItemText(row, kStatusColumn, Q(SourceRowStatus(listFormat_, kind, blockCount, places)));
        for (int i = 0; i < row->childCount(); ++i)
            SetItemText(row->child(i), kStatusColumn,
                        Q(PlaceRowStatus(listFormat_, places[size_t(i)], blockCount)));
    }
    UpdateGroupRows();
}

int VerifyDialog::RowsOfKind(SourceRowKind kind) const {
    int count = 0;
    for (const auto& [name, row] : sourceRows_) {
        if (row->data(kNameColumn, kSourceKindRole).toInt() == int(kind)) ++count;
    }
    return count;
}

// ---- The refresh timer.

void VerifyDialog::Refresh() {
    if (shutDown_) return;
    client_.SampleStatus(latest_, seen_);
    const RecoverySetStatus& status = latest_;

    if (status.formatKind != FormatKind::None && status.formatKind != listFormat_ &&
        (listFormat_ == FormatKind::None)) {
        listFormat_ = status.formatKind;
        RewordRows();
    }
    MarkCurrentFile(status);
    if (auto title = WindowTitle(status, RowsOfKind(SourceRowKind::Missing))) {
        QString text = Q(*title);
        if (windowTitle() != text) setWindowTitle(text);
    }
    UpdateButtons(status);
    UpdateTexts(status);

    // The sound once the set is verified or repaired, after a request of the
    // user's (opening or repairing).
    const bool done =
        status.state == RecoveryState::Repaired || status.state == RecoveryState::AllVerified;
    if (!done) {
        soundPending_ = false;
    } else if (status.state != previous_.state) {
        soundPending_ = true;
    }
    if (!Busy(status) && beepPending_ && soundPending_) {
        beepPending_ = false;
        soundPending_ = false;
        if (settings_.sounds) {
            QApplication::beep();
            ++soundsPlayed_;
        }
    }
    previous_ = status;

    // Automatic repair, at most one attempt a second.
    if (!Busy(status) &&
        (status.state == RecoveryState::PartlyJoinable ||
         status.state == RecoveryState::RepairPossible) &&
        autoRepairBox_->isChecked()) {
        int64_t now = NowMs();
        if (lastAutoRepairMs_ < 0 || now - lastAutoRepairMs_ > kAutoRepairIntervalMs) {
            lastAutoRepairMs_ = now;
            OnRepair();
        }
    }
}

void VerifyDialog::UpdateButtons(const RecoverySetStatus& status) {
    const bool idle = !Busy(status);
    const bool hasSet = status.state >= RecoveryState::NeedMoreVolumes &&
                        status.state <= RecoveryState::RepairPossible;
    addButton_->setEnabled(idle && hasSet);
    newButton_->setEnabled(idle && kCreateDialogAvailable);
    exitButton_->setEnabled(idle);
    preferencesButton_->setEnabled(idle && kPreferencesAvailable);
    openButton_->setEnabled(idle);

    const QString repairCaption = Q(RepairButtonCaption(status));
    if (repairButton_->text() != repairCaption) repairButton_->setText(repairCaption);
    repairButton_->setEnabled(RepairButtonEnabled(status));

    const StopButtonState stop = StopButton(status);
    const QString stopCaption = Q(stop.caption);
    if (stopButton_->text() != stopCaption) stopButton_->setText(stopCaption);
    // Extra extends the set from its recovery volumes: not once they are gone.
    stopButton_->setEnabled(stop.enabled &&
                            (!stop.extra || (kCreateDialogAvailable && !volumeRows_.empty())));
}

void VerifyDialog::UpdateTexts(const RecoverySetStatus& status) {
    SetTextIfChanged(creatorLine_,
                     status.creatorText.empty() && status.formatKind == FormatKind::None
                         ? QString()
                         : Q(CreatorLine(status, Ampersands::Literal)));

    const int missing = RowsOfKind(SourceRowKind::Missing);
    const bool statusShown = StatusLineShown(status);
    // Until a set describes its blocks the bar is empty (in the grey of an
    // empty progress bar), not a bar of blocks that are all missing.
    statusBar_->SetColours(2, status.totalDataBlocks == 0 ? kProgressRestShades : kMissingShades);
    if (statusShown) {
        BlockBarValues values = StatusBarValues(status);
        statusBar_->SetValue(2, values.total);
        statusBar_->SetValue(1, values.covered);
        statusBar_->SetValue(0, values.available);
        statusBar_->SetText(Q(StatusLineText(status, missing)));
    }
    if (statusBar_->isVisible() != statusShown) statusBar_->setVisible(statusShown);

    const bool openErrorShown = !openError_.empty() && !Busy(status);
    const bool errorShown = openErrorShown || ErrorLineShown(status);
    if (errorShown) {
        SetTextIfChanged(errorLine_, Q(openErrorShown ? openError_ : ErrorLineText(status)));
    } else {
        progressBar_->SetValue(1, status.progressTotal);
        progressBar_->SetValue(0, std::min(status.progressPosition, status.progressTotal));
        progressBar_->SetText(Q(ProgressText(status)));
    }
    if (errorLine_->isVisible() != errorShown) errorLine_->setVisible(errorShown);
    if (progressBar_->isVisible() == errorShown) progressBar_->setVisible(!errorShown);

    const CounterTexts counters = Counters(status);
    const std::string* values[8] = {
        &counters.sourceFiles,   &counters.totalSize,     &counters.dataBlocks,
        &counters.blockSize,     &counters.completeFiles, &counters.damagedFiles,
        &counters.misnamedFiles, &counters.missingFiles,
    };
    for (int i = 0; i < 8; ++i) SetTextIfChanged(counters_[i], Q(*values[i]));

    timeLine_.Update(status, previous_);
    const bool timeShown = RepairTimeLine::Shown(status);
    SetTextIfChanged(timeLineLabel_, Q(timeLine_.text()));
    if (timeLineLabel_->isVisible() != timeShown) timeLineLabel_->setVisible(timeShown);
    const std::string leftovers = LeftoverNote(status);
    SetTextIfChanged(leftoverNote_, Q(leftovers));
    if (leftoverNote_->isVisible() == leftovers.empty()) leftoverNote_->setVisible(!leftovers.empty());

    // The list's group rows count what is available.
    if (listFormat_ != FormatKind::None) {
        SetItemText(recoveryGroup_, kStatusColumn,
                    Q(RecoveryGroupStatus(listFormat_, status.recoveryBlocksAvailable)));
        SetItemText(dataGroup_, kStatusColumn,
                    Q(DataGroupStatus(listFormat_, status.dataBlocksAvailable)));
    }
}

// While a file is being loaded or verified its row is shown in bold, with a
// marker that the list timer moves.
void VerifyDialog::MarkCurrentFile(const RecoverySetStatus& status) {
    QTreeWidgetItem* row = nullptr;
    const bool fileActivity =
        (status.activity >= Activity::LoadingVolume && status.activity <= Activity::CheckingFile) ||
        status.activity == Activity::Reverifying;
    if (fileActivity && !status.currentFile.empty()) {
        auto volume = volumeRows_.find(status.currentFile);
        if (volume != volumeRows_.end()) {
            row = volume->second;
        } else {
            auto source = sourceRows_.find(FileNameOfPath(status.currentFile));
            if (source != sourceRows_.end()) row = source->second;
        }
    }
    if (row == currentRow_) return;
    if (currentRow_ != nullptr) {
        QFont font = currentRow_->font(kNameColumn);
        font.setBold(false);
        currentRow_->setFont(kNameColumn, font);
        currentRow_->setText(kNameColumn,
                             currentRow_->text(kNameColumn)
                                 .remove(QRegularExpression(QStringLiteral("^[\u25b6\u25b7] "))));
    }
    currentRow_ = row;
    if (currentRow_ != nullptr) {
        QFont font = currentRow_->font(kNameColumn);
        font.setBold(true);
        currentRow_->setFont(kNameColumn, font);
        fileList_->scrollToItem(currentRow_);
    }
}

void VerifyDialog::AnimateList() {
    if (currentRow_ == nullptr) return;
    animationPhase_ ^= 1;
    QString name = currentRow_->text(kNameColumn);
    name.remove(QRegularExpression(QStringLiteral("^[\u25b6\u25b7] ")));
    currentRow_->setText(
        kNameColumn,
        (animationPhase_ ? QStringLiteral("\u25b6 ") : QStringLiteral("\u25b7 ")) + name);
}

// ---- Commands.

void VerifyDialog::PostOpen(const std::string& path) {
    if (!worker_ || path.empty()) return;
    // A name that is not there (or not a file) is reported here, in the
    // words of a failed open, instead of leaving an empty set behind.
    int error = 0;
    if (path.size() >= PATH_MAX) {
        error = ENAMETOOLONG;
    } else if (KindOfPath(path, &error) == PathKind::Folder) {
        error = EISDIR;
    }
    if (error != 0) {
        openError_ = RepairErrorMessage(ErrorKind::Open, uint32_t(error), path);
        Refresh();
        return;
    }
    openError_.clear();
    worker_->Open(path);
}

void VerifyDialog::OnOpen() {
    ChooseFiles(false);
}

void VerifyDialog::OnAdd() {
    ChooseFiles(true);
}

void VerifyDialog::ChooseFiles(bool addMode) {
    std::vector<std::string> paths =
        chooser_ ? chooser_(this, addMode) : std::vector<std::string>{};
    if (paths.empty() || shutDown_) return;
    openError_.clear();
    if (!addMode) {
        // A new set replaces the current one: its lines go first.
        ClearList();
        if (worker_) worker_->CloseSet();
    }
    beepPending_ = true;
    addButton_->setEnabled(false);
    openButton_->setEnabled(false);
    stopButton_->setFocus();
    monitorBox_->setChecked(settings_.monitorAutomatically);
    autoRepairBox_->setChecked(settings_.repairAutomatically);
    // The worker follows the box, so the two never disagree.
    if (worker_) worker_->SetRescan(monitorBox_->isChecked());
    for (const std::string& path : paths) PostOpen(path);
    RememberFolderOf(paths.back());
}

void VerifyDialog::OpenDroppedPaths(const std::vector<std::string>& paths) {
    if (paths.empty() || shutDown_) return;
    for (const std::string& path : paths) PostOpen(path);
    RememberFolderOf(paths.back());
}

void VerifyDialog::OnRepair() {
    if (!worker_ || shutDown_) return;
    if (previous_.state == RecoveryState::RepairPossible) {
        autoRepairBox_->setChecked(false);
        if (monitorBox_->isChecked()) {
            monitorBox_->setChecked(false);
            // Monitoring ends with the box, so no scan runs behind the repair.
            worker_->SetRescan(false);
        }
    }
    repairButton_->setEnabled(false);
    stopButton_->setFocus();
    beepPending_ = true;
    openError_.clear();
    timeLine_.Start(TickCountMs());
    worker_->Repair(RepairOptionsFrom(settings_));
    ++repairsRequested_;
}

void VerifyDialog::OnStop() {
    if (!worker_ || shutDown_) return;
    const RecoverySetStatus status = client_.LatestStatus();
    if (!Busy(status)) {
        if (StopButton(status).extra) OnExtra();
        return;
    }
    if (RepairRunning(status)) {
        int answer =
            LocalizedMessageBox(this, GetString(kStrStopRepairQuestion),
                                GetString(kStrStopRepairCaption), kMbYesNo | kMbIconQuestion);
        if (answer != kIdYes) return;
    }
    monitorBox_->setChecked(false);
    worker_->SetRescan(false);
    stopButton_->setEnabled(false);
    openButton_->setFocus();
    worker_->RequestStop();
}

void VerifyDialog::OnExtra() {
    if (!kCreateDialogAvailable || !worker_ || volumeRows_.empty()) return;
    DisableMainButtons();
    worker_->RequestStop();
    hide();
    DetachedSet detached = worker_->Detach();
    QWidget* next = detached.set ? OpenCreateDialogForSet(settings_, std::move(detached)) : nullptr;
    if (next == nullptr) {
        // The set's volumes could not be read again (they may have gone since
        // they were listed). This dialog has handed its set over, so a fresh
        // one takes its place and says what happened.
        next = OpenVerifyDialog(settings_, {});
        if (next != nullptr)
            LocalizedMessageBox(next, kExtraFailedMessage, "Vantrove", kMbOk | kMbIconExclamation);
    }
    ReplaceMainWindow(this, next);
}

void VerifyDialog::OnMonitor(bool checked) {
    if (worker_) worker_->SetRescan(checked);
}

void VerifyDialog::OnReverify() {
    if (worker_ && !shutDown_) worker_->Reverify();
}

void VerifyDialog::DisableMainButtons() {
    for (QPushButton* button :
         {addButton_, newButton_, exitButton_, openButton_, repairButton_, stopButton_})
        button->setEnabled(false);
}

void VerifyDialog::OnNew() {
    if (!kCreateDialogAvailable) return;
    DisableMainButtons();
    if (worker_) worker_->RequestStop();
    hide();
    QWidget* next = OpenCreateDialog(settings_, {});
    ReplaceMainWindow(this, next);
}

void VerifyDialog::OnExit() {
    DisableMainButtons();
    if (worker_) worker_->RequestStop();
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void VerifyDialog::OnAbout() {
    if (kAboutBoxAvailable) ShowAboutBox(this);
}

void VerifyDialog::OnPreferences() {
    if (kPreferencesAvailable) ShowPreferencesDialog(settings_, this);
}

// ---- Drag and drop.

void VerifyDialog::dragEnterEvent(QDragEnterEvent* event) {
    if (!DroppedPaths(event->mimeData()).empty()) event->acceptProposedAction();
}

void VerifyDialog::dragMoveEvent(QDragMoveEvent* event) {
    if (!DroppedPaths(event->mimeData()).empty()) event->acceptProposedAction();
}

void VerifyDialog::dropEvent(QDropEvent* event) {
    std::vector<std::string> paths = DroppedPaths(event->mimeData());
    if (paths.empty()) return;
    event->acceptProposedAction();
    OpenDroppedPaths(paths);
}

// ---- Context menus.

void VerifyDialog::contextMenuEvent(QContextMenuEvent* event) {
    ShowDialogContextMenu(this, event->globalPos());
}

// The file a row stands for: none for the data group and for a missing
// file, the set's folder for the recovery group.
std::string VerifyDialog::RowPath(const QTreeWidgetItem* row) const {
    switch (RowType(row->data(kNameColumn, kRowTypeRole).toInt())) {
        case RowType::DataGroup:
            return {};
        case RowType::RecoveryGroup:
            return setFolder_;
        case RowType::SourceFile:
            if (SourceRowKind(row->data(kNameColumn, kSourceKindRole).toInt()) ==
                SourceRowKind::Missing)
                return {};
            return PathOf(row);
        case RowType::Volume:
        case RowType::Place:
            return PathOf(row);
    }
    return {};
}

void VerifyDialog::ShowRowMenu(const QPoint& pos) {
    QTreeWidgetItem* row = fileList_->itemAt(pos);
    const QPoint global = fileList_->viewport()->mapToGlobal(pos);
    if (row == nullptr) {
        ShowDialogContextMenu(this, global);
        return;
    }
    const std::string path = RowPath(row);
    if (path.empty()) return;
    QMenu menu(this);
    FillFileMenu(&menu, path);
    menu.exec(global);
}

}  // namespace vantrove
