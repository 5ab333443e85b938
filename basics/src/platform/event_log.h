// Event log: syslog(3) with the source name as ident, or, when TQ_EVENT_LOG
// names a file, one JSON object per event appended to that file:
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

}  // namespace tq::platform

#endif  // KVBASICS_PLATFORM_EVENT_LOG_H
