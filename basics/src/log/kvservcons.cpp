// The server console: the facade KvServCons, the defaults of its replaceable
// implementation and the process-wide service-stopped flag.
#include <cstdarg>
#include <cstring>
#include <string>

#include "kvlog.h"
#include "platform/debug_output.h"
#include "util/bounded_format.h"

namespace {

// Formatted console texts hold at most 1023 characters.
constexpr size_t kConsoleBufferSize = 1024;

int g_serviceStopped = 0;

}  // namespace

// ---------------------------------------------------------------------------
// _KvServCons defaults

_KvServCons::~_KvServCons() = default;

void _KvServCons::write(char const* text, int length) {
    if (text == nullptr) return;
    if (length < 0) {
        tq::platform::DebugOutput(text);
        return;
    }
    // A counted text need not be terminated: never read past its length.
    const size_t count = static_cast<size_t>(length);
    if (std::memchr(text, '\0', count) != nullptr) {
        tq::platform::DebugOutput(text);
        return;
    }
    char local[kConsoleBufferSize];
    if (count < sizeof local) {
        std::memcpy(local, text, count);
        local[count] = '\0';
        tq::platform::DebugOutput(local);
        return;
    }
    tq::platform::DebugOutput(std::string(text, count).c_str());
}

void _KvServCons::printf(char const* format, ...) {
    char buffer[kConsoleBufferSize];
    va_list args;
    va_start(args, format);
    tq::BoundedFormatResult result = tq::BoundedVFormat(buffer, sizeof buffer, format, args);
    va_end(args);
    if (result.cut || result.length == 0) return;
    write(buffer, static_cast<int>(result.length));
}

void _KvServCons::terminateLine() {
    write("\r\n", 2);
}

void _KvServCons::flush() {}

void _KvServCons::beginCall(KvServerCallCtx&) {}

void _KvServCons::endCall(KvServerCallCtx&) {}

void _KvServCons::communicationFailure(KvServerCallCtx&) {}

unsigned short _KvServCons::GetMode() {
    return 0;
}

void _KvServCons::SetMode(unsigned short) {}

// ---------------------------------------------------------------------------
// KvServCons

_KvServCons* KvServCons::setImplementation(_KvServCons* implementation) {
    _KvServCons* previous = implementation_;
    implementation_ = implementation;
    return previous;
}

void KvServCons::switchOutput(int on) {
    unsigned short mode = implementation_ != nullptr ? implementation_->GetMode() : 0;
    const unsigned short wanted = on != 0
                                      ? static_cast<unsigned short>(mode | KV_CONSOLE_OUTPUT_ON)
                                      : static_cast<unsigned short>(mode & ~KV_CONSOLE_OUTPUT_ON);
    if (implementation_ != nullptr) {
        implementation_->SetMode(wanted);
        mode = implementation_->GetMode();  // the implementation may refuse
    } else {
        mode = wanted;
    }
    const bool outputOn = (mode & KV_CONSOLE_OUTPUT_ON) != 0;
    if (on != 0 && outputOn) flags_ |= kOutputEnabled;
    if (on == 0 && !outputOn) flags_ &= static_cast<uint16_t>(~kOutputEnabled);
}

KvServCons& KvServCons::operator<<(char const* text) {
    if (text != nullptr && Active()) implementation_->write(text, -1);
    return *this;
}

KvServCons& KvServCons::operator<<(KvString const& text) {
    if (Active()) implementation_->writeString(text);
    return *this;
}

KvServCons& KvServCons::operator<<(int value) {
    if ((flags_ & kOutputEnabled) != 0) printf("%d", value);
    return *this;
}

KvServCons& KvServCons::printf(char const* format, ...) {
    if (!Active()) return *this;
    char buffer[kConsoleBufferSize];
    va_list args;
    va_start(args, format);
    tq::BoundedFormatResult result = tq::BoundedVFormat(buffer, sizeof buffer, format, args);
    va_end(args);
    if (result.cut) {  // a failure or a text that does not fit: the empty text
        buffer[0] = '\0';
        result.length = 0;
    }
    implementation_->write(buffer, static_cast<int>(result.length));
    return *this;
}

KvServCons& KvServCons::terminateLine() {
    if (Active()) implementation_->terminateLine();
    return *this;
}

KvServCons& KvServCons::flush() {
    if (Active()) implementation_->flush();
    return *this;
}

unsigned short KvServCons::GetMode() {
    return implementation_ != nullptr ? implementation_->GetMode() : 0;
}

void KvServCons::SetMode(unsigned short mode) {
    if (implementation_ != nullptr) implementation_->SetMode(mode);
}

int KvServCons::ControlTraceFile(KvString& name, unsigned short mode, int flag) {
    return implementation_ != nullptr ? implementation_->controlTraceFile(name, mode, flag) : 0;
}

void KvServCons::BeginCall(KvServerCallCtx& call) {
    if (Active()) implementation_->beginCall(call);
}

void KvServCons::EndCall(KvServerCallCtx& call) {
    if (Active()) implementation_->endCall(call);
}

void KvServCons::CommunicationFailure(KvServerCallCtx& call) {
    if (Active()) implementation_->communicationFailure(call);
}

KvServCons& endl(KvServCons& console) {
    return console.terminateLine().flush();
}

// ---------------------------------------------------------------------------
// Service-stopped flag

int KIVO_Service_hasStopped() {
    return g_serviceStopped;
}

void StopKIVO_Service() {
    g_serviceStopped = 1;
}
