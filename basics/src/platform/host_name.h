// The name of this computer.
#ifndef KVBASICS_PLATFORM_HOST_NAME_H
#define KVBASICS_PLATFORM_HOST_NAME_H

#include <cstddef>

namespace tq::platform {

// Writes the host name (gethostname) into buffer, cut to size - 1 characters
// and always terminated when size > 0. False when the name cannot be read or
// had to be cut.
bool HostName(char* buffer, size_t size);

}  // namespace tq::platform

#endif  // KVBASICS_PLATFORM_HOST_NAME_H
