// Message box. With a terminal on standard input and standard error the user
// answers by letter; otherwise the text goes to standard error and the answer
// is that of a failed box (0). A test may install its own answer function.
#ifndef KVBASICS_PLATFORM_MESSAGE_BOX_H
#define KVBASICS_PLATFORM_MESSAGE_BOX_H

#include <cstdint>

namespace tq::platform {

// Buttons: the low four bits of the style.
enum MessageBoxButtons : uint32_t {
    kButtonsOk = 0,
    kButtonsOkCancel = 1,
    kButtonsAbortRetryIgnore = 2,
    kButtonsYesNoCancel = 3,
    kButtonsYesNo = 4,
    kButtonsRetryCancel = 5,
    kButtonsCancelTryContinue = 6,
};

// Answers, numbered as the platform numbers them; 0 is a failed box.
enum MessageBoxAnswer : int {
    kAnswerFailed = 0,
    kAnswerOk = 1,
    kAnswerCancel = 2,
    kAnswerAbort = 3,
    kAnswerRetry = 4,
    kAnswerIgnore = 5,
    kAnswerYes = 6,
    kAnswerNo = 7,
    kAnswerTryAgain = 10,
    kAnswerContinue = 11,
};

int MessageBox(const char* text, const char* caption, uint32_t style);

using MessageBoxAnswerFunction = int (*)(const char* text, const char* caption, uint32_t style);
// Installs answer (null restores the default) and returns the previous one.
MessageBoxAnswerFunction SetMessageBoxAnswerFunction(MessageBoxAnswerFunction answer);

}  // namespace tq::platform

#endif  // KVBASICS_PLATFORM_MESSAGE_BOX_H
