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

struct SimpleItem : KvSimpleLinkedListItem {
    explicit SimpleItem(int v) : value(v) {}
    int value;
};

int ValueOf(KvLinkedListItem* item) {
    return static_cast<Item*>(item)->value;
}

// Walks both directions and checks the links against the model.
void ExpectSame(const KvLinkedList& list, const std::list<int>& model) {
    std::vector<int> forward, backward;
    for (KvLinkedListItem* i = list.First(); i != nullptr; i = i->Next()) {
        if (i->Next() != nullptr) {
            ASSERT_EQ(i->Next()->Previous(), i);
        }
        forward.push_back(ValueOf(i));
    }
    for (KvLinkedListItem* i = list.Last(); i != nullptr; i = i->Previous())
        backward.insert(backward.begin(), ValueOf(i));
    EXPECT_EQ(forward, std::vector<int>(model.begin(), model.end()));
    EXPECT_EQ(backward, forward);
    EXPECT_EQ(list.First() == nullptr, list.Last() == nullptr);
    if (list.First() != nullptr) {
        EXPECT_EQ(list.First()->Previous(), nullptr);
        EXPECT_EQ(list.Last()->Next(), nullptr);
    }
}

TEST(KvLinkedListTest, RandomOperationsMatchStdList) {
    std::mt19937 rng(11);
    KvLinkedList list;
    std::list<int> model;
    std::vector<Item*> in;                     // items in the list
    std::vector<std::unique_ptr<Item>> spare;  // unlinked items we own
    g_destroyed.clear();
    int next = 0;
    auto forget = [&](KvLinkedListItem* item) { in.erase(std::find(in.begin(), in.end(), item)); };
    for (int step = 0; step < 4000; ++step) {
        int op = rng() % 10;
        if (op <= 1) {  // insert a new or a spare item
            Item* item;
            if (!spare.empty() && rng() % 2) {
                item = spare.back().release();
                spare.pop_back();
            } else {
                item = new Item(next++);
            }
            ASSERT_EQ(item->Previous(), nullptr);
            ASSERT_EQ(item->Next(), nullptr);
            in.push_back(item);
            if (op == 0) {
                list.InsertFirst(item);
                model.push_front(item->value);
            } else {
                list.Append(item);
                model.push_back(item->value);
            }
        } else if (op <= 3) {  // remove first or last, keep alive
            Item* item = static_cast<Item*>(op == 2 ? list.First() : list.Last());
            op == 2 ? list.RemoveFirst() : list.RemoveLast();
            if (item != nullptr) {
                op == 2 ? model.pop_front() : model.pop_back();
                forget(item);
                EXPECT_EQ(item->Previous(), nullptr);
                EXPECT_EQ(item->Next(), nullptr);
                spare.emplace_back(item);
            }
        } else if (op <= 5) {  // delete first or last
            size_t before = g_destroyed.size();
            if (!model.empty()) forget(op == 4 ? list.First() : list.Last());
            op == 4 ? list.DeleteFirst() : list.DeleteLast();
            EXPECT_EQ(g_destroyed.size(), before + (model.empty() ? 0 : 1));
            if (!model.empty()) {
                EXPECT_EQ(g_destroyed.back(), op == 4 ? model.front() : model.back());
                op == 4 ? model.pop_front() : model.pop_back();
            }
        } else if (op <= 8) {  // remove or delete an item of the list or a spare one
            if (in.empty() && spare.empty()) continue;
            bool useSpare = in.empty() || (!spare.empty() && rng() % 4 == 0);
            Item* item = useSpare ? spare[rng() % spare.size()].get() : in[rng() % in.size()];
            int v = item->value;
            if (!useSpare) forget(item);
            int result = op == 8 ? list.DeleteItem(item) : list.RemoveItem(item);
            if (useSpare) {
                EXPECT_EQ(result, -502);
                continue;
            }
            EXPECT_EQ(result, 0);
            model.remove(v);
            if (op == 8) {
                EXPECT_EQ(g_destroyed.back(), v);
            } else {
                EXPECT_EQ(item->Previous(), nullptr);
                EXPECT_EQ(item->Next(), nullptr);
                spare.emplace_back(item);
            }
        } else if (rng() % 20 == 0) {
            list.Clear();
            model.clear();
            in.clear();
        }
        ASSERT_NO_FATAL_FAILURE(ExpectSame(list, model));
    }
    EXPECT_EQ(list.DeleteItem(nullptr), -502);
    g_destroyed.clear();
    std::vector<int> remaining(model.begin(), model.end());
    {
        KvLinkedList moved;
        while (list.First() != nullptr) {
            KvLinkedListItem* item = list.First();
            list.RemoveFirst();
            moved.Append(item);
        }
    }  // the destructor destroys the items first to last
    EXPECT_EQ(g_destroyed, remaining);
    spare.clear();
}

