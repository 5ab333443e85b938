// The user-message sink.
#include <cstdarg>

#include "kvlog.h"
#include "platform/debugger.h"
#include "platform/message_box.h"
#include "system/identity.h"
#include "util/bounded_format.h"
#include "util/no_destructor.h"

namespace {

// The process-wide switch of the message sink: 0 or 1, initially off.
int g_messageSwitch = 0;

constexpr size_t kMessageBufferSize = 4096;

// The caller's style without the bits above 23 and the four bits that are then
// always set: task-modal, set-foreground, topmost, service notification.
constexpr unsigned int kStyleMask = 0xDADFFFu;
constexpr unsigned int kForcedStyle = 0x252000u;

unsigned int AnswerCode(int answer) {
    using namespace tq::platform;
    switch (answer) {
        case kAnswerCancel:
        case kAnswerAbort:
            return KV_ANSWER_CANCEL;
        case kAnswerRetry:
            return KV_ANSWER_RETRY;
        case kAnswerIgnore:
            return KV_ANSWER_IGNORE;
        case kAnswerNo:
            return KV_ANSWER_NO;
        default:  // OK, Yes, a failed box and any other answer
            return KV_ANSWER_OK;
    }
}

}  // namespace

int KvMsg::Enable(int on) {
    int previous = g_messageSwitch;
    g_messageSwitch = on != 0 ? 1 : 0;
    return previous;
}

unsigned int KvMsg::Message(const char* caption, unsigned int flags, const char* format, ...) {
    if (g_messageSwitch == 0 && (flags & KV_MSG_ALWAYS_SHOW) == 0) return KV_ANSWER_NOT_SHOWN;
    char buffer[kMessageBufferSize];
    va_list args;
    va_start(args, format);
    tq::BoundedVFormat(buffer, sizeof buffer, format, args);
    va_end(args);
    return Show(caption, flags, buffer);
}

KvMsg::~KvMsg() = default;

KvMsgWindows::~KvMsgWindows() = default;

unsigned int KvMsgWindows::Show(const char* caption, unsigned int flags, const char* text) {
    if (caption == nullptr) caption = tq::kRuntimeSystemName;
    int answer = tq::platform::MessageBox(text, caption, (flags & kStyleMask) | kForcedStyle);
    unsigned int code = AnswerCode(answer);
    if (((flags & KV_MSG_BREAK_ON_RETRY) != 0 && code == KV_ANSWER_RETRY) ||
        ((flags & KV_MSG_BREAK_ON_CANCEL) != 0 && code == KV_ANSWER_CANCEL)) {
        tq::platform::DebugBreak();
    }
    return code;
}

KvMsg* KvMessage() {
    static tq::NoDestructor<KvMsgWindows> sink;
    return sink.get();
}
