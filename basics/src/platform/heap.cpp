#include "platform/heap.h"

#include <atomic>
#include <cstdlib>

namespace tq::platform {
namespace {

// Requests counted since the last HeapFailAfter, and the one that must fail.
std::atomic<uint64_t> g_requests{0};
std::atomic<uint64_t> g_failAt{0};

bool InjectedFailure() {
    uint64_t failAt = g_failAt.load(std::memory_order_relaxed);
    uint64_t request = g_requests.fetch_add(1, std::memory_order_relaxed) + 1;
    return failAt != 0 && request == failAt;
}

}  // namespace

void* HeapAllocate(size_t size) {
    return InjectedFailure() ? nullptr : std::malloc(size);
}

void* HeapReallocate(void* block, size_t size) {
    return InjectedFailure() ? nullptr : std::realloc(block, size);
}

void HeapFree(void* block) {
    std::free(block);
}

uint64_t HeapFailAfter(uint64_t n) {
    g_failAt.store(n, std::memory_order_relaxed);
    return g_requests.exchange(0, std::memory_order_relaxed);
}

}  // namespace tq::platform
