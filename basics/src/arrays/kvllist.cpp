// The memory-file list: elements back to back in a memory file that the list
// owns. Room grows one element at a time and shrinks in steps of ten.
#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "kvarray.h"
#include "kvmemory.h"
#include "memfile.h"
#include "platform/heap.h"

namespace {

// Most bytes a memory file holds: its sizes are signed 32-bit.
constexpr uint64_t kMaxBytes = INT32_MAX;
// Room given back at once when elements are deleted.
constexpr uint32_t kShrinkStep = 10;

// An empty memory file of one-byte segments; null after the memory handler
// was called when the heap refused.
MemFile* NewFile() {
    void* place = tq::platform::HeapAllocate(sizeof(MemFile));
    if (place == nullptr) {
        KvCallMemoryHandler(sizeof(MemFile));
        return nullptr;
    }
    return ::new (place) MemFile(0, 0);
}

void DeleteFile(MemFile* file) {
    if (file == nullptr) return;
    file->~MemFile();
    tq::platform::HeapFree(file);
}

}  // namespace

void* KvLList::operator new(size_t size) {
    void* block = tq::platform::HeapAllocate(size);
    if (block == nullptr) {
        KvCallMemoryHandler(size);
        throw std::bad_alloc();
    }
    return block;
}

// The caller asked to be told by null: the memory handler may throw, which a
// noexcept function cannot pass on.
void* KvLList::operator new(size_t size, const std::nothrow_t&) noexcept {
    return tq::platform::HeapAllocate(size);
}

void KvLList::operator delete(void* block) noexcept {
    tq::platform::HeapFree(block);
}

// GCOVR_EXCL_START: called only when a constructor throws inside a nothrow
// new, and the lists' constructors do not throw
void KvLList::operator delete(void* block, const std::nothrow_t&) noexcept {
    tq::platform::HeapFree(block);
}
// GCOVR_EXCL_STOP

// The memory file is made when the first room is reserved, so an empty list
// costs no heap and a list that lost its storage to CreateCopyAndClear works
// on as a new one.
KvLList::KvLList(uint16_t elementSize, uint32_t capacity, int* result) : KvVArray(elementSize) {
    int r = KV_ARRAY_OK;
    if (Resize(Bytes(capacity)) == 0) {
        capacity_ = capacity;
    } else {
        r = KV_ARRAY_NO_MEMORY;
    }
    if (result != nullptr) *result = r;
}

// Starts empty, so that a refused copy leaves a usable list.
KvLList::KvLList(KvLList const& other) : KvVArray(other) {
    count_ = 0;
    KvLList::Copy(&other);
}

KvLList::~KvLList() {
    DeleteFile(file_);
    file_ = nullptr;
}

uint64_t KvLList::StoredBytes() const {
    return file_ != nullptr ? static_cast<uint64_t>(file_->GetLogicalSize()) : 0;
}

unsigned char* KvLList::Storage() const {
    return file_ != nullptr ? file_->GetBuffer() : nullptr;
}

// Sets the stored bytes (the file's logical size). A refused block leaves the
// file as it was: a refused shrink has taken the smaller logical size over the
// larger block it kept, and gets its old size back.
int KvLList::Resize(uint64_t bytes) {
    if (bytes > kMaxBytes) return KV_MEMFILE_NO_MEMORY;  // beyond any memory file
    if (file_ == nullptr) {
        if (bytes == 0) return 0;
        file_ = NewFile();
        if (file_ == nullptr) return KV_MEMFILE_NO_MEMORY;
    }
    const int32_t old = file_->GetLogicalSize();
    const int r = file_->SizeSet(static_cast<int>(bytes), 0);
    if (r != 0) file_->SetLogicalSize(old);
    return r;
}

// Gives back room. A refused smaller block is no failure: the file keeps the
// larger one, which holds everything.
void KvLList::Shrink(uint64_t bytes) {
    if (file_ != nullptr && bytes <= StoredBytes()) file_->SizeSet(static_cast<int>(bytes), 0);
}

uint16_t KvLList::GetType() const {
    return KV_ARRAY_KIND_MEMFILE;
}

uint32_t KvLList::GetCurMaxCount() const {
    return capacity_;
}

