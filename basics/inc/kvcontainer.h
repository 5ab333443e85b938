/// \file
/// The container framework of the basics library: abstract containers,
/// iterators and parameter objects with a per-container table of element
/// functions, the entry cache and entry stack, the red-black tree with its
/// iterator, the compact red-black tree, the one-entry container, the
/// container differ and the memory-file container.
///
/// Operations return 0 (or a positive value) on success and a negative code
/// otherwise: one of the KvCONT_ codes below, or the unchanged status of a
/// function of the element table. Nothing here prints or logs.
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

inline constexpr int KvCONT_MISSING = -510;           ///< no entry equal to the key
inline constexpr int KvCONT_MISSING_2 = -511;         ///< second form of "not found"
inline constexpr int KvCONT_DUPLICATE = -512;         ///< insertion refused by the flags
inline constexpr int KvCONT_CHANGED = -513;           ///< container changed under the iterator
inline constexpr int KvCONT_NO_DAT = -519;            ///< the element has no data part
inline constexpr int KvCONT_NO_CONTAINER = -520;      ///< iterator bound to no container
inline constexpr int KvCONT_BEFORE_FIRST = -521;      ///< before the first entry
inline constexpr int KvCONT_AFTER_LAST = -522;        ///< behind the last entry
inline constexpr int KvCONT_NO_POSITION = -523;       ///< on no valid position
inline constexpr int KvCONT_NO_MEMORY = -2030;        ///< no memory for a new entry
inline constexpr int KvCONT_INTERNAL_ERROR = -2099;   ///< lost entry, or a balance overflow
inline constexpr int KvCONT_NOT_IMPLEMENTED = -2999;  ///< no such operation or table function

// Container flags.
inline constexpr unsigned short KvCONT_EQUAL_KEYS = 0x0001;  ///< equal keys, different order
inline constexpr unsigned short KvCONT_DUPLICATES = 0x0002;  ///< entries equal in full

// Mode bits of search, insertion and deletion.
inline constexpr unsigned short KvCONT_BACKWARD = 0x0001;      ///< deletion moves to the prior
inline constexpr unsigned short KvCONT_BEFORE_EQUAL = 0x0004;  ///< insert before equal entries
inline constexpr unsigned short KvCONT_LAST_EQUAL = 0x0010;    ///< search: last of equal entries
inline constexpr unsigned short KvCONT_OR_LOWER = 0x0020;      ///< no hit: greatest entry below
inline constexpr unsigned short KvCONT_OR_HIGHER = 0x0040;     ///< no hit: smallest entry above
inline constexpr unsigned short KvCONT_CONTINUE = 0x0100;      ///< behind the parameter's entry
inline constexpr unsigned short KvCONT_KEEP_PATH = 0x0200;     ///< keep the path to the neighbour

// Type codes returned by GetType; container, iterator and parameter of one
// family share one.
inline constexpr unsigned short KvCONT_TYPE_BASE = 0;       ///< base classes, memory-file container
inline constexpr unsigned short KvCONT_TYPE_RBTREE = 1;     ///< the red-black tree family
inline constexpr unsigned short KvCONT_TYPE_ONE_ENTRY = 4;  ///< the one-entry container family

// ---------------------------------------------------------------------------
// The element function table
// ---------------------------------------------------------------------------

/// The block handed to a compare function. orderResult alone decides placement
/// and equality: negative when key/dat sort before element, 0 when equal,
/// positive when after. keyResult 0 says both sides share a key group.
struct KvCompareArgs {
    KvVContainer* container;      ///< the container whose element is compared
    int* keyResult;               ///< out: 0 when both sides have equal keys
    int* orderResult;             ///< out: the full order of key/dat against element
    const KvVIterator* iterator;  ///< supplied key and dat, or null
    const void* key;              ///< the key searched for
    const void* dat;              ///< its data part; may be null
    const void* element;          ///< the stored element
    KvVParameter* parameter;      ///< the caller's parameter, or null
};

/// Builds an element in a new entry from a source's key and dat; returns a
/// status. The default copies elementSize bytes from key (-2999 when key is
/// null).
using KvCopyFunction = int (*)(KvVContainer* container, void* element, const KvVIterator* source,
                               const void* key, const void* dat, KvVParameter* parameter);
/// Releases what an element holds when it leaves the container (deletion,
/// Clear, a failed insertion, the container's destruction).
using KvDestroyFunction = void (*)(KvVContainer* container, void* element);
/// Compares a key with an element into the block's results; a negative status
/// aborts the calling operation and is passed up. The default calls
/// everything equal.
using KvCompareFunction = int (*)(KvCompareArgs* args);
/// The key of an element, with *status set. The default returns the element
/// itself.
using KvKeyFunction = const void* (*)(KvVContainer* container, const void* element, int* status,
                                      KvVParameter* parameter);
/// The data part of an element, with *status set. The default has none: null
/// with KvCONT_NO_DAT.
using KvDatFunction = KvKeyFunction;
/// The flags of an element, with *status set. The default returns 1.
using KvFlagsFunction = unsigned int (*)(KvVContainer* container, const void* element, int* status,
                                         KvVParameter* parameter);

// ---------------------------------------------------------------------------
// Parameter, container and iterator interfaces
// ---------------------------------------------------------------------------

