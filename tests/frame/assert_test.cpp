// Assertions and the process-wide hook slots.
#include <string>

#include <gtest/gtest.h>

#include "kvbasics.h"
#include "support/test_env.h"

namespace {

struct CallbackRecord {
    int calls = 0;
    std::string expression, file;
    int line = 0;
    std::string logAtCall;  // what the event log held when the callback ran
};

CallbackRecord g_record;
std::string g_eventLog;

void RecordCallback(char const* expression, char const* file, int line) {
    ++g_record.calls;
    g_record.expression = expression;
    g_record.file = file;
    g_record.line = line;
    g_record.logAtCall = tq::test::ReadFile(g_eventLog);
}

class AssertTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_record = {};
        g_eventLog = events_;
        previous_ = SetFatalErrorCallback(RecordCallback);
    }
    void TearDown() override { SetFatalErrorCallback(previous_); }

    tq::test::TempDir dir_;
    std::string events_ = dir_.File("events.jsonl");
    tq::test::ScopedEnv env_{"TQ_EVENT_LOG", events_.c_str()};
    KvFatalErrorCallback previous_ = nullptr;
};

TEST_F(AssertTest, CallbackFirstThenLogAndStandardErrorThenTheException) {
    const std::string expected = "Assertion '100%s sure' failed.\nFile 'f%d' \nLine 7 \n";
    testing::internal::CaptureStderr();
    try {
        KIVO_assert("100%s sure", "f%d", 7);
        ADD_FAILURE() << "no exception";
    } catch (const KvFatalException& e) {
        EXPECT_EQ(e.code(), 0xE0000001u);
        EXPECT_EQ(e.what(), expected);
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), expected);

    EXPECT_EQ(g_record.calls, 1);
    EXPECT_EQ(g_record.expression, "100%s sure");
    EXPECT_EQ(g_record.file, "f%d");
    EXPECT_EQ(g_record.line, 7);
    EXPECT_EQ(g_record.logAtCall, "");  // nothing written before the callback

    std::string log = tq::test::ReadFile(events_);
    EXPECT_NE(log.find("\"identifier\":\"0xC0000004\""), std::string::npos);
    EXPECT_NE(log.find("\"Assertion '100%s sure' failed.\\nFile 'f%d' \\nLine 7 \\n\""),
              std::string::npos);
}

TEST_F(AssertTest, LongTextsAreCutToTheBuffer) {
    SetFatalErrorCallback(nullptr);
    std::string expression(5000, 'e');
    testing::internal::CaptureStderr();
    EXPECT_THROW(KIVO_assert(expression.c_str(), nullptr, -1), KvFatalException);
    std::string written = testing::internal::GetCapturedStderr();
    EXPECT_EQ(written.size(), 1023u);
    EXPECT_EQ(written.rfind("Assertion 'eee", 0), 0u);
    EXPECT_EQ(g_record.calls, 0);
}

TEST(Hooks, SettersFollowTheirOwnRules) {
    EXPECT_EQ(DefaultConfig(KV_QUERY_CONFIG), nullptr);
    KvKeyFileConfig config;
    EXPECT_EQ(DefaultConfig(&config), &config);
    EXPECT_EQ(DefaultConfig(KV_QUERY_CONFIG), &config);
    EXPECT_EQ(DefaultConfig(nullptr), nullptr);
    EXPECT_EQ(DefaultConfig(KV_QUERY_CONFIG), nullptr);

    smp_io* a = reinterpret_cast<smp_io*>(&config);
    smp_io* b = reinterpret_cast<smp_io*>(&a);
    EXPECT_EQ(Console(a), nullptr);
    EXPECT_EQ(Console(b), a);
    EXPECT_EQ(Console(nullptr), b);  // queries, keeps the console
    EXPECT_EQ(GetConsole(), b);

    EXPECT_EQ(SetFatalErrorCallback(RecordCallback), nullptr);
    EXPECT_EQ(GetFatalErrorCallback(), RecordCallback);
    EXPECT_EQ(SetFatalErrorCallback(nullptr), RecordCallback);
}

}  // namespace
