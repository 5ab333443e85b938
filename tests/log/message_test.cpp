// The user-message sink: switch, flags, answer codes and debugger breaks.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kvbasics.h"
#include "platform/debugger.h"
#include "platform/message_box.h"

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

}  // namespace
