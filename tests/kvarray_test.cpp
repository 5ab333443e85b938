// The abstract array's ordered operations and the contiguous list, checked
// against std::vector and a plain model of the quicksort partition.
#include <pthread.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "kvbasics.h"
#include "platform/heap.h"

namespace {

struct Item {
    int32_t key;
    int32_t id;  // tells equal keys apart, so the arrangement is visible
    bool operator==(Item const&) const = default;
};

int g_compares = 0;

int CompareKeys(KvVArray const*, void* a, void* b) {
    ++g_compares;
    Item x, y;
    std::memcpy(&x, a, sizeof x);
    std::memcpy(&y, b, sizeof y);
    return x.key - y.key;
}

// The partition scheme, pivot at lo, naive recursion.
void ModelSort(std::vector<Item>& v, int64_t lo, int64_t hi) {
    if (hi <= lo) return;
    auto cmp = [&](int64_t k) { return v[k].key - v[lo].key; };
    int64_t i = lo, j = hi;
    for (;;) {
        if (cmp(i) <= 0) {
            while (i < hi && cmp(++i) <= 0) {
            }
        }
        if (cmp(j) > 0) {
            while (j > lo && cmp(--j) > 0) {
            }
        }
        if (i >= j) break;
        std::swap(v[i], v[j]);
    }
    std::swap(v[lo], v[j]);
    ModelSort(v, lo, j - 1);
    ModelSort(v, j + 1, hi);
}

std::vector<Item> Contents(KvVArray const& a) {
    std::vector<Item> out(a.GetCount());
    for (uint32_t i = 0; i < a.GetCount(); ++i)
        EXPECT_EQ(a.Get(i, &out[i]), 0);
    return out;
}

KvCList MakeList(std::vector<Item> const& items) {
    KvCList list(sizeof(Item));
    list.SetCompareFunction(CompareKeys);
    for (Item const& item : items)
        EXPECT_EQ(list.Insert(list.GetCount(), &item), 0);
    return list;
}

std::vector<unsigned long long> g_handlerCalls;
int RecordingHandler(unsigned long long size) {
    g_handlerCalls.push_back(size);
    return 0;
}

class KvArrayTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_handlerCalls.clear();
        previous_ = mmKvSetHandler(RecordingHandler);
    }
    void TearDown() override {
        tq::platform::HeapFailAfter(0);
        mmKvSetHandler(previous_);
    }
    KvMemoryHandler previous_ = nullptr;
};

TEST_F(KvArrayTest, SortGivesThePartitionArrangement) {
    std::mt19937 rng(4);
    for (int size : {0, 1, 2, 3, 7, 100, 1000, 3000}) {
        for (int pattern = 0; pattern < 5; ++pattern) {
            std::vector<Item> items(size);
            for (int k = 0; k < size; ++k) {
                int32_t keys[] = {int32_t(rng() % 8), int32_t(rng() % 100000), k, size - k, 5};
                items[k] = {keys[pattern], k};
            }
            KvCList list = MakeList(items);
            g_compares = 0;
            ASSERT_EQ(list.Sort(0), 0);
            if (size <= 1) {
                EXPECT_EQ(g_compares, 0);
            }
            ModelSort(items, 0, size - 1);
            ASSERT_EQ(Contents(list), items) << "size " << size << " pattern " << pattern;
        }
    }
}

TEST_F(KvArrayTest, SortedFullListSortsOnASmallStack) {
    std::vector<Item> items;
    for (int k = 0; k < KvCList::kMaxCount; ++k)
        items.push_back({k / 2, k});
    KvCList list = MakeList(items);
    // 256 KiB: far too little for one stack frame per element.
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 256 * 1024);
    pthread_t thread;
    int result = -1;
    struct Job {
        KvCList* list;
        int* result;
    } job{&list, &result};
    ASSERT_EQ(pthread_create(
                  &thread, &attr,
                  [](void* p) -> void* {
                      auto* j = static_cast<Job*>(p);
                      *j->result = j->list->Sort(0);
                      return nullptr;
                  },
                  &job),
              0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
    EXPECT_EQ(result, 0);
    std::vector<Item> sorted = Contents(list);
    EXPECT_TRUE(
        std::is_sorted(sorted.begin(), sorted.end(), [](Item a, Item b) { return a.key < b.key; }));
}

