// KvRBTree operation sequences against a std::multimap: every container flag,
// the search, insertion and deletion modes, entries made by the caller,
// failing compare, key and copy functions, and two iterators that move,
// delete and go stale. CheckTree, the count, the elements built and the
// entries handed out are checked after every step.
#include <fuzzer/FuzzedDataProvider.h>

#include <climits>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <map>
#include <set>
#include <vector>

#include "fuzz_common.h"
#include "kvcontainer.h"
#include "support/rbtree_model.h"

namespace {

using namespace tq::test::rbtree_model;

using Model = std::multimap<std::pair<int32_t, int32_t>, uint32_t>;

// Where a model iterator stands: on an entry (by id, valid while the tree
// has not changed since) or at a status.
struct Cursor {
    int status = KvCONT_BEFORE_FIRST;
    uint32_t id = 0;
    uint64_t version = 0;
};

struct Run {
    FuzzedDataProvider& in;
    unsigned short flags;
    int32_t keys, dats;
    Tree tree;
    Model model;
    bool equalKeys = false;
    uint64_t version = 0;  // bumped by every change of the tree
    Probe probe;
    It walk;
    It cursors[2];
    Cursor expected[2];
    std::vector<const void*> nodes;  // in order, as of the last check

    Run(FuzzedDataProvider& input, unsigned short f, int32_t k, int32_t d, unsigned perBlock)
        : in(input),
          flags(f),
          keys(k),
          dats(d),
          tree(f, perBlock),
          walk(&tree),
          cursors{It(&tree), It(&tree)} {}

    int Rnd(int n) { return in.ConsumeIntegralInRange(0, n - 1); }
    unsigned short Bit(int oneIn, unsigned short b) {
        return static_cast<unsigned short>(Rnd(oneIn) == 0 ? b : 0);
    }
    void Arm() {
        if (Rnd(20) == 0) g.compareCountdown = 1 + Rnd(6);
    }
    static void Disarm() {
        g.compareCountdown = 0;
        g.failCopy = g.failKey = false;
    }
    std::pair<Model::iterator, Model::iterator> Range(int32_t k, int32_t d, bool full) {
        if (full) return model.equal_range({k, d});
        return {model.lower_bound({k, INT32_MIN}), model.upper_bound({k, INT32_MAX})};
    }
    long Index(uint32_t id) {
        long i = 0;
        for (const auto& [kd, each] : model) {
            if (each == id) return i;
            ++i;
        }
        return -1;
    }
    uint32_t IdAt(long i) { return std::next(model.begin(), i)->second; }

    // A cursor stands where its iterator stands: on an entry or at a status.
    void Adopt(int which) {
        Cursor& c = expected[which];
        c.status = cursors[which].status;
        c.id = c.status == 0 ? cursors[which].Id() : 0;
        c.version = version;
        if (c.status == 0) FUZZ_CHECK(Index(c.id) >= 0);
    }

