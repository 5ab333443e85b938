/// \file
/// Dynamic arrays of fixed-size elements: the abstract array with its ordered
/// operations (binary search, sorted insertion, quicksort), the bounded
/// contiguous list, and the list stored in a memory file with its sorted form.
#ifndef KVBASICS_KVARRAY_H
#define KVBASICS_KVARRAY_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include "kvexport.h"
#include "memfile.h"

// Result codes of the array operations.

/// Success.
inline constexpr int KV_ARRAY_OK = 0;
/// A block could not be grown, or a contiguous list is at its maximum count.
inline constexpr int KV_ARRAY_NO_MEMORY = -501;
/// Index out of range; for Search, the key was not found.
inline constexpr int KV_ARRAY_INDEX = -502;
/// Element size 0 given to KvCList::Init.
inline constexpr int KV_ARRAY_ELEMENT_SIZE = -503;
/// Copy from an array of another kind (or from none).
inline constexpr int KV_ARRAY_WRONG_KIND = -506;
/// Merge is not supported.
inline constexpr int KV_ARRAY_NOT_SUPPORTED = -507;
/// SortedInsert found an equal element and duplicates are not allowed.
inline constexpr int KV_ARRAY_DUPLICATE = -508;
/// Sort could not get its swap buffer.
inline constexpr int KV_ARRAY_SORT_NO_MEMORY = -2030;
/// No compare function is set.
inline constexpr int KV_ARRAY_NO_COMPARE = -2106;

// Array kinds as GetType reports them. Copy works only within one kind.

inline constexpr uint16_t KV_ARRAY_KIND_CONTIGUOUS = 1;  ///< KvCList
inline constexpr uint16_t KV_ARRAY_KIND_MEMFILE = 2;     ///< KvLList and SortList

class KvVArray;

/// Orders two elements: negative when a comes before b, 0 when equal, positive
/// when a comes after b. The array is passed so that one function can serve
/// several arrays. Search keys have the layout of an element.
using KvArrayCompareFunction = int (*)(KvVArray const* array, void* a, void* b);

/// The abstract array. Concrete arrays supply the storage operations; the
/// ordered operations are implemented here once, on top of Element and Insert.
/// The order of the virtual operations is part of the interface: keep it.
class KVBASICS_API KvVArray {
public:
    /// An empty array of elements of elementSize bytes, without a compare
    /// function.
    explicit KvVArray(uint16_t elementSize = 0);
    /// Copies the element size, count and compare function (not the storage).
    KvVArray(KvVArray const& other);
    virtual ~KvVArray();

    /// The array's kind: KV_ARRAY_KIND_CONTIGUOUS or KV_ARRAY_KIND_MEMFILE.
    virtual uint16_t GetType() const = 0;
    /// Most elements the array can ever hold; 0xFFFFFFFF means no limit.
    virtual uint32_t GetMaxCount() const;
    /// Elements that fit without growing.
    virtual uint32_t GetCurMaxCount() const = 0;
    /// Empties the array, sets the element size and reserves room for count.
    virtual int Init(uint16_t elementSize, uint32_t count) = 0;
    /// Sets the reserved room.
    virtual int SizeSet(uint32_t count) = 0;
    /// Removes every element.
    virtual void Clear() = 0;
    /// Copies element index to out.
    virtual int Get(uint32_t index, void* out) const = 0;
    /// Address of element index, null when out of range.
    virtual void* Element(uint32_t index) const = 0;
    /// Opens a slot at index (bytes unset) and returns its address, or null.
    virtual void* PrepareInsert(uint32_t index) = 0;
    /// Inserts before index (index = count appends); a null element leaves the
    /// new slot's bytes unset.
    virtual int Insert(uint32_t index, void const* element) = 0;
    /// Overwrites element index with element (null leaves it alone); 0, or -502
    /// when index is not below the count.
    virtual int Update(uint32_t index, void const* element) = 0;
    /// Removes element index; shrink lets the array give back room.
    virtual int Delete(uint32_t index, int shrink) = 0;
    /// Replaces the contents with those of an array of the same kind.
    virtual int Copy(KvVArray const* source) = 0;

