// The heap, behind one door so that tests can make a chosen allocation fail.
// Every block the library takes from the heap (outside operator new) comes
// from here.
#ifndef KVBASICS_PLATFORM_HEAP_H
#define KVBASICS_PLATFORM_HEAP_H

#include <cstddef>
#include <cstdint>

namespace tq::platform {

void* HeapAllocate(size_t size);
void* HeapReallocate(void* block, size_t size);
void HeapFree(void* block);

// Test-only fault injection: the nth allocation or reallocation from now on
// fails (1 = the next one); 0 switches injection off. Returns the number of
// allocations and reallocations made since the last call.
uint64_t HeapFailAfter(uint64_t n);

}  // namespace tq::platform

#endif  // KVBASICS_PLATFORM_HEAP_H
