// Copies one array element without a call for the common sizes.
#ifndef KVBASICS_UTIL_MOVE_BYTES_H
#define KVBASICS_UTIL_MOVE_BYTES_H

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tq {

// Copies size bytes; source and target may overlap. Elements of 4 and 8
// bytes are loaded whole before they are stored.
inline void MoveElement(void* to, void const* from, size_t size) {
    if (size == 8) {
        uint64_t v;
        std::memcpy(&v, from, 8);
        std::memcpy(to, &v, 8);
    } else if (size == 4) {
        uint32_t v;
        std::memcpy(&v, from, 4);
        std::memcpy(to, &v, 4);
    } else {
        std::memmove(to, from, size);
    }
}

}  // namespace tq

#endif  // KVBASICS_UTIL_MOVE_BYTES_H