    /// Inserts key at its sorted position. An equal element gives -508 unless
    /// allowDuplicates is set, in which case the new element goes right after
    /// the equal element that the search found. With copyKey 0 the new slot is
    /// left for the caller to fill through Element(*index).
    virtual int SortedInsert(void const* key, uint32_t* index, int allowDuplicates, int copyKey);
    /// Binary search. Returns 0 when found, -502 when not; *index receives the
    /// position of the element found or the position where key would go. out
    /// receives the element when found. Among equal elements the first one
    /// probed is found.
    virtual int Search(void const* key, uint32_t* index, void* out) const;
    /// Compares key with element index: 0 (element copied to out), the compare
    /// function's own non-zero result, or -502 past the end.
    virtual int SearchAt(uint32_t index, void* key, void* out) const;
    /// Quicksort in place with the first element of each range as pivot; not
    /// stable. mode is not used.
    virtual int Sort(uint16_t mode);
    /// Not supported: -507.
    virtual int Merge(KvVArray const* other, uint16_t mode);

    uint32_t GetCount() const { return count_; }              ///< elements in the array
    uint16_t GetElementSize() const { return elementSize_; }  ///< bytes of one element
    /// The compare function of the ordered operations, or null.
    KvArrayCompareFunction GetCompareFunction() const { return compare_; }
    /// Sets the compare function (null unsets it).
    void SetCompareFunction(KvArrayCompareFunction compare) { compare_ = compare; }

protected:
    /// Copies the element size, count and compare function.
    KvVArray& operator=(KvVArray const& other) = default;

    /// Search over elements that lie back to back from `elements`: the same
    /// probes and results, without a virtual call per probe.
    int SearchContiguous(void const* key, uint32_t* index, void* out,
                         unsigned char const* elements) const;

    /// Copies one element into the free slot at the end of the array (no
    /// stored element overlaps it). Elements of 4 and 8 bytes are copied
    /// without a call.
    // (GCC may warn about the 8-byte branch where an inlined caller hands in
    // a smaller object: that branch runs only for 8-byte elements.)
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
#pragma GCC diagnostic ignored "-Wstringop-overread"
#endif
    static void AppendElement(void* to, void const* from, size_t size) {
        if (size == 8) [[likely]] {
            uint64_t v;
            std::memcpy(&v, from, 8);
            std::memcpy(to, &v, 8);
        } else if (size == 4) {
            uint32_t v;
            std::memcpy(&v, from, 4);
            std::memcpy(to, &v, 4);
        } else {
            std::memcpy(to, from, size);
        }
    }
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

    KvArrayCompareFunction compare_;  ///< null until set
    uint32_t count_;                  ///< elements in the array
    uint16_t elementSize_;            ///< bytes of one element

private:
    KVBASICS_LOCAL int Compare(void const* a, void const* b) const;
    KVBASICS_LOCAL void Swap(uint32_t a, uint32_t b, void* buffer);
    KVBASICS_LOCAL uint32_t Partition(uint32_t lo, uint32_t hi, void* buffer);
    KVBASICS_LOCAL void QuickSort(uint32_t lo, uint32_t hi, void* buffer);
};

/// The contiguous list: elements back to back in one heap block, at most
/// 32767 of them. The block doubles as it fills (clamped at the bound) and can
/// shrink by halves on deletion. Every refused heap block has called the
/// memory handler before -501 is returned, and leaves the list as it was.
class KVBASICS_API KvCList : public KvVArray {
public:
    /// The most elements a contiguous list holds.
    static constexpr uint16_t kMaxCount = 32767;