TEST(KvLinkedListTest, EdgeCases) {
    KvLinkedList list, other;
    Item* alone = new Item(1);
    EXPECT_EQ(list.RemoveItem(alone), -502);  // empty list
    other.Append(alone);
    list.Append(new Item(2));
    EXPECT_EQ(list.RemoveItem(alone), -502);  // item of another list
    EXPECT_EQ(other.First(), alone);
    EXPECT_EQ(other.RemoveItem(alone), 0);
    EXPECT_EQ(other.First(), nullptr);
    EXPECT_EQ(other.Last(), nullptr);
    delete alone;
    g_destroyed.clear();
    list.DeleteFirst();
    list.DeleteFirst();  // empty: nothing
    list.RemoveLast();
    EXPECT_EQ(g_destroyed, std::vector<int>{2});

    // An item destroyed in the middle unlinks itself.
    Item* middle = new Item(5);
    list.Append(new Item(4));
    list.Append(middle);
    list.Append(new Item(6));
    delete middle;
    EXPECT_EQ(list.First()->Next(), list.Last());
    EXPECT_EQ(list.Last()->Previous(), list.First());

    // Copies of an item start unlinked.
    Item copy(*static_cast<Item*>(list.First()));
    EXPECT_EQ(copy.Next(), nullptr);
}

TEST(KvSimpleLinkedListTest, RandomOperationsMatchStdList) {
    std::mt19937 rng(12);
    std::vector<SimpleItem> items;
    for (int i = 0; i < 64; ++i)
        items.emplace_back(i);
    std::vector<bool> linked(items.size());
    KvSimpleLinkedList list;
    std::list<int> model;
    for (int step = 0; step < 4000; ++step) {
        int op = rng() % 5;
        SimpleItem* item = &items[rng() % items.size()];
        KvSimpleLinkedListItem* got = nullptr;
        int expected = -1;
        if (op <= 1) {
            if (linked[item->value]) continue;
            op == 0 ? list.InsertFirst(item) : list.Append(item);
            op == 0 ? model.push_front(item->value) : model.push_back(item->value);
            linked[item->value] = true;
            continue;
        }
        if (op == 2) {
            got = list.RemoveFirst();
            if (!model.empty()) expected = model.front(), model.pop_front();
        } else if (op == 3) {
            got = list.RemoveLast();
            if (!model.empty()) expected = model.back(), model.pop_back();
        } else {
            got = list.RemoveItem(item);
            if (linked[item->value]) expected = item->value, model.remove(item->value);
        }
        if (expected < 0) {
            EXPECT_EQ(got, nullptr);
        } else {
            ASSERT_NE(got, nullptr);
            EXPECT_EQ(static_cast<SimpleItem*>(got)->value, expected);
            EXPECT_EQ(got->Next(), nullptr);
            linked[expected] = false;
        }
        std::vector<int> seen;
        for (KvSimpleLinkedListItem* i = list.Head(); i != nullptr; i = i->Next())
            seen.push_back(static_cast<SimpleItem*>(i)->value);
        ASSERT_EQ(seen, std::vector<int>(model.begin(), model.end()));
    }
}

TEST(KvMemPoolTest, CarvesBuffersInOrderAndReusesLastInFirstOut) {
    KvMemPool pool(24);
    std::vector<char*> nodes;
    for (int i = 0; i < 170; ++i)
        nodes.push_back(static_cast<char*>(pool.GetNode()));
    EXPECT_EQ(pool.BuffersAdded(), 1u);
    for (int i = 1; i < 170; ++i)
        EXPECT_EQ(nodes[i], nodes[0] + 24 * i);
    char* fresh = static_cast<char*>(pool.GetNode());  // the 171st
    EXPECT_EQ(pool.BuffersAdded(), 2u);

    std::memset(nodes[3], 0x5A, 24);
    pool.PutNode(nodes[3]);
    pool.PutNode(nodes[7]);
    pool.PutNode(nullptr);  // ignored
    EXPECT_EQ(pool.GetNode(), nodes[7]);
    EXPECT_EQ(pool.GetNode(), nodes[3]);
    EXPECT_EQ(nodes[3][23], 0x5A);  // contents survive on the free list
    EXPECT_EQ(pool.GetNode(), fresh + 24);
    EXPECT_EQ(pool.NodesTaken(), 174u);
    EXPECT_EQ(pool.NodesGivenBack(), 2u);

    pool.PutNode(fresh);
    pool.DeallocateBuffers();
    EXPECT_EQ(pool.BuffersFreed(), 2u);
    pool.GetNode();  // the free list went with the buffers: a new buffer
    EXPECT_EQ(pool.BuffersAdded(), 3u);
    EXPECT_EQ(pool.NodesTaken(), 175u);
    EXPECT_EQ(pool.NodesGivenBack(), 3u);
    pool.PutNode(pool.GetNode());
}  // the destructor releases the rest (checked by the leak sanitizer)

