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

// The buttons a box can show: the Italian caption each carries and the
// answer each gives.
struct ButtonFace {
    Button button;
    const char* caption;
    int answer;
};

constexpr ButtonFace kButtonFaces[] = {
    {QMessageBox::Ok, "OK", kIdOk},
    {QMessageBox::Cancel, "Annulla", kIdCancel},
    {QMessageBox::Abort, "Interrompi", kIdAbort},
    {QMessageBox::Retry, "Riprova", kIdRetry},
    {QMessageBox::Ignore, "Ignora", kIdIgnore},
    {QMessageBox::Yes, "Sì", kIdYes},
    {QMessageBox::No, "No", kIdNo},
};

const ButtonFace* FaceOf(Button button) {
    for (const ButtonFace& face : kButtonFaces) {
        if (face.button == button) return &face;
    }
    return nullptr;
}

QString CaptionOf(Button button) {
    const ButtonFace* face = FaceOf(button);
    return face != nullptr ? QString::fromUtf8(face->caption) : QString();
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
    const ButtonFace* face = FaceOf(button);
    return face != nullptr ? face->answer : kIdCancel;
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