    /// Runs Init(elementSize, capacity); *result receives its code.
    explicit KvCList(uint16_t elementSize = 0, int capacity = 0, int* result = nullptr);
    /// An empty list with other's element size and compare function, then
    /// Copy(&other).
    KvCList(KvCList const& other);
    KvCList& operator=(KvCList const&) = delete;
    ~KvCList() override;

    uint16_t GetType() const override;
    uint32_t GetMaxCount() const override;
    uint32_t GetCurMaxCount() const override;
    /// Empties the list and reserves room for min(capacity, 32767) elements.
    /// Element size 0 gives a list that refuses every insert, and -503.
    int Init(uint16_t elementSize, uint32_t capacity) override;
    int SizeSet(uint32_t capacity) override;
    void Clear() override;
    int Get(uint32_t index, void* out) const override;
    /// Valid until the next operation that grows, shrinks or clears the block.
    void* Element(uint32_t index) const override;
    void* PrepareInsert(uint32_t index) override;
    /// element may be an element of this list.
    int Insert(uint32_t index, void const* element) override {
        // Appending into room needs neither growth nor moves: an element of
        // the list itself stays where it is.
        const uint32_t count = count_;
        if (index == count && count < capacity_) {
            // The count is stored before the element, whose bytes may alias
            // it as far as the compiler knows, so it is read once.
            unsigned char* slot = block_ + Bytes(count);
            count_ = count + 1;
            if (element != nullptr) AppendElement(slot, element, elementSize_);
            return KV_ARRAY_OK;
        }
        return InsertSlow(index, element);
    }
    int Update(uint32_t index, void const* element) override;
    int Delete(uint32_t index, int shrink) override;
    /// The base's search, over the block.
    int Search(void const* key, uint32_t* index, void* out) const override;
    /// Takes the source's element size, maximum count, capacity and elements;
    /// the compare function stays. Only from another KvCList.
    int Copy(KvVArray const* source) override;

private:
    size_t Bytes(uint32_t slots) const { return size_t{slots} * elementSize_; }
    KVBASICS_LOCAL void FreeBlock();
    int InsertSlow(uint32_t index, void const* element);

    uint16_t maxCount_ = 0;
    uint16_t capacity_ = 0;
    unsigned char* block_ = nullptr;
};

/// The memory-file list: elements back to back in a MemFile that the list
/// owns, with no maximum count. Room grows one element at a time (the file's
/// segments keep reallocations rare) and shrinks in steps of ten. A refused
/// heap block has called the memory handler once, and the list is as it was.
class KVBASICS_API KvLList : public KvVArray {
public:
    /// Reserves room for capacity elements; *result is 0, or -501 when the
    /// room could not be had (the list is then empty, capacity 0).
    explicit KvLList(uint16_t elementSize = 4, uint32_t capacity = 0, int* result = nullptr);
    /// Its own storage, then Copy(&other); the compare function comes along.
    KvLList(KvLList const& other);
    KvLList& operator=(KvLList const&) = delete;
    ~KvLList() override;

    /// Lists live on the library's heap, so that the list CreateCopyAndClear
    /// returns goes back there with delete. A refused block calls the memory
    /// handler once, then throws std::bad_alloc.
    static void* operator new(size_t size);
    /// As above, but a refused block gives null, without the memory handler
    /// (whose default ends the process) and without an exception.
    static void* operator new(size_t size, const std::nothrow_t&) noexcept;
    /// Placement new: builds the list at place.
    static void* operator new(size_t, void* place) noexcept { return place; }
    /// Gives the list's memory back to the library's heap.
    static void operator delete(void* block) noexcept;
    /// The same, for a list whose nothrow construction threw.
    static void operator delete(void* block, const std::nothrow_t&) noexcept;
    /// Placement delete: nothing to give back.
    static void operator delete(void*, void*) noexcept {}

