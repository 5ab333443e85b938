/// \file
/// Small structures of the basics library: intrusive linked lists, the node
/// pool and the bit string.
#ifndef KVBASICS_KVLIST_H
#define KVBASICS_KVLIST_H

#include <cstdint>

#include "kvexport.h"

// ---------------------------------------------------------------------------
// Intrusive linked lists
// ---------------------------------------------------------------------------

class KvLinkedList;

/// An element of a KvLinkedList; applications derive their element classes
/// from it. The links belong to the item's place in a list, not to its value:
/// a copy starts unlinked and an assignment keeps the target's links.
class KVBASICS_API KvLinkedListItem {
public:
    KvLinkedListItem() : previous_(nullptr), next_(nullptr) {}
    /// A copy starts unlinked.
    KvLinkedListItem(const KvLinkedListItem&) : previous_(nullptr), next_(nullptr) {}
    /// Keeps the target's links.
    KvLinkedListItem& operator=(const KvLinkedListItem&) { return *this; }
    /// Unlinks the item (see UnLink).
    virtual ~KvLinkedListItem();

    /// Joins the neighbours to each other and clears both links. The owning
    /// list's first and last are not updated: take the first or last item out
    /// through the list's own operations.
    void UnLink();

    /// The item before this one, or null.
    KvLinkedListItem* Previous() const { return previous_; }
    /// The item after this one, or null.
    KvLinkedListItem* Next() const { return next_; }

private:
    friend class KvLinkedList;
    KvLinkedListItem* previous_;  ///< null for the first or an unlinked item
    KvLinkedListItem* next_;      ///< null for the last or an unlinked item
};

/// A doubly linked list that owns its items: they are created with new and the
/// list's delete operations, Clear and the destructor destroy them. Items
/// handed in must be unlinked.
class KVBASICS_API KvLinkedList {
public:
    KvLinkedList() : first_(nullptr), last_(nullptr) {}
    KvLinkedList(const KvLinkedList&) = delete;
    KvLinkedList& operator=(const KvLinkedList&) = delete;
    /// Destroys the items still in the list.
    virtual ~KvLinkedList();

    /// Links item (taking ownership) in front of the first item.
    void InsertFirst(KvLinkedListItem* item);
    /// Links item (taking ownership) behind the last item.
    void Append(KvLinkedListItem* item);
    /// Takes the first item out and keeps it alive (the caller owns it);
    /// nothing when empty.
    void RemoveFirst();
    /// The same for the last item.
    void RemoveLast();
    /// Takes the first item out and destroys it; nothing when empty.
    void DeleteFirst();
    /// The same for the last item.
    void DeleteLast();
    /// Destroys every item, first to last.
    void Clear();
    /// Takes item out of the list and keeps it alive: 0, or -502 when item is
    /// not in the list (checked by walking the list).
    int RemoveItem(KvLinkedListItem* item);
    /// RemoveItem, then destroys item when it was found.
    int DeleteItem(KvLinkedListItem* item);

    /// The first item, or null when the list is empty.
    KvLinkedListItem* First() const { return first_; }
    /// The last item, or null when the list is empty.
    KvLinkedListItem* Last() const { return last_; }

private:
    KvLinkedListItem* first_;  ///< null exactly when last_ is null
    KvLinkedListItem* last_;
};

/// An element of a KvSimpleLinkedList. As with KvLinkedListItem, a copy starts
/// unlinked and an assignment keeps the target's link.
class KVBASICS_API KvSimpleLinkedListItem {
public:
    KvSimpleLinkedListItem() : next_(nullptr) {}
    /// A copy starts unlinked.
    KvSimpleLinkedListItem(const KvSimpleLinkedListItem&) : next_(nullptr) {}
    /// Keeps the target's link.
    KvSimpleLinkedListItem& operator=(const KvSimpleLinkedListItem&) { return *this; }

    /// The next item, or null.
    KvSimpleLinkedListItem* Next() const { return next_; }

private:
    friend class KvSimpleLinkedList;
    KvSimpleLinkedListItem* next_;  ///< null at the end and for an item in no list
};

/// A singly linked list that never destroys its items. Items handed in must be
/// unlinked (next null).
class KVBASICS_API KvSimpleLinkedList {
public:
    KvSimpleLinkedList() : head_(nullptr) {}
    KvSimpleLinkedList(const KvSimpleLinkedList&) = delete;
    KvSimpleLinkedList& operator=(const KvSimpleLinkedList&) = delete;
    /// Leaves the items alone.
    ~KvSimpleLinkedList() = default;

    /// Links item in front of the head; the caller keeps ownership.
    void InsertFirst(KvSimpleLinkedListItem* item);
    /// Walks to the end of the list.
    void Append(KvSimpleLinkedListItem* item);
    /// Takes the head out: returns it with its link cleared, or null when the
    /// list is empty.
    KvSimpleLinkedListItem* RemoveFirst();
    /// The same for the last item.
    KvSimpleLinkedListItem* RemoveLast();
    /// The same for item; null when item is not in the list.
    KvSimpleLinkedListItem* RemoveItem(KvSimpleLinkedListItem* item);

