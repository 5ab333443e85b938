// Heap-failure sweeps: an operation runs once for every heap request it
// makes, each time on a fresh object and with that one request refused.
#ifndef TQ_TESTS_SUPPORT_HEAP_SWEEP_H
#define TQ_TESTS_SUPPORT_HEAP_SWEEP_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include <gtest/gtest.h>

#include "kvmemory.h"
#include "platform/heap.h"

namespace tq::test {

// Operations swept and failures injected for one family; Report() appends
// them to the file TQ_RELIABILITY_REPORT names, if any.
struct SweepTally {
    const char* family;
    int operations = 0;
    int failures = 0;

    void Report() const {
        const char* path = std::getenv("TQ_RELIABILITY_REPORT");
        if (path == nullptr || *path == '\0') return;
        std::FILE* file = std::fopen(path, "a");
        ASSERT_NE(file, nullptr) << path;
        std::fprintf(file, "heap-failure %s %d operations %d injected failures\n", family,
                     operations, failures);
        std::fclose(file);
    }
};

// While it lives, the memory handler counts its calls and gives up.
class CountingMemoryHandler {
public:
    CountingMemoryHandler() : previous_(mmKvSetHandler(Count)) { calls = 0; }
    ~CountingMemoryHandler() {
        tq::platform::HeapFailAfter(0);
        mmKvSetHandler(previous_);
    }
    CountingMemoryHandler(const CountingMemoryHandler&) = delete;
    CountingMemoryHandler& operator=(const CountingMemoryHandler&) = delete;

    static inline int calls = 0;

private:
    static int Count(unsigned long long) { return ++calls, 0; }
    KvMemoryHandler previous_;
};

// The heap requests that fn makes.
template <typename Fn>
uint64_t HeapRequests(Fn fn) {
    tq::platform::HeapFailAfter(0);
    fn();
    return tq::platform::HeapFailAfter(0);
}

// For n = 1, 2, ... until a run makes fewer than n requests: make() builds a
// fresh state, run(state) performs the operation with its nth heap request
// refused and answers 0, or refusedResult when a request was refused, after
// handlerCalls calls of the memory handler; then state.Works(refused) checks
// the state. Needs a CountingMemoryHandler in place.
template <typename Make, typename Run>
void SweepHeapFailures(SweepTally& tally, const char* operation, Make make, int refusedResult,
                       Run run, int handlerCalls = 1) {
    SCOPED_TRACE(operation);
    constexpr uint64_t kMostRequests = 10000;
    uint64_t n = 1;
    for (; n <= kMostRequests; ++n) {
        SCOPED_TRACE(testing::Message() << "request " << n << " refused");
        auto state = make();
        CountingMemoryHandler::calls = 0;
        tq::platform::HeapFailAfter(n);
        const int result = run(*state);
        const bool refused = tq::platform::HeapFailAfter(0) >= n;
        tally.failures += refused ? 1 : 0;
        EXPECT_EQ(result, refused ? refusedResult : 0);
        EXPECT_EQ(CountingMemoryHandler::calls, refused ? handlerCalls : 0);
        state->Works(refused);
        if (!refused || testing::Test::HasFatalFailure()) break;
    }
    if (!testing::Test::HasFatalFailure()) {
        EXPECT_GT(n, 1u) << "the operation makes no heap request";
    }
    EXPECT_LE(n, kMostRequests);
    ++tally.operations;
}

// A make() for SweepHeapFailures: each call builds a fresh S from args.
template <typename S, typename... Args>
auto Fresh(Args... args) {
    return [=] { return std::make_unique<S>(args...); };
}

}  // namespace tq::test

#endif  // TQ_TESTS_SUPPORT_HEAP_SWEEP_H
