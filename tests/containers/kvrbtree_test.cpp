// The red-black tree and its iterator, against a std::multimap model.
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <ostream>
#include <random>
#include <set>
#include <vector>

#include <gtest/gtest.h>

#include "kvbasics.h"
#include "platform/heap.h"
#include "support/rbtree_model.h"

namespace {

using namespace tq::test::rbtree_model;

class RBTreeTest : public ::testing::Test {
protected:
    void SetUp() override {
        g = Hooks{};
        g.onStrayDestroy = [] { ADD_FAILURE() << "destroyed twice or never built"; };
    }
    void TearDown() override {
        EXPECT_TRUE(g.live.empty()) << g.live.size() << " elements never destroyed";
        tq::platform::HeapFailAfter(0);
    }
};

Elem* ElemOf(KvRBTree& t, const void* node) {
    return static_cast<Elem*>(const_cast<void*>(t.GetElementOfEntry(node)));
}

// Ascending keys are appended with one compare each, against the greatest; a
// cleared tree takes its entries from the blocks it has.
TEST_F(RBTreeTest, AscendingAppendsAndClearedTreeReusesItsMemory) {
    Tree tree(0, 8);
    Probe probe;
    for (int k = 1; k <= 1000; ++k)
        ASSERT_EQ(tree.InsertElement(&probe.Set(k, 0), nullptr, 0, nullptr), 0);
    EXPECT_EQ(g.compares, 999u);
    EXPECT_EQ(ElemOf(tree, tree.MaxEntry())->key, 1000);
    EXPECT_EQ(tree.Clear(nullptr, nullptr, nullptr), 0);
    EXPECT_TRUE(g.live.empty());
    tq::platform::HeapFailAfter(1);
    for (int k = 0; k < 1000; ++k)
        ASSERT_EQ(tree.InsertElement(&probe.Set(k, 0), nullptr, 0, nullptr), 0);
    EXPECT_EQ(tq::platform::HeapFailAfter(0), 0u);  // no new block was needed
}

// The model run covers the neighbour searches; these are the edges it does
// not reach: an exhausted continuation and result iterators that are not the
// tree's own.
TEST_F(RBTreeTest, ExhaustedContinuationAndForeignIterators) {
    Tree tree(0);
    Probe probe;
    It it(&tree);
    for (int32_t k : {10, 20, 30})
        tree.InsertElement(&probe.Set(k, 0), nullptr, 0, nullptr);
    KvRBTreeParameter after;  // stands behind the last entry, where Prior finds it
    after.entry = tree.MaxEntry();
    EXPECT_EQ(tree.SearchElement(&probe.Set(30, 0), nullptr, KvCONT_CONTINUE | KvCONT_OR_LOWER,
                                 &after, &it),
              0);
    EXPECT_EQ(it.status, KvCONT_AFTER_LAST);
    EXPECT_EQ(it.Prior(), 0);
    EXPECT_EQ(it.Id(), 3u);
    EXPECT_EQ(tree.SearchElement(nullptr, nullptr, 0, nullptr, &it), KvCONT_NO_CONTAINER);
    Tree other(0);
    It foreign(&other);
    EXPECT_EQ(tree.SearchElement(&probe, nullptr, 0, nullptr, &foreign), KvCONT_NO_CONTAINER);
    // Another class answering the tree's type code, on the heap, so that a
    // path written into it would be caught.
    struct Impostor : KvVIterator {
        using KvVIterator::KvVIterator;
        unsigned short GetType() const override { return KvCONT_TYPE_RBTREE; }
    };
    auto impostor = std::make_unique<Impostor>(nullptr, &tree);
    EXPECT_EQ(tree.SearchElement(&probe, nullptr, 0, nullptr, impostor.get()),
              KvCONT_NOT_IMPLEMENTED);
    EXPECT_EQ(impostor->status, KvCONT_BEFORE_FIRST);
}

TEST_F(RBTreeTest, CheckTreeReportsEachViolation) {
    Tree tree(0);
    Probe probe;
    for (int k = 1; k <= 4; ++k)
        tree.InsertElement(&probe.Set(k, 0), nullptr, 0, nullptr);
    // Shape: 2 black over 1 and 3 black, 4 red right of 3.
    KvRBTreeNode* two = const_cast<KvRBTreeNode*>(tree.Root());
    KvRBTreeNode* three = two->right;
    KvRBTreeNode* four = three->right;
    Elem* one = ElemOf(tree, reinterpret_cast<KvRBTreeNode*>(two->left & ~uintptr_t{1}));
    ASSERT_EQ(ElemOf(tree, four)->key, 4);
    auto check = [&](uintptr_t& word, uintptr_t flip) {
        word ^= flip;
        const int result = tree.CheckTree(nullptr);
        word ^= flip;
        return result;
    };
    EXPECT_EQ(check(two->left, 1), -1);
    EXPECT_EQ(check(three->left, 1), -2);
    EXPECT_EQ(check(four->left, 1), -3);
    one->key = 9;
    EXPECT_EQ(tree.CheckTree(nullptr), -4);
    one->key = 2;  // equal to its parent without duplicates
    EXPECT_EQ(tree.CheckTree(nullptr), -4);
    one->key = 1;
    ++tree.count;
    EXPECT_EQ(tree.CheckTree(nullptr), -5);
    --tree.count;
    EXPECT_EQ(tree.CheckTree(nullptr), 0);
}

// Missing or failing table functions and a full tree refuse an insertion and
// leave the tree as it was; CheckTree passes on the function's failure.
TEST_F(RBTreeTest, RefusedInsertionsAndChecks) {
    Tree tree(0);
    Probe probe;
    for (int k = 1; k <= 3; ++k)
        ASSERT_EQ(tree.InsertElement(&probe.Set(k, 0), nullptr, 0, nullptr), 0);
    struct Row {
        const char* what;
        void (*spoil)(KvRBTree&);
        int insert, check;
    };
    const Row rows[] = {
        {"no copy", [](KvRBTree& t) { t.SetCopyFunction(nullptr); }, KvCONT_NOT_IMPLEMENTED, 0},
        {"no key", [](KvRBTree& t) { t.SetKeyFunction(nullptr); }, KvCONT_NOT_IMPLEMENTED,
         KvCONT_NOT_IMPLEMENTED},
        {"no compare", [](KvRBTree& t) { t.SetCompareFunction(nullptr); }, KvCONT_NOT_IMPLEMENTED,
         KvCONT_NOT_IMPLEMENTED},
        {"full", [](KvRBTree& t) { t.count = 0x7FFFFFFF; }, KvCONT_NO_MEMORY, -5},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        row.spoil(tree);
        EXPECT_EQ(tree.InsertElement(&probe.Set(7, 0), nullptr, 0, nullptr), row.insert);
        EXPECT_EQ(tree.CheckTree(nullptr), row.check);
        Install(tree);
        tree.count = 3;
        EXPECT_EQ(tree.CheckTree(nullptr), 0);
    }
    g.compareCountdown = 1;
    EXPECT_EQ(tree.CheckTree(nullptr), kFail);
    tree.SetKeyFunction([](KvVContainer*, const void*, int* status, KvVParameter*) -> const void* {
        *status = kFail;
        return nullptr;
    });
    EXPECT_EQ(tree.CheckTree(nullptr), kFail);
    Install(tree);
    EXPECT_EQ(tree.InsertEntry(nullptr, 0, nullptr), KvCONT_NO_POSITION);
    struct Nowhere : KvVIterator {  // positioned, but on no entry
        Nowhere() : KvVIterator(nullptr) { status = 0; }
        const void* GetEntry(int& s, KvVParameter*) const override {
            s = 0;
            return nullptr;
        }
    } nowhere;
    EXPECT_EQ(tree.InsertElement(&nowhere, nullptr, 0, nullptr), KvCONT_NO_POSITION);
    EXPECT_EQ(tree.count, 3u);
    EXPECT_EQ(tree.CheckTree(nullptr), 0);

    // Elements too large for a node: no entry can be had.
    KvRBTree huge(UINT32_MAX, 0, 0);
    EXPECT_EQ(huge.Cache().entrySize, 0u);
    EXPECT_EQ(huge.InsertElement(&probe, nullptr, 0, nullptr), KvCONT_NO_MEMORY);
    KvRBTree plain;  // default functions, nothing to destroy
    EXPECT_EQ(plain.elementSize, 0u);
    EXPECT_EQ(plain.Clear(nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(KvRBTreeParameter().GetType(), KvCONT_TYPE_RBTREE);
    plain.OutTree(nullptr);  // writes nothing in this build
}

TEST_F(RBTreeTest, IteratorStatusTransitionsAndCopies) {
    Tree tree(0);
    Probe probe;
    It it(&tree);
    EXPECT_EQ(it.First(), KvCONT_BEFORE_FIRST);
    EXPECT_EQ(it.Last(), KvCONT_AFTER_LAST);
    EXPECT_EQ(it.Prior(), KvCONT_BEFORE_FIRST);  // empty: from behind the last to before the first
    EXPECT_EQ(it.Next(), KvCONT_AFTER_LAST);
    for (int k = 1; k <= 3; ++k)
        tree.InsertElement(&probe.Set(k, 0), nullptr, 0, nullptr);
    It fresh(&tree);
    EXPECT_EQ(fresh.Prior(), KvCONT_BEFORE_FIRST);  // does not move
    EXPECT_EQ(fresh.Next(), 0);
    EXPECT_EQ(fresh.Id(), 1u);
    EXPECT_EQ(it.Prior(), 0);  // from behind the last
    EXPECT_EQ(it.Id(), 3u);

    std::unique_ptr<KvVIterator> clone(it.Clone(nullptr));
    ASSERT_NE(clone, nullptr);
    EXPECT_EQ(clone->Prior(), 0);
    KvVContainer plain(sizeof(Elem), 0);
    KvVIterator foreign(nullptr, &plain);
    EXPECT_EQ(it.Clone(&foreign), nullptr);
    EXPECT_EQ(foreign.container, &plain);
    std::unique_ptr<KvVIterator> made(tree.CreateIterator(nullptr));
    EXPECT_EQ(made->GetType(), KvCONT_TYPE_RBTREE);
    EXPECT_EQ(made->status, KvCONT_BEFORE_FIRST);

    int st;
    EXPECT_EQ(made->GetEntry(st, nullptr), nullptr);
    EXPECT_EQ(st, KvCONT_BEFORE_FIRST);
    EXPECT_EQ(made->DeleteElement(0, nullptr), KvCONT_BEFORE_FIRST);
    // Clones go only into tree iterators bound to a tree.
    KvVIterator unbound(nullptr);
    EXPECT_EQ(it.Clone(&unbound), nullptr);
    struct Impostor : KvVIterator {
        using KvVIterator::KvVIterator;
        unsigned short GetType() const override { return KvCONT_TYPE_RBTREE; }
    } impostor(nullptr, &tree);
    EXPECT_EQ(it.Clone(&impostor), nullptr);
    It target(&tree);
    EXPECT_EQ(it.Clone(&target), &target);
    EXPECT_EQ(target.Id(), 3u);

    tree.InsertElement(&probe.Set(9, 0), nullptr, 0, nullptr);
    EXPECT_EQ(it.GetEntry(st, nullptr), nullptr);
    EXPECT_EQ(st, KvCONT_CHANGED);
    EXPECT_EQ(fresh.Prior(), KvCONT_CHANGED);  // and off its place for good
    EXPECT_EQ(fresh.Next(), KvCONT_NO_POSITION);
    EXPECT_EQ(it.DeleteElement(0, nullptr), KvCONT_CHANGED);
    EXPECT_EQ(tree.count, 4u);

    // Rebound through the base class to containers that are no trees, before
    // the first entry or on one: nothing moves, reads or changes.
    KvOneEntryContainer one(&probe.elem);
    const KvOneEntryIterator onOne(&one, nullptr);
    KvVIterator& base = it;
    base = &plain;
    for (int round = 0; round < 2; ++round, base = onOne) {
        const int32_t status = it.status;
        for (int r : {it.First(), it.Next(), it.Prior(), it.Last(), it.DeleteElement(0, nullptr)})
            EXPECT_EQ(r, KvCONT_NOT_IMPLEMENTED);
        EXPECT_EQ(it.GetElement(st, nullptr), nullptr);
        EXPECT_EQ(st, KvCONT_NOT_IMPLEMENTED);
        EXPECT_EQ(it.status, status);
    }
    it.Destroy();
    EXPECT_EQ(it.First(), KvCONT_NO_CONTAINER);
    EXPECT_EQ(it.Next(), KvCONT_NO_CONTAINER);
}

// ---------------------------------------------------------------------------
// The model run
// ---------------------------------------------------------------------------

using Model = std::multimap<std::pair<int32_t, int32_t>, uint32_t>;

struct Config {
    unsigned short flags;
    int32_t keys, dats;
};

// Named, so that the test framework does not print the struct's padding bytes.
void PrintTo(const Config& c, std::ostream* os) {
    *os << "flags " << c.flags << ", keys " << c.keys << ", dats " << c.dats;
}

long OperationsPerConfig() {
    const char* v = std::getenv("TQ_LONG_TESTS");
    return v != nullptr && std::strcmp(v, "1") == 0 ? 100000 : 1500;
}

class RBTreeModelTest : public RBTreeTest, public ::testing::WithParamInterface<Config> {};

TEST_P(RBTreeModelTest, RandomOperationsMatchTheModel) {
    const Config cfg = GetParam();
    const bool duplicates = (cfg.flags & KvCONT_DUPLICATES) != 0;
    const bool equalKeysAllowed = (cfg.flags & KvCONT_EQUAL_KEYS) != 0;
    std::mt19937 rng(cfg.flags * 7919u + static_cast<unsigned>(cfg.keys));
    auto rnd = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    auto bit = [&](int oneIn, unsigned short b) {
        return static_cast<unsigned short>(rnd(oneIn) == 0 ? b : 0);
    };
    auto arm = [&]() {
        if (rnd(20) == 0) g.compareCountdown = 1 + rnd(6);
    };
    auto disarm = [&]() {
        g.compareCountdown = 0;
        g.failCopy = g.failKey = false;
    };

    Tree tree(cfg.flags, cfg.keys % 2 != 0 ? 7 : 0);
    Model model;
    bool equalKeys = false;
    Probe probe;
    It it(&tree), walk(&tree), watcher(&tree);
    std::vector<const void*> nodes;  // in order, as of the last check
    uint32_t watchedId = 0;
    auto run = [&](int32_t k, int32_t d, bool full) {
        if (full) return model.equal_range({k, d});
        return std::make_pair(model.lower_bound({k, INT32_MIN}), model.upper_bound({k, INT32_MAX}));
    };
    auto index = [&](Model::iterator m) { return std::distance(model.begin(), m); };

    bool growing = true;
    const long operations = OperationsPerConfig();
    for (long step = 0; step < operations; ++step) {
        SCOPED_TRACE(::testing::Message() << "step " << step);
        if (model.empty() || model.size() >= 250 || step % 600 == 0) growing = model.size() < 125;
        const int op = rnd(1000);
        bool changed = false;
        int st;
        if (op < (growing ? 450 : 200)) {  // insertion
            int32_t k = rnd(cfg.keys), d = rnd(cfg.dats);
            if (rnd(8) == 0 && !model.empty()) {  // at or behind the greatest entry
                k = model.rbegin()->first.first;
                d = model.rbegin()->first.second + rnd(2);
            }
            const auto mode = static_cast<unsigned short>(bit(2, KvCONT_BEFORE_EQUAL) |
                                                          bit(4, KvCONT_LAST_EQUAL));
            const auto [lo, hi] = run(k, 0, false);
            const bool hasKey = lo != hi, hasFull = model.count({k, d}) != 0;
            if (rnd(5) == 0) {
                void* entry = tree.CreateEntry(st);
                ASSERT_EQ(st, 0);
                const Elem e{k, d, ++g.nextId, 1};
                std::memcpy(const_cast<void*>(tree.GetElementOfEntry(entry)), &e, sizeof e);
                g.live.insert(e.id);
                // Not in the tree yet, whatever entries equal to it there are.
                ASSERT_EQ(tree.DeleteEntry(entry, bit(2, KvCONT_LAST_EQUAL), nullptr),
                          KvCONT_MISSING);
                arm();
                g.failKey = rnd(30) == 0;
                st = tree.InsertEntry(entry, mode, nullptr);
            } else {
                arm();
                g.failCopy = rnd(50) == 0;
                st = tree.InsertElement(&probe.Set(k, d), nullptr, mode, nullptr);
            }
            disarm();
            if (st != kFail) {
                ASSERT_EQ(st, !duplicates && (hasFull || (hasKey && !equalKeysAllowed))
                                  ? KvCONT_DUPLICATE
                                  : 0);
            }
            if (st == 0) {
                if ((mode & KvCONT_BEFORE_EQUAL) != 0) {
                    model.insert(model.lower_bound({k, d}), {{k, d}, g.nextId});
                } else {
                    model.insert({{k, d}, g.nextId});
                }
                equalKeys = equalKeys || hasKey;
                changed = true;
            }
        } else if (op < 650) {  // search
            const bool full = rnd(2) == 0;
            const int32_t k = rnd(cfg.keys + 2) - 1, d = rnd(cfg.dats);
            const auto mode =
                static_cast<unsigned short>(bit(2, KvCONT_LAST_EQUAL) | bit(3, KvCONT_OR_LOWER) |
                                            bit(3, KvCONT_OR_HIGHER) | bit(4, KvCONT_CONTINUE));
            const auto [lo, hi] = run(k, d, full);
            KvRBTreeParameter param;
            if (!nodes.empty() && rnd(4) != 0) {
                param.entry = lo != hi && rnd(2) == 0
                                  ? nodes[index(lo) + rnd(std::distance(lo, hi))]
                                  : nodes[rnd(nodes.size())];
            }
            const bool withResult = rnd(8) != 0;
            arm();
            st = tree.SearchElement(&probe.Set(k, d, full), nullptr, mode, &param,
                                    withResult ? &it : nullptr);
            disarm();
            if (st == kFail) {
                if (withResult) {
                    ASSERT_EQ(it.status, kFail);
                }
            } else {
                if (!equalKeys) {
                    ASSERT_LE(std::distance(lo, hi), 1);
                }
                // Where the iterator may stand: ids (0: behind the last) or a status.
                std::set<uint32_t> ids;
                int expectStatus = 0;
                if (lo != hi) {
                    ASSERT_EQ(st, 0);
                    int same = 0;  // entries of the run equal in full to the continue entry
                    if ((mode & KvCONT_CONTINUE) != 0 && param.entry != nullptr) {
                        const Elem c = Read(tree.GetElementOfEntry(param.entry));
                        for (auto m = lo; m != hi; ++m)
                            same += m->first == std::make_pair(c.key, c.dat);
                    }
                    const long length = std::distance(lo, hi);
                    if (same < length) {
                        ids.insert((mode & KvCONT_LAST_EQUAL) != 0 ? std::prev(hi)->second
                                                                   : lo->second);
                    }
                    if (same > 0) ids.insert(hi != model.end() ? hi->second : 0);
                } else {
                    ASSERT_EQ(st, KvCONT_MISSING);
                    auto above =
                        full ? model.upper_bound({k, d}) : model.upper_bound({k, INT32_MAX});
                    auto below =
                        full ? model.lower_bound({k, d}) : model.lower_bound({k, INT32_MIN});
                    if ((mode & KvCONT_OR_HIGHER) != 0) {
                        ids.insert(above != model.end() ? above->second : 0);
                    } else if ((mode & KvCONT_OR_LOWER) != 0) {
                        if (below != model.begin()) {
                            ids.insert(std::prev(below)->second);
                        } else {
                            expectStatus = KvCONT_BEFORE_FIRST;
                        }
                    } else {
                        expectStatus =
                            (mode & KvCONT_CONTINUE) != 0 ? KvCONT_AFTER_LAST : KvCONT_NO_POSITION;
                    }
                }
                if (withResult) {
                    if (expectStatus != 0) {
                        ASSERT_EQ(it.status, expectStatus);
                    } else if (it.status == KvCONT_AFTER_LAST) {
                        ASSERT_EQ(ids.count(0), 1u);
                    } else {
                        ASSERT_EQ(it.status, 0);
                        ASSERT_EQ(ids.count(it.Id()), 1u) << it.Id();
                    }
                }
            }
        } else if (op < (growing ? 750 : 820)) {  // deletion by key
            const bool full = rnd(2) == 0;
            const int32_t k = rnd(cfg.keys + 2) - 1, d = rnd(cfg.dats);
            const unsigned short lastEqual = bit(2, KvCONT_LAST_EQUAL);
            // Neighbour and continuation bits do not apply to deletion.
            const auto mode = static_cast<unsigned short>(
                lastEqual | bit(4, KvCONT_OR_LOWER) | bit(4, KvCONT_OR_HIGHER) |
                bit(4, KvCONT_CONTINUE) | bit(4, KvCONT_BEFORE_EQUAL));
            KvVParameter param;
            if (!nodes.empty()) param.entry = nodes[rnd(nodes.size())];
            const auto [lo, hi] = run(k, d, full);
            arm();
            st = tree.DeleteElement(&probe.Set(k, d, full), nullptr, mode, &param);
            disarm();
            if (st != kFail) {
                ASSERT_EQ(st, lo == hi ? KvCONT_MISSING : 0);
                if (lo != hi) {
                    model.erase(lastEqual != 0 ? std::prev(hi) : lo);
                    changed = true;
                }
            }
        } else if (op < (growing ? 850 : 900)) {  // deletion of a node
            if (nodes.empty()) continue;
            const size_t i = rnd(nodes.size());
            arm();
            st = tree.DeleteEntry(nodes[i], bit(2, KvCONT_LAST_EQUAL), nullptr);
            disarm();
            if (st != kFail) {
                ASSERT_EQ(st, 0);
                model.erase(std::next(model.begin(), i));
                changed = true;
            }
        } else if (op < 999) {  // deletion through an iterator
            if (nodes.empty()) continue;
            const long i = rnd(nodes.size());
            ASSERT_EQ(it.First(), 0);
            for (long n = 0; n < i; ++n)
                ASSERT_EQ(it.Next(), 0);
            const bool backward = rnd(2) == 0;
            arm();
            st = it.DeleteElement(backward ? KvCONT_BACKWARD : 0, nullptr);
            disarm();
            model.erase(std::next(model.begin(), i));
            changed = true;
            if (st != kFail) {
                const long size = static_cast<long>(model.size());
                const long expected = backward ? i - 1 : i;
                if (expected < 0 || expected >= size) {
                    ASSERT_EQ(st, backward ? KvCONT_BEFORE_FIRST : KvCONT_AFTER_LAST);
                } else {
                    ASSERT_EQ(st, 0);
                    ASSERT_EQ(it.Id(), std::next(model.begin(), expected)->second);
                }
            }
        } else {
            unsigned int removed = 0;
            ASSERT_EQ(tree.Clear(nullptr, &removed, nullptr), 0);
            ASSERT_EQ(removed, model.size());
            model.clear();
            equalKeys = false;
            changed = true;
        }

        // Another iterator notices every change and nothing else.
        if (watchedId != 0) {
            if (changed) {
                ASSERT_EQ(watcher.Next(), KvCONT_CHANGED);
                ASSERT_EQ(watcher.status, KvCONT_NO_POSITION);
            } else {
                ASSERT_EQ(watcher.Id(), watchedId);
            }
        }

        ASSERT_EQ(tree.CheckTree(nullptr), 0);
        ASSERT_EQ(tree.count, model.size());
        ASSERT_EQ(tree.HasEqualKeys() != 0, equalKeys);
        ASSERT_EQ(g.live.size(), model.size());
        ASSERT_EQ(HandedOut(tree.Cache()), model.size());
        nodes.clear();
        watchedId = 0;
        const long watch = model.empty() ? -1 : rnd(model.size());
        st = walk.First();
        for (const auto& [kd, id] : model) {
            ASSERT_EQ(st, 0);
            const Elem e = Read(walk.GetElement(st, nullptr));
            ASSERT_EQ(e.id, id);
            ASSERT_EQ(std::make_pair(e.key, e.dat), kd);
            if (static_cast<long>(nodes.size()) == watch) {
                ASSERT_EQ(walk.Clone(&watcher), &watcher);
                watchedId = id;
            }
            nodes.push_back(walk.GetEntry(st, nullptr));
            st = walk.Next();
        }
        ASSERT_EQ(st, model.empty() ? KvCONT_BEFORE_FIRST : KvCONT_AFTER_LAST);
        if (!model.empty()) {
            ASSERT_EQ(tree.MaxEntry(), nodes.back());
        }
        if (step % 4 == 0) {
            st = walk.Last();
            for (auto m = model.rbegin(); m != model.rend(); ++m) {
                ASSERT_EQ(st, 0);
                ASSERT_EQ(walk.Id(), m->second);
                st = walk.Prior();
            }
            ASSERT_EQ(st, model.empty() ? KvCONT_AFTER_LAST : KvCONT_BEFORE_FIRST);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Flags, RBTreeModelTest,
                         ::testing::Values(Config{0, 30, 3}, Config{0, 1000, 2},
                                           Config{KvCONT_EQUAL_KEYS, 30, 3},
                                           Config{KvCONT_EQUAL_KEYS, 1001, 2},
                                           Config{KvCONT_DUPLICATES, 30, 3},
                                           Config{KvCONT_DUPLICATES, 1000, 2},
                                           Config{KvCONT_EQUAL_KEYS | KvCONT_DUPLICATES, 31, 3},
                                           Config{KvCONT_EQUAL_KEYS | KvCONT_DUPLICATES, 1000, 2}));

}  // namespace
