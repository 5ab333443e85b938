// The entry stack: a window moving over a caller's ring of slots.
#include <cstdint>

#include "kvcontainer.h"

namespace {

uintptr_t Address(const void* p) {
    return reinterpret_cast<uintptr_t>(p);
}

}  // namespace

KvEntryStack::KvEntryStack(KvTransactionContext* context, char* buffer, unsigned short entrySize,
                           unsigned short count, SlotFunction enterFunction,
                           SlotFunction leaveFunction)
    : transactionContext(context),
      begin(buffer),
      // Formed in the full width: count * entrySize may exceed 31 bits.
      last(buffer + (count > 1 ? size_t{count} - 1 : 0) * entrySize),
      low(buffer),
      current(buffer),
      high(buffer),
      entrySize(entrySize),
      enterFunction(enterFunction),
      leaveFunction(leaveFunction) {
    if (enterFunction != nullptr) enterFunction(transactionContext, buffer);
}

KvEntryStack::~KvEntryStack() {
    if (leaveFunction == nullptr) return;
    auto leaveRange = [this](char* from, char* to) {
        for (char* slot = from;; slot += entrySize) {
            leaveFunction(transactionContext, slot);
            if (slot == to) break;
        }
    };
    if (Address(low) <= Address(high)) {
        leaveRange(low, high);
    } else {
        leaveRange(begin, high);
        leaveRange(low, last);
    }
}

char* KvEntryStack::GetNextEntry() {
    char* next = current == last ? begin : current + entrySize;
    if (next == low) return nullptr;
    if (current == high) {
        high = next;
        if (enterFunction != nullptr) enterFunction(transactionContext, next);
    }
    return next;
}

char* KvEntryStack::GetPrevEntry() {
    char* prev = current == begin ? last : current - entrySize;
    if (prev == high) return nullptr;
    if (current == low) {
        low = prev;
        if (enterFunction != nullptr) enterFunction(transactionContext, prev);
    }
    return prev;
}

char* KvEntryStack::SetCurrentEntryWithTest(void* slot) {
    const uintptr_t s = Address(slot);
    // Only slot boundaries: a pointer inside a slot would walk off the ring.
    if (s < Address(begin) || s > Address(last)) return nullptr;
    if (entrySize == 0 ? s != Address(begin) : (s - Address(begin)) % entrySize != 0) {
        return nullptr;
    }
    bool inside;
    if (Address(low) <= Address(high)) {
        inside = Address(low) <= s && s <= Address(high);
    } else {
        inside = s <= Address(high) || Address(low) <= s;
    }
    if (!inside) return nullptr;
    current = static_cast<char*>(slot);
    return current;
}
