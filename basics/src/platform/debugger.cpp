#include "platform/debugger.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tq::platform {
namespace {

void DefaultBreak() {
    if (DebuggerAttached()) std::raise(SIGTRAP);
}

DebugBreakHandler g_handler = nullptr;

}  // namespace

bool DebuggerAttached() {
    FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) return false;
    char line[256];
    bool attached = false;
    // Every kernel the library runs on writes the line.
    while (std::fgets(line, sizeof line, status) != nullptr) {  // GCOVR_EXCL_BR_LINE: see above
        if (std::strncmp(line, "TracerPid:", 10) == 0) {
            attached = std::strtol(line + 10, nullptr, 10) != 0;
            break;
        }
    }
    std::fclose(status);
    return attached;
}

void DebugBreak() {
    (g_handler != nullptr ? g_handler : DefaultBreak)();
}

DebugBreakHandler SetDebugBreakHandler(DebugBreakHandler handler) {
    DebugBreakHandler previous = g_handler;
    g_handler = handler;
    return previous;
}

}  // namespace tq::platform
