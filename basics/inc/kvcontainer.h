// The container framework of the basics library: abstract containers,
// iterators and parameter objects with a per-container table of element
// functions, the entry cache and entry stack, the red-black tree with its
// iterator, the compact red-black tree, the one-entry container, the
// container differ and the memory-file container.
#ifndef KVBASICS_KVCONTAINER_H
#define KVBASICS_KVCONTAINER_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "kvexport.h"

// Builds with AddressSanitizer keep the entry cache out of line: it poisons
// the entries that are not handed out, so a use after PutEntry is caught.
#if defined(__SANITIZE_ADDRESS__)
#define KV_ENTRY_CACHE_POISONS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KV_ENTRY_CACHE_POISONS 1
#endif
#endif

class KvTransactionContext;  // the database kernel's, only stored and handed back
class MemFile;
class KvVContainer;
class KvVIterator;
class KvVParameter;

// ---------------------------------------------------------------------------
// Status codes, container flags and mode bits
// ---------------------------------------------------------------------------

inline constexpr int KvCONT_MISSING = -510;           // no entry equal to the key
inline constexpr int KvCONT_MISSING_2 = -511;         // second form of "not found"
inline constexpr int KvCONT_DUPLICATE = -512;         // insertion refused by the flags
inline constexpr int KvCONT_CHANGED = -513;           // container changed under the iterator
inline constexpr int KvCONT_NO_DAT = -519;            // the element has no data part
inline constexpr int KvCONT_NO_CONTAINER = -520;      // iterator bound to no container
inline constexpr int KvCONT_BEFORE_FIRST = -521;      // before the first entry
inline constexpr int KvCONT_AFTER_LAST = -522;        // behind the last entry
inline constexpr int KvCONT_NO_POSITION = -523;       // on no valid position
inline constexpr int KvCONT_NO_MEMORY = -2030;        // no memory for a new entry
inline constexpr int KvCONT_INTERNAL_ERROR = -2099;   // entry lost after an iterator deletion
inline constexpr int KvCONT_NOT_IMPLEMENTED = -2999;  // or a needed table function is missing

// Container flags.
inline constexpr unsigned short KvCONT_EQUAL_KEYS = 0x0001;  // equal keys, different order
inline constexpr unsigned short KvCONT_DUPLICATES = 0x0002;  // entries equal in full

// Mode bits of search, insertion and deletion.
inline constexpr unsigned short KvCONT_BACKWARD = 0x0001;
inline constexpr unsigned short KvCONT_BEFORE_EQUAL = 0x0004;
inline constexpr unsigned short KvCONT_LAST_EQUAL = 0x0010;
inline constexpr unsigned short KvCONT_OR_LOWER = 0x0020;
inline constexpr unsigned short KvCONT_OR_HIGHER = 0x0040;
inline constexpr unsigned short KvCONT_CONTINUE = 0x0100;
inline constexpr unsigned short KvCONT_KEEP_PATH = 0x0200;

// Type codes returned by GetType; container, iterator and parameter of one
// family share one.
inline constexpr unsigned short KvCONT_TYPE_BASE = 0;
inline constexpr unsigned short KvCONT_TYPE_RBTREE = 1;
inline constexpr unsigned short KvCONT_TYPE_ONE_ENTRY = 4;

// ---------------------------------------------------------------------------
// The element function table
// ---------------------------------------------------------------------------

// The block handed to a compare function. orderResult alone decides placement
// and equality: negative when key/dat sort before element, 0 when equal,
// positive when after. keyResult 0 says both sides share a key group.
struct KvCompareArgs {
    KvVContainer* container;
    int* keyResult;
    int* orderResult;
    const KvVIterator* iterator;  // supplied key and dat, or null
    const void* key;
    const void* dat;  // may be null
    const void* element;
    KvVParameter* parameter;
};

using KvCopyFunction = int (*)(KvVContainer* container, void* element, const KvVIterator* source,
                               const void* key, const void* dat, KvVParameter* parameter);
