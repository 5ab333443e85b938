// The contiguous list: elements back to back in one heap block of at most
// 32767 slots.
#include <algorithm>
#include <cstring>

#include "kvarray.h"
#include "kvmemory.h"
#include "platform/heap.h"

KvCList::KvCList(uint16_t elementSize, int capacity, int* result) : KvVArray(elementSize) {
    // A negative capacity converts to a large one and is clamped to the bound.
    int r = KvCList::Init(elementSize, static_cast<uint32_t>(capacity));
    if (result != nullptr) *result = r;
}

// The copy starts empty; it takes the bound of its source so that it accepts
// inserts even when the copy below fails.
KvCList::KvCList(KvCList const& other) : KvVArray(other), maxCount_(other.maxCount_) {
    count_ = 0;
    KvCList::Copy(&other);
}

KvCList::~KvCList() {
    FreeBlock();
}

void KvCList::FreeBlock() {
    tq::platform::HeapFree(block_);
    block_ = nullptr;
    capacity_ = 0;
}

uint16_t KvCList::GetType() const {
    return KV_ARRAY_KIND_CONTIGUOUS;
}

uint32_t KvCList::GetMaxCount() const {
    return maxCount_;
}

uint32_t KvCList::GetCurMaxCount() const {
    return capacity_;
}

int KvCList::Init(uint16_t elementSize, uint32_t capacity) {
    // A block held from before is given back rather than lost.
    FreeBlock();
    elementSize_ = elementSize;
    count_ = 0;
    if (elementSize == 0) {
        maxCount_ = 0;
        return KV_ARRAY_ELEMENT_SIZE;
    }
    maxCount_ = kMaxCount;
    capacity = std::min<uint32_t>(capacity, kMaxCount);
    if (capacity == 0) return KV_ARRAY_OK;
    size_t bytes = Bytes(capacity);
    void* block = tq::platform::HeapAllocate(bytes);
    if (block == nullptr) {
        KvCallMemoryHandler(bytes);
        return KV_ARRAY_NO_MEMORY;
    }
    block_ = static_cast<unsigned char*>(block);
    capacity_ = static_cast<uint16_t>(capacity);
    return KV_ARRAY_OK;
}

int KvCList::SizeSet(uint32_t capacity) {
    if (capacity < count_) return KV_ARRAY_INDEX;
    if (capacity == capacity_) return KV_ARRAY_OK;
    if (capacity > maxCount_) return KV_ARRAY_NO_MEMORY;
    void* block = block_;
    if (mmResize(&block, Bytes(capacity)) != 0) return KV_ARRAY_NO_MEMORY;
    block_ = static_cast<unsigned char*>(block);
    capacity_ = static_cast<uint16_t>(capacity);
    return KV_ARRAY_OK;
}

void KvCList::Clear() {
    FreeBlock();
    Init(elementSize_, 0);
}

int KvCList::Get(uint32_t index, void* out) const {
    if (index >= count_) return KV_ARRAY_INDEX;
    if (out != nullptr) std::memmove(out, block_ + Bytes(index), elementSize_);
    return KV_ARRAY_OK;
}

void* KvCList::Element(uint32_t index) const {
    if (index >= count_) return nullptr;
    return block_ + Bytes(index);
}

void* KvCList::PrepareInsert(uint32_t index) {
    if (Insert(index, nullptr) != KV_ARRAY_OK || index >= count_) return nullptr;
    return block_ + Bytes(index);
}

// Everything but the append into room, which Insert does inline.
[[gnu::noinline]] int KvCList::InsertSlow(uint32_t index, void const* element) {
    if (index > count_ || index >= maxCount_) return KV_ARRAY_INDEX;

    // An element of this very list moves when the block grows and again when
    // the tail opens the slot: keep its offset instead of its address.
    bool inside = false;
    size_t offset = 0;
    if (element != nullptr && block_ != nullptr) {
        uintptr_t at = reinterpret_cast<uintptr_t>(element);
        uintptr_t base = reinterpret_cast<uintptr_t>(block_);
        if (at >= base && at - base <= Bytes(count_) &&
            Bytes(count_) - (at - base) >= elementSize_) {
            inside = true;
            offset = at - base;
        }
    }

    if (count_ >= capacity_) {
        if (count_ == maxCount_) return KV_ARRAY_NO_MEMORY;
        uint32_t increment = capacity_ != 0 ? capacity_ : 1;
        while (capacity_ + increment > maxCount_)
            increment >>= 1;
        void* block = block_;
        if (mmResize(&block, Bytes(capacity_ + increment)) != 0) return KV_ARRAY_NO_MEMORY;
        block_ = static_cast<unsigned char*>(block);
        capacity_ = static_cast<uint16_t>(capacity_ + increment);
    }

    const size_t slotOffset = Bytes(index);
    unsigned char* slot = block_ + slotOffset;
    if (index < count_) std::memmove(slot + elementSize_, slot, Bytes(count_ - index));
    if (inside) {
        // Bytes before the slot stayed where they were; the rest moved up by
        // one element. Neither part overlaps the slot.
        size_t before =
            offset < slotOffset ? std::min<size_t>(elementSize_, slotOffset - offset) : 0;
        std::memcpy(slot, block_ + offset, before);
        std::memcpy(slot + before, block_ + offset + before + elementSize_, elementSize_ - before);
    } else if (element != nullptr) {
        std::memcpy(slot, element, elementSize_);
    }
    ++count_;
    return KV_ARRAY_OK;
}

int KvCList::Search(void const* key, uint32_t* index, void* out) const {
    return SearchContiguous(key, index, out, block_);
}

int KvCList::Update(uint32_t index, void const* element) {
    if (index >= count_) return KV_ARRAY_INDEX;
    if (element != nullptr) std::memmove(block_ + Bytes(index), element, elementSize_);
    return KV_ARRAY_OK;
}

int KvCList::Delete(uint32_t index, int shrink) {
    if (index >= count_) return KV_ARRAY_INDEX;
    --count_;
    unsigned char* slot = block_ + Bytes(index);
    std::memmove(slot, slot + elementSize_, Bytes(count_ - index));
    if (shrink != 0 && count_ <= capacity_ / 2u) {
        capacity_ = static_cast<uint16_t>(capacity_ / 2u);
        // A refused shrink keeps the larger block, which still holds
        // everything; a capacity of 0 frees the block.
        void* block = block_;
        mmResize(&block, Bytes(capacity_));
        block_ = static_cast<unsigned char*>(block);
    }
    return KV_ARRAY_OK;
}

int KvCList::Copy(KvVArray const* source) {
    if (source == nullptr || source->GetType() != KV_ARRAY_KIND_CONTIGUOUS)
        return KV_ARRAY_WRONG_KIND;
    auto const* other = dynamic_cast<KvCList const*>(source);
    if (other == nullptr) return KV_ARRAY_WRONG_KIND;
    if (other == this) return KV_ARRAY_OK;
    void* block = block_;
    if (mmResize(&block, other->Bytes(other->capacity_)) != 0) return KV_ARRAY_NO_MEMORY;
    block_ = static_cast<unsigned char*>(block);
    elementSize_ = other->elementSize_;
    capacity_ = other->capacity_;
    count_ = other->count_;
    // The bound goes with the element size (0 exactly when it is 0), so the
    // copy accepts inserts as its source does.
    maxCount_ = other->maxCount_;
    if (capacity_ != 0) std::memcpy(block_, other->block_, Bytes(capacity_));
    return KV_ARRAY_OK;
}
