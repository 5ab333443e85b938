// KvRawBuffer: memory that is copied, borrowed or adopted.
#include <cstring>
#include <utility>

#include "memfile.h"
#include "platform/heap.h"

namespace {

constexpr int kOutOfMemory = -2030;

// A copy of len bytes in a new block; null when the heap refuses. The raw
// buffer reports a refusal by its result alone: the memory handler may end the
// process, and no operation of the buffer throws or asserts.
void* CopyOf(const void* data, uint32_t len) {
    void* block = tq::platform::HeapAllocate(len);
    if (block != nullptr) std::memcpy(block, data, len);
    return block;
}

}  // namespace

// Without bytes the buffer holds nothing and takes nothing over: data stays
// the caller's, also when it was to be adopted.
KvRawBuffer::KvRawBuffer(void* data, unsigned int len, KvRawBufferBehavior behaviour)
    : buffer(len != 0 ? data : nullptr), length(data != nullptr ? len : 0), behaviour(behaviour) {
    if (behaviour == KvRawBufferCopy && buffer != nullptr) {
        buffer = CopyOf(data, len);
        if (buffer == nullptr) length = 0;
    }
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
    return buffer != nullptr ? 0 : kOutOfMemory;
}
