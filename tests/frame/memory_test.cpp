// Memory primitives, the memory handler, the new-handler link and the
// memory-check hook.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "frame/memory_check.h"
#include "kvbasics.h"
#include "platform/debug_output.h"
#include "platform/heap.h"
#include "platform/message_box.h"
#include "support/test_env.h"

namespace {

// A request that no heap can grant.
constexpr size_t kImpossible = SIZE_MAX / 2;

std::vector<unsigned long long> g_handlerCalls;
int g_handlerResult = 0;

int RecordingHandler(unsigned long long size) {
    g_handlerCalls.push_back(size);
    return g_handlerResult;
}

class MemoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_handlerCalls.clear();
        g_handlerResult = 0;
        previous_ = mmKvSetHandler(RecordingHandler);
    }
    void TearDown() override {
        mmKvSetHandler(previous_);
        tq::platform::HeapFailAfter(0);
    }
    KvMemoryHandler previous_ = nullptr;
};

TEST_F(MemoryTest, ResizeAllocatesGrowsFreesAndKeepsTheOldBlockWhenRefused) {
    for (auto resize : {mmResize, mmFarResize}) {
        for (int handlerResult : {0, 1}) {  // asking for a retry changes nothing
            g_handlerCalls.clear();
            g_handlerResult = handlerResult;
            void* p = nullptr;
            EXPECT_EQ(resize(&p, 0), 0);
            EXPECT_EQ(resize(&p, kImpossible), -1);
            EXPECT_EQ(p, nullptr);
            ASSERT_EQ(resize(&p, 16), 0);
            std::memcpy(p, "0123456789abcde", 16);
            ASSERT_EQ(resize(&p, 1 << 20), 0);
            void* old = p;
            EXPECT_EQ(resize(&p, kImpossible), -1);
            EXPECT_EQ(p, old);
            EXPECT_STREQ(static_cast<char*>(p), "0123456789abcde");
            EXPECT_EQ(g_handlerCalls, (std::vector<unsigned long long>{kImpossible, kImpossible}));
            EXPECT_EQ(resize(&p, 0), 0);
            EXPECT_EQ(p, nullptr);
        }
    }
}

TEST_F(MemoryTest, InjectedFailureOfTheNthRequestAndTheHandlerSlot) {
    void* p = nullptr;
    tq::platform::HeapFailAfter(2);
    EXPECT_EQ(mmResize(&p, 10), 0);
    EXPECT_EQ(mmResize(&p, 20), -1);
    EXPECT_EQ(mmResize(&p, 30), 0);
    EXPECT_EQ(g_handlerCalls, (std::vector<unsigned long long>{20}));
    mmResize(&p, 0);

    EXPECT_EQ(mmKvSetHandler(RecordingHandler), RecordingHandler);  // what it replaces
    g_handlerResult = 7;
    EXPECT_EQ(KvCallMemoryHandler(42), 7);
    EXPECT_EQ(g_handlerCalls, (std::vector<unsigned long long>{20, 42}));
}

TEST_F(MemoryTest, ForwardingNewHandlerAsksTheMemoryHandler) {
    void* previous = KvSetOurNewHandler(nullptr);
    std::new_handler forwarding = std::get_new_handler();
    ASSERT_NE(forwarding, nullptr);
    g_handlerResult = 1;  // freed something: operator new may try again
    forwarding();
    g_handlerResult = 0;  // gave up: operator new fails
    EXPECT_THROW(forwarding(), std::bad_alloc);
    EXPECT_EQ(g_handlerCalls.size(), 2u);
#if !defined(__SANITIZE_ADDRESS__)
    // valgrind's operator new cannot throw: it aborts instead.
    if (std::getenv("TQ_UNDER_VALGRIND") == nullptr) {
        g_handlerCalls.clear();
        EXPECT_THROW((void)::operator new(kImpossible), std::bad_alloc);
        EXPECT_EQ(g_handlerCalls.size(), 1u);
    }
#endif
    // A handler of the caller's own has the memory handler's shape: asked with
    // 0, it asks for another attempt, then gives up, which ends in bad_alloc
    // rather than in endless asking.
    static std::vector<size_t> ownCalls;
    int (*own)(size_t) = [](size_t size) {
        ownCalls.push_back(size);
        return ownCalls.size() == 1 ? 1 : 0;
    };
    EXPECT_EQ(KvSetOurNewHandler(reinterpret_cast<void*>(own)), nullptr);  // the library's
    std::new_handler installed = std::get_new_handler();
    installed();
    EXPECT_THROW(installed(), std::bad_alloc);
    EXPECT_EQ(ownCalls, (std::vector<size_t>{0, 0}));
    EXPECT_EQ(KvSetOurNewHandler(nullptr), reinterpret_cast<void*>(own));  // given back as given
    EXPECT_EQ(std::get_new_handler(), forwarding);
    std::set_new_handler(reinterpret_cast<std::new_handler>(previous));
}

