// The container framework's base classes, the entry cache and the entry stack.
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "kvbasics.h"
#include "platform/heap.h"

namespace {

int g_calls = 0;

const void* CountingKey(KvVContainer*, const void* element, int* status, KvVParameter*) {
    ++g_calls;
    *status = 0;
    return element;
}

int CountingCompare(KvCompareArgs* a) {
    ++g_calls;
    const int k = *static_cast<const int*>(a->key);
    const int e = *static_cast<const int*>(a->element);
    *a->keyResult = (k > e) - (k < e);
    *a->orderResult = 2 * *a->keyResult;
    return 0;
}

// A base iterator standing on one caller-held int (GetEntry fails with a
// negative entryStatus).
class Fixed : public KvVIterator {
public:
    Fixed(KvVContainer* c, int v) : KvVIterator(nullptr, c), value(v) { status = 0; }
    const void* GetEntry(int& s, KvVParameter*) const override {
        s = status < 0 ? status : entryStatus;
        return s < 0 ? nullptr : &value;
    }
    int value;
    int entryStatus = 0;
};

// An iterator is placed before the first entry when given a container.
TEST(ContainerFramework, IteratorTakesAndLeavesItsContainer) {
    KvVContainer c(4, 0);
    KvVIterator base(nullptr, nullptr);
    EXPECT_EQ(base.status, KvCONT_NO_CONTAINER);
    base = &c;
    EXPECT_EQ(base.status, KvCONT_BEFORE_FIRST);
    base.Destroy();
    EXPECT_EQ(base.status, KvCONT_NO_CONTAINER);
    base = &c;
    base = static_cast<KvVContainer*>(nullptr);
    EXPECT_EQ(base.status, KvCONT_NO_CONTAINER);
}

TEST(ContainerFramework, EntryPartsAndCompareElement) {
    KvVContainer c(sizeof(int), 0);
    c.SetKeyFunction(CountingKey);
    Fixed it(&c, 5);
    const void *element = nullptr, *key = nullptr, *dat = &it;
    unsigned int flags = 0;
    g_calls = 0;
    EXPECT_EQ(it.GetEntryParts(&it.value, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(g_calls, 0);
    EXPECT_EQ(it.GetEntryParts(&it.value, nullptr, nullptr, &dat, nullptr, nullptr), KvCONT_NO_DAT);
    EXPECT_EQ(dat, nullptr);
    EXPECT_EQ(it.GetEntryParts(&it.value, &element, &key, nullptr, &flags, nullptr), 0);
    EXPECT_EQ(element, &it.value);
    EXPECT_EQ(key, &it.value);
    EXPECT_EQ(flags, 1u);
    // No element, whatever GetEntry's reason, or no table function: -2999.
    int st;
    it.entryStatus = KvCONT_CHANGED;  // GetKey: in the compare below
    EXPECT_EQ(it.GetDat(st, nullptr), nullptr);
    EXPECT_EQ(st, KvCONT_NOT_IMPLEMENTED);
    EXPECT_EQ(it.GetFlags(st, nullptr), 0u);
    EXPECT_EQ(st, KvCONT_NOT_IMPLEMENTED);
    it.entryStatus = 0;
    c.SetFlagsFunction(nullptr);
    EXPECT_EQ(it.GetFlags(st, nullptr), 0u);
    EXPECT_EQ(st, KvCONT_NOT_IMPLEMENTED);
    EXPECT_EQ(it.GetDat(st, nullptr), nullptr);
    EXPECT_EQ(st, KvCONT_NO_DAT);

    // The compare speaks of the other key against this element; the results
    // are turned round to speak of this element against the other key.
    c.SetCompareFunction(CountingCompare);
    Fixed other(&c, 9);
    int keyResult = 0, orderResult = 0;
    EXPECT_EQ(it.CompareElement(&other, nullptr, keyResult, orderResult, nullptr), 0);
    EXPECT_EQ(keyResult, -1);
    EXPECT_EQ(orderResult, -2);
    it.status = KvCONT_BEFORE_FIRST;
    g_calls = 0;
    EXPECT_EQ(it.CompareElement(&other, nullptr, keyResult, orderResult, nullptr),
              KvCONT_BEFORE_FIRST);
    it.status = 0;
    other.status = KvCONT_AFTER_LAST;
    EXPECT_EQ(it.CompareElement(&other, nullptr, keyResult, orderResult, nullptr),
              KvCONT_AFTER_LAST);
    other.status = 0;
    other.entryStatus = KvCONT_CHANGED;  // positioned, but without an element
    EXPECT_EQ(it.CompareElement(&other, nullptr, keyResult, orderResult, nullptr),
              KvCONT_NOT_IMPLEMENTED);
    EXPECT_EQ(g_calls, 0);
}

// What a derived class inherits without overriding: the default element
// functions (the element is its own key, no data part, flags 1, a copy of the
// key, all elements equal) and -2999 or nothing from every operation.
TEST(ContainerFramework, DefaultsOfTheBaseClasses) {
    KvVContainer c(sizeof(int), 0);
    int element = 0, key = 42, st = 1, keyResult = 1, orderResult = 1;
    EXPECT_EQ(c.CopyFunction(&c, &element, nullptr, &key, nullptr, nullptr), 0);
    EXPECT_EQ(element, 42);
    EXPECT_EQ(c.CopyFunction(&c, &element, nullptr, nullptr, nullptr, nullptr),
              KvCONT_NOT_IMPLEMENTED);
    KvCompareArgs args{&c, &keyResult, &orderResult, nullptr, &key, nullptr, &element, nullptr};
    EXPECT_EQ(c.CompareFunction(&args), 0);
    EXPECT_EQ(keyResult, 0);
    EXPECT_EQ(orderResult, 0);
    EXPECT_EQ(c.KeyFunction(&c, &element, &st, nullptr), &element);
    EXPECT_EQ(c.FlagsFunction(&c, &element, &st, nullptr), 1u);
    EXPECT_EQ(c.DatFunction(&c, &element, &st, nullptr), nullptr);
    EXPECT_EQ(st, KvCONT_NO_DAT);

    struct Derived : KvVContainer {
        Derived() = default;
        Derived(const Derived& other) : KvVContainer(other) {}
    } plain;
    plain.elementSize = 12;
    const Derived copy(plain);
    EXPECT_EQ(copy.elementSize, 12u);
    EXPECT_EQ(copy.GetType(), KvCONT_TYPE_BASE);
    EXPECT_EQ(plain.Clone(nullptr), nullptr);
    EXPECT_EQ(plain.CreateIterator(nullptr), nullptr);
    EXPECT_EQ(plain.Clear(nullptr, nullptr, nullptr), KvCONT_NOT_IMPLEMENTED);
    EXPECT_EQ(plain.SearchElement(nullptr, nullptr, 0, nullptr, nullptr), KvCONT_NOT_IMPLEMENTED);
    EXPECT_EQ(plain.InsertElement(nullptr, nullptr, 0, nullptr), KvCONT_NOT_IMPLEMENTED);
    EXPECT_EQ(plain.DeleteElement(nullptr, nullptr, 0, nullptr), KvCONT_NOT_IMPLEMENTED);

    KvVIterator it(nullptr);
    EXPECT_EQ(it.status, KvCONT_NO_CONTAINER);
    EXPECT_EQ(it.GetType(), KvCONT_TYPE_BASE);
    EXPECT_EQ(it.Clone(nullptr), nullptr);
    for (int result : {it.First(), it.Next(), it.Prior(), it.Last(), it.DeleteElement(0, nullptr),
                       it.SearchElement(nullptr, nullptr, 0, nullptr),
                       it.InsertElement(nullptr, nullptr, 0, nullptr),
                       it.UpdateElement(nullptr, nullptr, 0, nullptr)})
        EXPECT_EQ(result, KvCONT_NOT_IMPLEMENTED);
    EXPECT_EQ(it.GetEntry(st, nullptr), nullptr);
    EXPECT_EQ(st, KvCONT_NOT_IMPLEMENTED);
    const void* part = nullptr;
    EXPECT_EQ(it.GetEntryParts(&element, &part, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(part, nullptr);  // no container: nothing to give

    KvVParameter parameter;
    parameter.entry = &element;
    parameter.flags = 1;
    KvVParameter copied(parameter);  // the entry, not the caller's flags
    EXPECT_EQ(copied.entry, &element);
    EXPECT_EQ(copied.flags, 0u);
    KvVParameter assigned;
    assigned.flags = 3;
    assigned = parameter;
    EXPECT_EQ(assigned.entry, &element);
    EXPECT_EQ(assigned.flags, 3u);
    EXPECT_EQ(assigned.GetType(), KvCONT_TYPE_BASE);
}

int Fail(KvCompareArgs*) {
    return -7;
}
const void* FailingPart(KvVContainer*, const void*, int* status, KvVParameter*) {
    *status = -7;
    return nullptr;
}
unsigned int FailingFlags(KvVContainer*, const void*, int* status, KvVParameter*) {
    *status = -7;
    return 0;
}
int Extreme(KvCompareArgs* a) {
    *a->keyResult = INT_MIN;
    *a->orderResult = INT_MAX;
    return 0;
}

// A container whose entries hold no element.
struct Hollow : KvVContainer {
    Hollow() : KvVContainer(sizeof(int), 0) {}
    const void* GetElementOfEntry(const void*) const override { return nullptr; }
};

// Each table function a caller leaves out or lets fail ends the query with
// its status; the compare's extreme results are turned round without overflow.
TEST(ContainerFramework, MissingAndFailingTableFunctions) {
    KvVContainer c(sizeof(int), 0);
    Fixed it(&c, 5), other(&c, 9);
    const void *element, *key, *dat;
    unsigned int flags;
    int st, keyResult, orderResult;
    struct Row {
        const char* what;
        void (*spoil)(KvVContainer&);
        int parts;    // GetEntryParts for element, key, dat and flags
        int compare;  // it.CompareElement(&other)
    };
    const Row rows[] = {
        {"no key function", [](KvVContainer& x) { x.SetKeyFunction(nullptr); },
         KvCONT_NOT_IMPLEMENTED, KvCONT_NOT_IMPLEMENTED},
        {"failing key", [](KvVContainer& x) { x.SetKeyFunction(FailingPart); }, -7, -7},
        {"no flags function", [](KvVContainer& x) { x.SetFlagsFunction(nullptr); },
         KvCONT_NOT_IMPLEMENTED, 0},
        {"failing flags", [](KvVContainer& x) { x.SetFlagsFunction(FailingFlags); }, -7, 0},
        {"no dat function", [](KvVContainer& x) { x.SetDatFunction(nullptr); },
         KvCONT_NOT_IMPLEMENTED, KvCONT_NOT_IMPLEMENTED},
        {"failing dat", [](KvVContainer& x) { x.SetDatFunction(FailingPart); }, -7, -7},
        {"no compare", [](KvVContainer& x) { x.SetCompareFunction(nullptr); }, KvCONT_NO_DAT,
         KvCONT_NOT_IMPLEMENTED},
        {"failing compare", [](KvVContainer& x) { x.SetCompareFunction(Fail); }, KvCONT_NO_DAT, -7},
    };
    const KvVContainer fresh(sizeof(int), 0);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        c.SetKeyFunction(fresh.KeyFunction);
        c.SetDatFunction(fresh.DatFunction);
        c.SetFlagsFunction(fresh.FlagsFunction);
        c.SetCompareFunction(fresh.CompareFunction);
        row.spoil(c);
        EXPECT_EQ(it.GetEntryParts(&it.value, &element, &key, &dat, &flags, nullptr), row.parts);
        EXPECT_EQ(it.CompareElement(&other, nullptr, keyResult, orderResult, nullptr), row.compare);
    }
    c.SetKeyFunction(fresh.KeyFunction);
    c.SetDatFunction(fresh.DatFunction);
    c.SetCompareFunction(Extreme);
    EXPECT_EQ(it.CompareElement(&other, nullptr, keyResult, orderResult, nullptr), 0);
    EXPECT_EQ(keyResult, INT_MAX);
    EXPECT_EQ(orderResult, -INT_MAX);
    EXPECT_EQ(it.CompareElement(nullptr, nullptr, keyResult, orderResult, nullptr),
              KvCONT_NO_POSITION);
    it.entryStatus = KvCONT_CHANGED;  // this side positioned, but without an element
    EXPECT_EQ(it.CompareElement(&other, nullptr, keyResult, orderResult, nullptr), KvCONT_CHANGED);
    Fixed loose(nullptr, 5);  // an element, but no container to compare in
    EXPECT_EQ(loose.CompareElement(&other, nullptr, keyResult, orderResult, nullptr),
              KvCONT_NOT_IMPLEMENTED);
    EXPECT_EQ(loose.GetElement(st, nullptr), nullptr);

    Hollow hollow;
    Fixed inHollow(&hollow, 5);
    EXPECT_EQ(inHollow.GetEntryParts(&inHollow.value, &element, nullptr, nullptr, nullptr, nullptr),
              KvCONT_NOT_IMPLEMENTED);
    EXPECT_EQ(inHollow.GetEntryParts(&inHollow.value, nullptr, &key, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(inHollow.GetElement(st, nullptr), nullptr);
    EXPECT_EQ(st, KvCONT_NOT_IMPLEMENTED);
    EXPECT_EQ(inHollow.GetKey(st, nullptr), nullptr);
    EXPECT_EQ(st, KvCONT_NOT_IMPLEMENTED);
}

// ---------------------------------------------------------------------------
// Entry cache
// ---------------------------------------------------------------------------

char* Payload(const KvEntryCache& c) {
    return static_cast<char*>(c.currentBlock) + 8;
}

TEST(EntryCache, GeometryAndCarvingOrder) {
    tq::platform::HeapFailAfter(0);
    KvEntryCache c;
    EXPECT_EQ(c.entrySize, 8u);
    EXPECT_EQ(c.entriesPerBlock, 255u);
    EXPECT_EQ(c.alignment, 8);
    std::vector<char*> entries;
    for (int i = 0; i < 255; ++i)
        entries.push_back(static_cast<char*>(c.GetEntry()));
    EXPECT_EQ(tq::platform::HeapFailAfter(0), 1u);
    for (int i = 0; i < 255; ++i)
        EXPECT_EQ(entries[i], Payload(c) + (254 - i) * 8);
    void* first = c.currentBlock;
    char* top = static_cast<char*>(c.GetEntry());  // the 256th takes a new block
    EXPECT_EQ(tq::platform::HeapFailAfter(0), 1u);
    EXPECT_NE(c.currentBlock, first);
    EXPECT_EQ(c.oldestBlock, first);
    EXPECT_EQ(top, Payload(c) + 254 * 8);

    // Given-back entries come back last in, first out, before any carving.
    c.PutEntry(entries[3]);
    c.PutEntry(entries[7]);
    EXPECT_EQ(c.GetEntry(), entries[7]);
    EXPECT_EQ(c.GetEntry(), entries[3]);
    EXPECT_EQ(c.GetEntry(), top - 8);

    KvEntryCache odd(20, 0, 8);
    const KvEntryCache copy(odd);  // the geometry, nothing else
    EXPECT_EQ(copy.entrySize, 24u);
    EXPECT_EQ(copy.entriesPerBlock, 85u);
    EXPECT_EQ(KvEntryCache(4000, 0, 1).entriesPerBlock, 1u);
    EXPECT_EQ(KvEntryCache(1u << 20, 1u << 20, 8).entriesPerBlock, 4095u);  // 32-bit offsets
}

TEST(EntryCache, UngettingAndSpareBlocks) {
    tq::platform::HeapFailAfter(0);
    KvEntryCache c(16, 4, 8);
    EXPECT_EQ(c.UngetEntry(), nullptr);
    void* a = c.GetEntry();
    void* block = c.currentBlock;
    EXPECT_EQ(c.UngetEntry(), a);  // the block is empty again and becomes spare
    EXPECT_EQ(c.currentBlock, nullptr);
    EXPECT_EQ(c.oldestBlock, nullptr);
    EXPECT_EQ(c.spareBlocks, block);
    EXPECT_EQ(c.GetEntry(), a);  // taken from the spare list
    for (int i = 0; i < 6; ++i)
        c.GetEntry();
    void* newest = c.currentBlock;
    c.PutEntry(a);
    c.UngetAllEntries();
    EXPECT_EQ(c.freeList, nullptr);
    EXPECT_EQ(c.currentBlock, nullptr);
    EXPECT_EQ(c.spareBlocks, newest);
    EXPECT_EQ(tq::platform::HeapFailAfter(0), 2u);
    for (int i = 0; i < 8; ++i)
        c.GetEntry();
    EXPECT_EQ(c.currentBlock, block);  // newest spare first, then the older one
    EXPECT_EQ(c.oldestBlock, newest);
    // Again with a spare block waiting: the blocks in use join it, none is lost.
    for (int i = 0; i < 4; ++i)
        c.UngetEntry();
    EXPECT_EQ(c.spareBlocks, block);
    c.UngetAllEntries();
    for (int i = 0; i < 8; ++i)
        c.GetEntry();
    EXPECT_EQ(c.currentBlock, block);
    EXPECT_EQ(tq::platform::HeapFailAfter(0), 0u);
    c.Clear();
    EXPECT_EQ(c.spareBlocks, nullptr);
}

// ---------------------------------------------------------------------------
// Entry stack
// ---------------------------------------------------------------------------

std::string g_log;
char g_ring[4][2];

void Enter(KvTransactionContext*, void* slot) {
    g_log += 'e';
    g_log += static_cast<char>('0' + (static_cast<char*>(slot) - g_ring[0]) / 2);
}
void Leave(KvTransactionContext*, void* slot) {
    g_log += 'l';
    g_log += static_cast<char>('0' + (static_cast<char*>(slot) - g_ring[0]) / 2);
}

TEST(EntryStack, WindowOverARing) {
    g_log.clear();
    {
        KvEntryStack s(nullptr, g_ring[0], 2, 4, Enter, Leave);
        EXPECT_EQ(s.last, g_ring[3]);
        for (int i = 1; i < 4; ++i) {
            char* next = s.GetNextEntry();
            ASSERT_EQ(next, g_ring[i]);
            EXPECT_EQ(s.SetCurrentEntryWithTest(next), next);
        }
        EXPECT_EQ(s.GetNextEntry(), nullptr);  // the window covers the ring
        EXPECT_EQ(s.GetPrevEntry(), g_ring[2]);
        EXPECT_EQ(g_log, "e0e1e2e3");
    }
    EXPECT_EQ(g_log, "e0e1e2e3l0l1l2l3");

    g_log.clear();
    {
        KvEntryStack s(nullptr, g_ring[0], 2, 4, Enter, Leave);
        EXPECT_EQ(s.GetPrevEntry(), g_ring[3]);  // wraps to the last slot
        EXPECT_EQ(s.GetPrevEntry(), g_ring[3]);  // current did not move
        // The window is 3, 0 (wrapped): slots 1 and 2 lie outside it.
        EXPECT_EQ(s.SetCurrentEntryWithTest(g_ring[1]), nullptr);
        EXPECT_EQ(s.SetCurrentEntryWithTest(g_ring[2]), nullptr);
        EXPECT_EQ(s.SetCurrentEntryWithTest(g_ring[0] + 1), nullptr);  // not a slot boundary
        EXPECT_EQ(s.SetCurrentEntryWithTest(g_ring[3] + 2), nullptr);  // behind the buffer
        EXPECT_EQ(s.current, g_ring[0]);
        EXPECT_EQ(s.SetCurrentEntryWithTest(g_ring[3]), g_ring[3]);
        EXPECT_EQ(s.GetNextEntry(), g_ring[0]);
    }
    EXPECT_EQ(g_log, "e0e3l0l3");
}

}  // namespace
