// The container differ over memory-file containers, with a diff list kept in
// a red-black tree, against multiset differences; and the memory-file
// container on its own.
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

using Values = std::vector<int32_t>;
using Bag = std::multiset<int32_t>;
constexpr int kFail = -777;

int32_t Int(const void* p) {
    int32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Byte order, as the memory-file records compare.
int MemCompare(KvCompareArgs* a) {
    const int c = std::memcmp(a->key, a->element, sizeof(int32_t));
    *a->keyResult = *a->orderResult = (c > 0) - (c < 0);
    return 0;
}

// A receiving multiset that counts deliveries with the wrong side bit and
// can refuse the nth one.
struct Receiver : KvRBTree {
    explicit Receiver(uint64_t side) : KvRBTree(sizeof(int32_t), KvCONT_DUPLICATES, 0), side(side) {
        SetCompareFunction(MemCompare);
        SetCopyFunction([](KvVContainer* c, void* element, const KvVIterator*, const void* key,
                           const void*, KvVParameter* p) {
            auto* r = static_cast<Receiver*>(c);
            if (r->failIn > 0 && --r->failIn == 0) return kFail;
            r->wrongSide += p == nullptr || (p->flags & 1) != r->side;
            std::memcpy(element, key, sizeof(int32_t));
            return 0;
        });
    }
    Bag Contents() {
        Bag bag;
        KvRBTreeIterator it(this, nullptr);
        for (int s = it.First(); s == 0; s = it.Next())
            bag.insert(Int(it.GetElement(s, nullptr)));
        return bag;
    }
    uint64_t side;
    int wrongSide = 0, failIn = 0;
};

// The diff list: {key, balance} entries of its own tree, walked by a tree
// iterator.
class DiffList : public KvDiffListIteratorInterface {
public:
    DiffList() : KvDiffListIteratorInterface(&tree) {
        tree.SetCompareFunction(MemCompare);
        tree.SetCopyFunction([](KvVContainer*, void* element, const KvVIterator*, const void* key,
                                const void*, KvVParameter* p) {
            const int32_t entry[2] = {Int(key), p != nullptr && (p->flags & 1) != 0 ? 1 : -1};
            std::memcpy(element, entry, sizeof entry);
            return 0;
        });
    }
    int Next() override { return status = cursor.Next(); }
    int First() override { return failFirst ? kFail : status = cursor.First(); }
    int SearchElement(const KvVIterator* source, KvVParameter* p1, unsigned short mode,
                      KvVParameter* p2) override {
        const int found = Track(tree.SearchElement(source, p1, mode, p2, &cursor));
        return searchResult != 0 ? searchResult : found;
    }
    int InsertElement(const KvVIterator* source, KvVParameter* p1, unsigned short mode,
                      KvVParameter* p2) override {
        return tree.InsertElement(source, p1, mode, p2);
    }
    int DeleteElement(unsigned short mode, KvVParameter* p) override {
        const int deleted = Track(cursor.DeleteElement(mode, p));
        return deleteResult != 0 ? deleteResult : deleted;
    }
    const void* GetEntry(int& st, KvVParameter* p) const override { return cursor.GetEntry(st, p); }
    int32_t* GetBalance() override {
        if (noBalance) return nullptr;
        if (forcedBalance != 0) return &forcedBalance;
        int st;
        auto* e = static_cast<int32_t*>(const_cast<void*>(cursor.GetElement(st, nullptr)));
        return e != nullptr ? e + 1 : nullptr;
    }

    int Track(int result) {
        status = cursor.status;
        return result;
    }
    KvRBTree tree{2 * sizeof(int32_t), 0, 0};
    KvRBTreeIterator cursor{&tree, nullptr};
    // Faults: results that replace those of the tree, a missing or a given balance.
    bool failFirst = false, noBalance = false;
    int searchResult = 0, deleteResult = 0;
    int32_t forcedBalance = 0;
};

// Counts the positional compares that mismatch; can fail its first step, its
// nth Next or its compares.
struct CountingIterator : KvMemFileIterator {
    using KvMemFileIterator::KvMemFileIterator;
    int First() override { return failFirst ? kFail : KvMemFileIterator::First(); }
    int Next() override {
        return failNextIn > 0 && --failNextIn == 0 ? kFail : KvMemFileIterator::Next();
    }
    int CompareElement(const KvVIterator* other, KvVParameter* p1, int& keyResult, int& orderResult,
                       KvVParameter* p2) const override {
        if (failCompare) return kFail;
        const int st = KvMemFileIterator::CompareElement(other, p1, keyResult, orderResult, p2);
        mismatches += keyResult != 0 || orderResult != 0;
        return st;
    }
    mutable int mismatches = 0;
    bool failFirst = false, failCompare = false;
    int failNextIn = 0;
};

// Both sequences as 4-byte records of one memory file, one after the other.
struct Pair {
    Pair(Values a, const Values& b)
        : first(At(file, a, 0), 4, static_cast<unsigned>(a.size())),
          second(At(file, b, a.size()), 4, static_cast<unsigned>(b.size())) {
        differ.diffList = &diffList;
    }
    // Appends the records at the given one and positions the file there.
    static MemFile* At(MemFile& file, const Values& v, size_t record) {
        const int offset = static_cast<int>(record * sizeof(int32_t));
        const int size = static_cast<int>(v.size() * sizeof(int32_t));
        if (size > 0) file.Put(reinterpret_cast<const unsigned char*>(v.data()), offset, size);
        file.Seek(offset, 0, nullptr);
        return &file;
    }
    int Diff(double ratio) {
        return differ.Diff(&firstIt, &secondIt, &onlyFirst, &onlySecond, ratio);
    }

    MemFile file{0, 64};
    KvMemFileContainer first, second;
    CountingIterator firstIt{&first}, secondIt{&second};
    Receiver onlyFirst{0}, onlySecond{1};
    DiffList diffList;
    KvVContainerDiffer differ;
};

Bag Minus(const Values& a, const Values& b) {
    Bag rest(a.begin(), a.end());
    for (int32_t v : b)
        if (auto it = rest.find(v); it != rest.end()) rest.erase(it);
    return rest;
}

TEST(ContainerDifferTest, IdenticalShiftedAndReorderedSequences) {
    const char* v = std::getenv("TQ_LONG_TESTS");
    const int trials = v != nullptr && std::strcmp(v, "1") == 0 ? 5000 : 150;
    std::mt19937 rng(99);
    auto rnd = [&](size_t n) { return static_cast<int>(rng() % n); };
    for (int trial = 0; trial < trials; ++trial) {
        Values a(rnd(40));
        const int range = 3 + rnd(30);
        for (auto& x : a)
            x = rnd(range);
        Values b(a);
        if (trial % 5 == 1) {  // shifted: some dropped, some put in
            for (int n = rnd(4); n > 0 && !b.empty(); --n)
                b.erase(b.begin() + rnd(b.size()));
            for (int n = rnd(4); n > 0; --n)
                b.insert(b.begin() + rnd(b.size() + 1), rnd(range));
        } else if (trial % 5 == 2 && b.size() > 1) {  // a block moved to the end
            std::rotate(b.begin() + rnd(b.size() / 2), b.begin() + b.size() / 2, b.end());
        } else if (trial % 5 == 3) {
            std::shuffle(b.begin(), b.end(), rng);
        } else if (trial % 5 == 4) {  // unrelated
            b.resize(rnd(40));
            for (auto& x : b)
                x = rnd(range);
        }
        for (double ratio : {0.0, 0.05, 0.5, 100.0}) {
            SCOPED_TRACE(::testing::Message() << "trial " << trial << " ratio " << ratio);
            Pair run(a, b);
            const Bag onlyA = Minus(a, b), onlyB = Minus(b, a);
            ASSERT_EQ(run.Diff(ratio), onlyA.empty() && onlyB.empty() ? 0 : 1);
            ASSERT_EQ(run.onlyFirst.Contents(), onlyA);
            ASSERT_EQ(run.onlySecond.Contents(), onlyB);
            ASSERT_EQ(run.onlyFirst.wrongSide + run.onlySecond.wrongSide, 0);
            ASSERT_TRUE(a != b || run.diffList.tree.count == 0);  // whatever was parked cancelled
        }
    }
}

TEST(ContainerDifferTest, RatioBoundsThePositionalCompares) {
    Values a(40), b(40);
    for (int i = 0; i < 40; ++i) {
        a[i] = i;
        b[i] = 100 + i;
    }
    // 40 passes with both sides left, each one a mismatch while allowed.
    const std::pair<double, int> cases[] = {{0.0, 0},  {0.01, 10},  {0.1, 4},   {0.25, 10},
                                            {100, 40}, {1e300, 40}, {-1e300, 0}};
    for (const auto& [ratio, compares] : cases) {
        Pair run(a, b);
        EXPECT_EQ(run.Diff(ratio), 1);
        EXPECT_EQ(run.firstIt.mismatches, compares) << ratio;
        EXPECT_EQ(run.onlyFirst.Contents(), Bag(a.begin(), a.end()));
        EXPECT_EQ(run.onlySecond.Contents(), Bag(b.begin(), b.end()));
    }
}

int g_handlerCalls = 0;

TEST(ContainerDifferTest, FailuresEndTheRun) {
    Pair refused({1, 2, 3}, {4});
    refused.onlyFirst.failIn = 2;
    EXPECT_EQ(refused.Diff(1.0), kFail);
    EXPECT_EQ(refused.onlyFirst.count, 1u);  // what was delivered stays

    // Each step of a run that can fail, and the statuses that are no failure.
    // {1, 2} against {2, 1} parks 1 of the first, matches the 2s and cancels
    // the 1 with the second's; {1} against {2} without compares parks 1 and
    // delivers 2, then the 1 in the final phase.
    struct Row {
        const char* what;
        Values a, b;
        double ratio;
        void (*fault)(Pair&);
        int expected;
    };
    const Row rows[] = {
        {"first input's start", {1}, {1}, 1, [](Pair& p) { p.firstIt.failFirst = true; }, kFail},
        {"second input's start", {1}, {1}, 1, [](Pair& p) { p.secondIt.failFirst = true; }, kFail},
        {"compare", {1}, {1}, 1, [](Pair& p) { p.firstIt.failCompare = true; }, kFail},
        {"first step after a match", {1}, {1}, 1, [](Pair& p) { p.firstIt.failNextIn = 1; }, kFail},
        {"second step after a match",
         {1},
         {1},
         1,
         [](Pair& p) { p.secondIt.failNextIn = 1; },
         kFail},
        {"delivery of the second's rest",
         {},
         {1},
         1,
         [](Pair& p) { p.onlySecond.failIn = 1; },
         kFail},
        {"step of the second's rest",
         {},
         {1},
         1,
         [](Pair& p) { p.secondIt.failNextIn = 1; },
         kFail},
        {"delivery of the first's rest",
         {1},
         {},
         1,
         [](Pair& p) { p.onlyFirst.failIn = 1; },
         kFail},
        {"step of the first's rest", {1}, {}, 1, [](Pair& p) { p.firstIt.failNextIn = 1; }, kFail},
        {"diff-list search", {1}, {2}, 1, [](Pair& p) { p.diffList.searchResult = kFail; }, kFail},
        {"second form of not found",
         {1},
         {2},
         0,
         [](Pair& p) { p.diffList.searchResult = KvCONT_MISSING_2; },
         1},
        {"no balance",
         {1, 2},
         {2, 1},
         1,
         [](Pair& p) { p.diffList.noBalance = true; },
         KvCONT_NO_POSITION},
        {"balance overflow",
         {1, 2},
         {2, 1},
         1,
         [](Pair& p) { p.diffList.forcedBalance = INT32_MIN; },
         KvCONT_INTERNAL_ERROR},
        {"diff-list deletion",
         {1, 2},
         {2, 1},
         1,
         [](Pair& p) { p.diffList.deleteResult = kFail; },
         kFail},
        {"deletion before the first",  // no failure: all cancelled, nothing delivered
         {1, 2},
         {2, 1},
         1,
         [](Pair& p) { p.diffList.deleteResult = KvCONT_BEFORE_FIRST; },
         0},
        {"final phase's start", {1}, {2}, 0, [](Pair& p) { p.diffList.failFirst = true; }, kFail},
        {"final phase's balance",
         {1},
         {2},
         0,
         [](Pair& p) { p.diffList.noBalance = true; },
         KvCONT_NO_POSITION},
        {"final phase's delivery", {1}, {2}, 0, [](Pair& p) { p.onlyFirst.failIn = 1; }, kFail},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Pair run(row.a, row.b);
        row.fault(run);
        EXPECT_EQ(run.Diff(row.ratio), row.expected);
    }

    // Whatever is missing: no run at all.
    Pair none({1}, {2});
    KvMemFileIterator unbound(nullptr);
    EXPECT_EQ(none.differ.Diff(nullptr, &none.secondIt, &none.onlyFirst, &none.onlySecond, 1),
              KvCONT_NO_CONTAINER);
    EXPECT_EQ(none.differ.Diff(&none.firstIt, nullptr, &none.onlyFirst, &none.onlySecond, 1),
              KvCONT_NO_CONTAINER);
    EXPECT_EQ(none.differ.Diff(&unbound, &none.secondIt, &none.onlyFirst, &none.onlySecond, 1),
              KvCONT_NO_CONTAINER);
    EXPECT_EQ(none.differ.Diff(&none.firstIt, &unbound, &none.onlyFirst, &none.onlySecond, 1),
              KvCONT_NO_CONTAINER);
    EXPECT_EQ(none.differ.Diff(&none.firstIt, &none.secondIt, nullptr, &none.onlySecond, 1),
              KvCONT_NO_CONTAINER);
    EXPECT_EQ(none.differ.Diff(&none.firstIt, &none.secondIt, &none.onlyFirst, nullptr, 1),
              KvCONT_NO_CONTAINER);
    none.differ.diffList = nullptr;
    EXPECT_EQ(none.Diff(1), KvCONT_NO_CONTAINER);
    EXPECT_EQ(none.onlyFirst.count + none.onlySecond.count, 0u);

    const KvMemoryHandler previous = mmKvSetHandler([](unsigned long long) {
        ++g_handlerCalls;
        return 0;
    });
    Pair noMemory({1, 2}, {3, 4});
    tq::platform::HeapFailAfter(1);  // the diff list's first node
    EXPECT_EQ(noMemory.Diff(0.0), KvCONT_NO_MEMORY);
    tq::platform::HeapFailAfter(0);
    mmKvSetHandler(previous);
    EXPECT_EQ(g_handlerCalls, 1);
}

TEST(MemFileContainerTest, WalksWholeRecordsFromTheStartPosition) {
    MemFile file(0, 64);
    unsigned char bytes[30];
    for (int i = 0; i < 30; ++i)
        bytes[i] = static_cast<unsigned char>((i + 6) / 8);  // 0, 0, then records 1, 2, 3, 4...
    ASSERT_EQ(file.Put(bytes, 0, 30), 30);
    file.Seek(2, 0, nullptr);
    KvMemFileContainer three(&file, 8, 3), none(&file, 8, 0);
    KvMemFileIterator it(&three), other(&three), empty(&none);
    int st;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(i == 0 ? it.First() : it.Next(), 0);
        EXPECT_EQ(it.GetKey(st, nullptr), file.GetBuffer() + 2 + 8 * i);
    }
    EXPECT_EQ(it.Next(), KvCONT_AFTER_LAST);
    EXPECT_EQ(it.GetEntry(st, nullptr), nullptr);
    EXPECT_EQ(other.Next(), 0);  // not positioned yet: the first record
    EXPECT_EQ(other.GetKey(st, nullptr), file.GetBuffer() + 2);
    int keyResult = 0, orderResult = 0;
    EXPECT_EQ(empty.First(), KvCONT_BEFORE_FIRST);
    EXPECT_EQ(empty.Next(), KvCONT_AFTER_LAST);
    EXPECT_EQ(it.CompareElement(&empty, nullptr, keyResult, orderResult, nullptr),
              KvCONT_AFTER_LAST);
    EXPECT_EQ(it.Next(), KvCONT_AFTER_LAST);  // stays behind the last

    // What a record is compared with: a positioned iterator, holding an entry
    // of at least a record's size.
    EXPECT_EQ(other.CompareElement(&empty, nullptr, keyResult, orderResult, nullptr),
              KvCONT_AFTER_LAST);
    EXPECT_EQ(other.CompareElement(nullptr, nullptr, keyResult, orderResult, nullptr),
              KvCONT_NO_POSITION);
    struct Loose : KvVIterator {  // on an entry, or on none, of its own
        Loose(KvVContainer* c, const void* e) : KvVIterator(nullptr, c), entry(e) { status = 0; }
        const void* GetEntry(int& s, KvVParameter*) const override {
            s = 0;
            return entry;
        }
        const void* entry;
    };
    KvVContainer shorter(4, 0);
    const unsigned char record[8] = {};
    const Loose onNothing(&three, nullptr);
    EXPECT_EQ(other.CompareElement(&onNothing, nullptr, keyResult, orderResult, nullptr),
              KvCONT_NO_POSITION);
    for (KvVContainer* kind : {static_cast<KvVContainer*>(nullptr), &shorter}) {
        const Loose loose(kind, record);
        EXPECT_EQ(other.CompareElement(&loose, nullptr, keyResult, orderResult, nullptr),
                  KvCONT_NOT_IMPLEMENTED);
    }
    const Loose equal(&three, file.GetBuffer() + 2);
    EXPECT_EQ(other.CompareElement(&equal, nullptr, keyResult, orderResult, nullptr), 0);
    EXPECT_EQ(keyResult, 0);

    // No file, or no container: nothing to walk.
    KvMemFileContainer fileless(nullptr, 8, 3);
    EXPECT_EQ(fileless.StartPosition(), 0u);
    KvMemFileIterator overNothing(&fileless), unbound(nullptr);
    EXPECT_EQ(overNothing.First(), KvCONT_BEFORE_FIRST);
    EXPECT_EQ(unbound.First(), KvCONT_NO_CONTAINER);
    EXPECT_EQ(unbound.Next(), KvCONT_NO_CONTAINER);
}

}  // namespace
