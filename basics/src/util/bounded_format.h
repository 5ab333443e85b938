// printf-style formatting into a fixed buffer that is never overrun.
#ifndef KVBASICS_UTIL_BOUNDED_FORMAT_H
#define KVBASICS_UTIL_BOUNDED_FORMAT_H

#include <cstdarg>
#include <cstddef>

namespace tq {

struct BoundedFormatResult {
    size_t length;  // characters stored, without the terminator
    bool cut;       // the full text did not fit
};

// Formats into buffer[0..size-1], always terminated when size > 0; a text
// longer than size - 1 characters is cut.
BoundedFormatResult BoundedVFormat(char* buffer, size_t size, const char* format, va_list args)
    __attribute__((format(printf, 3, 0)));
BoundedFormatResult BoundedFormat(char* buffer, size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

}  // namespace tq

#endif  // KVBASICS_UTIL_BOUNDED_FORMAT_H