using KvDestroyFunction = void (*)(KvVContainer* container, void* element);
using KvCompareFunction = int (*)(KvCompareArgs* args);
using KvKeyFunction = const void* (*)(KvVContainer* container, const void* element, int* status,
                                      KvVParameter* parameter);
using KvDatFunction = KvKeyFunction;
using KvFlagsFunction = unsigned int (*)(KvVContainer* container, const void* element, int* status,
                                         KvVParameter* parameter);

// ---------------------------------------------------------------------------
// Parameter, container and iterator interfaces
// ---------------------------------------------------------------------------

// A small object that callers thread through every operation.
class KVBASICS_API KvVParameter {
public:
    KvVParameter();
    // Copying carries entry only; flags start at zero (or stay as they are).
    KvVParameter(const KvVParameter& other);
    KvVParameter& operator=(const KvVParameter& other);
    virtual ~KvVParameter();
    virtual unsigned short GetType() const;

    const void* entry;  // an entry of some container (KvCONT_CONTINUE)
    uint64_t flags;     // caller flags; the differ uses bit 0
};

// A container of fixed-size elements.
class KVBASICS_API KvVContainer {
public:
    KvVContainer();
    KvVContainer(unsigned int elementSize, unsigned short flags);
    virtual ~KvVContainer();

    virtual KvVContainer* Clone(KvVContainer* target) const;
    virtual unsigned short GetType() const;
    virtual int Clear(KvTransactionContext* context, unsigned int* removedCount,
                      KvVContainer* other);
    virtual int SearchElement(const KvVIterator* source, KvVParameter* p1, unsigned short mode,
                              KvVParameter* p2, KvVIterator* result);
    virtual int InsertElement(const KvVIterator* source, KvVParameter* p1, unsigned short mode,
                              KvVParameter* p2);
    virtual int DeleteElement(const KvVIterator* source, KvVParameter* p1, unsigned short mode,
                              KvVParameter* p2);
    virtual const void* GetElementOfEntry(const void* entry) const;
    virtual KvVIterator* CreateIterator(KvTransactionContext* context);

    void SetCopyFunction(KvCopyFunction function) { CopyFunction = function; }
    void SetDestroyFunction(KvDestroyFunction function) { DestroyFunction = function; }
    void SetCompareFunction(KvCompareFunction function) { CompareFunction = function; }
    void SetKeyFunction(KvKeyFunction function) { KeyFunction = function; }
    void SetDatFunction(KvDatFunction function) { DatFunction = function; }
    void SetFlagsFunction(KvFlagsFunction function) { FlagsFunction = function; }

    uint32_t count;        // entries held
    uint32_t elementSize;  // bytes per element
    uint16_t flags;        // KvCONT_EQUAL_KEYS, KvCONT_DUPLICATES

    KvCopyFunction CopyFunction;
    KvDestroyFunction DestroyFunction;  // null: elements need no destruction
    KvCompareFunction CompareFunction;
    KvKeyFunction KeyFunction;
    KvDatFunction DatFunction;
    KvFlagsFunction FlagsFunction;

protected:
    KvVContainer(const KvVContainer& other);
    KvVContainer& operator=(const KvVContainer&) = delete;
};

// A cursor over one container. status is the position: 0 on an entry,
// KvCONT_NO_CONTAINER, KvCONT_BEFORE_FIRST, KvCONT_AFTER_LAST,
// KvCONT_NO_POSITION, or the error of the last failed move.
class KVBASICS_API KvVIterator {
public:
    explicit KvVIterator(KvTransactionContext* context);
    KvVIterator(KvTransactionContext* context, KvVContainer* container);
    KvVIterator(const KvVIterator& other);
    KvVIterator& operator=(const KvVIterator& other);
    KvVIterator& operator=(KvVContainer* container);
    virtual ~KvVIterator();

