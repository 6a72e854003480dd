#include "app/localized_message_box.h"

#include <atomic>

namespace vantrove {
namespace {

std::atomic<MessageBoxPresenter*> g_presenter{nullptr};

}  // namespace

int DefaultButton(unsigned style) {
    // The buttons of each set, left to right.
    static const int kSets[][3] = {
        {kIdOk, kIdOk, kIdOk},             // OK
        {kIdOk, kIdCancel, kIdCancel},     // OK, Cancel
        {kIdAbort, kIdRetry, kIdIgnore},   // Abort, Retry, Ignore
        {kIdYes, kIdNo, kIdCancel},        // Yes, No, Cancel
        {kIdYes, kIdNo, kIdNo},            // Yes, No
        {kIdRetry, kIdCancel, kIdCancel},  // Retry, Cancel
    };
    unsigned set = style & kMbButtonMask;
    if (set >= sizeof kSets / sizeof kSets[0]) set = 0;
    unsigned which = 0;
    if ((style & kMbDefMask) == kMbDefButton2) which = 1;
    if ((style & kMbDefMask) == kMbDefButton3) which = 2;
    return kSets[set][which];
}

int ConsoleMessageBox::Show(MessageBoxOwner, const std::string& text, const std::string& caption,
                            unsigned style) {
    if (stream_ != nullptr) {
        std::fprintf(stream_, "%s: %s\n", caption.c_str(), text.c_str());
        std::fflush(stream_);
    }
    return DefaultButton(style);
}

void SetMessageBoxPresenter(MessageBoxPresenter* presenter) {
    g_presenter.store(presenter);
}

int LocalizedMessageBox(MessageBoxOwner owner, const std::string& text, const std::string& caption,
                        unsigned style) {
    if (MessageBoxPresenter* presenter = g_presenter.load()) {
        return presenter->Show(owner, text, caption, style);
    }
    static ConsoleMessageBox console;
    return console.Show(owner, text, caption, style);
}

}  // namespace vantrove
