// The system log: switches, formatting limits, event types and identifiers,
// the recorded event, what reaches the journal and /dev/log, the host's own
// syslog settings and the event-source registration.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kvbasics.h"
#include "platform/clock.h"
#include "platform/event_log.h"
#include "platform/process.h"
#include "platform/registry_store.h"
#include "support/child_process.h"
#include "support/test_env.h"
#include "system/variant_table.h"

namespace {

using namespace std::string_literals;
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

// The fields of a datagram in the journal's native protocol; nullopt when it
// breaks the protocol.
std::optional<std::map<std::string, std::string>> JournalFields(const std::string& datagram) {
    std::map<std::string, std::string> fields;
    for (size_t pos = 0; pos < datagram.size();) {
        size_t end = datagram.find('\n', pos);
        if (end == std::string::npos || end == pos) return std::nullopt;
        std::string line = datagram.substr(pos, end - pos);
        if (size_t equals = line.find('='); equals != std::string::npos) {
            fields[line.substr(0, equals)] = line.substr(equals + 1);
            pos = end + 1;
            continue;
        }
        // KEY, newline, 64-bit little-endian length, the bytes, newline.
        size_t start = end + 1 + 8;
        if (start > datagram.size()) return std::nullopt;
        uint64_t length = 0;
        for (size_t i = 8; i > 0; --i)
            length = length << 8 | static_cast<uint8_t>(datagram[end + i]);
        if (length >= datagram.size() - start || datagram[start + length] != '\n') {
            return std::nullopt;
        }
        fields[line] = datagram.substr(start, length);
        pos = start + length + 1;
    }
    return fields;
}

// A socket bound at a path, standing in for the journal or /dev/log.
class LogSocket {
public:
    explicit LogSocket(std::string path, int type = SOCK_DGRAM) : path_(std::move(path)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path_.c_str());
        fd_ = socket(AF_UNIX, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        stream_ = type == SOCK_STREAM;
        EXPECT_TRUE(!stream_ || listen(fd_, 4) == 0);
    }
    ~LogSocket() { close(fd_); }
    const char* path() const { return path_.c_str(); }
    // Fills the queue of a datagram socket, so that the next sender is refused.
    void Fill() {
        int sender = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path_.c_str());
        EXPECT_EQ(connect(sender, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        const std::string filler(1024, 'f');
        while (send(sender, filler.data(), filler.size(), MSG_DONTWAIT) > 0) {
        }
        close(sender);
    }
    // The next datagram, or all that the next connection sent; empty when
    // nothing waits.
    std::string Receive() {
        char buffer[65536];
        if (!stream_) {
            ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
            return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : "";
        }
        int peer = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        std::string received;
        for (ssize_t n; peer >= 0 && (n = read(peer, buffer, sizeof buffer)) > 0;) {
            received.append(buffer, static_cast<size_t>(n));
        }
        if (peer >= 0) close(peer);
        return received;
    }

private:
    std::string path_;
    int fd_ = -1;
    bool stream_ = false;
};

// The lowest free descriptor: it moves when a descriptor leaks.
int LowestFreeDescriptor() {
    int fd = dup(2);
    close(fd);
    return fd;
}

constexpr const char* kSource = "Tessaloquin Runtime System 11.0 (90x64)";

class SysLogTest : public ::testing::Test {
protected:
    void SetUp() override { previous_ = KvSystemLog()->Enable(1); }
    void TearDown() override {
        KvSystemLog()->Enable(previous_);
        tq::platform::SetLogSocketPathsForTesting(nullptr, nullptr);
    }

    // The rendered message of an error or a warning after its first line.
    std::string Tail() const { return label_ + "\n\nPID=" + pid_ + "\n\nEXE=" + exe_; }