int KvLList::Init(uint16_t elementSize, uint32_t capacity) {
    const bool resize = elementSize != 0 && (capacity_ != 0 || capacity != 0);
    count_ = 0;
    elementSize_ = elementSize;
    if (resize) {
        const uint64_t bytes = Bytes(capacity);
        if (bytes <= StoredBytes()) {
            Shrink(bytes);
        } else if (Resize(bytes) != 0) {
            // The room was refused: an empty list without room.
            Shrink(0);
            capacity_ = 0;
            return KV_ARRAY_NO_MEMORY;
        }
    }
    capacity_ = capacity;
    return KV_ARRAY_OK;
}

int KvLList::SizeSet(uint32_t capacity) {
    if (capacity < count_) return KV_ARRAY_INDEX;
    if (capacity == capacity_) return KV_ARRAY_OK;
    const int r = Resize(Bytes(capacity));
    if (r == 0) capacity_ = capacity;
    return r;
}

void KvLList::Clear() {
    Init(elementSize_, 0);
}

int KvLList::Get(uint32_t index, void* out) const {
    if (index >= count_) return KV_ARRAY_INDEX;
    void const* element = Element(index);
    if (out != nullptr && element != nullptr) std::memmove(out, element, elementSize_);
    return KV_ARRAY_OK;
}

void* KvLList::Element(uint32_t index) const {
    if (index >= count_ || file_ == nullptr) return nullptr;
    const uint64_t offset = uint64_t{index} * elementSize_;
    if (offset + elementSize_ > static_cast<uint64_t>(file_->GetLogicalSize())) return nullptr;
    unsigned char* storage = file_->GetBuffer();
    return storage != nullptr ? storage + offset : nullptr;
}

void** KvLList::PtrElement(uint32_t index) const {
    // Slots that lie beyond the stored bytes (elements narrower than a
    // pointer) are refused rather than handed out.
    constexpr uint64_t kSlot = sizeof(void*);
    if (index >= count_ || (uint64_t{index} + 1) * kSlot > StoredBytes()) return nullptr;
    return reinterpret_cast<void**>(Storage() + index * kSlot);
}

void* KvLList::PrepareInsert(uint32_t index) {
    if (Insert(index, nullptr) != KV_ARRAY_OK) return nullptr;
    return Element(index);
}

// Everything but the append into room, which Insert does inline.
[[gnu::noinline]] int KvLList::InsertSlow(uint32_t index, void const* element) {
    if (index > count_) return KV_ARRAY_INDEX;
    const uint64_t slotOffset = Bytes(index);
    const uint64_t end = Bytes(count_);

    // An element of this very list moves when the storage grows and again
    // when the tail opens the slot: keep its offset instead of its address.
    bool inside = false;
    uint64_t offset = 0;
    if (element != nullptr && Storage() != nullptr && elementSize_ != 0) {
        const uintptr_t at = reinterpret_cast<uintptr_t>(element);
        const uintptr_t base = reinterpret_cast<uintptr_t>(Storage());
        if (at >= base && at - base <= end && end - (at - base) >= elementSize_) {
            inside = true;
            offset = at - base;
        }
    }

    if (count_ >= capacity_) {
        const uint64_t capacity = uint64_t{capacity_} + 1;
        if (capacity > UINT32_MAX || Resize(Bytes(capacity)) != 0) return KV_ARRAY_NO_MEMORY;
        capacity_ = static_cast<uint32_t>(capacity);
    }

    if (elementSize_ != 0) {
        unsigned char* storage = Storage();
        unsigned char* slot = storage + slotOffset;
        if (index < count_) std::memmove(slot + elementSize_, slot, end - slotOffset);
        if (inside) {
            // Bytes before the slot stayed where they were; the rest moved up
            // by one element. Neither part overlaps the slot.
            const uint64_t before =
                offset < slotOffset ? std::min<uint64_t>(elementSize_, slotOffset - offset) : 0;
            std::memcpy(slot, storage + offset, before);
            std::memcpy(slot + before, storage + offset + before + elementSize_,
                        elementSize_ - before);
        } else if (element != nullptr) {
            std::memcpy(slot, element, elementSize_);
        }
    }
    ++count_;
    return KV_ARRAY_OK;
}