    virtual unsigned short GetType() const;
    virtual KvVIterator* Clone(KvVIterator* target) const;
    virtual int First();
    virtual int Next();
    virtual int Prior();
    virtual int Last();
    // Compares this iterator's element with the other iterator's key.
    virtual int CompareElement(const KvVIterator* other, KvVParameter* p1, int& keyResult,
                               int& orderResult, KvVParameter* p2) const;
    virtual int SearchElement(const KvVIterator* source, KvVParameter* p1, unsigned short mode,
                              KvVParameter* p2);
    virtual int InsertElement(const KvVIterator* source, KvVParameter* p1, unsigned short mode,
                              KvVParameter* p2);
    virtual int UpdateElement(const KvVIterator* source, KvVParameter* p1, unsigned short mode,
                              KvVParameter* p2);
    virtual int DeleteElement(unsigned short mode, KvVParameter* parameter);
    // Detaches the iterator from its container; the object stays.
    virtual void Destroy();
    virtual const void* GetEntry(int& status, KvVParameter* parameter) const;
    virtual int GetEntryParts(const void* entry, const void** element, const void** key,
                              const void** dat, unsigned int* flags, KvVParameter* parameter) const;
    virtual const void* GetElement(int& status, KvVParameter* parameter) const;
    virtual const void* GetKey(int& status, KvVParameter* parameter) const;
    virtual const void* GetDat(int& status, KvVParameter* parameter) const;
    virtual unsigned int GetFlags(int& status, KvVParameter* parameter) const;

    KvVContainer* container;
    KvTransactionContext* transactionContext;
    int32_t status;

protected:
    void SetContainer(KvVContainer* container);
};

// ---------------------------------------------------------------------------
// Entry cache and entry stack
// ---------------------------------------------------------------------------

// Hands out fixed-size entries carved from large blocks, top slot first, and
// takes them back without returning memory: clearing a container frees
// nothing, and refilling it reuses the same blocks. Every block is one 8-byte
// link word followed by entriesPerBlock slots of entrySize bytes.
class KVBASICS_API KvEntryCache {
public:
    KvEntryCache();  // (0, 0, 8): 8-byte entries, 255 per block
    KvEntryCache(unsigned int entrySize, unsigned int entriesPerBlock, unsigned short alignment);
    // A new, empty cache of the same geometry; nothing is shared.
    KvEntryCache(const KvEntryCache& other);
    KvEntryCache& operator=(const KvEntryCache&) = delete;
    ~KvEntryCache();

    // Releases everything, then sets the geometry: entrySize at least 8 and a
    // multiple of alignment; entriesPerBlock 0 fills about 2 KB per block.
    void Init(unsigned int entrySize, unsigned int entriesPerBlock, unsigned short alignment);

    // A free or fresh entry; null when no memory is available (the memory
    // handler has then been called once) or the geometry is zero.
    void* GetEntry() {
#ifndef KV_ENTRY_CACHE_POISONS
        if (freeList != nullptr) {
            void* entry = freeList;
            std::memcpy(&freeList, entry, sizeof freeList);
            return entry;
        }
        if (freeOffset != 0) {
            freeOffset -= entrySize;
            return static_cast<char*>(currentBlock) + kLinkSize + freeOffset;
        }
#endif
        return GetEntryOutOfLine();
    }
    // Gives one entry back through the free list (its first word becomes the link).
    void PutEntry(void* entry) {
#ifndef KV_ENTRY_CACHE_POISONS
        std::memcpy(entry, &freeList, sizeof freeList);
        freeList = entry;
#else
        PutEntryOutOfLine(entry);
#endif
    }
    // Undoes the last carving (not a free-list pop) and returns that slot;
    // null when no block is in use.
    void* UngetEntry();
    // Takes every entry back at once; blocks become spare, nothing is freed.
    void UngetAllEntries();
    // UngetAllEntries, then frees the spare blocks.
    void Clear();

