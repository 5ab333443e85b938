/// \file
/// Memory files and byte encodings of the basics library: the memory file,
/// checksums, byte compression, the portable value encoding, the memory queue
/// and the raw buffer.
#ifndef KVBASICS_MEMFILE_H
#define KVBASICS_MEMFILE_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "kvexport.h"

// ---------------------------------------------------------------------------
// Memory file
// ---------------------------------------------------------------------------

// Results of the memory file.

inline constexpr int KV_MEMFILE_NO_MEMORY = -10001;         ///< the heap refused a block
inline constexpr int KV_MEMFILE_BEYOND_ALLOCATED = -10002;  ///< SetLogicalSize past the block

/// A growable byte file in one contiguous heap block. The block is a whole
/// number of segments of 2^shift bytes; segments grow (up to 32 KiB) while more
/// than seven would be needed, so a growing file is reallocated only a few
/// times. Bytes that growth adds are not cleared. One thread at a time: even
/// the const CheckSum and the const source of Put move a position.
class KVBASICS_API MemFile {
public:
    /// segmentSize rounds down to a power of two (0 and 1 give 1-byte segments).
    explicit MemFile(int size = 0, int segmentSize = 8);
    /// A deep copy of other's logical bytes (empty when the heap refuses).
    MemFile(const MemFile& other);
    /// Replaces the contents with a copy of other's logical bytes; on a refused
    /// block the file keeps its old bytes. The position becomes 0.
    MemFile& operator=(const MemFile& other);
    virtual ~MemFile();

    /// Sets the logical size and resizes the block by the growth policy.
    /// Returns 0 or KV_MEMFILE_NO_MEMORY (the memory handler was called once;
    /// the block is unchanged, a shrink still takes the smaller logical size).
    /// mode has no effect.
    int SizeSet(int size, unsigned short mode);
    /// Grows like SizeSet when the block is too small, else sets only the
    /// logical size.
    int SizeSetDontShrink(int size, unsigned short mode);
    /// Sets the logical size within the block; KV_MEMFILE_BEYOND_ALLOCATED
    /// beyond it.
    int SetLogicalSize(int size) {
        if (size > AllocatedBytes()) return KV_MEMFILE_BEYOND_ALLOCATED;
        logicalSize = size < 0 ? 0 : size;
        return 0;
    }
    /// Empties the file, keeping the block when it is at most keep bytes.
    void SetSizeZeroAndShrink(unsigned int keep);

    /// Moves the position (origin 0: offset; 1: position + offset; 2: logical
    /// size - offset) and returns a pointer to the bytes there; *length in: the
    /// bytes wanted, out: the bytes usable (clipped at the logical end). Past
    /// the end: null, *length 0, the position unchanged.
    unsigned char* Seek(int offset, unsigned short origin, unsigned int* length,
                        unsigned short = 0);

    /// Copies length bytes from src to offset, growing the file; returns
    /// length, or 0 when the file cannot grow or src is null with a positive
    /// length (nothing changes). The position is not used.
    int Put(const unsigned char* src, int offset, int length);
    /// Copies up to length bytes at offset (clipped at the logical end) to dst;
    /// returns the count (0 for a null dst).
    int Get(unsigned char* dst, int offset, int length);
    /// Copies length bytes from this file's position into dst at dstOffset,
    /// growing dst; returns the count, 0 when dst cannot grow.
    unsigned int Get(MemFile* dst, unsigned int length, unsigned int dstOffset);
    /// Copies length bytes (0: to its end) of src from srcOffset to this file's
    /// position, growing this file; returns the count, 0 on failure. src may be
    /// this file.
    unsigned int Put(const MemFile* src, unsigned int length, unsigned int srcOffset);