/// A small object that callers thread through every operation; the
/// containers hand it on to the element functions.
class KVBASICS_API KvVParameter {
public:
    /// entry null, flags 0.
    KvVParameter();
    /// Copies entry only; flags start at zero.
    KvVParameter(const KvVParameter& other);
    /// Copies entry; flags stay as they are.
    KvVParameter& operator=(const KvVParameter& other);
    virtual ~KvVParameter();
    /// The family's type code: KvCONT_TYPE_BASE here.
    virtual unsigned short GetType() const;

    const void* entry;  ///< an entry of some container (KvCONT_CONTINUE)
    uint64_t flags;     ///< caller flags; the differ uses bit 0
};

/// A container of fixed-size elements. The container owns its elements; how
/// one is built, destroyed, compared and viewed as key, data part and flags is
/// decided by the table of element functions, which the client may replace.
/// The base class implements nothing: its operations return -2999.
class KVBASICS_API KvVContainer {
public:
    /// Element size 0 and flags 0.
    KvVContainer();
    /// An empty container with the default element functions.
    KvVContainer(unsigned int elementSize, unsigned short flags);
    virtual ~KvVContainer();

    /// A copy of the container into target; null here (no container of this
    /// library makes one).
    virtual KvVContainer* Clone(KvVContainer* target) const;
    /// The family's type code: KvCONT_TYPE_BASE here.
    virtual unsigned short GetType() const;
    /// Removes every entry; *removedCount (when given) receives how many.
    virtual int Clear(KvTransactionContext* context, unsigned int* removedCount,
                      KvVContainer* other);
    /// Looks for the current key of source (read with p1; compared with p2)
    /// and, when result is given, stands result on what was found. 0 on a hit,
    /// KvCONT_MISSING when nothing is equal.
    virtual int SearchElement(const KvVIterator* source, KvVParameter* p1, unsigned short mode,
                              KvVParameter* p2, KvVIterator* result);
    /// Adds an element built with CopyFunction from the current key and dat of
    /// source; KvCONT_DUPLICATE when the container flags refuse it.
    virtual int InsertElement(const KvVIterator* source, KvVParameter* p1, unsigned short mode,
                              KvVParameter* p2);
    /// Removes the entry that a search for the current key of source selects;
    /// KvCONT_MISSING when there is none.
    virtual int DeleteElement(const KvVIterator* source, KvVParameter* p1, unsigned short mode,
                              KvVParameter* p2);
    /// The element stored in entry; the entry itself here.
    virtual const void* GetElementOfEntry(const void* entry) const;
    /// A new iterator on the heap, owned by the caller; null here or when no
    /// memory is available.
    virtual KvVIterator* CreateIterator(KvTransactionContext* context);

    /// Sets CopyFunction.
    void SetCopyFunction(KvCopyFunction function) { CopyFunction = function; }
    /// Sets DestroyFunction.
    void SetDestroyFunction(KvDestroyFunction function) { DestroyFunction = function; }
    /// Sets CompareFunction.
    void SetCompareFunction(KvCompareFunction function) { CompareFunction = function; }
    /// Sets KeyFunction.
    void SetKeyFunction(KvKeyFunction function) { KeyFunction = function; }
    /// Sets DatFunction.
    void SetDatFunction(KvDatFunction function) { DatFunction = function; }
    /// Sets FlagsFunction.
    void SetFlagsFunction(KvFlagsFunction function) { FlagsFunction = function; }

    uint32_t count;        ///< entries held
    uint32_t elementSize;  ///< bytes per element
    uint16_t flags;        ///< KvCONT_EQUAL_KEYS, KvCONT_DUPLICATES

    KvCopyFunction CopyFunction;        ///< builds an element in a new entry
    KvDestroyFunction DestroyFunction;  ///< null: elements need no destruction
    KvCompareFunction CompareFunction;  ///< orders a key against an element
    KvKeyFunction KeyFunction;          ///< the key of an element
    KvDatFunction DatFunction;          ///< the data part of an element
    KvFlagsFunction FlagsFunction;      ///< the flags of an element

protected:
    /// Copies count, element size, flags and the function table, no entries.
    KvVContainer(const KvVContainer& other);
    KvVContainer& operator=(const KvVContainer&) = delete;
};

/// A cursor over one container. status is the position: 0 on an entry,
/// KvCONT_NO_CONTAINER, KvCONT_BEFORE_FIRST, KvCONT_AFTER_LAST,
/// KvCONT_NO_POSITION, or the error of the last failed move. The iterator
/// never owns its container. The base class cannot move: its moves and
/// updates return -2999.
class KVBASICS_API KvVIterator {
public:
    /// Bound to no container (KvCONT_NO_CONTAINER).
    explicit KvVIterator(KvTransactionContext* context);
    /// Before the first entry of container (KvCONT_NO_CONTAINER when null).
    KvVIterator(KvTransactionContext* context, KvVContainer* container);
    /// Copies the container, the transaction context and the status.
    KvVIterator(const KvVIterator& other);
    /// Copies the container, the transaction context and the status.
    KvVIterator& operator=(const KvVIterator& other);
    /// Binds to container (see SetContainer).
    KvVIterator& operator=(KvVContainer* container);
    virtual ~KvVIterator();

