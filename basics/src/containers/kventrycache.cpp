// The entry cache: fixed-size entries carved from large heap blocks.
#include <cstring>

#include "kvcontainer.h"
#include "kvmemory.h"
#include "platform/heap.h"

// Under AddressSanitizer (KV_ENTRY_CACHE_POISONS), entries that are not handed
// out are poisoned, so that a container touching a node it gave back is caught.
#ifdef KV_ENTRY_CACHE_POISONS
#include <sanitizer/asan_interface.h>
#define TQ_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define TQ_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define TQ_POISON(p, n) ((void)(p), (void)(n))
#define TQ_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace {

// Payload bytes of a default block.
constexpr unsigned int kDefaultPayload = 2041;

void* NextBlock(void* block) {
    void* next;
    std::memcpy(&next, block, sizeof next);
    return next;
}

void SetNextBlock(void* block, void* next) {
    std::memcpy(block, &next, sizeof next);
}

}  // namespace

KvEntryCache::KvEntryCache() : KvEntryCache(0, 0, 8) {}

KvEntryCache::KvEntryCache(unsigned int entrySize, unsigned int entriesPerBlock,
                           unsigned short alignment)
    : freeList(nullptr),
      currentBlock(nullptr),
      oldestBlock(nullptr),
      freeOffset(0),
      entrySize(0),
      spareBlocks(nullptr),
      entriesPerBlock(0),
      alignment(0) {
    Init(entrySize, entriesPerBlock, alignment);
}

KvEntryCache::KvEntryCache(const KvEntryCache& other)
    : freeList(nullptr),
      currentBlock(nullptr),
      oldestBlock(nullptr),
      freeOffset(0),
      entrySize(other.entrySize),
      spareBlocks(nullptr),
      entriesPerBlock(other.entriesPerBlock),
      alignment(other.alignment) {}

KvEntryCache::~KvEntryCache() {
    Clear();
}

void KvEntryCache::Init(unsigned int entrySize, unsigned int entriesPerBlock,
                        unsigned short alignment) {
    Clear();
    this->alignment = alignment;
    uint64_t size = entrySize < 8 ? 8 : entrySize;
    if (alignment > 1 && size % alignment != 0) size += alignment - size % alignment;
    if (size > UINT32_MAX) {
        // No entry of this size can be addressed within a block: hand out nothing.
        this->entrySize = 0;
        this->entriesPerBlock = 0;
        return;
    }
    this->entrySize = static_cast<uint32_t>(size);
    if (entriesPerBlock == 0) {
        entriesPerBlock = kDefaultPayload / this->entrySize;
        if (entriesPerBlock == 0) entriesPerBlock = 1;
    }
    // Slot offsets are 32-bit: keep the payload of a block within that range.
    if (uint64_t{entriesPerBlock} * this->entrySize > UINT32_MAX) {
        entriesPerBlock = UINT32_MAX / this->entrySize;
    }
    this->entriesPerBlock = entriesPerBlock;
}

void* KvEntryCache::GetEntryOutOfLine() {
    void* entry;
    // GCOVR_EXCL_START: the sanitizer build's path; elsewhere the inline GetEntry takes these
    if (freeList != nullptr) {
        entry = freeList;
        std::memcpy(&freeList, entry, sizeof freeList);
    } else if (freeOffset != 0) {
        freeOffset -= entrySize;
        entry = static_cast<char*>(currentBlock) + kLinkSize + freeOffset;
    } else {
        // GCOVR_EXCL_STOP
        entry = GetEntryFromNewBlock();
        if (entry == nullptr) return nullptr;
    }
    TQ_UNPOISON(entry, entrySize);
    return entry;
}

// GCOVR_EXCL_START: called by the sanitizer build only (KV_ENTRY_CACHE_POISONS)
void KvEntryCache::PutEntryOutOfLine(void* entry) {
    std::memcpy(entry, &freeList, sizeof freeList);
    freeList = entry;
    TQ_POISON(static_cast<char*>(entry) + sizeof freeList, entrySize - sizeof freeList);
}
// GCOVR_EXCL_STOP

void* KvEntryCache::GetEntryFromNewBlock() {
    // GCOVR_EXCL_BR_START: Init sets both to 0 or neither
    if (entrySize == 0 || entriesPerBlock == 0) return nullptr;
    // GCOVR_EXCL_BR_STOP
    void* block = spareBlocks;
    if (block != nullptr) {
        spareBlocks = NextBlock(block);
    } else {
        const size_t size = size_t{entriesPerBlock} * entrySize + kLinkSize;
        block = tq::platform::HeapAllocate(size);
        if (block == nullptr) {
            KvCallMemoryHandler(size);
            return nullptr;
        }
        TQ_POISON(static_cast<char*>(block) + kLinkSize, size - kLinkSize);
    }
    SetNextBlock(block, currentBlock);
    if (currentBlock == nullptr) oldestBlock = block;
    currentBlock = block;
    freeOffset = (entriesPerBlock - 1) * entrySize;
    return static_cast<char*>(block) + kLinkSize + freeOffset;
}

void* KvEntryCache::UngetEntry() {
    if (currentBlock == nullptr) return nullptr;
    void* block = currentBlock;
    void* slot = static_cast<char*>(block) + kLinkSize + freeOffset;
    TQ_POISON(slot, entrySize);
    freeOffset += entrySize;
    if (freeOffset < entriesPerBlock * entrySize) return slot;
    // Nothing of this block is handed out any more: it becomes spare.
    freeOffset = 0;
    currentBlock = NextBlock(block);
    if (currentBlock == nullptr) oldestBlock = nullptr;
    SetNextBlock(block, spareBlocks);
    spareBlocks = block;
    return slot;
}

void KvEntryCache::PoisonInUse() {
#ifdef KV_ENTRY_CACHE_POISONS
    for (void* block = currentBlock; block != nullptr; block = NextBlock(block)) {
        TQ_POISON(static_cast<char*>(block) + kLinkSize, size_t{entriesPerBlock} * entrySize);
    }
#endif
}

void KvEntryCache::UngetAllEntries() {
    PoisonInUse();
    if (currentBlock != nullptr) {
        SetNextBlock(oldestBlock, spareBlocks);
        spareBlocks = currentBlock;
    }
    currentBlock = nullptr;
    oldestBlock = nullptr;
    freeList = nullptr;
    freeOffset = 0;
}

void KvEntryCache::Clear() {
    UngetAllEntries();
    while (spareBlocks != nullptr) {
        void* block = spareBlocks;
        spareBlocks = NextBlock(block);
        TQ_UNPOISON(block, size_t{entriesPerBlock} * entrySize + kLinkSize);
        tq::platform::HeapFree(block);
    }
}
