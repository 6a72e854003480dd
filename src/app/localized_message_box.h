#pragma once
// LocalizedMessageBox: the one way the program shows a message box.
//
// The routine hands the text, caption and style to the presenter that the
// front end installed: the Qt program shows a modal message box with the
// Italian standard buttons; the command-line program, and any process that
// installed nothing, prints the message to standard error and answers with
// the box's default button. Styles and answers use the values of the classic
// message-box flags, so callers can keep the button and icon combinations as
// they are written everywhere else.
//
// Presenters are installed once at start-up, before any worker thread runs;
// message boxes are shown from the user-interface thread.

#include <cstdio>
#include <string>

namespace vantrove {

// Buttons (the low four bits of a style).
constexpr unsigned kMbOk = 0x0;
constexpr unsigned kMbOkCancel = 0x1;
constexpr unsigned kMbAbortRetryIgnore = 0x2;
constexpr unsigned kMbYesNoCancel = 0x3;
constexpr unsigned kMbYesNo = 0x4;
constexpr unsigned kMbRetryCancel = 0x5;
constexpr unsigned kMbButtonMask = 0xF;
// Icons.
constexpr unsigned kMbIconError = 0x10;
constexpr unsigned kMbIconQuestion = 0x20;
constexpr unsigned kMbIconExclamation = 0x30;
constexpr unsigned kMbIconInformation = 0x40;
constexpr unsigned kMbIconMask = 0xF0;
// Which button is the default (the first unless one of these is given).
constexpr unsigned kMbDefButton2 = 0x100;
constexpr unsigned kMbDefButton3 = 0x200;
constexpr unsigned kMbDefMask = 0xF00;

// Answers.
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kIdAbort = 3;
constexpr int kIdRetry = 4;
constexpr int kIdIgnore = 5;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

// The window a message box belongs to, as the front end knows it (a QWidget*
// in the Qt program); nullptr for none (the desktop).
using MessageBoxOwner = void*;

class MessageBoxPresenter {
  public:
    virtual ~MessageBoxPresenter() = default;
    // Shows the message and returns the answer (one of the kId values).
    virtual int Show(MessageBoxOwner owner, const std::string& text, const std::string& caption,
                     unsigned style) = 0;
};

// Prints "caption: text" on a stream and answers with the default button.
class ConsoleMessageBox : public MessageBoxPresenter {
  public:
    explicit ConsoleMessageBox(std::FILE* stream = stderr) : stream_(stream) {}
    int Show(MessageBoxOwner owner, const std::string& text, const std::string& caption,
             unsigned style) override;

  private:
    std::FILE* stream_;
};

// The answer that pressing Enter gives for `style`: its default button.
int DefaultButton(unsigned style);

// Installs the presenter of this process (not owned; it must outlive its
// use). nullptr goes back to printing on standard error.
void SetMessageBoxPresenter(MessageBoxPresenter* presenter);

// Shows a message box through the installed presenter; returns the answer.
int LocalizedMessageBox(MessageBoxOwner owner, const std::string& text, const std::string& caption,
                        unsigned style);

}  // namespace vantrove
