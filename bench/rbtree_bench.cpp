// KvRBTree against std::multiset and KvRBTree1 against std::set, both peers
// comparing through a function pointer as the trees do; KvEntryCache against
// malloc/free of the same size. Heap bytes per entry come from the C
// library's own accounting (mallinfo2) before and after building. With
// TQ_BENCH_SWEEP set, also insert and search on 1 K to 16 M keys against both
// peers for the charts of scripts/bench --plot.
#include <malloc.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <absl/container/btree_set.h>
#include <benchmark/benchmark.h>

#include "kvbasics.h"

namespace {

constexpr size_t kEntries = 1000000;

const std::vector<uint64_t>& RandomKeys() {
    static const std::vector<uint64_t> keys = [] {
        std::vector<uint64_t> out(kEntries);
        std::mt19937_64 random(7);
        for (auto& key : out)
            key = random();
        return out;
    }();
    return keys;
}

const std::vector<uint64_t>& AscendingKeys() {
    static const std::vector<uint64_t> keys = [] {
        std::vector<uint64_t> out(kEntries);
        for (size_t i = 0; i < out.size(); ++i)
            out[i] = i * 3;
        return out;
    }();
    return keys;
}

size_t HeapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

// ---------------------------------------------------------------------------
// The tree's side: elements are the 8-byte keys themselves.

const void* KeyOf(KvVContainer*, const void* element, int* status, KvVParameter*) {
    *status = 0;
    return element;
}

int CompareKeys(KvCompareArgs* args) {
    uint64_t key, element;
    std::memcpy(&key, args->key, 8);
    std::memcpy(&element, args->element, 8);
    *args->keyResult = *args->orderResult = (key > element) - (key < element);
    return 0;
}

int CopyKey(KvVContainer*, void* element, const KvVIterator*, const void* key, const void*,
            KvVParameter*) {
    std::memcpy(element, key, 8);
    return 0;
}

void Install(KvVContainer& container) {
    container.SetKeyFunction(KeyOf);
    container.SetCompareFunction(CompareKeys);
    container.SetCopyFunction(CopyKey);
}

class Probe : public KvVIterator {
public:
    Probe() : KvVIterator(nullptr, &source_) {
        Install(source_);
        status = 0;
    }
    const Probe* Set(uint64_t key) {
        key_ = key;
        return this;
    }
    const void* GetEntry(int& s, KvVParameter*) const override {
        s = 0;
        return &key_;
    }

private:
    KvVContainer source_{8, 0};
    uint64_t key_ = 0;
};

struct Tree {
    Tree() : tree(8, KvCONT_DUPLICATES, 0) { Install(tree); }
    void InsertAll(const std::vector<uint64_t>& keys) {
        for (uint64_t key : keys)
            tree.InsertElement(probe.Set(key), nullptr, 0, nullptr);
    }
    KvRBTree tree;
    Probe probe;
};

bool Less(uint64_t a, uint64_t b) {
    return a < b;
}
using Multiset = std::multiset<uint64_t, bool (*)(uint64_t, uint64_t)>;

// ---------------------------------------------------------------------------

void TreeInsert(benchmark::State& state, const std::vector<uint64_t>& keys) {
    for (auto _ : state) {
        state.PauseTiming();
        auto* tree = new Tree;
        const size_t before = HeapInUse();
        state.ResumeTiming();
        tree->InsertAll(keys);
        state.PauseTiming();
        state.counters["heap_bytes_per_entry"] =
            static_cast<double>(HeapInUse() - before) / static_cast<double>(keys.size());
        delete tree;
        state.ResumeTiming();
    }
}

void SetInsert(benchmark::State& state, const std::vector<uint64_t>& keys) {
    for (auto _ : state) {
        state.PauseTiming();
        auto* set = new Multiset(Less);
        const size_t before = HeapInUse();
        state.ResumeTiming();
        for (uint64_t key : keys)
            set->insert(key);
        state.PauseTiming();
        state.counters["heap_bytes_per_entry"] =
            static_cast<double>(HeapInUse() - before) / static_cast<double>(keys.size());
        delete set;
        state.ResumeTiming();
    }
}

void TreeSearch(benchmark::State& state) {
    Tree tree;
    tree.InsertAll(RandomKeys());
    KvRBTreeIterator result(&tree.tree, nullptr);
    for (auto _ : state) {
        for (uint64_t key : RandomKeys()) {
            benchmark::DoNotOptimize(
                tree.tree.SearchElement(tree.probe.Set(key), nullptr, 0, nullptr, &result));
        }
    }
}

void SetSearch(benchmark::State& state) {
    Multiset set(RandomKeys().begin(), RandomKeys().end(), Less);
    for (auto _ : state) {
        for (uint64_t key : RandomKeys())
            benchmark::DoNotOptimize(set.find(key));
    }
}

// Abseil's B-tree: the strongest ordered container packaged by Debian, with
// the same compare function as the others.
void BtreeSearch(benchmark::State& state) {
    absl::btree_multiset<uint64_t, bool (*)(uint64_t, uint64_t)> set(RandomKeys().begin(),
                                                                     RandomKeys().end(), Less);
    for (auto _ : state) {
        for (uint64_t key : RandomKeys())
            benchmark::DoNotOptimize(set.find(key));
    }
}

void TreeWalk(benchmark::State& state) {
    Tree tree;
    tree.InsertAll(RandomKeys());
    KvRBTreeIterator it(&tree.tree, nullptr);
    for (auto _ : state) {
        uint64_t sum = 0;
        for (int rc = it.First(); rc == 0; rc = it.Next()) {
            int status = 0;
            uint64_t key;
            std::memcpy(&key, it.GetElement(status, nullptr), 8);
            sum += key;
        }
        benchmark::DoNotOptimize(sum);
    }
}

void SetWalk(benchmark::State& state) {
    Multiset set(RandomKeys().begin(), RandomKeys().end(), Less);
    for (auto _ : state) {
        uint64_t sum = 0;
        for (uint64_t key : set)
            sum += key;
        benchmark::DoNotOptimize(sum);
    }
}

void TreeDelete(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto* tree = new Tree;
        tree->InsertAll(RandomKeys());
        state.ResumeTiming();
        for (uint64_t key : RandomKeys()) {
            tree->tree.DeleteElement(tree->probe.Set(key), nullptr, 0, nullptr);
        }
        state.PauseTiming();
        delete tree;
        state.ResumeTiming();
    }
}

