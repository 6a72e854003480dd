#include "ui/qt_message_box.h"

#include <QAbstractButton>
#include <QPushButton>
#include <vector>

namespace vantrove {

namespace {

using Button = QMessageBox::StandardButton;

std::vector<Button> ButtonsOf(unsigned style) {
    switch (style & kMbButtonMask) {
        case kMbOkCancel:
            return {QMessageBox::Ok, QMessageBox::Cancel};
        case kMbAbortRetryIgnore:
            return {QMessageBox::Abort, QMessageBox::Retry, QMessageBox::Ignore};
        case kMbYesNoCancel:
            return {QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel};
        case kMbYesNo:
            return {QMessageBox::Yes, QMessageBox::No};
        case kMbRetryCancel:
            return {QMessageBox::Retry, QMessageBox::Cancel};
        default:
            return {QMessageBox::Ok};
    }
}

QString CaptionOf(Button button) {
    switch (button) {
        case QMessageBox::Ok:
            return QStringLiteral("OK");
        case QMessageBox::Cancel:
            return QStringLiteral("Annulla");
        case QMessageBox::Abort:
            return QStringLiteral("Interrompi");
        case QMessageBox::Retry:
            return QStringLiteral("Riprova");
        case QMessageBox::Ignore:
            return QStringLiteral("Ignora");
        case QMessageBox::Yes:
            return QStringLiteral("Sì");
        case QMessageBox::No:
            return QStringLiteral("No");
        default:
            return QString();
    }
}

QMessageBox::Icon IconOf(unsigned style) {
    switch (style & kMbIconMask) {
        case kMbIconError:
            return QMessageBox::Critical;
        case kMbIconQuestion:
            return QMessageBox::Question;
        case kMbIconExclamation:
            return QMessageBox::Warning;
        case kMbIconInformation:
            return QMessageBox::Information;
        default:
            return QMessageBox::NoIcon;
    }
}

}  // namespace

int AnswerOf(QMessageBox::StandardButton button) {
    switch (button) {
        case QMessageBox::Ok:
            return kIdOk;
        case QMessageBox::Abort:
            return kIdAbort;
        case QMessageBox::Retry:
            return kIdRetry;
        case QMessageBox::Ignore:
            return kIdIgnore;
        case QMessageBox::Yes:
            return kIdYes;
        case QMessageBox::No:
            return kIdNo;
        default:
            return kIdCancel;
    }
}

std::unique_ptr<QMessageBox> BuildMessageBox(QWidget* owner, const std::string& text,
                                             const std::string& caption, unsigned style) {
    auto box = std::make_unique<QMessageBox>(owner);
    box->setIcon(IconOf(style));
    box->setWindowTitle(QString::fromStdString(caption));
    box->setText(QString::fromStdString(text));
    box->setTextFormat(Qt::PlainText);
    const std::vector<Button> buttons = ButtonsOf(style);
    for (Button button : buttons) {
        box->addButton(button);
        box->button(button)->setText(CaptionOf(button));
    }
    size_t defaultIndex = 0;
    if ((style & kMbDefMask) == kMbDefButton2) defaultIndex = 1;
    if ((style & kMbDefMask) == kMbDefButton3) defaultIndex = 2;
    if (defaultIndex >= buttons.size()) defaultIndex = 0;
    box->setDefaultButton(buttons[defaultIndex]);
    // Esc: Cancel where there is one, else the box's only way out (No, OK).
    Button escape = buttons.back();
    for (Button button : buttons) {
        if (button == QMessageBox::Cancel) escape = button;
    }
    if (buttons.size() == 3 && escape != QMessageBox::Cancel) escape = QMessageBox::NoButton;
    if (escape != QMessageBox::NoButton) box->setEscapeButton(escape);
    return box;
}

int QtMessageBox::Show(MessageBoxOwner owner, const std::string& text, const std::string& caption,
                       unsigned style) {
    std::unique_ptr<QMessageBox> box =
        BuildMessageBox(static_cast<QWidget*>(owner), text, caption, style);
    box->exec();
    QAbstractButton* clicked = box->clickedButton();
    if (clicked == nullptr) return AnswerOf(QMessageBox::Cancel);
    return AnswerOf(box->standardButton(clicked));
}

}  // namespace vantrove
