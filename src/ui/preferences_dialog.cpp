#include "ui/preferences_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <limits>

#include "app/digit_grouping.h"
#include "app/process_priority.h"
#include "app/settings.h"
#include "app/shell_integration.h"
#include "core/string_ids.h"
#include "core/string_table.h"
#include "ui/help_key.h"
#include "ui/spin_arrows.h"

namespace vantrove {
namespace {

constexpr uint32_t kLargestNumber = std::numeric_limits<uint32_t>::max();
// The largest multiple of 4 that fits in 32 bits.
constexpr uint32_t kLargestMultipleOf4 = kLargestNumber & ~3u;
constexpr int kEditTextLimit = 100;

// Bytes per unit of each row, for the block size and the article size.
constexpr uint64_t kBlockBytes[3] = {1, kYEncLineBytes, kUUEncodeLineBytes};
constexpr uint64_t kArticleBytes[3] = {0, 134, 63};
// Step and minimum of each row.
constexpr int64_t kStep[3] = {4, 1, 4};
constexpr int64_t kMinimum[3] = {4, 1, 4};
constexpr int64_t kMaximum[3] = {kLargestMultipleOf4, kLargestNumber, kLargestMultipleOf4};

QString Bytes(uint64_t count) {
    return QString::fromStdString(FormatGrouped(count) + GetString(kStrByteSuffix));
}

}  // namespace

uint32_t DigitsValue(const QString& text) {
    uint64_t value = 0;
    for (QChar c : text.left(kEditTextLimit)) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) continue;
        value = value * 10 + static_cast<uint64_t>(c.unicode() - '0');
        if (value > kLargestNumber) return kLargestNumber;
    }
    return static_cast<uint32_t>(value);
}

uint32_t CorrectedValue(PreferencesDialog::Row row, uint32_t old, uint32_t typed) {
    if (row == PreferencesDialog::kYEncRow) return typed == 0 ? 1 : typed;
    uint64_t n = typed;
    if (n > old) {
        n = (n + 3) & ~uint64_t{3};
    } else if (n < old) {
        n &= ~uint64_t{3};
    }
    if (n > kLargestMultipleOf4) n = kLargestMultipleOf4;
    if (n < 4) n = 4;
    return static_cast<uint32_t>(n);
}

uint32_t SteppedValue(PreferencesDialog::Row row, uint32_t old, int delta) {
    int64_t value = static_cast<int64_t>(old) - int64_t{delta} * kStep[row];
    if (delta >= 0 && value <= kMinimum[row]) value = kMinimum[row];
    if (value > kMaximum[row]) value = kMaximum[row];
    if (value < kMinimum[row]) value = kMinimum[row];
    return static_cast<uint32_t>(value);
}

PreferencesDialog::PreferencesDialog(Settings& settings, QWidget* parent)
    : QDialog(parent),
      settings_(settings),
      beep_([] { QApplication::beep(); }),
      applyPriority_([](uint32_t priority) { ApplyPriorityClass(priority); }),
      applyShell_([](Settings& s) { ApplyShellSettings(s); }) {
    setWindowTitle(QStringLiteral("Preferenze Vantrove "));
    BuildLayout();
    Initialise();
    InstallHelpKey(this);
}

QCheckBox* PreferencesDialog::Check(int id, const char* text) {
    auto* box = new QCheckBox(QString::fromUtf8(text), this);
    box->setObjectName(QString::number(id));
    return box;
}