TEST(KvMemPoolTest, LargeAndZeroNodeSizes) {
    KvMemPool large(5000);
    for (uint32_t i = 1; i <= 3; ++i) {
        std::memset(large.GetNode(), 0, 5000);
        EXPECT_EQ(large.BuffersAdded(), i);
    }
    KvMemPool zero(0);
    EXPECT_EQ(zero.NodeSize(), 1u);
    EXPECT_NE(zero.GetNode(), zero.GetNode());
}

// Bit i of the string as 0 or 1.
int Bit(const _KvBitString& bits, unsigned int i) {
    int v = -1;
    EXPECT_EQ(bits.Get(i, v), 0);
    EXPECT_TRUE(v == 0 || v == (1 << (i % 8)));
    return v != 0;
}

TEST(KvBitStringTest, RandomOperationsMatchVectorBool) {
    std::mt19937 rng(13);
    for (unsigned int length : {0u, 1u, 8u, 16u, 77u, 300u}) {
        _KvBitString bits(length);
        std::vector<bool> model(length);
        auto count = [&] {
            return static_cast<unsigned>(std::count(model.begin(), model.end(), true));
        };
        for (int step = 0; step < 3000; ++step) {
            unsigned int i = rng() % (length + 2);
            unsigned int n = rng() % 24;
            unsigned int r = 0;
            int v = 0;
            bool inside = i < length;
            switch (rng() % 9) {
                case 0:
                    EXPECT_EQ(bits.Set(i), inside ? 0 : -2005);
                    if (inside) model[i] = true;
                    break;
                case 1:
                    EXPECT_EQ(bits.Reset(i), inside ? 0 : -2005);
                    if (inside) model[i] = false;
                    break;
                case 2:
                    EXPECT_EQ(bits.Flip(i, v), inside ? 0 : -2005);
                    if (inside) {
                        EXPECT_EQ(v, model[i] ? 1 : 0);
                        model[i] = !model[i];
                    }
                    break;
                case 3:
                case 4: {
                    bool set = rng() % 2;
                    unsigned int off = 12345;
                    int result =
                        set ? bits.TestAndSetArea(i, n, off) : bits.TestAndResetArea(i, n, off);
                    if (i + n > length) {
                        EXPECT_EQ(result, -2005);
                        break;
                    }
                    unsigned int k = 0;
                    while (k < n && model[i + k] != set)
                        ++k;
                    if (k < n) {
                        EXPECT_EQ(result, -1);
                        EXPECT_EQ(off, k);
                    } else {
                        EXPECT_EQ(result, 0);
                        for (k = 0; k < n; ++k)
                            model[i + k] = set;
                    }
                    break;
                }
                case 5:
                case 6: {
                    int value = rng() % 2;
                    unsigned int p = i;
                    while (p < length && model[p] != (value != 0))
                        ++p;
                    EXPECT_EQ(bits.Find(i, value, r), p < length ? 0 : -2005);
                    EXPECT_EQ(r, p < length ? p : length);
                    break;
                }
                case 7:
                    if (rng() % 50 == 0) bits.SetAll(), model.assign(length, true);
                    break;
                default:
                    if (rng() % 50 == 0) bits.ResetAll(), model.assign(length, false);
            }
            ASSERT_EQ(bits.GetNum(), count());
        }
        for (unsigned int i = 0; i < length; ++i)
            ASSERT_EQ(Bit(bits, i), model[i]) << i;
    }
}

TEST(KvBitStringTest, EdgeCases) {
    _KvBitString bits(16);
    EXPECT_EQ(bits.Length(), 16u);
    EXPECT_EQ(bits.Bits()[2], 0);  // length / 8 + 1 bytes, all clear
    unsigned int off = 0;
    EXPECT_EQ(bits.TestAndSetArea(16, 0, off), 0);
    EXPECT_EQ(bits.TestAndSetArea(17, 0, off), -2005);
    // A range whose end wraps around 32 bits is outside too.
    EXPECT_EQ(bits.TestAndSetArea(10, 0xFFFFFFFFu, off), -2005);
    EXPECT_EQ(bits.TestAndResetArea(0xFFFFFFF0u, 0x20u, off), -2005);
    EXPECT_EQ(bits.GetNum(), 0u);
    int v = 7;
    EXPECT_EQ(bits.Get(16, v), -2005);
    EXPECT_EQ(v, 7);

    _KvBitString ten(10);
    ten.SetAll();
    EXPECT_EQ(ten.GetNum(), 10u);
    EXPECT_EQ(ten.Bits()[0], 0xFF);
    EXPECT_EQ(ten.Bits()[1], 0xFF);  // spare bits included
    EXPECT_EQ(ten.Find(0, 0, off), -2005);
    EXPECT_EQ(off, 10u);
    EXPECT_EQ(ten.TestAndResetArea(2, 8, off), 0);
    EXPECT_EQ(ten.GetNum(), 2u);
}

}  // namespace
