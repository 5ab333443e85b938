#include "platform/event_log.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "platform/clock.h"
#include "platform/process.h"

namespace tq::platform {

struct EventSource {
    std::string name;
};

namespace {

constexpr const char* kJournalSocket = "/run/systemd/journal/socket";
constexpr const char* kSyslogSocket = "/dev/log";

const char* TypeName(EventType type) {
    switch (type) {
        case kEventSuccess:
            return "success";
        case kEventError:
            return "error";
        case kEventWarning:
            return "warning";
        default:
            return "information";
    }
}

int SyslogPriority(EventType type) {
    switch (type) {
        case kEventError:
            return LOG_ERR;
        case kEventWarning:
            return LOG_WARNING;
        case kEventSuccess:
            return LOG_NOTICE;
        default:
            return LOG_INFO;
    }
}

void AppendJsonString(std::string& out, const char* text) {
    out += '"';
    for (const char* p = text != nullptr ? text : ""; *p != '\0'; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    out += escaped;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    out += '"';
}

bool AppendToFile(const char* path, const std::string& line) {
    int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    // One write per line, so events of several processes do not interleave.
    ssize_t written = write(fd, line.data(), line.size());
    close(fd);
    return written == static_cast<ssize_t>(line.size());
}

std::atomic<const char*> g_journalSocket{kJournalSocket};
std::atomic<const char*> g_syslogSocket{kSyslogSocket};

// The address of a socket file; false when the path does not fit.
bool SocketAddress(const char* path, sockaddr_un* address) {
    *address = sockaddr_un{};
    address->sun_family = AF_UNIX;
    size_t length = std::strlen(path);
    if (length >= sizeof address->sun_path) return false;
    std::memcpy(address->sun_path, path, length + 1);
    return true;
}

// The log wants plain lines: a carriage return a caller's text carries is dropped.
std::string WithoutCarriageReturns(const char* message) {
    std::string text;
    for (const char* p = message; *p != '\0'; ++p) {
        if (*p != '\r') text += *p;
    }
    return text;
}

// One field of the journal's native protocol: KEY=value, or, when the value
// holds a newline, KEY, a newline, the value's length (64 bits, little endian)
// and the value.
void AppendJournalField(std::string& out, const char* key, const std::string& value) {
    out += key;
    if (value.find('\n') == std::string::npos) {
        out += '=';
    } else {
        out += '\n';
        uint64_t length = value.size();
        for (int i = 0; i < 8; ++i)
            out += static_cast<char>((length >> (8 * i)) & 0xFFu);
    }
    out += value;
    out += '\n';
}

// One datagram to the journal; false when it is not delivered.
bool SendToJournal(const char* path, const std::string& datagram) {
    sockaddr_un address;
    if (!SocketAddress(path, &address)) return false;
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    iovec part{const_cast<char*>(datagram.data()), datagram.size()};
    msghdr header{};
    header.msg_name = &address;
    header.msg_namelen = sizeof address;
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    ssize_t sent;
    do {
        sent = sendmsg(fd, &header, MSG_DONTWAIT | MSG_NOSIGNAL);
        // A send that never blocks is not interrupted by a signal.
    } while (sent < 0 && errno == EINTR);  // GCOVR_EXCL_BR_LINE: see above
    close(fd);
    return sent == static_cast<ssize_t>(datagram.size());
}

// One line to the syslog socket, as a datagram or, when the socket is a
// stream one, as a frame ended by a NUL byte; false when it is not delivered.
bool SendToSyslog(const char* path, std::string line) {
    sockaddr_un address;
    if (!SocketAddress(path, &address)) return false;
    const auto* target = reinterpret_cast<const sockaddr*>(&address);
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    if (connect(fd, target, sizeof address) != 0) {
        bool stream = errno == EPROTOTYPE;
        close(fd);
        if (!stream) return false;
        fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return false;
        if (connect(fd, target, sizeof address) != 0) {
            close(fd);
            return false;
        }
        line += '\0';
    }
    ssize_t sent;
    do {
        sent = send(fd, line.data(), line.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        // A send that never blocks is not interrupted by a signal.
    } while (sent < 0 && errno == EINTR);  // GCOVR_EXCL_BR_LINE: see above
    close(fd);
    return sent == static_cast<ssize_t>(line.size());
}

bool ReportToSystemLog(const EventSource& source, EventType type, const char* identifier,
                       const char* message) {
    const std::string text = WithoutCarriageReturns(message);
    const int severity = SyslogPriority(type);
    char number[16];
    std::snprintf(number, sizeof number, "%" PRIu32, CurrentProcessId());
    const std::string pid = number;

    std::string datagram;
    AppendJournalField(datagram, "MESSAGE", text);
    AppendJournalField(datagram, "PRIORITY", std::to_string(severity));
    AppendJournalField(datagram, "SYSLOG_IDENTIFIER", source.name);
    AppendJournalField(datagram, "SYSLOG_FACILITY", std::to_string(LOG_USER >> 3));
    AppendJournalField(datagram, "SYSLOG_PID", pid);
    AppendJournalField(datagram, "TQ_EVENT_ID", identifier);
    AppendJournalField(datagram, "TQ_EVENT_TYPE", TypeName(type));
    // /dev/log takes the event when the journal does not: no socket, a stale
    // one nobody reads, or a full queue.
    if (SendToJournal(g_journalSocket.load(), datagram)) return true;

    // <PRI>Mmm dd hh:mm:ss IDENT[PID]: MESSAGE in local time, as syslog(3)
    // writes it; without the time when the clock cannot be read, the daemon
    // then stamps the line itself.
    std::string line = "<";  // (appended piecewise: gcc 12 warns falsely on "<" + ...)
    line += std::to_string(LOG_USER | severity);
    line += '>';
    static const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    RealTime now;
    CalendarTime local;
    int32_t east;
    if (RealTimeNow(&now) && SplitLocalTime(now.seconds, &local, &east) && local.month >= 1 &&
        local.month <= 12) {
        char stamp[64];
        std::snprintf(stamp, sizeof stamp, "%s %2d %02d:%02d:%02d ", kMonths[local.month - 1],
                      local.day, local.hour, local.minute, local.second);
        line += stamp;
    }
    line += source.name + "[" + pid + "]: " + text;
    return SendToSyslog(g_syslogSocket.load(), std::move(line));
}

}  // namespace

void SetLogSocketPathsForTesting(const char* journal, const char* syslogSocket) {
    g_journalSocket = journal != nullptr ? journal : kJournalSocket;
    g_syslogSocket = syslogSocket != nullptr ? syslogSocket : kSyslogSocket;
}

EventSource* RegisterEventSource(const char* sourceName) {
    // GCOVR_EXCL_BR_START: the name's copy throws only when the heap refuses it
    return new (std::nothrow) EventSource{sourceName != nullptr ? sourceName : ""};
    // GCOVR_EXCL_BR_STOP
}

void DeregisterEventSource(EventSource* source) {
    delete source;
}

bool ReportEvent(EventSource* source, EventType type, uint32_t identifier,
                 const char* const* strings, int stringCount, const char* message) {
    if (source == nullptr) return false;
    try {
        const char* file = std::getenv("TQ_EVENT_LOG");
        char id[16];
        std::snprintf(id, sizeof id, "0x%08" PRIX32, identifier);
        if (file == nullptr || *file == '\0') return ReportToSystemLog(*source, type, id, message);
        std::string line = "{\"source\":";
        AppendJsonString(line, source->name.c_str());
        line += ",\"type\":\"";
        line += TypeName(type);
        line += "\",\"identifier\":\"";
        line += id;
        line += "\",\"strings\":[";
        for (int i = 0; i < stringCount; ++i) {
            if (i > 0) line += ',';
            AppendJsonString(line, strings[i]);
        }
        line += "],\"message\":";
        AppendJsonString(line, message);
        line += "}\n";
        return AppendToFile(file, line);
    } catch (const std::bad_alloc&) {  // GCOVR_EXCL_START: only when the heap refuses a line
        return false;
    }  // GCOVR_EXCL_STOP
}

}  // namespace tq::platform
