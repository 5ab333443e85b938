// The abstract array: search, sorted insertion and quicksort, written once
// on top of the storage operations of the concrete arrays.
#include <algorithm>
#include <cstring>

#include "kvarray.h"
#include "platform/heap.h"

KvVArray::KvVArray(uint16_t elementSize)
    : compare_(nullptr), count_(0), elementSize_(elementSize) {}

KvVArray::KvVArray(KvVArray const& other) = default;

KvVArray::~KvVArray() {
    // Leave a recognisable corpse for code that uses a destroyed array.
    compare_ = nullptr;
    count_ = UINT32_MAX;
    elementSize_ = UINT16_MAX;
}

uint32_t KvVArray::GetMaxCount() const {
    return UINT32_MAX;
}

int KvVArray::Compare(void const* a, void const* b) const {
    return compare_(this, const_cast<void*>(a), const_cast<void*>(b));
}

int KvVArray::SortedInsert(void const* key, uint32_t* index, int allowDuplicates, int copyKey) {
    uint32_t local = 0;
    uint32_t* position = index != nullptr ? index : &local;
    int result = Search(key, position, nullptr);
    if (result == KV_ARRAY_NO_COMPARE) return result;
    if (result == KV_ARRAY_OK) {
        if (allowDuplicates == 0) return KV_ARRAY_DUPLICATE;
        ++*position;
    }
    return Insert(*position, copyKey != 0 ? key : nullptr);
}

namespace {

// Binary search by halving: the probe at the middle of lo .. hi decides which
// half goes on, until a probe compares equal or the range is empty.
// elementAt(i) gives the address of element i. (The bounds move by a branch:
// a processor that guesses it fetches the next probe early, which pays more
// than a branch-free update that waits for every comparison.)
template <typename ElementAt>
int SearchWith(KvVArray const* array, KvArrayCompareFunction compare, uint32_t count,
               void const* key, uint32_t* index, void* out, ElementAt elementAt) {
    if (compare == nullptr) return KV_ARRAY_NO_COMPARE;
    if (index != nullptr) *index = 0;
    // Signed 64-bit bounds: hi may drop below lo (and below 0) without wrapping.
    int64_t lo = 0;
    int64_t hi = int64_t{count} - 1;
    if (hi < 0) return KV_ARRAY_INDEX;

    void* const probeKey = const_cast<void*>(key);
    int64_t mid = 0;
    int r = 0;
    int result = KV_ARRAY_INDEX;
    for (;;) {
        mid = (lo + hi) >> 1;
        r = compare(array, probeKey, elementAt(static_cast<uint32_t>(mid)));
        if (r == 0) {
            result = KV_ARRAY_OK;
            break;
        }
        if (r < 0) {
            hi = mid - 1;
        } else {
            lo = mid + 1;
        }
        if (lo > hi) break;
    }
    // Not found after a last probe that ordered before key: key goes after it.
    if (r > 0) ++mid;
    if (index != nullptr) *index = static_cast<uint32_t>(mid);
    if (out != nullptr && result == KV_ARRAY_OK) {
        std::memmove(out, elementAt(static_cast<uint32_t>(mid)), array->GetElementSize());
    }
    return result;
}

}  // namespace

int KvVArray::Search(void const* key, uint32_t* index, void* out) const {
    return SearchWith(this, compare_, count_, key, index, out,
                      [this](uint32_t i) { return Element(i); });
}

int KvVArray::SearchContiguous(void const* key, uint32_t* index, void* out,
                               unsigned char const* elements) const {
    const size_t size = elementSize_;
    return SearchWith(this, compare_, count_, key, index, out, [elements, size](uint32_t i) {
        return const_cast<unsigned char*>(elements) + size * i;
    });
}

int KvVArray::SearchAt(uint32_t index, void* key, void* out) const {
    if (compare_ == nullptr) return KV_ARRAY_NO_COMPARE;
    if (index >= count_) return KV_ARRAY_INDEX;
    void* element = Element(index);
    int r = Compare(key, element);
    if (r != 0) return r;
    if (out != nullptr) std::memmove(out, element, elementSize_);
    return KV_ARRAY_OK;
}

void KvVArray::Swap(uint32_t a, uint32_t b, void* buffer) {
    if (a == b) return;
    void* pa = Element(a);
    void* pb = Element(b);
    std::memcpy(buffer, pa, elementSize_);
    std::memcpy(pa, pb, elementSize_);
    std::memcpy(pb, buffer, elementSize_);
}

// Partitions lo .. hi (lo < hi) around the element at lo and returns the
// pivot's final position. The element arrangement this produces is relied on
// by callers and stored data: do not change the scheme.
uint32_t KvVArray::Partition(uint32_t lo, uint32_t hi, void* buffer) {
    void const* pivot = Element(lo);
    uint32_t i = lo;
    uint32_t j = hi;
    for (;;) {
        if (Compare(Element(i), pivot) <= 0) {
            while (i < hi) {
                ++i;
                if (Compare(Element(i), pivot) > 0) break;
            }
        }
        if (Compare(Element(j), pivot) > 0) {
            while (j > lo) {
                --j;
                if (Compare(Element(j), pivot) <= 0) break;
            }
        }
        if (i >= j) break;
        Swap(i, j, buffer);
    }
    Swap(lo, j, buffer);
    return j;
}

// The two sides of a partition are independent, so sorting them in either
// order gives the same arrangement. Recursing into the smaller side and
// looping on the larger keeps the stack depth below log2(count).
void KvVArray::QuickSort(uint32_t lo, uint32_t hi, void* buffer) {
    while (lo < hi) {
        uint32_t p = Partition(lo, hi, buffer);
        if (p - lo < hi - p) {
            if (p > lo) QuickSort(lo, p - 1, buffer);
            lo = p + 1;
        } else {
            if (p < hi) QuickSort(p + 1, hi, buffer);
            if (p == lo) break;
            hi = p - 1;
        }
    }
}

int KvVArray::Sort(uint16_t /*mode*/) {
    if (compare_ == nullptr) return KV_ARRAY_NO_COMPARE;
    // The swap buffer; a refusal is reported without calling the memory
    // handler.
    void* buffer = tq::platform::HeapAllocate(std::max<size_t>(elementSize_, 1));
    if (buffer == nullptr) return KV_ARRAY_SORT_NO_MEMORY;
    if (count_ > 1) QuickSort(0, count_ - 1, buffer);
    tq::platform::HeapFree(buffer);
    return KV_ARRAY_OK;
}

int KvVArray::Merge(KvVArray const* /*other*/, uint16_t /*mode*/) {
    return KV_ARRAY_NOT_SUPPORTED;
}
