// A statistics update with the counters enabled (mirrored into the shared
// block) against a relaxed std::atomic increment. Enabling needs installed
// counters: the benchmark installs them in a registry store of its own (a
// temporary directory) under a private shared-memory namespace, and removes
// both at exit.
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <benchmark/benchmark.h>

#include "kvstatistics.h"

namespace {

std::string g_root;
std::string g_namespace;

void CleanUp() {
    DeregisterStatistics();
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ignored)) {
        if (entry.path().filename().string().rfind(g_namespace, 0) == 0)
            std::filesystem::remove(entry.path(), ignored);
    }
    std::filesystem::remove_all(g_root, ignored);
}

bool Enable() {
    char dir[] = "/tmp/tqbench.XXXXXX";
    if (mkdtemp(dir) == nullptr) return false;
    g_root = dir;
    g_namespace = "tqbench" + std::to_string(getpid()) + "_";
    setenv("TQ_REGISTRY_ROOT", (g_root + "/registry").c_str(), 1);
    setenv("TQ_EVENT_LOG", (g_root + "/events").c_str(), 1);
    setenv("TQ_SHM_NAMESPACE", g_namespace.c_str(), 1);
    std::atexit(CleanUp);
    if (RegisterStatistics() != 0) return false;
    Statistics()->Enable();
    return Statistics()->IsEnabled();
}

void UpdateOurs(benchmark::State& state) {
    static const bool enabled = Enable();
    if (!enabled) {
        state.SkipWithError("the statistics could not be enabled");
        return;
    }
    KvStatistics* statistics = Statistics();
    for (auto _ : state)
        statistics->IncTransactions();
    benchmark::DoNotOptimize(statistics->Value(101));
}

void AtomicIncrement(benchmark::State& state) {
    static std::atomic<int32_t> counter{0};
    for (auto _ : state)
        counter.fetch_add(1, std::memory_order_relaxed);
    benchmark::DoNotOptimize(counter.load(std::memory_order_relaxed));
}

// statistics/update/ours against statistics/update/atomic.
const bool registered = [] {
    benchmark::RegisterBenchmark("statistics/update/ours", UpdateOurs);
    benchmark::RegisterBenchmark("statistics/update/atomic", AtomicIncrement);
    return true;
}();

}  // namespace
