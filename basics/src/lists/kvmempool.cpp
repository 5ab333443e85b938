// The node pool: fixed-size nodes carved from buffers of about 4 KiB, with a
// free list kept outside the nodes.
#include <algorithm>
#include <cstddef>

#include "kvlist.h"
#include "kvmemory.h"
#include "platform/heap.h"

namespace {

constexpr uint32_t kBufferBytes = 4096;

}  // namespace

struct KvMemPool::Record {
    Record* next;
    void* pointer;  // the buffer of a buffer record, the node of a free record
};

namespace {

// A record from the library's heap; null after the memory handler was called.
template <typename Record>
Record* NewRecord(Record* next, void* pointer) {
    auto* record = static_cast<Record*>(tq::platform::HeapAllocate(sizeof(Record)));
    if (record == nullptr) {
        KvCallMemoryHandler(sizeof(Record));
        return nullptr;
    }
    record->next = next;
    record->pointer = pointer;
    return record;
}

}  // namespace

KvMemPool::KvMemPool(uint32_t nodeSize)
    : buffers_(nullptr),
      free_(nullptr),
      current_(nullptr),
      last_(nullptr),
      nodeSize_(nodeSize != 0 ? nodeSize : 1),
      buffersAdded_(0),
      buffersFreed_(0),
      nodesTaken_(0),
      nodesGivenBack_(0) {}

KvMemPool::~KvMemPool() {
    DeallocateBuffers();
}

void KvMemPool::AddNewBuffer() {
    AddBuffer();
}

// Buffer and record are taken before anything changes, so that a refusal
// leaves the pool as it was.
bool KvMemPool::AddBuffer() {
    const size_t nodes = std::max<uint32_t>(1, kBufferBytes / nodeSize_);
    const size_t bytes = nodes * nodeSize_;  // at most max(4096, node size)
    char* buffer = static_cast<char*>(tq::platform::HeapAllocate(bytes));
    if (buffer == nullptr) {
        KvCallMemoryHandler(bytes);
        return false;
    }
    Record* record = NewRecord(buffers_, static_cast<void*>(buffer));
    if (record == nullptr) {
        tq::platform::HeapFree(buffer);
        return false;
    }
    ++buffersAdded_;
    buffers_ = record;
    current_ = buffer;
    last_ = buffer + (nodes - 1) * nodeSize_;
    return true;
}

void* KvMemPool::GetNode() {
    if (Record* record = free_) {
        ++nodesTaken_;
        free_ = record->next;
        void* node = record->pointer;
        tq::platform::HeapFree(record);
        return node;
    }
    if (current_ != last_) {
        ++nodesTaken_;
        current_ += nodeSize_;
        return current_;
    }
    if (!AddBuffer()) return nullptr;
    ++nodesTaken_;
    return current_;
}

void KvMemPool::PutNode(void* node) {
    if (node == nullptr) return;
    Record* record = NewRecord(free_, node);
    if (record == nullptr) return;
    free_ = record;
    ++nodesGivenBack_;
}

void KvMemPool::DeallocateBuffers() {
    while (Record* record = buffers_) {
        buffers_ = record->next;
        if (record->pointer != nullptr) {
            tq::platform::HeapFree(record->pointer);
            ++buffersFreed_;
        }
        tq::platform::HeapFree(record);
    }
    while (Record* record = free_) {
        free_ = record->next;
        tq::platform::HeapFree(record);
    }
    current_ = nullptr;
    last_ = nullptr;
}
