#include "log/event_messages.h"

namespace tq {
namespace {

struct EventMessage {
    uint32_t identifier;
    const char* text;
};

constexpr EventMessage kMessages[] = {
    {0x00000001u, "SUCCESS: %2 "},
    {0x00000005u, "%2 %1"},
    {0x00000006u, "%2 %1"},
    {0x00000007u, "%2 %1%n\nPID=%3%n\nEXE=%4"},
    {0x00000008u, "%2 %1%n\nPID=%3"},
    {0x40000002u, "%2"},
    {0x80000003u, "WARNING: %2 %1%n\nPID=%3%n\nEXE=%4"},
    {0xC0000004u, "ERROR: %2 %1%n\nPID=%3%n\nEXE=%4"},
    {0xC0000009u, "%2 %1%n\nPID=%3%n\nEXE=%4"},
    {0xC000000Au, "%2 %1%n\nPID=%3%n\nEXE=%4%n\nAborted."},
    {0xC000000Bu, "%2 %1%n\nPID=%3%n\nEXE=%4"},
};

}  // namespace

const char* EventMessageText(uint32_t identifier) {
    for (const EventMessage& message : kMessages) {
        if (message.identifier == identifier) return message.text;
    }
    return nullptr;
}

std::string RenderEventMessage(uint32_t identifier, const char* const strings[4]) {
    const char* text = EventMessageText(identifier);
    if (text == nullptr) text = "%2";
    std::string out;
    // GCOVR_EXCL_BR_START: the texts above hold only %1 to %4 and %n, and the
    // log's four strings are never null
    for (const char* p = text; *p != '\0'; ++p) {
        if (p[0] == '%' && p[1] >= '1' && p[1] <= '4') {
            const char* insert = strings[p[1] - '1'];
            out += insert != nullptr ? insert : "";
            ++p;
        } else if (p[0] == '%' && p[1] == 'n') {
            out += '\n';
            ++p;
        } else {
            out += *p;
        }
    }
    // GCOVR_EXCL_BR_STOP
    return out;
}

}  // namespace tq
