// Tests of the smaller pieces of the verify/repair dialog and the desktop
// program: the message boxes (buttons, Italian captions, default and Esc
// buttons, answers), the file dialog filters, the list icons and the file
// context menu.

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest/QtTest>
#include <set>

#include "app/localized_message_box.h"
#include "core/string_ids.h"
#include "support/qt_test_main.h"
#include "support/test_env.h"
#include "ui/file_context_menu.h"
#include "ui/file_dialog_filters.h"
#include "ui/file_list_icons.h"
#include "ui/qt_message_box.h"

namespace vantrove {

class DialogPartsTest : public QObject {
    Q_OBJECT

  private:
    static QStringList Captions(QMessageBox& box) {
        QStringList captions;
        for (QAbstractButton* button : box.buttons()) captions.append(button->text());
        captions.sort();
        return captions;
    }

  private slots:
    void YesNoQuestionWithTheSecondButtonAsDefault() {
        auto box = BuildMessageBox(nullptr, "Siete sicuri?", "Interrompi",
                                   kMbYesNo | kMbIconQuestion | kMbDefButton2);
        QCOMPARE(box->windowTitle(), QStringLiteral("Interrompi"));
        QCOMPARE(box->text(), QStringLiteral("Siete sicuri?"));
        QCOMPARE(box->icon(), QMessageBox::Question);
        QCOMPARE(Captions(*box), (QStringList{QStringLiteral("No"), QStringLiteral("Sì")}));
        QCOMPARE(box->defaultButton(), box->button(QMessageBox::No));
        QCOMPARE(box->escapeButton(), box->button(QMessageBox::No));

        auto first = BuildMessageBox(nullptr, "x", "y", kMbYesNo);
        QCOMPARE(first->defaultButton(), first->button(QMessageBox::Yes));
        QCOMPARE(first->icon(), QMessageBox::NoIcon);
    }

    void EveryStyleHasItsButtonsAndIcon() {
        struct Case {
            unsigned style;
            QStringList captions;
            QMessageBox::Icon icon;
        } cases[] = {
            {kMbOk | kMbIconExclamation, {QStringLiteral("OK")}, QMessageBox::Warning},
            {kMbOkCancel | kMbIconError,
             {QStringLiteral("Annulla"), QStringLiteral("OK")},
             QMessageBox::Critical},
            {kMbAbortRetryIgnore | kMbIconInformation,
             {QStringLiteral("Ignora"), QStringLiteral("Interrompi"), QStringLiteral("Riprova")},
             QMessageBox::Information},
            {kMbYesNoCancel,
             {QStringLiteral("Annulla"), QStringLiteral("No"), QStringLiteral("Sì")},
             QMessageBox::NoIcon},
            {kMbRetryCancel,
             {QStringLiteral("Annulla"), QStringLiteral("Riprova")},
             QMessageBox::NoIcon},
        };
        for (const Case& c : cases) {
            auto box = BuildMessageBox(nullptr, "t", "c", c.style);
            QCOMPARE(Captions(*box), c.captions);
            QCOMPARE(box->icon(), c.icon);
        }
        // Esc means Cancel where there is one.
        auto cancel = BuildMessageBox(nullptr, "t", "c", kMbYesNoCancel | kMbDefButton3);
        QCOMPARE(cancel->escapeButton(), cancel->button(QMessageBox::Cancel));
        QCOMPARE(cancel->defaultButton(), cancel->button(QMessageBox::Cancel));
        // A default button past the last one falls back to the first.
        auto ok = BuildMessageBox(nullptr, "t", "c", kMbOk | kMbDefButton3);
        QCOMPARE(ok->defaultButton(), ok->button(QMessageBox::Ok));
    }

    void AnswersAreTheClassicValues() {
        QCOMPARE(AnswerOf(QMessageBox::Ok), kIdOk);
        QCOMPARE(AnswerOf(QMessageBox::Cancel), kIdCancel);
        QCOMPARE(AnswerOf(QMessageBox::Abort), kIdAbort);
        QCOMPARE(AnswerOf(QMessageBox::Retry), kIdRetry);
        QCOMPARE(AnswerOf(QMessageBox::Ignore), kIdIgnore);
        QCOMPARE(AnswerOf(QMessageBox::Yes), kIdYes);
        QCOMPARE(AnswerOf(QMessageBox::No), kIdNo);
        QCOMPARE(AnswerOf(QMessageBox::NoButton), kIdCancel);
    }

