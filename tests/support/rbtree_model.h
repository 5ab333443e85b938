// A model element for the red-black tree's tests and fuzz target: its table
// functions (each can be made to fail), a source iterator over one element, a
// tree and an iterator that install them, and the cache's handed-out count.
#ifndef TQ_TESTS_SUPPORT_RBTREE_MODEL_H
#define TQ_TESTS_SUPPORT_RBTREE_MODEL_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>

#include "kvcontainer.h"

namespace tq::test::rbtree_model {

constexpr int kFail = -777;

// Elements: the key orders, the dat breaks ties; id tells equal ones apart.
struct Elem {
    int32_t key;
    int32_t dat;
    uint32_t id;
    uint32_t hasDat;
};

struct Hooks {
    int compareCountdown = 0;  // the nth compare from now fails
    bool failCopy = false;
    bool failKey = false;
    uint64_t compares = 0;
    uint32_t nextId = 0;
    std::multiset<uint32_t> live;           // ids built and not yet destroyed
    void (*onStrayDestroy)() = std::abort;  // an element destroyed twice or never built
};
inline Hooks g;

template <typename T = Elem>
T Read(const void* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline int Compare(KvCompareArgs* a) {
    ++g.compares;
    if (g.compareCountdown > 0 && --g.compareCountdown == 0) return kFail;
    const Elem e = Read(a->element);
    const int32_t k = Read<int32_t>(a->key), d = a->dat != nullptr ? Read<int32_t>(a->dat) : 0;
    *a->keyResult = *a->orderResult = (k > e.key) - (k < e.key);
    if (*a->orderResult == 0 && a->dat != nullptr) *a->orderResult = (d > e.dat) - (d < e.dat);
    return 0;
}

inline const void* Key(KvVContainer*, const void* element, int* status, KvVParameter*) {
    *status = g.failKey ? kFail : 0;
    return element;  // the key is the element's first field
}

inline const void* Dat(KvVContainer*, const void* element, int* status, KvVParameter*) {
    const bool has = Read(element).hasDat != 0;
    *status = has ? 0 : KvCONT_NO_DAT;
    return has ? static_cast<const char*>(element) + offsetof(Elem, dat) : nullptr;
}

inline int Copy(KvVContainer*, void* element, const KvVIterator*, const void* key, const void* dat,
                KvVParameter*) {
    if (g.failCopy) return kFail;
    const Elem e{Read<int32_t>(key), dat != nullptr ? Read<int32_t>(dat) : 0, ++g.nextId, 1};
    std::memcpy(element, &e, sizeof e);
    g.live.insert(e.id);
    return 0;
}

inline void Destroy(KvVContainer*, void* element) {
    auto it = g.live.find(Read(element).id);
    if (it == g.live.end()) {
        g.onStrayDestroy();  // destroyed twice or never built
        return;
    }
    g.live.erase(it);
}

inline void Install(KvVContainer& c) {
    c.SetCompareFunction(Compare);
    c.SetKeyFunction(Key);
    c.SetDatFunction(Dat);
    c.SetCopyFunction(Copy);
    c.SetDestroyFunction(Destroy);
}

// A source iterator over one caller-held element (dat optional).
class Probe : public KvVIterator {
public:
    Probe() : KvVIterator(nullptr, &source_) {
        Install(source_);
        status = 0;
    }
    Probe& Set(int32_t key, int32_t dat, bool hasDat = true) {
        elem = {key, dat, 0, hasDat ? 1u : 0u};
        return *this;
    }
    const void* GetEntry(int& s, KvVParameter*) const override {
        s = 0;
        return &elem;
    }
    Elem elem{};

private:
    KvVContainer source_{sizeof(Elem), 0};
};

class Tree : public KvRBTree {
public:
    explicit Tree(unsigned short flags, unsigned int perBlock = 0)
        : KvRBTree(sizeof(Elem), flags, perBlock) {
        Install(*this);
    }
};

class It : public KvRBTreeIterator {
public:
    explicit It(KvRBTree* tree) : KvRBTreeIterator(tree, nullptr) {}
    uint32_t Id() const {
        int s;
        const void* el = GetElement(s, nullptr);
        return el != nullptr && s == 0 ? Read(el).id : 0;
    }
};

// Entries the cache has handed out and not got back.
inline size_t HandedOut(const KvEntryCache& c) {
    size_t blocks = 0, free = 0;
    for (void* b = c.currentBlock; b != nullptr; b = Read<void*>(b))
        ++blocks;
    for (void* e = c.freeList; e != nullptr; e = Read<void*>(e))
        ++free;
    const size_t uncarved = c.currentBlock != nullptr ? c.freeOffset / c.entrySize : 0;
    return blocks * c.entriesPerBlock - uncarved - free;
}

}  // namespace tq::test::rbtree_model

#endif  // TQ_TESTS_SUPPORT_RBTREE_MODEL_H
