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

// CRC-32 of IEEE 802.3 over length bytes at data, continuing from the finished
// value *previous (only read) or starting afresh when previous is null. Null
// data or length 0 return *previous (0 without previous).
KVBASICS_API unsigned int CalcCheckSum(unsigned char* data, unsigned int length,
                                       unsigned int* previous);

// ---------------------------------------------------------------------------
// Byte compression
// ---------------------------------------------------------------------------
//
// A run-length stream: (count 1..255, value) expands to count copies of value,
// (0, n, n bytes) to those bytes. The format is binding across builds.

// Compresses srcLen (>= 1) bytes. *dstLen in: the capacity of dst. Returns 0
// with *dstLen set when the stream is shorter than the capacity, else -1 with
// *dstLen unchanged (dst may hold part of a stream).
KVBASICS_API int DScomp(unsigned char* src, int srcLen, unsigned char* dst, int* dstLen);

// Expands a stream. *dstLen in: the capacity; out: the bytes produced. Returns
// 0, or 2 when a token does not fit the rest of the capacity, when a non-empty
// stream produced nothing, or when the stream ends inside a token. Stops
// without error when the output is full.
KVBASICS_API int DSdecomp(unsigned char* src, int srcLen, unsigned char* dst, int* dstLen);

// The expanded length of a stream; -1 when the stream ends inside a token.
KVBASICS_API int DSlen(unsigned char* src, int srcLen);

// ---------------------------------------------------------------------------
// Portable value encoding
// ---------------------------------------------------------------------------

#endif  // KVBASICS_MEMFILE_H