    /// Moves length bytes from src to dst within the file (overlap allowed),
    /// growing it to dst + length; returns length, 0 when it cannot grow.
    int Copy(int dst, int src, int length);
    /// Removes length bytes at offset: the tail moves down, the file shrinks.
    int Delete(unsigned int offset, unsigned int length);
    /// Swaps the contents of two files.
    void Exchange(MemFile* other);
    /// Address of segment n; n must be below GetSegmentCount() (not checked).
    unsigned char* GetSegment(unsigned int n);
    /// Sets the bytes from `from` to the logical end to value.
    void InitializeWith(unsigned char value, int from);
    /// Stores value (host order) at the position and grows the logical size by
    /// four; status is 0, KV_MEMFILE_NO_MEMORY, or KV_MEMFILE_BEYOND_ALLOCATED
    /// when the position lies outside the block (nothing changes). Returns 4.
    unsigned int Write(unsigned int value, int& status) {
        // Room in the block for the grown file and for the value at the
        // position: no call. Growth and faults go the long way.
        const int64_t allocated = AllocatedBytes();
        if (int64_t{logicalSize} + 4 <= allocated && position >= 0 &&
            int64_t{position} + 4 <= allocated) {
            logicalSize += 4;
            std::memcpy(buffer + position, &value, sizeof value);
            position += 4;
            status = 0;
            return 4;
        }
        return WriteGrowing(value, status);
    }
    /// CRC-32 of length bytes from offset (0xFFFFFFFF: the logical size),
    /// clipped at the logical end, continuing from *running.
    unsigned int CheckSum(unsigned int offset, unsigned int length, unsigned int* running) const;

    /// The block, owned by the file (null while nothing is allocated); valid
    /// until the next operation that resizes the file.
    unsigned char* GetBuffer() const { return buffer; }
    int GetLogicalSize() const { return logicalSize; }  ///< bytes in the file
    int GetPosition() const { return position; }        ///< the current position
    /// Bytes of the block: segment count times segment size.
    int GetAllocatedSize() const { return static_cast<int>(AllocatedBytes()); }
    int GetSegmentCount() const { return segmentCount; }  ///< segments in the block
    int GetSegmentShift() const { return segmentShift; }  ///< log2 of the segment size

protected:
    /// Bytes of the block, without overflow.
    int64_t AllocatedBytes() const { return int64_t{segmentCount} << segmentShift; }
    /// Write when the block must grow or the position lies outside it.
    unsigned int WriteGrowing(unsigned int value, int& status);

    unsigned char* buffer;        ///< the heap block, or null
    int32_t logicalSize;          ///< bytes in the file
    mutable int32_t position;     ///< const operations move it too
    int16_t segmentCount;         ///< segments in the block
    uint8_t segmentShift;         ///< log2 of the segment size now
    uint8_t initialSegmentShift;  ///< log2 of the segment size given at construction
};

// ---------------------------------------------------------------------------
// Checksums
// ---------------------------------------------------------------------------

/// CRC-32 of IEEE 802.3 over length bytes at data, continuing from the finished
/// value *previous (only read) or starting afresh when previous is null. Null
/// data or length 0 return *previous (0 without previous).
KVBASICS_API unsigned int CalcCheckSum(unsigned char* data, unsigned int length,
                                       unsigned int* previous);

// ---------------------------------------------------------------------------
// Byte compression
// ---------------------------------------------------------------------------
//
// A run-length stream: (count 1..255, value) expands to count copies of value,
// (0, n, n bytes) to those bytes. The format is binding across builds.

/// Compresses srcLen (>= 1) bytes. *dstLen in: the capacity of dst. Returns 0
/// with *dstLen set when the stream is shorter than the capacity, else -1 with
/// *dstLen unchanged (dst may hold part of a stream).
KVBASICS_API int DScomp(unsigned char* src, int srcLen, unsigned char* dst, int* dstLen);

/// Expands a stream. *dstLen in: the capacity; out: the bytes produced. Returns
/// 0, or 2 when a token does not fit the rest of the capacity, when a non-empty
/// stream produced nothing, or when the stream ends inside a token. Stops
/// without error when the output is full.
KVBASICS_API int DSdecomp(unsigned char* src, int srcLen, unsigned char* dst, int* dstLen);

/// The expanded length of a stream; -1 when the stream ends inside a token.
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

inline constexpr unsigned char KV_FORMAT_HOST = 1;      ///< the host's own byte order
inline constexpr unsigned char KV_FORMAT_PORTABLE = 2;  ///< the portable, big-endian order

/// A plain copy of count bytes; the format has no effect.
KVBASICS_API unsigned int CharStore(void* dst, const void* src, unsigned char format,
                                    unsigned int count);
/// Converts count 2-byte integers between host order and format's order.
KVBASICS_API unsigned int ShortStore(void* dst, const void* src, unsigned char format,
                                     unsigned int count);
/// Converts count 4-byte integers (long in the stored image).
KVBASICS_API unsigned int LongStore(void* dst, const void* src, unsigned char format,
                                    unsigned int count);