    static constexpr unsigned int kLinkSize = 8;

    void* freeList;       // given-back entries, linked through their first word
    void* currentBlock;   // newest block in use; blocks linked newest first
    void* oldestBlock;    // end of that chain
    uint32_t freeOffset;  // payload offset of the slot carved last; 0: none left
    uint32_t entrySize;
    void* spareBlocks;  // blocks no longer in use, kept for reuse
    uint32_t entriesPerBlock;
    uint16_t alignment;

private:
    // The whole of GetEntry and PutEntry, poisoning under AddressSanitizer.
    void* GetEntryOutOfLine();
    void PutEntryOutOfLine(void* entry);
    void* GetEntryFromNewBlock();
    void PoisonInUse();
};

// A window moving over a caller's ring buffer of fixed-size slots. The enter
// function is told of every slot that joins the window, the leave function of
// every slot in it when the stack is destroyed.
class KVBASICS_API KvEntryStack {
public:
    using SlotFunction = void (*)(KvTransactionContext* context, void* slot);

    // buffer holds count slots of entrySize bytes (count 0 counts as 1);
    // the first slot joins the window at once.
    KvEntryStack(KvTransactionContext* context, char* buffer, unsigned short entrySize,
                 unsigned short count, SlotFunction enterFunction, SlotFunction leaveFunction);
    KvEntryStack(const KvEntryStack&) = delete;
    KvEntryStack& operator=(const KvEntryStack&) = delete;
    ~KvEntryStack();

    // The slot after (before) the current one, growing the window when
    // needed; null when the window already covers the ring that way.
    char* GetNextEntry();
    char* GetPrevEntry();
    // Makes slot current when it is a slot inside the window; else null.
    char* SetCurrentEntryWithTest(void* slot);

    KvTransactionContext* transactionContext;
    char* begin;
    char* last;
    char* low;
    char* current;
    char* high;
    uint16_t entrySize;
    SlotFunction enterFunction;
    SlotFunction leaveFunction;
};

// ---------------------------------------------------------------------------
// Red-black tree
// ---------------------------------------------------------------------------

// A tree node; the element follows at offset 16. The lowest bit of left is
// the node's colour (1 red, 0 black); nodes are 8-byte aligned.
struct KvRBTreeNode {
    uintptr_t left;
    KvRBTreeNode* right;
};

// The path from the root to a node: slot 0 is always null, so popping past
// the root yields null. 63 usable slots bound the height of any tree of fewer
// than 2^31 nodes.
struct KvRBTreeNodeStack {
    static constexpr int kSlots = 64;

    void Reset() {
        path[0] = nullptr;
        top = path;
    }
    void Push(KvRBTreeNode* node) { *++top = node; }
    KvRBTreeNode* Pop() {
        KvRBTreeNode* node = *top;
        if (top != path) --top;
        return node;
    }
    KvRBTreeNode* Top() const { return *top; }

    KvRBTreeNode* path[kSlots];
    KvRBTreeNode** top;
};

class KVBASICS_API KvRBTreeParameter : public KvVParameter {
public:
    KvRBTreeParameter();
    ~KvRBTreeParameter() override;
    unsigned short GetType() const override;
};

class KvRBTreeIterator;

// An ordered container of fixed-size elements in a red-black tree without
// parent pointers: every operation records the path it walks. Nodes come
// from an entry cache.
class KVBASICS_API KvRBTree : public KvVContainer {
public:
    KvRBTree();
    KvRBTree(unsigned int elementSize, unsigned short flags, unsigned int entriesPerBlock);
    ~KvRBTree() override;
    KvRBTree(const KvRBTree&) = delete;
    KvRBTree& operator=(const KvRBTree&) = delete;