    /// The first item, or null when the list is empty.
    KvSimpleLinkedListItem* Head() const { return head_; }

private:
    KvSimpleLinkedListItem* head_;
};

// ---------------------------------------------------------------------------
// Node pool
// ---------------------------------------------------------------------------

/// Hands out nodes of one size, carved from buffers of about 4096 bytes
/// (max(1, 4096 / node size) nodes each), and takes them back onto a free list
/// that is served last in, first out before any fresh node. The free list keeps
/// its links outside the nodes, so a freed node's bytes survive until the node
/// is handed out again. Memory comes from the library's heap: a refused block
/// calls the memory handler once (see mmKvSetHandler) and the operation leaves
/// the pool, its counters included, as it was.
class KVBASICS_API KvMemPool {
public:
    /// A node size of 0 is taken as 1, so that every node is a distinct address.
    explicit KvMemPool(uint32_t nodeSize);
    KvMemPool(const KvMemPool&) = delete;
    KvMemPool& operator=(const KvMemPool&) = delete;
    /// Releases what DeallocateBuffers releases.
    ~KvMemPool();

    /// Adds a buffer and makes its first node the current one.
    void AddNewBuffer();
    /// A node from the free list, else the next node of the newest buffer, else
    /// the first node of a new buffer; null when the heap refused that buffer.
    void* GetNode();
    /// Puts node on the free list; its bytes are not touched. A null node is
    /// ignored and not counted; so is a node whose free record the heap
    /// refused, which stays out of the pool until DeallocateBuffers.
    void PutNode(void* node);
    /// Releases every buffer and the free list; every node handed out becomes
    /// invalid. The node size and the counters are kept.
    void DeallocateBuffers();

    uint32_t NodeSize() const { return nodeSize_; }              ///< bytes of one node
    uint32_t BuffersAdded() const { return buffersAdded_; }      ///< buffers allocated so far
    uint32_t BuffersFreed() const { return buffersFreed_; }      ///< buffers released so far
    uint32_t NodesTaken() const { return nodesTaken_; }          ///< GetNode calls
    uint32_t NodesGivenBack() const { return nodesGivenBack_; }  ///< non-null PutNode calls

private:
    struct Record;  ///< (next record, buffer or node)

    KVBASICS_LOCAL bool AddBuffer();  ///< AddNewBuffer; false when the heap refused

    Record* buffers_;  ///< every buffer added, newest first
    Record* free_;     ///< nodes given back, last given back first
    char* current_;    ///< the node last carved from the newest buffer
    char* last_;       ///< the last node slot of the newest buffer
    uint32_t nodeSize_;
    uint32_t buffersAdded_;
    uint32_t buffersFreed_;
    uint32_t nodesTaken_;
    uint32_t nodesGivenBack_;
};

// ---------------------------------------------------------------------------
// Bit string
// ---------------------------------------------------------------------------

/// A fixed-length string of bits with a running count of the bits set. Bit i is
/// the bit of value 1 << (i % 8) in byte i / 8. The storage has Length() / 8 + 1
/// bytes; the bits beyond Length() are spare bits, which only SetAll sets.
///
/// Results: 0 success; -2005 position or range outside the string; -1 from the
/// area tests when the range is not entirely clear (set) as required.
class KVBASICS_API _KvBitString {
public:
    /// All bits clear.
    explicit _KvBitString(unsigned int length);
    _KvBitString(const _KvBitString&) = delete;
    _KvBitString& operator=(const _KvBitString&) = delete;
    ~_KvBitString();

    /// The number of bits.
    unsigned int Length() const { return length_; }
    /// The number of bits set among bits 0 .. Length() - 1.
    unsigned int GetNum() const { return setCount_; }
    /// The storage, Length() / 8 + 1 bytes.
    const unsigned char* Bits() const { return bits_; }

    /// Sets bit i; 0 or -2005.
    int Set(unsigned int i);
    /// Clears bit i; 0 or -2005.
    int Reset(unsigned int i);
    /// value = the bit masked in place: 1 << (i % 8) when set, 0 when clear.
    int Get(unsigned int i, int& value) const;
    /// Inverts bit i; previous = 1 when it was set, 0 when it was clear.
    int Flip(unsigned int i, int& previous);
    /// Sets every storage byte to 0xFF, spare bits included.
    int SetAll();
    /// Clears every storage byte; 0.
    int ResetAll();

    /// Sets bits start .. start + count - 1 if all of them are clear. When one
    /// is set, offset = its distance from start, the result is -1 and nothing
    /// changes. A count of 0 succeeds while start <= Length().
    int TestAndSetArea(unsigned int start, unsigned int count, unsigned int& offset);
    /// The mirror image: clears the range if all of it is set.
    int TestAndResetArea(unsigned int start, unsigned int count, unsigned int& offset);
    /// position = the first bit at or after start that is set (value != 0) or
    /// clear (value == 0); when there is none, position = Length() and -2005.
    int Find(unsigned int start, int value, unsigned int& position) const;

private:
    unsigned char* bits_;
    unsigned int length_;
    unsigned int setCount_;
};

#endif  // KVBASICS_KVLIST_H