void SetDelete(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto* set = new Multiset(RandomKeys().begin(), RandomKeys().end(), Less);
        state.ResumeTiming();
        for (uint64_t key : RandomKeys())
            set->erase(set->find(key));
        state.PauseTiming();
        delete set;
        state.ResumeTiming();
    }
}

// ---------------------------------------------------------------------------
// KvRBTree1 find-or-add against std::set.

class KeyTree : public KvRBTree1 {
public:
    KeyTree() : KvRBTree1(8, 0) {}
    void InitElement(const void* key, void* element) override { std::memcpy(element, key, 8); }
    int CompareKey(const void* key, const void* element) const override {
        uint64_t a, b;
        std::memcpy(&a, key, 8);
        std::memcpy(&b, element, 8);
        return (a > b) - (a < b);
    }
};

void Tree1FindOrAdd(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto* tree = new KeyTree;
        state.ResumeTiming();
        for (uint64_t key : RandomKeys()) {
            KvRBTree1NodeStack stack;
            int result = 0;
            const uint64_t k = key % (kEntries / 2);  // half the keys come twice
            if (tree->SearchNode(&k, stack, result) == nullptr || result != 0) {
                tree->AddNode(&k, stack, result);
            }
        }
        state.PauseTiming();
        delete tree;
        state.ResumeTiming();
    }
}

