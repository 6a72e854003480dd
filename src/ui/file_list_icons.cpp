#include "ui/file_list_icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <array>

namespace vantrove {

namespace {

constexpr int kSize = 16;

enum class Mark { None, Check, Cross, Question, Arrows };

// A sheet of paper with a folded corner, optionally stacked (the groups).
void DrawPage(QPainter& p, const QColor& paper, const QColor& edge, bool stacked) {
    if (stacked) {
        p.setPen(edge);
        p.setBrush(paper.darker(110));
        p.drawRect(QRectF(4.5, 0.5, 9, 12));
    }
    QPainterPath page;
    page.moveTo(1.5, 2.5);
    page.lineTo(8.5, 2.5);
    page.lineTo(11.5, 5.5);
    page.lineTo(11.5, 15.5);
    page.lineTo(1.5, 15.5);
    page.closeSubpath();
    p.setPen(edge);
    p.setBrush(paper);
    p.drawPath(page);
    p.drawLine(QPointF(8.5, 2.5), QPointF(8.5, 5.5));
    p.drawLine(QPointF(8.5, 5.5), QPointF(11.5, 5.5));
    // Lines of text.
    p.setPen(QColor(0xA0, 0xA0, 0xA0));
    for (int y = 8; y <= 13; y += 2) p.drawLine(3, y, 9, y);
}

void DrawMark(QPainter& p, Mark mark, const QColor& colour) {
    if (mark == Mark::None) return;
    QRectF badge(8.5, 8.5, 7, 7);
    p.setPen(colour.darker(140));
    p.setBrush(colour);
    p.drawEllipse(badge);
    QPen white(Qt::white, 1.4);
    white.setCapStyle(Qt::RoundCap);
    p.setPen(white);
    p.setBrush(Qt::NoBrush);
    switch (mark) {
        case Mark::Check:
            p.drawLine(QPointF(10.2, 12.0), QPointF(11.6, 13.4));
            p.drawLine(QPointF(11.6, 13.4), QPointF(13.9, 10.4));
            break;
        case Mark::Cross:
            p.drawLine(QPointF(10.5, 10.5), QPointF(13.5, 13.5));
            p.drawLine(QPointF(13.5, 10.5), QPointF(10.5, 13.5));
            break;
        case Mark::Question:
            p.drawArc(QRectF(10.6, 9.9, 2.8, 2.6), 180 * 16, -270 * 16);
            p.drawPoint(QPointF(12.0, 14.2));
            break;
        case Mark::Arrows:
            p.drawLine(QPointF(10.2, 11.0), QPointF(13.8, 11.0));
            p.drawLine(QPointF(12.6, 9.9), QPointF(13.8, 11.0));
            p.drawLine(QPointF(13.8, 13.0), QPointF(10.2, 13.0));
            p.drawLine(QPointF(11.4, 14.1), QPointF(10.2, 13.0));
            break;
        case Mark::None:
            break;
    }
}

QPixmap Draw(FileListIcon kind) {
    QPixmap pixmap(kSize, kSize);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor green(0x1E, 0x9E, 0x3A), red(0xD0, 0x2B, 0x1F), amber(0xE0, 0x95, 0x10),
        grey(0x8A, 0x8A, 0x8A);
    // Recovery files are bluish sheets, data files white ones.
    const QColor volumePaper(0xDD, 0xE6, 0xFF), volumeEdge(0x30, 0x45, 0x9A);
    const QColor dataPaper(0xFF, 0xFF, 0xFF), dataEdge(0x55, 0x55, 0x55);
    const bool volume = kind == FileListIcon::RecoveryGroup || kind == FileListIcon::VolumeGood ||
                        kind == FileListIcon::VolumeBad || kind == FileListIcon::VolumeUnknown;
    const bool group = kind == FileListIcon::RecoveryGroup || kind == FileListIcon::DataGroup;
    DrawPage(p, volume ? volumePaper : dataPaper, volume ? volumeEdge : dataEdge, group);
    // A file's state is the mark on its sheet; the same for volumes and data files.
    switch (kind) {
        case FileListIcon::VolumeGood:
        case FileListIcon::FileGood:
            DrawMark(p, Mark::Check, green);
            break;
        case FileListIcon::VolumeBad:
        case FileListIcon::FileBad:
            DrawMark(p, Mark::Cross, red);
            break;
        case FileListIcon::VolumeUnknown:
        case FileListIcon::FileUnknown:
            DrawMark(p, Mark::Question, grey);
            break;
        case FileListIcon::FileMisnamed:
            DrawMark(p, Mark::Arrows, amber);
            break;
        case FileListIcon::RecoveryGroup:
        case FileListIcon::DataGroup:
            break;
    }
    return pixmap;
}

}  // namespace

QIcon FileListIconOf(FileListIcon kind) {
    static std::array<QIcon, kFileListIconCount> icons;
    QIcon& icon = icons[static_cast<size_t>(kind)];
    if (icon.isNull()) icon = QIcon(Draw(kind));
    return icon;
}

}  // namespace vantrove
