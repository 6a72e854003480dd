#include "app/localized_message_box.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace vantrove {
namespace {

TEST(LocalizedMessageBox, DefaultButtonOfEachSet) {
    EXPECT_EQ(DefaultButton(kMbOk | kMbIconExclamation), kIdOk);
    EXPECT_EQ(DefaultButton(kMbOkCancel), kIdOk);
    EXPECT_EQ(DefaultButton(kMbOkCancel | kMbDefButton2), kIdCancel);
    EXPECT_EQ(DefaultButton(kMbYesNo | kMbIconQuestion), kIdYes);
    EXPECT_EQ(DefaultButton(kMbYesNo | kMbDefButton2), kIdNo);
    EXPECT_EQ(DefaultButton(kMbYesNoCancel | kMbDefButton3), kIdCancel);
    EXPECT_EQ(DefaultButton(kMbRetryCancel), kIdRetry);
    EXPECT_EQ(DefaultButton(kMbAbortRetryIgnore | kMbDefButton3), kIdIgnore);
}

TEST(LocalizedMessageBox, ConsolePrintsCaptionAndText) {
    std::FILE* stream = std::tmpfile();
    ASSERT_NE(stream, nullptr);
    ConsoleMessageBox console(stream);
    EXPECT_EQ(console.Show(nullptr, "Cannot load string resource 512.", "Error",
                           kMbOk | kMbIconExclamation),
              kIdOk);
    std::rewind(stream);
    char line[128] = {};
    ASSERT_NE(std::fgets(line, sizeof line, stream), nullptr);
    EXPECT_STREQ(line, "Error: Cannot load string resource 512.\n");
    std::fclose(stream);
}

TEST(LocalizedMessageBox, GoesThroughTheInstalledPresenter) {
    struct Recorder : MessageBoxPresenter {
        int Show(MessageBoxOwner owner, const std::string& text, const std::string& caption,
                 unsigned style) override {
            seen = caption + "|" + text + "|" + std::to_string(style);
            this->owner = owner;
            return kIdNo;
        }
        std::string seen;
        MessageBoxOwner owner = nullptr;
    } recorder;
    int window = 0;
    SetMessageBoxPresenter(&recorder);
    EXPECT_EQ(LocalizedMessageBox(&window, "Testo", "Titolo", kMbYesNo), kIdNo);
    SetMessageBoxPresenter(nullptr);
    EXPECT_EQ(recorder.seen, "Titolo|Testo|4");
    EXPECT_EQ(recorder.owner, &window);
}

}  // namespace
}  // namespace vantrove