    /// The family's type code: KvCONT_TYPE_BASE here.
    virtual unsigned short GetType() const;
    /// A copy of this iterator: a new one on the heap, owned by the caller,
    /// when target is null, else target itself. Null here.
    virtual KvVIterator* Clone(KvVIterator* target) const;
    /// Stands on the first entry: 0, or KvCONT_BEFORE_FIRST when there is none.
    virtual int First();
    /// Steps to the next entry: 0, or KvCONT_AFTER_LAST past the end.
    virtual int Next();
    /// Steps to the previous entry: 0, or KvCONT_BEFORE_FIRST past the front.
    virtual int Prior();
    /// Stands on the last entry: 0, or KvCONT_AFTER_LAST when there is none.
    virtual int Last();
    /// Compares this iterator's element with the other iterator's key.
    /// keyResult and orderResult then express this element against that key.
    /// Returns a negative position of either iterator unchanged,
    /// KvCONT_NO_POSITION without other, -2999 without a compare function,
    /// else the compare function's status.
    virtual int CompareElement(const KvVIterator* other, KvVParameter* p1, int& keyResult,
                               int& orderResult, KvVParameter* p2) const;
    /// Searches through the iterator; -2999 in every class of this library.
    virtual int SearchElement(const KvVIterator* source, KvVParameter* p1, unsigned short mode,
                              KvVParameter* p2);
    /// Inserts through the iterator; -2999 in every class of this library.
    virtual int InsertElement(const KvVIterator* source, KvVParameter* p1, unsigned short mode,
                              KvVParameter* p2);
    /// Replaces the current element; -2999 in every class of this library.
    virtual int UpdateElement(const KvVIterator* source, KvVParameter* p1, unsigned short mode,
                              KvVParameter* p2);
    /// Removes the current entry and stands on a neighbour.
    virtual int DeleteElement(unsigned short mode, KvVParameter* parameter);
    /// Detaches the iterator from its container; the object stays.
    virtual void Destroy();
    /// The current entry, with status set: null with a negative status off an
    /// entry. Owned by the container.
    virtual const void* GetEntry(int& status, KvVParameter* parameter) const;
    /// Element, key, flags and dat of entry, each through the container
    /// (out-pointers may be null). Returns the status of the last element
    /// function called: KvCONT_NO_DAT with *dat null when there is no data
    /// part, -2999 when a needed function is missing.
    virtual int GetEntryParts(const void* entry, const void** element, const void** key,
                              const void** dat, unsigned int* flags, KvVParameter* parameter) const;
    /// The current element, with status set; null off an entry.
    virtual const void* GetElement(int& status, KvVParameter* parameter) const;
    /// The current element's key through KeyFunction; null with -2999 when
    /// there is no element (whatever GetEntry said) or no KeyFunction.
    virtual const void* GetKey(int& status, KvVParameter* parameter) const;
    /// The current element's data part through DatFunction; null with
    /// KvCONT_NO_DAT when it has none, with -2999 as GetKey.
    virtual const void* GetDat(int& status, KvVParameter* parameter) const;
    /// The current element's flags through FlagsFunction; 0 with -2999 as
    /// GetKey.
    virtual unsigned int GetFlags(int& status, KvVParameter* parameter) const;

    KvVContainer* container;                   ///< the container walked, or null
    KvTransactionContext* transactionContext;  ///< the caller's, handed back only
    int32_t status;                            ///< the position, see the class

protected:
    /// Binds to container: KvCONT_BEFORE_FIRST, or KvCONT_NO_CONTAINER when
    /// it is null. The transaction context stays.
    void SetContainer(KvVContainer* container);
};

// ---------------------------------------------------------------------------
// Entry cache and entry stack
// ---------------------------------------------------------------------------

/// Hands out fixed-size entries carved from large blocks, top slot first, and
/// takes them back without returning memory: clearing a container frees
/// nothing, and refilling it reuses the same blocks. Every block is one 8-byte
/// link word followed by entriesPerBlock slots of entrySize bytes. The cache
/// owns the blocks; Clear, Init and the destructor free them.
class KVBASICS_API KvEntryCache {
public:
    KvEntryCache();  ///< (0, 0, 8): 8-byte entries, 255 per block
    /// An empty cache of that geometry (see Init).
    KvEntryCache(unsigned int entrySize, unsigned int entriesPerBlock, unsigned short alignment);
    /// A new, empty cache of the same geometry; nothing is shared.
    KvEntryCache(const KvEntryCache& other);
    KvEntryCache& operator=(const KvEntryCache&) = delete;
    /// Frees every block; entries still handed out become invalid.
    ~KvEntryCache();

    /// Releases everything, then sets the geometry: entrySize at least 8 and a
    /// multiple of alignment; entriesPerBlock 0 fills about 2 KB per block.
    void Init(unsigned int entrySize, unsigned int entriesPerBlock, unsigned short alignment);

    /// A free or fresh entry; null when no memory is available (the memory
    /// handler has then been called once) or the geometry is zero.
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
    /// Gives one entry back through the free list (its first word becomes the link).
    void PutEntry(void* entry) {
#ifndef KV_ENTRY_CACHE_POISONS
        std::memcpy(entry, &freeList, sizeof freeList);
        freeList = entry;
#else
        PutEntryOutOfLine(entry);
#endif
    }
    /// Undoes the last carving (not a free-list pop) and returns that slot;
    /// null when no block is in use.
    void* UngetEntry();
    /// Takes every entry back at once; blocks become spare, nothing is freed.
    void UngetAllEntries();
    /// UngetAllEntries, then frees the spare blocks.
    void Clear();

