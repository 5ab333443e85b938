// Event log: one datagram per event to the system log, sent without
// openlog(3)/syslog(3) so that the host program's own syslog settings stay as
// they are. The journal's native socket gets the message with the fields
// PRIORITY, SYSLOG_IDENTIFIER (the source name), SYSLOG_FACILITY, SYSLOG_PID,
// TQ_EVENT_ID and TQ_EVENT_TYPE; without it, /dev/log gets a classic syslog
// line "<PRI>Mmm dd hh:mm:ss SOURCE[PID]: MESSAGE" (facility user). With
// neither, the event is lost. When TQ_EVENT_LOG names a file, one JSON object
// per event is appended to that file instead:
//   {"source":"...","type":"error","identifier":"0xC0000004",
//    "strings":["...","...","...","..."],"message":"..."}
// The variable is read at every report.
#ifndef KVBASICS_PLATFORM_EVENT_LOG_H
#define KVBASICS_PLATFORM_EVENT_LOG_H

#include <cstdint>

namespace tq::platform {

// Event types, numbered as the platform numbers them.
enum EventType : uint16_t {
    kEventSuccess = 0,
    kEventError = 1,
    kEventWarning = 2,
    kEventInformation = 4,
};

struct EventSource;

// Opens an event source; null when it cannot be opened.
EventSource* RegisterEventSource(const char* sourceName);
void DeregisterEventSource(EventSource* source);

// Reports one event with its insertion strings and the rendered message text.
// Returns false when the event could not be written.
bool ReportEvent(EventSource* source, EventType type, uint32_t identifier,
                 const char* const* strings, int stringCount, const char* message);

// Points the journal and syslog sockets elsewhere; null restores the system's.
// The paths must outlive their use.
void SetLogSocketPathsForTesting(const char* journal, const char* syslogSocket);

}  // namespace tq::platform

#endif  // KVBASICS_PLATFORM_EVENT_LOG_H