    unsigned short GetType() const override;
    int Clear(KvTransactionContext* context, unsigned int* removedCount,
              KvVContainer* other) override;
    int SearchElement(const KvVIterator* source, KvVParameter* p1, unsigned short mode,
                      KvVParameter* p2, KvVIterator* result) override;
    int InsertElement(const KvVIterator* source, KvVParameter* p1, unsigned short mode,
                      KvVParameter* p2) override;
    int DeleteElement(const KvVIterator* source, KvVParameter* p1, unsigned short mode,
                      KvVParameter* p2) override;
    const void* GetElementOfEntry(const void* entry) const override;
    KvVIterator* CreateIterator(KvTransactionContext* context) override;

    // A fresh red node whose element the caller fills in before InsertEntry;
    // null with status KvCONT_NO_MEMORY when no memory is available.
    void* CreateEntry(int& status);
    // Links a node made by CreateEntry; the tree owns it from here on, also
    // when the insertion fails.
    int InsertEntry(const void* entry, unsigned short mode, KvVParameter* parameter);
    // Removes exactly this node; KvCONT_MISSING when it is not in the tree.
    int DeleteEntry(const void* entry, unsigned short mode, KvVParameter* parameter);
    // 0 when every invariant holds, else -1 red root, -2 red node with a red
    // child, -3 unequal black heights, -4 child out of order, -5 wrong count.
    int CheckTree(KvVParameter* parameter);
    void OutTree(KvVParameter* parameter);

    const KvRBTreeNode* Root() const { return root; }
    const KvRBTreeNode* MaxEntry() const { return maxEntry; }
    const KvEntryCache& Cache() const { return cache; }
    uint16_t HasEqualKeys() const { return hasEqualKeys; }
    uint32_t ChangeCount() const { return changeCount; }

    static constexpr size_t kNodeHeader = sizeof(KvRBTreeNode);

protected:
    KvRBTreeNode* root;
    KvRBTreeNode* maxEntry;
    KvEntryCache cache;
    uint16_t hasEqualKeys;
    uint32_t changeCount;

private:
    friend class KvRBTreeIterator;
    struct Compare;

    int ReadSource(const KvVIterator* source, KvVParameter* p1, const void*& key,
                   const void*& dat) const;
    int ReadNode(const KvRBTreeNode* node, KvVParameter* parameter, const void*& key,
                 const void*& dat);
    KvRBTreeNode* Search(Compare& compare, unsigned short mode, KvVParameter* parameter,
                         KvRBTreeNodeStack& path, KvRBTreeNode**& matchSlot, int& status);
    int Locate(const KvRBTreeNode* node, unsigned short mode, KvVParameter* parameter,
               KvRBTreeNodeStack& path);
    void Remove(KvRBTreeNodeStack& path, KvRBTreeNode** matchSlot);
    void FreeNode(KvRBTreeNode* node);
    void DestroyElements(KvRBTreeNode* node);
    int CheckSubtree(Compare& compare, const KvRBTreeNode* node, KvVParameter* parameter,
                     uint32_t& nodes, int& blackHeight);
};

// The cursor of KvRBTree. It carries the path from the root to its node and a
// snapshot of the tree's change count, and refuses to move or read once the
// tree was changed by anybody else (KvCONT_CHANGED).
class KVBASICS_API KvRBTreeIterator : public KvVIterator, protected KvRBTreeNodeStack {
public:
    KvRBTreeIterator(KvRBTree* tree, KvTransactionContext* context);
    ~KvRBTreeIterator() override;

    unsigned short GetType() const override;
    KvVIterator* Clone(KvVIterator* target) const override;
    int First() override;
    int Next() override;
    int Prior() override;
    int Last() override;
    // Removes the current entry and stands on its successor (its predecessor
    // with KvCONT_BACKWARD).
    int DeleteElement(unsigned short mode, KvVParameter* parameter) override;
    const void* GetEntry(int& status, KvVParameter* parameter) const override;