int KvLList::Search(void const* key, uint32_t* index, void* out) const {
    return SearchContiguous(key, index, out, Storage());
}

int KvLList::Update(uint32_t index, void const* element) {
    if (index >= count_) return KV_ARRAY_INDEX;
    void* slot = Element(index);
    if (element != nullptr && slot != nullptr) std::memmove(slot, element, elementSize_);
    return KV_ARRAY_OK;
}

int KvLList::Delete(uint32_t index, int shrink) {
    if (index >= count_) return KV_ARRAY_INDEX;
    --count_;
    if (elementSize_ != 0 && index < count_) {
        unsigned char* slot = Storage() + Bytes(index);
        std::memmove(slot, slot + elementSize_, Bytes(count_ - index));
    }
    if (shrink != 0) {
        const uint32_t reduced = capacity_ - std::min(capacity_, kShrinkStep);
        if (count_ <= reduced) {
            capacity_ = reduced;
            Shrink(Bytes(reduced));
        }
    }
    return KV_ARRAY_OK;
}

int KvLList::Copy(KvVArray const* source) {
    if (source == nullptr || source->GetType() != KV_ARRAY_KIND_MEMFILE) return KV_ARRAY_WRONG_KIND;
    auto const* other = dynamic_cast<KvLList const*>(source);
    if (other == nullptr) return KV_ARRAY_WRONG_KIND;
    if (other == this) return KV_ARRAY_OK;
    // The source's stored bytes, room included; the own file ends where the
    // source's does.
    const uint64_t stored = other->StoredBytes();
    if (Resize(std::max(other->Bytes(other->count_), stored)) != 0) return KV_ARRAY_NO_MEMORY;
    if (stored != 0) std::memcpy(Storage(), other->Storage(), stored);
    elementSize_ = other->elementSize_;
    count_ = other->count_;
    capacity_ = other->capacity_;
    return KV_ARRAY_OK;
}

int KvLList::Import(uint32_t n, MemFile* source) {
    if (n == 0) return KV_ARRAY_OK;
    if (source == nullptr) return KV_ARRAY_NO_MEMORY;
    // Checked before anything grows, so that a refused import changes nothing.
    const int64_t position = source->GetPosition();
    const int64_t available = int64_t{source->GetLogicalSize()} - position;
    if (position < 0 || available <= 0) return KV_ARRAY_NO_MEMORY;
    const uint64_t length = std::min<uint64_t>(Bytes(n), static_cast<uint64_t>(available));

    if (uint64_t{count_} + n > capacity_) {
        const uint64_t capacity = uint64_t{count_} + capacity_ + n;
        if (capacity > UINT32_MAX || Resize(Bytes(capacity)) != 0) return KV_ARRAY_NO_MEMORY;
        capacity_ = static_cast<uint32_t>(capacity);
    }
    if (length != 0) {
        unsigned int clipped = static_cast<unsigned int>(length);
        unsigned char* from = source->Seek(0, 1, &clipped, 0);
        unsigned char* to = file_->Seek(static_cast<int>(Bytes(count_)), 0, &clipped, 0);
        if (from == nullptr || to == nullptr) return KV_ARRAY_NO_MEMORY;
        std::memmove(to, from, clipped);
    }
    count_ += n;
    return KV_ARRAY_OK;
}

KvLList* KvLList::CreateCopyAndClear() {
    // The new list has no storage yet; it takes this one's by exchange.
    // GCOVR_EXCL_BR_START: the cast's test of a null this
    const bool sorted = dynamic_cast<SortList*>(this) != nullptr;
    // GCOVR_EXCL_BR_STOP
    KvLList* copy = sorted ? new (std::nothrow) SortList(elementSize_, compare_, 0)
                           : new (std::nothrow) KvLList(elementSize_, 0);
    if (copy == nullptr) {
        KvCallMemoryHandler(sorted ? sizeof(SortList) : sizeof(KvLList));
        return nullptr;
    }
    copy->compare_ = compare_;
    copy->count_ = count_;
    copy->capacity_ = capacity_;
    std::swap(copy->file_, file_);
    capacity_ = 0;
    Init(elementSize_, 0);
    return copy;
}
