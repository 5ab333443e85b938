// The array's ordered operations, the contiguous list, the memory-file list and
// the sorted list, against std::vector and a plain model of the quicksort
// partition.
#include <pthread.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>
#include <random>
#include <typeinfo>
#include <vector>

#include <gtest/gtest.h>

#include "kvbasics.h"
#include "platform/heap.h"

namespace {

struct Item {
    int32_t key, id;  // id tells equal keys apart, so the arrangement shows
    bool operator==(Item const&) const = default;
};

int g_compares = 0;
int CompareKeys(KvVArray const*, void* a, void* b) {
    ++g_compares;
    return static_cast<Item*>(a)->key - static_cast<Item*>(b)->key;
}

// The partition scheme with pivot at lo: sort the left side, then the right.
void ModelSort(std::vector<Item>& v, int64_t lo, int64_t hi) {
    while (lo < hi) {
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
        lo = j + 1;
    }
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

TEST(KvArrayTest, SortGivesThePartitionArrangement) {
    std::mt19937 rng(4);
    for (int size : {0, 1, 2, 3, 7, 100, 1000, 3000}) {
        for (int pattern = 0; pattern < 5; ++pattern) {  // few keys, many, up, down, one
            std::vector<Item> items(size);
            for (int k = 0; k < size; ++k) {
                int32_t keys[] = {int32_t(rng() % 8), int32_t(rng() % 100000), k, size - k, 5};
                items[k] = {keys[pattern], k};
            }
            KvCList list = MakeList(items);
            g_compares = 0;
            ASSERT_EQ(list.Sort(0), 0);
            EXPECT_TRUE(size > 1 || g_compares == 0) << size;
            ModelSort(items, 0, size - 1);
            ASSERT_EQ(Contents(list), items) << "size " << size << " pattern " << pattern;
        }
    }
}

TEST(KvArrayTest, SearchAndSortedInsertFollowTheMidpointRule) {
    KvCList list = MakeList({{10, 0}, {20, 1}, {30, 2}});
    for (auto [key, result, at] : {std::tuple{20, 0, 1u},
                                   {25, -502, 2u},
                                   {5, -502, 0u},
                                   {35, -502, 3u},
                                   {10, 0, 0u},
                                   {30, 0, 2u}}) {
        Item k{key, -1}, out{-7, -7};
        uint32_t index = 99;
        EXPECT_EQ(list.Search(&k, &index, &out), result) << key;
        EXPECT_EQ(index, at) << key;
        EXPECT_EQ(out, (result == 0 ? Item{key, int32_t(at)} : Item{-7, -7})) << key;
    }
    uint32_t index = 99;
    Item two{2, 99}, zero{0, 0}, out{};
    EXPECT_EQ(MakeList({}).Search(&two, &index, nullptr), -502);
    EXPECT_EQ(index, 0u);

    // Among equal keys the first one probed is found; a duplicate goes after it.
    KvCList dups = MakeList({{1, 0}, {2, 1}, {2, 2}, {2, 3}, {2, 4}, {2, 5}, {3, 6}});
    EXPECT_EQ(dups.SortedInsert(&two, &index, 0, 1), -508);
    EXPECT_EQ(index, 3u);
    EXPECT_EQ(dups.GetCount(), 7u);
    EXPECT_EQ(dups.SortedInsert(&two, &index, 1, 1), 0);
    EXPECT_EQ(index, 4u);
    EXPECT_EQ(Contents(dups)[4], two);
    EXPECT_EQ(dups.SortedInsert(&zero, nullptr, 0, 0), 0);  // slot left to the caller
    std::memcpy(dups.Element(0), &zero, sizeof zero);
    EXPECT_EQ(Contents(dups)[0], zero);

    EXPECT_EQ(dups.SearchAt(9, &two, nullptr), -502);
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

// The contiguous lists search their storage directly; the probes, and so the
// element found among equal keys, stay those of the base's search.
TEST(KvArrayTest, ListSearchesProbeLikeTheBase) {
    struct BaseSearch : KvCList {
        using KvCList::KvCList;
        int Search(void const* key, uint32_t* index, void* out) const override {
            return KvVArray::Search(key, index, out);
        }
    };
    std::mt19937 rng(9);
    for (int round = 0; round < 60; ++round) {
        const int size = round == 0 ? 0 : int(rng() % 3000), keys = 1 + int(rng() % 200);
        std::vector<Item> items(size);
        for (int k = 0; k < size; ++k)
            items[k] = {int32_t(rng() % keys), k};
        std::sort(items.begin(), items.end(), [](Item a, Item b) { return a.key < b.key; });
        KvCList contiguous = MakeList(items);
        BaseSearch base(sizeof(Item));
        KvLList file(sizeof(Item));
        for (KvVArray* list : {static_cast<KvVArray*>(&base), static_cast<KvVArray*>(&file)}) {
            list->SetCompareFunction(CompareKeys);
            for (Item const& item : items)
                ASSERT_EQ(list->Insert(list->GetCount(), &item), 0);
        }
        for (int probe = 0; probe < 200; ++probe) {
            Item key{int32_t(rng() % (keys + 2)) - 1, -1}, out[3] = {};
            uint32_t index[3] = {7, 7, 7};
            const int result = base.Search(&key, &index[0], &out[0]);
            EXPECT_EQ(contiguous.Search(&key, &index[1], &out[1]), result);
            EXPECT_EQ(file.Search(&key, &index[2], &out[2]), result);
            EXPECT_EQ(index[1], index[0]);
            EXPECT_EQ(index[2], index[0]);
            EXPECT_EQ(out[1], out[0]);
            EXPECT_EQ(out[2], out[0]);
        }
    }
}

TEST(KvArrayTest, CapacityGrowsToTheBoundAndShrinksByHalves) {
    KvCList list(sizeof(Item));
    std::vector<uint32_t> steps{0};
    Item item{1, 2};
    while (list.GetCount() < 32767) {
        ASSERT_EQ(list.Insert(list.GetCount(), &item), 0);
        if (list.GetCurMaxCount() != steps.back()) steps.push_back(list.GetCurMaxCount());
    }
    EXPECT_EQ(steps, (std::vector<uint32_t>{0,    1,     2,     4,     8,     16,   32,
                                            64,   128,   256,   512,   1024,  2048, 4096,
                                            8192, 16384, 24576, 30720, 32640, 32767}));
    EXPECT_EQ(list.Insert(32767, &item), -502);
    EXPECT_EQ(list.Insert(0, &item), -501);
    EXPECT_EQ(list.SizeSet(32766), -502);
    steps = {32767};
    while (list.GetCount() > 0) {
        ASSERT_EQ(list.Delete(0, 1), 0);
        if (list.GetCurMaxCount() != steps.back()) steps.push_back(list.GetCurMaxCount());
    }
    EXPECT_EQ(steps, (std::vector<uint32_t>{32767, 16383, 8191, 4095, 2047, 1023, 511, 255, 127, 63,
                                            31, 15, 7, 3, 1, 0}));
    for (int k = 0; k < 5; ++k)
        list.Insert(0, &item);
    list.Delete(0, 0);
    EXPECT_EQ(list.GetCurMaxCount(), 8u);
    list.Delete(0, 1);
    EXPECT_EQ(list.GetCurMaxCount(), 4u);

    int r = 1;
    KvCList big(8, 40000, &r);
    EXPECT_EQ(r, 0);
    EXPECT_EQ(big.GetCurMaxCount(), 32767u);
    EXPECT_EQ(big.SizeSet(32768), -501);
    void* slot = big.PrepareInsert(0);
    EXPECT_EQ(slot, big.Element(0));
    EXPECT_EQ(big.GetCount(), 1u);
    KvCList none(0, 10, &r);
    EXPECT_EQ(r, -503);
    EXPECT_EQ(none.Insert(0, &item), -502);
}

bool Sorted(std::vector<Item> const& v) {
    return std::is_sorted(v.begin(), v.end(), [](Item a, Item b) { return a.key < b.key; });
}

template <typename List>
class ArrayKinds : public ::testing::Test {};
using Kinds = ::testing::Types<KvCList, KvLList, SortList>;
TYPED_TEST_SUITE(ArrayKinds, Kinds);

// Random edits (an element of the list itself inserted, also across growth),
// sorts and copies; the memory-file lists also import, hand over and keep to
// their room rules. Contents and room are checked after every step.
TYPED_TEST(ArrayKinds, RandomOperationsMatchAVector) {
    using List = TypeParam;
    constexpr bool kFile = !std::is_same_v<List, KvCList>;
    const bool sortList = !std::is_same_v<List, KvLList>;
    std::mt19937 rng(5);
    MemFile source;  // 64 items to import from
    for (int32_t k = 0; k < 64; ++k) {
        Item item{int32_t(rng() % 40), 1000 + k};
        source.Put(reinterpret_cast<unsigned char*>(&item), k * 8, 8);
    }
    {
        std::unique_ptr<List> list(new (std::nothrow) List(sizeof(Item)));
        ASSERT_NE(list, nullptr);
        if (sortList) list->SetCompareFunction(CompareKeys);
        std::vector<Item> model;
        uint32_t capacity = 0;
        for (int step = 0; step < 6000; ++step) {
            const uint32_t n = list->GetCount(), at = rng() % (n + 1), from = n ? rng() % n : 0;
            Item item{int32_t(rng() % 40), step};
            auto grown = [&] { capacity += model.size() >= capacity; };
            uint32_t op = rng() % 10;
            if (op == 8 && !sortList) op = 9;
            if (!kFile && (op == 6 || op == 7 || op == 9)) op = 0;
            if (n > 120 && (op <= 2 || op == 7)) op = 3;  // keep it small: sorts are quadratic
            switch (op) {
                case 0:
                    ASSERT_EQ(list->Insert(at, &item), 0);
                    grown(), model.insert(model.begin() + at, item);
                    break;
                case 1:  // an element of the list itself, also across growth
                    if (n == 0) break;
                    item = model[from];
                    ASSERT_EQ(list->Insert(at, list->Element(from)), 0);
                    grown(), model.insert(model.begin() + at, item);
                    break;
                case 2: {
                    ASSERT_EQ(list->Insert(n + 1, &item), -502);
                    Item* slot = static_cast<Item*>(list->PrepareInsert(at));
                    ASSERT_NE(slot, nullptr);
                    *slot = item;
                    grown(), model.insert(model.begin() + at, item);
                    break;
                }
                case 3:
                case 4: {
                    const int shrink = int(rng() % 3);
                    ASSERT_EQ(list->Delete(at, shrink), at < n ? 0 : -502);
                    if (at == n) break;
                    model.erase(model.begin() + at);
                    const uint32_t reduced = capacity - std::min(capacity, 10u);
                    if (shrink != 0 && model.size() <= reduced) capacity = reduced;
                    break;
                }
                case 5:
                    ASSERT_EQ(list->Update(at, &item), at < n ? 0 : -502);
                    if (at < n) model[at] = item;
                    break;
                case 6: {
                    const uint32_t size = uint32_t(std::max<int64_t>(0, n + rng() % 21 - 10));
                    ASSERT_EQ(list->SizeSet(size), size < n ? -502 : 0);
                    if (size >= n) capacity = size;
                    break;
                }
                case 7: {  // a run from the source's position, which stays
                    if constexpr (kFile) {
                        const uint32_t first = rng() % 64,
                                       count = rng() % std::min(17u, 65 - first);
                        source.Seek(int(first * 8), 0, nullptr);
                        ASSERT_EQ(list->Import(count, &source), 0);
                        EXPECT_EQ(source.GetPosition(), int(first * 8));
                        auto const* items = reinterpret_cast<Item const*>(source.GetBuffer());
                        if (n + count > capacity) capacity = n + capacity + count;
                        model.insert(model.end(), items + first, items + first + count);
                    }
                    break;
                }
                case 8: {  // sorted insert and search while the model is sorted
                    if (!Sorted(model)) {
                        ASSERT_EQ(list->Sort(0), 0);
                        std::vector<Item> sorted = Contents(*list);
                        ASSERT_TRUE(Sorted(sorted));
                        ASSERT_TRUE(std::is_permutation(sorted.begin(), sorted.end(), model.begin(),
                                                        model.end()));
                        model = sorted;
                    }
                    auto low = std::lower_bound(model.begin(), model.end(), item,
                                                [](Item a, Item b) { return a.key < b.key; });
                    const bool found = low != model.end() && low->key == item.key;
                    uint32_t index = 0;
                    Item out{};
                    ASSERT_EQ(list->Search(&item, &index, &out), found ? 0 : -502);
                    if (found) {
                        ASSERT_EQ(out, model[index]);
                    } else {
                        ASSERT_EQ(index, uint32_t(low - model.begin()));
                    }
                    const int dups = int(rng() % 2);
                    ASSERT_EQ(list->SortedInsert(&item, &index, dups, 1),
                              found && !dups ? -508 : 0);
                    if (found && !dups) break;
                    grown(), model.insert(model.begin() + index, item);
                    ASSERT_TRUE(Sorted(model));
                    break;
                }
                case 9: {  // the contents move to a new list of the same class
                    if constexpr (kFile) {
                        KvLList* raw = list->CreateCopyAndClear();
                        ASSERT_NE(raw, nullptr);
                        std::unique_ptr<List> copy(static_cast<List*>(raw));
                        EXPECT_EQ(typeid(*raw), typeid(List));
                        EXPECT_EQ(copy->GetCompareFunction(), list->GetCompareFunction());
                        EXPECT_EQ(list->GetCount(), 0u);
                        EXPECT_EQ(list->GetCurMaxCount(), 0u);
                        EXPECT_EQ(list->Insert(0, &item), 0);  // it works on as a new list
                        list = std::move(copy);
                    }
                    break;
                }
            }
            if (kFile) {
                ASSERT_EQ(list->GetCurMaxCount(), capacity) << step;
            } else {
                ASSERT_LE(list->GetCount(), list->GetCurMaxCount());
            }
            ASSERT_EQ(Contents(*list), model) << step;
        }
        List copy(*list);
        EXPECT_EQ(Contents(copy), model);
        EXPECT_EQ(copy.GetCompareFunction(), list->GetCompareFunction());
        if constexpr (kFile) {
            KvLList target(2, 3);
            EXPECT_EQ(copy.GetCurMaxCount(), capacity);
            ASSERT_EQ(target.Copy(list.get()), 0);
            EXPECT_EQ(Contents(target), model);
            EXPECT_EQ(target.GetCompareFunction(), nullptr);
            for (uint32_t i = 0; i < model.size(); ++i)
                ASSERT_EQ(list->PtrElement(i), list->Element(i));
            EXPECT_EQ(list->PtrElement(list->GetCount()), nullptr);
        }
    }
}

// Clear empties an array; Init empties it too and sets its room, keeping the
// stored bytes when they are enough. The bound: 32767 for the contiguous list,
// none for the memory-file lists.
TEST(KvArrayTest, ClearAndInitOfEachKind) {
    KvCList contiguous(sizeof(Item));
    KvLList memfile(sizeof(Item));
    SortList sorted(sizeof(Item), CompareKeys);
    EXPECT_EQ(contiguous.GetMaxCount(), 32767u);
    EXPECT_EQ(memfile.GetMaxCount(), 0xFFFFFFFFu);
    const Item item{5, 0};
    for (KvVArray* array : std::initializer_list<KvVArray*>{&contiguous, &memfile, &sorted}) {
        for (int i = 0; i < 10; ++i)
            ASSERT_EQ(array->Insert(0, &item), 0);
        array->Clear();
        EXPECT_EQ(array->GetCount(), 0u);
        EXPECT_EQ(array->Insert(0, &item), 0);
        for (int i = 0; i < 10; ++i)
            ASSERT_EQ(array->Insert(0, &item), 0);
        EXPECT_EQ(array->Init(sizeof(Item), 4), 0);
        EXPECT_EQ(array->GetCount(), 0u);
        EXPECT_EQ(array->GetCurMaxCount(), 4u);
        EXPECT_EQ(array->Insert(0, &item), 0);
        EXPECT_EQ(Contents(*array), std::vector<Item>{item});
    }
    // A sorted list takes a new order with its new element size.
    EXPECT_EQ(sorted.Init(
                  sizeof(int32_t),
                  [](KvVArray const*, void* a, void* b) {
                      return *static_cast<int32_t*>(b) - *static_cast<int32_t*>(a);
                  },
                  0),
              0);
    uint32_t at;
    for (int32_t v : {1, 3, 2})
        ASSERT_EQ(sorted.SortedInsert(&v, &at, 0, 1), 0);
    std::vector<int32_t> descending;
    for (uint32_t i = 0; i < sorted.GetCount(); ++i)
        descending.push_back(*static_cast<int32_t*>(sorted.Element(i)));
    EXPECT_EQ(descending, (std::vector<int32_t>{3, 2, 1}));
}

TEST(KvArrayTest, ImportPtrElementAndCopyEdges) {
    KvLList list;  // 4-byte elements
    const int32_t one = 1;
    ASSERT_EQ(list.Insert(0, &one), 0);
    EXPECT_EQ(list.PtrElement(0), nullptr);  // no 8-byte slot stored

    // A run from a source's position, which stays; and nothing to import.
    MemFile empty;
    KvLList pointers(8);
    void* values[] = {&list, &empty, nullptr};
    MemFile run;
    run.Put(reinterpret_cast<unsigned char*>(values), 0, sizeof values);
    run.Seek(8, 0, nullptr);
    EXPECT_EQ(pointers.Import(2, &run), 0);
    EXPECT_EQ(run.GetPosition(), 8);
    EXPECT_EQ(*pointers.PtrElement(0), &empty);
    EXPECT_EQ(pointers.Import(0, &empty), 0);
    EXPECT_EQ(pointers.Import(1, &empty), -501);
    EXPECT_EQ(pointers.Import(1, nullptr), -501);
    EXPECT_EQ(pointers.GetCount(), 2u);

    // Copies take only lists of their own kind (a sorted list is a
    // memory-file list); a contiguous list also into element size 0 and itself.
    KvCList other(4), target;
    SortList sorted(4, CompareKeys);
    EXPECT_EQ(list.Copy(&other), -506);
    EXPECT_EQ(list.Copy(&sorted), 0);
    EXPECT_EQ(list.GetCount(), 0u);
    EXPECT_EQ(list.GetCompareFunction(), nullptr);
    ASSERT_EQ(other.Insert(0, &one), 0);
    ASSERT_EQ(target.Copy(&other), 0);
    EXPECT_EQ(target.Insert(1, target.Element(0)), 0);  // the copy takes inserts
    EXPECT_EQ(target.Copy(&target), 0);
    struct OtherKind : KvCList {
        uint16_t GetType() const override { return 2; }
    } unknown;
    EXPECT_EQ(target.Copy(&unknown), -506);
    EXPECT_EQ(target.GetCount(), 2u);

    // A refused list from the nothrow form is null; the default memory
    // handler, which ends in a fatal exception, is not called.
    tq::platform::HeapFailAfter(1);
    EXPECT_EQ(new (std::nothrow) SortList(4, CompareKeys), nullptr);
    tq::platform::HeapFailAfter(0);
}

// A sorted run at the front sends the quicksort down one element at a time:
// a frame per level would need far more than the thread's 64 KiB. (Every
// array kind shares this sort.)
TEST(KvLListTest, TwoMillionElementsSortOnASmallStack) {
    constexpr uint32_t kCount = 2000000, kChain = 4000;
    std::mt19937 rng(11);
    SortList list(4, [](KvVArray const*, void* a, void* b) {
        uint32_t x = *static_cast<uint32_t*>(a), y = *static_cast<uint32_t*>(b);
        return x < y ? -1 : x > y ? 1 : 0;
    });
    std::vector<uint32_t> values{kChain};  // the pivot, above the whole chain
    for (uint32_t k = 0; k < kChain; ++k)
        values.push_back(k);
    while (values.size() < kCount)
        values.push_back(kChain + 1 + rng() % 1000000000);
    MemFile file;
    file.Put(reinterpret_cast<unsigned char*>(values.data()), 0, int(kCount * 4));
    ASSERT_EQ(list.Import(kCount, &file), 0);

    struct Job {
        SortList* list;
        int result;
    } job{&list, -1};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 64 * 1024);
    pthread_t thread;
    auto sort = [](void* p) -> void* {
        static_cast<Job*>(p)->result = static_cast<Job*>(p)->list->Sort(0);
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attr, sort, &job), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
    EXPECT_EQ(job.result, 0);
    std::sort(values.begin(), values.end());
    EXPECT_EQ(std::memcmp(list.Element(0), values.data(), kCount * 4), 0);
}

}  // namespace
