// Memory primitives, the memory handler and the default out-of-memory handler.
#include <cinttypes>
#include <cstdio>
#include <new>

#include "kvlog.h"
#include "kvmemory.h"
#include "platform/heap.h"

namespace {

constexpr const char* kOutOfMemoryFormat = "\n%s\n%s %" PRIu32 " %s\n";

// Reports the shortage on standard error, the system log and the message
// sink, then fails an assertion.
int DefaultMemoryHandler(unsigned long long size) {
    // The count is shown by its low 32 bits.
    const uint32_t shown = static_cast<uint32_t>(size);
    std::fprintf(stderr, kOutOfMemoryFormat, "Tessaloquin runs out of memory.", "Tried to allocate",
                 shown, "bytes of memory.");
    KvSystemLog()->Log(KV_LOG_OUT_OF_MEMORY, kOutOfMemoryFormat, "Tessaloquin runs out of memory.",
                       "Tried to allocate", shown, "bytes of memory.");
    KvMessage()->Message(nullptr, 0, kOutOfMemoryFormat, "Tessaloquin runs out of memory.",
                         "Tried to allocate", shown, "bytes of memory.");
    KIVO_assert("Out of memory. Aborting!", "src\\resize", 164);
    return 0;
}

KvMemoryHandler g_memoryHandler = DefaultMemoryHandler;
std::new_handler g_previousNewHandler = nullptr;
// glibc's malloc has no new mode; the setting is kept for whoever asks.
int g_newMode = 0;

// operator new gives its handler no size; the memory handler is told 0. A
// handler that gives up (0) makes operator new fail with std::bad_alloc, one
// that freed memory (non-zero) lets it try again.
void ForwardingNewHandler() {
    if (g_memoryHandler(0) == 0) throw std::bad_alloc();
}

// A caller's handler has the memory handler's shape, int (*)(size_t), and the
// same meaning; operator new's handler returns nothing, so this one turns its
// 0 into std::bad_alloc (the runtime would otherwise ask again without end).
using CallerNewHandler = int (*)(size_t);
CallerNewHandler g_callerNewHandler = nullptr;

void CallerForwardingNewHandler() {
    const CallerNewHandler handler = g_callerNewHandler;
    if (handler == nullptr || handler(0) == 0) throw std::bad_alloc();
}

template <typename CallHandler>
int Resize(void** block, size_t size, CallHandler callHandler) {
    if (size == 0) {
        tq::platform::HeapFree(*block);
        *block = nullptr;
        return 0;
    }
    void* resized = *block == nullptr ? tq::platform::HeapAllocate(size)
                                      : tq::platform::HeapReallocate(*block, size);
    if (resized == nullptr) {
        callHandler(size);
        return -1;
    }
    *block = resized;
    return 0;
}

}  // namespace

int mmResize(void** block, size_t size) {
    return Resize(block, size, [](size_t n) { g_memoryHandler(n); });
}

int mmFarResize(void** block, size_t size) {
    return Resize(block, size, [](size_t n) { KvCallMemoryHandler(n); });
}

KvMemoryHandler mmKvSetHandler(KvMemoryHandler handler) {
    KvMemoryHandler previous = g_memoryHandler;
    g_memoryHandler = handler;
    g_newMode = 1;
    return previous;
}

int KvCallMemoryHandler(unsigned long long size) {
    return g_memoryHandler(size);
}

void* KvSetOurNewHandler(void* handler) {
    const CallerNewHandler previousCaller = g_callerNewHandler;
    g_callerNewHandler = reinterpret_cast<CallerNewHandler>(handler);
    g_previousNewHandler = std::set_new_handler(handler != nullptr ? CallerForwardingNewHandler
                                                                   : ForwardingNewHandler);
    g_newMode = 1;
    // What it replaced, in the shape this function takes it back.
    if (g_previousNewHandler == CallerForwardingNewHandler)
        return reinterpret_cast<void*>(previousCaller);
    if (g_previousNewHandler == ForwardingNewHandler) return nullptr;
    return reinterpret_cast<void*>(g_previousNewHandler);
}
