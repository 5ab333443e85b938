// The portable value encoding: fixed-width values between host memory and a
// stored image in the byte order that a format byte names.
#include <bit>
#include <cstring>

#include "memfile.h"

namespace {

static_assert(sizeof(float) == 4 && sizeof(double) == 8, "IEEE 754 single and double expected");

// Integers read the low 4 bits of the format, floating-point values the low
// 7 bits; 2 names the big-endian order.
bool IntegerBigEndian(unsigned char format) {
    return (format & 0x0F) == KV_FORMAT_PORTABLE;
}
bool FloatBigEndian(unsigned char format) {
    return (format & 0x7F) == KV_FORMAT_PORTABLE;
}

uint16_t ByteSwap(uint16_t v) {
    return __builtin_bswap16(v);
}
uint32_t ByteSwap(uint32_t v) {
    return __builtin_bswap32(v);
}
uint64_t ByteSwap(uint64_t v) {
    return __builtin_bswap64(v);
}

// Moves count values of U's width. Loads and stores go through memcpy, so
// values may lie at any address, and each value is read whole before it is
// written, so dst may be src itself.
template <typename U>
unsigned int Convert(void* dst, const void* src, bool bigEndian, unsigned int count) {
    if (count == 0) return 0;
    const size_t bytes = size_t{count} * sizeof(U);
    if (bigEndian && std::endian::native == std::endian::little) {
        auto* out = static_cast<unsigned char*>(dst);
        auto const* in = static_cast<unsigned char const*>(src);
        for (size_t offset = 0; offset < bytes; offset += sizeof(U)) {
            U value;
            std::memcpy(&value, in + offset, sizeof(U));
            value = ByteSwap(value);
            std::memcpy(out + offset, &value, sizeof(U));
        }
    } else {
        std::memmove(dst, src, bytes);
    }
    // The image size in 32 bits, as callers count it.
    return count * static_cast<unsigned int>(sizeof(U));
}

}  // namespace

unsigned int CharStore(void* dst, const void* src, unsigned char /*format*/, unsigned int count) {
    if (count != 0) std::memmove(dst, src, count);
    return count;
}

unsigned int ShortStore(void* dst, const void* src, unsigned char format, unsigned int count) {
    return Convert<uint16_t>(dst, src, IntegerBigEndian(format), count);
}

unsigned int LongStore(void* dst, const void* src, unsigned char format, unsigned int count) {
    return Convert<uint32_t>(dst, src, IntegerBigEndian(format), count);
}

unsigned int O_8BStore(void* dst, const void* src, unsigned char format, unsigned int count) {
    return Convert<uint64_t>(dst, src, IntegerBigEndian(format), count);
}

unsigned int IntStore(void* dst, const void* src, unsigned char format, unsigned int count) {
    return Convert<uint32_t>(dst, src, IntegerBigEndian(format), count);
}

unsigned int IntLoad(void* dst, const void* src, unsigned char format, unsigned int count) {
    return Convert<uint32_t>(dst, src, IntegerBigEndian(format), count);
}

unsigned int UnsignedStore(void* dst, const void* src, unsigned char format, unsigned int count) {
    return Convert<uint32_t>(dst, src, IntegerBigEndian(format), count);
}

unsigned int UnsignedLoad(void* dst, const void* src, unsigned char format, unsigned int count) {
    return Convert<uint32_t>(dst, src, IntegerBigEndian(format), count);
}

unsigned int FloatStore(void* dst, const void* src, unsigned char format, unsigned int count) {
    return Convert<uint32_t>(dst, src, FloatBigEndian(format), count);
}

unsigned int DoubleStore(void* dst, const void* src, unsigned char format, unsigned int count) {
    return Convert<uint64_t>(dst, src, FloatBigEndian(format), count);
}

unsigned int ShortStoreOne(void* dst, const void* src, unsigned char format) {
    return Convert<uint16_t>(dst, src, IntegerBigEndian(format), 1);
}

unsigned int LongStoreOne(void* dst, const void* src, unsigned char format) {
    return Convert<uint32_t>(dst, src, IntegerBigEndian(format), 1);
}

unsigned int O_8BStoreOne(void* dst, const void* src, unsigned char format) {
    return Convert<uint64_t>(dst, src, IntegerBigEndian(format), 1);
}

unsigned int CharSizeGet(const void*, unsigned char, unsigned char, unsigned int count) {
    return count;
}
unsigned int ShortSizeGet(const void*, unsigned char, unsigned char, unsigned int count) {
    return 2 * count;
}
unsigned int IntSizeGet(const void*, unsigned char, unsigned char, unsigned int count) {
    return 4 * count;
}
unsigned int LongSizeGet(const void*, unsigned char, unsigned char, unsigned int count) {
    return 4 * count;
}
unsigned int O_8BSizeGet(const void*, unsigned char, unsigned char, unsigned int count) {
    return 8 * count;
}
unsigned int FloatSizeGet(const void*, unsigned char, unsigned char, unsigned int count) {
    return 4 * count;
}
unsigned int DoubleSizeGet(const void*, unsigned char, unsigned char, unsigned int count) {
    return 8 * count;
}

unsigned int CharNullSizeGet(unsigned int count) {
    return count;
}
unsigned int ShortNullSizeGet(unsigned int count) {
    return 2 * count;
}
unsigned int IntNullSizeGet(unsigned int count) {
    return 4 * count;
}
unsigned int LongNullSizeGet(unsigned int count) {
    return 4 * count;
}
unsigned int O_8BNullSizeGet(unsigned int count) {
    return 8 * count;
}
unsigned int FloatNullSizeGet(unsigned int count) {
    return 4 * count;
}
unsigned int DoubleNullSizeGet(unsigned int count) {
    return 8 * count;
}

void ldchar(char* field, int len, char* str) {
    for (int i = 0; i < len; ++i) {
        if (field[i] == ' ') {
            str[i] = '\0';
            return;
        }
        str[i] = field[i];
    }
}

void stchar(char* str, char* field, int len) {
    int i = 0;
    for (; i < len && str[i] != '\0'; ++i)
        field[i] = str[i];
    if (i < len) std::memset(field + i, ' ', static_cast<size_t>(len - i));
}

float ldfloat(char* src) {
    float value;
    FloatStore(&value, src, KV_FORMAT_PORTABLE, 1);
    return value;
}

void stfloat(float value, char* dst) {
    FloatStore(dst, &value, KV_FORMAT_PORTABLE, 1);
}

double lddbl(char* src) {
    double value;
    DoubleStore(&value, src, KV_FORMAT_PORTABLE, 1);
    return value;
}

void stdbl(double value, char* dst) {
    DoubleStore(dst, &value, KV_FORMAT_PORTABLE, 1);
}
