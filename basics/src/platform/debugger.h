// Debugger break: SIGTRAP while a debugger is attached, nothing otherwise. A
// test may install its own handler to observe the request.
#ifndef KVBASICS_PLATFORM_DEBUGGER_H
#define KVBASICS_PLATFORM_DEBUGGER_H

namespace tq::platform {

// True when a tracer (a debugger) is attached to this process.
bool DebuggerAttached();

void DebugBreak();

using DebugBreakHandler = void (*)();
// Installs handler (null restores the default) and returns the previous one.
DebugBreakHandler SetDebugBreakHandler(DebugBreakHandler handler);

}  // namespace tq::platform

#endif  // KVBASICS_PLATFORM_DEBUGGER_H
