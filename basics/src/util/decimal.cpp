#include "util/decimal.h"

namespace tq {

char* UInt64ToDecimal(uint64_t value, char* buffer) {
    char digits[20];
    size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    char* out = buffer;
    while (count != 0)
        *out++ = digits[--count];
    *out = '\0';
    return buffer;
}

char* Int64ToDecimal(int64_t value, char* buffer) {
    if (value >= 0) return UInt64ToDecimal(static_cast<uint64_t>(value), buffer);
    // The magnitude in unsigned arithmetic, so that the most negative value
    // does not overflow.
    buffer[0] = '-';
    UInt64ToDecimal(0 - static_cast<uint64_t>(value), buffer + 1);
    return buffer;
}

}  // namespace tq
