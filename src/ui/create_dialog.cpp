#include "ui/create_dialog.h"

#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QSlider>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <set>

#include "app/application.h"
#include "app/digit_grouping.h"
#include "app/localized_message_box.h"
#include "app/make_folders.h"
#include "app/repair_error_message.h"
#include "app/settings.h"
#include "core/path.h"
#include "core/string_ids.h"
#include "core/string_table.h"
#include "create/source_files.h"
#include "par2/volume_name.h"
#include "ui/about_box.h"
#include "ui/creation_progress_dialog.h"
#include "ui/dialog_menu_button.h"
#include "ui/dialog_switch.h"
#include "ui/dropped_paths.h"
#include "ui/file_dialog_filters.h"
#include "ui/file_list_view.h"
#include "ui/help_key.h"
#include "ui/last_folder.h"
#include "ui/named_button.h"
#include "ui/preferences_dialog.h"
#include "ui/priority_menu.h"
#include "ui/spin_arrows.h"
#include "ui/texts/create_dialog_texts.h"
#include "ui/texts/text_format.h"

namespace vantrove {

namespace {

constexpr int kSliderRange = 1000000;
constexpr int kSliderPageStep = 100000;
// The file chooser of the original took names into a buffer of this many
// characters; a larger selection is refused as a whole.
constexpr size_t kSelectionBufferCharacters = 32767;

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

std::string S(const QString& text) {
    return text.toStdString();
}

// A file name or path typed or chosen in Qt, as the bytes the file system
// uses (QString's own UTF-8 only for a UTF-8 locale).
std::string PathBytes(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

QString Grouped(uint64_t value) {
    return Q(FormatGrouped(value));
}

// Room a selection takes in the chooser's name buffer: the folder, then each
// name, each ended by a zero, and a closing zero; one file takes its path.
size_t SelectionCharacters(const QStringList& files) {
    if (files.isEmpty()) return 1;
    if (files.size() == 1) return static_cast<size_t>(files.front().size()) + 2;
    size_t total = S(files.front()).size() - FileNameOfPath(S(files.front())).size() + 1;
    for (const QString& file : files) total += FileNameOfPath(S(file)).size() + 1;
    return total + 1;
}

QStringList ChooseWithQt(QWidget* parent, const QString& title, const QString& folder,
                         const QString& filter, bool multiple) {
    if (multiple) return QFileDialog::getOpenFileNames(parent, title, folder, filter);
    const QString file = QFileDialog::getOpenFileName(parent, title, folder, filter);
    return file.isEmpty() ? QStringList() : QStringList{file};
}

QString DefaultFolderChooser(QWidget* parent, const QString& title, const QString& folder) {
    return QFileDialog::getExistingDirectory(parent, title, folder);
}

QLineEdit* NumberField(QWidget* parent, const char* name) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    edit->setAlignment(Qt::AlignRight);
    edit->setMinimumWidth(90);
    return edit;
}

// `value` one `step` up (direction > 0) or down, staying within
// [lowest, highest]; unchanged where the step would leave that range.
uint64_t Stepped(uint64_t value, int direction, uint64_t lowest, uint64_t highest,
                 uint64_t step = 1) {
    if (direction > 0 && highest >= step && value <= highest - step) return value + step;
    if (direction < 0 && value >= lowest && value - lowest >= step) return value - step;
    return value;
}

SpinArrows* Spin(QWidget* parent, const char* name) {
    auto* spin = new SpinArrows(parent);
    spin->setObjectName(QLatin1String(name));
    return spin;
}

// A slider over the scale of the parameters' values.
QSlider* ScaleSlider(QWidget* parent, const char* name) {
    auto* slider = new QSlider(Qt::Horizontal, parent);
    slider->setObjectName(QLatin1String(name));
    slider->setRange(0, kSliderRange);
    slider->setSingleStep(1);
    slider->setPageStep(kSliderPageStep);
    return slider;
}

QLabel* Value(QWidget* parent, const char* name) {
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

// A field with its arrows on one row.
QWidget* FieldWithSpin(QLineEdit* field, SpinArrows* spin, QWidget* parent) {
    auto* box = new QWidget(parent);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(2);
    row->addWidget(field);
    row->addWidget(spin);
    return box;
}

// Where a slider action moves a value kept from `low` to `high`: to an end
// for the to-minimum and to-maximum actions, else to `atPosition`, the value
// at the slider's new position. A single or page step moves at least one
// from `previous` where the scale alone would not.
uint64_t SliderTarget(int action, uint64_t previous, uint64_t low, uint64_t high,
                      uint64_t atPosition) {
    if (action == QAbstractSlider::SliderToMinimum) return low;
    if (action == QAbstractSlider::SliderToMaximum) return high;
    const bool up = action == QAbstractSlider::SliderSingleStepAdd ||
                    action == QAbstractSlider::SliderPageStepAdd;
    const bool down = action == QAbstractSlider::SliderSingleStepSub ||
                      action == QAbstractSlider::SliderPageStepSub;
    if (up && atPosition <= previous && previous < high) return previous + 1;
    if (down && atPosition >= previous && previous > low) return previous - 1;
    return atPosition;
}

}  // namespace

QString ChooserNameFilter(int id) {
    const std::string entry = GetString(id);
    const size_t bar = entry.find('|');
    const std::string text = entry.substr(0, bar);
    std::string patterns = bar == std::string::npos
                               ? std::string("*")
                               : entry.substr(bar + 1, entry.find('|', bar + 1) - bar - 1);
    QStringList list;
    for (const QString& p : Q(patterns).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        // "*.*" stands for every file, but a file chooser here would only
        // match names with a dot in them; "*" shows the others too.
        if (p == QLatin1String("*.*")) {
            list << QStringLiteral("*");
            continue;
        }
        list << p;
        if (p.toLower() != p) list << p.toLower();
    }
    return FilterDescription(Q(text)) + QStringLiteral(" (") + list.join(QLatin1Char(' ')) +
           QStringLiteral(")");
}

FileChooser DefaultFileChooser() {
    return ChooseWithQt;
}

MachineFigures CurrentMachineFigures() {
    MachineFigures figures;
    if (Application* app = Application::Current()) {
        figures.physicalMemoryBytes = app->physicalMemoryBytes;
        figures.bytesPerSecond = app->bytesPerSecond;
        figures.tableSetupsPerSecond = app->tableSetupsPerSecond;
    }
    return figures;
}

CreateDialog::CreateDialog(Settings& settings, const std::vector<std::string>& files,
                           QWidget* parent)
    : CreateDialog(settings,
                   std::make_unique<CreationParameters>(CreationSettingsFrom(settings),
                                                        CurrentMachineFigures()),
                   parent) {
    AddFiles(files);
}

CreateDialog::CreateDialog(Settings& settings, std::unique_ptr<CreationParameters> parameters,
                           QWidget* parent)
    : QDialog(parent),
      settings_(settings),
      parameters_(std::move(parameters)),
      fileChooser_(ChooseWithQt),
      folderChooser_(DefaultFolderChooser) {
    setAttribute(Qt::WA_DeleteOnClose);
    setAcceptDrops(true);
    setWindowTitle(Q(GetString(kStrCreateDialogTitle)));
    InstallHelpKey(this);
    // A stopped creation or an extension comes back with its names chosen.
    typedBaseName_ = parameters_->baseName;
    typedPath_ = parameters_->destinationPath;
    BuildControls();
    ConnectControls();
    FillFileList();
    Refresh();
    RestoreLayout();
}

CreateDialog::~CreateDialog() = default;

void CreateDialog::BuildControls() {
    auto* top = new QVBoxLayout(this);

    AddTopRowWithMenu(
        top, this, new QLabel(QStringLiteral("File sorgente:"), this),
        [this] { ShowPreferences(); }, [this] { ShowAbout(); });
    fileList_ = MakeFileList(this, kStrColumnPath);
    fileList_->setRootIsDecorated(false);
    fileList_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    fileList_->setMinimumHeight(120);
    top->addWidget(fileList_, 1);

    auto* listButtons = new QHBoxLayout;
    addButton_ = NamedButton(QStringLiteral("Aggiungi File"), this, "addButton");
    removeButton_ = NamedButton(QStringLiteral("Rimuovi File"), this, "removeButton");
    splitCheck_ = new QCheckBox(QStringLiteral("Spezza File"), this);
    splitCheck_->setObjectName(QStringLiteral("splitCheck"));
    splitLimitEdit_ = NumberField(this, "splitLimitEdit");
    splitLimitSpin_ = Spin(this, "splitLimitSpin");
    clearButton_ = NamedButton(QStringLiteral("Cancella Lista"), this, "clearButton");
    listButtons->addWidget(addButton_);
    listButtons->addWidget(removeButton_);
    listButtons->addSpacing(12);
    listButtons->addWidget(splitCheck_);
    listButtons->addWidget(new QLabel(QStringLiteral("Limita dimensione a:"), this));
    listButtons->addWidget(FieldWithSpin(splitLimitEdit_, splitLimitSpin_, this));
    listButtons->addStretch(1);
    listButtons->addWidget(clearButton_);
    top->addLayout(listButtons);

    auto* totals = new QGridLayout;
    fileCountValue_ = Value(this, "fileCountValue");
    totalSizeValue_ = Value(this, "totalSizeValue");
    totals->addWidget(new QLabel(QStringLiteral("Numero di file selezionati"), this), 0, 0);
    totals->addWidget(fileCountValue_, 0, 1);
    totals->addWidget(new QLabel(QStringLiteral("Dimensione totale dei dati:"), this), 0, 2);
    totals->addWidget(totalSizeValue_, 0, 3);
    totals->setColumnStretch(1, 1);
    totals->setColumnStretch(3, 1);
    // A figure is right-aligned in its column: the gap keeps it clear of
    // the label that follows.
    totals->setHorizontalSpacing(24);
    top->addLayout(totals);

    auto* blocks = new QGroupBox(QStringLiteral("Allocazione blocchi:"), this);
    auto* blocksGrid = new QGridLayout(blocks);
    sourceSlider_ = ScaleSlider(blocks, "sourceSlider");
    sourceBlocksEdit_ = NumberField(blocks, "sourceBlocksEdit");
    sourceBlocksSpin_ = Spin(blocks, "sourceBlocksSpin");
    usenetCheck_ = new QCheckBox(
        QStringLiteral("Limita dimensione dei blocchi a multipli di articoli UseNet"), blocks);
    usenetCheck_->setObjectName(QStringLiteral("usenetCheck"));
    blockSizeEdit_ = NumberField(blocks, "blockSizeEdit");
    blockSizeSpin_ = Spin(blocks, "blockSizeSpin");
    blocksGrid->addWidget(new QLabel(QStringLiteral("Numero Blocchi nella sorgente:"), blocks), 0,
                          0);
    blocksGrid->addWidget(sourceSlider_, 0, 1);
    blocksGrid->addWidget(FieldWithSpin(sourceBlocksEdit_, sourceBlocksSpin_, blocks), 0, 2);
    blocksGrid->addWidget(usenetCheck_, 1, 0, 1, 2);
    blocksGrid->addWidget(new QLabel(QStringLiteral("Dimensione del Blocco:"), blocks), 2, 0);
    blocksGrid->addWidget(FieldWithSpin(blockSizeEdit_, blockSizeSpin_, blocks), 2, 2);
    blocksGrid->setColumnStretch(1, 1);
    top->addWidget(blocks);

    auto* recovery = new QGroupBox(QStringLiteral("Recupera File:"), this);
    auto* grid = new QGridLayout(recovery);
    int row = 0;
    baseNameEdit_ = new QLineEdit(recovery);
    baseNameEdit_->setObjectName(QStringLiteral("baseNameEdit"));
    pathEdit_ = new QLineEdit(recovery);
    pathEdit_->setObjectName(QStringLiteral("pathEdit"));
    browseButton_ = NamedButton(QStringLiteral("Sfoglia"), recovery, "browseButton");
    grid->addWidget(new QLabel(QStringLiteral("Nome del File di Base:"), recovery), row, 0);
    grid->addWidget(baseNameEdit_, row++, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Percorso:"), recovery), row, 0);
    grid->addWidget(pathEdit_, row, 1);
    grid->addWidget(browseButton_, row++, 2);

    redundancySlider_ = ScaleSlider(recovery, "redundancySlider");
    redundancyValue_ = Value(recovery, "redundancyValue");
    grid->addWidget(new QLabel(QStringLiteral("Ridondanza:"), recovery), row, 0);
    grid->addWidget(redundancySlider_, row, 1);
    grid->addWidget(redundancyValue_, row++, 2);

    firstBlockEdit_ = NumberField(recovery, "firstBlockEdit");
    firstBlockSpin_ = Spin(recovery, "firstBlockSpin");
    grid->addWidget(new QLabel(QStringLiteral("Numero dei Primi blocchi di recupero:"), recovery),
                    row, 0, 1, 2);
    grid->addWidget(FieldWithSpin(firstBlockEdit_, firstBlockSpin_, recovery), row++, 2);
    recoveryBlocksEdit_ = NumberField(recovery, "recoveryBlocksEdit");
    recoveryBlocksSpin_ = Spin(recovery, "recoveryBlocksSpin");
    grid->addWidget(new QLabel(QStringLiteral("Numero dei blocchi di recupero:"), recovery), row, 0,
                    1, 2);
    grid->addWidget(FieldWithSpin(recoveryBlocksEdit_, recoveryBlocksSpin_, recovery), row++, 2);

    schemeCombo_ = new QComboBox(recovery);
    schemeCombo_->setObjectName(QStringLiteral("schemeCombo"));
    schemeCombo_->addItem(Q(GetString(kStrSchemePowersOfTwo)));
    schemeCombo_->addItem(Q(GetString(kStrSchemeLimitedToLargest)));
    schemeCombo_->addItem(Q(GetString(kStrSchemeEqualSizes)));
    grid->addWidget(new QLabel(QStringLiteral("Dimensione dei file di recupero:"), recovery), row,
                    0);
    grid->addWidget(schemeCombo_, row++, 1, 1, 2);
    fileCountEdit_ = NumberField(recovery, "fileCountEdit");
    fileCountSpin_ = Spin(recovery, "fileCountSpin");
    grid->addWidget(new QLabel(QStringLiteral("Numero di file di Recupero:"), recovery), row, 0, 1,
                    2);
    grid->addWidget(FieldWithSpin(fileCountEdit_, fileCountSpin_, recovery), row++, 2);

    recoveryDataSizeValue_ = Value(recovery, "recoveryDataSizeValue");
    rebuildableValue_ = Value(recovery, "rebuildableValue");
    efficiencyValue_ = Value(recovery, "efficiencyValue");
    timeCaption_ = new QLabel(recovery);
    timeCaption_->setObjectName(QStringLiteral("timeCaption"));
    timeValue_ = Value(recovery, "timeValue");
    grid->addWidget(new QLabel(QStringLiteral("Dimensione dei dati da Recuperare:"), recovery), row,
                    0, 1, 2);
    grid->addWidget(recoveryDataSizeValue_, row++, 2);
    grid->addWidget(new QLabel(QStringLiteral("Numero di file che possono essere totalmente "
                                              "ricostruiti se mancanti (Minimo - Massimo)"),
                               recovery),
                    row, 0, 1, 2);
    grid->addWidget(rebuildableValue_, row++, 2);
    grid->addWidget(new QLabel(QStringLiteral("Efficienza:"), recovery), row, 0, 1, 2);
    grid->addWidget(efficiencyValue_, row++, 2);
    grid->addWidget(timeCaption_, row, 0, 1, 2);
    grid->addWidget(timeValue_, row++, 2);
    grid->setColumnStretch(1, 1);
    top->addWidget(recovery);

    auto* buttons = new QHBoxLayout;
    createButton_ = NamedButton(QStringLiteral("Crea"), this, "createButton");
    openButton_ = NamedButton(QStringLiteral("Apri"), this, "openButton");
    exitButton_ = NamedButton(QStringLiteral("Esci"), this, "exitButton");
    preferencesButton_ = NamedButton(QStringLiteral("Preferenze"), this, "preferencesButton");
    aboutButton_ = NamedButton(QStringLiteral("Informazioni"), this, "aboutButton");
    buttons->addWidget(createButton_);
    buttons->addWidget(openButton_);
    buttons->addWidget(exitButton_);
    buttons->addStretch(1);
    buttons->addWidget(preferencesButton_);
    buttons->addWidget(aboutButton_);
    top->addLayout(buttons);

    // The speed behind the estimate is measured once, at start-up.
    timeCaption_->setText(Q(CalculationTimeCaption(parameters_->machine.bytesPerSecond)));
    const uint32_t scheme = parameters_->sizeScheme;
    schemeCombo_->setCurrentIndex(scheme == kLimitedToLargest ? 1 : scheme == kUniform ? 2 : 0);
}

void CreateDialog::ConnectControls() {
    connect(addButton_, &QPushButton::clicked, this, &CreateDialog::ChooseFiles);
    connect(removeButton_, &QPushButton::clicked, this, &CreateDialog::RemoveSelected);
    connect(clearButton_, &QPushButton::clicked, this, &CreateDialog::ClearList);
    connect(browseButton_, &QPushButton::clicked, this, &CreateDialog::BrowseFolder);
    connect(openButton_, &QPushButton::clicked, this, &CreateDialog::OpenSet);
    connect(createButton_, &QPushButton::clicked, this, &CreateDialog::Create);
    connect(exitButton_, &QPushButton::clicked, this, &CreateDialog::close);
    connect(preferencesButton_, &QPushButton::clicked, this, &CreateDialog::ShowPreferences);
    connect(aboutButton_, &QPushButton::clicked, this, &CreateDialog::ShowAbout);
    connect(fileList_, &QTreeWidget::itemSelectionChanged, this, &CreateDialog::RefreshEnabling);

    connect(sourceSlider_, &QSlider::actionTriggered, this, &CreateDialog::OnSourceSliderAction);
    connect(redundancySlider_, &QSlider::actionTriggered, this,
            &CreateDialog::OnRedundancySliderAction);
    connect(usenetCheck_, &QCheckBox::clicked, this, &CreateDialog::OnUsenetToggled);
    connect(schemeCombo_, QOverload<int>::of(&QComboBox::activated), this,
            &CreateDialog::OnSchemeChosen);
    connect(splitCheck_, &QCheckBox::clicked, this, &CreateDialog::OnSplitToggled);
    connect(baseNameEdit_, &QLineEdit::textChanged, this, &CreateDialog::OnBaseNameEdited);
    connect(pathEdit_, &QLineEdit::textChanged, this, &CreateDialog::OnPathEdited);

    // The number fields: a number typed in, or a step of the field's arrows.
    const struct {
        QLineEdit* edit;
        void (CreateDialog::*typed)();
        SpinArrows* spin;
        void (CreateDialog::*step)(int);
    } numberFields[] = {
        {sourceBlocksEdit_, &CreateDialog::OnSourceBlocksTyped, sourceBlocksSpin_,
         &CreateDialog::OnSourceBlocksStep},
        {blockSizeEdit_, &CreateDialog::OnBlockSizeTyped, blockSizeSpin_,
         &CreateDialog::OnBlockSizeStep},
        {recoveryBlocksEdit_, &CreateDialog::OnRecoveryBlocksTyped, recoveryBlocksSpin_,
         &CreateDialog::OnRecoveryBlocksStep},
        {firstBlockEdit_, &CreateDialog::OnFirstBlockTyped, firstBlockSpin_,
         &CreateDialog::OnFirstBlockStep},
        {fileCountEdit_, &CreateDialog::OnFileCountTyped, fileCountSpin_,
         &CreateDialog::OnFileCountStep},
        {splitLimitEdit_, &CreateDialog::OnSplitLimitTyped, splitLimitSpin_,
         &CreateDialog::OnSplitLimitStep},
    };
    for (const auto& field : numberFields) {
        connect(field.edit, &QLineEdit::editingFinished, this, field.typed);
        connect(field.spin, &SpinArrows::stepped, this, field.step);
    }
}

void CreateDialog::RestoreLayout() {
    fileList_->setColumnWidth(0, static_cast<int>(settings_.createFilenameWidth));
    fileList_->setColumnWidth(1, static_cast<int>(settings_.createFilesizeWidth));
    adjustSize();
    // Only the height may change; it never goes below the laid-out height.
    const int baseHeight = height();
    setMinimumHeight(sizeHint().height());
    setFixedWidth(std::max(width(), 640));
    const int stored = static_cast<int>(std::min<uint32_t>(settings_.createDialogueHeight, 4000));
    resize(width(), std::max(baseHeight, stored));
}

void CreateDialog::SaveLayout() {
    settings_.createFilenameWidth = static_cast<uint32_t>(std::max(fileList_->columnWidth(0), 0));
    settings_.createFilesizeWidth = static_cast<uint32_t>(std::max(fileList_->columnWidth(1), 0));
    settings_.createDialogueHeight = static_cast<uint32_t>(std::max(height(), 0));
    settings_.SaveLayout();
}

void CreateDialog::closeEvent(QCloseEvent* event) {
    SaveLayout();
    // Accepted here: the dialog's own handling would call reject(), which closes.
    event->accept();
}

void CreateDialog::Beep() {
    ++beeps_;
    if (settings_.sounds) QApplication::beep();
}

void CreateDialog::AddFiles(const std::vector<std::string>& paths) {
    bool added = false;
    std::vector<CreationSourceFile> all = WithFilesAdded(parameters_->files(), paths, added);
    if (!added) return;
    parameters_->ClearFiles();
    parameters_->AddFiles(all);
    FillFileList();
    Refresh();
}

void CreateDialog::FillFileList() {
    fileList_->clear();
    const auto& files = parameters_->files();
    const std::string destination = DestinationFolder(typedPath_, parameters_->defaultPath);
    std::vector<size_t> order(files.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return LessNoCase(files[a].path, files[b].path); });
    QList<QTreeWidgetItem*> items;
    for (size_t index : order) {
        const auto& file = files[index];
        auto* item = new QTreeWidgetItem;
        // The name the set will store: the path below the destination
        // folder, or the plain name of a file elsewhere.
        item->setText(0, Q(StoredNameBelow(file.path, destination)));
        item->setText(1, Grouped(file.size));
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        item->setText(2, Q(FolderOfPath(file.path)));
        item->setData(0, Qt::UserRole, QVariant::fromValue<qulonglong>(index));
        items << item;
    }
    fileList_->addTopLevelItems(items);
}

void CreateDialog::ChooseFiles() {
    if (!parameters_->fileListEditable) return;
    const QStringList files =
        fileChooser_(this, Q(GetString(kStrSelectFilesTitle)), Q(LastFolder()),
                     ChooserNameFilter(kStrFilterAllFiles), true);
    if (files.isEmpty()) return;
    if (SelectionCharacters(files) > kSelectionBufferCharacters) {
        LocalizedMessageBox(this, GetString(kStrTooManyFilesSelected),
                            GetString(kStrSelectFilesTitle), kMbOk | kMbIconExclamation);
        return;
    }
    RememberFolderOf(PathBytes(files.front()));
    std::vector<std::string> paths;
    for (const QString& file : files) paths.push_back(PathBytes(file));
    AddFiles(paths);
}

void CreateDialog::RemoveSelected() {
    if (!parameters_->fileListEditable) return;
    std::vector<size_t> indices;
    for (QTreeWidgetItem* item : fileList_->selectedItems())
        indices.push_back(static_cast<size_t>(item->data(0, Qt::UserRole).toULongLong()));
    if (indices.empty()) return;
    parameters_->RemoveFiles(indices);
    FillFileList();
    Refresh();
}

void CreateDialog::ClearList() {
    if (parameters_->files().empty()) return;
    typedBaseName_.clear();
    typedPath_.clear();
    // Clearing the files of a set being extended ends the extension: the
    // window is a new creation again.
    parameters_->ClearFiles();
    FillFileList();
    Refresh();
}

void CreateDialog::dragEnterEvent(QDragEnterEvent* event) {
    if (parameters_->fileListEditable && event->mimeData()->hasUrls())
        event->acceptProposedAction();
    else
        event->ignore();
}

void CreateDialog::dragMoveEvent(QDragMoveEvent* event) {
    if (parameters_->fileListEditable && event->mimeData()->hasUrls())
        event->acceptProposedAction();
    else
        event->ignore();
}

void CreateDialog::dropEvent(QDropEvent* event) {
    if (!parameters_->fileListEditable) {
        event->ignore();
        return;
    }
    const std::vector<std::string> paths = DroppedPaths(event->mimeData(), true);
    event->acceptProposedAction();
    AddFiles(paths);
}

void CreateDialog::SetFieldText(QLineEdit* field, const QString& text) {
    if (field->text() == text) return;
    const bool was = settingTexts_;
    settingTexts_ = true;
    field->setText(text);
    settingTexts_ = was;
}

void CreateDialog::Refresh() {
    const CreationParameters& p = *parameters_;
    fileCountValue_->setText(Grouped(static_cast<uint64_t>(p.files().size())));
    totalSizeValue_->setText(Grouped(p.totalDataSize));
    SetFieldText(sourceBlocksEdit_, Grouped(p.sourceBlockCount));
    SetFieldText(blockSizeEdit_, Grouped(p.blockSize));
    SetFieldText(recoveryBlocksEdit_, Grouped(p.recoveryBlockCount));
    SetFieldText(firstBlockEdit_, Grouped(p.firstRecoveryBlock));
    SetFieldText(fileCountEdit_, Grouped(uint64_t{p.recoveryFileCount}));
    SetFieldText(splitLimitEdit_, Grouped(p.splitLimit));
    {
        const QSignalBlocker a(usenetCheck_), b(splitCheck_);
        usenetCheck_->setChecked(p.blockGranule > 4);
        splitCheck_->setChecked(p.splitSourceFiles);
    }
    {
        const QSignalBlocker a(sourceSlider_), b(redundancySlider_);
        sourceSlider_->setSliderPosition(static_cast<int>(p.sourceBlockPosition()));
        redundancySlider_->setSliderPosition(static_cast<int>(p.recoveryBlockPosition()));
    }
    redundancyValue_->setText(Q(RedundancyText(p.redundancy)));
    recoveryDataSizeValue_->setText(Grouped(p.recoveryDataSize()));
    uint32_t minimum = 0, maximum = 0;
    p.rebuildableFiles(minimum, maximum);
    rebuildableValue_->setText(Q(RebuildableFilesText(minimum, maximum)));
    efficiencyValue_->setText(Q(EfficiencyText(p.efficiency())));
    timeValue_->setText(Q(EstimatedTimeText(p.processingSeconds())));
    // The name and path fields show the typed text, or the default.
    SetFieldText(baseNameEdit_, Q(typedBaseName_.empty() ? p.offeredBaseName() : typedBaseName_));
    SetFieldText(pathEdit_, Q(typedPath_.empty() ? p.defaultPath : typedPath_));
    RefreshEnabling();
}

void CreateDialog::RefreshEnabling() {
    const CreationParameters& p = *parameters_;
    const bool listed = !p.files().empty();
    const bool editable = p.fileListEditable;
    const bool both = listed && editable;
    addButton_->setEnabled(editable);
    removeButton_->setEnabled(editable && !fileList_->selectedItems().isEmpty());
    clearButton_->setEnabled(listed);
    for (QWidget* w : std::initializer_list<QWidget*>{
             sourceSlider_, sourceBlocksEdit_, sourceBlocksSpin_, blockSizeEdit_, blockSizeSpin_,
             usenetCheck_, baseNameEdit_, pathEdit_, browseButton_, splitCheck_})
        w->setEnabled(both);
    for (QWidget* w : std::initializer_list<QWidget*>{redundancySlider_, recoveryBlocksEdit_,
                                                      recoveryBlocksSpin_, firstBlockEdit_,
                                                      firstBlockSpin_, schemeCombo_})
        w->setEnabled(listed);
    const bool counted = listed && p.sizeScheme != kLimitedToLargest;
    fileCountEdit_->setEnabled(counted);
    fileCountSpin_->setEnabled(counted);
    splitLimitEdit_->setEnabled(listed && p.splitSourceFiles);
    splitLimitSpin_->setEnabled(listed && p.splitSourceFiles);
    createButton_->setEnabled(listed && !baseNameEdit_->text().isEmpty() &&
                              !pathEdit_->text().isEmpty());
    openButton_->setEnabled(true);
    preferencesButton_->setEnabled(kPreferencesAvailable);
    aboutButton_->setEnabled(kAboutBoxAvailable);
}

// ---- Sliders

void CreateDialog::OnSourceSliderAction(int action) {
    CreationParameters& p = *parameters_;
    if (p.files().empty() || !p.fileListEditable) return;
    const uint64_t previous = p.sourceBlockCount;
    const uint64_t previousBlockSize = p.blockSize;
    const uint64_t target =
        SliderTarget(action, previous, p.minSourceBlocks, p.maxSourceBlocks,
                     p.sourceBlocksAt(static_cast<uint32_t>(sourceSlider_->sliderPosition())));
    p.setSourceBlockCount(target);
    const auto distance = [](uint64_t a, uint64_t b) { return a > b ? a - b : b - a; };
    if (distance(p.sourceBlockCount, target) > distance(previous, target))
        p.setBlockSize(previousBlockSize);
    Refresh();
}

void CreateDialog::OnRedundancySliderAction(int action) {
    CreationParameters& p = *parameters_;
    if (p.files().empty()) return;
    const uint64_t s = p.sourceBlockCount;
    const uint64_t previous = p.recoveryBlockCount;
    uint64_t target = SliderTarget(
        action, previous, 1, s,
        p.recoveryBlocksAt(static_cast<uint32_t>(redundancySlider_->sliderPosition())));
    if (s == 0) return;
    target = std::clamp<uint64_t>(target, 1, s);
    p.setRecoveryBlockCount(target);
    Refresh();
}

// ---- Number fields and their arrows

template <class Apply>
void CreateDialog::ApplyTyped(const QLineEdit* field, Apply apply) {
    uint64_t value = 0;
    if (!parameters_->files().empty() && ReadTypedNumber(S(field->text()), value)) {
        apply(*parameters_, value);
    }
    Refresh();
}

template <class T, class Set>
void CreateDialog::StepValue(const T& value, uint64_t target, Set set) {
    const uint64_t previous = value;
    if (target != previous) set(target);
    if (value == previous) Beep();
    Refresh();
}

void CreateDialog::OnSourceBlocksTyped() {
    ApplyTyped(sourceBlocksEdit_, [](CreationParameters& p, uint64_t value) {
        p.setSourceBlockCount(std::clamp(value, p.minSourceBlocks, p.maxSourceBlocks));
    });
}

void CreateDialog::OnSourceBlocksStep(int direction) {
    CreationParameters& p = *parameters_;
    const uint64_t target = p.files().empty() ? p.sourceBlockCount
                                              : Stepped(p.sourceBlockCount, direction,
                                                        p.minSourceBlocks, p.maxSourceBlocks);
    StepValue(p.sourceBlockCount, target, [&p](uint64_t v) { p.setSourceBlockCount(v); });
}

void CreateDialog::OnBlockSizeTyped() {
    ApplyTyped(blockSizeEdit_, [](CreationParameters& p, uint64_t value) {
        p.setBlockSize(
            TypedBlockSize(value, p.blockSize, p.blockGranule, p.minBlockSize, p.maxBlockSize));
    });
}

void CreateDialog::OnBlockSizeStep(int direction) {
    CreationParameters& p = *parameters_;
    const uint64_t target = p.files().empty()
                                ? p.blockSize
                                : std::clamp(Stepped(p.blockSize, direction, p.minBlockSize,
                                                     p.maxBlockSize, p.blockGranule),
                                             p.minBlockSize, p.maxBlockSize);
    StepValue(p.blockSize, target, [&p](uint64_t v) { p.setBlockSize(v); });
}

void CreateDialog::OnUsenetToggled(bool on) {
    if (!parameters_->files().empty()) parameters_->setGranuleRestriction(on);
    Refresh();
}

void CreateDialog::OnRecoveryBlocksTyped() {
    ApplyTyped(recoveryBlocksEdit_, [](CreationParameters& p, uint64_t value) {
        value = std::min(value, p.sourceBlockCount);
        if (value != p.recoveryBlockCount) p.setRecoveryBlockCount(value);
    });
}

void CreateDialog::OnRecoveryBlocksStep(int direction) {
    CreationParameters& p = *parameters_;
    StepValue(p.recoveryBlockCount, Stepped(p.recoveryBlockCount, direction, 0, p.sourceBlockCount),
              [&p](uint64_t v) { p.setRecoveryBlockCount(v); });
}

void CreateDialog::OnFirstBlockTyped() {
    ApplyTyped(firstBlockEdit_,
               [](CreationParameters& p, uint64_t value) { p.setFirstRecoveryBlock(value); });
}

void CreateDialog::OnFirstBlockStep(int direction) {
    CreationParameters& p = *parameters_;
    StepValue(p.firstRecoveryBlock,
              Stepped(p.firstRecoveryBlock, direction, p.lowestFirstBlock, UINT64_MAX),
              [&p](uint64_t v) { p.setFirstRecoveryBlock(v); });
}

void CreateDialog::OnSchemeChosen(int index) {
    if (index < 0 || index > 2) {
        index = 0;
        schemeCombo_->setCurrentIndex(0);
    }
    parameters_->setSizeScheme(static_cast<uint32_t>(index + 1));
    Refresh();
}

void CreateDialog::OnFileCountTyped() {
    ApplyTyped(fileCountEdit_, [](CreationParameters& p, uint64_t value) {
        p.setRecoveryFileCount(static_cast<uint32_t>(std::min<uint64_t>(value, UINT32_MAX)));
    });
}

void CreateDialog::OnFileCountStep(int direction) {
    CreationParameters& p = *parameters_;
    if (p.sourceBlockCount == 0) {
        Beep();
        return;
    }
    StepValue(p.recoveryFileCount, Stepped(p.recoveryFileCount, direction, 1, UINT32_MAX),
              [&p](uint64_t v) { p.setRecoveryFileCount(static_cast<uint32_t>(v)); });
}

void CreateDialog::OnSplitToggled(bool on) {
    if (!parameters_->files().empty()) parameters_->setSplit(on);
    Refresh();
}

void CreateDialog::OnSplitLimitTyped() {
    ApplyTyped(splitLimitEdit_,
               [](CreationParameters& p, uint64_t value) { p.setSplitLimit(value); });
}

void CreateDialog::OnSplitLimitStep(int direction) {
    CreationParameters& p = *parameters_;
    const uint64_t previous = p.splitLimit;
    const uint64_t step = std::max<uint64_t>(p.splitStep(), 1);
    // The limit first goes to the nearest multiple of the step. Worked out
    // wider than the limit, so that a step at the top of the range stays
    // there instead of wrapping round to the smallest limit.
    using Wide = unsigned __int128;
    Wide target = (Wide{previous} + step / 2) / step * step;
    if (direction > 0) target += step;
    if (direction < 0) target = target > step ? target - step : 0;
    if (target > UINT64_MAX) target = direction > 0 ? previous : UINT64_MAX / step * step;
    p.setSplitLimit(static_cast<uint64_t>(target));
    if (p.splitLimit == previous) Beep();
    Refresh();
}

// ---- Names

void CreateDialog::OnBaseNameEdited(const QString& text) {
    if (settingTexts_) return;
    typedBaseName_ = PathBytes(text);
    if (text.isEmpty()) SetFieldText(baseNameEdit_, Q(parameters_->offeredBaseName()));
    RefreshEnabling();
}

void CreateDialog::OnPathEdited(const QString& text) {
    if (settingTexts_) return;
    typedPath_ = PathBytes(text);
    if (text.isEmpty()) SetFieldText(pathEdit_, Q(parameters_->defaultPath));
    FillFileList();  // the names shown are relative to the destination
    RefreshEnabling();
}

void CreateDialog::BrowseFolder() {
    const QString folder =
        folderChooser_(this, Q(GetString(kStrSelectFolderTitle)), pathEdit_->text());
    if (folder.isEmpty()) return;
    QString path = folder;
    if (!path.endsWith(QLatin1Char('/'))) path += QLatin1Char('/');
    pathEdit_->setText(path);  // as if typed
}

// ---- Buttons

void CreateDialog::OpenSet() {
    const QString filter = ChooserNameFilter(kStrFilterRecoveryVolumes) + QStringLiteral(";;") +
                           ChooserNameFilter(kStrFilterChecksumFiles);
    const QStringList files = fileChooser_(this, Q(GetString(kStrSelectRecoveryVolumeTitle)),
                                           Q(LastFolder()), filter, false);
    if (files.isEmpty()) return;
    RememberFolderOf(PathBytes(files.front()));
    // Without a verify dialog (it said why) the user stays here.
    if (QWidget* next = OpenVerifyDialog(settings_, PathBytes(files.front())))
        ReplaceMainWindow(this, next);
}

// Both are modal. The preferred block size belongs to the preferences: once
// they are confirmed, the next default block size and a Usenet restriction
// switched on from now on use the new one.
void CreateDialog::ShowPreferences() {
    if (ShowPreferencesDialog(settings_, this))
        parameters_->settings.preferredBlockSize = settings_.preferredBlockSize;
}

void CreateDialog::ShowAbout() {
    ShowAboutBox(this);
}

void CreateDialog::contextMenuEvent(QContextMenuEvent* event) {
    ShowDialogContextMenu(this, event->globalPos());
}

bool CreateDialog::CheckDestination(const std::string& folder) {
    const std::string path = DestinationTestPath(folder);
    const PathKind kind = KindOfPath(path);
    if (kind == PathKind::Missing) {
        const std::string question = FormatString(kStrCreateDestinationQuestion, {path});
        if (LocalizedMessageBox(this, question, GetString(kStrBadDestinationCaption),
                                kMbYesNo | kMbIconQuestion) != kIdYes)
            return false;
        const MakeFoldersResult made = MakeDestinationFolders(path);
        if (!made.ok) {
            // Which folder failed, and the system's reason.
            LocalizedMessageBox(this,
                                GetString(kStrCannotCreateDestination) + "\n\n" +
                                    made.failedFolder + "\n\n" + SystemErrorMessage(made.error),
                                GetString(kStrBadDestinationCaption), kMbOk | kMbIconExclamation);
            return false;
        }
        return true;
    }
    if (kind != PathKind::Folder) {
        LocalizedMessageBox(this, GetString(kStrDestinationIsFile),
                            GetString(kStrBadDestinationCaption), kMbOk | kMbIconExclamation);
        return false;
    }
    return true;
}

void CreateDialog::Create() {
    CreationParameters& p = *parameters_;
    if (p.files().empty()) return;
    const std::string name = CreationBaseName(typedBaseName_, p.defaultBaseName, p.folderBaseName);
    if (name.empty()) return;
    p.baseName = name;
    p.destinationPath = DestinationFolder(typedPath_, p.defaultPath);
    // Files below the destination keep their place in the tree; two files
    // that would be stored under one name cannot both be in the set.
    std::vector<CreationSourceFile> named = p.files();
    for (CreationSourceFile& file : named) {
        file.storedName = StoredNameBelow(file.path, p.destinationPath);
    }
    std::string clash, first, second;
    if (FindStoredNameClash(named, clash, first, second)) {
        LocalizedMessageBox(this, StoredNameClashText(clash, first, second),
                            GetString(kStrCreateDialogTitle), kMbOk | kMbIconExclamation);
        return;
    }
    if (!CheckDestination(p.destinationPath)) {
        pathEdit_->setFocus();
        return;
    }
    p.SetStoredNames(named);
    hide();
    settings_.recoveryBlockFraction = p.redundancy;
    settings_.restrictBlockSize = p.blockGranule > 4;
    settings_.recoveryFileSizeScheme = p.sizeScheme;
    settings_.splitSourceFiles = p.splitSourceFiles;
    settings_.splitSourceLimit = static_cast<int64_t>(std::min<uint64_t>(p.splitLimit, INT64_MAX));
    settings_.SaveOptions();

    auto* progress = new CreationProgressDialog(settings_, std::move(parameters_), jobOptions_);
    if (!progress->Start()) {
        // No thread for the job: the choices stay here, and so does the user.
        parameters_ = progress->TakeParameters();
        delete progress;
        show();
        return;
    }
    ReplaceMainWindow(this, progress);
}

void CreateDialog::reject() {
    close();
}

}  // namespace vantrove
