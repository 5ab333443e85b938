// The library's message table for the event log and its rendering.
#ifndef KVBASICS_EVENT_MESSAGES_H
#define KVBASICS_EVENT_MESSAGES_H

#include <cstdint>
#include <string>

namespace tq {

// The stored text of an event identifier, or null when the table has none.
// "%1".."%4" are the insertion strings, "%n" a line break (followed by a line
// feed, so that the lines of a text stand apart by an empty one).
const char* EventMessageText(uint32_t identifier);

// The text of identifier with its four insertion strings filled in. An
// identifier without a stored text renders as the logged text (%2) alone.
std::string RenderEventMessage(uint32_t identifier, const char* const strings[4]);

}  // namespace tq

#endif  // KVBASICS_EVENT_MESSAGES_H
