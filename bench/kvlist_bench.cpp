// KvCList and KvLList against std::vector: appending 8-byte elements to an
// empty list (push_back), and binary search for elements that are there
// (std::lower_bound).
//
// The C library keeps the memory it is given back (no trimming, no separate
// mappings for these block sizes), so that both sides are timed on memory that
// is already there rather than on the kernel's page faults.
#include <malloc.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "kvarray.h"

namespace {

constexpr uint32_t kCount = 32767;  // the most a KvCList holds
constexpr size_t kSearches = 4096;

int CompareKeys(KvVArray const*, void* a, void* b) {
    uint64_t x;
    uint64_t y;
    std::memcpy(&x, a, sizeof x);
    std::memcpy(&y, b, sizeof y);
    return x < y ? -1 : (x > y ? 1 : 0);
}

// Sorted distinct keys, and the order in which they are looked up.
std::vector<uint64_t> SortedKeys() {
    std::mt19937_64 random(5);
    std::vector<uint64_t> keys(kCount);
    for (auto& key : keys)
        key = random();
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    return keys;
}

std::vector<uint64_t> Probes(const std::vector<uint64_t>& keys) {
    std::mt19937 random(6);
    std::vector<uint64_t> probes(kSearches);
    for (auto& probe : probes)
        probe = keys[random() % keys.size()];
    return probes;
}

// The elements appended: records read from a source, as a list is filled in
// practice (a loop counter would do for the vector, whose growth is inlined,
// but an array whose growth lies out of line needs its element in memory).
const std::vector<uint64_t>& Source() {
    static const std::vector<uint64_t> source = [] {
        std::vector<uint64_t> values(kCount);
        std::iota(values.begin(), values.end(), uint64_t{1});
        return values;
    }();
    return source;
}

template <typename List>
void AppendOurs(benchmark::State& state) {
    const uint64_t* source = Source().data();
    for (auto _ : state) {
        List list(8, 0);
        for (uint32_t i = 0; i < kCount; ++i)
            list.Insert(list.GetCount(), source + i);
        benchmark::DoNotOptimize(list.Element(0));
    }
    state.SetItemsProcessed(state.iterations() * kCount);
}

void AppendVector(benchmark::State& state) {
    const uint64_t* source = Source().data();
    for (auto _ : state) {
        std::vector<uint64_t> list;
        for (uint32_t i = 0; i < kCount; ++i)
            list.push_back(source[i]);
        benchmark::DoNotOptimize(list.data());
    }
    state.SetItemsProcessed(state.iterations() * kCount);
}

template <typename List>
void SearchOurs(benchmark::State& state) {
    const auto keys = SortedKeys();
    const auto probes = Probes(keys);
    List list(8, 0);
    for (uint64_t key : keys)
        list.Insert(list.GetCount(), &key);
    list.SetCompareFunction(CompareKeys);
    for (auto _ : state) {
        uint32_t sum = 0;
        for (uint64_t probe : probes) {
            uint32_t index = 0;
            list.Search(&probe, &index, nullptr);
            sum += index;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kSearches));
}

void SearchVector(benchmark::State& state) {
    const auto keys = SortedKeys();
    const auto probes = Probes(keys);
    for (auto _ : state) {
        uint32_t sum = 0;
        for (uint64_t probe : probes)
            sum += static_cast<uint32_t>(std::lower_bound(keys.begin(), keys.end(), probe) -
                                         keys.begin());
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kSearches));
}

// kvclist/append/ours against kvclist/append/vector, and so on.
const bool registered = [] {
    mallopt(M_MMAP_THRESHOLD, 4 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    benchmark::RegisterBenchmark("kvclist/append/ours", AppendOurs<KvCList>);
    benchmark::RegisterBenchmark("kvclist/append/vector", AppendVector);
    benchmark::RegisterBenchmark("kvllist/append/ours", AppendOurs<KvLList>);
    benchmark::RegisterBenchmark("kvllist/append/vector", AppendVector);
    benchmark::RegisterBenchmark("kvclist/search/ours", SearchOurs<KvCList>);
    benchmark::RegisterBenchmark("kvclist/search/lower_bound", SearchVector);
    benchmark::RegisterBenchmark("kvllist/search/ours", SearchOurs<KvLList>);
    benchmark::RegisterBenchmark("kvllist/search/lower_bound", SearchVector);
    return true;
}();

}  // namespace
