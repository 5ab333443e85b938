#include "platform/message_box.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>

namespace tq::platform {
namespace {

struct Choice {
    char letter;
    const char* label;
    int answer;
};

struct ButtonSet {
    int count;
    Choice choices[3];
};

ButtonSet ButtonsOf(uint32_t style) {
    switch (style & 0xFu) {
        case kButtonsOkCancel:
            return {2, {{'o', "[O]K", kAnswerOk}, {'c', "[C]ancel", kAnswerCancel}}};
        case kButtonsAbortRetryIgnore:
            return {3,
                    {{'a', "[A]bort", kAnswerAbort},
                     {'r', "[R]etry", kAnswerRetry},
                     {'i', "[I]gnore", kAnswerIgnore}}};
        case kButtonsYesNoCancel:
            return {3,
                    {{'y', "[Y]es", kAnswerYes},
                     {'n', "[N]o", kAnswerNo},
                     {'c', "[C]ancel", kAnswerCancel}}};
        case kButtonsYesNo:
            return {2, {{'y', "[Y]es", kAnswerYes}, {'n', "[N]o", kAnswerNo}}};
        case kButtonsRetryCancel:
            return {2, {{'r', "[R]etry", kAnswerRetry}, {'c', "[C]ancel", kAnswerCancel}}};
        case kButtonsCancelTryContinue:
            return {3,
                    {{'c', "[C]ancel", kAnswerCancel},
                     {'t', "[T]ry again", kAnswerTryAgain},
                     {'o', "c[O]ntinue", kAnswerContinue}}};
        default:
            return {1, {{'o', "[O]K", kAnswerOk}}};
    }
}

int AskOnTerminal(const char* text, const char* caption, uint32_t style) {
    ButtonSet buttons = ButtonsOf(style);
    for (;;) {
        std::fprintf(stderr, "\n== %s ==\n%s\n", caption, text);
        for (int i = 0; i < buttons.count; ++i) {
            std::fprintf(stderr, "%s%s", i == 0 ? "" : " ", buttons.choices[i].label);
        }
        std::fputs("? ", stderr);
        std::fflush(stderr);
        char line[64];
        if (std::fgets(line, sizeof line, stdin) == nullptr) return kAnswerFailed;
        int letter = std::tolower(static_cast<unsigned char>(line[0]));
        if (buttons.count == 1 && (letter == '\n' || letter == '\0')) {
            return buttons.choices[0].answer;
        }
        for (int i = 0; i < buttons.count; ++i) {
            if (letter == buttons.choices[i].letter) return buttons.choices[i].answer;
        }
    }
}

int DefaultAnswer(const char* text, const char* caption, uint32_t style) {
    if (isatty(STDIN_FILENO) && isatty(STDERR_FILENO)) return AskOnTerminal(text, caption, style);
    std::fprintf(stderr, "%s: %s\n", caption, text);
    std::fflush(stderr);
    return kAnswerFailed;
}

MessageBoxAnswerFunction g_answer = nullptr;

}  // namespace

int MessageBox(const char* text, const char* caption, uint32_t style) {
    return (g_answer != nullptr ? g_answer : DefaultAnswer)(
        text != nullptr ? text : "", caption != nullptr ? caption : "", style);
}

MessageBoxAnswerFunction SetMessageBoxAnswerFunction(MessageBoxAnswerFunction answer) {
    MessageBoxAnswerFunction previous = g_answer;
    g_answer = answer;
    return previous;
}

}  // namespace tq::platform
