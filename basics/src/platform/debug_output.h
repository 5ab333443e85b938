// Debugger output. Text goes to standard error or a file when TQ_DEBUG_OUTPUT
// names "stderr" or a path; otherwise it is dropped, as when no debugger
// listens. A test may install its own sink.
#ifndef KVBASICS_PLATFORM_DEBUG_OUTPUT_H
#define KVBASICS_PLATFORM_DEBUG_OUTPUT_H

namespace tq::platform {

void DebugOutput(const char* text);

using DebugOutputSink = void (*)(const char* text);
// Installs sink (null restores the default) and returns the previous one.
DebugOutputSink SetDebugOutputSink(DebugOutputSink sink);

}  // namespace tq::platform

#endif  // KVBASICS_PLATFORM_DEBUG_OUTPUT_H
