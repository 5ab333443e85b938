// Memory files and byte encodings of the basics library: the memory file,
// checksums, byte compression, the portable value encoding, the memory queue
// and the raw buffer.
#ifndef KVBASICS_MEMFILE_H
#define KVBASICS_MEMFILE_H

#include <cstddef>
#include <cstdint>

#include "kvexport.h"

// ---------------------------------------------------------------------------
// Memory file
// ---------------------------------------------------------------------------

// Results of the memory file.
inline constexpr int KV_MEMFILE_NO_MEMORY = -10001;         // the heap refused a block
inline constexpr int KV_MEMFILE_BEYOND_ALLOCATED = -10002;  // SetLogicalSize past the block

// A growable byte file in one contiguous heap block. The block is a whole
// number of segments of 2^shift bytes; segments grow (up to 32 KiB) while more
// than seven would be needed, so a growing file is reallocated only a few
// times. Bytes that growth adds are not cleared. One thread at a time: even
// the const CheckSum and the const source of Put move a position.
class KVBASICS_API MemFile {
public:
    // segmentSize rounds down to a power of two (0 and 1 give 1-byte segments).
    explicit MemFile(int size = 0, int segmentSize = 8);
    MemFile(const MemFile& other);
    MemFile& operator=(const MemFile& other);
    virtual ~MemFile();

    // Sets the logical size and resizes the block by the growth policy.
    // Returns 0 or KV_MEMFILE_NO_MEMORY (the memory handler was called once;
    // the block is unchanged, a shrink still takes the smaller logical size).
    // mode has no effect.
    int SizeSet(int size, unsigned short mode);
    // Grows like SizeSet when the block is too small, else sets only the
    // logical size.
    int SizeSetDontShrink(int size, unsigned short mode);
    // Sets the logical size within the block; KV_MEMFILE_BEYOND_ALLOCATED
    // beyond it.
    int SetLogicalSize(int size);
    // Empties the file, keeping the block when it is at most keep bytes.
    void SetSizeZeroAndShrink(unsigned int keep);

    // Moves the position (origin 0: offset; 1: position + offset; 2: logical
    // size - offset) and returns a pointer to the bytes there; *length in: the
    // bytes wanted, out: the bytes usable (clipped at the logical end). Past
    // the end: null, *length 0, the position unchanged.
    unsigned char* Seek(int offset, unsigned short origin, unsigned int* length,
                        unsigned short = 0);

    // Copies length bytes from src to offset, growing the file; returns
    // length, or 0 when the file cannot grow. The position is not used.
    int Put(const unsigned char* src, int offset, int length);
    // Copies up to length bytes at offset (clipped at the logical end) to dst;
    // returns the count.
    int Get(unsigned char* dst, int offset, int length);
    // Copies length bytes from this file's position into dst at dstOffset,
    // growing dst; returns the count, 0 when dst cannot grow.
    unsigned int Get(MemFile* dst, unsigned int length, unsigned int dstOffset);
    // Copies length bytes (0: to its end) of src from srcOffset to this file's
    // position, growing this file; returns the count, 0 on failure. src may be
    // this file.
    unsigned int Put(const MemFile* src, unsigned int length, unsigned int srcOffset);

    // Moves length bytes from src to dst within the file (overlap allowed),
    // growing it to dst + length; returns length, 0 when it cannot grow.
    int Copy(int dst, int src, int length);
    // Removes length bytes at offset: the tail moves down, the file shrinks.
    int Delete(unsigned int offset, unsigned int length);
    // Swaps the contents of two files.
    void Exchange(MemFile* other);
    unsigned char* GetSegment(unsigned int n);
    // Sets the bytes from `from` to the logical end to value.
    void InitializeWith(unsigned char value, int from);
    // Stores value (host order) at the position and grows the logical size by
    // four; status is 0 or KV_MEMFILE_NO_MEMORY. Returns 4.
    unsigned int Write(unsigned int value, int& status);
    // CRC-32 of length bytes from offset (0xFFFFFFFF: the logical size),
    // clipped at the logical end, continuing from *running.
    unsigned int CheckSum(unsigned int offset, unsigned int length, unsigned int* running) const;

    unsigned char* GetBuffer() const { return buffer; }
    int GetLogicalSize() const { return logicalSize; }
    int GetPosition() const { return position; }
    int GetAllocatedSize() const { return static_cast<int>(AllocatedBytes()); }
    int GetSegmentCount() const { return segmentCount; }
    int GetSegmentShift() const { return segmentShift; }

protected:
    int64_t AllocatedBytes() const { return int64_t{segmentCount} << segmentShift; }

    unsigned char* buffer;
    int32_t logicalSize;
    mutable int32_t position;  // const operations move it too
    int16_t segmentCount;
    uint8_t segmentShift;
    uint8_t initialSegmentShift;
};

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
// ---------------------------------------------------------------------------
// Memory queue and raw buffer
// ---------------------------------------------------------------------------

// Results of the memory queue (positive 12006: delivered and compacted, but
// the smaller block was refused; the queue is consistent).
inline constexpr int KV_MEMQUEUE_EMPTY = -12001;
inline constexpr int KV_MEMQUEUE_GROW_FAILED = -12002;
inline constexpr int KV_MEMQUEUE_TOO_FEW_BYTES = -12003;
inline constexpr int KV_MEMQUEUE_GET_FAILED = -12004;
inline constexpr int KV_MEMQUEUE_PUT_FAILED = -12005;
inline constexpr int KV_MEMQUEUE_SHRINK_REFUSED = 12006;

// A first-in, first-out byte queue: Put appends at the logical end, Get takes
// from the head. A compacting queue moves the rest to the front on every Get;
// otherwise consumed bytes stay until Delete.
class KVBASICS_API MemQueue : public MemFile {
public:
    explicit MemQueue(unsigned short compact = 0);
    MemQueue(const MemQueue& other);
    MemQueue& operator=(const MemQueue& other);
    ~MemQueue() override;

    int Put(void* src, unsigned int n);
    int Get(void* dst, unsigned int n);
    // Drops the consumed bytes from newHead (at most the head) on; returns 0.
    int Delete(unsigned int newHead);

    unsigned int GetHead() const { return head; }

protected:
    uint32_t head;
    uint16_t compact;
};

// Who owns the memory of a KvRawBuffer. Values other than 0 and 2 borrow.
enum KvRawBufferBehavior : int32_t {
    KvRawBufferCopy = 0,    // its own copy, freed by the buffer
    KvRawBufferBorrow = 1,  // the caller's memory, never freed by the buffer
    KvRawBufferAdopt = 2,   // the caller's malloc block, freed by the buffer
};

// A pointer-and-length pair that copies, borrows or adopts its memory. A block
// the heap refuses leaves the buffer empty (null, length 0) after the memory
// handler was called once.
class KVBASICS_API KvRawBuffer {
public:
    KvRawBuffer(void* data, unsigned int len, KvRawBufferBehavior behaviour);
    KvRawBuffer(const KvRawBuffer& other);
    KvRawBuffer& operator=(const KvRawBuffer& other);
    ~KvRawBuffer();

    // Room for size bytes (the old content is not kept when it grows); the
    // buffer then owns its memory. 0, or -2030 when the heap refused.
    int EnsureCapacity(unsigned int size);
    void* GetBuf() const { return buffer; }
    unsigned int GetBufLen() const { return length; }

private:
    bool Owns() const { return behaviour == KvRawBufferCopy || behaviour == KvRawBufferAdopt; }

    void* buffer;
    uint32_t length;
    KvRawBufferBehavior behaviour;
};

#endif  // KVBASICS_MEMFILE_H