    // The presenter really shows the box and returns the button pressed.
    void ThePresenterReturnsTheButtonPressed() {
        QtMessageBox presenter;
        for (auto [pressed, expected] :
             {std::pair{QMessageBox::No, kIdNo}, std::pair{QMessageBox::Yes, kIdYes}}) {
            QTimer::singleShot(50, [pressed = pressed]() {
                auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                if (box != nullptr) box->button(pressed)->click();
            });
            QCOMPARE(presenter.Show(nullptr, "Domanda", "Titolo", kMbYesNo | kMbIconQuestion),
                     expected);
        }
    }

    void FiltersFromTheStringTable() {
        // The patterns are shown once: the ones named in the description
        // give way to the filter's own.
        QCOMPARE(FileDialogFilters(QStringLiteral("Volumi (*.PAR2, *.P??)|*.PAR2;*.P??|")),
                 QStringList{QStringLiteral("Volumi (*.PAR2 *.par2 *.P?? *.p??)")});
        QCOMPARE(FilterDescription(QStringLiteral("File (vecchi) e nuovi")),
                 QStringLiteral("File (vecchi) e nuovi"));
        QCOMPARE(FilterDescription(QStringLiteral("(*.x)")), QStringLiteral("(*.x)"));
        // Several pairs, blanks, a pair without patterns and one without a description.
        QCOMPARE(FileDialogFilters(QStringLiteral("A|*.a ; *.B|Nothing||| *.x|")),
                 QStringList{QStringLiteral("A (*.a *.A *.B *.b)")});
        QCOMPARE(FileDialogFilters(QString()), QStringList());
        const QStringList all = FileDialogFiltersOf(
            {kStrFilterRecoveryVolumes, kStrFilterChecksumFiles, kStrFilterAllFiles});
        QCOMPARE(all.size(), 3);
        QCOMPARE(all[0], QStringLiteral("Volumi di Recupero (*.PAR2 *.par2 *.P?? *.p??)"));
        QVERIFY(all[1].contains(QStringLiteral("*.sfv")));
        // Every file, also one without a dot in its name.
        QCOMPARE(all[2], QStringLiteral("Tutti i file (*)"));
    }

    void NineDistinctIconsOfSixteenPixels() {
        std::set<QByteArray> images;
        for (int i = 0; i < kFileListIconCount; ++i) {
            QIcon icon = FileListIconOf(static_cast<FileListIcon>(i));
            QVERIFY(!icon.isNull());
            QImage image = icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
            QCOMPARE(image.size(), QSize(16, 16));
            images.insert(
                QByteArray(reinterpret_cast<const char*>(image.constBits()), image.sizeInBytes()));
        }
        QCOMPARE(images.size(), size_t{kFileListIconCount});
    }

    void FileMenuOffersOpenFolderAndCopy() {
        test::TempDir dir;
        const std::string file = dir.File("data.bin");
        test::WriteFile(file, std::string("x"));
        QMenu menu;
        FillFileMenu(&menu, file);
        QStringList texts;
        for (QAction* action : menu.actions()) {
            if (!action->isSeparator()) texts.append(action->text());
        }
        QCOMPARE(texts, (QStringList{QStringLiteral("Apri"), QStringLiteral("Apri cartella"),
                                     QStringLiteral("Copia percorso")}));
        menu.actions().last()->trigger();
        QCOMPARE(QApplication::clipboard()->text(), QString::fromStdString(file));
        QCOMPARE(ContainingFolder(file), dir.path());

        // A folder has no containing-folder entry; it opens itself.
        QMenu folderMenu;
        FillFileMenu(&folderMenu, dir.path());
        int entries = 0;
        for (QAction* action : folderMenu.actions()) entries += action->isSeparator() ? 0 : 1;
        QCOMPARE(entries, 2);
        QCOMPARE(ContainingFolder(dir.path()), dir.path());
        QCOMPARE(ContainingFolder(dir.path() + "/"), dir.path());
    }

    // A name that is not UTF-8 reaches the desktop as the same bytes.
    void FileMenuOpensTheBytesOfTheName() {
        test::TempDir dir;
        const std::string file = dir.File("caf\xe9 \xff.bin");
        test::WriteFile(file, std::string("x"));
        std::vector<std::string> opened;
        SetDesktopOpenerForTests([&](const std::string& path) { opened.push_back(path); });
        QMenu menu;
        FillFileMenu(&menu, file);
        QCOMPARE(menu.actions().size(), 4);  // a file, not a folder
        menu.actions()[0]->trigger();
        menu.actions()[1]->trigger();
        SetDesktopOpenerForTests(nullptr);
        QCOMPARE(opened, (std::vector<std::string>{file, dir.path()}));
    }
};

}  // namespace vantrove

VANTROVE_QTEST_MAIN(vantrove::DialogPartsTest)
#include "dialog_parts_test.moc"
