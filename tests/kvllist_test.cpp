// The memory-file list and the sorted list, against std::vector.
#include <pthread.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <typeinfo>
#include <vector>

#include <gtest/gtest.h>

#include "kvbasics.h"

namespace {

struct Item {
    int32_t key, id;  // id tells equal keys apart
    bool operator==(Item const&) const = default;
};

int CompareKeys(KvVArray const*, void* a, void* b) {
    return static_cast<Item*>(a)->key - static_cast<Item*>(b)->key;
}

std::vector<Item> Contents(KvVArray const& a) {
    std::vector<Item> out(a.GetCount());
    for (uint32_t i = 0; i < a.GetCount(); ++i)
        EXPECT_EQ(a.Get(i, &out[i]), 0);
    return out;
}

bool Sorted(std::vector<Item> const& v) {
    return std::is_sorted(v.begin(), v.end(), [](Item a, Item b) { return a.key < b.key; });
}

// Random edits, imports, sorts, copies and hand-overs; contents and room are
// checked against a vector and the room rules after every step.
TEST(KvLListTest, RandomOperationsMatchAVector) {
    std::mt19937 rng(5);
    MemFile source;  // 64 items to import from
    for (int32_t k = 0; k < 64; ++k) {
        Item item{int32_t(rng() % 40), 1000 + k};
        source.Put(reinterpret_cast<unsigned char*>(&item), k * 8, 8);
    }
    for (bool sortList : {false, true}) {
        std::unique_ptr<KvLList> list(sortList ? new SortList(sizeof(Item), CompareKeys)
                                               : new KvLList(sizeof(Item)));
        std::vector<Item> model;
        uint32_t capacity = 0;
        for (int step = 0; step < 6000; ++step) {
            const uint32_t n = list->GetCount(), at = rng() % (n + 1), from = n ? rng() % n : 0;
            Item item{int32_t(rng() % 40), step};
            auto grown = [&] { capacity += model.size() >= capacity; };
            uint32_t op = rng() % 10;
            if (op == 8 && !sortList) op = 9;
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
                    const uint32_t first = rng() % 64, count = rng() % std::min(17u, 65 - first);
                    source.Seek(int(first * 8), 0, nullptr);
                    ASSERT_EQ(list->Import(count, &source), 0);
                    EXPECT_EQ(source.GetPosition(), int(first * 8));
                    auto const* items = reinterpret_cast<Item const*>(source.GetBuffer());
                    if (n + count > capacity) capacity = n + capacity + count;
                    model.insert(model.end(), items + first, items + first + count);
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
                    KvLList* raw = list->CreateCopyAndClear();
                    ASSERT_NE(raw, nullptr);
                    std::unique_ptr<KvLList> copy(raw);
                    EXPECT_EQ(typeid(*raw), sortList ? typeid(SortList) : typeid(KvLList));
                    EXPECT_EQ(copy->GetCompareFunction(), list->GetCompareFunction());
                    EXPECT_EQ(list->GetCount(), 0u);
                    EXPECT_EQ(list->GetCurMaxCount(), 0u);
                    EXPECT_EQ(list->Insert(0, &item), 0);  // it works on as a new list
                    list = std::move(copy);
                    break;
                }
            }
            ASSERT_EQ(list->GetCurMaxCount(), capacity) << step;
            ASSERT_EQ(Contents(*list), model) << step;
        }
        KvLList copy(*list), target(2, 3);
        EXPECT_EQ(Contents(copy), model);
        EXPECT_EQ(copy.GetCurMaxCount(), capacity);
        EXPECT_EQ(copy.GetCompareFunction(), list->GetCompareFunction());
        ASSERT_EQ(target.Copy(list.get()), 0);
        EXPECT_EQ(Contents(target), model);
        EXPECT_EQ(target.GetCompareFunction(), nullptr);
        for (uint32_t i = 0; i < model.size(); ++i)
            ASSERT_EQ(list->PtrElement(i), list->Element(i));
        EXPECT_EQ(list->PtrElement(list->GetCount()), nullptr);
    }
}

TEST(KvLListTest, ImportPtrElementAndCopyEdges) {
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

    KvCList other(4);
    SortList sorted(4, CompareKeys);
    EXPECT_EQ(list.Copy(&other), -506);
    EXPECT_EQ(list.Copy(&sorted), 0);
    EXPECT_EQ(list.GetCount(), 0u);
    EXPECT_EQ(list.GetCompareFunction(), nullptr);
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
