// Test access to the memory-check hook's state.
#ifndef KVBASICS_MEMORY_CHECK_H
#define KVBASICS_MEMORY_CHECK_H

namespace tq {

// Forgets the probe, so that the next KivoCheckMemory probes again.
void ResetMemoryCheckProbe();

}  // namespace tq

#endif  // KVBASICS_MEMORY_CHECK_H