    static constexpr unsigned int kLinkSize = 8;  ///< bytes of a block's link word

    void* freeList;            ///< given-back entries, linked through their first word
    void* currentBlock;        ///< newest block in use; blocks linked newest first
    void* oldestBlock;         ///< end of that chain
    uint32_t freeOffset;       ///< payload offset of the slot carved last; 0: none left
    uint32_t entrySize;        ///< bytes per entry after alignment
    void* spareBlocks;         ///< blocks no longer in use, kept for reuse
    uint32_t entriesPerBlock;  ///< slots per block
    uint16_t alignment;        ///< entrySize is a multiple of it

private:
    // The whole of GetEntry and PutEntry, poisoning under AddressSanitizer.
    void* GetEntryOutOfLine();
    void PutEntryOutOfLine(void* entry);
    KVBASICS_LOCAL void* GetEntryFromNewBlock();
    KVBASICS_LOCAL void PoisonInUse();
};

/// A window moving over a caller's ring buffer of fixed-size slots. The enter
/// function is told of every slot that joins the window, the leave function of
/// every slot in it when the stack is destroyed. The buffer stays the
/// caller's; the window only grows.
class KVBASICS_API KvEntryStack {
public:
    /// Told of one slot; either function may be null.
    using SlotFunction = void (*)(KvTransactionContext* context, void* slot);

    /// buffer holds count slots of entrySize bytes (count 0 counts as 1);
    /// the first slot joins the window at once.
    KvEntryStack(KvTransactionContext* context, char* buffer, unsigned short entrySize,
                 unsigned short count, SlotFunction enterFunction, SlotFunction leaveFunction);
    KvEntryStack(const KvEntryStack&) = delete;
    KvEntryStack& operator=(const KvEntryStack&) = delete;
    /// Calls the leave function for every slot of the window.
    ~KvEntryStack();

    /// The slot after (before) the current one, growing the window when
    /// needed; null when the window already covers the ring that way. The
    /// current slot does not move.
    char* GetNextEntry();
    /// The mirror of GetNextEntry.
    char* GetPrevEntry();
    /// Makes slot current when it is a slot inside the window; else null.
    char* SetCurrentEntryWithTest(void* slot);

    KvTransactionContext* transactionContext;  ///< handed to both functions
    char* begin;                               ///< the first slot of the buffer
    char* last;                                ///< the last slot of the buffer
    char* low;                                 ///< where the window starts
    char* current;                             ///< the slot the caller stands on
    char* high;                                ///< where it ends (it may wrap past last)
    uint16_t entrySize;                        ///< bytes per slot
    SlotFunction enterFunction;                ///< called when a slot joins the window
    SlotFunction leaveFunction;                ///< called per slot at destruction
};

// ---------------------------------------------------------------------------
// Red-black tree
// ---------------------------------------------------------------------------

/// A tree node; the element follows at offset 16. The lowest bit of left is
/// the node's colour (1 red, 0 black); nodes are 8-byte aligned.
struct KvRBTreeNode {
    uintptr_t left;       ///< left child with the colour bit
    KvRBTreeNode* right;  ///< right child
};

/// The path from the root to a node: slot 0 is always null, so popping past
/// the root yields null. 63 usable slots bound the height of any tree of fewer
/// than 2^31 nodes.
struct KvRBTreeNodeStack {
    static constexpr int kSlots = 64;  ///< path slots, the null sentinel included

    /// Empties the path down to the sentinel.
    void Reset() {
        path[0] = nullptr;
        top = path;
    }
    /// Pushes node (not checked against kSlots).
    void Push(KvRBTreeNode* node) { *++top = node; }
    /// Returns the top node and steps down, never below the sentinel.
    KvRBTreeNode* Pop() {
        KvRBTreeNode* node = *top;
        if (top != path) --top;
        return node;
    }
    /// The top node; null at the sentinel.
    KvRBTreeNode* Top() const { return *top; }

    KvRBTreeNode* path[kSlots];  ///< slot 0 null, then root to node
    KvRBTreeNode** top;          ///< the top slot
};

/// The parameter of the red-black tree family; it adds nothing to KvVParameter
/// but its type code.
class KVBASICS_API KvRBTreeParameter : public KvVParameter {
public:
    KvRBTreeParameter();
    ~KvRBTreeParameter() override;
    /// KvCONT_TYPE_RBTREE.
    unsigned short GetType() const override;
};

class KvRBTreeIterator;

/// An ordered container of fixed-size elements in a red-black tree without
/// parent pointers: every operation records the path it walks. Nodes come
/// from an entry cache owned by the tree; the tree owns its elements and calls
/// DestroyFunction on each one that leaves. Ascending keys are appended behind
/// the greatest entry with a single compare.
class KVBASICS_API KvRBTree : public KvVContainer {
public:
    KvRBTree();  ///< (0, 0, 0)
    /// flags: KvCONT_EQUAL_KEYS, KvCONT_DUPLICATES; entriesPerBlock 0 lets the
    /// entry cache choose.
    KvRBTree(unsigned int elementSize, unsigned short flags, unsigned int entriesPerBlock);
    /// Destroys every element; the cache frees the nodes.
    ~KvRBTree() override;
    KvRBTree(const KvRBTree&) = delete;
    KvRBTree& operator=(const KvRBTree&) = delete;

