#include "platform/host_name.h"

#include <limits.h>
#include <unistd.h>

#include <cstring>

namespace tq::platform {

bool HostName(char* buffer, size_t size) {
    if (buffer == nullptr || size == 0) return false;
    // Read into room for the longest name, so that a short buffer still gets
    // a terminated (cut) name.
    char name[HOST_NAME_MAX + 1] = {};
    // GCOVR_EXCL_START: with room for the longest name gethostname cannot fail
    if (gethostname(name, sizeof name - 1) != 0) {
        buffer[0] = '\0';
        return false;
    }
    // GCOVR_EXCL_STOP
    const size_t length = std::strlen(name);
    const size_t count = length < size ? length : size - 1;
    std::memcpy(buffer, name, count);
    buffer[count] = '\0';
    return count == length;
}

}  // namespace tq::platform
