#include "util/bounded_format.h"

#include <cstdio>

namespace tq {

BoundedFormatResult BoundedVFormat(char* buffer, size_t size, const char* format, va_list args) {
    if (size == 0) return {0, true};
    int n = std::vsnprintf(buffer, size, format, args);
    if (n < 0) {  // an encoding error: keep an empty, terminated text
        buffer[0] = '\0';
        return {0, true};
    }
    if (static_cast<size_t>(n) >= size) return {size - 1, true};
    return {static_cast<size_t>(n), false};
}

BoundedFormatResult BoundedFormat(char* buffer, size_t size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    BoundedFormatResult result = BoundedVFormat(buffer, size, format, args);
    va_end(args);
    return result;
}

}  // namespace tq
