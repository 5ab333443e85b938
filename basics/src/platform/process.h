// Facts about this process and this library's own file.
#ifndef KVBASICS_PLATFORM_PROCESS_H
#define KVBASICS_PLATFORM_PROCESS_H

#include <cstdint>
#include <string>

namespace tq::platform {

uint32_t CurrentProcessId();

// Path of the program's executable; empty when it cannot be read.
std::string ExecutablePath();

// Path of the file that holds this library's code (the shared library, or the
// program it is linked into); empty when it cannot be found.
std::string OwnModulePath();

}  // namespace tq::platform

#endif  // KVBASICS_PLATFORM_PROCESS_H