int g_shownBoxes = 0;
int CountBox(const char*, const char*, uint32_t) {
    return ++g_shownBoxes, 1;
}

TEST_F(MemoryTest, DefaultHandlerReportsOnThreeChannelsAndAsserts) {
    tq::test::TempDir dir;
    tq::test::ScopedEnv env("TQ_EVENT_LOG", dir.File("events").c_str());
    auto previousBox = tq::platform::SetMessageBoxAnswerFunction(CountBox);
    int previousSwitch = KvMessage()->Enable(1);
    mmKvSetHandler(previous_);  // the default handler

    const std::string report =
        "\nTessaloquin runs out of memory.\nTried to allocate 705032704 bytes of memory.\n";
    testing::internal::CaptureStderr();
    EXPECT_THROW(KvCallMemoryHandler(5000000000ull), KvFatalException);  // shown mod 2^32
    std::string written = testing::internal::GetCapturedStderr();
    EXPECT_EQ(written.rfind(report, 0), 0u);
    EXPECT_NE(written.find("Assertion 'Out of memory. Aborting!' failed.\nFile 'src\\resize' "
                           "\nLine 164 \n"),
              std::string::npos);
    std::string log = tq::test::ReadFile(dir.File("events"));
    size_t memoryEntry = log.find("\"identifier\":\"0xC000000A\"");
    EXPECT_NE(memoryEntry, std::string::npos);
    EXPECT_GT(log.find("\"identifier\":\"0xC0000004\""), memoryEntry);
    EXPECT_EQ(g_shownBoxes, 1);

    KvMessage()->Enable(previousSwitch);
    tq::platform::SetMessageBoxAnswerFunction(previousBox);
}

// ---------------------------------------------------------------------------
// The memory-check hook

std::vector<std::string> g_debugOutput;
void RecordDebugOutput(const char* text) {
    g_debugOutput.push_back(text);
}

class MemoryCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_debugOutput.clear();
        previousSink_ = tq::platform::SetDebugOutputSink(RecordDebugOutput);
        previousConfig_ = DefaultConfig(KV_QUERY_CONFIG);
        tq::ResetMemoryCheckProbe();
    }
    void TearDown() override {
        tq::platform::SetDebugOutputSink(previousSink_);
        DefaultConfig(previousConfig_);
        tq::ResetMemoryCheckProbe();
    }
    // Probes with a configuration of the given text and returns the hook's answer.
    int CheckWith(const char* text) {
        EXPECT_EQ(config_.LoadText(text), 0);
        DefaultConfig(&config_);
        int argument = 41;
        return KivoCheckMemory(&argument);
    }

    KvKeyFileConfig config_;
    tq::platform::DebugOutputSink previousSink_ = nullptr;
    KvConfig* previousConfig_ = nullptr;
};

TEST_F(MemoryCheckTest, ForwardsToTheConfiguredFunctionAndProbesOnce) {
    std::string text = std::string("[debug]\nmemory = 1\n[debug/memory]\nlibrary = ") +
                       TQ_TEST_MEMCHECK_MODULE + "\n";
    EXPECT_EQ(CheckWith(text.c_str()), 42);
    EXPECT_EQ(g_debugOutput, std::vector<std::string>{"memory checking enabled"});
    config_.LoadText("");  // the probe is not repeated
    int argument = 1;
    EXPECT_EQ(KivoCheckMemory(&argument), 2);
    EXPECT_EQ(g_debugOutput.size(), 1u);
}

TEST_F(MemoryCheckTest, OffWithoutSwitchAndReportsAMissingModuleOrFunction) {
    DefaultConfig(nullptr);
    EXPECT_EQ(KivoCheckMemory(nullptr), -1);
    for (const char* text : {"[debug]\nother = 1\n", "[debug]\nmemory = 0\n"}) {
        tq::ResetMemoryCheckProbe();
        EXPECT_EQ(CheckWith(text), -1);
    }
    EXPECT_TRUE(g_debugOutput.empty());  // no module was looked for
    tq::ResetMemoryCheckProbe();
    EXPECT_EQ(CheckWith("[debug]\nmemory=1\n[debug/memory]\nlibrary=/nonexistent/check.so\n"), -1);
    tq::ResetMemoryCheckProbe();
    // By default the C runtime is loaded, which has no such function.
    EXPECT_EQ(CheckWith("[debug]\nmemory=1\n"), -1);
    EXPECT_EQ(g_debugOutput, (std::vector<std::string>{"unable to load the memory checking dll",
                                                       "unable to get the memory check function"}));
}

}  // namespace
