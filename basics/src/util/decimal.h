// Decimal text of 64-bit integers, without the formatter of the C library.
#ifndef KVBASICS_UTIL_DECIMAL_H
#define KVBASICS_UTIL_DECIMAL_H

#include <cstddef>
#include <cstdint>

namespace tq {

// Enough for any 64-bit value: a sign, 20 digits and the terminator.
inline constexpr size_t kDecimalBufferSize = 22;

// Write the terminated decimal text of value into buffer (at least
// kDecimalBufferSize bytes) and return buffer. Negative values get a leading
// minus.
char* UInt64ToDecimal(uint64_t value, char* buffer);
char* Int64ToDecimal(int64_t value, char* buffer);

}  // namespace tq

#endif  // KVBASICS_UTIL_DECIMAL_H