TEST_F(KvArrayTest, SearchProbesByTheMidpointRule) {
    KvCList list = MakeList({{10, 0}, {20, 1}, {30, 2}});
    struct Case {
        int32_t key;
        int result;
        uint32_t index;
    };
    for (Case c : {Case{20, 0, 1}, Case{25, -502, 2}, Case{5, -502, 0}, Case{35, -502, 3},
                   Case{10, 0, 0}, Case{30, 0, 2}}) {
        Item key{c.key, -1}, out{-7, -7};
        uint32_t index = 99;
        EXPECT_EQ(list.Search(&key, &index, &out), c.result) << c.key;
        EXPECT_EQ(index, c.index) << c.key;
        EXPECT_EQ(out, (c.result == 0 ? Item{c.key, int32_t(c.index)} : Item{-7, -7}));
    }
    uint32_t index = 99;
    Item key{1, 0};
    KvCList empty = MakeList({});
    EXPECT_EQ(empty.Search(&key, &index, nullptr), -502);
    EXPECT_EQ(index, 0u);

    // Among equal keys the first one probed is found; a duplicate goes after it.
    KvCList dups = MakeList({{1, 0}, {2, 1}, {2, 2}, {2, 3}, {2, 4}, {2, 5}, {3, 6}});
    Item two{2, 99};
    EXPECT_EQ(dups.SortedInsert(&two, &index, 0, 1), -508);
    EXPECT_EQ(index, 3u);
    EXPECT_EQ(dups.GetCount(), 7u);
    EXPECT_EQ(dups.SortedInsert(&two, &index, 1, 1), 0);
    EXPECT_EQ(index, 4u);
    EXPECT_EQ(Contents(dups)[4], two);
    Item zero{0, 0};
    EXPECT_EQ(dups.SortedInsert(&zero, nullptr, 0, 0), 0);  // slot left to the caller
    std::memcpy(dups.Element(0), &zero, sizeof zero);
    EXPECT_EQ(Contents(dups)[0], zero);

    EXPECT_EQ(dups.SearchAt(9, &two, nullptr), -502);
    Item out{};
    EXPECT_EQ(dups.SearchAt(0, &two, &out), 2);  // the compare function's own value
    EXPECT_EQ(dups.SearchAt(2, &two, &out), 0);
    EXPECT_EQ(out, (Item{2, 1}));

    dups.SetCompareFunction(nullptr);
    EXPECT_EQ(dups.Search(&two, &index, nullptr), -2106);
    EXPECT_EQ(dups.SearchAt(0, &two, nullptr), -2106);
    EXPECT_EQ(dups.SortedInsert(&two, &index, 1, 1), -2106);
    EXPECT_EQ(dups.Sort(0), -2106);
    EXPECT_EQ(dups.Merge(&list, 0), -507);
}

TEST_F(KvArrayTest, RandomOperationsMatchAVector) {
    std::mt19937 rng(44);
    KvCList list = MakeList({});
    std::vector<Item> model;
    for (int step = 0; step < 20000; ++step) {
        uint32_t n = list.GetCount();
        Item item{int32_t(rng() % 50), step};
        uint32_t at = n == 0 ? 0 : rng() % (n + 1);
        switch (rng() % 6) {
            case 0:
            case 1:
                ASSERT_EQ(list.Insert(at, &item), 0);
                model.insert(model.begin() + at, item);
                break;
            case 2:  // an element of the list itself, across growth
            {
                if (n == 0) break;
                uint32_t from = rng() % n;
                Item copy = model[from];
                ASSERT_EQ(list.Insert(at, list.Element(from)), 0);
                model.insert(model.begin() + at, copy);
                break;
            }
            case 3:
                ASSERT_EQ(list.Delete(at, int(rng() % 2)), at < n ? 0 : -502);
                if (at < n) model.erase(model.begin() + at);
                break;
            case 4:
                ASSERT_EQ(list.Update(at, &item), at < n ? 0 : -502);
                if (at < n) model[at] = item;
                break;
            case 5:
                ASSERT_EQ(list.Insert(n + 1, &item), -502);
                break;
        }
        ASSERT_LE(list.GetCount(), list.GetCurMaxCount());
    }
    EXPECT_EQ(Contents(list), model);
}

