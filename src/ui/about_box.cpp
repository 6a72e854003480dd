#include "ui/about_box.h"

#include <QFile>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "app/open_document.h"
#include "ui/help_key.h"
#include "ui/link_text.h"

namespace vantrove {
namespace {

// The paragraph of the box; the braces are the two links: the format's
// site, then the manual.
constexpr char kLinkParagraph[] =
    "I volumi di recupero seguono il formato {PAR 2.0}, descritto nella sua specifica "
    "pubblica. Come usare Vantrove, passo per passo, lo spiega il {manuale di Vantrove}. "
    "Se Vantrove ti è utile, puoi sostenerne lo sviluppo.";

QPixmap DrawIcon(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    // A shield with a "V": files kept safe.
    QPainterPath shield;
    shield.moveTo(s * 0.5, s * 0.04);
    shield.lineTo(s * 0.92, s * 0.2);
    shield.cubicTo(s * 0.92, s * 0.62, s * 0.72, s * 0.84, s * 0.5, s * 0.97);
    shield.cubicTo(s * 0.28, s * 0.84, s * 0.08, s * 0.62, s * 0.08, s * 0.2);
    shield.closeSubpath();
    QLinearGradient fill(0, 0, 0, s);
    fill.setColorAt(0, QColor(0x3a, 0x7b, 0xd5));
    fill.setColorAt(1, QColor(0x1a, 0x3d, 0x6d));
    painter.setPen(QPen(QColor(0x10, 0x28, 0x48), std::max(1.0, s / 32)));
    painter.setBrush(fill);
    painter.drawPath(shield);
    QPen mark(Qt::white, s * 0.11, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(mark);
    painter.setBrush(Qt::NoBrush);
    painter.drawPolyline(QPolygonF(
        {QPointF(s * 0.3, s * 0.32), QPointF(s * 0.5, s * 0.72), QPointF(s * 0.7, s * 0.32)}));
    return pixmap;
}

}  // namespace

QString ManualAddress() {
    const std::string path = HelpDocumentPath(ExecutableFolder());
    return QUrl::fromLocalFile(QFile::decodeName(QByteArray::fromStdString(path))).toString();
}

QIcon ProgramIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64}) icon.addPixmap(DrawIcon(size));
    return icon;
}

AboutBox::AboutBox(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Informazioni su Vantrove"));
    setWindowIcon(ProgramIcon());

    auto* icon = new QLabel(this);
    icon->setPixmap(ProgramIcon().pixmap(48, 48));
    icon->setAlignment(Qt::AlignTop);

    version_ =
        new QLabel(QStringLiteral("Vantrove version %1").arg(QLatin1String(kProgramVersion)), this);
    version_->setObjectName(QStringLiteral("1118"));
    QFont bold = version_->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.2);
    version_->setFont(bold);

    auto* description = new QLabel(
        QStringLiteral("Crea volumi di recupero PAR2 e verifica e ripara insiemi PAR2, PAR, SFV "
                       "e MD5."),
        this);
    description->setWordWrap(true);
    auto* copyright = new QLabel(QStringLiteral("Copyright © gli autori di Vantrove"), this);

    links_ = new LinkText(QString::fromUtf8(kLinkParagraph), this);
    links_->setObjectName(QStringLiteral("1116"));
    links_->SetLink(0, QString::fromLatin1(kFormatProjectAddress), true);
    links_->SetLink(1, ManualAddress(), true);

    auto* ok = new QPushButton(QStringLiteral("Ok"), this);
    ok->setObjectName(QStringLiteral("1"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* text = new QVBoxLayout;
    text->addWidget(version_);
    text->addWidget(description);
    text->addWidget(copyright);
    text->addSpacing(8);
    text->addWidget(links_);
    auto* top = new QHBoxLayout;
    top->addWidget(icon);
    top->addSpacing(8);
    top->addLayout(text, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    auto* outer = new QVBoxLayout(this);
    outer->addLayout(top);
    outer->addLayout(buttons);
    setMinimumWidth(420);
    InstallHelpKey(this);
}

void ShowAboutBox(QWidget* parent) {
    AboutBox box(parent);
    box.exec();
}

}  // namespace vantrove