    tq::test::TempDir dir_;
    std::string events_ = dir_.File("events.jsonl");
    std::string missing_ = dir_.File("missing");
    tq::test::ScopedEnv env_{"TQ_EVENT_LOG", events_.c_str()};
    unsigned int previous_ = 1;
    const std::string pid_ = std::to_string(tq::platform::CurrentProcessId());
    const std::string label_ = "(Tessaloquin 11.0.0.0." + std::to_string(KV_VERSION_5) + ")";
    const std::string exe_ = tq::platform::ExecutablePath();
};

TEST_F(SysLogTest, ErrorEntryCarriesTheFourStrings) {
    KvSysLogWin32 log;
    log.Log(4, "x");
    std::vector<std::string> lines = Lines(tq::test::ReadFile(events_));
    ASSERT_EQ(lines.size(), 1u);
    const std::string exe = Json(exe_);
    EXPECT_EQ(lines[0], std::string("{\"source\":\"") + kSource +
                            "\",\"type\":\"error\",\"identifier\":\"0xC0000004\",\"strings\":[\"" +
                            label_ + "\",\"x\",\"" + pid_ + "\",\"" + exe +
                            "\"],\"message\":\"ERROR: x " + label_ + "\\n\\nPID=" + pid_ +
                            "\\n\\nEXE=" + exe + "\"}");
    EXPECT_EQ(log.processIdText, pid_);
}

// The event file escapes what JSON must; an event that cannot be written is
// reported as lost.
TEST_F(SysLogTest, EventFileEscapesTextAndReportsWhatIsLost) {
    tq::platform::EventSource* source = tq::platform::RegisterEventSource(nullptr);
    const char* strings[] = {"q\"b\\", nullptr, "\r\n\t\x01\x1f"};
    ASSERT_TRUE(tq::platform::ReportEvent(source, tq::platform::kEventWarning, 0x80000003u, strings,
                                          3, nullptr));
    EXPECT_EQ(tq::test::ReadFile(events_),
              "{\"source\":\"\",\"type\":\"warning\",\"identifier\":\"0x80000003\","
              "\"strings\":[\"q\\\"b\\\\\",\"\",\"\\r\\n\\t\\u0001\\u001f\"],"
              "\"message\":\"\"}\n");
    // A full disk, a missing directory; an empty name selects the system log,
    // here without a socket.
    tq::platform::SetLogSocketPathsForTesting(missing_.c_str(), missing_.c_str());
    for (const std::string& file : {"/dev/full"s, missing_ + "/events", ""s}) {
        tq::test::ScopedEnv to("TQ_EVENT_LOG", file.c_str());
        EXPECT_FALSE(
            tq::platform::ReportEvent(source, tq::platform::kEventError, 4, nullptr, 0, "lost"))
            << file;
    }
    EXPECT_FALSE(tq::platform::ReportEvent(nullptr, tq::platform::kEventError, 4, nullptr, 0, ""));
    tq::platform::DeregisterEventSource(source);
    tq::platform::DeregisterEventSource(nullptr);
}

TEST_F(SysLogTest, JournalGetsOneDatagramPerEventWithItsFields) {
    tq::test::ScopedEnv noFile("TQ_EVENT_LOG", nullptr);
    LogSocket journal(dir_.File("journal"));
    LogSocket devLog(dir_.File("dev-log"));
    tq::platform::SetLogSocketPathsForTesting(journal.path(), devLog.path());
    struct Case {
        unsigned int logType;
        const char* priority;
        const char* identifier;
        const char* type;
        std::string message;  // several lines go in the binary form
    };
    const Case cases[] = {
        {4, "3", "0xC0000004", "error", "ERROR: x " + Tail()},
        {3, "4", "0x80000003", "warning", "WARNING: x " + Tail()},
        {1, "5", "0x00000001", "success", "SUCCESS: x "},
        {0, "6", "0x40000000", "information", "x\ny"},  // without the carriage return
    };
    KvSysLogWin32 log;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.logType);
        log.Log(c.logType, c.logType == 0 ? "x\r\ny" : "x");
        std::optional<std::map<std::string, std::string>> fields = JournalFields(journal.Receive());
        ASSERT_TRUE(fields.has_value());
        const std::map<std::string, std::string> expected = {
            {"MESSAGE", c.message},    {"PRIORITY", c.priority}, {"SYSLOG_IDENTIFIER", kSource},
            {"SYSLOG_FACILITY", "1"},  {"SYSLOG_PID", pid_},     {"TQ_EVENT_ID", c.identifier},
            {"TQ_EVENT_TYPE", c.type},
        };
        EXPECT_EQ(*fields, expected);
    }
    EXPECT_EQ(journal.Receive(), "");
    EXPECT_EQ(devLog.Receive(), "");
}

// How the stand-in clock of the syslog line answers: 0 2024-01-05 09:03:07 UTC,
// 1 no wall clock, 2 no local time, 3 and 4 a month out of range.
int g_clockMode = 0;

