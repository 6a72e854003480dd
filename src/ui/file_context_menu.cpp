#include "ui/file_context_menu.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QMenu>

#include "app/open_document.h"
#include "core/path.h"

namespace vantrove {

namespace {

std::function<void(const std::string&)>& OpenerSlot() {
    static std::function<void(const std::string&)> opener;
    return opener;
}

}  // namespace

std::string ContainingFolder(const std::string& path) {
    std::string folder = path;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (KindOfPath(folder) == PathKind::Folder) return folder;
    const size_t slash = folder.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? std::string("/") : folder.substr(0, slash);
}

void OpenWithDesktop(const std::string& path) {
    if (OpenerSlot()) {
        OpenerSlot()(path);
        return;
    }
    OpenDocument(path);
}

void SetDesktopOpenerForTests(std::function<void(const std::string&)> opener) {
    OpenerSlot() = std::move(opener);
}

void FillFileMenu(QMenu* menu, const std::string& path) {
    const bool folder = KindOfPath(path) == PathKind::Folder;
    QAction* open = menu->addAction(QStringLiteral("Apri"));
    QObject::connect(open, &QAction::triggered, menu, [path]() { OpenWithDesktop(path); });
    if (!folder) {
        QAction* openFolder = menu->addAction(QStringLiteral("Apri cartella"));
        QObject::connect(openFolder, &QAction::triggered, menu,
                         [path]() { OpenWithDesktop(ContainingFolder(path)); });
    }
    menu->addSeparator();
    QAction* copy = menu->addAction(QStringLiteral("Copia percorso"));
    QObject::connect(copy, &QAction::triggered, menu, [path]() {
        QApplication::clipboard()->setText(QFile::decodeName(QByteArray::fromStdString(path)));
    });
}

}  // namespace vantrove
