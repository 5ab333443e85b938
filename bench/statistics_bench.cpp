// A statistics update with the counters enabled (mirrored into the shared
// block) against a relaxed std::atomic increment, and a collection by a
// consumer (a copy read through the block's descriptor) against the same
// collection from the provider's mapping (a plain copy). Enabling needs installed
// counters: the benchmark installs them in a registry store of its own (a
// temporary directory) under a private shared-memory namespace, and removes
// both at exit.
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "kvstatistics.h"
#include "prfdata.h"
#include "statistics/prfdata_items.h"

namespace {

std::string g_root;
std::string g_namespace;

void CleanUp() {
    DeregisterStatistics();
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ignored)) {
        if (entry.path().filename().string().rfind(g_namespace, 0) == 0)
            std::filesystem::remove_all(entry.path(), ignored);
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

void Collect(benchmark::State& state, PrfData* data) {
    std::vector<unsigned char> buffer(2048);
    char16_t global[] = u"Global";
    for (auto _ : state) {
        void* at = buffer.data();
        uint32_t bytes = static_cast<uint32_t>(buffer.size()), objects = 0;
        data->Collect(global, &at, &bytes, &objects);
        benchmark::DoNotOptimize(buffer.data());
        if (bytes == 0) state.SkipWithError("nothing collected");
    }
}

// The provider's own PrfData collects from its mapping.
void CollectMapped(benchmark::State& state) {
    static const bool enabled = Enable();
    if (!enabled) return state.SkipWithError("the statistics could not be enabled");
    Collect(state, PrfData::Instance());
}

void CollectOurs(benchmark::State& state) {
    static const bool enabled = Enable();
    static std::vector<PRFITM> items(std::begin(tq::g_statisticsItems),
                                     std::end(tq::g_statisticsItems));
    static PrfData consumer(u"Tessaloquin", items.data());
    if (!enabled || (!consumer.IsActive() && consumer.Activate(0) != 0))
        return state.SkipWithError("no block to collect");
    Collect(state, &consumer);
}

// statistics/update/ours against statistics/update/atomic, a consumer's
// collection against the provider's.
const bool registered = [] {
    benchmark::RegisterBenchmark("statistics/update/ours", UpdateOurs);
    benchmark::RegisterBenchmark("statistics/update/atomic", AtomicIncrement);
    benchmark::RegisterBenchmark("statistics/collect/ours", CollectOurs);
    benchmark::RegisterBenchmark("statistics/collect/mapped", CollectMapped);
    return true;
}();

}  // namespace
