#include "platform/debug_output.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tq::platform {
namespace {

void DefaultSink(const char* text) {
    const char* target = std::getenv("TQ_DEBUG_OUTPUT");
    if (target == nullptr || *target == '\0') return;
    if (std::strcmp(target, "stderr") == 0) {
        std::fputs(text, stderr);
        std::fflush(stderr);
        return;
    }
    if (FILE* file = std::fopen(target, "a")) {
        std::fputs(text, file);
        std::fclose(file);
    }
}

DebugOutputSink g_sink = nullptr;

}  // namespace

void DebugOutput(const char* text) {
    if (text == nullptr) return;
    (g_sink != nullptr ? g_sink : DefaultSink)(text);
}

DebugOutputSink SetDebugOutputSink(DebugOutputSink sink) {
    DebugOutputSink previous = g_sink;
    g_sink = sink;
    return previous;
}

}  // namespace tq::platform
