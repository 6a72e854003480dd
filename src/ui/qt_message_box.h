#pragma once
// QtMessageBox: the message boxes of the desktop program.
//
// Installed at start-up as the presenter of LocalizedMessageBox, it shows a
// modal QMessageBox over the owner window: the buttons of the style with
// Italian captions ("Sì", "No", "Annulla", ...), the style's icon drawn by
// the widget style, its default button, and Esc answering like Cancel (or
// No, or OK, where the style has no Cancel). User-interface thread only.

#include <QMessageBox>
#include <memory>

#include "app/localized_message_box.h"

namespace vantrove {

class QtMessageBox : public MessageBoxPresenter {
  public:
    int Show(MessageBoxOwner owner, const std::string& text, const std::string& caption,
             unsigned style) override;
};

// The box that Show runs, ready to exec (exposed for tests).
std::unique_ptr<QMessageBox> BuildMessageBox(QWidget* owner, const std::string& text,
                                             const std::string& caption, unsigned style);

// The answer (kIdOk, kIdYes, ...) of a standard button; kIdCancel for none.
int AnswerOf(QMessageBox::StandardButton button);

}  // namespace vantrove