    bool Insert();
    void Search();
    bool DeleteByKey();
    bool DeleteNode();
    void DeleteThroughIterator();
    void Move();
    void Check();
    void Step();
};

bool Run::Insert() {
    const bool duplicates = (flags & KvCONT_DUPLICATES) != 0;
    const bool equalKeysAllowed = (flags & KvCONT_EQUAL_KEYS) != 0;
    int32_t k = Rnd(keys), d = Rnd(dats);
    if (Rnd(8) == 0 && !model.empty()) {  // at or behind the greatest entry
        k = model.rbegin()->first.first;
        d = model.rbegin()->first.second + Rnd(2);
    }
    const auto mode =
        static_cast<unsigned short>(Bit(2, KvCONT_BEFORE_EQUAL) | Bit(4, KvCONT_LAST_EQUAL));
    const auto [lo, hi] = Range(k, 0, false);
    const bool hasKey = lo != hi, hasFull = model.count({k, d}) != 0;
    int st;
    if (Rnd(5) == 0) {
        void* entry = tree.CreateEntry(st);
        FUZZ_CHECK(st == 0 && entry != nullptr);
        const Elem e{k, d, ++g.nextId, 1};
        std::memcpy(const_cast<void*>(tree.GetElementOfEntry(entry)), &e, sizeof e);
        g.live.insert(e.id);
        // Not in the tree yet, whatever entries equal to it there are.
        FUZZ_CHECK(tree.DeleteEntry(entry, Bit(2, KvCONT_LAST_EQUAL), nullptr) == KvCONT_MISSING);
        Arm();
        g.failKey = Rnd(30) == 0;
        st = tree.InsertEntry(entry, mode, nullptr);
    } else {
        Arm();
        g.failCopy = Rnd(50) == 0;
        st = tree.InsertElement(&probe.Set(k, d), nullptr, mode, nullptr);
    }
    Disarm();
    if (st != kFail) {
        FUZZ_CHECK(
            st ==
            (!duplicates && (hasFull || (hasKey && !equalKeysAllowed)) ? KvCONT_DUPLICATE : 0));
    }
    if (st != 0) return false;
    if ((mode & KvCONT_BEFORE_EQUAL) != 0) {
        model.insert(model.lower_bound({k, d}), {{k, d}, g.nextId});
    } else {
        model.insert({{k, d}, g.nextId});
    }
    equalKeys = equalKeys || hasKey;
    return true;
}

void Run::Search() {
    const bool full = Rnd(2) == 0;
    const int32_t k = Rnd(keys + 2) - 1, d = Rnd(dats);
    const auto mode = static_cast<unsigned short>(
        Bit(2, KvCONT_LAST_EQUAL) | Bit(3, KvCONT_OR_LOWER) | Bit(3, KvCONT_OR_HIGHER) |
        Bit(4, KvCONT_CONTINUE) | Bit(8, KvCONT_KEEP_PATH) | Bit(8, KvCONT_BEFORE_EQUAL));
    const auto [lo, hi] = Range(k, d, full);
    KvRBTreeParameter param;
    if (!nodes.empty() && Rnd(4) != 0) {
        param.entry = lo != hi && Rnd(2) == 0
                          ? nodes[std::distance(model.begin(), lo) + Rnd(std::distance(lo, hi))]
                          : nodes[Rnd(static_cast<int>(nodes.size()))];
    }
    const int which = Rnd(3);  // 2: no result iterator
    It* result = which < 2 ? &cursors[which] : nullptr;
    Arm();
    const int st = tree.SearchElement(&probe.Set(k, d, full), nullptr, mode, &param, result);
    Disarm();
    if (st == kFail) {
        if (result != nullptr) {
            FUZZ_CHECK(result->status == kFail);
            Adopt(which);
        }
        return;
    }
    if (!equalKeys) FUZZ_CHECK(std::distance(lo, hi) <= 1);
    // Where the iterator may stand: ids (0: behind the last) or a status.
    std::set<uint32_t> ids;
    int expectStatus = 0;
    if (lo != hi) {
        FUZZ_CHECK(st == 0);
        int same = 0;  // entries of the run equal in full to the continue entry
        if ((mode & KvCONT_CONTINUE) != 0 && param.entry != nullptr) {
            const Elem c = Read(tree.GetElementOfEntry(param.entry));
            for (auto m = lo; m != hi; ++m)
                same += m->first == std::make_pair(c.key, c.dat);
        }
        if (same < std::distance(lo, hi)) {
            ids.insert((mode & KvCONT_LAST_EQUAL) != 0 ? std::prev(hi)->second : lo->second);
        }
        if (same > 0) ids.insert(hi != model.end() ? hi->second : 0);
    } else {
        FUZZ_CHECK(st == KvCONT_MISSING);
        auto above = full ? model.upper_bound({k, d}) : model.upper_bound({k, INT32_MAX});
        auto below = full ? model.lower_bound({k, d}) : model.lower_bound({k, INT32_MIN});
        if ((mode & KvCONT_OR_HIGHER) != 0) {
            ids.insert(above != model.end() ? above->second : 0);
        } else if ((mode & KvCONT_OR_LOWER) != 0) {
            if (below != model.begin()) {
                ids.insert(std::prev(below)->second);
            } else {
                expectStatus = KvCONT_BEFORE_FIRST;
            }
        } else {
            expectStatus = (mode & KvCONT_CONTINUE) != 0 ? KvCONT_AFTER_LAST : KvCONT_NO_POSITION;
        }
    }
    if (result == nullptr) return;
    if (expectStatus != 0) {
        FUZZ_CHECK(result->status == expectStatus);
    } else if (result->status == KvCONT_AFTER_LAST) {
        FUZZ_CHECK(ids.count(0) == 1);
    } else {
        FUZZ_CHECK(result->status == 0);
        FUZZ_CHECK(ids.count(result->Id()) == 1);
    }
    Adopt(which);
}

bool Run::DeleteByKey() {
    const bool full = Rnd(2) == 0;
    const int32_t k = Rnd(keys + 2) - 1, d = Rnd(dats);
    const unsigned short lastEqual = Bit(2, KvCONT_LAST_EQUAL);
    // Neighbour and continuation bits do not apply to deletion.
    const auto mode = static_cast<unsigned short>(
        lastEqual | Bit(4, KvCONT_OR_LOWER) | Bit(4, KvCONT_OR_HIGHER) | Bit(4, KvCONT_CONTINUE) |
        Bit(4, KvCONT_BEFORE_EQUAL) | Bit(8, KvCONT_KEEP_PATH));
    KvVParameter param;
    if (!nodes.empty()) param.entry = nodes[Rnd(static_cast<int>(nodes.size()))];
    const auto [lo, hi] = Range(k, d, full);
    Arm();
    const int st = tree.DeleteElement(&probe.Set(k, d, full), nullptr, mode, &param);
    Disarm();
    if (st == kFail) return false;
    FUZZ_CHECK(st == (lo == hi ? KvCONT_MISSING : 0));
    if (lo == hi) return false;
    model.erase(lastEqual != 0 ? std::prev(hi) : lo);
    return true;
}

bool Run::DeleteNode() {
    if (nodes.empty()) return false;
    const int i = Rnd(static_cast<int>(nodes.size()));
    Arm();
    const int st =
        tree.DeleteEntry(nodes[static_cast<size_t>(i)], Bit(2, KvCONT_LAST_EQUAL), nullptr);
    Disarm();
    if (st == kFail) return false;
    FUZZ_CHECK(st == 0);
    model.erase(std::next(model.begin(), i));
    return true;
}

// Deletes where a cursor stands, whatever state it is in.
void Run::DeleteThroughIterator() {
    const int which = Rnd(2);
    It& it = cursors[which];
    Cursor& c = expected[which];
    const bool backward = Rnd(2) == 0;
    Arm();
    const int st = it.DeleteElement(backward ? KvCONT_BACKWARD : 0, nullptr);
    Disarm();
    if (c.status != 0) {  // not on an entry: nothing happens
        FUZZ_CHECK(st == c.status && it.status == c.status);
        return;
    }
    if (c.version != version) {  // stale: refused, the iterator stays as it is
        FUZZ_CHECK(st == KvCONT_CHANGED && it.status == 0);
        return;
    }
    const long i = Index(c.id);
    model.erase(std::next(model.begin(), i));
    ++version;
    if (st == kFail) {  // the entry went, finding the neighbour again failed
        FUZZ_CHECK(it.status == kFail);
    } else {
        const long size = static_cast<long>(model.size());
        const long neighbour = backward ? i - 1 : i;
        if (neighbour < 0 || neighbour >= size) {
            FUZZ_CHECK(st == (backward ? KvCONT_BEFORE_FIRST : KvCONT_AFTER_LAST));
        } else {
            FUZZ_CHECK(st == 0);
            FUZZ_CHECK(it.Id() == IdAt(neighbour));
        }
    }
    Adopt(which);
}

// First, Last, Next, Prior or a clone, against the cursor's model.
void Run::Move() {
    const int which = Rnd(2);
    It& it = cursors[which];
    Cursor& c = expected[which];
    const long size = static_cast<long>(model.size());
    const int op = Rnd(5);
    if (op == 4) {  // the other cursor becomes a copy of this one
        It& target = cursors[1 - which];
        FUZZ_CHECK(it.Clone(&target) == &target);
        expected[1 - which] = c;
        return;
    }
    Cursor want{0, 0, version};
    int wantResult = 0;
    auto on = [&](long i) {
        want.status = wantResult = 0;
        want.id = IdAt(i);
    };
    auto at = [&](int status) { want.status = wantResult = status; };
    const bool next = op == 0 || op == 2;
    if (op < 2) {  // First, Last
        if (size == 0) {
            at(next ? KvCONT_BEFORE_FIRST : KvCONT_AFTER_LAST);
        } else {
            on(next ? 0 : size - 1);
        }
    } else if (c.status == (next ? KvCONT_BEFORE_FIRST : KvCONT_AFTER_LAST)) {
        // From the far side: to the first (last) entry, or across an empty tree.
        if (size == 0) {
            at(next ? KvCONT_AFTER_LAST : KvCONT_BEFORE_FIRST);
        } else {
            on(next ? 0 : size - 1);
        }
    } else if (c.status != 0) {  // stays where it is
        want = c;
        wantResult = c.status;
    } else if (c.version != version) {  // the tree changed under it
        want.status = KvCONT_NO_POSITION;
        wantResult = KvCONT_CHANGED;
    } else {
        const long i = Index(c.id) + (next ? 1 : -1);
        if (i < 0) {
            at(KvCONT_BEFORE_FIRST);
        } else if (i >= size) {
            at(KvCONT_AFTER_LAST);
        } else {
            on(i);
        }
    }
    const int st = op == 0 ? it.First() : op == 1 ? it.Last() : op == 2 ? it.Next() : it.Prior();
    FUZZ_CHECK(st == wantResult);
    FUZZ_CHECK(it.status == want.status);
    if (want.status == 0) FUZZ_CHECK(it.Id() == want.id);
    c = want;
}

void Run::Check() {
    FUZZ_CHECK(tree.CheckTree(nullptr) == 0);
    FUZZ_CHECK(tree.count == model.size());
    FUZZ_CHECK((tree.HasEqualKeys() != 0) == equalKeys);
    FUZZ_CHECK(g.live.size() == model.size());
    FUZZ_CHECK(HandedOut(tree.Cache()) == model.size());
    nodes.clear();
    int st = walk.First();
    for (const auto& [kd, id] : model) {
        FUZZ_CHECK(st == 0);
        const Elem e = Read(walk.GetElement(st, nullptr));
        FUZZ_CHECK(e.id == id);
        FUZZ_CHECK(std::make_pair(e.key, e.dat) == kd);
        nodes.push_back(walk.GetEntry(st, nullptr));
        st = walk.Next();
    }
    FUZZ_CHECK(st == (model.empty() ? KvCONT_BEFORE_FIRST : KvCONT_AFTER_LAST));
    if (!model.empty()) FUZZ_CHECK(tree.MaxEntry() == nodes.back());
    // A cursor on an entry reads it while the tree is unchanged, else is told.
    for (int which = 0; which < 2; ++which) {
        const Cursor& c = expected[which];
        FUZZ_CHECK(cursors[which].status == c.status);
        if (c.status != 0) continue;
        int result = 1;
        const void* entry = cursors[which].GetEntry(result, nullptr);
        if (c.version == version) {
            FUZZ_CHECK(result == 0 && entry != nullptr && cursors[which].Id() == c.id);
        } else {
            FUZZ_CHECK(result == KvCONT_CHANGED && entry == nullptr);
        }
    }
}

void Run::Step() {
    const int op = Rnd(1000);
    bool changed = false;
    if (op < 300) {
        changed = Insert();
    } else if (op < 450) {
        Search();
    } else if (op < 600) {
        changed = DeleteByKey();
    } else if (op < 700) {
        changed = DeleteNode();
    } else if (op < 800) {
        DeleteThroughIterator();  // counts its own change
    } else if (op < 995) {
        Move();
    } else {
        unsigned int removed = 0;
        FUZZ_CHECK(tree.Clear(nullptr, &removed, nullptr) == 0);
        FUZZ_CHECK(removed == model.size());
        model.clear();
        equalKeys = false;
        changed = true;
    }
    if (changed) ++version;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    g = Hooks{};
    g.onStrayDestroy = [] { FUZZ_CHECK(!"an element destroyed twice or never built"); };
    const auto flags = static_cast<unsigned short>(in.ConsumeIntegralInRange(0, 3));
    const int32_t keys = in.ConsumeIntegralInRange(1, 1000);
    const int32_t dats = in.ConsumeIntegralInRange(1, 4);
    const unsigned perBlock = in.ConsumeIntegralInRange(0u, 9u);
    {
        Run run(in, flags, keys, dats, perBlock);
        for (int step = 0; step < 2000 && in.remaining_bytes() > 0; ++step) {
            run.Step();
            run.Check();
        }
    }
    FUZZ_CHECK(g.live.empty());  // the tree destroyed every element it held
    return 0;
}