void PreferencesDialog::BuildLayout() {
    auto* shell = new QGroupBox(QStringLiteral("Integrazione"), this);
    auto* shellLayout = new QVBoxLayout(shell);
    par2_ = Check(1051, "Associa con File Par2");
    par1_ = Check(1061, "Associa con File Par");
    sfvMd5_ = Check(1117, "Associa con i file SFV/MD5");
    explorerMenu_ = Check(1062, "Integra Vantrove nella Shell");
    for (QCheckBox* box : {par2_, par1_, sfvMd5_, explorerMenu_}) shellLayout->addWidget(box);

    auto* blocks = new QGroupBox(QStringLiteral("Dimensione dei blocchi"), this);
    auto* grid = new QGridLayout(blocks);
    const char* radioTexts[3] = {"Esatti:", "per yEnc:", "per UUEncode:"};
    const char* unitTexts[3] = {"Byte", "righe", "righe"};
    const int radioIds[3] = {1063, 1064, 1065};
    const int editIds[3] = {1066, 1067, 1068};
    const int upDownIds[3] = {1069, 1070, 1071};
    for (int row = 0; row < 3; ++row) {
        choices_[row] = new QRadioButton(QString::fromUtf8(radioTexts[row]), blocks);
        choices_[row]->setObjectName(QString::number(radioIds[row]));
        edits_[row] = new QLineEdit(blocks);
        edits_[row]->setObjectName(QString::number(editIds[row]));
        edits_[row]->setMaxLength(kEditTextLimit);
        edits_[row]->setAlignment(Qt::AlignRight);
        edits_[row]->setMinimumWidth(100);
        edits_[row]->installEventFilter(this);
        ups_[row] = new QToolButton(blocks);
        ups_[row]->setArrowType(Qt::UpArrow);
        ups_[row]->setObjectName(QString::number(upDownIds[row]) + QStringLiteral("up"));
        downs_[row] = new QToolButton(blocks);
        downs_[row]->setArrowType(Qt::DownArrow);
        downs_[row]->setObjectName(QString::number(upDownIds[row]) + QStringLiteral("down"));
        for (QToolButton* arrow : {ups_[row], downs_[row]}) {
            arrow->setAutoRepeat(true);
            arrow->setFixedSize(kSpinArrowSize);
            arrow->setFocusPolicy(Qt::NoFocus);
        }
        auto* arrows = new QVBoxLayout;
        arrows->setSpacing(0);
        arrows->addWidget(ups_[row]);
        arrows->addWidget(downs_[row]);
        grid->addWidget(choices_[row], row, 0);
        grid->addWidget(edits_[row], row, 1);
        grid->addLayout(arrows, row, 2);
        grid->addWidget(new QLabel(QString::fromUtf8(unitTexts[row]), blocks), row, 3);
        Row r = static_cast<Row>(row);
        connect(ups_[row], &QToolButton::clicked, this, [this, r] { Step(r, -1); });
        connect(downs_[row], &QToolButton::clicked, this, [this, r] { Step(r, 1); });
        connect(choices_[row], &QRadioButton::clicked, this, [this, r] {
            ApplyEnabling();
            Refresh(r);
        });
    }
    blockSizeDisplay_ = new QLabel(blocks);
    blockSizeDisplay_->setObjectName(QStringLiteral("1046"));
    articleSizeDisplay_ = new QLabel(blocks);
    articleSizeDisplay_->setObjectName(QStringLiteral("1072"));
    for (QLabel* display : {blockSizeDisplay_, articleSizeDisplay_}) {
        display->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        display->setMinimumWidth(120);
    }
    grid->addWidget(new QLabel(QStringLiteral("Dimensione blocchi:"), blocks), 3, 0);
    grid->addWidget(blockSizeDisplay_, 3, 1, 1, 3);
    grid->addWidget(new QLabel(QStringLiteral("Dimensione articoli:"), blocks), 4, 0);
    grid->addWidget(articleSizeDisplay_, 4, 1, 1, 3);

    auto* verify = new QGroupBox(QStringLiteral("Verifica e riparazione"), this);
    auto* verifyLayout = new QVBoxLayout(verify);
    monitor_ = Check(1079, "Controlla automaticamente");
    repair_ = Check(1119, "Ripara Automaticamente");
    join_ = Check(1120, "Join parts of split files");
    join_->setVisible(false);
    deleteDamaged_ = Check(1126, "Cancellare File Corrotti dopo la Riparazione");
    deleteRecovery_ = Check(1127, "Cancellare File PAR2 dopo la Riparazione");
    recycleBin_ = Check(1128, "Inviare File al Cestino");
    for (QCheckBox* box :
         {monitor_, repair_, join_, deleteDamaged_, deleteRecovery_, recycleBin_}) {
        verifyLayout->addWidget(box);
    }

    auto* priority = new QGroupBox(QStringLiteral("Priorità"), this);
    auto* priorityLayout = new QHBoxLayout(priority);
    idle_ = new QRadioButton(QStringLiteral("Minima"), priority);
    idle_->setObjectName(QStringLiteral("1075"));
    normal_ = new QRadioButton(QStringLiteral("Normale"), priority);
    normal_->setObjectName(QStringLiteral("1076"));
    high_ = new QRadioButton(QStringLiteral("Alta"), priority);
    high_->setObjectName(QStringLiteral("1077"));
    for (QRadioButton* radio : {idle_, normal_, high_}) {
        priorityLayout->addWidget(radio);
        connect(radio, &QRadioButton::clicked, this, [this] { priorityChanged_ = true; });
    }
    silent_ = Check(1121, "Operazioni Silenziose");

    auto* ok = new QPushButton(QStringLiteral("Ok"), this);
    ok->setObjectName(QStringLiteral("1"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Annulla"), this);
    cancel->setObjectName(QStringLiteral("2"));
    connect(ok, &QPushButton::clicked, this, &PreferencesDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &PreferencesDialog::reject);

    auto* left = new QVBoxLayout;
    left->addWidget(shell);
    left->addWidget(blocks);
    left->addStretch();
    auto* right = new QVBoxLayout;
    right->addWidget(verify);
    right->addWidget(priority);
    right->addWidget(silent_);
    right->addStretch();
    auto* columns = new QHBoxLayout;
    columns->addLayout(left);
    columns->addLayout(right);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* outer = new QVBoxLayout(this);
    outer->addLayout(columns);
    outer->addLayout(buttons);
}

void PreferencesDialog::Initialise() {
    par2_->setChecked(settings_.par2Association);
    par1_->setChecked(settings_.par1Association);
    sfvMd5_->setChecked(settings_.sfvMd5Association);
    explorerMenu_->setChecked(settings_.explorerMenu);
    monitor_->setChecked(settings_.monitorAutomatically);
    repair_->setChecked(settings_.repairAutomatically);
    join_->setChecked(settings_.joinSplitFiles);
    deleteDamaged_->setChecked(settings_.deleteDamagedFiles);
    deleteRecovery_->setChecked(settings_.deleteRecoveryFiles);
    recycleBin_->setChecked(settings_.useRecycleBin);
    silent_->setChecked(!settings_.sounds);

    switch (settings_.blockSizeChoice) {
        case kBlockSizeYEncLines:
            choices_[kYEncRow]->setChecked(true);
            break;
        case kBlockSizeUUEncodeLines:
            choices_[kUUEncodeRow]->setChecked(true);
            break;
        default:
            choices_[kExactRow]->setChecked(true);
    }
    ApplyEnabling();
    switch (settings_.priority) {
        case kPriorityIdle:
            idle_->setChecked(true);
            break;
        case kPriorityHigh:
            high_->setChecked(true);
            break;
        default:
            normal_->setChecked(true);
    }
    values_[kExactRow] = settings_.exactBlockSize;
    values_[kYEncRow] = settings_.yEncLineCount;
    values_[kUUEncodeRow] = settings_.uuEncodeLineCount;
    for (Row row : {kExactRow, kYEncRow, kUUEncodeRow}) Refresh(row);
}

PreferencesDialog::Row PreferencesDialog::CheckedRow() const {
    if (choices_[kYEncRow]->isChecked()) return kYEncRow;
    if (choices_[kUUEncodeRow]->isChecked()) return kUUEncodeRow;
    return kExactRow;
}

void PreferencesDialog::ApplyEnabling() {
    Row checked = CheckedRow();
    for (int row = 0; row < 3; ++row) {
        bool on = row == checked;
        edits_[row]->setEnabled(on);
        ups_[row]->setEnabled(on);
        downs_[row]->setEnabled(on);
    }
}

void PreferencesDialog::Refresh(Row row) {
    edits_[row]->setText(QString::fromStdString(FormatGrouped(values_[row])));
    if (!choices_[row]->isChecked()) return;
    blockSizeDisplay_->setText(Bytes(values_[row] * kBlockBytes[row]));
    articleSizeDisplay_->setText(row == kExactRow ? QString::fromStdString(GetString(kStrUnknown))
                                                  : Bytes(values_[row] * kArticleBytes[row]));
}

void PreferencesDialog::Step(Row row, int delta) {
    // A number still being typed is taken first, so the arrow steps from it
    // instead of overwriting it with the old value.
    TakeTypedText(row);
    uint32_t next = SteppedValue(row, values_[row], delta);
    if (next != values_[row]) {
        values_[row] = next;
        Refresh(row);
    } else if (settings_.sounds) {
        beep_();
    }
}

void PreferencesDialog::TakeTypedText(Row row) {
    if (edits_[row]->text() != QString::fromStdString(FormatGrouped(values_[row]))) {
        EditFinished(row);
    }
}

void PreferencesDialog::EditFinished(Row row) {
    values_[row] = CorrectedValue(row, values_[row], DigitsValue(edits_[row]->text()));
    Refresh(row);
}

bool PreferencesDialog::eventFilter(QObject* watched, QEvent* event) {
    for (int row = 0; row < 3; ++row) {
        if (watched != edits_[row]) continue;
        Row r = static_cast<Row>(row);
        if (event->type() == QEvent::FocusOut) {
            EditFinished(r);
        } else if (event->type() == QEvent::KeyPress) {
            // The arrow keys step the number as the arrows beside it do.
            int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Up || key == Qt::Key_Down) {
                Step(r, key == Qt::Key_Up ? -1 : 1);
                return true;
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

void PreferencesDialog::accept() {
    // An edit still being typed in (Enter pressed in it) counts as left.
    for (Row row : {kExactRow, kYEncRow, kUUEncodeRow}) TakeTypedText(row);
    QDialog::accept();

    settings_.par2Association = par2_->isChecked();
    settings_.par1Association = par1_->isChecked();
    settings_.sfvMd5Association = sfvMd5_->isChecked();
    settings_.explorerMenu = explorerMenu_->isChecked();
    settings_.monitorAutomatically = monitor_->isChecked();
    settings_.repairAutomatically = repair_->isChecked();
    settings_.joinSplitFiles = join_->isChecked();
    settings_.deleteDamagedFiles = deleteDamaged_->isChecked();
    settings_.deleteRecoveryFiles = deleteRecovery_->isChecked();
    settings_.useRecycleBin = recycleBin_->isChecked();
    settings_.sounds = !silent_->isChecked();

    settings_.blockSizeChoice = static_cast<uint32_t>(CheckedRow());
    settings_.exactBlockSize = values_[kExactRow];
    settings_.yEncLineCount = values_[kYEncRow];
    settings_.uuEncodeLineCount = values_[kUUEncodeRow];
    settings_.ComputePreferredBlockSize();

    settings_.priority = idle_->isChecked()   ? kPriorityIdle
                         : high_->isChecked() ? kPriorityHigh
                                              : kPriorityNormal;
    if (priorityChanged_) applyPriority_(settings_.priority);

    settings_.SaveOptions();
    applyShell_(settings_);
}

bool ShowPreferencesDialog(Settings& settings, QWidget* parent) {
    PreferencesDialog dialog(settings, parent);
    return dialog.exec() == QDialog::Accepted;
}

}  // namespace vantrove
