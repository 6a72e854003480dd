#include "ui/file_context_menu.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFileInfo>
#include <QMenu>
#include <QUrl>

namespace vantrove {

QString ContainingFolder(const QString& path) {
    QFileInfo info(path);
    if (info.isDir()) return info.absoluteFilePath();
    return info.absolutePath();
}

void FillFileMenu(QMenu* menu, const QString& path) {
    const bool folder = QFileInfo(path).isDir();
    QAction* open = menu->addAction(QStringLiteral("Apri"));
    QObject::connect(open, &QAction::triggered, menu,
                     [path]() { QDesktopServices::openUrl(QUrl::fromLocalFile(path)); });
    if (!folder) {
        QAction* openFolder = menu->addAction(QStringLiteral("Apri cartella"));
        QObject::connect(openFolder, &QAction::triggered, menu, [path]() {
            QDesktopServices::openUrl(QUrl::fromLocalFile(ContainingFolder(path)));
        });
    }
    menu->addSeparator();
    QAction* copy = menu->addAction(QStringLiteral("Copia percorso"));
    QObject::connect(copy, &QAction::triggered, menu,
                     [path]() { QApplication::clipboard()->setText(path); });
}

}  // namespace vantrove