    /// KvCONT_TYPE_RBTREE.
    unsigned short GetType() const override;
    /// Destroys every element and recycles the nodes in the cache (nothing is
    /// freed). Counts as a change for iterators. context and other are not
    /// used; returns 0.
    int Clear(KvTransactionContext* context, unsigned int* removedCount,
              KvVContainer* other) override;
    /// Searches for the source's key (read with p1; p2 goes to the element
    /// functions). 0 on a hit: result stands on the first equal entry (the
    /// last with KvCONT_LAST_EQUAL). With KvCONT_CONTINUE and p2's entry in
    /// the run of equal entries, 0 with result on the entry behind the run,
    /// or behind the last entry when none follows. KvCONT_MISSING when nothing
    /// is equal: result stands on the neighbour asked for by KvCONT_OR_LOWER
    /// or KvCONT_OR_HIGHER (before the first or behind the last entry when
    /// there is none), else on no position. result, when given, must be a
    /// KvRBTreeIterator of this tree: -2999 for another class, -520 for another
    /// container.
    int SearchElement(const KvVIterator* source, KvVParameter* p1, unsigned short mode,
                      KvVParameter* p2, KvVIterator* result) override;
    /// Builds an element with CopyFunction from the source's key and dat and
    /// inserts it behind the entries equal to it (in front with
    /// KvCONT_BEFORE_EQUAL). KvCONT_DUPLICATE when the flags refuse it,
    /// KvCONT_NO_MEMORY without a node; a failed copy gives the node back
    /// without destroying the element.
    int InsertElement(const KvVIterator* source, KvVParameter* p1, unsigned short mode,
                      KvVParameter* p2) override;
    /// Removes the first (with KvCONT_LAST_EQUAL the last) entry equal to the
    /// source's key, destroying its element; KvCONT_MISSING leaves the tree
    /// unchanged.
    int DeleteElement(const KvVIterator* source, KvVParameter* p1, unsigned short mode,
                      KvVParameter* p2) override;
    /// The node's element, kNodeHeader bytes in; null for null.
    const void* GetElementOfEntry(const void* entry) const override;
    /// A new KvRBTreeIterator on the heap, owned by the caller; null when no
    /// memory is available.
    KvVIterator* CreateIterator(KvTransactionContext* context) override;

    /// A fresh red node whose element the caller fills in before InsertEntry;
    /// null with status KvCONT_NO_MEMORY when no memory is available.
    void* CreateEntry(int& status);
    /// Links a node made by CreateEntry; the tree owns it from here on, also
    /// when the insertion fails (its element is then destroyed and the node
    /// recycled). KvCONT_DUPLICATE when the flags refuse it, KvCONT_NO_MEMORY
    /// when the tree holds 2^31 - 1 nodes, -2999 without a compare function.
    int InsertEntry(const void* entry, unsigned short mode, KvVParameter* parameter);
    /// Removes exactly this node; KvCONT_MISSING when it is not in the tree.
    int DeleteEntry(const void* entry, unsigned short mode, KvVParameter* parameter);
    /// 0 when every invariant holds, else -1 red root, -2 red node with a red
    /// child, -3 unequal black heights, -4 child out of order, -5 wrong count.
    /// A compare error is returned unchanged.
    int CheckTree(KvVParameter* parameter);
    /// Does nothing: the tree has no dump.
    void OutTree(KvVParameter* parameter);

    /// The root node; null when the tree is empty.
    const KvRBTreeNode* Root() const { return root; }
    /// The node of the greatest element; null when the tree is empty.
    const KvRBTreeNode* MaxEntry() const { return maxEntry; }
    /// The cache the nodes come from.
    const KvEntryCache& Cache() const { return cache; }
    /// 1 once an insertion met an equal key; reset by Clear.
    uint16_t HasEqualKeys() const { return hasEqualKeys; }
    /// Advanced by every insertion, deletion and Clear.
    uint32_t ChangeCount() const { return changeCount; }

    static constexpr size_t kNodeHeader = sizeof(KvRBTreeNode);  ///< bytes in front of the element

protected:
    KvRBTreeNode* root;      ///< null when empty; always black
    KvRBTreeNode* maxEntry;  ///< the greatest node while not empty
    KvEntryCache cache;      ///< nodes of kNodeHeader + elementSize bytes
    uint16_t hasEqualKeys;   ///< see HasEqualKeys
    uint32_t changeCount;    ///< see ChangeCount

private:
    friend class KvRBTreeIterator;
    struct Compare;

    KVBASICS_LOCAL int ReadSource(const KvVIterator* source, KvVParameter* p1, const void*& key,
                                  const void*& dat) const;
    KVBASICS_LOCAL int ReadNode(const KvRBTreeNode* node, KvVParameter* parameter, const void*& key,
                                const void*& dat);
    KVBASICS_LOCAL KvRBTreeNode* Search(Compare& compare, unsigned short mode,
                                        KvVParameter* parameter, KvRBTreeNodeStack& path,
                                        KvRBTreeNode**& matchSlot, int& status);
    KVBASICS_LOCAL int Locate(const KvRBTreeNode* node, unsigned short mode,
                              KvVParameter* parameter, KvRBTreeNodeStack& path);
    KVBASICS_LOCAL void Remove(KvRBTreeNodeStack& path, KvRBTreeNode** matchSlot);
    KVBASICS_LOCAL void FreeNode(KvRBTreeNode* node);
    KVBASICS_LOCAL void DestroyElements(KvRBTreeNode* node);
    KVBASICS_LOCAL int CheckSubtree(Compare& compare, const KvRBTreeNode* node,
                                    KvVParameter* parameter, uint32_t& nodes, int& blackHeight);
};

