#include "platform/event_log.h"

#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

namespace tq::platform {

struct EventSource {
    std::string name;
};

namespace {

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

// syslog keeps the ident pointer; this copy outlives every source.
char g_ident[256];

bool ReportToSyslog(const EventSource& source, EventType type, const char* message) {
    std::snprintf(g_ident, sizeof g_ident, "%s", source.name.c_str());
    openlog(g_ident, LOG_PID, LOG_USER);
    // The stored texts break lines with CR LF; syslog wants plain lines.
    std::string text;
    for (const char* p = message; *p != '\0'; ++p) {
        if (*p != '\r') text += *p;
    }
    syslog(SyslogPriority(type), "%s", text.c_str());
    return true;
}

}  // namespace

EventSource* RegisterEventSource(const char* sourceName) {
    return new (std::nothrow) EventSource{sourceName != nullptr ? sourceName : ""};
}

void DeregisterEventSource(EventSource* source) {
    delete source;
}

bool ReportEvent(EventSource* source, EventType type, uint32_t identifier,
                 const char* const* strings, int stringCount, const char* message) {
    if (source == nullptr) return false;
    try {
        const char* file = std::getenv("TQ_EVENT_LOG");
        if (file == nullptr || *file == '\0') return ReportToSyslog(*source, type, message);
        std::string line = "{\"source\":";
        AppendJsonString(line, source->name.c_str());
        line += ",\"type\":\"";
        line += TypeName(type);
        char id[16];
        std::snprintf(id, sizeof id, "0x%08X", identifier);
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
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace tq::platform