void SetFindOrAdd(benchmark::State& state) {
    using Set = std::set<uint64_t, bool (*)(uint64_t, uint64_t)>;
    for (auto _ : state) {
        state.PauseTiming();
        auto* set = new Set(Less);
        state.ResumeTiming();
        for (uint64_t key : RandomKeys())
            set->insert(key % (kEntries / 2));
        state.PauseTiming();
        delete set;
        state.ResumeTiming();
    }
}

// ---------------------------------------------------------------------------
// The entry cache: take 1000 entries, give them back.

void CacheGetPut(benchmark::State& state) {
    KvEntryCache cache(40, 0, 8);
    std::vector<void*> entries(1000);
    for (auto _ : state) {
        for (auto& entry : entries)
            entry = cache.GetEntry();
        for (void* entry : entries)
            cache.PutEntry(entry);
        benchmark::DoNotOptimize(entries.data());
    }
}

void MallocFree(benchmark::State& state) {
    std::vector<void*> entries(1000);
    for (auto _ : state) {
        for (auto& entry : entries)
            entry = std::malloc(40);
        for (void* entry : entries)
            std::free(entry);
        benchmark::DoNotOptimize(entries.data());
    }
}

// ---------------------------------------------------------------------------
// For scripts/bench --plot: sweep/tree/{insert,search}/N/{ours,multiset,btree}
// for 1 K to 16 M random keys, in nanoseconds per operation (items per second).
// An insert row builds a tree of N keys per iteration and leaves the last one
// in a cache of one tree; the search row of the same container and size, run
// next, searches that tree, so that the large trees are built once. From 1 M
// keys on a row runs one repetition: one build for the insert, a short time of
// searches.

constexpr size_t kSweepLargest = size_t{16} << 20;
constexpr size_t kSweepLarge = size_t{1} << 20;
constexpr size_t kSweepProbes = 65536;  // keys searched per iteration, at most

const std::vector<uint64_t>& SweepKeys() {
    static const std::vector<uint64_t> keys = [] {
        std::vector<uint64_t> out(kSweepLargest);
        std::mt19937_64 random(7);
        for (auto& key : out)
            key = random();
        return out;
    }();
    return keys;
}

// The keys a search row looks for: all N in random order, or kSweepProbes
// drawn at random from the N.
std::vector<uint64_t> SweepProbes(size_t n) {
    const std::vector<uint64_t>& keys = SweepKeys();
    std::mt19937_64 random(11);
    std::vector<uint64_t> probes;
    if (n <= kSweepProbes) {
        probes.assign(keys.begin(), keys.begin() + static_cast<std::ptrdiff_t>(n));
        std::shuffle(probes.begin(), probes.end(), random);
    } else {
        probes.resize(kSweepProbes);
        for (auto& probe : probes)
            probe = keys[random() % n];
    }
    return probes;
}

struct SweepTree {
    virtual ~SweepTree() = default;
};

struct OursTree : SweepTree {
    void Insert(uint64_t key) { tree.tree.InsertElement(tree.probe.Set(key), nullptr, 0, nullptr); }
    int Find(uint64_t key) {
        return tree.tree.SearchElement(tree.probe.Set(key), nullptr, 0, nullptr, &result);
    }
    Tree tree;
    KvRBTreeIterator result{&tree.tree, nullptr};
};

struct MultisetTree : SweepTree {
    void Insert(uint64_t key) { set.insert(key); }
    Multiset::const_iterator Find(uint64_t key) const { return set.find(key); }
    Multiset set{Less};
};

struct BtreeTree : SweepTree {
    using Set = absl::btree_multiset<uint64_t, bool (*)(uint64_t, uint64_t)>;
    void Insert(uint64_t key) { set.insert(key); }
    Set::const_iterator Find(uint64_t key) const { return set.find(key); }
    Set set{Less};
};

struct SweepCache {
    std::unique_ptr<SweepTree> tree;
    size_t n = 0;
};
SweepCache sweepCache;

template <class Container>
std::unique_ptr<Container> BuildSweepTree(size_t n) {
    auto tree = std::make_unique<Container>();
    const std::vector<uint64_t>& keys = SweepKeys();
    for (size_t i = 0; i < n; ++i)
        tree->Insert(keys[i]);
    return tree;
}