/// Converts count 8-byte integers.
KVBASICS_API unsigned int O_8BStore(void* dst, const void* src, unsigned char format,
                                    unsigned int count);
/// Converts count ints from host memory into the image.
KVBASICS_API unsigned int IntStore(void* dst, const void* src, unsigned char format,
                                   unsigned int count);
/// Converts count ints from the image into host memory.
KVBASICS_API unsigned int IntLoad(void* dst, const void* src, unsigned char format,
                                  unsigned int count);
/// Converts count unsigned ints from host memory into the image.
KVBASICS_API unsigned int UnsignedStore(void* dst, const void* src, unsigned char format,
                                        unsigned int count);
/// Converts count unsigned ints from the image into host memory.
KVBASICS_API unsigned int UnsignedLoad(void* dst, const void* src, unsigned char format,
                                       unsigned int count);
/// Converts count floats, in either direction (reversing is its own inverse).
KVBASICS_API unsigned int FloatStore(void* dst, const void* src, unsigned char format,
                                     unsigned int count);
/// Converts count doubles, in either direction.
KVBASICS_API unsigned int DoubleStore(void* dst, const void* src, unsigned char format,
                                      unsigned int count);

/// One 2-byte integer; returns 2.
KVBASICS_API unsigned int ShortStoreOne(void* dst, const void* src, unsigned char format);
/// One 4-byte integer; returns 4.
KVBASICS_API unsigned int LongStoreOne(void* dst, const void* src, unsigned char format);
/// One 8-byte integer; returns 8.
KVBASICS_API unsigned int O_8BStoreOne(void* dst, const void* src, unsigned char format);

// Bytes that count values take in a stored image; value and both formats
// have no effect.

/// count bytes.
KVBASICS_API unsigned int CharSizeGet(const void* value, unsigned char, unsigned char,
                                      unsigned int count);
/// 2 * count bytes.
KVBASICS_API unsigned int ShortSizeGet(const void* value, unsigned char, unsigned char,
                                       unsigned int count);
/// 4 * count bytes.
KVBASICS_API unsigned int IntSizeGet(const void* value, unsigned char, unsigned char,
                                     unsigned int count);
/// 4 * count bytes.
KVBASICS_API unsigned int LongSizeGet(const void* value, unsigned char, unsigned char,
                                      unsigned int count);
/// 8 * count bytes.
KVBASICS_API unsigned int O_8BSizeGet(const void* value, unsigned char, unsigned char,
                                      unsigned int count);
/// 4 * count bytes.
KVBASICS_API unsigned int FloatSizeGet(const void* value, unsigned char, unsigned char,
                                       unsigned int count);
/// 8 * count bytes.
KVBASICS_API unsigned int DoubleSizeGet(const void* value, unsigned char, unsigned char,
                                        unsigned int count);

// A null (absent) value takes as many bytes as a present one.

KVBASICS_API unsigned int CharNullSizeGet(unsigned int count);    ///< count bytes
KVBASICS_API unsigned int ShortNullSizeGet(unsigned int count);   ///< 2 * count bytes
KVBASICS_API unsigned int IntNullSizeGet(unsigned int count);     ///< 4 * count bytes
KVBASICS_API unsigned int LongNullSizeGet(unsigned int count);    ///< 4 * count bytes
KVBASICS_API unsigned int O_8BNullSizeGet(unsigned int count);    ///< 8 * count bytes
KVBASICS_API unsigned int FloatNullSizeGet(unsigned int count);   ///< 4 * count bytes
KVBASICS_API unsigned int DoubleNullSizeGet(unsigned int count);  ///< 8 * count bytes

/// Character fields: len bytes of text padded on the right with blanks, no
/// terminator.
/// Copies field to str up to the first blank (not copied) or len bytes. A NUL
/// follows only when a blank ended the copy, so str needs len + 1 bytes or a
/// terminator of the caller's.
KVBASICS_API void ldchar(char* field, int len, char* str);
/// Copies str into field, cut at len bytes, and pads the rest with blanks.
/// No terminator is written.
KVBASICS_API void stchar(char* str, char* field, int len);

// Single floating-point values in the portable (big-endian) order.

KVBASICS_API float ldfloat(char* src);              ///< reads a float at src
KVBASICS_API void stfloat(float value, char* dst);  ///< writes value at dst (4 bytes)
KVBASICS_API double lddbl(char* src);               ///< reads a double at src
KVBASICS_API void stdbl(double value, char* dst);   ///< writes value at dst (8 bytes)