/// The cursor of KvRBTree. It carries the path from the root to its node and a
/// snapshot of the tree's change count, and refuses to move or read once the
/// tree was changed by anybody else (KvCONT_CHANGED). Bound (through the base
/// class) to a container that is not a KvRBTree, every move and read returns
/// -2999 and changes nothing.
class KVBASICS_API KvRBTreeIterator : public KvVIterator, protected KvRBTreeNodeStack {
public:
    /// Before the first entry of tree (KvCONT_NO_CONTAINER when null).
    KvRBTreeIterator(KvRBTree* tree, KvTransactionContext* context);
    ~KvRBTreeIterator() override;

    /// KvCONT_TYPE_RBTREE.
    unsigned short GetType() const override;
    /// Without target a heap copy (null when no memory is available); else
    /// target, which must be a KvRBTreeIterator bound to a red-black tree
    /// (null otherwise, target unchanged).
    KvVIterator* Clone(KvVIterator* target) const override;
    /// 0, KvCONT_BEFORE_FIRST on an empty tree, KvCONT_NO_CONTAINER unbound.
    int First() override;
    /// 0 on the next entry, KvCONT_AFTER_LAST past the end; from
    /// KvCONT_BEFORE_FIRST onto the first entry. KvCONT_CHANGED after a change
    /// of the tree (status KvCONT_NO_POSITION); in any other state the status
    /// is returned and nothing moves.
    int Next() override;
    /// The mirror of Next: KvCONT_BEFORE_FIRST past the front; from
    /// KvCONT_AFTER_LAST onto the last entry.
    int Prior() override;
    /// 0, KvCONT_AFTER_LAST on an empty tree, KvCONT_NO_CONTAINER unbound.
    int Last() override;
    /// Removes the current entry and stands on its successor (its predecessor
    /// with KvCONT_BACKWARD). KvCONT_CHANGED after a change of the tree;
    /// KvCONT_AFTER_LAST (KvCONT_BEFORE_FIRST) when no neighbour is left;
    /// KvCONT_INTERNAL_ERROR when the neighbour is not found again.
    int DeleteElement(unsigned short mode, KvVParameter* parameter) override;
    /// The current node; null with KvCONT_CHANGED after a change of the tree.
    const void* GetEntry(int& status, KvVParameter* parameter) const override;

    uint32_t changeSnapshot;  ///< the tree's change count when positioned

protected:
    /// Copies the base fields, the used part of the path and the snapshot.
    KvRBTreeIterator(const KvRBTreeIterator& other);
    /// Copies the base fields, the used part of the path and the snapshot.
    KvRBTreeIterator& operator=(const KvRBTreeIterator& other);

private:
    friend class KvRBTree;
    // First (last false) or Last (last true).
    KVBASICS_LOCAL int StandAtEnd(bool last);
};

// ---------------------------------------------------------------------------
// Compact red-black tree
// ---------------------------------------------------------------------------

/// A node of KvRBTree1: the tree links of KvRBTreeNode, then the neighbours in
/// key order, then the element at offset 32.
struct KvRBTree1Node : KvRBTreeNode {
    KvRBTree1Node* prev;  ///< next smaller key; null for the first node
    KvRBTree1Node* next;  ///< next greater key; null for the last node

    /// The element.
    void* Element() { return reinterpret_cast<char*>(this) + kElementOffset; }
    /// The element.
    const void* Element() const { return reinterpret_cast<const char*>(this) + kElementOffset; }

    static constexpr size_t kElementOffset = 32;  ///< bytes in front of the element
};

/// The path of a search, from the root to the future parent or the node found;
/// owned by the caller, filled by SearchNode and consumed by AddNode.
struct KvRBTree1NodeStack : KvRBTreeNodeStack {
    /// The top node; null at the sentinel.
    KvRBTree1Node* TopNode() const { return static_cast<KvRBTree1Node*>(Top()); }
};

/// A lean red-black tree outside the container framework: a derived class
/// builds elements from keys and compares keys with elements. Finding a key or
/// else adding it costs one descent (SearchNode, then AddNode on its path);
/// nodes are threaded in key order through prev/next. Entries are never
/// removed one by one; Clear recycles all of them. Elements are never
/// destroyed, so they should own nothing.
class KVBASICS_API KvRBTree1 {
public:
    KvRBTree1();  ///< (0, 0)
    /// entriesPerBlock 0 lets the entry cache choose.
    KvRBTree1(unsigned int elementSize, unsigned int entriesPerBlock);
    /// Frees the node memory; no element is visited.
    virtual ~KvRBTree1();
    KvRBTree1(const KvRBTree1&) = delete;
    KvRBTree1& operator=(const KvRBTree1&) = delete;

