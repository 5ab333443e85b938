// The server console: the facade's switch rules against a recording
// implementation, the defaults that write to the debugger output, and the
// service-stopped flag.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kvbasics.h"
#include "platform/debug_output.h"

namespace {

// The console never looks inside these, so the tests hand in stand-ins.
KvString& AString() {
    static char storage;
    return *reinterpret_cast<KvString*>(&storage);
}
KvServerCallCtx& ACall() {
    static char storage;
    return *reinterpret_cast<KvServerCallCtx*>(&storage);
}

// Records every call; keeps the mode it is given unless it refuses changes.
class Recorder : public _KvServCons {
public:
    void writeString(KvString const&) override { log.push_back("string"); }
    void write(char const* text, int n) override {
        log.push_back("write " + std::string(text) + " " + std::to_string(n));
    }
    void terminateLine() override { log.push_back("line"); }
    void flush() override { log.push_back("flush"); }
    void beginCall(KvServerCallCtx&) override { log.push_back("begin"); }
    void endCall(KvServerCallCtx&) override { log.push_back("end"); }
    void communicationFailure(KvServerCallCtx&) override { log.push_back("failure"); }
    int controlTraceFile(KvString&, unsigned short m, int flag) override { return m * 10 + flag; }
    unsigned short GetMode() override { return mode; }
    void SetMode(unsigned short m) override {
        log.push_back("mode " + std::to_string(m));
        if (!refuse) mode = m;
    }

    std::vector<std::string> log;
    unsigned short mode = 0x0012;
    bool refuse = false;
};

// Everything that produces output on the facade.
void WriteAll(KvServCons& console) {
    console << "a" << AString() << 42;
    console.printf("%s-%d", "b", 7);
    console << endl;
    console.BeginCall(ACall());
    console.EndCall(ACall());
    console.CommunicationFailure(ACall());
}

const std::vector<std::string> kAllWritten = {"write a -1",  "string", "write 42 2",
                                              "write b-7 3", "line",   "flush",
                                              "begin",       "end",    "failure"};

TEST(KvServConsTest, ForwardsWhileEnabledAndFollowsTheImplementation) {
    KvServCons none;
    WriteAll(none);
    EXPECT_EQ(none.GetMode(), 0);
    EXPECT_EQ(none.ControlTraceFile(AString(), 3, 4), 0);
    none.switchOutput(0);  // without implementation the wanted mode is taken

    Recorder rec;
    KvServCons console(&rec);
    console << static_cast<const char*>(nullptr);
    EXPECT_TRUE(rec.log.empty());
    WriteAll(console);
    EXPECT_EQ(rec.log, kAllWritten);
    EXPECT_EQ(console.ControlTraceFile(AString(), 3, 4), 34);

    // The facade follows the implementation's answer to each switch.
    struct Step {
        bool refuse;
        unsigned short mode;
        int on;
        unsigned short modeAfter;
        bool written;
    };
    const Step steps[] = {{true, 0x0002, 0, 0x0002, true},
                          {false, 0x0012, 0, 0x0010, false},
                          {true, 0x0010, 1, 0x0010, false},
                          {false, 0x0010, 1, 0x0012, true},
                          {false, 0x0010, 0, 0x0010, false}};
    for (const Step& step : steps) {
        rec.refuse = step.refuse;
        rec.mode = step.mode;
        console.switchOutput(step.on);
        EXPECT_EQ(rec.mode, step.modeAfter);
        rec.log.clear();
        WriteAll(console);
        EXPECT_EQ(rec.log, step.written ? kAllWritten : std::vector<std::string>{});
    }
    // Disabled output still lets mode and trace-file control through.
    console.SetMode(0x0030);
    EXPECT_EQ(console.GetMode(), 0x0030);
    EXPECT_EQ(console.ControlTraceFile(AString(), 1, 2), 12);
    console.switchOutput(1);

    // A formatted text that does not fit is written as the empty text.
    rec.log.clear();
    console.printf("%s", std::string(1024, 'x').c_str());
    EXPECT_EQ(rec.log, std::vector<std::string>{"write  0"});

    EXPECT_EQ(console.setImplementation(nullptr), &rec);
    EXPECT_EQ(console.setImplementation(&rec), nullptr);
}

std::vector<std::string> g_debug;

void CaptureDebug(const char* text) {
    g_debug.push_back(text);
}

// Only the abstract operations: everything else is the library's default.
class Plain : public _KvServCons {
public:
    void writeString(KvString const&) override {}
    int controlTraceFile(KvString&, unsigned short, int) override { return 0; }
};

TEST(KvServConsTest, DefaultsWriteToTheDebuggerOutput) {
    g_debug.clear();
    auto previous = tq::platform::SetDebugOutputSink(CaptureDebug);
    Plain plain;
    KvServCons console(&plain);
    std::string exact(1023, 'y');
    console << "hello" << 42 << endl;
    plain.printf("%s", exact.c_str());          // exactly fills the buffer
    plain.printf("%s", (exact + "z").c_str());  // does not fit: nothing
    plain.printf("%s", "");                     // empty: nothing
    char counted[3] = {'a', 'b', 'c'};          // not terminated
    plain.write(counted, 2);
    plain.write(nullptr, -1);
    console.switchOutput(1);  // the default mode never has the output bit
    EXPECT_EQ(plain.GetMode(), 0);
    console << "still";
    console.switchOutput(0);
    console << "gone";
    tq::platform::SetDebugOutputSink(previous);
    EXPECT_EQ(g_debug, (std::vector<std::string>{"hello", "42", "\r\n", exact, "ab", "still"}));
}

TEST(KvServConsTest, ServiceStoppedFlag) {
    // The flag is process-wide and never reset; no other test stops the service.
    EXPECT_EQ(KIVO_Service_hasStopped(), 0);
    StopKIVO_Service();
    EXPECT_EQ(KIVO_Service_hasStopped(), 1);
    StopKIVO_Service();
    EXPECT_EQ(KIVO_Service_hasStopped(), 1);
}

}  // namespace
