// Small structures: the intrusive lists and the bit string against standard
// models under random operation sequences, the node pool's reuse order and
// counters.
#include <algorithm>
#include <cstring>
#include <list>
#include <memory>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "kvbasics.h"

namespace {

std::vector<int> g_destroyed;

struct Item : KvLinkedListItem {
    explicit Item(int v) : value(v) {}
    ~Item() override { g_destroyed.push_back(value); }
    int value;
};

void ExpectUnlinked(const KvLinkedListItem* item) {
    EXPECT_EQ(item->Previous(), nullptr);
    EXPECT_EQ(item->Next(), nullptr);
}

// Walks both directions and compares with the model.
void ExpectSame(const KvLinkedList& list, const std::list<Item*>& model) {
    // The ends first: a stale end would send the walks below into freed items.
    ASSERT_EQ(list.First(), model.empty() ? nullptr : model.front());
    ASSERT_EQ(list.Last(), model.empty() ? nullptr : model.back());
    std::vector<KvLinkedListItem*> forward, backward;
    for (KvLinkedListItem* i = list.First(); i != nullptr; i = i->Next())
        forward.push_back(i);
    for (KvLinkedListItem* i = list.Last(); i != nullptr; i = i->Previous())
        backward.insert(backward.begin(), i);
    EXPECT_EQ(forward, std::vector<KvLinkedListItem*>(model.begin(), model.end()));
    EXPECT_EQ(backward, forward);
}

TEST(KvLinkedListTest, RandomOperationsMatchStdList) {
    std::mt19937 rng(11);
    auto list = std::make_unique<KvLinkedList>();
    KvLinkedList other;  // holds an item that is not in list
    other.Append(new Item(-1));
    std::list<Item*> model;
    std::vector<std::unique_ptr<Item>> spare;  // unlinked items owned by the test
    auto values = [&] {
        std::vector<int> v;
        for (Item* i : model)
            v.push_back(i->value);
        return v;
    };
    int next = 0;
    for (int step = 0; step < 4000; ++step) {
        g_destroyed.clear();
        bool front = rng() % 2, destroy = rng() % 2;
        int op = rng() % 8;
        if (op < 3) {  // insert a new or a spare item
            if (spare.empty() || rng() % 2) spare.push_back(std::make_unique<Item>(next++));
            Item* item = spare.back().release();
            spare.pop_back();
            front ? list->InsertFirst(item) : list->Append(item);
            front ? model.push_front(item) : model.push_back(item);
        } else if (op < 7) {  // take out the first, the last, any item or a foreign one
            auto it = model.empty() || op == 6 ? model.end()
                      : op == 3                ? model.begin()
                      : op == 4                ? std::prev(model.end())
                                               : std::next(model.begin(), rng() % model.size());
            Item* item = it == model.end() ? nullptr : *it;
            std::vector<int> gone;
            if (destroy && item != nullptr) gone.push_back(item->value);
            if (op == 3) {
                destroy ? list->DeleteFirst() : list->RemoveFirst();
            } else if (op == 4) {
                destroy ? list->DeleteLast() : list->RemoveLast();
            } else {
                KvLinkedListItem* target = item ? item : rng() % 2 ? other.First() : nullptr;
                int result = destroy ? list->DeleteItem(target) : list->RemoveItem(target);
                EXPECT_EQ(result, item ? 0 : -502);
            }
            EXPECT_EQ(g_destroyed, gone);
            if (item != nullptr) model.erase(it);
            if (item != nullptr && !destroy) {
                ExpectUnlinked(item);
                spare.emplace_back(item);
            }
        } else if (rng() % 10 == 0) {
            std::vector<int> all = values();
            list->Clear();
            EXPECT_EQ(g_destroyed, all);  // first to last
            model.clear();
        }
        ASSERT_NO_FATAL_FAILURE(ExpectSame(*list, model));
    }
    ASSERT_NE(other.First(), nullptr);
    ExpectUnlinked(other.First());
    for (int i = 0; i < 3; ++i) {
        model.push_back(new Item(next++));
        list->Append(model.back());
    }
    std::vector<int> all = values();
    g_destroyed.clear();
    list.reset();  // the destructor destroys the items first to last
    EXPECT_EQ(g_destroyed, all);
}

struct SimpleItem : KvSimpleLinkedListItem {};

TEST(KvSimpleLinkedListTest, RandomOperationsMatchStdList) {
    std::mt19937 rng(12);
    std::vector<SimpleItem> items(40);
    KvSimpleLinkedList list;
    std::list<KvSimpleLinkedListItem*> model;
    for (int step = 0; step < 4000; ++step) {
        SimpleItem* item = &items[rng() % items.size()];
        KvSimpleLinkedListItem* expected = nullptr;
        KvSimpleLinkedListItem* got = nullptr;
        switch (rng() % 5) {
            case 0:
            case 1:
                if (std::count(model.begin(), model.end(), item)) continue;
                rng() % 2 ? list.InsertFirst(item) : list.Append(item);
                list.Head() == item ? model.push_front(item) : model.push_back(item);
                continue;
            case 2:
                got = list.RemoveFirst();
                if (!model.empty()) expected = model.front(), model.pop_front();
                break;
            case 3:
                got = list.RemoveLast();
                if (!model.empty()) expected = model.back(), model.pop_back();
                break;
            default:
                got = list.RemoveItem(item);
                if (std::count(model.begin(), model.end(), item)) expected = item;
                model.remove(item);
        }
        ASSERT_EQ(got, expected);
        if (got != nullptr) {
            EXPECT_EQ(got->Next(), nullptr);
        }
        std::vector<KvSimpleLinkedListItem*> seen;
        for (KvSimpleLinkedListItem* i = list.Head(); i != nullptr; i = i->Next())
            seen.push_back(i);
        ASSERT_EQ(seen, std::vector<KvSimpleLinkedListItem*>(model.begin(), model.end()));
    }
}

TEST(KvMemPoolTest, CarvesInOrderReusesLastInFirstOutAndKeepsCounting) {
    KvMemPool pool(24);
    std::vector<char*> nodes;
    for (int i = 0; i < 171; ++i)
        nodes.push_back(static_cast<char*>(pool.GetNode()));
    for (int i = 1; i < 170; ++i)
        ASSERT_EQ(nodes[i], nodes[0] + 24 * i);
    EXPECT_EQ(pool.BuffersAdded(), 2u);  // 170 nodes per buffer

    std::memset(nodes[3], 0x5A, 24);
    pool.PutNode(nodes[3]);
    pool.PutNode(nodes[7]);
    pool.PutNode(nullptr);  // ignored
    EXPECT_EQ(pool.GetNode(), nodes[7]);
    EXPECT_EQ(pool.GetNode(), nodes[3]);
    EXPECT_EQ(nodes[3][23], 0x5A);  // contents survive on the free list
    EXPECT_EQ(pool.GetNode(), nodes[170] + 24);

    pool.PutNode(nodes[0]);
    pool.DeallocateBuffers();
    pool.GetNode();  // the free list went with the buffers: a new buffer
    EXPECT_EQ(pool.BuffersAdded(), 3u);
    EXPECT_EQ(pool.BuffersFreed(), 2u);
    EXPECT_EQ(pool.NodesTaken(), 175u);
    EXPECT_EQ(pool.NodesGivenBack(), 3u);
    pool.PutNode(pool.GetNode());
}  // the destructor releases the rest (checked by the leak sanitizer)

TEST(KvMemPoolTest, LargeAndZeroNodeSizes) {
    KvMemPool large(5000), zero(0);
    for (uint32_t i = 1; i <= 3; ++i)
        std::memset(large.GetNode(), 0, 5000);
    EXPECT_EQ(large.BuffersAdded(), 3u);
    EXPECT_NE(zero.GetNode(), zero.GetNode());
    EXPECT_EQ(zero.BuffersAdded(), 1u);
}

TEST(KvBitStringTest, RandomOperationsMatchVectorBool) {
    std::mt19937 rng(13);
    for (unsigned int length : {0u, 1u, 8u, 16u, 77u, 300u}) {
        _KvBitString bits(length);
        std::vector<bool> model(length);
        for (int step = 0; step < 3000; ++step) {
            unsigned int i = rng() % (length + 2), n = rng() % 24, out = 12345;
            bool set = rng() % 2, inside = i < length;
            int v = -1, expected = inside ? 0 : -2005, op = rng() % 8;
            if (op == 0) {
                EXPECT_EQ(set ? bits.Set(i) : bits.Reset(i), expected);
                if (inside) model[i] = set;
            } else if (op == 1) {
                EXPECT_EQ(bits.Flip(i, v), expected);
                if (inside) {
                    EXPECT_EQ(v, model[i] ? 1 : 0);
                    model[i] = !model[i];
                }
            } else if (op == 2) {
                EXPECT_EQ(bits.Get(i, v), expected);
                EXPECT_EQ(v, !inside ? -1 : model[i] ? 1 << (i % 8) : 0);
            } else if (op <= 5) {
                int result =
                    set ? bits.TestAndSetArea(i, n, out) : bits.TestAndResetArea(i, n, out);
                unsigned int k = 0;
                while (i + k < length && k < n && model[i + k] != set)
                    ++k;
                if (i + n > length) {
                    EXPECT_EQ(result, -2005);
                } else if (k < n) {
                    EXPECT_EQ(result, -1);
                    EXPECT_EQ(out, k);
                } else {
                    EXPECT_EQ(result, 0);
                    std::fill_n(model.begin() + i, n, set);
                }
            } else if (op == 6) {
                unsigned int p = i;
                while (p < length && model[p] != set)
                    ++p;
                EXPECT_EQ(bits.Find(i, set ? 7 : 0, out), p < length ? 0 : -2005);
                EXPECT_EQ(out, std::min(p, length));
            } else if (rng() % 50 == 0) {
                set ? bits.SetAll() : bits.ResetAll();
                model.assign(length, set);
            }
            ASSERT_EQ(bits.GetNum(),
                      static_cast<unsigned>(std::count(model.begin(), model.end(), true)));
        }
    }
}

TEST(KvBitStringTest, SpareBitsCountWhenAllAreSet) {
    unsigned int off = 0;
    _KvBitString ten(10);
    ten.SetAll();
    EXPECT_EQ(ten.GetNum(), 10u);
    EXPECT_EQ(ten.Bits()[1], 0xFF);  // spare bits included
    EXPECT_EQ(ten.TestAndResetArea(2, 8, off), 0);
    EXPECT_EQ(ten.GetNum(), 2u);
}

}  // namespace
