// Memory files and byte encodings of the basics library: the memory file,
// checksums, byte compression, the portable value encoding, the memory queue
// and the raw buffer.
#ifndef KVBASICS_MEMFILE_H
#define KVBASICS_MEMFILE_H

#include <cstddef>
#include <cstdint>

#include "kvexport.h"

// ---------------------------------------------------------------------------
// Checksums
// ---------------------------------------------------------------------------

// ---------------------------------------------------------------------------
// Byte compression
// ---------------------------------------------------------------------------

// ---------------------------------------------------------------------------
// Portable value encoding
// ---------------------------------------------------------------------------

// Arrays of fixed-width values move between host memory and a stored image
// in the byte order that a format byte names. Format 2 is the portable,
// big-endian order; every other format is the host's own order. Integer
// functions look at the low 4 bits of the format (0x12 is big-endian too),
// floating-point functions at the low 7 bits (only 0x02 and 0x82). Values may
// lie at any address. Conversions return the number of bytes moved, count
// times the width. dst and src must not overlap, except that they may be the
// same buffer.
//
// Widths: char 1, short 2, int, unsigned and long 4, O_8B (8-byte integer) 8,
// float 4 and double 8 (IEEE 754).

inline constexpr unsigned char KV_FORMAT_HOST = 1;
inline constexpr unsigned char KV_FORMAT_PORTABLE = 2;

// A plain copy of count bytes; the format has no effect.
KVBASICS_API unsigned int CharStore(void* dst, const void* src, unsigned char format,
                                    unsigned int count);
KVBASICS_API unsigned int ShortStore(void* dst, const void* src, unsigned char format,
                                     unsigned int count);
KVBASICS_API unsigned int LongStore(void* dst, const void* src, unsigned char format,
                                    unsigned int count);
KVBASICS_API unsigned int O_8BStore(void* dst, const void* src, unsigned char format,
                                    unsigned int count);
KVBASICS_API unsigned int IntStore(void* dst, const void* src, unsigned char format,
                                   unsigned int count);
KVBASICS_API unsigned int IntLoad(void* dst, const void* src, unsigned char format,
                                  unsigned int count);
KVBASICS_API unsigned int UnsignedStore(void* dst, const void* src, unsigned char format,
                                        unsigned int count);
KVBASICS_API unsigned int UnsignedLoad(void* dst, const void* src, unsigned char format,
                                       unsigned int count);
// Either direction (reversing is its own inverse).
KVBASICS_API unsigned int FloatStore(void* dst, const void* src, unsigned char format,
                                     unsigned int count);
KVBASICS_API unsigned int DoubleStore(void* dst, const void* src, unsigned char format,
                                      unsigned int count);

// One value; they return the width.
KVBASICS_API unsigned int ShortStoreOne(void* dst, const void* src, unsigned char format);
KVBASICS_API unsigned int LongStoreOne(void* dst, const void* src, unsigned char format);
KVBASICS_API unsigned int O_8BStoreOne(void* dst, const void* src, unsigned char format);

// Bytes that count values take in a stored image; value and both formats
// have no effect.
KVBASICS_API unsigned int CharSizeGet(const void* value, unsigned char, unsigned char,
                                      unsigned int count);
KVBASICS_API unsigned int ShortSizeGet(const void* value, unsigned char, unsigned char,
                                       unsigned int count);
KVBASICS_API unsigned int IntSizeGet(const void* value, unsigned char, unsigned char,
                                     unsigned int count);
KVBASICS_API unsigned int LongSizeGet(const void* value, unsigned char, unsigned char,
                                      unsigned int count);
KVBASICS_API unsigned int O_8BSizeGet(const void* value, unsigned char, unsigned char,
                                      unsigned int count);
KVBASICS_API unsigned int FloatSizeGet(const void* value, unsigned char, unsigned char,
                                       unsigned int count);
KVBASICS_API unsigned int DoubleSizeGet(const void* value, unsigned char, unsigned char,
                                        unsigned int count);

// A null (absent) value takes as many bytes as a present one.
KVBASICS_API unsigned int CharNullSizeGet(unsigned int count);
KVBASICS_API unsigned int ShortNullSizeGet(unsigned int count);
KVBASICS_API unsigned int IntNullSizeGet(unsigned int count);
KVBASICS_API unsigned int LongNullSizeGet(unsigned int count);
KVBASICS_API unsigned int O_8BNullSizeGet(unsigned int count);
KVBASICS_API unsigned int FloatNullSizeGet(unsigned int count);
KVBASICS_API unsigned int DoubleNullSizeGet(unsigned int count);

// Character fields: len bytes of text padded on the right with blanks, no
// terminator.
// Copies field to str up to the first blank (not copied) or len bytes. A NUL
// follows only when a blank ended the copy, so str needs len + 1 bytes or a
// terminator of the caller's.
KVBASICS_API void ldchar(char* field, int len, char* str);
// Copies str into field, cut at len bytes, and pads the rest with blanks.
// No terminator is written.
KVBASICS_API void stchar(char* str, char* field, int len);

// Single floating-point values in the portable (big-endian) order.
KVBASICS_API float ldfloat(char* src);
KVBASICS_API void stfloat(float value, char* dst);
KVBASICS_API double lddbl(char* src);
KVBASICS_API void stdbl(double value, char* dst);

#endif  // KVBASICS_MEMFILE_H