TEST_F(SysLogTest, WithoutTheJournalDevLogGetsASyslogLine) {
    tq::test::ScopedEnv noFile("TQ_EVENT_LOG", nullptr);
    tq::test::ScopedEnv zone("TZ", "UTC0");
    tq::platform::ClockSource clock = tq::platform::SystemClockSource();
    clock.realTime = [](tq::platform::RealTime* now) {
        *now = {1'704'445'387, 0};
        return g_clockMode != 1;
    };
    clock.splitLocal = [](int64_t seconds, tq::platform::CalendarTime* fields, int32_t* east) {
        if (g_clockMode == 2 ||
            !tq::platform::SystemClockSource().splitLocal(seconds, fields, east)) {
            return false;
        }
        if (g_clockMode >= 3) fields->month = g_clockMode == 3 ? 13 : 0;
        return true;
    };
    g_clockMode = 0;
    const tq::platform::ClockSource* previousClock = tq::platform::SetClockSource(&clock);
    LogSocket datagrams(dir_.File("dev-log"));
    LogSocket stream(dir_.File("dev-log-stream"), SOCK_STREAM);
    LogSocket fullJournal(dir_.File("journal"));
    fullJournal.Fill();
    LogSocket deaf(dir_.File("deaf"), SOCK_SEQPACKET);  // a socket of neither kind
    LogSocket journal(dir_.File("journal-2"));
    const std::string tooLong = dir_.File(std::string(120, 'l'));
    const int lowestFree = LowestFreeDescriptor();
    const std::string head = std::string(kSource) + "[" + pid_ + "]: ";
    KvSysLogWin32 log;

    // No journal socket, one with a path too long for an address, a full one.
    // (The paths must outlive their use: none of them is a temporary.)
    for (const char* journal : {missing_.c_str(), tooLong.c_str(), fullJournal.path()}) {
        tq::platform::SetLogSocketPathsForTesting(journal, datagrams.path());
        log.Log(4, "x");
        EXPECT_EQ(datagrams.Receive(), "<11>Jan  5 09:03:07 " + head + "ERROR: x " + Tail());
    }
    // Without the local time the line goes without it: the daemon stamps it.
    for (g_clockMode = 1; g_clockMode <= 4; ++g_clockMode) {
        log.Log(0, "x");
        EXPECT_EQ(datagrams.Receive(), "<14>" + head + "x") << g_clockMode;
    }
    g_clockMode = 0;

    // A stream socket gets the line ended by a NUL byte.
    tq::platform::SetLogSocketPathsForTesting(missing_.c_str(), stream.path());
    log.Log(1, "x");
    EXPECT_EQ(stream.Receive(),
              "<13>Jan  5 09:03:07 " + head + "SUCCESS: x " + std::string(1, '\0'));

    // Without a socket that takes it the event is lost: none, a path too long,
    // a socket of neither kind, a full queue.
    datagrams.Fill();
    tq::platform::EventSource* source = tq::platform::RegisterEventSource(kSource);
    for (const char* syslogSocket :
         {missing_.c_str(), tooLong.c_str(), deaf.path(), datagrams.path()}) {
        tq::platform::SetLogSocketPathsForTesting(missing_.c_str(), syslogSocket);
        EXPECT_FALSE(
            tq::platform::ReportEvent(source, tq::platform::kEventError, 4, nullptr, 0, "lost"))
            << syslogSocket;
    }
    // So it is when no descriptor is left for a socket.
    tq::platform::SetLogSocketPathsForTesting(journal.path(), stream.path());
    EXPECT_EQ(tq::test::RunInChild([&] {
                  rlimit limit{};
                  getrlimit(RLIMIT_NOFILE, &limit);
                  const rlimit lowered{static_cast<rlim_t>(LowestFreeDescriptor()), limit.rlim_max};
                  if (setrlimit(RLIMIT_NOFILE, &lowered) != 0) return 1;
                  if (tq::platform::ReportEvent(source, tq::platform::kEventError, 4, nullptr, 0,
                                                "lost")) {
                      return 2;
                  }
                  setrlimit(RLIMIT_NOFILE, &limit);
                  return tq::platform::ReportEvent(source, tq::platform::kEventError, 4, nullptr, 0,
                                                   "sent")
                             ? 0
                             : 3;
              }),
              0);
    tq::platform::DeregisterEventSource(source);

    EXPECT_EQ(LowestFreeDescriptor(), lowestFree);
    tq::platform::SetClockSource(previousClock);
}

TEST_F(SysLogTest, HostSyslogSettingsSurviveAnEvent) {
    tq::test::ScopedEnv noFile("TQ_EVENT_LOG", nullptr);
    LogSocket journal(dir_.File("journal"));
    tq::platform::SetLogSocketPathsForTesting(journal.path(), missing_.c_str());
    const std::string echo = dir_.File("stderr");
    EXPECT_EQ(tq::test::RunInChild([&] {
                  // stderr back before the child ends: a coverage build writes there too
                  const int saved = dup(2);
                  int fd = open(echo.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
                  if (fd < 0 || dup2(fd, 2) != 2) return 1;
                  openlog("hostident", LOG_PERROR, LOG_LOCAL3);
                  KvSystemLog()->Log(4, "x");
                  syslog(LOG_INFO, "after");  // echoed to stderr as the host asked
                  return dup2(saved, 2) == 2 ? 0 : 2;
              }),
              0);
    EXPECT_EQ(tq::test::ReadFile(echo), "hostident: after\n");
    EXPECT_NE(journal.Receive(), "");  // the library's event went out as well
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

    // Switched off, nor does a named open; a platform without an event log never opens.
    KvSysLogWin32 named, withoutLog;
    log.Enable(0);
    named.Open("Named");
    EXPECT_FALSE(named.IsOpen());
    log.Enable(1);
    withoutLog.platformIsNT = 0;
    withoutLog.Log(4, "x");
    EXPECT_FALSE(withoutLog.IsOpen());
    // The first name given stays; a source that could not be registered loses
    // the entries.
    named.Open("Named");
    named.Open("Other");
    named.Log(2, "x");
    KvSysLogWin32 unregistered;
    unregistered.eventSource = nullptr;
    unregistered.Log(2, "lost");
    std::vector<std::string> lines = Lines(tq::test::ReadFile(events_));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].rfind("{\"source\":\"Named\",", 0), 0u) << lines[1];
}

