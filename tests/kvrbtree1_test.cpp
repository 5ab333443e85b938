// The compact red-black tree against a std::set model.
#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "kvbasics.h"
#include "platform/heap.h"

namespace {

int32_t KeyOf(const KvRBTree1Node* node) {
    int32_t k;
    std::memcpy(&k, node->Element(), sizeof k);
    return k;
}

class IntTree : public KvRBTree1 {
public:
    explicit IntTree(unsigned int perBlock = 0) : KvRBTree1(sizeof(int32_t), perBlock) {}

    void InitElement(const void* key, void* element) override {
        std::memcpy(element, key, sizeof(int32_t));
    }
    int CompareKey(const void* key, const void* element) const override {
        ++compares;
        int32_t k, e;
        std::memcpy(&k, key, sizeof k);
        std::memcpy(&e, element, sizeof e);
        return (k > e) - (k < e);
    }

    // Finds the key or adds it; added tells which.
    KvRBTree1Node* FindOrAdd(int32_t key, bool& added) {
        KvRBTree1NodeStack stack;
        int result;
        KvRBTree1Node* node = SearchNode(&key, stack, result);
        added = node == nullptr;
        return added ? AddNode(&key, stack, result) : node;
    }

    mutable uint64_t compares = 0;
};

const KvRBTree1Node* Child(const KvRBTreeNode* n, int side) {
    return static_cast<const KvRBTree1Node*>(
        side == 0 ? reinterpret_cast<KvRBTreeNode*>(n->left & ~uintptr_t{1}) : n->right);
}
bool Red(const KvRBTreeNode* n) {
    return n != nullptr && (n->left & 1) != 0;
}

// Black height of the subtree, -1 on a broken rule; appends the keys in order.
int Check(const KvRBTree1Node* n, std::vector<int32_t>& keys) {
    if (n == nullptr) return 1;
    if (Red(n) && (Red(Child(n, 0)) || Red(Child(n, 1)))) return -1;
    const int left = Check(Child(n, 0), keys);
    keys.push_back(KeyOf(n));
    const int right = Check(Child(n, 1), keys);
    if (left < 0 || left != right) return -1;
    return left + (Red(n) ? 0 : 1);
}

// The tree shape, the chain both ways and the ends agree with the model.
void ExpectMatches(const IntTree& tree, const std::set<int32_t>& model) {
    ASSERT_FALSE(Red(tree.Root()));
    std::vector<int32_t> inOrder;
    ASSERT_GT(Check(tree.Root(), inOrder), 0);
    ASSERT_EQ(inOrder, std::vector<int32_t>(model.begin(), model.end()));
    ASSERT_EQ(tree.Count(), model.size());
    const KvRBTree1Node* prev = nullptr;
    auto m = model.begin();
    for (const KvRBTree1Node* n = tree.First(); n != nullptr; prev = n, n = n->next, ++m) {
        ASSERT_NE(m, model.end());
        ASSERT_EQ(KeyOf(n), *m);
        ASSERT_EQ(n->prev, prev);
    }
    ASSERT_EQ(m, model.end());
    ASSERT_EQ(tree.Last(), prev);
}

long Steps() {
    const char* v = std::getenv("TQ_LONG_TESTS");
    return v != nullptr && std::strcmp(v, "1") == 0 ? 200000 : 3000;
}

TEST(RBTree1Test, EmptyTreeSmallKeysAndTheAppendShortcut) {
    IntTree tree;
    KvRBTree1NodeStack stack;
    int result = 0;
    int32_t key = 3;
    EXPECT_EQ(tree.SearchNode(&key, stack, result), nullptr);
    EXPECT_EQ(result, 1);
    KvRBTree1Node* three = tree.AddNode(&key, stack, result);
    ASSERT_NE(three, nullptr);
    EXPECT_EQ(tree.Root(), three);
    EXPECT_EQ(tree.First(), three);
    EXPECT_EQ(tree.Last(), three);
    EXPECT_FALSE(Red(three));
    bool added;
    tree.FindOrAdd(1, added);
    tree.FindOrAdd(2, added);
    EXPECT_EQ(tree.FindOrAdd(3, added), three);
    EXPECT_FALSE(added);
    ExpectMatches(tree, {1, 2, 3});

    // Keys above the last one: one compare each, then the new node is last.
    tree.compares = 0;
    for (int32_t k = 4; k <= 100; ++k) {
        const KvRBTree1Node* node = tree.FindOrAdd(k, added);
        ASSERT_TRUE(added);
        ASSERT_EQ(node, tree.Last());
    }
    EXPECT_EQ(tree.compares, 97u);
    ExpectMatches(tree, [] {
        std::set<int32_t> s;
        for (int32_t k = 1; k <= 100; ++k)
            s.insert(k);
        return s;
    }());

    // A path that does not end at a free place adds nothing.
    key = 50;
    ASSERT_NE(tree.SearchNode(&key, stack, result), nullptr);
    EXPECT_EQ(tree.AddNode(&key, stack, result), nullptr);
    key = 0;
    ASSERT_EQ(tree.SearchNode(&key, stack, result), nullptr);
    stack.Reset();
    EXPECT_EQ(tree.AddNode(&key, stack, result), nullptr);
    EXPECT_EQ(tree.Count(), 100u);
}

TEST(RBTree1Test, RandomKeysMatchTheModel) {
    std::mt19937 rng(1234);
    for (const int32_t range : {50, 5000}) {
        IntTree tree(range % 3 == 0 ? 0 : 5);
        std::set<int32_t> model;
        const long steps = Steps();
        for (long step = 0; step < steps; ++step) {
            SCOPED_TRACE(::testing::Message() << "range " << range << " step " << step);
            if (rng() % 997 == 0) {
                tree.Clear();
                model.clear();
            }
            // Now and then a run of ascending keys through the shortcut.
            const int32_t key = rng() % 8 == 0 && !model.empty()
                                    ? *model.rbegin() + static_cast<int32_t>(rng() % 3)
                                    : static_cast<int32_t>(rng() % range);
            bool added;
            const KvRBTree1Node* node = tree.FindOrAdd(key, added);
            ASSERT_NE(node, nullptr);
            ASSERT_EQ(KeyOf(node), key);
            ASSERT_EQ(added, model.insert(key).second);
            ExpectMatches(tree, model);
        }
    }
}

std::vector<unsigned long long> g_handlerCalls;
int RecordingHandler(unsigned long long size) {
    g_handlerCalls.push_back(size);
    return 0;
}

TEST(RBTree1Test, ClearKeepsTheMemoryAndARefusedBlockChangesNothing) {
    g_handlerCalls.clear();
    const KvMemoryHandler previous = mmKvSetHandler(RecordingHandler);
    IntTree tree(4);
    bool added;
    std::set<int32_t> before;
    for (int32_t k = 0; k < 12; ++k) {  // three full blocks
        tree.FindOrAdd(k * 2, added);
        before.insert(k * 2);
    }

    // The next node needs a new block, which the heap refuses.
    tq::platform::HeapFailAfter(1);
    EXPECT_EQ(tree.FindOrAdd(5, added), nullptr);
    EXPECT_EQ(g_handlerCalls, (std::vector<unsigned long long>{4 * (32 + 8) + 8}));
    ExpectMatches(tree, before);

    tree.Clear();
    EXPECT_EQ(tree.Root(), nullptr);
    EXPECT_EQ(tree.First(), nullptr);
    EXPECT_EQ(tree.Last(), nullptr);
    tq::platform::HeapFailAfter(1);
    for (int32_t k = 12; k > 0; --k)
        ASSERT_NE(tree.FindOrAdd(k, added), nullptr);
    EXPECT_EQ(tq::platform::HeapFailAfter(0), 0u);  // the old blocks served
    EXPECT_EQ(tree.First() != nullptr ? KeyOf(tree.First()) : -1, 1);
    mmKvSetHandler(previous);
}

}  // namespace
