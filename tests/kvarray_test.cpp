// The array's ordered operations and the contiguous list, against std::vector
// and a plain model of the quicksort partition.
#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "kvbasics.h"

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

TEST(KvArrayTest, RandomEditsMatchAVector) {
    std::mt19937 rng(44);
    KvCList list = MakeList({});
    std::vector<Item> model;
    for (int step = 0; step < 20000; ++step) {
        const uint32_t n = list.GetCount(), at = rng() % (n + 1), from = n ? rng() % n : 0;
        Item item{int32_t(rng() % 50), step};
        switch (rng() % 5) {
            case 0:
                ASSERT_EQ(list.Insert(at, &item), 0);
                model.insert(model.begin() + at, item);
                break;
            case 1:  // an element of the list itself, also across growth
                if (n == 0) break;
                item = model[from];
                ASSERT_EQ(list.Insert(at, list.Element(from)), 0);
                model.insert(model.begin() + at, item);
                break;
            case 2:
                ASSERT_EQ(list.Delete(at, int(rng() % 2)), at < n ? 0 : -502);
                if (at < n) model.erase(model.begin() + at);
                break;
            case 3:
                ASSERT_EQ(list.Update(at, &item), at < n ? 0 : -502);
                if (at < n) model[at] = item;
                break;
            case 4:
                ASSERT_EQ(list.Insert(n + 1, &item), -502);
                break;
        }
        ASSERT_LE(list.GetCount(), list.GetCurMaxCount());
    }
    EXPECT_EQ(Contents(list), model);
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

TEST(KvArrayTest, CopyTakesOnlyContiguousLists) {
    KvCList source = MakeList({{3, 0}, {1, 1}, {2, 2}}), copy(source), target;
    EXPECT_EQ(Contents(copy), Contents(source));
    EXPECT_EQ(copy.GetCompareFunction(), CompareKeys);
    ASSERT_EQ(target.Copy(&source), 0);  // into a list of element size 0
    EXPECT_EQ(Contents(target), Contents(source));
    EXPECT_EQ(target.Insert(3, source.Element(0)), 0);  // the copy takes inserts
    EXPECT_EQ(target.Copy(&target), 0);
    struct OtherKind : KvCList {
        uint16_t GetType() const override { return 2; }
    } other;
    EXPECT_EQ(target.Copy(&other), -506);
    EXPECT_EQ(target.GetCount(), 4u);
}

}  // namespace