// The default source name is the variant's description, in its debug form
// when the library's file name ends in "d" or "D", also once the file is gone.
TEST_F(SysLogTest, DefaultSourceNameFollowsTheLibraryFileName) {
    const char* const files[] = {"tqbasicsd.so", "tqbasicsD.so", "tqbasics.so"};
    EXPECT_EQ(tq::test::RunInChild([&] {
                  for (const char* file : files) {
                      const std::string path = dir_.File(file);
                      std::filesystem::copy_file(TQ_TEST_MODULE_PATH, path);
                      void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
                      std::filesystem::remove(path);
                      auto systemLog = reinterpret_cast<KvSysLog* (*)()>(
                          library != nullptr ? dlsym(library, "_Z11KvSystemLogv") : nullptr);
                      if (systemLog == nullptr) return 1;
                      systemLog()->Log(2, "%s", file);
                      dlclose(library);
                  }
                  return 0;
              }),
              0);
    const std::string debug = tq::KvRuntimeVariantTable::Instance().Description(true);
    const std::string sources[] = {debug, debug, kSource};
    std::vector<std::string> lines = Lines(tq::test::ReadFile(events_));
    ASSERT_EQ(lines.size(), std::size(files));
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].rfind("{\"source\":\"" + sources[i] + "\",", 0), 0u) << lines[i];
        EXPECT_NE(lines[i].find(files[i]), std::string::npos);
    }
    EXPECT_NE(debug, kSource);
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
    EXPECT_NE(lines[7].find("\\n\\nAborted.\"}"), std::string::npos);       // type 10
    EXPECT_EQ(tq::test::ReadFile(events_).find("\\r"), std::string::npos);  // lines end in LF
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
    EXPECT_EQ(log.Install("x"), 0);  // the base registers and opens nothing
    log.Open("x");
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
    EXPECT_EQ(log.Install(nullptr), -1);
    // A value that cannot be stored (a directory stands where its file goes)
    // fails the registration.
    for (const char* value : {"EventMessageFile", "TypesSupported"}) {
        std::filesystem::create_directories(dir_.File(
            "registry/SYSTEM/CurrentControlSet/Services/EventLog/Application/Blocked/\x01"s +
            value));
        EXPECT_EQ(log.Install("Blocked"), -1) << value;
        std::filesystem::remove_all(
            dir_.File("registry/SYSTEM/CurrentControlSet/Services/EventLog/Application/Blocked"));
    }
}

}  // namespace
