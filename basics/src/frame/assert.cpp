// Assertions and the process-wide hook slots.
#include <cstdio>

#include "kvlog.h"
#include "kvmemory.h"
#include "platform/fatal.h"
#include "util/bounded_format.h"

namespace {

KvFatalErrorCallback g_fatalErrorCallback = nullptr;
KvConfig* g_defaultConfig = nullptr;
smp_io* g_console = nullptr;

const char* OrNull(const char* text) {
    return text != nullptr ? text : "(null)";
}

}  // namespace

int KIVO_assert(char const* expression, char const* file, int line) {
    // The callback comes first: it may end the process before anything is written.
    if (g_fatalErrorCallback != nullptr) g_fatalErrorCallback(expression, file, line);
    char text[1024];
    tq::BoundedFormat(text, sizeof text, "Assertion '%s' failed.\nFile '%s' \nLine %d \n",
                      OrNull(expression), OrNull(file), line);
    // Written verbatim: a '%' in the expression or the file is not read again.
    KvSystemLog()->Log(KV_LOG_ERROR, "%s", text);
    std::fputs(text, stderr);
    std::fflush(stderr);
    tq::platform::RaiseFatalException(KV_FATAL_EXCEPTION_CODE, text);
}

KvFatalErrorCallback SetFatalErrorCallback(KvFatalErrorCallback callback) {
    KvFatalErrorCallback previous = g_fatalErrorCallback;
    g_fatalErrorCallback = callback;
    return previous;
}

KvFatalErrorCallback GetFatalErrorCallback() {
    return g_fatalErrorCallback;
}

KvConfig* DefaultConfig(KvConfig* config) {
    if (config != KV_QUERY_CONFIG) g_defaultConfig = config;
    return g_defaultConfig;
}

smp_io* Console(smp_io* console) {
    smp_io* previous = g_console;
    if (console != nullptr) g_console = console;
    return previous;
}

smp_io* GetConsole() {
    return g_console;
}

KvConfig::~KvConfig() = default;