    uint32_t changeSnapshot;

protected:
    KvRBTreeIterator(const KvRBTreeIterator& other);
    KvRBTreeIterator& operator=(const KvRBTreeIterator& other);

private:
    friend class KvRBTree;
    KvRBTree* Tree() const { return static_cast<KvRBTree*>(container); }
};

// ---------------------------------------------------------------------------
// Compact red-black tree
// ---------------------------------------------------------------------------

// A node of KvRBTree1: the tree links of KvRBTreeNode, then the neighbours in
// key order, then the element at offset 32.
struct KvRBTree1Node : KvRBTreeNode {
    KvRBTree1Node* prev;  // next smaller key; null for the first node
    KvRBTree1Node* next;  // next greater key; null for the last node

    void* Element() { return reinterpret_cast<char*>(this) + kElementOffset; }
    const void* Element() const { return reinterpret_cast<const char*>(this) + kElementOffset; }

    static constexpr size_t kElementOffset = 32;
};

// The path of a search, from the root to the future parent or the node found;
// owned by the caller, filled by SearchNode and consumed by AddNode.
struct KvRBTree1NodeStack : KvRBTreeNodeStack {
    KvRBTree1Node* TopNode() const { return static_cast<KvRBTree1Node*>(Top()); }
};

// A lean red-black tree outside the container framework: a derived class
// builds elements from keys and compares keys with elements. Finding a key or
// else adding it costs one descent (SearchNode, then AddNode on its path);
// nodes are threaded in key order through prev/next. Entries are never
// removed one by one; Clear recycles all of them.
class KVBASICS_API KvRBTree1 {
public:
    KvRBTree1();  // (0, 0)
    // entriesPerBlock 0 lets the entry cache choose.
    KvRBTree1(unsigned int elementSize, unsigned int entriesPerBlock);
    virtual ~KvRBTree1();
    KvRBTree1(const KvRBTree1&) = delete;
    KvRBTree1& operator=(const KvRBTree1&) = delete;

    // Builds the element of a new node from the key.
    virtual void InitElement(const void* key, void* element) = 0;
    // Negative when the key sorts before the element, 0 when equal, positive
    // when after.
    virtual int CompareKey(const void* key, const void* element) const = 0;

    // The node equal to the key, or null; either way stack holds the path
    // walked and result the side (negative: left) where a new node belongs.
    // A key above the last one is placed with a single compare.
    KvRBTree1Node* SearchNode(const void* key, KvRBTree1NodeStack& stack, int& result) const;
    // Adds the key where the SearchNode that returned null for it left stack
    // and result. Null, with the tree unchanged, when no memory is available,
    // the path does not end at a free place of this tree, or the tree holds
    // 2^31 - 1 nodes already (the most a path of 63 nodes can serve).
    KvRBTree1Node* AddNode(const void* key, KvRBTree1NodeStack& stack, int result);
    // Empties the tree; the node memory stays in the cache for reuse and no
    // element is visited.
    void Clear();

    uint32_t Count() const { return count; }
    uint32_t ElementSize() const { return elementSize; }
    KvRBTree1Node* Root() const { return root; }
    KvRBTree1Node* First() const { return first; }
    KvRBTree1Node* Last() const { return last; }
    const KvEntryCache& Cache() const { return cache; }

protected:
    uint32_t count;
    uint32_t elementSize;
    KvRBTree1Node* root;
    KvRBTree1Node* first;
    KvRBTree1Node* last;
    KvEntryCache cache;
};

