// MemQueue: a byte queue over a memory file.
#include "memfile.h"

MemQueue::MemQueue(unsigned short compact) : MemFile(0, 8), head(0), compact(compact) {}

// A copy whose block the heap refused is an empty queue.
MemQueue::MemQueue(const MemQueue& other)
    : MemFile(other),
      head(logicalSize == other.logicalSize ? other.head : 0),
      compact(other.compact) {}

// A refused block leaves the file as it was, and so the queue keeps its head.
MemQueue& MemQueue::operator=(const MemQueue& other) {
    if (this == &other) return *this;
    MemFile::operator=(other);
    if (logicalSize == other.logicalSize) {
        head = other.head;
        compact = other.compact;
    }
    return *this;
}

MemQueue::~MemQueue() = default;

int MemQueue::Put(void* src, unsigned int n) {
    // Checked before the file grows, so that the queue stays as it was.
    if (src == nullptr && n != 0) return KV_MEMQUEUE_PUT_FAILED;
    const int size = logicalSize;
    if (int64_t{size} + n > INT32_MAX || SizeSet(size + static_cast<int>(n), 0) != 0) {
        return KV_MEMQUEUE_GROW_FAILED;
    }
    if (MemFile::Put(static_cast<const unsigned char*>(src), size, static_cast<int>(n)) !=
        static_cast<int>(n)) {
        return KV_MEMQUEUE_PUT_FAILED;
    }
    return 0;
}

int MemQueue::Get(void* dst, unsigned int n) {
    const uint32_t size = static_cast<uint32_t>(logicalSize);
    if (size == head) return KV_MEMQUEUE_EMPTY;
    if (size - head < n) return KV_MEMQUEUE_TOO_FEW_BYTES;
    if (MemFile::Get(static_cast<unsigned char*>(dst), static_cast<int>(head),
                     static_cast<int>(n)) != static_cast<int>(n)) {
        return KV_MEMQUEUE_GET_FAILED;
    }
    if (compact != 0) {
        const int rest = static_cast<int>(size - head - n);
        if (Copy(0, static_cast<int>(head + n), rest) != rest) return KV_MEMQUEUE_GET_FAILED;
        // A refused shrink still takes the smaller logical size.
        if (SizeSet(rest, 0) != 0) return KV_MEMQUEUE_SHRINK_REFUSED;
    } else {
        head += n;
    }
    return 0;
}

int MemQueue::Delete(unsigned int newHead) {
    if (newHead > head) return 0;  // only consumed bytes can be dropped
    const uint32_t old = head;
    head = newHead;
    MemFile::Delete(newHead, old - newHead);
    return 0;
}