    /// Builds the element of a new node from the key.
    virtual void InitElement(const void* key, void* element) = 0;
    /// Negative when the key sorts before the element, 0 when equal, positive
    /// when after.
    virtual int CompareKey(const void* key, const void* element) const = 0;

    /// The node equal to the key, or null; either way stack holds the path
    /// walked and result the side (negative: left) where a new node belongs.
    /// A key above the last one is placed with a single compare.
    KvRBTree1Node* SearchNode(const void* key, KvRBTree1NodeStack& stack, int& result) const;
    /// Adds the key where the SearchNode that returned null for it left stack
    /// and result. Null, with the tree unchanged, when no memory is available,
    /// the path no longer leads from the root to a free place of this tree
    /// (another node was added since), or the tree holds 2^31 - 1 nodes
    /// already (the most a path of 63 nodes can serve).
    KvRBTree1Node* AddNode(const void* key, KvRBTree1NodeStack& stack, int result);
    /// Empties the tree; the node memory stays in the cache for reuse and no
    /// element is visited.
    void Clear();

    uint32_t Count() const { return count; }              ///< nodes in the tree
    uint32_t ElementSize() const { return elementSize; }  ///< bytes per element
    KvRBTree1Node* Root() const { return root; }          ///< null when empty
    KvRBTree1Node* First() const { return first; }        ///< smallest key; null when empty
    KvRBTree1Node* Last() const { return last; }          ///< greatest key; null when empty
    const KvEntryCache& Cache() const { return cache; }   ///< the cache the nodes come from

protected:
    uint32_t count;        ///< nodes in the tree
    uint32_t elementSize;  ///< bytes per element
    KvRBTree1Node* root;   ///< null when empty
    KvRBTree1Node* first;  ///< smallest key; null when empty
    KvRBTree1Node* last;   ///< greatest key; null when empty
    KvEntryCache cache;    ///< nodes of kElementOffset + elementSize bytes
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

/// Turns one caller-held key, with an optional data part and flags, into a
/// container whose iterator serves as the source of searches, insertions and
/// deletions. The container points at the caller's memory and owns nothing;
/// the key is its only entry and element. Its count is 1 while a key is set.
class KVBASICS_API KvOneEntryContainer : public KvVContainer {
public:
    /// Installs the key, data and flags functions, then SetEntry.
    explicit KvOneEntryContainer(const void* key = nullptr, const void* dat = nullptr,
                                 unsigned int entryFlags = 0, unsigned int elementSize = 0);
    ~KvOneEntryContainer() override;
    KvOneEntryContainer(const KvOneEntryContainer&) = delete;
    KvOneEntryContainer& operator=(const KvOneEntryContainer&) = delete;

    /// KvCONT_TYPE_ONE_ENTRY.
    unsigned short GetType() const override;
    /// Finds nothing: KvCONT_MISSING, and result (when given) stands behind
    /// the last entry.
    int SearchElement(const KvVIterator* source, KvVParameter* p1, unsigned short mode,
                      KvVParameter* p2, KvVIterator* result) override;

    /// Points the container at a key (null: empty), a data part (null: none)
    /// and the entry's flags.
    void SetEntry(const void* key, const void* dat = nullptr, unsigned int entryFlags = 0);
    /// Points the container at a key (null: empty); dat and flags stay.
    void SetKey(const void* key);
    /// Points the container at a data part (null: none).
    void SetDat(const void* newDat) { dat = newDat; }
    /// Sets the entry's flags.
    void SetEntryFlags(unsigned int newFlags) { entryFlags = newFlags; }

    const void* Key() const { return key; }             ///< the key, null when empty
    const void* Dat() const { return dat; }             ///< the data part, or null
    uint32_t EntryFlags() const { return entryFlags; }  ///< the entry's flags

protected:
    const void* key;      ///< the entry, null when empty
    const void* dat;      ///< the data part, or null
    uint32_t entryFlags;  ///< the entry's flags

private:
    friend class KvOneEntryIterator;
    KVBASICS_LOCAL void SetFunctions();
};

/// The cursor of KvOneEntryContainer. Its status is its position: before the
/// entry (KvCONT_BEFORE_FIRST), on it (0) or behind it (KvCONT_AFTER_LAST).
class KVBASICS_API KvOneEntryIterator : public KvVIterator {
public:
    /// On the entry when the container has a key, else before it;
    /// KvCONT_NO_CONTAINER without container.
    KvOneEntryIterator(KvOneEntryContainer* container, KvTransactionContext* context);
    ~KvOneEntryIterator() override;