// Defined here so that a derived class whose type the caller knows gets its
// CompareKey inlined into the descent.
inline KvRBTree1Node* KvRBTree1::SearchNode(const void* key, KvRBTree1NodeStack& stack,
                                            int& result) const {
    stack.Reset();
    result = 1;
    // The top stays in a register across the compares.
    KvRBTreeNode** top = stack.top;
    if (last != nullptr && CompareKey(key, last->Element()) > 0) {
        // Above every key: the new node goes right of the last one, at the
        // end of the right spine.
        for (KvRBTreeNode* n = root; n != nullptr; n = n->right)
            *++top = n;
        stack.top = top;
        return nullptr;
    }
    KvRBTreeNode* n = root;
    int order = 1;
    while (n != nullptr) {
        *++top = n;
        const uintptr_t left = n->left & ~uintptr_t{1};  // without the colour bit
        const uintptr_t right = reinterpret_cast<uintptr_t>(n->right);
#if defined(__GNUC__)
        // Both children are fetched while the key is compared; in a large
        // tree every level would wait for memory otherwise.
        __builtin_prefetch(reinterpret_cast<const void*>(left + KvRBTree1Node::kElementOffset));
        __builtin_prefetch(reinterpret_cast<const void*>(right + KvRBTree1Node::kElementOffset));
#endif
        order = CompareKey(key, static_cast<KvRBTree1Node*>(n)->Element());
        if (order == 0) break;
#if defined(__GNUC__)
        // A conditional move rather than a branch, which random keys would
        // mispredict at every level.
        const bool goLeft = __builtin_expect_with_probability(order < 0, 1, 0.5);
#else
        const bool goLeft = order < 0;
#endif
        n = reinterpret_cast<KvRBTreeNode*>(goLeft ? left : right);
    }
    stack.top = top;
    result = order;
    return static_cast<KvRBTree1Node*>(n);
}

// ---------------------------------------------------------------------------
// One-entry container
// ---------------------------------------------------------------------------

// Turns one caller-held key, with an optional data part and flags, into a
// container whose iterator serves as the source of searches, insertions and
// deletions. The container points at the caller's memory and owns nothing;
// the key is its only entry and element.
class KVBASICS_API KvOneEntryContainer : public KvVContainer {
public:
    explicit KvOneEntryContainer(const void* key = nullptr, const void* dat = nullptr,
                                 unsigned int entryFlags = 0, unsigned int elementSize = 0);
    ~KvOneEntryContainer() override;
    KvOneEntryContainer(const KvOneEntryContainer&) = delete;
    KvOneEntryContainer& operator=(const KvOneEntryContainer&) = delete;

    unsigned short GetType() const override;
    // Finds nothing: KvCONT_MISSING, and result (when given) stands behind
    // the last entry.
    int SearchElement(const KvVIterator* source, KvVParameter* p1, unsigned short mode,
                      KvVParameter* p2, KvVIterator* result) override;

    // Points the container at a key (null: empty), a data part (null: none)
    // and the entry's flags.
    void SetEntry(const void* key, const void* dat = nullptr, unsigned int entryFlags = 0);
    void SetKey(const void* key);
    void SetDat(const void* dat) { this->dat = dat; }
    void SetEntryFlags(unsigned int entryFlags) { this->entryFlags = entryFlags; }

    const void* Key() const { return key; }
    const void* Dat() const { return dat; }
    uint32_t EntryFlags() const { return entryFlags; }

protected:
    const void* key;  // the entry, null when empty
    const void* dat;
    uint32_t entryFlags;

private:
    friend class KvOneEntryIterator;
    void SetFunctions();
};

// The cursor of KvOneEntryContainer. Its status is its position: before the
// entry (KvCONT_BEFORE_FIRST), on it (0) or behind it (KvCONT_AFTER_LAST).
class KVBASICS_API KvOneEntryIterator : public KvVIterator {
public:
    KvOneEntryIterator(KvOneEntryContainer* container, KvTransactionContext* context);
    ~KvOneEntryIterator() override;

    unsigned short GetType() const override;
    int First() override;
    int Next() override;
    int Prior() override;
    int Last() override;
    // The key; null with a negative status off the entry.
    const void* GetEntry(int& status, KvVParameter* parameter) const override;
    const void* GetKey(int& status, KvVParameter* parameter) const override;
    // The data part; null with KvCONT_NO_DAT when there is none.
    const void* GetDat(int& status, KvVParameter* parameter) const override;

private:
    const KvOneEntryContainer* Own() const;
};