template <class Container>
void SweepInsert(benchmark::State& state, size_t n) {
    sweepCache = SweepCache{};
    const std::vector<uint64_t>& keys = SweepKeys();
    for (auto _ : state) {
        state.PauseTiming();
        sweepCache = SweepCache{};
        auto tree = std::make_unique<Container>();
        state.ResumeTiming();
        for (size_t i = 0; i < n; ++i)
            tree->Insert(keys[i]);
        state.PauseTiming();
        sweepCache = SweepCache{std::move(tree), n};
        state.ResumeTiming();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * n));
}

template <class Container>
void SweepSearch(benchmark::State& state, size_t n) {
    auto* tree = dynamic_cast<Container*>(sweepCache.tree.get());
    if (tree == nullptr || sweepCache.n != n) {
        sweepCache = SweepCache{};
        sweepCache = SweepCache{BuildSweepTree<Container>(n), n};
        tree = static_cast<Container*>(sweepCache.tree.get());
    }
    const std::vector<uint64_t> probes = SweepProbes(n);
    for (auto _ : state) {
        for (uint64_t key : probes)
            benchmark::DoNotOptimize(tree->Find(key));
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * probes.size()));
    if (n >= kSweepLarge) sweepCache = SweepCache{};  // the memory back before the next build
}

template <class Container>
void RegisterSweepRows(const char* peer, size_t n) {
    const std::string size = std::to_string(n);
    auto* insert =
        benchmark::RegisterBenchmark(("sweep/tree/insert/" + size + "/" + peer).c_str(),
                                     [n](benchmark::State& s) { SweepInsert<Container>(s, n); });
    auto* search =
        benchmark::RegisterBenchmark(("sweep/tree/search/" + size + "/" + peer).c_str(),
                                     [n](benchmark::State& s) { SweepSearch<Container>(s, n); });
    if (n >= kSweepLarge) {
        insert->Iterations(1)->Repetitions(1);
        search->MinTime(0.05)->Repetitions(1);
    }
}

void RegisterSweep() {
    for (size_t n = 1024; n <= kSweepLargest; n *= 4) {
        RegisterSweepRows<OursTree>("ours", n);
        RegisterSweepRows<MultisetTree>("multiset", n);
        RegisterSweepRows<BtreeTree>("btree", n);
    }
}

const bool registered = [] {
    auto add = [](const std::string& name, auto function) {
        benchmark::RegisterBenchmark(name.c_str(), function)->Unit(benchmark::kMillisecond);
    };
    add("kvrbtree/insert/ours", [](benchmark::State& s) { TreeInsert(s, RandomKeys()); });
    add("kvrbtree/insert/multiset", [](benchmark::State& s) { SetInsert(s, RandomKeys()); });
    add("kvrbtree/ascending/ours", [](benchmark::State& s) { TreeInsert(s, AscendingKeys()); });
    add("kvrbtree/ascending/multiset", [](benchmark::State& s) { SetInsert(s, AscendingKeys()); });
    add("kvrbtree/search/ours", TreeSearch);
    add("kvrbtree/search/multiset", SetSearch);
    add("kvrbtree/search/btree", BtreeSearch);
    add("kvrbtree/walk/ours", TreeWalk);
    add("kvrbtree/walk/multiset", SetWalk);
    add("kvrbtree/delete/ours", TreeDelete);
    add("kvrbtree/delete/multiset", SetDelete);
    add("kvrbtree1/findoradd/ours", Tree1FindOrAdd);
    add("kvrbtree1/findoradd/set", SetFindOrAdd);
    benchmark::RegisterBenchmark("kventrycache/getput/ours", CacheGetPut);
    benchmark::RegisterBenchmark("kventrycache/getput/malloc_free", MallocFree);
    if (std::getenv("TQ_BENCH_SWEEP") != nullptr) RegisterSweep();
    return true;
}();

}  // namespace
