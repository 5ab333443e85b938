// The sorted list: a memory-file list that is given its compare function when
// it is built.
#include "kvarray.h"

// Built as a default list, then given its compare function and element size.
// A refused reservation leaves it empty without room; it grows on demand.
SortList::SortList(uint16_t elementSize, KvArrayCompareFunction compare, uint32_t capacity)
    : KvLList(4, 0) {
    compare_ = compare;
    KvLList::Init(elementSize, capacity);
}

int SortList::Init(uint16_t elementSize, KvArrayCompareFunction compare, uint32_t capacity) {
    compare_ = compare;
    return KvLList::Init(elementSize, capacity);
}