// ---------------------------------------------------------------------------
// Memory queue and raw buffer
// ---------------------------------------------------------------------------

// Results of the memory queue (positive 12006: delivered and compacted, but
// the smaller block was refused; the queue is consistent).

inline constexpr int KV_MEMQUEUE_EMPTY = -12001;          ///< Get: nothing left to read
inline constexpr int KV_MEMQUEUE_GROW_FAILED = -12002;    ///< Put: the queue cannot grow
inline constexpr int KV_MEMQUEUE_TOO_FEW_BYTES = -12003;  ///< Get: fewer than n bytes left
inline constexpr int KV_MEMQUEUE_GET_FAILED = -12004;     ///< Get: the bytes could not be copied
inline constexpr int KV_MEMQUEUE_PUT_FAILED = -12005;     ///< Put: the bytes could not be copied
/// Get: delivered and compacted, but the smaller block was refused.
inline constexpr int KV_MEMQUEUE_SHRINK_REFUSED = 12006;

/// A first-in, first-out byte queue: Put appends at the logical end, Get takes
/// from the head. A compacting queue moves the rest to the front on every Get;
/// otherwise consumed bytes stay until Delete.
class KVBASICS_API MemQueue : public MemFile {
public:
    /// An empty queue; compact nonzero makes it compacting.
    explicit MemQueue(unsigned short compact = 0);
    /// A deep copy, head included; an empty queue when the heap refuses.
    MemQueue(const MemQueue& other);
    /// Replaces the contents with a copy of other's, head included; on a
    /// refused block the queue stays as it was.
    MemQueue& operator=(const MemQueue& other);
    ~MemQueue() override;

    /// Appends n bytes from src: 0, KV_MEMQUEUE_GROW_FAILED or
    /// KV_MEMQUEUE_PUT_FAILED (also for a null src; the queue is unchanged).
    int Put(void* src, unsigned int n);
    /// Takes n bytes from the head into dst: 0, KV_MEMQUEUE_EMPTY,
    /// KV_MEMQUEUE_TOO_FEW_BYTES (nothing taken), KV_MEMQUEUE_GET_FAILED or
    /// KV_MEMQUEUE_SHRINK_REFUSED.
    int Get(void* dst, unsigned int n);
    /// Drops the consumed bytes from newHead (at most the head) on; returns 0.
    int Delete(unsigned int newHead);

    /// Offset of the next byte to read.
    unsigned int GetHead() const { return head; }

protected:
    uint32_t head;     ///< offset of the next byte to read
    uint16_t compact;  ///< nonzero for a compacting queue
};

/// Who owns the memory of a KvRawBuffer. Values other than 0 and 2 borrow.
enum KvRawBufferBehavior : int32_t {
    KvRawBufferCopy = 0,    ///< its own copy, freed by the buffer
    KvRawBufferBorrow = 1,  ///< the caller's memory, never freed by the buffer
    KvRawBufferAdopt = 2,   ///< the caller's malloc block, freed by the buffer
};

/// A pointer-and-length pair that copies, borrows or adopts its memory. A block
/// the heap refuses leaves the buffer empty (null, length 0); the memory
/// handler is not called, and nothing throws.
class KVBASICS_API KvRawBuffer {
public:
    /// A buffer over len bytes at data, copied, borrowed or adopted as
    /// behaviour says; null data or length 0 give an empty buffer, which
    /// leaves data to the caller whatever the behaviour.
    KvRawBuffer(void* data, unsigned int len, KvRawBufferBehavior behaviour);
    /// An owning buffer copies other's bytes; a borrowing one borrows them too.
    KvRawBuffer(const KvRawBuffer& other);
    /// As the copy constructor, releasing what the target owned.
    KvRawBuffer& operator=(const KvRawBuffer& other);
    ~KvRawBuffer();

    /// Room for size bytes (the old content is not kept when it grows); the
    /// buffer then owns its memory. 0, or -2030 when the heap refused (the
    /// buffer is then empty).
    int EnsureCapacity(unsigned int size);
    void* GetBuf() const { return buffer; }            ///< the bytes, or null
    unsigned int GetBufLen() const { return length; }  ///< their count

private:
    bool Owns() const { return behaviour == KvRawBufferCopy || behaviour == KvRawBufferAdopt; }

    void* buffer;
    uint32_t length;
    KvRawBufferBehavior behaviour;
};

#endif  // KVBASICS_MEMFILE_H
