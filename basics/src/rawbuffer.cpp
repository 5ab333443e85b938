// KvRawBuffer: memory that is copied, borrowed or adopted.
#include <cstring>
#include <utility>

#include "kvmemory.h"
#include "memfile.h"
#include "platform/heap.h"

namespace {

constexpr int kOutOfMemory = -2030;

// A copy of len bytes in a new block; null (after the memory handler) when
// the heap refuses.
void* CopyOf(const void* data, uint32_t len) {
    void* block = tq::platform::HeapAllocate(len);
    if (block == nullptr) {
        KvCallMemoryHandler(len);
        return nullptr;
    }
    std::memcpy(block, data, len);
    return block;
}

}  // namespace

KvRawBuffer::KvRawBuffer(void* data, unsigned int len, KvRawBufferBehavior behaviour)
    : buffer(len != 0 ? data : nullptr), length(data != nullptr ? len : 0), behaviour(behaviour) {
    if (behaviour == KvRawBufferCopy && buffer != nullptr) {
        buffer = CopyOf(data, len);
        if (buffer == nullptr) length = 0;
    }
    // The caller handed the block over; a length of 0 keeps none of it.
    if (behaviour == KvRawBufferAdopt && buffer == nullptr) tq::platform::HeapFree(data);
}

KvRawBuffer::KvRawBuffer(const KvRawBuffer& other)
    : buffer(other.buffer), length(other.length), behaviour(other.behaviour) {
    if (Owns() && buffer != nullptr) {
        buffer = CopyOf(other.buffer, length);
        if (buffer == nullptr) length = 0;
    }
}

KvRawBuffer& KvRawBuffer::operator=(const KvRawBuffer& other) {
    if (this != &other) {
        KvRawBuffer copy(other);
        std::swap(buffer, copy.buffer);
        std::swap(length, copy.length);
        std::swap(behaviour, copy.behaviour);
    }
    return *this;
}

KvRawBuffer::~KvRawBuffer() {
    if (Owns()) tq::platform::HeapFree(buffer);
}

int KvRawBuffer::EnsureCapacity(unsigned int size) {
    if (length >= size) return 0;
    if (Owns()) tq::platform::HeapFree(buffer);
    behaviour = KvRawBufferCopy;
    buffer = tq::platform::HeapAllocate(size);
    // Refused: empty, so that the next call asks the heap again rather than
    // promising room that is not there.
    length = buffer != nullptr ? size : 0;
    if (buffer == nullptr) {
        KvCallMemoryHandler(size);
        return kOutOfMemory;
    }
    return 0;
}
