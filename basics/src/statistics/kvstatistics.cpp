// KvStatistics: the server's counters and their mirror in the shared block.
#include "kvstatistics.h"

#include <atomic>

#include "kvlog.h"
#include "prfdata.h"
#include "statistics/prfdata_items.h"
#include "statistics/statistics_mirror.h"

namespace {

// The shared slots of the counters once enabled; null before. Looked up once
// at Enable, so an update costs no table search.
std::atomic<int32_t*> g_slots[KvStatistics::kCounters];

KvStatistics g_statistics;

}  // namespace

void tq::DetachStatisticsMirror() {
    for (auto& slot : g_slots)
        slot.store(nullptr, std::memory_order_relaxed);
}

KvStatistics::KvStatistics() : enabled(0), counters{} {}

void KvStatistics::Change(int index, int32_t delta) {
    // Atomic arithmetic on signed integers wraps (no overflow), in one step.
    std::atomic_ref<int32_t>(counters[index]).fetch_add(delta, std::memory_order_relaxed);
    if (int32_t* slot = g_slots[index].load(std::memory_order_relaxed)) {
        std::atomic_ref<int32_t>(*slot).fetch_add(delta, std::memory_order_relaxed);
    }
}

void KvStatistics::DecWaitingJobs() {
    constexpr int kWaitingJobs = 18;
    std::atomic_ref<int32_t> local(counters[kWaitingJobs]);
    int32_t old = local.load(std::memory_order_relaxed);
    int32_t next;
    do {
        next = (old < 1 ? 1 : old) - 1;
    } while (!local.compare_exchange_weak(old, next, std::memory_order_relaxed));
    // The mirror follows by the same step, so it stays equal to the local value.
    if (int32_t* slot = g_slots[kWaitingJobs].load(std::memory_order_relaxed)) {
        std::atomic_ref<int32_t>(*slot).fetch_add(next - old, std::memory_order_relaxed);
    }
}

void KvStatistics::Enable() {
    if (IsEnabled()) return;
    PrfData* data = PrfData::Instance();
    const int result = data->Activate(1);
    if (result == 0) {
        for (int i = 0; i < kCounters; ++i) {
            g_slots[i].store(data->CounterSlot32(tq::kFirstCounterId + static_cast<CTRID>(i), 0),
                             std::memory_order_relaxed);
        }
        Clear();
        std::atomic_ref<uint16_t>(enabled).store(1, std::memory_order_release);
    } else if (result == 1) {
        KvSystemLog()->Log(KV_LOG_WARNING, "Performance counters are disabled");
    } else if (result == 3) {
        KvSystemLog()->Log(KV_LOG_WARNING,
                           "The instance of Tessaloquin performance counters already exist");
    } else if (result < 0) {
        KvSystemLog()->Log(KV_LOG_ERROR, "An error occurs during activate performance counters");
    }
}

void KvStatistics::Clear() {
    for (int i = 0; i < kCounters; ++i) {
        std::atomic_ref<int32_t>(counters[i]).store(0, std::memory_order_relaxed);
        if (int32_t* slot = g_slots[i].load(std::memory_order_relaxed)) {
            std::atomic_ref<int32_t>(*slot).store(0, std::memory_order_relaxed);
        }
    }
}

int32_t KvStatistics::Value(int id) const {
    // In 64 bits: any int is an identifier, INT_MIN included.
    const int64_t index = int64_t{id} - static_cast<int64_t>(tq::kFirstCounterId);
    if (index < 0 || index >= kCounters) return 0;
    return std::atomic_ref<int32_t>(const_cast<int32_t&>(counters[index]))
        .load(std::memory_order_relaxed);
}

bool KvStatistics::IsEnabled() const {
    return std::atomic_ref<uint16_t>(const_cast<uint16_t&>(enabled))
               .load(std::memory_order_acquire) != 0;
}

KvStatistics* Statistics() {
    return &g_statistics;
}