TEST_F(KvArrayTest, CapacityGrowsToTheBoundAndShrinksByHalves) {
    KvCList list(sizeof(Item));
    std::vector<uint32_t> grown{0};
    Item item{1, 2};
    for (uint32_t k = 0; k < KvCList::kMaxCount; ++k) {
        ASSERT_EQ(list.Insert(k, &item), 0);
        if (list.GetCurMaxCount() != grown.back()) grown.push_back(list.GetCurMaxCount());
    }
    EXPECT_EQ(grown, (std::vector<uint32_t>{0,    1,     2,     4,     8,     16,   32,
                                            64,   128,   256,   512,   1024,  2048, 4096,
                                            8192, 16384, 24576, 30720, 32640, 32767}));
    EXPECT_EQ(list.Insert(32767, &item), -502);
    EXPECT_EQ(list.Insert(0, &item), -501);
    EXPECT_EQ(list.SizeSet(32766), -502);
    EXPECT_TRUE(g_handlerCalls.empty());

    std::vector<uint32_t> shrunk;
    while (list.GetCount() > 0) {
        ASSERT_EQ(list.Delete(list.GetCount() - 1, 1), 0);
        if (list.GetCurMaxCount() != (shrunk.empty() ? 32767u : shrunk.back()))
            shrunk.push_back(list.GetCurMaxCount());
    }
    EXPECT_EQ(shrunk, (std::vector<uint32_t>{16383, 8191, 4095, 2047, 1023, 511, 255, 127, 63, 31,
                                             15, 7, 3, 1, 0}));
    EXPECT_EQ(list.Element(0), nullptr);

    for (int k = 0; k < 5; ++k)
        list.Insert(0, &item);
    EXPECT_EQ(list.GetCurMaxCount(), 8u);
    list.Delete(0, 0);
    EXPECT_EQ(list.GetCurMaxCount(), 8u);
    list.Delete(0, 1);
    EXPECT_EQ(list.GetCurMaxCount(), 4u);

    int r = 1;
    KvCList big(8, 40000, &r);
    EXPECT_EQ(r, 0);
    EXPECT_EQ(big.GetCurMaxCount(), 32767u);
    EXPECT_EQ(big.SizeSet(32768), -501);
    EXPECT_EQ(big.SizeSet(10), 0);
    EXPECT_EQ(big.GetCurMaxCount(), 10u);
    KvCList none(0, 10, &r);
    EXPECT_EQ(r, -503);
    EXPECT_EQ(none.GetMaxCount(), 0u);
    EXPECT_EQ(none.Insert(0, &item), -502);
    EXPECT_EQ(none.PrepareInsert(0), nullptr);
    void* slot = big.PrepareInsert(0);
    EXPECT_EQ(slot, big.Element(0));
    EXPECT_EQ(big.GetCount(), 1u);
}

TEST_F(KvArrayTest, CopyTakesElementsOnlyFromContiguousLists) {
    KvCList source = MakeList({{3, 0}, {1, 1}, {2, 2}});
    KvCList copy(source);  // the copy constructor
    EXPECT_EQ(Contents(copy), Contents(source));
    EXPECT_EQ(copy.GetCompareFunction(), CompareKeys);
    KvCList target;  // element size 0, bound 0 until the copy
    ASSERT_EQ(target.Copy(&source), 0);
    EXPECT_EQ(Contents(target), Contents(source));
    Item item{4, 3};
    EXPECT_EQ(target.Insert(3, &item), 0);  // the copy accepts inserts
    EXPECT_EQ(target.Copy(&target), 0);
    EXPECT_EQ(target.GetCount(), 4u);

    struct OtherKind : KvCList {
        uint16_t GetType() const override { return 2; }
    } other;
    EXPECT_EQ(target.Copy(&other), -506);
    EXPECT_EQ(target.GetCount(), 4u);
}

TEST_F(KvArrayTest, RefusedHeapLeavesTheListUnchanged) {
    using tq::platform::HeapFailAfter;
    int r = 0;
    HeapFailAfter(1);
    KvCList failed(8, 10, &r);
    EXPECT_EQ(r, -501);
    EXPECT_EQ(failed.GetCurMaxCount(), 0u);
    EXPECT_EQ(g_handlerCalls, (std::vector<unsigned long long>{80}));

    KvCList list = MakeList({{4, 0}, {3, 1}, {2, 2}, {1, 3}});
    std::vector<Item> before = Contents(list);
    Item item{9, 9};
    KvCList source = MakeList({{1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}});
    struct Step {
        int expected;
        unsigned long long handlerSize;
        int (*run)(KvCList&, KvCList const&, Item const&);
    };
    Step steps[] = {
        {-501, 64, [](KvCList& l, KvCList const&, Item const& i) { return l.Insert(0, &i); }},
        {-501, 64, [](KvCList& l, KvCList const&, Item const&) { return l.SizeSet(8); }},
        {-501, 64, [](KvCList& l, KvCList const& s, Item const&) { return l.Copy(&s); }},
        {-2030, 0, [](KvCList& l, KvCList const&, Item const&) { return l.Sort(0); }},
    };
    for (Step const& step : steps) {
        g_handlerCalls.clear();
        HeapFailAfter(1);
        EXPECT_EQ(step.run(list, source, item), step.expected);
        HeapFailAfter(0);
        EXPECT_EQ(Contents(list), before);
        EXPECT_EQ(list.GetCurMaxCount(), 4u);
        EXPECT_EQ(g_handlerCalls, step.handlerSize == 0
                                      ? std::vector<unsigned long long>{}
                                      : std::vector<unsigned long long>{step.handlerSize});
    }

    // A refused shrink keeps the larger block; the delete itself succeeds.
    g_handlerCalls.clear();
    HeapFailAfter(1);
    EXPECT_EQ(list.Delete(0, 1), 0);
    EXPECT_EQ(list.Delete(0, 1), 0);
    HeapFailAfter(0);
    EXPECT_EQ(g_handlerCalls.size(), 1u);
    EXPECT_EQ(Contents(list), (std::vector<Item>(before.begin() + 2, before.end())));
}

}  // namespace
