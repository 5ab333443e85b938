// The user-message sink: switch, flags, answer codes, debugger breaks and the
// terminal dialog.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kvbasics.h"
#include "platform/debugger.h"
#include "platform/message_box.h"
#include "support/child_process.h"
#include "support/test_env.h"

namespace {

using namespace tq::platform;

struct Shown {
    std::string text;
    std::string caption;
    uint32_t style;
};

std::vector<Shown> g_shown;
int g_answer = kAnswerOk;
int g_breaks = 0;

int RecordAnswer(const char* text, const char* caption, uint32_t style) {
    g_shown.push_back({text, caption, style});
    return g_answer;
}

void RecordBreak() {
    ++g_breaks;
}

class MessageTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_shown.clear();
        g_answer = kAnswerOk;
        g_breaks = 0;
        previousAnswer_ = SetMessageBoxAnswerFunction(RecordAnswer);
        previousBreak_ = SetDebugBreakHandler(RecordBreak);
        previousSwitch_ = KvMessage()->Enable(0);
    }
    void TearDown() override {
        SetMessageBoxAnswerFunction(previousAnswer_);
        SetDebugBreakHandler(previousBreak_);
        KvMessage()->Enable(previousSwitch_);
    }

    MessageBoxAnswerFunction previousAnswer_ = nullptr;
    DebugBreakHandler previousBreak_ = nullptr;
    int previousSwitch_ = 0;
};

TEST_F(MessageTest, SwitchedOffShowsOnlyWhenAsked) {
    EXPECT_EQ(KvMessage()->Message(nullptr, 0, "%s", "hello"), 0x40000000u);
    EXPECT_TRUE(g_shown.empty());
    EXPECT_EQ(KvMessage()->Message(nullptr, 0x20000000, "%s", "hello"), 0x1000000u);
    ASSERT_EQ(g_shown.size(), 1u);
    EXPECT_EQ(g_shown[0].text, "hello");
    EXPECT_EQ(g_shown[0].caption, "Tessaloquin Runtime System");
    EXPECT_EQ(g_shown[0].style, 0x252000u);

    EXPECT_EQ(KvMessage()->Enable(5), 0);  // stored as 1
    EXPECT_EQ(KvMessage()->Enable(1), 1);
    EXPECT_EQ(KvMessage()->Message("Caption", 0x123, "n=%d", 4), 0x1000000u);
    ASSERT_EQ(g_shown.size(), 2u);
    EXPECT_EQ(g_shown[1].caption, "Caption");
    EXPECT_EQ(g_shown[1].text, "n=4");
    EXPECT_EQ(g_shown[1].style, 0x252123u);
    // The bits above 23 never reach the box; 0x252000 is always set.
    KvMessage()->Message(nullptr, 0xFF000002u, "x");
    EXPECT_EQ(g_shown[2].style, 0x252002u);
}

TEST_F(MessageTest, AnswersMapToCodes) {
    const struct {
        int answer;
        unsigned int code;
    } cases[] = {
        {kAnswerOk, 0x1000000u},       {kAnswerYes, 0x1000000u},    {kAnswerFailed, 0x1000000u},
        {kAnswerTryAgain, 0x1000000u}, {kAnswerCancel, 0x2000000u}, {kAnswerAbort, 0x2000000u},
        {kAnswerRetry, 0x3000000u},    {kAnswerIgnore, 0x4000000u}, {kAnswerNo, 0x5000000u},
    };
    for (const auto& c : cases) {
        g_answer = c.answer;
        EXPECT_EQ(KvMessage()->Show(nullptr, 0, "x"), c.code) << c.answer;
    }
    EXPECT_EQ(g_breaks, 0);
}

TEST_F(MessageTest, BreaksIntoTheDebuggerOnlyWhenAsked) {
    g_answer = kAnswerRetry;
    EXPECT_EQ(KvMessage()->Show(nullptr, 0x08000000, "x"), 0x3000000u);
    EXPECT_EQ(g_breaks, 1);
    EXPECT_EQ(KvMessage()->Show(nullptr, 0x10000000, "x"), 0x3000000u);
    EXPECT_EQ(g_breaks, 1);
    g_answer = kAnswerAbort;
    EXPECT_EQ(KvMessage()->Show(nullptr, 0x10000000, "x"), 0x2000000u);
    EXPECT_EQ(g_breaks, 2);
    g_answer = kAnswerCancel;
    EXPECT_EQ(KvMessage()->Show(nullptr, 0x08000000, "x"), 0x2000000u);
    EXPECT_EQ(g_breaks, 2);
}