// ---------------------------------------------------------------------------
// Container differ and memory-file container
// ---------------------------------------------------------------------------

// The client's list of elements that did not match positionally, each with a
// balance: -1 per unmatched element of the first sequence, +1 per one of the
// second. The differ calls First and Next to walk it; SearchElement to stand
// on the entry matching a source's element (KvCONT_MISSING or
// KvCONT_MISSING_2 when there is none); InsertElement to add a source's
// element with balance -1 when bit 0 of the second parameter's flags is 0,
// +1 when it is 1; DeleteElement to remove the current entry.
class KVBASICS_API KvDiffListIteratorInterface : public KvVIterator {
public:
    explicit KvDiffListIteratorInterface(KvVContainer* container);
    ~KvDiffListIteratorInterface() override;

    // The balance of the entry the iterator stands on.
    virtual int32_t* GetBalance() = 0;
};

// Compares two ordered sequences and delivers what is only in the first into
// one container and what is only in the second into another, also when equal
// elements stand at different places. Elements that do not match
// positionally are parked in the client's diff list, where a later
// occurrence on the other side cancels them. The InsertElement of every
// delivery gets a parameter whose flags bit 0 is 0 for an element of the
// first sequence and 1 for one of the second.
class KVBASICS_API KvVContainerDiffer {
public:
    KvVContainerDiffer();

    // 1 when anything was delivered, 0 when the sequences hold the same
    // elements, else the first negative status met (what was delivered until
    // then stays). Both iterators must be bound to containers, whose counts
    // bound the positional compares: at most the larger count times ratio of
    // them may mismatch (at least 10 for a small positive product; a ratio of
    // 0 sends every element through the diff list).
    int Diff(KvVIterator* first, KvVIterator* second, KvVContainer* onlyFirst,
             KvVContainer* onlySecond, double ratio);

    KvDiffListIteratorInterface* diffList;  // set by the client before Diff
};

// Fixed-size records stored back to back in a memory file, from the file's
// position at construction on. The container's element size is the record
// size and its count the number of records; it owns neither file nor records.
// One iteration at a time: the record index and the file position are shared
// by all iterators of the container.
class KVBASICS_API KvMemFileContainer : public KvVContainer {
public:
    KvMemFileContainer(MemFile* file, unsigned int recordSize, unsigned int recordCount);
    ~KvMemFileContainer() override;
    KvMemFileContainer(const KvMemFileContainer&) = delete;
    KvMemFileContainer& operator=(const KvMemFileContainer&) = delete;

    MemFile* File() const { return file; }
    uint32_t StartPosition() const { return startPosition; }
    uint32_t Index() const { return index; }

protected:
    MemFile* file;
    uint32_t startPosition;
    uint32_t index;

private:
    friend class KvMemFileIterator;
};

// A forward-only cursor over a KvMemFileContainer; its entries are the
// records inside the file's buffer (valid until the file is resized).
class KVBASICS_API KvMemFileIterator : public KvVIterator {
public:
    explicit KvMemFileIterator(KvMemFileContainer* container);
    ~KvMemFileIterator() override;

    int First() override;
    int Next() override;
    // Byte-wise comparison of this record with the other iterator's entry.
    int CompareElement(const KvVIterator* other, KvVParameter* p1, int& keyResult, int& orderResult,
                       KvVParameter* p2) const override;
    // The current record, also when the status is negative (null before
    // positioning or when no whole record was there).
    const void* GetEntry(int& status, KvVParameter* parameter) const override;
    const void* GetKey(int& status, KvVParameter* parameter) const override;

    const unsigned char* currentRecord;

private:
    KvMemFileContainer* Own() const;
    const unsigned char* RecordAt(KvMemFileContainer& own, uint64_t recordIndex) const;
};

#endif  // KVBASICS_KVCONTAINER_H