    uint16_t GetType() const override;
    uint32_t GetCurMaxCount() const override;
    /// Empties the list and reserves room for capacity elements (element size
    /// 0 is accepted). -501 when the room could not be had: the list is then
    /// empty with the new element size and no room.
    int Init(uint16_t elementSize, uint32_t capacity) override;
    /// -502 below the count; -10001 when the heap refused (nothing changed).
    int SizeSet(uint32_t capacity) override;
    void Clear() override;
    int Get(uint32_t index, void* out) const override;
    /// Valid until the storage is next resized.
    void* Element(uint32_t index) const override;
    void* PrepareInsert(uint32_t index) override;
    /// element may be an element of this list.
    int Insert(uint32_t index, void const* element) override {
        // Appending where the file's block has room: the room grows by one
        // element through the logical size alone, as SizeSet would do for a
        // size within the block, and nothing moves. Fields are read once and
        // stored before the element, whose bytes may alias them as far as
        // the compiler knows.
        const uint32_t count = count_;
        MemFile* const file = file_;
        if (index == count && count < UINT32_MAX && file != nullptr &&
            file->GetBuffer() != nullptr) {
            const uint64_t size = elementSize_;
            const uint64_t end = count * size;
            bool room = count < capacity_;
            if (!room && count == capacity_ && end + size <= INT32_MAX &&
                file->SetLogicalSize(static_cast<int>(end + size)) == 0) {
                capacity_ = count + 1;
                room = true;
            }
            if (room) {
                count_ = count + 1;
                if (element != nullptr && size != 0)
                    AppendElement(file->GetBuffer() + end, element, size);
                return KV_ARRAY_OK;
            }
        }
        return InsertSlow(index, element);
    }
    int Update(uint32_t index, void const* element) override;
    int Delete(uint32_t index, int shrink) override;
    /// The base's search, over the stored bytes.
    int Search(void const* key, uint32_t* index, void* out) const override;
    /// Takes the source's element size, count, capacity and stored bytes; the
    /// compare function stays. Only from another memory-file list.
    int Copy(KvVArray const* source) override;

    /// Slot index of the storage read as an array of pointers, whatever the
    /// element size (meant for lists of 8-byte pointer elements); null when
    /// index >= count or the slot lies beyond the stored bytes.
    void** PtrElement(uint32_t index) const;
    /// Appends n elements read from source at its current position, which
    /// stays where it was. When the source holds fewer bytes, the last
    /// elements' bytes are unset. -501 when the room could not be had or the
    /// source has nothing left at its position.
    int Import(uint32_t n, MemFile* source);
    /// Hands the contents (elements, room, compare function) to a new list of
    /// this list's class (a SortList yields a SortList) without copying, and
    /// leaves this list empty. The caller deletes the result; null when the
    /// heap refused (this list is then unchanged).
    KvLList* CreateCopyAndClear();

private:
    KVBASICS_LOCAL int Resize(uint64_t bytes);
    KVBASICS_LOCAL void Shrink(uint64_t bytes);
    int InsertSlow(uint32_t index, void const* element);
    uint64_t Bytes(uint64_t slots) const { return slots * elementSize_; }
    KVBASICS_LOCAL uint64_t StoredBytes() const;
    KVBASICS_LOCAL unsigned char* Storage() const;

    uint32_t capacity_ = 0;
    MemFile* file_ = nullptr;  ///< created when the first room is reserved
};

/// A memory-file list that is given its compare function when it is built.
class KVBASICS_API SortList : public KvLList {
public:
    /// An empty list with compare set, then KvLList::Init(elementSize,
    /// capacity).
    explicit SortList(uint16_t elementSize = 0, KvArrayCompareFunction compare = nullptr,
                      uint32_t capacity = 0);
    /// As KvLList's copy constructor.
    SortList(SortList const& other) = default;

    using KvLList::Init;
    /// Sets the compare function, then KvLList::Init.
    int Init(uint16_t elementSize, KvArrayCompareFunction compare, uint32_t capacity);
};

#endif  // KVBASICS_KVARRAY_H
