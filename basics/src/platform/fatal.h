// The fatal exception: what a failed assertion raises.
#ifndef KVBASICS_PLATFORM_FATAL_H
#define KVBASICS_PLATFORM_FATAL_H

#include <cstdint>

namespace tq::platform {

// Throws KvFatalException with code and text.
[[noreturn]] void RaiseFatalException(uint32_t code, const char* text);

}  // namespace tq::platform

#endif  // KVBASICS_PLATFORM_FATAL_H
