// The compact red-black tree against a std::set model.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "kvbasics.h"
#include "platform/heap.h"

namespace {

int32_t Int(const void* p) {
    int32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

struct IntTree : KvRBTree1 {
    explicit IntTree(unsigned int perBlock) : KvRBTree1(sizeof(int32_t), perBlock) {}
    void InitElement(const void* key, void* element) override { std::memcpy(element, key, 4); }
    int CompareKey(const void* key, const void* element) const override {
        ++compares;
        return (Int(key) > Int(element)) - (Int(key) < Int(element));
    }
    const KvRBTree1Node* FindOrAdd(int32_t key, bool& added) {
        KvRBTree1NodeStack stack;
        int result;
        KvRBTree1Node* node = SearchNode(&key, stack, result);
        added = node == nullptr;
        return added ? AddNode(&key, stack, result) : node;
    }
    mutable uint64_t compares = 0;
};

bool Red(const KvRBTreeNode* n) {
    return n != nullptr && (n->left & 1) != 0;
}

// Black height, -1 on a broken colour rule; appends the keys in order.
int Check(const KvRBTreeNode* n, std::vector<int32_t>& keys) {
    if (n == nullptr) return 1;
    const auto* left = reinterpret_cast<const KvRBTreeNode*>(n->left & ~uintptr_t{1});
    if (Red(n) && (Red(left) || Red(n->right))) return -1;
    const int l = Check(left, keys);
    keys.push_back(Int(static_cast<const KvRBTree1Node*>(n)->Element()));
    const int r = Check(n->right, keys);
    return l < 0 || l != r ? -1 : l + (Red(n) ? 0 : 1);
}

// Shape, colours, the chain both ways and its ends agree with the model.
void ExpectMatches(const IntTree& tree, const std::set<int32_t>& model) {
    std::vector<int32_t> inOrder, chain;
    ASSERT_FALSE(Red(tree.Root()));
    ASSERT_GT(Check(tree.Root(), inOrder), 0);
    ASSERT_EQ(inOrder, std::vector<int32_t>(model.begin(), model.end()));
    ASSERT_EQ(tree.Count(), model.size());
    const KvRBTree1Node* prev = nullptr;
    for (const KvRBTree1Node* n = tree.First(); n != nullptr; prev = n, n = n->next) {
        ASSERT_EQ(n->prev, prev);
        chain.push_back(Int(n->Element()));
    }
    ASSERT_EQ(tree.Last(), prev);
    ASSERT_EQ(chain, inOrder);
}

TEST(RBTree1Test, RandomKeysMatchTheModel) {
    const char* v = std::getenv("TQ_LONG_TESTS");
    const long steps = v != nullptr && std::strcmp(v, "1") == 0 ? 50000 : 2500;
    std::mt19937 rng(1234);
    for (const int32_t range : {50, 5000}) {
        IntTree tree(range == 50 ? 5 : 0);
        std::set<int32_t> model;
        for (long step = 0; step < steps; ++step) {
            SCOPED_TRACE(::testing::Message() << "range " << range << " step " << step);
            if (rng() % 997 == 0) {
                tree.Clear();
                model.clear();
            }
            const bool above = rng() % 8 == 0 && !model.empty();
            const int32_t key = above ? *model.rbegin() + 1 : static_cast<int32_t>(rng() % range);
            // A second key searched before the first is added: its path may
            // have been rebalanced away meanwhile, or now end at that key.
            const int32_t late = rng() % 2 == 0 ? key + 1 : static_cast<int32_t>(rng() % range);
            KvRBTree1NodeStack old, now;
            int oldResult, nowResult;
            const bool lateMissing = tree.SearchNode(&late, old, oldResult) == nullptr;
            tree.compares = 0;
            bool added;
            const KvRBTree1Node* node = tree.FindOrAdd(key, added);
            ASSERT_NE(node, nullptr);
            ASSERT_EQ(Int(node->Element()), key);
            ASSERT_EQ(added, model.insert(key).second);
            ASSERT_TRUE(!above || tree.compares == 1);  // placed by one compare with the last
            // The old path serves exactly when a new search walks it again.
            const bool same = tree.SearchNode(&late, now, nowResult) == nullptr && lateMissing &&
                              nowResult == oldResult && now.top - now.path == old.top - old.path &&
                              std::equal(now.path, now.top + 1, old.path);
            ASSERT_EQ(tree.AddNode(&late, old, oldResult) != nullptr, same);
            if (same) model.insert(late);
            ExpectMatches(tree, model);
        }
    }
}

int g_handlerCalls = 0;

TEST(RBTree1Test, RefusedBlocksAndClear) {
    const KvMemoryHandler previous = mmKvSetHandler([](unsigned long long size) {
        g_handlerCalls += size == 4 * (32 + 8) + 8 ? 1 : 100;
        return 0;
    });
    IntTree tree(4);
    std::set<int32_t> model;
    bool added;
    for (int32_t k = 0; k < 24; k += 2) {  // three full blocks
        tree.FindOrAdd(k, added);
        model.insert(k);
    }
    tq::platform::HeapFailAfter(1);
    EXPECT_EQ(tree.FindOrAdd(5, added), nullptr);
    EXPECT_EQ(g_handlerCalls, 1);
    ExpectMatches(tree, model);

    tree.Clear();
    ExpectMatches(tree, {});
    tq::platform::HeapFailAfter(1);
    for (int32_t k = 12; k > 0; --k)
        ASSERT_NE(tree.FindOrAdd(k, added), nullptr);
    EXPECT_EQ(tq::platform::HeapFailAfter(0), 0u);  // the old blocks served
    mmKvSetHandler(previous);
}

}  // namespace