    /// KvCONT_TYPE_ONE_ENTRY.
    unsigned short GetType() const override;
    /// 0 when a key is set, else KvCONT_BEFORE_FIRST.
    int First() override;
    /// From before the entry onto it (also while no key is set, so that a
    /// key set afterwards is read), from the entry behind it; other positions
    /// stay.
    int Next() override;
    /// From behind the entry onto it (as Next, whether a key is set or not),
    /// from the entry before it; other positions stay.
    int Prior() override;
    /// 0 when a key is set, else KvCONT_AFTER_LAST.
    int Last() override;
    /// The key; null with a negative status off the entry (KvCONT_NO_POSITION
    /// when the key was taken away meanwhile).
    const void* GetEntry(int& status, KvVParameter* parameter) const override;
    /// The key, as GetEntry.
    const void* GetKey(int& status, KvVParameter* parameter) const override;
    /// The data part; null with KvCONT_NO_DAT when there is none.
    const void* GetDat(int& status, KvVParameter* parameter) const override;

private:
    KVBASICS_LOCAL const KvOneEntryContainer* Own() const;
};

// ---------------------------------------------------------------------------
// Container differ and memory-file container
// ---------------------------------------------------------------------------

/// The client's list of elements that did not match positionally, each with a
/// balance: -1 per unmatched element of the first sequence, +1 per one of the
/// second. The differ calls First and Next to walk it; SearchElement to stand
/// on the entry matching a source's element (KvCONT_MISSING or
/// KvCONT_MISSING_2 when there is none); InsertElement to add a source's
/// element with balance -1 when bit 0 of the second parameter's flags is 0,
/// +1 when it is 1; DeleteElement to remove the current entry (ending off
/// the list, KvCONT_BEFORE_FIRST or KvCONT_AFTER_LAST, counts as success).
class KVBASICS_API KvDiffListIteratorInterface : public KvVIterator {
public:
    /// Bound to container, without a transaction context.
    explicit KvDiffListIteratorInterface(KvVContainer* container);
    ~KvDiffListIteratorInterface() override;

    /// The balance of the entry the iterator stands on; null off an entry
    /// (the differ then stops with KvCONT_NO_POSITION).
    virtual int32_t* GetBalance() = 0;
};

/// Compares two ordered sequences and delivers what is only in the first into
/// one container and what is only in the second into another, also when equal
/// elements stand at different places. Elements that do not match
/// positionally are parked in the client's diff list, where a later
/// occurrence on the other side cancels them. The InsertElement of every
/// delivery gets a parameter whose flags bit 0 is 0 for an element of the
/// first sequence and 1 for one of the second.
class KVBASICS_API KvVContainerDiffer {
public:
    /// diffList null.
    KvVContainerDiffer();

    /// 1 when anything was delivered, 0 when the sequences hold the same
    /// elements, else the first negative status met (what was delivered until
    /// then stays). Both iterators must be bound to containers, whose counts
    /// bound the positional compares: at most the larger count times ratio of
    /// them may mismatch (at least 10 for a small positive product; a ratio of
    /// 0 sends every element through the diff list). KvCONT_NO_CONTAINER when
    /// an argument or diffList is missing.
    int Diff(KvVIterator* first, KvVIterator* second, KvVContainer* onlyFirst,
             KvVContainer* onlySecond, double ratio);

    KvDiffListIteratorInterface* diffList;  ///< set by the client before Diff; not owned
};

/// Fixed-size records stored back to back in a memory file, from the file's
/// position at construction on. The container's element size is the record
/// size and its count the number of records; it owns neither file nor records.
/// One iteration at a time: the record index and the file position are shared
/// by all iterators of the container.
class KVBASICS_API KvMemFileContainer : public KvVContainer {
public:
    /// recordCount records of recordSize bytes from file's current position.
    KvMemFileContainer(MemFile* file, unsigned int recordSize, unsigned int recordCount);
    ~KvMemFileContainer() override;
    KvMemFileContainer(const KvMemFileContainer&) = delete;
    KvMemFileContainer& operator=(const KvMemFileContainer&) = delete;

    MemFile* File() const { return file; }                    ///< the file, not owned
    uint32_t StartPosition() const { return startPosition; }  ///< offset of the first record
    uint32_t Index() const { return index; }                  ///< the current record's number

protected:
    MemFile* file;           ///< the file, not owned
    uint32_t startPosition;  ///< offset of the first record
    uint32_t index;          ///< the current record's number, shared by all iterators

private:
    friend class KvMemFileIterator;
};

/// A forward-only cursor over a KvMemFileContainer; its entries are the
/// records inside the file's buffer (valid until the file is resized).
/// Prior and Last return -2999.
class KVBASICS_API KvMemFileIterator : public KvVIterator {
public:
    /// Before the first record, without a transaction context.
    explicit KvMemFileIterator(KvMemFileContainer* container);
    ~KvMemFileIterator() override;

    /// 0 on the first record; KvCONT_BEFORE_FIRST when there is none or it
    /// does not lie wholly in the file.
    int First() override;
    /// 0 on the next record; KvCONT_AFTER_LAST behind the count or the file's
    /// end. From KvCONT_BEFORE_FIRST it goes to the first record.
    int Next() override;
    /// Byte-wise comparison of this record with the other iterator's entry.
    /// Both results get the memcmp value; -2999 when the other's elements are
    /// shorter than a record.
    int CompareElement(const KvVIterator* other, KvVParameter* p1, int& keyResult, int& orderResult,
                       KvVParameter* p2) const override;
    /// The current record, also when the status is negative (null before
    /// positioning or when no whole record was there).
    const void* GetEntry(int& status, KvVParameter* parameter) const override;
    /// The current record, as GetEntry.
    const void* GetKey(int& status, KvVParameter* parameter) const override;

    const unsigned char* currentRecord;  ///< inside the file's buffer, or null

private:
    KVBASICS_LOCAL KvMemFileContainer* Own() const;
    KVBASICS_LOCAL const unsigned char* RecordAt(KvMemFileContainer& own,
                                                 uint64_t recordIndex) const;
};

#endif  // KVBASICS_KVCONTAINER_H
