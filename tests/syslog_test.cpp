// The system log: switches, formatting limits, event types and identifiers,
// the recorded event and the event-source registration.
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kvbasics.h"
#include "platform/process.h"
#include "platform/registry_store.h"
#include "support/test_env.h"

namespace {

using tq::platform::RegistryKey;
using tq::platform::RegistryStatus;
using tq::platform::RegistryStore;
using tq::platform::RegistryType;

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

std::string Json(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out;
}

class SysLogTest : public ::testing::Test {
protected:
    void SetUp() override { previous_ = KvSystemLog()->Enable(1); }
    void TearDown() override { KvSystemLog()->Enable(previous_); }

    tq::test::TempDir dir_;
    std::string events_ = dir_.File("events.jsonl");
    tq::test::ScopedEnv env_{"TQ_EVENT_LOG", events_.c_str()};
    unsigned int previous_ = 1;
};

TEST_F(SysLogTest, ErrorEntryCarriesTheFourStrings) {
    KvSysLogWin32 log;
    log.Log(4, "x");
    std::vector<std::string> lines = Lines(tq::test::ReadFile(events_));
    ASSERT_EQ(lines.size(), 1u);
    char pid[20];
    std::snprintf(pid, sizeof pid, "%" PRIu32, tq::platform::CurrentProcessId());
    const std::string label = "(Tessaloquin 11.0.0.0." + std::to_string(KV_VERSION_5) + ")";
    const std::string exe = Json(tq::platform::ExecutablePath());
    EXPECT_EQ(lines[0],
              "{\"source\":\"Tessaloquin Runtime System 11.0 (90x64)\","
              "\"type\":\"error\",\"identifier\":\"0xC0000004\",\"strings\":[\"" +
                  label + "\",\"x\",\"" + pid + "\",\"" + exe + "\"],\"message\":\"ERROR: x " +
                  label + "\\r\\n\\r\\nPID=" + pid + "\\r\\n\\r\\nEXE=" + exe + "\"}");
    EXPECT_STREQ(log.processIdText, pid);
}

TEST_F(SysLogTest, SwitchedOffWritesNothingAndOpensNothing) {
    KvSysLogWin32 log;
    EXPECT_EQ(log.Enable(0), 1u);
    log.Log(4, "x");
    EXPECT_FALSE(log.IsOpen());
    EXPECT_EQ(tq::test::ReadFile(events_), "");
    EXPECT_EQ(log.Enable(5), 0u);  // stored as given, not reduced to 1
    EXPECT_EQ(log.Enable(1), 5u);
    log.Log(4, "x");
    EXPECT_TRUE(log.IsOpen());
    EXPECT_EQ(Lines(tq::test::ReadFile(events_)).size(), 1u);
}

TEST_F(SysLogTest, EventTypesAndIdentifiers) {
    struct Case {
        unsigned int logType;
        const char* type;
        const char* identifier;
        const char* message;  // start of the rendered message
    };
    const Case cases[] = {
        {0, "information", "0x40000000", "t0"},  // no stored text: the logged text
        {1, "success", "0x00000001", "SUCCESS: t1 "},
        {2, "information", "0x40000002", "t2"},
        {3, "warning", "0x80000003", "WARNING: t3 (Tessaloquin"},
        {5, "success", "0x00000005", "t5 (Tessaloquin"},
        {7, "success", "0x00000007", "t7 (Tessaloquin"},
        {9, "error", "0xC0000009", "t9 (Tessaloquin"},
        {10, "error", "0xC000000A", "t10 (Tessaloquin"},
        {11, "error", "0xC000000B", "t11 (Tessaloquin"},
        {12, "information", "0x4000000C", "t12"},
    };
    KvSysLogWin32 log;
    for (const Case& c : cases)
        log.Log(c.logType, "t%u", c.logType);
    std::vector<std::string> lines = Lines(tq::test::ReadFile(events_));
    ASSERT_EQ(lines.size(), std::size(cases));
    for (size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(cases[i].logType);
        EXPECT_NE(lines[i].find(std::string("\"type\":\"") + cases[i].type + "\""),
                  std::string::npos);
        EXPECT_NE(lines[i].find(std::string("\"identifier\":\"") + cases[i].identifier + "\""),
                  std::string::npos);
        EXPECT_NE(lines[i].find(std::string("\"message\":\"") + cases[i].message),
                  std::string::npos);
    }
    EXPECT_NE(lines[7].find("\\r\\nAborted.\"}"), std::string::npos);  // type 10
}

// Records what reaches Write.
class RecordingLog : public KvSysLog {
public:
    void Write(unsigned int type, unsigned int length, const char* text) override {
        writes.push_back({type, length, text});
    }
    struct Entry {
        unsigned int type;
        unsigned int length;
        std::string text;
    };
    std::vector<Entry> writes;
};

TEST_F(SysLogTest, LongTextIsCutTo1023Characters) {
    RecordingLog log;
    std::string text(2000, 'a');
    log.Log(2, "%s", text.c_str());
    log.Log(2, "%s", text.substr(0, 1023).c_str());
    log.Log(2, "%d%%", 42);
    ASSERT_EQ(log.writes.size(), 3u);
    EXPECT_EQ(log.writes[0].length, 1024u);
    EXPECT_EQ(log.writes[0].text, text.substr(0, 1023));
    EXPECT_EQ(log.writes[1].length, 1023u);  // fits exactly: not cut
    EXPECT_EQ(log.writes[2].text, "42%");
    EXPECT_EQ(log.writes[2].length, 3u);
}

TEST_F(SysLogTest, InstallRegistersTheLibraryAsMessageFile) {
    tq::test::ScopedEnv root("TQ_REGISTRY_ROOT", dir_.File("registry").c_str());
    KvSysLogWin32 log;
    ASSERT_EQ(log.Install("Tessaloquin Test Source"), 0);

    RegistryKey key;
    ASSERT_EQ(RegistryStore::OpenKey("SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application"
                                     "\\Tessaloquin Test Source",
                                     &key),
              RegistryStatus::kOk);
    char path[4096];
    uint32_t size = sizeof path;
    RegistryType type;
    ASSERT_EQ(RegistryStore::QueryValue(key, "EventMessageFile", &type, path, &size),
              RegistryStatus::kOk);
    const std::string own = tq::platform::OwnModulePath();
    EXPECT_EQ(type, RegistryType::kExpandString);
    EXPECT_EQ(size, own.size() + 1);  // stored with its terminator
    EXPECT_STREQ(path, own.c_str());
    uint8_t types[4];
    size = sizeof types;
    ASSERT_EQ(RegistryStore::QueryValue(key, "TypesSupported", &type, types, &size),
              RegistryStatus::kOk);
    EXPECT_EQ(type, RegistryType::kNumber);
    EXPECT_EQ(types[0], 7);

    // A name that would leave the root is refused and leaves nothing behind.
    EXPECT_EQ(log.Install("../../escape"), -1);
    EXPECT_NE(access(dir_.File("registry/SYSTEM/CurrentControlSet/escape").c_str(), F_OK), 0);
}

}  // namespace
