// The node pool: fixed-size nodes carved from buffers of about 4 KiB, with a
// free list kept outside the nodes.
#include <algorithm>
#include <cstddef>
#include <new>

#include "kvlist.h"

namespace {

constexpr uint32_t kBufferBytes = 4096;

}  // namespace

struct KvMemPool::Record {
    Record* next;
    void* pointer;  // the buffer of a buffer record, the node of a free record
};

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
    ++buffersAdded_;
    const size_t nodes = std::max<uint32_t>(1, kBufferBytes / nodeSize_);
    const size_t bytes = nodes * nodeSize_;  // at most max(4096, node size)
    char* buffer = static_cast<char*>(::operator new(bytes));
    Record* record;
    try {
        record = new Record{buffers_, buffer};
    } catch (...) {
        ::operator delete(buffer);
        throw;
    }
    buffers_ = record;
    current_ = buffer;
    last_ = buffer + (nodes - 1) * nodeSize_;
}

void* KvMemPool::GetNode() {
    ++nodesTaken_;
    if (Record* record = free_) {
        free_ = record->next;
        void* node = record->pointer;
        delete record;
        return node;
    }
    if (current_ != last_) {
        current_ += nodeSize_;
        return current_;
    }
    AddNewBuffer();
    return current_;
}

void KvMemPool::PutNode(void* node) {
    if (node == nullptr) return;
    ++nodesGivenBack_;
    free_ = new Record{free_, node};
}

void KvMemPool::DeallocateBuffers() {
    while (Record* record = buffers_) {
        buffers_ = record->next;
        if (record->pointer != nullptr) {
            ::operator delete(record->pointer);
            ++buffersFreed_;
        }
        delete record;
    }
    while (Record* record = free_) {
        free_ = record->next;
        delete record;
    }
    current_ = nullptr;
    last_ = nullptr;
}
