// Process-wide state of the platform services, reachable by the library's own
// start-up and by tests.
#ifndef KVBASICS_PLATFORM_SERVICES_H
#define KVBASICS_PLATFORM_SERVICES_H

#include <cstdint>

class smp_io;

namespace tq {

// Timers: reads the high-resolution counter's frequency (its low 32 bits)
// from the clock source; done once at start-up.
void ReadCounterFrequency();
uint32_t CounterFrequency();

// Date and time: forgets the cached time zone, so that the next
// bksgettimezone asks the system again.
void ResetTimeZoneCache();

// Registry configuration: forgets the cached priority-boost switch.
void ResetPriorityBoostCache();

// Module loader: writes a text to the product's console. The console is a
// class of the product's other modules that this library only holds a pointer
// to, so the writer is theirs to supply; without one nothing is written.
using ConsoleWriter = void (*)(smp_io* console, const char* text);
// Installs writer (null: none) and returns the previous one.
ConsoleWriter SetConsoleWriter(ConsoleWriter writer);

}  // namespace tq

#endif  // KVBASICS_PLATFORM_SERVICES_H