TEST_F(MessageTest, LongTextIsCutTo4095Characters) {
    std::string text(5000, 'm');
    KvMessage()->Message(nullptr, 0x20000000, "%s", text.c_str());
    ASSERT_EQ(g_shown.size(), 1u);
    EXPECT_EQ(g_shown[0].text, text.substr(0, 4095));
}

// Without an answer function the box asks on the terminal: the caption, the
// text and the buttons on stderr, and the first letter of a button, in either
// case, as a line on stdin; an empty line takes a lone button. Without a
// terminal it only prints the text.
TEST_F(MessageTest, DefaultBoxAsksOnATerminalOnly) {
    using namespace std::string_literals;
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master) | unlockpt(master), 0);
    const int terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    termios mode{};
    ASSERT_EQ(tcgetattr(terminal, &mode), 0);
    mode.c_lflag &= ~tcflag_t{ECHO};
    mode.c_oflag &= ~tcflag_t{OPOST};
    ASSERT_EQ(tcsetattr(terminal, TCSANOW, &mode), 0);

    // Not a terminal on both ends: no dialog. No text nor caption shows as empty.
    tq::test::TempDir dir;
    const std::string err = dir.File("stderr");
    EXPECT_EQ(tq::test::RunInChild([&] {
                  SetMessageBoxAnswerFunction(nullptr);
                  // stderr back before the child ends: a coverage build writes there too
                  const int saved = dup(2);
                  const int out = open(err.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
                  if (dup2(out, 2) != 2) return 100;
                  const int in = open("/dev/null", O_RDONLY);
                  if (dup2(in, 0) != 0) return 101;
                  int failed = MessageBox("text", "Caption", kButtonsYesNo) == kAnswerFailed;
                  if (dup2(terminal, 0) != 0) return 102;
                  failed += MessageBox(nullptr, nullptr, kButtonsOk) == kAnswerFailed;
                  return dup2(saved, 2) == 2 ? failed : 100;
              }),
              2);
    EXPECT_EQ(tq::test::ReadFile(err), "Caption: text\n: \n");

    const struct {
        uint32_t style;
        std::string input;  // one line per prompt
        const char* buttons;
        int answer;
    } cases[] = {
        {kButtonsOk, "x\n\n", "[O]K", kAnswerOk},
        {kButtonsOk, "\0\n"s, "[O]K", kAnswerOk},
        {kButtonsOkCancel | 0x252000u, "C\n", "[O]K [C]ancel", kAnswerCancel},
        {kButtonsAbortRetryIgnore, "i\n", "[A]bort [R]etry [I]gnore", kAnswerIgnore},
        {kButtonsYesNoCancel, "n\n", "[Y]es [N]o [C]ancel", kAnswerNo},
        {kButtonsYesNo, "\ny\n", "[Y]es [N]o", kAnswerYes},
        {kButtonsRetryCancel, "r\n", "[R]etry [C]ancel", kAnswerRetry},
        {kButtonsCancelTryContinue, "o\n", "[C]ancel [T]ry again c[O]ntinue", kAnswerContinue},
        {kButtonsYesNo, "\x04", "[Y]es [N]o", kAnswerFailed},  // end of input
    };
    std::string input, prompts;
    for (const auto& c : cases) {
        input += c.input;
        for (size_t lines = std::max<size_t>(1, std::count(c.input.begin(), c.input.end(), '\n'));
             lines > 0; --lines) {
            prompts += "\n== Caption ==\ntext\n"s + c.buttons + "? ";
        }
    }
    ASSERT_EQ(write(master, input.data(), input.size()), static_cast<ssize_t>(input.size()));
    EXPECT_EQ(tq::test::RunInChild([&] {
                  SetMessageBoxAnswerFunction(nullptr);
                  const int saved = dup(2);
                  if (dup2(terminal, 0) != 0 || dup2(terminal, 2) != 2) return 100;
                  int wrong = 0;
                  for (const auto& c : cases) {
                      if (MessageBox("text", "Caption", c.style) != c.answer) break;
                      ++wrong;
                  }
                  wrong = wrong == static_cast<int>(std::size(cases)) ? 0 : wrong + 1;
                  return dup2(saved, 2) == 2 ? wrong : 101;
              }),
              0);
    std::string shown;
    char buffer[4096];
    for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;)
        shown.append(buffer, static_cast<size_t>(n));
    EXPECT_EQ(shown, prompts);
    close(terminal);
    close(master);
}

}  // namespace
